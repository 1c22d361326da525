#pragma once
// One SBEP frame and its exchange with the radio: transmit, echo,
// acknowledgement, reply, recovery pause, and up to four transmissions.

#include <cstdint>

#include "link/communication_port.h"
#include "link/errors.h"
#include "protocol/bytes.h"
#include "protocol/sbep_frame.h"

namespace tolvan {

class SBEPMessage : public ProtocolMessage {
public:
    // Transmissions per call while the attempt counter is fresh.
    static constexpr std::uint32_t kMaxAttempts = 4;
    // Idle limits in character times.
    static constexpr unsigned kEchoIdleLimit = 10;
    static constexpr unsigned kAckIdleLimit = 250;
    static constexpr unsigned kReplyIdleLimit = 250;

    SBEPMessage(int opcode, const unsigned char* data, int n);
    SBEPMessage(int opcode, unsigned char dataByte);
    // A copy of a complete frame; BadMessage when its checksum is wrong.
    explicit SBEPMessage(const unsigned char* frameBytes);
    SBEPMessage(const SBEPMessage&) = default;
    SBEPMessage& operator=(const SBEPMessage&) = default;
    ~SBEPMessage() override = default;

    void sendOnce(CommunicationInterface& port) override;
    void send(CommunicationInterface& port) override;
    virtual void queryOnce(CommunicationInterface& port, unsigned char* buffer);
    virtual void requestOnce(CommunicationInterface& port, void* context, int selector);
    virtual void query(CommunicationInterface& port, unsigned char* buffer);
    virtual void request(CommunicationInterface& port, void* context, int selector);
    virtual void receiveReply(CommunicationInterface& port);
    virtual void receiveReplyData(CommunicationInterface& port, unsigned char* buffer);
    virtual void receiveReplyFor(CommunicationInterface& port, void* context, int selector);
    virtual bool recoverFailedWrite(const BadWrite& failure, CommunicationInterface& port);

    unsigned char noRetry = 0;
    std::uint32_t attempts = 0;

    // Most reply bytes a query copies into its caller's buffer.
    static constexpr int kQueryCopyLimit = 45;

protected:
    // Frame bytes a query's reply must hold; above 0 a missing or short reply
    // fails instead of leaving the caller's buffer as it was.
    int queryReplyMinimum = 0;
    // A request the radio must really carry out: its 0x86 reply is a failure,
    // not a reply to drop.
    bool unsupportedFails = false;
    // A memory request: before a retry the line must have been quiet this long,
    // so that a late reply to the failed attempt cannot pass for the answer to
    // the next (a read reply names no address; a write reply may name any
    // write). 0 for the other requests.
    double quietSecondsBeforeRetry = 0.0;

    // A reply that came together with the acknowledgement. By default it is
    // read to its end and not examined; requests whose reply carries their
    // result examine it exactly like one that comes later.
    virtual void receiveBurstReply(CommunicationInterface& port);
    virtual void receiveBurstReplyData(CommunicationInterface& port, unsigned char* buffer);

    explicit SBEPMessage(ByteVectorBody* frame) : ProtocolMessage(frame) {}

    enum class Transmit { Plain, EchoTest };
    // Steps 1-4 of an exchange: purge, transmit, start the timer, wait for
    // the first echoed byte. Returns how many idle steps that took.
    unsigned transmit(CommunicationInterface& port, Transmit how, TickTimer& timer);
    // Reads the acknowledgement after the echo; MessageNotAcknowledged on 6.
    void awaitAcknowledge(CommunicationInterface& port);
    // Lets the rest of the 10-character window after transmission pass.
    static void recoveryPause(TickTimer& timer, unsigned waited);
    // Waits until nothing has arrived for a reply's idle limit, discarding
    // what comes meanwhile (bounded).
    static void awaitQuietLine(CommunicationInterface& port, double seconds);
    static constexpr int kMaxQuietRounds = 16;
};

// A frame received from the radio.
class SBEPReply : public SBEPMessage {
public:
    SBEPReply();
    // Byte-by-byte readers from the port.
    SBEPReply(CommunicationInterface& port, unsigned idleLimit);
    SBEPReply(CommunicationInterface& port, int expectedOpcode, unsigned idleLimit);
    SBEPReply(CommunicationInterface& port, int expectedOpcode, unsigned idleLimit, unsigned char* buffer);
    SBEPReply(CommunicationInterface& port, const int* opcodeList, int listLength, unsigned idleLimit);
    // Burst reader: one read into the receive buffer; echoLength is where the
    // first byte after the echo lies.
    SBEPReply(CommunicationInterface& port, const int* opcodeList, int listLength, unsigned idleLimit, int echoLength);

    // The reply that follows the acknowledgement in the receive buffer, read
    // whole (completed from the port when the buffer holds only its start).
    static SBEPReply fromBurst(CommunicationInterface& port, unsigned idleLimit);

    int opcode();
    int replyDataLength();
    unsigned char* replyData();
    void copyReplyData(unsigned char* dest);

private:
    struct Source;
    enum class Check { None, Expected, List };
    void readFrame(Source& source, Check check, int expected, const int* list, int listLength, unsigned idleLimit);
    void readReplyBody(Source& source, int opcode, int sizeNibble, unsigned idleLimit);
};

// The shared empty message every reply starts as.
SBEPMessage& emptyMessage();

// Port readers.
unsigned char readByte(CommunicationInterface& port, unsigned idleLimit);
unsigned readSize(CommunicationInterface& port, unsigned idleLimit);
void readBytes(CommunicationInterface& port, unsigned char* dest, int k, unsigned idleLimit);
void verifyChecksum(const unsigned char* frame, int k);
bool containsOpcode(int opcode, const int* list, int count);

// The receive buffer shared by every exchange: echo, acknowledgement and
// whatever came with them.
constexpr int kBurstBufferSize = 150;
extern unsigned char burstBuffer[kBurstBufferSize];
extern int burstIndex;
// Bytes of burstBuffer that hold data of the last burst read.
extern int burstCount;

void clearBurst();
unsigned char readBurst(CommunicationInterface& port, unsigned idleLimit, int index);
bool replyFollows();
bool burstUnsupported();
unsigned char burstByte();
unsigned burstWord();
std::uint32_t burstLong();
void copyBurstReply(unsigned char* dest);

}  // namespace tolvan

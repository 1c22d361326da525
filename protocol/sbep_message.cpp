#include "protocol/sbep_message.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "link/line_trace.h"

namespace tolvan {

unsigned char burstBuffer[kBurstBufferSize] = {};
int burstIndex = 0;
int burstCount = 0;

namespace {

ByteVectorBody* frameBody(int opcode, const unsigned char* data, int n)
{
    auto* body = new ByteVectorBody(frameLength(opcode, n));
    buildFrame(body->bytes.get(), opcode, data, n);
    return body;
}

ByteVectorBody* copiedFrameBody(const unsigned char* frame)
{
    const int length = frameTotalLength(frame);
    // A two-byte size of 0 makes the frame shorter than its own header: the
    // copy could not be read back without running past it.
    if (length < frameHeaderLength(frame, 1))
        throw BadMessage();
    if (frameHasChecksum(frame) && !hasValidChecksum(frame))
        throw BadMessage();
    auto* body = new ByteVectorBody(length);
    std::memcpy(body->bytes.get(), frame, static_cast<std::size_t>(length));
    return body;
}

void traceRetry(const Exception& e, std::uint32_t attempt)
{
    if (LineTrace* t = lineTrace())
        t->event("retry " + std::to_string(attempt + 1) + " after " + errorClassName(e.code) + " ("
                 + std::to_string(e.code) + ")");
}

const int kAckOpcodes[] = {kOpAck, kOpNak};

}  // namespace

// ---- frames -------------------------------------------------------------

SBEPMessage::SBEPMessage(int opcode, const unsigned char* data, int n) : ProtocolMessage(frameBody(opcode, data, n)) {}

SBEPMessage::SBEPMessage(int opcode, unsigned char dataByte) : ProtocolMessage(frameBody(opcode, &dataByte, 1)) {}

SBEPMessage::SBEPMessage(const unsigned char* frameBytes) : ProtocolMessage(copiedFrameBody(frameBytes)) {}

// ---- one exchange -------------------------------------------------------

unsigned SBEPMessage::transmit(CommunicationInterface& port, Transmit how, TickTimer& timer)
{
    port.purgeInput();
    if (how == Transmit::Plain)
        port.write(data(), static_cast<unsigned>(size()));
    else
        port.writeWithEchoTest(data(), static_cast<unsigned>(size()));
    timer.restart();
    // The first echoed byte must come promptly; this time-out is outside recovery.
    return port.waitForInput(1, kEchoIdleLimit);
}

void SBEPMessage::awaitAcknowledge(CommunicationInterface& port)
{
    SBEPReply ack(port, kAckOpcodes, 2, kAckIdleLimit, size());
    if (ack.opcode() != kOpAck)
        throw MessageNotAcknowledged();
}

void SBEPMessage::recoveryPause(TickTimer& timer, unsigned waited)
{
    timer.waitPeriods(static_cast<std::int32_t>(kEchoIdleLimit) - static_cast<std::int32_t>(waited));
}

void SBEPMessage::receiveBurstReply(CommunicationInterface& port)
{
    // Read to its end so that nothing of it is left to arrive later, but not
    // examined: whatever it was, the exchange is complete.
    try {
        SBEPReply reply = SBEPReply::fromBurst(port, kReplyIdleLimit);
        if (unsupportedFails && reply.opcode() == kOpUnsupported)
            throw UnsupportedMessage();
    } catch (const UnsupportedMessage&) {
        throw;
    } catch (const Exception&) {
    }
}

void SBEPMessage::awaitQuietLine(CommunicationInterface& port, double seconds)
{
    const unsigned limit = static_cast<unsigned>(port.charactersIn(seconds));
    if (LineTrace* t = lineTrace())
        t->event("waiting for a quiet line before the retry");
    for (int round = 0; round < kMaxQuietRounds; ++round) {
        port.purgeInput();
        try {
            port.waitForInput(1, limit);
        } catch (const TimeoutOnReceive&) {
            return;
        }
    }
}

void SBEPMessage::sendOnce(CommunicationInterface& port)
{
    TickTimer timer(port.characterTime());
    const unsigned waited = transmit(port, Transmit::Plain, timer);
    try {
        awaitAcknowledge(port);
        if (replyFollows())
            receiveBurstReply(port);
        else
            receiveReply(port);
    } catch (...) {
        recoveryPause(timer, waited);
        throw;
    }
}

void SBEPMessage::queryOnce(CommunicationInterface& port, unsigned char* buffer)
{
    TickTimer timer(port.characterTime());
    const unsigned waited = transmit(port, Transmit::EchoTest, timer);
    try {
        awaitAcknowledge(port);
        if (replyFollows())
            receiveBurstReplyData(port, buffer);
        else
            receiveReplyData(port, buffer);
    } catch (...) {
        recoveryPause(timer, waited);
        throw;
    }
}

void SBEPMessage::requestOnce(CommunicationInterface& port, void* context, int selector)
{
    TickTimer timer(port.characterTime());
    const unsigned waited = transmit(port, Transmit::EchoTest, timer);
    try {
        awaitAcknowledge(port);
        receiveReplyFor(port, context, selector);
    } catch (const BadReply&) {
        recoveryPause(timer, waited);
        throw;
    }
}

// ---- retries ------------------------------------------------------------

void SBEPMessage::send(CommunicationInterface& port)
{
    ++attempts;
    try {
        sendOnce(port);
    } catch (const UnsupportedMessage&) {
        throw;
    } catch (const CommunicationError& e) {
        if (noRetry == 1)
            return;
        if (attempts >= kMaxAttempts)
            throw;
        traceRetry(e, attempts);
        if (quietSecondsBeforeRetry > 0.0)
            awaitQuietLine(port, quietSecondsBeforeRetry);
        send(port);
    }
}

void SBEPMessage::query(CommunicationInterface& port, unsigned char* buffer)
{
    ++attempts;
    try {
        queryOnce(port, buffer);
    } catch (const UnsupportedMessage&) {
        throw;
    } catch (const CommunicationError& e) {
        if (attempts >= kMaxAttempts)
            throw;
        traceRetry(e, attempts);
        query(port, buffer);
    }
}

void SBEPMessage::request(CommunicationInterface& port, void* context, int selector)
{
    ++attempts;
    try {
        requestOnce(port, context, selector);
    } catch (const UnsupportedMessage&) {
        throw;
    } catch (const CommunicationError& e) {
        if (attempts >= kMaxAttempts)
            throw;
        traceRetry(e, attempts);
        request(port, context, selector);
    }
}

// ---- default reply handling ---------------------------------------------

void SBEPMessage::receiveReply(CommunicationInterface& port)
{
    try {
        SBEPReply reply(port, kOpUnsupported, kReplyIdleLimit);
        if (reply.opcode() == kOpUnsupported)
            throw UnsupportedMessage();
    } catch (const UnsupportedMessage&) {
        if (unsupportedFails)
            throw;
    } catch (const Exception&) {
        // Consumes the reply; never fails.
    }
}

void SBEPMessage::receiveReplyData(CommunicationInterface& port, unsigned char* buffer)
{
    if (queryReplyMinimum > 0) {
        // The caller needs the reply's bytes: a missing or short one must fail,
        // not leave the buffer as it was.
        SBEPReply reply(port, kOpUnsupported, kReplyIdleLimit, buffer);
        if (reply.opcode() == kOpUnsupported)
            throw UnsupportedMessage();
        if (reply.size() < queryReplyMinimum)
            throw BadReply();
        return;
    }
    try {
        SBEPReply reply(port, kOpUnsupported, kReplyIdleLimit, buffer);
        if (reply.opcode() == kOpUnsupported)
            throw UnsupportedMessage();
    } catch (const TimeoutOnReceive&) {
    }
}

void SBEPMessage::receiveBurstReplyData(CommunicationInterface& port, unsigned char* buffer)
{
    SBEPReply reply = SBEPReply::fromBurst(port, kReplyIdleLimit);
    if (reply.opcode() == kOpUnsupported)
        throw UnsupportedMessage();
    if (reply.size() < queryReplyMinimum)
        throw BadReply();
    std::memcpy(buffer, reply.data(), static_cast<std::size_t>(std::min(reply.size(), kQueryCopyLimit)));
}

void SBEPMessage::receiveReplyFor(CommunicationInterface& port, void*, int)
{
    try {
        SBEPReply reply(port, kOpUnsupported, kReplyIdleLimit);
        if (reply.opcode() == kOpUnsupported)
            throw UnsupportedMessage();
    } catch (const TimeoutOnReceive&) {
    }
}

bool SBEPMessage::recoverFailedWrite(const BadWrite&, CommunicationInterface&) { return false; }

// ---- replies ------------------------------------------------------------

SBEPMessage& emptyMessage()
{
    static SBEPMessage empty(0, nullptr, 0);
    static bool emptied = [] {
        empty.assign(new ByteVectorBody(0));
        return true;
    }();
    (void)emptied;
    return empty;
}

// Bytes of one frame: first those already in the receive buffer, then the port.
struct SBEPReply::Source {
    CommunicationInterface& port;
    int pos = 0;
    int end = 0;

    unsigned char byte(unsigned idle)
    {
        if (pos < end)
            return burstBuffer[pos++];
        return readByte(port, idle);
    }

    void bytes(unsigned char* dest, int k, unsigned idle)
    {
        const int fromBuffer = std::min(k, std::max(end - pos, 0));
        if (fromBuffer > 0) {
            std::memcpy(dest, burstBuffer + pos, static_cast<std::size_t>(fromBuffer));
            pos += fromBuffer;
        }
        readBytes(port, dest + fromBuffer, k - fromBuffer, idle);
    }

    unsigned size(unsigned idle)
    {
        unsigned char two[2];
        bytes(two, 2, idle);
        return joinBytes(two[0], two[1]);
    }
};

SBEPReply::SBEPReply() : SBEPMessage(emptyMessage()) {}

SBEPReply::SBEPReply(CommunicationInterface& port, unsigned idleLimit) : SBEPReply()
{
    Source source{port};
    readFrame(source, Check::None, 0, nullptr, 0, idleLimit);
}

SBEPReply::SBEPReply(CommunicationInterface& port, int expectedOpcode, unsigned idleLimit) : SBEPReply()
{
    Source source{port};
    readFrame(source, Check::Expected, expectedOpcode, nullptr, 0, idleLimit);
}

SBEPReply::SBEPReply(CommunicationInterface& port, int expectedOpcode, unsigned idleLimit, unsigned char* buffer)
    : SBEPReply(port, expectedOpcode, idleLimit)
{
    std::memcpy(buffer, data(), static_cast<std::size_t>(std::min(size(), 24)));
}

SBEPReply::SBEPReply(CommunicationInterface& port, const int* opcodeList, int listLength, unsigned idleLimit)
    : SBEPReply()
{
    Source source{port};
    readFrame(source, Check::List, 0, opcodeList, listLength, idleLimit);
}

SBEPReply::SBEPReply(CommunicationInterface& port, const int* opcodeList, int listLength, unsigned idleLimit,
                     int echoLength)
    : SBEPReply()
{
    clearBurst();
    readBurst(port, idleLimit, echoLength);
    Source source{port, echoLength, burstCount};
    readFrame(source, Check::List, 0, opcodeList, listLength, idleLimit);
}

SBEPReply SBEPReply::fromBurst(CommunicationInterface& port, unsigned idleLimit)
{
    SBEPReply reply;
    Source source{port, burstIndex + 1, burstCount};
    reply.readFrame(source, Check::None, 0, nullptr, 0, idleLimit);
    return reply;
}

void SBEPReply::readFrame(Source& source, Check check, int expected, const int* list, int listLength,
                          unsigned idleLimit)
{
    const unsigned char first = source.byte(idleLimit);
    int op = first >> 4;
    if (op == 0xF)
        op = source.byte(idleLimit);
    if (check == Check::Expected && op != expected && (op == kOpNak || op == kOpUnsupported))
        throw BadReply();
    if (check == Check::List && !containsOpcode(op, list, listLength))
        throw BadReply();
    readReplyBody(source, op, first & 0x0F, idleLimit);
}

void SBEPReply::readReplyBody(Source& source, int op, int sizeNibble, unsigned idleLimit)
{
    int size = sizeNibble;
    if (sizeNibble == 0xF) {
        size = static_cast<int>(source.size(idleLimit));
        // A two-byte size of 0 announces no checksum: never a frame the radio sends.
        if (size == 0)
            throw BadReply();
    }
    const int n = size > 0 ? size - 1 : 0;
    if (size == 1 && op <= 14) {
        // A checksum without data on a short opcode cannot be rebuilt as a frame.
        unsigned char lone = 0;
        source.bytes(&lone, 1, idleLimit);
        throw BadReply();
    }
    auto* frame = new ByteVectorBody(frameLength(op, n));
    assign(frame);
    unsigned char* bytes = frame->bytes.get();
    const int h = writeHeader(bytes, op, n);
    source.bytes(bytes + h, size, idleLimit);
    verifyChecksum(bytes, h + size);
}

int SBEPReply::opcode() { return size() > 0 ? frameOpcode(data()) : -1; }

int SBEPReply::replyDataLength() { return frameDataLength(data()); }

unsigned char* SBEPReply::replyData() { return data() + frameDataOffset(data()); }

void SBEPReply::copyReplyData(unsigned char* dest)
{
    std::memcpy(dest, replyData(), static_cast<std::size_t>(replyDataLength()));
}

// ---- port readers -------------------------------------------------------

unsigned char readByte(CommunicationInterface& port, unsigned idleLimit)
{
    unsigned char b = 0;
    readBytes(port, &b, 1, idleLimit);
    return b;
}

unsigned readSize(CommunicationInterface& port, unsigned idleLimit)
{
    unsigned char two[2];
    readBytes(port, two, 2, idleLimit);
    return joinBytes(two[0], two[1]);
}

void readBytes(CommunicationInterface& port, unsigned char* dest, int k, unsigned idleLimit)
{
    int got = 0;
    while (got < k) {
        port.waitForInput(static_cast<unsigned>(k - got), idleLimit);
        const int n = port.read(dest + got, k - got);
        if (n <= 0)
            throw TimeoutOnReceive();  // queued bytes that cannot be read: the line is gone
        got += n;
    }
}

void verifyChecksum(const unsigned char* frame, int k)
{
    if (k <= 1)
        return;
    if (frame[k - 1] != checksum(frame))
        throw BadReply();
}

bool containsOpcode(int opcode, const int* list, int count)
{
    for (int i = 0; i < count; ++i)
        if (list[i] == opcode)
            return true;
    return false;
}

// ---- receive buffer -----------------------------------------------------

void clearBurst()
{
    std::memset(burstBuffer, 0, 50);
    burstCount = 0;
}

unsigned char readBurst(CommunicationInterface& port, unsigned idleLimit, int index)
{
    if (index < 0 || index >= kBurstBufferSize)
        throw BadReply();
    port.waitForInput(1, idleLimit);
    burstCount = std::max(port.read(burstBuffer, kBurstBufferSize), 0);
    // A line that delivers byte by byte: keep reading until the byte at index is here.
    while (burstCount <= index) {
        port.waitForInput(1, idleLimit);
        unsigned char more[kBurstBufferSize];
        const int n = port.read(more, kBurstBufferSize - burstCount);
        if (n <= 0)
            throw TimeoutOnReceive();
        std::memcpy(burstBuffer + burstCount, more, static_cast<std::size_t>(n));
        burstCount += n;
    }
    burstIndex = index;
    return burstBuffer[index];
}

bool replyFollows() { return burstCount > burstIndex + 1; }

bool burstUnsupported() { return burstCount > burstIndex + 2 && burstBuffer[burstIndex + 2] == kOpUnsupported; }

unsigned char burstByte() { return burstBuffer[burstIndex + 4]; }

unsigned burstWord() { return joinBytes(burstBuffer[burstIndex + 4], burstBuffer[burstIndex + 5]); }

std::uint32_t burstLong()
{
    return (static_cast<std::uint32_t>(burstWord()) << 16) | joinBytes(burstBuffer[burstIndex + 6], burstBuffer[burstIndex + 7]);
}

void copyBurstReply(unsigned char* dest)
{
    for (int i = burstIndex + 1; i < 50; ++i)
        *dest++ = burstBuffer[i];
}

}  // namespace tolvan

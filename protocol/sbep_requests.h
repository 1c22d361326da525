#pragma once
// The SBEP request family: one class per request the tool sends.

#include <cstdint>

#include "protocol/sbep_message.h"

namespace tolvan {

class radioStorage;

class SBEPWriteRequest : public SBEPMessage {
public:
    static constexpr int kMaxData = 64;
    // The radio confirms a write within this time after the acknowledgement.
    static constexpr double kReplySeconds = 2.0;

    SBEPWriteRequest(const unsigned char* source, int address, int n);
    int address();
    void receiveReply(CommunicationInterface& port) override;
    bool recoverFailedWrite(const BadWrite& failure, CommunicationInterface& port) override;

    // Null when the radio confirmed this write; this object when not yet.
    SBEPWriteRequest* pending = nullptr;

protected:
    void receiveBurstReply(CommunicationInterface& port) override;

private:
    void examineReply(SBEPReply& reply);
};

class SBEPResetRequest : public SBEPMessage {
public:
    SBEPResetRequest();
};

class SBEPRadioSerialNoRequest : public SBEPMessage {
public:
    // The ten serial characters are frame bytes 3 to 12 of the reply.
    static constexpr int kSerialOffset = 3;
    static constexpr int kSerialLength = 10;
    SBEPRadioSerialNoRequest();
};

class SBEPRadioModelNoRequest : public SBEPMessage {
public:
    SBEPRadioModelNoRequest();
};

class SBEPWriteSerialNoRequest : public SBEPMessage {
public:
    explicit SBEPWriteSerialNoRequest(const char* serial);
};

class SBEPKeyUpRequest : public SBEPMessage {
public:
    SBEPKeyUpRequest();
};

class SBEPDekeyRequest : public SBEPMessage {
public:
    SBEPDekeyRequest();
};

class SBEPReadRequest : public SBEPMessage {
public:
    SBEPReadRequest(unsigned char* destination, int address, int n);
    int requestedLength();
    void receiveReply(CommunicationInterface& port) override;

    unsigned char* destination;

protected:
    void receiveBurstReply(CommunicationInterface& port) override;

private:
    void takeReply(SBEPReply& reply);
};

class SBEPChannelRequest : public SBEPMessage {
public:
    // Kind 3 sets the channel's flag bit; other kinds leave it clear.
    SBEPChannelRequest(int channel, int kind);
    SBEPChannelRequest(int channel1, int kind1, int channel2, int kind2);
};

class SBEPTestModeRequest : public SBEPMessage {
public:
    SBEPTestModeRequest(int a, int b, int c);
};

// Known to the protocol, never sent by this tool.
class SBEPRadioPowerUpRequest : public SBEPMessage {
public:
    SBEPRadioPowerUpRequest() = delete;
};

class SBEPReadTuneRequest : public SBEPMessage {
public:
    SBEPReadTuneRequest() = delete;
};

class SBEPSoftpotRequest : public SBEPMessage {
public:
    explicit SBEPSoftpotRequest(int id);
    SBEPSoftpotRequest(int id, int opcode, int n);
    SBEPSoftpotRequest(int id, int sub, const unsigned char* bytes, int n);
    SBEPSoftpotRequest(int id, int sub, std::int32_t value, int n);
    int softpotId();
};

class SBEPSoftpotReadRequest : public SBEPSoftpotRequest {
public:
    explicit SBEPSoftpotReadRequest(int id);
    void requestOnce(CommunicationInterface& port, void* storage, int selector) override;
    void receiveReply(CommunicationInterface& port) override;
    void receiveReplyFor(CommunicationInterface& port, void* storage, int selector) override;
    void copyValue(unsigned char* dest);

    std::int32_t value = 0;
    std::int32_t valueLength = 0;

protected:
    // A plain send takes the value from a reply in the burst too.
    void receiveBurstReply(CommunicationInterface& port) override;
};

class SBEPSoftpotWriteRequest : public SBEPSoftpotRequest {
public:
    SBEPSoftpotWriteRequest(int id, int sub, const unsigned char* bytes, int n);
    SBEPSoftpotWriteRequest(int id, int sub, std::int32_t value, int n);
    void receiveReply(CommunicationInterface& port) override;
};

class SBEPAutoTuneRequest : public SBEPSoftpotRequest {
public:
    explicit SBEPAutoTuneRequest(int id);
    void requestOnce(CommunicationInterface& port, void* storage, int selector) override;
    void receiveReply(CommunicationInterface& port) override;
    void receiveReplyFor(CommunicationInterface& port, void* storage, int selector) override;

    std::int32_t value = 0;
    std::int32_t valueLength = 0;
};

}  // namespace tolvan

#include "protocol/sbep_requests.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "service/radio_storage.h"

namespace tolvan {

namespace {

const int kWriteReplyOpcodes[] = {kOpWriteFailed, kOpWriteReply};
const int kSoftpotReplyOpcodes[] = {kOpSoftpotReply, kOpUnsupported};
constexpr std::uint32_t kNoWrite = 0xFFFFFF;

std::vector<unsigned char> withAddress(int address, const unsigned char* source, int n)
{
    std::vector<unsigned char> data(static_cast<std::size_t>(n) + 3);
    packBigEndian(address, data.data(), 3);
    if (n > 0)
        std::memcpy(data.data() + 3, source, static_cast<std::size_t>(n));
    return data;
}

ByteVectorBody* built(int opcode, const std::vector<unsigned char>& data)
{
    const int n = static_cast<int>(data.size());
    auto* body = new ByteVectorBody(frameLength(opcode, n));
    buildFrame(body->bytes.get(), opcode, data.data(), n);
    return body;
}

radioStorage* asStorage(void* context) { return static_cast<radioStorage*>(context); }

void clearFlagOf(void* context, int selector)
{
    if (radioStorage* s = asStorage(context))
        s->clearFlag(static_cast<unsigned>(selector));
}

void setFlagOf(void* context, int selector)
{
    if (radioStorage* s = asStorage(context))
        s->setFlag(static_cast<unsigned>(selector));
}

// A softpot reply answers the request's own id with 0x8A; 0x86 clears the
// selector's flag and fails, so no stale value is ever taken for a read.
void checkSoftpotReply(SBEPReply& reply, int id, void* context, int selector)
{
    if (reply.opcode() == kOpUnsupported) {
        clearFlagOf(context, selector);
        throw UnsupportedMessage();
    }
    if (reply.opcode() != kOpSoftpotReply || reply.replyDataLength() < 1 || reply.replyData()[0] != id)
        throw BadReply();
}

void takeLaterValue(SBEPReply& reply, std::int32_t& value, std::int32_t& valueLength)
{
    valueLength = reply.replyDataLength() - 1;
    value = static_cast<std::int32_t>(unpackBigEndian(reply.replyData() + 1, valueLength));
}

// A reply in the acknowledgement's burst carries 2 value bytes for
// selector 2, 4 for selector 20, else 1.
std::int32_t takeBurstValue(SBEPReply& reply, int valueBytes)
{
    if (reply.replyDataLength() - 1 < valueBytes)
        throw BadReply();
    return static_cast<std::int32_t>(unpackBigEndian(reply.replyData() + 1, valueBytes));
}

int softpotBurstBytes(int selector) { return selector == 2 ? 2 : selector == 20 ? 4 : 1; }

}  // namespace

// ---- memory write -------------------------------------------------------

SBEPWriteRequest::SBEPWriteRequest(const unsigned char* source, int address, int n)
    : SBEPMessage(built(kOpMemoryWrite, withAddress(address, source, n)))
{
    // A late failure reply of this frame must not be taken for the answer to a later one.
    quietSecondsBeforeRetry = kReplySeconds;
}

int SBEPWriteRequest::address() { return static_cast<int>(unpackBigEndian(data() + frameDataOffset(data()), 3)); }

void SBEPWriteRequest::receiveReply(CommunicationInterface& port)
{
    const int limit = port.charactersIn(kReplySeconds);
    port.waitForInput(1, static_cast<unsigned>(limit));
    SBEPReply reply(port, kWriteReplyOpcodes, 2, static_cast<unsigned>(limit), 0);
    examineReply(reply);
}

void SBEPWriteRequest::receiveBurstReply(CommunicationInterface& port)
{
    SBEPReply reply = SBEPReply::fromBurst(port, static_cast<unsigned>(port.charactersIn(kReplySeconds)));
    if (!containsOpcode(reply.opcode(), kWriteReplyOpcodes, 2))
        throw BadReply();
    examineReply(reply);
}

void SBEPWriteRequest::examineReply(SBEPReply& reply)
{
    if (reply.replyDataLength() < 3)
        throw BadReply();
    const std::uint32_t a = unpackBigEndian(reply.replyData(), 3);
    if (reply.opcode() == kOpWriteFailed)
        throw BadWrite(static_cast<int>(a));
    if (a == static_cast<std::uint32_t>(address()))
        pending = nullptr;
    else if (a == kNoWrite || a == 0)
        pending = this;
    else if (pending && a == static_cast<std::uint32_t>(pending->address()))
        pending = this;
    else
        throw BadReply();
}

bool SBEPWriteRequest::recoverFailedWrite(const BadWrite& failure, CommunicationInterface& port)
{
    if (failure.address == address())
        return false;
    if (!pending)
        return false;
    if (failure.address != pending->address())
        throw BadReply();
    SBEPWriteRequest* resent = pending;
    resent->pending = this;
    resent->send(port);
    pending = resent->pending;
    return true;
}

// ---- fixed requests -----------------------------------------------------

SBEPResetRequest::SBEPResetRequest() : SBEPMessage(kOpReset, nullptr, 0) { noRetry = 1; }

SBEPRadioSerialNoRequest::SBEPRadioSerialNoRequest() : SBEPMessage(kOpQuery, static_cast<unsigned char>(1))
{
    queryReplyMinimum = kSerialOffset + kSerialLength;
}

SBEPRadioModelNoRequest::SBEPRadioModelNoRequest() : SBEPMessage(kOpQuery, static_cast<unsigned char>(0)) {}

SBEPWriteSerialNoRequest::SBEPWriteSerialNoRequest(const char* serial)
    : SBEPMessage(built(kOpSerialWrite, [serial] {
          std::vector<unsigned char> data(11, 0);
          std::memcpy(data.data() + 1, serial, 10);
          return data;
      }()))
{
    unsupportedFails = true;
}

SBEPKeyUpRequest::SBEPKeyUpRequest() : SBEPMessage(kOpKey, static_cast<unsigned char>(1)) {}

SBEPDekeyRequest::SBEPDekeyRequest() : SBEPMessage(kOpKey, static_cast<unsigned char>(0)) {}

SBEPChannelRequest::SBEPChannelRequest(int channel, int kind)
    : SBEPMessage(built(kOpChannel, {static_cast<unsigned char>(kind == 3 ? 0x80 : 0x00),
                                     static_cast<unsigned char>((channel >> 8) & 0xFF),
                                     static_cast<unsigned char>(channel & 0xFF)}))
{
}

SBEPChannelRequest::SBEPChannelRequest(int channel1, int kind1, int channel2, int kind2)
    : SBEPMessage(built(kOpChannel, {static_cast<unsigned char>((kind1 == 3 ? 0x80 : 0x00) | (kind2 == 3 ? 0x40 : 0x00)),
                                     static_cast<unsigned char>((channel1 >> 8) & 0xFF),
                                     static_cast<unsigned char>(channel1 & 0xFF),
                                     static_cast<unsigned char>((channel2 >> 8) & 0xFF),
                                     static_cast<unsigned char>(channel2 & 0xFF)}))
{
}

SBEPTestModeRequest::SBEPTestModeRequest(int a, int b, int c)
    : SBEPMessage(built(kOpTestMode, {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                      static_cast<unsigned char>(c)}))
{
}

// ---- memory read --------------------------------------------------------

SBEPReadRequest::SBEPReadRequest(unsigned char* dest, int address, int n)
    : SBEPMessage(built(kOpMemoryRead, [address, n] {
          std::vector<unsigned char> data(4);
          data[0] = static_cast<unsigned char>(n);
          packBigEndian(address, data.data() + 1, 3);
          return data;
      }())),
      destination(dest)
{
    quietSecondsBeforeRetry = SBEPWriteRequest::kReplySeconds;
}

int SBEPReadRequest::requestedLength() { return data()[frameDataOffset(data())]; }

void SBEPReadRequest::receiveReply(CommunicationInterface& port)
{
    SBEPReply reply(port, kOpMemoryReadReply, kReplyIdleLimit);
    takeReply(reply);
}

void SBEPReadRequest::receiveBurstReply(CommunicationInterface& port)
{
    SBEPReply reply = SBEPReply::fromBurst(port, kReplyIdleLimit);
    takeReply(reply);
}

void SBEPReadRequest::takeReply(SBEPReply& reply)
{
    if (reply.opcode() == kOpUnsupported)
        throw UnsupportedMessage();
    if (reply.opcode() != kOpMemoryReadReply || reply.replyDataLength() != requestedLength())
        throw BadReply();
    reply.copyReplyData(destination);
}

// ---- softpots -----------------------------------------------------------

SBEPSoftpotRequest::SBEPSoftpotRequest(int id)
    : SBEPMessage(built(kOpSoftpot, {static_cast<unsigned char>(id), 0, 0}))
{
}

SBEPSoftpotRequest::SBEPSoftpotRequest(int id, int opcode, int n)
    : SBEPMessage(built(opcode, [id, n] {
          std::vector<unsigned char> data(static_cast<std::size_t>(n > 0 ? n : 1), 0);
          data[0] = static_cast<unsigned char>(id);
          return data;
      }()))
{
}

SBEPSoftpotRequest::SBEPSoftpotRequest(int id, int sub, const unsigned char* bytes, int n)
    : SBEPMessage(built(kOpSoftpot, [id, sub, bytes, n] {
          std::vector<unsigned char> data(static_cast<std::size_t>(n) + 2);
          data[0] = static_cast<unsigned char>(id);
          data[1] = static_cast<unsigned char>(sub);
          if (n > 0)
              std::memcpy(data.data() + 2, bytes, static_cast<std::size_t>(n));
          return data;
      }()))
{
}

SBEPSoftpotRequest::SBEPSoftpotRequest(int id, int sub, std::int32_t value, int n)
    : SBEPMessage(built(kOpSoftpot, [id, sub, value, n] {
          std::vector<unsigned char> data(static_cast<std::size_t>(n) + 2);
          data[0] = static_cast<unsigned char>(id);
          data[1] = static_cast<unsigned char>(sub);
          packBigEndian(value, data.data() + 2, n);
          return data;
      }()))
{
}

int SBEPSoftpotRequest::softpotId() { return data()[frameDataOffset(data())]; }

SBEPSoftpotReadRequest::SBEPSoftpotReadRequest(int id) : SBEPSoftpotRequest(id) {}

void SBEPSoftpotReadRequest::requestOnce(CommunicationInterface& port, void* storage, int selector)
{
    TickTimer timer(port.characterTime());
    const unsigned waited = transmit(port, Transmit::Plain, timer);
    try {
        awaitAcknowledge(port);
        if (replyFollows()) {
            SBEPReply reply = SBEPReply::fromBurst(port, kReplyIdleLimit);
            checkSoftpotReply(reply, softpotId(), storage, selector);
            setFlagOf(storage, selector);
            value = takeBurstValue(reply, softpotBurstBytes(selector));
        } else {
            receiveReplyFor(port, storage, selector);
        }
    } catch (const BadReply&) {
        recoveryPause(timer, waited);
        throw;
    }
}

void SBEPSoftpotReadRequest::receiveReplyFor(CommunicationInterface& port, void* storage, int selector)
{
    SBEPReply reply(port, kSoftpotReplyOpcodes, 2, kReplyIdleLimit, 0);
    checkSoftpotReply(reply, softpotId(), storage, selector);
    takeLaterValue(reply, value, valueLength);
}

void SBEPSoftpotReadRequest::receiveReply(CommunicationInterface& port)
{
    SBEPReply reply(port, kSoftpotReplyOpcodes, 2, kReplyIdleLimit, 0);
    checkSoftpotReply(reply, softpotId(), nullptr, 0);
    takeLaterValue(reply, value, valueLength);
}

void SBEPSoftpotReadRequest::receiveBurstReply(CommunicationInterface& port)
{
    SBEPReply reply = SBEPReply::fromBurst(port, kReplyIdleLimit);
    checkSoftpotReply(reply, softpotId(), nullptr, 0);
    takeLaterValue(reply, value, valueLength);
}

void SBEPSoftpotReadRequest::copyValue(unsigned char* dest)
{
    // The value is 32 bits: a longer reply never writes past four bytes.
    packBigEndian(value, dest, std::clamp(valueLength, 0, 4));
}

SBEPSoftpotWriteRequest::SBEPSoftpotWriteRequest(int id, int sub, const unsigned char* bytes, int n)
    : SBEPSoftpotRequest(id, sub, bytes, n)
{
    unsupportedFails = true;
}

SBEPSoftpotWriteRequest::SBEPSoftpotWriteRequest(int id, int sub, std::int32_t v, int n)
    : SBEPSoftpotRequest(id, sub, v, n)
{
    unsupportedFails = true;
}

void SBEPSoftpotWriteRequest::receiveReply(CommunicationInterface& port) { SBEPMessage::receiveReply(port); }

SBEPAutoTuneRequest::SBEPAutoTuneRequest(int id) : SBEPSoftpotRequest(id, kOpAutoTune, 1) {}

void SBEPAutoTuneRequest::requestOnce(CommunicationInterface& port, void* storage, int selector)
{
    TickTimer timer(port.characterTime());
    const unsigned waited = transmit(port, Transmit::EchoTest, timer);
    try {
        awaitAcknowledge(port);
        if (replyFollows()) {
            SBEPReply reply = SBEPReply::fromBurst(port, kReplyIdleLimit);
            checkSoftpotReply(reply, softpotId(), storage, selector);
            value = takeBurstValue(reply, selector == 1 ? 2 : 1);
            if (selector != 1) {
                char text[32];
                std::snprintf(text, sizeof text, "Auto Softpot:%d", static_cast<int>(value));
                errorMsgHandler().show(text);
            }
        } else {
            receiveReplyFor(port, storage, selector);
        }
    } catch (const BadReply&) {
        recoveryPause(timer, waited);
        throw;
    }
}

void SBEPAutoTuneRequest::receiveReplyFor(CommunicationInterface& port, void* storage, int selector)
{
    SBEPReply reply(port, kSoftpotReplyOpcodes, 2, kReplyIdleLimit);
    checkSoftpotReply(reply, softpotId(), storage, selector);
    takeLaterValue(reply, value, valueLength);
}

void SBEPAutoTuneRequest::receiveReply(CommunicationInterface& port)
{
    SBEPReply reply(port, kSoftpotReplyOpcodes, 2, kReplyIdleLimit, 0);
    checkSoftpotReply(reply, softpotId(), nullptr, 0);
    takeLaterValue(reply, value, valueLength);
}

}  // namespace tolvan

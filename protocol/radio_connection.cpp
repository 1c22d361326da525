#include "protocol/radio_connection.h"

#include <optional>

#include "protocol/sbep_requests.h"

namespace tolvan {

namespace {
constexpr unsigned kBaud = 9600;
}

// ---- connection ---------------------------------------------------------

cominit::cominit()
{
    commPort = std::make_unique<PosixCommunicationPort>(setup.portId, kBaud, 0, 8, 0, 0);
    sbep.setPort(commPort.get());
}

cominit::cominit(const std::string& devicePath)
{
    commPort = std::make_unique<PosixCommunicationPort>(devicePath, kBaud, 0, 8, 0, 0);
    sbep.setPort(commPort.get());
}

cominit::~cominit()
{
    // The port closes before the settings record goes.
    sbep.setPort(nullptr);
    commPort.reset();
}

// ---- operations ---------------------------------------------------------

void EnhancedSBEP::requirePort()
{
    if (!port)
        throw GeneralCommunicationError();
}

void EnhancedSBEP::keyUp()
{
    requirePort();
    SBEPKeyUpRequest request;
    request.send(*port);
}

void EnhancedSBEP::dekey()
{
    requirePort();
    SBEPDekeyRequest request;
    request.send(*port);
}

void EnhancedSBEP::reset()
{
    requirePort();
    SBEPResetRequest request;
    request.send(*port);
}

void EnhancedSBEP::readMemory(unsigned char* destination, int address, unsigned length)
{
    requirePort();
    unsigned offset = 0;
    auto frame = [&](unsigned count) {
        currentAddress = address + static_cast<int>(offset);
        SBEPReadRequest request(destination + offset, currentAddress, static_cast<int>(count));
        request.send(*port);
        offset += count;
        if (frameDone)
            frameDone(count);
    };
    while (offset + maxDataPerFrame <= length)
        frame(maxDataPerFrame);
    if (offset < length)
        frame(length - offset);
}

void EnhancedSBEP::writeMemory(const unsigned char* source, int address, unsigned length)
{
    requirePort();
    const unsigned first = length < maxDataPerFrame ? length : maxDataPerFrame;
    currentAddress = address;
    SBEPWriteRequest firstRequest(source, address, static_cast<int>(first));
    firstRequest.send(*port);
    if (frameDone)
        frameDone(first);
    if (firstRequest.pending == nullptr)
        writeRestConfirmed(source + first, address + static_cast<int>(first), length - first);
    else
        writeRestPipelined(source + first, address + static_cast<int>(first), length - first, firstRequest);
}

void EnhancedSBEP::writeRestConfirmed(const unsigned char* source, int address, unsigned length)
{
    requirePort();
    unsigned offset = 0;
    auto frame = [&](unsigned count) {
        currentAddress = address + static_cast<int>(offset);
        SBEPWriteRequest request(source + offset, currentAddress, static_cast<int>(count));
        request.send(*port);
        offset += count;
        if (frameDone)
            frameDone(count);
    };
    while (offset + maxDataPerFrame <= length)
        frame(maxDataPerFrame);
    if (offset < length)
        frame(length - offset);
}

void EnhancedSBEP::writeRestPipelined(const unsigned char* source, int address, unsigned length,
                                      SBEPWriteRequest& first)
{
    requirePort();
    // The write the radio has not confirmed yet; empty once a reply
    // confirmed a frame directly (everything before it is then done too).
    std::optional<SBEPWriteRequest> outstanding(first);
    outstanding->pending = nullptr;

    unsigned offset = 0;
    auto frame = [&](unsigned count) {
        currentAddress = address + static_cast<int>(offset);
        SBEPWriteRequest request(source + offset, currentAddress, static_cast<int>(count));
        request.pending = outstanding ? &*outstanding : nullptr;
        request.send(*port);
        if (request.pending == &request) {
            outstanding.emplace(request);
            outstanding->pending = nullptr;
        } else if (request.pending == nullptr) {
            outstanding.reset();
        }
        offset += count;
        if (frameDone)
            frameDone(count);
    };
    while (offset + maxDataPerFrame <= length)
        frame(maxDataPerFrame);
    if (offset < length)
        frame(length - offset);

    if (!outstanding)
        return;
    currentAddress = outstanding->address();
    SBEPWriteRequest closing(nullptr, 0, 0);
    for (int sent = 0; sent < kMaxClosingWrites; ++sent) {
        closing.pending = &*outstanding;
        closing.send(*port);
        if (closing.pending != &*outstanding)
            return;
    }
    // The radio keeps answering without ever confirming its last write.
    throw BadReply();
}

void EnhancedSBEP::readSerialNumber(unsigned char* reply)
{
    requirePort();
    SBEPRadioSerialNoRequest request;
    request.query(*port, reply);
}

void EnhancedSBEP::readModelNumber(unsigned char* reply)
{
    requirePort();
    SBEPRadioModelNoRequest request;
    request.query(*port, reply);
}

void EnhancedSBEP::writeSerialNumber(const char* serial)
{
    requirePort();
    SBEPWriteSerialNoRequest request(serial);
    request.send(*port);
}

void EnhancedSBEP::writeSoftpot(int softpot, int second, const unsigned char* bytes, int count)
{
    requirePort();
    SBEPSoftpotWriteRequest request(softpot, second, bytes, count);
    request.send(*port);
}

void EnhancedSBEP::writeSoftpotValue(int softpot, int second, int value, int count)
{
    requirePort();
    SBEPSoftpotWriteRequest request(softpot, second, static_cast<std::int32_t>(value), count);
    request.send(*port);
}

int EnhancedSBEP::readSoftpot(int softpot, int* value)
{
    requirePort();
    SBEPSoftpotReadRequest request(softpot);
    request.send(*port);
    *value = request.value;
    return request.valueLength;
}

int EnhancedSBEP::readSoftpotFor(int softpot, int* value, void* context, int selector)
{
    requirePort();
    SBEPSoftpotReadRequest request(softpot);
    request.request(*port, context, selector);
    *value = request.value;
    return request.valueLength;
}

int EnhancedSBEP::readSoftpotBytes(int softpot, unsigned char* destination)
{
    requirePort();
    SBEPSoftpotReadRequest request(softpot);
    request.send(*port);
    request.copyValue(destination);
    return request.valueLength;
}

int EnhancedSBEP::autoTune(int softpot, int* value, int, int second)
{
    requirePort();
    SBEPAutoTuneRequest request(softpot);
    // No storage travels with an auto tune: only the selector is passed on.
    request.request(*port, nullptr, second);
    *value = request.value;
    return request.valueLength;
}

void EnhancedSBEP::selectChannel(int channel, int kind)
{
    requirePort();
    SBEPChannelRequest request(channel, kind);
    request.send(*port);
}

void EnhancedSBEP::selectChannel(int channel, int kind, int channel2, int kind2)
{
    requirePort();
    SBEPChannelRequest request(channel, kind, channel2, kind2);
    request.send(*port);
}

void EnhancedSBEP::setTestMode(int a, int b, int c)
{
    requirePort();
    SBEPTestModeRequest request(a, b, c);
    request.send(*port);
}

}  // namespace tolvan

#pragma once
// The radio connection: opens the configured port for one operation and
// offers every radio operation over SBEP. Destroying it closes the port.

#include <functional>
#include <memory>
#include <string>

#include "link/com_ini.h"
#include "link/communication_port.h"
#include "link/posix_port.h"

namespace tolvan {

class RadioProtocol {
public:
    virtual void keyUp() = 0;
    virtual void dekey() = 0;
    virtual void reset() = 0;
    virtual void readMemory(unsigned char* destination, int address, unsigned length) = 0;
    virtual void writeMemory(const unsigned char* source, int address, unsigned length) = 0;
    virtual void setPort(CommunicationPort* p) { port = p; }

    CommunicationPort* port = nullptr;

protected:
    ~RadioProtocol() = default;
};

class EnhancedSBEP : public RadioProtocol {
public:
    // Closing empty writes of the pipelined form before we give up on a
    // radio that never confirms its last write.
    static constexpr int kMaxClosingWrites = 16;

    void keyUp() override;
    void dekey() override;
    void reset() override;
    void readMemory(unsigned char* destination, int address, unsigned length) override;
    void writeMemory(const unsigned char* source, int address, unsigned length) override;

    void readSerialNumber(unsigned char* reply);
    void readModelNumber(unsigned char* reply);
    void writeSerialNumber(const char* serial);
    void writeSoftpot(int softpot, int second, const unsigned char* bytes, int count);
    void writeSoftpotValue(int softpot, int second, int value, int count);
    int readSoftpot(int softpot, int* value);
    int readSoftpotFor(int softpot, int* value, void* context, int selector);
    int readSoftpotBytes(int softpot, unsigned char* destination);
    int autoTune(int softpot, int* value, int first, int second);
    void selectChannel(int channel, int kind);
    void selectChannel(int channel, int kind, int channel2, int kind2);
    void setTestMode(int a, int b, int c);

    unsigned char maxDataPerFrame = 64;

    // Called after each memory frame is written or read, with its data bytes:
    // lets a caller show true progress inside one long record.
    std::function<void(unsigned bytes)> frameDone;
    // Address of the memory frame being exchanged, so a failure can name it.
    int currentAddress = -1;

private:
    void requirePort();
    void writeRestConfirmed(const unsigned char* source, int address, unsigned length);
    void writeRestPipelined(const unsigned char* source, int address, unsigned length, class SBEPWriteRequest& first);
};

class cominit {
public:
    // Reads com.ini and opens the COM port it names.
    cominit();
    // Opens a device path directly (command line --device, tests).
    explicit cominit(const std::string& devicePath);
    ~cominit();
    cominit(const cominit&) = delete;
    cominit& operator=(const cominit&) = delete;

    const std::string& devicePath() const { return commPort->devicePath(); }

    EnhancedSBEP sbep;
    std::unique_ptr<PosixCommunicationPort> commPort;
    RF_CommunicationSetup setup;
};

}  // namespace tolvan

#pragma once
// The serial port on a POSIX terminal device (termios): COM N maps to a
// device file through comDevicePath.

#include <cstdint>
#include <string>

#include <termios.h>

#include "link/communication_port.h"

namespace tolvan {

// Fault counters of a serial device, as the driver keeps them.
struct LineFaultCounts {
    std::uint32_t breaks = 0;
    std::uint32_t framing = 0;
    std::uint32_t overrun = 0;
    std::uint32_t parity = 0;
    std::uint32_t bufferOverrun = 0;
};

// Status word (the bits raiseLineError maps) for the faults counted between
// two readings: break 0x10, framing 0x08, overrun 0x02, parity 0x04,
// buffer overrun 0x01.
long lineStatusFromCounts(const LineFaultCounts& before, const LineFaultCounts& now);

class PosixCommunicationPort : public CommunicationPort {
public:
    PosixCommunicationPort(int portNumber, unsigned baudRate, int parity, unsigned byteSize, int stopBits,
                           int echo);
    // A device named directly; portNumber() is then 0.
    PosixCommunicationPort(const std::string& devicePath, unsigned baudRate, int parity, unsigned byteSize,
                           int stopBits, int echo);
    ~PosixCommunicationPort() override = default;
    PosixCommunicationPort(const PosixCommunicationPort&) = delete;
    PosixCommunicationPort& operator=(const PosixCommunicationPort&) = delete;

    void writeWithEchoTest(const unsigned char* bytes, unsigned count) override;
    void write(const unsigned char* bytes, unsigned count) override;
    int read(unsigned char* destination, int count) override;
    void purgeInput() override;
    unsigned bytesWaiting() override;
    long double characterTime() override;

    int portNumber() override { return portNumber_; }
    void configure(unsigned baudRate, int parity, unsigned byteSize, int stopBits) override;
    void setBaudRate(unsigned rate) override;
    unsigned baudRate() override { return baudRate_; }
    void setParity(int code) override;
    int parity() override { return parity_; }
    void setByteSize(unsigned bits) override;
    int byteSize() override { return byteSize_; }
    void setStopBits(int code) override;
    int stopBits() override { return stopBits_; }
    double bitsPerCharacter() override;

    const std::string& devicePath() const { return devicePath_; }

    // Why the last construction on this thread could not open its device
    // ("no such device", "held by another program", ...); empty after success.
    static std::string lastOpenFailure();
    static int lastOpenErrno();

    // Longest time the line may refuse output before write gives up.
    static constexpr int kOutputStallMs = 2000;

private:
    // Owns the descriptor and its exclusivity; released on every path,
    // including a constructor that fails after the open.
    class Device {
    public:
        Device() = default;
        ~Device();
        Device(const Device&) = delete;
        Device& operator=(const Device&) = delete;
        void open(const std::string& path);
        int fd() const { return fd_; }

    private:
        int fd_ = -1;
    };

    void openAndConfigure(unsigned baudRate, int parity, unsigned byteSize, int stopBits);
    void storeBaudRate(unsigned rate);
    void storeParity(int code);
    void storeByteSize(unsigned bits);
    void storeStopBits(int code);
    void applyLineState();
    // Faults counted since the last look, as a status word; 0 without counters.
    long lineErrors();
    // Raises the line status, or GeneralCommunicationError when it names nothing.
    void raiseRefusal();
    void handOver(const unsigned char* bytes, unsigned count);

    std::string devicePath_;
    int portNumber_;
    Device device_;
    termios lineState_{};
    unsigned baudRate_ = 9600;
    int parity_ = 0;
    int byteSize_ = 8;
    int stopBits_ = 0;
    bool hasCounters_ = false;
    LineFaultCounts counted_;
};

}  // namespace tolvan

#pragma once
// The abstract byte link the SBEP layer talks through, and the abstract
// serial port with its (always fixed) line settings.

#include <cstdint>

namespace tolvan {

class CommunicationInterface {
public:
    virtual void writeWithEchoTest(const unsigned char* bytes, unsigned count) = 0;
    virtual void write(const unsigned char* bytes, unsigned count) = 0;
    virtual int read(unsigned char* destination, int count) = 0;
    virtual void purgeInput() = 0;
    virtual unsigned bytesWaiting() = 0;
    virtual long double characterTime() = 0;
    virtual ~CommunicationInterface() = default;

    // Waits until at least count bytes are queued; the limit is on silence
    // between bytes (idleLimit character times), not on the whole wait.
    // Returns the idle steps of the last pass. Raises TimeoutOnReceive.
    unsigned waitForInput(unsigned count, unsigned idleLimit);
    unsigned waitForInput(unsigned idleLimit) { return waitForInput(1, idleLimit); }
    // Whole character times in a duration, in extended precision.
    int charactersIn(double seconds);
};

// Parity codes: 0 none, 1 odd, 2 even. Stop-bit codes: 0 one, 1 one and a half, 2 two.
class CommunicationPort : public CommunicationInterface {
public:
    explicit CommunicationPort(int echo) : echoTest(echo) {}
    virtual int portNumber() = 0;
    virtual void configure(unsigned baudRate, int parity, unsigned byteSize, int stopBits) = 0;
    virtual void setBaudRate(unsigned rate) = 0;
    virtual unsigned baudRate() = 0;
    virtual void setParity(int code) = 0;
    virtual int parity() = 0;
    virtual void setByteSize(unsigned bits) = 0;
    virtual int byteSize() = 0;
    virtual void setStopBits(int code) = 0;
    virtual int stopBits() = 0;
    virtual double bitsPerCharacter() = 0;

    const std::int32_t echoTest;
};

// Maps a line-status word to its error; status 0 raises nothing.
// Bits tested in order: 0x10 break, 0x08 frame, 0x02 overrun, 0x04 parity,
// 0x01 input overflow, 0x100 output full; -12 baud, -11 character size.
void raiseLineError(long status);

}  // namespace tolvan

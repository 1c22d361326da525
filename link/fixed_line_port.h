#pragma once
// A port that is no serial device (a scripted radio in tests and fuzzing):
// its line is always 9600 baud, 8N1, and the setters change nothing.

#include "link/communication_port.h"

namespace tolvan {

class FixedLinePort : public CommunicationPort {
public:
    FixedLinePort() : CommunicationPort(0) {}
    long double characterTime() override { return 10.0L / 9600.0L; }
    int portNumber() override { return 0; }
    void configure(unsigned, int, unsigned, int) override {}
    void setBaudRate(unsigned) override {}
    unsigned baudRate() override { return 9600; }
    void setParity(int) override {}
    int parity() override { return 0; }
    void setByteSize(unsigned) override {}
    int byteSize() override { return 8; }
    void setStopBits(int) override {}
    int stopBits() override { return 0; }
    double bitsPerCharacter() override { return 10.0; }
};

}  // namespace tolvan

#pragma once
// A radio that answers SBEP on the master side of a pseudo-terminal, so the
// tool (and its tests) can talk to something real without hardware.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvan::sim {

// One reproducible misbehaviour: what goes wrong, and on which frames.
struct FaultRule {
    enum class Kind {
        Nak,           // answer 60 and do nothing
        BadChecksum,   // reply with a corrupted checksum
        LostAck,       // echo only: no acknowledgement, no reply, no action
        LostReply,     // acknowledge and act, but never reply
        LateReply,     // reply delayMs after the acknowledgement
        WrongAddress,  // write reply names 7F7F7F (memory writes only)
        WrongId,       // softpot reply names id + 1 (softpot and auto tune only)
        FailWrite,     // a write covering `address` gets 85 + address, not stored
        Unsupported,   // reply 86 + the request opcode, no action
        Silent,        // from the triggering frame on: echo only, forever
        Mute,          // from the triggering frame on: no answer, no echo of later bytes
        Close,         // close the line after `after` bytes of the answer
    };
    enum class Trigger { Always, Frame, Count, Rate };

    Kind kind = Kind::Nak;
    Trigger trigger = Trigger::Always;
    std::uint64_t frame = 0;  // Trigger::Frame: 1-based, counted from when the fault was installed
    std::uint64_t count = 0;  // Trigger::Count: how many matching frames
    double rate = 0.0;        // Trigger::Rate: probability per matching frame
    std::optional<int> opcode;  // only frames with this request opcode match
    int delayMs = 2500;         // LateReply
    std::uint32_t address = 0;  // FailWrite
    std::size_t after = 3;      // Close: answer bytes that still get out (3 cuts the reply short)

    // "kind[:key=value,...]" with keys frame, count, always, rate, opcode,
    // delay, address, after; numbers take 0x for hexadecimal.
    static std::optional<FaultRule> parse(const std::string& text, std::string* error);
    std::string toString() const;
    static const char* kindName(Kind kind);
    static std::vector<Kind> allKinds();
};

struct RadioOptions {
    enum class Timing {
        Burst,     // acknowledgement and reply in one write right after the echo
        Late,      // reply lateMs after the acknowledgement
        Bytewise,  // each answer byte written on its own, one character time apart
        Split,     // answer cut at random points, 1..4 ms between pieces (seeded)
    };
    std::string serial = "ABCDEFGHIJ";
    std::uint32_t tempComp = 0x0012ABCD;
    bool pipelined = false;  // write replies name the previous unconfirmed write
    bool pace = false;       // no output faster than 9600 baud, echo included
    Timing timing = Timing::Burst;
    int lateMs = 40;
    std::uint64_t seed = 1;
    std::vector<FaultRule> faults;
    std::string linkPath;  // symbolic link made to the device while serving
};

std::optional<RadioOptions::Timing> parseTiming(const std::string& name);
const char* timingName(RadioOptions::Timing timing);

class SimulatedRadio {
public:
    struct FrameRecord {
        std::vector<std::uint8_t> bytes;
        bool acknowledged = false;  // answered with 50
        std::uint64_t atMs = 0;     // since start()
    };

    explicit SimulatedRadio(RadioOptions options = {});
    ~SimulatedRadio();
    SimulatedRadio(const SimulatedRadio&) = delete;
    SimulatedRadio& operator=(const SimulatedRadio&) = delete;

    // Creates the pseudo-terminal and starts serving; the device can be opened
    // as soon as this returns. Throws std::system_error when no pty can be had.
    void start();
    void stop();
    std::string devicePath() const;
    // True once a Close fault has taken the line down.
    bool lineClosed() const;

    // Modes and faults (not serial, temp comp or link); fault triggers start counting afresh.
    void setOptions(const RadioOptions& options);
    void setFaults(std::vector<FaultRule> faults);
    void setTiming(RadioOptions::Timing timing, int lateMs = 40);
    void setPipelined(bool pipelined);
    void setPace(bool pace);
    void setSerial(const std::string& serial);
    void setTempComp(std::uint32_t value);

    std::map<std::uint32_t, std::uint8_t> memory() const;
    std::vector<std::uint8_t> readMemory(std::uint32_t address, std::size_t n) const;
    void writeMemory(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    std::string serial() const;
    std::uint32_t tempComp() const;
    std::uint32_t softpot(int id) const;

    std::vector<FrameRecord> frames() const;
    std::size_t frameCount() const;
    bool waitForFrames(std::size_t n, std::chrono::milliseconds timeout) const;
    void clearFrames();

    // "# serial ..." and "# tempcomp ..." lines, then memory as "AAAAAA: hex bytes",
    // 16 per line, each contiguous run starting a new line.
    bool writeDump(const std::string& path) const;
    std::string dumpText() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tolvan::sim

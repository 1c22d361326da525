// tolvan-radiosim: serves one simulated radio on a pseudo-terminal until told to stop.

#include "sim/simulated_radio.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

using tolvan::sim::FaultRule;
using tolvan::sim::RadioOptions;

constexpr int kUsageError = 2;

const char* const kHelp = R"(Usage: tolvan-radiosim [options]

Serves a simulated two-way radio that speaks SBEP on a pseudo-terminal.
The device path is printed on the first line of standard output; the radio
answers until SIGINT or SIGTERM.

Options:
  --link PATH          make PATH a symbolic link to the device (removed at exit)
  --serial TEXT        serial number, exactly 10 characters (default ABCDEFGHIJ)
  --tempcomp HEX       temp comp value, 32-bit hexadecimal (default 0012ABCD)
  --pipelined          write replies name the previous unconfirmed write
                       (FFFFFF for the first); default: each write's own address
  --pace               send no faster than 9600 baud, echo included
  --timing MODE        how acknowledgement and reply reach the line:
                         burst     together, right after the echo (default)
                         late      reply --late-ms after the acknowledgement
                         bytewise  one byte per write, one character time apart
                         split     random pieces, 1 to 4 ms apart (seeded)
  --late-ms N          delay of the reply in late timing (default 40)
  --seed N             seed for split timing and rate faults (default 1)
  --fault RULE         add a fault; may be given many times
  --dump FILE          at exit write serial, temp comp and memory to FILE
                       (memory as "AAAAAA: hex bytes", 16 per line)
  --help               show this text

Fault RULE: KIND[:SETTING,...]
  Triggers (one; default always):
    always             every matching frame
    frame=N            the N-th frame received (1-based, every frame counts)
    count=K            the next K matching frames
    rate=P             each matching frame with probability P (seeded)
  opcode=X             only frames with this request opcode match
  Kinds:
    nak                answer 60 (negative acknowledge) and do nothing
    bad-checksum       reply with a wrong checksum
    lost-ack           echo only: no acknowledgement, no reply, no action
    lost-reply         acknowledge and act, but send no reply
    late-reply         reply after delay=MS (default 2500)
    wrong-address      memory write reply names 7F7F7F
    wrong-id           softpot or auto tune reply names id + 1
    fail-write         address=X (required): a write covering X is answered
                       85 + X and not stored
    unsupported        reply 86 + the request opcode, no action
    silent             from the triggering frame on: echo only, never an answer
    mute               from the triggering frame on: no answer, and no echo
                       of later bytes
    close              close the line after after=K bytes (default 3) of the
                       answer; the device is gone afterwards
  Examples: nak:frame=3  fail-write:address=0x1040
            late-reply:opcode=0x23,delay=300  nak:rate=0.2
)";

int usageError(const std::string& message)
{
    std::cerr << "tolvan-radiosim: " << message << "\nTry 'tolvan-radiosim --help'.\n";
    return kUsageError;
}

bool parseUnsigned(const std::string& text, int base, unsigned long long max, unsigned long long& out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || value > max)
        return false;
    out = value;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    RadioOptions options;
    std::string dumpPath;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= args.size())
                return false;
            value = args[++i];
            return true;
        };
        const bool flag = name == "--help" || name == "--pipelined" || name == "--pace";
        if (flag && hasValue)
            return usageError("option '" + name + "' takes no value");
        if (!flag && name.rfind("--", 0) == 0 && !takeValue())
            return usageError("option '" + name + "' needs a value");

        unsigned long long number = 0;
        if (name == "--help") {
            std::cout << kHelp;
            return 0;
        } else if (name == "--pipelined") {
            options.pipelined = true;
        } else if (name == "--pace") {
            options.pace = true;
        } else if (name == "--link") {
            if (value.empty())
                return usageError("--link needs a path");
            options.linkPath = value;
        } else if (name == "--serial") {
            if (value.size() != 10)
                return usageError("--serial needs exactly 10 characters: '" + value + "'");
            options.serial = value;
        } else if (name == "--tempcomp") {
            std::string digits = value;
            if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0)
                digits = digits.substr(2);
            if (!parseUnsigned(digits, 16, 0xFFFFFFFFull, number))
                return usageError("--tempcomp needs a 32-bit hexadecimal value: '" + value + "'");
            options.tempComp = static_cast<std::uint32_t>(number);
        } else if (name == "--timing") {
            const auto timing = tolvan::sim::parseTiming(value);
            if (!timing)
                return usageError("--timing must be burst, late, bytewise or split: '" + value + "'");
            options.timing = *timing;
        } else if (name == "--late-ms") {
            if (!parseUnsigned(value, 10, 600000, number))
                return usageError("--late-ms needs milliseconds: '" + value + "'");
            options.lateMs = static_cast<int>(number);
        } else if (name == "--seed") {
            if (!parseUnsigned(value, 0, UINT64_MAX, number))
                return usageError("--seed needs a number: '" + value + "'");
            options.seed = number;
        } else if (name == "--fault") {
            std::string error;
            const auto fault = FaultRule::parse(value, &error);
            if (!fault)
                return usageError("bad --fault '" + value + "': " + error);
            options.faults.push_back(*fault);
        } else if (name == "--dump") {
            if (value.empty())
                return usageError("--dump needs a file name");
            dumpPath = value;
        } else {
            return usageError("unknown option '" + args[i] + "'");
        }
    }

    // Blocked before the radio's thread exists so that only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    tolvan::sim::SimulatedRadio radio(options);
    try {
        radio.start();
    } catch (const std::exception& e) {
        std::cerr << "tolvan-radiosim: cannot create the device: " << e.what() << '\n';
        return 1;
    }
    std::cout << radio.devicePath() << std::endl;

    int received = 0;
    sigwait(&stopSignals, &received);
    radio.stop();

    if (!dumpPath.empty() && !radio.writeDump(dumpPath)) {
        std::cerr << "tolvan-radiosim: cannot write " << dumpPath << '\n';
        return 1;
    }
    return 0;
}

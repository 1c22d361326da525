#include "sim/simulated_radio.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <utility>

namespace tolvan::sim {

namespace {

struct KindName {
    FaultSpec::Kind kind;
    const char* name;
};

constexpr KindName kKindNames[] = {
    {FaultSpec::Kind::Nak, "nak"},
    {FaultSpec::Kind::BadChecksum, "bad-checksum"},
    {FaultSpec::Kind::LostAck, "lost-ack"},
    {FaultSpec::Kind::LostReply, "lost-reply"},
    {FaultSpec::Kind::LateReply, "late-reply"},
    {FaultSpec::Kind::WrongAddress, "wrong-address"},
    {FaultSpec::Kind::WrongId, "wrong-id"},
    {FaultSpec::Kind::FailWrite, "fail-write"},
    {FaultSpec::Kind::Unsupported, "unsupported"},
    {FaultSpec::Kind::Silent, "silent"},
    {FaultSpec::Kind::Mute, "mute"},
    {FaultSpec::Kind::Close, "close"},
};

bool fail(std::string* error, std::string message)
{
    if (error)
        *error = std::move(message);
    return false;
}

// Whole-string unsigned number, decimal or 0x-hexadecimal, at most `max`.
bool parseNumber(const std::string& text, std::uint64_t max, std::uint64_t& out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || value > max)
        return false;
    out = value;
    return true;
}

bool parseRate(const std::string& text, double& out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(value >= 0.0 && value <= 1.0))
        return false;
    out = value;
    return true;
}

}  // namespace

const char* FaultSpec::kindName(Kind kind)
{
    for (const auto& entry : kKindNames)
        if (entry.kind == kind)
            return entry.name;
    return "?";
}

std::vector<FaultSpec::Kind> FaultSpec::allKinds()
{
    std::vector<Kind> kinds;
    for (const auto& entry : kKindNames)
        kinds.push_back(entry.kind);
    return kinds;
}

std::optional<FaultSpec> FaultSpec::parse(const std::string& text, std::string* error)
{
    const auto colon = text.find(':');
    const std::string kindText = text.substr(0, colon);
    FaultSpec spec;
    bool known = false;
    for (const auto& entry : kKindNames) {
        if (kindText == entry.name) {
            spec.kind = entry.kind;
            known = true;
        }
    }
    if (!known) {
        fail(error, "unknown fault kind '" + kindText + "'");
        return std::nullopt;
    }

    bool haveTrigger = false;
    bool haveAddress = false;
    const auto setTrigger = [&](Trigger chosen, const std::string& key) {
        if (haveTrigger)
            return fail(error, "more than one trigger in '" + text + "' (at '" + key + "')");
        haveTrigger = true;
        spec.trigger = chosen;
        return true;
    };

    std::string rest = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    if (colon != std::string::npos && rest.empty()) {
        fail(error, "empty settings after ':' in '" + text + "'");
        return std::nullopt;
    }
    std::istringstream items(rest);
    std::string item;
    while (colon != std::string::npos && std::getline(items, item, ',')) {
        const auto eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        const bool hasValue = eq != std::string::npos;
        std::uint64_t number = 0;
        bool ok = true;
        if (key == "always" && !hasValue) {
            ok = setTrigger(Trigger::Always, key);
        } else if (key == "frame") {
            ok = parseNumber(value, UINT32_MAX, number) && number >= 1
                ? setTrigger(Trigger::Frame, key)
                : fail(error, "frame needs a number from 1: '" + item + "'");
            spec.frame = number;
        } else if (key == "count") {
            ok = parseNumber(value, UINT32_MAX, number) && number >= 1
                ? setTrigger(Trigger::Count, key)
                : fail(error, "count needs a number from 1: '" + item + "'");
            spec.count = number;
        } else if (key == "rate") {
            ok = parseRate(value, spec.rate) ? setTrigger(Trigger::Rate, key)
                                             : fail(error, "rate needs a probability from 0 to 1: '" + item + "'");
        } else if (key == "opcode") {
            ok = parseNumber(value, 0xFF, number) || fail(error, "opcode needs a number from 0 to 0xFF: '" + item + "'");
            spec.opcode = static_cast<int>(number);
        } else if (key == "delay" && spec.kind == Kind::LateReply) {
            ok = parseNumber(value, 600000, number) || fail(error, "delay needs milliseconds: '" + item + "'");
            spec.delayMs = static_cast<int>(number);
        } else if (key == "address" && spec.kind == Kind::FailWrite) {
            ok = parseNumber(value, 0xFFFFFF, number) || fail(error, "address needs a number up to 0xFFFFFF: '" + item + "'");
            spec.address = static_cast<std::uint32_t>(number);
            haveAddress = true;
        } else if (key == "after" && spec.kind == Kind::Close) {
            ok = parseNumber(value, 65535, number) || fail(error, "after needs a byte count: '" + item + "'");
            spec.after = static_cast<std::size_t>(number);
        } else {
            ok = fail(error, "'" + item + "' does not apply to fault '" + kindText + "'");
        }
        if (!ok)
            return std::nullopt;
    }
    if (spec.kind == Kind::FailWrite && !haveAddress) {
        fail(error, "fail-write needs address=X");
        return std::nullopt;
    }
    return spec;
}

std::string FaultSpec::toString() const
{
    std::ostringstream out;
    out << kindName(kind) << ':';
    switch (trigger) {
    case Trigger::Always: out << "always"; break;
    case Trigger::Frame: out << "frame=" << frame; break;
    case Trigger::Count: out << "count=" << count; break;
    case Trigger::Rate: out << "rate=" << rate; break;
    }
    if (opcode)
        out << ",opcode=0x" << std::hex << *opcode << std::dec;
    if (kind == Kind::LateReply)
        out << ",delay=" << delayMs;
    if (kind == Kind::FailWrite)
        out << ",address=0x" << std::hex << address << std::dec;
    if (kind == Kind::Close)
        out << ",after=" << after;
    return out.str();
}

std::optional<RadioOptions::Timing> parseTiming(const std::string& name)
{
    using T = RadioOptions::Timing;
    for (T timing : {T::Burst, T::Late, T::Bytewise, T::Split})
        if (name == timingName(timing))
            return timing;
    return std::nullopt;
}

const char* timingName(RadioOptions::Timing timing)
{
    switch (timing) {
    case RadioOptions::Timing::Burst: return "burst";
    case RadioOptions::Timing::Late: return "late";
    case RadioOptions::Timing::Bytewise: return "bytewise";
    case RadioOptions::Timing::Split: return "split";
    }
    return "?";
}

}  // namespace tolvan::sim

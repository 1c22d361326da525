#include "sim/simulated_radio.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <utility>

namespace tolvan::sim {

namespace {

struct KindName {
    FaultRule::Kind kind;
    const char* name;
};

constexpr KindName kKindNames[] = {
    {FaultRule::Kind::Nak, "nak"},
    {FaultRule::Kind::BadChecksum, "bad-checksum"},
    {FaultRule::Kind::LostAck, "lost-ack"},
    {FaultRule::Kind::LostReply, "lost-reply"},
    {FaultRule::Kind::LateReply, "late-reply"},
    {FaultRule::Kind::WrongAddress, "wrong-address"},
    {FaultRule::Kind::WrongId, "wrong-id"},
    {FaultRule::Kind::FailWrite, "fail-write"},
    {FaultRule::Kind::Unsupported, "unsupported"},
    {FaultRule::Kind::Silent, "silent"},
    {FaultRule::Kind::Mute, "mute"},
    {FaultRule::Kind::Close, "close"},
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

const char* FaultRule::kindName(Kind kind)
{
    for (const auto& entry : kKindNames)
        if (entry.kind == kind)
            return entry.name;
    return "?";
}

std::vector<FaultRule::Kind> FaultRule::allKinds()
{
    std::vector<Kind> kinds;
    for (const auto& entry : kKindNames)
        kinds.push_back(entry.kind);
    return kinds;
}

std::optional<FaultRule> FaultRule::parse(const std::string& text, std::string* error)
{
    const auto colon = text.find(':');
    const std::string kindText = text.substr(0, colon);
    FaultRule rule;
    bool known = false;
    for (const auto& entry : kKindNames) {
        if (kindText == entry.name) {
            rule.kind = entry.kind;
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
        rule.trigger = chosen;
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
            rule.frame = number;
        } else if (key == "count") {
            ok = parseNumber(value, UINT32_MAX, number) && number >= 1
                ? setTrigger(Trigger::Count, key)
                : fail(error, "count needs a number from 1: '" + item + "'");
            rule.count = number;
        } else if (key == "rate") {
            ok = parseRate(value, rule.rate) ? setTrigger(Trigger::Rate, key)
                                             : fail(error, "rate needs a probability from 0 to 1: '" + item + "'");
        } else if (key == "opcode") {
            ok = parseNumber(value, 0xFF, number) || fail(error, "opcode needs a number from 0 to 0xFF: '" + item + "'");
            rule.opcode = static_cast<int>(number);
        } else if (key == "delay" && rule.kind == Kind::LateReply) {
            ok = parseNumber(value, 600000, number) || fail(error, "delay needs milliseconds: '" + item + "'");
            rule.delayMs = static_cast<int>(number);
        } else if (key == "address" && rule.kind == Kind::FailWrite) {
            ok = parseNumber(value, 0xFFFFFF, number) || fail(error, "address needs a number up to 0xFFFFFF: '" + item + "'");
            rule.address = static_cast<std::uint32_t>(number);
            haveAddress = true;
        } else if (key == "after" && rule.kind == Kind::Close) {
            ok = parseNumber(value, 65535, number) || fail(error, "after needs a byte count: '" + item + "'");
            rule.after = static_cast<std::size_t>(number);
        } else {
            ok = fail(error, "'" + item + "' does not apply to fault '" + kindText + "'");
        }
        if (!ok)
            return std::nullopt;
    }
    if (rule.kind == Kind::FailWrite && !haveAddress) {
        fail(error, "fail-write needs address=X");
        return std::nullopt;
    }
    return rule;
}

std::string FaultRule::toString() const
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

#include "sim/simulated_radio.h"

#include "protocol/sbep_frame.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace tolvan::sim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// One character (10 bits) at 9600 baud.
constexpr std::chrono::nanoseconds kCharTime{1041667};
// A frame that stops arriving for this long is given up and refused.
constexpr auto kPartialFrameSilence = 20ms;
// Longer than any frame a radio takes (the tool's largest is 72 bytes); such a header is refused at once.
constexpr int kMaxFrameLength = 512;
// How long a dying line waits for the tool to take the bytes already sent.
// Bytes written to a pty master reach the slave's queue a little later, so the
// queue counts as drained only after kCloseSettle.
constexpr auto kCloseGrace = 1s;
constexpr auto kCloseSettle = 20ms;
constexpr auto kCloseCheck = 2ms;
// Output nobody reads is dropped beyond this, so a deaf peer cannot grow us without bound.
constexpr std::size_t kMaxQueuedOutput = 1u << 20;
constexpr std::uint32_t kNoWrite = 0xFFFFFF;
constexpr std::uint32_t kWrongAddress = 0x7F7F7F;
constexpr std::uint32_t kAddressMask = 0xFFFFFF;
constexpr const char* kModelNumber = "TVR-SIM-01";
constexpr std::uint8_t kAckByte = 0x50;
constexpr std::uint8_t kNakByte = 0x60;
constexpr int kSoftpotCount = 16;

std::uint64_t splitmix(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double unitDraw(std::uint64_t& state) { return static_cast<double>(splitmix(state) >> 11) * 0x1.0p-53; }

std::uint64_t drawBetween(std::uint64_t& state, std::uint64_t low, std::uint64_t high)
{
    return low + splitmix(state) % (high - low + 1);
}

std::uint32_t bigEndian(const std::uint8_t* bytes, std::size_t n)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < n; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
}

std::vector<std::uint8_t> frame(int opcode, const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frameLength(opcode, static_cast<int>(data.size()))));
    buildFrame(bytes.data(), opcode, data.data(), static_cast<int>(data.size()));
    return bytes;
}

std::string fixedSerial(const std::string& serial)
{
    std::string text = serial.substr(0, 10);
    text.resize(10, ' ');
    return text;
}

// What the faults decided for one frame.
struct Decision {
    bool nak = false;
    bool badChecksum = false;
    bool lostAck = false;
    bool lostReply = false;
    std::optional<int> lateMs;
    bool wrongAddress = false;
    bool wrongId = false;
    std::optional<std::uint32_t> failAddress;
    bool unsupported = false;
    std::optional<std::size_t> closeAfter;
};

struct FaultState {
    FaultRule rule;
    std::uint64_t framesSeen = 0;
    std::uint64_t remaining = 0;
    std::uint64_t rng = 0;
};

struct OutputItem {
    std::vector<std::uint8_t> bytes;
    std::size_t written = 0;
    bool closeAfter = false;
};

}  // namespace

struct SimulatedRadio::Impl {
    mutable std::mutex mutex;
    mutable std::condition_variable framesChanged;

    RadioOptions options;
    std::string serialNumber;
    std::array<std::uint32_t, kSoftpotCount> softpots{};
    std::map<std::uint32_t, std::uint8_t> memory;
    std::optional<std::uint32_t> pendingWrite;
    std::vector<FrameRecord> records;

    std::vector<FaultState> faults;
    bool silent = false;
    bool mute = false;
    std::uint64_t splitRng = 0;

    int master = -1;
    int heldSlave = -1;
    int wake = -1;
    std::string path;
    std::string linkMade;
    bool running = false;
    bool stopping = false;
    bool closed = false;
    std::optional<Clock::time_point> closingUntil;
    Clock::time_point closingSince;
    std::thread thread;
    Clock::time_point started;

    std::vector<std::uint8_t> partial;
    Clock::time_point lastReceived;

    // Keyed by (due time, sequence) so equal times keep their order.
    std::map<std::pair<Clock::time_point, std::uint64_t>, OutputItem> output;
    std::uint64_t outputSequence = 0;
    std::size_t queuedBytes = 0;
    Clock::time_point lastByteSlot{};
    Clock::time_point lineFreeEstimate{};
    // When the last piece of the answers scheduled so far is due.
    Clock::time_point answersEnd{};
    bool writeBlocked = false;

    explicit Impl(RadioOptions o) : options(std::move(o))
    {
        serialNumber = options.serial;
        softpots[1] = options.tempComp;
        installFaults(options.faults);
    }

    void installFaults(const std::vector<FaultRule>& rules)
    {
        options.faults = rules;
        faults.clear();
        silent = false;
        mute = false;
        std::uint64_t seedState = options.seed;
        splitRng = splitmix(seedState);
        for (const auto& rule : rules) {
            FaultState state;
            state.rule = rule;
            state.remaining = rule.count;
            state.rng = splitmix(seedState);
            faults.push_back(state);
            // An unconditional silence starts before the first byte, so even its echo is gone.
            if (rule.trigger == FaultRule::Trigger::Always && !rule.opcode) {
                if (rule.kind == FaultRule::Kind::Mute)
                    mute = true;
                if (rule.kind == FaultRule::Kind::Silent)
                    silent = true;
            }
        }
    }

    void poke() const
    {
        if (wake >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(wake, &one, sizeof one);
        }
    }

    // ---- output scheduling ----

    void enqueue(Clock::time_point due, std::vector<std::uint8_t> bytes, bool closeAfter = false)
    {
        if (queuedBytes + bytes.size() > kMaxQueuedOutput && !closeAfter)
            return;
        queuedBytes += bytes.size();
        if (options.pace && due <= Clock::now() + kCharTime)
            lineFreeEstimate = std::max(lineFreeEstimate, due) + kCharTime * static_cast<long>(bytes.size());
        output.emplace(std::make_pair(due, outputSequence++), OutputItem{std::move(bytes), 0, closeAfter});
    }

    // Writes what is due; returns when the next byte may go, if anything waits.
    std::optional<Clock::time_point> flushDue(Clock::time_point now)
    {
        while (!output.empty() && !closed && !writeBlocked) {
            auto it = output.begin();
            OutputItem& item = it->second;
            const Clock::time_point due = it->first.first;
            const Clock::time_point slot = options.pace ? std::max(due, lastByteSlot + kCharTime) : due;
            if (slot > now)
                return slot;
            const std::size_t left = item.bytes.size() - item.written;
            const std::size_t n = options.pace ? std::min<std::size_t>(left, 1) : left;
            if (n > 0) {
                const ssize_t done = ::write(master, item.bytes.data() + item.written, n);
                if (done < 0) {
                    if (errno == EAGAIN || errno == EWOULDBLOCK)
                        writeBlocked = true;
                    else if (errno != EINTR)
                        closeLine();
                    break;
                }
                item.written += static_cast<std::size_t>(done);
                queuedBytes -= static_cast<std::size_t>(done);
                if (options.pace)
                    lastByteSlot = slot;
                if (static_cast<std::size_t>(done) < n) {
                    writeBlocked = true;
                    break;
                }
            }
            if (item.written == item.bytes.size()) {
                const bool close = item.closeAfter;
                output.erase(it);
                if (close) {
                    closingSince = now;
                    closingUntil = now + kCloseGrace;
                    output.clear();
                    queuedBytes = 0;
                    break;
                }
            }
        }
        return std::nullopt;
    }

    // A pty drops unread input when its master closes; a dying line first lets
    // the tool take what was already on the wire.
    std::optional<Clock::time_point> finishClosing(Clock::time_point now)
    {
        if (!closingUntil || closed)
            return std::nullopt;
        int unread = 0;
        const bool settled = now - closingSince >= kCloseSettle;
        if (now >= *closingUntil || (settled && (::ioctl(heldSlave, FIONREAD, &unread) != 0 || unread == 0))) {
            closeLine();
            return std::nullopt;
        }
        return now + kCloseCheck;
    }

    void closeLine()
    {
        if (master >= 0)
            ::close(master);
        if (heldSlave >= 0)
            ::close(heldSlave);
        master = -1;
        heldSlave = -1;
        closed = true;
        closingUntil.reset();
        output.clear();
        queuedBytes = 0;
        partial.clear();
        framesChanged.notify_all();
    }

    // Lays the answer out on the line as the timing mode says; `replyDelay`
    // separates the acknowledgement from the reply.
    void scheduleAnswer(Clock::time_point now, std::vector<std::uint8_t> ack, std::vector<std::uint8_t> reply,
                        std::chrono::milliseconds replyDelay, std::optional<std::size_t> closeAfter)
    {
        Clock::time_point start = options.pace ? std::max(now, lineFreeEstimate) : now;
        // Answers cut into pieces never interleave: one starts after the last
        // piece of the one before, as a radio's own transmitter would send them.
        const bool pieces = options.timing == RadioOptions::Timing::Bytewise || options.timing == RadioOptions::Timing::Split;
        if (pieces)
            start = std::max(start, answersEnd);
        if (options.timing == RadioOptions::Timing::Late && !reply.empty() && replyDelay == 0ms)
            replyDelay = std::chrono::milliseconds(options.lateMs);

        struct Segment {
            std::chrono::nanoseconds gap;
            std::vector<std::uint8_t> bytes;
        };
        std::vector<Segment> segments;
        if (replyDelay > 0ms) {
            segments.push_back({0ns, std::move(ack)});
            segments.push_back({replyDelay, std::move(reply)});
        } else {
            ack.insert(ack.end(), reply.begin(), reply.end());
            segments.push_back({0ns, std::move(ack)});
        }
        if (closeAfter) {
            std::size_t budget = *closeAfter;
            for (auto& segment : segments) {
                const std::size_t keep = std::min(budget, segment.bytes.size());
                segment.bytes.resize(keep);
                budget -= keep;
            }
            while (!segments.empty() && segments.back().bytes.empty())
                segments.pop_back();
        }

        Clock::time_point at = start;
        for (auto& segment : segments) {
            at += segment.gap;
            switch (options.timing) {
            case RadioOptions::Timing::Burst:
            case RadioOptions::Timing::Late:
                enqueue(at, std::move(segment.bytes));
                break;
            case RadioOptions::Timing::Bytewise:
                for (std::size_t i = 0; i < segment.bytes.size(); ++i) {
                    if (i > 0)
                        at += kCharTime;
                    enqueue(at, {segment.bytes[i]});
                }
                break;
            case RadioOptions::Timing::Split: {
                std::size_t from = 0;
                while (from < segment.bytes.size()) {
                    const std::size_t left = segment.bytes.size() - from;
                    const std::size_t piece = drawBetween(splitRng, 1, std::max<std::size_t>(1, (left + 1) / 2));
                    enqueue(at, {segment.bytes.begin() + static_cast<long>(from),
                                 segment.bytes.begin() + static_cast<long>(from + piece)});
                    from += piece;
                    if (from < segment.bytes.size())
                        at += std::chrono::microseconds(drawBetween(splitRng, 1000, 4000));
                }
                break;
            }
            }
        }
        if (closeAfter)
            enqueue(at, {}, true);
        if (pieces)
            answersEnd = std::max(answersEnd, at + std::chrono::microseconds(1));
    }

    // ---- faults ----

    static bool applies(const FaultRule& rule, int opcode, const std::vector<std::uint8_t>& data, bool parsed)
    {
        if (rule.opcode && *rule.opcode != opcode)
            return false;
        switch (rule.kind) {
        case FaultRule::Kind::WrongAddress:
            return parsed && opcode == kOpMemoryWrite;
        case FaultRule::Kind::WrongId:
            return parsed && (opcode == kOpSoftpot || opcode == kOpAutoTune);
        case FaultRule::Kind::FailWrite: {
            if (!parsed || opcode != kOpMemoryWrite)
                return false;
            const std::uint32_t start = bigEndian(data.data(), 3);
            const std::size_t length = data.size() - 3;
            return ((rule.address - start) & kAddressMask) < length;
        }
        default:
            return true;
        }
    }

    Decision decide(int opcode, const std::vector<std::uint8_t>& data, bool parsed)
    {
        Decision decision;
        for (auto& fault : faults) {
            ++fault.framesSeen;
            const FaultRule& rule = fault.rule;
            if (!applies(rule, opcode, data, parsed))
                continue;
            bool fires = false;
            switch (rule.trigger) {
            case FaultRule::Trigger::Always: fires = true; break;
            case FaultRule::Trigger::Frame: fires = fault.framesSeen == rule.frame; break;
            case FaultRule::Trigger::Count:
                fires = fault.remaining > 0;
                if (fires)
                    --fault.remaining;
                break;
            case FaultRule::Trigger::Rate: fires = unitDraw(fault.rng) < rule.rate; break;
            }
            if (!fires)
                continue;
            switch (rule.kind) {
            case FaultRule::Kind::Nak: decision.nak = true; break;
            case FaultRule::Kind::BadChecksum: decision.badChecksum = true; break;
            case FaultRule::Kind::LostAck: decision.lostAck = true; break;
            case FaultRule::Kind::LostReply: decision.lostReply = true; break;
            case FaultRule::Kind::LateReply: decision.lateMs = rule.delayMs; break;
            case FaultRule::Kind::WrongAddress: decision.wrongAddress = true; break;
            case FaultRule::Kind::WrongId: decision.wrongId = true; break;
            case FaultRule::Kind::FailWrite: decision.failAddress = rule.address; break;
            case FaultRule::Kind::Unsupported: decision.unsupported = true; break;
            case FaultRule::Kind::Silent: silent = true; break;
            case FaultRule::Kind::Mute: mute = true; break;
            case FaultRule::Kind::Close: decision.closeAfter = rule.after; break;
            }
        }
        return decision;
    }

    // ---- requests ----

    static bool parseable(int opcode, const std::vector<std::uint8_t>& data)
    {
        switch (opcode) {
        case kOpMemoryWrite: return data.size() >= 3;
        case kOpMemoryRead: return data.size() == 4;
        case kOpSoftpot: return data.size() >= 3;
        case kOpAutoTune: return !data.empty();
        case kOpQuery: return !data.empty();
        case kOpSerialWrite: return data.size() == 11 && data[0] == 0;
        default: return true;
        }
    }

    std::vector<std::uint8_t> unsupportedReply(int opcode) const
    {
        return frame(kOpUnsupported, {static_cast<std::uint8_t>(opcode)});
    }

    std::vector<std::uint8_t> softpotReply(int id, std::uint32_t value, int bytes, const Decision& decision) const
    {
        std::vector<std::uint8_t> data{static_cast<std::uint8_t>(decision.wrongId ? id + 1 : id)};
        appendBigEndian(data, value, bytes);
        return frame(kOpSoftpotReply, data);
    }

    // Carries out an acknowledged request and builds its reply.
    std::vector<std::uint8_t> act(int opcode, const std::vector<std::uint8_t>& data, const Decision& decision)
    {
        switch (opcode) {
        case kOpMemoryWrite: {
            const std::uint32_t address = bigEndian(data.data(), 3);
            if (decision.failAddress) {
                std::vector<std::uint8_t> reply;
                appendBigEndian(reply, *decision.failAddress, 3);
                return frame(kOpWriteFailed, reply);
            }
            for (std::size_t i = 3; i < data.size(); ++i)
                memory[(address + static_cast<std::uint32_t>(i - 3)) & kAddressMask] = data[i];
            std::uint32_t named = address;
            if (options.pipelined) {
                named = pendingWrite.value_or(kNoWrite);
                const bool closing = address == 0 && data.size() == 3;
                pendingWrite = closing ? std::nullopt : std::optional<std::uint32_t>(address);
            } else {
                pendingWrite.reset();
            }
            std::vector<std::uint8_t> reply;
            appendBigEndian(reply, decision.wrongAddress ? kWrongAddress : named, 3);
            return frame(kOpWriteReply, reply);
        }
        case kOpMemoryRead: {
            const std::uint32_t address = bigEndian(data.data() + 1, 3);
            return frame(kOpMemoryReadReply, readLocked(address, data[0]));
        }
        case kOpSoftpot: {
            const int id = data[0];
            if (id < 1 || id >= kSoftpotCount)
                return unsupportedReply(opcode);
            const bool isRead = data.size() == 3 && data[1] == 0 && data[2] == 0;
            if (!isRead) {
                const std::size_t n = data.size() - 2;
                const std::size_t take = std::min<std::size_t>(n, 4);
                softpots[static_cast<std::size_t>(id)] = bigEndian(data.data() + 2 + (n - take), take);
            }
            return softpotReply(id, softpots[static_cast<std::size_t>(id)], 4, decision);
        }
        case kOpAutoTune: {
            const int id = data[0];
            if (id < 1 || id >= kSoftpotCount)
                return unsupportedReply(opcode);
            return softpotReply(id, softpots[static_cast<std::size_t>(id)] & 0xFFFF, 2, decision);
        }
        case kOpQuery: {
            if (data[0] > 1)
                return unsupportedReply(opcode);
            const std::string text = data[0] == 1 ? fixedSerial(serialNumber) : std::string(kModelNumber);
            std::vector<std::uint8_t> reply(1 + text.size());
            reply[0] = data[0];
            std::copy(text.begin(), text.end(), reply.begin() + 1);
            return frame(kOpQuery | 0x80, reply);
        }
        case kOpSerialWrite:
            serialNumber.assign(data.begin() + 1, data.end());
            return frame(kOpSerialWrite | 0x80, {});
        case kOpReset:
        case kOpKey:
        case kOpChannel:
        case kOpTestMode:
            return frame(opcode | 0x80, {});
        default:
            return unsupportedReply(opcode);
        }
    }

    std::vector<std::uint8_t> readLocked(std::uint32_t address, std::size_t n) const
    {
        std::vector<std::uint8_t> bytes(n, 0xFF);
        for (std::size_t i = 0; i < n; ++i) {
            const auto it = memory.find((address + static_cast<std::uint32_t>(i)) & kAddressMask);
            if (it != memory.end())
                bytes[i] = it->second;
        }
        return bytes;
    }

    // ---- input ----

    void onFrame(Clock::time_point now, std::vector<std::uint8_t> bytes, bool wellFormed)
    {
        int opcode = -1;
        std::vector<std::uint8_t> data;
        if (wellFormed) {
            opcode = frameOpcode(bytes.data());
            const int offset = frameDataOffset(bytes.data());
            const int n = frameDataLength(bytes.data());
            data.assign(bytes.begin() + offset, bytes.begin() + offset + n);
            wellFormed = hasValidChecksum(bytes.data()) && parseable(opcode, data);
        }
        const Decision decision = decide(opcode, data, wellFormed);

        FrameRecord record;
        record.bytes = std::move(bytes);
        record.atMs = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now - started).count());

        std::vector<std::uint8_t> ack;
        std::vector<std::uint8_t> reply;
        if (mute || silent || decision.lostAck) {
            // nothing on the line but the echo
        } else if (!wellFormed || decision.nak) {
            ack = {kNakByte};
        } else {
            ack = {kAckByte};
            record.acknowledged = !decision.closeAfter || *decision.closeAfter > 0;
            if (record.acknowledged)
                reply = decision.unsupported ? unsupportedReply(opcode) : act(opcode, data, decision);
            if (decision.badChecksum && !reply.empty())
                reply.back() = static_cast<std::uint8_t>(reply.back() + 1);
            if (decision.lostReply)
                reply.clear();
        }
        if (!ack.empty() || decision.closeAfter) {
            const auto delay = std::chrono::milliseconds(decision.lateMs.value_or(0));
            scheduleAnswer(now, std::move(ack), std::move(reply), delay, decision.closeAfter);
        }
        records.push_back(std::move(record));
        framesChanged.notify_all();
    }

    void onBytes(Clock::time_point now, const std::uint8_t* bytes, std::size_t n)
    {
        if (mute || closingUntil)
            return;
        enqueue(now, std::vector<std::uint8_t>(bytes, bytes + n));
        lastReceived = now;
        for (std::size_t i = 0; i < n && !closed; ++i) {
            partial.push_back(bytes[i]);
            const int have = static_cast<int>(partial.size());
            const int header = frameHeaderLength(partial.data(), have);
            if (have < header)
                continue;
            // An extended size of 0 describes no frame at all.
            if ((partial[0] & 0x0F) == 0x0F && partial[header - 2] == 0 && partial[header - 1] == 0) {
                onFrame(now, std::exchange(partial, {}), false);
                continue;
            }
            const int total = frameTotalLength(partial.data());
            if (total > kMaxFrameLength) {
                onFrame(now, std::exchange(partial, {}), false);
                continue;
            }
            if (have >= total)
                onFrame(now, std::exchange(partial, {}), true);
        }
    }

    void dropStalledFrame(Clock::time_point now)
    {
        if (partial.empty() || now - lastReceived < kPartialFrameSilence)
            return;
        partial.clear();
        if (!mute && !silent)
            enqueue(now, {kNakByte});
    }

    // ---- event loop ----

    void run()
    {
        std::unique_lock lock(mutex);
        while (!stopping) {
            const Clock::time_point now = Clock::now();
            dropStalledFrame(now);
            std::optional<Clock::time_point> next = flushDue(now);
            if (const auto check = finishClosing(now))
                next = check;
            if (!partial.empty()) {
                const auto giveUp = lastReceived + kPartialFrameSilence;
                next = next ? std::min(*next, giveUp) : giveUp;
            }

            pollfd fds[2] = {{wake, POLLIN, 0}, {master, 0, 0}};
            nfds_t count = 1;
            if (!closed) {
                fds[1].events = static_cast<short>(POLLIN | (writeBlocked ? POLLOUT : 0));
                count = 2;
            }
            timespec timeout{};
            timespec* timeoutPtr = nullptr;
            if (next) {
                const auto wait = std::max<std::chrono::nanoseconds>(*next - Clock::now(), 0ns);
                timeout.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
                timeout.tv_nsec = static_cast<long>(wait.count() % 1000000000);
                timeoutPtr = &timeout;
            }
            lock.unlock();
            const int ready = ::ppoll(fds, count, timeoutPtr, nullptr);
            lock.lock();
            if (ready <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                std::uint64_t value = 0;
                [[maybe_unused]] const auto n = ::read(wake, &value, sizeof value);
            }
            if (count < 2 || closed)
                continue;
            if (fds[1].revents & POLLOUT)
                writeBlocked = false;
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                std::uint8_t buffer[4096];
                const ssize_t got = ::read(master, buffer, sizeof buffer);
                if (got > 0)
                    onBytes(Clock::now(), buffer, static_cast<std::size_t>(got));
                else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                    closeLine();
            }
        }
    }
};

SimulatedRadio::SimulatedRadio(RadioOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

SimulatedRadio::~SimulatedRadio() { stop(); }

void SimulatedRadio::start()
{
    std::unique_lock lock(impl_->mutex);
    Impl& d = *impl_;
    if (d.running)
        return;
    const auto failed = [&](const char* what) {
        const int code = errno;
        for (int* fd : {&d.master, &d.heldSlave, &d.wake}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
        throw std::system_error(code, std::generic_category(), what);
    };
    d.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (d.master < 0)
        failed("posix_openpt");
    if (::grantpt(d.master) != 0 || ::unlockpt(d.master) != 0)
        failed("grantpt/unlockpt");
    char name[256];
    if (::ptsname_r(d.master, name, sizeof name) != 0)
        failed("ptsname");
    d.path = name;
    // Held open and never read: the master then never sees a hang-up when the tool closes its side.
    d.heldSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (d.heldSlave < 0)
        failed("open slave");
    termios tio{};
    if (::tcgetattr(d.heldSlave, &tio) != 0)
        failed("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(d.heldSlave, TCSANOW, &tio) != 0)
        failed("tcsetattr");
    d.wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d.wake < 0)
        failed("eventfd");
    if (!d.options.linkPath.empty()) {
        struct stat st {};
        if (::lstat(d.options.linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            ::unlink(d.options.linkPath.c_str());
        if (::symlink(name, d.options.linkPath.c_str()) != 0)
            failed("symlink");
        d.linkMade = d.options.linkPath;
    }
    d.closed = false;
    d.closingUntil.reset();
    d.stopping = false;
    d.writeBlocked = false;
    d.partial.clear();
    d.output.clear();
    d.queuedBytes = 0;
    d.started = Clock::now();
    d.running = true;
    d.thread = std::thread([&d] { d.run(); });
}

void SimulatedRadio::stop()
{
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        if (!d.running)
            return;
        d.stopping = true;
        d.poke();
    }
    d.thread.join();
    std::lock_guard lock(d.mutex);
    d.running = false;
    if (!d.closed)
        d.closeLine();
    ::close(d.wake);
    d.wake = -1;
    if (!d.linkMade.empty()) {
        ::unlink(d.linkMade.c_str());
        d.linkMade.clear();
    }
}

std::string SimulatedRadio::devicePath() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->path;
}

bool SimulatedRadio::lineClosed() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->closed;
}

void SimulatedRadio::setOptions(const RadioOptions& options)
{
    std::lock_guard lock(impl_->mutex);
    Impl& d = *impl_;
    d.options.pipelined = options.pipelined;
    d.options.pace = options.pace;
    d.options.timing = options.timing;
    d.options.lateMs = options.lateMs;
    d.options.seed = options.seed;
    d.installFaults(options.faults);
    d.poke();
}

void SimulatedRadio::setFaults(std::vector<FaultRule> faults)
{
    std::lock_guard lock(impl_->mutex);
    impl_->installFaults(faults);
    impl_->poke();
}

void SimulatedRadio::setTiming(RadioOptions::Timing timing, int lateMs)
{
    std::lock_guard lock(impl_->mutex);
    impl_->options.timing = timing;
    impl_->options.lateMs = lateMs;
    impl_->poke();
}

void SimulatedRadio::setPipelined(bool pipelined)
{
    std::lock_guard lock(impl_->mutex);
    impl_->options.pipelined = pipelined;
}

void SimulatedRadio::setPace(bool pace)
{
    std::lock_guard lock(impl_->mutex);
    impl_->options.pace = pace;
    impl_->poke();
}

void SimulatedRadio::setSerial(const std::string& serial)
{
    std::lock_guard lock(impl_->mutex);
    impl_->serialNumber = serial;
}

void SimulatedRadio::setTempComp(std::uint32_t value)
{
    std::lock_guard lock(impl_->mutex);
    impl_->softpots[1] = value;
}

std::map<std::uint32_t, std::uint8_t> SimulatedRadio::memory() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->memory;
}

std::vector<std::uint8_t> SimulatedRadio::readMemory(std::uint32_t address, std::size_t n) const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->readLocked(address, n);
}

void SimulatedRadio::writeMemory(std::uint32_t address, const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard lock(impl_->mutex);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        impl_->memory[(address + static_cast<std::uint32_t>(i)) & kAddressMask] = bytes[i];
}

std::string SimulatedRadio::serial() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->serialNumber;
}

std::uint32_t SimulatedRadio::tempComp() const { return softpot(1); }

std::uint32_t SimulatedRadio::softpot(int id) const
{
    std::lock_guard lock(impl_->mutex);
    if (id < 0 || id >= kSoftpotCount)
        return 0;
    return impl_->softpots[static_cast<std::size_t>(id)];
}

std::vector<SimulatedRadio::FrameRecord> SimulatedRadio::frames() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->records;
}

std::size_t SimulatedRadio::frameCount() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->records.size();
}

bool SimulatedRadio::waitForFrames(std::size_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(impl_->mutex);
    return impl_->framesChanged.wait_for(lock, timeout, [&] { return impl_->records.size() >= n; });
}

void SimulatedRadio::clearFrames()
{
    std::lock_guard lock(impl_->mutex);
    impl_->records.clear();
}

std::string SimulatedRadio::dumpText() const
{
    std::lock_guard lock(impl_->mutex);
    const Impl& d = *impl_;
    std::string text;
    char line[64];
    std::snprintf(line, sizeof line, "%08X", d.softpots[1]);
    text += "# serial " + d.serialNumber + "\n# tempcomp " + line + "\n";
    std::optional<std::uint32_t> lineStart;
    std::uint32_t expected = 0;
    int onLine = 0;
    for (const auto& [address, value] : d.memory) {
        if (!lineStart || address != expected || onLine == 16) {
            if (lineStart)
                text += '\n';
            std::snprintf(line, sizeof line, "%06X:", address);
            text += line;
            lineStart = address;
            onLine = 0;
        }
        std::snprintf(line, sizeof line, " %02X", value);
        text += line;
        ++onLine;
        expected = address + 1;
    }
    if (lineStart)
        text += '\n';
    return text;
}

bool SimulatedRadio::writeDump(const std::string& path) const
{
    const std::string text = dumpText();
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace tolvan::sim

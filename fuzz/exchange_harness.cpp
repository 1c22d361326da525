#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "fuzz/fuzz_port.h"
#include "fuzz/harness.h"
#include "link/errors.h"
#include "protocol/radio_connection.h"
#include "protocol/sbep_message.h"
#include "protocol/sbep_requests.h"
#include "service/radio_storage.h"

namespace tolvan::fuzz {

namespace {

enum Operation : std::uint8_t {
    kKeyUp,
    kReset,
    kPlainFrame,
    kModelQuery,
    kSerialQuery,
    kWriteFrame,
    kWriteMemory,
    kSoftpotRead,
    kSoftpotReadFor,
    kAutoTune,
    kReadFrame,
    kReadMemory,
    kReaders,
    kOperationCount
};

// Bytes before the script: operation, delivery, chunk parameter, two operation parameters.
constexpr std::size_t kControlBytes = 5;
// Idle time one transmission can add once the radio has said everything:
// the frame and its pause, the echo wait, the longest reply wait (the write
// reply's 2 s), the recovery pause and the quiet line before a retry, with margin.
constexpr std::uint64_t kIdlePerFrame = 72 + 30 + 10 + 1920 + 11 + 250 + 100;

std::vector<Segment> parseScript(const std::uint8_t* data, std::size_t size)
{
    std::vector<Segment> script;
    std::size_t i = 0;
    while (i + 2 <= size) {
        Segment s;
        const std::size_t length = data[i];
        s.delayMs = 10u * data[i + 1];
        i += 2;
        const std::size_t take = std::min(length, size - i);
        s.bytes.assign(data + i, data + i + take);
        i += take;
        script.push_back(std::move(s));
    }
    return script;
}

// A heap block of exactly the size the caller promises, so a write past it is caught.
std::unique_ptr<unsigned char[]> block(std::size_t n) { return std::make_unique<unsigned char[]>(n == 0 ? 1 : n); }

// Frames one call may transmit when it exchanges a single request.
constexpr unsigned kSingleRequestFrames = SBEPMessage::kMaxAttempts;

std::string run(std::uint8_t op, std::uint8_t a, std::uint8_t b, FuzzPort& port, unsigned& frameLimit)
{
    EnhancedSBEP sbep;
    sbep.setPort(&port);
    frameLimit = kSingleRequestFrames;
    switch (op) {
    case kKeyUp:
        sbep.keyUp();
        return "ok";
    case kReset:
        sbep.reset();
        return "ok";
    case kPlainFrame: {
        std::vector<unsigned char> payload(b % 20u, a);
        SBEPMessage message(a, payload.data(), static_cast<int>(payload.size()));
        message.send(port);
        return "ok";
    }
    case kModelQuery: {
        auto reply = block(SBEPMessage::kQueryCopyLimit);
        sbep.readModelNumber(reply.get());
        return "ok";
    }
    case kSerialQuery: {
        auto reply = block(SBEPMessage::kQueryCopyLimit);
        sbep.readSerialNumber(reply.get());
        return "ok";
    }
    case kWriteFrame: {
        const int n = a % (SBEPWriteRequest::kMaxData + 1);
        std::vector<unsigned char> source(static_cast<std::size_t>(n), b);
        SBEPWriteRequest request(source.data(), (b << 8) | a, n);
        request.send(port);
        if (request.pending != nullptr && request.pending != &request)
            return "!pending names another request";
        return request.pending ? "ok pending" : "ok confirmed";
    }
    case kWriteMemory: {
        const unsigned length = a + 256u * (b & 3u);
        std::vector<unsigned char> source(length, 0x5A);
        frameLimit = 0;  // many frames and closing writes; bounded by the time check
        sbep.writeMemory(source.data(), b << 8, length);
        return "ok";
    }
    case kSoftpotRead: {
        int value = 0;
        sbep.readSoftpot(a, &value);
        return "ok";
    }
    case kSoftpotReadFor: {
        radioStorage storage;
        int value = 0;
        sbep.readSoftpotFor(a, &value, &storage, b % 24);
        return "ok";
    }
    case kAutoTune: {
        int value = 0;
        // Any other selector reports the value on standard error: keep the runs quiet.
        sbep.autoTune(a, &value, 0, 1);
        return "ok";
    }
    case kReadFrame: {
        const int n = 1 + a % SBEPWriteRequest::kMaxData;
        auto destination = block(static_cast<std::size_t>(n));
        SBEPReadRequest request(destination.get(), b << 8, n);
        request.send(port);
        return "ok";
    }
    case kReadMemory: {
        const unsigned length = a + 2u * b;
        auto destination = block(length);
        frameLimit = 0;
        sbep.readMemory(destination.get(), 0x1000, length);
        return "ok";
    }
    default:
        break;
    }

    // The readers themselves, on whatever the radio sends unasked.
    frameLimit = 1;
    const unsigned char nothing = 0;
    port.write(&nothing, 0);
    static const int kReplyOpcodes[] = {kOpMemoryReadReply, kOpUnsupported};
    static const int kAckOpcodes[] = {kOpAck, kOpNak};
    SBEPReply reply;
    switch (a % 5) {
    case 0:
        reply = SBEPReply(port, SBEPMessage::kReplyIdleLimit);
        break;
    case 1:
        reply = SBEPReply(port, b, SBEPMessage::kReplyIdleLimit);
        break;
    case 2: {
        auto buffer = block(24);
        reply = SBEPReply(port, b, SBEPMessage::kReplyIdleLimit, buffer.get());
        break;
    }
    case 3:
        reply = SBEPReply(port, kReplyOpcodes, 2, SBEPMessage::kReplyIdleLimit);
        break;
    default: {
        const int echoLength = b % 80;
        SBEPReply ack(port, kAckOpcodes, 2, SBEPMessage::kAckIdleLimit, echoLength);
        (void)burstUnsupported();
        (void)burstLong();
        auto copy = block(50);
        copyBurstReply(copy.get());
        if (!replyFollows())
            return "ok ack";
        reply = SBEPReply::fromBurst(port, SBEPMessage::kReplyIdleLimit);
        break;
    }
    }
    const int n = reply.replyDataLength();
    if (n < 0 || (reply.size() > 0 && n + frameDataOffset(reply.data()) + 1 != reply.size()))
        return "!reply's length fields disagree with its size";
    auto copy = block(static_cast<std::size_t>(n));
    reply.copyReplyData(copy.get());
    return "ok reply";
}

}  // namespace

Outcome runExchange(const std::uint8_t* data, std::size_t size)
{
    if (size < kControlBytes)
        return {"short", {}};
    const std::uint8_t op = data[0] % kOperationCount;
    const std::uint8_t delivery = data[1];
    const auto chunking = static_cast<Chunking>(delivery & 3u);
    const int readCap = (delivery >> 2) & 0xF;
    // Some runs start just before the 32-bit tick counter wraps.
    const std::uint32_t start = (delivery & 0x40) ? 0xFFFFFFFFu - 8u * data[4] : 5000u;

    // Every run starts from the same receive buffer, so a finding replays alone.
    std::memset(burstBuffer, 0, sizeof burstBuffer);
    burstIndex = 0;
    burstCount = 0;

    FakeClock clock(start);
    ScopedTickSource scope(clock);
    FuzzPort port(clock, parseScript(data + kControlBytes, size - kControlBytes), chunking, data[2], readCap);

    Outcome outcome;
    unsigned frameLimit = 0;
    try {
        outcome.result = run(op, data[3], data[4], port, frameLimit);
        if (outcome.result.rfind('!', 0) == 0) {
            outcome.violation = outcome.result.substr(1);
            outcome.result.clear();
        }
    } catch (const BadWrite& e) {
        outcome.result = "BadWrite " + std::to_string(e.address);
    } catch (const Exception& e) {
        outcome.result = errorClassName(e.code);
    } catch (const std::exception& e) {
        outcome.violation = std::string("escaped std::exception: ") + e.what();
    } catch (...) {
        outcome.violation = "escaped an exception of unknown type";
    }

    auto broken = [&outcome](const std::string& what) {
        outcome.violation += (outcome.violation.empty() ? "" : "; ") + what;
    };
    // Nothing is done that the radio did not answer: only the reset, which
    // gives up silently, may end well on a silent line.
    if (port.frames > 0 && !port.radioSpoke() && op != kReset && outcome.result.rfind("ok", 0) == 0)
        broken("succeeded although the radio sent nothing");
    if (frameLimit > 0 && port.frames > frameLimit)
        broken("transmitted " + std::to_string(port.frames) + " frames");
    const std::uint64_t elapsed = clock.totalSlept();
    const std::uint64_t bound = port.lastArrival() + kIdlePerFrame * (port.frames + 1);
    if (elapsed > bound)
        broken("waited " + std::to_string(elapsed) + " ms, bound " + std::to_string(bound) + " ms");
    return outcome;
}

}  // namespace tolvan::fuzz

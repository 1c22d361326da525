#pragma once
// A port whose radio answers every transmitted frame with the next segment of
// a script, on a fake clock: time-outs cost nothing, and the script decides
// how the line chunks the bytes.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

#include "link/fixed_line_port.h"
#include "protocol/timing.h"

namespace tolvan::fuzz {

struct Segment {
    std::uint32_t delayMs = 0;
    std::vector<std::uint8_t> bytes;
};

// How the radio's bytes reach the input queue.
enum class Chunking : std::uint8_t { OnePiece, ByteByByte, SplitAt, Scattered };

class FuzzPort final : public FixedLinePort {
public:
    FuzzPort(FakeClock& clock, std::vector<Segment> script, Chunking chunking, std::uint8_t chunkParam,
             int readCap)
        : clock_(clock), script_(std::move(script)), chunking_(chunking),
          chunkParam_(chunkParam), readCap_(readCap)
    {
    }

    void writeWithEchoTest(const unsigned char* bytes, unsigned count) override { write(bytes, count); }

    void write(const unsigned char* bytes, unsigned count) override
    {
        ++frames;
        // About a character time per byte on the line, then the pause.
        clock_.advance(count + 30);
        const std::uint32_t now = clock_.ticks();
        for (unsigned i = 0; i < count; ++i)
            queue(now, bytes[i]);
        if (next_ < script_.size())
            deliver(script_[next_++], now);
    }

    int read(unsigned char* destination, int count) override
    {
        if (readCap_ > 0)
            count = std::min(count, readCap_);
        int n = 0;
        while (n < count && !queue_.empty() && arrived(queue_.front().at)) {
            destination[n++] = queue_.front().byte;
            queue_.pop_front();
        }
        return n;
    }

    void purgeInput() override
    {
        while (!queue_.empty() && arrived(queue_.front().at))
            queue_.pop_front();
    }

    unsigned bytesWaiting() override
    {
        unsigned n = 0;
        for (const Entry& e : queue_) {
            if (!arrived(e.at))
                break;
            ++n;
        }
        return n;
    }



    // Ticks from the start to the last scheduled byte; any wait beyond that
    // is idle time, which the protocol's limits bound.
    std::uint32_t lastArrival() const { return lastArrival_; }
    // Whether any byte but an echo was queued.
    bool radioSpoke() const { return radioSpoke_; }
    unsigned frames = 0;

private:
    struct Entry {
        std::uint32_t at;  // ticks since the port was made
        std::uint8_t byte;
    };

    std::uint32_t elapsed() const { return clock_.ticks() - start_; }
    bool arrived(std::uint32_t at) const { return at <= elapsed(); }

    void queue(std::uint32_t absolute, std::uint8_t byte)
    {
        const std::uint32_t at = absolute - start_;
        auto it = queue_.end();
        while (it != queue_.begin() && (it - 1)->at > at)
            --it;
        queue_.insert(it, Entry{at, byte});
        lastArrival_ = std::max(lastArrival_, at);
    }

    void deliver(const Segment& s, std::uint32_t now)
    {
        std::uint32_t t = now + s.delayMs;
        std::uint32_t seed = chunkParam_ * 2654435761u + 1u;
        for (std::size_t i = 0; i < s.bytes.size(); ++i) {
            switch (chunking_) {
            case Chunking::OnePiece:
                break;
            case Chunking::ByteByByte:
                if (i > 0)
                    ++t;
                break;
            case Chunking::SplitAt:
                if (i == chunkParam_)
                    ++t;
                break;
            case Chunking::Scattered:
                seed = seed * 1103515245u + 12345u;
                if (((seed >> 16) & 3u) == 0)
                    t += 1 + ((seed >> 20) & 7u);
                break;
            }
            queue(t, s.bytes[i]);
            radioSpoke_ = true;
        }
    }

    FakeClock& clock_;
    const std::uint32_t start_ = clock_.ticks();
    std::vector<Segment> script_;
    std::size_t next_ = 0;
    Chunking chunking_;
    std::uint8_t chunkParam_;
    int readCap_;
    std::deque<Entry> queue_;
    std::uint32_t lastArrival_ = 0;
    bool radioSpoke_ = false;
};

}  // namespace tolvan::fuzz

#pragma once
// A port that plays the radio from a script, on a fake clock: exact time-outs,
// no sleeping, and full control over how the line chunks the bytes.

#include <cstdint>
#include <functional>
#include <vector>

#include "link/fixed_line_port.h"
#include "protocol/sbep_frame.h"
#include "protocol/timing.h"

namespace tolvan::testing {

using Bytes = std::vector<std::uint8_t>;

// How a burst of reply bytes reaches the input queue.
struct Delivery {
    enum Kind { OnePiece, ByteByByte, SplitAt } kind = OnePiece;
    int split = 0;  // SplitAt: the first `split` bytes now, the rest one tick later
};

class ScriptedPort : public FixedLinePort {
public:
    // Called for every transmitted frame, after its echo is queued.
    using Responder = std::function<void(ScriptedPort&, const Bytes& frame)>;

    explicit ScriptedPort(FakeClock& clock) : clock_(clock) {}

    Responder onFrame;
    bool echo = true;
    Delivery delivery;

    // Queues bytes from the radio, `afterMs` ticks from now, chunked by `delivery`.
    void deliver(const Bytes& bytes, std::uint32_t afterMs = 0)
    {
        const std::uint32_t t = clock_.ticks() + afterMs;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            std::uint32_t at = t;
            if (delivery.kind == Delivery::ByteByByte)
                at = t + static_cast<std::uint32_t>(i);
            else if (delivery.kind == Delivery::SplitAt && static_cast<int>(i) >= delivery.split)
                at = t + 1;
            queue_.push_back({at, bytes[i]});
        }
    }

    void writeWithEchoTest(const unsigned char* bytes, unsigned count) override { write(bytes, count); }

    void write(const unsigned char* bytes, unsigned count) override
    {
        Bytes frame(bytes, bytes + count);
        sent.push_back(frame);
        // The line takes about a character time per byte, then the 30 ms pause.
        clock_.advance(count + 30);
        if (echo)
            queue_.push_back_all(frame, clock_.ticks());
        if (onFrame)
            onFrame(*this, frame);
    }

    int read(unsigned char* destination, int count) override
    {
        destination[0] = 0x14;
        int n = 0;
        while (n < count && !queue_.empty() && queue_.front().at <= clock_.ticks()) {
            destination[n++] = queue_.front().byte;
            queue_.pop_front();
        }
        return n;
    }

    void purgeInput() override
    {
        while (!queue_.empty() && queue_.front().at <= clock_.ticks())
            queue_.pop_front();
        ++purges;
    }

    unsigned bytesWaiting() override
    {
        unsigned n = 0;
        for (const auto& e : queue_.items)
            if (e.at <= clock_.ticks())
                ++n;
        return n;
    }



    std::size_t pendingBytes() const { return queue_.items.size(); }

    std::vector<Bytes> sent;
    int purges = 0;

private:
    struct Entry {
        std::uint32_t at;
        std::uint8_t byte;
    };
    // Kept in arrival order; entries are appended with non-decreasing times.
    struct Queue {
        std::vector<Entry> items;
        bool empty() const { return items.empty(); }
        const Entry& front() const { return items.front(); }
        void pop_front() { items.erase(items.begin()); }
        void push_back(Entry e)
        {
            auto it = items.end();
            while (it != items.begin() && (it - 1)->at > e.at)
                --it;
            items.insert(it, e);
        }
        void push_back_all(const Bytes& bytes, std::uint32_t at)
        {
            for (auto b : bytes)
                push_back({at, b});
        }
    } queue_;

    FakeClock& clock_;
};

// The SBEP checksum appended to a frame written by hand.
inline Bytes withChecksum(Bytes frame)
{
    unsigned sum = 0;
    for (auto b : frame)
        sum += b;
    frame.push_back(static_cast<std::uint8_t>(0xFF - (sum & 0xFF)));
    return frame;
}

// A frame as the writer builds it.
inline Bytes frame(int opcode, const Bytes& data)
{
    Bytes out(static_cast<std::size_t>(frameLength(opcode, static_cast<int>(data.size()))));
    buildFrame(out.data(), opcode, data.data(), static_cast<int>(data.size()));
    return out;
}

inline Bytes address3(std::uint32_t a)
{
    return {static_cast<std::uint8_t>(a >> 16), static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)};
}

inline const Bytes kAck{0x50};
inline const Bytes kNak{0x60};

inline Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace tolvan::testing

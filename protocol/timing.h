#pragma once
// Millisecond tick source, deadline timer and pauses. Header-only so that the
// serial port can pace itself without linking the protocol library.

#include <atomic>
#include <cstdint>
#include <iostream>
#include <string>

#include <time.h>

namespace tolvan {

// The clock behind every wait. Tests replace it with a FakeClock so that
// time-outs are exact and nothing really sleeps.
class TickSource {
public:
    virtual ~TickSource() = default;
    // Milliseconds, wrapping at 2^32.
    virtual std::uint32_t ticks() = 0;
    // Sleep until ticks() has advanced by at least ms from its value now.
    virtual void sleepTicks(std::uint32_t ms) = 0;
    // Sleep for ms milliseconds of real duration.
    virtual void pause(std::uint32_t ms) = 0;
};

class RealTickSource final : public TickSource {
public:
    std::uint32_t ticks() override { return static_cast<std::uint32_t>(monotonicMs()); }

    void sleepTicks(std::uint32_t ms) override
    {
        // Absolute deadline on the next millisecond boundaries: no drift, no spinning.
        const std::uint64_t targetMs = monotonicMs() + ms;
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(targetMs / 1000);
        ts.tv_nsec = static_cast<long>((targetMs % 1000) * 1000000);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
        }
    }

    void pause(std::uint32_t ms) override
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        ts.tv_sec += static_cast<time_t>(ms / 1000);
        ts.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
        if (ts.tv_nsec >= 1000000000L) {
            ts.tv_nsec -= 1000000000L;
            ts.tv_sec += 1;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
        }
    }

    static std::uint64_t monotonicMs()
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<std::uint64_t>(ts.tv_sec) * 1000u
            + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    }
};

// A clock that only moves when somebody sleeps on it (or a test advances it).
class FakeClock final : public TickSource {
public:
    explicit FakeClock(std::uint32_t start = 0) : now_(start) {}
    std::uint32_t ticks() override { return now_; }
    void sleepTicks(std::uint32_t ms) override { advance(ms == 0 ? 1 : ms); }
    void pause(std::uint32_t ms) override { advance(ms); }
    void advance(std::uint32_t ms)
    {
        now_ += ms;
        slept_ += ms;
    }
    void set(std::uint32_t t) { now_ = t; }
    std::uint64_t totalSlept() const { return slept_; }

private:
    std::uint32_t now_;
    std::uint64_t slept_ = 0;
};

namespace detail {
inline RealTickSource& realTickSource()
{
    static RealTickSource source;
    return source;
}
inline std::atomic<TickSource*>& tickSourceOverride()
{
    static std::atomic<TickSource*> source{nullptr};
    return source;
}
}  // namespace detail

inline TickSource& tickSource()
{
    TickSource* s = detail::tickSourceOverride().load();
    return s ? *s : detail::realTickSource();
}

// Installs a tick source for the lifetime of the guard.
class ScopedTickSource {
public:
    explicit ScopedTickSource(TickSource& s) : previous_(detail::tickSourceOverride().exchange(&s)) {}
    ~ScopedTickSource() { detail::tickSourceOverride().store(previous_); }
    ScopedTickSource(const ScopedTickSource&) = delete;
    ScopedTickSource& operator=(const ScopedTickSource&) = delete;

private:
    TickSource* previous_;
};

// Deadline timer on the tick counter; every time-out of the link and the
// protocol is built from it.
class TickTimer {
public:
    explicit TickTimer(long double periodSeconds) { setPeriod(periodSeconds); }

    void setPeriod(long double seconds)
    {
        periodMs = static_cast<std::int32_t>(seconds * 1000.0L);
        restart();
    }

    void restart() { startTick = markTick = tickSource().ticks(); }

    // The deadline advances from the previous deadline, not from now.
    void waitPeriods(std::int32_t k)
    {
        const std::uint32_t target = markTick + static_cast<std::uint32_t>(k) * static_cast<std::uint32_t>(periodMs);
        waitUntil(markTick, target + 1u);
        markTick = target;
    }

    // Waits by the signed distance to the deadline, so a deadline across the
    // wrap of the counter is reached after the wrap, and one that has already
    // passed ends the wait at once even when the counter wrapped since: an
    // unsigned "count below deadline" test would then wait 49 days. from is
    // where the wait was measured from; the distance alone decides.
    static void waitUntil(std::uint32_t from, std::uint32_t to)
    {
        (void)from;
        TickSource& s = tickSource();
        for (std::int32_t left = static_cast<std::int32_t>(to - s.ticks()); left > 0;
             left = static_cast<std::int32_t>(to - s.ticks()))
            s.sleepTicks(static_cast<std::uint32_t>(left));
    }

    static void waitSeconds(double seconds)
    {
        const std::uint32_t now = tickSource().ticks();
        waitUntil(now, now + static_cast<std::uint32_t>(1000.0 * seconds));
    }

    long double elapsedSeconds() const
    {
        return static_cast<long double>(tickSource().ticks() - startTick) * 0.001L;
    }

    std::uint32_t startTick = 0;
    std::uint32_t markTick = 0;
    std::int32_t periodMs = 0;
};

// Suspends the thread for a real duration (the port's pause after each block).
class delay {
public:
    void pause(unsigned milliseconds) const { tickSource().pause(milliseconds); }
};

// Owner-less error report; on Linux it goes to standard error.
class errorMsgHandler {
public:
    void show(const std::string& text) const { std::cerr << "Error: " << text << '\n'; }
};

}  // namespace tolvan

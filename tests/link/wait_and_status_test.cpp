#include <algorithm>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "link/communication_port.h"
#include "link/errors.h"
#include "link/posix_port.h"
#include "protocol/timing.h"

namespace tolvan {
namespace {

// A byte link whose input bytes become visible at scripted fake-clock times.
class ScriptedLink : public CommunicationInterface {
public:
    ScriptedLink(FakeClock& clock, std::vector<std::uint32_t> arrivals) : clock_(clock), arrivals_(std::move(arrivals)) {}

    unsigned bytesWaiting() override
    {
        ++polls;
        const std::uint32_t now = clock_.ticks();
        return static_cast<unsigned>(std::count_if(arrivals_.begin(), arrivals_.end(),
                                                   [now](std::uint32_t t) { return t <= now; }));
    }
    long double characterTime() override { return 10.0L / 9600.0L; }

    // waitForInput must look at the queue only.
    void writeWithEchoTest(const unsigned char*, unsigned) override { ADD_FAILURE() << "writeWithEchoTest"; }
    void write(const unsigned char*, unsigned) override { ADD_FAILURE() << "write"; }
    int read(unsigned char*, int) override
    {
        ADD_FAILURE() << "read";
        return 0;
    }
    void purgeInput() override { ADD_FAILURE() << "purgeInput"; }

    int polls = 0;

private:
    FakeClock& clock_;
    std::vector<std::uint32_t> arrivals_;
};

constexpr std::uint32_t kStart = 100;

struct WaitRow {
    const char* what;
    std::vector<std::uint32_t> arrivals;  // fake-clock times
    unsigned count;
    unsigned idleLimit;
    std::optional<unsigned> returns;  // empty: TimeoutOnReceive
    std::uint32_t endsAt;             // clock when it returned or raised
};

TEST(WaitForInput, IdleLimitIsOnSilenceBetweenBytes)
{
    const WaitRow rows[] = {
        {"already queued", {50, 60, 70}, 3, 1, 0u, kStart},
        {"gaps under one character", {101, 102, 103}, 3, 1, 1u, 103},
        {"a burst counts at once", {102, 102, 102}, 3, 1, 1u, 102},
        {"two-character gap before the third", {101, 102, 105}, 3, 1, std::nullopt, 103},
        {"the same gap within a larger limit", {101, 102, 105}, 3, 3, 3u, 105},
        {"the limit starts again with each byte", {102, 104, 106, 108, 110}, 5, 2, 2u, 110},
        {"nothing within ten characters", {}, 1, 10, std::nullopt, kStart + 11},
        {"the eleventh character is too late", {112}, 1, 10, std::nullopt, kStart + 11},
        {"a byte seen on the last allowed look", {111}, 1, 10, 10u, kStart + 11},
        {"limit 0 does not wait at all", {101}, 1, 0, std::nullopt, kStart},
        {"more than asked for", {101, 101, 101, 101}, 2, 1, 1u, 102},
    };
    for (const WaitRow& row : rows) {
        SCOPED_TRACE(row.what);
        FakeClock clock(kStart);
        ScopedTickSource use(clock);
        ScriptedLink link(clock, row.arrivals);
        std::optional<unsigned> result;
        try {
            result = link.waitForInput(row.count, row.idleLimit);
        } catch (const TimeoutOnReceive& e) {
            EXPECT_EQ(e.code, 6014);
        }
        EXPECT_EQ(result, row.returns);
        EXPECT_EQ(clock.ticks(), row.endsAt);
    }
}

TEST(WaitForInput, SingleByteFormWaitsForOne)
{
    FakeClock clock(kStart);
    ScopedTickSource use(clock);
    ScriptedLink link(clock, {103});
    EXPECT_EQ(link.waitForInput(5), 2u);
    EXPECT_EQ(clock.ticks(), 103u);
}

TEST(CharactersIn, WholeCharacterTimesInExtendedPrecision)
{
    FakeClock clock;
    ScriptedLink link(clock, {});
    EXPECT_EQ(link.charactersIn(0.0105), 10);
    EXPECT_EQ(link.charactersIn(2.0), 1919);
    EXPECT_EQ(link.charactersIn(0.001), 0);
    EXPECT_EQ(link.charactersIn(0.0), 0);
}

// --- line status -----------------------------------------------------------

// The code raised for a status, or 0 when nothing is raised.
int raisedCode(long status)
{
    try {
        raiseLineError(status);
    } catch (const CommunicationError& e) {
        return e.code;
    }
    return 0;
}

TEST(LineStatus, FirstBitInOrderDecides)
{
    struct Row {
        long status;
        int code;
    };
    const Row rows[] = {
        {0, 0},         {-12, 6001},    {-11, 6003},    {0x0010, 6006}, {0x0008, 6007},
        {0x0002, 6008}, {0x0004, 6009}, {0x0001, 6010}, {0x0100, 6011}, {0x0018, 6006}, {0x0006, 6008},
        {0x000C, 6007}, {0x0105, 6009}, {0x0101, 6010}, {0x0200, 6000}, {0x8000, 6000}, {0x0020, 6000},
    };
    for (const Row& row : rows)
        EXPECT_EQ(raisedCode(row.status), row.code) << "status " << row.status;
}

TEST(LineStatus, FaultCountersBecomeStatusBits)
{
    const LineFaultCounts before{3, 4, 5, 6, 0xFFFFFFFFu};
    struct Row {
        const char* what;
        LineFaultCounts now;
        long status;
    };
    const Row rows[] = {
        {"unchanged", before, 0},
        {"break", {4, 4, 5, 6, 0xFFFFFFFFu}, 0x10},
        {"framing", {3, 9, 5, 6, 0xFFFFFFFFu}, 0x08},
        {"overrun", {3, 4, 6, 6, 0xFFFFFFFFu}, 0x02},
        {"parity", {3, 4, 5, 7, 0xFFFFFFFFu}, 0x04},
        {"buffer overrun across the counter's wrap", {3, 4, 5, 6, 0}, 0x01},
        {"break with framing", {4, 5, 5, 6, 0xFFFFFFFFu}, 0x18},
        {"everything", {4, 5, 6, 7, 1}, 0x1F},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(lineStatusFromCounts(before, row.now), row.status);
    }
    // A break that comes with framing errors is reported as the break.
    EXPECT_EQ(raisedCode(lineStatusFromCounts(before, {4, 5, 5, 6, 0xFFFFFFFFu})), 6006);
}

}  // namespace
}  // namespace tolvan

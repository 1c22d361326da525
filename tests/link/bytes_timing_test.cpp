#include "protocol/bytes.h"

#include <cstring>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/timing.h"

namespace tolvan {
namespace {

// A body that tells how many of its kind are alive.
struct TrackedBody : CountedBody {
    static inline int alive = 0;
    TrackedBody() { ++alive; }
    ~TrackedBody() override { --alive; }
};

class CountedHandleTest : public ::testing::Test {
protected:
    void SetUp() override { TrackedBody::alive = 0; }
    void TearDown() override { EXPECT_EQ(TrackedBody::alive, 0) << "a body outlived its last handle"; }
};

TEST_F(CountedHandleTest, NullBodyCountsZeroAndIsHarmless)
{
    CountedHandle empty;
    EXPECT_EQ(empty.useCount(), 0);
    CountedHandle copy(empty);
    EXPECT_EQ(copy.useCount(), 0);
    copy = empty;
    EXPECT_EQ(copy.body, nullptr);
}

TEST_F(CountedHandleTest, CopiesShareTheBodyAndTheLastOneFreesIt)
{
    {
        CountedHandle first(new TrackedBody);
        EXPECT_EQ(first.useCount(), 1);
        {
            CountedHandle second(first);
            CountedHandle third(nullptr);
            third = second;
            EXPECT_EQ(first.useCount(), 3);
            EXPECT_EQ(third.body, first.body);
        }
        EXPECT_EQ(first.useCount(), 1);
        EXPECT_EQ(TrackedBody::alive, 1);
    }
    EXPECT_EQ(TrackedBody::alive, 0);
}

TEST_F(CountedHandleTest, AssignmentReleasesTheOldBody)
{
    CountedHandle a(new TrackedBody);
    CountedHandle b(new TrackedBody);
    EXPECT_EQ(TrackedBody::alive, 2);
    a = b;
    EXPECT_EQ(TrackedBody::alive, 1);
    EXPECT_EQ(a.useCount(), 2);
    a.assign(nullptr);
    EXPECT_EQ(a.useCount(), 0);
    EXPECT_EQ(b.useCount(), 1);
}

TEST_F(CountedHandleTest, SelfAssignmentKeepsASoleBodyAlive)
{
    CountedHandle only(new TrackedBody);
    CountedHandle& alias = only;
    only = alias;
    only.assign(only.body);
    EXPECT_EQ(only.useCount(), 1);
    EXPECT_EQ(TrackedBody::alive, 1);
}

// The smallest concrete message; sending is not what is tested here.
class PlainMessage : public ProtocolMessage {
public:
    explicit PlainMessage(int n) : ProtocolMessage(new ByteVectorBody(n)) {}
    void sendOnce(CommunicationInterface&) override {}
    void send(CommunicationInterface&) override {}
};

TEST(ProtocolMessage, CopiesShareBytesThatOutliveTheOriginal)
{
    auto* original = new PlainMessage(3);
    std::memcpy(original->data(), "\x01\x02\x03", 3);
    PlainMessage copy(*original);
    EXPECT_EQ(copy.data(), original->data());
    EXPECT_EQ(copy.useCount(), 2);
    delete original;
    EXPECT_EQ(copy.useCount(), 1);
    ASSERT_EQ(copy.size(), 3);
    EXPECT_EQ(std::vector<unsigned char>(copy.data(), copy.data() + 3), (std::vector<unsigned char>{1, 2, 3}));

    PlainMessage empty(0);
    EXPECT_EQ(empty.size(), 0);
    EXPECT_NE(empty.data(), nullptr);
}

TEST(BytePacking, PackBothOrders)
{
    struct Row {
        std::int32_t value;
        std::vector<unsigned char> bigEndian;
    };
    const Row rows[] = {
        {258, {1, 2}},
        {258, {0, 0, 1, 2}},
        {-1, {0xFF, 0xFF}},
        {-2, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}},
        {0x12345678, {0x00, 0x12, 0x34, 0x56, 0x78}},
        {0x12345678, {0x56, 0x78}},
        {0x7F, {0x7F}},
    };
    for (const Row& row : rows) {
        const int n = static_cast<int>(row.bigEndian.size());
        SCOPED_TRACE(::testing::Message() << row.value << " in " << n << " bytes");
        std::vector<unsigned char> big(row.bigEndian.size(), 0xAA);
        packBigEndian(row.value, big.data(), n);
        EXPECT_EQ(big, row.bigEndian);
        std::vector<unsigned char> little(row.bigEndian.size(), 0xAA);
        packLittleEndian(row.value, little.data(), n);
        EXPECT_EQ(little, std::vector<unsigned char>(row.bigEndian.rbegin(), row.bigEndian.rend()));
    }
}

TEST(BytePacking, UnpackKeepsOnlyTheLastFourBytes)
{
    struct Row {
        std::vector<unsigned char> bytes;
        std::uint32_t bigEndian;
        std::uint32_t littleEndian;
    };
    const Row rows[] = {
        {{}, 0, 0},
        {{1, 2}, 258, 0x0201},
        {{0xFF, 0xFF, 0xFF, 0xFE}, 0xFFFFFFFE, 0xFEFFFFFF},
        {{1, 2, 3, 4, 5}, 0x02030405, 0x04030201},
    };
    for (const Row& row : rows) {
        const int n = static_cast<int>(row.bytes.size());
        EXPECT_EQ(unpackBigEndian(row.bytes.data(), n), row.bigEndian) << n;
        EXPECT_EQ(unpackLittleEndian(row.bytes.data(), n), row.littleEndian) << n;
    }
    EXPECT_EQ(joinBytes(0x12, 0x34), 0x1234u);
}

TEST(HexDump, LinesOfSixteenAndTheStreamRestored)
{
    std::vector<unsigned char> bytes(17);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 15);
    const std::string full = "00 0f 1e 2d 3c 4b 5a 69 78 87 96 a5 b4 c3 d2 e1 \n";
    struct Row {
        int n;
        std::string text;
    };
    const Row rows[] = {{0, "\n"}, {1, "00 \n"}, {16, full}, {17, full + "f0 \n"}};
    for (const Row& row : rows) {
        std::ostringstream out;
        hexDump(out, bytes.data(), row.n);
        out << std::setw(3) << 7 << '|' << 255;
        EXPECT_EQ(out.str(), row.text + "  7|255") << row.n << " bytes";
    }
}

// --- tick timer on a fake clock ----------------------------------------------

class TickTimerTest : public ::testing::Test {
protected:
    FakeClock clock{1000};
    ScopedTickSource use{clock};
};

TEST_F(TickTimerTest, PeriodIsTruncatedToWholeMilliseconds)
{
    struct Row {
        long double seconds;
        std::int32_t periodMs;
    };
    const Row rows[] = {{0.0010416L, 1}, {10.0L / 9600.0L, 1}, {0.000999L, 0}, {0.0L, 0},
                        {0.0105L, 10},   {0.0019999L, 1},      {2.5L, 2500}};
    for (const Row& row : rows) {
        TickTimer timer(row.seconds);
        EXPECT_EQ(timer.periodMs, row.periodMs) << static_cast<double>(row.seconds);
        EXPECT_EQ(timer.startTick, 1000u);
        EXPECT_EQ(timer.markTick, 1000u);
    }
}

TEST_F(TickTimerTest, StepsAdvanceFromTheDeadlineNotFromTheCall)
{
    TickTimer timer(10.0L / 9600.0L);
    const std::uint32_t start = clock.ticks();
    for (std::uint32_t k = 1; k <= 5; ++k) {
        timer.waitPeriods(1);
        EXPECT_EQ(timer.markTick, start + k);
        // The first tick strictly after the new deadline.
        EXPECT_EQ(clock.ticks(), start + k + 1);
    }
}

TEST_F(TickTimerTest, SlowWorkBetweenStepsNeverShortensTheSequence)
{
    const std::uint32_t work[] = {0, 3, 0, 0, 7, 1, 0, 0, 0, 2, 0, 0};
    TickTimer timer(0.002);
    const std::uint32_t start = clock.ticks();
    std::uint32_t k = 0;
    for (std::uint32_t w : work) {
        clock.advance(w);
        timer.waitPeriods(1);
        ++k;
        EXPECT_GE(clock.ticks() - start, k * 2 + 1) << "after step " << k;
    }
    // Late steps catch up: the last one still ends on the schedule.
    EXPECT_EQ(clock.ticks() - start, k * 2 + 1);
}

TEST_F(TickTimerTest, ZeroPeriodStillWaitsPastTheMark)
{
    TickTimer timer(0.0005L);
    timer.waitPeriods(1);
    EXPECT_EQ(timer.markTick, 1000u);
    EXPECT_EQ(clock.ticks(), 1001u);
}

TEST_F(TickTimerTest, DeadlinePastTheWrapWaitsForTheCounterToWrap)
{
    struct Row {
        std::uint32_t startAt;
        std::uint32_t workBeforeWait;
        std::int32_t periods;
    };
    // Ending exactly on, or just past, the wrap, and from a clock already moved on.
    const Row rows[] = {{0xFFFFFFF0u, 0, 32}, {0xFFFFFFF0u, 5, 32}, {0xFFFFFFFFu, 0, 1}, {0xFFFFFFF0u, 0, 15}};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "start " << row.startAt << " periods " << row.periods);
        clock.set(row.startAt);
        TickTimer timer(0.001);
        clock.advance(row.workBeforeWait);
        timer.waitPeriods(row.periods);
        const std::uint32_t target = row.startAt + static_cast<std::uint32_t>(row.periods);
        EXPECT_EQ(timer.markTick, target);
        EXPECT_EQ(clock.ticks(), target + 1u);
    }
}

TEST_F(TickTimerTest, WaitUntilAfterTheCounterAlreadyWrapped)
{
    clock.set(5);
    TickTimer::waitUntil(0xFFFFFFF0u, 0x11u);
    EXPECT_EQ(clock.ticks(), 0x11u);
    TickTimer::waitUntil(0x11u, 0x11u);
    EXPECT_EQ(clock.ticks(), 0x11u);
}

TEST_F(TickTimerTest, WaitSecondsTruncatesToTicks)
{
    TickTimer::waitSeconds(0.0105);
    EXPECT_EQ(clock.ticks(), 1010u);
}

TEST_F(TickTimerTest, ElapsedSecondsIsTheModularDifference)
{
    clock.set(0xFFFFFFF0u);
    TickTimer timer(0.001);
    clock.set(16);
    EXPECT_NEAR(static_cast<double>(timer.elapsedSeconds()), 0.032, 1e-12);
    timer.restart();
    clock.advance(1500);
    EXPECT_NEAR(static_cast<double>(timer.elapsedSeconds()), 1.5, 1e-12);
}

}  // namespace
}  // namespace tolvan

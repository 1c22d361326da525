// What the fuzz targets found, replayed through the same harnesses in the
// normal build, plus every seed of fuzz/corpus (findings are kept there too).

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz/harness.h"
#include "link/errors.h"
#include "protocol/sbep_frame.h"
#include "protocol/sbep_message.h"
#include "protocol/timing.h"

namespace tolvan {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Harness = fuzz::Outcome (*)(const std::uint8_t*, std::size_t);

struct Target {
    const char* name;
    Harness run;
};

const Target kTargets[] = {
    {"frame", fuzz::runFrame},
    {"exchange", fuzz::runExchange},
    {"archive", fuzz::runArchive},
    {"com_ini", fuzz::runComIni},
};

fuzz::Outcome run(Harness harness, const Bytes& input) { return harness(input.data(), input.size()); }

class CorpusReplay : public ::testing::TestWithParam<Target> {};

TEST_P(CorpusReplay, EveryInputKeepsTheInvariants)
{
    const std::filesystem::path dir = std::filesystem::path(TOLVAN_FUZZ_CORPUS) / GetParam().name;
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const fuzz::Outcome outcome = run(GetParam().run, input);
        EXPECT_EQ(outcome.violation, "") << entry.path();
        EXPECT_NE(outcome.result, "") << entry.path();
        ++inputs;
    }
    EXPECT_GT(inputs, 0) << dir;
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusReplay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& param) { return std::string(param.param.name); });

// fuzz/corpus/frame/finding-extended-size-zero: a two-byte size of 0 gave
// frameDataLength -1, and SBEPMessage copied a frame shorter than its own
// header, so every look at the copy read past it.
TEST(FrameFinding, ExtendedSizeOfZeroCarriesNoDataAndIsRefused)
{
    const struct {
        Bytes frame;
        int totalLength;
    } cases[] = {
        // The fuzzer's input: short opcode 3, size 00 00, then bytes of no frame.
        {{0x3F, 0x00, 0x00, 0x0F, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x08, 0x09, 0x0A, 0x0F, 0x0B, 0x0C, 0x0D, 0x56},
         1},
        // Extended opcode 0: the byte after the opcode even matches the checksum.
        {{0xFF, 0x00, 0x00, 0x00}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "header 0x" << std::hex << int(c.frame[0]));
        EXPECT_EQ(frameDataLength(c.frame.data()), 0);
        EXPECT_EQ(frameTotalLength(c.frame.data()), c.totalLength);
        EXPECT_THROW(SBEPMessage{c.frame.data()}, BadMessage);
        const fuzz::Outcome outcome = run(fuzz::runFrame, c.frame);
        EXPECT_EQ(outcome.violation, "");
        EXPECT_EQ(outcome.result, "BadMessage");
    }
}

// fuzz/corpus/exchange/finding-wrap-recovery-pause: a frame sent shortly
// before the 32-bit tick counter wraps, and no acknowledgement in time. The
// recovery pause's deadline had passed before the wrap, but the counter,
// having wrapped, was "below" it: each pause waited 2^32 ms (49 days). The
// harness fails any exchange that waits longer than the protocol's limits.
TEST(ExchangeFinding, RecoveryPauseAfterTheCounterWrappedEndsAtOnce)
{
    const struct {
        const char* what;
        Bytes input;
        const char* result;
    } cases[] = {
        // The fuzzer's input: a plain frame, answered 250 ms late; the stale
        // bytes then shift the next echo so that a data byte 0x50 reads as the
        // acknowledgement, which is how that line looks to the burst reader.
        {"finding", {0x02, 0x42, 0x03, 0x50, 0x10, 0x2A, 0x19, 0xF2, 0x00, 0x98, 0x86, 0x19, 0x6E}, "ok"},
        // Key up to a silent radio, 128 ticks before the wrap.
        {"silent radio", {0x00, 0x40, 0x00, 0x00, 0x10}, "TimeoutOnReceive"},
    };
    for (const auto& c : cases) {
        const fuzz::Outcome outcome = run(fuzz::runExchange, c.input);
        EXPECT_EQ(outcome.violation, "") << c.what;
        EXPECT_EQ(outcome.result, c.result) << c.what;
    }
}

TEST(ExchangeFinding, DeadlinesAcrossTheWrap)
{
    FakeClock clock;
    ScopedTickSource scope(clock);
    const struct {
        std::uint32_t start;
        std::uint32_t workBeforeWait;
        std::int32_t periods;
        std::uint32_t slept;  // the whole wait, work included
    } cases[] = {
        {0xFFFFFF80u, 0x200, 10, 0x200},  // deadline passed before the wrap, counter wrapped since
        {0xFFFFFFFAu, 3, 10, 11},         // deadline after the wrap: wait for it
        {0xFFFFFFF0u, 0, 16, 17},         // deadline exactly on the wrap
        {0x00001000u, 0x20, 10, 0x20},    // an ordinary deadline already passed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "start 0x" << std::hex << c.start);
        clock.set(c.start);
        const std::uint64_t before = clock.totalSlept();
        TickTimer timer(0.001);
        clock.advance(c.workBeforeWait);
        timer.waitPeriods(c.periods);
        EXPECT_EQ(clock.totalSlept() - before, c.slept);
        EXPECT_EQ(timer.markTick, c.start + static_cast<std::uint32_t>(c.periods));
    }
}

}  // namespace
}  // namespace tolvan

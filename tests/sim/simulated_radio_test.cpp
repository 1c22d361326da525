#include "sim/simulated_radio.h"
#include "tests/sim/sim_line.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>

namespace tolvan::sim::testing {
namespace {

using Timing = RadioOptions::Timing;

const Bytes kSerialQuery{0xF2, 0x23, 0x01, 0xE9};
const Bytes kSoftpotOneRead{0xF4, 0x20, 0x01, 0x00, 0x00, 0xEA};
const Bytes kModelQuery = makeFrame(kOpQuery, {0x00});
// 50, then 8A with id 1 and the default temp comp 0012ABCD.
const Bytes kSoftpotOneAnswer{0x50, 0xF6, 0x8A, 0x01, 0x00, 0x12, 0xAB, 0xCD, 0xF4};
const Bytes kSerialReply = makeFrame(0xA3, Bytes{0x01} + textBytes("ABCDEFGHIJ"));
const Bytes kSerialAnswer = Bytes{0x50} + kSerialReply;
const Bytes kModelAnswer = Bytes{0x50} + makeFrame(0xA3, Bytes{0x00} + textBytes("TVR-SIM-01"));

Bytes countingBytes(std::size_t n, std::uint8_t first)
{
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

template <class Edit>
RadioOptions optionsWith(Edit edit)
{
    RadioOptions options;
    edit(options);
    return options;
}

class RadioTest : public ::testing::Test {
protected:
    void startRadio(RadioOptions options = {})
    {
        radio = std::make_unique<SimulatedRadio>(std::move(options));
        radio->start();
        line = std::make_unique<SlaveLine>(radio->devicePath());
        ASSERT_TRUE(line->isOpen());
    }

    // Sends the request and expects exactly echo (if any) + answer, then silence;
    // returns when each byte arrived.
    std::vector<Clock::time_point> expectOnLine(const Bytes& request, bool echo, const Bytes& answer)
    {
        line->send(request);
        const Bytes expected = (echo ? request : Bytes{}) + answer;
        EXPECT_EQ(line->read(expected.size()), expected);
        const auto arrivals = line->arrivals();
        EXPECT_EQ(line->readUntilQuiet(80ms), Bytes{}) << "unexpected bytes after the answer";
        return arrivals;
    }

    std::unique_ptr<SimulatedRadio> radio;
    std::unique_ptr<SlaveLine> line;
};

TEST_F(RadioTest, AnswersEachKindOfRequest)
{
    startRadio();
    struct Case {
        const char* what;
        Bytes request;
        Bytes answer;
    };
    const Case cases[] = {
        {"temp comp read", kSoftpotOneRead, kSoftpotOneAnswer},
        {"serial number query", kSerialQuery, kSerialAnswer},
        {"model number query", kModelQuery, kModelAnswer},
        {"reset", {0xF1, 0x10, 0xFE}, {0x50, 0xF1, 0x90, 0x7E}},
        {"key up", makeFrame(kOpKey, {1}), Bytes{0x50} + makeFrame(0x99)},
        {"channel", makeFrame(kOpChannel, {0x80, 0x00, 0x05}), Bytes{0x50} + makeFrame(0xA1)},
        {"test mode", makeFrame(kOpTestMode, {1, 2, 3}), Bytes{0x50} + makeFrame(0xA2)},
        {"softpot 3 starts at 0", makeFrame(kOpSoftpot, {3, 0, 0}), Bytes{0x50} + makeFrame(0x8A, {3, 0, 0, 0, 0})},
        {"softpot 16 is unknown", makeFrame(kOpSoftpot, {16, 0, 0}), Bytes{0x50} + makeFrame(0x86, {0x20})},
        {"auto tune", makeFrame(kOpAutoTune, {1}), Bytes{0x50} + makeFrame(0x8A, {1, 0xAB, 0xCD})},
        {"extended opcode nobody knows", makeFrame(0x30), Bytes{0x50} + makeFrame(0x86, {0x30})},
        {"one-byte frame", {0x70}, Bytes{0x50} + makeFrame(0x86, {0x07})},
        {"unwritten memory", readFrame(0x2000, 4), Bytes{0x50} + makeFrame(0x80, {0xFF, 0xFF, 0xFF, 0xFF})},
        {"serial number write", makeFrame(kOpSerialWrite, Bytes{0} + textBytes("KLMNOPQRST")), {0x50, 0xF1, 0x98, 0x76}},
        {"serial number reads back", kSerialQuery, Bytes{0x50} + makeFrame(0xA3, Bytes{1} + textBytes("KLMNOPQRST"))},
        {"temp comp write", makeFrame(kOpSoftpot, {1, 1, 0x00, 0x00, 0x12, 0x34}),
         Bytes{0x50} + makeFrame(0x8A, {1, 0x00, 0x00, 0x12, 0x34})},
        {"temp comp reads back", kSoftpotOneRead, Bytes{0x50} + makeFrame(0x8A, {1, 0x00, 0x00, 0x12, 0x34})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectOnLine(c.request, true, c.answer);
    }
    EXPECT_EQ(radio->serial(), "KLMNOPQRST");
    EXPECT_EQ(radio->tempComp(), 0x1234u);
    ASSERT_TRUE(radio->waitForFrames(std::size(cases), 1s));
    EXPECT_EQ(radio->frames().front().bytes, kSoftpotOneRead);
}

TEST_F(RadioTest, SerialReplyCarriesTheCharactersInBytesThreeToTwelve)
{
    startRadio(optionsWith([](RadioOptions& o) { o.serial = "Q1W2E3R4T5"; }));
    const auto result = line->exchange(kSerialQuery);
    ASSERT_EQ(result.answer.size(), 15u);
    const Bytes reply(result.answer.begin() + 1, result.answer.end());
    EXPECT_EQ(std::string(reply.begin() + 3, reply.begin() + 13), "Q1W2E3R4T5");
    EXPECT_TRUE(hasValidChecksum(reply.data()));
}

TEST_F(RadioTest, WrittenMemoryReadsBack)
{
    startRadio();
    const Bytes data = countingBytes(20, 0xA0);
    expectOnLine(writeFrame(0x001000, data), true, Bytes{0x50} + writeReply(0x84, 0x001000));
    expectOnLine(readFrame(0x001000, 20), true, Bytes{0x50} + makeFrame(0x80, data));
    // Reads straddling written and unwritten memory fill the gaps with FF.
    expectOnLine(readFrame(0x000FFE, 4), true, Bytes{0x50} + makeFrame(0x80, {0xFF, 0xFF, 0xA0, 0xA1}));
    EXPECT_EQ(radio->readMemory(0x001000, 20), data);
    EXPECT_EQ(radio->memory().size(), 20u);
}

class WriteReplyTest : public RadioTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WriteReplyTest, NamesTheConfirmedWrite)
{
    const bool pipelined = GetParam();
    startRadio(optionsWith([&](RadioOptions& o) { o.pipelined = pipelined; }));
    const std::uint32_t addresses[] = {0x001000, 0x001040, 0x001080};
    const std::vector<std::uint32_t> expected = pipelined
        ? std::vector<std::uint32_t>{0xFFFFFF, 0x001000, 0x001040, 0x001080, 0xFFFFFF}
        : std::vector<std::uint32_t>{0x001000, 0x001040, 0x001080, 0x000000, 0x000000};
    std::vector<Bytes> requests;
    for (const auto address : addresses)
        requests.push_back(writeFrame(address, countingBytes(64, static_cast<std::uint8_t>(address >> 4))));
    requests.push_back(writeFrame(0, {}));  // the closing empty write, twice
    requests.push_back(writeFrame(0, {}));
    ASSERT_EQ(requests.front().size(), 72u);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(i);
        expectOnLine(requests[i], true, Bytes{0x50} + writeReply(0x84, expected[i]));
    }
    EXPECT_EQ(radio->readMemory(0x001040, 2), (Bytes{0x04, 0x05}));
    EXPECT_EQ(radio->memory().size(), 192u);
}

INSTANTIATE_TEST_SUITE_P(Modes, WriteReplyTest, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Pipelined" : "Confirmed"; });

TEST_F(RadioTest, EveryTimingModeDeliversTheSameBytes)
{
    startRadio();
    const Bytes reference = line->exchange(kSerialQuery).answer;
    ASSERT_EQ(reference, kSerialAnswer);
    const std::size_t replyBytes = kSerialReply.size();
    for (const bool pace : {false, true}) {
        for (const Timing timing : {Timing::Burst, Timing::Late, Timing::Bytewise, Timing::Split}) {
            SCOPED_TRACE(std::string(timingName(timing)) + (pace ? " paced" : ""));
            radio->setPace(pace);
            radio->setTiming(timing, 40);
            line->send(kSerialQuery);
            ASSERT_EQ(line->read(kSerialQuery.size()), kSerialQuery);
            const Bytes answer = line->read(reference.size());
            ASSERT_EQ(answer, reference);
            const auto& at = line->arrivals();
            const double ackToReply = msBetween(at[0], at[1]);
            const double span = msBetween(at[0], at.back());
            switch (timing) {
            case Timing::Burst:
                if (!pace) {
                    EXPECT_LT(span, 20.0);
                }
                break;
            // Held back by about 40 ms; a loaded machine may send the
            // acknowledgement late while the reply keeps its due time.
            case Timing::Late: EXPECT_GE(ackToReply, 30.0); break;
            case Timing::Bytewise: EXPECT_GE(span, static_cast<double>(replyBytes) * 1.0 - 1.0); break;
            case Timing::Split: EXPECT_GE(span, 0.9); break;
            }
            if (pace) {
                EXPECT_GE(span, static_cast<double>(replyBytes) * 1.0 - 1.0);
            }
            EXPECT_EQ(line->readUntilQuiet(30ms), Bytes{});
        }
    }
}

TEST_F(RadioTest, PacingHoldsTheEchoToLineSpeed)
{
    startRadio(optionsWith([](RadioOptions& o) { o.pace = true; }));
    const Bytes request = writeFrame(0x001000, countingBytes(64, 0));
    ASSERT_EQ(request.size(), 72u);
    for (const bool pace : {true, false}) {
        SCOPED_TRACE(pace ? "paced" : "unpaced");
        radio->setPace(pace);
        line->send(request);
        ASSERT_EQ(line->read(request.size()), request);
        const double echoMs = msBetween(line->sentAt(), line->arrivals().back());
        if (pace) {
            EXPECT_GE(echoMs, 70.0);
        } else {
            EXPECT_LT(echoMs, 50.0);
        }
        EXPECT_EQ(line->read(7), Bytes{0x50} + writeReply(0x84, 0x001000));
    }
}

TEST_F(RadioTest, RefusesBadFramesWithoutActing)
{
    startRadio();
    Bytes badWrite = writeFrame(0x003000, {1, 2, 3});
    badWrite.back() ^= 0x01;
    const Bytes cases[] = {
        {0xF2, 0x23, 0x01, 0xE8},                   // checksum off by one
        badWrite,                                   // checksum wrong: nothing stored
        makeFrame(kOpMemoryWrite, {0x00, 0x10}),    // too short to hold an address
        makeFrame(kOpMemoryRead, {4, 0, 0x10}),     // read without its full address
        makeFrame(kOpSerialWrite, textBytes("ABC")),
        {0x3F, 0x00, 0x00},                         // extended size of 0
    };
    for (const auto& request : cases) {
        SCOPED_TRACE(::testing::PrintToString(request));
        expectOnLine(request, true, {0x60});
    }
    EXPECT_TRUE(radio->memory().empty());
    EXPECT_EQ(radio->serial(), "ABCDEFGHIJ");
    ASSERT_TRUE(radio->waitForFrames(std::size(cases), 1s));
    for (const auto& record : radio->frames())
        EXPECT_FALSE(record.acknowledged);
    expectOnLine(kSerialQuery, true, kSerialAnswer);
    EXPECT_TRUE(radio->frames().back().acknowledged);
}

TEST_F(RadioTest, GivesUpAFrameThatStopsArriving)
{
    startRadio();
    const Bytes head{0xFF, 0x17, 0x00, 0x44, 0x00, 0x10};  // announces 72 bytes
    line->send(head);
    EXPECT_EQ(line->read(head.size() + 1), head + Bytes{0x60});
    EXPECT_GE(msBetween(line->sentAt(), line->arrivals().back()), 15.0);
    EXPECT_EQ(radio->frameCount(), 0u);
    expectOnLine(kSerialQuery, true, kSerialAnswer);
}

struct Step {
    Bytes request;
    bool echo;
    Bytes answer;
    int minReplyDelayMs = 0;  // from the acknowledgement to the reply's first byte
};

struct FaultCase {
    const char* rule;
    std::vector<Step> steps;
    std::function<void(const SimulatedRadio&)> check;
};

const Bytes kWrite1000 = writeFrame(0x001000, countingBytes(8, 1));
const Bytes kWrite2000 = writeFrame(0x002000, {0xAA, 0x55});

std::vector<FaultCase> faultCases()
{
    const Bytes ack{0x50};
    Bytes badSerial = kSerialAnswer;
    badSerial.back() = static_cast<std::uint8_t>(badSerial.back() + 1);
    return {
        {"nak:frame=2", {{kSerialQuery, true, kSerialAnswer}, {kSerialQuery, true, {0x60}}, {kSerialQuery, true, kSerialAnswer}}, {}},
        {"nak:count=2,opcode=0x23",
         {{kSoftpotOneRead, true, kSoftpotOneAnswer}, {kSerialQuery, true, {0x60}}, {kSerialQuery, true, {0x60}},
          {kSerialQuery, true, kSerialAnswer}},
         {}},
        {"nak:opcode=0x20", {{kSerialQuery, true, kSerialAnswer}, {kSoftpotOneRead, true, {0x60}}}, {}},
        {"nak:frame=1", {{kWrite1000, true, {0x60}}},
         [](const SimulatedRadio& r) { EXPECT_TRUE(r.memory().empty()); }},
        {"bad-checksum:frame=1", {{kSerialQuery, true, badSerial}, {kSerialQuery, true, kSerialAnswer}}, {}},
        {"lost-ack:frame=1", {{kWrite1000, true, {}}, {kSerialQuery, true, kSerialAnswer}},
         [](const SimulatedRadio& r) { EXPECT_TRUE(r.memory().empty()); }},
        {"lost-reply:frame=1", {{kWrite1000, true, ack}, {kSerialQuery, true, kSerialAnswer}},
         [](const SimulatedRadio& r) { EXPECT_EQ(r.readMemory(0x001000, 2), (Bytes{1, 2})); }},
        {"late-reply:opcode=0x23,delay=300", {{kSerialQuery, true, kSerialAnswer, 300}}, {}},
        {"wrong-address", {{kSoftpotOneRead, true, kSoftpotOneAnswer}, {kWrite1000, true, ack + writeReply(0x84, 0x7F7F7F)}}, {}},
        {"wrong-id:count=1",
         {{kSerialQuery, true, kSerialAnswer}, {kSoftpotOneRead, true, ack + makeFrame(0x8A, {2, 0x00, 0x12, 0xAB, 0xCD})},
          {kSoftpotOneRead, true, kSoftpotOneAnswer}},
         {}},
        {"fail-write:address=0x1007",
         {{kWrite1000, true, ack + writeReply(0x85, 0x001007)}, {kWrite2000, true, ack + writeReply(0x84, 0x002000)}},
         [](const SimulatedRadio& r) {
             EXPECT_EQ(r.readMemory(0x001000, 1), Bytes{0xFF});
             EXPECT_EQ(r.readMemory(0x002000, 2), (Bytes{0xAA, 0x55}));
         }},
        {"fail-write:address=0x1008", {{kWrite1000, true, ack + writeReply(0x84, 0x001000)}}, {}},
        {"unsupported:opcode=0x23", {{kSerialQuery, true, ack + makeFrame(0x86, {0x23})}, {kSoftpotOneRead, true, kSoftpotOneAnswer}}, {}},
        {"silent:frame=2", {{kSerialQuery, true, kSerialAnswer}, {kSerialQuery, true, {}}, {kSoftpotOneRead, true, {}}}, {}},
        {"mute:frame=1", {{kSerialQuery, true, {}}, {kSerialQuery, false, {}}}, {}},
        {"mute", {{kSerialQuery, false, {}}}, {}},
    };
}

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.rule; }

class FaultTest : public RadioTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, ShowsOnTheLine)
{
    const FaultCase& c = GetParam();
    std::string error;
    const auto fault = FaultRule::parse(c.rule, &error);
    ASSERT_TRUE(fault) << error;
    startRadio(optionsWith([&](RadioOptions& o) { o.faults = {*fault}; }));
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i + 1));
        const Step& step = c.steps[i];
        const auto at = expectOnLine(step.request, step.echo, step.answer);
        if (step.minReplyDelayMs > 0) {
            ASSERT_GT(at.size(), step.request.size() + 1);
            EXPECT_GE(msBetween(at[step.request.size()], at[step.request.size() + 1]), step.minReplyDelayMs - 2);
        }
    }
    if (c.check)
        c.check(*radio);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultTest, ::testing::ValuesIn(faultCases()), [](const auto& p) {
    std::string name = p.param.rule;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
});

TEST_F(RadioTest, RateFaultsRepeatWithTheSeed)
{
    const auto pattern = [this](std::uint64_t seed) {
        startRadio(optionsWith([&](RadioOptions& o) {
            o.seed = seed;
            o.faults = {*FaultRule::parse("nak:rate=0.5", nullptr)};
        }));
        std::string acks;
        for (int i = 0; i < 24; ++i) {
            const auto result = line->exchange(kSerialQuery);
            EXPECT_TRUE(result.answer == kSerialAnswer || result.answer == Bytes{0x60});
            acks += result.answer.front() == 0x50 ? 'A' : 'N';
        }
        return acks;
    };
    const std::string first = pattern(7);
    EXPECT_EQ(pattern(7), first);
    EXPECT_NE(first.find('A'), std::string::npos);
    EXPECT_NE(first.find('N'), std::string::npos);
    EXPECT_NE(pattern(8), first);
}

TEST_F(RadioTest, SurvivesGarbageAndStillAnswers)
{
    startRadio();
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> chunk(1, 64);
    std::size_t sent = 0;
    std::size_t received = 0;
    while (sent < 4000) {
        Bytes bytes(static_cast<std::size_t>(chunk(random)));
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(byte(random));
        line->send(bytes);
        sent += bytes.size();
        received += line->read(4096, 1ms).size();
    }
    received += line->readUntilQuiet(150ms).size();
    EXPECT_GE(received, sent) << "every byte is echoed, answers come on top";
    EXPECT_GT(radio->frameCount(), 0u);
    expectOnLine(kModelQuery, true, kModelAnswer);
}

TEST_F(RadioTest, CloseFaultTakesTheLineDownMidFrame)
{
    startRadio(optionsWith([](RadioOptions& o) { o.faults = {*FaultRule::parse("close:after=3,opcode=0x23", nullptr)}; }));
    expectOnLine(kSoftpotOneRead, true, kSoftpotOneAnswer);
    line->send(kSerialQuery);
    EXPECT_EQ(line->read(kSerialQuery.size() + 3), kSerialQuery + Bytes(kSerialAnswer.begin(), kSerialAnswer.begin() + 3));
    EXPECT_EQ(line->read(1), Bytes{});
    EXPECT_TRUE(line->ended());
    EXPECT_TRUE(radio->lineClosed());
}

TEST_F(RadioTest, ToolMayCloseAndReopenTheDevice)
{
    startRadio();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        line = std::make_unique<SlaveLine>(radio->devicePath());
        expectOnLine(kSerialQuery, true, kSerialAnswer);
    }
    radio->stop();
    radio->start();
    line = std::make_unique<SlaveLine>(radio->devicePath());
    expectOnLine(kSoftpotOneRead, true, kSoftpotOneAnswer);
}

TEST_F(RadioTest, RecordsFramesAndWakesWaiters)
{
    startRadio();
    line->send(kSerialQuery + kWrite1000);
    ASSERT_TRUE(radio->waitForFrames(2, 2s));
    const auto records = radio->frames();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].bytes, kSerialQuery);
    EXPECT_EQ(records[1].bytes, kWrite1000);
    EXPECT_TRUE(records[1].acknowledged);
    EXPECT_LE(records[0].atMs, records[1].atMs);
    radio->clearFrames();
    EXPECT_EQ(radio->frameCount(), 0u);
    EXPECT_FALSE(radio->waitForFrames(1, 50ms));
}

TEST(RadioDump, WritesContiguousRunsSixteenBytesALine)
{
    SimulatedRadio radio(optionsWith([](RadioOptions& o) {
        o.serial = "SN01234567";
        o.tempComp = 0x00001234;
    }));
    radio.writeMemory(0x001000, countingBytes(18, 0));
    radio.writeMemory(0x002000, {0xAA, 0x55});
    radio.writeMemory(0xFFFFFF, {0x7E});
    const std::string expected =
        "# serial SN01234567\n"
        "# tempcomp 00001234\n"
        "001000: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
        "001010: 10 11\n"
        "002000: AA 55\n"
        "FFFFFF: 7E\n";
    EXPECT_EQ(radio.dumpText(), expected);
    const std::string path = ::testing::TempDir() + "radio_dump_test.txt";
    ASSERT_TRUE(radio.writeDump(path));
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), expected);
    std::remove(path.c_str());
    EXPECT_FALSE(radio.writeDump("/nonexistent-dir/dump.txt"));
}

TEST(FaultRuleParse, AcceptsTheDocumentedForms)
{
    const std::pair<const char*, const char*> good[] = {
        {"nak:frame=3", "nak:frame=3"},
        {"nak", "nak:always"},
        {"fail-write:address=0x1040", "fail-write:always,address=0x1040"},
        {"late-reply:opcode=0x23,delay=300", "late-reply:always,opcode=0x23,delay=300"},
        {"late-reply", "late-reply:always,delay=2500"},
        {"nak:rate=0.2", "nak:rate=0.2"},
        {"close:count=2,after=0", "close:count=2,after=0"},
        {"mute:always,opcode=16", "mute:always,opcode=0x10"},
    };
    for (const auto& [text, canonical] : good) {
        std::string error;
        const auto rule = FaultRule::parse(text, &error);
        ASSERT_TRUE(rule) << text << ": " << error;
        EXPECT_EQ(rule->toString(), canonical);
    }
    for (const auto kind : FaultRule::allKinds()) {
        const std::string name = FaultRule::kindName(kind);
        const auto rule = FaultRule::parse(kind == FaultRule::Kind::FailWrite ? name + ":address=1" : name, nullptr);
        ASSERT_TRUE(rule) << name;
        EXPECT_EQ(rule->kind, kind);
    }
}

TEST(FaultRuleParse, RejectsWhatItCannotMean)
{
    const char* bad[] = {
        "",           "explode",           "nak:",          "nak:frame=0",      "nak:frame=x",
        "nak:rate=1.5", "nak:rate=-0.1",   "nak:count=2,frame=3", "nak:opcode=0x100", "nak:delay=5",
        "fail-write", "fail-write:address=0x1000000", "close:after=-1", "nak:color=red", "nak:frame=3x",
    };
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(FaultRule::parse(text, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

}  // namespace
}  // namespace tolvan::sim::testing

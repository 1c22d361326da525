#include <gtest/gtest.h>

#include <sys/file.h>

#include "protocol/sbep_frame.h"
#include "recording_reporter.h"
#include "service/flows.h"
#include "sim/simulated_radio.h"

using namespace tolvan;
using tolvan::testing::RecordingReporter;

namespace {

std::vector<unsigned char> pattern(std::size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>((i * 37 + seed * 11 + 5) & 0xFF);
    return v;
}

ArchiveCheck archiveOf(std::vector<std::pair<long, std::vector<unsigned char>>> records)
{
    ArchiveCheck a;
    a.ok = true;
    for (auto& [address, data] : records) {
        ArchiveRecord r;
        r.address = address;
        r.length = static_cast<long>(data.size());
        r.data = data;
        a.totalBytes += r.length;
        a.records.push_back(std::move(r));
    }
    return a;
}

// True when the device can be opened right now (nobody holds it).
bool deviceFree(const std::string& path)
{
    try {
        cominit probe(path);
        return true;
    } catch (const PortInUseError&) {
        return false;
    }
}

class Flows : public ::testing::Test {
protected:
    void SetUp() override { radio.start(); }
    void TearDown() override { radio.stop(); }

    ConnectionFactory counted(ConnectionFactory inner)
    {
        return [this, inner] {
            ++opened;
            return inner();
        };
    }
    ConnectionFactory toRadio() { return counted(deviceConnection(radio.devicePath())); }
    ConnectionFactory nowhere() { return counted(deviceConnection("/nonexistent/tty")); }

    bool sawFrame(const std::vector<std::uint8_t>& bytes)
    {
        for (const auto& f : radio.frames())
            if (f.bytes == bytes)
                return true;
        return false;
    }

    sim::SimulatedRadio radio;
    RecordingReporter shown;
    int opened = 0;
};

const std::vector<std::uint8_t> kResetFrame{0xF1, 0x10, 0xFE};

}  // namespace

TEST_F(Flows, ProgramWritesEveryRecordReportsThenResets)
{
    const ArchiveCheck a = archiveOf({{0x1000, pattern(10, 1)}, {0x2000, pattern(190, 2)}, {0x3000, {}}});
    std::size_t framesAtBox = 0;
    shown.onMessage = [&](const std::string&) { framesAtBox = radio.frameCount(); };
    CommandFlows flows(shown, toRadio());
    const FlowResult r = flows.programCodeplug(a);
    ASSERT_TRUE(r.ok()) << r.detail;

    ASSERT_EQ(shown.messages().size(), 1u);
    EXPECT_EQ(shown.messages()[0].text, texts::kProgrammed);
    EXPECT_EQ(shown.messages()[0].caption, texts::kNote);
    EXPECT_EQ(shown.messages()[0].kind, MessageKind::Information);
    EXPECT_EQ(shown.statuses(), std::vector<std::string>{texts::kCodeplugStatus});
    EXPECT_EQ(radio.readMemory(0x1000, 10), pattern(10, 1));
    EXPECT_EQ(radio.readMemory(0x2000, 190), pattern(190, 2));

    // The reset goes out only after the technician closed the success box.
    ASSERT_TRUE(radio.waitForFrames(framesAtBox + 1, std::chrono::seconds(5)));
    EXPECT_FALSE(std::vector<std::uint8_t>(kResetFrame) == radio.frames()[framesAtBox - 1].bytes);
    EXPECT_EQ(radio.frames().back().bytes, kResetFrame);

    // Progress is the share of bytes written: 10 of 200 bytes is 5 %, not "record 1".
    const auto percents = shown.percents();
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.front(), 0);
    EXPECT_EQ(percents[1], 5);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
}

TEST_F(Flows, ProgramOfZeroRecordsStillReportsAndResets)
{
    CommandFlows flows(shown, toRadio());
    EXPECT_TRUE(flows.programCodeplug(archiveOf({})).ok());
    EXPECT_EQ(shown.messages().at(0).text, texts::kProgrammed);
    ASSERT_TRUE(radio.waitForFrames(1, std::chrono::seconds(5)));
    EXPECT_EQ(radio.frames().back().bytes, kResetFrame);
}

TEST_F(Flows, ProgramFailuresEndInTheFixedTextWithNoReset)
{
    const ArchiveCheck a = archiveOf({{0x1000, pattern(64, 1)}, {0x2000, pattern(100, 2)}});
    struct Case {
        const char* name;
        bool radioThere;
        FlowResult::Outcome outcome;
        int record;
    };
    for (const Case c : {Case{"no radio", false, FlowResult::Outcome::Refused, 0},
                         Case{"write fails in record 2", true, FlowResult::Outcome::Failed, 2}}) {
        SCOPED_TRACE(c.name);
        shown.shown.clear();
        radio.clearFrames();
        std::string error;
        radio.setFaults({*sim::FaultRule::parse("fail-write:address=0x2040", &error)});
        CommandFlows flows(shown, c.radioThere ? toRadio() : nowhere());
        const FlowResult r = flows.programCodeplug(a);
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.record, c.record);
        ASSERT_EQ(shown.messages().size(), 1u);
        EXPECT_EQ(shown.messages()[0].text, texts::kCannotProgram);
        EXPECT_EQ(shown.messages()[0].caption, texts::kError);
        EXPECT_EQ(shown.messages()[0].kind, MessageKind::Exclamation);
        EXPECT_TRUE(shown.statuses().empty());
        EXPECT_FALSE(sawFrame(kResetFrame));
        if (c.radioThere) {
            EXPECT_EQ(r.errorCode, 6206);
            EXPECT_EQ(r.address, 0x2040);
            EXPECT_NE(r.detail.find("record 2"), std::string::npos) << r.detail;
            // Frames the radio acknowledged stay written; the failed one is not.
            EXPECT_EQ(radio.readMemory(0x1000, 64), pattern(64, 1));
            EXPECT_EQ(radio.readMemory(0x2000, 64), pattern(64, 2));
        }
        EXPECT_TRUE(deviceFree(radio.devicePath())) << "the connection must be closed";
    }
}

TEST_F(Flows, RefusedArchiveSendsNothing)
{
    ArchiveCheck bad;
    bad.ok = false;
    bad.line = 4;
    bad.problem = "data line shorter than 2*L characters";
    CommandFlows flows(shown, toRadio());
    const FlowResult r = flows.programCodeplug(bad);
    EXPECT_EQ(r.outcome, FlowResult::Outcome::Refused);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(radio.frameCount(), 0u);
    EXPECT_EQ(shown.messages().at(0).text, texts::kCannotProgram);
    EXPECT_NE(r.detail.find("line 4"), std::string::npos);
}

TEST_F(Flows, ReadSerialNumberShowsItInTheStatusBar)
{
    CommandFlows flows(shown, toRadio());
    std::string serial;
    ASSERT_TRUE(flows.readSerialNumber(&serial).ok());
    EXPECT_EQ(serial, "ABCDEFGHIJ");
    EXPECT_EQ(shown.statuses(), std::vector<std::string>{"Radio Serial No. :ABCDEFGHIJ"});
    EXPECT_TRUE(shown.messages().empty());

    std::string error;
    radio.setFaults({*sim::FaultRule::parse("silent", &error)});
    shown.shown.clear();
    EXPECT_EQ(flows.readSerialNumber().outcome, FlowResult::Outcome::Failed);
    EXPECT_EQ(shown.messages().at(0).text, texts::kCannotReadSerial);
    EXPECT_TRUE(shown.statuses().empty());
}

TEST_F(Flows, TempCompReadStoresTheValueOrKeepsTheOldOne)
{
    radio.setTempComp(0x0000ABCD);
    radioStorage storage;
    CommandFlows flows(shown, toRadio());
    ASSERT_TRUE(flows.readTempComp(storage).ok());
    EXPECT_EQ(storage.getTempCompValue(), 0xABCD);
    EXPECT_EQ(CommandFlows::tempCompText(storage.getTempCompValue()), "abcd");

    std::string error;
    radio.setFaults({*sim::FaultRule::parse("unsupported", &error)});
    EXPECT_FALSE(flows.readTempComp(storage).ok());
    EXPECT_EQ(storage.getTempCompValue(), 0xABCD);
    EXPECT_EQ(shown.messages().at(0).text, texts::kTempCompNotRead);
    EXPECT_EQ(shown.messages().at(0).caption, texts::kError);
}

TEST_F(Flows, TempCompTextIsPlainLowerCaseHex)
{
    EXPECT_EQ(CommandFlows::tempCompText(0xAB), "ab");
    EXPECT_EQ(CommandFlows::tempCompText(0), "0");
    EXPECT_EQ(CommandFlows::tempCompText(static_cast<int>(0x80000001u)), "80000001");
}

TEST_F(Flows, TempCompWriteChecksTheEntryThenSendsTheBytesInTypedOrder)
{
    CommandFlows flows(shown, toRadio());
    for (const char* bad : {"12AB", "0012ABCDE", "0012ABCG"}) {
        shown.shown.clear();
        EXPECT_EQ(flows.writeTempComp(bad).outcome, FlowResult::Outcome::Refused);
        EXPECT_EQ(shown.messages().at(0).caption, texts::kNote) << bad;
    }
    EXPECT_EQ(shown.messages().at(0).text, texts::kTempCompDigits);
    EXPECT_EQ(opened, 0);

    for (const char* typed : {"0012ABCD", "0012abcd"}) {
        radio.clearFrames();
        shown.shown.clear();
        bool heldDuringBox = false;
        shown.onMessage = [&](const std::string&) { heldDuringBox = !deviceFree(radio.devicePath()); };
        ASSERT_TRUE(flows.writeTempComp(typed).ok());
        EXPECT_EQ(shown.messages().at(0).text, texts::kTempCompWritten);
        EXPECT_TRUE(heldDuringBox) << "the port stays open until the box is closed";
        ASSERT_GE(radio.frameCount(), 1u);
        const auto f = radio.frames()[0].bytes;
        EXPECT_EQ(std::vector<std::uint8_t>(f.begin() + 2, f.begin() + 8),
                  (std::vector<std::uint8_t>{0x01, 0x01, 0x00, 0x12, 0xAB, 0xCD}));
        EXPECT_EQ(radio.tempComp(), 0x0012ABCDu);
    }

    std::string error;
    radio.setFaults({*sim::FaultRule::parse("nak", &error)});
    shown.shown.clear();
    bool freeDuringBox = false;
    shown.onMessage = [&](const std::string&) { freeDuringBox = deviceFree(radio.devicePath()); };
    EXPECT_EQ(flows.writeTempComp("00000001").outcome, FlowResult::Outcome::Failed);
    EXPECT_EQ(shown.messages().at(0).text, texts::kTempCompWriteError);
    EXPECT_TRUE(freeDuringBox) << "the connection is gone before the error box";
}

TEST_F(Flows, SerialNumberProgramming)
{
    CommandFlows flows(shown, toRadio());
    EXPECT_EQ(flows.writeSerialNumber("ABCDEFGHI").outcome, FlowResult::Outcome::Refused);
    EXPECT_EQ(shown.messages().at(0).text, texts::kSerialLength);
    EXPECT_EQ(shown.messages().at(0).caption, texts::kEntryError);
    EXPECT_EQ(shown.messages().at(0).kind, MessageKind::Exclamation);
    EXPECT_EQ(opened, 0);

    shown.shown.clear();
    ASSERT_TRUE(flows.writeSerialNumber("  lower ok").ok());
    EXPECT_EQ(radio.serial(), "  lower ok");
    EXPECT_EQ(shown.messages().at(0).text, texts::kSerialProgrammed);

    shown.shown.clear();
    CommandFlows noPort(shown, nowhere());
    EXPECT_EQ(noPort.writeSerialNumber("0123456789").outcome, FlowResult::Outcome::Refused);
    EXPECT_EQ(shown.messages().at(0).text, texts::kPortUnavailable);
    EXPECT_EQ(shown.messages().at(0).caption, " WARNING");
    EXPECT_EQ(shown.messages().at(0).kind, MessageKind::Information);

    std::string error;
    radio.setFaults({*sim::FaultRule::parse("nak", &error)});
    shown.shown.clear();
    EXPECT_EQ(flows.writeSerialNumber("0123456789").outcome, FlowResult::Outcome::Failed);
    EXPECT_EQ(shown.messages().at(0).text, texts::kRadioCommunicationError);
    EXPECT_EQ(radio.serial(), "  lower ok");
}

TEST_F(Flows, VerifyNamesTheFirstDifferingAddress)
{
    const ArchiveCheck a = archiveOf({{0x100, pattern(70, 3)}, {0x400, pattern(5, 4)}});
    CommandFlows flows(shown, toRadio());
    ASSERT_TRUE(flows.programCodeplug(a).ok());
    shown.shown.clear();
    EXPECT_TRUE(flows.verifyCodeplug(a).ok());
    EXPECT_EQ(shown.messages().at(0).text, texts::kVerified);

    auto bytes = pattern(5, 4);
    bytes[3] ^= 0xFF;
    radio.writeMemory(0x400, bytes);
    shown.shown.clear();
    const FlowResult r = flows.verifyCodeplug(a);
    EXPECT_EQ(r.outcome, FlowResult::Outcome::Failed);
    EXPECT_EQ(r.address, 0x403);
    EXPECT_EQ(r.record, 2);
    EXPECT_EQ(shown.messages().at(0).text, texts::kVerifyDiffers);
}

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "archive/archive_check.h"
#include "cli/cli_texts.h"
#include "run_tool.h"
#include "service/texts.h"
#include "sim/simulated_radio.h"

using namespace tolvan;
using tolvan::testing::runTool;
using tolvan::testing::RunResult;
namespace fs = std::filesystem;

namespace {

std::vector<unsigned char> pattern(std::size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>((i * 29 + seed * 7 + 3) & 0xFF);
    return v;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tolvan-cli-XXXXXX";
        dir = mkdtemp(tmpl);
        radio.start();
        for (auto [address, data] : {std::pair{0x1000L, pattern(150, 1)}, std::pair{0x4000L, pattern(3, 2)},
                                     std::pair{0x5000L, pattern(64, 3)}}) {
            ArchiveRecord r;
            r.address = address;
            r.length = static_cast<long>(data.size());
            r.data = data;
            records.push_back(r);
        }
        archive = write("codeplug.tvn", formatArchive(records));
    }
    void TearDown() override
    {
        radio.stop();
        fs::remove_all(dir);
    }

    std::string write(const std::string& name, const std::string& text)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    RunResult tolvan(std::vector<std::string> args, const std::map<std::string, std::string>& env = {})
    {
        args.insert(args.begin(), {"--device", radio.devicePath()});
        return runTool(TOLVAN_CLI, args, dir, env);
    }
    RunResult tolvanPlain(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {})
    {
        return runTool(TOLVAN_CLI, args, dir, env);
    }

    void expectMemoryHoldsArchive()
    {
        for (const auto& r : records)
            EXPECT_EQ(radio.readMemory(static_cast<std::uint32_t>(r.address), r.data.size()), r.data) << r.address;
    }

    std::string dir;
    sim::SimulatedRadio radio;
    std::vector<ArchiveRecord> records;
    std::string archive;
};

}  // namespace

TEST_F(Cli, ProgramWithVerifyWritesResetsAndMatches)
{
    const RunResult r = tolvan({"program", archive, "--verify"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(texts::kProgrammed) + "\n" + texts::kCodeplugStatus + "\n" + texts::kVerified + "\n");
    EXPECT_TRUE(r.err.empty()) << "no progress bar when standard error is not a terminal: " << r.err;
    expectMemoryHoldsArchive();
    bool reset = false;
    for (const auto& f : radio.frames())
        reset = reset || f.bytes == std::vector<std::uint8_t>{0xF1, 0x10, 0xFE};
    EXPECT_TRUE(reset);
}

TEST_F(Cli, EachCommandPrintsItsOwnWordsAndStatus)
{
    radio.setTempComp(0x80000001u);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{"serial", "read"}, 0, "Radio Serial No. :ABCDEFGHIJ\n", ""},
        {{"tempcomp", "read"}, 0, "80000001\n", ""},
        {{"tempcomp", "write", "0012abcd"}, 0, std::string(texts::kTempCompWritten) + "\n", ""},
        {{"tempcomp", "read"}, 0, "12abcd\n", ""},
        {{"tempcomp", "write", "12AB"}, 2, "", std::string(texts::kTempCompLength) + "\n"},
        {{"serial", "write", "QRSTUVWXYZ"}, 0, std::string(texts::kSerialProgrammed) + "\n", ""},
        {{"serial", "write", "SHORT"}, 2, "", std::string(texts::kSerialLength) + "\n"},
        {{"serial", "read"}, 0, "Radio Serial No. :QRSTUVWXYZ\n", ""},
        {{"frobnicate"}, 2, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        const std::size_t before = radio.frameCount();
        const RunResult r = tolvan(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        if (!c.err.empty()) {
            EXPECT_EQ(r.err, c.err);
        }
        if (c.status == 2) {
            EXPECT_EQ(radio.frameCount(), before) << "nothing may reach the radio";
        }
    }
}

TEST_F(Cli, MalformedArchiveIsRefusedBeforeAnythingIsSent)
{
    const std::string bad = write("bad.tvn", "2\n4096\n4\n0403020\n");
    const RunResult r = tolvan({"program", bad});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "line 4")) << r.err;
    EXPECT_EQ(radio.frameCount(), 0u);

    const RunResult c = tolvanPlain({"check", bad});
    EXPECT_EQ(c.status, 2);
    const RunResult good = tolvanPlain({"check", archive});
    EXPECT_EQ(good.status, 0);
    EXPECT_TRUE(contains(good.out, "3 records, 217 bytes")) << good.out;
}

TEST_F(Cli, RadioFailureNamesTheErrorTheDeviceAndWhereItStopped)
{
    std::string error;
    radio.setFaults({*sim::FaultRule::parse("fail-write:address=0x4001", &error)});
    const RunResult r = tolvan({"program", archive});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(r.err, std::string(texts::kCannotProgram) + "\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "BadWrite (6206) on " + radio.devicePath())) << r.err;
    EXPECT_TRUE(contains(r.err, "record 2 of 3, address 0x004000")) << r.err;
}

TEST_F(Cli, BackupThenProgramRoundTrips)
{
    radio.writeMemory(0x1000, pattern(150, 9));
    radio.writeMemory(0x4000, pattern(3, 8));
    radio.writeMemory(0x5000, pattern(64, 7));
    const RunResult b = tolvan({"backup", archive, dir + "/saved.tvn"});
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(tolvan({"backup", archive, dir + "/saved.tvn"}).status, 2) << "never overwrite";

    sim::SimulatedRadio other;
    other.start();
    const RunResult p = runTool(TOLVAN_CLI, {"--device", other.devicePath(), "program", dir + "/saved.tvn", "--verify"}, dir);
    EXPECT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(other.readMemory(0x1000, 150), pattern(150, 9));
    EXPECT_EQ(other.readMemory(0x4000, 3), pattern(3, 8));
    EXPECT_EQ(other.readMemory(0x5000, 64), pattern(64, 7));
}

TEST_F(Cli, VerifyReportsTheFirstDifference)
{
    ASSERT_EQ(tolvan({"program", archive}).status, 0);
    auto changed = pattern(64, 3);
    changed[10] ^= 1;
    radio.writeMemory(0x5000, changed);
    const RunResult r = tolvan({"verify", archive});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "0x00500A")) << r.err;
}

TEST_F(Cli, TraceShowsFramesEchoesAndAcknowledgements)
{
    const RunResult r = tolvan({"--trace", dir + "/trace.txt", "serial", "read"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in(dir + "/trace.txt");
    std::stringstream text;
    text << in.rdbuf();
    const std::string t = text.str();
    EXPECT_TRUE(contains(t, ">> F2 23 01 E9\n")) << t;
    EXPECT_TRUE(contains(t, "<< F2 23 01 E9  (echo)\n")) << t;
    EXPECT_TRUE(contains(t, "<< 50\n")) << t;
    EXPECT_TRUE(contains(t, " 41 42 43 44 45 46 47 48 49 4A ")) << t;
}

TEST_F(Cli, TraceMarksRetries)
{
    std::string error;
    radio.setFaults({*sim::FaultRule::parse("nak:count=1", &error)});
    const RunResult r = tolvan({"--trace", dir + "/trace.txt", "serial", "read"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in(dir + "/trace.txt");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_TRUE(contains(text.str(), "-- retry 2 after MessageNotAcknowledged (6203)")) << text.str();
}

TEST_F(Cli, PortHeldByAnotherProgramIsRefusedWithStatusTwo)
{
    const int fd = open(radio.devicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    const RunResult r = tolvan({"serial", "read"});
    close(fd);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, texts::kCannotReadSerial)) << r.err;
    EXPECT_TRUE(contains(r.err, "PortInUseError (6005) on " + radio.devicePath())) << r.err;
    EXPECT_TRUE(contains(r.err, "held by another program")) << r.err;
    EXPECT_EQ(radio.frameCount(), 0u);
}

TEST_F(Cli, ComIniPicksThePortAndPortCommandsManageIt)
{
    const std::map<std::string, std::string> env{{"TOLVAN_COM3", radio.devicePath()}};
    RunResult r = tolvanPlain({"port"}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "not yet been configured")) << r.out;

    r = tolvanPlain({"port", "set", "3"}, env);
    EXPECT_EQ(r.status, 0) << r.err;
    std::ifstream ini(dir + "/com.ini", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "COM Port Id :3\n ");

    r = tolvanPlain({"port"}, env);
    EXPECT_EQ(r.out, "COM 3: " + radio.devicePath() + "\n");
    r = tolvanPlain({"port", "list"}, env);
    EXPECT_TRUE(contains(r.out, "* COM 3  " + radio.devicePath())) << r.out;

    r = tolvanPlain({"serial", "read"}, env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Radio Serial No. :ABCDEFGHIJ\n");

    for (const char* bad : {"0", "10", "x", "-1"})
        EXPECT_EQ(tolvanPlain({"port", "set", bad}, env).status, 2) << bad;
}

TEST_F(Cli, HelpAndVersion)
{
    const RunResult h = tolvanPlain({"--help"});
    EXPECT_EQ(h.status, 0);
    for (const char* word : {"program ARCHIVE [--verify]", "verify ARCHIVE", "backup ARCHIVE OUTPUT", "check ARCHIVE",
                             "serial write TEXT", "tempcomp write HEX", "port set N", "port list", "--device PATH",
                             "--trace FILE", "--quiet", "exit status"})
        EXPECT_TRUE(contains(h.out, word)) << word;
    EXPECT_EQ(tolvanPlain({"--version"}).out, std::string(cli::kVersion) + "\n");
    EXPECT_EQ(tolvanPlain({}).status, 2);
}

// Hostile configuration: device mappings, com.ini files and archives that are
// no such thing. Each must end in the tool's own message, a cause line and
// exit status 2, quickly, with not one frame reaching the radio.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/archive_check.h"
#include "cli/cli_texts.h"
#include "service/texts.h"
#include "sim/simulated_radio.h"
#include "tests/cli/run_tool.h"

using namespace tolvan;
using tolvan::testing::RunResult;
using tolvan::testing::runTool;
namespace fs = std::filesystem;

namespace {

// Reading a file the tool refuses must not take longer than this.
constexpr auto kRefusalLimit = std::chrono::seconds(10);
constexpr double kRefusalSeconds = 5.0;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A sparse file: large on disk as far as a reader can tell, cheap to make.
void sparse(const std::string& path, off_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

std::string binaryBytes(std::size_t n)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 167 + 13) & 0xFF);
    return bytes;
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tolvan-hostile-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        // Readable by the unprivileged user of the permission case.
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                 | fs::perms::others_read | fs::perms::others_exec);
        radio.start();
        ArchiveRecord r;
        r.address = 0x1000;
        r.length = 100;
        r.data.assign(100, 0x5A);
        write("codeplug.tvn", formatArchive({r}));
        write("com.ini", "COM Port Id :1\n ");
    }
    void TearDown() override
    {
        radio.stop();
        fs::remove_all(dir);
    }

public:
    std::string write(const std::string& name, const std::string& bytes)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return path;
    }

    RunResult tolvan(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {})
    {
        return runTool(TOLVAN_CLI, args, dir, env, kRefusalLimit);
    }

    // Exit 2, the command's own text with a cause line right beneath it, and
    // the radio untouched.
    void expectRefused(const RunResult& r, const std::string& text, const std::string& causePart,
                       const std::string& what)
    {
        SCOPED_TRACE(what);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_LT(r.seconds, kRefusalSeconds);
        EXPECT_TRUE(contains(r.err, text + "\n  cause: ")) << r.err;
        EXPECT_TRUE(contains(r.err, causePart)) << r.err;
        EXPECT_FALSE(contains(r.err, "runtime error")) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(radio.frameCount(), 0u);
        EXPECT_TRUE(radio.memory().empty());
    }

    std::string dir;
    sim::SimulatedRadio radio;
};

struct Mapping {
    std::string name;
    std::function<std::map<std::string, std::string>(Hostile&, const std::string& device)> apply;
};

const std::vector<Mapping>& mappings()
{
    static const std::vector<Mapping> all = {
        {"TOLVAN_COM1", [](Hostile&, const std::string& d) { return std::map<std::string, std::string>{{"TOLVAN_COM1", d}}; }},
        {"ports.conf", [](Hostile& h, const std::string& d) {
             h.write("ports.conf", "# hostile\nCOM1=" + d + "\n");
             return std::map<std::string, std::string>{};
         }},
    };
    return all;
}

TEST_F(Hostile, DeviceMappingToSomethingThatIsNoSerialDevice)
{
    struct Target {
        std::string name;
        std::function<std::string(Hostile&)> make;
        std::string cause;
    };
    const std::vector<Target> targets = {
        {"regular file", [](Hostile& h) { return h.write("not-a-tty", "keep these bytes\n"); }, "not a terminal"},
        {"directory", [](Hostile& h) { fs::create_directory(h.dir + "/a-dir"); return h.dir + "/a-dir"; }, ""},
        {"missing path", [](Hostile& h) { return h.dir + "/no-such-device"; }, "no such device"},
    };
    for (const auto& m : mappings()) {
        for (const auto& t : targets) {
            const std::string device = t.make(*this);
            const std::string before = fs::is_regular_file(device) ? slurp(device) : "";
            const RunResult r = tolvan({"program", "codeplug.tvn"}, m.apply(*this, device));
            expectRefused(r, texts::kCannotProgram, "PortInUseError (6005) on " + device + ": " + t.cause,
                          m.name + " names a " + t.name);
            // Refused means untouched too: nothing written into it, nothing created there.
            if (t.name == "regular file") {
                EXPECT_EQ(slurp(device), before);
            } else if (t.name == "directory") {
                EXPECT_TRUE(fs::is_empty(device));
            } else {
                EXPECT_FALSE(fs::exists(fs::symlink_status(device)));
            }
            fs::remove(dir + "/ports.conf");
        }
    }
}

TEST_F(Hostile, DeviceWithoutPermissionNamesUserAndGroup)
{
    std::vector<std::string> prefix;
    std::string user;
    if (::geteuid() == 0) {
        // Root opens any device: the refusal needs an ordinary user.
        if (::access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "running as root and no /usr/bin/setpriv to drop privileges: case skipped";
        prefix = {"--reuid=65534", "--regid=65534", "--clear-groups", TOLVAN_CLI};
        user = "nobody";
    } else {
        ASSERT_EQ(::chmod(radio.devicePath().c_str(), 0), 0);
    }
    for (const auto& m : mappings()) {
        std::vector<std::string> args = prefix;
        args.insert(args.end(), {"serial", "read"});
        const auto env = m.apply(*this, radio.devicePath());
        const RunResult r = prefix.empty() ? tolvan({"serial", "read"}, env)
                                           : runTool("/usr/bin/setpriv", args, dir, env, kRefusalLimit);
        expectRefused(r, texts::kCannotReadSerial, "PortInUseError (6005) on " + radio.devicePath(),
                      m.name + " names a device without permission");
        EXPECT_TRUE(contains(r.err, "may not open " + radio.devicePath() + ", which belongs to group")) << r.err;
        EXPECT_TRUE(contains(r.err, "sudo usermod -aG")) << r.err;
        if (!user.empty()) {
            EXPECT_TRUE(contains(r.err, "user " + user + " ")) << r.err;
        }
        fs::remove(dir + "/ports.conf");
    }
}

TEST_F(Hostile, ComIniThatNamesNoPort)
{
    struct Case {
        std::string name;
        std::function<void(Hostile&)> make;
        std::string cause;
    };
    const std::vector<Case> cases = {
        {"empty", [](Hostile& h) { h.write("com.ini", ""); }, "names no COM port 1 to 9"},
        {"binary", [](Hostile& h) { h.write("com.ini", binaryBytes(4096)); }, "names no COM port 1 to 9"},
        {"50 MB", [](Hostile& h) { sparse(h.dir + "/com.ini", 50L << 20); }, "names no COM port 1 to 9"},
        {"a directory",
         [](Hostile& h) {
             fs::remove(h.dir + "/com.ini");
             fs::create_directory(h.dir + "/com.ini");
         },
         "cannot be read"},
    };
    // The radio is COM 1 (and, for a com.ini read as port 0, nothing is COM 0):
    // a tool that guessed a port would reach it.
    const std::map<std::string, std::string> env{{"TOLVAN_COM1", radio.devicePath()}};
    for (const auto& c : cases) {
        c.make(*this);
        const RunResult r = tolvan({"program", "codeplug.tvn"}, env);
        expectRefused(r, texts::kCannotProgram, "com.ini in " + dir + " " + c.cause, "com.ini " + c.name);
        EXPECT_TRUE(contains(r.err, "tolvan port set N")) << r.err;
        fs::remove_all(dir + "/com.ini");
    }
}

TEST_F(Hostile, ArchiveThatIsNoArchive)
{
    struct Case {
        std::string name;
        std::function<std::string(Hostile&)> make;
        std::string cause;
    };
    const std::vector<Case> cases = {
        {"a directory", [](Hostile& h) { fs::create_directory(h.dir + "/dir.tvn"); return h.dir + "/dir.tvn"; },
         "Is a directory"},
        {"empty", [](Hostile& h) { return h.write("empty.tvn", ""); }, "empty"},
        {"binary", [](Hostile& h) { return h.write("binary.tvn", binaryBytes(8192)); }, "line 1"},
        {"100 MB", [](Hostile& h) { sparse(h.dir + "/huge.tvn", 100L << 20); return h.dir + "/huge.tvn"; }, ""},
        {"lines of 1 MB",
         [](Hostile& h) {
             std::string line(1 << 20, '7');
             return h.write("long.tvn", "1\n" + line + "\n" + line + "\n" + line + "\n");
         },
         "line 2"},
    };
    for (const auto& c : cases) {
        const std::string path = c.make(*this);
        for (const char* command : {"program", "verify", "check"}) {
            const RunResult r = tolvan({"--device", radio.devicePath(), command, path});
            char text[512];
            std::snprintf(text, sizeof text, cli::kArchiveBad, path.c_str());
            expectRefused(r, text, c.cause, std::string(command) + " of an archive that is " + c.name);
        }
    }
}

}  // namespace

#include "sim/simulated_radio.h"
#include "tests/sim/sim_line.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

namespace tolvan::sim::testing {
namespace {

// A run of tolvan-radiosim with its standard output and error on pipes.
class Program {
public:
    explicit Program(const std::vector<std::string>& args)
    {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe failed";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all{TOLVAN_RADIOSIM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&pid_, TOLVAN_RADIOSIM, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (rc != 0) {
            ADD_FAILURE() << "cannot start " << TOLVAN_RADIOSIM;
            pid_ = -1;
        }
    }
    ~Program()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {out_, err_})
            if (fd >= 0)
                ::close(fd);
    }

    // The first line of standard output, without its newline.
    std::string firstLine(std::chrono::milliseconds timeout = 5000ms)
    {
        const auto deadline = Clock::now() + timeout;
        while (out_ >= 0 && stdout_.find('\n') == std::string::npos && pump(deadline)) {
        }
        return stdout_.substr(0, stdout_.find('\n'));
    }

    // Collects the output until the program closes it, then its exit code (-1: no clean exit in time).
    int exitCode(std::chrono::milliseconds timeout = 5000ms)
    {
        const auto deadline = Clock::now() + timeout;
        while ((out_ >= 0 || err_ >= 0) && pump(deadline)) {
        }
        if (out_ >= 0 || err_ >= 0 || pid_ <= 0)
            return -1;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void signal(int sig) const { ::kill(pid_, sig); }
    const std::string& out() const { return stdout_; }
    const std::string& err() const { return stderr_; }

private:
    // One poll of both pipes; false once the deadline has passed.
    bool pump(Clock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0)
            return false;
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left) + 1) <= 0)
            return Clock::now() < deadline;
        const std::pair<int*, std::string*> streams[] = {{&out_, &stdout_}, {&err_, &stderr_}};
        for (std::size_t i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            const ssize_t n = ::read(*streams[i].first, buffer, sizeof buffer);
            if (n > 0) {
                streams[i].second->append(buffer, static_cast<std::size_t>(n));
            } else {
                ::close(*streams[i].first);
                *streams[i].first = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string stdout_;
    std::string stderr_;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(RadioSimProgram, ServesUntilTerminatedAndWritesTheDump)
{
    std::string dirTemplate = ::testing::TempDir() + "radiosim-XXXXXX";
    ASSERT_NE(::mkdtemp(dirTemplate.data()), nullptr);
    const std::string link = dirTemplate + "/radio";
    const std::string dump = dirTemplate + "/dump.txt";

    Program program({"--link", link, "--serial", "KLMNOPQRST", "--dump", dump, "--timing=split", "--seed", "5",
                     "--fault", "nak:frame=1"});
    const std::string device = program.firstLine();
    ASSERT_FALSE(device.empty()) << program.err();
    char target[512] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), device);

    {
        SlaveLine line(link);
        const Bytes query{0xF2, 0x23, 0x01, 0xE9};
        EXPECT_EQ(line.exchange(query).answer, Bytes{0x60});
        const auto result = line.exchange(query);
        EXPECT_EQ(result.echo, query);
        EXPECT_EQ(result.answer, Bytes{0x50} + makeFrame(0xA3, Bytes{0x01} + textBytes("KLMNOPQRST")));
        EXPECT_EQ(line.exchange(writeFrame(0x001000, {0xAA, 0x55})).answer, Bytes{0x50} + writeReply(0x84, 0x001000));
    }

    program.signal(SIGTERM);
    EXPECT_EQ(program.exitCode(), 0) << program.err();
    const std::string text = readFile(dump);
    EXPECT_NE(text.find("# serial KLMNOPQRST\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n001000: AA 55\n"), std::string::npos) << text;
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "link left behind";
    std::remove(dump.c_str());
    ::rmdir(dirTemplate.c_str());
}

TEST(RadioSimProgram, RefusesBadOptions)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--timing", "slow"}, {"--fault", "explode"}, {"--fault", "nak:frame=0"}, {"--serial", "SHORT"},
        {"--bogus"},          {"--late-ms"},          {"--tempcomp", "xyz"},      {"--pace=1"},
        {"stray"},            {"--seed", "-3"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        Program program(args);
        EXPECT_EQ(program.exitCode(), 2);
        EXPECT_FALSE(program.err().empty());
        EXPECT_TRUE(program.out().empty());
    }
}

TEST(RadioSimProgram, HelpDocumentsEveryOptionAndFault)
{
    Program program({"--help"});
    EXPECT_EQ(program.exitCode(), 0);
    const std::string& help = program.out();
    for (const char* option : {"--link", "--serial", "--tempcomp", "--pipelined", "--pace", "--timing", "--late-ms",
                               "--seed", "--fault", "--dump", "--help", "burst", "late", "bytewise", "split",
                               "frame=N", "count=K", "rate=P", "always", "opcode=X", "delay=MS", "address=X", "after=K"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    for (const auto kind : FaultRule::allKinds())
        EXPECT_NE(help.find(std::string("    ") + FaultRule::kindName(kind) + " "), std::string::npos)
            << FaultRule::kindName(kind);
}

}  // namespace
}  // namespace tolvan::sim::testing

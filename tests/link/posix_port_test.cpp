#include "link/posix_port.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/errors.h"
#include "link/line_trace.h"
#include "protocol/timing.h"

namespace tolvan {
namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// Polls a condition until it holds or the limit passes.
bool eventually(const std::function<bool()>& condition, milliseconds limit = milliseconds(3000))
{
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

// A pseudo-terminal pair: the port opens the slave, the test plays the radio on the master.
class Pty {
public:
    Pty()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) != 0)
            return;
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        slave_ = name;
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& slave() const { return slave_; }
    int master() const { return master_; }

    void send(const Bytes& bytes)
    {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // What the port put on the line, up to n bytes within the limit.
    Bytes receive(std::size_t n, milliseconds limit = milliseconds(3000))
    {
        Bytes got;
        const auto deadline = Clock::now() + limit;
        while (got.size() < n && Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0)
                continue;
            unsigned char buffer[4096];
            const ssize_t r = ::read(master_, buffer, std::min(sizeof buffer, n - got.size()));
            if (r > 0)
                got.insert(got.end(), buffer, buffer + r);
        }
        return got;
    }

    void closeMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slave_;
};

class RecordingTrace : public LineTrace {
public:
    RecordingTrace() { setLineTrace(this); }
    ~RecordingTrace() override { setLineTrace(nullptr); }
    void sent(const unsigned char* b, std::size_t n) override { sentBytes.insert(sentBytes.end(), b, b + n); }
    void received(const unsigned char* b, std::size_t n) override
    {
        receivedBytes.insert(receivedBytes.end(), b, b + n);
    }
    void event(const std::string&) override {}
    Bytes sentBytes;
    Bytes receivedBytes;
};

class PortOnPty : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()) << "no pseudo-terminal available"; }

    std::unique_ptr<PosixCommunicationPort> open(int echoTest = 0)
    {
        return std::make_unique<PosixCommunicationPort>(pty.slave(), 9600u, 0, 8u, 0, echoTest);
    }

    // Bytes from the radio, once the port sees all of them.
    void arrive(PosixCommunicationPort& port, const Bytes& bytes)
    {
        const unsigned before = port.bytesWaiting();
        pty.send(bytes);
        ASSERT_TRUE(eventually([&] { return port.bytesWaiting() == before + bytes.size(); }))
            << "queued " << port.bytesWaiting();
    }

    Pty pty;
};

// The reason and the code of a failed construction.
std::optional<std::string> openFailure(const std::function<void()>& construct)
{
    try {
        construct();
    } catch (const PortInUseError& e) {
        EXPECT_EQ(e.code, 6005);
        return PosixCommunicationPort::lastOpenFailure();
    }
    return std::nullopt;
}

TEST_F(PortOnPty, OpensRawAtTheFixedLineSettings)
{
    auto port = open();
    EXPECT_EQ(port->devicePath(), pty.slave());
    EXPECT_EQ(port->portNumber(), 0);
    EXPECT_EQ(PosixCommunicationPort::lastOpenFailure(), "");

    // The master reports the slave's settings.
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(PortOnPty, SettersAlwaysEndAtTheFixedLine)
{
    struct Row {
        const char* what;
        std::function<void(PosixCommunicationPort&)> change;
        bool raisesCharacterSize;
        int parityAfter;
        int stopBitsAfter;
    };
    const Row rows[] = {
        {"baud 19200", [](auto& p) { p.setBaudRate(19200); }, false, 0, 0},
        {"even parity", [](auto& p) { p.setParity(2); }, false, 0, 0},
        {"unknown parity", [](auto& p) { p.setParity(7); }, false, 0, 0},
        {"two stop bits", [](auto& p) { p.setStopBits(2); }, false, 0, 0},
        {"7 data bits", [](auto& p) { p.setByteSize(7); }, false, 0, 0},
        {"4 data bits", [](auto& p) { p.setByteSize(4); }, false, 0, 0},
        {"3 data bits", [](auto& p) { p.setByteSize(3); }, true, 0, 0},
        {"9 data bits", [](auto& p) { p.setByteSize(9); }, true, 0, 0},
        {"configure all", [](auto& p) { p.configure(19200, 1, 7, 1); }, false, 0, 0},
        // The parity is stored before the size check; stop bits and the apply never happen.
        {"configure with 9 bits", [](auto& p) { p.configure(19200, 2, 9, 2); }, true, 2, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto port = open();
        bool raised = false;
        try {
            row.change(*port);
        } catch (const CharacterSizeSettingError& e) {
            raised = e.code == 6003;
        }
        EXPECT_EQ(raised, row.raisesCharacterSize);
        EXPECT_EQ(port->baudRate(), 9600u);
        EXPECT_EQ(port->parity(), row.parityAfter);
        EXPECT_EQ(port->byteSize(), 8);
        EXPECT_EQ(port->stopBits(), row.stopBitsAfter);
        termios t{};
        ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
        EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    }
    auto port = open();
    EXPECT_EQ(port->bitsPerCharacter(), 10.0);
    EXPECT_EQ(port->characterTime(), 10.0L / 9600.0L);
    EXPECT_EQ(port->charactersIn(2.0), 1919);
}

TEST_F(PortOnPty, OpenFailuresRaisePortInUseAndSayWhy)
{
    char fileName[] = "/tmp/tolvan-not-a-tty-XXXXXX";
    const int fileFd = mkstemp(fileName);
    ASSERT_GE(fileFd, 0);
    ::close(fileFd);

    auto holder = open();
    EXPECT_EQ(openFailure([&] { open(); }), "held by another program");
    EXPECT_EQ(openFailure([] { PosixCommunicationPort("/dev/tolvan-no-such-port", 9600, 0, 8, 0, 0); }),
              "no such device");
    EXPECT_EQ(PosixCommunicationPort::lastOpenErrno(), ENOENT);
    EXPECT_EQ(openFailure([&] { PosixCommunicationPort(std::string(fileName), 9600, 0, 8, 0, 0); }),
              "not a terminal");
    EXPECT_EQ(PosixCommunicationPort::lastOpenErrno(), ENOTTY);

    setenv("TOLVAN_COM7", "/dev/tolvan-no-such-port", 1);
    EXPECT_EQ(openFailure([] { PosixCommunicationPort(7, 9600, 0, 8, 0, 0); }), "no such device");
    unsetenv("TOLVAN_COM7");
    ::unlink(fileName);
}

TEST_F(PortOnPty, ComNumberMapsToTheDevice)
{
    setenv("TOLVAN_COM7", pty.slave().c_str(), 1);
    PosixCommunicationPort port(7, 9600, 0, 8, 0, 0);
    unsetenv("TOLVAN_COM7");
    EXPECT_EQ(port.portNumber(), 7);
    EXPECT_EQ(port.devicePath(), pty.slave());
}

// Descriptors this process holds.
std::size_t openDescriptors()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

TEST_F(PortOnPty, DeviceIsFreeAgainAfterCloseAndAfterAFailedConstruction)
{
    const std::size_t before = openDescriptors();
    open().reset();
    EXPECT_NO_THROW(open());
    // Fails after the open: the descriptor and its lock must not leak.
    EXPECT_THROW(PosixCommunicationPort(pty.slave(), 9600, 0, 3, 0, 0), CharacterSizeSettingError);
    EXPECT_NO_THROW(open());
    EXPECT_EQ(openDescriptors(), before);
    // Nothing holds the device once the last port is gone.
    const int fd = ::open(pty.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0) << std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
}

TEST_F(PortOnPty, QueueCountAndPurge)
{
    auto port = open();
    EXPECT_EQ(port->bytesWaiting(), 0u);
    arrive(*port, {1, 2, 3, 4, 5});
    EXPECT_EQ(port->bytesWaiting(), 5u);
    port->purgeInput();
    EXPECT_EQ(port->bytesWaiting(), 0u);
    unsigned char buffer[8] = {};
    EXPECT_EQ(port->read(buffer, 8), 0);
}

TEST_F(PortOnPty, ReadOnAnEmptyQueueTakesAboutOneMillisecondPerByte)
{
    auto port = open();
    for (int count : {1, 20, 100}) {
        unsigned char buffer[100];
        std::memset(buffer, 0xEE, sizeof buffer);
        const auto start = Clock::now();
        EXPECT_EQ(port->read(buffer, count), 0);
        const long long took = msSince(start);
        EXPECT_GE(took, count - 1) << count;
        EXPECT_LT(took, count + 200) << count;
        EXPECT_EQ(buffer[0], 0x14);
    }
}

TEST_F(PortOnPty, ReadReturnsWhatCameWithoutWaitingOutTheTotal)
{
    RecordingTrace trace;
    auto port = open();
    // Every byte that software flow control or CR mapping would touch.
    const Bytes sent = {0x11, 0x13, 0x0D, 0x0A, 0x03, 0x1A, 0x7F, 0x00, 0xFF};
    arrive(*port, sent);
    unsigned char buffer[600] = {};
    const auto start = Clock::now();
    const int got = port->read(buffer, 500);
    EXPECT_LT(msSince(start), 400) << "waited for the total time-out despite a quiet line";
    ASSERT_EQ(got, static_cast<int>(sent.size()));
    EXPECT_EQ(Bytes(buffer, buffer + got), sent);
    EXPECT_EQ(trace.receivedBytes, sent);

    arrive(*port, {1, 2, 3, 4, 5});
    EXPECT_EQ(port->read(buffer, 3), 3);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(port->bytesWaiting(), 2u);
    EXPECT_EQ(port->read(buffer, 10), 2);
    EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{4, 5}));
}

TEST_F(PortOnPty, WriteTakesLineTimeAndThePause)
{
    RecordingTrace trace;
    auto port = open();
    Bytes frame(96);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<unsigned char>(0x0A + i);
    const auto start = Clock::now();
    port->write(frame.data(), static_cast<unsigned>(frame.size()));
    const long long took = msSince(start);
    // 96 characters of 10/9600 s is 100 ms, then 30 ms; ticks may start late in their millisecond.
    EXPECT_GE(took, 129);
    EXPECT_LT(took, 1500);
    EXPECT_EQ(pty.receive(frame.size()), frame);
    EXPECT_EQ(trace.sentBytes, frame);
}

TEST_F(PortOnPty, WritePacesOnTheInstalledClock)
{
    auto port = open();
    FakeClock clock(0xFFFFFFC0u);  // the line time crosses the counter's wrap
    ScopedTickSource use(clock);
    const Bytes frame(96, 0x55);
    port->write(frame.data(), static_cast<unsigned>(frame.size()));
    EXPECT_EQ(clock.totalSlept(), 100u + 30u);
    EXPECT_EQ(pty.receive(frame.size()), frame);

    const unsigned char one = 0x42;
    port->write(&one, 1);
    EXPECT_EQ(clock.totalSlept(), 130u + 2u + 30u);
}

TEST_F(PortOnPty, EchoTestComparesWhatComesBack)
{
    const Bytes frame = {0xF1, 0x02, 0x13, 0x11, 0x0D};
    struct Row {
        const char* what;
        int echoTest;
        Bytes echo;
        int raises;  // error code, 0 for none
        unsigned leftQueued;
    };
    const Row rows[] = {
        {"faithful echo", 1, frame, 0, 0},
        {"a bit flipped on the bus", 1, {0xF1, 0x02, 0x13, 0x51, 0x0D}, 6013, 0},
        {"echo cut short", 1, {0xF1, 0x02, 0x13}, 6014, 3},
        {"no echo", 1, {}, 6014, 0},
        {"echo test off reads nothing", 0, frame, 0, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto port = open(row.echoTest);
        // The echo is queued ahead: the port must not purge before comparing.
        if (!row.echo.empty())
            arrive(*port, row.echo);
        int code = 0;
        try {
            port->writeWithEchoTest(frame.data(), static_cast<unsigned>(frame.size()));
        } catch (const CommunicationError& e) {
            code = e.code;
        }
        EXPECT_EQ(code, row.raises);
        EXPECT_EQ(pty.receive(frame.size()), frame);
        EXPECT_EQ(port->bytesWaiting(), row.leftQueued);
        port->purgeInput();
    }
}

TEST_F(PortOnPty, FarEndGoneEndsReadsAndRefusesWrites)
{
    auto port = open();
    pty.closeMaster();
    unsigned char buffer[50];
    const auto start = Clock::now();
    EXPECT_EQ(port->read(buffer, 50), 0);
    EXPECT_LT(msSince(start), 250);
    EXPECT_EQ(buffer[0], 0x14);
    const unsigned char byte = 0x01;
    EXPECT_THROW(port->write(&byte, 1), GeneralCommunicationError);
}

TEST_F(PortOnPty, StalledLineRaisesOutputBufferFullInsteadOfHanging)
{
    auto port = open();
    // Nobody reads the master: the pseudo-terminal's buffers fill up and stay full.
    const Bytes flood(4 * 1024 * 1024, 0x55);
    const auto start = Clock::now();
    EXPECT_THROW(port->write(flood.data(), static_cast<unsigned>(flood.size())), OutputBufferFull);
    const long long took = msSince(start);
    EXPECT_GE(took, PosixCommunicationPort::kOutputStallMs - 50);
    EXPECT_LT(took, PosixCommunicationPort::kOutputStallMs + 10000);
}

}  // namespace
}  // namespace tolvan

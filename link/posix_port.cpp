#include "link/posix_port.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include "link/device_map.h"
#include "link/errors.h"
#include "link/line_trace.h"
#include "protocol/timing.h"

namespace tolvan {

namespace {

// A status with none of the mapped fault bits: the refusal itself is the fault.
constexpr long kModeNotSupported = 0x8000;
constexpr std::int64_t kNsPerMs = 1000000;
// The read ends when the line is this quiet after a byte.
constexpr std::int64_t kReadIntervalNs = 1 * kNsPerMs;
constexpr unsigned kPauseAfterWriteMs = 30;

thread_local std::string t_lastOpenFailure;
thread_local int t_lastOpenErrno = 0;

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Waits for events until an absolute deadline; 0 when it passed, -1 on failure.
int pollUntil(int fd, short events, std::int64_t deadlineNs, short& revents)
{
    for (;;) {
        const std::int64_t left = deadlineNs - monotonicNs();
        if (left <= 0)
            return 0;
        timespec rel{};
        rel.tv_sec = static_cast<time_t>(left / 1000000000);
        rel.tv_nsec = static_cast<long>(left % 1000000000);
        pollfd p{fd, events, 0};
        const int r = ppoll(&p, 1, &rel, nullptr);
        if (r < 0 && errno == EINTR)
            continue;
        revents = p.revents;
        return r;
    }
}

std::string describeOpenErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return "no such device";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EBUSY:
    case EWOULDBLOCK:
        return "held by another program";
    case ENOTTY:
        return "not a terminal";
    default:
        return std::strerror(error);
    }
}

[[noreturn]] void failOpen(int error, std::string why)
{
    t_lastOpenErrno = error;
    t_lastOpenFailure = std::move(why);
    throw PortInUseError();
}

bool readFaultCounts(int fd, LineFaultCounts& counts)
{
#if defined(__linux__) && defined(TIOCGICOUNT)
    serial_icounter_struct icount{};
    if (ioctl(fd, TIOCGICOUNT, &icount) != 0)
        return false;
    counts.breaks = static_cast<std::uint32_t>(icount.brk);
    counts.framing = static_cast<std::uint32_t>(icount.frame);
    counts.overrun = static_cast<std::uint32_t>(icount.overrun);
    counts.parity = static_cast<std::uint32_t>(icount.parity);
    counts.bufferOverrun = static_cast<std::uint32_t>(icount.buf_overrun);
    return true;
#else
    (void)fd;
    (void)counts;
    return false;
#endif
}

unsigned baudFromSpeed(speed_t speed)
{
    static const struct {
        speed_t speed;
        unsigned baud;
    } table[] = {{B1200, 1200},     {B2400, 2400},     {B4800, 4800},   {B9600, 9600},
                 {B19200, 19200},   {B38400, 38400},   {B57600, 57600}, {B115200, 115200},
                 {B230400, 230400}};
    for (const auto& row : table)
        if (row.speed == speed)
            return row.baud;
    return 0;
}

}  // namespace

long lineStatusFromCounts(const LineFaultCounts& before, const LineFaultCounts& now)
{
    long status = 0;
    if (now.breaks != before.breaks)
        status |= 0x0010;
    if (now.framing != before.framing)
        status |= 0x0008;
    if (now.overrun != before.overrun)
        status |= 0x0002;
    if (now.parity != before.parity)
        status |= 0x0004;
    if (now.bufferOverrun != before.bufferOverrun)
        status |= 0x0001;
    return status;
}

// --- descriptor -------------------------------------------------------------

void PosixCommunicationPort::Device::open(const std::string& path)
{
    t_lastOpenFailure.clear();
    t_lastOpenErrno = 0;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        failOpen(error, describeOpenErrno(error));
    }
    if (!isatty(fd)) {
        const int error = errno;
        ::close(fd);
        failOpen(error, "not a terminal");
    }
    // The lock keeps out other programs, root included; TIOCEXCL only non-root ones.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        failOpen(error, describeOpenErrno(error));
    }
    ioctl(fd, TIOCEXCL);
    fd_ = fd;
}

PosixCommunicationPort::Device::~Device()
{
    if (fd_ < 0)
        return;
    // The exclusive flag outlives this descriptor while a pty's far end stays open.
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    ::close(fd_);
}

// --- construction -----------------------------------------------------------

PosixCommunicationPort::PosixCommunicationPort(int portNumber, unsigned baudRate, int parity, unsigned byteSize,
                                               int stopBits, int echo)
    : CommunicationPort(echo), devicePath_(comDevicePath(portNumber)), portNumber_(portNumber)
{
    openAndConfigure(baudRate, parity, byteSize, stopBits);
}

PosixCommunicationPort::PosixCommunicationPort(const std::string& devicePath, unsigned baudRate, int parity,
                                               unsigned byteSize, int stopBits, int echo)
    : CommunicationPort(echo), devicePath_(devicePath), portNumber_(0)
{
    openAndConfigure(baudRate, parity, byteSize, stopBits);
}

void PosixCommunicationPort::openAndConfigure(unsigned baudRate, int parity, unsigned byteSize, int stopBits)
{
    device_.open(devicePath_);
    if (tcgetattr(device_.fd(), &lineState_) != 0)
        raiseRefusal();
    baudRate_ = baudFromSpeed(cfgetospeed(&lineState_));
    parity_ = (lineState_.c_cflag & PARENB) ? ((lineState_.c_cflag & PARODD) ? 1 : 2) : 0;
    switch (lineState_.c_cflag & CSIZE) {
    case CS5: byteSize_ = 5; break;
    case CS6: byteSize_ = 6; break;
    case CS7: byteSize_ = 7; break;
    default: byteSize_ = 8; break;
    }
    stopBits_ = (lineState_.c_cflag & CSTOPB) ? 2 : 0;
    hasCounters_ = readFaultCounts(device_.fd(), counted_);
    configure(baudRate, parity, byteSize, stopBits);
}

// --- settings ---------------------------------------------------------------

void PosixCommunicationPort::storeBaudRate(unsigned /*rate*/) { baudRate_ = 9600; }

void PosixCommunicationPort::storeParity(int code)
{
    if (code >= 0 && code <= 2)
        parity_ = code;
}

void PosixCommunicationPort::storeByteSize(unsigned bits)
{
    if (bits < 4 || bits > 8)
        throw CharacterSizeSettingError();
    byteSize_ = 8;
}

void PosixCommunicationPort::storeStopBits(int code)
{
    if (code >= 0 && code <= 2)
        stopBits_ = code;
}

void PosixCommunicationPort::configure(unsigned baudRate, int parity, unsigned byteSize, int stopBits)
{
    storeBaudRate(baudRate);
    storeParity(parity);
    storeByteSize(byteSize);
    storeStopBits(stopBits);
    applyLineState();
}

void PosixCommunicationPort::setBaudRate(unsigned rate)
{
    storeBaudRate(rate);
    applyLineState();
}

void PosixCommunicationPort::setParity(int code)
{
    storeParity(code);
    applyLineState();
}

void PosixCommunicationPort::setByteSize(unsigned bits)
{
    storeByteSize(bits);
    applyLineState();
}

void PosixCommunicationPort::setStopBits(int code)
{
    storeStopBits(code);
    applyLineState();
}

double PosixCommunicationPort::bitsPerCharacter()
{
    const double stop = stopBits_ == 1 ? 1.5 : stopBits_ == 2 ? 2.0 : 1.0;
    return 1.0 + byteSize_ + (parity_ != 0 ? 1.0 : 0.0) + stop;
}

long double PosixCommunicationPort::characterTime()
{
    return static_cast<long double>(bitsPerCharacter()) / static_cast<long double>(baudRate());
}

void PosixCommunicationPort::applyLineState()
{
    // The line runs 9600 8N1 whatever was asked for.
    baudRate_ = 9600;
    parity_ = 0;
    byteSize_ = 8;
    stopBits_ = 0;

    termios t = lineState_;
    // Raw: replies carry 0x11, 0x13 and 0x0D, which must arrive untouched.
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    // Reads are bounded by our own deadlines, not by the driver.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (tcsetattr(device_.fd(), TCSANOW, &t) != 0)
        raiseRefusal();
    lineState_ = t;
}

// --- line status ------------------------------------------------------------

long PosixCommunicationPort::lineErrors()
{
    if (!hasCounters_)
        return 0;
    LineFaultCounts now;
    if (!readFaultCounts(device_.fd(), now))
        return 0;
    // Reading clears: each fault is reported once.
    const long status = lineStatusFromCounts(counted_, now);
    counted_ = now;
    return status;
}

void PosixCommunicationPort::raiseRefusal()
{
    const long status = lineErrors();
    raiseLineError(status != 0 ? status : kModeNotSupported);
}

// --- byte link --------------------------------------------------------------

void PosixCommunicationPort::handOver(const unsigned char* bytes, unsigned count)
{
    const int fd = device_.fd();
    std::size_t done = 0;
    std::int64_t stallDeadline = monotonicNs() + kOutputStallMs * kNsPerMs;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            stallDeadline = monotonicNs() + kOutputStallMs * kNsPerMs;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            short revents = 0;
            const int r = pollUntil(fd, POLLOUT, stallDeadline, revents);
            if (r == 0)
                throw OutputBufferFull();
            if (r < 0 || (!(revents & POLLOUT) && (revents & (POLLERR | POLLHUP | POLLNVAL))))
                raiseRefusal();
            continue;
        }
        // The device is gone (EIO after a hang-up) or refuses outright.
        raiseRefusal();
    }
}

void PosixCommunicationPort::write(const unsigned char* bytes, unsigned count)
{
    TickSource& clock = tickSource();
    const std::uint32_t start = clock.ticks();
    handOver(bytes, count);
    while (tcdrain(device_.fd()) != 0 && errno == EINTR) {
    }
    // Drivers that report "drained" early (pseudo-terminals, some adapters)
    // must not make a frame look faster than the line can carry it.
    // (The tolerance keeps 96 characters of 10/9600 s at 100 ms, not 101.)
    const auto onLineMs = static_cast<std::uint32_t>(
        std::ceil(static_cast<long double>(count) * characterTime() * 1000.0L - 1e-9L));
    for (std::uint32_t elapsed = clock.ticks() - start; elapsed < onLineMs; elapsed = clock.ticks() - start)
        clock.sleepTicks(onLineMs - elapsed);
    if (LineTrace* trace = lineTrace())
        trace->sent(bytes, count);
    delay().pause(kPauseAfterWriteMs);
}

void PosixCommunicationPort::writeWithEchoTest(const unsigned char* bytes, unsigned count)
{
    write(bytes, count);
    if (echoTest == 0 || count == 0)
        return;
    std::vector<unsigned char> echo(count);
    waitForInput(count, 1);
    const int got = read(echo.data(), static_cast<int>(count));
    if (got != static_cast<int>(count) || std::memcmp(echo.data(), bytes, count) != 0)
        throw DataCollision();
}

int PosixCommunicationPort::read(unsigned char* destination, int count)
{
    if (destination == nullptr)
        return 0;
    destination[0] = 0x14;
    if (count <= 0)
        return 0;

    const int fd = device_.fd();
    const std::int64_t totalDeadline = monotonicNs() + count * kNsPerMs;
    std::int64_t deadline = totalDeadline;
    int got = 0;
    while (got < count) {
        short revents = 0;
        if (pollUntil(fd, POLLIN, deadline, revents) <= 0)
            break;
        const ssize_t n = ::read(fd, destination + got, static_cast<std::size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            deadline = std::min(totalDeadline, monotonicNs() + kReadIntervalNs);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR) && !(revents & (POLLERR | POLLHUP | POLLNVAL)))
            continue;
        // End of file, EIO after a hang-up, a vanished device: keep what came.
        break;
    }
    if (got > 0) {
        if (LineTrace* trace = lineTrace())
            trace->received(destination, static_cast<std::size_t>(got));
    }
    raiseLineError(lineErrors());
    return got;
}

void PosixCommunicationPort::purgeInput()
{
    if (tcflush(device_.fd(), TCIFLUSH) != 0)
        raiseRefusal();
}

unsigned PosixCommunicationPort::bytesWaiting()
{
    int queued = 0;
    if (ioctl(device_.fd(), FIONREAD, &queued) != 0 || queued < 0)
        return 0;
    return static_cast<unsigned>(queued);
}

std::string PosixCommunicationPort::lastOpenFailure() { return t_lastOpenFailure; }
int PosixCommunicationPort::lastOpenErrno() { return t_lastOpenErrno; }

}  // namespace tolvan

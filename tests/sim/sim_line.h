#pragma once
// The tool's side of the pseudo-terminal, written from scratch so the radio is
// checked against raw bytes rather than against the tool's own port code.

#include "protocol/sbep_frame.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace tolvan::sim::testing {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline Bytes makeFrame(int opcode, const Bytes& data = {})
{
    Bytes bytes(static_cast<std::size_t>(frameLength(opcode, static_cast<int>(data.size()))));
    buildFrame(bytes.data(), opcode, data.data(), static_cast<int>(data.size()));
    return bytes;
}

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes textBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes writeFrame(std::uint32_t address, const Bytes& data)
{
    return makeFrame(kOpMemoryWrite, Bytes{static_cast<std::uint8_t>(address >> 16),
                                           static_cast<std::uint8_t>(address >> 8),
                                           static_cast<std::uint8_t>(address)} + data);
}

inline Bytes readFrame(std::uint32_t address, std::uint8_t n)
{
    return makeFrame(kOpMemoryRead, {n, static_cast<std::uint8_t>(address >> 16),
                                     static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)});
}

inline Bytes writeReply(int opcode, std::uint32_t address)
{
    return makeFrame(opcode, {static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
                              static_cast<std::uint8_t>(address)});
}

class SlaveLine {
public:
    explicit SlaveLine(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            ADD_FAILURE() << "cannot open " << path << ": errno " << errno;
            return;
        }
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    ~SlaveLine()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    SlaveLine(const SlaveLine&) = delete;
    SlaveLine& operator=(const SlaveLine&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    void send(const Bytes& bytes)
    {
        std::size_t done = 0;
        sentAt_ = Clock::now();
        const auto deadline = sentAt_ + 2s;
        while (done < bytes.size() && Clock::now() < deadline) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                break;
            }
        }
        ASSERT_EQ(done, bytes.size()) << "line refused bytes";
    }

    // Up to n bytes, as many as arrive before the deadline; arrival times go to arrivals().
    Bytes read(std::size_t n, std::chrono::milliseconds timeout = 3000ms)
    {
        Bytes got;
        arrivals_.clear();
        const auto deadline = Clock::now() + timeout;
        while (got.size() < n && !ended_) {
            if (!waitReadable(deadline))
                break;
            std::uint8_t buffer[512];
            const std::size_t want = std::min(sizeof buffer, n - got.size());
            const ssize_t r = ::read(fd_, buffer, want);
            if (r > 0) {
                got.insert(got.end(), buffer, buffer + r);
                arrivals_.insert(arrivals_.end(), static_cast<std::size_t>(r), Clock::now());
            } else if (r == 0 || errno == EIO) {
                ended_ = true;
            }
        }
        return got;
    }

    // Everything that arrives until the line has been quiet for `quiet` (or `limit` passes).
    Bytes readUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit = 5000ms)
    {
        Bytes got;
        const auto end = Clock::now() + limit;
        while (Clock::now() < end && !ended_) {
            Bytes more = read(4096, quiet);
            if (more.empty())
                break;
            got.insert(got.end(), more.begin(), more.end());
        }
        return got;
    }

    // One frame, its length taken from its header.
    Bytes readFrame(std::chrono::milliseconds timeout = 3000ms)
    {
        Bytes frame = read(1, timeout);
        if (frame.empty())
            return frame;
        const int header = frameHeaderLength(frame.data(), 1);
        if (header > 1)
            frame = frame + read(static_cast<std::size_t>(header - 1), timeout);
        if (static_cast<int>(frame.size()) < header)
            return frame;
        const int total = frameTotalLength(frame.data());
        if (total > static_cast<int>(frame.size()))
            frame = frame + read(static_cast<std::size_t>(total) - frame.size(), timeout);
        return frame;
    }

    // Request out, echo back, then the acknowledgement and (after 50) the reply.
    struct Exchange {
        Bytes echo;
        Bytes answer;
    };
    Exchange exchange(const Bytes& request)
    {
        Exchange result;
        send(request);
        result.echo = read(request.size());
        result.answer = read(1);
        if (result.answer == Bytes{0x50})
            result.answer = result.answer + readFrame();
        return result;
    }

    const std::vector<Clock::time_point>& arrivals() const { return arrivals_; }
    // When the last send began: nothing it caused can arrive earlier.
    Clock::time_point sentAt() const { return sentAt_; }
    // Whether a read saw the end of the line (EOF or EIO).
    bool ended() const { return ended_; }

private:
    bool waitReadable(Clock::time_point deadline)
    {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() < 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
            if (r > 0)
                return true;
            if (r == 0 && Clock::now() >= deadline)
                return false;
        }
    }

    int fd_ = -1;
    bool ended_ = false;
    Clock::time_point sentAt_;
    std::vector<Clock::time_point> arrivals_;
};

inline double msBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

}  // namespace tolvan::sim::testing

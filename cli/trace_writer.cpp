#include "cli/trace_writer.h"

#include "protocol/sbep_frame.h"

namespace tolvan::cli {

TraceWriter::TraceWriter(std::FILE* out) : out_(out), start_(std::chrono::steady_clock::now()) {}

TraceWriter::~TraceWriter() { flush(); }

double TraceWriter::ms() const
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
}

void TraceWriter::line(const char* direction, const unsigned char* bytes, std::size_t n, const char* note)
{
    std::fprintf(out_, "%10.3f %s", ms(), direction);
    for (std::size_t i = 0; i < n; ++i)
        std::fprintf(out_, " %02X", bytes[i]);
    if (*note)
        std::fprintf(out_, "  (%s)", note);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void TraceWriter::sent(const unsigned char* bytes, std::size_t n)
{
    flush();
    line(">>", bytes, n);
    echoLeft_ = n;
}

void TraceWriter::received(const unsigned char* bytes, std::size_t n)
{
    pending_.insert(pending_.end(), bytes, bytes + n);
    cutFrames();
}

void TraceWriter::cutFrames()
{
    for (;;) {
        if (pending_.empty())
            return;
        std::size_t take = 0;
        const char* note = "";
        if (echoLeft_ > 0) {
            if (pending_.size() < echoLeft_)
                return;
            take = echoLeft_;
            echoLeft_ = 0;
            note = "echo";
        } else {
            const int header = frameHeaderLength(pending_.data(), static_cast<int>(pending_.size()));
            if (static_cast<int>(pending_.size()) < header)
                return;
            const std::size_t length = static_cast<std::size_t>(frameTotalLength(pending_.data()));
            if (pending_.size() < length)
                return;
            take = length;
        }
        line("<<", pending_.data(), take, note);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(take));
    }
}

void TraceWriter::event(const std::string& what)
{
    flush();
    std::fprintf(out_, "%10.3f -- %s\n", ms(), what.c_str());
    std::fflush(out_);
}

void TraceWriter::flush()
{
    if (!pending_.empty()) {
        line("<<", pending_.data(), pending_.size(), "incomplete");
        pending_.clear();
    }
}

}  // namespace tolvan::cli

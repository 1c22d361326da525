#pragma once
// Writes everything on the line to a file: time-stamped, one frame a line,
// time-outs and retries marked.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "link/line_trace.h"

namespace tolvan::cli {

class TraceWriter : public LineTrace {
public:
    explicit TraceWriter(std::FILE* out);
    ~TraceWriter() override;
    void sent(const unsigned char* bytes, std::size_t n) override;
    void received(const unsigned char* bytes, std::size_t n) override;
    void event(const std::string& what) override;
    void flush();

private:
    void line(const char* direction, const unsigned char* bytes, std::size_t n, const char* note = "");
    void cutFrames();
    double ms() const;

    std::FILE* out_;
    std::chrono::steady_clock::time_point start_;
    std::vector<unsigned char> pending_;
    std::size_t echoLeft_ = 0;
};

}  // namespace tolvan::cli

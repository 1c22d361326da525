#pragma once
// Optional observer of everything on the line, for `tolvan --trace`.

#include <cstddef>
#include <string>

namespace tolvan {

class LineTrace {
public:
    virtual ~LineTrace() = default;
    virtual void sent(const unsigned char* bytes, std::size_t n) = 0;
    virtual void received(const unsigned char* bytes, std::size_t n) = 0;
    // Time-outs, retries and other marks.
    virtual void event(const std::string& what) = 0;
};

// Process-wide; null when nobody traces.
LineTrace* lineTrace();
void setLineTrace(LineTrace* trace);

}  // namespace tolvan

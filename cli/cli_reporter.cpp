#include "cli/cli_reporter.h"

namespace tolvan::cli {

CliReporter::CliReporter(bool showProgress, long totalBytes)
    : showProgress_(showProgress), totalBytes_(totalBytes), started_(std::chrono::steady_clock::now())
{
}

void CliReporter::message(const std::string& text, const std::string&, MessageKind)
{
    progressEnd();
    lines_.push_back(text);
}

void CliReporter::status(const std::string& text) { lines_.push_back(text); }

void CliReporter::emit(bool succeeded)
{
    std::FILE* out = succeeded ? stdout : stderr;
    for (const auto& line : lines_)
        std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
    lines_.clear();
}

void CliReporter::progressStart(const std::string&) { started_ = std::chrono::steady_clock::now(); }

void CliReporter::progress(int percent, const std::string&)
{
    if (!showProgress_)
        return;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const double left = percent > 0 ? elapsed * (100 - percent) / percent : 0.0;
    const long done = totalBytes_ * percent / 100;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%  %ld/%ld bytes  %3.0f s left ", filled, "##############################",
                 kWidth - filled, "", percent, done, totalBytes_, left);
    std::fflush(stderr);
    barShown_ = true;
}

void CliReporter::progressEnd()
{
    if (barShown_) {
        std::fputc('\n', stderr);
        barShown_ = false;
    }
}

}  // namespace tolvan::cli

#include "cli/cli_reporter.h"

namespace tolvan::cli {

CliReporter::CliReporter(bool showProgress, long totalBytes)
    : showProgress_(showProgress), totalBytes_(totalBytes), started_(std::chrono::steady_clock::now())
{
}

bool CliReporter::isFailureCaption(const std::string& caption) { return caption != texts::kNote; }

void CliReporter::message(const std::string& text, const std::string& caption, MessageKind)
{
    progressEnd();
    std::FILE* out = isFailureCaption(caption) ? stderr : stdout;
    std::fprintf(out, "%s\n", text.c_str());
    std::fflush(out);
}

void CliReporter::status(const std::string& text)
{
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
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

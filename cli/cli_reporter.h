#pragma once
// Reporter for the terminal: outcomes on standard output (failures on
// standard error), progress as a bar on standard error when it is a terminal.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "service/flows.h"

namespace tolvan::cli {

class CliReporter : public Reporter {
public:
    CliReporter(bool showProgress, long totalBytes = 0);
    void message(const std::string& text, const std::string& caption, MessageKind kind) override;
    void status(const std::string& text) override;
    void progressStart(const std::string& title) override;
    void progress(int percent, const std::string& text) override;
    void progressEnd() override;

    void setTotalBytes(long bytes) { totalBytes_ = bytes; }
    // Prints what the flow showed, in order: on standard output when it
    // succeeded, else on standard error.
    void emit(bool succeeded);

private:
    std::vector<std::string> lines_;
    bool showProgress_;
    long totalBytes_;
    bool barShown_ = false;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace tolvan::cli

#pragma once
// A reporter that records what a flow showed, in order.

#include <string>
#include <vector>

#include "service/flows.h"

namespace tolvan::testing {

struct Shown {
    std::string what;  // "message", "status", "progressStart", "progress", "progressEnd"
    std::string text;
    std::string caption;
    MessageKind kind = MessageKind::Plain;
    int percent = 0;
};

class RecordingReporter : public Reporter {
public:
    void message(const std::string& text, const std::string& caption, MessageKind kind) override
    {
        shown.push_back({"message", text, caption, kind, 0});
        if (onMessage)
            onMessage(text);
    }
    void status(const std::string& text) override { shown.push_back({"status", text, "", MessageKind::Plain, 0}); }
    void progressStart(const std::string& title) override { shown.push_back({"progressStart", title, "", MessageKind::Plain, 0}); }
    void progress(int percent, const std::string& text) override
    {
        shown.push_back({"progress", text, "", MessageKind::Plain, percent});
    }
    void progressEnd() override { shown.push_back({"progressEnd", "", "", MessageKind::Plain, 0}); }

    std::vector<Shown> messages() const
    {
        std::vector<Shown> out;
        for (const auto& s : shown)
            if (s.what == "message")
                out.push_back(s);
        return out;
    }
    std::vector<std::string> statuses() const
    {
        std::vector<std::string> out;
        for (const auto& s : shown)
            if (s.what == "status")
                out.push_back(s.text);
        return out;
    }
    std::vector<int> percents() const
    {
        std::vector<int> out;
        for (const auto& s : shown)
            if (s.what == "progress")
                out.push_back(s.percent);
        return out;
    }

    std::vector<Shown> shown;
    std::function<void(const std::string&)> onMessage;
};

}  // namespace tolvan::testing

#pragma once
// Reporter for the desktop windows: message boxes owned by a window, the
// main frame's status bar. Tests install an interceptor so that no box is
// ever left modal.

#include <functional>

#include <QPointer>
#include <QWidget>

#include "service/flows.h"

namespace tolvan {

class QtReporter : public Reporter {
public:
    explicit QtReporter(QWidget* owner, std::function<void(const std::string&)> statusSink = {});

    void message(const std::string& text, const std::string& caption, MessageKind kind) override;
    void status(const std::string& text) override;
    void progressStart(const std::string& title) override;
    void progress(int percent, const std::string& text) override;
    void progressEnd() override;

    // While set, every message and status of every QtReporter goes here instead.
    static void setInterceptor(Reporter* interceptor);
    static Reporter* interceptor();

private:
    QPointer<QWidget> owner_;
    std::function<void(const std::string&)> statusSink_;
};

}  // namespace tolvan

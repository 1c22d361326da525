#include "service/ui/qt_reporter.h"

#include <QMessageBox>

namespace tolvan {

namespace {
Reporter* g_interceptor = nullptr;
}

QtReporter::QtReporter(QWidget* owner, std::function<void(const std::string&)> statusSink)
    : owner_(owner), statusSink_(std::move(statusSink))
{
}

void QtReporter::setInterceptor(Reporter* interceptor) { g_interceptor = interceptor; }
Reporter* QtReporter::interceptor() { return g_interceptor; }

void QtReporter::message(const std::string& text, const std::string& caption, MessageKind kind)
{
    if (g_interceptor) {
        g_interceptor->message(text, caption, kind);
        return;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if (kind == MessageKind::Information)
        icon = QMessageBox::Information;
    else if (kind == MessageKind::Exclamation)
        icon = QMessageBox::Warning;
    QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok, owner_);
    box.exec();
}

void QtReporter::status(const std::string& text)
{
    if (g_interceptor) {
        g_interceptor->status(text);
        return;
    }
    if (statusSink_)
        statusSink_(text);
}

void QtReporter::progressStart(const std::string& title)
{
    if (g_interceptor)
        g_interceptor->progressStart(title);
}

void QtReporter::progress(int percent, const std::string& text)
{
    if (g_interceptor)
        g_interceptor->progress(percent, text);
}

void QtReporter::progressEnd()
{
    if (g_interceptor)
        g_interceptor->progressEnd();
}

}  // namespace tolvan

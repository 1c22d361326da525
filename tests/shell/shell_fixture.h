#pragma once
// What the shell tests share: a recorder that stands in for every message
// box, a scratch start directory, and archives written to disk.

#include <string>
#include <vector>

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "archive/archive_check.h"
#include "archive/file_module.h"
#include "service/flows.h"
#include "service/ui/qt_reporter.h"

namespace tolvan::testing {

struct Shown {
    std::string text;
    std::string caption;
    MessageKind kind;
};

// Installed as the interceptor for its lifetime: no box is ever left modal.
class Recorder : public Reporter {
public:
    Recorder() { QtReporter::setInterceptor(this); }
    ~Recorder() override { QtReporter::setInterceptor(nullptr); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void message(const std::string& text, const std::string& caption, MessageKind kind) override
    {
        messages.push_back({text, caption, kind});
    }
    void status(const std::string& text) override { statuses.push_back(text); }
    void progressStart(const std::string& title) override { progressTitles.push_back(title); }
    void progress(int percent, const std::string& text) override
    {
        percents.push_back(percent);
        progressTexts.push_back(text);
    }
    void progressEnd() override { ++progressEnds; }

    void clear()
    {
        messages.clear();
        statuses.clear();
        progressTitles.clear();
        percents.clear();
        progressTexts.clear();
        progressEnds = 0;
    }

    std::vector<Shown> messages;
    std::vector<std::string> statuses;
    std::vector<std::string> progressTitles;
    std::vector<int> percents;
    std::vector<std::string> progressTexts;
    int progressEnds = 0;
};

// The directory the program "starts" in: com.ini and title.bmp live here.
class StartDirectory {
public:
    explicit StartDirectory(int comPort = 1) : previous_(QDir::currentPath())
    {
        QDir::setCurrent(dir_.path());
        fileModule::storeWorkingDirectory();
        if (comPort != -1)
            fileModule().writeComPortId(comPort);
    }
    ~StartDirectory()
    {
        QDir::setCurrent(previous_);
        fileModule::storeWorkingDirectory();
    }
    StartDirectory(const StartDirectory&) = delete;
    StartDirectory& operator=(const StartDirectory&) = delete;

    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    QString write(const QString& name, const std::string& content) const
    {
        QFile out(file(name));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(file(name)));
        out.write(content.data(), static_cast<qint64>(content.size()));
        return file(name);
    }
    QString read(const QString& name) const
    {
        QFile in(file(name));
        return in.open(QIODevice::ReadOnly) ? QString::fromLatin1(in.readAll()) : QString();
    }

private:
    QString previous_;
    QTemporaryDir dir_;
};

inline ArchiveRecord record(long address, std::vector<unsigned char> data)
{
    ArchiveRecord r;
    r.address = address;
    r.length = static_cast<long>(data.size());
    r.data = std::move(data);
    return r;
}

// Three records, one of them longer than a frame carries.
inline std::vector<ArchiveRecord> sampleRecords()
{
    std::vector<unsigned char> longRecord(150);
    for (std::size_t i = 0; i < longRecord.size(); ++i)
        longRecord[i] = static_cast<unsigned char>(i * 7 + 3);
    return {record(0x000100, {0x11, 0x22, 0x33, 0x44}), record(0x002000, longRecord),
            record(0x0A0000, {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x7F})};
}

}  // namespace tolvan::testing

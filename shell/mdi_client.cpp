#include "shell/mdi_client.h"

#include <cstdlib>
#include <exception>

#include <unistd.h>

#include <QFile>
#include <QFileDialog>

#include "archive/archive_check.h"
#include "link/dialog/comm_setup_dialog.h"
#include "service/texts.h"
#include "service/ui/qt_reporter.h"
// The commands header needs the window classes complete for its accessors.
#include "service/ui/serial_program_window.h"
#include "service/ui/service_window_commands.h"
#include "service/ui/temp_comp_window.h"
#include "shell/mdi_child.h"
#include "shell/progress_window.h"
#include "shell/status_bar.h"

namespace tolvan {

namespace {

// Message boxes as QtReporter shows them; status texts always reach the
// status bar (tests read it there as well as through the interceptor), and
// the progress calls drive the progress window.
class ShellReporter : public QtReporter {
public:
    ShellReporter(TTolvan_ideMDIClient* client, QString picturePath = {},
                  TTolvan_ideMDIClient::ProgressObserver observer = {})
        : QtReporter(client), client_(client), picturePath_(std::move(picturePath)), observer_(std::move(observer))
    {
    }
    ~ShellReporter() override { closeWindow(); }

    void status(const std::string& text) override
    {
        client_->setStatusText(text);
        if (Reporter* watcher = interceptor())
            watcher->status(text);
    }

    void progressStart(const std::string& title) override
    {
        QtReporter::progressStart(title);
        closeWindow();
        window_ = new TProgressWindow(QString::fromStdString(title), picturePath_, client_->window());
        window_->show();
        if (observer_)
            observer_(*window_);
    }

    void progress(int percent, const std::string& text) override
    {
        QtReporter::progress(percent, text);
        if (window_) {
            window_->SetText(QString::fromStdString(text));
            window_->SetPercentDone(percent);
        }
    }

    void progressEnd() override
    {
        QtReporter::progressEnd();
        closeWindow();
    }

private:
    void closeWindow()
    {
        if (window_) {
            window_->finish();
            delete window_;
            window_ = nullptr;
        }
    }

    TTolvan_ideMDIClient* client_;
    QString picturePath_;
    TTolvan_ideMDIClient::ProgressObserver observer_;
    TProgressWindow* window_ = nullptr;
};

std::string describe(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unexpected error";
    }
}

}  // namespace

TTolvan_ideMDIClient::TTolvan_ideMDIClient(int* operationLock, ConnectionFactory connect, QWidget* parent)
    : QMdiArea(parent),
      archive_(std::make_unique<fileModule>()),
      connect_(std::move(connect)),
      chooseFile_(&TTolvan_ideMDIClient::chooseArchive)
{
    // com.ini is looked for where the program started, wherever a file
    // dialog moves the current directory later.
    fileModule::storeWorkingDirectory();
    // No window exists yet: the start-up boxes have no owner.
    QtReporter startup(nullptr);
    if (archive_->readComPortId() == -1)
        startup.message(texts::kComNotConfigured, texts::kNote, MessageKind::Information);

    if (char* current = ::getcwd(nullptr, 0)) {
        bitmapDirectory_ = current;
        std::free(current);
    } else {
        startup.message(texts::kBitmapDirectory, texts::kError, MessageKind::Plain);
    }

    operationLock_ = operationLock;
    *operationLock_ = 0;
    archiveLoaded_ = false;
    serviceWindows_ = std::make_unique<ServiceWindowCommands>(
        this, storage_, operations_, operationLock_, connect_, [] { return new TTolvan_ideMDIChild(nullptr); });
}

TTolvan_ideMDIClient::~TTolvan_ideMDIClient() = default;

QString TTolvan_ideMDIClient::chooseArchive(QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QString::fromLatin1(client_texts::kArchiveFilter));
    dialog.setDefaultSuffix(QString::fromLatin1(client_texts::kArchiveSuffix));
    // A fresh dialog each time: the previous archive is never preselected.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString TTolvan_ideMDIClient::picturePath() const
{
    if (bitmapDirectory_.empty())
        return {};
    return QFile::decodeName(QByteArray::fromStdString(bitmapDirectory_)) + u'/'
        + QString::fromLatin1(client_texts::kPictureFile);
}

void TTolvan_ideMDIClient::setStatusText(const std::string& text)
{
    if (statusBar_)
        statusBar_->SetText(QString::fromStdString(text));
}

void TTolvan_ideMDIClient::CmLoadArchive()
{
    ShellReporter reporter(this);
    auto refuse = [&](const std::string& problem) {
        reporter.message(std::string(texts::kArchiveRefused) + "\n" + problem, texts::kNote,
                         MessageKind::Information);
    };
    try {
        const QString chosen = chooseFile_(this);
        if (chosen.isEmpty())
            return;
        const std::string path = QFile::encodeName(chosen).toStdString();
        const ArchiveCheck check = checkArchiveFile(path);
        if (!check.ok) {
            refuse(check.message());
            return;
        }
        // The buffer kept is checked again: the file may have changed since.
        auto loaded = std::make_unique<fileModule>();
        if (!loaded->openForRead(path.c_str())) {
            refuse("cannot open " + path);
            return;
        }
        loaded->readAll();
        loaded->closeFile();
        const ArchiveCheck kept = checkArchive(*loaded);
        if (!kept.ok) {
            refuse(kept.message());
            return;
        }
        archive_ = std::move(loaded);
        archivePath_ = chosen;
        const bool changed = !archiveLoaded_;
        archiveLoaded_ = true;
        if (changed)
            emit commandEnablingChanged();
        reporter.message(texts::kArchiveLoaded, texts::kNote, MessageKind::Information);
    } catch (...) {
        refuse(describe(std::current_exception()));
    }
}

void TTolvan_ideMDIClient::CmProgramCodeplug()
{
    if (!archiveLoaded_)
        return;
    ShellReporter reporter(this, picturePath(), progressObserver_);
    try {
        CommandFlows flows(reporter, connect_);
        flows.programCodeplug(*archive_);
    } catch (...) {
        reporter.progressEnd();
        reporter.message(texts::kCannotProgram, texts::kError, MessageKind::Exclamation);
    }
}

void TTolvan_ideMDIClient::CmReadSerialNo()
{
    ShellReporter reporter(this);
    try {
        CommandFlows flows(reporter, connect_);
        flows.readSerialNumber();
    } catch (...) {
        reporter.message(texts::kCannotReadSerial, texts::kError, MessageKind::Exclamation);
    }
}

void TTolvan_ideMDIClient::CmComPortSettings()
{
    try {
        TCommSetupDialog dialog(this);
        dialog.exec();
    } catch (...) {
        // The dialog reports its own failure; nothing else can go wrong that
        // the technician could act on.
    }
}

// The service windows report their own failures; nothing that escapes them
// may end the program.
void TTolvan_ideMDIClient::CmTempCompRead()
{
    try {
        serviceWindows_->CmTempCompRead();
    } catch (...) {
    }
}

void TTolvan_ideMDIClient::CmTempCompWrite()
{
    try {
        serviceWindows_->CmTempCompWrite();
    } catch (...) {
    }
}

void TTolvan_ideMDIClient::CmProgramSerialNo()
{
    try {
        serviceWindows_->CmProgramSerialNo();
    } catch (...) {
    }
}

}  // namespace tolvan

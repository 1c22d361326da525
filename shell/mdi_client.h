#pragma once
// The operation controller: the frame's MDI area, and the object that
// carries out the Operations and Communication Settings commands. It owns the
// loaded archive, the radio value store and the radio reads for the whole run.

#include <functional>
#include <memory>
#include <string>

#include <QMdiArea>

#include "archive/file_module.h"
#include "service/flows.h"
#include "service/radio_operations.h"
#include "service/radio_storage.h"

namespace tolvan {

class ServiceWindowCommands;
class TStatusBar;
class TProgressWindow;

namespace client_texts {
inline constexpr const char* kArchiveFilter = "Tolvan Archive Files (*.tvn)";
inline constexpr const char* kArchiveSuffix = "tvn";
inline constexpr const char* kPictureFile = "title.bmp";
}  // namespace client_texts

class TTolvan_ideMDIClient : public QMdiArea {
    Q_OBJECT

public:
    // Returns the archive chosen, or an empty string when the technician cancelled.
    using FileChooser = std::function<QString(QWidget* parent)>;
    // Sees each progress window as it opens (screenshots, tests).
    using ProgressObserver = std::function<void(TProgressWindow&)>;

    // Runs the start-up checks: the working directory for com.ini, the note
    // when com.ini is missing, the directory title.bmp is looked for in.
    explicit TTolvan_ideMDIClient(int* operationLock, ConnectionFactory connect = comIniConnection(),
                                  QWidget* parent = nullptr);
    ~TTolvan_ideMDIClient() override;

    void SetStatusBar(TStatusBar* statusBar) { statusBar_ = statusBar; }
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void setProgressObserver(ProgressObserver observer) { progressObserver_ = std::move(observer); }
    // The open dialog for archives: existing *.tvn files only.
    static QString chooseArchive(QWidget* parent);

    // Program Radio Codeplug is enabled exactly when an archive was loaded.
    bool CeProgramCodeplug() const { return archiveLoaded_; }

    void CmLoadArchive();
    void CmProgramCodeplug();
    void CmReadSerialNo();
    void CmComPortSettings();
    void CmTempCompRead();
    void CmTempCompWrite();
    void CmProgramSerialNo();

    bool archiveLoaded() const { return archiveLoaded_; }
    const QString& archivePath() const { return archivePath_; }
    int* operationLock() const { return operationLock_; }
    radioStorage& storage() { return storage_; }
    const std::string& bitmapDirectory() const { return bitmapDirectory_; }
    QString picturePath() const;
    void setStatusText(const std::string& text);
    ServiceWindowCommands& serviceWindows() { return *serviceWindows_; }

signals:
    void commandEnablingChanged();

private:
    TStatusBar* statusBar_ = nullptr;
    bool archiveLoaded_ = false;
    // Heap: 16000 bytes, replaced whole by each accepted load.
    std::unique_ptr<fileModule> archive_;
    radioStorage storage_;
    radioOperations operations_;
    int* operationLock_ = nullptr;
    std::string bitmapDirectory_;

    ConnectionFactory connect_;
    FileChooser chooseFile_;
    ProgressObserver progressObserver_;
    QString archivePath_;
    // Last: its frames close while the area and the storage still exist.
    std::unique_ptr<ServiceWindowCommands> serviceWindows_;
};

}  // namespace tolvan

#pragma once
// The three controller commands that open a service window in an MDI frame,
// kept mutually exclusive by the operation lock: at most one service window
// is open, and choosing the command of the open one does nothing.

#include <functional>

#include <QPointer>
#include <QString>

#include "service/flows.h"
#include "service/radio_operations.h"
#include "service/radio_storage.h"
#include "service/ui/qt_reporter.h"

class QMdiArea;
class QMdiSubWindow;
class QWidget;

namespace tolvan {

class TTempCompWindow;
class TSerialProgramWindow;

class ServiceWindowCommands {
public:
    // Operation lock values.
    static constexpr int kNoServiceWindow = 0;
    static constexpr int kTempCompReadLock = 1;
    static constexpr int kTempCompWriteLock = 2;
    static constexpr int kSerialProgramLock = 3;

    static constexpr const char* kTempCompReadTitle = "Read Temp Comp";
    static constexpr const char* kTempCompWriteTitle = "Write Temp Comp";
    static constexpr const char* kSerialProgramTitle = "Program Serial No";
    static constexpr const char* kTempCompReadCaption = "Read Temp Comp";
    static constexpr const char* kTempCompWriteCaption = "Write Temp Comp";
    static constexpr const char* kSerialProgramCaption = "Program Serial No.";

    static constexpr const char* kRefuseTempCompRead = "Please close all windows before reading Temp Comp data";
    static constexpr const char* kRefuseTempCompWrite = "Please close all windows before writing Temp Comp data";
    static constexpr const char* kRefuseSerialProgram = "Please close all windows before programming radio serial no.";

    // Makes the MDI frame a window is hosted in (the application's own
    // frame class); a plain QMdiSubWindow when empty.
    using FrameFactory = std::function<QMdiSubWindow*()>;

    // Nothing is owned but the reporter; area, storage, operations and lock
    // must outlive this object. connect opens the radio connection of each
    // read or write the windows make.
    ServiceWindowCommands(QMdiArea* area, radioStorage& storage, radioOperations& operations, int* operationLock,
                          ConnectionFactory connect, FrameFactory frame = {});
    // Closes a service frame that is still open, so its window says goodbye
    // and frees the lock while the area is still whole.
    ~ServiceWindowCommands();
    ServiceWindowCommands(const ServiceWindowCommands&) = delete;
    ServiceWindowCommands& operator=(const ServiceWindowCommands&) = delete;

    void CmTempCompRead();
    void CmTempCompWrite();
    void CmProgramSerialNo();

    // The window each command opened last; null once it is gone.
    TTempCompWindow* tempCompReadWindow() const;
    TTempCompWindow* tempCompWriteWindow() const;
    TSerialProgramWindow* serialWindow() const;

private:
    // The lock rule: true when the command may open its window (the lock
    // then holds its value); shows the refusal when another window is open.
    bool admit(int lockValue, const char* refusal);
    QMdiSubWindow* host(QWidget* window, const char* caption);

    QMdiArea* area_;
    radioStorage& storage_;
    radioOperations& operations_;
    int* operationLock_;
    ConnectionFactory connect_;
    FrameFactory frameFactory_;
    QtReporter reporter_;
    QPointer<TTempCompWindow> tempCompReadWindow_;
    QPointer<TTempCompWindow> tempCompWriteWindow_;
    QPointer<TSerialProgramWindow> serialWindow_;
    QPointer<QMdiSubWindow> openFrame_;
};

}  // namespace tolvan

#include "service/ui/service_window_commands.h"

#include <QMdiArea>
#include <QMdiSubWindow>

#include "service/ui/serial_program_window.h"
#include "service/ui/temp_comp_window.h"

namespace tolvan {

ServiceWindowCommands::ServiceWindowCommands(QMdiArea* area, radioStorage& storage, radioOperations& operations,
                                             int* operationLock, ConnectionFactory connect, FrameFactory frame)
    : area_(area),
      storage_(storage),
      operations_(operations),
      operationLock_(operationLock),
      connect_(std::move(connect)),
      frameFactory_(std::move(frame)),
      reporter_(area)
{
}

ServiceWindowCommands::~ServiceWindowCommands()
{
    if (openFrame_)
        openFrame_->close();
}

bool ServiceWindowCommands::admit(int lockValue, const char* refusal)
{
    if (*operationLock_ == kNoServiceWindow) {
        *operationLock_ = lockValue;
        return true;
    }
    if (*operationLock_ != lockValue)
        reporter_.message(refusal, texts::kNote, MessageKind::Information);
    return false;
}

QMdiSubWindow* ServiceWindowCommands::host(QWidget* window, const char* caption)
{
    QMdiSubWindow* frame = frameFactory_ ? frameFactory_() : new QMdiSubWindow;
    // Closing the frame deletes the window inside, which frees the lock.
    frame->setAttribute(Qt::WA_DeleteOnClose);
    frame->setWidget(window);
    frame->setWindowTitle(QString::fromLatin1(caption));
    area_->addSubWindow(frame);
    frame->resize(frame->sizeHint());
    frame->show();
    openFrame_ = frame;
    return frame;
}

void ServiceWindowCommands::CmTempCompRead()
{
    if (!admit(kTempCompReadLock, kRefuseTempCompRead))
        return;
    auto* window = new TTempCompWindow(area_, &storage_, &operations_, QString::fromLatin1(kTempCompReadTitle), true,
                                       operationLock_, connect_);
    tempCompReadWindow_ = window;
    QMdiSubWindow* frame = host(window, kTempCompReadCaption);
    // The read failed while the window was built (it reported that and
    // freed the lock): no empty frame stays behind.
    if (*operationLock_ == kNoServiceWindow)
        delete frame;
}

void ServiceWindowCommands::CmTempCompWrite()
{
    if (!admit(kTempCompWriteLock, kRefuseTempCompWrite))
        return;
    auto* window = new TTempCompWindow(area_, &storage_, &operations_, QString::fromLatin1(kTempCompWriteTitle), false,
                                       operationLock_, connect_);
    tempCompWriteWindow_ = window;
    host(window, kTempCompWriteCaption);
}

void ServiceWindowCommands::CmProgramSerialNo()
{
    if (!admit(kSerialProgramLock, kRefuseSerialProgram))
        return;
    auto* window =
        new TSerialProgramWindow(area_, QString::fromLatin1(kSerialProgramTitle), operationLock_, connect_);
    serialWindow_ = window;
    host(window, kSerialProgramCaption);
}

TTempCompWindow* ServiceWindowCommands::tempCompReadWindow() const { return tempCompReadWindow_; }
TTempCompWindow* ServiceWindowCommands::tempCompWriteWindow() const { return tempCompWriteWindow_; }
TSerialProgramWindow* ServiceWindowCommands::serialWindow() const { return serialWindow_; }

}  // namespace tolvan

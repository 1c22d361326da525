#include "service/ui/temp_comp_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "service/ui/serial_no_edit.h"
#include "service/ui/service_window_look.h"

namespace tolvan {

TTempCompWindow::TTempCompWindow(QWidget* parent, radioStorage* storage, radioOperations* operations,
                                 const QString& title, bool readMode, int* operationLock, ConnectionFactory connection)
    : QFrame(parent),
      readMode_(readMode),
      operationLock_(operationLock),
      storage_(storage),
      operations_(operations),
      reporter_(this),
      flows_(reporter_, std::move(connection))
{
    setWindowTitle(title);
    service_look::applyWindowLook(this);

    actionButton_ = new QPushButton(QString::fromLatin1(readMode ? kReadButton : kWriteButton), this);
    actionButton_->setGeometry(170, 80, 100, 30);
    actionButton_->setAutoDefault(false);
    actionButton_->setDefault(false);
    connect(actionButton_, &QPushButton::clicked, this, &TTempCompWindow::CmActionButton);

    // Enter in this field is deliberately not connected: it does nothing here.
    valueField_ = new TSerialNoEdit(this, TSerialNoEdit::kFieldId, QString(), 170, 20, 100, 20, kTempCompChars);
    valueField_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1(kHexDigits)), valueField_));
    valueField_->setFont(service_look::fieldFont());
    valueField_->setEnabled(!readMode);

    label_ = new QLabel(QString::fromLatin1(readMode ? kReadLabel : kWriteLabel), this);
    label_->setTextFormat(Qt::PlainText);
    label_->setGeometry(20, 20, 140, 20);
    label_->setFont(service_look::labelFont());

    if (readMode_) {
        bool ok = false;
        try {
            ok = flows_.readTempComp(*storage_).ok();
        } catch (...) {
            // The flow reports the line's errors; anything else ends the same way.
            reporter_.message(texts::kTempCompNotRead, texts::kError, MessageKind::Exclamation);
        }
        if (!ok) {
            *operationLock_ = 0;
            lockReleased_ = true;
        }
    }
    SetupWindow();
}

TTempCompWindow::~TTempCompWindow() { EvDestroy(); }

QSize TTempCompWindow::sizeHint() const { return {service_look::kWidth, service_look::kHeight}; }

void TTempCompWindow::SetupWindow()
{
    if (!readMode_)
        return;
    valueText_ = QString::fromStdString(CommandFlows::tempCompText(storage_->getTempCompValue()));
    valueField_->setText(valueText_);
}

void TTempCompWindow::CmActionButton()
{
    if (readMode_) {
        service_look::closeWindowAndFrame(this);
        return;
    }
    try {
        flows_.writeTempComp(valueField_->text().toStdString());
    } catch (...) {
        reporter_.message(texts::kTempCompWriteError, texts::kError, MessageKind::Exclamation);
    }
}

void TTempCompWindow::closeEvent(QCloseEvent* event)
{
    // The frame closes its window first and deletes both afterwards; the
    // lock is free from the moment the window is closed.
    QFrame::closeEvent(event);
    if (event->isAccepted())
        EvDestroy();
}

void TTempCompWindow::EvDestroy()
{
    if (lockReleased_)
        return;
    lockReleased_ = true;
    *operationLock_ = 0;
}

}  // namespace tolvan

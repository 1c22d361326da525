#include "service/ui/serial_program_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "service/ui/serial_no_edit.h"
#include "service/ui/service_window_look.h"

namespace tolvan {

TSerialProgramWindow::TSerialProgramWindow(QWidget* parent, const QString& title, int* operationLock,
                                           ConnectionFactory connection)
    : QFrame(parent), operationLock_(operationLock), reporter_(this), flows_(reporter_, std::move(connection))
{
    setWindowTitle(title);
    service_look::applyWindowLook(this);

    updateButton_ = new QPushButton(QString::fromLatin1(kButton), this);
    updateButton_->setGeometry(170, 80, 100, 30);
    updateButton_->setAutoDefault(false);
    updateButton_->setDefault(false);
    connect(updateButton_, &QPushButton::clicked, this, &TSerialProgramWindow::CmUpdate);

    serialField_ = new TSerialNoEdit(this, TSerialNoEdit::kFieldId, QString(), 170, 20, 100, 20, kSerialChars);
    serialField_->setFont(service_look::fieldFont());
    connect(serialField_, &TSerialNoEdit::notify, this, &TSerialProgramWindow::EvSerialNotify);

    label_ = new QLabel(QString::fromLatin1(kLabel), this);
    label_->setTextFormat(Qt::PlainText);
    label_->setGeometry(20, 20, 140, 20);
    label_->setFont(service_look::labelFont());
}

TSerialProgramWindow::~TSerialProgramWindow()
{
    if (destroyed_)
        return;
    // Deleted without being closed (its frame or the area went away first):
    // no box may spin an event loop inside a half-destroyed frame, so the
    // lock is freed now and the note follows from the event loop.
    destroyed_ = true;
    *operationLock_ = 0;
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QTimer::singleShot(0, app, [] {
            QtReporter(nullptr).message(texts::kSerialMayHaveChanged, texts::kNote, MessageKind::Information);
        });
    }
}

QSize TSerialProgramWindow::sizeHint() const { return {service_look::kWidth, service_look::kHeight}; }

void TSerialProgramWindow::CmUpdate() { updateSerialNumber(); }

void TSerialProgramWindow::EvSerialNotify(int id, int code)
{
    if (id == TSerialNoEdit::kFieldId && code == TSerialNoEdit::kEnReturnKey)
        updateSerialNumber();
}

void TSerialProgramWindow::updateSerialNumber()
{
    try {
        // One byte per character typed, as the radio stores them.
        flows_.writeSerialNumber(serialField_->text().toLatin1().toStdString());
    } catch (...) {
        reporter_.message(texts::kRadioCommunicationError, texts::kError, MessageKind::Exclamation);
    }
}

void TSerialProgramWindow::closeEvent(QCloseEvent* event)
{
    QFrame::closeEvent(event);
    if (event->isAccepted())
        EvDestroy();
}

void TSerialProgramWindow::EvDestroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    reporter_.message(texts::kSerialMayHaveChanged, texts::kNote, MessageKind::Information);
    *operationLock_ = 0;
}

}  // namespace tolvan

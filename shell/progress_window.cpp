#include "shell/progress_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

namespace tolvan {

namespace {
constexpr const char* kOwnPicture = ":/pictures/progress.png";
constexpr const char* kGaugeFormat = "%p%";
}  // namespace

TProgressWindow::TProgressWindow(const QString& title, const QString& picturePath, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setWindowTitle(title);
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(kWidth, kHeight);

    QPixmap pixmap(picturePath);
    if (pixmap.isNull()) {
        pixmap.load(QString::fromLatin1(kOwnPicture));
        ownPicture_ = true;
    }
    picture_ = new QLabel(this);
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setPixmap(pixmap);
    picture_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    picture_->setScaledContents(false);

    text_ = new QLabel(this);
    text_->setAlignment(Qt::AlignCenter);
    gauge_ = new QProgressBar(this);
    gauge_->setRange(0, 100);
    gauge_->setValue(0);
    gauge_->setFormat(QString::fromLatin1(kGaugeFormat));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picture_, 1);
    layout->addWidget(text_);
    layout->addWidget(gauge_);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TProgressWindow::SetText(const QString& text)
{
    text_->setText(text);
    QCoreApplication::processEvents();
}

void TProgressWindow::SetPercentDone(int percent)
{
    gauge_->setValue(percent);
    QCoreApplication::processEvents();
}

void TProgressWindow::finish()
{
    finished_ = true;
    close();
}

QString TProgressWindow::text() const { return text_->text(); }
int TProgressWindow::percentDone() const { return gauge_->value(); }

void TProgressWindow::closeEvent(QCloseEvent* event)
{
    // The programming decides when the window goes, not the window manager.
    if (finished_)
        event->accept();
    else
        event->ignore();
}

}  // namespace tolvan

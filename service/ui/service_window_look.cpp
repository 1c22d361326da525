#include "service/ui/service_window_look.h"

#include <QMdiSubWindow>
#include <QPalette>

namespace tolvan::service_look {

namespace {

QFont timesRoman(QFont::Weight weight)
{
    QFont font(QStringLiteral("Times Roman"));
    font.setStyleHint(QFont::Serif, QFont::PreferQuality);
    font.setPixelSize(12);
    font.setWeight(weight);
    font.setFixedPitch(false);
    return font;
}

}  // namespace

void applyWindowLook(QFrame* window)
{
    window->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    window->resize(kWidth, kHeight);
}

QFont labelFont() { return timesRoman(QFont::Normal); }
QFont fieldFont() { return timesRoman(QFont::Medium); }

void closeWindowAndFrame(QWidget* window)
{
    if (auto* frame = qobject_cast<QMdiSubWindow*>(window->parentWidget())) {
        frame->setAttribute(Qt::WA_DeleteOnClose);
        frame->close();
        return;
    }
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->close();
}

}  // namespace tolvan::service_look

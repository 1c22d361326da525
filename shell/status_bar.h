#pragma once
// The frame's status bar. The controller's texts sit in a message field that
// hints (status tips of menus and buttons) cover only while they show, so a
// serial number read stays visible after the pointer has passed a menu.

#include <QLabel>
#include <QStatusBar>

namespace tolvan {

class TStatusBar : public QStatusBar {
    Q_OBJECT

public:
    explicit TStatusBar(QWidget* parent = nullptr) : QStatusBar(parent), text_(new QLabel(this))
    {
        text_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        addWidget(text_, 1);
    }

    void SetText(const QString& text) { text_->setText(text); }
    QString text() const { return text_->text(); }

private:
    QLabel* text_;
};

}  // namespace tolvan

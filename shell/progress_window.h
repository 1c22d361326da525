#pragma once
// The top-most window shown while a codeplug is programmed: a picture, a
// text line and a gauge. Each update lets the application repaint, while the
// window, being modal, keeps clicks away from the rest of the program.

#include <QWidget>

class QLabel;
class QProgressBar;

namespace tolvan {

class TProgressWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 550;
    static constexpr int kHeight = 400;

    // picturePath: title.bmp of the start directory; when it is missing or
    // unreadable our own picture stands in.
    TProgressWindow(const QString& title, const QString& picturePath, QWidget* parent = nullptr);

    void SetText(const QString& text);
    void SetPercentDone(int percent);
    void finish();

    QString text() const;
    int percentDone() const;
    bool usesOwnPicture() const { return ownPicture_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* picture_ = nullptr;
    QLabel* text_ = nullptr;
    QProgressBar* gauge_ = nullptr;
    bool ownPicture_ = false;
    bool finished_ = false;
};

}  // namespace tolvan

#pragma once
// Single-line edit of the service windows: Enter tells the parent window,
// so a window can act on it (serial number) or ignore it (temp comp).

#include <QLineEdit>

namespace tolvan {

class TSerialNoEdit : public QLineEdit {
    Q_OBJECT
public:
    // Notification code sent when Enter is pressed in the edit.
    static constexpr int kEnReturnKey = 300;
    // Id of the input field of both service windows.
    static constexpr int kFieldId = 4000;

    // maxChars counts the characters that may be typed (no terminator).
    TSerialNoEdit(QWidget* parent, int id, const QString& text, int x, int y, int w, int h, int maxChars);

    int id() const { return id_; }

signals:
    // Sent synchronously to whoever the parent connected, after the edit's own key handling.
    void notify(int id, int code);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    int id_;
};

}  // namespace tolvan

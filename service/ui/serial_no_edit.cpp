#include "service/ui/serial_no_edit.h"

#include <QKeyEvent>

namespace tolvan {

TSerialNoEdit::TSerialNoEdit(QWidget* parent, int id, const QString& text, int x, int y, int w, int h, int maxChars)
    : QLineEdit(text, parent), id_(id)
{
    setGeometry(x, y, w, h);
    setMaxLength(maxChars);
}

void TSerialNoEdit::keyPressEvent(QKeyEvent* event)
{
    QLineEdit::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        emit notify(id_, kEnReturnKey);
}

}  // namespace tolvan

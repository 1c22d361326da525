#pragma once
// Dialog templates are laid out in dialog units: a quarter of the font's
// average character width across, an eighth of its height down. Keeping the
// units lets our dialogs keep the proportions of their templates whatever
// font the desktop uses.

#include <QFontMetrics>
#include <QRect>
#include <QVariant>
#include <QWidget>

namespace tolvan {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font)
    {
        const QFontMetrics metrics(font);
        static const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        baseX_ = (metrics.horizontalAdvance(sample) / 26 + 1) / 2;
        baseY_ = metrics.height();
    }

    int x(int units) const { return units * baseX_ / 4; }
    int y(int units) const { return units * baseY_ / 8; }
    QRect rect(int left, int top, int width, int height) const
    {
        return QRect(x(left), y(top), x(width), y(height));
    }

private:
    int baseX_ = 8;
    int baseY_ = 16;
};

// Each control keeps the id of its template, so code and tests can find it
// the way the templates name it.
inline constexpr const char* kControlIdProperty = "controlId";

inline void setControlId(QWidget* control, int id) { control->setProperty(kControlIdProperty, id); }

template <typename W = QWidget>
W* findControl(const QWidget* dialog, int id)
{
    for (W* child : dialog->findChildren<W*>()) {
        const QVariant value = child->property(kControlIdProperty);
        if (value.isValid() && value.toInt() == id)
            return child;
    }
    return nullptr;
}

}  // namespace tolvan

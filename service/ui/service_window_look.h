#pragma once
// What the service windows share: size, colour, edge and fonts, and how a
// window leaves its frame.

#include <QFont>
#include <QFrame>
#include <QSize>

namespace tolvan::service_look {

inline constexpr int kWidth = 460;
inline constexpr int kHeight = 170;
// Id of the Close / Program / Update button.
inline constexpr int kActionButtonId = 7001;

// Light grey background and a sunken edge of two pixels, at 460 x 170.
void applyWindowLook(QFrame* window);
// "Times Roman" at 12 pixels; the nearest serif face where it is not installed.
QFont labelFont();  // normal weight
QFont fieldFont();  // medium weight

// Closes the MDI frame around the window, or the window itself when it has
// none; either way the window is deleted.
void closeWindowAndFrame(QWidget* window);

}  // namespace tolvan::service_look

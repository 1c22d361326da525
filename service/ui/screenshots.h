#pragma once
// Pictures of the three service windows in their MDI frames, for the
// README and the screenshot script.

#include <QString>
#include <QStringList>

#include "service/flows.h"

namespace tolvan {

// Writes tempcomp-read.png, tempcomp-write.png and serial-program.png into
// directory (which must exist) and returns the paths written. connect must
// reach a radio for the read window: a read that fails leaves no window to
// picture, so tempcomp-read.png is then missing from the result. The write
// window shows the entry "0012ABCD", the serial window "TVN0012345"; nothing
// is sent to the radio. Message boxes are suppressed unless a
// QtReporter interceptor is installed. Needs a QApplication.
QStringList renderServiceWindows(const QString& directory, ConnectionFactory connect);

}  // namespace tolvan

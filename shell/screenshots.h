#pragma once
// Renders the main window, the About box, the COM port dialog and the
// progress window to PNG files, for the documentation. Works offscreen.

#include <QString>

namespace tolvan {

// Returns the process exit code: 0 when every picture was written.
int renderScreenshots(const QString& directory);

}  // namespace tolvan

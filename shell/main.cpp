#include <cstdio>

#include <QApplication>

#include "shell/app.h"
#include "shell/command_line.h"
#include "shell/screenshots.h"

int main(int argc, char** argv)
{
    // Before QApplication, so that it works without a display.
    if (tolvan::asksForVersion(argc, argv)) {
        std::fputs(tolvan::versionText().c_str(), stdout);
        return 0;
    }
    QApplication application(argc, argv);
    QStringList arguments = QApplication::arguments().mid(1);
    const qsizetype shot = arguments.indexOf(QStringLiteral("--screenshot"));
    if (shot >= 0)
        return tolvan::renderScreenshots(arguments.value(shot + 1));

    tolvan::TTolvan_ideApp app;
    return app.Run(arguments);
}

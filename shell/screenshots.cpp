#include "shell/screenshots.h"

#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QTemporaryDir>

#include "archive/file_module.h"
#include "link/dialog/comm_setup_dialog.h"
#include "service/texts.h"
#include "service/ui/qt_reporter.h"
#include "service/ui/screenshots.h"
#include "shell/about_dialog.h"
#include "shell/app.h"
#include "shell/frame.h"
#include "shell/progress_window.h"
#include "shell/status_bar.h"

namespace tolvan {

namespace {

bool save(QWidget& widget, const QDir& dir, const char* name)
{
    widget.show();
    QApplication::processEvents();
    const QString path = dir.filePath(QString::fromLatin1(name));
    const bool ok = widget.grab().save(path, "PNG");
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write", qPrintable(path));
    widget.hide();
    return ok;
}

}  // namespace

int renderScreenshots(const QString& directory)
{
    if (directory.isEmpty()) {
        std::fputs("--screenshot needs a directory\n", stderr);
        return 2;
    }
    // Absolute now: the pictures are taken from a scratch start directory.
    QDir dir(QDir(directory).absolutePath());
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(directory));
        return 1;
    }
    // Start-up notes would wait for a click nobody gives.
    SilentReporter silent;
    QtReporter::setInterceptor(&silent);

    // A scratch start directory with COM 1 configured, and no registration.
    QTemporaryDir scratch;
    const QString startDirectory = QDir::currentPath();
    QDir::setCurrent(scratch.path());
    fileModule::storeWorkingDirectory();
    fileModule().writeComPortId(1);

    bool ok = true;
    {
        TTolvan_ideApp app;
        app.InitMainWindow();
        TTolvan_ideFrame& frame = *app.frame();
        frame.resize(720, 480);
        frame.statusLine()->SetText(QString::fromLatin1(texts::kCodeplugStatus));
        ok &= save(frame, dir, "main-window.png");

        TTolvan_ideAboutDlg about(&frame);
        ok &= save(about, dir, "about.png");

        TCommSetupDialog ports(&frame);
        ok &= save(ports, dir, "com-port-dialog.png");

        TProgressWindow progress(QString::fromLatin1(texts::kProgressTitle), app.client()->picturePath());
        progress.SetText(QStringLiteral("42") + QString::fromLatin1(texts::kProgressDone));
        progress.SetPercentDone(42);
        ok &= save(progress, dir, "progress-window.png");
        progress.finish();
    }
    // The service windows read COM 1 of com.ini: a radio answers there when
    // TOLVAN_COM1 names one, else the read window is left out.
    for (const QString& path : renderServiceWindows(dir.absolutePath(), comIniConnection()))
        std::printf("wrote %s\n", qPrintable(path));
    QDir::setCurrent(startDirectory);
    QtReporter::setInterceptor(nullptr);
    return ok ? 0 : 1;
}

}  // namespace tolvan

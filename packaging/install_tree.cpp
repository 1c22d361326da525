// tolvan_install_tree: writes the desktop files the package installs under
// share/ (MIME package, desktop entry, icons in every size drawn), named and
// worded exactly as the application writes them per user at each start.
//
// usage: tolvan_install_tree SHARE_DIR PROGRAM ICON...
//   PROGRAM  the Exec value of the installed entry, found on PATH
//   ICON     resources/icons/application-<size>.png or document-<size>.png

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QSaveFile>

#include "shell/registration.h"

namespace {

bool fail(const QString& message)
{
    std::fprintf(stderr, "tolvan_install_tree: %s\n", qPrintable(message));
    return false;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return fail(QStringLiteral("cannot create the folder of ") + path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return fail(QStringLiteral("cannot write ") + path);
    return true;
}

// The size in the name must be the picture's size, or the desktop scales a
// wrong picture into a slot where it looks broken.
bool installIcon(const tolvan::Registration& installed, const QString& source)
{
    static const QRegularExpression kName(QStringLiteral("^(application|document)-([0-9]+)\\.png$"));
    const QRegularExpressionMatch match = kName.match(QFileInfo(source).fileName());
    if (!match.hasMatch())
        return fail(source + QStringLiteral(": not named application-<size>.png or document-<size>.png"));
    const int size = match.captured(2).toInt();
    const QSize actual = QImageReader(source).size();
    if (actual != QSize(size, size))
        return fail(QStringLiteral("%1: is %2x%3, its name says %4")
                        .arg(source)
                        .arg(actual.width())
                        .arg(actual.height())
                        .arg(size));
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read ") + source);
    const bool app = match.captured(1) == QStringLiteral("application");
    return writeFile(app ? installed.appIcon(size) : installed.documentIcon(size), in.readAll());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fputs("usage: tolvan_install_tree SHARE_DIR PROGRAM ICON...\n", stderr);
        return 2;
    }
    const QString program = QFile::decodeName(argv[2]);
    const tolvan::Registration installed(program, QFile::decodeName(argv[1]));
    bool ok = writeFile(installed.mimePackage(), tolvan::Registration::mimePackageText());
    // A bare name, not a path: the package decides where bin/ is.
    ok = writeFile(installed.desktopEntry(), tolvan::Registration::desktopEntryText(program)) && ok;
    for (int i = 3; i < argc; ++i)
        ok = installIcon(installed, QFile::decodeName(argv[i])) && ok;
    return ok ? 0 : 1;
}

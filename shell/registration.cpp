#include "shell/registration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace tolvan {

namespace {

// The database is only a cache of the packages; it may be missing or slow.
constexpr int kRefreshTimeoutMs = 10000;

bool writeFile(const QString& path, const QByteArray& content)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content);
    return file.commit();
}

QByteArray resource(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

Registration::Registration(QString executable, QString dataHome)
    : executable_(std::move(executable)), dataHome_(dataHome.isEmpty() ? defaultDataHome() : std::move(dataHome))
{
}

QString Registration::defaultDataHome()
{
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.local/share");
}

QString Registration::mimePackage() const { return dataHome_ + QStringLiteral("/mime/packages/tolvan-tool.xml"); }
QString Registration::desktopEntry() const { return dataHome_ + QStringLiteral("/applications/tolvan-tool.desktop"); }
QString Registration::documentIcon(int size) const
{
    return dataHome_ + QStringLiteral("/icons/hicolor/%1x%1/mimetypes/").arg(size) + kDocumentIcon
           + QStringLiteral(".png");
}
QString Registration::appIcon(int size) const
{
    return dataHome_ + QStringLiteral("/icons/hicolor/%1x%1/apps/").arg(size) + kAppIcon + QStringLiteral(".png");
}

QString Registration::execValue(const QString& program)
{
    QString quoted;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    // The entry format unescapes backslashes once more before reading Exec.
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    return u'"' + quoted + u'"';
}

QByteArray Registration::mimePackageText()
{
    return QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"%1\">\n"
        "    <comment>%2</comment>\n"
        "    <icon name=\"%3\"/>\n"
        "    <glob pattern=\"%4\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n")
        .arg(QString::fromLatin1(kMimeType), QString::fromLatin1(kMimeComment), QString::fromLatin1(kDocumentIcon),
             QString::fromLatin1(kGlob))
        .toUtf8();
}

QByteArray Registration::desktopEntryText(const QString& exec)
{
    // No MimeType= key: the tool takes no file on its command line, so it
    // gives archives their icon without claiming to open them.
    return QStringLiteral(
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Tolvan Tool\n"
        "Comment=Service tool for professional two-way radios\n"
        "Exec=%1\n"
        "Icon=%2\n"
        "Terminal=false\n"
        "Categories=Utility;\n")
        .arg(exec, QString::fromLatin1(kAppIcon))
        .toUtf8();
}

void Registration::write() const
{
    writeFile(mimePackage(), mimePackageText());
    writeFile(desktopEntry(), desktopEntryText(execValue(executable_)));
    writeFile(documentIcon(), resource(QStringLiteral(":/icons/document-%1.png").arg(kIconSize)));
    writeFile(appIcon(), resource(QStringLiteral(":/icons/application-%1.png").arg(kIconSize)));
    refreshMimeDatabase();
}

void Registration::remove() const
{
    for (const QString& file : files())
        QFile::remove(file);
    refreshMimeDatabase();
}

void Registration::refreshMimeDatabase() const
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    const QString mimeDir = dataHome_ + QStringLiteral("/mime");
    if (tool.isEmpty() || !QFileInfo(mimeDir + QStringLiteral("/packages")).isDir())
        return;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(tool, {mimeDir});
    if (process.waitForStarted() && !process.waitForFinished(kRefreshTimeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
}

}  // namespace tolvan

#pragma once
// The desktop's knowledge of the tool: a MIME type for *.tvn archives with
// our document icon, and the application's desktop entry with its icon,
// under $XDG_DATA_HOME. Written at each start, removed by "unregister";
// every failure is ignored, as the program runs on without them.
// The installed copies under /usr/share are generated from the same texts
// and names (packaging/install_tree.cpp), so the two always agree.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tolvan {

class Registration {
public:
    static constexpr const char* kMimeType = "application/x-tolvan-archive";
    static constexpr const char* kMimeComment = "Tolvan Archive Files";
    static constexpr const char* kGlob = "*.tvn";
    static constexpr const char* kDocumentIcon = "application-x-tolvan-archive";
    static constexpr const char* kAppIcon = "tolvan-tool";
    // The one size written per user; the package installs every size drawn.
    static constexpr int kIconSize = 48;

    // dataHome empty: $XDG_DATA_HOME, or ~/.local/share when unset.
    explicit Registration(QString executable, QString dataHome = {});

    void write() const;
    void remove() const;

    QString mimePackage() const;    // mime/packages/tolvan-tool.xml
    QString desktopEntry() const;   // applications/tolvan-tool.desktop
    QString documentIcon(int size = kIconSize) const;  // icons/hicolor/<size>x<size>/mimetypes/...png
    QString appIcon(int size = kIconSize) const;       // icons/hicolor/<size>x<size>/apps/...png
    QStringList files() const { return {mimePackage(), desktopEntry(), documentIcon(), appIcon()}; }

    static QString defaultDataHome();
    static QByteArray mimePackageText();
    // exec: the entry's ready-made Exec value.
    static QByteArray desktopEntryText(const QString& exec);
    // The Exec value of a desktop entry for a program path: quoted, with the
    // characters the entry format reserves escaped.
    static QString execValue(const QString& program);

private:
    void refreshMimeDatabase() const;

    QString executable_;
    QString dataHome_;
};

}  // namespace tolvan

#pragma once
// The help window: the HTML pages shipped in the resources, one per command
// id and a contents page.

#include <QUrl>
#include <QWidget>

class QTextBrowser;

namespace tolvan {

class THelpWindow : public QWidget {
    Q_OBJECT

public:
    explicit THelpWindow(QWidget* parent = nullptr);

    // A command's topic; the contents page for an id that has none.
    static QUrl topicUrl(int commandId);
    static QUrl contentsUrl();
    static QUrl usingHelpUrl();

    void showTopic(int commandId);
    void showUrl(const QUrl& url);
    QUrl currentUrl() const;
    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_ = nullptr;
};

}  // namespace tolvan

#include "shell/help_window.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace tolvan {

namespace {
constexpr const char* kCaption = "Tolvan Tool Help";
constexpr const char* kContents = "&Contents";
constexpr const char* kBack = "&Back";
constexpr const char* kClose = "Close";
}  // namespace

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(kCaption);
    resize(560, 480);

    auto* contents = new QPushButton(kContents, this);
    auto* back = new QPushButton(kBack, this);
    auto* close = new QPushButton(kClose, this);
    browser_ = new QTextBrowser(this);
    browser_->setOpenLinks(true);
    browser_->setOpenExternalLinks(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(contents);
    buttons->addWidget(back);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_, 1);

    connect(contents, &QPushButton::clicked, this, [this] { showUrl(contentsUrl()); });
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    back->setEnabled(false);
}

QUrl THelpWindow::contentsUrl() { return QUrl(QStringLiteral("qrc:/help/contents.html")); }
QUrl THelpWindow::usingHelpUrl() { return QUrl(QStringLiteral("qrc:/help/using.html")); }

QUrl THelpWindow::topicUrl(int commandId)
{
    const QString page = QStringLiteral("/help/%1.html").arg(commandId);
    if (!QFile::exists(u':' + page))
        return contentsUrl();
    return QUrl(QStringLiteral("qrc:") + page);
}

void THelpWindow::showTopic(int commandId) { showUrl(topicUrl(commandId)); }

void THelpWindow::showUrl(const QUrl& url)
{
    browser_->setSource(url);
    show();
    raise();
    activateWindow();
}

QUrl THelpWindow::currentUrl() const { return browser_->source(); }

}  // namespace tolvan

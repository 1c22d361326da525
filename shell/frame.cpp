#include "shell/frame.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QToolBar>
#include <QWidgetAction>

#include "shell/frame_texts.h"
#include "shell/mdi_client.h"
#include "shell/status_bar.h"

namespace tolvan {

namespace {

constexpr int kToolbarFontPoints = 10;
constexpr int kGlyphSize = 20;

QIcon glyph(int resource) { return QIcon(QStringLiteral(":/glyphs/glyph%1.png").arg(resource)); }

}  // namespace

TTolvan_ideFrame::TTolvan_ideFrame(TTolvan_ideMDIClient* client, QWidget* parent)
    : QMainWindow(parent), client_(client)
{
    setWindowTitle(QString::fromLatin1(frame_texts::kAppName));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/application-16.png"));
    icon.addFile(QStringLiteral(":/icons/application-48.png"));
    setWindowIcon(icon);
    setCentralWidget(client_);

    statusBar_ = new TStatusBar(this);
    setStatusBar(statusBar_);
    client_->SetStatusBar(statusBar_);

    buildMenu();
    buildToolBar();
    connect(client_, &TTolvan_ideMDIClient::commandEnablingChanged, this, &TTolvan_ideFrame::updateCommandEnabling);
    updateCommandEnabling();
    resize(800, 600);
}

QAction* TTolvan_ideFrame::makeAction(int id, const char* text)
{
    auto* a = new QAction(QString::fromLatin1(text), this);
    a->setData(id);
    a->setStatusTip(QString::fromLatin1(frame_texts::hint(id)));
    a->setIconVisibleInMenu(false);
    connect(a, &QAction::triggered, this, [this, id] { emit command(id); });
    actions_[id] = a;
    return a;
}

QAction* TTolvan_ideFrame::action(int id) const
{
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void TTolvan_ideFrame::buildMenu()
{
    namespace t = frame_texts;
    QMenuBar* bar = menuBar();
    auto popup = [&](const char* title, int hintId) {
        QMenu* menu = bar->addMenu(QString::fromLatin1(title));
        menu->menuAction()->setData(hintId);
        menu->menuAction()->setStatusTip(QString::fromLatin1(t::hint(hintId)));
        return menu;
    };

    QMenu* operations = popup(t::kOperations, cmd::kOperationsMenu);
    operations->addAction(makeAction(cmd::kLoadArchive, t::kLoadArchive));
    operations->addAction(makeAction(cmd::kProgramCodeplug, t::kProgramCodeplug));
    operations->addSeparator();
    operations->addAction(makeAction(cmd::kTempCompRead, t::kTempCompRead));
    operations->addAction(makeAction(cmd::kTempCompWrite, t::kTempCompWrite));
    operations->addSeparator();
    operations->addAction(makeAction(cmd::kProgramSerialNo, t::kProgramSerialNo));
    operations->addAction(makeAction(cmd::kReadSerialNo, t::kReadSerialNo));
    operations->addSeparator();
    QAction* exit = makeAction(cmd::kExit, t::kExit);
    // Window managers close on Alt+F4 themselves; the shortcut makes it hold everywhere.
    exit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    operations->addAction(exit);

    QMenu* communication = popup(t::kCommunication, cmd::kCommunicationMenu);
    communication->addAction(makeAction(cmd::kComPortSettings, t::kComPortSettings));

    QMenu* help = popup(t::kHelp, cmd::kHelpMenu);
    help->addAction(makeAction(cmd::kHelpAbout, t::kAbout));
}

void TTolvan_ideFrame::buildToolBar()
{
    toolBar_ = new QToolBar(QString::fromLatin1(frame_texts::kToolbar), this);
    toolBar_->setObjectName(QStringLiteral("Toolbar"));
    toolBar_->setProperty("controlId", cmd::kToolbarId);
    toolBar_->setMovable(true);
    toolBar_->setFloatable(true);
    toolBar_->setOrientation(Qt::Horizontal);
    toolBar_->setIconSize(QSize(kGlyphSize, kGlyphSize));
    QFont font = toolBar_->font();
    font.setPointSize(kToolbarFontPoints);
    font.setBold(false);
    font.setItalic(false);
    toolBar_->setFont(font);

    auto button = [&](int glyphResource, int id) {
        QAction* a = action(id);
        a->setIcon(glyph(glyphResource));
        toolBar_->addAction(a);
    };
    auto gap = [&] {
        auto* spacer = new QWidget(toolBar_);
        spacer->setFixedWidth(kToolbarGap);
        QAction* a = toolBar_->addWidget(spacer);
        a->setProperty(kGapProperty, kToolbarGap);
    };
    button(2, cmd::kLoadArchive);
    button(1, cmd::kProgramCodeplug);
    button(5, cmd::kTempCompRead);
    button(3, cmd::kTempCompWrite);
    button(6, cmd::kProgramSerialNo);
    gap();
    button(4, cmd::kComPortSettings);
    gap();
    addToolBar(Qt::TopToolBarArea, toolBar_);
}

void TTolvan_ideFrame::updateCommandEnabling()
{
    action(cmd::kProgramCodeplug)->setEnabled(client_->CeProgramCodeplug());
}

void TTolvan_ideFrame::closeEvent(QCloseEvent* event)
{
    if (canClose && !canClose()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

}  // namespace tolvan

#include "shell/app.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>

#include "shell/about_dialog.h"
#include "shell/command_ids.h"
#include "shell/command_line.h"
#include "shell/frame.h"
#include "shell/help_window.h"
#include "shell/mdi_child.h"
#include "shell/registration.h"

// Outside the namespace, as the resource initialiser is global.
static void initShellResources() { Q_INIT_RESOURCE(tolvan); }

namespace tolvan {

TTolvan_ideApp::TTolvan_ideApp(QObject* parent) : QObject(parent)
{
    initShellResources();
    qApp->installEventFilter(this);
}

TTolvan_ideApp::~TTolvan_ideApp()
{
    qApp->removeEventFilter(this);
    // The frame owns the controller and the help window.
    frame_.reset();
}

void TTolvan_ideApp::InitMainWindow()
{
    operationLock_ = 0;
    client_ = new TTolvan_ideMDIClient(&operationLock_, connect_);
    frame_ = std::make_unique<TTolvan_ideFrame>(client_);
    frame_->canClose = [this] { return CanClose(); };
    connect(frame_.get(), &TTolvan_ideFrame::command, this, &TTolvan_ideApp::dispatch);
}

void TTolvan_ideApp::InitInstance(const QStringList& arguments, Qt::WindowStates requested)
{
    InitMainWindow();
    const Qt::WindowStates state = startWindowState(requested);
    frame_->setWindowState(state);
    // Minimised without activation, as such a start asks.
    frame_->setAttribute(Qt::WA_ShowWithoutActivating, state.testFlag(Qt::WindowMinimized));
    frame_->show();

    std::vector<std::string> tokens;
    for (const QString& argument : arguments)
        tokens.push_back(argument.toStdString());
    const Registration registration(QCoreApplication::applicationFilePath(), dataHome_);
    unregistered_ = selectsUnregister(tokens);
    if (unregistered_)
        registration.remove();
    else
        registration.write();
}

int TTolvan_ideApp::Run(const QStringList& arguments)
{
    InitInstance(arguments);
    return QApplication::exec();
}

bool TTolvan_ideApp::CanClose()
{
    // Only a help session the technician opened is closed with us; a
    // context-help page goes with the frame that owns it.
    if (helpUsed_ && helpWindow_)
        helpWindow_->close();
    return true;
}

THelpWindow* TTolvan_ideApp::helpWindow() const { return helpWindow_; }

THelpWindow* TTolvan_ideApp::ensureHelpWindow()
{
    if (!helpWindow_)
        helpWindow_ = new THelpWindow(frame_.get());
    return helpWindow_;
}

void TTolvan_ideApp::showHelp(int id) { ensureHelpWindow()->showTopic(id); }

void TTolvan_ideApp::dispatch(int id)
{
    if (contextHelpMode_ || f1Down_) {
        contextHelpMode_ = false;
        showHelp(id);
        return;
    }
    runCommand(id);
}

void TTolvan_ideApp::runCommand(int id)
{
    switch (id) {
    case cmd::kLoadArchive: client_->CmLoadArchive(); break;
    case cmd::kProgramCodeplug:
        if (client_->CeProgramCodeplug())
            client_->CmProgramCodeplug();
        break;
    case cmd::kTempCompRead: client_->CmTempCompRead(); break;
    case cmd::kTempCompWrite: client_->CmTempCompWrite(); break;
    case cmd::kProgramSerialNo: client_->CmProgramSerialNo(); break;
    case cmd::kReadSerialNo: client_->CmReadSerialNo(); break;
    case cmd::kComPortSettings: client_->CmComPortSettings(); break;
    case cmd::kExit: frame_->close(); break;
    case cmd::kHelpAbout: CmHelpAbout(); break;
    case cmd::kHelpContents: CmHelpContents(); break;
    case cmd::kHelpUsing: CmHelpUsing(); break;
    default: break;
    }
}

void TTolvan_ideApp::CmHelpAbout()
{
    TTolvan_ideAboutDlg dialog(frame_.get());
    dialog.exec();
}

void TTolvan_ideApp::CmHelpContents()
{
    ensureHelpWindow()->showUrl(THelpWindow::contentsUrl());
    helpUsed_ = true;
}

void TTolvan_ideApp::CmHelpUsing()
{
    ensureHelpWindow()->showUrl(THelpWindow::usingHelpUrl());
    helpUsed_ = true;
}

void TTolvan_ideApp::EvViewCreated(TTolvan_ideEditView* view)
{
    if (!client_)
        return;
    auto* child = new TTolvan_ideMDIChild(view, {}, false);
    child->setWindowIcon(QIcon(QStringLiteral(":/icons/document-16.png")));
    client_->addSubWindow(child);
    child->show();
}

bool TTolvan_ideApp::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F1 && !key->isAutoRepeat())
            f1Down_ = false;
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_F1) {
        f1Down_ = true;
        // F1 on a highlighted menu item: choose the item, and the command it
        // sends opens its topic instead of running.
        auto* menu = qobject_cast<QMenu*>(watched);
        QAction* item = menu ? menu->activeAction() : nullptr;
        if (item && frame_ && frame_->action(item->data().toInt()) == item) {
            contextHelpMode_ = true;
            QCoreApplication::postEvent(menu, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
            return true;
        }
        return false;
    }
    if (key->key() == Qt::Key_Escape && contextHelpMode_) {
        contextHelpMode_ = false;
        if (frame_)
            frame_->unsetCursor();
        return true;
    }
    return false;
}

}  // namespace tolvan

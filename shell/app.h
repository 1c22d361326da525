#pragma once
// The application object: builds the main frame around the operation
// controller, keeps the operation lock, registers the tool with the desktop,
// runs context help and the Help > About command.

#include <memory>

#include <QObject>
#include <QPointer>
#include <QStringList>

#include "service/flows.h"
#include "shell/mdi_client.h"

namespace tolvan {

class THelpWindow;
class TTolvan_ideEditView;
class TTolvan_ideFrame;

class TTolvan_ideApp : public QObject {
    Q_OBJECT

public:
    explicit TTolvan_ideApp(QObject* parent = nullptr);
    ~TTolvan_ideApp() override;

    // Before InitMainWindow: how radio connections are opened.
    void setConnectionFactory(ConnectionFactory connect) { connect_ = std::move(connect); }
    // Before InitInstance: where the desktop registration goes (tests).
    void setDataHome(const QString& dataHome) { dataHome_ = dataHome; }

    // Controller (start-up checks run here), frame, status bar, toolbar.
    void InitMainWindow();
    // InitMainWindow, then shows the frame in its start state, then reads
    // the command line (register, or unregister).
    void InitInstance(const QStringList& arguments, Qt::WindowStates requested = Qt::WindowNoState);
    int Run(const QStringList& arguments);
    bool CanClose();

    // The way every command goes: help instead of the command while context
    // help is pending or F1 is held.
    void dispatch(int id);
    void CmHelpAbout();
    void CmHelpContents();
    void CmHelpUsing();
    // A text view goes into a new MDI child of the controller.
    void EvViewCreated(TTolvan_ideEditView* view);

    TTolvan_ideFrame* frame() const { return frame_.get(); }
    TTolvan_ideMDIClient* client() const { return client_; }
    THelpWindow* helpWindow() const;
    int operationLock() const { return operationLock_; }
    bool helpUsed() const { return helpUsed_; }
    bool contextHelpMode() const { return contextHelpMode_; }
    // Ran the unregister option in the last InitInstance.
    bool unregistered() const { return unregistered_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    THelpWindow* ensureHelpWindow();
    void showHelp(int id);
    void runCommand(int id);

    bool helpUsed_ = false;
    bool contextHelpMode_ = false;
    bool f1Down_ = false;
    bool unregistered_ = false;
    std::unique_ptr<TTolvan_ideFrame> frame_;
    TTolvan_ideMDIClient* client_ = nullptr;
    QPointer<THelpWindow> helpWindow_;
    int operationLock_ = 0;
    ConnectionFactory connect_ = comIniConnection();
    QString dataHome_;
};

}  // namespace tolvan

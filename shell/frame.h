#pragma once
// The main frame: menu 100, the toolbar, the status bar with hints, and the
// controller as its MDI area. Every command leaves through command(id).

#include <functional>
#include <map>

#include <QMainWindow>

class QToolBar;

namespace tolvan {

class TStatusBar;
class TTolvan_ideMDIClient;

class TTolvan_ideFrame : public QMainWindow {
    Q_OBJECT

public:
    // Width of the blank gaps between toolbar groups, in pixels.
    static constexpr int kToolbarGap = 6;
    // Property that marks those gaps among the toolbar's actions.
    static constexpr const char* kGapProperty = "toolbarGap";

    explicit TTolvan_ideFrame(TTolvan_ideMDIClient* client, QWidget* parent = nullptr);

    // The action that sends command id, shared by menu and toolbar.
    QAction* action(int id) const;
    TStatusBar* statusLine() const { return statusBar_; }
    QToolBar* toolBar() const { return toolBar_; }
    TTolvan_ideMDIClient* client() const { return client_; }

    // Asked before the frame closes; the application's closing rules.
    std::function<bool()> canClose;

signals:
    void command(int id);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* makeAction(int id, const char* text);
    void buildMenu();
    void buildToolBar();
    void updateCommandEnabling();

    TTolvan_ideMDIClient* client_;
    TStatusBar* statusBar_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    std::map<int, QAction*> actions_;
};

}  // namespace tolvan

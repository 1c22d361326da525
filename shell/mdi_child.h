#pragma once
// The tool's own MDI child frame and text view types.

#include <QMdiSubWindow>
#include <QPlainTextEdit>

namespace tolvan {

class TTolvan_ideMDIChild : public QMdiSubWindow {
    Q_OBJECT

public:
    // shrinkToClient: the frame takes the size of its client window.
    TTolvan_ideMDIChild(QWidget* client, const QString& caption = {}, bool shrinkToClient = false,
                        QWidget* parent = nullptr);
    ~TTolvan_ideMDIChild() override;
};

// Plain text with the classic edit accelerators: Shift+Delete cut,
// Ctrl+Insert copy, Shift+Insert paste, Ctrl+Delete clear, Alt+Backspace
// undo and F3 find next. Each accelerator action keeps its command id.
class TTolvan_ideEditView : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit TTolvan_ideEditView(QWidget* parent = nullptr);
    ~TTolvan_ideEditView() override;

    // The text F3 looks for next; empty asks for it first.
    void setSearchText(const QString& text) { searchText_ = text; }
    QString searchText() const { return searchText_; }
    void findNext();

private:
    QString searchText_;
};

}  // namespace tolvan

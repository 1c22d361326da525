#include "shell/mdi_child.h"

#include <QAction>
#include <QInputDialog>

#include "shell/command_ids.h"

namespace tolvan {

namespace {
constexpr const char* kFindCaption = "Find";
constexpr const char* kFindPrompt = "Find what:";
}  // namespace

TTolvan_ideMDIChild::TTolvan_ideMDIChild(QWidget* client, const QString& caption, bool shrinkToClient,
                                         QWidget* parent)
    : QMdiSubWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption);
    if (client)
        setWidget(client);
    if (shrinkToClient && client) {
        client->adjustSize();
        resize(sizeHint());
    }
}

TTolvan_ideMDIChild::~TTolvan_ideMDIChild() = default;

TTolvan_ideEditView::TTolvan_ideEditView(QWidget* parent) : QPlainTextEdit(parent)
{
    struct Accelerator {
        int id;
        QKeyCombination key;
        void (TTolvan_ideEditView::*run)();
    };
    static const Accelerator kAccelerators[] = {
        {cmd::kEditCut, Qt::SHIFT | Qt::Key_Delete, &QPlainTextEdit::cut},
        {cmd::kEditCopy, Qt::CTRL | Qt::Key_Insert, &QPlainTextEdit::copy},
        {cmd::kEditPaste, Qt::SHIFT | Qt::Key_Insert, &QPlainTextEdit::paste},
        {cmd::kEditClear, Qt::CTRL | Qt::Key_Delete, &QPlainTextEdit::clear},
        {cmd::kEditUndo, Qt::ALT | Qt::Key_Backspace, &QPlainTextEdit::undo},
        {cmd::kEditFindNext, QKeyCombination(Qt::Key_F3), &TTolvan_ideEditView::findNext},
    };
    for (const Accelerator& a : kAccelerators) {
        auto* action = new QAction(this);
        action->setData(a.id);
        action->setShortcut(QKeySequence(a.key));
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, a.run);
        addAction(action);
    }
}

TTolvan_ideEditView::~TTolvan_ideEditView() = default;

void TTolvan_ideEditView::findNext()
{
    if (searchText_.isEmpty()) {
        searchText_ = QInputDialog::getText(this, kFindCaption, kFindPrompt);
        if (searchText_.isEmpty())
            return;
    }
    if (!find(searchText_)) {
        // Wrap once to the top, as a repeated search would.
        QTextCursor start = textCursor();
        start.movePosition(QTextCursor::Start);
        setTextCursor(start);
        find(searchText_);
    }
}

}  // namespace tolvan

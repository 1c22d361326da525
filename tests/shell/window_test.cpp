// The desktop application without a radio: frame, menu, toolbar, hints,
// loading archives, the COM port dialog, the About box, help and the text view.

#include <algorithm>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include "link/dialog/comm_setup_dialog.h"
#include "link/dialog/dialog_units.h"
#include "service/texts.h"
#include "shell/about_dialog.h"
#include "shell/app.h"
#include "shell/command_ids.h"
#include "shell/frame.h"
#include "shell/frame_texts.h"
#include "shell/help_window.h"
#include "shell/mdi_child.h"
#include "shell/registration.h"
#include "shell/status_bar.h"
#include "tests/shell/shell_fixture.h"

namespace tolvan {

using testing::Recorder;
using testing::StartDirectory;

namespace {

// An application with its frame, a scratch start directory and a file
// chooser that hands out the next prepared answer.
struct Shell {
    explicit Shell(int comPort = 1) : start(comPort)
    {
        app.InitMainWindow();
        app.client()->setFileChooser([this](QWidget*) {
            ++chooserCalls;
            return nextFile;
        });
    }
    TTolvan_ideFrame& frame() { return *app.frame(); }
    QAction* action(int id) { return frame().action(id); }
    QString status() { return frame().statusLine()->text(); }
    void load(const QString& path)
    {
        nextFile = path;
        app.dispatch(cmd::kLoadArchive);
    }

    Recorder recorder;
    StartDirectory start;
    TTolvan_ideApp app;
    QString nextFile;
    int chooserCalls = 0;
};

// On the box itself: a check box takes clicks on its box and its text only.
void clickPort(TCommSetupDialog& dialog, int port)
{
    QCheckBox* box = dialog.portButton(port);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

QToolButton* buttonFor(QToolBar* bar, QAction* action)
{
    return qobject_cast<QToolButton*>(bar->widgetForAction(action));
}

// Opens the frame's Operations menu with Load Archive highlighted; null when the menu never shows.
QMenu* highlightLoadArchive(Shell& shell)
{
    shell.frame().show();
    QMenu* operations = shell.frame().menuBar()->actions().first()->menu();
    operations->popup(QPoint(10, 10));
    if (!QTest::qWaitForWindowExposed(operations))
        return nullptr;
    operations->setActiveAction(shell.action(11840));
    return operations;
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void captionAndStartUp()
    {
        Shell shell;
        QCOMPARE(shell.frame().windowTitle(), QStringLiteral("Tolvan Tool                "));
        QVERIFY(shell.recorder.messages.empty());
        QCOMPARE(shell.app.operationLock(), 0);
        QCOMPARE(shell.app.client()->bitmapDirectory(), shell.start.path().toStdString());
        QCOMPARE(QString::fromStdString(workingDirectory()), shell.start.path());
        QVERIFY(qobject_cast<QMdiArea*>(shell.frame().centralWidget()) == shell.app.client());
    }

    void startUpWithoutComIni()
    {
        Recorder recorder;
        StartDirectory start(-1);
        int lock = 5;
        TTolvan_ideMDIClient client(&lock);
        QCOMPARE(lock, 0);
        QCOMPARE(recorder.messages.size(), std::size_t(1));
        QCOMPARE(recorder.messages[0].text,
                 std::string("COM port has not yet been configured. Please configure COM port now !!"));
        QCOMPARE(recorder.messages[0].caption, std::string("NOTE"));
        QVERIFY(recorder.messages[0].kind == MessageKind::Information);
    }

    void menuStructure()
    {
        Shell shell;
        struct Item {
            const char* text;
            int id;  // 0: separator
        };
        struct Popup {
            const char* title;
            std::vector<Item> items;
        };
        const std::vector<Popup> expected = {
            {"&Operations",
             {{"&Load Archive", 11840}, {"&Program Radio Codeplug", 11847}, {"", 0}, {"Temp Comp Data &Read", 11844},
              {"Temp Comp Data &Write", 11845}, {"", 0}, {"&S/N No. programming", 11843}, {"Rea&d S/N No.", 11846},
              {"", 0}, {"E&xit\tAlt+F4", 24310}}},
            {"&Communication Settings", {{"&COM Port Settings", 11842}}},
            {"&Help", {{"&About...", 2009}}},
        };
        const QList<QAction*> popups = shell.frame().menuBar()->actions();
        QCOMPARE(popups.size(), qsizetype(expected.size()));
        for (std::size_t p = 0; p < expected.size(); ++p) {
            QMenu* menu = popups[qsizetype(p)]->menu();
            QVERIFY(menu);
            QCOMPARE(popups[qsizetype(p)]->text(), QString::fromLatin1(expected[p].title));
            const QList<QAction*> items = menu->actions();
            QCOMPARE(items.size(), qsizetype(expected[p].items.size()));
            for (std::size_t i = 0; i < expected[p].items.size(); ++i) {
                const Item& want = expected[p].items[i];
                QAction* got = items[qsizetype(i)];
                if (want.id == 0) {
                    QVERIFY2(got->isSeparator(), expected[p].title);
                    continue;
                }
                QCOMPARE(got->text(), QString::fromLatin1(want.text));
                QCOMPARE(got->data().toInt(), want.id);
                QVERIFY(!got->isIconVisibleInMenu());
            }
        }
        QCOMPARE(shell.action(24310)->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
    }

    void toolbarOrder()
    {
        Shell shell;
        QToolBar* bar = shell.frame().toolBar();
        QCOMPARE(bar->windowTitle(), QStringLiteral("Toolbar"));
        QVERIFY(bar->isMovable());
        QVERIFY(bar->isFloatable());
        QCOMPARE(shell.frame().toolBarArea(bar), Qt::TopToolBarArea);
        QCOMPARE(bar->property("controlId").toInt(), 32041);
        QCOMPARE(bar->font().pointSize(), 10);

        // Ids, with -6 for a gap of six pixels.
        const std::vector<int> expected = {11840, 11847, 11844, 11845, 11843, -6, 11842, -6};
        std::vector<int> got;
        for (QAction* a : bar->actions()) {
            if (a->property(TTolvan_ideFrame::kGapProperty).isValid()) {
                got.push_back(-bar->widgetForAction(a)->width());
                continue;
            }
            QVERIFY(!a->icon().isNull());
            QVERIFY(buttonFor(bar, a));
            got.push_back(a->data().toInt());
        }
        QCOMPARE(got, expected);
        QVERIFY(!bar->actions().contains(shell.action(11846)));
    }

    void hintTexts()
    {
        Shell shell;
        const std::vector<std::pair<int, const char*>> commands = {
            {11840, "Loads Tolvan Archive Files (*.TVN)"},
            {11842, "Select communications port"},
            {11843, "Program radio serial no."},
            {11844, "Read radio Temp Comp data"},
            {11845, "Write radio Temp Comp data"},
            {11846, "Reads radio serial no."},
            {11847, "Program radio codeplug (with *.TVN) files"},
            {2009, "About the Tolvan Tool application"},
            {24310, "Exits the  Tolvan Tool application "},
        };
        for (const auto& [id, text] : commands)
            QCOMPARE(shell.action(id)->statusTip(), QString::fromLatin1(text));
        const std::vector<const char*> popups = {"Perform radio related operations",
                                                 "Edit current communication settings", "Access online help"};
        const QList<QAction*> titles = shell.frame().menuBar()->actions();
        for (std::size_t i = 0; i < popups.size(); ++i)
            QCOMPARE(titles[qsizetype(i)]->statusTip(), QString::fromLatin1(popups[i]));
        QCOMPARE(QString::fromLatin1(frame_texts::hint(2001)), QStringLiteral("Help table of contents"));
        QCOMPARE(QString::fromLatin1(frame_texts::hint(2002)), QStringLiteral("Help on using online Help"));
        QCOMPARE(QString::fromLatin1(frame_texts::hint(2008)),
                 QStringLiteral("Access authoring information regarding the Tolvan Tool"));

        // A hint covers the status text while it shows and gives it back after.
        shell.frame().show();
        shell.frame().statusLine()->SetText(QStringLiteral("Radio Serial No. :ABCDEFGHIJ"));
        shell.action(11847)->showStatusText(&shell.frame());
        QCOMPARE(shell.frame().statusBar()->currentMessage(), QStringLiteral("Program radio codeplug (with *.TVN) files"));
        shell.frame().statusBar()->clearMessage();
        QCOMPARE(shell.status(), QStringLiteral("Radio Serial No. :ABCDEFGHIJ"));
    }

    void loadEnablesProgramming()
    {
        Shell shell;
        QAction* program = shell.action(11847);
        QToolButton* button = buttonFor(shell.frame().toolBar(), program);
        QVERIFY(!program->isEnabled());
        QVERIFY(!button->isEnabled());

        // Cancelled: nothing changes, nothing is said.
        shell.load(QString());
        QCOMPARE(shell.chooserCalls, 1);
        QVERIFY(!program->isEnabled());
        QVERIFY(shell.recorder.messages.empty());

        const QString good = shell.start.write(QStringLiteral("good.tvn"), formatArchive(testing::sampleRecords()));
        shell.load(good);
        QVERIFY(program->isEnabled());
        QVERIFY(button->isEnabled());
        QCOMPARE(shell.recorder.messages.size(), std::size_t(1));
        QCOMPARE(shell.recorder.messages[0].text, std::string("Tolvan Archive File has been successfully loaded!!"));
        QCOMPARE(shell.recorder.messages[0].caption, std::string("NOTE"));
        QVERIFY(shell.recorder.messages[0].kind == MessageKind::Information);
        QCOMPARE(shell.app.client()->archivePath(), good);

        // A later cancel leaves the archive and the command as they were.
        shell.load(QString());
        QVERIFY(program->isEnabled());
        QCOMPARE(shell.app.client()->archivePath(), good);
    }

    void malformedArchiveRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("problem");
        QTest::newRow("not hexadecimal") << QByteArray("1\n256\n2\nZZ11\n") << QStringLiteral("line 4");
        QTest::newRow("record missing") << QByteArray("2\n256\n2\n1122\n") << QStringLiteral("line 1: record count 2");
        QTest::newRow("empty file") << QByteArray() << QStringLiteral("empty");
    }
    void malformedArchiveRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        Shell shell;
        const QString good = shell.start.write(QStringLiteral("good.tvn"), formatArchive(testing::sampleRecords()));
        shell.load(good);
        shell.recorder.clear();

        const QString bad = shell.start.write(QStringLiteral("bad.tvn"), content.toStdString());
        shell.load(bad);
        QCOMPARE(shell.recorder.messages.size(), std::size_t(1));
        const QString text = QString::fromStdString(shell.recorder.messages[0].text);
        QVERIFY2(text.startsWith(QStringLiteral("Tolvan Archive File cannot be loaded !!\n")), qPrintable(text));
        QVERIFY2(text.contains(problem), qPrintable(text));
        QCOMPARE(shell.recorder.messages[0].caption, std::string("NOTE"));
        QCOMPARE(shell.app.client()->archivePath(), good);
        QVERIFY(shell.action(11847)->isEnabled());
    }

    void unreadableFileRefusedBeforeAnyLoad()
    {
        Shell shell;
        shell.load(shell.start.file(QStringLiteral("missing.tvn")));
        QCOMPARE(shell.recorder.messages.size(), std::size_t(1));
        QVERIFY(QString::fromStdString(shell.recorder.messages[0].text).contains(QStringLiteral("cannot open")));
        QVERIFY(!shell.action(11847)->isEnabled());
        QVERIFY(!shell.app.client()->archiveLoaded());
    }

    void comPortDialogOpens_data()
    {
        QTest::addColumn<int>("stored");  // -1: no com.ini
        QTest::addColumn<int>("checked");  // 0: none
        QTest::addColumn<QString>("status");
        QTest::newRow("port 3") << 3 << 3 << QStringLiteral("COM Port 3 currently selected");
        QTest::newRow("port 1") << 1 << 1 << QStringLiteral("COM Port 1 currently selected");
        QTest::newRow("no com.ini") << -1 << 0 << QStringLiteral("COM Port profile is not currently configured");
        QTest::newRow("port 7") << 7 << 0 << QString();
        QTest::newRow("port 0") << 0 << 0 << QString();
    }
    void comPortDialogOpens()
    {
        QFETCH(int, stored);
        QFETCH(int, checked);
        QFETCH(QString, status);
        Recorder recorder;
        StartDirectory start(stored);
        TCommSetupDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("User COM Port Selection"));
        for (int port = 1; port <= 4; ++port) {
            QCheckBox* box = findControl<QCheckBox>(&dialog, 100 + port);
            QVERIFY(box);
            QCOMPARE(box->text(), QStringLiteral("    COM %1").arg(port));
            QCOMPARE(box->isChecked(), port == checked);
        }
        auto* field = findControl<QLineEdit>(&dialog, 107);
        QVERIFY(field && !field->isEnabled());
        QCOMPARE(field->maxLength(), 50);
        QCOMPARE(field->text(), status);
        QCOMPARE(findControl<QPushButton>(&dialog, 106)->text(), QStringLiteral("Apply "));
        QCOMPARE(findControl<QPushButton>(&dialog, 1)->text(), QStringLiteral("Cancel"));
        QCOMPARE(dialog.selectedPort(), stored);

        // Apply without a click writes the stored number back, whatever it is.
        QTest::mouseClick(findControl<QPushButton>(&dialog, 106), Qt::LeftButton);
        QCOMPARE(start.read(QStringLiteral("com.ini")), QStringLiteral("COM Port Id :%1\n ").arg(stored));
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(recorder.messages.empty());
    }

    void comPortDialogChoosesAndApplies()
    {
        Recorder recorder;
        StartDirectory start(3);
        {
            TCommSetupDialog dialog;
            dialog.show();
            clickPort(dialog, 2);
            QVERIFY(dialog.portButton(2)->isChecked());
            QVERIFY(!dialog.portButton(3)->isChecked());
            QCOMPARE(dialog.statusField()->text(), QStringLiteral("COM Port 2 currently selected"));
            // Clicking the checked one keeps it checked.
            clickPort(dialog, 2);
            QVERIFY(dialog.portButton(2)->isChecked());
            QCOMPARE(start.read(QStringLiteral("com.ini")), QStringLiteral("COM Port Id :3\n "));
            QTest::mouseClick(dialog.applyButton(), Qt::LeftButton);
            QVERIFY(!dialog.isVisible());
        }
        QCOMPARE(fileModule().readComPortId(), 2);
        TCommSetupDialog reopened;
        QVERIFY(reopened.portButton(2)->isChecked());
    }

    void comPortDialogCancelWritesNothing()
    {
        Recorder recorder;
        StartDirectory start(3);
        for (int way = 0; way < 2; ++way) {
            TCommSetupDialog dialog;
            dialog.show();
            clickPort(dialog, 4);
            if (way == 0) {
                QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
                // The button labelled Cancel is the OK button.
                QCOMPARE(dialog.result(), int(QDialog::Accepted));
            } else {
                QTest::keyClick(&dialog, Qt::Key_Escape);
            }
            QVERIFY(!dialog.isVisible());
            QCOMPARE(start.read(QStringLiteral("com.ini")), QStringLiteral("COM Port Id :3\n "));
        }
        QVERIFY(recorder.messages.empty());
    }

    void comPortDialogWriteFailure()
    {
        Recorder recorder;
        StartDirectory start(3);
        TCommSetupDialog dialog;
        dialog.show();
        // com.ini cannot be replaced by a file while a folder has its name.
        QFile::remove(start.file(QStringLiteral("com.ini")));
        QVERIFY(QDir(start.path()).mkdir(QStringLiteral("com.ini")));
        clickPort(dialog, 1);
        QTest::mouseClick(dialog.applyButton(), Qt::LeftButton);
        QCOMPARE(recorder.messages.size(), std::size_t(1));
        QCOMPARE(recorder.messages[0].text, std::string("Could not initiate COM Port"));
        QCOMPARE(recorder.messages[0].caption, std::string("ERROR"));
        QVERIFY(recorder.messages[0].kind == MessageKind::Exclamation);
        QVERIFY(!dialog.isVisible());
    }

    void aboutBox()
    {
        for (int round = 0; round < 2; ++round) {
            TTolvan_ideAboutDlg about;
            QCOMPARE(about.windowTitle(), QStringLiteral("About Tolvan Tool for Professional Radios"));
            const std::vector<std::pair<int, const char*>> labels = {
                {22001, "Version R01.04.00"}, {-1, "Tolvan Tool for Professional Radios"}, {22002, ""},
                {22003, ""}, {101, "Date: 04  Sep  2007"}};
            for (const auto& [id, text] : labels) {
                auto* label = findControl<QLabel>(&about, id);
                QVERIFY2(label, qPrintable(QString::number(id)));
                QCOMPARE(label->text(), QString::fromLatin1(text));
            }
            QVERIFY(findControl<QLabel>(&about, -1)->y() < findControl<QLabel>(&about, 22001)->y());
            auto* ok = findControl<QPushButton>(&about, 1);
            QCOMPARE(ok->text(), QStringLiteral("OK"));
            QVERIFY(ok->isDefault());
            about.show();
            QTest::mouseClick(ok, Qt::LeftButton);
            QCOMPARE(about.result(), int(QDialog::Accepted));
        }
    }

    void f1OnMenuItemOpensTopic()
    {
        Shell shell;
        QMenu* operations = highlightLoadArchive(shell);
        QVERIFY(operations);
        QTest::keyClick(operations, Qt::Key_F1);
        QTRY_VERIFY(shell.app.helpWindow() && shell.app.helpWindow()->isVisible());
        QCOMPARE(shell.app.helpWindow()->currentUrl(), QUrl(QStringLiteral("qrc:/help/11840.html")));
        QVERIFY(shell.app.helpWindow()->browser()->toPlainText().contains(QStringLiteral("Load Archive")));
        QCOMPARE(shell.chooserCalls, 0);
        QVERIFY(!shell.app.contextHelpMode());
        // Only context help was used: closing does not close help on our behalf.
        QVERIFY(!shell.app.helpUsed());
        QVERIFY(shell.app.CanClose());
        QVERIFY(shell.app.helpWindow()->isVisible());
        // The next command runs again.
        shell.app.dispatch(cmd::kLoadArchive);
        QCOMPARE(shell.chooserCalls, 1);
    }

    void f1HeldWhileClickingButton()
    {
        Shell shell;
        shell.frame().show();
        QVERIFY(QTest::qWaitForWindowExposed(&shell.frame()));
        QToolButton* load = buttonFor(shell.frame().toolBar(), shell.action(11840));
        QTest::keyPress(&shell.frame(), Qt::Key_F1);
        QTest::mouseClick(load, Qt::LeftButton);
        QTest::keyRelease(&shell.frame(), Qt::Key_F1);
        QCOMPARE(shell.chooserCalls, 0);
        QVERIFY(shell.app.helpWindow());
        QCOMPARE(shell.app.helpWindow()->currentUrl(), QUrl(QStringLiteral("qrc:/help/11840.html")));
        QTest::mouseClick(load, Qt::LeftButton);
        QCOMPARE(shell.chooserCalls, 1);
    }

    void escapeLeavesContextHelp()
    {
        Shell shell;
        QMenu* operations = highlightLoadArchive(shell);
        QVERIFY(operations);
        QTest::keyPress(operations, Qt::Key_F1);
        QTest::keyRelease(operations, Qt::Key_F1);
        QVERIFY(shell.app.contextHelpMode());
        QTest::keyClick(&shell.frame(), Qt::Key_Escape);
        QVERIFY(!shell.app.contextHelpMode());
        // The item chosen by the F1 press now runs as a command.
        QTRY_COMPARE(shell.chooserCalls, 1);
        QVERIFY(!shell.app.helpWindow());
    }

    void helpContentsClosedWithApplication()
    {
        Shell shell;
        shell.frame().show();
        shell.app.dispatch(cmd::kHelpContents);
        QVERIFY(shell.app.helpUsed());
        QCOMPARE(shell.app.helpWindow()->currentUrl(), THelpWindow::contentsUrl());
        for (int id : {11840, 11842, 11843, 11844, 11845, 11846, 11847, 24310, 2009})
            QCOMPARE(THelpWindow::topicUrl(id), QUrl(QStringLiteral("qrc:/help/%1.html").arg(id)));
        QCOMPARE(THelpWindow::topicUrl(4242), THelpWindow::contentsUrl());
        QVERIFY(shell.frame().close());
        QVERIFY(!shell.app.helpWindow()->isVisible());
    }

    void textViewAccelerators()
    {
        Shell shell;
        shell.frame().show();
        auto* view = new TTolvan_ideEditView;
        shell.app.EvViewCreated(view);
        auto* child = qobject_cast<TTolvan_ideMDIChild*>(view->parentWidget());
        QVERIFY(child);
        QVERIFY(shell.app.client()->subWindowList().contains(child));
        QVERIFY(child->windowTitle().isEmpty());

        const std::vector<std::pair<int, QKeySequence>> accelerators = {
            {24322, QKeySequence(Qt::SHIFT | Qt::Key_Delete)}, {24323, QKeySequence(Qt::CTRL | Qt::Key_Insert)},
            {24324, QKeySequence(Qt::SHIFT | Qt::Key_Insert)}, {24326, QKeySequence(Qt::CTRL | Qt::Key_Delete)},
            {24321, QKeySequence(Qt::ALT | Qt::Key_Backspace)}, {24353, QKeySequence(Qt::Key_F3)}};
        const QList<QAction*> actions = view->actions();
        for (const auto& [id, keys] : accelerators) {
            const auto found = std::find_if(actions.begin(), actions.end(),
                                            [id = id](QAction* a) { return a->data().toInt() == id; });
            QVERIFY2(found != actions.end(), qPrintable(QString::number(id)));
            QCOMPARE((*found)->shortcut(), keys);
        }

        view->setPlainText(QStringLiteral("radio"));
        view->setFocus();
        view->selectAll();
        view->actions()[1]->trigger();  // copy
        view->moveCursor(QTextCursor::End);
        view->actions()[2]->trigger();  // paste
        QCOMPARE(view->toPlainText(), QStringLiteral("radioradio"));
        view->setSearchText(QStringLiteral("dio"));
        view->moveCursor(QTextCursor::Start);
        view->findNext();
        QCOMPARE(view->textCursor().selectionStart(), 2);
        view->findNext();
        QCOMPARE(view->textCursor().selectionStart(), 7);
        view->findNext();
        QCOMPARE(view->textCursor().selectionStart(), 2);
    }

    void registrationAtStart_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("registered");
        QTest::newRow("nothing") << QStringList() << true;
        QTest::newRow("/unregistered") << QStringList{QStringLiteral("/unregistered")} << true;
        QTest::newRow("file name") << QStringList{QStringLiteral("archive.tvn")} << true;
        QTest::newRow("/u") << QStringList{QStringLiteral("/u")} << false;
        QTest::newRow("-UNREGISTER") << QStringList{QStringLiteral("-UNREGISTER")} << false;
    }
    void registrationAtStart()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, registered);
        QTemporaryDir home;
        const Registration files(QCoreApplication::applicationFilePath(), home.path());
        files.write();  // a registration from an earlier run
        Recorder recorder;
        StartDirectory start;
        TTolvan_ideApp app;
        app.setDataHome(home.path());
        app.InitInstance(arguments, Qt::WindowMaximized);
        QCOMPARE(app.unregistered(), !registered);
        for (const QString& file : files.files())
            QCOMPARE(QFile::exists(file), registered);
        // Either way the program runs, in its normal size.
        QVERIFY(app.frame()->isVisible());
        QVERIFY(!app.frame()->isMaximized());
    }
};

}  // namespace tolvan

QTEST_MAIN(tolvan::WindowTest)
#include "window_test.moc"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

#include "link/errors.h"
#include "protocol/sbep_frame.h"
#include "service/flows.h"
#include "service/texts.h"
#include "service/ui/qt_reporter.h"
#include "service/ui/screenshots.h"
#include "service/ui/serial_no_edit.h"
#include "service/ui/serial_program_window.h"
#include "service/ui/service_window_commands.h"
#include "service/ui/temp_comp_window.h"
#include "sim/simulated_radio.h"

using namespace tolvan;
using Commands = ServiceWindowCommands;

namespace {

// Every box as "caption|text|kind", so a failed comparison reads like the screen.
class RecordingReporter : public Reporter {
public:
    void message(const std::string& text, const std::string& caption, MessageKind kind) override
    {
        const char* k = kind == MessageKind::Information ? "info" : kind == MessageKind::Exclamation ? "excl" : "plain";
        shown << QString::fromStdString(caption + "|" + text + "|" + k);
    }
    void status(const std::string&) override {}
    void progressStart(const std::string&) override {}
    void progress(int, const std::string&) override {}
    void progressEnd() override {}

    QStringList shown;
};

QString box(const char* caption, const char* text, const char* kind)
{
    return QString::fromLatin1(caption) + "|" + QString::fromLatin1(text) + "|" + QString::fromLatin1(kind);
}

const QString kNoteOnClose = box(texts::kNote, texts::kSerialMayHaveChanged, "info");

enum class Line { Radio, PortInUse };
enum class Command { Read, Write, Serial };

struct CommandRow {
    const char* name;
    Command command;
    int lock;
    const char* caption;
    const char* title;
    const char* refusal;
};

const CommandRow kCommands[] = {
    {"read", Command::Read, 1, "Read Temp Comp", "Read Temp Comp",
     "Please close all windows before reading Temp Comp data"},
    {"write", Command::Write, 2, "Write Temp Comp", "Write Temp Comp",
     "Please close all windows before writing Temp Comp data"},
    {"serial", Command::Serial, 3, "Program Serial No.", "Program Serial No",
     "Please close all windows before programming radio serial no."},
};

const CommandRow& row(Command c) { return kCommands[static_cast<int>(c)]; }

// Data bytes of every softpot write the radio acknowledged (and so carried out).
std::vector<std::vector<std::uint8_t>> softpotWrites(const sim::SimulatedRadio& radio)
{
    std::vector<std::vector<std::uint8_t>> writes;
    for (const auto& f : radio.frames()) {
        const unsigned char* frame = f.bytes.data();
        if (!f.acknowledged || f.bytes.empty() || frameOpcode(frame) != kOpSoftpot)
            continue;
        const int offset = frameDataOffset(frame);
        std::vector<std::uint8_t> data(frame + offset, frame + offset + frameDataLength(frame));
        const bool isRead = data.size() == 3 && data[1] == 0 && data[2] == 0;
        if (!isRead)
            writes.push_back(data);
    }
    return writes;
}

}  // namespace

Q_DECLARE_METATYPE(Line)
Q_DECLARE_METATYPE(Command)

class ServiceWindowsTest : public QObject {
    Q_OBJECT

private:
    void run(Command c)
    {
        switch (c) {
        case Command::Read: commands->CmTempCompRead(); break;
        case Command::Write: commands->CmTempCompWrite(); break;
        case Command::Serial: commands->CmProgramSerialNo(); break;
        }
    }
    QMdiSubWindow* onlyFrame()
    {
        const auto frames = area->subWindowList();
        return frames.size() == 1 ? frames.front() : nullptr;
    }
    template <class Window>
    Window* onlyWindow()
    {
        QMdiSubWindow* frame = onlyFrame();
        return frame ? qobject_cast<Window*>(frame->widget()) : nullptr;
    }
    void radioFails(int opcode)
    {
        sim::FaultRule fault;
        fault.kind = sim::FaultRule::Kind::Nak;
        fault.opcode = opcode;
        radio.setFaults({fault});
    }

    sim::SimulatedRadio radio;
    RecordingReporter recorder;
    Line line = Line::Radio;
    int opens = 0;
    QMdiArea* area = nullptr;
    radioStorage storage;
    radioOperations operations;
    int lock = 0;
    std::unique_ptr<Commands> commands;

    ConnectionFactory factory()
    {
        return [this]() -> std::unique_ptr<cominit> {
            ++opens;
            if (line == Line::PortInUse)
                throw PortInUseError();
            return std::make_unique<cominit>(radio.devicePath());
        };
    }

private slots:
    void initTestCase()
    {
        radio.start();
        QtReporter::setInterceptor(&recorder);
    }
    void cleanupTestCase() { QtReporter::setInterceptor(nullptr); }

    void init()
    {
        radio.setFaults({});
        radio.setTempComp(0x0012ABCD);
        radio.setSerial("ABCDEFGHIJ");
        radio.clearFrames();
        line = Line::Radio;
        opens = 0;
        lock = 0;
        storage = radioStorage();
        area = new QMdiArea;
        area->resize(900, 600);
        area->show();
        commands = std::make_unique<Commands>(area, storage, operations, &lock, factory());
        recorder.shown.clear();
    }
    void cleanup()
    {
        commands.reset();
        delete area;
        area = nullptr;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    void enterNotifiesTheParent()
    {
        QWidget parent;
        TSerialNoEdit edit(&parent, TSerialNoEdit::kFieldId, QString(), 0, 0, 100, 20, 10);
        QSignalSpy spy(&edit, &TSerialNoEdit::notify);
        QTest::keyClicks(&edit, "ab");
        QTest::keyClick(&edit, Qt::Key_Tab);
        QCOMPARE(spy.count(), 0);
        QTest::keyClick(&edit, Qt::Key_Return);
        QTest::keyClick(&edit, Qt::Key_Enter);
        QCOMPARE(spy.count(), 2);
        for (const auto& args : spy) {
            QCOMPARE(args.at(0).toInt(), 4000);
            QCOMPARE(args.at(1).toInt(), 300);
        }
        QCOMPARE(edit.text(), QString("ab"));
    }

    void commandOpensItsWindow_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("maxLength");
        QTest::addColumn<bool>("fieldEnabled");
        QTest::newRow("read") << Command::Read << "Read Temp Comp  :  " << "Close" << 8 << false;
        QTest::newRow("write") << Command::Write << "Temp Comp Write :  " << "Program" << 8 << true;
        QTest::newRow("serial") << Command::Serial << "New Radio Serial No : " << "Update" << 10 << true;
    }
    void commandOpensItsWindow()
    {
        QFETCH(Command, command);
        QFETCH(QString, label);
        QFETCH(QString, button);
        QFETCH(int, maxLength);
        QFETCH(bool, fieldEnabled);
        run(command);
        QCOMPARE(recorder.shown, QStringList());
        QCOMPARE(lock, row(command).lock);
        QMdiSubWindow* frame = onlyFrame();
        QVERIFY(frame);
        QVERIFY(frame->isVisible());
        QVERIFY(frame->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(frame->windowTitle(), QString(row(command).caption));
        auto* window = qobject_cast<QFrame*>(frame->widget());
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QString(row(command).title));
        QCOMPARE(window->size(), QSize(460, 170));
        QCOMPARE(window->palette().color(QPalette::Window), QColor(192, 192, 192));
        QCOMPARE(window->frameShadow(), QFrame::Sunken);

        auto* field = window->findChild<TSerialNoEdit*>();
        QVERIFY(field);
        QCOMPARE(field->id(), 4000);
        QCOMPARE(field->geometry(), QRect(170, 20, 100, 20));
        QCOMPARE(field->maxLength(), maxLength);
        QCOMPARE(field->isEnabled(), fieldEnabled);
        QCOMPARE(field->font().pixelSize(), 12);
        QCOMPARE(field->font().weight(), QFont::Medium);
        auto* text = window->findChild<QLabel*>();
        QVERIFY(text);
        QCOMPARE(text->text(), label);
        QCOMPARE(text->geometry(), QRect(20, 20, 140, 20));
        QCOMPARE(text->font().pixelSize(), 12);
        QCOMPARE(text->font().weight(), QFont::Normal);
        auto* action = window->findChild<QPushButton*>();
        QVERIFY(action);
        QCOMPARE(action->text(), button);
        QCOMPARE(action->geometry(), QRect(170, 80, 100, 30));
        QVERIFY(!action->isDefault());
        QCOMPARE(opens, command == Command::Read ? 1 : 0);
    }

    void readWindowShowsValueInHex_data()
    {
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("two digits") << quint32(0xAB) << "ab";
        QTest::newRow("zero") << quint32(0) << "0";
        QTest::newRow("top bit") << quint32(0x8000ABCD) << "8000abcd";
    }
    void readWindowShowsValueInHex()
    {
        QFETCH(quint32, value);
        QFETCH(QString, shown);
        storage.setValue(0, 0x5555, 9);
        radio.setTempComp(value);
        commands->CmTempCompRead();
        auto* window = onlyWindow<TTempCompWindow>();
        QVERIFY(window);
        QCOMPARE(window->valueField()->text(), shown);
        QCOMPARE(static_cast<quint32>(storage.getTempCompValue()), value);
        QCOMPARE(lock, 1);

        // Close destroys the window and its frame and frees the lock.
        QTest::mouseClick(window->actionButton(), Qt::LeftButton);
        QCOMPARE(lock, 0);
        QTRY_VERIFY(!commands->tempCompReadWindow());
        QVERIFY(area->subWindowList().isEmpty());
        QCOMPARE(recorder.shown, QStringList());
    }

    void failedReadLeavesNoFrame_data()
    {
        QTest::addColumn<Line>("failingLine");
        QTest::addColumn<bool>("radioRefuses");
        QTest::newRow("port in use") << Line::PortInUse << false;
        QTest::newRow("radio refuses the read") << Line::Radio << true;
    }
    void failedReadLeavesNoFrame()
    {
        QFETCH(Line, failingLine);
        QFETCH(bool, radioRefuses);
        line = failingLine;
        if (radioRefuses)
            radioFails(kOpSoftpot);
        storage.setValue(0, 0x5555, 9);
        commands->CmTempCompRead();
        QCOMPARE(recorder.shown, QStringList{box("ERROR", "Temp Comp data could not be read !!", "excl")});
        QCOMPARE(lock, 0);
        QVERIFY(area->subWindowList().isEmpty());
        QVERIFY(!commands->tempCompReadWindow());
        QCOMPARE(storage.getTempCompValue(), 0x5555);

        // The command can be chosen again at once.
        line = Line::Radio;
        radio.setFaults({});
        recorder.shown.clear();
        commands->CmTempCompRead();
        QCOMPARE(recorder.shown, QStringList());
        QCOMPARE(lock, 1);
        QVERIFY(onlyWindow<TTempCompWindow>());
    }

    void fieldsAcceptOnlyWhatFits()
    {
        commands->CmTempCompWrite();
        auto* tempComp = onlyWindow<TTempCompWindow>();
        QVERIFY(tempComp);
        QTest::keyClicks(tempComp->valueField(), "12G4xyz0ABcdEF99");
        QCOMPARE(tempComp->valueField()->text(), QString("1240ABcd"));
        onlyFrame()->close();
        QCOMPARE(lock, 0);
        QTRY_VERIFY(area->subWindowList().isEmpty());

        commands->CmProgramSerialNo();
        auto* serial = onlyWindow<TSerialProgramWindow>();
        QVERIFY(serial);
        QTest::keyClicks(serial->serialField(), "ab cd-EF/12345");
        QCOMPARE(serial->serialField()->text(), QString("ab cd-EF/1"));
        QCOMPARE(opens, 0);
    }

    void tempCompWriteSendsDigitsInTypedOrder_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("upper case") << "0012ABCD";
        QTest::newRow("lower case") << "0012abcd";
    }
    void tempCompWriteSendsDigitsInTypedOrder()
    {
        QFETCH(QString, typed);
        radio.setTempComp(0);
        commands->CmTempCompWrite();
        auto* window = onlyWindow<TTempCompWindow>();
        QVERIFY(window);
        QTest::keyClicks(window->valueField(), typed);
        QTest::mouseClick(window->actionButton(), Qt::LeftButton);

        QCOMPARE(recorder.shown, QStringList{box("NOTE", "Temp Comp data has been written in successfully !!", "info")});
        const std::vector<std::vector<std::uint8_t>> expected{{0x01, 0x01, 0x00, 0x12, 0xAB, 0xCD}};
        QVERIFY(softpotWrites(radio) == expected);
        QCOMPARE(radio.tempComp(), 0x0012ABCDu);
        QCOMPARE(window->valueField()->text(), typed);
        QCOMPARE(lock, 2);
        QCOMPARE(opens, 1);
    }

    void tempCompWriteRefusedOrFailed_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<Line>("writeLine");
        QTest::addColumn<bool>("radioRefuses");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("expectedOpens");
        const QString length = box("NOTE", "Length of Temp Comp data must be exactly 4 bytes", "info");
        const QString error = box("ERROR", "Error writing in Temp Comp data !!", "excl");
        QTest::newRow("four digits") << "ABCD" << Line::Radio << false << length << 0;
        QTest::newRow("empty") << "" << Line::Radio << false << length << 0;
        QTest::newRow("port in use") << "0012ABCD" << Line::PortInUse << false << error << 1;
        QTest::newRow("radio refuses") << "0012ABCD" << Line::Radio << true << error << 1;
    }
    void tempCompWriteRefusedOrFailed()
    {
        QFETCH(QString, typed);
        QFETCH(Line, writeLine);
        QFETCH(bool, radioRefuses);
        QFETCH(QString, expected);
        QFETCH(int, expectedOpens);
        commands->CmTempCompWrite();
        auto* window = onlyWindow<TTempCompWindow>();
        QVERIFY(window);
        line = writeLine;
        if (radioRefuses)
            radioFails(kOpSoftpot);
        QTest::keyClicks(window->valueField(), typed);
        QTest::mouseClick(window->actionButton(), Qt::LeftButton);
        QCOMPARE(recorder.shown, QStringList{expected});
        QCOMPARE(opens, expectedOpens);
        QVERIFY(softpotWrites(radio).empty());
        QCOMPARE(radio.tempComp(), 0x0012ABCDu);
        // The window stays, and so does the lock: nothing else may open.
        QCOMPARE(lock, 2);
        QCOMPARE(onlyWindow<TTempCompWindow>(), window);
        QCOMPARE(window->valueField()->text(), typed);
    }

    void enterDoesNothingInTempCompWindow()
    {
        commands->CmTempCompWrite();
        auto* window = onlyWindow<TTempCompWindow>();
        QVERIFY(window);
        QTest::keyClicks(window->valueField(), "0012ABCD");
        QTest::keyClick(window->valueField(), Qt::Key_Return);
        QTest::keyClick(window->valueField(), Qt::Key_Enter);
        QCOMPARE(recorder.shown, QStringList());
        QCOMPARE(opens, 0);
        QCOMPARE(radio.frameCount(), std::size_t(0));
        QCOMPARE(lock, 2);
    }

    void serialAttempt_data()
    {
        QTest::addColumn<bool>("byEnter");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<Line>("writeLine");
        QTest::addColumn<bool>("radioRefuses");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("expectedOpens");
        QTest::addColumn<QString>("radioSerial");
        const QString entry = box("Entry Error", "Serial No. must be exactly 10 characters", "excl");
        const QString done = box("NOTE", "Serial No. has been successfully programmed !!", "info");
        const QString warning = box(" WARNING", "COM Port is currently in use or has not been configured", "info");
        const QString error = box("ERROR", "Radio Communication Error!!", "excl");
        for (const bool enter : {false, true}) {
            const char* how = enter ? "enter: " : "button: ";
            auto name = [how](const char* what) { return QByteArray(how) + what; };
            QTest::newRow(name("nine characters")) << enter << "ABCDEFGHI" << Line::Radio << false << entry << 0
                                                   << "ABCDEFGHIJ";
            QTest::newRow(name("as typed")) << enter << "tvn 00042x" << Line::Radio << false << done << 1
                                            << "tvn 00042x";
            QTest::newRow(name("port in use")) << enter << "KLMNOPQRST" << Line::PortInUse << false << warning << 1
                                               << "ABCDEFGHIJ";
            QTest::newRow(name("radio refuses")) << enter << "KLMNOPQRST" << Line::Radio << true << error << 1
                                                 << "ABCDEFGHIJ";
        }
        QTest::newRow("enter: ten blanks") << true << "          " << Line::Radio << false << done << 1
                                           << "          ";
    }
    void serialAttempt()
    {
        QFETCH(bool, byEnter);
        QFETCH(QString, typed);
        QFETCH(Line, writeLine);
        QFETCH(bool, radioRefuses);
        QFETCH(QString, expected);
        QFETCH(int, expectedOpens);
        QFETCH(QString, radioSerial);
        commands->CmProgramSerialNo();
        auto* window = onlyWindow<TSerialProgramWindow>();
        QVERIFY(window);
        line = writeLine;
        if (radioRefuses)
            radioFails(kOpSerialWrite);
        QTest::keyClicks(window->serialField(), typed);
        if (byEnter)
            QTest::keyClick(window->serialField(), Qt::Key_Return);
        else
            QTest::mouseClick(window->updateButton(), Qt::LeftButton);
        QCOMPARE(recorder.shown, QStringList{expected});
        QCOMPARE(opens, expectedOpens);
        QCOMPARE(QString::fromStdString(radio.serial()), radioSerial);
        QCOMPARE(window->serialField()->text(), typed);
        QCOMPARE(lock, 3);
    }

    void lockRule_data()
    {
        QTest::addColumn<Command>("open");
        QTest::addColumn<Command>("next");
        for (const CommandRow& a : kCommands)
            for (const CommandRow& b : kCommands)
                QTest::newRow((QByteArray(a.name) + " then " + b.name).constData()) << a.command << b.command;
    }
    void lockRule()
    {
        QFETCH(Command, open);
        QFETCH(Command, next);
        run(open);
        QMdiSubWindow* first = onlyFrame();
        QVERIFY(first);
        recorder.shown.clear();

        run(next);
        const QStringList refusal{box("NOTE", row(next).refusal, "info")};
        QCOMPARE(recorder.shown, open == next ? QStringList() : refusal);
        QCOMPARE(lock, row(open).lock);
        QCOMPARE(onlyFrame(), first);

        // Once the open window is closed, the other command opens normally.
        recorder.shown.clear();
        first->close();
        QCOMPARE(lock, 0);
        QCOMPARE(recorder.shown, open == Command::Serial ? QStringList{kNoteOnClose} : QStringList());
        QTRY_VERIFY(area->subWindowList().isEmpty());
        recorder.shown.clear();
        run(next);
        QCOMPARE(recorder.shown, QStringList());
        QCOMPARE(lock, row(next).lock);
        QVERIFY(onlyFrame());
    }

    void windowGoesAwayFreesTheLock_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<int>("how");  // 0 frame closed, 1 commands destroyed, 2 area deleted
        for (const CommandRow& c : kCommands) {
            QTest::newRow((QByteArray(c.name) + ": frame closed").constData()) << c.command << 0;
            QTest::newRow((QByteArray(c.name) + ": application closing").constData()) << c.command << 1;
            QTest::newRow((QByteArray(c.name) + ": area deleted").constData()) << c.command << 2;
        }
    }
    void windowGoesAwayFreesTheLock()
    {
        QFETCH(Command, command);
        QFETCH(int, how);
        run(command);
        QVERIFY(onlyFrame());
        recorder.shown.clear();
        if (how == 0) {
            onlyFrame()->close();
        } else if (how == 1) {
            commands.reset();
        } else {
            delete area;
            area = nullptr;
        }
        QTRY_COMPARE(lock, 0);
        const QStringList note = command == Command::Serial ? QStringList{kNoteOnClose} : QStringList();
        QTRY_COMPARE(recorder.shown, note);
        // Exactly once, also after the deferred deletions have run.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QCOMPARE(recorder.shown, note);
        QCOMPARE(lock, 0);
    }

    void screenshotsOfAllThreeWindows()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        recorder.shown.clear();
        const QStringList written = renderServiceWindows(dir.path(), factory());
        QCOMPARE(written.size(), 3);
        QCOMPARE(QFileInfo(written[0]).fileName(), QString("tempcomp-read.png"));
        for (const QString& path : written) {
            QImage image(path);
            QVERIFY2(!image.isNull(), qPrintable(path));
            QVERIFY(image.width() > 460 && image.height() > 170);
        }
        // Only the read window reached the radio; nothing was written. The
        // serial window said its goodbye to the installed interceptor.
        QCOMPARE(opens, 1);
        QVERIFY(softpotWrites(radio).empty());
        QCOMPARE(radio.serial(), std::string("ABCDEFGHIJ"));
        QCOMPARE(recorder.shown, QStringList{kNoteOnClose});
        QCOMPARE(lock, 0);
    }
};

QTEST_MAIN(ServiceWindowsTest)
#include "service_windows_test.moc"

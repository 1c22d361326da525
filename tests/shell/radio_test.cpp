// The desktop application against the simulated radio on a pseudo-terminal:
// programming a codeplug and reading the serial number, with and without a radio.

#include <QImage>
#include <QtTest>

#include "protocol/sbep_frame.h"
#include "shell/app.h"
#include "shell/command_ids.h"
#include "shell/frame.h"
#include "shell/mdi_child.h"
#include "shell/progress_window.h"
#include "shell/status_bar.h"
#include "sim/simulated_radio.h"
#include "tests/shell/shell_fixture.h"

namespace tolvan {

using testing::Recorder;
using testing::StartDirectory;

namespace {

constexpr const char* kNoDevice = "/nonexistent/tolvan-no-radio";

struct RadioShell {
    explicit RadioShell(ConnectionFactory connect)
    {
        app.setConnectionFactory(std::move(connect));
        app.InitMainWindow();
        app.client()->setFileChooser([this](QWidget*) { return nextFile; });
        app.client()->setProgressObserver([this](TProgressWindow& window) {
            progressWindows.push_back(window.usesOwnPicture());
            progressTitle = window.windowTitle();
        });
    }
    QString status() { return app.frame()->statusLine()->text(); }
    void loadSample()
    {
        nextFile = start.write(QStringLiteral("sample.tvn"), formatArchive(testing::sampleRecords()));
        app.dispatch(cmd::kLoadArchive);
        QVERIFY(app.client()->archiveLoaded());
        recorder.clear();
    }

    Recorder recorder;
    StartDirectory start;
    TTolvan_ideApp app;
    QString nextFile;
    std::vector<bool> progressWindows;  // uses our own picture, per window
    QString progressTitle;
};

void expectOnly(const Recorder& recorder, const char* text, const char* caption, MessageKind kind)
{
    QCOMPARE(recorder.messages.size(), std::size_t(1));
    QCOMPARE(recorder.messages[0].text, std::string(text));
    QCOMPARE(recorder.messages[0].caption, std::string(caption));
    QVERIFY(recorder.messages[0].kind == kind);
}

bool sawReset(const sim::SimulatedRadio& radio)
{
    for (const auto& frame : radio.frames()) {
        if (!frame.bytes.empty() && frameOpcode(frame.bytes.data()) == kOpReset)
            return true;
    }
    return false;
}

}  // namespace

class RadioTest : public QObject {
    Q_OBJECT

private slots:
    void programsCodeplugEndToEnd()
    {
        sim::SimulatedRadio radio;
        radio.start();
        RadioShell shell(deviceConnection(radio.devicePath()));
        shell.loadSample();
        shell.app.frame()->statusLine()->SetText(QStringLiteral("before"));

        shell.app.dispatch(cmd::kProgramCodeplug);

        for (const ArchiveRecord& r : testing::sampleRecords()) {
            const std::vector<std::uint8_t> memory = radio.readMemory(static_cast<std::uint32_t>(r.address), r.data.size());
            QCOMPARE(memory, r.data);
        }
        expectOnly(shell.recorder, "Radio has been successfully programmed !!", "NOTE", MessageKind::Information);
        QCOMPARE(shell.status(), QStringLiteral("New codeplug programmed into radio"));
        QTRY_VERIFY(sawReset(radio));

        // The progress window: our picture (no title.bmp), its title, true progress up to 100.
        QCOMPARE(shell.progressWindows, std::vector<bool>{true});
        QCOMPARE(shell.progressTitle, QStringLiteral("Programming radio codeplug.... Please wait.... "));
        QVERIFY(shell.recorder.percents.size() >= 3);
        QVERIFY(std::is_sorted(shell.recorder.percents.begin(), shell.recorder.percents.end()));
        QCOMPARE(shell.recorder.percents.back(), 100);
        QCOMPARE(shell.recorder.progressTexts.back(), std::string("100% done"));
        QCOMPARE(shell.recorder.progressEnds, 1);
    }

    void progressWindowShowsTitleBitmap()
    {
        sim::SimulatedRadio radio;
        radio.start();
        RadioShell shell(deviceConnection(radio.devicePath()));
        QImage picture(64, 32, QImage::Format_RGB32);
        picture.fill(Qt::darkBlue);
        QVERIFY(picture.save(shell.start.file(QStringLiteral("title.bmp")), "BMP"));
        shell.loadSample();
        shell.app.dispatch(cmd::kProgramCodeplug);
        QCOMPARE(shell.progressWindows, std::vector<bool>{false});
        expectOnly(shell.recorder, "Radio has been successfully programmed !!", "NOTE", MessageKind::Information);
    }

    void programmingWithoutRadio()
    {
        RadioShell shell(deviceConnection(kNoDevice));
        shell.loadSample();
        shell.app.frame()->statusLine()->SetText(QStringLiteral("before"));
        shell.app.dispatch(cmd::kProgramCodeplug);
        expectOnly(shell.recorder, "Cannot program radio codeplug !!", "ERROR", MessageKind::Exclamation);
        QCOMPARE(shell.status(), QStringLiteral("before"));
        QVERIFY(shell.recorder.statuses.empty());
    }

    void programmingWhenRadioRefusesWrites()
    {
        sim::RadioOptions options;
        options.faults.push_back(*sim::FaultRule::parse("nak:always", nullptr));
        sim::SimulatedRadio radio(options);
        radio.start();
        RadioShell shell(deviceConnection(radio.devicePath()));
        shell.loadSample();
        shell.app.frame()->statusLine()->SetText(QStringLiteral("before"));
        shell.app.dispatch(cmd::kProgramCodeplug);
        expectOnly(shell.recorder, "Cannot program radio codeplug !!", "ERROR", MessageKind::Exclamation);
        QCOMPARE(shell.status(), QStringLiteral("before"));
        QVERIFY(!sawReset(radio));
        QVERIFY(radio.memory().empty());
    }

    void serviceWindowsOpenInOurFrames()
    {
        sim::SimulatedRadio radio;
        radio.start();
        RadioShell shell(deviceConnection(radio.devicePath()));
        shell.app.dispatch(cmd::kTempCompRead);
        QCOMPARE(shell.app.operationLock(), 1);
        const QList<QMdiSubWindow*> frames = shell.app.client()->subWindowList();
        QCOMPARE(frames.size(), qsizetype(1));
        QPointer<QMdiSubWindow> frame = frames.first();
        QVERIFY(qobject_cast<TTolvan_ideMDIChild*>(frame.data()));
        QCOMPARE(frame->windowTitle(), QStringLiteral("Read Temp Comp"));

        // The lock keeps a second service window out.
        shell.app.dispatch(cmd::kProgramSerialNo);
        QCOMPARE(shell.app.client()->subWindowList().size(), qsizetype(1));
        QCOMPARE(shell.app.operationLock(), 1);
        QVERIFY(!shell.recorder.messages.empty());
        QCOMPARE(shell.recorder.messages.back().text,
                 std::string("Please close all windows before programming radio serial no."));

        // Closing the frame frees the lock: the window inside does it.
        frame->close();
        QTRY_VERIFY(frame.isNull());
        QCOMPARE(shell.app.operationLock(), 0);
    }

    void readsSerialNumber()
    {
        sim::RadioOptions options;
        options.serial = "TVN0012345";
        sim::SimulatedRadio radio(options);
        radio.start();
        RadioShell shell(deviceConnection(radio.devicePath()));
        shell.app.dispatch(cmd::kReadSerialNo);
        QVERIFY(shell.recorder.messages.empty());
        QCOMPARE(shell.status(), QStringLiteral("Radio Serial No. :TVN0012345"));
    }

    void readSerialNumberFails_data()
    {
        QTest::addColumn<QString>("fault");  // empty: no radio at all
        QTest::newRow("no radio") << QString();
        QTest::newRow("radio refuses") << QStringLiteral("nak:always");
    }
    void readSerialNumberFails()
    {
        QFETCH(QString, fault);
        sim::RadioOptions options;
        if (!fault.isEmpty())
            options.faults.push_back(*sim::FaultRule::parse(fault.toStdString(), nullptr));
        sim::SimulatedRadio radio(options);
        radio.start();
        RadioShell shell(deviceConnection(fault.isEmpty() ? std::string(kNoDevice) : radio.devicePath()));
        shell.app.frame()->statusLine()->SetText(QStringLiteral("before"));
        shell.app.dispatch(cmd::kReadSerialNo);
        expectOnly(shell.recorder, "Unable to read radio serial no. !!", "ERROR", MessageKind::Exclamation);
        QCOMPARE(shell.status(), QStringLiteral("before"));
    }
};

}  // namespace tolvan

QTEST_MAIN(tolvan::RadioTest)
#include "radio_test.moc"

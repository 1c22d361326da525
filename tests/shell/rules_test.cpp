// Start-up rules that need no window: the unregister option, the start
// state of the frame, the version text and the desktop registration files.

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include "shell/command_line.h"
#include "shell/registration.h"

static void initResources() { Q_INIT_RESOURCE(tolvan); }

namespace tolvan {

class RulesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initResources(); }

    void unregisterOption_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<bool>("unregisters");
        QTest::newRow("-unregister") << "-unregister" << true;
        QTest::newRow("/UNREGISTER") << "/UNREGISTER" << true;
        QTest::newRow("/u") << "/u" << true;
        QTest::newRow("lone -") << "-" << true;
        QTest::newRow("lone /") << "/" << true;
        QTest::newRow("-Unreg=yes") << "-Unreg=yes" << true;
        QTest::newRow("/un/x") << "/un/x" << true;
        QTest::newRow("among others") << "archive.tvn\t-x  /unr" << true;
        QTest::newRow("/unregistered") << "/unregistered" << false;
        QTest::newRow("-unregisterx") << "-unregisterx" << false;
        QTest::newRow("file name") << "unregister.tvn" << false;
        QTest::newRow("other option") << "-x /register" << false;
        QTest::newRow("--unregister") << "--unregister" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blanks only") << " \t " << false;
    }
    void unregisterOption()
    {
        QFETCH(QString, commandLine);
        QFETCH(bool, unregisters);
        QCOMPARE(selectsUnregister(std::string_view(commandLine.toStdString())), unregisters);
        // The same as separate arguments, and with blanks inside one argument.
        std::vector<std::string> arguments;
        for (const QString& token : commandLine.split(QRegularExpression(QStringLiteral("[ \t]+")), Qt::SkipEmptyParts))
            arguments.push_back(token.toStdString());
        QCOMPARE(selectsUnregister(arguments), unregisters);
        QCOMPARE(selectsUnregister(std::vector<std::string>{"first", commandLine.toStdString()}), unregisters);
    }

    void startState_data()
    {
        QTest::addColumn<Qt::WindowStates>("requested");
        QTest::addColumn<Qt::WindowStates>("started");
        QTest::newRow("normal") << Qt::WindowStates(Qt::WindowNoState) << Qt::WindowStates(Qt::WindowNoState);
        QTest::newRow("maximised") << Qt::WindowStates(Qt::WindowMaximized) << Qt::WindowStates(Qt::WindowNoState);
        QTest::newRow("full screen") << Qt::WindowStates(Qt::WindowFullScreen) << Qt::WindowStates(Qt::WindowNoState);
        QTest::newRow("minimised") << Qt::WindowStates(Qt::WindowMinimized) << Qt::WindowStates(Qt::WindowMinimized);
        QTest::newRow("minimised maximised") << (Qt::WindowMinimized | Qt::WindowMaximized)
                                             << Qt::WindowStates(Qt::WindowMinimized);
    }
    void startState()
    {
        QFETCH(Qt::WindowStates, requested);
        QFETCH(Qt::WindowStates, started);
        QCOMPARE(startWindowState(requested), started);
    }

    void versionOption()
    {
        const char* withVersion[] = {"tolvan_ide", "/u", "--version"};
        const char* without[] = {"tolvan_ide", "-version", "version"};
        QVERIFY(asksForVersion(3, withVersion));
        QVERIFY(!asksForVersion(3, without));
        QVERIFY(!asksForVersion(1, withVersion));
        const QString text = QString::fromStdString(versionText());
        QVERIFY(text.contains(QStringLiteral("Tolvan Tool for Professional Radios\nVersion R01.04.00\n")));
        QVERIFY(text.contains(QStringLiteral("Date: 04  Sep  2007")));
    }

    void registrationWrittenAndRemoved()
    {
        QTemporaryDir home;
        const QString exe = QStringLiteral("/opt/tolvan tool/bin/tolvan_ide");
        // A neighbour's files in the same folders must survive our removal.
        QDir(home.path()).mkpath(QStringLiteral("mime/packages"));
        QFile other(home.filePath(QStringLiteral("mime/packages/other.xml")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("<mime-info/>");
        other.close();

        const Registration registration(exe, home.path());
        registration.write();
        for (const QString& file : registration.files())
            QVERIFY2(QFile::exists(file), qPrintable(file));
        QVERIFY(registration.mimePackage().startsWith(home.path() + QStringLiteral("/mime/packages/")));
        QVERIFY(registration.desktopEntry().startsWith(home.path() + QStringLiteral("/applications/")));

        QFile mime(registration.mimePackage());
        QVERIFY(mime.open(QIODevice::ReadOnly));
        const QString xml = QString::fromUtf8(mime.readAll());
        QVERIFY(xml.contains(QStringLiteral("type=\"application/x-tolvan-archive\"")));
        QVERIFY(xml.contains(QStringLiteral("<comment>Tolvan Archive Files</comment>")));
        QVERIFY(xml.contains(QStringLiteral("<glob pattern=\"*.tvn\"/>")));
        QVERIFY(xml.contains(QStringLiteral("<icon name=\"application-x-tolvan-archive\"/>")));
        QVERIFY(!xml.contains(QStringLiteral("*.txt")));

        QFile desktop(registration.desktopEntry());
        QVERIFY(desktop.open(QIODevice::ReadOnly));
        const QString entry = QString::fromUtf8(desktop.readAll());
        QVERIFY(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
        QVERIFY(entry.contains(QStringLiteral("\nExec=\"/opt/tolvan tool/bin/tolvan_ide\"\n")));
        QVERIFY(entry.contains(QStringLiteral("\nIcon=tolvan-tool\n")));

        QCOMPARE(QImage(registration.documentIcon()).size(), QSize(48, 48));
        QCOMPARE(QImage(registration.appIcon()).size(), QSize(48, 48));

        registration.remove();
        for (const QString& file : registration.files())
            QVERIFY2(!QFile::exists(file), qPrintable(file));
        QVERIFY(other.exists());
        // Removing twice, and writing again over what is there, are harmless.
        registration.remove();
        registration.write();
        registration.write();
        QVERIFY(QFile::exists(registration.mimePackage()));
    }

    void registrationFollowsXdgDataHome()
    {
        QTemporaryDir home;
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        const Registration registration(QStringLiteral("/usr/bin/tolvan_ide"));
        QCOMPARE(registration.desktopEntry(), home.filePath(QStringLiteral("applications/tolvan-tool.desktop")));
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(Registration::defaultDataHome(), QDir::homePath() + QStringLiteral("/.local/share"));
        if (!saved.isNull())
            qputenv("XDG_DATA_HOME", saved);
    }

    void registrationFailureIsIgnored()
    {
        QTemporaryDir home;
        // A file where the folders should go: nothing can be written.
        const QString blocked = home.filePath(QStringLiteral("blocked"));
        QFile file(blocked);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const Registration registration(QStringLiteral("/usr/bin/tolvan_ide"), blocked);
        registration.write();
        registration.remove();
        for (const QString& f : registration.files())
            QVERIFY(!QFile::exists(f));
    }

    void execValueEscapes()
    {
        QCOMPARE(Registration::execValue(QStringLiteral("/a b/c")), QStringLiteral("\"/a b/c\""));
        QCOMPARE(Registration::execValue(QStringLiteral("/x$y\"z")), QStringLiteral("\"/x\\\\$y\\\\\"z\""));
    }
};

}  // namespace tolvan

QTEST_GUILESS_MAIN(tolvan::RulesTest)
#include "rules_test.moc"

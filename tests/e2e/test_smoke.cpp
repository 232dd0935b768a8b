#include "FakeClock.h"
#include "RecordingShell.h"
#include "ScriptedPrompt.h"
#include "TestEnvironment.h"

#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/platform/DoEvents.h"
#include "core/platform/Registry.h"
#include "ui/app/Application.h"
#include "ui/app/Forms.h"
#include "ui/app/fCover.h"
#include "ui/search/fWebSearch.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <functional>

// The program as a user meets it: the real start-up, the real windows, the real event loop.
class SmokeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aUserOpensSearchClosesItAndQuits();
    void theProgramEndsCleanlyWhenTheSessionEnds();
    void quittingFromInsideAWaitEndsAtOnceAndKeepsTheSettings();

private:
    void script();
    bool scriptFinished_ = false;
};

void SmokeTest::script() {
    fCover* cover = qobject_cast<fCover*>(Forms::Find("fCover"));
    QVERIFY(cover);
    QVERIFY(cover->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(cover->Command1->isEnabled(), 5000);

    QTest::mouseClick(cover->Command1, Qt::LeftButton);
    QVERIFY(!cover->isVisible());
    auto* search = qobject_cast<fWebSearch*>(Forms::Find("fWebSearch"));
    QVERIFY(search);
    QTRY_VERIFY(search->isVisible());

    search->close();
    QTRY_VERIFY(!IsFormLoaded("fWebSearch"));
    QTRY_VERIFY(cover->isVisible());

    scriptFinished_ = true;
    QTest::mouseClick(cover->Command3, Qt::LeftButton);
}

void SmokeTest::aUserOpensSearchClosesItAndQuits() {
    QTemporaryDir dir;
    ScriptedPrompt prompt;
    FakeClock clock;
    RecordingShell shell;
    IniRegistry registry(dir.path() + "/registry.ini");
    SettingsStore settings(dir.path());

    // Start the script from the main loop, once the start-up window's load has finished;
    // the load lets events run, so an early start would run inside it.
    std::function<void()> start = [&] {
        if (EventPumpDepth() > 0 || !IsFormLoaded("fCover")) {
            QTimer::singleShot(10, this, start);
            return;
        }
        script();
        if (!scriptFinished_)
            QCoreApplication::exit(99); // a failed step: leave the loop so the failure shows
    };
    QTimer::singleShot(0, this, start);
    const int code = RunQuillfetch(AppServices{&prompt, &clock, &shell, &registry, &settings});
    QVERIFY(scriptFinished_);
    QCOMPARE(code, 0);
    QVERIFY(!IsFormLoaded("fCover"));
    QVERIFY(prompt.shown().isEmpty());
}

void SmokeTest::theProgramEndsCleanlyWhenTheSessionEnds() {
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(QUILLFETCH_BINARY), {});
    QVERIFY(program.waitForStarted(10000));
    // The start-up records the browser level in the user's registry file: proof that the
    // window loaded and ran its start-up to the end.
    const QString registryFile =
        qEnvironmentVariable("XDG_CONFIG_HOME") + "/Quillfetch/registry.ini";
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(registryFile), 20000);
    QCOMPARE(program.state(), QProcess::Running);
    const qint64 pid = program.processId();
    QVERIFY(pid > 0); // kill(0, ...) would signal the whole test run
    ::kill(pid_t(pid), SIGTERM);
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

void SmokeTest::quittingFromInsideAWaitEndsAtOnceAndKeepsTheSettings() {
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--nested-quit-child")});
    QVERIFY(child.waitForStarted(10000));
    QVERIFY(child.waitForFinished(30000));
    const QByteArray output = child.readAll();
    QVERIFY2(!output.contains("code after the wait ran"), output.constData());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    SettingsStore settings(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Quillfetch");
    QCOMPARE(settings.Read(Keys::DownloadMode), QStringLiteral("1"));
}

// Child mode: a long wait loop is running when the start-up window is unloaded.
static int nestedQuitChild(int argc, char** argv) {
    QApplication app(argc, argv);
    ScriptedPrompt prompt;
    FakeClock clock;
    RecordingShell shell;
    IniRegistry registry(IniRegistry::defaultFilePath());
    SettingsStore settings;
    QTimer::singleShot(0, [&] {
        Services().settings->Write(Keys::DownloadMode, 1); // not yet synced to disk
        QTimer::singleShot(200, [] { Forms::Unload(Forms::Find("fCover")); });
        for (int i = 0; i < 1000; ++i)
            DoEvents();
        std::puts("code after the wait ran");
        QCoreApplication::exit(3);
    });
    return RunQuillfetch(AppServices{&prompt, &clock, &shell, &registry, &settings});
}

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], "--nested-quit-child") == 0)
        return nestedQuitChild(argc, argv);
    PrepareTestEnvironment();
    QApplication app(argc, argv);
    SmokeTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_smoke.moc"

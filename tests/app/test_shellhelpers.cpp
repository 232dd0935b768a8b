#include "core/app/ShellHelpers.h"

#include "RecordingShell.h"
#include "ScriptedPrompt.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class TestShellHelpers : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString root_; // ends with "/"

    static QStringList describe(const QList<RecordingShell::Call>& calls) {
        QStringList lines;
        for (const RecordingShell::Call& call : calls) {
            lines << (call.argument.isEmpty()
                          ? call.what + ' ' + call.target
                          : call.what + ' ' + call.target + ' ' + call.argument);
        }
        return lines;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        root_ = dir_.path() + '/';
        QVERIFY(QDir().mkpath(root_ + "x/y"));
        QFile file(root_ + "paper.pdf");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("%PDF-1.4");
    }

    void browseForFolderPreselects_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("preselected");
        QTest::newRow("empty start opens at the root?") << ""
                                                        << "/";
        QTest::newRow("blank start opens at the root?") << "   "
                                                        << "/";
        QTest::newRow("missing folder opens at its nearest existing parent?")
            << root_ + "x/y/z" << root_ + "x/y/";
        QTest::newRow("missing folders with a trailing slash climb to what exists?")
            << root_ + "x/new/deeper/" << root_ + "x/";
        QTest::newRow("existing folder opens at itself?") << root_ + "x/y/" << root_ + "x/y/";
        QTest::newRow("existing folder without its slash opens at itself?")
            << root_ + "x" << root_ + "x/";
        QTest::newRow("a file in the path climbs above it?") << root_ + "paper.pdf/a" << root_;
        QTest::newRow("relative text opens at the root?") << "papers/2026"
                                                          << "/";
        QTest::newRow("root stays the root?") << "/"
                                              << "/";
    }
    void browseForFolderPreselects() {
        QFETCH(QString, start);
        QFETCH(QString, preselected);
        ScriptedPrompt prompt;
        prompt.answerText("/chosen");
        QCOMPARE(BrowseForFolder(prompt, nullptr, start, "请选择要浏览的文件夹:"),
                 QString("/chosen/"));
        QCOMPARE(prompt.shown().size(), 1);
        const ScriptedPrompt::Shown& shown = prompt.shown().first();
        QCOMPARE(shown.kind, ScriptedPrompt::Kind::ChooseFolder);
        QCOMPARE(shown.title, QString("请选择要浏览的文件夹:"));
        QCOMPARE(shown.start, preselected);
    }

    void browseForFolderAnswers_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("expected");
        QTest::newRow("cancel gives the start folder plus slash?") << "/tmp/a" << true << ""
                                                                   << "/tmp/a/";
        QTest::newRow("cancel keeps a start folder that has its slash?") << "/tmp/a/" << true << ""
                                                                         << "/tmp/a/";
        QTest::newRow("cancel with no start folder gives the root?") << "" << true << ""
                                                                     << "/";
        QTest::newRow("choice gets its slash?") << "/tmp" << false << "/home/user/papers"
                                                << "/home/user/papers/";
        QTest::newRow("choice of the root stays the root?") << "/tmp" << false << "/"
                                                            << "/";
    }
    void browseForFolderAnswers() {
        QFETCH(QString, start);
        QFETCH(bool, cancel);
        QFETCH(QString, chosen);
        QFETCH(QString, expected);
        ScriptedPrompt prompt;
        if (cancel)
            prompt.answerCancel();
        else
            prompt.answerText(chosen);
        QCOMPARE(BrowseForFolder(prompt, nullptr, start, "t"), expected);
        QCOMPARE(prompt.pendingAnswers(), 0);
    }

    void openUrlFallbacks_data() {
        QTest::addColumn<bool>("reuseWindow");
        QTest::addColumn<bool>("defaultHandlerWorks");
        QTest::addColumn<bool>("browserWorks");
        QTest::addColumn<QStringList>("expected");
        const QString open = "openUrl http://127.0.0.1/p";
        const QString browser = "startProgram x-www-browser http://127.0.0.1/p";
        QTest::newRow("new window, default handler opens it: nothing else?")
            << false << true << true << QStringList{open};
        QTest::newRow("new window, handler fails: browser window?")
            << false << false << true << QStringList{open, browser};
        QTest::newRow("new window, both fail: handler not asked twice?")
            << false << false << false << QStringList{open, browser};
        QTest::newRow("reuse window, browser takes it: handler not asked?")
            << true << true << true << QStringList{browser};
        QTest::newRow("reuse window, no browser: handler as last resort?")
            << true << true << false << QStringList{browser, open};
        QTest::newRow("reuse window, both fail: each asked once?")
            << true << false << false << QStringList{browser, open};
    }
    void openUrlFallbacks() {
        QFETCH(bool, reuseWindow);
        QFETCH(bool, defaultHandlerWorks);
        QFETCH(bool, browserWorks);
        QFETCH(QStringList, expected);
        RecordingShell shell;
        shell.openUrlResult = defaultHandlerWorks;
        shell.startProgramResult = browserWorks;
        OpenUrl(shell, "http://127.0.0.1/p", reuseWindow);
        QCOMPARE(describe(shell.calls), expected);
    }

    void openWithDefaultAppRefusesWhatIsNoFile_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing file?") << root_ + "missing.pdf";
        QTest::newRow("folder?") << root_ + "x";
        QTest::newRow("empty path?") << "";
    }
    void openWithDefaultAppRefusesWhatIsNoFile() {
        QFETCH(QString, path);
        RecordingShell shell;
        ScriptedPrompt prompt;
        OpenWithDefaultApp(shell, prompt, nullptr, path);
        QCOMPARE(prompt.messages(), QStringList{"文件不存在！"});
        QCOMPARE(prompt.shown().first().icon, MsgIcon::Error);
        QVERIFY(shell.calls.isEmpty());
    }

    void openWithDefaultAppFallsBackToXdgOpen_data() {
        QTest::addColumn<bool>("shellOpens");
        QTest::addColumn<QStringList>("expected");
        const QString path = root_ + "paper.pdf";
        QTest::newRow("default application opens it?") << true << QStringList{"openFile " + path};
        QTest::newRow("desktop refuses: xdg-open?")
            << false << QStringList{"openFile " + path, "startProgram xdg-open " + path};
    }
    void openWithDefaultAppFallsBackToXdgOpen() {
        QFETCH(bool, shellOpens);
        QFETCH(QStringList, expected);
        RecordingShell shell;
        shell.openFileResult = shellOpens;
        ScriptedPrompt prompt;
        OpenWithDefaultApp(shell, prompt, nullptr, root_ + "paper.pdf");
        QCOMPARE(describe(shell.calls), expected);
        QVERIFY(prompt.shown().isEmpty());
    }

    void showInFolder() {
        RecordingShell shell;
        QVERIFY(!ShowInFolder(shell, root_ + "missing.pdf"));
        QVERIFY(!ShowInFolder(shell, root_ + "x"));
        QVERIFY(!ShowInFolder(shell, ""));
        QVERIFY(shell.calls.isEmpty());

        QVERIFY(ShowInFolder(shell, "  " + root_ + "paper.pdf  "));
        QCOMPARE(describe(shell.calls), QStringList{"showItemInFolder " + root_ + "paper.pdf"});

        shell.showItemResult = false;
        QVERIFY(!ShowInFolder(shell, root_ + "paper.pdf"));
        QCOMPARE(shell.calls.size(), 2);
    }
};

QF_TEST_GUILESS_MAIN(TestShellHelpers)
#include "test_shellhelpers.moc"

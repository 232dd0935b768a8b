#include "ui/platform/DesktopShell.h"

#include "TestEnvironment.h"

#include <QDBusConnection>
#include <QFile>
#include <QTemporaryDir>

class TestDesktopShell : public QObject {
    Q_OBJECT

private slots:
    void showItemInFolderWithoutSessionBusFails() {
        if (QDBusConnection::sessionBus().isConnected())
            QSKIP("a session bus is reachable; the file manager could really open");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("paper.pdf");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        DesktopShell shell;
        QVERIFY(!shell.showItemInFolder(path));
        QVERIFY(!shell.showItemInFolder(QString()));
    }

    void startProgramFindsProgramsOnPath() {
        DesktopShell shell;
        QVERIFY(!shell.startProgram("quillfetch-no-such-program-here", "x"));
        QVERIFY(!shell.startProgram(QString(), "x"));
        QVERIFY(shell.startProgram("true", "x"));
    }

    void startProgramRefusesNonExecutableFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString script = dir.filePath("not-executable");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        DesktopShell shell;
        QVERIFY(!shell.startProgram(script, "x"));
    }

    void startProgramPassesItsArgument() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString marker = dir.filePath("name with spaces & 中文.txt");
        DesktopShell shell;
        QVERIFY(shell.startProgram("touch", marker));
        QTRY_VERIFY(QFile::exists(marker));
    }

    void nothingToOpen() {
        DesktopShell shell;
        QVERIFY(!shell.openUrl(QString()));
        QVERIFY(!shell.openUrl("   "));
        QVERIFY(!shell.openFile(QString()));
    }
};

QF_TEST_MAIN(TestDesktopShell)
#include "test_desktopshell.moc"

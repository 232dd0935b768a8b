#include "core/app/FileHelpers.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>

class TestFileHelpers : public QObject {
    Q_OBJECT

private:
    static void touch(const QString& path) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
    }

private slots:
    void existenceTests() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = dir.path() + '/';
        touch(root + "paper.pdf");
        touch(root + ".hidden");
        QVERIFY(QDir().mkpath(root + "folder"));
        QVERIFY(QDir().mkpath(root + ".hiddenfolder"));
        QVERIFY(QFile::link(root + "gone", root + "dangling"));
        QVERIFY(QFile::link(root + "folder", root + "folderlink"));

        QVERIFY(FileExists(root + "paper.pdf"));
        QVERIFY(FileExists(root + ".hidden"));
        QVERIFY(!FileExists(root + "folder"));
        QVERIFY(!FileExists(root + "missing.pdf"));
        QVERIFY(!FileExists(root + "dangling"));
        QVERIFY(!FileExists(root + "paper.pdf/"));
        QVERIFY(!FileExists(QString()));
        QVERIFY(!FileExists(root + QStringLiteral("paper.pdf") + QChar(0) + "x"));

        QVERIFY(FolderExists(root + "folder"));
        QVERIFY(FolderExists(root + "folder/"));
        QVERIFY(FolderExists(root + ".hiddenfolder"));
        QVERIFY(FolderExists(root + "folderlink"));
        QVERIFY(FolderExists("/"));
        QVERIFY(!FolderExists(root + "paper.pdf"));
        QVERIFY(!FolderExists(root + "missing"));
        QVERIFY(!FolderExists(QString()));
        QVERIFY(!FolderExists(root + QChar(0)));
    }

    void splitFileName_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("baseName");
        QTest::newRow("full path?") << "/x/paper.pdf"
                                    << "pdf"
                                    << "paper";
        QTest::newRow("several dots: the last one splits?") << "a.b.c"
                                                            << "c"
                                                            << "a.b";
        QTest::newRow("seven-letter extension is part of the name?") << "report.version2"
                                                                     << ""
                                                                     << "report.version2";
        QTest::newRow("exactly seven letters after the dot?") << "report.abcdefg"
                                                              << ""
                                                              << "report.abcdefg";
        QTest::newRow("six letters still an extension?") << "report.abcdef"
                                                         << "abcdef"
                                                         << "report";
        QTest::newRow("no dot?") << "/x/readme"
                                 << ""
                                 << "readme";
        QTest::newRow("trailing dot?") << "/x/readme."
                                       << ""
                                       << "readme";
        QTest::newRow("empty?") << ""
                                << ""
                                << "";
        QTest::newRow("spaces around path and parts?") << "  /x/my paper .pdf  "
                                                       << "pdf"
                                                       << "my paper";
        QTest::newRow("dot only in a folder?") << "/x.y/readme"
                                               << ""
                                               << "readme";
        QTest::newRow("dot file?") << "/x/.pdf"
                                   << "pdf"
                                   << "";
        QTest::newRow("backslash is part of the name?") << "/x/a\\b.pdf"
                                                        << "pdf"
                                                        << "a\\b";
        QTest::newRow("folder path?") << "/x/folder/"
                                      << ""
                                      << "";
        QTest::newRow("tab is not trimmed?") << "\tname.pdf"
                                             << "pdf"
                                             << "\tname";
    }
    void splitFileName() {
        QFETCH(QString, path);
        QFETCH(QString, extension);
        QFETCH(QString, baseName);
        QString base = "stale";
        QCOMPARE(SplitFileName(path, base), extension);
        QCOMPARE(base, baseName);
    }

    void removeLineBreaks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("only line breaks?") << QStringLiteral("\r\n\n\r") + QChar(0) << "";
        QTest::newRow("breaks inside a title?")
            << "Deep\r\nlearning\nfor" + QString(QChar(0)) + " all"
            << "Deeplearningfor all";
        QTest::newRow("tabs and spaces kept?") << " a\tb  "
                                               << " a\tb  ";
        QTest::newRow("empty?") << ""
                                << "";
    }
    void removeLineBreaks() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(RemoveLineBreaks(text), expected);
    }

    void trimSpacesRemovesSpacesOnly() {
        QCOMPARE(TrimSpaces("  a b  "), QString("a b"));
        QCOMPARE(TrimSpaces("   "), QString());
        QCOMPARE(TrimSpaces("\t a \n"), QString("\t a \n"));
        QCOMPARE(TrimSpaces(QString::fromUtf8("\u3000题目\u3000")),
                 QString::fromUtf8("\u3000题目\u3000"));
    }

    void withoutBrokenSurrogates_data() {
        const QChar high(0xD83D), low(0xDE00); // together: U+1F600
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("removed");
        QTest::addColumn<QString>("replaced");
        QTest::newRow("a pair stays?")
            << QString("a") + high + low + "b" << QString("a") + high + low + "b"
            << QString("a") + high + low + "b";
        QTest::newRow("a lone high half?") << QString("a") + high + "b"
                                           << "ab"
                                           << "a\uFFFDb";
        QTest::newRow("a lone low half?") << QString("a") + low + "b"
                                          << "ab"
                                          << "a\uFFFDb";
        QTest::newRow("a high half at the end?") << QString("ab") + high << "ab"
                                                 << "ab\uFFFD";
        QTest::newRow("halves in the wrong order?") << QString("a") + low + high + "b"
                                                    << "ab"
                                                    << "a\uFFFD\uFFFDb";
        QTest::newRow("a pair after a lone half?")
            << QString(high) + high + low << QString(high) + low << QString("\uFFFD") + high + low;
    }
    void withoutBrokenSurrogates() {
        QFETCH(QString, text);
        QFETCH(QString, removed);
        QFETCH(QString, replaced);
        QCOMPARE(WithoutBrokenSurrogates(text, std::nullopt), removed);
        QCOMPARE(WithoutBrokenSurrogates(text, QChar::ReplacementCharacter), replaced);
    }

    void gb18030Files() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("out.txt");
        // A longer file is replaced as a whole: nothing of its tail remains.
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(4096, 'z'));
        old.close();

        QString text = QStringLiteral("中【Café ∑】");
        text += QChar(0xD800);
        QVERIFY(WriteGb18030File(path, text));
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray bytes = written.readAll();
        QVERIFY(bytes.startsWith(QByteArray::fromHex("d6d0a1be"))); // GBK bytes of 中【
        QCOMPARE(QStringDecoder("GB18030").decode(bytes), QStringLiteral("中【Café ∑】\uFFFD"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.txt"});

        QVERIFY(WriteGb18030File(path, QString()));
        QCOMPARE(QFileInfo(path).size(), 0);

        QVERIFY(!WriteGb18030File(dir.path(), QStringLiteral("x")));
        QVERIFY(QFileInfo(dir.path()).isDir());
        QVERIFY(!WriteGb18030File(dir.filePath("missing/x.txt"), QStringLiteral("x")));
        QVERIFY(!WriteGb18030File(QString(), QStringLiteral("x")));
    }

    void programFolderIsTheWritableExecutableFolder() {
        const QString folder = ProgramFolder();
        QCOMPARE(folder, QCoreApplication::applicationDirPath() + '/');
    }

    void programFolderFallsBackToTheDataFolder_data() {
        QTest::addColumn<QString>("executableFolder");
        QTest::newRow("missing folder?") << "/nonexistent-quillfetch/bin";
        QTest::newRow("no folder known?") << "";
        QTest::newRow("a file, not a folder?") << QCoreApplication::applicationFilePath();
        // As an installed copy in /usr/bin is for root: writable, yet not the program's to fill.
        QTest::newRow("a writable folder outside the build tree?") << TestHome();
        QTest::newRow("the build tree's parent?")
            << QFileInfo(QCoreApplication::applicationDirPath() + "/../../..").canonicalFilePath();
    }
    void programFolderFallsBackToTheDataFolder() {
        QFETCH(QString, executableFolder);
        const QString dataFolder =
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(dataFolder.startsWith(TestHome()));
        const QString folder = ProgramFolder(executableFolder);
        QCOMPARE(folder, dataFolder + '/');
        QVERIFY(FolderExists(folder));
    }
};

QF_TEST_GUILESS_MAIN(TestFileHelpers)
#include "test_filehelpers.moc"

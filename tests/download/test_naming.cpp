#include "core/download/Naming.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTemporaryDir>

namespace {

QString repeated(const QString& piece, int count) {
    QString text;
    for (int i = 0; i < count; ++i)
        text += piece;
    return text;
}

int utf8Bytes(const QString& text) {
    return int(QFile::encodeName(text).size());
}

// Creates a file, or a folder when the name ends with "/".
bool create(const QString& folder, const QString& name) {
    if (name.endsWith('/'))
        return QDir().mkpath(folder + name);
    QFile file(folder + name);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray gb18030(const QString& text) {
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

// Titles and links that try to put a file somewhere else than the chosen folder.
QStringList hostileNames() {
    return {
        QStringLiteral(".."),
        QStringLiteral(" .. "),
        QStringLiteral(". ."),
        QStringLiteral(" . "),
        QStringLiteral("."),
        QStringLiteral("../../etc/passwd"),
        QStringLiteral("..\\..\\windows\\win.ini"),
        QStringLiteral("/"),
        QStringLiteral("/etc/passwd"),
        QStringLiteral("a") + QChar(0) + QStringLiteral("/../../b"),
        QStringLiteral("\t..\t"),
        QStringLiteral("\x1b[2J..\x07"),
        QStringLiteral("\u202E..") + QChar(0x2066),
        QStringLiteral("report\u202Efdp.exe"),
        QString(10000, QChar('a')),
        QString(10000, QChar('.')),
        repeated(QStringLiteral("../"), 3000),
        repeated(QStringLiteral("中"), 10000),
        QString(QChar(0xD800)) + QStringLiteral(".."),
        QStringLiteral("[..]"),
        QStringLiteral("[1]"),
        QString(),
        QStringLiteral("   "),
    };
}

} // namespace

class TestNaming : public QObject {
    Q_OBJECT

private slots:
    void cleanFileName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("forbidden characters and outer dots removed?")
            << QStringLiteral("..Re: a/b?.") << QStringLiteral("Re ab");
        QTest::newRow("only dots become empty?") << QStringLiteral("....") << QString();
        QTest::newRow("dots behind spaces cannot make the parent folder?")
            << QStringLiteral(" .. ") << QString();
        QTest::newRow("dots around a space become empty?") << QStringLiteral(". .") << QString();
        QTest::newRow("a trailing dot behind a space goes?")
            << QStringLiteral("a. ") << QStringLiteral("a");
        QTest::newRow("all nine forbidden characters?")
            << QStringLiteral("a\\b/c:d*e?f\"g<h>i|j") << QStringLiteral("abcdefghij");
        QTest::newRow("line breaks and NUL removed, nothing put in their place?")
            << QStringLiteral("a\r\nb") + QChar(0) + QStringLiteral("c") << QStringLiteral("abc");
        QTest::newRow("tab and escape sequence removed?")
            << QStringLiteral("a\tb\x1b[31mc\x7f") << QStringLiteral("ab[31mc");
        QTest::newRow("bidirectional controls removed?")
            << QStringLiteral("report\u202Efdp\u200F.exe\u2067") << QStringLiteral("reportfdp.exe");
        QTest::newRow("a lone surrogate removed?")
            << QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b") << QStringLiteral("ab");
        QTest::newRow("device names and inner dots pass?")
            << QStringLiteral("CON.a..b") << QStringLiteral("CON.a..b");
        QTest::newRow("characters outside GBK kept?")
            << QStringLiteral("Schrödinger ∮ 😀") << QStringLiteral("Schrödinger ∮ 😀");
        QTest::newRow("200 Chinese characters cut to 125?")
            << repeated(QStringLiteral("中"), 200) << repeated(QStringLiteral("中"), 125);
        QTest::newRow("300 letters cut to 250?") << QString(300, 'x') << QString(250, 'x');
        QTest::newRow("a two-byte character straddling 250 dropped whole?")
            << QString(249, 'x') + QStringLiteral("中") << QString(249, 'x');
        QTest::newRow("a four-byte character straddling 250 dropped whole?")
            << QString(247, 'x') + QStringLiteral("😀") << QString(247, 'x');
        QTest::newRow("a four-byte character ending exactly at 250 kept?")
            << QString(246, 'x') + QStringLiteral("😀") << QString(246, 'x') + QStringLiteral("😀");
        QTest::newRow("a dot exposed by the cut goes?")
            << QString(249, 'x') + QStringLiteral(".pdf") << QString(249, 'x');
        QTest::newRow("spaces exposed by the cut go?")
            << QString(248, 'x') + QStringLiteral("  y") << QString(248, 'x');
    }

    void cleanFileName() {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(CleanFileName(name), expected);
        QCOMPARE(CleanFileName(expected), expected);
    }

    void fileNameFromLink_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("strip");
        QTest::addColumn<QString>("expected");
        const QString doi =
            QStringLiteral("https://www.science.org/doi/pdf/10.1126/science.abc1234");
        QTest::newRow("flag cuts at the last dot?") << doi << true << QStringLiteral("science");
        QTest::newRow("no flag keeps the extension?")
            << doi << false << QStringLiteral("science.abc1234");
        QTest::newRow("flag on a segment without a dot?")
            << QStringLiteral("https://x.org/doi/abc1234") << true << QStringLiteral("abc1234");
        QTest::newRow("link ending in / gives nothing?")
            << QStringLiteral("https://x.org/doi/") << false << QString();
        QTest::newRow("query string stays?") << QStringLiteral("https://x.org/get?file=a.pdf")
                                             << false << QStringLiteral("get?file=a.pdf");
        QTest::newRow("query string with the flag?")
            << QStringLiteral("https://x.org/get?file=a.pdf") << true
            << QStringLiteral("get?file=a");
        QTest::newRow("backslashes separate too?")
            << QStringLiteral("C:\\papers\\paper.pdf") << true << QStringLiteral("paper");
        QTest::newRow("segment trimmed before and after the cut?")
            << QStringLiteral("https://x.org/ paper .pdf ") << true << QStringLiteral("paper");
        QTest::newRow("no separator at all?")
            << QStringLiteral("paper.pdf") << false << QStringLiteral("paper.pdf");
    }

    void fileNameFromLink() {
        QFETCH(QString, link);
        QFETCH(bool, strip);
        QFETCH(QString, expected);
        QCOMPARE(FileNameFromLink(link, strip), expected);
    }

    void makeFolderPathCreatesLevelByLevel() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = dir.path();
        QStringList complaints;
        const auto complain = [&complaints](const QString& text) {
            complaints << text;
        };

        QCOMPARE(MakeFolderPath(root + "/new/sub/", complain), root + "/new/sub");
        QVERIFY(QFileInfo(root + "/new").isDir());
        QVERIFY(QFileInfo(root + "/new/sub").isDir());
        QCOMPARE(MakeFolderPath(root + "/new/sub", complain), root + "/new/sub");

        QCOMPARE(MakeFolderPath(root + "/a*b/ c. /", complain), root + "/ab/c");
        QVERIFY(QFileInfo(root + "/ab/c").isDir());

        // An empty part ends the path: nothing beyond it is made.
        QCOMPARE(MakeFolderPath(root + "/p//q/", complain), root + "/p");
        QVERIFY(!QFileInfo::exists(root + "/p/q"));
        QVERIFY(!QFileInfo::exists(root + "/q"));

        // A part too long for the file system is shortened rather than failing.
        const QString longPart = repeated(QStringLiteral("中"), 120);
        const QString made = MakeFolderPath(root + '/' + longPart + '/', complain);
        QVERIFY(made.startsWith(root + '/'));
        QVERIFY(QFileInfo(made).isDir());
        QVERIFY(utf8Bytes(QFileInfo(made).fileName()) <= 255);

        QCOMPARE(MakeFolderPath(QStringLiteral("/"), complain), QStringLiteral("/"));
        QVERIFY(complaints.isEmpty());
    }

    void makeFolderPathStopsAtABadPart_data() {
        QTest::addColumn<QString>("tail");
        QTest::addColumn<QString>("expectedTail");
        QTest::newRow("question marks only?")
            << QStringLiteral("/x/\?\?\?/y/") << QStringLiteral("/x");
        QTest::newRow("parent folder?") << QStringLiteral("/x/../y/") << QStringLiteral("/x");
        QTest::newRow("parent folder behind spaces?")
            << QStringLiteral("/x/ .. /y") << QStringLiteral("/x");
        QTest::newRow("dots and a space?") << QStringLiteral("/x/. ./y") << QStringLiteral("/x");
        QTest::newRow("first part bad?") << QStringLiteral("/\?\?\?/y") << QString();
    }

    void makeFolderPathStopsAtABadPart() {
        QFETCH(QString, tail);
        QFETCH(QString, expectedTail);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = dir.path();
        QStringList complaints;
        const auto complain = [&complaints](const QString& text) {
            complaints << text;
        };

        if (expectedTail.isEmpty()) {
            // The bad part is the first under the root: the root itself is what was built.
            const bool existedBefore = QFileInfo::exists(QStringLiteral("/y"));
            QCOMPARE(MakeFolderPath(tail, complain), QStringLiteral("/"));
            QCOMPARE(QFileInfo::exists(QStringLiteral("/y")), existedBefore);
        } else {
            QCOMPARE(MakeFolderPath(root + tail, complain), root + expectedTail);
            QVERIFY(!QFileInfo::exists(root + "/y"));
            QVERIFY(!QFileInfo::exists(root + "/x/y"));
        }
        QCOMPARE(complaints, QStringList{QStringLiteral("文件夹名称有误！不能创建文件夹！")});
    }

    void makeFolderPathKeepsFoldersThatExist_data() {
        QTest::addColumn<QStringList>("present"); // made first; a trailing "/" makes a folder
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a hidden folder is not renamed?")
            << QStringList{".papers/"} << "/.papers/new/"
            << "/.papers/new";
        QTest::newRow("a hidden folder that is not there yet is cleaned?")
            << QStringList{} << "/.papers/new/"
            << "/papers/new";
        QTest::newRow("a mounted share keeps its colon, new parts are cleaned?")
            << QStringList{"smb-share:server=x,share=y/"} << "/smb-share:server=x,share=y/sub: a?/"
            << "/smb-share:server=x,share=y/sub a";
        QTest::newRow("a drive with a colon and a blank in its name?")
            << QStringList{"media/u/Backup: 2024/"} << "/media/u/Backup: 2024"
            << "/media/u/Backup: 2024";
        QTest::newRow("blanks and dots around an existing name stay?")
            << QStringList{" spaced. /"} << "/ spaced. /in"
            << "/ spaced. /in";
        QTest::newRow("a file of that name does not count as the folder?")
            << QStringList{"a:b"} << "/a:b/c"
            << "/ab/c";
        QTest::newRow("a folder reached through a link is kept?")
            << QStringList{"real/", "link:to->real/"} << "/link:to/x"
            << "/link:to/x";
    }

    void makeFolderPathKeepsFoldersThatExist() {
        QFETCH(QStringList, present);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = dir.path();
        for (const QString& entry : present) {
            const qsizetype arrow = entry.indexOf("->");
            if (arrow >= 0) {
                QVERIFY(
                    QFile::link(root + '/' + entry.mid(arrow + 2), root + '/' + entry.left(arrow)));
                continue;
            }
            QVERIFY(create(root + '/', entry));
        }
        const QStringList before =
            QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        QStringList complaints;
        const QString made = MakeFolderPath(
            root + typed, [&complaints](const QString& text) { complaints << text; });
        QCOMPARE(made, root + expected);
        QVERIFY(QFileInfo(made).isDir());
        QVERIFY(complaints.isEmpty());
        // Nothing was made beside the folders of the answer.
        const QString top = expected.section('/', 1, 1);
        const QStringList after =
            QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QString& name : after)
            QVERIFY2(before.contains(name) || name == top, qPrintable(name));
    }

    void makeFolderPathNetworkForm() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = QFileInfo(dir.path()).canonicalFilePath();
        QStringList complaints;
        const auto complain = [&complaints](const QString& text) {
            complaints << text;
        };

        // "//tmp/xyz/share/x": the server is the root's first folder, never created; the walk
        // starts below it.
        QCOMPARE(MakeFolderPath('/' + root + "/share/x/", complain), root + "/share/x");
        QVERIFY(QFileInfo(root + "/share/x").isDir());

        const QString missingServer =
            QStringLiteral("quillfetch-no-server-%1").arg(QRandomGenerator::global()->generate());
        QCOMPARE(MakeFolderPath("//" + missingServer + "/share/", complain), QString());
        QVERIFY(!QFileInfo::exists('/' + missingServer));
        QVERIFY(complaints.isEmpty());

        const bool existedBefore = QFileInfo::exists(QStringLiteral("/x"));
        for (const QString& path : {QStringLiteral("//"), QStringLiteral("///x/"),
                                    QStringLiteral("//../x/"), QStringLiteral("//a?b/x/")}) {
            complaints.clear();
            QCOMPARE(MakeFolderPath(path, complain), QString());
            QCOMPARE(complaints, QStringList{QStringLiteral("文件夹名称有误！不能创建文件夹！")});
        }
        QCOMPARE(QFileInfo::exists(QStringLiteral("/x")), existedBefore);
    }

    void makeFolderPathFailures() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = dir.path();
        QStringList complaints;
        const auto complain = [&complaints](const QString& text) {
            complaints << text;
        };

        // A file in the way (root ignores permissions, a file cannot be ignored).
        QVERIFY(create(root + '/', QStringLiteral("file")));
        QCOMPARE(MakeFolderPath(root + "/file/sub/", complain), QString());
        QCOMPARE(MakeFolderPath(root + "/file/", complain), QString());
        QVERIFY(QFileInfo(root + "/file").isFile());

        // Relative paths would land wherever the program runs: refused, nothing made.
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(root));
        for (const QString& path :
             {QStringLiteral("rel/sub/"), QStringLiteral("~/x/"), QStringLiteral("C:/x/"),
              QStringLiteral("C:\\x\\"), QString()}) {
            QCOMPARE(MakeFolderPath(path, complain), QString());
        }
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("file")});
        QVERIFY(complaints.isEmpty());
    }

    void uniqueFilePath_data() {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing there: unchanged?")
            << QStringList{} << QStringLiteral("paper.pdf") << QStringLiteral("paper.pdf");
        QTest::newRow("next four-digit counter?")
            << QStringList{QStringLiteral("paper.pdf"), QStringLiteral("paper[0001].pdf")}
            << QStringLiteral("paper.pdf") << QStringLiteral("paper[0002].pdf");
        QTest::newRow("no extension?")
            << QStringList{QStringLiteral("readme")} << QStringLiteral("readme")
            << QStringLiteral("readme[0001]");
        QTest::newRow("the name without its counter is free?")
            << QStringList{QStringLiteral("a[0003].pdf")} << QStringLiteral("a[0003].pdf")
            << QStringLiteral("a.pdf");
        QTest::newRow("non-numeric brackets stay?")
            << QStringList{QStringLiteral("a[x].pdf")} << QStringLiteral("a[x].pdf")
            << QStringLiteral("a[x][0001].pdf");
        QTest::newRow("base over 100 characters cut?")
            << QStringList{QString(150, 'b') + ".pdf"} << QString(150, 'b') + ".pdf"
            << QString(100, 'b') + ".pdf";
        QTest::newRow("a folder takes the name too?")
            << QStringList{QStringLiteral("c.pdf"), QStringLiteral("c[0001].pdf/")}
            << QStringLiteral("c.pdf") << QStringLiteral("c[0002].pdf");
        QTest::newRow("a folder at the path itself?")
            << QStringList{QStringLiteral("d.pdf/")} << QStringLiteral("d.pdf")
            << QStringLiteral("d[0001].pdf");
        QTest::newRow("a link that points nowhere takes the name?")
            << QStringList{QStringLiteral("e.pdf"), QStringLiteral("e[0001].pdf->nowhere")}
            << QStringLiteral("e.pdf") << QStringLiteral("e[0002].pdf");
        QTest::newRow("the name without its counter is a folder?")
            << QStringList{QStringLiteral("f[0003].pdf"), QStringLiteral("f.pdf/")}
            << QStringLiteral("f[0003].pdf") << QStringLiteral("f[0001].pdf");
        QTest::newRow("hidden files take the name?")
            << QStringList{QStringLiteral(".notes.txt"), QStringLiteral(".notes[0001].txt")}
            << QStringLiteral(".notes.txt") << QStringLiteral(".notes[0002].txt");
        QTest::newRow("a bare counter does not become a hidden file?")
            << QStringList{QStringLiteral("[0001].pdf")} << QStringLiteral("[0001].pdf")
            << QStringLiteral("[0002].pdf");
        QTest::newRow("an empty extension keeps its dot?")
            << QStringList{QStringLiteral("...")} << QStringLiteral("...")
            << QStringLiteral("..[0001].");
        QTest::newRow("dropping the counter must not name the parent?")
            << QStringList{QStringLiteral(".[0001].")} << QStringLiteral(".[0001].")
            << QStringLiteral(".[0002].");
    }

    void uniqueFilePath() {
        QFETCH(QStringList, present);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.path() + '/';
        for (const QString& file : present) {
            const qsizetype arrow = file.indexOf("->");
            if (arrow >= 0)
                QVERIFY(QFile::link(folder + file.mid(arrow + 2), folder + file.left(arrow)));
            else
                QVERIFY(create(folder, file));
        }
        QCOMPARE(UniqueFilePath(folder + name), folder + expected);
    }

    void uniqueFilePathWithoutFolder() {
        QCOMPARE(UniqueFilePath(QStringLiteral("paper.pdf")), QStringLiteral("paper.pdf"));
    }

    void renameTargetPath_data() {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("overwrite");
        QTest::addColumn<QString>("expectedFile");
        QTest::addColumn<QString>("expectedName");
        const QString paper = QStringLiteral("paper");
        const QString pdf = QStringLiteral("pdf");
        QTest::newRow("nothing there: plain target?")
            << QStringList{} << paper << pdf << false << QStringLiteral("paper.pdf") << paper;
        QTest::newRow("three-digit counter?")
            << QStringList{QStringLiteral("paper.pdf")} << paper << pdf << false
            << QStringLiteral("paper[001].pdf") << QStringLiteral("paper[001]");
        QTest::newRow("counts past taken names?")
            << QStringList{QStringLiteral("paper.pdf"), QStringLiteral("paper[001].pdf")} << paper
            << pdf << false << QStringLiteral("paper[002].pdf") << QStringLiteral("paper[002]");
        QTest::newRow("numeric group inside the name starts the counter?")
            << QStringList{QStringLiteral("a[2]b.pdf")} << QStringLiteral("a[2]b") << pdf << false
            << QStringLiteral("a[002].pdf") << QStringLiteral("a[002]");
        QTest::newRow("and counts on from it?")
            << QStringList{QStringLiteral("a[2]b.pdf"), QStringLiteral("a[002].pdf")}
            << QStringLiteral("a[2]b") << pdf << false << QStringLiteral("a[003].pdf")
            << QStringLiteral("a[003]");
        QTest::newRow("text brackets become corner brackets?")
            << QStringList{QStringLiteral("a[b].pdf")} << QStringLiteral("a[b]") << pdf << false
            << QStringLiteral("a『b』.pdf") << QStringLiteral("a『b』");
        QTest::newRow("corner-bracket name taken too?")
            << QStringList{QStringLiteral("a[b].pdf"), QStringLiteral("a『b』.pdf")}
            << QStringLiteral("a[b]") << pdf << false << QStringLiteral("a『b』[001].pdf")
            << QStringLiteral("a『b』[001]");
        QTest::newRow("a number too large to count on is text?")
            << QStringList{QStringLiteral("a[99999999999999999999].pdf")}
            << QStringLiteral("a[99999999999999999999]") << pdf << false
            << QStringLiteral("a『99999999999999999999』.pdf")
            << QStringLiteral("a『99999999999999999999』");
        QTest::newRow("overwrite keeps the plain target?")
            << QStringList{QStringLiteral("paper.pdf")} << paper << pdf << true
            << QStringLiteral("paper.pdf") << paper;
        QTest::newRow("empty type: no trailing dot?")
            << QStringList{} << paper << QString() << false << paper << paper;
        QTest::newRow("empty type, taken?")
            << QStringList{paper} << paper << QString() << false << QStringLiteral("paper[001]")
            << QStringLiteral("paper[001]");
        QTest::newRow("a folder of that name takes it?")
            << QStringList{QStringLiteral("paper.pdf/")} << paper << pdf << false
            << QStringLiteral("paper[001].pdf") << QStringLiteral("paper[001]");
        QTest::newRow("counter group alone does not become a hidden file?")
            << QStringList{QStringLiteral("[0].pdf")} << QStringLiteral("[0]") << pdf << false
            << QStringLiteral("[001].pdf") << QStringLiteral("[001]");
    }

    void renameTargetPath() {
        QFETCH(QStringList, present);
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(bool, overwrite);
        QFETCH(QString, expectedFile);
        QFETCH(QString, expectedName);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const QString& file : present)
            QVERIFY(create(dir.path() + '/', file));
        QString newName = QStringLiteral("untouched");
        // The folder comes without its "/": one is inserted.
        QCOMPARE(RenameTargetPath(dir.path(), name, type, overwrite, newName),
                 dir.path() + '/' + expectedFile);
        QCOMPARE(newName, expectedName);
        QCOMPARE(TargetFilePath(dir.path(), newName, type), dir.path() + '/' + expectedFile);
    }

    void targetFilePath() {
        QCOMPARE(TargetFilePath(QStringLiteral("/x/"), QStringLiteral("a"), QStringLiteral("pdf")),
                 QStringLiteral("/x/a.pdf"));
        QCOMPARE(TargetFilePath(QStringLiteral("/x"), QStringLiteral("a"), QString()),
                 QStringLiteral("/x/a"));
        // No folder, or a name or type that would leave the folder: no target at all.
        QCOMPARE(TargetFilePath(QString(), QStringLiteral("a"), QStringLiteral("pdf")), QString());
        QCOMPARE(TargetFilePath(QStringLiteral("/x/"), QStringLiteral(".."), QString()), QString());
        QCOMPARE(
            TargetFilePath(QStringLiteral("/x/"), QStringLiteral("../a"), QStringLiteral("pdf")),
            QString());
        QCOMPARE(
            TargetFilePath(QStringLiteral("/x/"), QStringLiteral("a"), QStringLiteral("/../b")),
            QString());
        QString newName;
        QCOMPARE(RenameTargetPath(QStringLiteral("/x/"), QStringLiteral("a"),
                                  QStringLiteral("p/df"), false, newName),
                 QString());
    }

    void longTitlesFitTheFileSystem() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.path() + '/';
        const QString pdf = QStringLiteral("pdf");
        const QString name = CleanFileName(repeated(QStringLiteral("光"), 240));
        QCOMPARE(name.size(), 125);
        QVERIFY(utf8Bytes(name + ".pdf") > 255);

        const QString target = TargetFilePath(folder, name, pdf);
        const QString fileName = QFileInfo(target).fileName();
        QVERIFY(fileName.endsWith(QStringLiteral(".pdf")));
        QVERIFY(utf8Bytes(fileName) <= 255);
        QVERIFY(utf8Bytes(fileName) > 250);
        QCOMPARE(TargetFileName(name, pdf) + ".pdf", fileName);
        QVERIFY(create(folder, fileName));

        QString newName;
        const QString renamed = RenameTargetPath(folder, name, pdf, false, newName);
        QVERIFY(renamed.endsWith(QStringLiteral("[001].pdf")));
        QVERIFY(newName.endsWith(QStringLiteral("[001]")));
        QCOMPARE(renamed, folder + newName + ".pdf");
        QVERIFY(utf8Bytes(newName + ".pdf") <= 255);
        QVERIFY(create(folder, newName + ".pdf"));
        QCOMPARE(TargetFilePath(folder, newName, pdf), renamed);

        const QString unique = UniqueFilePath(target);
        QVERIFY(unique.endsWith(QStringLiteral("[0001].pdf")));
        QVERIFY(utf8Bytes(QFileInfo(unique).fileName()) <= 255);
        QVERIFY(create(folder, QFileInfo(unique).fileName()));

        // A name that cannot exist is not handed back as it is.
        const QString tooLong = folder + repeated(QStringLiteral("光"), 100) + ".pdf";
        QVERIFY(utf8Bytes(QFileInfo(UniqueFilePath(tooLong)).fileName()) <= 255);
    }

    void fitFileNameComponent() {
        QCOMPARE(FitFileNameComponent(QStringLiteral("short"), QStringLiteral(".pdf")),
                 QStringLiteral("short"));
        // An accent stays with its letter, a pair of surrogates stays whole.
        const QString accented = repeated(QStringLiteral("e\u0301"), 100);
        const QString fitted = FitFileNameComponent(accented, QStringLiteral("[001].pdf"));
        QVERIFY(utf8Bytes(fitted + "[001].pdf") <= 255);
        QCOMPARE(fitted.size() % 2, 0);
        QVERIFY(accented.startsWith(fitted));
        const QString emoji = repeated(QStringLiteral("😀"), 100);
        const QString fittedEmoji = FitFileNameComponent(emoji, QStringLiteral(".pdf"));
        QCOMPARE(fittedEmoji, repeated(QStringLiteral("😀"), 62));
        // The cut drops the spaces it exposes.
        const QString spaced = QString(250, 'x') + QStringLiteral("   tail");
        QCOMPARE(FitFileNameComponent(spaced, QStringLiteral(".pdf")), QString(250, 'x'));
        // A suffix that leaves no room: nothing would help, the base stays.
        QCOMPARE(FitFileNameComponent(QStringLiteral("a"), QString(300, 'p')), QStringLiteral("a"));
    }

    void readFolderHistory() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.path() + "/SaveList.dat";
        QVERIFY(!ReadFolderHistory(path));
        QVERIFY(!ReadFolderHistory(dir.path()));

        QStringList lines;
        for (int i = 1; i <= 120; ++i)
            lines << QStringLiteral("/papers/%1").arg(i);
        QVERIFY(writeBytes(path, lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n"));
        QCOMPARE(ReadFolderHistory(path).value(), lines.mid(0, 100));

        // Blank lines do not count, duplicates do; the first spelling stays.
        QVERIFY(writeBytes(path, "D:/A\r\n\r\n   \r\nd:/a\r\n  /b  \r\n"));
        QCOMPARE(ReadFolderHistory(path).value(),
                 (QStringList{QStringLiteral("D:/A"), QStringLiteral("/b")}));
        QByteArray crowded;
        for (int i = 0; i < 100; ++i)
            crowded += "/same\r\n\r\n";
        crowded += "/late\r\n";
        QVERIFY(writeBytes(path, crowded));
        QCOMPARE(ReadFolderHistory(path).value(), QStringList{QStringLiteral("/same")});

        // Lines written elsewhere end in LF or CR alone.
        QVERIFY(writeBytes(path, "/a\n/b\r/c"));
        QCOMPARE(ReadFolderHistory(path).value(),
                 (QStringList{QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/c")}));

        QVERIFY(writeBytes(path, "/\xd6\xd0\xce\xc4\r\n"));
        QCOMPARE(ReadFolderHistory(path).value(), QStringList{QStringLiteral("/中文")});

        // An empty file is an empty history, not a missing one.
        QVERIFY(writeBytes(path, ""));
        QCOMPARE(ReadFolderHistory(path).value_or(QStringList{QStringLiteral("none")}),
                 QStringList{});
    }

    void readDamagedFolderHistory() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.path() + "/SaveList.dat";
        QByteArray garbage("/ok\r\n/bad\xff\xfe\x81\r\n");
        QRandomGenerator random(20240601);
        for (int i = 0; i < 256 * 1024; ++i)
            garbage += char(random.bounded(256));
        QVERIFY(writeBytes(path, garbage));
        const std::optional<QStringList> history = ReadFolderHistory(path);
        QVERIFY(history);
        QVERIFY(history->size() <= 100);
        QVERIFY(history->size() >= 2);
        QCOMPARE(history->at(0), QStringLiteral("/ok"));
        QVERIFY(history->at(1).startsWith(QStringLiteral("/bad")));
        for (const QString& folder : *history)
            QVERIFY(!folder.isEmpty() && !folder.contains('\n') && !folder.contains('\r'));
    }

    void writeFolderHistory() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.path() + "/SaveList.dat";
        const QStringList folders{QStringLiteral("/a"), QStringLiteral("/中文"),
                                  QStringLiteral("/Müller ∮")};
        QVERIFY(WriteFolderHistory(path, folders));
        const QByteArray bytes = readBytes(path);
        QVERIFY(bytes.startsWith("/a\r\n/\xd6\xd0\xce\xc4\r\n/"));
        QCOMPARE(bytes, gb18030(QStringLiteral("/a\r\n/中文\r\n/Müller ∮\r\n")));
        QCOMPARE(ReadFolderHistory(path).value(), folders);

        QVERIFY(WriteFolderHistory(path, {}));
        QCOMPARE(readBytes(path), QByteArray("\r\n"));
        QCOMPARE(ReadFolderHistory(path).value_or(QStringList{QStringLiteral("none")}),
                 QStringList{});

        // One entry, one line.
        QVERIFY(WriteFolderHistory(path, {QStringLiteral("/x\r\ny")}));
        QCOMPARE(readBytes(path), QByteArray("/xy\r\n"));

        QVERIFY(!WriteFolderHistory(dir.path() + "/missing/SaveList.dat", folders));
        QVERIFY(QDir().mkdir(dir.path() + "/folder"));
        QVERIFY(!WriteFolderHistory(dir.path() + "/folder", folders));
    }

    void folderHistoryPath() {
        QVERIFY(FolderHistoryPath().endsWith(QStringLiteral("/SaveList.dat")));
        QVERIFY(QFileInfo(FolderHistoryPath()).absoluteDir().exists());
    }

    // Whatever a title or link holds, the file lands in the chosen folder or nowhere.
    void noNameLeavesItsFolder() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString chosen = dir.path() + "/outer/chosen";
        QVERIFY(QDir().mkpath(chosen));
        const QString canonicalChosen = QFileInfo(chosen).canonicalFilePath();

        QStringList names;
        for (const QString& hostile : hostileNames()) {
            names << CleanFileName(hostile);
            names << CleanFileName(FileNameFromLink("https://x.org/" + hostile, true));
            names << CleanFileName(FileNameFromLink("https://x.org/a/" + hostile + "/", false));
        }
        int created = 0;
        for (const QString& name : names) {
            QVERIFY(!name.contains('/'));
            QVERIFY(name != QStringLiteral(".") && name != QStringLiteral(".."));
            for (const QString& type : {QStringLiteral("pdf"), QString()}) {
                QStringList paths{TargetFilePath(chosen, name, type)};
                if (paths.first().isEmpty()) {
                    // Only a name that cleaned away entirely, with no type, has no target.
                    QVERIFY(name.isEmpty() && type.isEmpty());
                    continue;
                }
                QVERIFY(create(QString(), paths.first()));
                QString newName;
                paths << RenameTargetPath(chosen, name, type, false, newName);
                QVERIFY(create(QString(), paths.last()));
                paths << UniqueFilePath(paths.first());
                QVERIFY(create(QString(), paths.last()));
                for (const QString& path : paths) {
                    const QFileInfo info(path);
                    QVERIFY2(info.isFile(), qPrintable(path));
                    QCOMPARE(info.canonicalPath(), canonicalChosen);
                    QVERIFY(IsUsableFileName(info.fileName()));
                }
                created += int(paths.size());
            }
        }
        QVERIFY(created > 100);
        // Nothing appeared beside or above the chosen folder.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("outer")});
        QCOMPARE(QDir(dir.path() + "/outer")
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("chosen")});
    }
};

QF_TEST_GUILESS_MAIN(TestNaming)
#include "test_naming.moc"

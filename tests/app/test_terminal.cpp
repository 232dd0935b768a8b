// quillfetch --download: the arguments, and the real program run without a display against the
// local test server.

#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "ui/app/TerminalDownload.h"

#include <QApplication>
#include <QDirIterator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QWebEngineProfile>

#include <csignal>

using Response = TestHttpServer::Response;
using Kind = TerminalArguments::Kind;

namespace {

constexpr qint64 kBigFile = 4 * 1024 * 1024;

struct Run {
    int code = -1;
    QString out;
    QString err;
};

// The program as a user starts it from a terminal on a machine without a display.
QProcess* startProgram(const QString& home, const QStringList& arguments, QObject* parent,
                       const QString& workingFolder = {}) {
    QProcessEnvironment environment = ChildEnvironment(home);
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", "");
    auto* child = new QProcess(parent);
    child->setProcessEnvironment(environment);
    child->setWorkingDirectory(workingFolder);
    child->start(QStringLiteral(QUILLFETCH_EXECUTABLE), arguments);
    return child;
}

Run finish(QProcess* child) {
    Run run;
    if (child->waitForFinished(120000) && child->exitStatus() == QProcess::NormalExit)
        run.code = child->exitCode();
    run.out = QString::fromUtf8(child->readAllStandardOutput());
    run.err = QString::fromUtf8(child->readAllStandardError());
    delete child;
    return run;
}

// Every file and folder under `root`, apart from the four folders a child's HOME starts with.
QStringList madeUnder(const QString& root) {
    QStringList made;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(root).relativeFilePath(it.next());
        if (!QStringList{"config", "data", "cache", "runtime"}.contains(path))
            made << path;
    }
    return made;
}

// A login the desktop program's browser kept: one row in its profile's cookie database.
void storeLoginCookie(const QString& home) {
    const QString folder = home + "/data/Quillfetch/QtWebEngine/Quillfetch";
    QDir().mkpath(folder);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "stored");
        db.setDatabaseName(folder + "/Cookies");
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec("CREATE TABLE cookies (host_key TEXT, name TEXT, value TEXT, path "
                           "TEXT, expires_utc INTEGER, is_secure INTEGER, is_httponly INTEGER, "
                           "encrypted_value BLOB, samesite INTEGER)"));
        QVERIFY(query.exec("INSERT INTO cookies VALUES ('127.0.0.1', 'login', 'yes', '/', 0, 0, "
                           "1, x'', 1)"));
    }
    QSqlDatabase::removeDatabase("stored");
}

// The first two fields (state, name) of every row line, sorted: parallel rows end in any order.
QStringList rowLines(const QString& out) {
    QStringList lines;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts))
        lines << line.section('\t', 0, 1);
    lines.sort();
    return lines;
}

} // namespace

class TerminalTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void argumentsAreReadAsTyped_data();
    void argumentsAreReadAsTyped();
    void badInputEndsWithTwoAndWritesNothing_data();
    void badInputEndsWithTwoAndWritesNothing();
    void aRunEndsAsItsRowsEnded_data();
    void aRunEndsAsItsRowsEnded();
    void anInterruptedRunResumes();
};

void TerminalTest::argumentsAreReadAsTyped_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("sameName"); // -1: the stored rule
    QTest::addColumn<bool>("resume");
    const int bad = int(Kind::Bad);
    QTest::newRow("an unknown option") << QStringList{"--download", "a", "--fast"} << bad;
    QTest::newRow("no FILE after --download") << QStringList{"--download"} << bad;
    QTest::newRow("an option as FILE") << QStringList{"--download", "--mode", "1"} << bad;
    QTest::newRow("a folder without a download") << QStringList{"--folder", "p"} << bad;
    QTest::newRow("mode 3") << QStringList{"--download", "a", "--mode", "3"} << bad;
    QTest::newRow("threads 0") << QStringList{"--download", "a", "--threads", "0"} << bad;
    QTest::newRow("threads 7") << QStringList{"--download", "a", "--threads=7"} << bad;
    QTest::newRow("an unknown same-name rule")
        << QStringList{"--download", "a", "--same-name", "keep"} << bad;
    QTest::newRow("two files") << QStringList{"--download", "a", "--download", "b"} << bad;
    QTest::newRow("a stray argument") << QStringList{"--download", "a", "b"} << bad;
    QTest::newRow("a window option beside a download")
        << QStringList{"-platform", "offscreen", "--download", "a"} << bad;
    QTest::newRow("nothing: the windows") << QStringList{} << int(Kind::Desktop);
    QTest::newRow("Qt's own option: the windows")
        << QStringList{"-platform", "offscreen"} << int(Kind::Desktop);
    QTest::newRow("help beside anything")
        << QStringList{"--download", "a", "--help"} << int(Kind::Help);
    QTest::newRow("every option") << QStringList{"--download",  "refs.ris", "--folder",  "p",
                                                 "--mode",      "1",        "--threads", "6",
                                                 "--same-name", "skip",     "--resume"}
                                  << int(Kind::Download) << "refs.ris" << 1 << 6
                                  << int(SameNameChoice::Skip) << true;
    QTest::newRow("values after =")
        << QStringList{"--download=a b.bib", "--threads=2", "--same-name=覆盖"}
        << int(Kind::Download) << "a b.bib" << 0 << 2 << int(SameNameChoice::Overwrite) << false;
    QTest::newRow("resume alone") << QStringList{"--resume"} << int(Kind::Download) << "" << 0 << 0
                                  << -1 << true;
}

void TerminalTest::argumentsAreReadAsTyped() {
    QFETCH(QStringList, arguments);
    QFETCH(int, kind);
    const TerminalArguments parsed = ParseTerminalArguments(arguments);
    QCOMPARE(int(parsed.kind), kind);
    QCOMPARE(parsed.error.isEmpty(), kind != int(Kind::Bad));
    if (kind != int(Kind::Download))
        return;
    QFETCH(QString, file);
    QFETCH(int, mode);
    QFETCH(int, threads);
    QFETCH(int, sameName);
    QFETCH(bool, resume);
    QCOMPARE(parsed.options.file, file);
    QCOMPARE(parsed.options.mode, mode);
    QCOMPARE(parsed.options.threads, threads);
    QCOMPARE(parsed.options.sameName ? int(*parsed.options.sameName) : -1, sameName);
    QCOMPARE(parsed.options.resume, resume);
}

void TerminalTest::badInputEndsWithTwoAndWritesNothing_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("fileText"); // written as list.txt beside the home
    QTest::newRow("an unknown option")
        << QStringList{"--download", "list.txt", "--x"} << QByteArray();
    QTest::newRow("no FILE") << QStringList{"--download"} << QByteArray();
    QTest::newRow("mode 3") << QStringList{"--download", "list.txt", "--mode", "3"}
                            << QByteArray("http://127.0.0.1:9/a.pdf\n");
    QTest::newRow("threads 7") << QStringList{"--download", "list.txt", "--threads", "7"}
                               << QByteArray("http://127.0.0.1:9/a.pdf\n");
    QTest::newRow("an unreadable file") << QStringList{"--download", "missing.txt"} << QByteArray();
    QTest::newRow("a folder as FILE") << QStringList{"--download", "."} << QByteArray();
    QTest::newRow("an empty file") << QStringList{"--download", "list.txt"} << QByteArray("");
    QTest::newRow("no link in the file")
        << QStringList{"--download", "list.txt"} << QByteArray("# none\n\nnot a link\n");
    QTest::newRow("a file as the folder")
        << QStringList{"--download", "list.txt", "--folder", "list.txt"}
        << QByteArray("http://127.0.0.1:9/a.pdf\n");
    QTest::newRow("nothing to resume") << QStringList{"--resume"} << QByteArray();
}

void TerminalTest::badInputEndsWithTwoAndWritesNothing() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, fileText);
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    QFile list(dir.filePath("list.txt"));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write(fileText);
    list.close();
    const Run run = finish(startProgram(home, arguments, this, dir.path()));
    QCOMPARE(run.code, TerminalExit::BadInput);
    QVERIFY2(run.err.startsWith("quillfetch："), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QCOMPARE(madeUnder(home), QStringList());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"home", "list.txt"}));
}

void TerminalTest::aRunEndsAsItsRowsEnded_data() {
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("message");
    QTest::newRow("a 404 fails its row")
        << QStringList{"/c/a.pdf", "/c/gone.pdf"} << 2 << TerminalExit::Failed
        << QStringList{"失败\tgone.pdf", "已完成\ta.pdf"} << "404";
    // The site is the host: the check ends every row of it.
    QTest::newRow("a bot check ends its site's rows, saying where to pass it")
        << QStringList{"/x/d.pdf", "/c/a.pdf", "/x/e.pdf"} << 1 << TerminalExit::Failed
        << QStringList{"失败\td.pdf", "失败\te.pdf", "失败\ta.pdf"} << "桌面程序";
    QTest::newRow("a site held after five errors ends the run")
        << QStringList{"/h/1.pdf", "/h/2.pdf", "/h/3.pdf", "/h/4.pdf", "/h/5.pdf", "/h/6.pdf"} << 2
        << TerminalExit::Failed << QStringList{"失败\t1.pdf", "失败\t2.pdf", "失败\t3.pdf",
                                               "失败\t4.pdf", "失败\t5.pdf", "未完成\t6.pdf"}
        << "连续出错";
    QTest::newRow("every row completes over the single connection")
        << QStringList{"/c/a.pdf", "/c/b.pdf"} << 1 << TerminalExit::Completed
        << QStringList{"已完成\ta.pdf", "已完成\tb.pdf"} << "完成 2 项";
    QTest::newRow("every row completes over three slots")
        << QStringList{"/c/a.pdf", "/c/b.pdf", "/c/c.pdf"} << 2 << TerminalExit::Completed
        << QStringList{"已完成\ta.pdf", "已完成\tb.pdf", "已完成\tc.pdf"} << "完成 3 项";
}

void TerminalTest::aRunEndsAsItsRowsEnded() {
    QFETCH(QStringList, paths);
    QFETCH(int, mode);
    QFETCH(int, code);
    QFETCH(QStringList, lines);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    storeLoginCookie(home);
    // Only the stored login gets the files.
    TestHttpServer server;
    for (const char* name : {"a", "b", "c", "d", "e"}) {
        const QString file = QStringLiteral("/%1.pdf").arg(name);
        server.serveGenerated("/c" + file, 20000, "application/pdf",
                              Response::Framing::ContentLength, "%PDF-1.4\n");
        server.serveGenerated("/x" + file, 20000, "application/pdf",
                              Response::Framing::ContentLength, "%PDF-1.4\n");
    }
    server.route("/c/gone.pdf", Response::statusPage(404));
    for (int n = 1; n <= 6; ++n)
        server.route(QStringLiteral("/h/%1.pdf").arg(n), Response::statusPage(500));
    server.requireCookie("/c/", "login", "yes");
    server.challengePlainClients("/x/");
    QFile list(dir.filePath("refs.txt"));
    QVERIFY(list.open(QIODevice::WriteOnly));
    for (const QString& path : paths)
        list.write(server.url(path).toUtf8() + '\n');
    list.close();

    const Run run =
        finish(startProgram(home,
                            {"--download", list.fileName(), "--folder", dir.filePath("papers"),
                             "--mode", QString::number(mode), "--threads", "3"},
                            this));
    QVERIFY2(run.code == code, qPrintable(run.out + run.err));
    lines.sort();
    QCOMPARE(rowLines(run.out), lines);
    QVERIFY2((run.out + run.err).contains(message), qPrintable(run.out + run.err));
    for (const QString& line : lines) {
        if (line.startsWith("已完成"))
            QCOMPARE(QFileInfo(dir.filePath("papers/" + line.section('\t', 1))).size(), 20000);
    }
    // Every request went as the browser's would: its User-Agent.
    const QByteArray agent = QWebEngineProfile().httpUserAgent().toUtf8();
    for (const TestHttpServer::Request& request : server.requests())
        QCOMPARE(request.header("User-Agent"), agent);
}

void TerminalTest::anInterruptedRunResumes() {
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    TestHttpServer server;
    server.setFallback([](const TestHttpServer::Request& request) {
        Response whole = Response::generatedBody(kBigFile, "application/pdf", "%PDF-1.4\n");
        whole.header("ETag", "\"big\"");
        if (!request.hasHeader("Range"))
            whole.stallUntilReleased(kBigFile / 2, "half");
        return Response::ranged(request, whole);
    });
    QFile list(dir.filePath("refs.txt"));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write(server.url("/big.pdf").toUtf8() + '\n');
    list.close();
    const QString folder = dir.filePath("papers");

    QProcess* first = startProgram(home, {"--download", list.fileName(), "--folder", folder}, this);
    QVERIFY(server.waitForStall("half"));
    // Interrupted only once some of the body is on disk: a loaded machine may not have read
    // any of what the server sent yet, and then there is nothing to resume from.
    const auto partBytes = [&folder] {
        qint64 bytes = 0;
        for (const QFileInfo& part :
             QDir(folder).entryInfoList({".quillfetch-*"}, QDir::Files | QDir::Hidden))
            bytes += part.size();
        return bytes;
    };
    QTRY_VERIFY_WITH_TIMEOUT(partBytes() > 0, 30000);
    ::kill(first->processId(), SIGINT);
    const Run stopped = finish(first);
    QVERIFY2(stopped.code == 130, qPrintable(stopped.out + stopped.err));
    QVERIFY2(stopped.out.startsWith("失败\tbig.pdf"), qPrintable(stopped.out));
    server.release("half");

    const Run resumed = finish(startProgram(home, {"--resume"}, this));
    QVERIFY2(resumed.code == TerminalExit::Completed, qPrintable(resumed.out + resumed.err));
    QCOMPARE(rowLines(resumed.out), QStringList{"已完成\tbig.pdf"});
    QCOMPARE(QFileInfo(folder + "/big.pdf").size(), kBigFile);
    // The half already on disk was kept: the second run asked only for the rest.
    QVERIFY(server.lastRequest().hasHeader("Range"));
}

QF_TEST_MAIN(TerminalTest)
#include "test_terminal.moc"

#include "SessionFixture.h"
#include "TestEnvironment.h"

#include "core/app/FileHelpers.h"
#include "core/download/ListCommands.h"
#include "core/download/Scheduler.h"
#include "core/transfer/Downloader.h"
#include "core/transfer/Inet.h"

#include <QDir>
#include <QProcess>
#include <QTcpServer>

#include <atomic>
#include <functional>
#include <memory>

using Response = TestHttpServer::Response;

namespace {

QByteArray generated(qint64 size) {
    TestHttpServer::GeneratedBody body;
    body.size = size;
    return body.bytes(0, size);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The single-connection transfer of the download session, from a row handed to it by the
// scheduler to the file on disk, against a real server on 127.0.0.1.
class SingleTransferTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void aBodyWithALengthShowsItsProgressWhileItArrives_data();
    void aBodyWithALengthShowsItsProgressWhileItArrives();
    void aBodyWithoutALengthIsFetchedAgainWhole_data();
    void aBodyWithoutALengthIsFetchedAgainWhole();
    void anEmptyBodyWithoutALengthFailsAndWritesNothing();
    void aBodyCutShortFailsAtOnceAndLeavesNoFile();
    void aStallOfMoreThan120SecondsFails();
    void theHeaderWaitGivesUpAfter30Seconds();
    void whatDoesAWebPageBecome_data();
    void whatDoesAWebPageBecome();
    void aWebPageStartsTheAutomaticLogin_data();
    void aWebPageStartsTheAutomaticLogin();
    void anUnknownContentTypeKeepsTheRowsType();
    void aRefusedConnectionFailsTheRow();
    void anExistingTargetIsReplacedOrRenamed_data();
    void anExistingTargetIsReplacedOrRenamed();
    void aTargetThatCannotBeDeletedIsNotReplaced();
    void stopDuringTheTransferCancelsIt_data();
    void stopDuringTheTransferCancelsIt();
    void theProxySettingDecidesTheRoute_data();
    void theProxySettingDecidesTheRoute();
    void whichRefererIsSent_data();
    void whichRefererIsSent();
    void aBusyTransferPutsTheRowBackToWaiting();
    void theSchedulerTurnsWaitingRowsIntoFilesOneAtATime();
    void theStatusBarAndTheGapClockFollowTheTransfer();
    void doesTheStatusBarSayOneVerdictPerRow_data();
    void doesTheStatusBarSayOneVerdictPerRow();
    void aRowRemovedMidTransferEndsItQuietly();
    void aKilledTransferLeavesNothingThatCountsAsDownloaded();

private:
    // A row as the scheduler hands it over: state 2, progress columns cleared.
    int addRow(const QString& path, const QString& name = QStringLiteral("paper"),
               const QString& type = QStringLiteral("pdf"), const QString& page = {});
    QString folder() const { return f_->folder(); }
    QStringList filesInFolder() const { return QDir(folder()).entryList(QDir::Files); }
    QString cell(int position, int column) const { return f_->cell(position, column); }
    int state(int position) const { return session().ListItems3->SmallIcon(position); }
    void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    DownloadSession& session() const { return *f_->session; }

    std::unique_ptr<SessionFixture> f_;
};

void SingleTransferTest::init() {
    f_ = std::make_unique<SessionFixture>();
    Program().DownloadMode = 1;
}

void SingleTransferTest::cleanup() {
    settle();
    const int pending = f_->services.prompt.pendingAnswers();
    f_.reset();
    QCOMPARE(pending, 0);
}

int SingleTransferTest::addRow(const QString& path, const QString& name, const QString& type,
                               const QString& page) {
    KeyedListModel* list = session().ListItems3;
    const int position = f_->addRow(path, name, type, page);
    list->SetSmallIcon(position, ItemState::Downloading);
    return position;
}

void SingleTransferTest::aBodyWithALengthShowsItsProgressWhileItArrives_data() {
    QTest::addColumn<qint64>("pauseAt");
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("percent");
    QTest::newRow("does it start at 0 with the size shown?") << qint64(0) << "0"
                                                             << "";
    QTest::newRow("is it 16% after the first chunk?") << qint64(2048) << "2048"
                                                      << "16%";
    QTest::newRow("does 3000 bytes need a second, shorter chunk?") << qint64(3000) << "3000"
                                                                   << "24%";
    QTest::newRow("is one byte short still 99%?") << qint64(12344) << "12344"
                                                  << "99%";
}

void SingleTransferTest::aBodyWithALengthShowsItsProgressWhileItArrives() {
    QFETCH(qint64, pauseAt);
    QFETCH(QString, received);
    QFETCH(QString, percent);
    f_->server.route(
        "/a.pdf",
        Response::generatedBody(12345, "application/pdf").stallUntilReleased(pauseAt, "gate"));
    const int row = addRow("/a.pdf");
    QStringList seen;
    WhenReady(
        this,
        [&] {
            return f_->server.waitingAt("gate") == 1 &&
                   cell(row, DownloadColumn::Received) == received;
        },
        [&] {
            seen << cell(row, DownloadColumn::Size) << cell(row, DownloadColumn::Received)
                 << cell(row, DownloadColumn::Percent);
            f_->server.release("gate");
        });
    session().Inet下载当前文件(row);

    QCOMPARE(seen, (QStringList{"12345", received, percent}));
    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("12345"));
    QCOMPARE(cell(row, DownloadColumn::Received), QStringLiteral("12345"));
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("100%"));
    QCOMPARE(cell(row, DownloadColumn::Type), QStringLiteral("pdf"));
    QCOMPARE(readAll(folder() + "paper.pdf"), generated(12345));
    QCOMPARE(filesInFolder(), QStringList{"paper.pdf"});
    QVERIFY(!session().DownloadBusy);
    QVERIFY(!session().Inet1->StillExecuting());
    QCOMPARE(f_->server.requestCount(), 1);
}

void SingleTransferTest::aBodyWithoutALengthIsFetchedAgainWhole_data() {
    QTest::addColumn<Response::Framing>("framing");
    QTest::newRow("ended by the server's close") << Response::Framing::CloseDelimited;
    QTest::newRow("chunked") << Response::Framing::Chunked;
}

void SingleTransferTest::aBodyWithoutALengthIsFetchedAgainWhole() {
    QFETCH(Response::Framing, framing);
    const qint64 size = 70000;
    // The second fetch, the one without a Referer, pauses part way, so the size column can
    // be seen meanwhile. (Qt may send a request again when a server ends a body by closing;
    // the Referer tells the two fetches apart.)
    std::atomic<bool> paused{false};
    f_->server.route("/a", [&, framing](const TestHttpServer::Request& request) {
        Response response = Response::generatedBody(size, "application/pdf").withFraming(framing);
        if (!request.hasHeader("Referer") && !paused.exchange(true))
            response.stallUntilReleased(1000, "gate");
        return response;
    });
    const int row = addRow("/a", "paper", "", "http://127.0.0.1/toc/1");
    QString sizeMeanwhile;
    WhenReady(
        this, [&] { return f_->server.waitingAt("gate") == 1; },
        [&] {
            sizeMeanwhile = cell(row, DownloadColumn::Size);
            f_->server.release("gate");
        });
    session().Inet下载当前文件(row);

    QCOMPARE(sizeMeanwhile, QStringLiteral("未知"));
    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(cell(row, DownloadColumn::Size), QString::number(size));
    QCOMPARE(cell(row, DownloadColumn::Received), QString::number(size));
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("100%"));
    QCOMPARE(readAll(folder() + "paper.pdf"), generated(size));
    QCOMPARE(filesInFolder(), QStringList{"paper.pdf"}); // no temporary file left behind
    const QList<TestHttpServer::Request> requests = f_->server.requests();
    QVERIFY(requests.size() >= 2);
    QCOMPARE(requests.first().header("Referer"), QByteArray("http://127.0.0.1/toc/1"));
    QVERIFY(!requests.last().hasHeader("Referer"));
}

void SingleTransferTest::anEmptyBodyWithoutALengthFailsAndWritesNothing() {
    f_->server.serve("/empty", QByteArray(), "application/pdf", Response::Framing::CloseDelimited);
    const int row = addRow("/empty");
    session().Inet下载当前文件(row);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("0"));
    QCOMPARE(cell(row, DownloadColumn::Received), QStringLiteral("0"));
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("100%"));
    QCOMPARE(filesInFolder(), QStringList());
}

void SingleTransferTest::aBodyCutShortFailsAtOnceAndLeavesNoFile() {
    f_->server.route("/short.pdf",
                     Response::generatedBody(12345, "application/pdf").closeAfterBytes(5000));
    const int row = addRow("/short.pdf");
    // The clock never moves: the end of the response, not the stall time, fails the row.
    session().Inet下载当前文件(row);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("下载失败"));
    QCOMPARE(cell(row, DownloadColumn::Received), QStringLiteral("5000"));
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("40%"));
    QCOMPARE(filesInFolder(), QStringList());
}

void SingleTransferTest::aStallOfMoreThan120SecondsFails() {
    f_->server.route(
        "/a.pdf",
        Response::generatedBody(12345, "application/pdf").stallUntilReleased(4096, "gate"));
    const int row = addRow("/a.pdf");
    FakeClock& clock = f_->services.clock;
    bool runningAt120 = false;
    WhenReady(
        this,
        [&] {
            return f_->server.waitingAt("gate") == 1 &&
                   cell(row, DownloadColumn::Received) == QStringLiteral("4096");
        },
        [&] {
            clock.advance(120.0);
            // Exactly 120 seconds is not yet a stall.
            WhenReady(
                this, [] { return true; },
                [&] {
                    runningAt120 =
                        state(row) == ItemState::Downloading && session().Inet1->StillExecuting();
                    clock.advance(0.5);
                });
        });
    session().Inet下载当前文件(row);
    f_->server.release("gate");

    QVERIFY(runningAt120);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("下载失败"));
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("33%"));
    QCOMPARE(filesInFolder(), QStringList());
    QVERIFY(!session().Inet1->StillExecuting());
}

void SingleTransferTest::theHeaderWaitGivesUpAfter30Seconds() {
    f_->server.route("/late.pdf", Response::bytes("%PDF", "application/pdf").delayHeaders(60000));
    const int row = addRow("/late.pdf");
    FakeClock& clock = f_->services.clock;
    bool waitingAt30 = false;
    WhenReady(
        this, [&] { return f_->server.requestCount() == 1; },
        [&] {
            clock.advance(30.0);
            WhenReady(
                this, [] { return true; },
                [&] {
                    waitingAt30 =
                        state(row) == ItemState::Downloading && session().Inet1->StillExecuting();
                    clock.advance(0.5);
                });
        });
    session().Inet下载当前文件(row);

    QVERIFY(waitingAt30);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QString());
    QCOMPARE(cell(row, DownloadColumn::Percent), QString());
    QCOMPARE(filesInFolder(), QStringList());
    QVERIFY(!session().Inet1->StillExecuting());
}

void SingleTransferTest::whatDoesAWebPageBecome_data() {
    QTest::addColumn<int>("status");
    QTest::newRow("a login page instead of the PDF") << 200;
    QTest::newRow("a 404 with a body") << 404;
}

void SingleTransferTest::whatDoesAWebPageBecome() {
    QFETCH(int, status);
    const QString page = QStringLiteral("<html><body>请登录 / please log in</body></html>");
    Response response = Response::html(page);
    response.status = status;
    f_->server.route("/doi/pdf/1", response);
    const int row = addRow("/doi/pdf/1");
    session().Options().sound = true; // 声音提示
    session().Inet下载当前文件(row);

    // The page is kept on the free name (html from the Content-Type, which the type check of
    // the file may make htm); the re-download of web pages deals with it. An error answer
    // fails the row all the same, with its status.
    QCOMPARE(state(row), status >= 400 ? ItemState::Failed : ItemState::Completed);
    QCOMPARE(RowFailureReason(*session().ListItems3, row).contains(QString::number(status)),
             status >= 400);
    const QString type = cell(row, DownloadColumn::Type);
    QVERIFY2(type == QStringLiteral("html") || type == QStringLiteral("htm"), qPrintable(type));
    QCOMPARE(readAll(folder() + "paper." + type), page.toUtf8());
    QCOMPARE(filesInFolder(), QStringList{"paper." + type});
    QStringList sounds{ProgramFolder() + "101.wav"};
    if (status >= 400)
        sounds << ProgramFolder() + "103.wav";
    QCOMPARE(f_->sound.played, sounds);
    // Kept for the automatic re-download, which never asks again after a 404.
    QCOMPARE(RowHttpStatus(*session().ListItems3, row), status);
}

void SingleTransferTest::aWebPageStartsTheAutomaticLogin_data() {
    QTest::addColumn<bool>("page");
    QTest::newRow("a web page logs in again") << true;
    QTest::newRow("the file itself does not") << false;
}

void SingleTransferTest::aWebPageStartsTheAutomaticLogin() {
    QFETCH(bool, page);
    if (page)
        f_->server.serveHtml("/a.pdf", "<html>please log in</html>");
    else
        f_->server.serve("/a.pdf", "%PDF-1.4 a", "application/pdf");
    const int row = addRow("/a.pdf");
    // 自动登录 is on; the login counts how often it is asked for.
    struct CountingLogin : SessionLogin {
        bool AutomaticLoginOn() const override { return true; }
        QString LoginAddress() const override { return {}; }
        void LogInAgain() override { ++logins; }
        int logins = 0;
    } login;
    session().SetLogin(&login);
    session().Inet下载当前文件(row);
    session().SetLogin(nullptr);
    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(login.logins, page ? 1 : 0);
    QVERIFY(f_->services.prompt.shown().isEmpty());
}

void SingleTransferTest::anUnknownContentTypeKeepsTheRowsType() {
    f_->server.serve("/a", "word", "application/msword");
    f_->server.serve("/b", "bytes", "application/octet-stream");
    // A launcher's name, which the desktop would run on a double-click.
    f_->server.serve("/c", "[Desktop Entry]", "desktop");
    const int first = addRow("/a", "first");
    const int second = addRow("/b", "second", "caj");
    const int third = addRow("/c", "third");
    session().Inet下载当前文件(first);
    session().Inet下载当前文件(second);
    session().Inet下载当前文件(third);
    QCOMPARE(cell(first, DownloadColumn::Type), QStringLiteral("pdf"));
    QCOMPARE(cell(second, DownloadColumn::Type), QStringLiteral("caj"));
    QCOMPARE(cell(third, DownloadColumn::Type), QStringLiteral("pdf"));
    QCOMPARE(filesInFolder(), (QStringList{"first.pdf", "second.caj", "third.pdf"}));
}

void SingleTransferTest::aRefusedConnectionFailsTheRow() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const QString link = QStringLiteral("http://127.0.0.1:%1/a.pdf").arg(probe.serverPort());
    probe.close();
    const int row = addRow(link);
    session().Inet下载当前文件(row);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QString());
    QVERIFY2(session().PanelText(3).startsWith(QStringLiteral("11 与主机通讯时出现了错误:")),
             qPrintable(session().PanelText(3)));
    QCOMPARE(filesInFolder(), QStringList());
}

void SingleTransferTest::anExistingTargetIsReplacedOrRenamed_data() {
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("name");
    QTest::newRow("覆盖 replaces the file") << true << "paper";
    QTest::newRow("重命名 picks the next free name") << false << "paper[001]";
}

void SingleTransferTest::anExistingTargetIsReplacedOrRenamed() {
    QFETCH(bool, overwrite);
    QFETCH(QString, name);
    QDir().mkpath(folder());
    {
        QFile old(folder() + "paper.pdf");
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents");
    }
    session().Options().sameName = overwrite ? SameNameChoice::Overwrite : SameNameChoice::Rename;
    f_->server.serve("/a.pdf", "%PDF-new", "application/pdf");
    const int row = addRow("/a.pdf");
    session().Inet下载当前文件(row);

    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(session().ListItems3->Text(row), name);
    QCOMPARE(readAll(folder() + name + ".pdf"), QByteArray("%PDF-new"));
    if (!overwrite)
        QCOMPARE(readAll(folder() + "paper.pdf"), QByteArray("old contents"));
}

void SingleTransferTest::aTargetThatCannotBeDeletedIsNotReplaced() {
    // Not even root may delete a file of /proc: the one place such a file is sure to exist.
    const QString target = QStringLiteral("/proc/version");
    QVERIFY(QFileInfo(target).isFile());
    session().Options().sameName = SameNameChoice::Overwrite;
    f_->server.serve("/a", "bytes", "application/octet-stream");
    const QString link = f_->server.url("/a");
    session().AddDownloadItem(link, "version", "", "/proc/", "");
    const int row = session().ListItems3->PositionOfKey(link);
    session().ListItems3->SetSmallIcon(row, ItemState::Downloading);
    session().Inet下载当前文件(row);

    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("无法替换"));
    const QString length = QString::number(QFileInfo(target).size());
    QCOMPARE(cell(row, DownloadColumn::Size), length);
    QCOMPARE(cell(row, DownloadColumn::Received), length);
    QVERIFY(QFileInfo(target).isFile());
    QVERIFY(!session().Inet1->StillExecuting());
}

void SingleTransferTest::stopDuringTheTransferCancelsIt_data() {
    QTest::addColumn<bool>("announced");
    QTest::newRow("during the copy of a body of known length") << true;
    QTest::newRow("during the whole-body fetch") << false;
}

void SingleTransferTest::stopDuringTheTransferCancelsIt() {
    QFETCH(bool, announced);
    // Without a length the first answer leads to a second fetch, the one without a Referer,
    // and that one pauses.
    f_->server.route("/a.pdf", [announced](const TestHttpServer::Request& request) {
        Response response = Response::generatedBody(12345, "application/pdf");
        if (!announced)
            response.withFraming(Response::Framing::Chunked);
        if (announced || !request.hasHeader("Referer"))
            response.stallUntilReleased(6144, "gate");
        return response;
    });
    const int row = addRow("/a.pdf");
    bool partialExisted = false;
    WhenReady(
        this,
        [&] {
            return f_->server.waitingAt("gate") == 1 &&
                   (!announced || cell(row, DownloadColumn::Received) == QStringLiteral("6144"));
        },
        [&] {
            partialExisted = !QDir(folder()).entryList(QDir::Files).isEmpty();
            session().Command31_Click(); // 停止下载
        });
    session().Inet下载当前文件(row);
    f_->server.release("gate");

    // The whole body goes to a temporary file the file system may not even name.
    QVERIFY(partialExisted || !announced);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("下载取消"));
    QCOMPARE(cell(row, DownloadColumn::Percent), announced ? QStringLiteral("49%") : QString());
    QCOMPARE(filesInFolder(), QStringList());
    QVERIFY(!session().Inet1->StillExecuting());
    QVERIFY(!session().DownloadBusy);
}

void SingleTransferTest::theProxySettingDecidesTheRoute_data() {
    QTest::addColumn<bool>("proxyOn");
    QTest::newRow("through the proxy when it is on") << true;
    QTest::newRow("directly when it is off") << false;
}

void SingleTransferTest::theProxySettingDecidesTheRoute() {
    QFETCH(bool, proxyOn);
    TestHttpServer proxy;
    f_->server.serve("/a.pdf", "%PDF-routed", "application/pdf");
    Program().ProxyEnabled = proxyOn;
    Program().ProxyAddress = QStringLiteral("127.0.0.1");
    Program().ProxyPort = QString::number(proxy.port());
    const int row = addRow("/a.pdf");
    session().Inet下载当前文件(row);

    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(readAll(folder() + "paper.pdf"), QByteArray("%PDF-routed"));
    QCOMPARE(proxy.requestCount(), proxyOn ? 1 : 0);
    if (proxyOn) {
        QVERIFY(proxy.lastRequest().viaProxy);
        QCOMPARE(proxy.lastRequest().target, f_->server.url("/a.pdf").toLatin1());
    }
    QCOMPARE(f_->server.requestCount(), 1);
    QCOMPARE(session().Inet1->Proxy(),
             proxyOn ? QStringLiteral("127.0.0.1:%1").arg(proxy.port()) : QString());
}

void SingleTransferTest::whichRefererIsSent_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("sent"); // "" for the site of the link
    QTest::newRow("the page the link was found on") << "http://127.0.0.1/toc/1?x=1"
                                                    << "http://127.0.0.1/toc/1?x=1";
    QTest::newRow("the site of the link when no page is known") << ""
                                                                << "";
    QTest::newRow("a line break in the page starts no header of its own")
        << "http://127.0.0.1/toc/1\r\nCookie: stolen=1"
        << "http://127.0.0.1/toc/1Cookie: stolen=1";
}

void SingleTransferTest::whichRefererIsSent() {
    QFETCH(QString, page);
    QFETCH(QString, sent);
    f_->server.serve("/doi/pdf/1", "%PDF", "application/pdf");
    const int row = addRow("/doi/pdf/1", "paper", "pdf", page);
    session().Inet下载当前文件(row);
    QCOMPARE(f_->server.lastRequest().header("Referer"),
             (sent.isEmpty() ? f_->server.baseUrl() : sent).toUtf8());
    QVERIFY(!f_->server.lastRequest().hasHeader("Cookie"));
}

void SingleTransferTest::aBusyTransferPutsTheRowBackToWaiting() {
    f_->server.serve("/a.pdf", "%PDF", "application/pdf");
    const int row = addRow("/a.pdf");
    session().DownloadBusy = true;
    session().Inet下载当前文件(row);
    QCOMPARE(state(row), ItemState::Waiting);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("等待重新下载"));
    QVERIFY(session().DownloadBusy); // still the running transfer's
    QCOMPARE(f_->server.requestCount(), 0);
}

void SingleTransferTest::theSchedulerTurnsWaitingRowsIntoFilesOneAtATime() {
    f_->server.serve("/a.pdf", "%PDF-a", "application/pdf");
    f_->server.serveHtml("/b.pdf", "<html>please log in</html>");
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const QString refused = QStringLiteral("http://127.0.0.1:%1/c.pdf").arg(probe.serverPort());
    probe.close();
    session().AddDownloadItem(f_->server.url("/a.pdf"), "first", "pdf", folder(), "");
    session().AddDownloadItem(f_->server.url("/b.pdf"), "second", "pdf", folder(), "");
    session().AddDownloadItem(refused, "third", "pdf", folder(), "");
    session().Options().sound = true; // 声音提示
    session().Command4_Click();
    for (int tick = 1; tick <= 3; ++tick) {
        f_->services.clock.advance(1.5); // past the gap of 0 seconds
        session().Timer_Down_Timer();
        QCOMPARE(state(tick) == ItemState::Waiting, false);
        for (int later = tick + 1; later <= 3; ++later)
            QCOMPARE(state(later), ItemState::Waiting);
    }

    QCOMPARE(state(1), ItemState::Completed);
    QCOMPARE(state(2), ItemState::Completed);
    QCOMPARE(cell(2, DownloadColumn::Type), QStringLiteral("html"));
    QCOMPARE(state(3), ItemState::Failed);
    QCOMPARE(readAll(folder() + "first.pdf"), QByteArray("%PDF-a"));
    QCOMPARE(filesInFolder(), (QStringList{"first.pdf", "second.html"}));
    // The page is sound 101, the failure 103.
    QCOMPARE(f_->sound.played,
             (QStringList{ProgramFolder() + "101.wav", ProgramFolder() + "103.wav"}));
    QVERIFY(!session().DownloadBusy);
}

void SingleTransferTest::theStatusBarAndTheGapClockFollowTheTransfer() {
    f_->server.serve("/a.pdf", "%PDF", "application/pdf");
    f_->services.clock.advance(500.0);
    const int row = addRow("/a.pdf", "论文 一");
    QStringList states;
    connect(session().Inet1, &Inet::StateChanged, this, [&] { states << session().PanelText(3); });
    session().Inet下载当前文件(row);

    QCOMPARE(session().PanelText(2), QStringLiteral("完成下载:论文 一"));
    QCOMPARE(session().LastFileTime, f_->services.clock.elapsedSeconds());
    QCOMPARE(states.first(), QStringLiteral("1 正在查询所指定的主机的 IP 地址..."));
    QVERIFY(states.contains(QStringLiteral("7 正在接收主机的响应...")));
    QVERIFY(QFile::exists(folder() + "论文 一.pdf"));
}

void SingleTransferTest::doesTheStatusBarSayOneVerdictPerRow_data() {
    QTest::addColumn<QString>("ending");
    QTest::addColumn<bool>("panel1Names"); // where failures and pages are said
    QTest::addColumn<bool>("panel2Names"); // where a completed file is said
    QTest::newRow("a body cut short: failed, never also completed?") << "cut" << true << false;
    QTest::newRow("a login page instead of the file: never completed?") << "page" << true << false;
    QTest::newRow("a 429, then the file on the retry: does the failure go?")
        << "retry" << false << true;
    QTest::newRow("a file whose row is then cleared away: is nothing left of it?")
        << "cleared" << false << false;
}

void SingleTransferTest::doesTheStatusBarSayOneVerdictPerRow() {
    QFETCH(QString, ending);
    QFETCH(bool, panel1Names);
    QFETCH(bool, panel2Names);
    Response busy = Response::html("<html><body>Too many requests</body></html>");
    busy.status = 429;
    const Response file = Response::bytes("%PDF-1.7 whole", "application/pdf");
    if (ending == "cut")
        f_->server.route("/v.pdf",
                         Response::generatedBody(12345, "application/pdf").closeAfterBytes(5000));
    else if (ending == "page")
        f_->server.route("/v.pdf", Response::html("<html><body>请登录</body></html>"));
    else
        f_->server.route("/v.pdf", ending == "retry" ? busy : file);
    const int row = addRow("/v.pdf", "论文 甲");
    session().Inet下载当前文件(row);
    if (ending == "retry") {
        f_->server.route("/v.pdf", file);
        RequeueFailedRows(*session().ListItems3); // 重新下载出错项
        session().ListItems3->SetSmallIcon(row, ItemState::Downloading);
        session().Inet下载当前文件(row);
        QCOMPARE(state(row), ItemState::Completed);
    }
    if (ending == "cleared")
        RemoveCompletedRows(*session().ListItems3); // 清除完成项
    // A row's changes reach the panels at the next turn of the event loop.
    QTRY_COMPARE(session().PanelText(1).contains("论文 甲"), panel1Names);
    QTRY_COMPARE(session().PanelText(2).contains("论文 甲"), panel2Names);
}

void SingleTransferTest::aRowRemovedMidTransferEndsItQuietly() {
    f_->server.route(
        "/a.pdf",
        Response::generatedBody(12345, "application/pdf").stallUntilReleased(4096, "gate"));
    f_->server.serve("/b.pdf", "%PDF-b", "application/pdf");
    const int row = addRow("/a.pdf");
    const int other = addRow("/b.pdf", "other");
    session().ListItems3->SetSmallIcon(other, ItemState::Waiting);
    WhenReady(
        this, [&] { return f_->server.waitingAt("gate") == 1; },
        [&] { session().ListItems3->Remove(row); });
    session().Inet下载当前文件(row);
    f_->server.release("gate");

    QCOMPARE(session().ListItems3->Count(), 1);
    QCOMPARE(session().ListItems3->SubItem(1, DownloadColumn::Size), QString());
    QCOMPARE(session().ListItems3->SmallIcon(1), ItemState::Waiting);
    QCOMPARE(filesInFolder(), QStringList());
    QVERIFY(!session().Inet1->StillExecuting());
}

void SingleTransferTest::aKilledTransferLeavesNothingThatCountsAsDownloaded() {
    // The killed run's answer stops halfway; the next run's comes whole.
    std::atomic<int> asked{0};
    f_->server.route("/a.pdf", [&](const TestHttpServer::Request&) {
        Response response = Response::generatedBody(300000, "application/pdf");
        if (asked++ == 0)
            response.stallUntilReleased(100000, "gate");
        return response;
    });
    QDir().mkpath(folder());
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {"--killed-mid-transfer", f_->server.url("/a.pdf"), folder() + "paper.pdf"});
    QVERIFY(child.waitForStarted(10000));
    const auto leftovers = [this] {
        return QDir(folder()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    };
    QTRY_VERIFY_WITH_TIMEOUT(f_->server.waitingAt("gate") == 1 && leftovers().size() == 2, 30000);
    child.kill();
    QVERIFY(child.waitForFinished(10000));
    f_->server.release("gate");
    // The reservation under the article's name and the body beside it stay behind.
    QCOMPARE(readAll(folder() + "paper.pdf"), QByteArray("\x01\x00", 2));

    // The same record in the next run, under 跳过: the leftover is no file of the user's.
    session().Options().sameName = SameNameChoice::Skip;
    const int row = addRow("/a.pdf");
    QVERIFY(session().确定是需要下载(row));
    session().Inet下载当前文件(row);
    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(readAll(folder() + "paper.pdf"), generated(300000));
    QCOMPARE(leftovers(), QStringList{"paper.pdf"});
}

// --- the child run of the killed transfer ---

namespace {

// Fetches argv[2] into argv[3] with a parallel transfer and runs until it is killed.
int killedMidTransferChild(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Downloader downloader;
    downloader.BeginDownload(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                             QString());
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 3 && qstrcmp(argv[1], "--killed-mid-transfer") == 0)
        return killedMidTransferChild(argc, argv);
    PrepareTestEnvironment();
    QCoreApplication app(argc, argv);
    SingleTransferTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_session_single.moc"

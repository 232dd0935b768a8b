#include "RecordingSound.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/download/DownloadList.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/Downloader.h"
#include "core/transfer/Inet.h"
#include "ui/app/Application.h"
#include "ui/app/Forms.h"
#include "ui/app/fCover.h"
#include "ui/download/fFileDownload.h"
#include "ui/platform/WebBrowser.h"
#include "ui/search/fWebSearch.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QNetworkCookie>
#include <QProcess>
#include <QRadioButton>
#include <QTcpServer>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include <atomic>
#include <cstdio>
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

// Runs `action` once, from inside the transfer's waits, as soon as `ready` holds.
void whenReady(QObject* owner, std::function<bool()> ready, std::function<void()> action) {
    auto* timer = new QTimer(owner);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, owner, [timer, ready, action] {
        if (!ready())
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

} // namespace

// The single-connection transfer of the download window, from a row handed to it by the
// scheduler to the file on disk, against a real server on 127.0.0.1.
class SingleTransferTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
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
    void closingTheWindowMidTransferDeletesThePartialFile();
    void quittingMidTransferKeepsTheBrowserCookiesAndNoPartialFile();
    void quittingWhileAPageLoadsEndsThePagingRun();
    void aKilledTransferLeavesNothingThatCountsAsDownloaded();

private:
    // Runs this executable in one of its child modes, with HOME and the XDG folders inside
    // `home`; the exit code, or -1 when it did not end in time.
    static int runChild(const QString& home, const QStringList& arguments, QByteArray& output);
    // A row as the scheduler hands it over: state 2, progress columns cleared.
    int addRow(const QString& path, const QString& name = QStringLiteral("paper"),
               const QString& type = QStringLiteral("pdf"), const QString& page = {});
    QString folder() const { return services_->path(QStringLiteral("files/")); }
    QStringList filesInFolder() const { return QDir(folder()).entryList(QDir::Files); }
    QString cell(int position, int column) const {
        return window_->ListItems3->SubItem(position, column);
    }
    int state(int position) const { return window_->ListItems3->SmallIcon(position); }
    void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    std::unique_ptr<TestServices> services_;
    RecordingSound sound_;
    std::unique_ptr<TestHttpServer> server_;
    QPointer<fFileDownload> window_;
};

void SingleTransferTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
}

void SingleTransferTest::init() {
    services_ = std::make_unique<TestServices>();
    sound_.played.clear();
    Services().sound = &sound_;
    Program() = ProgramValues{};
    Program().SearchHomePage = QStringLiteral("about:blank");
    server_ = std::make_unique<TestHttpServer>();
    window_ = Forms::fFileDownload();
    QVERIFY(window_);
    Program().DownloadMode = 1;
}

void SingleTransferTest::cleanup() {
    Forms::DestroyAll();
    settle();
    server_.reset();
    QCOMPARE(services_->prompt.pendingAnswers(), 0);
    services_.reset();
}

int SingleTransferTest::addRow(const QString& path, const QString& name, const QString& type,
                               const QString& page) {
    KeyedListModel* list = window_->ListItems3;
    const QString link = path.startsWith(QLatin1String("http")) ? path : server_->url(path);
    window_->AddDownloadItem(link, name, type, folder(), page);
    const int position = list->PositionOfKey(link);
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
    server_->route(
        "/a.pdf",
        Response::generatedBody(12345, "application/pdf").stallUntilReleased(pauseAt, "gate"));
    const int row = addRow("/a.pdf");
    QStringList seen;
    whenReady(
        this,
        [&] {
            return server_->waitingAt("gate") == 1 &&
                   cell(row, DownloadColumn::Received) == received;
        },
        [&] {
            seen << cell(row, DownloadColumn::Size) << cell(row, DownloadColumn::Received)
                 << cell(row, DownloadColumn::Percent);
            server_->release("gate");
        });
    window_->Session().Inet下载当前文件(row);

    QCOMPARE(seen, (QStringList{"12345", received, percent}));
    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("12345"));
    QCOMPARE(cell(row, DownloadColumn::Received), QStringLiteral("12345"));
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("100%"));
    QCOMPARE(cell(row, DownloadColumn::Type), QStringLiteral("pdf"));
    QCOMPARE(readAll(folder() + "paper.pdf"), generated(12345));
    QCOMPARE(filesInFolder(), QStringList{"paper.pdf"});
    QVERIFY(!window_->Session().DownloadBusy);
    QVERIFY(!window_->Inet1->StillExecuting());
    QCOMPARE(server_->requestCount(), 1);
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
    server_->route("/a", [&, framing](const TestHttpServer::Request& request) {
        Response response = Response::generatedBody(size, "application/pdf").withFraming(framing);
        if (!request.hasHeader("Referer") && !paused.exchange(true))
            response.stallUntilReleased(1000, "gate");
        return response;
    });
    const int row = addRow("/a", "paper", "", "http://127.0.0.1/toc/1");
    QString sizeMeanwhile;
    whenReady(
        this, [&] { return server_->waitingAt("gate") == 1; },
        [&] {
            sizeMeanwhile = cell(row, DownloadColumn::Size);
            server_->release("gate");
        });
    window_->Session().Inet下载当前文件(row);

    QCOMPARE(sizeMeanwhile, QStringLiteral("未知"));
    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(cell(row, DownloadColumn::Size), QString::number(size));
    QCOMPARE(cell(row, DownloadColumn::Received), QString::number(size));
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("100%"));
    QCOMPARE(readAll(folder() + "paper.pdf"), generated(size));
    QCOMPARE(filesInFolder(), QStringList{"paper.pdf"}); // no temporary file left behind
    const QList<TestHttpServer::Request> requests = server_->requests();
    QVERIFY(requests.size() >= 2);
    QCOMPARE(requests.first().header("Referer"), QByteArray("http://127.0.0.1/toc/1"));
    QVERIFY(!requests.last().hasHeader("Referer"));
}

void SingleTransferTest::anEmptyBodyWithoutALengthFailsAndWritesNothing() {
    server_->serve("/empty", QByteArray(), "application/pdf", Response::Framing::CloseDelimited);
    const int row = addRow("/empty");
    window_->Session().Inet下载当前文件(row);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("0"));
    QCOMPARE(cell(row, DownloadColumn::Received), QStringLiteral("0"));
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("100%"));
    QCOMPARE(filesInFolder(), QStringList());
}

void SingleTransferTest::aBodyCutShortFailsAtOnceAndLeavesNoFile() {
    server_->route("/short.pdf",
                   Response::generatedBody(12345, "application/pdf").closeAfterBytes(5000));
    const int row = addRow("/short.pdf");
    // The clock never moves: the end of the response, not the stall time, fails the row.
    window_->Session().Inet下载当前文件(row);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("下载失败"));
    QCOMPARE(cell(row, DownloadColumn::Received), QStringLiteral("5000"));
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("40%"));
    QCOMPARE(filesInFolder(), QStringList());
}

void SingleTransferTest::aStallOfMoreThan120SecondsFails() {
    server_->route(
        "/a.pdf",
        Response::generatedBody(12345, "application/pdf").stallUntilReleased(4096, "gate"));
    const int row = addRow("/a.pdf");
    FakeClock& clock = services_->clock;
    bool runningAt120 = false;
    whenReady(
        this,
        [&] {
            return server_->waitingAt("gate") == 1 &&
                   cell(row, DownloadColumn::Received) == QStringLiteral("4096");
        },
        [&] {
            clock.advance(120.0);
            // Exactly 120 seconds is not yet a stall.
            whenReady(
                this, [] { return true; },
                [&] {
                    runningAt120 =
                        state(row) == ItemState::Downloading && window_->Inet1->StillExecuting();
                    clock.advance(0.5);
                });
        });
    window_->Session().Inet下载当前文件(row);
    server_->release("gate");

    QVERIFY(runningAt120);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("下载失败"));
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("33%"));
    QCOMPARE(filesInFolder(), QStringList());
    QVERIFY(!window_->Inet1->StillExecuting());
}

void SingleTransferTest::theHeaderWaitGivesUpAfter30Seconds() {
    server_->route("/late.pdf", Response::bytes("%PDF", "application/pdf").delayHeaders(60000));
    const int row = addRow("/late.pdf");
    FakeClock& clock = services_->clock;
    bool waitingAt30 = false;
    whenReady(
        this, [&] { return server_->requestCount() == 1; },
        [&] {
            clock.advance(30.0);
            whenReady(
                this, [] { return true; },
                [&] {
                    waitingAt30 =
                        state(row) == ItemState::Downloading && window_->Inet1->StillExecuting();
                    clock.advance(0.5);
                });
        });
    window_->Session().Inet下载当前文件(row);

    QVERIFY(waitingAt30);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QString());
    QCOMPARE(cell(row, DownloadColumn::Percent), QString());
    QCOMPARE(filesInFolder(), QStringList());
    QVERIFY(!window_->Inet1->StillExecuting());
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
    server_->route("/doi/pdf/1", response);
    const int row = addRow("/doi/pdf/1");
    window_->Check6->setChecked(true); // 声音提示
    window_->Session().Inet下载当前文件(row);

    // The page is kept on the free name (html from the Content-Type, which the type check of
    // the file may make htm); the re-download of web pages deals with it. An error answer
    // fails the row all the same, with its status.
    QCOMPARE(state(row), status >= 400 ? ItemState::Failed : ItemState::Completed);
    QCOMPARE(RowFailureReason(*window_->ListItems3, row).contains(QString::number(status)),
             status >= 400);
    const QString type = cell(row, DownloadColumn::Type);
    QVERIFY2(type == QStringLiteral("html") || type == QStringLiteral("htm"), qPrintable(type));
    QCOMPARE(readAll(folder() + "paper." + type), page.toUtf8());
    QCOMPARE(filesInFolder(), QStringList{"paper." + type});
    QStringList sounds{ProgramFolder() + "101.wav"};
    if (status >= 400)
        sounds << ProgramFolder() + "103.wav";
    QCOMPARE(sound_.played, sounds);
    // Kept for the automatic re-download, which never asks again after a 404.
    QCOMPARE(RowHttpStatus(*window_->ListItems3, row), status);
}

void SingleTransferTest::aWebPageStartsTheAutomaticLogin_data() {
    QTest::addColumn<bool>("page");
    QTest::newRow("a web page logs in again") << true;
    QTest::newRow("the file itself does not") << false;
}

void SingleTransferTest::aWebPageStartsTheAutomaticLogin() {
    QFETCH(bool, page);
    if (page)
        server_->serveHtml("/a.pdf", "<html>please log in</html>");
    else
        server_->serve("/a.pdf", "%PDF-1.4 a", "application/pdf");
    const int row = addRow("/a.pdf");
    // The login has no address to go to: an automatic login that runs turns 自动登录 off,
    // silently, until the user completes the entries. (Ticked here without the box's own
    // check of the entries.)
    {
        const QSignalBlocker quiet(window_->Check2);
        window_->Check2->setChecked(true);
    }
    window_->Session().Inet下载当前文件(row);
    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(window_->Check2->isChecked(), !page);
    QVERIFY(services_->prompt.shown().isEmpty());
}

void SingleTransferTest::anUnknownContentTypeKeepsTheRowsType() {
    server_->serve("/a", "word", "application/msword");
    server_->serve("/b", "bytes", "application/octet-stream");
    // A launcher's name, which the desktop would run on a double-click.
    server_->serve("/c", "[Desktop Entry]", "desktop");
    const int first = addRow("/a", "first");
    const int second = addRow("/b", "second", "caj");
    const int third = addRow("/c", "third");
    window_->Session().Inet下载当前文件(first);
    window_->Session().Inet下载当前文件(second);
    window_->Session().Inet下载当前文件(third);
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
    window_->Session().Inet下载当前文件(row);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QString());
    QVERIFY2(window_->StatusPanel3->text().startsWith(QStringLiteral("11 与主机通讯时出现了错误:")),
             qPrintable(window_->StatusPanel3->text()));
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
    (overwrite ? window_->Option2 : window_->Option3)->setChecked(true);
    server_->serve("/a.pdf", "%PDF-new", "application/pdf");
    const int row = addRow("/a.pdf");
    window_->Session().Inet下载当前文件(row);

    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(window_->ListItems3->Text(row), name);
    QCOMPARE(readAll(folder() + name + ".pdf"), QByteArray("%PDF-new"));
    if (!overwrite)
        QCOMPARE(readAll(folder() + "paper.pdf"), QByteArray("old contents"));
}

void SingleTransferTest::aTargetThatCannotBeDeletedIsNotReplaced() {
    // Not even root may delete a file of /proc: the one place such a file is sure to exist.
    const QString target = QStringLiteral("/proc/version");
    QVERIFY(QFileInfo(target).isFile());
    window_->Option2->setChecked(true);
    server_->serve("/a", "bytes", "application/octet-stream");
    const QString link = server_->url("/a");
    window_->AddDownloadItem(link, "version", "", "/proc/", "");
    const int row = window_->ListItems3->PositionOfKey(link);
    window_->ListItems3->SetSmallIcon(row, ItemState::Downloading);
    window_->Session().Inet下载当前文件(row);

    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Percent), QStringLiteral("无法替换"));
    const QString length = QString::number(QFileInfo(target).size());
    QCOMPARE(cell(row, DownloadColumn::Size), length);
    QCOMPARE(cell(row, DownloadColumn::Received), length);
    QVERIFY(QFileInfo(target).isFile());
    QVERIFY(!window_->Inet1->StillExecuting());
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
    server_->route("/a.pdf", [announced](const TestHttpServer::Request& request) {
        Response response = Response::generatedBody(12345, "application/pdf");
        if (!announced)
            response.withFraming(Response::Framing::Chunked);
        if (announced || !request.hasHeader("Referer"))
            response.stallUntilReleased(6144, "gate");
        return response;
    });
    const int row = addRow("/a.pdf");
    bool partialExisted = false;
    whenReady(
        this,
        [&] {
            return server_->waitingAt("gate") == 1 &&
                   (!announced || cell(row, DownloadColumn::Received) == QStringLiteral("6144"));
        },
        [&] {
            partialExisted = !QDir(folder()).entryList(QDir::Files).isEmpty();
            window_->Command31_Click(); // 停止下载
        });
    window_->Session().Inet下载当前文件(row);
    server_->release("gate");

    // The whole body goes to a temporary file the file system may not even name.
    QVERIFY(partialExisted || !announced);
    QCOMPARE(state(row), ItemState::Failed);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("下载取消"));
    QCOMPARE(cell(row, DownloadColumn::Percent), announced ? QStringLiteral("49%") : QString());
    QCOMPARE(filesInFolder(), QStringList());
    QVERIFY(!window_->Inet1->StillExecuting());
    QVERIFY(!window_->Session().DownloadBusy);
}

void SingleTransferTest::theProxySettingDecidesTheRoute_data() {
    QTest::addColumn<bool>("proxyOn");
    QTest::newRow("through the proxy when it is on") << true;
    QTest::newRow("directly when it is off") << false;
}

void SingleTransferTest::theProxySettingDecidesTheRoute() {
    QFETCH(bool, proxyOn);
    TestHttpServer proxy;
    server_->serve("/a.pdf", "%PDF-routed", "application/pdf");
    Program().ProxyEnabled = proxyOn;
    Program().ProxyAddress = QStringLiteral("127.0.0.1");
    Program().ProxyPort = QString::number(proxy.port());
    const int row = addRow("/a.pdf");
    window_->Session().Inet下载当前文件(row);

    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(readAll(folder() + "paper.pdf"), QByteArray("%PDF-routed"));
    QCOMPARE(proxy.requestCount(), proxyOn ? 1 : 0);
    if (proxyOn) {
        QVERIFY(proxy.lastRequest().viaProxy);
        QCOMPARE(proxy.lastRequest().target, server_->url("/a.pdf").toLatin1());
    }
    QCOMPARE(server_->requestCount(), 1);
    QCOMPARE(window_->Inet1->Proxy(),
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
    server_->serve("/doi/pdf/1", "%PDF", "application/pdf");
    const int row = addRow("/doi/pdf/1", "paper", "pdf", page);
    window_->Session().Inet下载当前文件(row);
    QCOMPARE(server_->lastRequest().header("Referer"),
             (sent.isEmpty() ? server_->baseUrl() : sent).toUtf8());
    QVERIFY(!server_->lastRequest().hasHeader("Cookie"));
}

void SingleTransferTest::aBusyTransferPutsTheRowBackToWaiting() {
    server_->serve("/a.pdf", "%PDF", "application/pdf");
    const int row = addRow("/a.pdf");
    window_->Session().DownloadBusy = true;
    window_->Session().Inet下载当前文件(row);
    QCOMPARE(state(row), ItemState::Waiting);
    QCOMPARE(cell(row, DownloadColumn::Size), QStringLiteral("等待重新下载"));
    QVERIFY(window_->Session().DownloadBusy); // still the running transfer's
    QCOMPARE(server_->requestCount(), 0);
}

void SingleTransferTest::theSchedulerTurnsWaitingRowsIntoFilesOneAtATime() {
    server_->serve("/a.pdf", "%PDF-a", "application/pdf");
    server_->serveHtml("/b.pdf", "<html>please log in</html>");
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const QString refused = QStringLiteral("http://127.0.0.1:%1/c.pdf").arg(probe.serverPort());
    probe.close();
    window_->AddDownloadItem(server_->url("/a.pdf"), "first", "pdf", folder(), "");
    window_->AddDownloadItem(server_->url("/b.pdf"), "second", "pdf", folder(), "");
    window_->AddDownloadItem(refused, "third", "pdf", folder(), "");
    window_->Check6->setChecked(true); // 声音提示
    window_->Command4_Click();
    for (int tick = 1; tick <= 3; ++tick) {
        services_->clock.advance(1.5); // past the gap of 0 seconds
        window_->Timer_Down_Timer();
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
    QCOMPARE(sound_.played,
             (QStringList{ProgramFolder() + "101.wav", ProgramFolder() + "103.wav"}));
    QVERIFY(!window_->Session().DownloadBusy);
}

void SingleTransferTest::theStatusBarAndTheGapClockFollowTheTransfer() {
    server_->serve("/a.pdf", "%PDF", "application/pdf");
    services_->clock.advance(500.0);
    const int row = addRow("/a.pdf", "论文 一");
    QStringList states;
    connect(window_->Inet1, &Inet::StateChanged, this,
            [&] { states << window_->StatusPanel3->text(); });
    window_->Session().Inet下载当前文件(row);

    QCOMPARE(window_->StatusPanel2->text(), QStringLiteral("完成下载:论文 一"));
    QCOMPARE(window_->Session().LastFileTime, services_->clock.elapsedSeconds());
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
        server_->route("/v.pdf",
                       Response::generatedBody(12345, "application/pdf").closeAfterBytes(5000));
    else if (ending == "page")
        server_->route("/v.pdf", Response::html("<html><body>请登录</body></html>"));
    else
        server_->route("/v.pdf", ending == "retry" ? busy : file);
    const int row = addRow("/v.pdf", "论文 甲");
    window_->Session().Inet下载当前文件(row);
    if (ending == "retry") {
        server_->route("/v.pdf", file);
        window_->menu重新下载出错项_Click();
        window_->ListItems3->SetSmallIcon(row, ItemState::Downloading);
        window_->Session().Inet下载当前文件(row);
        QCOMPARE(state(row), ItemState::Completed);
    }
    if (ending == "cleared")
        window_->menu清除完成项_Click();
    // A row's changes reach the panels at the next turn of the event loop.
    QTRY_COMPARE(window_->StatusPanel1->text().contains("论文 甲"), panel1Names);
    QTRY_COMPARE(window_->StatusPanel2->text().contains("论文 甲"), panel2Names);
}

void SingleTransferTest::aRowRemovedMidTransferEndsItQuietly() {
    server_->route(
        "/a.pdf",
        Response::generatedBody(12345, "application/pdf").stallUntilReleased(4096, "gate"));
    server_->serve("/b.pdf", "%PDF-b", "application/pdf");
    const int row = addRow("/a.pdf");
    const int other = addRow("/b.pdf", "other");
    window_->ListItems3->SetSmallIcon(other, ItemState::Waiting);
    whenReady(
        this, [&] { return server_->waitingAt("gate") == 1; },
        [&] { window_->ListItems3->Remove(row); });
    window_->Session().Inet下载当前文件(row);
    server_->release("gate");

    QCOMPARE(window_->ListItems3->Count(), 1);
    QCOMPARE(window_->ListItems3->SubItem(1, DownloadColumn::Size), QString());
    QCOMPARE(window_->ListItems3->SmallIcon(1), ItemState::Waiting);
    QCOMPARE(filesInFolder(), QStringList());
    QVERIFY(!window_->Inet1->StillExecuting());
}

void SingleTransferTest::closingTheWindowMidTransferDeletesThePartialFile() {
    server_->route(
        "/a.pdf",
        Response::generatedBody(12345, "application/pdf").stallUntilReleased(4096, "gate"));
    const int row = addRow("/a.pdf");
    services_->prompt.answer(MsgResult::Yes); // "... 要强制关闭窗口吗？"
    QPointer<fFileDownload> window = window_;
    whenReady(
        this, [&] { return server_->waitingAt("gate") == 1 && filesInFolder().size() == 1; },
        [&] { window->close(); });
    window->Session().Inet下载当前文件(row);
    server_->release("gate");

    QCOMPARE(services_->prompt.messages().size(), 1);
    QVERIFY(!IsFormLoaded("fFileDownload"));
    QCOMPARE(filesInFolder(), QStringList());
    settle();
    QVERIFY(!window); // deleted once the transfer had let go of it
}

void SingleTransferTest::quittingMidTransferKeepsTheBrowserCookiesAndNoPartialFile() {
    // Both runs share a home of their own: the browser profile of this process stays apart.
    QTemporaryDir home;
    const QString files = home.path() + "/files/";
    const auto run = [&](const QStringList& arguments, QByteArray& output) {
        return runChild(home.path(), arguments, output);
    };

    QByteArray output;
    QCOMPARE(run({"--quit-mid-transfer", files}, output), 0);
    QVERIFY2(output.contains("transfer returned"), output.constData());
    QVERIFY2(!output.contains("partial file left"), output.constData());
    QCOMPARE(QDir(files).entryList(QDir::Files), QStringList());

    QCOMPARE(run({"--read-cookie"}, output), 0);
    QVERIFY2(output.contains("cookie session=granted"), output.constData());
}

void SingleTransferTest::aKilledTransferLeavesNothingThatCountsAsDownloaded() {
    // The killed run's answer stops halfway; the next run's comes whole.
    std::atomic<int> asked{0};
    server_->route("/a.pdf", [&](const TestHttpServer::Request&) {
        Response response = Response::generatedBody(300000, "application/pdf");
        if (asked++ == 0)
            response.stallUntilReleased(100000, "gate");
        return response;
    });
    QDir().mkpath(folder());
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {"--killed-mid-transfer", server_->url("/a.pdf"), folder() + "paper.pdf"});
    QVERIFY(child.waitForStarted(10000));
    const auto leftovers = [this] {
        return QDir(folder()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    };
    QTRY_VERIFY_WITH_TIMEOUT(server_->waitingAt("gate") == 1 && leftovers().size() == 2, 30000);
    child.kill();
    QVERIFY(child.waitForFinished(10000));
    server_->release("gate");
    // The reservation under the article's name and the body beside it stay behind.
    QCOMPARE(readAll(folder() + "paper.pdf"), QByteArray("\x01\x00", 2));

    // The same record in the next run, under 跳过: the leftover is no file of the user's.
    window_->Option1->setChecked(true);
    const int row = addRow("/a.pdf");
    QVERIFY(window_->Session().确定是需要下载(row));
    window_->Session().Inet下载当前文件(row);
    QCOMPARE(state(row), ItemState::Completed);
    QCOMPARE(readAll(folder() + "paper.pdf"), generated(300000));
    QCOMPARE(leftovers(), QStringList{"paper.pdf"});
}

void SingleTransferTest::quittingWhileAPageLoadsEndsThePagingRun() {
    QTemporaryDir home;
    QByteArray output;
    QElapsedTimer took;
    took.start();
    QCOMPARE(runChild(home.path(), {"--quit-mid-paging"}, output), 0);
    // The paging run saw the quit and returned; the program did not need its last resort.
    QVERIFY2(output.contains("paging returned"), output.constData());
    QVERIFY2(took.elapsed() < 30000, qPrintable(QString::number(took.elapsed())));
}

int SingleTransferTest::runChild(const QString& home, const QStringList& arguments,
                                 QByteArray& output) {
    const QProcessEnvironment environment = ChildEnvironment(home);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForStarted(10000) || !child.waitForFinished(60000))
        return -1;
    output = child.readAll();
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -2;
}

// --- the child runs of the quitting cases ---

namespace {

// Waits, letting events run, until `done` holds; false after `ms`.
bool childWait(const std::function<bool()>& done, int ms) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > ms)
            return false;
        DoEvents();
    }
    return true;
}

QNetworkCookie sessionCookie() {
    QNetworkCookie cookie("session", "granted");
    cookie.setDomain(QStringLiteral("127.0.0.1"));
    cookie.setPath(QStringLiteral("/"));
    cookie.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(2));
    return cookie;
}

// A single-connection transfer yields when the start-up window is unloaded: the program
// must end through its normal way out.
int quitMidTransferChild(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const QString files = QString::fromLocal8Bit(argv[2]);
    TestHttpServer server;
    server.route("/a.pdf",
                 Response::generatedBody(100000, "application/pdf").stallUntilReleased(4096, "g"));
    ScriptedPrompt prompt;
    FakeClock clock;
    RecordingShell shell;
    IniRegistry registry(IniRegistry::defaultFilePath());
    SettingsStore settings;
    Program().SearchHomePage = QStringLiteral("about:blank");

    std::function<void()> start = [&] {
        if (EventPumpDepth() > 0 || !IsFormLoaded("fCover")) {
            QTimer::singleShot(10, start);
            return;
        }
        // A browser window makes the profile live, as a user's search does.
        if (!Forms::fWebSearch()) {
            std::puts("no search window");
            return;
        }
        QWebEngineCookieStore* store = BrowserProfile()->cookieStore();
        bool added = false;
        QObject::connect(store, &QWebEngineCookieStore::cookieAdded,
                         [&](const QNetworkCookie& c) { added = added || c.name() == "session"; });
        store->setCookie(sessionCookie(), QUrl(server.url("/")));
        if (!childWait([&] { return added; }, 10000))
            std::puts("cookie not confirmed");

        fFileDownload* window = Forms::fFileDownload();
        Program().DownloadMode = 1;
        const QString link = server.url("/a.pdf");
        window->AddDownloadItem(link, "paper", "pdf", files, "");
        window->ListItems3->SetSmallIcon(1, ItemState::Downloading);
        auto* trigger = new QTimer(window);
        trigger->setInterval(5);
        QObject::connect(trigger, &QTimer::timeout, [&, trigger] {
            if (server.waitingAt("g") == 1 && QFile::exists(files + "paper.pdf")) {
                trigger->stop();
                Forms::Unload(Forms::Find("fCover"));
            }
        });
        trigger->start();
        window->Session().Inet下载当前文件(1);
        std::puts("transfer returned");
        if (QFile::exists(files + "paper.pdf"))
            std::puts("partial file left");
        std::fflush(stdout);
        server.release("g");
    };
    QTimer::singleShot(0, start);
    return RunQuillfetch(AppServices{&prompt, &clock, &shell, &registry, &settings});
}

// The search window pages through results when the start-up window is unloaded; the next
// page never comes, and the clock never moves, so only the quit can end the run's wait.
// Fetches argv[2] into argv[3] with a parallel transfer and runs until it is killed.
int killedMidTransferChild(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Downloader downloader;
    downloader.BeginDownload(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                             QString());
    return app.exec();
}

int quitMidPagingChild(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestHttpServer server;
    server.serveHtml("/results", "<html><body>results</body></html>");
    server.routeTarget("/results?FIRSTINDEX=10",
                       Response::html("<html><body>late</body></html>").delayHeaders(60000));
    ScriptedPrompt prompt;
    FakeClock clock;
    RecordingShell shell;
    IniRegistry registry(IniRegistry::defaultFilePath());
    SettingsStore settings;
    settings.Write(Keys::PromptSaveFolder, 0);
    Program().SearchHomePage = server.url("/results");

    std::function<void()> start = [&] {
        if (EventPumpDepth() > 0 || !IsFormLoaded("fCover")) {
            QTimer::singleShot(10, start);
            return;
        }
        fWebSearch* search = Forms::fWebSearch();
        if (!search || !childWait(
                           [&] {
                               return server.requestsFor("/results").size() == 1 &&
                                      !search->WebBrowser1->Busy();
                           },
                           15000)) {
            std::puts("no result page");
            return;
        }
        auto* trigger = new QTimer(search);
        trigger->setInterval(5);
        QObject::connect(trigger, &QTimer::timeout, [&, trigger] {
            if (server.requestsFor("/results").size() == 2) {
                trigger->stop();
                Forms::Unload(Forms::Find("fCover"));
            }
        });
        trigger->start();
        search->Command4_Click();
        std::puts("paging returned");
        std::fflush(stdout);
    };
    QTimer::singleShot(0, start);
    return RunQuillfetch(AppServices{&prompt, &clock, &shell, &registry, &settings});
}

// The browser of a later run sends what the profile kept.
int readCookieChild(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestHttpServer server;
    server.serveHtml("/check", "<html><body>checked</body></html>");
    QByteArray value;
    {
        WebBrowser browser;
        browser.Navigate(server.url("/check"));
        childWait([&] { return server.requestCount() > 0 && !browser.Busy(); }, 15000);
        if (server.requestCount() > 0)
            value = server.requestsFor("/check").first().cookie("session");
    }
    DestroyBrowserProfile();
    std::printf("cookie session=%s\n", value.isNull() ? "(none)" : value.constData());
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 2 && qstrcmp(argv[1], "--quit-mid-transfer") == 0)
        return quitMidTransferChild(argc, argv);
    if (argc > 3 && qstrcmp(argv[1], "--killed-mid-transfer") == 0)
        return killedMidTransferChild(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--quit-mid-paging") == 0)
        return quitMidPagingChild(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--read-cookie") == 0)
        return readCookieChild(argc, argv);
    PrepareTestEnvironment();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    SingleTransferTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_session_single.moc"

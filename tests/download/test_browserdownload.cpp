#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"

#include "core/download/DownloadJournal.h"
#include "core/download/DownloadList.h"
#include "core/download/HostPacing.h"
#include "core/download/Scheduler.h"
#include "core/download/WebPageDiagnosis.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/PartFiles.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"
#include "ui/platform/BrowserDownload.h"
#include "ui/platform/WebBrowser.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRadioButton>
#include <QTimer>

#include <functional>
#include <memory>

using Response = TestHttpServer::Response;

namespace {

const QByteArray kUserFile = "%PDF-1.4 the user's own copy";

// Runs `action` once `ready` holds, checked from the event loop (the transfer waits in one).
void whenReady(QObject* owner, std::function<bool()> ready, std::function<void()> action) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, [timer, ready, action] {
        if (!ready())
            return;
        timer->deleteLater();
        timer->stop();
        action();
    });
    timer->start(50);
}

} // namespace

// A site that challenges the program's plain transfers but lets the embedded browser through:
// its rows are fetched through the browser's own network stack by the download window, in
// both transfer modes, and end as a plain transfer's row ends, through the same file life.
class BrowserDownloadTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void howARowOfTheSiteEnds_data();
    void howARowOfTheSiteEnds();
    void aStopMidTransferLeavesTheFolderAsItWas_data();
    void aStopMidTransferLeavesTheFolderAsItWas();
    void aCleanUpWhileTheBrowserWritesLeavesItsFile();
    void isTheSitePushedBackThroughTheBrowser_data();
    void isTheSitePushedBackThroughTheBrowser();

private:
    // A waiting "paper.pdf" row for `path`, the window in `mode` with 覆盖 chosen, the
    // user's own paper.pdf in the folder when `userFile`.
    void setUp(const QString& path, int mode, bool userFile);
    QString files() const { return services_->path("files") + '/'; }
    // A 4 MiB PDF at /pdf/large whose body stops after 1 MiB until "slow" is released.
    void routeStalledLarge() {
        server_.route("/pdf/large",
                      Response::generatedBody(4 << 20, "application/pdf", "%PDF-1.5\n")
                          .stallUntilReleased(1 << 20, "slow"));
    }
    // The row shows its progress while the body waits at the server.
    bool waitsAtTheServer() const {
        return server_.waitingAt("slow") == 1 &&
               window_->ListItems3->SubItem(1, DownloadColumn::Received).toLongLong() > 0;
    }
    QStringList folder() const {
        return QDir(files()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    QByteArray bytesOf(const QString& name) const {
        QFile file(files() + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    std::unique_ptr<TestServices> services_;
    TestHttpServer server_;
    QPointer<fFileDownload> window_;
};

void BrowserDownloadTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(server_.isListening());
}

void BrowserDownloadTest::init() {
    services_ = std::make_unique<TestServices>();
    ForgetDownloadJournal(DownloadJournalPath()); // no case finds an earlier one's list
    Program() = ProgramValues{};
    Program().SearchHomePage = QStringLiteral("about:blank");
    server_.clearRoutes();
    server_.closeGate("slow");
    // What the program's plain transfers get from the site, the browser never does.
    server_.challengePlainClients("/pdf/");
    window_ = Forms::fFileDownload();
    QVERIFY(window_);
    window_->Pacing().MarkThroughBrowser(HostOfLink(server_.baseUrl()));
}

void BrowserDownloadTest::cleanup() {
    server_.release("slow");
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    services_.reset();
}

void BrowserDownloadTest::cleanupTestCase() {
    DestroyBrowserProfile();
}

void BrowserDownloadTest::setUp(const QString& path, int mode, bool userFile) {
    Program().DownloadMode = mode;
    window_->Option2->setChecked(true);
    QVERIFY(QDir().mkpath(files()));
    if (userFile) {
        QFile file(files() + "paper.pdf");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kUserFile);
    }
    window_->AddDownloadItem(server_.url(path), "paper", "pdf", files(), server_.url("/toc/1"));
    services_->clock.advance(100.0);
    window_->Command4_Click();
}

void BrowserDownloadTest::howARowOfTheSiteEnds_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("userFile");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("challenged in the browser too: failed, the user's file kept?")
        << "/pdf/never" << 2 << true << int(ItemState::Failed) << "pdf" << QStringList{"paper.pdf"};
    QTest::newRow("a page, not the file: never over the user's file?")
        << "/pdf/page" << 2 << true << int(ItemState::Failed) << "pdf" << QStringList{"paper.pdf"};
    QTest::newRow("a bot check's page: failed, nothing in the folder, the type kept?")
        << "/pdf/check" << 2 << false << int(ItemState::Failed) << "pdf" << QStringList{};
    QTest::newRow("an empty answer: failed, the user's file kept?")
        << "/pdf/empty" << 2 << true << int(ItemState::Failed) << "pdf" << QStringList{"paper.pdf"};
    QTest::newRow("a page of 300 KB: a web page on the free name, never a PDF?")
        << "/pdf/large-page" << 2 << false << int(ItemState::Completed) << "htm"
        << QStringList{"paper.htm"};
    QTest::newRow("a page, not the file: the row is a web page, single connection?")
        << "/pdf/page" << 1 << false << int(ItemState::Completed) << "htm"
        << QStringList{"paper.htm"};
    QTest::newRow("a PDF over the user's file, parallel?")
        << "/pdf/paper" << 2 << true << int(ItemState::Completed) << "pdf"
        << QStringList{"paper.pdf"};
    QTest::newRow("a PDF, single connection?")
        << "/pdf/paper" << 1 << false << int(ItemState::Completed) << "pdf"
        << QStringList{"paper.pdf"};
}

void BrowserDownloadTest::howARowOfTheSiteEnds() {
    QFETCH(QString, path);
    QFETCH(int, mode);
    QFETCH(bool, userFile);
    QFETCH(int, state);
    QFETCH(QString, type);
    QFETCH(QStringList, names);
    // The pdf: generated bytes behind the PDF signature, as large as a real article.
    const QByteArray pdf = TestHttpServer::GeneratedBody{300000, "%PDF-1.5\n"}.bytes(0, 300000);
    server_.route("/pdf/paper", Response::bytes(pdf, "application/pdf"));
    const QString page = "<html><head><title>Sign in</title></head><body>"
                         "<form><input type=password></form></body></html>";
    server_.serveHtml("/pdf/page", page);
    // Its markers come first; the type check's page rule reads no file this large.
    server_.serveHtml("/pdf/large-page", page + "<!--" + QString(300 * 1024, ' ') + "-->");
    server_.route("/pdf/empty", Response::bytes({}, "application/pdf"));
    server_.serveHtml("/pdf/check", "<html><head><title>Just a moment...</title></head></html>");
    server_.challengePlainClients("/pdf/never", "X-Nobody-Sends-This");
    setUp(path, mode, userFile);

    window_->Timer_Down_Timer();
    KeyedListModel& list = *window_->ListItems3;
    QTRY_VERIFY_WITH_TIMEOUT(list.SmallIcon(1) != ItemState::Downloading, 30000);

    QCOMPARE(list.SmallIcon(1), state);
    QCOMPARE(list.SubItem(1, DownloadColumn::Type), type);
    // A page that came instead of the file says what it is.
    if (type == "htm")
        QVERIFY(RowFailureReason(list, 1).startsWith(WebPageKindText(WebPageKind::LoginWall)));
    else if (path == "/pdf/check")
        QVERIFY(RowFailureReason(list, 1).startsWith(WebPageKindText(WebPageKind::BotCheck)));
    else
        QCOMPARE(RowFailureReason(list, 1).isEmpty(), state == ItemState::Completed);
    // Met by the browser itself, a check leaves the site alone for a while like a push-back.
    QCOMPARE(window_->Pacing().SecondsUntilStart(HostOfLink(list.Key(1))) > 1.0,
             path == "/pdf/check" || path == "/pdf/never");
    QTRY_COMPARE(folder(), names);
    const QString kept = names.value(0);
    if (path == "/pdf/paper")
        QCOMPARE(bytesOf(kept), pdf);
    else if (userFile)
        QCOMPARE(bytesOf(kept), kUserFile);
    else if (!kept.isEmpty())
        QVERIFY(bytesOf(kept).contains("Sign in"));
    QCOMPARE(window_->CountDownloaderSlots(), 1);
    // It was the browser that asked: the program's own request would have met the check.
    QVERIFY(server_.lastRequest().hasHeader("Sec-Fetch-Mode"));
}

void BrowserDownloadTest::isTheSitePushedBackThroughTheBrowser_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("held"); // after four earlier failures of the site
    QTest::newRow("a 429: the row waits and the fifth push-back holds the site?")
        << "/pdf/busy" << int(ItemState::Waiting) << kSiteHeldReason << true;
    QTest::newRow("a 503 alike?") << "/pdf/down" << int(ItemState::Waiting) << kSiteHeldReason
                                  << true;
    QTest::newRow("a 403: failed, and counted as a refusal?")
        << "/pdf/refused" << int(ItemState::Failed) << "403" << true;
    QTest::newRow("no byte for the stall limit: failed, and counted?")
        << "/pdf/stalled" << int(ItemState::Failed) << "120" << true;
    QTest::newRow("the file: the run of failures ends?")
        << "/pdf/paper" << int(ItemState::Completed) << "" << false;
}

void BrowserDownloadTest::isTheSitePushedBackThroughTheBrowser() {
    QFETCH(QString, path);
    QFETCH(int, state);
    QFETCH(QString, reason);
    QFETCH(bool, held);
    server_.route("/pdf/busy", Response::statusPage(429).header("Retry-After", "1"));
    server_.route("/pdf/down", Response::statusPage(503));
    server_.route("/pdf/refused", Response::statusPage(403));
    server_.route("/pdf/stalled", Response::generatedBody(4096, "application/pdf", "%PDF-1.5\n")
                                      .stallUntilReleased(0, "slow"));
    server_.route("/pdf/paper", Response::bytes("%PDF-1.5\n%%EOF\n", "application/pdf"));
    const QString host = HostOfLink(server_.baseUrl());
    for (int i = 1; i < HostPacing::kFailuresBeforeHold; ++i)
        window_->Pacing().NoteFailure(host);
    setUp(path, 2, false);
    KeyedListModel& list = *window_->ListItems3;
    window_->Timer_Down_Timer();
    // The browser may take the stalled download up only after the clock moved: it moves on
    // until the stall is seen, whenever the download was taken up.
    const auto stillDownloading = [&] {
        if (path == "/pdf/stalled" && server_.waitingAt("slow") == 1)
            services_->clock.advance(BrowserDownload::kStallSeconds);
        return list.SmallIcon(1) == ItemState::Downloading;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!stillDownloading(), 30000);
    QCOMPARE(list.SmallIcon(1), state);
    QVERIFY2(RowFailureReason(list, 1).contains(reason), qPrintable(RowFailureReason(list, 1)));
    QCOMPARE(window_->Pacing().IsHeld(host), held);
    QCOMPARE(folder(), state == ItemState::Completed ? QStringList{"paper.pdf"} : QStringList{});
}

void BrowserDownloadTest::aStopMidTransferLeavesTheFolderAsItWas_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("close");
    QTest::newRow("stopped, parallel?") << 2 << false;
    QTest::newRow("stopped, single connection?") << 1 << false;
    QTest::newRow("window closed, parallel?") << 2 << true;
}

void BrowserDownloadTest::aStopMidTransferLeavesTheFolderAsItWas() {
    QFETCH(int, mode);
    QFETCH(bool, close);
    routeStalledLarge();
    setUp("/pdf/large", mode, true);
    if (close)
        services_->prompt.answer(MsgResult::Yes); // busy: close all the same?
    KeyedListModel* list = window_->ListItems3;
    QString shown;
    bool stopped = false;
    whenReady(
        this, [&] { return waitsAtTheServer(); },
        [&] {
            shown = list->SubItem(1, DownloadColumn::Percent);
            close ? void(window_->close()) : window_->Command31_Click();
            stopped = true;
        });
    window_->Timer_Down_Timer();
    QTRY_VERIFY_WITH_TIMEOUT(stopped, 30000);
    server_.release("slow");

    QVERIFY2(shown.endsWith('%') && shown != "100%", qPrintable(shown));
    if (close) {
        QVERIFY(!IsFormLoaded("fFileDownload"));
    } else {
        QCOMPARE(list->SmallIcon(1), ItemState::Failed);
        QCOMPARE(RowFailureReason(*list, 1), QStringLiteral("已停止"));
        QCOMPARE(window_->CountDownloaderSlots(), 1);
    }
    // The browser's unfinished file goes as the browser lets go of it.
    QTRY_COMPARE_WITH_TIMEOUT(folder(), QStringList{"paper.pdf"}, 15000);
    QCOMPARE(bytesOf("paper.pdf"), kUserFile);
}

void BrowserDownloadTest::aCleanUpWhileTheBrowserWritesLeavesItsFile() {
    routeStalledLarge();
    setUp("/pdf/large", 2, false);
    KeyedListModel* list = window_->ListItems3;
    int removed = -1;
    QStringList during;
    whenReady(
        this, [&] { return waitsAtTheServer(); },
        [&] {
            // What a second copy of the program does before it writes into the folder.
            removed = RemoveOwnLeftovers(files());
            during = folder();
            server_.release("slow");
        });
    window_->Timer_Down_Timer();
    QTRY_COMPARE_WITH_TIMEOUT(list->SmallIcon(1), ItemState::Completed, 30000);

    QCOMPARE(removed, 0);
    QCOMPARE(during.size(), 2); // the reservation and the browser's unfinished file
    QCOMPARE(folder(), QStringList{"paper.pdf"});
    QCOMPARE(QFileInfo(files() + "paper.pdf").size(), qint64(4 << 20));
}

QF_TEST_MAIN(BrowserDownloadTest)
#include "test_browserdownload.moc"

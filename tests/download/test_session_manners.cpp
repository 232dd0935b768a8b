#include "FolderRenames.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"

#include "core/download/DownloadList.h"
#include "core/download/HostPacing.h"
#include "core/download/Scheduler.h"
#include "core/download/WebPageDiagnosis.h"
#include "core/platform/KeyedListModel.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"
#include "ui/platform/WebBrowser.h"
#include "ui/search/fWebSearch.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>

#include <algorithm>
#include <atomic>
#include <memory>

using Response = TestHttpServer::Response;

Q_DECLARE_METATYPE(TestHttpServer::Response)

constexpr int kNetworkMs = 30000;

namespace {

const QByteArray kPdf = "%PDF-1.4\n1 0 obj\n<<>>\nendobj\n%%EOF\n";

QString page(const QString& title, const QString& body) {
    return QStringLiteral("<html><head><title>%1</title></head><body>%2</body></html>")
        .arg(title, body);
}

// `script` runs on the page, as the check platform's own would.
Response challenge(const QString& script = {}) {
    Response response = Response::html(
        page(QStringLiteral("Just a moment..."),
             QStringLiteral("<script src=\"/cdn-cgi/challenge-platform/h/b/orchestrate/"
                            "chl_page/v1\"></script><script>%1</script>Checking your browser")
                 .arg(script)));
    response.status = 403;
    response.header("cf-mitigated", "challenge");
    return response;
}

// "429:5" is a 429 asking for 5 seconds, "500" a bare 500, "200" the file, "cut" the file cut
// short.
Response answerFor(const QString& spec) {
    const QStringList parts = spec.split(QLatin1Char(':'));
    const int status = parts[0].toInt();
    if (status == 200)
        return Response::bytes(kPdf, "application/pdf");
    if (spec == QLatin1String("cut")) {
        Response response = Response::bytes(kPdf, "application/pdf");
        response.closeAfter = 8;
        return response;
    }
    Response response = Response::statusPage(status);
    if (parts.size() > 1)
        response.header("Retry-After", parts[1].toLatin1());
    return response;
}

} // namespace

// How the download window treats the sites it fetches from, against real servers: a page
// that came instead of the file says what it is, push-back pauses only its own site, a site
// that keeps failing is held until the user resumes it, and a bot check is handed to the
// user in the search window's browser.
class MannersTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void whatDoesAPageInsteadOfTheFileShow_data();
    void whatDoesAPageInsteadOfTheFileShow();
    void howIsPushBackHonoured_data();
    void howIsPushBackHonoured();
    void howDoesABotCheckHandOverEnd_data();
    void howDoesABotCheckHandOverEnd();
    void isAPausedSiteLeftAloneAfterTheWindow_data();
    void isAPausedSiteLeftAloneAfterTheWindow();

private:
    void load(int mode);
    QString addRow(const QString& link, const QString& name);
    // One scheduler tick a moment after the last one; waits for what it started to end.
    void tickAndWait();

    std::unique_ptr<TestServices> services_;
    fFileDownload* w_ = nullptr;
};

void MannersTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
}

void MannersTest::init() {
    services_ = std::make_unique<TestServices>();
    Program() = ProgramValues{};
    Program().SearchHomePage = QStringLiteral("about:blank");
}

void MannersTest::cleanup() {
    if (w_) {
        for (int slot = 1; slot <= 6; ++slot)
            w_->Session().RemoveDownloaderSlot(slot);
    }
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    w_ = nullptr;
    services_.reset();
}

void MannersTest::load(int mode) {
    w_ = Forms::fFileDownload();
    QVERIFY(w_);
    Program().DownloadMode = mode;
    w_->Combo1->setCurrentIndex(0); // one slot: the order of starts is the list's
    w_->Pacing().SetMinimumSpacing(0);
}

QString MannersTest::addRow(const QString& link, const QString& name) {
    w_->AddDownloadItem(link, name, QStringLiteral("pdf"), services_->dir.path() + '/', QString());
    return link;
}

void MannersTest::tickAndWait() {
    services_->clock.advance(0.5);
    w_->Timer_Down_Timer();
    QTRY_VERIFY_WITH_TIMEOUT(!w_->Session().SlotLoaded(1), kNetworkMs);
}

void MannersTest::whatDoesAPageInsteadOfTheFileShow_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<Response>("answer");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("counts");

    const QString signIn = page(
        QStringLiteral("Institution login"),
        QStringLiteral("<form method=post><input name=user><input type=password name=p></form>"));
    Response suspended = Response::html(
        page(QStringLiteral("Access suspended"),
             QStringLiteral("Access from your institution is suspended: excessive downloading.")));
    suspended.status = 403;
    Response missing = Response::html(page(QStringLiteral("Page not found"), QStringLiteral("?")));
    missing.status = 404;

    const QString onePage = QStringLiteral("总数：1|正在下载：0|等待：0|已完成：0|失败：0|网页：1");
    QTest::newRow("is a gateway's sign-in form a login wall, not a completed file?")
        << 2 << Response::html(signIn) << WebPageKindText(WebPageKind::LoginWall) << onePage;
    QTest::newRow("the same over the single connection?")
        << 1 << Response::html(signIn) << WebPageKindText(WebPageKind::LoginWall) << onePage;
    QTest::newRow("is a suspension notice a refusal?")
        << 2 << suspended << WebPageKindText(WebPageKind::Refusal) << onePage;
    QTest::newRow("is a missing article's page a not-found?")
        << 2 << missing << WebPageKindText(WebPageKind::NotFound) << onePage;
    QTest::newRow("is any other page just a page?")
        << 2 << Response::html(page(QStringLiteral("Science"), QStringLiteral("news")))
        << WebPageKindText(WebPageKind::Other) << onePage;
    QTest::newRow("does the file itself stay a completed file?")
        << 2 << Response::bytes(kPdf, "application/pdf") << QString()
        << QStringLiteral("总数：1|正在下载：0|等待：0|已完成：1|失败：0");
}

void MannersTest::whatDoesAPageInsteadOfTheFileShow() {
    QFETCH(int, mode);
    QFETCH(Response, answer);
    QFETCH(QString, reason);
    QFETCH(QString, counts);
    TestHttpServer server;
    server.route("/paper.pdf", answer);
    load(mode);
    addRow(server.url("/paper.pdf"), QStringLiteral("paper"));

    tickAndWait();
    QTRY_VERIFY_WITH_TIMEOUT(w_->ListItems3->SmallIcon(1) >= ItemState::Completed, kNetworkMs);

    const QString shown = RowFailureReason(*w_->ListItems3, 1);
    QVERIFY2(reason.isEmpty() ? shown.isEmpty() : shown.startsWith(reason), qPrintable(shown));
    QCOMPARE(w_->RowIcon(1).cacheKey() == w_->WebPageIcon.cacheKey(), !reason.isEmpty());
    w_->UpdateStatusCounts();
    QCOMPARE(w_->StatusPanel4->text(), counts);
}

void MannersTest::howIsPushBackHonoured_data() {
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QList<double>>("pauses");
    QTest::addColumn<int>("firstState");
    QTest::addColumn<QString>("firstReason");

    QTest::newRow("does a demand of more than an hour fail the row?")
        << QStringList{"429:7200"} << QList<double>{3600} << int(ItemState::Failed)
        << QStringLiteral("超过一小时");
    QTest::newRow("do five failures in a row hold the site until it is resumed?")
        << QStringList{"500", "500", "500", "500", "500"} << QList<double>{0, 0, 0, 0, -1}
        << int(ItemState::Failed) << QStringLiteral("服务器返回 500");
    QTest::newRow("do five bodies cut short hold the site?")
        << QStringList{"cut", "cut", "cut", "cut", "cut"} << QList<double>{0, 0, 0, 0, -1}
        << int(ItemState::Failed) << QString();
    QTest::newRow("do five 503s with Retry-After: 1 hold the site?")
        << QStringList{"503:1", "503:1", "503:1", "503:1", "503:1"}
        << QList<double>{10, 20, 40, 80, -1} << int(ItemState::Waiting) << kSiteHeldReason;
    QTest::newRow("do push-backs and failures count together?")
        << QStringList{"429:0", "500", "503", "cut", "429"} << QList<double>{10, 0, 20, 0, -1}
        << int(ItemState::Failed) << QStringLiteral("500");
    QTest::newRow("does a long Retry-After set the pause?")
        << QStringList{"429:45", "200"} << QList<double>{45, 0} << int(ItemState::Completed)
        << QString();
    QTest::newRow("does the pause double when none is named?")
        << QStringList{"429", "503", "200"} << QList<double>{10, 20, 0} << int(ItemState::Completed)
        << QString();
}

void MannersTest::howIsPushBackHonoured() {
    QFETCH(QStringList, answers);
    QFETCH(QList<double>, pauses);
    QFETCH(int, firstState);
    QFETCH(QString, firstReason);
    TestHttpServer pushing;
    TestHttpServer other;
    auto served = std::make_shared<std::atomic<int>>(0);
    pushing.setFallback([answers, served](const TestHttpServer::Request&) {
        const int n = (*served)++;
        return answerFor(n < answers.size() ? answers[n] : QStringLiteral("200"));
    });
    other.setFallback(
        [](const TestHttpServer::Request&) { return Response::bytes(kPdf, "application/pdf"); });
    load(2);
    const QString host = QStringLiteral("127.0.0.1");
    for (int n = 1; n <= 6; ++n)
        addRow(pushing.url(QStringLiteral("/a%1.pdf").arg(n)), QStringLiteral("a%1").arg(n));
    const QString otherLink =
        addRow(QStringLiteral("http://localhost:%1/b.pdf").arg(other.port()), "b");
    const int otherRow = w_->ListItems3->PositionOfKey(otherLink);

    for (int i = 0; i < answers.size(); ++i) {
        tickAndWait();
        QCOMPARE(pushing.requestCount(), i + 1);
        const double pause = w_->Pacing().SecondsUntilStart(host);
        QVERIFY2(qAbs(pause - pauses[i]) < 0.01,
                 qPrintable(QStringLiteral("after answer %1: %2").arg(i + 1).arg(pause)));
        if (pause == 0)
            continue;
        // The site waits; the other one goes on meanwhile.
        if (w_->ListItems3->SmallIcon(otherRow) == ItemState::Waiting) {
            tickAndWait();
            QCOMPARE(pushing.requestCount(), i + 1);
            QCOMPARE(w_->ListItems3->SmallIcon(otherRow), int(ItemState::Completed));
        }
        if (pause > 0 && i + 1 < answers.size())
            services_->clock.advance(pause);
    }

    const QString reason = RowFailureReason(*w_->ListItems3, 1);
    QCOMPARE(w_->ListItems3->SmallIcon(1), firstState);
    QVERIFY2(reason.contains(firstReason), qPrintable(reason));
    if (pauses.last() >= 0)
        return;
    // Held: the site's waiting row says why, nothing starts, and the list command resumes it.
    QCOMPARE(RowFailureReason(*w_->ListItems3, 6), kSiteHeldReason);
    services_->clock.advance(3600);
    tickAndWait();
    QCOMPARE(pushing.requestCount(), answers.size());
    w_->menu恢复暂停的网站_Click();
    QCOMPARE(RowFailureReason(*w_->ListItems3, 6), QString());
    int next = 1;
    while (w_->ListItems3->SmallIcon(next) != ItemState::Waiting)
        ++next;
    tickAndWait();
    QCOMPARE(pushing.requestCount(), answers.size() + 1);
    QTRY_COMPARE_WITH_TIMEOUT(w_->ListItems3->SmallIcon(next), int(ItemState::Completed),
                              kNetworkMs);
}

void MannersTest::howDoesABotCheckHandOverEnd_data() {
    QTest::addColumn<QString>("ending");
    QTest::addColumn<int>("endState");
    QTest::addColumn<QString>("endReason");
    QTest::newRow("do the site's rows fail after five minutes without the check passed?")
        << "five minutes" << int(ItemState::Failed) << QStringLiteral("5分钟内未完成网站验证");
    QTest::newRow("the same over the single connection?")
        << "five minutes, single connection" << int(ItemState::Failed) << QStringLiteral("5分钟");
    QTest::newRow("the same for a check told by its page alone?")
        << "five minutes, single connection, page alone" << int(ItemState::Failed)
        << QStringLiteral("5分钟");
    QTest::newRow("does the user's stop end the wait?")
        << "stop" << int(ItemState::Failed) << QStringLiteral("下载已停止");
    QTest::newRow("do they go again once the browser shows the article?")
        << "passed" << int(ItemState::Completed) << QString();
    QTest::newRow("does the check's cookie end the wait while the page stays?")
        << "passed by cookie" << int(ItemState::Completed) << QString();
    QTest::newRow("does the check's download of the article become the row's file?")
        << "passed by download" << int(ItemState::Completed) << QString();
    QTest::newRow("is a site still challenged after the pass fetched through the browser?")
        << "passed, challenged again" << int(ItemState::Waiting)
        << QStringLiteral("改由浏览器下载");
}

void MannersTest::howDoesABotCheckHandOverEnd() {
    QFETCH(QString, ending);
    QFETCH(int, endState);
    QFETCH(QString, endReason);
    const bool browserPasses = ending.startsWith(QLatin1String("passed"));
    const bool challengedAgain = ending == QLatin1String("passed, challenged again");
    TestHttpServer server;
    auto plainAnswers = std::make_shared<std::atomic<int>>(0);
    // The browser asks for a page; the transfers ask for anything.
    server.setFallback([=](const TestHttpServer::Request& request) {
        if (request.header("Accept").contains("text/html")) {
            if (ending == QLatin1String("passed by cookie"))
                return challenge(QStringLiteral("document.cookie = 'cf_clearance=ok; path=/';"));
            // The check lets the browser through and sends it on to the file itself.
            if (ending == QLatin1String("passed by download")) {
                if (request.header("Cookie").contains("passed=1"))
                    return Response::bytes(kPdf, "application/pdf")
                        .contentDisposition("attachment; filename=one.pdf");
                return challenge(QStringLiteral("document.cookie = 'passed=1; path=/';"
                                                "setTimeout(() => location.reload(), 50);"));
            }
            return browserPasses ? Response::html(page(QStringLiteral("Article"), "text"))
                                 : challenge();
        }
        if (!request.path.endsWith(QLatin1String(".pdf"))) // the browser's icon
            return Response::statusPage(404);
        if ((*plainAnswers)++ == 0 || challengedAgain) {
            Response check = challenge();
            if (ending.endsWith(QLatin1String("page alone")))
                check.headers.clear();
            return check;
        }
        return Response::bytes(kPdf, "application/pdf");
    });
    load(ending.contains(QLatin1String("single connection")) ? 1 : 2);
    const QString host = QStringLiteral("127.0.0.1");
    const QString link = addRow(server.url("/one.pdf"), "one");
    addRow(server.url("/two.pdf"), "two");

    // The check is no download, not even for a moment: nothing took a name in the folder.
    QCOMPARE(RenamedInto(services_->dir.path(), [this] { tickAndWait(); }), QStringList());
    // Both rows of the site wait for the user, and the search window shows why.
    QCOMPARE(w_->ListItems3->SmallIcon(1), int(ItemState::Waiting));
    QCOMPARE(w_->ListItems3->SmallIcon(2), int(ItemState::Waiting));
    QCOMPARE(w_->Session().SiteCheckHost(), host);
    // The check is no download: nothing of it in the folder, and the row keeps its type.
    QCOMPARE(w_->ListItems3->SubItem(1, DownloadColumn::Type), QStringLiteral("pdf"));
    QCOMPARE(QDir(services_->dir.path()).entryList({"*.htm*"}, QDir::Files), QStringList());
    fWebSearch* search = qobject_cast<fWebSearch*>(Forms::Find(QStringLiteral("fWebSearch")));
    QVERIFY(search && search->isVisible() && search->LabelSiteCheck);
    QCOMPARE(search->LabelSiteCheck->text(),
             QStringLiteral("请在浏览器中完成网站验证，完成后将自动继续"));
    QVERIFY(search->LabelSiteCheck->isVisible());
    tickAndWait();
    QCOMPARE(*plainAnswers, 1);
    QTRY_COMPARE_WITH_TIMEOUT(search->WebBrowser1->LocationURL(), link, kNetworkMs);

    if (ending.startsWith(QLatin1String("five minutes"))) {
        services_->clock.advance(299);
        w_->Timer1_Timer();
        QCOMPARE(w_->ListItems3->SmallIcon(1), int(ItemState::Waiting));
        services_->clock.advance(1);
        w_->Timer1_Timer();
    } else if (ending == QLatin1String("stop")) {
        w_->Command31_Click();
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(w_->Session().SiteCheckHost().isEmpty(), kNetworkMs);
        QVERIFY(!search->LabelSiteCheck->isVisible());
        tickAndWait();
        if (ending != QLatin1String("passed by download")) {
            QCOMPARE(*plainAnswers, 2);
        } else {
            // Taken up, the browser's download is the row's file: no plain request for it.
            QTRY_COMPARE_WITH_TIMEOUT(w_->ListItems3->SmallIcon(1), endState, kNetworkMs);
            const QList<TestHttpServer::Request> log = server.requests();
            QCOMPARE(std::count_if(log.begin(), log.end(),
                                   [](const TestHttpServer::Request& request) {
                                       return request.path == "/one.pdf" &&
                                              !request.header("Accept").contains("text/html");
                                   }),
                     1);
            QFile file(RowFilePath(*w_->ListItems3, 1));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), kPdf);
        }
    }
    QCOMPARE(w_->ListItems3->SmallIcon(1), endState);
    const QString reason = RowFailureReason(*w_->ListItems3, 1);
    QVERIFY2(endReason.isEmpty() ? reason.isEmpty() : reason.contains(endReason),
             qPrintable(reason));
    QCOMPARE(w_->Pacing().IsThroughBrowser(host), challengedAgain);
    if (!browserPasses)
        QCOMPARE(w_->ListItems3->SmallIcon(2), int(ItemState::Failed));
}

void MannersTest::isAPausedSiteLeftAloneAfterTheWindow_data() {
    QTest::addColumn<bool>("restart"); // else the window is closed and opened again
    QTest::addColumn<QString>("state");
    QTest::addColumn<double>("away");
    QTest::addColumn<int>("asked"); // requests after the window came back
    QTest::newRow("reopened within a pause: nothing asked?") << false << "429:600" << 300.0 << 0;
    QTest::newRow("restarted within a pause: nothing asked?") << true << "429:600" << 300.0 << 0;
    QTest::newRow("restarted after the pause: asked again?") << true << "429:600" << 700.0 << 1;
    QTest::newRow("restarted while held: nothing asked?") << true << "held" << 7200.0 << 0;
    QTest::newRow("restarted: the browser mark kept?") << true << "browser" << 60.0 << -1;
    QTest::newRow("restarted: the day's answer kept?") << true << "answer" << 60.0 << -1;
}

void MannersTest::isAPausedSiteLeftAloneAfterTheWindow() {
    QFETCH(bool, restart);
    QFETCH(QString, state);
    QFETCH(double, away);
    QFETCH(int, asked);
    TestHttpServer server;
    auto served = std::make_shared<std::atomic<int>>(0);
    server.setFallback([served, state](const TestHttpServer::Request&) {
        return answerFor((*served)++ == 0 && state.startsWith("429") ? state
                                                                     : QStringLiteral("200"));
    });
    const QString host = QStringLiteral("127.0.0.1");
    load(2);
    const QString link = addRow(server.url("/a.pdf"), "a");
    if (state.startsWith(QLatin1String("429")))
        tickAndWait();
    for (int i = 0; state == "held" && i < HostPacing::kFailuresBeforeHold; ++i)
        w_->Pacing().NoteFailure(host);
    if (state == "browser")
        w_->Pacing().MarkThroughBrowser(host);
    if (state == "answer")
        w_->Pacing().GoOnToday(host, QDate::currentDate());
    w_->Timer1_Timer(); // what the window keeps once a second
    const int before = server.requestCount();
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    services_->clock.advance(away);
    if (restart)
        services_->clock.restart();

    load(2);
    QCOMPARE(w_->Pacing().IsThroughBrowser(host), state == "browser");
    QCOMPARE(w_->Pacing().GoesOnToday(host, QDate::currentDate()), state == "answer");
    if (asked < 0)
        return;
    addRow(link, "a");
    tickAndWait();
    QCOMPARE(server.requestCount(), before + asked);
}

QF_TEST_MAIN(MannersTest)
#include "test_session_manners.moc"

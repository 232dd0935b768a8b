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
#include <QLabel>

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

Response challenge() {
    Response response = Response::html(
        page(QStringLiteral("Just a moment..."),
             QStringLiteral("<script src=\"/cdn-cgi/challenge-platform/h/b/orchestrate/"
                            "chl_page/v1\"></script>Checking your browser")));
    response.status = 403;
    response.header("cf-mitigated", "challenge");
    return response;
}

// "429:5" is a 429 asking for 5 seconds, "500" a bare 500, "200" the file.
Response answerFor(const QString& spec) {
    const QStringList parts = spec.split(QLatin1Char(':'));
    const int status = parts[0].toInt();
    if (status == 200)
        return Response::bytes(kPdf, "application/pdf");
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
            w_->RemoveDownloaderSlot(slot);
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
    QTRY_VERIFY_WITH_TIMEOUT(!w_->SlotLoaded(1), kNetworkMs);
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
    QTest::addColumn<QString>("firstReason");

    QTest::newRow("does a demand of more than an hour fail the row?")
        << QStringList{"429:7200"} << QList<double>{3600} << QStringLiteral("超过一小时");
    QTest::newRow("do five failures in a row hold the site until it is resumed?")
        << QStringList{"500", "500", "500", "500", "500"} << QList<double>{0, 0, 0, 0, -1}
        << QStringLiteral("服务器返回 500");
    QTest::newRow("does Retry-After set the pause?")
        << QStringList{"429:5", "200"} << QList<double>{5, 0} << QString();
    QTest::newRow("does the pause double when none is named?")
        << QStringList{"429", "503", "200"} << QList<double>{10, 20, 0} << QString();
}

void MannersTest::howIsPushBackHonoured() {
    QFETCH(QStringList, answers);
    QFETCH(QList<double>, pauses);
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
    if (firstReason.isEmpty()) {
        QCOMPARE(w_->ListItems3->SmallIcon(1), int(ItemState::Completed));
    } else {
        QCOMPARE(w_->ListItems3->SmallIcon(1), int(ItemState::Failed));
        QVERIFY2(reason.contains(firstReason), qPrintable(reason));
    }
    if (pauses.last() >= 0)
        return;
    // Held: the site's waiting row says why, nothing starts, and the list command resumes it.
    QCOMPARE(RowFailureReason(*w_->ListItems3, 6), kSiteHeldReason);
    services_->clock.advance(3600);
    tickAndWait();
    QCOMPARE(pushing.requestCount(), answers.size());
    w_->menu恢复暂停的网站_Click();
    QCOMPARE(RowFailureReason(*w_->ListItems3, 6), QString());
    tickAndWait();
    QCOMPARE(pushing.requestCount(), answers.size() + 1);
    QTRY_COMPARE_WITH_TIMEOUT(w_->ListItems3->SmallIcon(6), int(ItemState::Completed), kNetworkMs);
}

void MannersTest::howDoesABotCheckHandOverEnd_data() {
    QTest::addColumn<QString>("ending");
    QTest::addColumn<int>("endState");
    QTest::addColumn<QString>("endReason");
    QTest::newRow("do the site's rows fail after five minutes without the check passed?")
        << "five minutes" << int(ItemState::Failed) << QStringLiteral("5分钟内未完成网站验证");
    QTest::newRow("does the user's stop end the wait?")
        << "stop" << int(ItemState::Failed) << QStringLiteral("下载已停止");
    QTest::newRow("do they go again once the browser shows the article?")
        << "passed" << int(ItemState::Completed) << QString();
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
        if (request.header("Accept").contains("text/html"))
            return browserPasses ? Response::html(page(QStringLiteral("Article"), "text"))
                                 : challenge();
        if (!request.path.endsWith(QLatin1String(".pdf"))) // the browser's icon
            return Response::statusPage(404);
        if ((*plainAnswers)++ == 0 || challengedAgain)
            return challenge();
        return Response::bytes(kPdf, "application/pdf");
    });
    load(2);
    const QString host = QStringLiteral("127.0.0.1");
    const QString link = addRow(server.url("/one.pdf"), "one");
    addRow(server.url("/two.pdf"), "two");

    tickAndWait();
    // Both rows of the site wait for the user, and the search window shows why.
    QCOMPARE(w_->ListItems3->SmallIcon(1), int(ItemState::Waiting));
    QCOMPARE(w_->ListItems3->SmallIcon(2), int(ItemState::Waiting));
    QCOMPARE(w_->SiteCheckHost(), host);
    fWebSearch* search = qobject_cast<fWebSearch*>(Forms::Find(QStringLiteral("fWebSearch")));
    QVERIFY(search && search->isVisible() && search->LabelSiteCheck);
    QCOMPARE(search->LabelSiteCheck->text(),
             QStringLiteral("请在浏览器中完成网站验证，完成后将自动继续"));
    QVERIFY(search->LabelSiteCheck->isVisible());
    tickAndWait();
    QCOMPARE(*plainAnswers, 1);
    QTRY_COMPARE_WITH_TIMEOUT(search->WebBrowser1->LocationURL(), link, kNetworkMs);

    if (ending == QLatin1String("five minutes")) {
        services_->clock.advance(299);
        w_->Timer1_Timer();
        QCOMPARE(w_->ListItems3->SmallIcon(1), int(ItemState::Waiting));
        services_->clock.advance(1);
        w_->Timer1_Timer();
    } else if (ending == QLatin1String("stop")) {
        w_->Command31_Click();
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(w_->SiteCheckHost().isEmpty(), kNetworkMs);
        QVERIFY(!search->LabelSiteCheck->isVisible());
        tickAndWait();
        QCOMPARE(*plainAnswers, 2);
    }
    QCOMPARE(w_->ListItems3->SmallIcon(1), endState);
    const QString reason = RowFailureReason(*w_->ListItems3, 1);
    QVERIFY2(endReason.isEmpty() ? reason.isEmpty() : reason.contains(endReason),
             qPrintable(reason));
    QCOMPARE(w_->Pacing().IsThroughBrowser(host), challengedAgain);
    if (!browserPasses)
        QCOMPARE(w_->ListItems3->SmallIcon(2), int(ItemState::Failed));
}

QF_TEST_MAIN(MannersTest)
#include "test_manners.moc"

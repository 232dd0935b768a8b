#include "SessionFixture.h"
#include "TestEnvironment.h"

#include "core/download/HostPacing.h"
#include "core/download/Scheduler.h"
#include "core/download/WebPageDiagnosis.h"

#include <QDate>

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

// "429:5" is a 429 asking for 5 seconds, "500" a bare 500, "200" the file, "cut" the file cut
// short.
Response answerFor(const QString& answer) {
    const QStringList parts = answer.split(QLatin1Char(':'));
    const int status = parts[0].toInt();
    if (status == 200)
        return Response::bytes(kPdf, "application/pdf");
    if (answer == QLatin1String("cut")) {
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

// How the download session treats the sites it fetches from, against real servers: a page
// that came instead of the file says what it is, push-back pauses only its own site, and a
// site that keeps failing is held until the user resumes it, across runs too.
class MannersTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void whatDoesAPageInsteadOfTheFileShow_data();
    void whatDoesAPageInsteadOfTheFileShow();
    void howIsPushBackHonoured_data();
    void howIsPushBackHonoured();
    void isAPausedSiteLeftAloneAfterTheWindow_data();
    void isAPausedSiteLeftAloneAfterTheWindow();

private:
    void load(int mode);
    QString addRow(const QString& link, const QString& name);
    // One scheduler tick a moment after the last one; waits for what it started to end.
    void tickAndWait();

    DownloadSession& session() const { return *f_->session; }

    std::unique_ptr<SessionFixture> f_;
};

void MannersTest::init() {
    f_ = std::make_unique<SessionFixture>();
}

void MannersTest::cleanup() {
    f_.reset();
}

void MannersTest::load(int mode) {
    Program().DownloadMode = mode;
    session().Options().threadCount = 1; // one slot: the order of starts is the list's
    session().Pacing().SetMinimumSpacing(0);
}

QString MannersTest::addRow(const QString& link, const QString& name) {
    f_->addRow(link, name);
    return link;
}

void MannersTest::tickAndWait() {
    f_->services.clock.advance(0.5);
    session().Timer_Down_Timer();
    QTRY_VERIFY_WITH_TIMEOUT(!session().SlotLoaded(1), kNetworkMs);
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
    QTRY_VERIFY_WITH_TIMEOUT(session().ListItems3->SmallIcon(1) >= ItemState::Completed,
                             kNetworkMs);

    const QString shown = RowFailureReason(*session().ListItems3, 1);
    QVERIFY2(reason.isEmpty() ? shown.isEmpty() : shown.startsWith(reason), qPrintable(shown));
    QCOMPARE(RowWebPageKind(*session().ListItems3, 1).has_value(), !reason.isEmpty());
    QCOMPARE(StatusCountsWithPagesText(*session().ListItems3), counts);
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
    const int otherRow = session().ListItems3->PositionOfKey(otherLink);

    for (int i = 0; i < answers.size(); ++i) {
        tickAndWait();
        QCOMPARE(pushing.requestCount(), i + 1);
        const double pause = session().Pacing().SecondsUntilStart(host);
        QVERIFY2(qAbs(pause - pauses[i]) < 0.01,
                 qPrintable(QStringLiteral("after answer %1: %2").arg(i + 1).arg(pause)));
        if (pause == 0)
            continue;
        // The site waits; the other one goes on meanwhile.
        if (session().ListItems3->SmallIcon(otherRow) == ItemState::Waiting) {
            tickAndWait();
            QCOMPARE(pushing.requestCount(), i + 1);
            QCOMPARE(session().ListItems3->SmallIcon(otherRow), int(ItemState::Completed));
        }
        if (pause > 0 && i + 1 < answers.size())
            f_->services.clock.advance(pause);
    }

    const QString reason = RowFailureReason(*session().ListItems3, 1);
    QCOMPARE(session().ListItems3->SmallIcon(1), firstState);
    QVERIFY2(reason.contains(firstReason), qPrintable(reason));
    if (pauses.last() >= 0)
        return;
    // Held: the site's waiting row says why, nothing starts, and the list command resumes it.
    QCOMPARE(RowFailureReason(*session().ListItems3, 6), kSiteHeldReason);
    f_->services.clock.advance(3600);
    tickAndWait();
    QCOMPARE(pushing.requestCount(), answers.size());
    session().ResumePausedSites(); // 恢复暂停的网站
    QCOMPARE(RowFailureReason(*session().ListItems3, 6), QString());
    int next = 1;
    while (session().ListItems3->SmallIcon(next) != ItemState::Waiting)
        ++next;
    tickAndWait();
    QCOMPARE(pushing.requestCount(), answers.size() + 1);
    QTRY_COMPARE_WITH_TIMEOUT(session().ListItems3->SmallIcon(next), int(ItemState::Completed),
                              kNetworkMs);
}

void MannersTest::isAPausedSiteLeftAloneAfterTheWindow_data() {
    QTest::addColumn<bool>("restart"); // the clock too, else only the session is made anew
    QTest::addColumn<QString>("state");
    QTest::addColumn<double>("away");
    QTest::addColumn<int>("asked"); // requests after the session came back
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
        session().Pacing().NoteFailure(host);
    if (state == "browser")
        session().Pacing().MarkThroughBrowser(host);
    if (state == "answer")
        session().Pacing().GoOnToday(host, QDate::currentDate());
    session().Timer1_Timer(); // what the session keeps once a second
    const int before = server.requestCount();
    f_->restart([&] {
        f_->services.clock.advance(away);
        if (restart)
            f_->services.clock.restart();
    });

    load(2);
    QCOMPARE(session().Pacing().IsThroughBrowser(host), state == "browser");
    QCOMPARE(session().Pacing().GoesOnToday(host, QDate::currentDate()), state == "answer");
    if (asked < 0)
        return;
    addRow(link, "a");
    tickAndWait();
    QCOMPARE(server.requestCount(), before + asked);
}

QF_TEST_GUILESS_MAIN(MannersTest)
#include "test_session_manners.moc"

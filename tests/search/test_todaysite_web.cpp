#include "ResultPageFixture.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"
#include "TodaySiteFixture.h"
#include "WebTestHelper.h"

#include "core/app/ProgramValues.h"
#include "core/download/Citations.h"
#include "core/download/Naming.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/search/RecordMetadata.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"
#include "ui/platform/WebBrowser.h"
#include "ui/search/fWebSearch.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QNetworkCookie>
#include <QPushButton>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <functional>
#include <optional>

namespace {

const QString kNotice = QStringLiteral("请在浏览器中完成网站验证，完成后将自动继续");
const QString kSearchPath = QStringLiteral("/action/doSearch");
const QString kQuery = QStringLiteral("?AllField=cell&SeriesKey=science&sortBy=relevancy");

bool waitFor(const std::function<bool()>& condition, int ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        DoEvents();
    }
    return true;
}

QString pdfPath(const QString& doi) {
    return QStringLiteral("/doi/pdf/") + doi + QStringLiteral("?download=true");
}

} // namespace

// Today's search and issue pages in the real embedded browser, served on 127.0.0.1. The
// program's clock is a fake one that a timer moves while a run waits, so the pause between
// pages and the wait for the bot check take no real time and can be measured exactly.
class TodaySiteWebTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void threeSearchPagesGiveExactlyTheirSixtyArticles();
    void aDisabledNextArrowEndsTheRun();
    void anIssuePageIsOnePage();
    void linksStayOnTheHostAndPathThePageCameFrom();
    void aPassedCheckLetsTheRunGoOn();
    void aCheckThatNeverClearsEndsTheRunAndLeavesTheList();
    void theFormerMarkupIsReadBesideTodaysAndNamedByItsOwnRule();
    void doesEveryRecordCarryWhatItsPageShows_data();
    void doesEveryRecordCarryWhatItsPageShows();

private:
    fWebSearch* openWindow();
    void load(const QString& url);
    // Moves the fake clock while the run waits: 50 ms per 5 ms, or 5 s per 5 ms while the
    // window shows the bot check's notice and `hurryTheCheck` is set.
    void startClock(bool hurryTheCheck = false);
    void serveSearch(const TodaySearchSpec& spec,
                     const std::function<bool(const TestHttpServer::Request&)>& challenged = {});
    QStringList startPagesAsked() const;
    QStringList keys() const;

    TestServices services_{TestServices::ClockKind::Fake};
    FakeClock& clock_ = services_.clock;
    TestHttpServer server_;
    fWebSearch* search_ = nullptr;
    QTimer clockDriver_;
    bool hurry_ = false;
};

void TodaySiteWebTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(server_.isListening());
    clockDriver_.setInterval(5);
    connect(&clockDriver_, &QTimer::timeout, this, [this] {
        const bool check = search_ && search_->StatusPanel2->text() == kNotice;
        clock_.advance(hurry_ && check ? 5.0 : 0.05);
    });
}

void TodaySiteWebTest::init() {
    server_.clearRoutes();
    server_.clearRequests();
    Program().DefaultSaveFolder = services_.path("papers/");
    Program().UseLinkFileName = false;
    hurry_ = false;
}

void TodaySiteWebTest::cleanup() {
    clockDriver_.stop();
    search_ = nullptr;
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

fWebSearch* TodaySiteWebTest::openWindow() {
    search_ = Forms::fWebSearch();
    search_->show();
    Program().PromptSaveFolder = false; // no folder dialog while pages are added
    // Generous on the fake clock, which runs ten times faster than the real one.
    search_->Combo1->setEditText(QStringLiteral("600"));
    return search_;
}

void TodaySiteWebTest::load(const QString& url) {
    search_->WebBrowser1->Navigate(url);
    QVERIFY(waitFor([&] {
        return !search_->WebBrowser1->Busy() &&
               QUrl(search_->WebBrowser1->LocationURL()) == QUrl(url);
    }));
}

void TodaySiteWebTest::startClock(bool hurryTheCheck) {
    hurry_ = hurryTheCheck;
    clockDriver_.start();
}

void TodaySiteWebTest::serveSearch(
    const TodaySearchSpec& spec,
    const std::function<bool(const TestHttpServer::Request&)>& challenged) {
    server_.route(kSearchPath, [spec, challenged](const TestHttpServer::Request& request) {
        if (challenged && challenged(request)) {
            TestHttpServer::Response check = TestHttpServer::Response::html(ChallengePageHtml(1));
            check.status = 403; // as the site's check answers
            return check;
        }
        const int pageSize =
            request.queryItem("pageSize").isEmpty() ? 20 : request.queryItem("pageSize").toInt();
        return TestHttpServer::Response::html(
            TodaySearchPageHtml(spec, request.queryItem("startPage").toInt(), pageSize));
    });
}

QStringList TodaySiteWebTest::startPagesAsked() const {
    QStringList pages;
    for (const TestHttpServer::Request& r : server_.requestsFor(kSearchPath))
        pages << (r.query.contains("startPage=") ? r.queryItem("startPage") : QStringLiteral("-"));
    return pages;
}

QStringList TodaySiteWebTest::keys() const {
    QStringList all;
    for (int row = 1; row <= search_->ListItems->Count(); ++row)
        all << search_->ListItems->Key(row);
    return all;
}

void TodaySiteWebTest::threeSearchPagesGiveExactlyTheirSixtyArticles() {
    serveSearch(TodaySearchSpec());
    openWindow();
    load(server_.url(kSearchPath + kQuery));

    // When each page was asked for, against when the page before it was complete.
    QList<double> pauses;
    double completedAt = clock_.elapsedSeconds();
    connect(search_->WebBrowser1, &WebBrowser::DocumentComplete, this,
            [&] { completedAt = clock_.elapsedSeconds(); });
    connect(search_->WebBrowser1->page(), &QWebEnginePage::loadStarted, this,
            [&] { pauses << clock_.elapsedSeconds() - completedAt; });
    startClock();
    search_->Command4_Click();

    QCOMPARE(startPagesAsked(), QStringList({"-", "1", "2"})); // and none past the hits
    for (const TestHttpServer::Request& r : server_.requestsFor(kSearchPath)) {
        QCOMPARE(r.queryItem("AllField"), QStringLiteral("cell"));
        QCOMPARE(r.queryItem("SeriesKey"), QStringLiteral("science"));
        QCOMPARE(r.queryItem("sortBy"), QStringLiteral("relevancy"));
    }
    QCOMPARE(pauses.size(), 2);
    for (const double pause : pauses)
        QVERIFY2(pause >= 3.0, qPrintable(QString::number(pause)));

    QCOMPARE(search_->ListItems->Count(), 60);
    QCOMPARE(search_->Label1->text(), QStringLiteral("60"));
    for (int n = 1; n <= 60; ++n) {
        QCOMPARE(search_->ListItems->Key(n), server_.url(pdfPath(TodayArticleDoi(n))));
        QCOMPARE(search_->ListItems->Text(n), TodayArticleTitle(n));
        QCOMPARE(search_->ListItems->SubItem(n, 1), QStringLiteral("pdf"));
        QCOMPARE(search_->ListItems->SubItem(n, 3), Program().DefaultSaveFolder);
        const QString page = server_.url(kSearchPath + kQuery) +
                             (n > 20 ? QStringLiteral("&startPage=%1").arg((n - 1) / 20) : "");
        QCOMPARE(search_->ListItems->Tag(n), page);
    }
    const QString all = keys().join(' ');
    QVERIFY(!all.contains("9999"));
    for (const QString& decoy : TodayDecoyDois())
        QVERIFY2(!all.contains(decoy), qPrintable(decoy));
    QCOMPARE(search_->Command4->text(), QStringLiteral("加入全部到列表"));
    QVERIFY(search_->Command4->styleSheet().isEmpty());
}

void TodaySiteWebTest::aDisabledNextArrowEndsTheRun() {
    TodaySearchSpec spec;
    spec.hits = 1250;
    spec.hitText = QStringLiteral("1,250");
    spec.disabledArrowAt = 1;
    serveSearch(spec);
    openWindow();
    load(server_.url(kSearchPath + "?field1=AllField&text1=gene%20drive&pageSize=50"));
    startClock();
    search_->Command4_Click();

    QCOMPARE(startPagesAsked(), QStringList({"-", "1"}));
    const TestHttpServer::Request second = server_.requestsFor(kSearchPath).last();
    QCOMPARE(second.queryItem("text1"), QStringLiteral("gene drive"));
    QCOMPARE(second.queryItem("pageSize"), QStringLiteral("50"));
    QCOMPARE(search_->ListItems->Count(), 100);
    QCOMPARE(search_->ListItems->Key(100), server_.url(pdfPath(TodayArticleDoi(100))));
}

void TodaySiteWebTest::anIssuePageIsOnePage() {
    const TodayIssueSpec spec;
    const QString path = QStringLiteral("/toc/science/390/6771");
    server_.serveHtml(path, TodayIssuePageHtml(spec));
    openWindow();
    load(server_.url(path));
    startClock();
    search_->Command4_Click();

    const QList<int> articles = TodayIssueArticles(spec);
    QCOMPARE(articles.size(), 12);
    QStringList expected;
    for (const int n : articles)
        expected << server_.url(pdfPath(TodayArticleDoi(n)));
    QCOMPARE(keys(), expected); // the repeated article once, the cover and the aside never
    QCOMPARE(search_->ListItems->Text(12), TodayArticleTitle(12));
    QCOMPARE(search_->ListItems->Tag(1), server_.url(path));
    // The run added the issue and ended there: nothing else was asked for.
    QCOMPARE(server_.requestsFor(path).size(), 1);
    QCOMPARE(search_->WebBrowser1->LocationURL(), server_.url(path));

    search_->ListItems->Clear();
    search_->Command9_Click();
    QCOMPARE(keys(), expected);
}

void TodaySiteWebTest::linksStayOnTheHostAndPathThePageCameFrom() {
    // The institution's proxy is a server of its own; the pages it shows link to the
    // journal's host (this server), as a page whose links the proxy left alone would.
    TestHttpServer proxy;
    QVERIFY(proxy.isListening());
    const QString base = QStringLiteral("<head><base href=\"%1/\">").arg(server_.baseUrl());
    const QString issuePath = QStringLiteral("/https/www.science.org/toc/science/current");
    proxy.serveHtml(issuePath, TodayIssuePageHtml(TodayIssueSpec()).replace("<head>", base));
    TodaySearchSpec spec;
    spec.hits = 5;
    spec.hitText = QStringLiteral("5");
    proxy.serveHtml(kSearchPath, TodaySearchPageHtml(spec, 0, 20).replace("<head>", base));
    openWindow();

    load(proxy.url(issuePath));
    search_->Command9_Click();
    QCOMPARE(search_->ListItems->Count(), 12);
    QCOMPARE(search_->ListItems->Key(1),
             proxy.url(QStringLiteral("/https/www.science.org") + pdfPath(TodayArticleDoi(1))));

    search_->ListItems->Clear();
    load(proxy.url(kSearchPath + kQuery));
    search_->Command9_Click();
    QCOMPARE(search_->ListItems->Count(), 5);
    for (int n = 1; n <= 5; ++n)
        QCOMPARE(search_->ListItems->Key(n), proxy.url(pdfPath(TodayArticleDoi(n))));
    QVERIFY(!keys().join(' ').contains(server_.baseUrl()));
}

void TodaySiteWebTest::aPassedCheckLetsTheRunGoOn() {
    // The second page stands behind the check until the browser holds its pass.
    serveSearch(TodaySearchSpec(), [](const TestHttpServer::Request& r) {
        return r.queryItem("startPage") == "1" && !r.hasCookie("cf_clearance");
    });
    openWindow();
    load(server_.url(kSearchPath + kQuery));

    // Once the window asks the user to pass the check, the user does: the browser gets the
    // pass, and the check's page reloads itself as the real one does.
    int rowsDuringTheCheck = -1;
    QTimer user;
    user.setInterval(20);
    connect(&user, &QTimer::timeout, this, [&] {
        if (search_->StatusPanel2->text() != kNotice)
            return;
        rowsDuringTheCheck = search_->ListItems->Count();
        QNetworkCookie pass("cf_clearance", "passed");
        pass.setPath("/");
        search_->WebBrowser1->page()->profile()->cookieStore()->setCookie(pass,
                                                                          QUrl(server_.baseUrl()));
        user.stop();
    });
    user.start();
    startClock();
    search_->Command4_Click();

    QCOMPARE(rowsDuringTheCheck, 20); // the check's page added nothing
    QCOMPARE(search_->ListItems->Count(), 60);
    for (int n = 1; n <= 60; ++n)
        QCOMPARE(search_->ListItems->Key(n), server_.url(pdfPath(TodayArticleDoi(n))));
    QVERIFY(!keys().join(' ').contains("science.inside"));
    const QStringList asked = startPagesAsked();
    QVERIFY2(asked.count("1") >= 2 && asked.endsWith("2") && !asked.contains("3"),
             qPrintable(asked.join(',')));
    QVERIFY(server_.requestsFor(ChallengeFormPath()).isEmpty());
    QVERIFY(search_->StatusPanel2->text() != kNotice);
    search_->WebBrowser1->page()->profile()->cookieStore()->deleteAllCookies();
}

void TodaySiteWebTest::aCheckThatNeverClearsEndsTheRunAndLeavesTheList() {
    serveSearch(TodaySearchSpec(), [](const TestHttpServer::Request&) { return true; });
    openWindow();
    for (int i = 1; i <= 3; ++i)
        search_->加入LV1(QStringLiteral("Kept %1").arg(i),
                         QStringLiteral("http://127.0.0.1/kept/%1.pdf").arg(i), "p", "pdf", "");
    const QStringList before = keys();
    load(server_.url(kSearchPath + kQuery));
    startClock(true);

    // The stop button ends the wait at once.
    QTimer stopper;
    stopper.setInterval(20);
    connect(&stopper, &QTimer::timeout, this, [&] {
        if (search_->StatusPanel2->text() == kNotice) {
            search_->Command4->click();
            stopper.stop();
        }
    });
    stopper.start();
    double start = clock_.elapsedSeconds();
    search_->Command4_Click();
    QVERIFY(!stopper.isActive());
    QVERIFY(clock_.elapsedSeconds() - start < 300);
    QCOMPARE(keys(), before);

    // Left alone, it gives up after five minutes.
    start = clock_.elapsedSeconds();
    search_->Command4_Click();
    const double waited = clock_.elapsedSeconds() - start;

    QVERIFY2(waited >= 300 && waited < 330, qPrintable(QString::number(waited)));
    QCOMPARE(keys(), before);
    QCOMPARE(search_->ListItems->Text(3), QStringLiteral("Kept 3"));
    QCOMPARE(search_->Command4->text(), QStringLiteral("加入全部到列表"));
    QVERIFY(search_->StatusPanel2->text() != kNotice);
    // Nothing on the check was touched, and the run never moved on to another page.
    QVERIFY(server_.requestsFor(ChallengeFormPath()).isEmpty());
    QVERIFY(!startPagesAsked().contains("1"));
}

void TodaySiteWebTest::theFormerMarkupIsReadBesideTodaysAndNamedByItsOwnRule() {
    ResultPageSpec former;
    former.entries = 10;
    server_.route(former.searchPath, [former](const TestHttpServer::Request& request) {
        ResultPageSpec page = former;
        page.firstIndex = request.queryItem("FIRSTINDEX").toInt();
        page.pageLinks = {page.firstIndex == 0 ? 10 : 0};
        return TestHttpServer::Response::html(ResultPageHtml(page));
    });
    TodaySearchSpec today;
    today.hits = 3;
    today.hitText = QStringLiteral("3");
    serveSearch(today);
    openWindow();
    startClock();

    // Today's page, the former list of two pages (paged by FIRSTINDEX), today's page again.
    load(server_.url(kSearchPath + kQuery));
    search_->Command9_Click();
    load(server_.url(ResultPagePath(former, 0)));
    search_->Command4_Click();
    QCOMPARE(search_->CurrentFirstIndex(), 10);
    load(server_.url(kSearchPath + kQuery));
    search_->Command9_Click();

    QList<ResultPageRecord> formerRecords = ResultPageRecords(former);
    ResultPageSpec second = former;
    second.firstIndex = 10;
    formerRecords << ResultPageRecords(second);
    QCOMPARE(search_->ListItems->Count(), 3 + formerRecords.size());
    for (int i = 0; i < formerRecords.size(); ++i) {
        QCOMPARE(search_->ListItems->Key(4 + i), server_.url(formerRecords[i].link));
        QCOMPARE(search_->ListItems->Text(4 + i), formerRecords[i].title);
    }

    // "原文件名": today's files after their DOI, the former ones by the link's own name.
    Program().UseLinkFileName = true;
    Program().PromptSaveFolder = true; // the folder was chosen already: no dialog
    search_->RunAnalysis(fWebSearch::AnalysisRun::All);
    const KeyedListModel& downloads = *Forms::fFileDownload()->ListItems3;
    QCOMPARE(downloads.Count(), search_->ListItems->Count());
    QCOMPARE(downloads.Text(1), QStringLiteral("science.abc0001"));
    QCOMPARE(downloads.Text(2), QStringLiteral("science.abc0002"));
    for (int i = 0; i < formerRecords.size(); ++i) {
        const QString link = server_.url(formerRecords[i].link);
        QCOMPARE(downloads.Text(downloads.PositionOfKey(link)),
                 CleanFileName(FileNameFromLink(link, true)));
    }
    Program().PromptSaveFolder = false;
}

// The fixtures' {authors, date, journal, volume, issue, pages, kind}.
QStringList facts(const ArticleMetadata& m) {
    return {m.authors.join(QStringLiteral("; ")),
            m.date,
            m.journal,
            m.volume,
            m.issue,
            m.pages,
            m.kind};
}

void TodaySiteWebTest::doesEveryRecordCarryWhatItsPageShows_data() {
    QTest::addColumn<QString>("page"); // "search", "issue" or "former"
    QTest::newRow("today's search page, each card missing one field") << "search";
    QTest::newRow("today's issue page: what a card lacks, its address may say") << "issue";
    QTest::newRow("the former result list, each entry missing one field") << "former";
}

void TodaySiteWebTest::doesEveryRecordCarryWhatItsPageShows() {
    QFETCH(QString, page);
    QString path = kSearchPath + kQuery;
    QList<QStringList> expected;
    QStringList titles;
    if (page == "search") {
        TodaySearchSpec spec;
        spec.hits = 20;
        serveSearch(spec);
        for (int n = 1; n <= 20; ++n) {
            expected << TodayArticleFacts(n);
            titles << TodayArticleTitle(n);
        }
    } else if (page == "issue") {
        path = QStringLiteral("/toc/science/390/6771");
        server_.serveHtml(path, TodayIssuePageHtml(TodayIssueSpec{}));
        for (const int n : TodayIssueArticles(TodayIssueSpec{})) {
            expected << TodayArticleFacts(n, true);
            titles << TodayArticleTitle(n);
        }
    } else {
        ResultPageSpec former;
        former.entries = 12;
        former.brokenMarkup = true;
        path = ResultPagePath(former, 0);
        server_.serveHtml(former.searchPath, ResultPageHtml(former));
        for (int n = 1; n <= 12; ++n) {
            expected << ResultPageEntryFacts(n);
            titles << ResultPageEntryTitle(n);
        }
    }
    openWindow();
    load(server_.url(path));
    search_->Command9_Click();
    QCOMPARE(search_->ListItems->Count(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(facts(RecordMetadata(*search_->ListItems, i + 1)), expected[i]);

    // The download rows keep the same, with the title as the page gave it.
    Program().PromptSaveFolder = true;
    search_->RunAnalysis(fWebSearch::AnalysisRun::All);
    Program().PromptSaveFolder = false;
    const KeyedListModel& downloads = *Forms::fFileDownload()->ListItems3;
    QCOMPARE(downloads.Count(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const ArticleMetadata kept = RowMetadata(downloads, i + 1);
        QCOMPARE(facts(kept), expected[i]);
        QCOMPARE(kept.title, titles[i]);
    }
}

QF_TEST_MAIN(TodaySiteWebTest)
#include "test_todaysite_web.moc"

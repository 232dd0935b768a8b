#include "ResultPageFixture.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"

#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/platform/Clock.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Registry.h"
#include "ui/app/Forms.h"
#include "ui/platform/WebBrowser.h"
#include "ui/search/fWebSearch.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QWebEnginePage>

#include <functional>

// The search window in the real embedded browser, against result pages served on 127.0.0.1.
class WebSearchTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void loadingReadsTheStoredTimeOutAndClosingStoresIt();
    void addPageTakesEveryListedArticleOnce();
    void addAllPagesThroughTheWholeListAndEndsIdle();
    void aSecondPressStopsTheRun();
    void aTimeOutThatIsNoNumberEndsTheRunAfterTheShownPage();
    void aFirstPageWithNoEntriesEndsTheRunQuietly();
    void closingTheWindowDuringARunEndsItCleanly();
    void sloppyAndHugePagesGiveTheRecordsTheyHold();
    void clearingCommandsOnThousandsOfRows();
    void clearingIsRefusedWhileAnAnalysisRuns();
    void exportWritesTitlesTypesAndStatuses();
    void typedAddressesAndHistory();
    void theNextPageAddressIsDecodedOnce();
    void aSlowPageCopyIsAskedForOnceMore();
    void aPageThatCannotBeCopiedInTimeEndsTheRunAndSaysSo();

private:
    fWebSearch* openWindow();
    // Waits (letting events run) until the condition holds or the time is up.
    static bool waitFor(const std::function<bool()>& condition, int ms = 20000);
    void serveResultList(int pages, int entriesPerPage);
    QString firstPageUrl() const { return server_.url(ResultPagePath(spec_, 0)); }
    int requestsForIndex(int firstIndex) const;
    void fillList(fWebSearch* search, int rows);
    // Keeps the shown page's scripts busy for `ms`, from now: the browser answers no copy
    // request meanwhile, as with a very large page on a slow machine.
    static void keepPageBusy(fWebSearch* search, int ms);

    // The real clock: paging waits on the real browser.
    TestServices services_{TestServices::ClockKind::Real};
    ScriptedPrompt& prompt_ = services_.prompt;
    SettingsStore& settings_ = services_.settings;
    TestHttpServer server_;
    ResultPageSpec spec_;
    int testNumber_ = 0;
};

void WebSearchTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(server_.isListening());
    Program().PromptSaveFolder = false;
}

void WebSearchTest::init() {
    prompt_.clear();
    server_.clearRoutes();
    server_.clearRequests();
    spec_ = ResultPageSpec();
    // A path of its own for every test: a page request of the test before may still arrive.
    spec_.searchPath = QStringLiteral("/t%1/search").arg(++testNumber_);
    Program().DefaultSaveFolder = services_.path("papers/");
}

void WebSearchTest::cleanup() {
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool WebSearchTest::waitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        DoEvents();
    }
    return true;
}

fWebSearch* WebSearchTest::openWindow() {
    fWebSearch* search = Forms::fWebSearch();
    search->show();
    // Loading read the stored choice; these tests add pages without the folder dialog.
    Program().PromptSaveFolder = false;
    return search;
}

// A result list of `pages` pages; each page links to every other page, as the journal's pages
// do, so the last page's links all stop below its own FIRSTINDEX.
void WebSearchTest::serveResultList(int pages, int entriesPerPage) {
    spec_.entries = entriesPerPage;
    const ResultPageSpec base = spec_;
    server_.route(spec_.searchPath, [base, pages](const TestHttpServer::Request& request) {
        ResultPageSpec page = base;
        page.firstIndex = request.queryItem("FIRSTINDEX").toInt();
        if (page.firstIndex >= pages * 10)
            page.entries = 0;
        for (int p = 0; p < pages; ++p) {
            if (p * 10 != page.firstIndex)
                page.pageLinks << p * 10;
        }
        return TestHttpServer::Response::html(ResultPageHtml(page));
    });
}

int WebSearchTest::requestsForIndex(int firstIndex) const {
    int count = 0;
    for (const TestHttpServer::Request& r : server_.requestsFor(spec_.searchPath)) {
        if (r.queryItem("FIRSTINDEX").toInt() == firstIndex &&
            (firstIndex != 0 || r.queryItem("FIRSTINDEX").isEmpty()))
            ++count;
    }
    return count;
}

void WebSearchTest::fillList(fWebSearch* search, int rows) {
    for (int i = 1; i <= rows; ++i) {
        const QString title = i % 3 == 0 ? QStringLiteral("Cell PDF study %1").arg(i)
                                         : QStringLiteral("光合作用 paper %1").arg(i);
        search->加入LV1(title, QStringLiteral("http://127.0.0.1/pdf/%1").arg(i), "page", "pdf", "");
    }
    search->RefreshRowCount();
}

void WebSearchTest::keepPageBusy(fWebSearch* search, int ms) {
    search->WebBrowser1->page()->runJavaScript(
        QStringLiteral("{ const end = Date.now() + %1; while (Date.now() < end) {} }").arg(ms));
}

void WebSearchTest::loadingReadsTheStoredTimeOutAndClosingStoresIt() {
    settings_.Write(Keys::SearchTimeout, QStringLiteral("slow"));
    settings_.Write(Keys::PromptSaveFolder, 1);
    Program().PromptSaveFolder = false;
    fWebSearch* search = Forms::fWebSearch();
    QCOMPARE(search->windowTitle(), QStringLiteral("Science数据检索分析-Quillfetch"));
    QCOMPARE(search->Combo1->currentText(), QStringLiteral("slow")); // shown as stored
    QVERIFY(Program().PromptSaveFolder);
    QVERIFY(search->StopAnalysis);
    QCOMPARE(search->ListItems->Headers(), QStringList({"标题", "类型", "分析状态", "保存路径"}));
    QCOMPARE(search->Label1->text(), QStringLiteral("0"));
    // The browser gets four fifths of the height, the list the rest.
    QTRY_VERIFY(search->PicBar->sizes().value(0) > 3 * search->PicBar->sizes().value(1));
    QVERIFY(search->PicBar->sizes().value(1) > 40);

    search->Combo1->setEditText(QStringLiteral("90"));
    search->close();
    QCOMPARE(settings_.Read(Keys::SearchTimeout), QStringLiteral("90"));
    Program().PromptSaveFolder = false;
}

void WebSearchTest::addPageTakesEveryListedArticleOnce() {
    spec_.withoutTitle = {2};
    spec_.withoutPdfLink = {5};
    serveResultList(1, 10);
    fWebSearch* search = openWindow();
    search->WebBrowser1->Navigate(firstPageUrl());
    QVERIFY(waitFor([&] { return !search->WebBrowser1->Busy(); }));

    search->StatusPanel3->setText(QStringLiteral("本次分析成功：40条")); // an earlier run's
    search->Command9_Click();
    const QList<ResultPageRecord> expected = ResultPageRecords(spec_);
    QCOMPARE(expected.size(), 8);
    // The harvest's own count replaces what an earlier analysis run said.
    QVERIFY2(search->StatusPanel3->text().contains("8条"),
             qPrintable(search->StatusPanel3->text()));
    QCOMPARE(search->ListItems->Count(), expected.size());
    QCOMPARE(search->Label1->text(), QStringLiteral("8"));
    for (int i = 0; i < expected.size(); ++i) {
        const int row = i + 1;
        QCOMPARE(search->ListItems->Text(row), expected[i].title);
        QCOMPARE(search->ListItems->Key(row), server_.url(expected[i].link));
        QCOMPARE(search->ListItems->SubItem(row, 1), QStringLiteral("pdf"));
        QCOMPARE(search->ListItems->SubItem(row, 2), QString());
        QCOMPARE(search->ListItems->SubItem(row, 3), Program().DefaultSaveFolder);
        QCOMPARE(search->ListItems->Tag(row), firstPageUrl());
    }

    // The same page again adds nothing and keeps the first rows' values.
    Program().DefaultSaveFolder = "/elsewhere/";
    search->Command9_Click();
    QCOMPARE(search->ListItems->Count(), 8);
    QVERIFY(search->StatusPanel3->text().contains("0条"));
    QCOMPARE(search->ListItems->SubItem(1, 3), services_.path("papers/"));
}

void WebSearchTest::addAllPagesThroughTheWholeListAndEndsIdle() {
    serveResultList(3, 10);
    fWebSearch* search = openWindow();
    search->WebBrowser1->Navigate(firstPageUrl());
    QVERIFY(waitFor([&] { return !search->WebBrowser1->Busy(); }));

    search->Command4_Click();

    QCOMPARE(search->ListItems->Count(), 30);
    QSet<QString> titles;
    for (int row = 1; row <= 30; ++row)
        titles.insert(search->ListItems->Text(row));
    QCOMPARE(titles.size(), 30);
    QCOMPARE(search->Label1->text(), QStringLiteral("30"));
    QCOMPARE(search->CurrentFirstIndex(), 20); // ended on the last page
    QCOMPARE(requestsForIndex(30), 0);         // and never asked past it
    QCOMPARE(search->Command4->text(), QStringLiteral("加入全部到列表"));
    QVERIFY(search->Command4->styleSheet().isEmpty());
    QVERIFY(!search->PageLoading);
    // Records keep the page they were found on.
    const int lastRow =
        search->ListItems->PositionOfKey(server_.url(ResultPageEntryLink(spec_, 30)));
    QVERIFY(lastRow > 0);
    QVERIFY(search->ListItems->Tag(lastRow).contains("FIRSTINDEX=20"));
}

void WebSearchTest::aSecondPressStopsTheRun() {
    serveResultList(50, 10);
    fWebSearch* search = openWindow();
    search->WebBrowser1->Navigate(firstPageUrl());
    QVERIFY(waitFor([&] { return !search->WebBrowser1->Busy(); }));

    bool sawRunning = false;
    QTimer stopper;
    stopper.setInterval(20);
    connect(&stopper, &QTimer::timeout, this, [&] {
        if (search->CurrentFirstIndex() >= 20) {
            sawRunning = search->Command4->text() == QStringLiteral("停止加入全部");
            search->Command4->click();
            stopper.stop();
        }
    });
    stopper.start();
    search->Command4_Click();

    QVERIFY(sawRunning);
    QVERIFY(search->CurrentFirstIndex() < 60);
    QVERIFY(search->ListItems->Count() < 80);
    QVERIFY(search->ListItems->Count() >= 20); // the pages before the stop are all in
    QCOMPARE(search->Command4->text(), QStringLiteral("加入全部到列表"));
}

void WebSearchTest::aTimeOutThatIsNoNumberEndsTheRunAfterTheShownPage() {
    serveResultList(3, 10);
    fWebSearch* search = openWindow();
    search->WebBrowser1->Navigate(firstPageUrl());
    QVERIFY(waitFor([&] { return !search->WebBrowser1->Busy(); }));
    search->Combo1->setEditText(QStringLiteral("一分钟"));

    search->Command4_Click();

    QVERIFY(search->ListItems->ContainsKey(server_.url(ResultPageEntryLink(spec_, 1))));
    QVERIFY(search->ListItems->ContainsKey(server_.url(ResultPageEntryLink(spec_, 10))));
    QCOMPARE(requestsForIndex(20), 0);
    QCOMPARE(search->Command4->text(), QStringLiteral("加入全部到列表"));
}

void WebSearchTest::aFirstPageWithNoEntriesEndsTheRunQuietly() {
    serveResultList(0, 0);
    fWebSearch* search = openWindow();
    search->WebBrowser1->Navigate(firstPageUrl());
    QVERIFY(waitFor([&] { return !search->WebBrowser1->Busy(); }));

    search->Command4_Click();

    QCOMPARE(search->ListItems->Count(), 0);
    // The first page has no FIRSTINDEX: the next one is tried, and it has no page links.
    QCOMPARE(requestsForIndex(10), 1);
    QCOMPARE(requestsForIndex(20), 0);
    QCOMPARE(search->Label1->text(), QStringLiteral("0"));
    QVERIFY(prompt_.shown().isEmpty());
}

void WebSearchTest::closingTheWindowDuringARunEndsItCleanly() {
    serveResultList(50, 10);
    QPointer<fWebSearch> search = openWindow();
    search->WebBrowser1->Navigate(firstPageUrl());
    QVERIFY(waitFor([&] { return !search->WebBrowser1->Busy(); }));

    QTimer::singleShot(1500, search, [search] { search->close(); });
    search->Command4_Click();
    // The run saw the close, stopped, and only then let the window go.
    QVERIFY(!IsFormLoaded("fWebSearch"));
    QVERIFY(search);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!search);
    QVERIFY(requestsForIndex(100) == 0);
    QVERIFY(Forms::Find("fCover") && Forms::Find("fCover")->isVisible());
}

void WebSearchTest::sloppyAndHugePagesGiveTheRecordsTheyHold() {
    fWebSearch* search = openWindow();
    struct Case {
        const char* name;
        ResultPageSpec spec;
    };
    ResultPageSpec broken;
    broken.brokenMarkup = true;
    broken.withoutTitle = {0, 7};
    broken.withoutPdfLink = {3};
    ResultPageSpec huge;
    huge.entries = 2000;
    huge.searchPath = "/huge";
    for (const ResultPageSpec& spec : {broken, huge}) {
        server_.serveHtml(ResultPagePath(spec, 0).section('?', 0, 0), ResultPageHtml(spec));
        search->ListItems->Clear();
        search->WebBrowser1->Navigate(server_.url(ResultPagePath(spec, 0)));
        QVERIFY(waitFor([&] { return !search->WebBrowser1->Busy(); }));
        search->Command9_Click();
        const QList<ResultPageRecord> expected = ResultPageRecords(spec);
        QCOMPARE(search->ListItems->Count(), expected.size());
        for (const ResultPageRecord& record : expected)
            QVERIFY2(search->ListItems->ContainsKey(server_.url(record.link)),
                     qPrintable(record.link));
    }
}

void WebSearchTest::clearingCommandsOnThousandsOfRows() {
    fWebSearch* search = openWindow();
    fillList(search, 6000);
    QCOMPARE(search->Label1->text(), QStringLiteral("6000"));

    // Adjacent selected rows all go.
    for (int row = 10; row <= 2009; ++row)
        search->ListItems->SetSelected(row, true);
    search->menu清除选中项_Click();
    QCOMPARE(search->ListItems->Count(), 4000);
    QCOMPARE(search->Label1->text(), QStringLiteral("4000"));
    QCOMPARE(search->ListItems->Text(10), QStringLiteral("Cell PDF study 2010"));
    QCOMPARE(search->ListItems->Text(9), QStringLiteral("Cell PDF study 9"));

    for (int row = 1; row <= 4000; row += 2)
        search->ListItems->SetSubItem(row, 2, QStringLiteral("成功"));
    search->ListItems->SetSubItem(2, 2, QStringLiteral("成功 "));
    search->menu清除分析成功项_Click();
    QCOMPARE(search->ListItems->Count(), 2000);

    prompt_.answerText(QStringLiteral("pdf")); // case-blind: "PDF" titles go
    search->menu清除标题含指定字符项_Click();
    for (int row = 1; row <= search->ListItems->Count(); ++row)
        QVERIFY(!search->ListItems->Text(row).contains("PDF"));
    const int withoutPdf = search->ListItems->Count();
    QVERIFY(withoutPdf > 0 && withoutPdf < 2000);

    prompt_.answerText(QStringLiteral("paper 3")); // keep only titles with "paper 3"
    search->menu清除标题不含指定字符项_Click();
    for (int row = 1; row <= search->ListItems->Count(); ++row)
        QVERIFY(search->ListItems->Text(row).contains("paper 3"));
    QVERIFY(search->ListItems->Count() > 0);

    const int before = search->ListItems->Count();
    prompt_.answerCancel();
    search->menu清除标题含指定字符项_Click();
    prompt_.answerText(QString());
    search->menu清除标题不含指定字符项_Click();
    QCOMPARE(search->ListItems->Count(), before);

    prompt_.answer(MsgResult::No);
    search->menu清空全部_Click();
    QCOMPARE(search->ListItems->Count(), before);
    prompt_.answer(MsgResult::Yes);
    search->menu清空全部_Click();
    QCOMPARE(search->ListItems->Count(), 0);
    QCOMPARE(search->Label1->text(), QStringLiteral("0"));
    QCOMPARE(prompt_.messages().last(), QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？"));
    QCOMPARE(prompt_.shown().last().icon, MsgIcon::Question);
    QCOMPARE(prompt_.unanswered(), 0);
}

void WebSearchTest::clearingIsRefusedWhileAnAnalysisRuns() {
    fWebSearch* search = openWindow();
    fillList(search, 5);
    search->StopAnalysis = false;
    search->ListItems->SetSelected(1, true);
    search->menu清除选中项_Click();
    search->menu清空全部_Click();
    QCOMPARE(search->ListItems->Count(), 5);
    QCOMPARE(prompt_.messages(), QStringList({"正在分析，不能清除！", "正在分析，不能清除！"}));
    QCOMPARE(prompt_.shown().first().icon, MsgIcon::Error);
    search->StopAnalysis = true;
}

void WebSearchTest::exportWritesTitlesTypesAndStatuses() {
    fWebSearch* search = openWindow();
    search->Command7_Click(); // empty list: no dialog at all
    QVERIFY(prompt_.shown().isEmpty());

    fillList(search, 3000);
    search->ListItems->SetSubItem(1, 2, QStringLiteral("成功"));
    search->ListItems->SetText(2, QStringLiteral("Café ∑ α-helix"));
    const QString path = services_.path("export");
    prompt_.answerText(path);
    search->Command7_Click();

    QFile file(path + ".txt");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QStringDecoder gb18030("GB18030");
    const QString text = gb18030.decode(bytes);
    QVERIFY(!gb18030.hasError());
    const QStringList lines = text.split("\r\n");
    QCOMPARE(lines.size(), 3001); // the last line end leaves an empty tail
    QCOMPARE(lines[0], QStringLiteral("光合作用 paper 1-【pdf】成功"));
    QCOMPARE(lines[1], QStringLiteral("Café ∑ α-helix-【pdf】"));
    QCOMPARE(text.count(QStringLiteral("\r\n")), 3000);
    QCOMPARE(text.count('\n'), 3000); // no bare line feeds
    QCOMPARE(prompt_.messages().size(), 1);
    QVERIFY(prompt_.messages().first().startsWith(QStringLiteral("保存文件完毕：")));
    QVERIFY(prompt_.messages().first().endsWith(QStringLiteral("KB")));
    QCOMPARE(prompt_.shown().last().icon, MsgIcon::Information);

    // A cancelled dialog writes nothing and says nothing.
    prompt_.clear();
    prompt_.answerText(QString());
    search->Command7_Click();
    QCOMPARE(prompt_.messages().size(), 0);
}

void WebSearchTest::typedAddressesAndHistory() {
    spec_.entries = 1;
    server_.serveHtml("/one", "<title>one</title><a id=x href='/two'>next</a>");
    server_.serveHtml("/two", "<title>two</title>second page");
    fWebSearch* search = openWindow();

    prompt_.answerText(QStringLiteral("  ") + server_.url("/one") + QStringLiteral("  "));
    search->menu打开指定网址_Click();
    QVERIFY(waitFor([&] { return search->WebBrowser1->LocationURL() == server_.url("/one"); }));
    QVERIFY(waitFor([&] { return !search->WebBrowser1->Busy(); }));
    QCOMPARE(prompt_.shown().first().title, QStringLiteral("请输入..."));
    QCOMPARE(prompt_.shown().first().text, QStringLiteral("请输入需要打开的网址："));

    search->WebBrowser1->Navigate(server_.url("/two"));
    QVERIFY(waitFor([&] {
        return !search->WebBrowser1->Busy() &&
               search->WebBrowser1->LocationURL() == server_.url("/two");
    }));
    search->menu后退_Click();
    QVERIFY(waitFor([&] { return search->WebBrowser1->LocationURL() == server_.url("/one"); }));
    search->menu前进_Click();
    QVERIFY(waitFor([&] { return search->WebBrowser1->LocationURL() == server_.url("/two"); }));

    // A cancelled or blank answer goes nowhere.
    prompt_.answerCancel();
    search->menu打开指定网址_Click();
    prompt_.answerText(QStringLiteral("   "));
    search->menu打开指定网址_Click();
    DoEvents();
    QCOMPARE(search->WebBrowser1->LocationURL(), server_.url("/two"));
}

void WebSearchTest::theNextPageAddressIsDecodedOnce() {
    serveResultList(1, 1);
    fWebSearch* search = openWindow();
    // The address itself carries an escaped "&amp;", as a link copied from a page's source
    // would; one level of escaping goes on the way to the next page, not two.
    search->WebBrowser1->Navigate(firstPageUrl() + QStringLiteral("&amp;amp;tag=y"));
    QVERIFY(waitFor([&] { return !search->WebBrowser1->Busy(); }));
    QVERIFY(search->WebBrowser1->LocationURL().endsWith(QStringLiteral("&amp;amp;tag=y")));

    QVERIFY(search->下一页());
    QCOMPARE(requestsForIndex(10), 1);
    QCOMPARE(server_.lastRequest().query,
             ResultPagePath(spec_, 0).section('?', 1) + QStringLiteral("&amp;tag=y&FIRSTINDEX=10"));
}

void WebSearchTest::aSlowPageCopyIsAskedForOnceMore() {
    serveResultList(1, 10);
    fWebSearch* search = openWindow();
    search->WebBrowser1->Navigate(firstPageUrl());
    QVERIFY(waitFor([&] { return !search->WebBrowser1->Busy(); }));

    // Busy for longer than one time-out, shorter than two: the second request is answered.
    search->Combo1->setEditText(QStringLiteral("2"));
    keepPageBusy(search, 3000);
    QElapsedTimer timer;
    timer.start();
    search->Command9_Click();

    QVERIFY2(timer.elapsed() >= 2000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(search->ListItems->Count(), ResultPageRecords(spec_).size());
    QVERIFY(search->StatusPanel2->text() != QStringLiteral("读取网页失败"));
}

void WebSearchTest::aPageThatCannotBeCopiedInTimeEndsTheRunAndSaysSo() {
    serveResultList(3, 10);
    fWebSearch* search = openWindow();
    search->WebBrowser1->Navigate(firstPageUrl());
    QVERIFY(waitFor([&] { return !search->WebBrowser1->Busy(); }));

    // Busy well beyond two time-outs of a second each (and below the browser's own limit of
    // old, so the copy is bounded by the user's choice, not by a fixed one).
    search->Combo1->setEditText(QStringLiteral("1"));
    keepPageBusy(search, 6000);
    QElapsedTimer timer;
    timer.start();
    search->Command4_Click();

    QVERIFY2(timer.elapsed() < 5500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(search->StatusPanel2->text(), QStringLiteral("读取网页失败"));
    QCOMPARE(search->ListItems->Count(), 0);
    // Not taken for a last page: no page after the unread one was asked for.
    QCOMPARE(requestsForIndex(10), 0);
    QCOMPARE(search->Command4->text(), QStringLiteral("加入全部到列表"));
    QVERIFY(prompt_.shown().isEmpty());

    // Once the page answers again, the same run reads the whole list.
    QVERIFY(waitFor([&] { return timer.elapsed() > 6500; }));
    search->Combo1->setEditText(QStringLiteral("60"));
    search->Command4_Click();
    QCOMPARE(search->ListItems->Count(), 30);
    QCOMPARE(search->CurrentFirstIndex(), 20);
}

QF_TEST_MAIN(WebSearchTest)
#include "test_websearch.moc"

#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "WebTestHelper.h"

#include <QApplication>
#include <QTcpServer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <memory>

using Response = TestHttpServer::Response;

namespace {
const char* const kResultPage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Search results</title></head>
<body>
<ul class="results">
  <li><a class="title" href="/doi/10.1126/science.1">Cells &amp; clocks</a> <span>Report</span></li>
  <li><a class="title" href="/doi/10.1126/science.2">Quantum dots</a> <span>Research Article</span></li>
</ul>
<div id="summary">Showing 1&ndash;2 of 24 results</div>
<a id="next" href="/results?FIRSTINDEX=10">Next</a>
</body></html>)";
} // namespace

class WebTestHelperTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestHttpServer> server;
    QWebEngineProfile* profile = nullptr;
    std::unique_ptr<CookieRecorder> cookies;
    std::unique_ptr<QWebEngineView> view;

    QWebEnginePage* page() { return view->page(); }

private slots:
    void initTestCase() {
        server = std::make_unique<TestHttpServer>();
        profile = MakeTestProfile("WebHelperTest", this);
        cookies = std::make_unique<CookieRecorder>(profile);
    }

    void init() {
        view = std::make_unique<QWebEngineView>();
        view->setPage(new QWebEnginePage(profile, view.get()));
        view->resize(800, 600);
        view->show();
    }

    void cleanup() {
        view.reset(); // pages go before the profile does
        server->clearRequests();
    }

    void cleanupTestCase() {
        cookies.reset();
        delete profile;
        profile = nullptr;
        server.reset();
    }

    void profileIsPersistentUnderTheTestHome() {
        QVERIFY(!profile->isOffTheRecord());
        QVERIFY(profile->persistentStoragePath().startsWith(TestHome() + "/"));
        QVERIFY(profile->cachePath().startsWith(TestHome() + "/"));
        QCOMPARE(profile->httpCacheType(), QWebEngineProfile::DiskHttpCache);
        QCOMPARE(page()->profile(), profile);
    }

    void readsAResultPageServedOverHttp() {
        server->routeTarget("/results?FIRSTINDEX=0", Response::html(kResultPage));
        QVERIFY(LoadUrl(view.get(), QUrl(server->url("/results?FIRSTINDEX=0"))));
        QCOMPARE(page()->title(), QString("Search results"));
        QCOMPARE(RunJs(page(), "document.querySelectorAll('a').length").toInt(), 3);
        QCOMPARE(RunJs(page(), "document.getElementById('summary').innerText").toString(),
                 QString("Showing 1") + QChar(0x2013) + "2 of 24 results");
        QCOMPARE(RunJs(page(), "document.querySelector('a.title').innerText").toString(),
                 QString("Cells & clocks"));
        // Links come back absolute, resolved against the served address.
        QCOMPARE(RunJs(page(), "document.getElementById('next').href").toString(),
                 server->url("/results?FIRSTINDEX=10"));
        QCOMPARE(server->requestsFor("/results").size(), 1);
    }

    void runJsReturnsStructuredValues() {
        QVERIFY(
            LoadHtml(page(), "<p class='x'>one</p><p class='x'>two</p>", QUrl(server->url("/"))));
        const QVariant list =
            RunJs(page(), "Array.from(document.getElementsByTagName('P'), p => p.innerText)");
        QCOMPARE(list.toStringList(), QStringList({"one", "two"}));
        const QVariantMap map = RunJs(page(), "({tag: 'P', count: 2})").toMap();
        QCOMPARE(map.value("tag").toString(), QString("P"));
        QCOMPARE(map.value("count").toInt(), 2);
        bool completed = false;
        QVERIFY(!RunJs(page(), "undefined", 10000, &completed).isValid());
        QVERIFY(completed);
    }

    void browserSendsBackTheServersCookie() {
        server->route("/enter", Response::html("<p>welcome</p>").setCookie("sid=xyz; Path=/"));
        server->serveHtml("/next", "<p>next</p>");
        QVERIFY(cookies->find("sid").name().isEmpty());
        QVERIFY(LoadUrl(page(), QUrl(server->url("/enter"))));
        const QNetworkCookie sid = cookies->waitFor("sid");
        QCOMPARE(sid.value(), QByteArray("xyz"));
        QCOMPARE(sid.domain(), QString("127.0.0.1"));
        QVERIFY(LoadUrl(page(), QUrl(server->url("/next"))));
        const auto log = server->requestsFor("/next");
        QCOMPARE(log.size(), 1);
        QCOMPARE(log.first().cookie("sid"), QByteArray("xyz"));
        QVERIFY(log.first().hasHeader("User-Agent"));
    }

    void waiterCatchesAFormSubmit() {
        TestHttpServer::LoginForm form;
        form.path = "/gate/login";
        form.successLocation = "/gate/done";
        form.cookieName = "gate";
        server->serveLoginForm(form);
        server->serveHtml("/gate/done", "<title>Done</title>");
        QVERIFY(LoadUrl(page(), QUrl(server->url("/gate/login"))));

        RunJs(page(), "document.getElementsByName('user')[0].value = 'reader';"
                      "document.getElementsByName('password')[0].value = 'secret';");
        PageLoadWaiter waiter(page());
        RunJs(page(), "document.getElementsByName('submit')[0].click()");
        QVERIFY(waiter.wait());
        QCOMPARE(page()->url(), QUrl(server->url("/gate/done")));

        const auto posts = server->requestsFor("/gate/login");
        QCOMPARE(posts.last().method, QByteArray("POST"));
        QCOMPARE(posts.last().formValue("user"), QString("reader"));
        QCOMPARE(server->requestsFor("/gate/done").last().cookie("gate"), QByteArray("granted"));
        QCOMPARE(cookies->find("gate").value(), QByteArray("granted"));
    }

    void loadReportsAFailedLoad() {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QUrl nowhere(QString("http://127.0.0.1:%1/").arg(closed.serverPort()));
        closed.close();
        QVERIFY(!LoadUrl(page(), nowhere));
    }
};

QF_TEST_MAIN(WebTestHelperTest)
#include "test_webhelper.moc"

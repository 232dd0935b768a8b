#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "WebTestHelper.h"

#include "core/transfer/Downloader.h"
#include "core/transfer/TransferNetwork.h"
#include "ui/platform/BrowserSession.h"
#include "ui/platform/WebBrowser.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QTemporaryDir>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <memory>

using Response = TestHttpServer::Response;

namespace {

bool jarHas(QNetworkCookieJar* jar, const QString& url, const QByteArray& name) {
    const QList<QNetworkCookie> cookies = jar->cookiesForUrl(QUrl(url));
    return std::any_of(cookies.begin(), cookies.end(),
                       [&](const QNetworkCookie& c) { return c.name() == name; });
}

} // namespace

// Transfers carry the embedded browser's session: a login made in the program's browser
// profile authorises a download, a cookie the browser drops stops doing so, and the
// transfers speak with the browser's User-Agent.
class BrowserSessionTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void transfersSendTheBrowsersUserAgent();
    void aLoginInTheBrowserAuthorisesADownload();
    void aCookieTheBrowserDropsNoLongerAuthorises();
    void cookiesTheBrowserHeldBeforeAreMirroredToo();

private:
    // Fetches the protected file; the HTTP status of the answer, -1 when nothing ended.
    int download(const QString& name);

    std::unique_ptr<TestHttpServer> server_;
    QTemporaryDir dir_;
    std::unique_ptr<QWebEnginePage> page_;
};

void BrowserSessionTest::initTestCase() {
    server_ = std::make_unique<TestHttpServer>();
    QVERIFY(server_->isListening());
    server_->route("/gateway", [](const TestHttpServer::Request&) {
        return Response::html("<html><body>Signed in</body></html>")
            .setCookie("session=granted; Path=/");
    });
    server_->requireCookie("/protected/", "session", "granted");
    server_->serve("/protected/paper.pdf", "%PDF-1.4 members only", "application/pdf");
    // The program's own profile, as every embedded browser of the program uses it.
    page_ = std::make_unique<QWebEnginePage>(BrowserProfile());
}

void BrowserSessionTest::cleanupTestCase() {
    page_.reset();
    DestroyBrowserProfile();
}

int BrowserSessionTest::download(const QString& name) {
    Downloader downloader;
    bool ended = false;
    connect(&downloader, &Downloader::DownloadComplete, this, [&] { ended = true; });
    connect(&downloader, &Downloader::DownloadError, this, [&] { ended = true; });
    downloader.BeginDownload(server_->url("/protected/paper.pdf"), dir_.filePath(name), QString());
    QElapsedTimer waited;
    waited.start();
    while (!ended && waited.elapsed() < 15000)
        QTest::qWait(10);
    return ended ? downloader.ResponseStatus() : -1;
}

void BrowserSessionTest::transfersSendTheBrowsersUserAgent() {
    const QString browserAgent = BrowserProfile()->httpUserAgent();
    QVERIFY(!browserAgent.isEmpty());
    QCOMPARE(TransferUserAgent(), browserAgent);
    server_->clearRequests();
    download("agent.pdf");
    QVERIFY(server_->requestCount() >= 1);
    QCOMPARE(QString::fromUtf8(server_->requests().first().header("User-Agent")), browserAgent);
}

void BrowserSessionTest::aLoginInTheBrowserAuthorisesADownload() {
    QCOMPARE(download("before.pdf"), 403);

    QVERIFY(LoadUrl(page_.get(), QUrl(server_->url("/gateway"))));
    QTRY_VERIFY_WITH_TIMEOUT(jarHas(TransferCookieJar(), server_->url("/"), "session"), 10000);

    server_->clearRequests();
    QCOMPARE(download("paper.pdf"), 200);
    QFile file(dir_.filePath("paper.pdf"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("%PDF-1.4 members only"));
    QCOMPARE(server_->lastRequest().cookie("session"), QByteArray("granted"));
}

void BrowserSessionTest::aCookieTheBrowserDropsNoLongerAuthorises() {
    QTRY_VERIFY_WITH_TIMEOUT(jarHas(TransferCookieJar(), server_->url("/"), "session"), 10000);
    QNetworkCookie cookie("session", "granted");
    cookie.setDomain("127.0.0.1");
    cookie.setPath("/");
    BrowserProfile()->cookieStore()->deleteCookie(cookie, QUrl(server_->baseUrl()));
    QTRY_VERIFY_WITH_TIMEOUT(!jarHas(TransferCookieJar(), server_->url("/"), "session"), 10000);
    QCOMPARE(download("after.pdf"), 403);
}

void BrowserSessionTest::cookiesTheBrowserHeldBeforeAreMirroredToo() {
    // A login kept on disk by an earlier run: a profile signs in and goes, as the program's
    // profile does at the end of a run. Its cookies reach the disk a moment after it went.
    {
        QWebEngineProfile* earlier = MakeTestProfile(QStringLiteral("Earlier"));
        earlier->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
        CookieRecorder recorder(earlier);
        auto* page = new QWebEnginePage(earlier);
        QVERIFY(LoadUrl(page, QUrl(server_->url("/gateway"))));
        QVERIFY(!recorder.waitFor("session").name().isEmpty());
        delete page;
        delete earlier;
        QTest::qWait(3000);
    }
    // The next run's profile, mirrored from its start like the program's own.
    QWebEngineProfile* later = MakeTestProfile(QStringLiteral("Earlier"));
    later->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    QNetworkCookieJar jar;
    new BrowserSession(later, &jar);
    auto* page = new QWebEnginePage(later);
    server_->clearRequests();
    LoadUrl(page, QUrl(server_->url("/protected/paper.pdf")));
    const bool browserHasIt = server_->lastRequest().cookie("session") == "granted";
    if (browserHasIt)
        QTest::qWait(2000);
    const bool mirrored = jarHas(&jar, server_->url("/"), "session");
    delete page;
    delete later;
    if (!browserHasIt)
        QSKIP("the earlier profile's cookies had not reached the disk yet");
    // The store reads them from disk (the browser sends them) but announces none of them,
    // whatever loadAllCookies() promises: a login of an earlier run reaches the transfers
    // only when the site sets its cookies again.
    QEXPECT_FAIL("", "Qt 6.4 does not announce the cookies its store loads from disk", Continue);
    QVERIFY(mirrored);
}

QF_TEST_MAIN(BrowserSessionTest)
#include "test_browsersession.moc"

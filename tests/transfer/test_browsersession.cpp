#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "WebTestHelper.h"

#include "core/transfer/Downloader.h"
#include "core/transfer/TransferNetwork.h"
#include "ui/platform/BrowserSession.h"
#include "ui/platform/StoredCookies.h"
#include "ui/platform/WebBrowser.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QSqlDatabase>
#include <QSqlQuery>
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
    void aLoginOfAnEarlierRunAuthorisesTheNextRun();
    void storedCookiesAreTakenAsTheBrowserWould_data();
    void storedCookiesAreTakenAsTheBrowserWould();

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

void BrowserSessionTest::aLoginOfAnEarlierRunAuthorisesTheNextRun() {
    // An earlier run signs in and ends, as the program's profile does at the end of a run.
    QWebEngineProfile* earlier = MakeTestProfile(QStringLiteral("Earlier"));
    earlier->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    const QString database = StoredCookiesPath(earlier->persistentStoragePath());
    {
        CookieRecorder recorder(earlier);
        auto* page = new QWebEnginePage(earlier);
        QVERIFY(LoadUrl(page, QUrl(server_->url("/gateway"))));
        QVERIFY(!recorder.waitFor("session").name().isEmpty());
        delete page;
        delete earlier;
    }
    // The cookies reach the disk a moment after the profile went.
    const auto stored = [&] {
        const QList<QNetworkCookie> cookies = ReadStoredCookies(database);
        return std::any_of(cookies.begin(), cookies.end(),
                           [](const QNetworkCookie& c) { return c.name() == "session"; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(stored(), 15000);
    QVERIFY(!jarHas(TransferCookieJar(), server_->url("/"), "session"));

    // The next run: its profile is mirrored from the start and no page is loaded, no login.
    QWebEngineProfile* later = MakeTestProfile(QStringLiteral("Earlier"));
    later->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    new BrowserSession(later, TransferCookieJar());
    server_->clearRequests();
    QCOMPARE(download("next-run.pdf"), 200);
    QCOMPARE(server_->lastRequest().cookie("session"), QByteArray("granted"));
    delete later;
}

void BrowserSessionTest::storedCookiesAreTakenAsTheBrowserWould_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<qint64>("expiresInSeconds"); // 0: no expiry (a kept session cookie)
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("encryptedBytes");
    QTest::addColumn<bool>("secure");
    QTest::addColumn<QString>("askedUrl");
    QTest::addColumn<bool>("sent");

    QTest::newRow("expired") << "example.org" << qint64(-60) << "v" << 0 << false
                             << "http://example.org/" << false;
    QTest::newRow("encrypted only")
        << "example.org" << qint64(3600) << "" << 16 << false << "http://example.org/" << false;
    QTest::newRow("host-only, not for a subdomain")
        << "example.org" << qint64(3600) << "v" << 0 << false << "http://www.example.org/" << false;
    QTest::newRow("secure, not over http")
        << "example.org" << qint64(3600) << "v" << 0 << true << "http://example.org/" << false;
    QTest::newRow("session kept by the profile")
        << "example.org" << qint64(0) << "v" << 0 << false << "http://example.org/a" << true;
    QTest::newRow("domain cookie, subdomain")
        << ".example.org" << qint64(3600) << "v" << 0 << false << "http://www.example.org/" << true;
    QTest::newRow("secure over https")
        << "example.org" << qint64(3600) << "v" << 0 << true << "https://example.org/" << true;
}

void BrowserSessionTest::storedCookiesAreTakenAsTheBrowserWould() {
    QFETCH(QString, host);
    QFETCH(qint64, expiresInSeconds);
    QFETCH(QString, value);
    QFETCH(int, encryptedBytes);
    QFETCH(bool, secure);
    QFETCH(QString, askedUrl);
    QFETCH(bool, sent);

    const QString path = dir_.filePath(QStringLiteral("Cookies-%1").arg(QTest::currentDataTag()));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "crafted");
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec("CREATE TABLE cookies (host_key TEXT, name TEXT, value TEXT, "
                           "path TEXT, expires_utc INTEGER, is_secure INTEGER, "
                           "is_httponly INTEGER, encrypted_value BLOB, samesite INTEGER)"));
        QVERIFY(query.prepare("INSERT INTO cookies VALUES (?, 'login', ?, '/', ?, ?, 1, ?, 1)"));
        const qint64 unixEpochMicroseconds = 11644473600LL * 1000 * 1000;
        const qint64 expires =
            expiresInSeconds == 0
                ? 0
                : unixEpochMicroseconds +
                      (QDateTime::currentSecsSinceEpoch() + expiresInSeconds) * 1000 * 1000;
        query.addBindValue(host);
        query.addBindValue(value);
        query.addBindValue(expires);
        query.addBindValue(secure ? 1 : 0);
        query.addBindValue(QByteArray(encryptedBytes, 'x'));
        QVERIFY(query.exec());
        db.close();
    }
    QSqlDatabase::removeDatabase("crafted");

    QNetworkCookieJar jar;
    for (const QNetworkCookie& cookie : ReadStoredCookies(path))
        jar.insertCookie(cookie);
    QCOMPARE(jarHas(&jar, askedUrl, "login"), sent);
}

QF_TEST_MAIN(BrowserSessionTest)
#include "test_browsersession.moc"

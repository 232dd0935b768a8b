#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"
#include "WebTestHelper.h"

#include "core/app/ProgramValues.h"
#include "core/download/DownloadList.h"
#include "core/download/LoginForm.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/TransferNetwork.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"
#include "ui/platform/KeyedListView.h"
#include "ui/platform/WebBrowser.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <functional>
#include <memory>

using Response = TestHttpServer::Response;

// The real clock, except that the pause after a login (the page is in, nothing loads, the
// login still runs) passes quickly: the waits for pages stay real, the seconds of the pause
// are not sat out.
class LoginClock : public Clock {
public:
    double secondsSinceMidnight() const override { return wall_.secondsSinceMidnight(); }
    double elapsedSeconds() const override {
        if (window && !window->Command5->isEnabled() && !window->LoginPageLoading &&
            !window->Web1->Busy())
            skipped_ += 0.25;
        return real_.elapsedSeconds() + skipped_;
    }

    QPointer<fFileDownload> window;

private:
    SystemClock real_;
    SystemClock wall_;
    mutable double skipped_ = 0.0;
};

// The download window's login panel in the real embedded browser, against gateway pages on
// 127.0.0.1.
class LoginPanelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void theWindowLoadsThePanelHiddenAndEmpty();
    void thePanelCoversTheListAndFollowsItsSize();
    void openingThePanelShowsTheSelectedRowOnlyWithoutALoginSetUp_data();
    void openingThePanelShowsTheSelectedRowOnlyWithoutALoginSetUp();
    void browseOpensTheTrimmedAddressAndShowsItsTitle();
    void hidingThePanelKeepsThePageOnlyWithTheMinuteReload_data();
    void hidingThePanelKeepsThePageOnlyWithTheMinuteReload();
    void theMinuteReloadRunsExactlyWhileItsBoxIsChecked();
    void checkingAutomaticLoginNeedsTheEntries_data();
    void checkingAutomaticLoginNeedsTheEntries();
    void aLoginWithoutItsEntriesStopsAndClearsAutomaticLogin_data();
    void aLoginWithoutItsEntriesStopsAndClearsAutomaticLogin();
    void whichPagesDoesTheLoginFill_data();
    void whichPagesDoesTheLoginFill();
    void testLoginOpensTheProtectedFile();
    void fieldNamesMatchInAnyLetterCase_data();
    void fieldNamesMatchInAnyLetterCase();
    void aButtonBeforeThePasswordIsNotPressed_data();
    void aButtonBeforeThePasswordIsNotPressed();
    void addressRangeLoginPressesSubmitipOnly_data();
    void addressRangeLoginPressesSubmitipOnly();
    void awkwardEntriesReachTheGatewayExactly();
    void automaticLoginFollowsOnlyWebPageRows_data();
    void automaticLoginFollowsOnlyWebPageRows();
    void aSecondLoginWhileOneRunsDoesNothing();
    void closingTheWindowDuringALoginEndsItCleanly_data();
    void closingTheWindowDuringALoginEndsItCleanly();
    void newWindowsOpenInThePanelAndBlankOnesAreDropped();

private:
    fFileDownload* openWindow();
    // A gateway of this test's own: its paths and cookie name carry the test's number, so a
    // late request or a cookie of an earlier test cannot answer for this one.
    TestHttpServer::LoginForm gateway() const;
    QString path(const QString& name) const {
        return QStringLiteral("/t%1/%2").arg(test_).arg(name);
    }
    QString url(const QString& name) const { return server_.url(path(name)); }
    // Serves the gateway and, behind it, a PDF and a page that need its cookie.
    void serveGateway(const TestHttpServer::LoginForm& form);
    static void enterLogin(fFileDownload* w, const QString& address, const QString& account,
                           const QString& password);
    QList<TestHttpServer::Request> posts(const QString& loginPath) const;
    // A plain GET as the transfers send it, with the cookies the browser profile holds.
    QByteArray fetchWithBrowserCookies(const QString& address);
    static bool waitFor(const std::function<bool()>& condition, int ms = 15000);

    TestServices services_{TestServices::ClockKind::Real};
    LoginClock clock_;
    ScriptedPrompt& prompt_ = services_.prompt;
    TestHttpServer server_;
    std::unique_ptr<CookieRecorder> cookies_;
    int test_ = 0;
};

const QByteArray kPdf = "%PDF-1.4\n% full text of the article\n%%EOF\n";

void LoginPanelTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(server_.isListening());
    Services().clock = &clock_;
    // Before any page loads: the store announces each cookie once.
    cookies_ = std::make_unique<CookieRecorder>(BrowserProfile());
}

void LoginPanelTest::init() {
    ++test_;
    prompt_.clear();
    server_.clearRoutes();
    server_.clearRequests();
    Program() = ProgramValues{};
    Program().SearchHomePage = QStringLiteral("about:blank");
}

void LoginPanelTest::cleanup() {
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(prompt_.unanswered(), 0);
    QCOMPARE(prompt_.pendingAnswers(), 0);
}

void LoginPanelTest::cleanupTestCase() {
    cookies_.reset();
    Forms::DestroyAll();
    DestroyBrowserProfile();
}

bool LoginPanelTest::waitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        DoEvents();
    }
    return true;
}

fFileDownload* LoginPanelTest::openWindow() {
    fFileDownload* w = Forms::fFileDownload();
    clock_.window = w;
    if (!waitFor([w] { return !w->Web1->Busy(); }))
        qWarning("the login browser did not settle");
    return w;
}

TestHttpServer::LoginForm LoginPanelTest::gateway() const {
    TestHttpServer::LoginForm form;
    form.path = path("login");
    form.cookieName = QStringLiteral("session%1").arg(test_).toUtf8();
    form.cookieValue = "granted";
    form.successLocation = path("welcome");
    form.title = QStringLiteral("Gateway 登录");
    return form;
}

void LoginPanelTest::serveGateway(const TestHttpServer::LoginForm& form) {
    server_.serveLoginForm(form);
    server_.serveHtml(path("welcome"), "<!DOCTYPE html><html><head><title>Welcome</title>"
                                       "</head><body>logged in</body></html>");
    server_.requireLogin(path("protected/"), form);
    server_.serve(path("protected/paper.pdf"), kPdf, "application/pdf");
    server_.serveHtml(path("protected/abstract.html"),
                      "<!DOCTYPE html><html><head><title>Full text</title></head>"
                      "<body>the article</body></html>");
}

void LoginPanelTest::enterLogin(fFileDownload* w, const QString& address, const QString& account,
                                const QString& password) {
    // The test gateways speak plain http: the user has said once that the password may go
    // there unencrypted.
    SetPlainHttpLoginChoice(*Services().settings, address, true);
    w->Text1->setText(address);
    w->Text2->setText(account);
    w->Text3->setText(password);
}

QList<TestHttpServer::Request> LoginPanelTest::posts(const QString& loginPath) const {
    QList<TestHttpServer::Request> found;
    for (const TestHttpServer::Request& r : server_.requestsFor(loginPath)) {
        if (r.method == "POST")
            found << r;
    }
    return found;
}

QByteArray LoginPanelTest::fetchWithBrowserCookies(const QString& address) {
    QNetworkAccessManager manager;
    auto* jar = new QNetworkCookieJar(&manager);
    for (const QNetworkCookie& cookie : cookies_->cookies())
        jar->insertCookie(cookie);
    manager.setCookieJar(jar);
    std::unique_ptr<QNetworkReply> reply(manager.get(TransferRequest(QUrl(address))));
    if (!waitFor([&reply] { return reply->isFinished(); }))
        return "(no answer)";
    return reply->readAll();
}

// --- the panel ---

void LoginPanelTest::theWindowLoadsThePanelHiddenAndEmpty() {
    fFileDownload* w = openWindow();
    QVERIFY(w->PicWebBK->isHidden());
    QVERIFY(w->Picture3->isAncestorOf(w->Command1));
    QCOMPARE(w->Command1->text(), QStringLiteral("网页登录"));
    const QList<std::pair<QWidget*, QString>> captions{
        {w->Label6, "网址："},           {w->Option4, "帐号登录："}, {w->Label10, "密码："},
        {w->Option5, "IP登录"},          {w->Check2, "自动登录"},    {w->Label11, "自动登录条件："},
        {w->Check1, "自动刷新(每分钟)"}, {w->Command2, "浏览"},      {w->Command5, "测试登录"},
        {w->Command3, "关闭(隐藏)"}};
    for (const auto& [control, caption] : captions) {
        QVERIFY2(w->PicWebBK->isAncestorOf(control), qPrintable(caption));
        const QString shown = qobject_cast<QLabel*>(control)
                                  ? qobject_cast<QLabel*>(control)->text()
                                  : qobject_cast<QAbstractButton*>(control)->text();
        QCOMPARE(shown, caption);
    }
    QCOMPARE(w->Combo3->count(), 1);
    QCOMPARE(w->Combo3->currentIndex(), 0);
    QCOMPARE(w->Combo3->currentText(), QStringLiteral("下载到网页文件(htm/html/asp)文件"));
    QVERIFY(w->Option4->isChecked());
    QVERIFY(!w->Option5->isChecked());
    QVERIFY(!w->Check1->isChecked());
    QVERIFY(!w->Check2->isChecked());
    QCOMPARE(w->Text3->echoMode(), QLineEdit::Password);
    QCOMPARE(w->Timer2->interval(), 60000);
    QVERIFY(!w->Timer2->isActive());
    QVERIFY(w->Command5->isEnabled());
    QVERIFY(!w->LoginPageLoading);

    // The login browser is silent, blank, and on the profile the transfers take cookies from.
    QVERIFY(w->Web1->Silent());
    QCOMPARE(w->Web1->LocationURL(), QStringLiteral("about:blank"));
    QCOMPARE(w->Web1->page()->profile(), BrowserProfile());
}

void LoginPanelTest::thePanelCoversTheListAndFollowsItsSize() {
    fFileDownload* w = openWindow();
    w->showNormal();
    w->resize(900, 600);
    w->Command1_Click();
    QVERIFY(w->PicWebBK->isVisible());
    QTRY_COMPARE(w->PicWebBK->geometry(), w->ListView3->geometry());

    const QRect before = w->ListView3->geometry();
    w->resize(1200, 800);
    QTRY_VERIFY(w->ListView3->geometry() != before);
    QTRY_COMPARE(w->PicWebBK->geometry(), w->ListView3->geometry());

    // The panel is in front of the list, and its browser fills it below the controls, a few
    // pixels short of the right and bottom edges.
    QWidget* atListCentre =
        w->ListView3->parentWidget()->childAt(w->ListView3->geometry().center());
    QVERIFY(atListCentre == w->PicWebBK || w->PicWebBK->isAncestorOf(atListCentre));
    const QRect browser = w->Web1->geometry();
    QCOMPARE(browser.left(), 0);
    QCOMPARE(w->PicWebBK->width() - 1 - browser.right(), 3);
    QCOMPARE(w->PicWebBK->height() - 1 - browser.bottom(), 3);
    QVERIFY(browser.top() > w->Command5->geometry().bottom());
    QVERIFY(browser.top() > w->Check1->geometry().bottom());

    // Hidden, the panel still follows the list, so it opens in the right place.
    w->Command3_Click();
    w->resize(1000, 700);
    QTRY_COMPARE(w->PicWebBK->geometry(), w->ListView3->geometry());
}

void LoginPanelTest::openingThePanelShowsTheSelectedRowOnlyWithoutALoginSetUp_data() {
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("reload");
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<bool>("navigates");
    QTest::addColumn<QString>("link"); // the selected row's, when not the article's
    QTest::newRow("does a script link run nothing in the shown page?")
        << true << false << false << false << "javascript:document.title='ran'";
    QTest::newRow("does a selected row's link open?") << true << false << false << true << "";
    QTest::newRow("does nothing open without a selection?")
        << false << false << false << false << "";
    QTest::newRow("does the minute reload keep the page?") << true << true << false << false << "";
    QTest::newRow("does the automatic login keep the page?")
        << true << false << true << false << "";
}

void LoginPanelTest::openingThePanelShowsTheSelectedRowOnlyWithoutALoginSetUp() {
    QFETCH(bool, selected);
    QFETCH(bool, reload);
    QFETCH(bool, automatic);
    QFETCH(bool, navigates);
    QFETCH(QString, link);
    server_.serveHtml(path("article"), "<!DOCTYPE html><html><head><title>Article</title>"
                                       "</head><body>abstract</body></html>");
    fFileDownload* w = openWindow();
    w->AddDownloadItem(url("other"), "other", "pdf", "/tmp/", "");
    if (link.isEmpty())
        w->AddDownloadItem(url("article"), "article", "html", "/tmp/", "");
    else // a row whose link came in before links were checked
        AddDownloadRow(*w->ListItems3, link, "article", "html", "/tmp/", "");
    w->ListItems3->SetSelected(2, selected);
    enterLogin(w, url("login"), "reader", "secret");
    w->Check1->setChecked(reload);
    w->Check2->setChecked(automatic);
    QVERIFY(prompt_.shown().isEmpty());

    w->Command1_Click();
    QVERIFY(!w->PicWebBK->isHidden());
    if (navigates) {
        QTRY_COMPARE_WITH_TIMEOUT(w->Web1->LocationURL(), url("article"), 15000);
        QTRY_COMPARE(w->Web1->Title(), QStringLiteral("Article"));
    } else {
        QVERIFY(!w->Web1->Busy());
        QCOMPARE(w->Web1->LocationURL(), QStringLiteral("about:blank"));
        // A script sent to the page would have run before this copy's own script answers.
        QVERIFY(w->Web1->Document(QStringList{QStringLiteral("BODY")}, {}));
        QCoreApplication::processEvents();
        QVERIFY(w->Web1->Title() != QStringLiteral("ran"));
        QCOMPARE(w->Label12->text().isEmpty(), link.isEmpty());
    }
}

void LoginPanelTest::browseOpensTheTrimmedAddressAndShowsItsTitle() {
    const TestHttpServer::LoginForm form = gateway();
    serveGateway(form);
    fFileDownload* w = openWindow();

    w->Text1->setText("   ");
    w->Command2_Click();
    QVERIFY(!w->Web1->Busy());
    QVERIFY(w->Command2->isEnabled());
    QCOMPARE(server_.requestCount(), 0);

    // While the page loads the button is disabled and the panel's flag is up.
    bool disabledMeanwhile = false;
    bool loadingMeanwhile = false;
    QTimer::singleShot(0, w, [&] {
        disabledMeanwhile = !w->Command2->isEnabled();
        loadingMeanwhile = w->LoginPageLoading;
    });
    w->Text1->setText("  " + url("login") + "  ");
    w->Command2_Click();
    QVERIFY(disabledMeanwhile);
    QVERIFY(loadingMeanwhile);
    QCOMPARE(w->Web1->LocationURL(), url("login"));
    QVERIFY(!w->LoginPageLoading);
    QVERIFY(w->Command2->isEnabled());
    QCOMPARE(server_.requestsFor(form.path).size(), 1);
    QTRY_COMPARE(w->StatusPanel3->text(), QStringLiteral("Gateway 登录"));

    // A blank page's title is not shown.
    w->Command3_Click();
    QTRY_VERIFY(!w->Web1->Busy());
    QCOMPARE(w->Web1->LocationURL(), QStringLiteral("about:blank"));
    QCOMPARE(w->StatusPanel3->text(), QStringLiteral("Gateway 登录"));
}

void LoginPanelTest::hidingThePanelKeepsThePageOnlyWithTheMinuteReload_data() {
    QTest::addColumn<bool>("reload");
    QTest::newRow("is the page dropped without the reload?") << false;
    QTest::newRow("does the page stay and reload with it?") << true;
}

void LoginPanelTest::hidingThePanelKeepsThePageOnlyWithTheMinuteReload() {
    QFETCH(bool, reload);
    const TestHttpServer::LoginForm form = gateway();
    serveGateway(form);
    fFileDownload* w = openWindow();
    w->Command1_Click();
    w->Text1->setText(url("login"));
    w->Command2_Click();
    QCOMPARE(w->Web1->LocationURL(), url("login"));
    w->Check1->setChecked(reload);

    w->Command3_Click();
    QVERIFY(w->PicWebBK->isHidden());
    if (!reload) {
        QTRY_COMPARE(w->Web1->LocationURL(), QStringLiteral("about:blank"));
        return;
    }
    QVERIFY(!w->Web1->Busy());
    QCOMPARE(w->Web1->LocationURL(), url("login"));
    QVERIFY(w->Timer2->isActive());
    w->Timer2_Timer();
    QTRY_COMPARE_WITH_TIMEOUT(server_.requestsFor(form.path).size(), 2, 15000);
    QTRY_VERIFY(!w->Web1->Busy());
    QCOMPARE(w->Web1->LocationURL(), url("login"));
}

void LoginPanelTest::theMinuteReloadRunsExactlyWhileItsBoxIsChecked() {
    fFileDownload* w = openWindow();
    QVERIFY(!w->Timer2->isActive());
    w->Check1->click();
    QVERIFY(w->Timer2->isActive());
    QCOMPARE(w->Timer2->interval(), 60000);
    w->Check1->click();
    QVERIFY(!w->Timer2->isActive());
    w->Check1->setChecked(true);
    QVERIFY(w->Timer2->isActive());

    // Closing the window stops the reload.
    QPointer<fFileDownload> window(w);
    Forms::Unload(w);
    QVERIFY(window);
    QVERIFY(!window->Timer2->isActive());
}

void LoginPanelTest::checkingAutomaticLoginNeedsTheEntries_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("addressRange");
    QTest::addColumn<QString>("message");

    const QString noAddress = QStringLiteral("必须先设置登录网址！");
    const QString noAccount = QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！");
    QTest::newRow("is an account login with every entry taken?") << "http://gw/login"
                                                                 << "reader"
                                                                 << "secret" << false << "";
    QTest::newRow("is a missing address refused?") << ""
                                                   << "reader"
                                                   << "secret" << false << noAddress;
    QTest::newRow("is an address of blanks refused?") << "   "
                                                      << "reader"
                                                      << "secret" << false << noAddress;
    QTest::newRow("is a missing account refused?") << "http://gw/login"
                                                   << ""
                                                   << "secret" << false << noAccount;
    QTest::newRow("is a password of blanks refused?") << "http://gw/login"
                                                      << "reader"
                                                      << "  " << false << noAccount;
    QTest::newRow("does an address-range login need only the address?") << "http://gw/login"
                                                                        << ""
                                                                        << "" << true << "";
    QTest::newRow("does an address-range login still need the address?") << ""
                                                                         << ""
                                                                         << "" << true << noAddress;
}

void LoginPanelTest::checkingAutomaticLoginNeedsTheEntries() {
    QFETCH(QString, address);
    QFETCH(QString, account);
    QFETCH(QString, password);
    QFETCH(bool, addressRange);
    QFETCH(QString, message);
    fFileDownload* w = openWindow();
    enterLogin(w, address, account, password);
    w->Option5->setChecked(addressRange);

    w->Check2->click();
    if (message.isEmpty()) {
        QVERIFY(prompt_.shown().isEmpty());
        QVERIFY(w->Check2->isChecked());
        // Clearing asks nothing either.
        w->Check2->click();
        QVERIFY(!w->Check2->isChecked());
        QVERIFY(prompt_.shown().isEmpty());
        return;
    }
    QCOMPARE(prompt_.messages(), QStringList{message});
    QCOMPARE(prompt_.shown().first().icon, MsgIcon::Error);
    QVERIFY(!w->Check2->isChecked());
}

void LoginPanelTest::aLoginWithoutItsEntriesStopsAndClearsAutomaticLogin_data() {
    QTest::addColumn<bool>("interactive");
    QTest::addColumn<QString>("cleared"); // "address", "account" or "password"
    QTest::addColumn<QString>("message");
    const QString noAddress = QStringLiteral("必须先设置登录网址！");
    const QString noAccount = QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！");
    QTest::newRow("测试登录 without an address") << true << "address" << noAddress;
    QTest::newRow("测试登录 without an account") << true << "account" << noAccount;
    QTest::newRow("automatic, without an address: silent") << false << "address"
                                                           << "";
    QTest::newRow("automatic, without a password: silent") << false << "password"
                                                           << "";
}

void LoginPanelTest::aLoginWithoutItsEntriesStopsAndClearsAutomaticLogin() {
    QFETCH(bool, interactive);
    QFETCH(QString, cleared);
    QFETCH(QString, message);
    const TestHttpServer::LoginForm form = gateway();
    serveGateway(form);
    fFileDownload* w = openWindow();
    enterLogin(w, url("login"), "reader", "secret");
    w->Check2->setChecked(true);
    QVERIFY(prompt_.shown().isEmpty());
    (cleared == "address" ? w->Text1 : cleared == "account" ? w->Text2 : w->Text3)->clear();

    w->FillLoginForm(interactive);
    QCOMPARE(prompt_.messages(), message.isEmpty() ? QStringList() : QStringList{message});
    if (!message.isEmpty())
        QCOMPARE(prompt_.shown().first().icon, MsgIcon::Error);
    QVERIFY(!w->Check2->isChecked());
    QVERIFY(w->Command5->isEnabled());
    QVERIFY(!w->Web1->Busy());
    QCOMPARE(server_.requestCount(), 0);
}

// --- logging in ---

void LoginPanelTest::whichPagesDoesTheLoginFill_data() {
    QTest::addColumn<QString>("address"); // "gateway", "redirected" or another address
    QTest::addColumn<int>("stored");      // the stored answer for plain http: -1 none, 0, 1
    QTest::addColumn<bool>("interactive");
    QTest::addColumn<int>("answer"); // to the question: -1 not asked, 0 no, 1 yes
    QTest::addColumn<bool>("sent");
    QTest::addColumn<int>("storedAfter");
    QTest::addColumn<QString>("status"); // part of the panel's status afterwards
    QTest::newRow("does a redirect to another site get no account?")
        << "redirected" << 1 << true << -1 << false << 1 << "不是登录网址的网站";
    QTest::newRow("does answering no send nothing and is it remembered?")
        << "gateway" << -1 << true << 0 << false << 0 << "不以明文";
    QTest::newRow("does an automatic login over unanswered http ask and send nothing?")
        << "gateway" << -1 << false << -1 << false << -1 << "测试登录";
    QTest::newRow("does a script address open nothing?")
        << "javascript:document.title='ran'" << -1 << true << -1 << false << -1 << "不是 http";
    QTest::newRow("does answering yes send and is it remembered?")
        << "gateway" << -1 << true << 1 << true << 1 << "";
}

void LoginPanelTest::whichPagesDoesTheLoginFill() {
    QFETCH(QString, address);
    QFETCH(int, stored);
    QFETCH(bool, interactive);
    QFETCH(int, answer);
    QFETCH(bool, sent);
    QFETCH(int, storedAfter);
    QFETCH(QString, status);
    const TestHttpServer::LoginForm form = gateway();
    serveGateway(form);
    // Another site (another port) with the same form, where a redirect leads.
    TestHttpServer elsewhere;
    elsewhere.serveLoginForm(form);
    server_.redirect(path("start"), 302, elsewhere.url(form.path));
    const QString login = address == "gateway"      ? url("login")
                          : address == "redirected" ? url("start")
                                                    : address;
    SettingsStore& settings = *Services().settings;
    if (stored >= 0)
        SetPlainHttpLoginChoice(settings, login, stored == 1);
    if (answer >= 0)
        prompt_.answer(answer == 1 ? MsgResult::Yes : MsgResult::No);
    fFileDownload* w = openWindow();
    w->Text1->setText(login);
    w->Text2->setText("reader");
    w->Text3->setText("secret");

    w->FillLoginForm(interactive);
    QCOMPARE(prompt_.shown().size(), answer >= 0 ? 1 : 0);
    QCOMPARE(posts(form.path).size(), sent ? 1 : 0);
    // The other site was shown its form (GET) and was sent nothing (no POST).
    QCOMPARE(elsewhere.requestsFor(form.path).size(), address == "redirected" ? 1 : 0);
    const std::optional<bool> after = PlainHttpLoginChoice(settings, login);
    QCOMPARE(after ? int(*after) : -1, storedAfter);
    QVERIFY2(status.isEmpty() ? w->Label12->text().isEmpty() : w->Label12->text().contains(status),
             qPrintable(w->Label12->text()));
    QVERIFY(w->Command5->isEnabled());
}

void LoginPanelTest::testLoginOpensTheProtectedFile() {
    const TestHttpServer::LoginForm form = gateway();
    serveGateway(form);
    fFileDownload* w = openWindow();

    // Before the login the file's link answers with the gateway.
    const QByteArray refused = fetchWithBrowserCookies(url("protected/paper.pdf"));
    QVERIFY2(refused.contains("<form"), refused.constData());

    enterLogin(w, " " + url("login") + " ", " reader ", "secret");
    w->Command1_Click();
    const double started = clock_.elapsedSeconds();
    w->Command5_Click();
    const double finished = clock_.elapsedSeconds();

    const QList<TestHttpServer::Request> sent = posts(form.path);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().formValue("user"), QStringLiteral("reader"));
    QCOMPARE(sent.first().formValue("password"), QStringLiteral("secret"));
    QCOMPARE(w->Web1->LocationURL(), url("welcome"));
    QVERIFY(w->Command5->isEnabled());
    QVERIFY(!w->LoginPageLoading);
    // The login ends with its pause (the clock passes it quickly).
    QVERIFY2(finished - started >= 4.0, qPrintable(QString::number(finished - started)));

    QCOMPARE(cookies_->waitFor(form.cookieName).value(), form.cookieValue);
    QCOMPARE(fetchWithBrowserCookies(url("protected/paper.pdf")), kPdf);
    w->Web1->Navigate(url("protected/abstract.html"));
    QTRY_COMPARE_WITH_TIMEOUT(w->Web1->Title(), QStringLiteral("Full text"), 15000);
    QVERIFY(prompt_.shown().isEmpty());
}

void LoginPanelTest::fieldNamesMatchInAnyLetterCase_data() {
    QTest::addColumn<QString>("userField");
    QTest::addColumn<QString>("passwordField");
    QTest::newRow("user / password") << "user"
                                     << "password";
    QTest::newRow("UserName / PassWord") << "UserName"
                                         << "PassWord";
    QTest::newRow("USERID / PASSWD") << "USERID"
                                     << "PASSWD";
    QTest::newRow("UserUID / Pass") << "UserUID"
                                    << "Pass";
}

void LoginPanelTest::fieldNamesMatchInAnyLetterCase() {
    QFETCH(QString, userField);
    QFETCH(QString, passwordField);
    TestHttpServer::LoginForm form = gateway();
    form.userField = userField;
    form.passwordField = passwordField;
    form.fieldsHtml = QStringLiteral("<input type=\"text\" name=\"email\">"
                                     "<input type=\"text\" name=\"%1\">"
                                     "<input type=\"password\" name=\"%2\">"
                                     "<input type=\"SUBMIT\" name=\"go\" value=\"Log in\">")
                          .arg(userField, passwordField);
    serveGateway(form);
    fFileDownload* w = openWindow();
    enterLogin(w, url("login"), form.user, form.password);

    w->Command5_Click();
    const QList<TestHttpServer::Request> sent = posts(form.path);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().formValue(userField), form.user);
    QCOMPARE(sent.first().formValue(passwordField), form.password);
    QCOMPARE(sent.first().formValue("email"), QString(""));
    QCOMPARE(w->Web1->LocationURL(), url("welcome"));
    QCOMPARE(cookies_->waitFor(form.cookieName).value(), form.cookieValue);
}

void LoginPanelTest::aButtonBeforeThePasswordIsNotPressed_data() {
    QTest::addColumn<QString>("fields");
    QTest::addColumn<QString>("pressed"); // the name of the button sent, "" for none
    QTest::newRow("is nothing sent when no button follows the password?")
        << "<input type=\"text\" name=\"user\">"
           "<input type=\"submit\" name=\"early\" value=\"Go\">"
           "<input type=\"password\" name=\"password\">"
        << "";
    QTest::newRow("is the button after the password the one pressed?")
        << "<input type=\"text\" name=\"user\">"
           "<input type=\"submit\" name=\"early\" value=\"Go\">"
           "<input type=\"password\" name=\"password\">"
           "<input type=\"submit\" name=\"late\" value=\"Send\">"
        << "late";
}

void LoginPanelTest::aButtonBeforeThePasswordIsNotPressed() {
    QFETCH(QString, fields);
    QFETCH(QString, pressed);
    TestHttpServer::LoginForm form = gateway();
    form.fieldsHtml = fields;
    serveGateway(form);
    fFileDownload* w = openWindow();
    enterLogin(w, url("login"), form.user, form.password);

    w->Command5_Click();
    const QList<TestHttpServer::Request> sent = posts(form.path);
    QVERIFY(w->Command5->isEnabled());
    if (pressed.isEmpty()) {
        QCOMPARE(sent.size(), 0);
        // The fields were filled all the same; the form just was not sent.
        const std::optional<Dom> page = w->Web1->Document({"INPUT"}, {});
        QVERIFY(page);
        const DomCollection inputs = page->getElementsByTagName("INPUT");
        QCOMPARE(inputs.item(0).value, form.user);
        QCOMPARE(inputs.item(2).value, form.password);
        QCOMPARE(w->Web1->LocationURL(), url("login"));
        return;
    }
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().formValue(pressed), QStringLiteral("Send"));
    QVERIFY(sent.first().formValue("early").isNull());
    QCOMPARE(w->Web1->LocationURL(), url("welcome"));
}

void LoginPanelTest::addressRangeLoginPressesSubmitipOnly_data() {
    QTest::addColumn<QString>("fields");
    QTest::addColumn<bool>("sent");
    QTest::newRow("is the submitip button pressed?") << "" << true;
    QTest::newRow("is a page without submitip left alone, after the pause?")
        << "<input type=\"text\" name=\"user\"><input type=\"password\" name=\"password\">"
           "<input type=\"submit\" id=\"other\" name=\"other\" value=\"Log in\">"
        << false;
}

void LoginPanelTest::addressRangeLoginPressesSubmitipOnly() {
    QFETCH(QString, fields);
    QFETCH(bool, sent);
    TestHttpServer::LoginForm form = gateway();
    form.ipLogin = true;
    form.fieldsHtml = fields;
    serveGateway(form);
    fFileDownload* w = openWindow();
    // The account entries are not used by an address-range login.
    enterLogin(w, url("login"), "reader", "secret");
    w->Option5->setChecked(true);

    const double started = clock_.elapsedSeconds();
    w->Command5_Click();
    const double finished = clock_.elapsedSeconds();
    QVERIFY(w->Command5->isEnabled());
    QVERIFY2(finished - started >= 4.0, qPrintable(QString::number(finished - started)));
    const QList<TestHttpServer::Request> requests = posts(form.path);
    if (!sent) {
        QCOMPARE(requests.size(), 0);
        const std::optional<Dom> page = w->Web1->Document({"INPUT"}, {});
        QVERIFY(page);
        QCOMPARE(page->getElementsByTagName("INPUT").item(0).value, QString());
        QCOMPARE(page->getElementsByTagName("INPUT").item(1).value, QString());
        return;
    }
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().formValue("submitip"), QStringLiteral("Log in"));
    QCOMPARE(w->Web1->LocationURL(), url("welcome"));
    QCOMPARE(cookies_->waitFor(form.cookieName).value(), form.cookieValue);
}

namespace {

// True when a file below `folder` holds the bytes.
bool anyFileHolds(const QString& folder, const QByteArray& needle) {
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.size() > 64 * 1024 * 1024 || !file.open(QIODevice::ReadOnly))
            continue;
        if (file.readAll().contains(needle))
            return true;
    }
    return false;
}

} // namespace

void LoginPanelTest::awkwardEntriesReachTheGatewayExactly() {
    TestHttpServer::LoginForm form = gateway();
    form.user = QStringLiteral("王\"小'明\\");
    form.password = QStringLiteral(
        "p\"a\\ss'w</script><script>document.title='pwned'</script>`${title}` 密码€😀");
    serveGateway(form);
    fFileDownload* w = openWindow();
    enterLogin(w, url("login"), form.user, form.password);
    QCOMPARE(w->Text3->text(), form.password);

    w->Command5_Click();
    const QList<TestHttpServer::Request> sent = posts(form.path);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().formValue("user"), form.user);
    QCOMPARE(sent.first().formValue("password"), form.password);
    QCOMPARE(w->Web1->LocationURL(), url("welcome"));
    QCOMPARE(w->Web1->Title(), QStringLiteral("Welcome"));
    QCOMPARE(cookies_->waitFor(form.cookieName).value(), form.cookieValue);

    // Nothing the program or its browser keeps on disk holds the password.
    QPointer<fFileDownload> window(w);
    Forms::Unload(w);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!window);
    services_.settings.Sync();
    for (const QString& folder : {TestHome(), services_.dir.path()}) {
        QVERIFY(!anyFileHolds(folder, form.password.toUtf8()));
        QVERIFY(
            !anyFileHolds(folder, QByteArray(reinterpret_cast<const char*>(form.password.utf16()),
                                             form.password.size() * 2)));
    }
}

void LoginPanelTest::automaticLoginFollowsOnlyWebPageRows_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<bool>("logsIn");
    QTest::newRow("does an html row log in?") << "html" << true << true;
    QTest::newRow("does an HTM row log in?") << "HTM" << true << true;
    QTest::newRow("does an htm row log in?") << "htm" << true << true;
    QTest::newRow("does an asp row stay out?") << "asp" << true << false;
    QTest::newRow("does a pdf row stay out?") << "pdf" << true << false;
    QTest::newRow("does a row without a type stay out?") << "" << true << false;
    QTest::newRow("does an html row stay out with 自动登录 off?") << "html" << false << false;
}

void LoginPanelTest::automaticLoginFollowsOnlyWebPageRows() {
    QFETCH(QString, type);
    QFETCH(bool, automatic);
    QFETCH(bool, logsIn);
    const TestHttpServer::LoginForm form = gateway();
    serveGateway(form);
    fFileDownload* w = openWindow();
    QVERIFY(w->AddDownloadItem(url("protected/paper.pdf"), "paper", type, "/tmp/", ""));
    enterLogin(w, url("login"), form.user, form.password);
    w->Check2->setChecked(automatic);

    w->Session().AutomaticLoginAfterTransfer(1);
    w->Session().AutomaticLoginAfterTransfer(2); // no such row
    QVERIFY(prompt_.shown().isEmpty());
    QVERIFY(w->Command5->isEnabled());
    if (!logsIn) {
        QVERIFY(!w->Web1->Busy());
        QCOMPARE(server_.requestCount(), 0);
        return;
    }
    QCOMPARE(posts(form.path).size(), 1);
    QVERIFY(w->Check2->isChecked());
    // The next download of the row's link gets the file.
    QCOMPARE(cookies_->waitFor(form.cookieName).value(), form.cookieValue);
    QCOMPARE(fetchWithBrowserCookies(w->ListItems3->Key(1)), kPdf);
}

void LoginPanelTest::aSecondLoginWhileOneRunsDoesNothing() {
    TestHttpServer::LoginForm form = gateway();
    form.formDelayMs = 1500; // a slow gateway: the first login is still waiting for it
    serveGateway(form);
    fFileDownload* w = openWindow();
    QVERIFY(w->AddDownloadItem(url("protected/paper.pdf"), "paper", "html", "/tmp/", ""));
    enterLogin(w, url("login"), form.user, form.password);
    w->Check2->setChecked(true);

    bool guardUp = false;
    bool stillRunning = false;
    QTimer::singleShot(300, w, [&] {
        guardUp = !w->Command5->isEnabled();
        // A transfer ends as a web page, and the user presses 测试登录 as well.
        w->Session().AutomaticLoginAfterTransfer(1);
        w->Command5_Click();
        w->FillLoginForm(false);
        stillRunning = !w->Command5->isEnabled();
    });
    w->Command5_Click();

    QVERIFY(guardUp);
    QVERIFY(stillRunning);
    int pageLoads = 0;
    for (const TestHttpServer::Request& r : server_.requestsFor(form.path))
        pageLoads += r.method == "GET" ? 1 : 0;
    QCOMPARE(pageLoads, 1);
    QCOMPARE(posts(form.path).size(), 1);
    QVERIFY(w->Command5->isEnabled());
    QVERIFY(w->Check2->isChecked());
    QVERIFY(prompt_.shown().isEmpty());
}

void LoginPanelTest::closingTheWindowDuringALoginEndsItCleanly_data() {
    QTest::addColumn<bool>("whileThePageLoads");
    QTest::newRow("while the gateway page loads") << true;
    QTest::newRow("once the form was sent") << false;
}

void LoginPanelTest::closingTheWindowDuringALoginEndsItCleanly() {
    QFETCH(bool, whileThePageLoads);
    TestHttpServer::LoginForm form = gateway();
    if (whileThePageLoads)
        form.formDelayMs = 1500;
    serveGateway(form);
    fFileDownload* w = openWindow();
    enterLogin(w, url("login"), form.user, form.password);
    QPointer<fFileDownload> window(w);

    bool closed = false;
    auto close = [&] {
        if (window && !closed) {
            closed = true;
            Forms::Unload(window);
        }
    };
    QMetaObject::Connection onPost;
    if (whileThePageLoads) {
        QTimer::singleShot(300, w, close);
    } else {
        onPost = connect(&server_, &TestHttpServer::requestReceived, w, [&] {
            if (!posts(form.path).isEmpty())
                close();
        });
    }
    w->Command5_Click();
    disconnect(onPost);

    QVERIFY(closed);
    QVERIFY(!IsFormLoaded("fFileDownload"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!window);
    QCOMPARE(posts(form.path).size(), whileThePageLoads ? 0 : 1);
}

void LoginPanelTest::newWindowsOpenInThePanelAndBlankOnesAreDropped() {
    server_.serveHtml(path("opener"),
                      QStringLiteral("<!DOCTYPE html><html><head><title>Opener</title></head><body>"
                                     "<a id=\"go\" target=\"_blank\" href=\"%1\">open</a>"
                                     "<input type=\"button\" id=\"blank\" value=\"blank\" "
                                     "onclick=\"window.open('about:blank')\">"
                                     "</body></html>")
                          .arg(path("popped")));
    server_.serveHtml(path("popped"), "<!DOCTYPE html><html><head><title>Popped</title></head>"
                                      "<body>popped</body></html>");
    fFileDownload* w = openWindow();
    const int windows = int(QApplication::topLevelWidgets().size());
    int requests = 0;
    connect(w->Web1->page(), &QWebEnginePage::newWindowRequested, w,
            [&](QWebEngineNewWindowRequest&) { ++requests; });
    w->Text1->setText(url("opener"));
    w->Command2_Click();
    QCOMPARE(w->Web1->LocationURL(), url("opener"));

    std::optional<Dom> page = w->Web1->Document({"A", "INPUT"}, {});
    QVERIFY(page);
    QVERIFY(w->Web1->Click(page->getElementById("blank")));
    QTRY_COMPARE_WITH_TIMEOUT(requests, 1, 15000);
    QVERIFY(!w->Web1->Busy());
    QCOMPARE(w->Web1->LocationURL(), url("opener"));

    QVERIFY(w->Web1->Click(page->getElementById("go")));
    QTRY_COMPARE_WITH_TIMEOUT(requests, 2, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(w->Web1->LocationURL(), url("popped"), 15000);
    QTRY_COMPARE(w->StatusPanel3->text(), QStringLiteral("Popped"));
    QCOMPARE(int(QApplication::topLevelWidgets().size()), windows);
}

QF_TEST_MAIN(LoginPanelTest)
#include "test_loginpanel.moc"

#include "ScriptedPrompt.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "WebTestHelper.h"

#include "core/app/ProgramValues.h"
#include "core/platform/DoEvents.h"
#include "ui/platform/WebBrowser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <memory>

using Response = TestHttpServer::Response;

namespace {

constexpr int kLoadTimeoutMs = 15000;

const char* const kResultPage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Results</title></head><body>
<ul class="results">
  <li class="results-cit cit">
    <span class="cit-title">Cells &amp; clocks</span>
    <span class="cit-note" style="display:none">hidden note</span>
    <span class="cit-auth">A. One<br>B. Two</span>
    <a href="/pdf/1?a=1&amp;b=2">Full Text (PDF)</a>
    <a href="abs/1">Abstract</a>
  </li>
  <li class="results-cit cit">
    <span class="cit-title">Quantum dots</span>
    <a href="/pdf/2">Full Text (PDF)</a>
  </li>
</ul>
<a id="next" href="/list/page?FIRSTINDEX=10">Next</a>
</body></html>)";

QString page(const QString& title, const QString& body = {}) {
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                          "</head><body>%2</body></html>")
        .arg(title, body);
}

// Navigates and waits for the top-level document-complete event; true when it came with the
// browser no longer busy and the load succeeded.
bool Load(WebBrowser* browser, const QString& address) {
    QSignalSpy complete(browser, &WebBrowser::DocumentComplete);
    browser->Navigate(address);
    if (complete.isEmpty() && !complete.wait(kLoadTimeoutMs))
        return false;
    return !browser->Busy() && complete.last().at(1).toBool();
}

QStringList hrefs(const DomCollection& anchors) {
    QStringList out;
    for (int i = 0; i < anchors.length(); ++i)
        out << anchors.item(i).href;
    return out;
}

int topLevelWidgetCount() {
    return int(QApplication::topLevelWidgets().size());
}

} // namespace

class WebBrowserTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestHttpServer> server;
    QPointer<WebBrowser> browser;

    QString url(const QString& path) const { return server->url(path); }

private slots:
    void initTestCase() { server = std::make_unique<TestHttpServer>(); }

    void init() {
        browser = new WebBrowser;
        browser->resize(800, 600);
        browser->show();
    }

    void cleanup() {
        delete browser.data();
        server->clearRoutes();
        server->clearRequests();
        Services().prompt = nullptr;
    }

    void cleanupTestCase() {
        DestroyBrowserProfile();
        server.reset();
    }

    void usesTheProgramsPersistentProfile() {
        QWebEngineProfile* profile = BrowserProfile();
        QCOMPARE(BrowserProfile(), profile);
        QCOMPARE(browser->page()->profile(), profile);
        QCOMPARE(profile->storageName(), QString("Quillfetch"));
        QVERIFY(!profile->isOffTheRecord());
        QVERIFY(profile->persistentStoragePath().startsWith(TestHome() + "/"));
        QVERIFY(profile->cachePath().startsWith(TestHome() + "/"));
        QCOMPARE(profile->httpCacheType(), QWebEngineProfile::DiskHttpCache);
        QCOMPARE(profile->persistentCookiesPolicy(), QWebEngineProfile::ForcePersistentCookies);
        QCOMPARE(browser->LocationURL(), QString());
    }

    void snapshotCopiesTagsClassesTextAndAbsoluteLinks() {
        server->serveHtml("/list/page", kResultPage);
        QVERIFY(Load(browser, url("/list/page")));
        const std::optional<Dom> dom = browser->Document({"LI", "SPAN", "A"}, {"LI", "SPAN"});
        QVERIFY(dom);
        QCOMPARE(dom->URL, url("/list/page"));

        const DomCollection items = dom->getElementsByTagName("LI");
        QCOMPARE(items.length(), 2);
        QCOMPARE(items.item(0).className, QString("results-cit cit"));
        QVERIFY(items.item(0).innerText.contains("Cells & clocks"));
        QVERIFY(!items.item(0).innerText.contains("hidden note")); // rendered text only

        const DomCollection spans = dom->getElementsByTagName(items.indexOf(0), "SPAN");
        QCOMPARE(spans.length(), 3);
        QCOMPARE(spans.item(0).className, QString("cit-title"));
        QCOMPARE(spans.item(0).innerText, QString("Cells & clocks"));
        QCOMPARE(spans.item(2).innerText, QString("A. One\nB. Two"));
        QCOMPARE(dom->at(spans.indexOf(0)).parent, items.indexOf(0));

        // Only the first entry's anchors, resolved against the page and with "&amp;" decoded.
        QCOMPARE(hrefs(dom->getElementsByTagName(items.indexOf(0), "A")),
                 QStringList({url("/pdf/1?a=1&b=2"), url("/list/abs/1")}));
        QCOMPARE(hrefs(dom->getElementsByTagName(items.indexOf(1), "A")),
                 QStringList({url("/pdf/2")}));
        const DomCollection anchors = dom->getElementsByTagName("A");
        QCOMPARE(anchors.length(), 4);
        QCOMPARE(anchors.item(3).id, QString("next"));
        QCOMPARE(anchors.item(3).parent, -1);
        QVERIFY(anchors.item(0).innerText.isEmpty()); // text was not asked for anchors
    }

    void busyFromNavigateUntilDocumentComplete() {
        server->route("/slow", Response::html(page("Slow page")).delayHeaders(300));
        server->redirect("/hop", 302, "/slow");
        QSignalSpy complete(browser, &WebBrowser::DocumentComplete);
        QSignalSpy titles(browser, &WebBrowser::TitleChange);
        QList<bool> busyAtComplete;
        connect(browser, &WebBrowser::DocumentComplete, this,
                [&] { busyAtComplete << browser->Busy(); });

        browser->Navigate(url("/hop"));
        QVERIFY(browser->Busy()); // before the engine has said anything
        QVERIFY(complete.wait(kLoadTimeoutMs));
        QCOMPARE(complete.count(), 1);
        QCOMPARE(busyAtComplete, QList<bool>{false});
        QCOMPARE(complete.first().at(0).toString(), url("/slow")); // where the redirect led
        QCOMPARE(complete.first().at(1).toBool(), true);
        QCOMPARE(browser->LocationURL(), url("/slow"));
        QCOMPARE(browser->Title(), QString("Slow page"));
        QVERIFY(!titles.isEmpty());
        QCOMPARE(titles.last().at(0).toString(), QString("Slow page"));
    }

    void aReplacedNavigationKeepsTheBrowserBusy_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("waitForRequest"); // navigate again once this was requested
        QTest::newRow("replaced before the first was answered?") << "/late"
                                                                 << "";
        QTest::newRow("replaced while the first waits for its answer?") << "/late"
                                                                        << "/late";
        QTest::newRow("replaced while the first page's image loads?") << "/with-image"
                                                                      << "/image";
    }

    void aReplacedNavigationKeepsTheBrowserBusy() {
        QFETCH(QString, first);
        QFETCH(QString, waitForRequest);
        server->route("/late", Response::html(page("Late")).delayHeaders(1500));
        server->serveHtml("/with-image", page("With image", "<img src=\"/image\">"));
        server->route("/image", Response::bytes("GIF89a", "image/gif").delayHeaders(1500));
        server->serveHtml("/second", page("Second"));
        QList<QString> completed;
        connect(browser, &WebBrowser::DocumentComplete, this,
                [&](const QString& address) { completed << address; });

        browser->Navigate(url(first));
        if (!waitForRequest.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(server->requestsFor(waitForRequest).size(), 1,
                                      kLoadTimeoutMs);
        browser->Navigate(url("/second"));
        QElapsedTimer waited;
        waited.start();
        while (completed.isEmpty() && waited.elapsed() < kLoadTimeoutMs) {
            QVERIFY(browser->Busy());
            DoEvents();
        }
        QCOMPARE(completed, QList<QString>{url("/second")});
        QVERIFY(!browser->Busy());
        QCOMPARE(browser->Title(), QString("Second"));
    }

    void navigationsThatLoadNothingEndTheWait_data() {
        QTest::addColumn<QString>("shown"); // page shown first, "" for none
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("complete"); // the document-complete event expected
        QTest::newRow("does an address that is no address end the wait?")
            << ""
            << "http://exa mple:99999/"
            << "any";
        QTest::newRow("does an unknown scheme end the wait?") << ""
                                                              << "foo://bar"
                                                              << "failed";
        QTest::newRow("does a refused port end the wait?") << ""
                                                           << "http://127.0.0.1:1/"
                                                           << "failed";
        QTest::newRow("does a reply without content end the wait?") << "/anchors"
                                                                    << "/nocontent"
                                                                    << "failed";
        QTest::newRow("does a download end the wait?") << "/anchors"
                                                       << "/attachment"
                                                       << "failed";
        QTest::newRow("does a jump within the shown page end the wait?") << "/anchors"
                                                                         << "/anchors#part2"
                                                                         << "ok";
    }

    void navigationsThatLoadNothingEndTheWait() {
        QFETCH(QString, shown);
        QFETCH(QString, address);
        QFETCH(QString, complete);
        server->serveHtml("/anchors", page("Anchors", "<p>one</p><h2 id=\"part2\">two</h2>"));
        server->route("/nocontent", Response::statusPage(204));
        server->route("/attachment", Response::bytes("data").contentDisposition(
                                         "attachment; filename=\"data.bin\""));
        if (!shown.isEmpty())
            QVERIFY(Load(browser, url(shown)));
        QSignalSpy completed(browser, &WebBrowser::DocumentComplete);

        browser->Navigate(address.startsWith('/') ? url(address) : address);
        QVERIFY(browser->Busy());
        QTRY_VERIFY_WITH_TIMEOUT(!browser->Busy(), kLoadTimeoutMs);
        if (complete == "any")
            return;
        QCOMPARE(completed.count(), 1);
        QCOMPARE(completed.first().at(1).toBool(), complete == "ok");
        if (complete == "ok")
            QCOMPARE(browser->LocationURL(), url(address));
    }

    void aScriptAddressRunsInTheShownPage() {
        QVERIFY(Load(browser, "about:blank"));
        browser->Navigate("javascript:document.title='ran%20here'");
        QVERIFY(!browser->Busy());
        QTRY_COMPARE(browser->Title(), QString("ran here"));
        QCOMPARE(browser->LocationURL(), QString("about:blank"));
    }

    void stopEndsALoadThatWouldNotEnd() {
        server->route(
            "/held",
            Response::html(page("Held", QString(4000, 'x'))).stallUntilReleased(100, "held"));
        QSignalSpy completed(browser, &WebBrowser::DocumentComplete);
        browser->Navigate(url("/held"));
        QVERIFY(server->waitForStall("held", 1, kLoadTimeoutMs));
        QVERIFY(browser->Busy());
        browser->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!browser->Busy(), kLoadTimeoutMs);
        QCOMPARE(completed.count(), 1);
        QCOMPARE(completed.first().at(1).toBool(), false);

        // Stopped before the engine reported the start: nothing will report its end.
        browser->Navigate(url("/held"));
        browser->Stop();
        QVERIFY(!browser->Busy());
        server->release("held");
    }

    // The engine may fold a navigation asked for while a page still loads into that page's
    // load, reporting neither the new one's start nor (at times) its end; the wait is for the
    // new document all the same, never ended by the earlier page's end. The next page is
    // asked for as soon as the first one's load is reported to begin, as the login panel
    // does when a login follows the blank page a window opens with.
    void aNavigationDuringALoadWaitsForItsOwnDocument_data() {
        QTest::addColumn<QString>("first");
        QTest::newRow("the blank page?") << "about:blank";
        QTest::newRow("a page still receiving its body?") << "/held";
    }
    void aNavigationDuringALoadWaitsForItsOwnDocument() {
        QFETCH(QString, first);
        const QString gate = QStringLiteral("held-%1").arg(QTest::currentDataTag());
        server->route(
            "/held",
            Response::html(page("Held", QString(4000, 'x'))).stallUntilReleased(300, gate));
        server->serveHtml("/next", page("Next"));
        QStringList completions; // address and title as each completion found them
        connect(browser, &WebBrowser::DocumentComplete, this,
                [&](const QString& address) { completions << address + ' ' + browser->Title(); });
        bool asked = false;
        connect(browser->page(), &QWebEnginePage::loadingChanged, this,
                [&](const QWebEngineLoadingInfo& info) {
                    if (!asked && info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
                        asked = true;
                        browser->Navigate(url("/next"));
                    }
                });

        browser->Navigate(first.startsWith('/') ? url(first) : first);
        QTRY_VERIFY_WITH_TIMEOUT(asked && !browser->Busy(), kLoadTimeoutMs);
        QCOMPARE(completions, QStringList{url("/next") + " Next"});
        server->release(gate);
    }

    void framesDoNotCompleteTheDocument() {
        server->serveHtml("/framed", page("Framed", "<iframe src=\"/frame1\"></iframe>"
                                                    "<iframe src=\"/frame3\"></iframe>"));
        // The frame moves on by itself after the top-level page has finished.
        server->serveHtml("/frame1", page("Frame", "<script>setTimeout(function(){"
                                                   "location.href='/frame2';}, 300);</script>"));
        server->serveHtml("/frame2", page("Frame 2", "<img src=\"/frame2.gif\">"));
        server->route("/frame2.gif", Response::bytes("GIF89a", "image/gif"));
        server->serveHtml("/frame3", page("Frame 3"));
        QSignalSpy completed(browser, &WebBrowser::DocumentComplete);

        browser->Navigate(url("/framed"));
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, kLoadTimeoutMs);
        QCOMPARE(completed.first().at(0).toString(), url("/framed"));
        QTRY_COMPARE_WITH_TIMEOUT(server->requestsFor("/frame2.gif").size(), 1, kLoadTimeoutMs);
        QTest::qWait(300); // let the frame's load finish
        QCOMPARE(completed.count(), 1);
        QVERIFY(!browser->Busy());
    }

    void aNewWindowBecomesANavigationOfThisBrowser_data() {
        QTest::addColumn<QString>("opener");
        QTest::addColumn<bool>("click");
        QTest::newRow("a link with target _blank, clicked")
            << "<a id=\"go\" target=\"_blank\" href=\"/popped\">open</a>" << true;
        QTest::newRow("window.open from a button's script")
            << "<button id=\"go\" onclick=\"window.open('/popped')\">open</button>" << true;
        QTest::newRow("window.open from the page's own script")
            << "<script>setTimeout(function(){window.open('/popped');}, 0);</script>" << false;
    }

    void aNewWindowBecomesANavigationOfThisBrowser() {
        QFETCH(QString, opener);
        QFETCH(bool, click);
        server->serveHtml("/opener", page("Opener", opener));
        server->serveHtml("/popped", page("Popped"));
        const int windows = topLevelWidgetCount();
        QSignalSpy newWindows(browser, &WebBrowser::NewWindow);

        QVERIFY(Load(browser, url("/opener")));
        if (click) {
            const std::optional<Dom> dom = browser->Document({"A", "BUTTON"}, {});
            QVERIFY(dom);
            QVERIFY(browser->Click(dom->getElementById("go")));
        }
        QTRY_COMPARE_WITH_TIMEOUT(newWindows.count(), 1, kLoadTimeoutMs);
        QCOMPARE(newWindows.first().at(0).toString(), url("/popped"));
        QTRY_VERIFY_WITH_TIMEOUT(!browser->Busy(), kLoadTimeoutMs);
        QCOMPARE(browser->LocationURL(), url("/popped"));
        QCOMPARE(browser->Title(), QString("Popped"));
        QCOMPARE(topLevelWidgetCount(), windows);
        QCOMPARE(server->requestsFor("/popped").size(), 1);
    }

    void aScriptCannotCloseTheBrowser() {
        // Asked for while the page is still being read, and again once it is shown.
        server->serveHtml("/closer", "<!DOCTYPE html><html><head><title>Closer</title>"
                                     "<script>window.close();</script></head>"
                                     "<body><p>still here</p></body></html>");
        QVERIFY(Load(browser, url("/closer")));
        browser->page()->runJavaScript("window.close()");
        const std::optional<Dom> dom = browser->Document({"P"}, {"P"});
        QVERIFY(browser);
        QVERIFY(browser->isVisible());
        QVERIFY(dom);
        QCOMPARE(dom->URL, url("/closer"));
        QCOMPARE(dom->getElementsByTagName("P").item(0).innerText, QString("still here"));
    }

    void scriptDialogsFollowSilent_data() {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("silent: nothing shown, confirm says no, prompt cancels")
            << true << "false|null" << QStringList();
        QTest::newRow("not silent: every dialog goes through the prompt")
            << false << "true|typed" << QStringList({"hello", "sure?", "name?"});
    }

    void scriptDialogsFollowSilent() {
        QFETCH(bool, silent);
        QFETCH(QString, title);
        QFETCH(QStringList, shown);
        ScriptedPrompt prompt; // the alert needs no answer
        prompt.answer(MsgResult::Ok);
        prompt.answerText("typed");
        Services().prompt = &prompt;
        server->serveHtml("/dialogs", page("Dialogs", "<script>alert('hello');"
                                                      "var c = confirm('sure?');"
                                                      "var p = prompt('name?', 'default');"
                                                      "document.title = c + '|' + p;</script>"));
        browser->setSilent(silent);
        QCOMPARE(browser->Silent(), silent);

        QVERIFY(Load(browser, url("/dialogs")));
        QCOMPARE(browser->Title(), title);
        QStringList texts;
        for (const ScriptedPrompt::Shown& s : prompt.shown())
            texts << s.text;
        QCOMPARE(texts, shown);
        if (!silent) {
            QCOMPARE(prompt.shown().at(1).buttons, MsgButtons::OkCancel);
            QCOMPARE(prompt.shown().at(2).start, QString("default"));
        }
    }

    void historyMovesOnlyWhereThereIsSome() {
        server->serveHtml("/h1", page("One"));
        server->serveHtml("/h2", page("Two"));
        QVERIFY(!browser->GoBack());
        QVERIFY(!browser->GoForward());
        QVERIFY(!browser->Busy());

        QVERIFY(Load(browser, url("/h1")));
        QVERIFY(Load(browser, url("/h2")));
        QVERIFY(browser->GoBack());
        QVERIFY(browser->Busy());
        QTRY_VERIFY_WITH_TIMEOUT(!browser->Busy(), kLoadTimeoutMs);
        QCOMPARE(browser->LocationURL(), url("/h1"));
        QVERIFY(!browser->GoBack());
        QVERIFY(browser->GoForward());
        QTRY_VERIFY_WITH_TIMEOUT(!browser->Busy(), kLoadTimeoutMs);
        QCOMPARE(browser->LocationURL(), url("/h2"));
        QVERIFY(!browser->GoForward());

        QSignalSpy completed(browser, &WebBrowser::DocumentComplete);
        browser->Refresh();
        QVERIFY(browser->Busy());
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, kLoadTimeoutMs);
        QCOMPARE(server->requestsFor("/h2").size(), 2);
    }

    void fillingInAndSubmittingTheLoginFormLogsIn() {
        TestHttpServer::LoginForm form;
        form.password = QString::fromUtf8("pa\"ss'\\ %1 &amp; 密码");
        form.successLocation = "/home";
        server->serveLoginForm(form);
        server->serveHtml("/home", page("Home"));
        server->requireCookie("/members", form.cookieName, form.cookieValue);
        server->serveHtml("/members", page("Members"));

        QVERIFY(Load(browser, url("/login")));
        const std::optional<Dom> dom = browser->Document({"INPUT"}, {});
        QVERIFY(dom);
        int user = -1, password = -1, submit = -1;
        const DomCollection inputs = dom->getElementsByTagName("INPUT");
        for (int i = 0; i < inputs.length(); ++i) {
            if (inputs.item(i).name == form.userField)
                user = inputs.indexOf(i);
            else if (inputs.item(i).type == "password")
                password = inputs.indexOf(i);
            else if (inputs.item(i).type == "submit")
                submit = inputs.indexOf(i);
        }
        QVERIFY(user >= 0 && password >= 0 && submit >= 0);
        QVERIFY(browser->SetValue(user, form.user));
        QVERIFY(browser->SetValue(password, form.password));
        QSignalSpy completed(browser, &WebBrowser::DocumentComplete);
        QVERIFY(browser->Click(submit));
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, kLoadTimeoutMs);
        QCOMPARE(browser->LocationURL(), url("/home"));

        const QList<TestHttpServer::Request> posts = server->requestsFor("/login");
        QCOMPARE(posts.size(), 2);
        QCOMPARE(posts.last().method, QByteArray("POST"));
        QCOMPARE(posts.last().formValue(form.userField), form.user);
        QCOMPARE(posts.last().formValue(form.passwordField), form.password);
        QCOMPARE(posts.last().formValue(form.submitName), QString("Log in"));
        QCOMPARE(server->requestsFor("/home").last().cookie(form.cookieName), form.cookieValue);

        // The elements of the login page are gone with it.
        QVERIFY(!browser->SetValue(user, "again"));
        QVERIFY(!browser->Click(submit));

        QVERIFY(Load(browser, url("/members")));
        QCOMPARE(browser->Title(), QString("Members"));
        QCOMPARE(server->requestsFor("/members").last().cookie(form.cookieName), form.cookieValue);
    }

    void aWrittenValueReachesThePagesOwnScripts() {
        server->serveHtml("/typing",
                          page("Typing", "<input id=\"f\" name=\"f\" "
                                         "oninput=\"document.title='input:'+this.value\" "
                                         "onchange=\"window.changed=this.value\">"));
        QVERIFY(Load(browser, url("/typing")));
        const std::optional<Dom> dom = browser->Document({"INPUT"}, {});
        QVERIFY(dom);
        QVERIFY(browser->SetValue(dom->getElementById("f"), "abc"));
        QTRY_COMPARE(browser->Title(), QString("input:abc"));
        QCOMPARE(RunJs(browser->page(), "window.changed").toString(), QString("abc"));
        // The page's scripts cannot see the copied nodes we keep for writes.
        QCOMPARE(RunJs(browser->page(), "typeof window.__quillfetchNodes").toString(),
                 QString("undefined"));
        QVERIFY(!browser->SetValue(dom->size(), "beyond the copy"));
    }

    void aBrowserDeletedWhileWaitingGivesNoDocument() {
        server->serveHtml("/busy", page("Busy", "<p>text</p>"));
        QVERIFY(Load(browser, url("/busy")));
        // Keep the page's script thread occupied, so the snapshot waits for it.
        browser->page()->runJavaScript("var until = Date.now() + 1500;"
                                       "while (Date.now() < until) {}");
        QPointer<WebBrowser> doomed = browser;
        QTimer::singleShot(200, this, [doomed] { delete doomed.data(); });
        const std::optional<Dom> dom = doomed->Document({"P"}, {"P"});
        QVERIFY(!dom.has_value());
        QVERIFY(doomed.isNull());
    }

    // A copy waits as long as its caller allows, no longer; the late answer of one that gave
    // up is not taken for the next copy's.
    void aCopyIsBoundedByItsCallersTime() {
        server->serveHtml("/slow-copy", page("Slow", "<p>first</p>"));
        QVERIFY(Load(browser, url("/slow-copy")));
        browser->page()->runJavaScript("var until = Date.now() + 2500;"
                                       "while (Date.now() < until) {}");
        QElapsedTimer waited;
        waited.start();
        QVERIFY(!browser->Document({"P"}, {"P"}, 700).has_value());
        QVERIFY2(waited.elapsed() >= 700 && waited.elapsed() < 2400,
                 qPrintable(QString::number(waited.elapsed())));

        browser->page()->runJavaScript("document.querySelector('p').textContent = 'second';");
        const std::optional<Dom> dom = browser->Document({"P"}, {"P"}, 10000);
        QVERIFY(dom);
        QCOMPARE(dom->getElementsByTagName("P").item(0).innerText, QString("second"));
    }

    void blankPageGivesAnEmptyDocument() {
        QVERIFY(Load(browser, "about:blank"));
        const std::optional<Dom> dom = browser->Document({"LI", "A"}, {"LI"});
        QVERIFY(dom);
        QCOMPARE(dom->size(), 0);
        QCOMPARE(dom->URL, QString("about:blank"));
        QCOMPARE(browser->LocationURL(), QString("about:blank"));
    }

    void largeListIsCopiedWhole() {
        QString items;
        for (int i = 0; i < 5000; ++i)
            items +=
                QStringLiteral("<li class=\"e\">Entry %1 <a href=\"/doc/%1\">link</a></li>").arg(i);
        server->serveHtml("/large", page("Large", "<ul>" + items + "</ul>"));
        QVERIFY(Load(browser, url("/large")));
        const std::optional<Dom> dom = browser->Document({"LI", "A"}, {"LI"});
        QVERIFY(dom);
        const DomCollection entries = dom->getElementsByTagName("LI");
        QCOMPARE(entries.length(), 5000);
        QCOMPARE(dom->getElementsByTagName("A").length(), 5000);
        QCOMPARE(entries.item(4999).innerText, QString("Entry 4999 link"));
        const DomCollection last = dom->getElementsByTagName(entries.indexOf(4999), "A");
        QCOMPARE(hrefs(last), QStringList{url("/doc/4999")});
    }

    void hoveringALinkReportsItAsStatusText() {
        server->serveHtml("/hover", page("Hover", "<a id=\"l\" href=\"/target\" style=\""
                                                  "position:absolute;left:0;top:0;"
                                                  "width:200px;height:100px;"
                                                  "display:block\">link</a>"));
        QVERIFY(Load(browser, url("/hover")));
        QSignalSpy status(browser, &WebBrowser::StatusTextChange);
        QWidget* surface = browser->view()->focusProxy();
        QVERIFY(surface);
        QTest::mouseMove(surface, QPoint(300, 300));
        QTest::mouseMove(surface, QPoint(50, 50));
        QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty(), kLoadTimeoutMs);
        QCOMPARE(status.last().at(0).toString(), url("/target"));
    }
};

QF_TEST_MAIN(WebBrowserTest)
#include "test_webbrowser.moc"

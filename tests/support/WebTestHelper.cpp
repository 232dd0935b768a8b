#include "WebTestHelper.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <memory>

namespace {

// Runs a local event loop until `quit` is called through the returned pointer or the time
// is up.
void RunLoopFor(int timeoutMs, QPointer<QObject>& loopHolder) {
    QEventLoop loop;
    loopHolder = &loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    loopHolder = nullptr;
}

void QuitLoop(const QPointer<QObject>& loopHolder) {
    if (auto* loop = qobject_cast<QEventLoop*>(loopHolder.data()))
        loop->quit();
}

} // namespace

PageLoadWaiter::PageLoadWaiter(QWebEnginePage* page) {
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (finished_)
            return;
        finished_ = true;
        ok_ = ok;
        QuitLoop(loop_);
    });
}

bool PageLoadWaiter::wait(int timeoutMs) {
    if (!finished_)
        RunLoopFor(timeoutMs, loop_);
    return finished_ && ok_;
}

bool LoadUrl(QWebEnginePage* page, const QUrl& url, int timeoutMs) {
    PageLoadWaiter waiter(page);
    page->load(url);
    return waiter.wait(timeoutMs);
}

bool LoadUrl(QWebEngineView* view, const QUrl& url, int timeoutMs) {
    return LoadUrl(view->page(), url, timeoutMs);
}

bool LoadHtml(QWebEnginePage* page, const QString& html, const QUrl& baseUrl, int timeoutMs) {
    PageLoadWaiter waiter(page);
    page->setHtml(html, baseUrl);
    return waiter.wait(timeoutMs);
}

QVariant RunJs(QWebEnginePage* page, const QString& script, int timeoutMs, bool* completed) {
    // Shared with the callback, which may still come after this function gave up waiting.
    struct Outcome {
        bool done = false;
        QVariant value;
        QPointer<QObject> loop;
    };
    auto outcome = std::make_shared<Outcome>();
    page->runJavaScript(script, [outcome](const QVariant& value) {
        outcome->done = true;
        outcome->value = value;
        QuitLoop(outcome->loop);
    });
    if (!outcome->done)
        RunLoopFor(timeoutMs, outcome->loop);
    if (completed)
        *completed = outcome->done;
    return outcome->done ? outcome->value : QVariant();
}

QWebEngineProfile* MakeTestProfile(const QString& storageName, QObject* parent) {
    auto* profile = new QWebEngineProfile(storageName, parent);
    const QString home = TestHome().isEmpty() ? QDir::tempPath() : TestHome();
    profile->setPersistentStoragePath(home + "/webengine/" + storageName);
    profile->setCachePath(home + "/cache/webengine/" + storageName);
    profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    return profile;
}

CookieRecorder::CookieRecorder(QWebEngineProfile* profile) {
    QWebEngineCookieStore* store = profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, this, [this](const QNetworkCookie& c) {
        // A cookie set again replaces the one with the same identity.
        cookies_.removeIf([&](const QNetworkCookie& old) { return old.hasSameIdentifier(c); });
        cookies_.append(c);
        QuitLoop(loop_);
    });
    connect(store, &QWebEngineCookieStore::cookieRemoved, this, [this](const QNetworkCookie& c) {
        cookies_.removeIf([&](const QNetworkCookie& old) { return old.hasSameIdentifier(c); });
    });
}

QNetworkCookie CookieRecorder::find(const QByteArray& name) const {
    for (const QNetworkCookie& c : cookies_) {
        if (c.name() == name)
            return c;
    }
    return QNetworkCookie();
}

QNetworkCookie CookieRecorder::waitFor(const QByteArray& name, int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (find(name).name().isEmpty() && waited.elapsed() < timeoutMs)
        RunLoopFor(int(timeoutMs - waited.elapsed()), loop_);
    return find(name);
}

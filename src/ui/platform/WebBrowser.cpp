#include "ui/platform/WebBrowser.h"

#include "core/app/ProgramValues.h"
#include "core/platform/DoEvents.h"
#include "core/platform/Prompt.h"
#include "ui/platform/BrowserSession.h"

#include <QCoreApplication>
#include <QEvent>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <memory>

namespace {

QWebEngineProfile* g_profile = nullptr;

// How long a navigation may go without the engine reporting its start before we conclude
// that nothing will load. The engine normally reports within milliseconds.
constexpr int kStartGraceMs = 15000;
constexpr int kStartCheckMs = 250;
// A new address without a load is a step within one document (a history entry a page script
// made) only if no load follows it this soon: the engine may report the address of a real
// load just before that load's start.
constexpr int kAddressOnlyGraceMs = 1000;

// A jump to a fragment of the shown document loads nothing.
bool sameDocument(const QUrl& before, const QUrl& after) {
    return after.hasFragment() &&
           before.adjusted(QUrl::RemoveFragment) == after.adjusted(QUrl::RemoveFragment);
}

} // namespace

QString BrowserStoragePath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/QtWebEngine/Quillfetch");
}

QWebEngineProfile* BrowserProfile() {
    if (!g_profile) {
        const QString storageName = QStringLiteral("Quillfetch");
        auto* profile = new QWebEngineProfile(storageName);
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        profile->setPersistentStoragePath(BrowserStoragePath());
        profile->setCachePath(cache + QStringLiteral("/QtWebEngine/") + storageName);
        profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        // Sites answer in the program's language, as the browser's own pages do (they follow
        // the locale set at start-up).
        profile->setHttpAcceptLanguage(QStringLiteral("zh-CN,zh;q=0.9,en;q=0.5"));
        // A gateway login usually sets session cookies; keeping them lets the login outlive
        // a restart of the program, as it did with the system browser's cookies.
        profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
        MirrorBrowserSession(profile);
        g_profile = profile;
    }
    return g_profile;
}

void DestroyBrowserProfile() {
    if (!g_profile)
        return;
    // Windows unloaded just before the end may still wait for their deferred deletion; their
    // pages must go before the profile does.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete g_profile;
    g_profile = nullptr;
}

// The page: keeps script dialogs out of sight when silent, sends them through the program's
// Prompt otherwise, and never opens a window of its own.
class QuillfetchPage : public QWebEnginePage {
public:
    QuillfetchPage(QWebEngineProfile* profile, QWidget* owner, QObject* parent)
        : QWebEnginePage(profile, parent), owner_(owner) {}

    bool silent = false;

protected:
    void javaScriptAlert(const QUrl&, const QString& msg) override {
        if (Prompt* prompt = visiblePrompt())
            prompt->message(owner_, msg, MsgIcon::Warning, MsgButtons::Ok, title());
    }

    bool javaScriptConfirm(const QUrl&, const QString& msg) override {
        Prompt* prompt = visiblePrompt();
        return prompt && prompt->message(owner_, msg, MsgIcon::Question, MsgButtons::OkCancel,
                                         title()) == MsgResult::Ok;
    }

    bool javaScriptPrompt(const QUrl&, const QString& msg, const QString& defaultValue,
                          QString* result) override {
        Prompt* prompt = visiblePrompt();
        if (!prompt)
            return false;
        const std::optional<QString> answer = prompt->input(owner_, msg, title(), defaultValue);
        if (answer && result)
            *result = *answer;
        return answer.has_value();
    }

    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override {}

    QStringList chooseFiles(FileSelectionMode, const QStringList& oldFiles,
                            const QStringList&) override {
        Prompt* prompt = Services().prompt;
        if (!prompt)
            return {};
        const QString start = oldFiles.isEmpty() ? QString() : oldFiles.first();
        const QString chosen = prompt->openFileName(owner_, QString(), start);
        return chosen.isEmpty() ? QStringList() : QStringList{chosen};
    }

    // New windows are turned into navigations of this page (newWindowRequested); none is
    // ever created.
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

private:
    Prompt* visiblePrompt() const { return silent ? nullptr : Services().prompt; }

    QWidget* owner_;
};

WebBrowser::WebBrowser(QWidget* parent) : QWidget(parent) {
    view_ = new QWebEngineView(this);
    page_ = new QuillfetchPage(BrowserProfile(), this, view_);
    view_->setPage(page_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    startWatch_ = new QTimer(this);
    startWatch_->setInterval(kStartCheckMs);
    connect(startWatch_, &QTimer::timeout, this, &WebBrowser::checkNavigationStarted);

    connect(page_, &QWebEnginePage::loadingChanged, this, &WebBrowser::onLoadingChanged);
    connect(page_, &QWebEnginePage::urlChanged, this, &WebBrowser::onUrlChanged);
    connect(page_, &QWebEnginePage::newWindowRequested, this, &WebBrowser::onNewWindowRequested);
    connect(page_, &QWebEnginePage::titleChanged, this, &WebBrowser::TitleChange);
    // The engine has no status line of its own; the hovered link is what one would show.
    connect(page_, &QWebEnginePage::linkHovered, this, &WebBrowser::StatusTextChange);

    // A script may not close this browser. Refusing windowCloseRequested is not enough: the
    // engine lets a script close a window with one history entry and, on the way, aborts
    // the load, leaving the document half read. So the page never gets to ask.
    QWebEngineScript keepOpen;
    keepOpen.setName(QStringLiteral("quillfetch-keep-open"));
    keepOpen.setInjectionPoint(QWebEngineScript::DocumentCreation);
    keepOpen.setWorldId(QWebEngineScript::MainWorld);
    keepOpen.setRunsOnSubFrames(false);
    keepOpen.setSourceCode(QStringLiteral("window.close = function () {};"));
    page_->scripts().insert(keepOpen);
}

WebBrowser::~WebBrowser() {
    // The page may still report while it is torn down; nothing of ours must hear it.
    page_->disconnect(this);
    delete view_;
}

QWebEnginePage* WebBrowser::page() const {
    return page_;
}

void WebBrowser::beginNavigation() {
    busy_ = true;
    awaitingStart_ = true;
    awaitingSince_.start();
    addressOnlySince_.invalidate();
    requestedUrl_.clear();
    startWatch_->start();
}

void WebBrowser::Navigate(const QString& address) {
    const QString trimmed = address.trimmed();
    if (trimmed.startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive)) {
        // A script address runs in the shown page and loads nothing.
        const QString script = QUrl::fromPercentEncoding(trimmed.mid(11).toUtf8());
        page_->runJavaScript(script);
        return;
    }
    beginNavigation();
    requestedUrl_ = QUrl::fromUserInput(trimmed);
    page_->load(requestedUrl_);
}

bool WebBrowser::GoBack() {
    if (!page_->history()->canGoBack())
        return false;
    beginNavigation();
    page_->triggerAction(QWebEnginePage::Back);
    return true;
}

bool WebBrowser::GoForward() {
    if (!page_->history()->canGoForward())
        return false;
    beginNavigation();
    page_->triggerAction(QWebEnginePage::Forward);
    return true;
}

void WebBrowser::Refresh() {
    if (page_->url().isEmpty())
        return;
    beginNavigation();
    page_->triggerAction(QWebEnginePage::Reload);
}

void WebBrowser::Stop() {
    // The stopped load reports its end as usual; one that has not started reports nothing.
    awaitingStart_ = false;
    startWatch_->stop();
    page_->triggerAction(QWebEnginePage::Stop);
    if (!loading_)
        busy_ = false;
}

bool WebBrowser::Busy() const {
    return busy_;
}

void WebBrowser::setSilent(bool silent) {
    silent_ = silent;
    page_->silent = silent;
}

bool WebBrowser::Silent() const {
    return silent_;
}

QString WebBrowser::LocationURL() const {
    return page_->url().toString();
}

QString WebBrowser::Title() const {
    return page_->title();
}

void WebBrowser::onLoadingChanged(const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        loading_ = true;
        busy_ = true;
        awaitingStart_ = false;
        addressOnlySince_.invalidate();
        startWatch_->stop();
        return;
    }
    loading_ = false;
    if (awaitingStart_ && !isAwaitedEnd(info)) {
        // The end of a load from before the newest navigation, cut short or finished just
        // before that one could start: the newest is still to come, and its document is not
        // this one. (Should it never start, the watch ends the wait.)
        awaitingSince_.start();
        startWatch_->start();
        return;
    }
    const bool ok = info.status() == QWebEngineLoadingInfo::LoadSucceededStatus;
    finishNavigation(ok ? page_->url().toString() : info.url().toString(), ok);
}

bool WebBrowser::isAwaitedEnd(const QWebEngineLoadingInfo& info) const {
    // The engine may report a load that was asked for while another one still ran as part of
    // that one, without a start of its own: its end then carries its address.
    if (!requestedUrl_.isEmpty())
        return info.url().adjusted(QUrl::StripTrailingSlash) ==
               requestedUrl_.adjusted(QUrl::StripTrailingSlash);
    return info.status() != QWebEngineLoadingInfo::LoadStoppedStatus;
}

void WebBrowser::onUrlChanged() {
    const QUrl before = shownUrl_;
    shownUrl_ = page_->url();
    if (!awaitingStart_ || loading_)
        return;
    // A navigation within the shown document (only the fragment differs) changes the
    // address without a load; it is complete at once. Another address is complete only if
    // no load starts soon after it (checkNavigationStarted).
    if (sameDocument(before, shownUrl_))
        finishNavigation(shownUrl_.toString(), true);
    else if (!addressOnlySince_.isValid())
        addressOnlySince_.start();
}

void WebBrowser::checkNavigationStarted() {
    if (!awaitingStart_) {
        startWatch_->stop();
        return;
    }
    if (loading_)
        return;
    if (addressOnlySince_.isValid() && addressOnlySince_.elapsed() >= kAddressOnlyGraceMs) {
        finishNavigation(page_->url().toString(), true);
        return;
    }
    if (awaitingSince_.elapsed() < kStartGraceMs)
        return;
    // The engine dropped the navigation without a word; nothing is loading.
    awaitingStart_ = false;
    startWatch_->stop();
    busy_ = false;
}

void WebBrowser::finishNavigation(const QString& url, bool ok) {
    awaitingStart_ = false;
    startWatch_->stop();
    busy_ = false;
    emit DocumentComplete(url, ok);
}

void WebBrowser::onNewWindowRequested(QWebEngineNewWindowRequest& request) {
    const QUrl url = request.requestedUrl();
    if (ignoreBlankNewWindows_ &&
        (url.isEmpty() ||
         url.toString().trimmed().compare(QLatin1String("about:blank"), Qt::CaseInsensitive) == 0))
        return;
    // The request is left unanswered, so no window is made. The load waits for the engine
    // to finish handling the request, but the browser counts as busy from now on.
    beginNavigation();
    QMetaObject::invokeMethod(
        this, [this, url] { page_->load(url); }, Qt::QueuedConnection);
    emit NewWindow(url.toString());
}

std::optional<QVariant> WebBrowser::runScript(const QString& script, int timeoutMs) {
    // Shared with the callback, which may come after we stopped waiting or were deleted.
    struct Outcome {
        bool done = false;
        QVariant value;
    };
    auto outcome = std::make_shared<Outcome>();
    // The program's own world: page scripts cannot see or replace what our scripts leave
    // behind, and every script of ours finds what the previous one left.
    page_->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                         [outcome](const QVariant& value) {
                             outcome->done = true;
                             outcome->value = value;
                         });
    const QPointer<WebBrowser> self(this);
    QElapsedTimer waited;
    waited.start();
    while (!outcome->done) {
        if (waited.elapsed() >= timeoutMs)
            return std::nullopt;
        DoEvents();
        if (!self)
            return std::nullopt;
    }
    return outcome->value;
}

std::optional<Dom> WebBrowser::Document(const QStringList& tags, const QStringList& textTags,
                                        int timeoutMs) {
    DomQuery query;
    query.tags = tags;
    query.textTags = textTags;
    return Document(query, timeoutMs);
}

std::optional<Dom> WebBrowser::Document(const DomQuery& query, int timeoutMs) {
    const std::optional<QVariant> answer = runScript(Dom::SnapshotScript(query), timeoutMs);
    if (!answer || answer->typeId() != QMetaType::QString)
        return std::nullopt;
    return Dom::fromJson(answer->toString().toUtf8());
}

bool WebBrowser::SetValue(int index, const QString& value, int timeoutMs) {
    const std::optional<QVariant> answer = runScript(Dom::SetValueScript(index, value), timeoutMs);
    return answer && answer->typeId() == QMetaType::Bool && answer->toBool();
}

bool WebBrowser::Click(int index, int timeoutMs) {
    const std::optional<QVariant> answer = runScript(Dom::ClickScript(index), timeoutMs);
    return answer && answer->typeId() == QMetaType::Bool && answer->toBool();
}

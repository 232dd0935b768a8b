#pragma once

#include "core/platform/Dom.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QWidget>

#include <optional>

class QTimer;
class QWebEngineLoadingInfo;
class QWebEngineNewWindowRequest;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;
class QuillfetchPage;

// The program's one browser profile, "Quillfetch": persistent cookies and a disk cache under
// the user's data folder, shared by every embedded browser (search window, login panel), so a
// login made in one is seen by the others and by the downloads. Created on first use.
QWebEngineProfile* BrowserProfile();
// Where that profile keeps its cookies and other persistent data, known without making it.
QString BrowserStoragePath();
// Deletes the profile; only after every browser using it is gone (at the end of the program).
void DestroyBrowserProfile();

// The embedded browser as the windows use it.
//
// Script dialogs (alert, confirm, prompt) go through the program's Prompt unless Silent; a
// page's request for a new window loads the address here instead; a script's request to
// close the window is ignored.
class WebBrowser : public QWidget {
    Q_OBJECT

public:
    explicit WebBrowser(QWidget* parent = nullptr);
    ~WebBrowser() override;

    // Starts loading and returns at once; Busy() is true from here on. An address without a
    // scheme is taken as a user would type it ("www.example.org" is http).
    void Navigate(const QString& address);
    // False when there is no history in that direction.
    bool GoBack();
    bool GoForward();
    void Refresh();
    void Stop();
    // True from the start of a top-level navigation until its load has finished (or, for a
    // navigation the engine never starts, such as a "javascript:" address, until it is clear
    // that nothing will load).
    bool Busy() const;
    // Silent: pages' script dialogs (alert, confirm, prompt) are not shown.
    void setSilent(bool silent);
    bool Silent() const;
    // Drops a page's request for a new window that would show nothing (no address, or
    // "about:blank") instead of blanking the page shown here.
    void setIgnoreBlankNewWindows(bool ignore) { ignoreBlankNewWindows_ = ignore; }
    // The shown document's address ("" before anything was loaded).
    QString LocationURL() const;
    QString Title() const;

    // A copy of the shown document's elements with the given tags (innerText only for
    // `textTags`, since rendering text is the expensive part). Lets events run while the
    // page answers; nullopt when there is no answer within `timeoutMs` or the browser went
    // away meanwhile. A large page on a slow machine can take long to copy: callers that
    // read the user's pages pass the user's own page time-out rather than the default.
    std::optional<Dom> Document(const QStringList& tags, const QStringList& textTags,
                                int timeoutMs = 10000);
    // The same with everything a DomQuery asks for (elements by class, visibility, marks).
    std::optional<Dom> Document(const DomQuery& query, int timeoutMs = 10000);
    // Writes to the elements of the last Document() copy, by index; false when the element
    // is gone (the page changed) or the page did not answer.
    bool SetValue(int index, const QString& value, int timeoutMs = 5000);
    bool Click(int index, int timeoutMs = 5000);

    QWebEngineView* view() const { return view_; }
    QWebEnginePage* page() const;

Q_SIGNALS:
    void StatusTextChange(const QString& text);
    void TitleChange(const QString& text);
    // The top-level document finished loading (frames inside it do not count).
    void DocumentComplete(const QString& url, bool ok);
    // A page asked for a new window; the browser has already started loading the address
    // itself (no window is opened), so a handler only takes note.
    void NewWindow(const QString& url);

private:
    std::optional<QVariant> runScript(const QString& script, int timeoutMs);
    void beginNavigation();
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    void onUrlChanged();
    // Whether a load that ends while a navigation is awaited is that navigation's.
    bool isAwaitedEnd(const QWebEngineLoadingInfo& info) const;
    void onNewWindowRequested(QWebEngineNewWindowRequest& request);
    void checkNavigationStarted();
    void finishNavigation(const QString& url, bool ok);

    QWebEngineView* view_ = nullptr;
    QuillfetchPage* page_ = nullptr;
    bool busy_ = false;
    bool silent_ = false;
    bool ignoreBlankNewWindows_ = false;
    // The engine is between a load's start and its end.
    bool loading_ = false;
    // A navigation was asked for (Navigate, GoBack, ...) and the engine has not reported its
    // start yet; the engine reports nothing at all for some navigations.
    bool awaitingStart_ = false;
    QElapsedTimer awaitingSince_;
    // Since the address changed without a load while a navigation was awaited.
    QElapsedTimer addressOnlySince_;
    // The address as last reported by the page.
    QUrl shownUrl_;
    // The address Navigate asked for while it is awaited; empty for history steps and
    // reloads, whose address the engine chooses.
    QUrl requestedUrl_;
    QTimer* startWatch_ = nullptr;
};

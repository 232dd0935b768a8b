#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkCookie>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>

class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;

// Helpers that drive the real embedded browser in tests (headless: the environment from
// PrepareTestEnvironment() selects the offscreen platform and disables the sandbox when
// running as root). Every wait runs the event loop until its signal or its time-out; none
// spins.
//
// A profile must outlive the pages that use it: delete the view or page first.

// Catches the next loadFinished of `page` from the moment it is made. Make it before the step
// that navigates (a click, a form submit, a script), then wait().
class PageLoadWaiter : public QObject {
public:
    explicit PageLoadWaiter(QWebEnginePage* page);
    // True when a load finished (within the time) with its ok flag set.
    bool wait(int timeoutMs = 15000);
    bool finished() const { return finished_; }
    bool ok() const { return ok_; }

private:
    bool finished_ = false;
    bool ok_ = false;
    QPointer<QObject> loop_;
};

// Loads the address and waits for loadFinished; returns its ok flag (false on time-out).
bool LoadUrl(QWebEnginePage* page, const QUrl& url, int timeoutMs = 15000);
bool LoadUrl(QWebEngineView* view, const QUrl& url, int timeoutMs = 15000);
// setHtml() and wait; relative links resolve against `baseUrl`.
bool LoadHtml(QWebEnginePage* page, const QString& html, const QUrl& baseUrl = QUrl(),
              int timeoutMs = 15000);

// Runs the script in the page's main world and returns its value (JSON-like values become
// QVariant maps, lists, strings, numbers, booleans). `completed`, when given, tells a script
// that returned undefined apart from one whose answer did not come in time.
QVariant RunJs(QWebEnginePage* page, const QString& script, int timeoutMs = 10000,
               bool* completed = nullptr);

// A disk-based profile (persistent cookies, disk HTTP cache) kept under the test's temporary
// HOME, in "<HOME>/webengine/<storageName>" and "<HOME>/cache/webengine/<storageName>".
// Qt's default profile is off the record and would not behave like the program's own.
QWebEngineProfile* MakeTestProfile(const QString& storageName = QStringLiteral("QuillfetchTest"),
                                   QObject* parent = nullptr);

// Keeps track of a profile's cookie store from the moment it is made (the store announces a
// cookie once, when it is set; it does not repeat earlier ones on request). Make it right
// after the profile, before any page loads.
class CookieRecorder : public QObject {
public:
    explicit CookieRecorder(QWebEngineProfile* profile);
    // The cookies the store holds now, as far as its announcements tell.
    QList<QNetworkCookie> cookies() const { return cookies_; }
    // The cookie of that name (for any host), or a default cookie with an empty name.
    QNetworkCookie find(const QByteArray& name) const;
    // Waits until a cookie of that name is present; returns it as find() does.
    QNetworkCookie waitFor(const QByteArray& name, int timeoutMs = 10000);

private:
    QList<QNetworkCookie> cookies_;
    QPointer<QObject> loop_;
};

#include "ui/platform/BrowserSession.h"

#include "core/transfer/TransferNetwork.h"
#include "ui/platform/StoredCookies.h"

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

BrowserSession::BrowserSession(QWebEngineProfile* profile, QNetworkCookieJar* jar)
    : QObject(profile), jar_(jar) {
    // What earlier runs kept, read from the profile's database: the store below loads the same
    // cookies for the browser but never announces them. The live mirror that follows replaces
    // any of them the site sets again.
    const QList<QNetworkCookie> stored =
        ReadStoredCookies(StoredCookiesPath(profile->persistentStoragePath()));
    for (const QNetworkCookie& cookie : stored)
        jar_->insertCookie(cookie);
    QWebEngineCookieStore* store = profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, this, &BrowserSession::cookieAdded);
    connect(store, &QWebEngineCookieStore::cookieRemoved, this, &BrowserSession::cookieRemoved);
    // Cookies set in this run before the mirror started are announced when asked.
    store->loadAllCookies();
}

void BrowserSession::cookieAdded(const QNetworkCookie& cookie) {
    // Replaces a cookie of the same name, domain and path; an expired one only removes it.
    jar_->insertCookie(cookie);
}

void BrowserSession::cookieRemoved(const QNetworkCookie& cookie) {
    jar_->deleteCookie(cookie);
}

void MirrorBrowserSession(QWebEngineProfile* profile) {
    if (!profile)
        return;
    new BrowserSession(profile, TransferCookieJar());
    SetTransferUserAgent(profile->httpUserAgent());
}

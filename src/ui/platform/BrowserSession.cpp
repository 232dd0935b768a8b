#include "ui/platform/BrowserSession.h"

#include "core/transfer/TransferNetwork.h"

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

BrowserSession::BrowserSession(QWebEngineProfile* profile, QNetworkCookieJar* jar)
    : QObject(profile), jar_(jar) {
    QWebEngineCookieStore* store = profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, this, &BrowserSession::cookieAdded);
    connect(store, &QWebEngineCookieStore::cookieRemoved, this, &BrowserSession::cookieRemoved);
    // The store announces what it already holds (the cookies kept from earlier runs) only
    // when asked; the answer arrives as cookieAdded, after the connections above.
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

#pragma once

#include <QObject>

class QNetworkCookie;
class QNetworkCookieJar;
class QWebEngineProfile;

// Lets the transfers carry the embedded browser's session: the transfers' cookie jar follows
// the profile's cookie store (every cookie earlier runs kept on disk, then every one it adds or
// removes), and the transfers send the profile's User-Agent. A login made in any embedded
// browser then authorises the downloads that follow.
//
// The mirror belongs to the profile and ends with it; the jar keeps what it had.
class BrowserSession : public QObject {
    Q_OBJECT

public:
    BrowserSession(QWebEngineProfile* profile, QNetworkCookieJar* jar);

private:
    void cookieAdded(const QNetworkCookie& cookie);
    void cookieRemoved(const QNetworkCookie& cookie);

    QNetworkCookieJar* jar_;
};

// Mirrors `profile` into the transfers' shared cookie jar and User-Agent.
void MirrorBrowserSession(QWebEngineProfile* profile);

#pragma once

#include <QNetworkRequest>
#include <QString>

class QNetworkAccessManager;
class QNetworkCookieJar;

// What every transfer of the program shares: one cookie jar (kept in step with the embedded
// browser's cookies, so a login made there authorises the downloads) and the browser's
// User-Agent. Lives on the user-interface thread.

// The cookie jar of every transfer. It belongs to no network manager, so managers that need
// a proxy of their own can share it.
QNetworkCookieJar* TransferCookieJar();

// The managers of the parallel transfers: the desktop's proxy configuration, the shared jar.
// Each manager reads its sockets on a thread of its own, so the parallel slots use one lane
// each (0 to kTransferLanes - 1; others are taken modulo), and six transfers at once are not
// all read by one thread. Lane 0 serves everything else.
inline constexpr int kTransferLanes = 6;
QNetworkAccessManager* TransferNetwork(int lane = 0);

// A manager of its own for a transfer that sets its own proxy, sharing the jar. The caller
// owns it.
QNetworkAccessManager* NewTransferNetwork(QObject* parent);

// The User-Agent sent on every transfer; empty means Qt's own.
void SetTransferUserAgent(const QString& userAgent);
QString TransferUserAgent();

// A GET request as every transfer sends it: a fresh fetch past every cache, redirects
// followed (never from https to http), the body unencoded so Content-Length counts the bytes
// written, the browser's User-Agent.
QNetworkRequest TransferRequest(const QUrl& url);

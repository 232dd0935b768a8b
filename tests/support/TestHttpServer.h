#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QThread;
class TestHttpServerWorker;
struct TestHttpServerShared;

// An HTTP/1.1 server for tests, on 127.0.0.1 and a port the system picks. It runs on its own
// thread, so it keeps answering while the test thread sits in a nested wait or in a blocking
// socket call. Every public function may be called from any thread.
//
// Each connection carries one request: every response says "Connection: close" and the
// server closes the connection once the response is out. Handlers run on the server's
// thread, outside its lock: one that touches test data must guard it itself, and one that
// blocks holds up every connection (use delayHeaders()/stall*() for timing instead).
//
// Requests whose target is an absolute address ("GET http://127.0.0.1:PORT/x HTTP/1.1") are
// proxy requests: they are logged with viaProxy set, answered from this server's routes when
// they name this server, relayed to the origin when they name another port of 127.0.0.1, and
// refused with 502 otherwise. No other address is ever bound or contacted.
class TestHttpServer : public QObject {
    Q_OBJECT

public:
    using Header = std::pair<QByteArray, QByteArray>;

    struct Request {
        QByteArray method;
        QByteArray target;  // as on the request line: "/p?q" or, through a proxy, "http://h:p/p?q"
        QByteArray version; // "HTTP/1.1"
        QString path;       // the target's path, still percent-encoded as sent
        QString query;      // after "?", without it; empty when there is none
        QList<Header> headers;
        QByteArray body;        // de-chunked when the client sent it chunked
        bool viaProxy = false;  // absolute-form target
        bool malformed = false; // answered 400 (or 413/431); other fields as far as parsed
        int connection = 0;     // serial number of the connection that carried it
        qint64 receivedMs = 0;  // monotonic, since the server started
        QDateTime time;         // wall-clock time of arrival

        // Header lookups ignore letter case of the name; a missing header gives "".
        QByteArray header(const QByteArray& name) const;
        bool hasHeader(const QByteArray& name) const;
        QList<QByteArray> headerValues(const QByteArray& name) const;
        // From the Cookie header(s); a missing cookie gives a null QByteArray.
        QByteArray cookie(const QByteArray& name) const;
        bool hasCookie(const QByteArray& name) const { return !cookie(name).isNull(); }
        // Decoded query item / form field (application/x-www-form-urlencoded body).
        QString queryItem(const QString& key) const;
        QString formValue(const QString& key) const;
        // "/path?query": the origin-form target, also for proxy requests.
        QString pathAndQuery() const;
    };

    // A body made on the fly while it is sent, never held whole: `head` first, then
    // `pattern` repeated, so that byte i is head[i] for i < head.size(), else
    // pattern[i % pattern.size()]. The default pattern is 251 bytes 0..250, so a shifted or
    // repeated piece shows up in a comparison.
    struct GeneratedBody {
        qint64 size = 0;
        QByteArray head;
        QByteArray pattern = defaultPattern();

        QByteArray bytes(qint64 offset, qint64 length) const;
        char byteAt(qint64 offset) const;
    };

    struct Response {
        enum class Framing {
            ContentLength,  // "Content-Length: n"
            CloseDelimited, // neither length nor chunks: the body ends when the server closes
            Chunked,        // "Transfer-Encoding: chunked"
        };

        int status = 200;
        QByteArray reason; // empty: the usual phrase for the status
        QByteArray contentType = "application/octet-stream"; // empty: no Content-Type header
        // Sent after the framing headers, in this order (Set-Cookie, Location, ...).
        QList<Header> headers;
        QByteArray body;
        std::optional<GeneratedBody> generated; // streamed instead of `body` when set
        Framing framing = Framing::ContentLength;
        int pieceSize = 16384; // bytes per write, and per chunk when chunked
        int headerDelayMs = 0;
        // Stall: after `stallAfter` body bytes, pause for `stallMs` or, when `stallGate` is
        // set, until release(stallGate).
        qint64 stallAfter = -1;
        int stallMs = 0;
        QString stallGate;
        // Close early: the framing announces the whole body, but the connection is closed
        // after this many body bytes.
        qint64 closeAfter = -1;
        // The body is sent from this byte on (the rest of a 206); the framing, the stall and
        // the close count only the bytes sent.
        qint64 bodyOffset = 0;

        static Response bytes(const QByteArray& body,
                              const QByteArray& contentType = "application/octet-stream");
        static Response html(const QString& html); // UTF-8, "text/html; charset=utf-8"
        static Response statusPage(int code);      // short text/plain body naming the status
        static Response redirect(int code, const QString& location);
        static Response generatedBody(qint64 size,
                                      const QByteArray& contentType = "application/octet-stream",
                                      const QByteArray& head = {});

        // The answer of a server that honours ranges, made from the whole answer `whole`:
        // "Range: bytes=N-" gets 206 with the body from N and its Content-Range (416 when N
        // is at or past the end), unless an If-Range names neither whole's ETag nor its
        // Last-Modified, which gets `whole`. Other requests get `whole`.
        static Response ranged(const Request& request, Response whole);

        Response& header(const QByteArray& name, const QByteArray& value);
        Response& setCookie(const QByteArray& cookie); // "name=value; Path=/"
        Response& contentDisposition(const QByteArray& value);
        Response& withFraming(Framing f);
        Response& delayHeaders(int ms);
        Response& stallAfterBytes(qint64 bytes, int ms);
        Response& stallUntilReleased(qint64 bytes, const QString& gate);
        Response& closeAfterBytes(qint64 bytes);

        qint64 bodySize() const {
            return std::max<qint64>(0, (generated ? generated->size : body.size()) - bodyOffset);
        }
        // The value of the header `name` among `headers` (letter case ignored); "" when absent.
        QByteArray headerValue(const QByteArray& name) const;
    };

    using Handler = std::function<Response(const Request&)>;

    // A gateway login page. GET shows a form posting back to `path`; a POST with the right
    // user and password (or any POST when `ipLogin`) sets the cookie and redirects (302) to
    // `successLocation`; a wrong one shows the form again (200) with a notice.
    struct LoginForm {
        QString path = "/login";
        QString userField = "user";
        QString passwordField = "password";
        QString submitName = "submit";
        QString user = "reader";
        QString password = "secret";
        QByteArray cookieName = "session";
        QByteArray cookieValue = "granted";
        QString successLocation = "/";
        QString title = "Login";
        // Address-range login: the page has only <input type="submit" id="submitip">.
        bool ipLogin = false;
        // When set, used instead of the standard inputs inside the <form>, e.g. to put the
        // button before the password field or to spell names in other letter cases.
        QString fieldsHtml;
        // The form page's headers are held back this long (a slow gateway).
        int formDelayMs = 0;
    };

    enum class Scheme { Http, Https };

    explicit TestHttpServer(QObject* parent = nullptr);
    // Https: the same server behind TLS, with a self-signed certificate for 127.0.0.1 made by
    // `openssl` at first use in the process (not listening when that fails). A client that
    // verifies certificates refuses it; one that trusts certificate() talks to it. Meant as an
    // origin server, not as a proxy.
    explicit TestHttpServer(Scheme scheme, QObject* parent = nullptr);
    ~TestHttpServer() override;

    bool isListening() const;
    quint16 port() const;
    Scheme scheme() const { return scheme_; }
    // The certificate an HTTPS server presents; a null certificate for plain HTTP.
    QSslCertificate certificate() const;
    QString baseUrl() const;                // "http://127.0.0.1:PORT" ("https://" for Https)
    QString url(const QString& path) const; // baseUrl() + path

    // Routes. A request is answered by the first of: a cookie guard whose cookie is missing,
    // a target route (path and query, exact), a path route (query ignored), the fallback
    // handler, 404. Registering a route again replaces it.
    void route(const QString& path, const Response& response);
    void route(const QString& path, Handler handler);
    void routeTarget(const QString& pathAndQuery, const Response& response);
    void routeTarget(const QString& pathAndQuery, Handler handler);
    void setFallback(Handler handler);
    void removeRoute(const QString& pathOrTarget);
    void clearRoutes(); // routes, guards and fallback

    // Conveniences over route().
    void serve(const QString& path, const QByteArray& body,
               const QByteArray& contentType = "application/octet-stream",
               Response::Framing framing = Response::Framing::ContentLength);
    void serveHtml(const QString& path, const QString& html);
    void redirect(const QString& path, int code, const QString& location);
    void serveGenerated(const QString& path, qint64 size,
                        const QByteArray& contentType = "application/octet-stream",
                        Response::Framing framing = Response::Framing::ContentLength,
                        const QByteArray& head = {});

    // Paths starting with `pathPrefix` need the cookie (with that value, or any value when
    // `value` is empty); without it they get `whenMissing`.
    void requireCookie(const QString& pathPrefix, const QByteArray& name,
                       const QByteArray& value = {},
                       const Response& whenMissing = Response::statusPage(403));
    void serveLoginForm(const LoginForm& form);
    // requireCookie() with the form's cookie, answering the login page (200) when it is
    // missing; the form's own path stays open.
    void requireLogin(const QString& pathPrefix, const LoginForm& form);
    static QString loginFormHtml(const LoginForm& form, bool failedAttempt);
    // A bot check in front of `pathPrefix` that lets only the embedded browser through: a
    // request without `browserHeader` (one Chromium sends and plain clients do not) gets
    // challengePage(). Checked before the cookie guards and the routes.
    void challengePlainClients(const QString& pathPrefix,
                               const QByteArray& browserHeader = "Sec-Fetch-Mode");
    // 403 with "cf-mitigated: challenge" and a "Just a moment..." interstitial.
    static Response challengePage();

    // Gates for stallUntilReleased(): release() lets every response waiting at the gate go on
    // and keeps the gate open for later ones; closeGate() arms it again.
    void release(const QString& gate);
    void closeGate(const QString& gate);
    int waitingAt(const QString& gate) const; // responses paused at the gate right now
    // True once `count` responses were seen paused at the gate at one time (they may have
    // gone on since, when their clients hung up). The waits end as soon as their condition
    // holds: the time limits only bound a failure, and they are generous because a loaded
    // machine is slow to get a request out.
    bool waitForStall(const QString& gate, int count = 1, int timeoutMs = 30000);

    // Body bytes written to clients since the start or the last reset, over all responses.
    qint64 bodyBytesSent() const;
    void resetBodyBytesSent();

    // The request log, in order of arrival (a request is logged once it is complete).
    QList<Request> requests() const;
    int requestCount() const;
    Request lastRequest() const; // a default Request when the log is empty
    QList<Request> requestsFor(const QString& path) const;
    void clearRequests();
    // Runs the calling thread's event loop (no spinning) until the log holds `count`
    // requests or the time is up.
    bool waitForRequests(int count, int timeoutMs = 30000);

    static QByteArray reasonPhrase(int status);
    static QByteArray defaultPattern();

signals:
    // Emitted on the server's thread; connections from other threads are queued.
    void requestReceived(int count);
    void stallStateChanged();

private:
    bool waitFor(const std::function<bool()>& done, int timeoutMs);

    std::shared_ptr<TestHttpServerShared> shared_;
    QThread* thread_ = nullptr;
    TestHttpServerWorker* worker_ = nullptr;
    quint16 port_ = 0;
    Scheme scheme_ = Scheme::Http;
    QSslCertificate certificate_;
};

#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;

// The single-connection transfer control of the download window: one request at a time over
// one streaming reply, through an HTTP proxy of its own when one is set. Requests go out as
// every transfer of the program sends them (TransferRequest: no cache, redirects followed,
// identity encoding, the browser's User-Agent, the shared cookie jar).
//
// The body is not collected: it stays in the reply's bounded buffer until the caller takes it
// with GetChunk (or streams it with OpenURL), so memory stays small whatever the size.
class Inet : public QObject {
    Q_OBJECT

public:
    enum class AccessTypes {
        UseDefault = 0, // the desktop's proxy configuration
        Direct = 1,     // no proxy
        NamedProxy = 2, // the HTTP proxy named by Proxy()
    };
    enum class Protocols { HTTP = 4, HTTPS = 5 };

    // What StateChanged reports.
    enum State {
        NoState = 0,
        ResolvingHost = 1,
        HostResolved = 2,
        Connecting = 3,
        Connected = 4,
        Requesting = 5,
        RequestSent = 6,
        ReceivingResponse = 7,
        ResponseReceived = 8,
        Disconnecting = 9,
        Disconnected = 10,
        Error = 11,
        ResponseCompleted = 12,
    };

    explicit Inet(QObject* parent = nullptr);
    ~Inet() override;

    AccessTypes AccessType() const { return accessType_; }
    void SetAccessType(AccessTypes type) { accessType_ = type; }
    // "host:port" of the HTTP proxy used with NamedProxy; a missing port means 80, and an
    // "http://" in front is accepted.
    QString Proxy() const { return proxy_; }
    void SetProxy(const QString& proxy) { proxy_ = proxy; }
    // Kept as the caller computed it. A request always goes to the port its own link names
    // (or the scheme's port), through the proxy when one is set: applying this value would,
    // for instance, send an https link naming port 8443 to 443.
    int RemotePort() const { return remotePort_; }
    void SetRemotePort(int port) { remotePort_ = port; }
    // Kept as the caller computed it; the scheme of the link decides what is spoken.
    Protocols Protocol() const { return protocol_; }
    void SetProtocol(Protocols protocol) { protocol_ = protocol; }

    // Starts a request and returns at once; a request still running is abandoned first.
    // `headerBlock` holds "Name: value" lines separated by CR LF. An address that cannot be
    // sent (no http or https link, a proxy that cannot be read) fails at once with state 11.
    void Execute(const QString& url, const QString& method = QStringLiteral("GET"),
                 const QByteArray& body = {}, const QString& headerBlock = {});

    // True from Execute until the response has completed, failed or been cancelled. The body
    // may still be waiting in the buffer afterwards (BytesAvailable).
    bool StillExecuting() const;
    // The final response's status line and headers are in (redirects already followed).
    bool HeadersReceived() const { return headersIn_; }

    // The value of the response header `name` (letter case ignored; repeated headers joined
    // by ", "), "" when absent. Without a name: the status line, then every header line as
    // "Name: value", separated by CR LF; "" when no response headers arrived.
    QString GetHeader(const QString& name = {}) const;

    // Up to `size` bytes of the body that have arrived and not yet been taken; empty when
    // none is waiting right now. Never waits.
    QByteArray GetChunk(qint64 size);
    qint64 BytesAvailable() const;

    // Fetches `url` (GET, no header block) and waits for the whole body, letting pending
    // events run. `keepWaiting` is asked after every pump; false cancels the request.
    // The first form returns the body, empty on failure or cancellation; it suits small
    // answers. The second streams the body into `sink` and returns the bytes written, or -1
    // when the request failed (no response, a body cut short, a transport error), was
    // cancelled (by `keepWaiting` or by a Cancel while it waits), or the sink refused a
    // write.
    QByteArray OpenURL(const QString& url, const std::function<bool()>& keepWaiting);
    qint64 OpenURL(const QString& url, QIODevice& sink, const std::function<bool()>& keepWaiting);

    // Abandons the running request and drops its unread body; safe at any time, also twice.
    void Cancel();

    // The address of the last request.
    QString URL() const { return url_; }
    // After state 11: the network error's number and its text. 0 and "" otherwise.
    int ResponseCode() const { return responseCode_; }
    QString ResponseInfo() const { return responseInfo_; }
    // The final response's HTTP status, 0 before the headers are in.
    int StatusCode() const;

signals:
    // The control's state, 0 to 12 (State).
    void StateChanged(int state);

private:
    void startReply(const QString& url, const QByteArray& method, const QByteArray& body,
                    const QString& headerBlock);
    bool applyProxy(const QUrl& url);
    void fail(int code, const QString& info);
    void setState(int state);
    void onMetaData();
    void onFinished();
    void dropReply();

    QNetworkAccessManager* network_;
    QPointer<QNetworkReply> reply_;
    AccessTypes accessType_ = AccessTypes::UseDefault;
    QString proxy_;
    int remotePort_ = 80;
    Protocols protocol_ = Protocols::HTTP;
    QString url_;
    bool executing_ = false;
    bool cancelled_ = false; // since the last Execute
    bool headersIn_ = false;
    int state_ = NoState;
    int responseCode_ = 0;
    QString responseInfo_;
    qint64 taken_ = 0; // body bytes handed out so far
    // Body bytes taken from the reply and not yet handed out: those from aheadAt_ on.
    QByteArray ahead_;
    qsizetype aheadAt_ = 0;
};

#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cstring>

using Request = TestHttpServer::Request;
using Response = TestHttpServer::Response;
using Handler = TestHttpServer::Handler;

struct TestHttpServerShared {
    struct CookieGuard {
        QString prefix;
        QByteArray name;
        QByteArray value;
        Response whenMissing;
        QString exempt; // a path under the prefix that stays open (the login page)
    };

    mutable QMutex mutex;
    QHash<QString, Handler> pathRoutes;
    QHash<QString, Handler> targetRoutes;
    Handler fallback;
    QList<CookieGuard> guards;
    // Bot checks: a request under the prefix without the header gets the challenge page.
    QList<std::pair<QString, QByteArray>> browserChecks;
    QSet<QString> openGates;
    QHash<QString, int> waiting;
    QList<Request> log;
    QElapsedTimer clock;
    quint16 port = 0;
    TestHttpServer* facade = nullptr;
    std::atomic<qint64> bodyBytesSent{0};
};

namespace {

// Whatever a test sends, the server holds at most this much of one request.
constexpr int kMaxHeadBytes = 64 * 1024;
constexpr qint64 kMaxBodyBytes = 32 * 1024 * 1024;
// Body bytes queued on a socket before the sender waits for the client to read; keeps big
// generated bodies streaming instead of piling up in memory.
constexpr qint64 kHighWater = 256 * 1024;

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

bool isToken(const QByteArray& s) {
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), isTokenChar);
}

bool isVisibleAscii(const QByteArray& s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) > 0x20 && c != 0x7f; });
}

QString formDecode(QByteArray part) {
    part.replace('+', ' ');
    return QUrl::fromPercentEncoding(part);
}

QString lookupEncoded(const QByteArray& encoded, const QString& key) {
    for (const QByteArray& pair : encoded.split('&')) {
        if (pair.isEmpty())
            continue;
        const int eq = pair.indexOf('=');
        const QByteArray name = eq < 0 ? pair : pair.left(eq);
        if (formDecode(name) == key)
            return eq < 0 ? QString("") : formDecode(pair.mid(eq + 1));
    }
    return QString();
}

bool bodyForbidden(int status) {
    return (status >= 100 && status < 200) || status == 204 || status == 304;
}

// One client connection: reads one request, answers it (or relays it), then closes.
class HttpConnection : public QObject {
public:
    HttpConnection(QTcpSocket* socket, std::shared_ptr<TestHttpServerShared> shared, int serial,
                   QObject* parent)
        : QObject(parent), socket_(socket), shared_(std::move(shared)) {
        socket_->setParent(this);
        request_.connection = serial;
        connect(socket_, &QTcpSocket::readyRead, this, &HttpConnection::readIncoming);
        connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
            if (phase_ == Phase::Responding)
                pump();
            else if (phase_ == Phase::Relaying)
                pumpRelay();
        });
        connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        readIncoming();
    }

    ~HttpConnection() override {
        leaveGate();
        // The sockets go with this object; their last signals must not reach it half-gone.
        socket_->disconnect(this);
        if (upstream_)
            upstream_->disconnect(this);
    }

    const QString& gateWaitedFor() const { return gateWaiting_; }

    void resumeFromGate() {
        if (gateWaiting_.isEmpty())
            return;
        leaveGate();
        paused_ = false;
        pump();
    }

private:
    enum class Phase { Head, Body, Responding, Relaying, Closing };

    void readIncoming() {
        if (phase_ != Phase::Head && phase_ != Phase::Body) {
            socket_->readAll(); // one request per connection; anything after it is ignored
            return;
        }
        in_ += socket_->readAll();
        if (phase_ == Phase::Head) {
            const int end = in_.indexOf("\r\n\r\n");
            const int bareEnd = in_.indexOf("\n\n");
            if (bareEnd >= 0 && (end < 0 || bareEnd < end)) {
                // Lines ended by LF alone: answer instead of waiting for a CR LF that never comes.
                reject(400);
                return;
            }
            if (end < 0) {
                if (in_.size() > kMaxHeadBytes)
                    reject(431);
                return;
            }
            if (end > kMaxHeadBytes) {
                reject(431);
                return;
            }
            const QByteArray head = in_.left(end);
            in_.remove(0, end + 4);
            const int status = parseHead(head);
            if (status != 0) {
                reject(status);
                return;
            }
            if (request_.header("Expect").toLower() == "100-continue" &&
                (chunkedRequest_ || expectedBody_ > 0))
                socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
            phase_ = Phase::Body;
        }
        if (chunkedRequest_) {
            const int status = takeChunkedBody();
            if (status < 0)
                return; // more to come
            if (status > 0) {
                reject(status);
                return;
            }
        } else {
            if (in_.size() < expectedBody_)
                return;
            request_.body = in_.left(expectedBody_);
        }
        in_.clear();
        requestComplete();
    }

    // 0 when the head is sound, else the status to answer with.
    int parseHead(const QByteArray& head) {
        // Lines end in CR LF; the head itself arrives without its final empty line.
        const QList<QByteArray> lines = head.split('\n');
        QList<QByteArray> clean;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const bool last = i + 1 == lines.size();
            if (last ? lines[i].endsWith('\r') : !lines[i].endsWith('\r'))
                return 400;
            clean.append(last ? lines[i] : lines[i].chopped(1));
        }
        const QList<QByteArray> parts = clean.first().split(' ');
        if (parts.size() != 3)
            return 400;
        request_.method = parts[0];
        request_.target = parts[1];
        request_.version = parts[2];
        if (!isToken(request_.method) || request_.target.isEmpty() ||
            !isVisibleAscii(request_.target))
            return 400;
        if (request_.version != "HTTP/1.1" && request_.version != "HTTP/1.0")
            return 400;

        for (qsizetype i = 1; i < clean.size(); ++i) {
            const QByteArray& line = clean[i];
            const int colon = line.indexOf(':');
            if (colon <= 0)
                return 400;
            const QByteArray name = line.left(colon);
            if (!isToken(name))
                return 400; // also catches folded lines, which start with white space
            request_.headers.append({name, line.mid(colon + 1).trimmed()});
        }
        if (request_.version == "HTTP/1.1" && !request_.hasHeader("Host"))
            return 400;

        if (!parseTarget())
            return 400;

        const QList<QByteArray> lengths = request_.headerValues("Content-Length");
        const QByteArray coding = request_.header("Transfer-Encoding").trimmed().toLower();
        if (!coding.isEmpty()) {
            if (!lengths.isEmpty())
                return 400; // both framings at once: refuse rather than guess
            if (coding != "chunked")
                return 501;
            chunkedRequest_ = true;
        } else if (!lengths.isEmpty()) {
            for (const QByteArray& l : lengths) {
                if (l != lengths.first() || l.isEmpty() ||
                    !std::all_of(l.begin(), l.end(), [](char c) { return c >= '0' && c <= '9'; }))
                    return 400;
            }
            bool ok = false;
            expectedBody_ = lengths.first().toLongLong(&ok);
            if (!ok)
                return 400;
            if (expectedBody_ > kMaxBodyBytes)
                return 413;
        }
        return 0;
    }

    bool parseTarget() {
        QByteArray target = request_.target;
        if (request_.method == "CONNECT") {
            request_.viaProxy = true;
            return true;
        }
        if (target == "*")
            return request_.method == "OPTIONS";
        const QByteArray lower = target.toLower();
        if (lower.startsWith("http://") || lower.startsWith("https://")) {
            request_.viaProxy = true;
            const int schemeEnd = target.indexOf("://") + 3;
            int pathStart = schemeEnd;
            while (pathStart < target.size() && target[pathStart] != '/' &&
                   target[pathStart] != '?')
                ++pathStart;
            const QByteArray authority = target.mid(schemeEnd, pathStart - schemeEnd);
            if (authority.isEmpty() || authority.contains('@'))
                return false;
            QByteArray host = authority.toLower();
            int port = lower.startsWith("https://") ? 443 : 80;
            if (!host.startsWith('[')) {
                const int colon = host.lastIndexOf(':');
                if (colon >= 0) {
                    bool ok = false;
                    port = host.mid(colon + 1).toInt(&ok);
                    if (!ok || port <= 0 || port > 65535)
                        return false;
                    host = host.left(colon);
                }
            }
            proxyToLocalHost_ =
                lower.startsWith("http://") && (host == "127.0.0.1" || host == "localhost");
            proxyPort_ = quint16(port);
            target = target.mid(pathStart);
            if (target.isEmpty() || target.startsWith('?'))
                target.prepend('/');
        } else if (!target.startsWith('/')) {
            return false;
        }
        const int hash = target.indexOf('#');
        if (hash >= 0)
            target.truncate(hash);
        const int question = target.indexOf('?');
        request_.path = QString::fromLatin1(question < 0 ? target : target.left(question));
        request_.query = question < 0 ? QString() : QString::fromLatin1(target.mid(question + 1));
        return true;
    }

    // -1: incomplete; 0: complete; otherwise the status to reject with.
    int takeChunkedBody() {
        while (true) {
            const int lineEnd = in_.indexOf("\r\n");
            if (lineEnd < 0)
                return in_.size() > 1024 ? 400 : -1;
            QByteArray sizeText = in_.left(lineEnd);
            const int semicolon = sizeText.indexOf(';');
            if (semicolon >= 0)
                sizeText.truncate(semicolon);
            bool ok = false;
            const qint64 size = sizeText.trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0)
                return 400;
            if (size == 0) {
                // Optional trailer lines, then an empty line.
                const QByteArray rest = in_.mid(lineEnd + 2);
                if (rest.startsWith("\r\n"))
                    return 0;
                if (rest.indexOf("\r\n\r\n") >= 0)
                    return 0;
                return rest.size() > kMaxHeadBytes ? 400 : -1;
            }
            if (request_.body.size() + size > kMaxBodyBytes)
                return 413;
            if (in_.size() < lineEnd + 2 + size + 2)
                return -1;
            if (in_.mid(lineEnd + 2 + size, 2) != "\r\n")
                return 400;
            request_.body += in_.mid(lineEnd + 2, size);
            in_.remove(0, lineEnd + 2 + size + 2);
        }
    }

    void logRequest() {
        int count = 0;
        {
            QMutexLocker lock(&shared_->mutex);
            request_.receivedMs = shared_->clock.elapsed();
            request_.time = QDateTime::currentDateTime();
            shared_->log.append(request_);
            count = int(shared_->log.size());
        }
        emit shared_->facade->requestReceived(count);
    }

    void reject(int status) {
        request_.malformed = true;
        phase_ = Phase::Responding;
        logRequest();
        respond(Response::statusPage(status));
    }

    void requestComplete() {
        logRequest();
        if (request_.method == "CONNECT") {
            respond(Response::statusPage(501));
            return;
        }
        if (request_.viaProxy) {
            if (!proxyToLocalHost_) {
                respond(Response::statusPage(502));
                return;
            }
            if (proxyPort_ != shared_->port) {
                relayTo(proxyPort_);
                return;
            }
        }
        respond(dispatch());
    }

    Response dispatch() {
        Handler handler;
        {
            QMutexLocker lock(&shared_->mutex);
            for (const auto& [prefix, header] : shared_->browserChecks) {
                if (request_.path.startsWith(prefix) && !request_.hasHeader(header))
                    return TestHttpServer::challengePage();
            }
            for (const auto& guard : shared_->guards) {
                if (!request_.path.startsWith(guard.prefix) || request_.path == guard.exempt)
                    continue;
                const QByteArray value = request_.cookie(guard.name);
                if (value.isNull() || (!guard.value.isEmpty() && value != guard.value))
                    return guard.whenMissing;
            }
            handler = shared_->targetRoutes.value(request_.pathAndQuery());
            if (!handler)
                handler = shared_->pathRoutes.value(request_.path);
            if (!handler)
                handler = shared_->fallback;
        }
        // Called outside the lock, so a handler may register routes or read the log.
        return handler ? handler(request_) : Response::statusPage(404);
    }

    void respond(const Response& response) {
        phase_ = Phase::Responding;
        response_ = response;
        total_ = response_.bodySize();
        sendBody_ = request_.method != "HEAD" && !bodyForbidden(response_.status);
        if (response_.headerDelayMs > 0)
            QTimer::singleShot(response_.headerDelayMs, this, &HttpConnection::sendHeaders);
        else
            sendHeaders();
    }

    void sendHeaders() {
        const Response& r = response_;
        QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' +
                         (r.reason.isEmpty() ? TestHttpServer::reasonPhrase(r.status) : r.reason) +
                         "\r\nServer: QuillfetchTestServer\r\nConnection: close\r\n";
        if (!r.contentType.isEmpty())
            out += "Content-Type: " + r.contentType + "\r\n";
        if (!bodyForbidden(r.status)) {
            if (r.framing == Response::Framing::ContentLength)
                out += "Content-Length: " + QByteArray::number(total_) + "\r\n";
            else if (r.framing == Response::Framing::Chunked)
                out += "Transfer-Encoding: chunked\r\n";
        }
        for (const auto& [name, value] : r.headers)
            out += name + ": " + value + "\r\n";
        out += "\r\n";
        socket_->write(out);
        if (sendBody_)
            pump();
        else
            finish();
    }

    QByteArray bodyBytes(qint64 offset, qint64 length) const {
        offset += response_.bodyOffset;
        if (response_.generated)
            return response_.generated->bytes(offset, length);
        return response_.body.mid(offset, length);
    }

    void pump() {
        if (phase_ != Phase::Responding || paused_ ||
            socket_->state() != QAbstractSocket::ConnectedState)
            return;
        const Response& r = response_;
        const qint64 end = r.closeAfter >= 0 ? std::min(total_, r.closeAfter) : total_;
        const qint64 piece = std::max(1, r.pieceSize);
        while (socket_->bytesToWrite() < kHighWater) {
            if (!stallDone_ && r.stallAfter >= 0 && sent_ == r.stallAfter) {
                stallDone_ = true;
                if (beginStall())
                    return;
            }
            if (sent_ >= end) {
                finish();
                return;
            }
            qint64 stop = end;
            if (!stallDone_ && r.stallAfter > sent_)
                stop = std::min(stop, r.stallAfter);
            const qint64 n = std::min(piece, stop - sent_);
            const QByteArray bytes = bodyBytes(sent_, n);
            if (r.framing == Response::Framing::Chunked)
                socket_->write(QByteArray::number(n, 16) + "\r\n" + bytes + "\r\n");
            else
                socket_->write(bytes);
            sent_ += n;
            shared_->bodyBytesSent += n;
        }
    }

    // True when the body now waits (for a timer or a gate).
    bool beginStall() {
        const Response& r = response_;
        if (!r.stallGate.isEmpty()) {
            {
                QMutexLocker lock(&shared_->mutex);
                if (shared_->openGates.contains(r.stallGate))
                    return false;
                shared_->waiting[r.stallGate] += 1;
                gateWaiting_ = r.stallGate;
            }
            paused_ = true;
            emit shared_->facade->stallStateChanged();
            return true;
        }
        if (r.stallMs <= 0)
            return false;
        paused_ = true;
        QTimer::singleShot(r.stallMs, this, [this] {
            paused_ = false;
            pump();
        });
        return true;
    }

    void leaveGate() {
        if (gateWaiting_.isEmpty())
            return;
        {
            QMutexLocker lock(&shared_->mutex);
            int& count = shared_->waiting[gateWaiting_];
            count = std::max(0, count - 1);
        }
        gateWaiting_.clear();
        emit shared_->facade->stallStateChanged();
    }

    void finish() {
        phase_ = Phase::Closing;
        if (sendBody_ && response_.framing == Response::Framing::Chunked && sent_ == total_)
            socket_->write("0\r\n\r\n");
        // Waits until everything queued is written, then closes (a close-early body ends here
        // short of its announced length).
        socket_->disconnectFromHost();
    }

    void relayTo(quint16 port) {
        phase_ = Phase::Relaying;
        static const QList<QByteArray> hopByHop = {"proxy-connection",  "proxy-authorization",
                                                   "connection",        "keep-alive",
                                                   "transfer-encoding", "content-length"};
        QByteArray out =
            request_.method + ' ' + request_.pathAndQuery().toLatin1() + " HTTP/1.1\r\n";
        for (const auto& [name, value] : request_.headers) {
            if (!hopByHop.contains(name.toLower()))
                out += name + ": " + value + "\r\n";
        }
        out += "Connection: close\r\n";
        if (!request_.body.isEmpty() || request_.method == "POST" || request_.method == "PUT")
            out += "Content-Length: " + QByteArray::number(request_.body.size()) + "\r\n";
        out += "\r\n" + request_.body;

        upstream_ = new QTcpSocket(this);
        upstream_->setReadBufferSize(kHighWater);
        connect(upstream_, &QTcpSocket::connected, this, [this, out] { upstream_->write(out); });
        connect(upstream_, &QTcpSocket::readyRead, this, &HttpConnection::pumpRelay);
        connect(upstream_, &QTcpSocket::disconnected, this, [this] {
            upstreamClosed_ = true;
            pumpRelay();
        });
        connect(upstream_, &QTcpSocket::errorOccurred, this,
                [this](QAbstractSocket::SocketError error) {
                    if (error == QAbstractSocket::RemoteHostClosedError || upstreamClosed_)
                        return;
                    upstreamClosed_ = true;
                    if (!upstreamAnswered_ && phase_ == Phase::Relaying)
                        respond(Response::statusPage(502));
                    else
                        pumpRelay();
                });
        // Only ever the loopback address, whatever name the target used.
        upstream_->connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    }

    void pumpRelay() {
        if (phase_ != Phase::Relaying || !upstream_)
            return;
        while (upstream_->bytesAvailable() > 0 &&
               (upstreamClosed_ || socket_->bytesToWrite() < kHighWater)) {
            upstreamAnswered_ = true;
            socket_->write(upstream_->read(65536));
        }
        if (upstreamClosed_ && upstream_->bytesAvailable() == 0) {
            phase_ = Phase::Closing;
            socket_->disconnectFromHost();
        }
    }

    QTcpSocket* socket_;
    std::shared_ptr<TestHttpServerShared> shared_;
    Phase phase_ = Phase::Head;
    QByteArray in_;
    Request request_;
    qint64 expectedBody_ = 0;
    bool chunkedRequest_ = false;
    bool proxyToLocalHost_ = false;
    quint16 proxyPort_ = 0;

    Response response_;
    bool sendBody_ = true;
    qint64 total_ = 0;
    qint64 sent_ = 0;
    bool stallDone_ = false;
    bool paused_ = false;
    QString gateWaiting_;

    QTcpSocket* upstream_ = nullptr;
    bool upstreamAnswered_ = false;
    bool upstreamClosed_ = false;
};

struct TlsIdentity {
    QSslCertificate certificate;
    QSslKey key;
};

// A self-signed certificate for 127.0.0.1, made once per process: a fixed one kept in the
// tree would expire, and a key made here never leaves the test's temporary folder.
const TlsIdentity& tlsIdentity() {
    static const TlsIdentity identity = [] {
        TlsIdentity made;
        QTemporaryDir dir;
        if (!dir.isValid())
            return made;
        const QString keyPath = dir.filePath("key.pem");
        const QString certificatePath = dir.filePath("certificate.pem");
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start("openssl",
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-keyout", keyPath, "-out", certificatePath, "-days", "30",
                       "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
        if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
            openssl.exitCode() != 0) {
            qWarning("TestHttpServer: openssl could not make a certificate: %s",
                     openssl.readAll().constData());
            return made;
        }
        QFile key(keyPath);
        QFile certificate(certificatePath);
        if (!key.open(QIODevice::ReadOnly) || !certificate.open(QIODevice::ReadOnly))
            return made;
        made.key = QSslKey(key.readAll(), QSsl::Ec, QSsl::Pem);
        made.certificate = QSslCertificate(certificate.readAll(), QSsl::Pem);
        return made;
    }();
    return identity;
}

// Hands out connections that speak TLS; they read and write plain bytes once the handshake
// is through, so the HTTP side does not know the difference.
class TlsServer : public QTcpServer {
public:
    TlsServer(TlsIdentity identity, QObject* parent)
        : QTcpServer(parent), identity_(std::move(identity)) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setLocalCertificate(identity_.certificate);
        socket->setPrivateKey(identity_.key);
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        addPendingConnection(socket);
        socket->startServerEncryption();
    }

private:
    TlsIdentity identity_;
};

} // namespace

// Lives on the server's thread and owns the listening socket and the connections.
class TestHttpServerWorker : public QObject {
public:
    explicit TestHttpServerWorker(std::shared_ptr<TestHttpServerShared> shared)
        : shared_(std::move(shared)) {}

    // With an identity, every connection speaks TLS.
    quint16 listen(const TlsIdentity* tls = nullptr) {
        if (tls)
            server_ = new TlsServer(*tls, this);
        else
            server_ = new QTcpServer(this);
        if (!server_->listen(QHostAddress(QHostAddress::LocalHost), 0))
            return 0;
        connect(server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_->nextPendingConnection())
                connections_.append(new HttpConnection(socket, shared_, ++serial_, this));
        });
        return server_->serverPort();
    }

    void gateOpened(const QString& gate) {
        connections_.removeAll(nullptr);
        // Copy first: resuming may finish a response and change the list.
        const auto current = connections_;
        for (const QPointer<HttpConnection>& c : current) {
            if (c && c->gateWaitedFor() == gate)
                c->resumeFromGate();
        }
    }

    void shutdown() {
        delete server_;
        server_ = nullptr;
        for (const QPointer<HttpConnection>& c : connections_)
            delete c.data();
        connections_.clear();
    }

private:
    std::shared_ptr<TestHttpServerShared> shared_;
    QTcpServer* server_ = nullptr;
    QList<QPointer<HttpConnection>> connections_;
    int serial_ = 0;
};

// ---- Request ----

QByteArray Request::header(const QByteArray& name) const {
    for (const auto& [n, v] : headers) {
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    }
    return QByteArray("");
}

bool Request::hasHeader(const QByteArray& name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const Header& h) {
        return h.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

QList<QByteArray> Request::headerValues(const QByteArray& name) const {
    QList<QByteArray> values;
    for (const auto& [n, v] : headers) {
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            values.append(v);
    }
    return values;
}

QByteArray Request::cookie(const QByteArray& name) const {
    for (const QByteArray& line : headerValues("Cookie")) {
        for (const QByteArray& pair : line.split(';')) {
            const int eq = pair.indexOf('=');
            if (eq < 0)
                continue;
            if (pair.left(eq).trimmed() == name)
                return QByteArray(pair.mid(eq + 1).trimmed()); // "" stays non-null
        }
    }
    return QByteArray();
}

QString Request::queryItem(const QString& key) const {
    return lookupEncoded(query.toLatin1(), key);
}

QString Request::formValue(const QString& key) const {
    return lookupEncoded(body, key);
}

QString Request::pathAndQuery() const {
    return query.isEmpty() ? path : path + '?' + query;
}

// ---- GeneratedBody ----

QByteArray TestHttpServer::GeneratedBody::bytes(qint64 offset, qint64 length) const {
    offset = std::max<qint64>(0, offset);
    length = std::max<qint64>(0, std::min(length, size - offset));
    QByteArray out(length, Qt::Uninitialized);
    char* dst = out.data();
    qint64 i = offset;
    const qint64 end = offset + length;
    for (; i < end && i < head.size(); ++i)
        *dst++ = head[i];
    if (pattern.isEmpty()) {
        std::memset(dst, 0, end - i);
        return out;
    }
    while (i < end) {
        const qint64 at = i % pattern.size();
        const qint64 n = std::min<qint64>(pattern.size() - at, end - i);
        std::memcpy(dst, pattern.constData() + at, n);
        dst += n;
        i += n;
    }
    return out;
}

char TestHttpServer::GeneratedBody::byteAt(qint64 offset) const {
    if (offset < head.size())
        return head[offset];
    return pattern.isEmpty() ? '\0' : pattern[offset % pattern.size()];
}

// ---- Response ----

Response Response::bytes(const QByteArray& body, const QByteArray& contentType) {
    Response r;
    r.body = body;
    r.contentType = contentType;
    return r;
}

Response Response::html(const QString& html) {
    return bytes(html.toUtf8(), "text/html; charset=utf-8");
}

Response Response::statusPage(int code) {
    Response r = bytes(QByteArray::number(code) + ' ' + reasonPhrase(code) + '\n',
                       "text/plain; charset=utf-8");
    r.status = code;
    return r;
}

Response Response::redirect(int code, const QString& location) {
    const QString escaped = location.toHtmlEscaped();
    Response r = html("<!DOCTYPE html><html><body><a href=\"" + escaped + "\">" + escaped +
                      "</a></body></html>");
    r.status = code;
    r.headers.append({"Location", location.toUtf8()});
    return r;
}

Response Response::generatedBody(qint64 size, const QByteArray& contentType,
                                 const QByteArray& head) {
    Response r;
    r.contentType = contentType;
    GeneratedBody g;
    g.size = size;
    g.head = head;
    r.generated = g;
    return r;
}

QByteArray Response::headerValue(const QByteArray& name) const {
    for (const auto& [n, v] : headers) {
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    }
    return QByteArray("");
}

Response Response::ranged(const Request& request, Response whole) {
    const QByteArray range = request.header("Range").trimmed();
    if (!range.startsWith("bytes=") || !range.endsWith('-'))
        return whole;
    bool ok = false;
    const qint64 first = range.mid(6, range.size() - 7).toLongLong(&ok);
    if (!ok || first < 0)
        return whole;
    if (request.hasHeader("If-Range")) {
        const QByteArray condition = request.header("If-Range").trimmed();
        const QByteArray etag = whole.headerValue("ETag");
        const QByteArray modified = whole.headerValue("Last-Modified");
        const bool strongTag = etag.startsWith('"');
        if (condition.isEmpty() || !((strongTag && condition == etag) || condition == modified))
            return whole;
    }
    const qint64 size = whole.bodySize();
    Response part = whole;
    if (first >= size) {
        part = statusPage(416);
        part.headers.append({"Content-Range", "bytes */" + QByteArray::number(size)});
        return part;
    }
    part.status = 206;
    part.bodyOffset = whole.bodyOffset + first;
    part.headers.append({"Content-Range", "bytes " + QByteArray::number(first) + '-' +
                                              QByteArray::number(size - 1) + '/' +
                                              QByteArray::number(size)});
    return part;
}

Response& Response::header(const QByteArray& name, const QByteArray& value) {
    headers.append({name, value});
    return *this;
}

Response& Response::setCookie(const QByteArray& cookie) {
    return header("Set-Cookie", cookie);
}

Response& Response::contentDisposition(const QByteArray& value) {
    return header("Content-Disposition", value);
}

Response& Response::withFraming(Framing f) {
    framing = f;
    return *this;
}

Response& Response::delayHeaders(int ms) {
    headerDelayMs = ms;
    return *this;
}

Response& Response::stallAfterBytes(qint64 bytes, int ms) {
    stallAfter = bytes;
    stallMs = ms;
    stallGate.clear();
    return *this;
}

Response& Response::stallUntilReleased(qint64 bytes, const QString& gate) {
    stallAfter = bytes;
    stallGate = gate;
    return *this;
}

Response& Response::closeAfterBytes(qint64 bytes) {
    closeAfter = bytes;
    return *this;
}

// ---- TestHttpServer ----

TestHttpServer::TestHttpServer(QObject* parent) : TestHttpServer(Scheme::Http, parent) {}

TestHttpServer::TestHttpServer(Scheme scheme, QObject* parent)
    : QObject(parent), shared_(std::make_shared<TestHttpServerShared>()), scheme_(scheme) {
    const TlsIdentity* tls = nullptr;
    if (scheme_ == Scheme::Https) {
        tls = &tlsIdentity();
        certificate_ = tls->certificate;
    }
    shared_->facade = this;
    shared_->clock.start();
    thread_ = new QThread;
    thread_->setObjectName("TestHttpServer");
    worker_ = new TestHttpServerWorker(shared_);
    worker_->moveToThread(thread_);
    thread_->start();
    quint16 port = 0;
    // An HTTPS server without a usable certificate does not listen, rather than speak plain
    // HTTP under an https address.
    const bool usable =
        !tls || (!tls->certificate.isNull() && !tls->key.isNull() && QSslSocket::supportsSsl());
    if (usable)
        QMetaObject::invokeMethod(
            worker_, [this, &port, tls] { port = worker_->listen(tls); },
            Qt::BlockingQueuedConnection);
    port_ = port;
    QMutexLocker lock(&shared_->mutex);
    shared_->port = port;
}

TestHttpServer::~TestHttpServer() {
    QMetaObject::invokeMethod(
        worker_, [this] { worker_->shutdown(); }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete worker_;
    delete thread_;
}

bool TestHttpServer::isListening() const {
    return port_ != 0;
}

quint16 TestHttpServer::port() const {
    return port_;
}

QSslCertificate TestHttpServer::certificate() const {
    return certificate_;
}

QString TestHttpServer::baseUrl() const {
    return (scheme_ == Scheme::Https ? QStringLiteral("https://127.0.0.1:%1")
                                     : QStringLiteral("http://127.0.0.1:%1"))
        .arg(port_);
}

QString TestHttpServer::url(const QString& path) const {
    return baseUrl() + path;
}

void TestHttpServer::route(const QString& path, const Response& response) {
    route(path, [response](const Request&) { return response; });
}

void TestHttpServer::route(const QString& path, Handler handler) {
    QMutexLocker lock(&shared_->mutex);
    shared_->pathRoutes.insert(path, std::move(handler));
}

void TestHttpServer::routeTarget(const QString& pathAndQuery, const Response& response) {
    routeTarget(pathAndQuery, [response](const Request&) { return response; });
}

void TestHttpServer::routeTarget(const QString& pathAndQuery, Handler handler) {
    QMutexLocker lock(&shared_->mutex);
    shared_->targetRoutes.insert(pathAndQuery, std::move(handler));
}

void TestHttpServer::setFallback(Handler handler) {
    QMutexLocker lock(&shared_->mutex);
    shared_->fallback = std::move(handler);
}

void TestHttpServer::removeRoute(const QString& pathOrTarget) {
    QMutexLocker lock(&shared_->mutex);
    shared_->pathRoutes.remove(pathOrTarget);
    shared_->targetRoutes.remove(pathOrTarget);
}

void TestHttpServer::clearRoutes() {
    QMutexLocker lock(&shared_->mutex);
    shared_->pathRoutes.clear();
    shared_->targetRoutes.clear();
    shared_->guards.clear();
    shared_->browserChecks.clear();
    shared_->fallback = nullptr;
}

void TestHttpServer::serve(const QString& path, const QByteArray& body,
                           const QByteArray& contentType, Response::Framing framing) {
    route(path, Response::bytes(body, contentType).withFraming(framing));
}

void TestHttpServer::serveHtml(const QString& path, const QString& html) {
    route(path, Response::html(html));
}

void TestHttpServer::redirect(const QString& path, int code, const QString& location) {
    route(path, Response::redirect(code, location));
}

void TestHttpServer::serveGenerated(const QString& path, qint64 size, const QByteArray& contentType,
                                    Response::Framing framing, const QByteArray& head) {
    route(path, Response::generatedBody(size, contentType, head).withFraming(framing));
}

void TestHttpServer::requireCookie(const QString& pathPrefix, const QByteArray& name,
                                   const QByteArray& value, const Response& whenMissing) {
    QMutexLocker lock(&shared_->mutex);
    shared_->guards.append({pathPrefix, name, value, whenMissing, QString()});
}

void TestHttpServer::challengePlainClients(const QString& pathPrefix,
                                           const QByteArray& browserHeader) {
    QMutexLocker lock(&shared_->mutex);
    shared_->browserChecks.append({pathPrefix, browserHeader});
}

Response TestHttpServer::challengePage() {
    Response page = Response::html(
        "<!DOCTYPE html><html lang=\"en-US\"><head><title>Just a moment...</title></head>"
        "<body><noscript>Enable JavaScript and cookies to continue</noscript>"
        "<script src=\"/cdn-cgi/challenge-platform/h/g/orchestrate/chl_page/v1\"></script>"
        "</body></html>");
    page.status = 403;
    page.header("cf-mitigated", "challenge");
    return page;
}

void TestHttpServer::serveLoginForm(const LoginForm& form) {
    route(form.path, [form](const Request& request) {
        if (request.method != "POST") {
            Response page = Response::html(loginFormHtml(form, false));
            page.delayHeaders(form.formDelayMs);
            return page;
        }
        const bool granted =
            form.ipLogin || (request.formValue(form.userField) == form.user &&
                             request.formValue(form.passwordField) == form.password);
        if (!granted)
            return Response::html(loginFormHtml(form, true));
        Response r = Response::redirect(302, form.successLocation);
        r.setCookie(form.cookieName + '=' + form.cookieValue + "; Path=/");
        return r;
    });
}

void TestHttpServer::requireLogin(const QString& pathPrefix, const LoginForm& form) {
    QMutexLocker lock(&shared_->mutex);
    shared_->guards.append({pathPrefix, form.cookieName, form.cookieValue,
                            Response::html(loginFormHtml(form, false)), form.path});
}

QString TestHttpServer::loginFormHtml(const LoginForm& form, bool failedAttempt) {
    QString fields = form.fieldsHtml;
    if (fields.isEmpty() && form.ipLogin) {
        fields = "<input type=\"submit\" id=\"submitip\" name=\"submitip\" value=\"Log in\">";
    } else if (fields.isEmpty()) {
        fields = QStringLiteral("<label>User <input type=\"text\" name=\"%1\"></label>\n"
                                "<label>Password <input type=\"password\" name=\"%2\"></label>\n"
                                "<input type=\"submit\" name=\"%3\" value=\"Log in\">")
                     .arg(form.userField.toHtmlEscaped(), form.passwordField.toHtmlEscaped(),
                          form.submitName.toHtmlEscaped());
    }
    const QString notice =
        failedAttempt ? QStringLiteral("<p id=\"notice\">Wrong user name or password.</p>\n")
                      : QString();
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                          "<title>%1</title></head>\n<body>\n%2"
                          "<form method=\"post\" action=\"%3\">\n%4\n</form>\n</body></html>\n")
        .arg(form.title.toHtmlEscaped(), notice, form.path.toHtmlEscaped(), fields);
}

void TestHttpServer::release(const QString& gate) {
    {
        QMutexLocker lock(&shared_->mutex);
        shared_->openGates.insert(gate);
    }
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, gate] { worker->gateOpened(gate); }, Qt::QueuedConnection);
}

void TestHttpServer::closeGate(const QString& gate) {
    QMutexLocker lock(&shared_->mutex);
    shared_->openGates.remove(gate);
}

int TestHttpServer::waitingAt(const QString& gate) const {
    QMutexLocker lock(&shared_->mutex);
    return shared_->waiting.value(gate);
}

bool TestHttpServer::waitForStall(const QString& gate, int count, int timeoutMs) {
    return waitFor([&] { return waitingAt(gate) >= count; }, timeoutMs);
}

QList<Request> TestHttpServer::requests() const {
    QMutexLocker lock(&shared_->mutex);
    return shared_->log;
}

int TestHttpServer::requestCount() const {
    QMutexLocker lock(&shared_->mutex);
    return int(shared_->log.size());
}

Request TestHttpServer::lastRequest() const {
    QMutexLocker lock(&shared_->mutex);
    return shared_->log.isEmpty() ? Request() : shared_->log.last();
}

QList<Request> TestHttpServer::requestsFor(const QString& path) const {
    QList<Request> matching;
    for (const Request& r : requests()) {
        if (r.path == path)
            matching.append(r);
    }
    return matching;
}

qint64 TestHttpServer::bodyBytesSent() const {
    return shared_->bodyBytesSent;
}

void TestHttpServer::resetBodyBytesSent() {
    shared_->bodyBytesSent = 0;
}

void TestHttpServer::clearRequests() {
    QMutexLocker lock(&shared_->mutex);
    shared_->log.clear();
}

bool TestHttpServer::waitForRequests(int count, int timeoutMs) {
    return waitFor([&] { return requestCount() >= count; }, timeoutMs);
}

bool TestHttpServer::waitFor(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Connected before the first check: a signal emitted after it is queued for this loop.
    // What was seen counts: a response paused at a gate may go on at once (its client hung up
    // on it), and a second look would then deny what the wait was for.
    bool seen = false;
    auto check = [&] {
        if (done()) {
            seen = true;
            loop.quit();
        }
    };
    connect(this, &TestHttpServer::requestReceived, &loop, check);
    connect(this, &TestHttpServer::stallStateChanged, &loop, check);
    if (done())
        return true;
    timeout.start(timeoutMs);
    loop.exec();
    return seen || done();
}

QByteArray TestHttpServer::reasonPhrase(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Content Too Large";
    case 416:
        return "Range Not Satisfiable";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray TestHttpServer::defaultPattern() {
    QByteArray pattern(251, Qt::Uninitialized);
    for (int i = 0; i < pattern.size(); ++i)
        pattern[i] = char(i);
    return pattern;
}

#include "core/transfer/Inet.h"

#include "core/platform/DoEvents.h"
#include "core/transfer/TransferNetwork.h"

#include <QBuffer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace {

// How much of a body may wait unread in the reply; beyond it the network side pauses reading
// until the caller takes some, so memory stays bounded whatever the file size. The window's
// thread, which takes the bytes, is sometimes busy for some milliseconds; this much lets the
// network read on meanwhile.
constexpr qint64 kReadBufferBytes = 4 * 1024 * 1024;
// Pieces OpenURL moves from the reply into its sink.
constexpr qint64 kOpenUrlPieceBytes = 64 * 1024;
// What one look into the reply takes at most. Small chunks are handed out from it: every read
// from the reply wakes the network thread to read on, which once per 2048-byte chunk cost more
// than the bytes themselves.
constexpr qint64 kAheadBytes = 256 * 1024;

bool isFollowedRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Errors Qt raises for an HTTP status of 400 or more: the response itself arrived whole.
bool isHttpStatusError(QNetworkReply::NetworkError error) {
    const int code = int(error);
    return (code >= QNetworkReply::ContentAccessDenied &&
            code <= QNetworkReply::UnknownContentError) ||
           (code >= QNetworkReply::InternalServerError &&
            code <= QNetworkReply::UnknownServerError);
}

bool parseProxy(const QString& text, QString& host, quint16& port) {
    QString rest = text.trimmed();
    if (rest.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive))
        rest = rest.mid(7);
    while (rest.endsWith('/'))
        rest.chop(1);
    const qsizetype colon = rest.lastIndexOf(':');
    const bool bracketed = rest.startsWith('[');
    QString portText;
    if (colon >= 0 && (!bracketed || colon > rest.indexOf(']'))) {
        host = rest.left(colon).trimmed();
        portText = rest.mid(colon + 1).trimmed();
    } else {
        host = rest.trimmed();
    }
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    if (portText.isEmpty()) {
        port = 80;
    } else {
        bool ok = false;
        port = portText.toUShort(&ok);
        if (!ok || port == 0)
            return false;
    }
    return !host.isEmpty();
}

void addHeaderBlock(QNetworkRequest& request, const QString& headerBlock) {
    const QStringList lines = headerBlock.split('\n');
    for (QString line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLatin1();
        if (name.isEmpty())
            continue;
        request.setRawHeader(name, line.mid(colon + 1).trimmed().toUtf8());
    }
}

} // namespace

Inet::Inet(QObject* parent) : QObject(parent), network_(NewTransferNetwork(this)) {}

Inet::~Inet() {
    dropReply();
}

bool Inet::StillExecuting() const {
    return executing_;
}

void Inet::Execute(const QString& url, const QString& method, const QByteArray& body,
                   const QString& headerBlock) {
    dropReply();
    url_ = url;
    executing_ = true;
    cancelled_ = false;
    headersIn_ = false;
    responseCode_ = 0;
    responseInfo_.clear();
    taken_ = 0;
    startReply(url, method.toLatin1().toUpper(), body, headerBlock);
}

void Inet::startReply(const QString& url, const QByteArray& method, const QByteArray& body,
                      const QString& headerBlock) {
    const QUrl address(url.trimmed());
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || address.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        fail(QNetworkReply::ProtocolUnknownError,
             QStringLiteral("Cannot request \"%1\": not an http or https address").arg(url));
        return;
    }
    if (!applyProxy(address)) {
        fail(QNetworkReply::ProxyNotFoundError,
             QStringLiteral("Cannot read the proxy \"%1\"").arg(proxy_));
        return;
    }

    QNetworkRequest request = TransferRequest(address);
    addHeaderBlock(request, headerBlock);
    QNetworkReply* reply = nullptr;
    if (method == "GET" && body.isEmpty())
        reply = network_->get(request);
    else
        reply = network_->sendCustomRequest(request, method.isEmpty() ? "GET" : method, body);
    reply_ = reply;
    reply->setReadBufferSize(kReadBufferBytes);

    connect(reply, &QNetworkReply::socketStartedConnecting, this, [this] {
        setState(HostResolved);
        setState(Connecting);
    });
    connect(reply, &QNetworkReply::requestSent, this, [this] {
        if (state_ < Connected)
            setState(Connected);
        setState(Requesting);
        setState(RequestSent);
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, &Inet::onMetaData);
    connect(reply, &QNetworkReply::finished, this, &Inet::onFinished);
    setState(ResolvingHost);
}

bool Inet::applyProxy(const QUrl& url) {
    switch (accessType_) {
    case AccessTypes::Direct:
        network_->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        return true;
    case AccessTypes::NamedProxy: {
        QString host;
        quint16 port = 0;
        if (!parseProxy(proxy_, host, port))
            return false;
        network_->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, host, port));
        return true;
    }
    case AccessTypes::UseDefault:
        break;
    }
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url));
    network_->setProxy(proxies.value(0, QNetworkProxy(QNetworkProxy::NoProxy)));
    return true;
}

void Inet::onMetaData() {
    if (!reply_ || headersIn_)
        return;
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    // A redirect that is being followed is not the answer yet.
    if (isFollowedRedirect(status.toInt()) && reply_->hasRawHeader("Location"))
        return;
    headersIn_ = true;
    setState(ReceivingResponse);
}

void Inet::onFinished() {
    if (!reply_)
        return;
    onMetaData();
    executing_ = false;
    const QNetworkReply::NetworkError error = reply_->error();
    if (!headersIn_ || (error != QNetworkReply::NoError && !isHttpStatusError(error))) {
        fail(error == QNetworkReply::NoError ? QNetworkReply::UnknownNetworkError : error,
             reply_->errorString());
        return;
    }
    // Qt may end a body cut short of its Content-Length without an error; the bytes tell.
    const QVariant announced = reply_->header(QNetworkRequest::ContentLengthHeader);
    const qint64 received = taken_ + BytesAvailable();
    if (announced.isValid() && reply_->operation() != QNetworkAccessManager::HeadOperation &&
        received < announced.toLongLong()) {
        fail(QNetworkReply::RemoteHostClosedError,
             QStringLiteral("The connection closed after %1 of %2 bytes")
                 .arg(received)
                 .arg(announced.toLongLong()));
        return;
    }
    setState(ResponseReceived);
    setState(ResponseCompleted);
}

void Inet::fail(int code, const QString& info) {
    executing_ = false;
    responseCode_ = code;
    responseInfo_ = info;
    setState(Error);
}

void Inet::setState(int state) {
    state_ = state;
    emit StateChanged(state);
}

QString Inet::GetHeader(const QString& name) const {
    if (!reply_ || !headersIn_)
        return {};
    const QList<QNetworkReply::RawHeaderPair>& pairs = reply_->rawHeaderPairs();
    if (!name.isEmpty()) {
        const QByteArray wanted = name.trimmed().toLatin1();
        QStringList values;
        for (const QNetworkReply::RawHeaderPair& pair : pairs) {
            if (pair.first.compare(wanted, Qt::CaseInsensitive) == 0)
                values << QString::fromLatin1(pair.second);
        }
        return values.join(QStringLiteral(", "));
    }
    const bool http2 = reply_->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool();
    QStringList lines;
    lines << QStringLiteral("%1 %2 %3")
                 .arg(http2 ? QStringLiteral("HTTP/2") : QStringLiteral("HTTP/1.1"))
                 .arg(StatusCode())
                 .arg(reply_->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                 .trimmed();
    for (const QNetworkReply::RawHeaderPair& pair : pairs)
        lines << QString::fromLatin1(pair.first + ": " + pair.second);
    return lines.join(QStringLiteral("\r\n"));
}

QByteArray Inet::GetChunk(qint64 size) {
    if (!reply_ || size <= 0)
        return {};
    if (aheadAt_ >= ahead_.size()) {
        const qint64 wanted = std::min(reply_->bytesAvailable(), kAheadBytes);
        if (wanted <= 0)
            return {};
        ahead_.resize(wanted);
        ahead_.resize(std::max<qint64>(reply_->read(ahead_.data(), wanted), 0));
        aheadAt_ = 0;
    }
    const qsizetype count = std::min<qsizetype>(size, ahead_.size() - aheadAt_);
    QByteArray chunk(ahead_.constData() + aheadAt_, count);
    aheadAt_ += count;
    taken_ += count;
    return chunk;
}

qint64 Inet::BytesAvailable() const {
    return reply_ ? ahead_.size() - aheadAt_ + reply_->bytesAvailable() : 0;
}

int Inet::StatusCode() const {
    if (!reply_ || !headersIn_)
        return 0;
    return reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QByteArray Inet::OpenURL(const QString& url, const std::function<bool()>& keepWaiting) {
    QByteArray body;
    QBuffer buffer(&body);
    buffer.open(QIODevice::WriteOnly);
    if (OpenURL(url, buffer, keepWaiting) < 0)
        return {};
    return body;
}

qint64 Inet::OpenURL(const QString& url, QIODevice& sink,
                     const std::function<bool()>& keepWaiting) {
    Execute(url);
    const QPointer<Inet> self(this);
    qint64 written = 0;
    for (;;) {
        const QByteArray piece = GetChunk(kOpenUrlPieceBytes);
        if (!piece.isEmpty()) {
            if (sink.write(piece) != piece.size()) {
                Cancel();
                return -1;
            }
            written += piece.size();
            KeepResponsive();
        } else if (!StillExecuting()) {
            // The end has been seen and everything before it was taken.
            break;
        } else {
            DoEvents();
        }
        if (!self)
            return -1;
        if (keepWaiting && !keepWaiting()) {
            if (self)
                Cancel();
            return -1;
        }
    }
    // Only a response that completed is the body; a cancelled one stops short of it.
    return !cancelled_ && state_ == ResponseCompleted ? written : -1;
}

void Inet::Cancel() {
    dropReply();
    cancelled_ = true;
    executing_ = false;
    headersIn_ = false;
}

void Inet::dropReply() {
    ahead_.clear();
    aheadAt_ = 0;
    if (!reply_)
        return;
    QNetworkReply* reply = reply_.data();
    reply_ = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning())
        reply->abort();
    reply->deleteLater();
}

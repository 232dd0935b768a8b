#include "core/transfer/uXMLHTTP.h"

#include "core/transfer/TransferNetwork.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTimer>

namespace {

constexpr int kPollIntervalMs = 10;
constexpr int kLastStatusCode = 600;

struct StatusDescription {
    int code;
    const char* text;
};

// The descriptions users of this program have always seen, typing slips included.
constexpr StatusDescription kStatusDescriptions[] = {
    {100, "客户必须继续发出请求"},
    {101, "客户要求服务器根据请求转换HTTP协议版本"},
    {200, "交易成功"},
    {201, "提示知道新文件的URL"},
    {202, "接受和处理?但处理未完成"},
    {203, "返回信息不确定或不完整"},
    {204, "请求收到，但返回信息为空"},
    {205, "服务器完成了请求，用户代理必须复位当前已经浏览过的文件"},
    {206, "服务器已经完成了部分用户的GET请求"},
    {300, "请求的资源可在多处得到"},
    {301, "删除请求数据"},
    {302, "在其他地址发现了请求数据"},
    {303, "建议客户访问其他URL或访问方式"},
    {304, "客户端已经执行了GET，但文件未变化"},
    {305, "请求的资源必须从服务器指定的地址得到"},
    {306, "前一版本HTTP中使用的代码，现行版本中不再使用"},
    {307, "申明请求的资源临时性删除"},
    {400, "错误请求，如语法错误"},
    {401, "请求授权失败"},
    {402, "保留有效ChargeTo头响应"},
    {403, "请求不允许"},
    {404, "没有发现文件?查询或URl"},
    {405, "用户在Request -Line字段定义的方法不允许"},
    {406, "根据用户发送的Accept拖，请求资源不可访问"},
    {407, "类似401，用户必须首先在代理服务器上得到授权"},
    {408, "客户端没有在用户指定的饿时间内完成请求"},
    {409, "对当前资源状态，请求不能完成"},
    {410, "服务器上不再有此资源且无进一步的参考地址"},
    {411, "服务器拒绝用户定义的Content -Length属性请求"},
    {412, "一个或多个请求头字段在当前请求中错误"},
    {413, "请求的资源大于服务器允许的大小"},
    {414, "请求的资源URL长于服务器允许的长度"},
    {415, "请求资源不支持请求项目格式"},
    {416, "请求中包含Range请求头字段，在当前请求资源范围内没有range指示值，请求也不包含If-"
          "Range请求头字段"},
    {417, "服务器不满足请求Expect头字段指定的期望值，如果是代理服务器，可能是下一级服务器不能满"
          "足请求"},
    {500, "服务器产生内部错误"},
    {501, "服务器不支持请求的函数"},
    {502, "服务器暂时不可用，有时是为了防止发生系统过载"},
    {503, "服务器过载或暂停维修"},
    {504, "关口过载，服务器使用另一个关口或服务来响应用户，等待时间设定值较长"},
    {505, "服务器不支持或拒绝支请求头中指定的HTTP版本"},
};

// RFC 9110 token characters: what a method or a header name may consist of.
bool isToken(const QByteArray& text) {
    if (text.isEmpty())
        return false;
    static const QByteArray extra = "!#$%&'*+-.^_`|~";
    for (char c : text) {
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && !extra.contains(c))
            return false;
    }
    return true;
}

// A header value that would end its line early (or carry a NUL) could smuggle in headers of
// its own.
bool isSingleLine(const QByteArray& value) {
    return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

// Errors below the HTTP layer: the connection failed or broke, or the server spoke no HTTP.
// For them the status of the reply (if any) is not the server's answer to the request.
bool isTransportFailure(QNetworkReply::NetworkError error) {
    const int code = static_cast<int>(error);
    return (code >= 1 && code <= 99) || (code >= 301 && code <= 399);
}

// True when a Content-Length was announced for an unencoded body and fewer bytes came.
bool isCutShort(const QNetworkReply& reply, qint64 received) {
    if (reply.hasRawHeader("Content-Encoding"))
        return false;
    const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
    return length.isValid() && length.toLongLong() > received;
}

} // namespace

QString HttpStatusDescription(int status) {
    for (const StatusDescription& entry : kStatusDescriptions) {
        if (entry.code == status)
            return QString::fromUtf8(entry.text);
    }
    return {};
}

uXMLHTTP::uXMLHTTP(QObject* parent, QNetworkAccessManager* network)
    : QObject(parent), tmrReader(new QTimer(this)),
      network_(network ? network : TransferNetwork()) {
    for (const StatusDescription& entry : kStatusDescriptions)
        StatusTexts[static_cast<std::size_t>(entry.code)] = QString::fromUtf8(entry.text);
    tmrReader->setInterval(kPollIntervalMs);
    connect(tmrReader, &QTimer::timeout, this, [this] { tmrReader_Timer(); });
}

uXMLHTTP::~uXMLHTTP() {
    tmrReader->stop();
    dropReply();
}

void uXMLHTTP::dropReply() {
    if (!reply_)
        return;
    QNetworkReply* reply = reply_.data();
    reply_.clear();
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

bool uXMLHTTP::Open_(const QString& method, const QString& address, const QString& savePath) {
    downOK_ = false;
    // Opening again drops whatever the last request still does, without an event.
    tmrReader->stop();
    dropReply();
    prepared_ = false;
    headers_.clear();
    body_.clear();
    readyState_ = 0;
    finalStatus_ = 0;

    const QByteArray upper = method.toUpper().toLatin1();
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    if (!network_ || !isToken(upper) || !url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false;

    method_ = upper;
    url_ = url;
    prepared_ = true;
    readyState_ = 1;
    opened_ = true;
    SavePath = savePath;
    return true;
}

void uXMLHTTP::SetRequestHeader(const QString& name, const QString& value) {
    if (!prepared_)
        return;
    const QByteArray rawName = name.toLatin1();
    const QByteArray rawValue = value.toUtf8();
    if (!isToken(rawName) || !isSingleLine(rawValue))
        return;
    headers_.append({rawName, rawValue});
}

void uXMLHTTP::Send_(const QString& body) {
    if (!prepared_ || !network_)
        return;
    prepared_ = false;

    QNetworkRequest request = TransferRequest(url_);
    bool hasContentType = false;
    for (const auto& [name, value] : headers_) {
        request.setRawHeader(name, value);
        hasContentType = hasContentType || name.compare("Content-Type", Qt::CaseInsensitive) == 0;
    }
    const QByteArray payload = body.toUtf8();
    if (!payload.isEmpty() && !hasContentType)
        request.setRawHeader("Content-Type", "text/plain;charset=UTF-8");

    QNetworkReply* reply = payload.isEmpty() && method_ == "GET"
                               ? network_->get(request)
                               : network_->sendCustomRequest(request, method_, payload);
    reply_ = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        if (readyState_ < 2)
            readyState_ = 2;
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        body_ += reply->readAll();
        readyState_ = 3;
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        body_ += reply->readAll();
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const bool whole = !isTransportFailure(reply->error()) && !isCutShort(*reply, body_.size());
        finalStatus_ = whole && status.isValid() ? status.toInt() : 0;
        readyState_ = 4;
    });
    if (opened_)
        tmrReader->start();
}

void uXMLHTTP::Abort_() {
    tmrReader->stop();
    prepared_ = false;
    dropReply();
    body_.clear();
    readyState_ = 0;
    finalStatus_ = 0;
}

int uXMLHTTP::Status() const {
    if (readyState_ == 4)
        return finalStatus_;
    if (!reply_)
        return 0;
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() ? status.toInt() : 0;
}

QString uXMLHTTP::StatusText() const {
    if (!reply_ || (readyState_ == 4 && finalStatus_ == 0))
        return {};
    return QString::fromLatin1(
        reply_->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
}

QString uXMLHTTP::GetResponseHeader(const QString& name) const {
    if (!reply_ || readyState_ < 2)
        return {};
    return QString::fromLatin1(reply_->rawHeader(name.toLatin1()));
}

QString uXMLHTTP::GetAllResponseHeaders() const {
    if (!reply_ || readyState_ < 2)
        return {};
    QString all;
    for (const auto& [name, value] : reply_->rawHeaderPairs())
        all += QString::fromLatin1(name) + QStringLiteral(": ") + QString::fromLatin1(value) +
               QStringLiteral("\r\n");
    return all;
}

QString uXMLHTTP::ResponseText() const {
    if (body_.isEmpty())
        return {};
    if (const auto bom = QStringConverter::encodingForData(body_)) {
        QStringDecoder decoder(*bom);
        return decoder.decode(body_);
    }
    if (reply_) {
        const QByteArray type = reply_->rawHeader("Content-Type");
        const qsizetype at = type.toLower().indexOf("charset=");
        if (at >= 0) {
            QByteArray charset = type.mid(at + 8);
            const qsizetype end = charset.indexOf(';');
            if (end >= 0)
                charset.truncate(end);
            charset = charset.trimmed();
            if (charset.size() >= 2 && charset.startsWith('"') && charset.endsWith('"'))
                charset = charset.mid(1, charset.size() - 2);
            QStringDecoder decoder(charset.constData());
            if (decoder.isValid())
                return decoder.decode(body_);
        }
    }
    return QString::fromUtf8(body_);
}

void uXMLHTTP::saveBody() {
    if (SavePath.isEmpty() || body_.isEmpty())
        return;
    // Written beside the target and moved over it only once complete, so a failing write
    // leaves an earlier file in place instead of deleting it first. A failure is not reported:
    // the body is still there for the caller.
    QSaveFile file(SavePath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    if (file.write(body_) != body_.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

void uXMLHTTP::tmrReader_Timer() {
    QPointer<uXMLHTTP> self(this);
    emit OnReadyStateChange();
    // The handler may have aborted, opened anew or deleted this request.
    if (!self || !tmrReader->isActive())
        return;
    if (ReadyState() != 4)
        return;
    tmrReader->stop();
    downOK_ = true;
    const int status = Status();
    if (status == 200) {
        saveBody();
        emit OnDateArrived();
    } else if (status >= 0 && status <= kLastStatusCode) {
        emit OnDateErr(StatusTexts[static_cast<std::size_t>(status)]);
    }
}

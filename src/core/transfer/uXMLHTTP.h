#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <array>
#include <utility>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The Chinese description of an HTTP status code, "" for a code the table does not hold
// (0, 299, anything above 600 or below 0).
QString HttpStatusDescription(int status);

// A small asynchronous HTTP request, watched by a 10 ms poll that reports the end of the
// request by one signal. The calling order is Open_, optionally SetRequestHeader, then
// Send_; the outcome arrives from a later tick of tmrReader.
//
// The body is kept in memory (ResponseBody must hand it out whole), so this is meant for
// short replies such as a version file, not for downloads.
class uXMLHTTP : public QObject {
    Q_OBJECT

public:
    // `network` carries the requests; nullptr means the manager every transfer shares.
    explicit uXMLHTTP(QObject* parent = nullptr, QNetworkAccessManager* network = nullptr);
    ~uXMLHTTP() override;

    // Prepares a request: `method` is sent in upper case. False, with nothing prepared, when
    // there is no network, the method is no HTTP token or the address is no absolute http or
    // https address with a host. A request still running is dropped without an event.
    [[nodiscard]] bool Open_(const QString& method, const QString& address,
                             const QString& savePath = {});
    // Adds a header to the prepared request. A header that could not travel as one line
    // (an empty name, a name that is no token, a line break in the value) is ignored, as is
    // a call without a prepared request.
    void SetRequestHeader(const QString& name, const QString& value);
    // Sends the prepared request with `body` (UTF-8) and starts polling. Without a prepared
    // request nothing is sent and nothing polls.
    void Send_(const QString& body = {});
    // Stops polling and drops the request. No event follows and DownOK keeps its value.
    void Abort_();

    // False after construction and after every Open_; true once polling saw the request end.
    bool DownOK() const { return downOK_; }
    // 0 idle, 1 opened or sent, 2 headers received, 3 receiving the body, 4 complete.
    int ReadyState() const { return readyState_; }
    // The HTTP status, 0 when there is none (not sent yet, no answer, a network failure).
    int Status() const;
    // The server's own reason phrase, "" when there is none.
    QString StatusText() const;
    QString GetResponseHeader(const QString& name) const;
    // Every response header as "Name: value" lines, each ending with CR LF.
    QString GetAllResponseHeaders() const;
    QByteArray ResponseBody() const { return body_; }
    // The body decoded by its byte-order mark, else the charset of its Content-Type, else as
    // UTF-8.
    QString ResponseText() const;

    // True once an Open_ has succeeded; never set back.
    bool Opened() const { return opened_; }
    // The file a successful body is written to; "" means the body is not saved.
    QString SavePath;
    // Descriptions of the HTTP status codes, index 0 to 600.
    std::array<QString, 601> StatusTexts;
    // The poll, 10 ms, running from Send_ until the request ends or is aborted.
    QTimer* tmrReader;

    // One tick of the poll; public so that a test can drive it.
    void tmrReader_Timer();

signals:
    // The request ended with status 200 (after the body was saved, when asked).
    void OnDateArrived();
    // Every tick of the poll, before it looks at the request.
    void OnReadyStateChange();
    // The request ended otherwise; the argument describes the status ("" when it has no
    // description, for example after a network failure).
    void OnDateErr(const QString& statusText);

private:
    void dropReply();
    void saveBody();

    QPointer<QNetworkAccessManager> network_;
    // What Open_ prepared and Send_ consumes.
    bool prepared_ = false;
    QByteArray method_;
    QUrl url_;
    QList<std::pair<QByteArray, QByteArray>> headers_;

    QPointer<QNetworkReply> reply_;
    QByteArray body_;
    int readyState_ = 0;
    // Fixed when the request ends: the reply's status, or 0 when the answer never arrived
    // whole (a network failure, a body cut short of its announced length).
    int finalStatus_ = 0;
    bool downOK_ = false;
    bool opened_ = false;
};

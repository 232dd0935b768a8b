#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include "core/platform/DoEvents.h"
#include "core/transfer/Inet.h"
#include "core/transfer/SingleTransfer.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>

// The single-connection transfer control over real HTTP on 127.0.0.1, and the rules around
// it that need no window.
class InetTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void whatTypeDoesAContentTypeGive_data();
    void whatTypeDoesAContentTypeGive();
    void doesAHostileContentTypeNameNoFile_data();
    void doesAHostileContentTypeNameNoFile();
    void whatIsTheSiteRootOfALink_data();
    void whatIsTheSiteRootOfALink();
    void whichPortAndProtocolDoesALinkGet_data();
    void whichPortAndProtocolDoesALinkGet();
    void whatDoesTheStatusPanelSay_data();
    void whatDoesTheStatusPanelSay();
    void lengthsAndPercentages_data();
    void lengthsAndPercentages();

    void aResponseStreamsInChunksAndReportsItsStates();
    void headersAreReadByNameOrAsAWhole();
    void theRequestCarriesTheHeaderBlockAndTheTransferHeaders();
    void aRedirectIsFollowedAndTheFinalHeadersCount();
    void a404WithABodyIsACompletedResponse();
    void aRefusedConnectionFailsWithoutHeaders();
    void aBodyCutShortOfItsLengthFails();
    void cancelDropsTheRequestAndItsBody();
    void aNamedProxyCarriesTheRequest();
    void withoutAProxyTheRequestGoesDirect();
    void anUnreadableProxyFailsAtOnce();
    void openUrlStreamsTheWholeBodyIntoASink();
    void openUrlStopsWhenTheCallerSaysSo();

private:
    // Lets events run until `done` holds or five seconds pass.
    static bool waitUntil(const std::function<bool()>& done) {
        QElapsedTimer waited;
        waited.start();
        while (!done()) {
            if (waited.elapsed() > 5000)
                return false;
            DoEvents();
        }
        return true;
    }
    // Takes the body in chunks of `chunk` bytes until the response has ended; every chunk's
    // size goes to `sizes`. With `eventsEveryChunk`, events run while bytes still wait, as in
    // the window's copy loop.
    static QByteArray drain(Inet& inet, qint64 chunk, QList<qint64>* sizes = nullptr,
                            bool eventsEveryChunk = false) {
        QByteArray body;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            const QByteArray piece = inet.GetChunk(chunk);
            if (!piece.isEmpty()) {
                body += piece;
                if (sizes)
                    *sizes << piece.size();
                if (eventsEveryChunk)
                    KeepResponsive();
                continue;
            }
            if (!inet.StillExecuting() && inet.BytesAvailable() == 0)
                break;
            DoEvents();
        }
        return body;
    }
    // The bytes the server generates for a body of `size`.
    static QByteArray generated(qint64 size) {
        TestHttpServer::GeneratedBody body;
        body.size = size;
        return body.bytes(0, size);
    }
    static quint16 closedPort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort(); // closed again when the probe goes
    }
};

void InetTest::whatTypeDoesAContentTypeGive_data() {
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("type");
    QTest::newRow("does a charset parameter drop off a PDF?") << "application/pdf; charset=UTF-8"
                                                              << "pdf";
    QTest::newRow("is a web page html?") << "text/html"
                                         << "html";
    QTest::newRow("does tiff become tif?") << "image/tiff"
                                           << "tif";
    QTest::newRow("does octet-stream leave the type alone?") << "application/octet-stream"
                                                             << "";
    QTest::newRow("is an unknown subtype kept whole?") << "application/msword"
                                                       << "application/msword";
    QTest::newRow("does the whole value keep its letter case?") << "Application/MSWord"
                                                                << "Application/MSWord";
    QTest::newRow("are case and blanks ignored in the subtype?") << " Application / P D F "
                                                                 << "pdf";
    QTest::newRow("is TEXT/HTML html?") << "TEXT/HTML"
                                        << "html";
    QTest::newRow("is text/plain plain?") << "text/plain"
                                          << "plain";
    QTest::newRow("is a flash movie swf?") << "application/x-shockwave-flash"
                                           << "swf";
    QTest::newRow("is a script js?") << "application/x-javascript"
                                     << "js";
    QTest::newRow("is realmedia its own subtype?") << "application/vnd.rn-realmedia"
                                                   << "vnd.rn-realmedia";
    QTest::newRow("is a playlist wpl?") << "application/vnd.ms-wpl"
                                        << "wpl";
    QTest::newRow("is caj kept?") << "application/CAJ"
                                  << "caj";
    QTest::newRow("is x-png png?") << "image/x-png"
                                   << "png";
    QTest::newRow("is x-ms-bmp bmp?") << "image/x-ms-bmp"
                                      << "bmp";
    QTest::newRow("is x-icon ico?") << "image/x-icon"
                                    << "ico";
    QTest::newRow("is pjpeg kept?") << "image/pjpeg"
                                    << "pjpeg";
    QTest::newRow("is mpeg4 mp4?") << "video/mpeg4"
                                   << "mp4";
    QTest::newRow("is x-msvideo avi?") << "Video/X-MSVIDEO"
                                       << "avi";
    QTest::newRow("is x-ms-asf asf?") << "video/x-ms-asf"
                                      << "asf";
    QTest::newRow("is quicktime kept?") << "video/quicktime"
                                        << "quicktime";
    QTest::newRow("is x-ms-wma wma?") << "audio/x-ms-wma"
                                      << "wma";
    QTest::newRow("is x-wav wav?") << "audio/x-wav"
                                   << "wav";
    QTest::newRow("is realaudio ram?") << "audio/x-pn-realaudio"
                                       << "ram";
    QTest::newRow("is midi mid?") << "audio/midi"
                                  << "mid";
    QTest::newRow("is x-mpegurl kept?") << "audio/x-mpegurl"
                                        << "x-mpegurl";
    QTest::newRow("does an empty subtype give the main type?") << "text/"
                                                               << "text";
    QTest::newRow("does a star give the main type?") << "IMAGE/*"
                                                     << "image";
    QTest::newRow("is an unknown main type kept whole?") << "model/vrml"
                                                         << "model/vrml";
    QTest::newRow("is a value without a slash kept whole?") << "pdf"
                                                            << "pdf";
    QTest::newRow("is a value with two slashes kept whole?") << "a/b/c"
                                                             << "a/b/c";
    QTest::newRow("is no Content-Type no type?") << ""
                                                 << "";
}

void InetTest::whatTypeDoesAContentTypeGive() {
    QFETCH(QString, header);
    QFETCH(QString, type);
    QCOMPARE(ContentTypeToType(ContentTypeWithoutParameters(header)), type);
}

void InetTest::doesAHostileContentTypeNameNoFile_data() {
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("extension");
    QTest::newRow("a launcher's name without a slash") << "desktop"
                                                       << "";
    QTest::newRow("an extension of the table without a slash") << "pdf"
                                                               << "";
    QTest::newRow("a shell script's Content-Type") << "text/x-shellscript"
                                                   << "";
    QTest::newRow("path characters") << "../../.local/bin/x"
                                     << "";
    QTest::newRow("path characters after a known main type") << "text/../../x"
                                                             << "";
    QTest::newRow("a dot that adds a second extension") << "image/png.desktop"
                                                        << "";
    QTest::newRow("a very long subtype")
        << QStringLiteral("application/") + QString(100000, 'a') << "";
    QTest::newRow("the table's own row, any letter case") << "Application/PDF; x=1"
                                                          << "pdf";
}

void InetTest::doesAHostileContentTypeNameNoFile() {
    QFETCH(QString, header);
    QFETCH(QString, extension);
    const QString type = FileTypeForContentType(ContentTypeWithoutParameters(header));
    QCOMPARE(type, extension);
    QCOMPARE(IsUsableFileType(type), !extension.isEmpty());
}

void InetTest::whatIsTheSiteRootOfALink_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("root");
    QTest::newRow("scheme, host and port") << "http://a.org:81/x/y.pdf"
                                           << "http://a.org:81";
    QTest::newRow("https without port") << "https://www.science.org/doi/pdf/1"
                                        << "https://www.science.org";
    QTest::newRow("no slash after the host") << "http://a.org"
                                             << "http://a.org";
    QTest::newRow("no scheme, slash late enough") << "www.a.org/x"
                                                  << "www.a.org";
    QTest::newRow("no scheme, slash as fourth character") << "abc/x"
                                                          << "abc";
    QTest::newRow("no scheme, slash as third character") << "ab/x"
                                                         << "ab/x";
    QTest::newRow("no scheme, no slash") << "a.org"
                                         << "a.org";
}

void InetTest::whatIsTheSiteRootOfALink() {
    QFETCH(QString, link);
    QFETCH(QString, root);
    QCOMPARE(SiteRoot(link), root);
}

void InetTest::whichPortAndProtocolDoesALinkGet_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("proxyOn");
    QTest::addColumn<QString>("proxyPort");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("https");
    QTest::addColumn<QString>("proxy");

    QTest::newRow("does https with 8443 still get 443?")
        << "https://host:8443/a.pdf" << false << "" << 443 << true << "";
    QTest::newRow("does http with 8080 keep it?")
        << "http://host:8080/a.pdf" << false << "" << 8080 << false << "";
    QTest::newRow("does a one-character host get 80?")
        << "http://h/a.pdf" << false << "" << 80 << false << "";
    QTest::newRow("does a link without a port get 80?")
        << "http://www.science.org/a.pdf" << false << "" << 80 << false << "";
    QTest::newRow("does a port without a path after it get 80?")
        << "http://host:8080" << false << "" << 80 << false << "";
    QTest::newRow("does a port that is no number get 80?")
        << "http://host:web/a" << false << "" << 80 << false << "";
    QTest::newRow("does a port past 16 bits get 80?")
        << "http://host:70000/a" << false << "" << 80 << false << "";
    QTest::newRow("does HTTPS:// in capitals count as https?")
        << "HTTPS://host/a" << false << "" << 443 << true << "";
    QTest::newRow("does the proxy give its own port?")
        << "http://host:8080/a" << true << "3128" << 3128 << false << "10.0.0.1:3128";
    QTest::newRow("does https through the proxy still get 443?")
        << "https://host/a" << true << "3128" << 443 << true << "10.0.0.1:3128";
    QTest::newRow("does a proxy port that is no number leave 80?")
        << "http://host/a" << true << "x" << 80 << false << "10.0.0.1:x";
}

void InetTest::whichPortAndProtocolDoesALinkGet() {
    QFETCH(QString, link);
    QFETCH(bool, proxyOn);
    QFETCH(QString, proxyPort);
    QFETCH(int, port);
    QFETCH(bool, https);
    QFETCH(QString, proxy);
    const SingleTransferConnection settings =
        ConnectionSettingsFor(link, proxyOn, QStringLiteral("10.0.0.1"), proxyPort);
    QCOMPARE(settings.remotePort, port);
    QCOMPARE(settings.protocol == Inet::Protocols::HTTPS, https);
    QCOMPARE(settings.proxy, proxy);
    QCOMPARE(settings.accessType,
             proxyOn ? Inet::AccessTypes::NamedProxy : Inet::AccessTypes::UseDefault);
}

void InetTest::whatDoesTheStatusPanelSay_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "0 无状态可报告。";
    QTest::newRow("1") << 1 << "1 正在查询所指定的主机的 IP 地址...";
    QTest::newRow("7") << 7 << "7 正在接收主机的响应...";
    QTest::newRow("10") << 10 << "10 已成功地与主机解除了连接。";
    QTest::newRow("11 names the error") << 11 << "11 与主机通讯时出现了错误:1:Connection refused";
    QTest::newRow("12") << 12 << "12 该请求已经完成，并且所有数据均已接收到。";
    QTest::newRow("an unknown state") << 13 << "1:Connection refused";
}

void InetTest::whatDoesTheStatusPanelSay() {
    QFETCH(int, state);
    QFETCH(QString, text);
    QCOMPARE(InetStateText(state, 1, QStringLiteral("Connection refused")), text);
}

void InetTest::lengthsAndPercentages_data() {
    QTest::addColumn<QString>("header");
    QTest::addColumn<double>("length");
    QTest::addColumn<double>("received");
    QTest::addColumn<QString>("percent");
    QTest::newRow("is 2048 of 12345 16%?") << "12345" << 12345.0 << 2048.0 << "16%";
    QTest::newRow("are blanks around the length allowed?")
        << " 12345 " << 12345.0 << 12345.0 << "100%";
    QTest::newRow("is a missing length 0?") << "" << 0.0 << 10.0 << "";
    QTest::newRow("is a length that is no number 0?") << "12k" << 0.0 << 10.0 << "";
    QTest::newRow("is nan no number?") << "nan" << 0.0 << 10.0 << "";
    QTest::newRow("does a large file stay exact?")
        << "1073741824" << 1073741824.0 << 1073741823.0 << "99%";
}

void InetTest::lengthsAndPercentages() {
    QFETCH(QString, header);
    QFETCH(double, length);
    QFETCH(double, received);
    QFETCH(QString, percent);
    QCOMPARE(AnnouncedLength(header), length);
    QCOMPARE(PercentText(received, length), percent);
}

void InetTest::aResponseStreamsInChunksAndReportsItsStates() {
    TestHttpServer server;
    // Longer than what one look into the reply takes, so that the chunks cross its refills and
    // the answer ends while some of them still wait to be handed out.
    constexpr qint64 kSize = 700001;
    server.serveGenerated("/big.pdf", kSize, "application/pdf");
    Inet inet;
    QList<int> states;
    connect(&inet, &Inet::StateChanged, this, [&](int state) { states << state; });

    QVERIFY(!inet.StillExecuting());
    inet.Execute(server.url("/big.pdf"));
    QVERIFY(inet.StillExecuting());
    QCOMPARE(inet.URL(), server.url("/big.pdf"));
    QVERIFY(waitUntil([&] { return inet.HeadersReceived(); }));
    QList<qint64> sizes;
    const QByteArray body = drain(inet, 2048, &sizes, true);

    QCOMPARE(body, generated(kSize));
    for (qint64 size : sizes)
        QVERIFY(size <= 2048);
    QVERIFY(!inet.StillExecuting());
    QCOMPARE(inet.StatusCode(), 200);
    QCOMPARE(inet.ResponseCode(), 0);
    QCOMPARE(states.first(), int(Inet::ResolvingHost));
    QVERIFY(states.contains(Inet::Connecting));
    QVERIFY(states.contains(Inet::RequestSent));
    QVERIFY(states.contains(Inet::ReceivingResponse));
    QCOMPARE(states.last(), int(Inet::ResponseCompleted));
    QVERIFY(!states.contains(Inet::Error));
    // Never backwards: the states follow the request's course.
    for (int i = 1; i < states.size(); ++i)
        QVERIFY2(states[i] >= states[i - 1], qPrintable(QString::number(states[i])));
}

void InetTest::headersAreReadByNameOrAsAWhole() {
    TestHttpServer server;
    server.route("/a.pdf", TestHttpServer::Response::bytes("%PDF-1.4", "application/pdf")
                               .header("X-One", "first")
                               .header("X-One", "second"));
    Inet inet;
    QCOMPARE(inet.GetHeader(), QString());
    inet.Execute(server.url("/a.pdf"));
    QVERIFY(waitUntil([&] { return !inet.StillExecuting(); }));

    QCOMPARE(inet.GetHeader("content-length"), QStringLiteral("8"));
    QCOMPARE(inet.GetHeader("CONTENT-TYPE"), QStringLiteral("application/pdf"));
    QCOMPARE(inet.GetHeader("x-one"), QStringLiteral("first, second"));
    QCOMPARE(inet.GetHeader("X-Missing"), QString());
    const QStringList lines = inet.GetHeader().split("\r\n");
    QCOMPARE(lines.first(), QStringLiteral("HTTP/1.1 200 OK"));
    QVERIFY(lines.contains(QStringLiteral("Content-Length: 8")));
    QVERIFY(lines.contains(QStringLiteral("Content-Type: application/pdf")));
    QVERIFY(!lines.contains(QString()));
}

void InetTest::theRequestCarriesTheHeaderBlockAndTheTransferHeaders() {
    TestHttpServer server;
    server.serve("/a.pdf", "x");
    Inet inet;
    inet.Execute(server.url("/a.pdf"), "GET", {},
                 "Referer: http://127.0.0.1/page\r\nX-Extra:  two words \r\n");
    QVERIFY(waitUntil([&] { return !inet.StillExecuting(); }));
    const TestHttpServer::Request request = server.lastRequest();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.header("Referer"), QByteArray("http://127.0.0.1/page"));
    QCOMPARE(request.header("X-Extra"), QByteArray("two words"));
    QCOMPARE(request.header("Accept-Encoding"), QByteArray("identity"));
    QVERIFY(!request.viaProxy);
}

void InetTest::aRedirectIsFollowedAndTheFinalHeadersCount() {
    TestHttpServer server;
    server.redirect("/old", 302, "/new.pdf");
    server.serve("/new.pdf", "%PDF-new", "application/pdf");
    Inet inet;
    inet.Execute(server.url("/old"));
    QVERIFY(waitUntil([&] { return inet.HeadersReceived(); }));
    QCOMPARE(inet.StatusCode(), 200);
    QCOMPARE(inet.GetHeader("Content-Type"), QStringLiteral("application/pdf"));
    QCOMPARE(drain(inet, 2048), QByteArray("%PDF-new"));
    QCOMPARE(server.requestCount(), 2);
}

void InetTest::a404WithABodyIsACompletedResponse() {
    TestHttpServer server;
    TestHttpServer::Response page = TestHttpServer::Response::html("<html>not here</html>");
    page.status = 404;
    server.route("/gone.pdf", page);
    Inet inet;
    QSignalSpy states(&inet, &Inet::StateChanged);
    inet.Execute(server.url("/gone.pdf"));
    QVERIFY(waitUntil([&] { return !inet.StillExecuting(); }));
    QCOMPARE(inet.StatusCode(), 404);
    QVERIFY(inet.GetHeader().startsWith("HTTP/1.1 404"));
    QCOMPARE(drain(inet, 2048), QByteArray("<html>not here</html>"));
    QCOMPARE(states.last().first().toInt(), int(Inet::ResponseCompleted));
}

void InetTest::aRefusedConnectionFailsWithoutHeaders() {
    const quint16 port = closedPort();
    Inet inet;
    QSignalSpy states(&inet, &Inet::StateChanged);
    inet.Execute(QStringLiteral("http://127.0.0.1:%1/a.pdf").arg(port));
    QVERIFY(waitUntil([&] { return !inet.StillExecuting(); }));
    QVERIFY(!inet.HeadersReceived());
    QCOMPARE(inet.GetHeader(), QString());
    QCOMPARE(inet.GetChunk(2048), QByteArray());
    QCOMPARE(states.last().first().toInt(), int(Inet::Error));
    QCOMPARE(inet.ResponseCode(), int(QNetworkReply::ConnectionRefusedError));
    QVERIFY(!inet.ResponseInfo().isEmpty());
}

void InetTest::aBodyCutShortOfItsLengthFails() {
    TestHttpServer server;
    server.route(
        "/short.pdf",
        TestHttpServer::Response::generatedBody(10000, "application/pdf").closeAfterBytes(4000));
    Inet inet;
    QSignalSpy states(&inet, &Inet::StateChanged);
    inet.Execute(server.url("/short.pdf"));
    const QByteArray body = drain(inet, 2048);
    QCOMPARE(body.size(), 4000);
    QCOMPARE(states.last().first().toInt(), int(Inet::Error));
    QVERIFY(inet.ResponseCode() != 0);
}

void InetTest::cancelDropsTheRequestAndItsBody() {
    TestHttpServer server;
    server.route("/slow.pdf", TestHttpServer::Response::generatedBody(100000, "application/pdf")
                                  .stallUntilReleased(30000, "gate"));
    Inet inet;
    inet.Execute(server.url("/slow.pdf"));
    QVERIFY(server.waitForStall("gate"));
    QVERIFY(waitUntil([&] { return inet.BytesAvailable() > 0; }));
    QVERIFY(inet.StillExecuting());
    inet.Cancel();
    QVERIFY(!inet.StillExecuting());
    QCOMPARE(inet.BytesAvailable(), 0);
    QCOMPARE(inet.GetChunk(2048), QByteArray());
    QCOMPARE(inet.GetHeader(), QString());
    inet.Cancel(); // twice is harmless
    server.release("gate");
}

void InetTest::aNamedProxyCarriesTheRequest() {
    TestHttpServer origin;
    TestHttpServer proxy;
    origin.serve("/a.pdf", "%PDF-through", "application/pdf");
    Inet inet;
    inet.SetAccessType(Inet::AccessTypes::NamedProxy);
    inet.SetProxy(QStringLiteral("127.0.0.1:%1").arg(proxy.port()));
    inet.Execute(origin.url("/a.pdf"), "GET", {}, "Referer: http://127.0.0.1/page\r\n");
    QVERIFY(waitUntil([&] { return !inet.StillExecuting(); }));
    QCOMPARE(drain(inet, 2048), QByteArray("%PDF-through"));

    QCOMPARE(proxy.requestCount(), 1);
    const TestHttpServer::Request viaProxy = proxy.lastRequest();
    QVERIFY(viaProxy.viaProxy);
    QCOMPARE(viaProxy.target, origin.url("/a.pdf").toLatin1());
    QCOMPARE(viaProxy.header("Referer"), QByteArray("http://127.0.0.1/page"));
    QCOMPARE(origin.requestCount(), 1);
}

void InetTest::withoutAProxyTheRequestGoesDirect() {
    TestHttpServer origin;
    TestHttpServer proxy;
    origin.serve("/a.pdf", "%PDF-direct", "application/pdf");
    Inet inet;
    // A proxy text that is set but not chosen is not used.
    inet.SetProxy(QStringLiteral("127.0.0.1:%1").arg(proxy.port()));
    for (Inet::AccessTypes access : {Inet::AccessTypes::UseDefault, Inet::AccessTypes::Direct}) {
        inet.SetAccessType(access);
        inet.Execute(origin.url("/a.pdf"));
        QVERIFY(waitUntil([&] { return !inet.StillExecuting(); }));
        QCOMPARE(drain(inet, 2048), QByteArray("%PDF-direct"));
        QVERIFY(!origin.lastRequest().viaProxy);
    }
    QCOMPARE(origin.requestCount(), 2);
    QCOMPARE(proxy.requestCount(), 0);
}

void InetTest::anUnreadableProxyFailsAtOnce() {
    TestHttpServer origin;
    origin.serve("/a.pdf", "x");
    Inet inet;
    inet.SetAccessType(Inet::AccessTypes::NamedProxy);
    for (const QString& text :
         {QStringLiteral(":8080"), QStringLiteral("127.0.0.1:port"), QStringLiteral("")}) {
        QSignalSpy states(&inet, &Inet::StateChanged);
        inet.SetProxy(text);
        inet.Execute(origin.url("/a.pdf"));
        QVERIFY2(!inet.StillExecuting(), qPrintable(text));
        QCOMPARE(states.last().first().toInt(), int(Inet::Error));
        QCOMPARE(inet.ResponseCode(), int(QNetworkReply::ProxyNotFoundError));
    }
    // Nothing went out directly in the proxy's place.
    QCOMPARE(origin.requestCount(), 0);
}

void InetTest::openUrlStreamsTheWholeBodyIntoASink() {
    TestHttpServer server;
    const qint64 size = 3 * 1024 * 1024 + 17;
    server.serveGenerated("/big", size, "application/pdf",
                          TestHttpServer::Response::Framing::Chunked);
    Inet inet;
    QByteArray received;
    QBuffer sink(&received);
    sink.open(QIODevice::WriteOnly);
    int asked = 0;
    QCOMPARE(inet.OpenURL(server.url("/big"), sink, [&] { return ++asked > 0; }), size);
    QVERIFY(received == generated(size));
    QVERIFY(asked > 0);
    QVERIFY(!inet.StillExecuting());
    // This request carries no header block.
    QVERIFY(!server.lastRequest().hasHeader("Referer"));

    QCOMPARE(inet.OpenURL(server.url("/big"), {}).size(), size);
}

void InetTest::openUrlStopsWhenTheCallerSaysSo() {
    TestHttpServer server;
    server.route("/slow",
                 TestHttpServer::Response::generatedBody(100000).stallUntilReleased(5000, "gate"));
    Inet inet;
    QByteArray received;
    QBuffer sink(&received);
    sink.open(QIODevice::WriteOnly);
    const qint64 result = inet.OpenURL(server.url("/slow"), sink, [&] {
        return server.waitingAt("gate") == 0 || received.size() < 5000;
    });
    QCOMPARE(result, qint64(-1));
    QCOMPARE(received.size(), 5000);
    QVERIFY(!inet.StillExecuting());

    // A Cancel from outside while it waits (a stop command) is no complete body either.
    server.closeGate("gate");
    received.clear();
    sink.seek(0);
    QCOMPARE(inet.OpenURL(server.url("/slow"), sink,
                          [&] {
                              if (server.waitingAt("gate") >= 1 && received.size() == 5000)
                                  inet.Cancel();
                              return true;
                          }),
             qint64(-1));
    QCOMPARE(received.size(), 5000);
    server.release("gate");

    // A refused connection gives nothing at all.
    QCOMPARE(inet.OpenURL(QStringLiteral("http://127.0.0.1:%1/x").arg(closedPort()), sink, {}),
             qint64(-1));
}

QF_TEST_GUILESS_MAIN(InetTest)
#include "test_inet.moc"

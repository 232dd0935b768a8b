#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include "core/transfer/VersionCheck.h"
#include "core/transfer/uXMLHTTP.h"

#include <QFile>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>

// The request wrapper against the local test server, and the version comparison of the
// new-version check.
class XmlHttpTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void theStatusTableHoldsItsFortyOneTexts();
    void aSuccessfulReplyArrivesOnceAndIsSaved();
    void theMethodIsSentInCapitalsWithTheBodyAndHeaders();
    void aHeaderThatWouldSplitItsLineIsNotSent();
    void whichEndRaisesWhichEvent_data();
    void whichEndRaisesWhichEvent();
    void aRefusedConnectionReportsAnEmptyDescription();
    void abortingWhilePollingRaisesNothing();
    void anAddressThatCannotBeOpenedStartsNothing_data();
    void anAddressThatCannotBeOpenedStartsNothing();
    void theTextIsDecodedByItsCharset();

    void versionTexts_data();
    void versionTexts();
    void theVersionFileIsTrimmedAndKeptShort_data();
    void theVersionFileIsTrimmedAndKeptShort();
    void theAddressesNeedAHost();

private:
    // Sends the request and waits until the poll has seen it end (or the time is up).
    bool runToEnd(uXMLHTTP& request, int timeoutMs = 10000);

    TestHttpServer server_;
    QTemporaryDir dir_;
};

void XmlHttpTest::init() {
    server_.clearRoutes();
    server_.clearRequests();
}

bool XmlHttpTest::runToEnd(uXMLHTTP& request, int timeoutMs) {
    request.Send_();
    QElapsedTimer timer;
    timer.start();
    while (!request.DownOK() && request.tmrReader->isActive() && timer.elapsed() < timeoutMs)
        QTest::qWait(5);
    return request.DownOK();
}

void XmlHttpTest::theStatusTableHoldsItsFortyOneTexts() {
    uXMLHTTP request;
    int filled = 0;
    for (const QString& text : request.StatusTexts)
        filled += text.isEmpty() ? 0 : 1;
    QCOMPARE(filled, 41);
    QCOMPARE(request.StatusTexts[200], QStringLiteral("交易成功"));
    QCOMPARE(request.StatusTexts[202], QStringLiteral("接受和处理?但处理未完成"));
    QCOMPARE(request.StatusTexts[404], QStringLiteral("没有发现文件?查询或URl"));
    QCOMPARE(request.StatusTexts[416],
             QStringLiteral("请求中包含Range请求头字段，在当前请求资源范围内没有range指示值，"
                            "请求也不包含If-Range请求头字段"));
    QCOMPARE(request.StatusTexts[505],
             QStringLiteral("服务器不支持或拒绝支请求头中指定的HTTP版本"));
    for (int code : {0, 102, 207, 308, 418, 506, 600})
        QVERIFY2(request.StatusTexts[static_cast<std::size_t>(code)].isEmpty(),
                 qPrintable(QString::number(code)));
    QCOMPARE(HttpStatusDescription(100), QStringLiteral("客户必须继续发出请求"));
    QCOMPARE(HttpStatusDescription(-1), QString());
    QCOMPARE(HttpStatusDescription(601), QString());
}

void XmlHttpTest::aSuccessfulReplyArrivesOnceAndIsSaved() {
    server_.route(
        "/v.bin",
        TestHttpServer::Response::bytes("1.2.4\r\n", "text/plain").header("X-Build", "77"));
    const QString target = dir_.filePath("saved.txt");
    {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older and longer file that must not shine through");
    }
    uXMLHTTP request;
    QSignalSpy arrived(&request, &uXMLHTTP::OnDateArrived);
    QSignalSpy failed(&request, &uXMLHTTP::OnDateErr);
    QSignalSpy ticks(&request, &uXMLHTTP::OnReadyStateChange);
    QVERIFY(!request.DownOK());
    QVERIFY(request.Open_("GET", server_.url("/v.bin"), target));
    QCOMPARE(request.ReadyState(), 1);
    QVERIFY(request.Opened());
    QVERIFY(runToEnd(request));

    QCOMPARE(arrived.count(), 1);
    QCOMPARE(failed.count(), 0);
    QVERIFY(ticks.count() >= 1);
    QVERIFY(!request.tmrReader->isActive());
    QCOMPARE(request.tmrReader->interval(), 10);
    QCOMPARE(request.ReadyState(), 4);
    QCOMPARE(request.Status(), 200);
    QCOMPARE(request.StatusText(), QStringLiteral("OK"));
    QCOMPARE(request.ResponseBody(), QByteArray("1.2.4\r\n"));
    QCOMPARE(request.ResponseText(), QStringLiteral("1.2.4\r\n"));
    QCOMPARE(request.GetResponseHeader("x-build"), QStringLiteral("77"));
    QVERIFY(request.GetAllResponseHeaders().contains(QStringLiteral("X-Build: 77\r\n")));
    QFile saved(target);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("1.2.4\r\n"));

    // A further tick after the end changes nothing and raises nothing.
    request.tmrReader_Timer();
    QCOMPARE(arrived.count(), 1);

    // A new Open_ starts afresh.
    QVERIFY(request.Open_("GET", server_.url("/v.bin")));
    QVERIFY(!request.DownOK());
    QVERIFY(request.ResponseBody().isEmpty());
}

void XmlHttpTest::theMethodIsSentInCapitalsWithTheBodyAndHeaders() {
    server_.route("/echo", [](const TestHttpServer::Request& r) {
        return TestHttpServer::Response::bytes(r.method + ' ' + r.body, "text/plain");
    });
    uXMLHTTP request;
    QVERIFY(request.Open_("get", server_.url("/echo")));
    request.SetRequestHeader("Referer", "http://127.0.0.1/from");
    QVERIFY(runToEnd(request));
    QCOMPARE(server_.lastRequest().method, QByteArray("GET"));
    QCOMPARE(server_.lastRequest().header("Referer"), QByteArray("http://127.0.0.1/from"));
    // Asked for unencoded, past every cache.
    QCOMPARE(server_.lastRequest().header("Accept-Encoding"), QByteArray("identity"));

    QVERIFY(request.Open_("Post", server_.url("/echo")));
    request.Send_(QStringLiteral("版本=1"));
    QTRY_VERIFY_WITH_TIMEOUT(request.DownOK(), 10000);
    QCOMPARE(request.ResponseText(), QStringLiteral("POST 版本=1"));
    QVERIFY(server_.lastRequest().header("Content-Type").startsWith("text/plain"));
}

void XmlHttpTest::aHeaderThatWouldSplitItsLineIsNotSent() {
    server_.serve("/h", "x", "text/plain");
    uXMLHTTP request;
    request.SetRequestHeader("X-Early", "1"); // before Open_: nothing to add it to
    QVERIFY(request.Open_("GET", server_.url("/h")));
    request.SetRequestHeader("X-Inject", "a\r\nX-Evil: 1");
    request.SetRequestHeader("Bad Name", "1");
    request.SetRequestHeader("", "1");
    request.SetRequestHeader("X-Good", "yes");
    QVERIFY(runToEnd(request));
    const TestHttpServer::Request sent = server_.lastRequest();
    QCOMPARE(sent.header("X-Good"), QByteArray("yes"));
    for (const char* name : {"X-Early", "X-Inject", "X-Evil", "Bad Name"})
        QVERIFY2(!sent.hasHeader(name), name);
}

void XmlHttpTest::whichEndRaisesWhichEvent_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("cutShort");
    QTest::addColumn<int>("arrived");
    QTest::addColumn<int>("failed");
    QTest::addColumn<QString>("description");

    QTest::newRow("404 is described") << 404 << false << 0 << 1 << "没有发现文件?查询或URl";
    QTest::newRow("500 is described") << 500 << false << 0 << 1 << "服务器产生内部错误";
    QTest::newRow("403 is described") << 403 << false << 0 << 1 << "请求不允许";
    QTest::newRow("204 is a failure, not an arrival")
        << 204 << false << 0 << 1 << "请求收到，但返回信息为空";
    QTest::newRow("a code without a text gives an empty one") << 299 << false << 0 << 1 << "";
    QTest::newRow("a code above 600 raises nothing") << 799 << false << 0 << 0 << "";
    QTest::newRow("a body cut short is no arrival") << 200 << true << 0 << 1 << "";
}

void XmlHttpTest::whichEndRaisesWhichEvent() {
    QFETCH(int, status);
    QFETCH(bool, cutShort);
    QFETCH(int, arrived);
    QFETCH(int, failed);
    QFETCH(QString, description);

    TestHttpServer::Response response =
        TestHttpServer::Response::bytes(QByteArray(2000, 'x'), "text/plain");
    response.status = status;
    if (status == 204)
        response.body.clear();
    if (cutShort)
        response.closeAfterBytes(100);
    server_.route("/end", response);
    const QString target = dir_.filePath(QStringLiteral("end%1.txt").arg(status));

    uXMLHTTP request;
    QSignalSpy arrivedSpy(&request, &uXMLHTTP::OnDateArrived);
    QSignalSpy failedSpy(&request, &uXMLHTTP::OnDateErr);
    QVERIFY(request.Open_("GET", server_.url("/end"), target));
    QVERIFY(runToEnd(request));
    QCOMPARE(arrivedSpy.count(), arrived);
    QCOMPARE(failedSpy.count(), failed);
    if (failed)
        QCOMPARE(failedSpy.first().first().toString(), description);
    QVERIFY(!request.tmrReader->isActive());
    // Only a successful body is saved.
    QVERIFY(!QFile::exists(target));
}

void XmlHttpTest::aRefusedConnectionReportsAnEmptyDescription() {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    uXMLHTTP request;
    QSignalSpy failed(&request, &uXMLHTTP::OnDateErr);
    QVERIFY(request.Open_("GET", QStringLiteral("http://127.0.0.1:%1/v").arg(closedPort)));
    QVERIFY(runToEnd(request));
    QCOMPARE(request.Status(), 0);
    QCOMPARE(request.StatusText(), QString());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().toString(), QString());
}

void XmlHttpTest::abortingWhilePollingRaisesNothing() {
    server_.route("/slow", TestHttpServer::Response::bytes(QByteArray(4000, 'v'), "text/plain")
                               .stallUntilReleased(10, "slow"));
    uXMLHTTP request;
    QSignalSpy arrived(&request, &uXMLHTTP::OnDateArrived);
    QSignalSpy failed(&request, &uXMLHTTP::OnDateErr);
    QVERIFY(request.Open_("GET", server_.url("/slow")));
    request.Send_();
    QVERIFY(server_.waitForStall("slow"));
    QTRY_VERIFY_WITH_TIMEOUT(request.ReadyState() >= 2, 5000);
    QVERIFY(request.tmrReader->isActive());
    request.Abort_();
    QVERIFY(!request.tmrReader->isActive());
    server_.release("slow");
    QTest::qWait(200);
    QCOMPARE(arrived.count(), 0);
    QCOMPARE(failed.count(), 0);
    QVERIFY(!request.DownOK());
    QCOMPARE(request.ReadyState(), 0);
    QCOMPARE(request.Status(), 0);
    QVERIFY(request.ResponseBody().isEmpty());
    // Aborting an idle request is harmless too.
    request.Abort_();
    QCOMPARE(failed.count(), 0);
}

void XmlHttpTest::anAddressThatCannotBeOpenedStartsNothing_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("address");
    QTest::newRow("empty address") << "GET"
                                   << "";
    QTest::newRow("no host") << "GET"
                             << "http:///quillfetch/newver.txt";
    QTest::newRow("relative") << "GET"
                              << "/newver.txt";
    QTest::newRow("another scheme") << "GET"
                                    << "file:///etc/passwd";
    QTest::newRow("a method with a blank") << "G T"
                                           << "http://127.0.0.1:1/";
    QTest::newRow("an empty method") << ""
                                     << "http://127.0.0.1:1/";
}

void XmlHttpTest::anAddressThatCannotBeOpenedStartsNothing() {
    QFETCH(QString, method);
    QFETCH(QString, address);
    uXMLHTTP request;
    QSignalSpy failed(&request, &uXMLHTTP::OnDateErr);
    QVERIFY(!request.Open_(method, address));
    QVERIFY(!request.Opened());
    request.Send_();
    QVERIFY(!request.tmrReader->isActive());
    QCOMPARE(request.ReadyState(), 0);
    QCOMPARE(request.Status(), 0);
    QCOMPARE(request.ResponseText(), QString());
    QCOMPARE(request.GetAllResponseHeaders(), QString());
    QCOMPARE(failed.count(), 0);
}

void XmlHttpTest::theTextIsDecodedByItsCharset() {
    QStringEncoder gbk("GB18030");
    const QString text = QStringLiteral("新版本 2.1.0");
    server_.serve("/gbk", QByteArray(gbk.encode(text)), "text/plain; charset=GBK");
    server_.serve("/plain", text.toUtf8(), "text/plain");
    server_.serve("/bom", QByteArray("\xEF\xBB\xBF") + text.toUtf8(), "text/plain; charset=GBK");
    for (const char* path : {"/gbk", "/plain", "/bom"}) {
        uXMLHTTP request;
        QVERIFY(request.Open_("GET", server_.url(path)));
        QVERIFY(runToEnd(request));
        QCOMPARE(request.ResponseText(), text);
    }
}

void XmlHttpTest::versionTexts_data() {
    QTest::addColumn<QString>("published");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<bool>("newer");

    QTest::newRow("is 1.2.4 newer than 1.2.3?") << "1.2.4" << 1 << 2 << 3 << true;
    QTest::newRow("is 1.2.3 newer than itself?") << "1.2.3" << 1 << 2 << 3 << false;
    QTest::newRow("is 1.2.2 newer than 1.2.3?") << "1.2.2" << 1 << 2 << 3 << false;
    QTest::newRow("is 1.3.0 newer than 1.2.9999?") << "1.3.0" << 1 << 2 << 9999 << true;
    QTest::newRow("is 2.0.1 newer than 2.0.0? (they round together)")
        << "2.0.1" << 2 << 0 << 0 << false;
    QTest::newRow("is 2.0.2 newer than 2.0.0?") << "2.0.2" << 2 << 0 << 0 << true;
    QTest::newRow("is 10.0.0 newer than 9.999.0?") << "10.0.0" << 9 << 999 << 0 << true;
    QTest::newRow("does 1.2 count?") << "1.2" << 0 << 0 << 0 << false;
    QTest::newRow("does 1.2.3.4 count?") << "1.2.3.4" << 0 << 0 << 0 << false;
    QTest::newRow("does V1.2.3 count?") << "V1.2.3" << 0 << 0 << 0 << false;
    QTest::newRow("does 1..3 count?") << "1..3" << 0 << 0 << 0 << false;
    QTest::newRow("does 1.2.x count?") << "1.2.x" << 0 << 0 << 0 << false;
    QTest::newRow("does 1.2.3e4 count?") << "1.2.3e4" << 0 << 0 << 0 << false;
    QTest::newRow("does a part with blanks count?") << "1. 2.4 " << 1 << 2 << 3 << true;
    QTest::newRow("does a line break after the revision count?") << "1.2.4\r\n"
                                                                 << 1 << 2 << 3 << true;
}

void XmlHttpTest::versionTexts() {
    QFETCH(QString, published);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(bool, newer);
    QCOMPARE(IsNewerVersion(published, {major, minor, revision}), newer);
}

void XmlHttpTest::theVersionFileIsTrimmedAndKeptShort_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("text");
    QTest::newRow("surrounding spaces go") << "   1.2.4  " << true << "1.2.4";
    QTest::newRow("a line break stays") << "1.2.4\r\n" << true << "1.2.4\r\n";
    QTest::newRow("ten characters are taken") << "10.20.3000" << true << "10.20.3000";
    QTest::newRow("eleven characters are not") << "1.2.3 beta1" << false << "";
    QTest::newRow("a long comment is not") << "1.2.4 (fixes the proxy)" << false << "";
    QTest::newRow("an empty file is not") << "" << false << "";
    QTest::newRow("spaces alone are not") << "     " << false << "";
}

void XmlHttpTest::theVersionFileIsTrimmedAndKeptShort() {
    QFETCH(QString, reply);
    QFETCH(bool, taken);
    QFETCH(QString, text);
    const std::optional<QString> result = VersionFileText(reply);
    QCOMPARE(result.has_value(), taken);
    if (taken)
        QCOMPARE(*result, text);
}

void XmlHttpTest::theAddressesNeedAHost() {
    QCOMPARE(VersionNumber(2, 0, 0), VersionNumber(2, 0, 1));
    QVERIFY(VersionNumber(1, 2, 3) < VersionNumber(1, 2, 4));
    QCOMPARE(VersionFileAddress("", "quillfetch"), QString());
    QCOMPARE(ProgramPageAddress("", "quillfetch"), QString());
    QCOMPARE(VersionFileAddress("maker.example:8080", "quillfetch"),
             QStringLiteral("http://maker.example:8080/quillfetch/newver.txt"));
    QCOMPARE(ProgramPageAddress("maker.example", "quillfetch"),
             QStringLiteral("http://maker.example/quillfetch/"));
    QCOMPARE(ProgramFileName(), QStringLiteral("test_uxmlhttp"));
}

QF_TEST_GUILESS_MAIN(XmlHttpTest)
#include "test_uxmlhttp.moc"

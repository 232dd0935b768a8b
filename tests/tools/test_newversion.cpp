#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"

#include "core/app/ProgramValues.h"
#include "core/app/Version.h"
#include "core/transfer/VersionCheck.h"
#include "core/transfer/uXMLHTTP.h"
#include "ui/app/Forms.h"
#include "ui/app/fCover.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <memory>

// The start-up window's new-version check against a version file on the local test server.
class NewVersionTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void whatDoesAVersionFileShow_data();
    void whatDoesAVersionFileShow();
    void aMissingVersionFileAsksForTheNetworkOnce();
    void theCheckNeverHoldsUpTheSearchButton();
    void withoutTheMakersSiteNothingIsAskedOrShown();
    void clickingTheNoticeOpensTheProgramsPage();

private:
    // Starts the check as the start-up timer does and waits until its request has ended;
    // the caller checks that it did.
    fCover* runCheck();
    QString versionFilePath() const { return '/' + ProgramFileName() + "/newver.txt"; }
    QString programPage() const { return server_.url('/' + ProgramFileName() + '/'); }
    static QString ownVersion(int minorStep) {
        return QStringLiteral("%1.%2.0").arg(kVersionMajor).arg(kVersionMinor + minorStep);
    }

    std::unique_ptr<TestServices> services_;
    TestHttpServer server_;
};

void NewVersionTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(server_.isListening());
}

void NewVersionTest::init() {
    services_ = std::make_unique<TestServices>();
    Program().MakerSiteHost = QStringLiteral("127.0.0.1:%1").arg(server_.port());
    server_.clearRoutes();
    server_.clearRequests();
}

void NewVersionTest::cleanup() {
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    services_.reset();
}

fCover* NewVersionTest::runCheck() {
    fCover* cover = Forms::fCover();
    cover->Timer1->stop(); // the test fires it
    cover->Timer1_Timer();
    if (cover->uXMLHTTP2)
        (void)QTest::qWaitFor([cover] { return cover->uXMLHTTP2->DownOK(); }, 10000);
    return cover;
}

void NewVersionTest::whatDoesAVersionFileShow_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("notice");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("shown");

    const QString newer = ownVersion(1);
    QTest::newRow("a newer version") << newer << true << newer << newer;
    QTest::newRow("a newer version in spaces")
        << "  " + ownVersion(2) + "  " << true << ownVersion(2) << ownVersion(2);
    QTest::newRow("a newer version with a line break") << newer + "\r\n"
                                                       << true << newer + "\r\n"
                                                       << newer;
    QTest::newRow("the program's own version") << ownVersion(0) << false << ownVersion(0) << "";
    QTest::newRow("1.2") << "1.2" << false << "1.2"
                         << "";
    QTest::newRow("1.2.3.4") << "1.2.3.4" << false << "1.2.3.4"
                             << "";
    QTest::newRow("V1.2.3") << "V1.2.3" << false << "V1.2.3"
                            << "";
    QTest::newRow("eleven characters") << " 99.9.9 new! " << false << "99.9.9 new!"
                                       << "";
    QTest::newRow("an empty file") << "" << false << ""
                                   << "";
}

void NewVersionTest::whatDoesAVersionFileShow() {
    QFETCH(QString, file);
    QFETCH(bool, notice);
    QFETCH(QString, kept);
    QFETCH(QString, shown);
    server_.serve(versionFilePath(), file.toUtf8(), "text/plain");

    fCover* cover = runCheck();
    QVERIFY(cover->uXMLHTTP2 && cover->uXMLHTTP2->DownOK());
    QCOMPARE(server_.requestsFor(versionFilePath()).size(), 1);
    QCOMPARE(server_.lastRequest().method, QByteArray("GET"));
    QCOMPARE(cover->NewVersionText, kept);
    QCOMPARE(cover->Label2->isVisible(), notice);
    QVERIFY(services_->prompt.shown().isEmpty());
    if (notice) {
        QCOMPARE(cover->Label2->text(), QStringLiteral("有最新版本：V") + shown);
        QCOMPARE(services_->shell.calls.size(), 1);
        QCOMPARE(services_->shell.calls[0].what, QStringLiteral("openUrl"));
        QCOMPARE(services_->shell.calls[0].target, programPage());
    } else {
        QCOMPARE(cover->Label2->text(), QStringLiteral("有最新版本："));
        QVERIFY(services_->shell.calls.isEmpty());
    }
}

void NewVersionTest::aMissingVersionFileAsksForTheNetworkOnce() {
    // No route: the server answers 404.
    fCover* cover = runCheck();
    QVERIFY(cover->uXMLHTTP2 && cover->uXMLHTTP2->DownOK());
    QCOMPARE(cover->uXMLHTTP2->Status(), 404);
    // Give a stray second event time to show.
    QTest::qWait(50);
    QCOMPARE(services_->prompt.messages(), QStringList{QStringLiteral("请保持网络畅通！")});
    QCOMPARE(services_->prompt.shown().first().icon, MsgIcon::Error);
    QVERIFY(!cover->Label2->isVisible());
    QVERIFY(services_->shell.calls.isEmpty());
}

void NewVersionTest::theCheckNeverHoldsUpTheSearchButton() {
    server_.route(versionFilePath(),
                  TestHttpServer::Response::bytes(ownVersion(1).toUtf8(), "text/plain")
                      .stallUntilReleased(0, "version"));
    fCover* cover = Forms::fCover();
    cover->Timer1->stop();
    QVERIFY(!cover->Command1->isEnabled());
    cover->Timer1_Timer();
    // The button is on while the reply is still held back by the server.
    QVERIFY(cover->Command1->isEnabled());
    QVERIFY(server_.waitForStall("version"));
    QVERIFY(cover->uXMLHTTP2->tmrReader->isActive());
    QVERIFY(!cover->Label2->isVisible());
    server_.release("version");
    QTRY_VERIFY_WITH_TIMEOUT(cover->Label2->isVisible(), 10000);
}

void NewVersionTest::withoutTheMakersSiteNothingIsAskedOrShown() {
    Program().MakerSiteHost = ProgramValues{}.MakerSiteHost;
    QVERIFY(Program().MakerSiteHost.isEmpty());
    fCover* cover = Forms::fCover();
    cover->Timer1->stop();
    cover->Timer1_Timer();
    QVERIFY(cover->Command1->isEnabled());
    QVERIFY(cover->uXMLHTTP2);
    QVERIFY(!cover->uXMLHTTP2->Opened());
    QVERIFY(!cover->uXMLHTTP2->tmrReader->isActive());
    QTest::qWait(50);
    QCOMPARE(server_.requestCount(), 0);
    QVERIFY(services_->prompt.shown().isEmpty());
    QVERIFY(!cover->Label2->isVisible());
    // Nor does a click on the (hidden) notice open anything.
    cover->Label2_Click();
    QVERIFY(services_->shell.calls.isEmpty());
}

void NewVersionTest::clickingTheNoticeOpensTheProgramsPage() {
    server_.serve(versionFilePath(), ownVersion(1).toUtf8(), "text/plain");
    fCover* cover = runCheck();
    QTRY_VERIFY(cover->Label2->isVisible());
    services_->shell.calls.clear();
    QTest::mouseClick(cover->Label2, Qt::LeftButton);
    QCOMPARE(services_->shell.calls.size(), 1);
    QCOMPARE(services_->shell.calls[0].target, programPage());
}

QF_TEST_MAIN(NewVersionTest)
#include "test_newversion.moc"

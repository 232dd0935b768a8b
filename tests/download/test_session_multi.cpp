#include "SessionFixture.h"
#include "TestEnvironment.h"

#include "core/transfer/Downloader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>

#include <memory>

using Response = TestHttpServer::Response;
using Framing = TestHttpServer::Response::Framing;

Q_DECLARE_METATYPE(Framing)

// How long a wait for the network may take before it counts as failed. The waits end as soon
// as their condition holds; the limit is generous because a loaded machine (the suites run
// in parallel with builds) can take seconds to get a request out.
constexpr int kNetworkMs = 30000;

// The download session's parallel slots against a real server: a slot fetches its row into
// its file, its events move that row's columns and settle its state, and an event finds its
// row by the link whatever happened to the list meanwhile.
class MultiTransferTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void aSlotFetchesItsRowIntoItsFile_data();
    void aSlotFetchesItsRowIntoItsFile();
    void whichProgressReportsReachTheRow_data();
    void whichProgressReportsReachTheRow();
    void whatDecidesTheFinalState_data();
    void whatDecidesTheFinalState();
    void anErrorPageEndsFailedButIsKept();
    void anErrorOfSlot2LeavesSlots1And3Running();
    void eventsFollowTheRowByItsLink();
    void eventsOfARowThatIsGoneChangeNoRow();
    void aRemovedSlotSendsNothingMore();
    void onlySlots1To6Transfer();
    void fastReportsReachTheListAFewTimesASecond();

private:
    // Adds a waiting row for `path` on the server; returns its link.
    QString addRow(const QString& path, const QString& name, const QString& page = QString());
    QString target(const QString& name) const { return f_->folder() + name; }
    int state(int position) const { return f_->state(position); }
    QString column(int position, int n) const { return f_->cell(position, n); }
    QStringList progressColumns(int position) const {
        return {column(position, DownloadColumn::Size), column(position, DownloadColumn::Received),
                column(position, DownloadColumn::Percent)};
    }
    // Starts `position` in `slot` as the scheduler does.
    void start(int slot, int position, const QString& name);

    DownloadSession& session() const { return *f_->session; }

    std::unique_ptr<SessionFixture> f_;
};

void MultiTransferTest::init() {
    f_ = std::make_unique<SessionFixture>();
    QVERIFY(f_->server.isListening());
}

void MultiTransferTest::cleanup() {
    f_.reset();
}

QString MultiTransferTest::addRow(const QString& path, const QString& name, const QString& page) {
    const int position = f_->addRow(path, name, QStringLiteral("pdf"), page);
    return session().ListItems3->Key(position);
}

void MultiTransferTest::start(int slot, int position, const QString& name) {
    KeyedListModel* list = session().ListItems3;
    session().SlotItem[slot] = position;
    QCOMPARE(session().多线程下载(slot, position, list->Key(position), target(name)), false);
}

void MultiTransferTest::aSlotFetchesItsRowIntoItsFile_data() {
    QTest::addColumn<Framing>("framing");
    QTest::newRow("with its length?") << Framing::ContentLength;
    QTest::newRow("chunked, through the fallback with the row's page as Referer?")
        << Framing::Chunked;
}
void MultiTransferTest::aSlotFetchesItsRowIntoItsFile() {
    QFETCH(Framing, framing);
    const QByteArray body = TestHttpServer::GeneratedBody{5000, "%PDF-1.4\n"}.bytes(0, 5000);
    Response response = Response::bytes(body, "application/pdf").withFraming(framing);
    response.stallUntilReleased(1000, "go");
    f_->server.route("/a.pdf", response);
    const QString page = f_->server.url("/toc/science/1");
    addRow("/a.pdf", "paper a", page);
    session().ListItems3->SetSubItem(1, DownloadColumn::Size, "old");
    session().ListItems3->SetSubItem(1, DownloadColumn::Percent, "下载失败");
    f_->services.clock.advance(50.0);

    start(1, 1, "paper a.pdf");
    QCOMPARE(state(1), ItemState::Downloading);
    QCOMPARE(progressColumns(1), (QStringList{"", "", ""}));
    QCOMPARE(session().SlotStart[1], f_->services.clock.elapsedSeconds());
    QVERIFY(session().DownloadBusy);
    QCOMPARE(session().CountDownloaderSlots(), 2);
    QVERIFY(!session().Downloader1.value(1).isNull());
    QFile placeholder(target("paper a.pdf"));
    QVERIFY(placeholder.open(QIODevice::ReadOnly));
    QCOMPARE(placeholder.readAll(), QByteArray("\x01\x00", 2));
    placeholder.close();

    // The transfer has reached the server. Without a length the first answer is dropped at
    // its headers and fetched again, so which of the two waits at the gate depends on timing;
    // the gate stays open for both once released.
    QTRY_VERIFY_WITH_TIMEOUT(
        !f_->server.requestsFor("/a.pdf").isEmpty() || f_->server.waitingAt("go") > 0, kNetworkMs);
    f_->services.clock.advance(30.0);
    f_->server.release("go");
    QTRY_COMPARE_WITH_TIMEOUT(state(1), ItemState::Completed, kNetworkMs);
    QCOMPARE(progressColumns(1), (QStringList{"5000", "5000", "100%"}));
    QCOMPARE(session().PanelText(2), QStringLiteral("完成下载:paper a"));
    QCOMPARE(session().LastFileTime, f_->services.clock.elapsedSeconds());
    QCOMPARE(session().CountDownloaderSlots(), 1);
    QFile file(target("paper a.pdf"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == body);
    if (framing == Framing::Chunked) {
        bool sawReferer = false;
        for (const TestHttpServer::Request& r : f_->server.requests()) {
            if (r.hasHeader("Referer")) {
                sawReferer = true;
                QCOMPARE(QString::fromUtf8(r.header("Referer")), page);
            }
        }
        QVERIFY(sawReferer);
    }
}

void MultiTransferTest::whichProgressReportsReachTheRow_data() {
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QStringList>("columns");
    QTest::newRow("(2048, 0): no total, ignored?")
        << qint64(2048) << qint64(0) << QStringList{"", "", ""};
    QTest::newRow("(5000, 4000): more than the total, ignored?")
        << qint64(5000) << qint64(4000) << QStringList{"", "", ""};
    QTest::newRow("(1, 3): the whole-number part, 33%?")
        << qint64(1) << qint64(3) << QStringList{"3", "1", "33%"};
    QTest::newRow("(3, 3): 100%?") << qint64(3) << qint64(3) << QStringList{"3", "3", "100%"};
    QTest::newRow("(0, 10): 0%?") << qint64(0) << qint64(10) << QStringList{"10", "0", "0%"};
    QTest::newRow("past 4 GiB, counted in 64 bits?")
        << qint64(5000000000) << qint64(6000000000)
        << QStringList{"6000000000", "5000000000", "83%"};
}
void MultiTransferTest::whichProgressReportsReachTheRow() {
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(QStringList, columns);
    f_->server.route("/held.pdf",
                     Response::bytes("x", "application/pdf").stallUntilReleased(0, "g"));
    addRow("/held.pdf", "held");
    start(2, 1, "held.pdf");
    QVERIFY(f_->server.waitForStall("g"));

    session().Downloader1_DownloadProgress(0, 1, 2, target("held.pdf")); // element 0: never
    QCOMPARE(progressColumns(1), (QStringList{"", "", ""}));
    session().Downloader1_DownloadProgress(2, received, total, target("held.pdf"));
    QCOMPARE(progressColumns(1), columns);
    QCOMPARE(state(1), ItemState::Downloading);
}

void MultiTransferTest::whatDecidesTheFinalState_data() {
    QTest::addColumn<QList<qint64>>("reports"); // received, total, received, total, ...
    QTest::addColumn<int>("expected");
    QTest::newRow("completed after its last report said 99%?")
        << QList<qint64>{50, 100, 99, 100} << int(ItemState::Failed);
    QTest::newRow("completed without ever reporting?") << QList<qint64>{} << int(ItemState::Failed);
    QTest::newRow("completed at 100%?") << QList<qint64>{100, 100} << int(ItemState::Completed);
    QTest::newRow("a 100% report ignored as larger than its total does not count?")
        << QList<qint64>{99, 100, 101, 100} << int(ItemState::Failed);
}
void MultiTransferTest::whatDecidesTheFinalState() {
    QFETCH(QList<qint64>, reports);
    QFETCH(int, expected);
    f_->server.route("/held.pdf",
                     Response::bytes("x", "application/pdf").stallUntilReleased(0, "g"));
    addRow("/held.pdf", "held");
    start(1, 1, "held.pdf");
    QVERIFY(f_->server.waitForStall("g"));
    const double before = session().LastFileTime;
    f_->services.clock.advance(7.0);

    for (qsizetype i = 0; i + 1 < reports.size(); i += 2)
        session().Downloader1_DownloadProgress(1, reports[i], reports[i + 1], target("held.pdf"));
    session().Downloader1_DownloadComplete(1, 100, target("held.pdf"));

    QCOMPARE(state(1), expected);
    QCOMPARE(session().CountDownloaderSlots(), 1); // the slot is free either way
    QVERIFY(session().LastFileTime != before);
    QCOMPARE(session().LastFileTime, f_->services.clock.elapsedSeconds());
    // One verdict: a completion where completions are said, else the failure.
    QCOMPARE(session().PanelText(2).contains("held"), expected == ItemState::Completed);
    QCOMPARE(session().PanelText(1).contains("held"), expected != ItemState::Completed);

    // The abandoned transfer says nothing more.
    const QStringList shown = progressColumns(1);
    f_->server.release("g");
    QTest::qWait(300);
    QCOMPARE(state(1), expected);
    QCOMPARE(progressColumns(1), shown);
}

void MultiTransferTest::anErrorPageEndsFailedButIsKept() {
    Response notFound = Response::html("<html><body>Not here</body></html>");
    notFound.status = 404;
    f_->server.route("/gone.pdf", notFound);
    addRow("/gone.pdf", "gone");
    start(1, 1, "gone.pdf");

    QTRY_COMPARE_WITH_TIMEOUT(state(1), ItemState::Failed, kNetworkMs);
    // The page arrived whole and the type check named it after what it is; the row still
    // failed.
    QCOMPARE(column(1, DownloadColumn::Percent), QStringLiteral("100%"));
    QCOMPARE(column(1, DownloadColumn::Type), QStringLiteral("htm"));
    QVERIFY(!QFile::exists(target("gone.pdf")));
    QFile file(target("gone.htm"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("<html><body>Not here</body></html>"));
    QVERIFY(!session().PanelText(2).contains("gone"));
    QVERIFY(session().PanelText(1).contains("gone"));
    QCOMPARE(session().CountDownloaderSlots(), 1);
    QCOMPARE(RowHttpStatus(*session().ListItems3, 1), 404);
}

void MultiTransferTest::anErrorOfSlot2LeavesSlots1And3Running() {
    for (const char* path : {"/1.pdf", "/3.pdf"})
        f_->server.route(path, Response::bytes(QByteArray(3000, 'p'), "application/pdf")
                                   .stallUntilReleased(1000, "g"));
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    addRow("/1.pdf", "one");
    session().AddDownloadItem(QStringLiteral("http://127.0.0.1:%1/2.pdf").arg(closed.serverPort()),
                              "two", "pdf", f_->folder(), "");
    closed.close();
    addRow("/3.pdf", "three");
    const double before = session().LastFileTime;
    f_->services.clock.advance(3.0);

    start(1, 1, "one.pdf");
    start(2, 2, "two.pdf");
    start(3, 3, "three.pdf");
    QVERIFY(f_->server.waitForStall("g", 2));

    QTRY_COMPARE_WITH_TIMEOUT(state(2), ItemState::Failed, kNetworkMs);
    QCOMPARE(state(1), ItemState::Downloading);
    QCOMPARE(state(3), ItemState::Downloading);
    QVERIFY(session().Downloader1.value(2).isNull());
    QVERIFY(!session().Downloader1.value(1).isNull());
    QVERIFY(!session().Downloader1.value(3).isNull());
    QCOMPARE(session().CountDownloaderSlots(), 3);
    // An error moves neither the gap's clock nor the status text.
    QCOMPARE(session().LastFileTime, before);
    QCOMPARE(session().PanelText(2), QString());
    // The abandoned transfer's reservation goes with it.
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(target("two.pdf")), kNetworkMs);

    f_->server.release("g");
    QTRY_COMPARE_WITH_TIMEOUT(state(1), ItemState::Completed, kNetworkMs);
    QTRY_COMPARE_WITH_TIMEOUT(state(3), ItemState::Completed, kNetworkMs);
    QCOMPARE(state(2), ItemState::Failed);
    QCOMPARE(session().CountDownloaderSlots(), 1);
}

void MultiTransferTest::eventsFollowTheRowByItsLink() {
    f_->server.route(
        "/b.pdf",
        Response::bytes(QByteArray(2000, 'b'), "application/pdf").stallUntilReleased(0, "g"));
    addRow("/a.pdf", "a");
    addRow("/b.pdf", "b");
    start(1, 2, "b.pdf");
    QVERIFY(f_->server.waitForStall("g"));
    // The first row goes; the slot's row moves up to position 1.
    QVERIFY(session().ListItems3->Remove(1));
    QCOMPARE(session().ListItems3->Text(1), QStringLiteral("b"));

    f_->server.release("g");
    QTRY_COMPARE_WITH_TIMEOUT(state(1), ItemState::Completed, kNetworkMs);
    QCOMPARE(progressColumns(1), (QStringList{"2000", "2000", "100%"}));
    QCOMPARE(session().PanelText(2), QStringLiteral("完成下载:b"));
}

void MultiTransferTest::eventsOfARowThatIsGoneChangeNoRow() {
    f_->server.route(
        "/a.pdf",
        Response::bytes(QByteArray(2000, 'a'), "application/pdf").stallUntilReleased(0, "g"));
    addRow("/a.pdf", "a");
    addRow("/b.pdf", "b");
    start(1, 1, "a.pdf");
    QVERIFY(f_->server.waitForStall("g"));
    const double before = session().LastFileTime;
    f_->services.clock.advance(4.0);
    // The slot's row goes; another row now stands at its position.
    QVERIFY(session().ListItems3->Remove(1));

    f_->server.release("g");
    QTRY_COMPARE_WITH_TIMEOUT(session().CountDownloaderSlots(), 1,
                              kNetworkMs); // the ended transfer frees its slot
    QCOMPARE(state(1), ItemState::Waiting);
    QCOMPARE(progressColumns(1), (QStringList{"", "", ""}));
    QCOMPARE(session().LastFileTime, before);
    QCOMPARE(session().PanelText(2), QString());

    // Handlers called for a free slot touch nothing either.
    session().Downloader1_DownloadProgress(1, 1, 2, QString());
    session().Downloader1_DownloadError(1, QString());
    session().Downloader1_DownloadComplete(1, 2, QString());
    QCOMPARE(state(1), ItemState::Waiting);
    QCOMPARE(progressColumns(1), (QStringList{"", "", ""}));
}

void MultiTransferTest::aRemovedSlotSendsNothingMore() {
    f_->server.route(
        "/a.pdf",
        Response::bytes(QByteArray(5000, 'a'), "application/pdf").stallUntilReleased(2000, "g"));
    addRow("/a.pdf", "a");
    start(4, 1, "a.pdf");
    QVERIFY(f_->server.waitForStall("g"));
    QTRY_COMPARE_WITH_TIMEOUT(column(1, DownloadColumn::Received), QStringLiteral("2000"),
                              kNetworkMs);
    const QPointer<Downloader> element = session().Downloader1.value(4);

    session().RemoveDownloaderSlot(4);
    QCOMPARE(session().CountDownloaderSlots(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(element.isNull());

    f_->server.release("g");
    QTest::qWait(300);
    QCOMPARE(state(1), ItemState::Downloading); // the stop command, not the slot, marks it
    QCOMPARE(progressColumns(1), (QStringList{"5000", "2000", "40%"}));
    // The abandoned transfer's reservation goes with it.
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(target("a.pdf")), kNetworkMs);
}

void MultiTransferTest::onlySlots1To6Transfer() {
    f_->server.serve("/a.pdf", "%PDF", "application/pdf");
    addRow("/a.pdf", "a");
    for (int slot : {0, 7, 11, -1})
        QCOMPARE(session().多线程下载(slot, 1, session().ListItems3->Key(1), target("a.pdf")),
                 false);
    QCOMPARE(state(1), ItemState::Waiting);
    QCOMPARE(session().CountDownloaderSlots(), 1);
    QVERIFY(!session().DownloadBusy);
    // A link the list does not hold starts nothing.
    QCOMPARE(session().多线程下载(1, 1, f_->server.url("/other.pdf"), target("o.pdf")), false);
    QCOMPARE(session().CountDownloaderSlots(), 1);
    QVERIFY(!QFile::exists(target("o.pdf")));
}

void MultiTransferTest::fastReportsReachTheListAFewTimesASecond() {
    f_->server.route("/held.pdf",
                     Response::bytes("x", "application/pdf").stallUntilReleased(0, "g"));
    addRow("/held.pdf", "held");
    start(1, 1, "held.pdf");
    QVERIFY(f_->server.waitForStall("g"));

    QElapsedTimer burst;
    burst.start();
    for (int received = 1; received < 1000; ++received)
        session().Downloader1_DownloadProgress(1, received, 1000, QString());
    const bool quick = burst.elapsed() < 200;
    // The first report shows at once; the rest wait for the next showing, which brings the
    // latest of them.
    if (quick)
        QCOMPARE(column(1, DownloadColumn::Received), QStringLiteral("1"));
    QTRY_COMPARE_WITH_TIMEOUT(column(1, DownloadColumn::Received), QStringLiteral("999"),
                              kNetworkMs);
    QCOMPARE(column(1, DownloadColumn::Percent), QStringLiteral("99%"));
    // Everything received shows at once.
    session().Downloader1_DownloadProgress(1, 1000, 1000, QString());
    QCOMPARE(column(1, DownloadColumn::Percent), QStringLiteral("100%"));
}

QF_TEST_GUILESS_MAIN(MultiTransferTest)
#include "test_session_multi.moc"

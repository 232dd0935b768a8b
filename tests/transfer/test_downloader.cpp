#include "FakeClock.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include "core/download/FileType.h"
#include "core/transfer/Downloader.h"
#include "core/transfer/PartFiles.h"
#include "core/transfer/TransferNetwork.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>

using Response = TestHttpServer::Response;
using Framing = TestHttpServer::Response::Framing;
using Request = TestHttpServer::Request;

namespace {
// How long a wait for the network may take before it counts as failed. The waits end as soon
// as their condition holds; the limit is generous because a loaded machine (the suites run
// in parallel with builds) can take seconds to get a request out.
constexpr int kNetworkMs = 30000;

// Everything one Downloader reported, in order.
struct Event {
    enum Kind { Progress, Error, Complete };
    Kind kind;
    qint64 first = 0; // received, or the completed size
    qint64 total = 0;
    QString path;

    bool operator==(const Event& other) const {
        return kind == other.kind && first == other.first && total == other.total &&
               path == other.path;
    }
};

// The rule the download window gives a transfer of a PDF row: judged by the file-type table,
// over a taken name only with the user's 覆盖.
CommitRule pdfRule(bool overwrite) {
    CommitRule rule;
    rule.overwrite = overwrite;
    rule.judge = [](const QString& body, const QString& contentType) {
        return JudgeBody(body, QStringLiteral("pdf"), contentType);
    };
    return rule;
}

QByteArray pattern(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('A' + (i * 7) % 26);
    return bytes;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

Q_DECLARE_METATYPE(Framing)

// The downloader control against a real server on 127.0.0.1: what reaches the disk, which
// signals arrive, which requests go out, and how each kind of failure ends.
class DownloaderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void aBodyWithItsLengthArrivesWhole_data();
    void aBodyWithItsLengthArrivesWhole();
    void aBodyWithoutLengthIsFetchedAgainWhole_data();
    void aBodyWithoutLengthIsFetchedAgainWhole();
    void theFallbackTakesALengthInChunksOf2048_data();
    void theFallbackTakesALengthInChunksOf2048();
    void anEmptyBodyWithoutLengthFails();
    void aShortBodyFails_data();
    void aShortBodyFails();
    void aStalledBodyFailsAfter120Seconds_data();
    void aStalledBodyFailsAfter120Seconds();
    void aFallbackWithoutAnswerFailsAfter60Seconds();
    void whatTheServerAnsweredIsWrittenWhole_data();
    void whatTheServerAnsweredIsWrittenWhole();
    void unreachableServersFail_data();
    void unreachableServersFail();
    void aRedirectIsFollowed();
    void aFolderThatCannotBeWrittenFails();
    void thePlaceholderReservesTheName();
    void theBodyStreamsBesideTheTargetAndReplacesIt();
    void abandoningATransferStopsItsEvents_data();
    void abandoningATransferStopsItsEvents();
    void eachRequestIsAFreshFetchWithTheSession();
    void theFallbackSendsItsReferer_data();
    void theFallbackSendsItsReferer();
    void theRefererHeaderBlock_data();
    void theRefererHeaderBlock();
    void directoryOfUrl_data();
    void directoryOfUrl();

private:
    // A downloader on the fake clock whose events land in events_.
    Downloader* make();
    // Waits for the transfer's final event; false when none came in time.
    bool waitForEnd(int timeoutMs = 15000);
    bool ended() const;
    QList<Event> progress() const;
    Event last() const {
        return events_.isEmpty() ? Event{Event::Progress, -1, -1, QString()} : events_.last();
    }
    QString target(const QString& name = QStringLiteral("paper.pdf")) const {
        return dir_->filePath(name);
    }
    // Files in the target folder other than the targets themselves.
    QStringList leftovers() const;
    void writeFile(const QString& path, const QByteArray& bytes);
    // Whether each request carried a Referer. Qt sends a request again, now and then, when the
    // server closes the connection right after a body without length: repeats are merged.
    QList<bool> refererSequence() const;
    // Files this process holds open in the target folder, also unnamed ones.
    QStringList openFilesInFolder() const;

    std::unique_ptr<TestHttpServer> server_;
    std::unique_ptr<QTemporaryDir> dir_;
    FakeClock clock_;
    std::unique_ptr<Downloader> downloader_;
    QList<Event> events_;
};

void DownloaderTest::init() {
    server_ = std::make_unique<TestHttpServer>();
    QVERIFY(server_->isListening());
    dir_ = std::make_unique<QTemporaryDir>();
    events_.clear();
    SetTransferUserAgent(QString());
}

void DownloaderTest::cleanup() {
    downloader_.reset();
    server_.reset();
    dir_.reset();
}

Downloader* DownloaderTest::make() {
    events_.clear();
    downloader_ = std::make_unique<Downloader>();
    downloader_->SetClock(&clock_);
    Downloader* d = downloader_.get();
    connect(d, &Downloader::DownloadProgress, this,
            [this](qint64 received, qint64 total, const QString& path) {
                events_.append({Event::Progress, received, total, path});
            });
    connect(d, &Downloader::DownloadError, this, [this](const QString& path) {
        events_.append({Event::Error, 0, 0, path});
    });
    connect(d, &Downloader::DownloadComplete, this, [this](qint64 size, const QString& path) {
        events_.append({Event::Complete, size, 0, path});
    });
    return d;
}

bool DownloaderTest::ended() const {
    return std::any_of(events_.begin(), events_.end(),
                       [](const Event& e) { return e.kind != Event::Progress; });
}

bool DownloaderTest::waitForEnd(int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (!ended() && waited.elapsed() < timeoutMs)
        QTest::qWait(10);
    return ended();
}

QList<Event> DownloaderTest::progress() const {
    QList<Event> found;
    for (const Event& e : events_) {
        if (e.kind == Event::Progress)
            found.append(e);
    }
    return found;
}

QStringList DownloaderTest::leftovers() const {
    QStringList names =
        QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    names.removeIf([](const QString& name) { return !name.startsWith('.'); });
    return names;
}

QList<bool> DownloaderTest::refererSequence() const {
    QList<bool> sequence;
    for (const Request& r : server_->requests()) {
        const bool referer = r.hasHeader("Referer");
        if (sequence.isEmpty() || sequence.last() != referer)
            sequence.append(referer);
    }
    return sequence;
}

QStringList DownloaderTest::openFilesInFolder() const {
    QStringList found;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        const QString link = QFileInfo(fds.filePath(fd)).symLinkTarget();
        if (link.startsWith(dir_->path() + '/'))
            found.append(fds.filePath(fd));
    }
    return found;
}

void DownloaderTest::writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void DownloaderTest::aBodyWithItsLengthArrivesWhole_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("piece");
    QTest::addColumn<qint64>("diskQueue"); // 0: as the program has it
    QTest::newRow("5000 bytes in pieces of 700?") << 5000 << 700 << qint64(0);
    QTest::newRow("one byte?") << 1 << 16384 << qint64(0);
    QTest::newRow("3 MiB, more than the network stack holds?")
        << 3 * 1024 * 1024 + 3 << 65536 << qint64(0);
    QTest::newRow("20 MiB, reading waiting for the disk after every piece?")
        << 20 * 1024 * 1024 + 7 << 262144 << qint64(1);
}
void DownloaderTest::aBodyWithItsLengthArrivesWhole() {
    QFETCH(int, size);
    QFETCH(int, piece);
    QFETCH(qint64, diskQueue);
    const QByteArray body = pattern(size);
    Response response = Response::bytes(body, "application/pdf");
    response.pieceSize = piece;
    server_->route("/paper.pdf", response);

    Downloader* d = make();
    if (diskQueue > 0)
        d->SetDiskQueueLimit(diskQueue);
    d->BeginDownload(server_->url("/paper.pdf"), target(), QString());
    QVERIFY(waitForEnd(30000));

    QCOMPARE(last(), (Event{Event::Complete, size, 0, target()}));
    QCOMPARE(events_.count(last()), 1);
    const QList<Event> reports = progress();
    QVERIFY(!reports.isEmpty());
    qint64 previous = 0;
    for (const Event& e : reports) {
        QCOMPARE(e.total, qint64(size));
        QCOMPARE(e.path, target());
        QVERIFY(e.first > previous && e.first <= size);
        previous = e.first;
    }
    QCOMPARE(reports.last().first, qint64(size));
    QVERIFY(readFile(target()) == body);
    QCOMPARE(leftovers(), QStringList());
    QCOMPARE(server_->requestCount(), 1);
    QCOMPARE(downloader_->ResponseStatus(), 200);
    QVERIFY(!downloader_->IsBusy());
}

void DownloaderTest::aBodyWithoutLengthIsFetchedAgainWhole_data() {
    QTest::addColumn<Framing>("framing");
    QTest::addColumn<int>("size");
    QTest::newRow("3 bytes, closed by the server?") << Framing::CloseDelimited << 3;
    QTest::newRow("3 bytes, chunked?") << Framing::Chunked << 3;
    QTest::newRow("2 MiB, chunked?") << Framing::Chunked << 2 * 1024 * 1024;
}
void DownloaderTest::aBodyWithoutLengthIsFetchedAgainWhole() {
    QFETCH(Framing, framing);
    QFETCH(int, size);
    const QByteArray body = pattern(size);
    server_->serve("/paper.pdf", body, "application/pdf", framing);

    make()->BeginDownload(server_->url("/paper.pdf"), target(), QString());
    QVERIFY(waitForEnd());

    // One report of everything against everything, then the end.
    QCOMPARE(events_, (QList<Event>{{Event::Progress, size, size, target()},
                                    {Event::Complete, size, 0, target()}}));
    QVERIFY(readFile(target()) == body);
    QCOMPARE(leftovers(), QStringList());
    // The first read, the fallback with its Referer, then the link once more without it.
    QCOMPARE(refererSequence(), (QList<bool>{false, true, false}));
}

void DownloaderTest::theFallbackTakesALengthInChunksOf2048_data() {
    QTest::addColumn<int>("size");
    QTest::newRow("5000 bytes: 2048, 4096, 5000?") << 5000;
    QTest::newRow("3 MiB and a bit, chunk after chunk?") << 3 * 1024 * 1024 + 100;
}
void DownloaderTest::theFallbackTakesALengthInChunksOf2048() {
    QFETCH(int, size);
    const QByteArray body = pattern(size);
    server_->route("/paper.pdf", [body](const Request& request) {
        Response r = Response::bytes(body, "application/pdf");
        r.pieceSize = 1000; // the chunks do not follow the pieces on the wire
        if (!request.hasHeader("Referer"))
            r.withFraming(Framing::Chunked);
        return r;
    });

    make()->BeginDownload(server_->url("/paper.pdf"), target(), QString());
    QVERIFY(waitForEnd(30000));

    QList<Event> expected;
    for (qint64 received = 2048; received < size; received += 2048)
        expected.append({Event::Progress, received, size, target()});
    expected.append({Event::Progress, size, size, target()});
    expected.append({Event::Complete, size, 0, target()});
    QCOMPARE(events_.size(), expected.size());
    QVERIFY(events_ == expected);
    QVERIFY(readFile(target()) == body);
    QCOMPARE(refererSequence(), (QList<bool>{false, true}));
}

void DownloaderTest::anEmptyBodyWithoutLengthFails() {
    server_->serve("/empty", QByteArray(), "application/pdf", Framing::Chunked);
    make()->BeginDownload(server_->url("/empty"), target(), QString());
    QVERIFY(waitForEnd());
    QCOMPARE(last(), (Event{Event::Error, 0, 0, target()}));
    // The reservation goes with it.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(target()), QByteArray("<missing>"), kNetworkMs);
    QCOMPARE(leftovers(), QStringList());
}

void DownloaderTest::aShortBodyFails_data() {
    QTest::addColumn<bool>("throughFallback");
    QTest::newRow("the first read?") << false;
    QTest::newRow("the fallback's chunks?") << true;
}
void DownloaderTest::aShortBodyFails() {
    QFETCH(bool, throughFallback);
    const QByteArray body = pattern(10000);
    server_->route("/paper.pdf", [body, throughFallback](const Request& request) {
        Response r = Response::bytes(body, "application/pdf");
        if (throughFallback && !request.hasHeader("Referer"))
            return r.withFraming(Framing::Chunked);
        return r.closeAfterBytes(4000); // announces 10000
    });

    make()->BeginDownload(server_->url("/paper.pdf"), target(), QString());
    QVERIFY(waitForEnd());

    QCOMPARE(last(), (Event{Event::Error, 0, 0, target()}));
    for (const Event& e : progress())
        QVERIFY(e.first < e.total); // never 100%
    // The reservation goes with it.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(target()), QByteArray("<missing>"), kNetworkMs);
    QCOMPARE(leftovers(), QStringList());
}

void DownloaderTest::aStalledBodyFailsAfter120Seconds_data() {
    QTest::addColumn<bool>("throughFallback");
    QTest::newRow("the first read?") << false;
    QTest::newRow("the fallback's chunks?") << true;
}
void DownloaderTest::aStalledBodyFailsAfter120Seconds() {
    QFETCH(bool, throughFallback);
    const QByteArray body = pattern(10000);
    server_->route("/paper.pdf", [body, throughFallback](const Request& request) {
        Response r = Response::bytes(body, "application/pdf");
        if (throughFallback && !request.hasHeader("Referer"))
            return r.withFraming(Framing::Chunked);
        return r.stallUntilReleased(4096, "stall");
    });

    make()->BeginDownload(server_->url("/paper.pdf"), target(), QString());
    QVERIFY(server_->waitForStall("stall"));
    QTRY_VERIFY_WITH_TIMEOUT(!progress().isEmpty() && progress().last().first == 4096, kNetworkMs);

    clock_.advance(119.0);
    QTest::qWait(600); // a few looks at the time limits
    QVERIFY(!ended());
    clock_.advance(1.5);
    QVERIFY(waitForEnd(30000));
    QCOMPARE(last(), (Event{Event::Error, 0, 0, target()}));
    // The reservation goes with it.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(target()), QByteArray("<missing>"), kNetworkMs);
    QCOMPARE(leftovers(), QStringList());
    server_->release("stall");
}

void DownloaderTest::aFallbackWithoutAnswerFailsAfter60Seconds() {
    server_->route("/paper.pdf", [](const Request& request) {
        Response r = Response::bytes("late", "application/pdf");
        if (!request.hasHeader("Referer"))
            return r.withFraming(Framing::Chunked);
        return r.delayHeaders(600000);
    });
    make()->BeginDownload(server_->url("/paper.pdf"), target(), QString());
    QVERIFY(server_->waitForRequests(2));

    clock_.advance(59.0);
    QTest::qWait(600);
    QVERIFY(!ended());
    clock_.advance(1.5);
    QVERIFY(waitForEnd(30000));
    QCOMPARE(events_, (QList<Event>{{Event::Error, 0, 0, target()}}));
}

void DownloaderTest::whatTheServerAnsweredIsWrittenWhole_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<Framing>("framing");
    QTest::addColumn<int>("requests");
    QTest::newRow("a page instead of the PDF?") << 200 << Framing::ContentLength << 1;
    QTest::newRow("404 with a page?") << 404 << Framing::ContentLength << 1;
    QTest::newRow("404 with a chunked page?") << 404 << Framing::Chunked << 3;
}
void DownloaderTest::whatTheServerAnsweredIsWrittenWhole() {
    QFETCH(int, status);
    QFETCH(Framing, framing);
    QFETCH(int, requests);
    const QByteArray page = "<!DOCTYPE html><html><body>Please sign in</body></html>";
    Response r = Response::bytes(page, "text/html; charset=utf-8").withFraming(framing);
    r.status = status;
    server_->route("/paper.pdf", r);

    Downloader* d = make();
    d->SetCommitRule(pdfRule(false));
    d->BeginDownload(server_->url("/paper.pdf"), target(), QString());
    QVERIFY(waitForEnd());

    // A page lands on the reserved name, as the page it is; the host reads the status.
    QCOMPARE(last(), (Event{Event::Complete, page.size(), 0, target()}));
    QCOMPARE(progress().last(), (Event{Event::Progress, page.size(), page.size(), target()}));
    QCOMPARE(downloader_->ResponseStatus(), status);
    QCOMPARE(d->CommittedKind(), BodyKind::WebPage);
    QCOMPARE(readFile(target()), page);
    QCOMPARE(server_->requestCount(), requests);
}

void DownloaderTest::unreachableServersFail_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("a refused connection?") << "refused";
    QTest::newRow("a certificate nobody vouches for?") << "certificate";
    QTest::newRow("a link without scheme?") << "scheme";
    QTest::newRow("a scheme that is not HTTP?") << "file";
}
void DownloaderTest::unreachableServersFail() {
    QFETCH(QString, kind);
    TestHttpServer secure(TestHttpServer::Scheme::Https);
    QVERIFY(secure.isListening());
    secure.serve("/paper.pdf", "%PDF-1.4 secret", "application/pdf");
    QString link;
    if (kind == "refused") {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        link = QStringLiteral("http://127.0.0.1:%1/paper.pdf").arg(closed.serverPort());
    } else if (kind == "certificate") {
        link = secure.url("/paper.pdf");
    } else if (kind == "scheme") {
        link = QStringLiteral("127.0.0.1:%1/paper.pdf").arg(server_->port());
    } else {
        writeFile(target("local.pdf"), "local file");
        link = QUrl::fromLocalFile(target("local.pdf")).toString();
    }

    make()->BeginDownload(link, target(), QString());
    QVERIFY(waitForEnd());

    QCOMPARE(events_, (QList<Event>{{Event::Error, 0, 0, target()}}));
    // The reservation goes with it.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(target()), QByteArray("<missing>"), kNetworkMs);
    QCOMPARE(leftovers(), QStringList());
    QCOMPARE(secure.requestCount(), 0);
    QCOMPARE(server_->requestCount(), 0);
    QCOMPARE(downloader_->ResponseStatus(), 0);
}

void DownloaderTest::aRedirectIsFollowed() {
    const QByteArray body = pattern(7000);
    server_->redirect("/doi/pdf/1", 302, server_->url("/files/1.pdf"));
    server_->serve("/files/1.pdf", body, "application/pdf");

    make()->BeginDownload(server_->url("/doi/pdf/1"), target(), QString());
    QVERIFY(waitForEnd());

    QCOMPARE(last(), (Event{Event::Complete, 7000, 0, target()}));
    for (const Event& e : progress())
        QCOMPARE(e.total, qint64(7000)); // never the redirect page's own length
    QVERIFY(readFile(target()) == body);
    QCOMPARE(downloader_->ResponseStatus(), 200);
    QCOMPARE(server_->requestCount(), 2);
}

void DownloaderTest::aFolderThatCannotBeWrittenFails() {
    server_->serve("/paper.pdf", "%PDF-1.4", "application/pdf");
    const QString missing = dir_->filePath("no such folder/paper.pdf");
    Downloader* d = make();
    d->BeginDownload(server_->url("/paper.pdf"), missing, QString());
    QVERIFY(events_.isEmpty()); // not before BeginDownload has returned
    QVERIFY(waitForEnd());
    QCOMPARE(events_, (QList<Event>{{Event::Error, 0, 0, missing}}));
    QCOMPARE(server_->requestCount(), 0);
}

void DownloaderTest::thePlaceholderReservesTheName() {
    const QByteArray body = "%PDF-1.4\n" + pattern(3000);
    server_->route("/held.pdf",
                   Response::bytes(body, "application/pdf").stallUntilReleased(0, "g"));
    writeFile(target("old.pdf"), "ABCDEFGHIJ");

    Downloader* fresh = make();
    fresh->BeginDownload(server_->url("/held.pdf"), target(), QString());
    // Taken the moment BeginDownload returns, before any answer.
    QCOMPARE(readFile(target()), QByteArray("\x01\x00", 2));

    Downloader second;
    second.SetClock(&clock_);
    second.SetCommitRule(pdfRule(true));
    second.BeginDownload(server_->url("/held.pdf"), target("old.pdf"), QString());
    // An existing name is taken as it is: not a byte of it changes until the body replaces it.
    QCOMPARE(readFile(target("old.pdf")), QByteArray("ABCDEFGHIJ"));

    QVERIFY(server_->waitForStall("g", 2));
    server_->release("g");
    QVERIFY(waitForEnd());
    QTRY_VERIFY_WITH_TIMEOUT(!second.IsBusy(), kNetworkMs);
    QCOMPARE(readFile(target()), body);
    QCOMPARE(readFile(target("old.pdf")), body);
}

void DownloaderTest::theBodyStreamsBesideTheTargetAndReplacesIt() {
    const QByteArray body = pattern(100000);
    server_->route("/paper.pdf",
                   Response::bytes(body, "application/pdf").stallUntilReleased(60000, "half"));

    make()->BeginDownload(server_->url("/paper.pdf"), target(), QString());
    QVERIFY(server_->waitForStall("half"));
    QTRY_VERIFY_WITH_TIMEOUT(!progress().isEmpty() && progress().last().first == 60000, kNetworkMs);

    // Mid-way the target is still the placeholder; the bytes so far wait beside it, in a
    // file of the same folder whose name the program knows as its own after a crash.
    QCOMPARE(readFile(target()), QByteArray("\x01\x00", 2));
    QCOMPARE(leftovers().size(), 1);
    QVERIFY(IsPartFileName(leftovers().first()));
    QStringList partial = openFilesInFolder();
    partial.removeIf([](const QString& fd) {
        return !IsPartFileName(QFileInfo(QFileInfo(fd).symLinkTarget()).fileName());
    });
    QCOMPARE(partial.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(partial.first()).size(), qint64(60000), kNetworkMs);

    server_->release("half");
    QVERIFY(waitForEnd());
    QCOMPARE(last().kind, Event::Complete);
    QVERIFY(readFile(target()) == body);
    QCOMPARE(leftovers(), QStringList());
    // The finished file is an ordinary one, not private like a temporary file.
    writeFile(target("probe"), "x");
    QCOMPARE(QFileInfo(target()).permissions(), QFileInfo(target("probe")).permissions());
}

void DownloaderTest::abandoningATransferStopsItsEvents_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("destroyed?") << "destroy";
    QTest::newRow("cancelled?") << "cancel";
    QTest::newRow("cancelled and removed from inside its own progress event?") << "inside";
    QTest::newRow("abandoned during the fallback?") << "fallback";
}
void DownloaderTest::abandoningATransferStopsItsEvents() {
    QFETCH(QString, how);
    const QByteArray body = pattern(50000);
    server_->route("/paper.pdf", [body, how](const Request& request) {
        Response r = Response::bytes(body, "application/pdf");
        if (how == "fallback" && !request.hasHeader("Referer"))
            return r.withFraming(Framing::Chunked);
        return r.stallUntilReleased(8192, "g");
    });

    Downloader* d = make();
    if (how == "inside") {
        connect(d, &Downloader::DownloadProgress, this, [this] {
            if (downloader_) {
                downloader_->CancelAsyncRead();
                downloader_.release()->deleteLater();
            }
        });
    }
    d->BeginDownload(server_->url("/paper.pdf"), target(), QString());
    // Cancelled from its first report, the transfer may end before the server stalls.
    if (how != "inside")
        QVERIFY(server_->waitForStall("g"));
    QTRY_VERIFY_WITH_TIMEOUT(!progress().isEmpty(), kNetworkMs);
    if (how == "destroy" || how == "fallback")
        downloader_.reset();
    else if (how == "cancel")
        QCOMPARE(d->CancelAsyncRead(), false);
    const qsizetype seen = events_.size();

    server_->release("g");
    clock_.advance(1000.0); // no time limit fires for an abandoned transfer either
    QTest::qWait(500);
    QCOMPARE(events_.size(), seen);
    QVERIFY(!ended());
    // The reservation goes with it.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(target()), QByteArray("<missing>"), kNetworkMs);
    QTRY_COMPARE_WITH_TIMEOUT(leftovers(), QStringList(), kNetworkMs);
}

void DownloaderTest::eachRequestIsAFreshFetchWithTheSession() {
    SetTransferUserAgent(QStringLiteral("QuillfetchTest/1.0 (like the browser)"));
    server_->serve("/paper.pdf", "%PDF-1.4", "application/pdf");
    make()->BeginDownload(server_->url("/paper.pdf"), target(), QStringLiteral("http://x/"));
    QVERIFY(waitForEnd());
    make()->BeginDownload(server_->url("/paper.pdf"), target("again.pdf"), QString());
    QVERIFY(waitForEnd());

    const QList<Request> requests = server_->requests();
    QCOMPARE(requests.size(), 2); // the second is not answered from a cache
    for (const Request& r : requests) {
        QCOMPARE(r.method, QByteArray("GET"));
        QCOMPARE(r.header("Accept-Encoding"), QByteArray("identity"));
        QCOMPARE(r.header("User-Agent"), QByteArray("QuillfetchTest/1.0 (like the browser)"));
        QCOMPARE(r.header("Cache-Control"), QByteArray("no-cache"));
        // Only the fallback sends a Referer.
        QVERIFY(!r.hasHeader("Referer"));
    }
}

void DownloaderTest::theFallbackSendsItsReferer_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected"); // "%1" is the server's address
    QTest::newRow("none stored: the link's site?") << ""
                                                   << "%1/";
    QTest::newRow("the page the link was found on?")
        << "https://www.science.org/toc/science/384/6691"
        << "https://www.science.org/toc/science/384/6691";
}
void DownloaderTest::theFallbackSendsItsReferer() {
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    server_->routeTarget("/doi/pdf/10.1126/x?download=true",
                         Response::bytes("%PDF", "application/pdf").withFraming(Framing::Chunked));
    make()->BeginDownload(server_->url("/doi/pdf/10.1126/x?download=true"), target(), stored);
    QVERIFY(waitForEnd());
    QCOMPARE(last().kind, Event::Complete);
    QCOMPARE(downloader_->StoredReferer, stored);

    QCOMPARE(refererSequence(), (QList<bool>{false, true, false}));
    for (const Request& r : server_->requests()) {
        if (r.hasHeader("Referer"))
            QCOMPARE(QString::fromUtf8(r.header("Referer")),
                     QString(expected).replace(QStringLiteral("%1"), server_->baseUrl()));
    }
}

void DownloaderTest::theRefererHeaderBlock_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("block");
    QTest::newRow("none stored, https link with a path and a query?")
        << ""
        << "https://www.science.org/doi/pdf/10.1126/science.abc?download=true"
        << "Referer:https://www.science.org/\r\n";
    QTest::newRow("stored, used as it is, no space after the colon?")
        << "http://a.org/toc/1"
        << "https://b.org/x"
        << "Referer:http://a.org/toc/1\r\n";
    QTest::newRow("line breaks inside the stored page are dropped?")
        << "http://a.org/p\r\nCookie: stolen=1"
        << "https://b.org/x"
        << "Referer:http://a.org/pCookie: stolen=1\r\n";
    QTest::newRow("a link without scheme becomes http for the referer?")
        << ""
        << "www.science.org/doi/pdf/1"
        << "Referer:http://www.science.org/\r\n";
}
void DownloaderTest::theRefererHeaderBlock() {
    QFETCH(QString, stored);
    QFETCH(QString, url);
    QFETCH(QString, block);
    QCOMPARE(FallbackHeaderBlock(stored, url), block);
}

void DownloaderTest::directoryOfUrl_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("directory");
    QTest::newRow("scheme, host, path and query?")
        << "https://www.science.org/doi/pdf/10.1126/x?download=true"
        << "https://www.science.org/";
    QTest::newRow("a bare host name?") << "www.science.org"
                                       << "http://www.science.org/";
    QTest::newRow("host and port without path?") << "http://127.0.0.1:8080"
                                                 << "http://127.0.0.1:8080/";
    QTest::newRow("the site's root?") << "http://a.org/"
                                      << "http://a.org/";
    QTest::newRow("no slash but a query: the whole text and a slash?") << "http://a.org?x=1"
                                                                       << "http://a.org?x=1/";
}
void DownloaderTest::directoryOfUrl() {
    QFETCH(QString, url);
    QFETCH(QString, directory);
    QCOMPARE(DirectoryOfUrl(url), directory);
}

QF_TEST_GUILESS_MAIN(DownloaderTest)
#include "test_downloader.moc"

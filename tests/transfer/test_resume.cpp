#include "RecordingSound.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"

#include "core/app/ProgramValues.h"
#include "core/download/DownloadList.h"
#include "core/platform/KeyedListModel.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMutex>
#include <QTest>
#include <QTimer>

#include <memory>

using Response = TestHttpServer::Response;

namespace {

constexpr qint64 kSize = 300000;
constexpr qint64 kHalf = kSize / 2;
constexpr int kNetworkMs = 30000;

enum class Server {
    RangeWithETag,
    RangeWithLastModified,
    WholeBodyToARange,
    ETagChanged,
    NoValidators,
    RangeNotSatisfiable,
    RangeOfAnotherETag, // a 206 for the range that names another body's validator
};

TestHttpServer::GeneratedBody body(const QByteArray& head) {
    TestHttpServer::GeneratedBody generated;
    generated.size = kSize;
    generated.head = head;
    return generated;
}

Response whole(const QByteArray& head, const QByteArray& name, const QByteArray& value) {
    Response response = Response::generatedBody(kSize, "application/pdf", head);
    if (!name.isEmpty())
        response.header(name, value);
    return response;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(Server)

// A transfer cut short in the middle and started again, in both transfer modes, against
// servers that resume, refuse or change the file in between.
class ResumeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init();
    void cleanup();

    void anInterruptedTransferStartedAgain_data();
    void anInterruptedTransferStartedAgain();

private:
    QString folder() const { return services_->path(QStringLiteral("files/")); }
    // Runs the row's transfer in `mode` until it ended.
    void runRow(int mode, const QString& link);

    std::unique_ptr<TestServices> services_;
    RecordingSound sound_;
    std::unique_ptr<TestHttpServer> server_;
    QPointer<fFileDownload> window_;
};

void ResumeTest::init() {
    services_ = std::make_unique<TestServices>();
    Services().sound = &sound_;
    Program() = ProgramValues{};
    Program().SearchHomePage = QStringLiteral("about:blank");
    server_ = std::make_unique<TestHttpServer>();
    window_ = Forms::fFileDownload();
    QVERIFY(window_);
    QDir().mkpath(folder());
}

void ResumeTest::cleanup() {
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    server_.reset();
    services_.reset();
}

void ResumeTest::runRow(int mode, const QString& link) {
    KeyedListModel& list = *window_->ListItems3;
    const int row = list.PositionOfKey(link);
    list.SetSmallIcon(row, ItemState::Downloading);
    if (mode != 2) {
        Program().DownloadMode = 1;
        Program().ProxyEnabled = mode == 3;
        Program().ProxyAddress = QStringLiteral("127.0.0.1");
        Program().ProxyPort = QString::number(server_->port());
        window_->Session().Inet下载当前文件(row);
        return;
    }
    Program().DownloadMode = 2;
    window_->Session().多线程下载(1, row, link, folder() + QStringLiteral("paper.pdf"));
    // Element 0 is always there.
    QTRY_VERIFY_WITH_TIMEOUT(window_->CountDownloaderSlots() == 1, kNetworkMs);
}

void ResumeTest::anInterruptedTransferStartedAgain_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<Server>("server");
    QTest::addColumn<qint64>("bytesSent");
    QTest::addColumn<bool>("resumed");

    const struct {
        const char* name;
        Server server;
        qint64 sent;
        bool resumed;
    } cases[] = {
        {"a 206 of another ETag: is the file fetched whole from the start?",
         Server::RangeOfAnotherETag, -1, false},
        {"a 416 to the range: is the file fetched whole from the start?",
         Server::RangeNotSatisfiable, kHalf + kSize, false},
        {"no validators: is nothing resumed?", Server::NoValidators, kHalf + kSize, false},
        {"the ETag changed: is the new file written whole, nothing of the old kept?",
         Server::ETagChanged, kHalf + kSize, false},
        {"a 200 to the range: is the whole body written fresh, not appended?",
         Server::WholeBodyToARange, kHalf + kSize, false},
        {"only Last-Modified: is the rest appended?", Server::RangeWithLastModified, kSize, true},
        {"a strong ETag: is the rest appended?", Server::RangeWithETag, kSize, true},
    };
    // 1: the single connection, 3: the same through the proxy, 2: a parallel slot.
    for (int mode : {1, 3, 2}) {
        const char* how = mode == 1 ? "single" : mode == 3 ? "proxied single" : "parallel";
        for (const auto& c : cases) {
            QTest::addRow("%s connection: %s", how, c.name)
                << mode << c.server << c.sent << c.resumed;
        }
    }
}

void ResumeTest::anInterruptedTransferStartedAgain() {
    QFETCH(int, mode);
    QFETCH(Server, server);
    QFETCH(qint64, bytesSent);
    QFETCH(bool, resumed);

    const QByteArray first = "%PDF-1.4 first";
    const QByteArray second = server == Server::ETagChanged || server == Server::RangeOfAnotherETag
                                  ? QByteArray("%PDF-1.4 other")
                                  : first;
    QByteArray name = "ETag";
    QByteArray value = "\"v1\"";
    if (server == Server::RangeWithLastModified) {
        name = "Last-Modified";
        value = "Wed, 09 Dec 2026 10:00:00 GMT";
    } else if (server == Server::NoValidators) {
        name.clear();
    }
    auto mutex = std::make_shared<QMutex>();
    auto count = std::make_shared<int>(0);
    server_->route("/paper.pdf", [=](const TestHttpServer::Request& request) {
        int n = 0;
        {
            const QMutexLocker lock(mutex.get());
            n = ++*count;
        }
        if (n == 1)
            return whole(first, name, value).stallUntilReleased(kHalf, QStringLiteral("half"));
        Response answer = whole(second, name, server == Server::ETagChanged ? "\"v2\"" : value);
        if (!request.hasHeader("Range") || server == Server::WholeBodyToARange)
            return answer;
        if (server == Server::RangeNotSatisfiable) {
            Response refusal;
            refusal.status = 416;
            return refusal;
        }
        Response range = Response::ranged(request, answer);
        if (server == Server::RangeOfAnotherETag && n == 2) {
            range.headers.removeIf([](const auto& h) { return h.first == "ETag"; });
            range.header("ETag", "\"v9\"");
        }
        return range;
    });
    const QString link = server_->url("/paper.pdf");
    QVERIFY(window_->AddDownloadItem(link, "paper", "pdf", folder(), QString()));
    KeyedListModel& list = *window_->ListItems3;

    // Stopped once half the body is in.
    QTimer stopper;
    connect(&stopper, &QTimer::timeout, this, [&] {
        if (list.SubItem(1, DownloadColumn::Received) != QString::number(kHalf))
            return;
        stopper.stop();
        if (mode != 2)
            window_->Session().DownloadBusy = false;
        else
            window_->Session().RemoveDownloaderSlot(1); // what the stop command does to a slot
    });
    stopper.start(5);
    runRow(mode, link);
    if (mode == 2)
        QCOMPARE(list.SmallIcon(1), ItemState::Downloading); // the stop command marks it
    else
        QCOMPARE(list.SmallIcon(1), ItemState::Failed);
    const ResumePoint kept = RowResumePoint(list, 1);
    QCOMPARE(kept.IsUsable(), server != Server::NoValidators);
    // The parallel transfer lets its body go on the thread that writes it.
    if (kept.IsUsable())
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(kept.partPath).size(), kHalf, kNetworkMs);

    QTRY_COMPARE_WITH_TIMEOUT(server_->bodyBytesSent(), kHalf, kNetworkMs);
    runRow(mode, link);
    QCOMPARE(list.SmallIcon(1), ItemState::Completed);
    const QByteArray bytes = readAll(folder() + QStringLiteral("paper.pdf"));
    QCOMPARE(bytes.size(), kSize);
    QVERIFY(bytes == body(second).bytes(0, kSize));
    // How much of a refused range went out before it was dropped is the network's affair.
    if (bytesSent >= 0)
        QCOMPARE(server_->bodyBytesSent(), bytesSent);
    const QList<TestHttpServer::Request> requests = server_->requestsFor("/paper.pdf");
    QCOMPARE(requests.at(1).header("Range"),
             server == Server::NoValidators ? QByteArray() : QByteArray("bytes=150000-"));
    QCOMPARE(RowResumePoint(list, 1).IsUsable(), false);
    QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("paper.pdf")});
    if (mode == 3)
        QVERIFY(requests.at(1).viaProxy);
    if (mode != 2)
        QCOMPARE(window_->StatusPanel3->text().contains(QStringLiteral("续传：从 150000 字节")),
                 resumed);
}

int main(int argc, char** argv) {
    PrepareTestEnvironment();
    QApplication app(argc, argv);
    ResumeTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_resume.moc"

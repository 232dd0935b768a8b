#include "ChildDownloadWindow.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"

#include "core/download/DownloadList.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/PartFiles.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"

#include <QApplication>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <memory>

using Response = TestHttpServer::Response;

namespace {

constexpr int kRows = 40;
constexpr qint64 kFileBytes = 2 * 1024 * 1024;

TestHttpServer::GeneratedBody fileBody(int n) {
    TestHttpServer::GeneratedBody body;
    body.size = kFileBytes;
    body.head = "%PDF-1.4 paper " + QByteArray::number(n) + '\n';
    return body;
}

QString rowName(int n) {
    return QStringLiteral("paper %1").arg(n, 2, 10, QLatin1Char('0'));
}

// The child: the download window over a list of `kRows` links (or, when the last run left a
// journal, over the rows it restores), each row fetched until it is complete.
int runListChild(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int mode = QByteArray(argv[2]).toInt();
    const QString base = QString::fromLocal8Bit(argv[3]);
    const QString folder = QString::fromLocal8Bit(argv[4]);
    TestServices services(TestServices::ClockKind::Real);
    bool restored = false;
    fFileDownload* window = OpenChildDownloadWindow(mode, restored);
    if (!window)
        return 3;
    KeyedListModel& list = *window->ListItems3;
    if (restored) {
        std::printf("restored %d\n", list.Count());
    } else {
        for (int n = 1; n <= kRows; ++n)
            window->AddDownloadItem(base + QStringLiteral("/k/%1.pdf").arg(n), rowName(n), "pdf",
                                    folder, QString());
    }
    std::fflush(stdout);
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        int done = 0;
        for (int row = 1; row <= list.Count(); ++row)
            done += list.SmallIcon(row) == ItemState::Completed;
        if (done == list.Count()) {
            driver.stop();
            app.quit();
            return;
        }
        for (int row = 1; row <= list.Count(); ++row) {
            const int state = list.SmallIcon(row);
            if (state != ItemState::Waiting && state != ItemState::Failed)
                continue;
            if (mode == 1) {
                if (window->Session().DownloadBusy)
                    return;
                list.SetSmallIcon(row, ItemState::Downloading);
                window->Session().Inet下载当前文件(row);
                return;
            }
            int slot = 1;
            while (slot <= 6 && window->Session().Downloader1.value(slot))
                ++slot;
            if (slot > 6)
                return;
            window->Session().SlotItem[slot] = row;
            window->Session().多线程下载(slot, row, list.Key(row), folder + list.Text(row) + ".pdf");
        }
    });
    driver.start(20);
    app.exec();
    std::puts("done");
    std::fflush(stdout);
    Forms::DestroyAll();
    return 0;
}

} // namespace

// A program killed in the middle of a list, started again and the list restored: every file
// ends whole, nothing of the program is left in the folder, and files cut short are resumed.
class KillResumeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aKilledRunRestoredEndsWithEveryFileWhole_data();
    void aKilledRunRestoredEndsWithEveryFileWhole();

private:
    QProcess* startChild(int mode);

    QString home_;
    QString folder_;
    std::unique_ptr<TestHttpServer> server_;
};

QProcess* KillResumeTest::startChild(int mode) {
    const QProcessEnvironment environment = ChildEnvironment(home_);
    auto* child = new QProcess(this);
    child->setProcessEnvironment(environment);
    child->setProcessChannelMode(QProcess::MergedChannels);
    child->start(QCoreApplication::applicationFilePath(),
                 {"--run-list", QString::number(mode), server_->baseUrl(), folder_});
    return child;
}

void KillResumeTest::aKilledRunRestoredEndsWithEveryFileWhole_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("the single connection") << 1;
    QTest::newRow("six parallel slots") << 2;
}

void KillResumeTest::aKilledRunRestoredEndsWithEveryFileWhole() {
    QFETCH(int, mode);
    // Until the kill every answer pauses halfway, so that the journal names bodies that are
    // still on their way; the run after it goes at full speed.
    auto killed = std::make_shared<std::atomic<bool>>(false);
    QTemporaryDir dir;
    home_ = dir.filePath("home");
    folder_ = dir.filePath("papers/");
    QDir().mkpath(folder_);
    server_ = std::make_unique<TestHttpServer>();
    server_->setFallback([killed](const TestHttpServer::Request& request) {
        const QString path = request.path;
        if (!path.startsWith(QLatin1String("/k/")))
            return Response::statusPage(404);
        const int n = path.mid(3).chopped(4).toInt();
        Response whole = Response::generatedBody(kFileBytes, "application/pdf");
        whole.generated = fileBody(n);
        whole.header("ETag", '"' + QByteArray::number(n) + '"');
        if (!*killed)
            whole.stallAfterBytes(kFileBytes / 2, 3000);
        return Response::ranged(request, whole);
    });
    // A temporary body the journal names is on disk, its answer paused halfway: a kill now
    // cuts its row short.
    const auto journalNamesAPart = [&] {
        QDirIterator it(home_, {"downloads.journal"}, QDir::Files, QDirIterator::Subdirectories);
        if (!it.hasNext())
            return false;
        QFile journal(it.next());
        if (!journal.open(QIODevice::ReadOnly))
            return false;
        const QString text = QString::fromUtf8(journal.readAll());
        static const QRegularExpression part(QStringLiteral("\\.quillfetch-[0-9a-z]+\\.part"));
        for (auto match = part.globalMatch(text); match.hasNext();) {
            // Past its first write-out and at most halfway: in the pause, not about to end.
            const qint64 size = QFileInfo(folder_ + match.next().captured()).size();
            if (size >= kFileBytes / 4 && size <= kFileBytes / 2)
                return true;
        }
        return false;
    };
    const auto wholeFiles = [&] {
        int count = 0;
        for (const QFileInfo& file : QDir(folder_).entryInfoList(QDir::Files))
            count += file.size() == kFileBytes;
        return count;
    };

    QProcess* first = startChild(mode);
    QVERIFY(first->waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(wholeFiles() >= 3 && journalNamesAPart(), 60000);
    ::kill(pid_t(first->processId()), SIGKILL);
    *killed = true;
    QVERIFY(first->waitForFinished(10000));
    QCOMPARE(first->exitStatus(), QProcess::CrashExit);
    const int wholeBefore = wholeFiles();
    QVERIFY2(wholeBefore < kRows, "the run ended before it was killed");
    // Every file that had taken its name was committed, also those the journal had not been
    // written for since: none is fetched again.
    QSet<QString> committed;
    for (const QFileInfo& file : QDir(folder_).entryInfoList(QDir::Files)) {
        if (file.size() == kFileBytes)
            committed.insert(file.completeBaseName());
    }
    const qint64 sentBefore = server_->bodyBytesSent();
    server_->clearRequests();

    QProcess* second = startChild(mode);
    QVERIFY(second->waitForStarted(10000));
    QVERIFY(second->waitForFinished(180000));
    const QByteArray output = second->readAll();
    QVERIFY2(output.contains("restored 40") && output.contains("done"), output.constData());

    for (int n = 1; n <= kRows; ++n) {
        QFile file(folder_ + rowName(n) + ".pdf");
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QVERIFY2(file.readAll() == fileBody(n).bytes(0, kFileBytes), qPrintable(file.fileName()));
    }
    QStringList junk = QDir(folder_).entryList(QDir::Files | QDir::Hidden | QDir::System);
    junk.removeIf([](const QString& name) { return !IsPartFileName(name); });
    QCOMPARE(junk, QStringList());
    QCOMPARE(QDir(folder_).entryList(QDir::Files).size(), kRows);
    // The rows cut short asked only for the rest.
    int resumed = 0;
    for (const TestHttpServer::Request& request : server_->requests()) {
        resumed += request.hasHeader("Range");
        const QString name = rowName(request.path.mid(3).chopped(4).toInt());
        QVERIFY2(!committed.contains(name), qPrintable(name));
    }
    const qint64 sentAfter = server_->bodyBytesSent() - sentBefore;
    std::printf("mode %d: %d of %d whole when killed; the second run resumed %d and fetched %lld "
                "bytes for %lld left\n",
                mode, wholeBefore, kRows, resumed, static_cast<long long>(sentAfter),
                static_cast<long long>(qint64(kRows - wholeBefore) * kFileBytes));
    QVERIFY(resumed > 0);
    server_.reset();
}

int main(int argc, char** argv) {
    if (argc > 4 && qstrcmp(argv[1], "--run-list") == 0)
        return runListChild(argc, argv);
    PrepareTestEnvironment();
    QApplication app(argc, argv);
    KillResumeTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_killresume.moc"

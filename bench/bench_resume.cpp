// A transfer of 1 GiB killed at half (SIGKILL of the program) and resumed after the list is
// restored from its journal, in both transfer modes, against the test server on 127.0.0.1.
// Prints the bytes the server sent in total (the bound is 1.05 GiB) and the times.
//
//   bench_resume            (needs about 1 GiB free under TMPDIR)

#include "ChildDownloadWindow.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "TestServices.h"

#include "core/download/DownloadList.h"
#include "core/platform/KeyedListModel.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>

using Response = TestHttpServer::Response;

namespace {

constexpr qint64 kBytes = qint64(1) << 30;

TestHttpServer::GeneratedBody bigBody() {
    TestHttpServer::GeneratedBody body;
    body.size = kBytes;
    body.head = "%PDF-1.4 big\n";
    return body;
}

// The child: the download window with one row (or the row its journal restores), fetched
// until it is complete.
int child(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int mode = QByteArray(argv[2]).toInt();
    const QString link = QString::fromLocal8Bit(argv[3]);
    const QString folder = QString::fromLocal8Bit(argv[4]);
    TestServices services(TestServices::ClockKind::Real);
    bool restored = false;
    fFileDownload* window = OpenChildDownloadWindow(mode, restored);
    if (!window)
        return 3;
    KeyedListModel& list = *window->ListItems3;
    if (!restored)
        window->AddDownloadItem(link, QStringLiteral("big"), "pdf", folder, QString());
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        const int state = list.SmallIcon(1);
        if (state == ItemState::Completed) {
            app.quit();
            return;
        }
        if (state != ItemState::Waiting && state != ItemState::Failed)
            return;
        list.SetSmallIcon(1, ItemState::Downloading);
        if (mode == 1) {
            window->Session().Inet下载当前文件(1);
        } else {
            window->Session().SlotItem[1] = 1;
            window->Session().多线程下载(1, 1, list.Key(1), folder + QStringLiteral("big.pdf"));
        }
    });
    driver.start(20);
    app.exec();
    Forms::DestroyAll();
    return 0;
}

QProcess* startChild(const QString& home, int mode, const QString& link, const QString& folder) {
    const QProcessEnvironment environment = ChildEnvironment(home);
    auto* process = new QProcess;
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QCoreApplication::applicationFilePath(),
                   {"--child", QString::number(mode), link, folder});
    return process;
}

// The temporary body in `folder` the journal under `home` names; "" while there is none.
QString journaledPart(const QString& home, const QString& folder) {
    QDirIterator it(home, {"downloads.journal"}, QDir::Files, QDirIterator::Subdirectories);
    if (!it.hasNext())
        return {};
    QFile journal(it.next());
    if (!journal.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = journal.readAll();
    const qsizetype at = text.indexOf(".quillfetch-");
    if (at < 0)
        return {};
    const qsizetype end = text.indexOf(".part", at);
    return end < 0 ? QString() : folder + QString::fromUtf8(text.mid(at, end + 5 - at));
}

bool sameBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != kBytes)
        return false;
    const TestHttpServer::GeneratedBody body = bigBody();
    constexpr qint64 kPiece = 8 << 20;
    for (qint64 offset = 0; offset < kBytes; offset += kPiece) {
        if (file.read(kPiece) != body.bytes(offset, kPiece))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 4 && qstrcmp(argv[1], "--child") == 0)
        return child(argc, argv);
    QCoreApplication app(argc, argv);
    TestHttpServer server;
    std::atomic<int> asked{0};
    // The first answer pauses at half for long enough that the journal names its body.
    server.route("/big.pdf", [&asked](const TestHttpServer::Request& request) {
        Response whole = Response::generatedBody(kBytes, "application/pdf");
        whole.generated = bigBody();
        whole.header("ETag", "\"big-1\"");
        if (++asked == 1)
            whole.stallAfterBytes(kBytes / 2, 8000);
        return Response::ranged(request, whole);
    });
    bool allWithin = true;
    for (int mode : {1, 2}) {
        asked = 0;
        server.resetBodyBytesSent();
        QTemporaryDir dir;
        const QString home = dir.filePath("home");
        const QString folder = dir.filePath("papers/");
        QDir().mkpath(folder);

        QElapsedTimer clock;
        clock.start();
        QProcess* first = startChild(home, mode, server.url("/big.pdf"), folder);
        QString part;
        while (clock.elapsed() < 120000) {
            part = journaledPart(home, folder);
            if (!part.isEmpty() && QFileInfo(part).size() >= kBytes / 2 - (1 << 20))
                break;
            QThread::msleep(5);
        }
        const qint64 held = QFileInfo(part).size();
        ::kill(pid_t(first->processId()), SIGKILL);
        first->waitForFinished(10000);
        const double killedAfter = clock.elapsed() / 1000.0;
        const qint64 sentBefore = server.bodyBytesSent();

        clock.restart();
        QProcess* second = startChild(home, mode, server.url("/big.pdf"), folder);
        second->waitForFinished(600000);
        const double resumedIn = clock.elapsed() / 1000.0;
        const qint64 sent = server.bodyBytesSent();
        const bool intact = sameBytes(folder + "big.pdf");
        const double gib = double(sent) / double(kBytes);
        allWithin = allWithin && intact && gib <= 1.05;
        std::printf("%s: killed after %.1f s (%lld bytes sent, %lld in the part on disk); "
                    "resumed and finished in %.1f s; fetched in total %lld bytes = %.4f GiB "
                    "(bound 1.05); file %s\n",
                    mode == 1 ? "single connection" : "parallel slot", killedAfter,
                    static_cast<long long>(sentBefore), static_cast<long long>(held), resumedIn,
                    static_cast<long long>(sent), gib, intact ? "identical" : "DIFFERS");
        std::fflush(stdout);
        delete first;
        delete second;
    }
    return allWithin ? 0 : 1;
}

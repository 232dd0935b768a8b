// Times the parallel transfers of the download window on real files and watches the
// user-interface thread meanwhile. Run by bench/transfer_bench.sh, which serves the files.
//
//   bench_transfer <output folder> <link>...
//
// Every link is fetched at once, each by its own Downloader into its own file, as the
// download window's slots do. Prints the time, the bytes, the growth of the peak resident
// memory, and how late a 10 ms timer on the same thread fired while the transfers ran.

#include "BenchFigures.h"

#include "core/transfer/Downloader.h"
#include "core/transfer/TransferNetwork.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when unreadable.
qint64 statusKiB(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Starts the peak resident size afresh from the current one (Linux 4.0 and later).
void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: bench_transfer <output folder> <link>...\n");
        return 2;
    }
    const QDir out(args[1]);
    const QStringList links = args.mid(2);

    // The probe: a 10 ms timer on this thread, the one the windows run on.
    constexpr double kProbeMs = 10.0;
    std::vector<double> lateness;
    QElapsedTimer sinceLastProbe;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(int(kProbeMs));
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (sinceLastProbe.isValid())
            lateness.push_back(std::max(0.0, sinceLastProbe.nsecsElapsed() / 1e6 - kProbeMs));
        sinceLastProbe.start();
    });

    std::vector<std::unique_ptr<Downloader>> downloaders;
    QElapsedTimer clock;
    // When the last byte of every body had arrived; what follows is the flush and the rename.
    double lastByte = 0.0;
    int running = 0;
    int failed = 0;
    qint64 bytes = 0;
    for (int i = 0; i < links.size(); ++i) {
        auto downloader = std::make_unique<Downloader>();
        // Each on a lane of its own, as the window's slots are.
        downloader->SetNetwork(TransferNetwork(i));
        QObject::connect(downloader.get(), &Downloader::DownloadProgress,
                         [&](qint64 received, qint64 total, const QString&) {
                             if (received == total)
                                 lastByte = std::max(lastByte, clock.nsecsElapsed() / 1e9);
                         });
        QObject::connect(downloader.get(), &Downloader::DownloadComplete,
                         [&](qint64 size, const QString&) {
                             bytes += size;
                             if (--running == 0)
                                 QCoreApplication::quit();
                         });
        QObject::connect(downloader.get(), &Downloader::DownloadError, [&](const QString& path) {
            std::fprintf(stderr, "failed: %s\n", qPrintable(path));
            ++failed;
            if (--running == 0)
                QCoreApplication::quit();
        });
        downloaders.push_back(std::move(downloader));
    }

    const qint64 rssBefore = statusKiB("VmRSS");
    resetPeak();
    QTimer::singleShot(0, [&] {
        clock.start();
        probe.start();
        for (int i = 0; i < links.size(); ++i) {
            const QString name = QUrl(links[i]).fileName();
            ++running;
            downloaders[std::size_t(i)]->BeginDownload(
                links[i], out.filePath(QStringLiteral("%1-%2").arg(i + 1).arg(name)), QString());
        }
    });
    QCoreApplication::exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    probe.stop();
    const qint64 peak = statusKiB("VmHWM");

    std::printf("transfers: %lld   failed: %d\n", static_cast<long long>(links.size()), failed);
    std::printf("time: %.3f s   bytes: %lld   throughput: %.1f MiB/s\n", seconds,
                static_cast<long long>(bytes), bytes / 1048576.0 / seconds);
    std::printf("all bytes received after %.3f s; flush and rename of the last body took %.3f s "
                "more\n",
                lastByte, seconds - lastByte);
    std::printf("peak resident memory growth: %.1f MiB (before %.1f MiB)\n",
                (peak - rssBefore) / 1024.0, rssBefore / 1024.0);
    const double maxLate =
        lateness.empty() ? 0.0 : *std::max_element(lateness.begin(), lateness.end());
    std::printf("10 ms probe on the UI thread: %zu ticks, lateness max %.2f ms, p99 %.2f ms, "
                "p50 %.2f ms\n",
                lateness.size(), maxLate, percentile(lateness, 0.99), percentile(lateness, 0.50));
    return failed == 0 ? 0 : 1;
}

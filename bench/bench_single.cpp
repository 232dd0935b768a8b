// A large file through the single-connection transfer: the control alone (2048-byte chunks
// into a file) and the download window's whole transfer of one row. Prints the time, the rate
// and how far the process's peak memory grew; asserts nothing. bench/transfer_bench.sh serves
// the file with nginx, prints curl's figure for the same file beside these and compares the
// window's file (left in FOLDER, named window.*) with the original.
//
//   bench_single URL FOLDER
#include "core/app/ProgramValues.h"
#include "core/download/DownloadList.h"
#include "core/platform/Clock.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/Inet.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>

#include <cstdio>

namespace {

// Resident and peak resident size of this process, in KiB.
qint64 statusField(const char* name) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(qstrlen(name)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Starts a new peak: the kernel sets the peak back to the current resident size.
void resetPeak() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

struct Figure {
    double seconds = 0;
    qint64 bytes = 0;
    qint64 peakGrowthKiB = 0;
};

void print(const char* what, const Figure& figure) {
    std::printf("%-34s %8.2f s  %8.1f MiB/s  peak memory +%.1f MiB  (%lld bytes)\n", what,
                figure.seconds, figure.bytes / 1048576.0 / figure.seconds,
                figure.peakGrowthKiB / 1024.0, static_cast<long long>(figure.bytes));
    std::fflush(stdout);
}

template <typename Work> Figure measure(Work work) {
    resetPeak();
    const qint64 before = statusField("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    Figure figure;
    figure.bytes = work();
    figure.seconds = timer.nsecsElapsed() / 1e9;
    figure.peakGrowthKiB = statusField("VmHWM:") - before;
    return figure;
}

// The control alone, as the window's copy loop drives it. With `pumpEveryChunk`, pending
// events run after every chunk instead of KeepResponsive()'s at most every few
// milliseconds: what a pump at every step would cost.
qint64 controlAlone(const QString& url, const QString& path, bool pumpEveryChunk) {
    Inet inet;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    inet.Execute(url);
    qint64 written = 0;
    for (;;) {
        const QByteArray chunk = inet.GetChunk(2048);
        if (!chunk.isEmpty()) {
            file.write(chunk);
            written += chunk.size();
            if (pumpEveryChunk)
                QCoreApplication::processEvents(QEventLoop::AllEvents);
            else
                KeepResponsive();
        } else if (!inet.StillExecuting()) {
            break;
        } else {
            DoEvents();
        }
    }
    return written;
}

// When the answer had arrived whole, in seconds from the start of windowTransfer; what follows
// it is the copy of the last buffered bytes, the flush of the body to disk and its rename.
double windowLastByte = 0.0;

qint64 windowTransfer(fFileDownload* window, const QString& url, const QString& folder) {
    KeyedListModel& list = *window->ListItems3;
    list.Clear();
    QElapsedTimer since;
    since.start();
    windowLastByte = 0.0;
    const QMetaObject::Connection watch =
        QObject::connect(window->Inet1, &Inet::StateChanged, [&](int state) {
            if (state == Inet::ResponseCompleted)
                windowLastByte = since.nsecsElapsed() / 1e9;
        });
    window->AddDownloadItem(url, QStringLiteral("window"), QStringLiteral("bin"), folder, {});
    list.SetSmallIcon(1, ItemState::Downloading);
    // As in a run the user started: with the scheduler off, its housekeeping would take the
    // transfer for one that was stopped.
    window->Timer_Down->start();
    window->Session().Inet下载当前文件(1);
    window->Timer_Down->stop();
    QObject::disconnect(watch);
    if (list.SmallIcon(1) != ItemState::Completed)
        std::printf("the window's transfer ended in state %d (%s: %s)\n", list.SmallIcon(1),
                    qPrintable(list.SubItem(1, DownloadColumn::Size)),
                    qPrintable(list.SubItem(1, DownloadColumn::Reason)));
    // The file's type comes from the answer and the type check: look for it by its name.
    const QStringList written = QDir(folder).entryList({QStringLiteral("window*")}, QDir::Files);
    return written.size() == 1 ? QFileInfo(folder + written.first()).size() : -1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_single URL FOLDER\n");
        return 2;
    }
    const QString url = QString::fromLocal8Bit(argv[1]);
    QString folder = QString::fromLocal8Bit(argv[2]);
    if (!folder.endsWith('/'))
        folder += '/';
    QDir().mkpath(folder);

    SystemClock clock;
    Services() = AppServices{nullptr, &clock, nullptr, nullptr, nullptr};
    Program().DownloadMode = 1;

    const QString control = folder + QStringLiteral("control.bin");
    print("Inet alone, 2048-byte chunks",
          measure([&] { return controlAlone(url, control, false); }));
    print("Inet alone, a pump every chunk",
          measure([&] { return controlAlone(url, control, true); }));
    QFile::remove(folder + QStringLiteral("control.bin"));

    fFileDownload* window = Forms::fFileDownload();
    // The window's embedded browser starts its own processes: they settle first, as they have
    // long done by the time a user's transfer runs.
    QElapsedTimer settling;
    settling.start();
    while (settling.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const Figure figure = measure([&] { return windowTransfer(window, url, folder); });
    print("download window, one row", figure);
    std::printf(
        "  of which: the answer whole after %.2f s, the rest (last bytes, flush, rename) %.2f s\n",
        windowLastByte, figure.seconds - windowLastByte);
    Forms::DestroyAll();
    return 0;
}

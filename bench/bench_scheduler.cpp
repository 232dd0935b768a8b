// Times a whole list through the download window as a user runs it: the rows wait in the
// real window, 开始下载 switches the scheduler on, and the window's own once-a-second timers
// (the scheduler and the housekeeping) do the rest with the parallel slots. Run by
// bench/transfer_bench.sh (mode "scheduler"), which serves the files with nginx.
//
//   bench_scheduler <output folder> <link prefix> <count> [slots]
//
// The links are <link prefix>0001.pdf ... <link prefix><count>.pdf. The gap is 0. The
// scheduler's own bound is one tick a second that fills every free slot: ceil(count / slots)
// ticks, the first one a second after the start. Prints the time until every file was in,
// that bound, their ratio, and what each tick found (slots still busy from the tick before,
// which is what would make the list slower than the bound).

#include "core/app/ProgramValues.h"
#include "core/download/DownloadList.h"
#include "core/download/HostPacing.h"
#include "core/platform/KeyedListModel.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"
#include "ui/platform/WebBrowser.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

struct TickRecord {
    double at = 0.0; // seconds since the start
    int started = 0; // rows handed to a slot by this tick
    int carried = 0; // slots still busy with a row of an earlier tick
    int waitingLeft = 0;
};

double median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int countState(const KeyedListModel& list, int state) {
    int count = 0;
    for (int n = 1; n <= list.Count(); ++n)
        count += list.SmallIcon(n) == state ? 1 : 0;
    return count;
}

} // namespace

int main(int argc, char** argv) {
    // The window's browser profile and settings go to a folder of this run, not the user's.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/quillfetch-bench-XXXXXX"));
    const QByteArray root = home.path().toUtf8();
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
    QDir().mkpath(home.path() + QStringLiteral("/runtime"));
    QFile::setPermissions(home.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
    if (geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: bench_scheduler <output folder> <link prefix> <count> "
                             "[slots]\n");
        return 2;
    }
    const QString out = QDir(args[1]).absolutePath() + '/';
    const QString prefix = args[2];
    const int count = args[3].toInt();
    const int slotCount = std::clamp(args.size() > 4 ? args[4].toInt() : 6, 1, 6);
    if (count < 1)
        return 2;

    Program() = ProgramValues{};
    Program().SearchHomePage = QStringLiteral("about:blank");
    fFileDownload* window = Forms::fFileDownload();
    if (!window)
        return 1;
    window->Combo1->setCurrentIndex(slotCount - 1);
    window->Combo2->setCurrentIndex(0);
    // Every file comes from one host: the scheduler's own bound is measured, not the spacing
    // that protects a real site.
    window->Pacing().SetMinimumSpacing(0);
    KeyedListModel& list = *window->ListItems3;
    for (int i = 1; i <= count; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 4, 10, QChar('0'));
        window->AddDownloadItem(prefix + number + QStringLiteral(".pdf"), number,
                                QStringLiteral("pdf"), out, QString());
    }

    QElapsedTimer sinceStart;
    std::vector<TickRecord> ticks;
    std::vector<double> batchTimes; // from a tick to the moment its slots were all free
    double allIn = -1.0;
    double schedulerOff = -1.0;
    int waitingBefore = count;
    bool batchOpen = false;

    // Connected after the window's own handler, so it sees what the tick did.
    QObject::connect(window->Timer_Down, &QTimer::timeout, window, [&] {
        if (!sinceStart.isValid())
            return;
        const int waiting = countState(list, ItemState::Waiting);
        TickRecord tick;
        tick.at = sinceStart.nsecsElapsed() / 1e9;
        tick.started = waitingBefore - waiting;
        tick.carried = window->CountDownloaderSlots() - 1 - tick.started;
        tick.waitingLeft = waiting;
        waitingBefore = waiting;
        if (tick.started > 0 || tick.carried > 0) {
            ticks.push_back(tick);
            batchOpen = true;
        }
    });
    // Looks every 2 ms whether the slots are free again: the list's own change signals are
    // held back a quarter of a second to spare the view, too coarse to time a file by.
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    watch.setInterval(2);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!sinceStart.isValid()) {
            // The window's browser settles first, so its start-up is not part of the run.
            if (window->Web1->Busy())
                return;
            sinceStart.start();
            window->Command4_Click();
            return;
        }
        if (batchOpen && window->CountDownloaderSlots() == 1) {
            batchTimes.push_back(sinceStart.nsecsElapsed() / 1e9 - ticks.back().at);
            batchOpen = false;
            if (allIn < 0 && window->检测是否下载列表完毕())
                allIn = sinceStart.nsecsElapsed() / 1e9;
        }
        // The housekeeping switches the scheduler off at its next second after the end.
        if (allIn >= 0 && !window->Timer_Down->isActive()) {
            schedulerOff = sinceStart.nsecsElapsed() / 1e9;
            QCoreApplication::quit();
        }
        if (sinceStart.elapsed() > (count / slotCount + 120) * 1000LL)
            QCoreApplication::quit();
    });
    watch.start();
    QCoreApplication::exec();

    const int completed = countState(list, ItemState::Completed);
    const int failed = count - completed;
    qint64 bytes = 0;
    for (int n = 1; n <= list.Count(); ++n)
        bytes += list.SubItem(n, DownloadColumn::Size).toLongLong();
    const int boundTicks = (count + slotCount - 1) / slotCount;
    const double bound = boundTicks; // a tick a second, the first one second in

    int busyTicks = 0;
    int mostCarried = 0;
    int startTicks = 0;
    std::vector<double> intervals;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        if (ticks[i].started > 0)
            ++startTicks;
        if (ticks[i].carried > 0) {
            ++busyTicks;
            mostCarried = std::max(mostCarried, ticks[i].carried);
        }
        if (i > 0)
            intervals.push_back(ticks[i].at - ticks[i - 1].at);
    }

    std::printf("files: %d (%lld bytes)   slots: %d   gap: 0 s   completed: %d   failed: %d\n",
                count, static_cast<long long>(bytes), slotCount, completed, failed);
    if (allIn < 0) {
        std::printf("the list did not finish\n");
        return 1;
    }
    std::printf("ticks that started rows: %d (first at %.3f s, last at %.3f s)\n", startTicks,
                ticks.empty() ? 0.0 : ticks.front().at, ticks.empty() ? 0.0 : ticks.back().at);
    std::printf("every file in after: %.3f s   scheduler off after: %.3f s\n", allIn, schedulerOff);
    std::printf("the scheduler's own bound: ceil(%d/%d) = %d ticks = %.1f s\n", count, slotCount,
                boundTicks, bound);
    std::printf("ratio to the bound: %.4f (%+.2f %%)\n", allIn / bound,
                (allIn / bound - 1.0) * 100.0);
    std::printf("ticks that found a slot still busy: %d (at most %d busy)\n", busyTicks,
                mostCarried);
    if (!batchTimes.empty())
        std::printf("from a tick until its files were in: median %.1f ms, max %.1f ms\n",
                    median(batchTimes) * 1000.0,
                    *std::max_element(batchTimes.begin(), batchTimes.end()) * 1000.0);
    if (!intervals.empty())
        std::printf("between ticks: min %.1f ms, median %.1f ms, max %.1f ms\n",
                    *std::min_element(intervals.begin(), intervals.end()) * 1000.0,
                    median(intervals) * 1000.0,
                    *std::max_element(intervals.begin(), intervals.end()) * 1000.0);
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    DestroyBrowserProfile();
    return failed == 0 ? 0 : 1;
}

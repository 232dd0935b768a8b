// The download list's journal kept for a list of 20,000 rows while rows change state every few
// hundred milliseconds and the journal is ticked once a second, as the download window's
// housekeeping timer does. Prints, for the journal written on its own thread and then for the
// whole write on the interface thread (the former way), the writes done, the lateness of a
// 10 ms timer on the interface thread (max, p99, mean), and what the interface thread spent per
// tick: taking the rows for a write, and telling a change of state from progress.
//
//   bench_journal [seconds per run = 20] [rows = 20000] [folder for the journal = a temporary
//                 one under TMPDIR]

#include "BenchFigures.h"

#include "core/download/DownloadJournal.h"
#include "core/download/DownloadList.h"
#include "core/platform/Clock.h"
#include "core/platform/KeyedListModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <vector>

namespace {

double mean(const std::vector<double>& values) {
    return values.empty() ? 0.0
                          : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

double maximum(const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

// Rows as a queue of Science articles has them: long titles, Chinese folders and reasons, the
// hidden values of a row that has been started.
void fillList(KeyedListModel& list, int rows) {
    const QString title = QStringLiteral(
        "Cryo-electron microscopy structures of the human 光系统 complex reveal a conserved "
        "mechanism for proton-coupled electron transfer across membranes, part %1");
    for (int n = 1; n <= rows; ++n) {
        const QString folder =
            QStringLiteral("/home/researcher/文献/课题组/2026年/第%1批/").arg(n % 40 + 1);
        AddDownloadRow(list,
                       QStringLiteral("https://www.science.org/doi/pdf/10.1126/science.a%1")
                           .arg(n, 6, 10, QLatin1Char('0')),
                       title.arg(n), QStringLiteral("pdf"), folder,
                       QStringLiteral("https://www.science.org/action/doSearch?AllField=cryo-em"
                                      "&startPage=%1&pageSize=20")
                           .arg(n / 20));
        const int position = list.Count();
        const int state = n % 3 == 0 ? ItemState::Completed : ItemState::Waiting;
        list.SetSmallIcon(position, state);
        const QString file = folder + title.arg(n) + QStringLiteral(".pdf");
        if (state == ItemState::Completed) {
            list.SetSubItem(position, DownloadColumn::Size, QStringLiteral("2483145"));
            list.SetSubItem(position, DownloadColumn::Received, QStringLiteral("2483145"));
            list.SetSubItem(position, DownloadColumn::Percent, QStringLiteral("100%"));
            SetRowFilePath(list, position, file);
            OwnedFile own;
            own.path = file;
            own.device = 2049;
            own.inode = 1000000 + n;
            own.size = 2483145;
            own.mtimeNs = 1765000000123456789;
            SetRowOwnedFile(list, position, own);
            list.SetHiddenValue(position, DownloadHidden::HttpStatus, QStringLiteral("200"));
        } else if (n % 7 == 0) {
            SetRowFailureReason(list, position, QStringLiteral("连接超时（服务器没有应答）"));
            list.SetHiddenValue(position, DownloadHidden::AutomaticRequeues, QStringLiteral("1"));
        }
    }
}

// The former way of telling a change of state from progress: a hash over every row.
size_t formerSignature(const KeyedListModel& list, qsizetype carried) {
    size_t seed = qHash(list.Count());
    for (int position = 1; position <= list.Count(); ++position) {
        seed =
            qHashMulti(seed, list.Key(position), list.SmallIcon(position),
                       list.SubItem(position, DownloadColumn::Reason), RowFilePath(list, position),
                       list.Text(position), list.HiddenValue(position, DownloadHidden::OwnedFile),
                       list.HiddenValue(position, DownloadHidden::PartPath));
    }
    return qHashMulti(seed, carried);
}

// A clock moved by hand, to time a tick that finds only progress.
class HandClock : public Clock {
public:
    double secondsSinceMidnight() const override { return elapsed; }
    double elapsedSeconds() const override { return elapsed; }
    double elapsed = 0.0;
};

struct RunFigures {
    int writes = 0;
    std::vector<double> lateness;
    std::vector<double> tickMs;  // every tick's time on the interface thread
    std::vector<double> writeMs; // the ticks that wrote, or took the rows for a write
};

// Rows start, progress and end as a run of six parallel transfers moves them.
class ListMover {
public:
    explicit ListMover(KeyedListModel& list) : list_(list) {}
    void step(const std::function<void()>& changed) {
        for (int lane = 0; lane < 6; ++lane) {
            const int position = next_ + lane * 3001;
            if (position > list_.Count())
                continue;
            const int state = list_.SmallIcon(position);
            if (state == ItemState::Downloading) {
                list_.SetSmallIcon(position, ItemState::Completed);
                list_.SetSubItem(position, DownloadColumn::Percent, QStringLiteral("100%"));
            } else {
                list_.SetSmallIcon(position, ItemState::Downloading);
                SetRowFilePath(list_, position,
                               list_.SubItem(position, DownloadColumn::Folder) +
                                   list_.Text(position) + QStringLiteral(".pdf"));
                list_.SetSubItem(position, DownloadColumn::Received, QString::number(step_ * 4096));
            }
            changed();
        }
        if (++step_ % 2 == 0)
            next_ = next_ % 3000 + 1;
    }

private:
    KeyedListModel& list_;
    int next_ = 1;
    int step_ = 0;
};

// `tick` is the housekeeping timer's journal step; true when it wrote or started a write.
RunFigures run(KeyedListModel& list, double seconds, const std::function<bool()>& tick,
               const std::function<void()>& changed, const std::function<int()>& writes) {
    RunFigures figures;
    constexpr double kProbeMs = 10.0;
    QElapsedTimer sinceLastProbe;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(int(kProbeMs));
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (sinceLastProbe.isValid())
            figures.lateness.push_back(
                std::max(0.0, sinceLastProbe.nsecsElapsed() / 1e6 - kProbeMs));
        sinceLastProbe.start();
    });
    ListMover mover(list);
    QTimer rows;
    rows.setInterval(300);
    QObject::connect(&rows, &QTimer::timeout, [&] { mover.step(changed); });
    QTimer housekeeping;
    housekeeping.setInterval(1000);
    QObject::connect(&housekeeping, &QTimer::timeout, [&] {
        QElapsedTimer spent;
        spent.start();
        const bool wrote = tick();
        figures.tickMs.push_back(spent.nsecsElapsed() / 1e6);
        if (wrote)
            figures.writeMs.push_back(figures.tickMs.back());
    });
    QTimer::singleShot(int(seconds * 1000), [] { QCoreApplication::quit(); });
    probe.start();
    rows.start();
    housekeeping.start();
    QCoreApplication::exec();
    figures.writes = writes();
    return figures;
}

void print(const char* way, const RunFigures& f) {
    std::printf("%s\n", way);
    std::printf("  journal writes done: %d\n", f.writes);
    std::printf("  10 ms probe: %zu ticks, lateness max %.2f ms, p99 %.2f ms, mean %.2f ms\n",
                f.lateness.size(), maximum(f.lateness), percentile(f.lateness, 0.99),
                mean(f.lateness));
    std::printf("  interface thread per journal tick: max %.2f ms, mean %.2f ms (%zu ticks)\n",
                maximum(f.tickMs), mean(f.tickMs), f.tickMs.size());
    std::printf("  the ticks that wrote or took the rows: max %.2f ms, mean %.2f ms (%zu)\n",
                maximum(f.writeMs), mean(f.writeMs), f.writeMs.size());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const double seconds = args.size() > 1 ? args[1].toDouble() : 20.0;
    const int rowCount = args.size() > 2 ? args[2].toInt() : 20000;
    QTemporaryDir temporary;
    const QString folder = args.size() > 3 ? args[3] : temporary.path();
    SystemClock clock;

    KeyedListModel list(DownloadListHeaders());
    fillList(list, rowCount);
    std::printf("%d rows, journal in %s, %.0f s per run\n", list.Count(), qPrintable(folder),
                seconds);

    // The pieces on their own, each the median of several.
    std::vector<double> rowsMs, formerMs, compareMs, writeMs;
    {
        HandClock hand;
        JournalKeeper keeper(list, hand, folder + QStringLiteral("/pieces.journal"));
        keeper.WriteNow();
        // Nine: the tenth would be past the progress delay, and write.
        for (int n = 0; n < 9; ++n) {
            // Progress alone, past the state-change delay: the tick goes through every row.
            list.SetSubItem(1, DownloadColumn::Received, QString::number(n));
            keeper.Changed();
            hand.elapsed += JournalKeeper::kStateChangeDelaySeconds;
            QElapsedTimer tick;
            tick.start();
            if (keeper.Tick())
                std::printf("a tick found a change of state where there was none\n");
            compareMs.push_back(tick.nsecsElapsed() / 1e6);
        }
        for (int n = 0; n < 20; ++n) {
            QElapsedTimer t;
            t.start();
            const QList<JournalRow> rows = JournalRowsOf(list, {});
            rowsMs.push_back(t.nsecsElapsed() / 1e6);
            t.restart();
            volatile size_t signature = formerSignature(list, 0);
            (void)signature;
            formerMs.push_back(t.nsecsElapsed() / 1e6);
            t.restart();
            WriteJournalRows(folder + QStringLiteral("/pieces.journal"), rows, nullptr);
            writeMs.push_back(t.nsecsElapsed() / 1e6);
        }
    }
    std::printf("taking the rows for a write (interface thread): median %.2f ms, max %.2f ms\n",
                percentile(rowsMs, 0.5), maximum(rowsMs));
    std::printf("a tick that finds progress alone: median %.2f ms, max %.2f ms; the former hash "
                "over every row: median %.2f ms, max %.2f ms\n",
                percentile(compareMs, 0.5), maximum(compareMs), percentile(formerMs, 0.5),
                maximum(formerMs));
    std::printf("the write itself (text, flush, renames): median %.2f ms, max %.2f ms\n",
                percentile(writeMs, 0.5), maximum(writeMs));

    {
        JournalKeeper keeper(list, clock, folder + QStringLiteral("/threaded.journal"));
        const RunFigures figures = run(
            list, seconds, [&] { return keeper.Tick(); }, [&] { keeper.Changed(); },
            [&] { return keeper.WritesDone(); });
        keeper.Wait();
        print("written on the journal's own thread:", figures);
        if (!keeper.LastError().isEmpty())
            std::printf("  last error: %s\n", qPrintable(keeper.LastError()));
    }

    {
        // The former keeper: the hash at each tick, the whole write on the interface thread.
        JournalKeeper keeper(list, clock, folder + QStringLiteral("/former.journal"));
        bool dirty = false;
        double lastWrite = -1.0e9;
        size_t written = 0;
        const RunFigures figures = run(
            list, seconds,
            [&] {
                if (!dirty)
                    return false;
                const double since = clock.elapsedSeconds() - lastWrite;
                if (since >= JournalKeeper::kProgressDelaySeconds ||
                    (since >= JournalKeeper::kStateChangeDelaySeconds &&
                     formerSignature(list, 0) != written)) {
                    lastWrite = clock.elapsedSeconds();
                    keeper.WriteNow();
                    dirty = false;
                    written = formerSignature(list, 0);
                    return true;
                }
                return false;
            },
            [&] { dirty = true; }, [&] { return keeper.WritesDone(); });
        print("written on the interface thread (the former way):", figures);
    }
    return 0;
}

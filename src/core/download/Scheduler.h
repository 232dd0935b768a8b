#pragma once

#include "core/download/HostPacing.h"
#include "core/download/SameNameRule.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QString>

#include <array>

class Clock;
class KeyedListModel;

// The download manager's decisions, without a widget: which waiting row goes next and to
// which transfer, the gap between files, the slot watchdog, the busy flag, the end of the
// list and the user's automatic start, re-download and stop. The window owns the controls
// and calls the two ticks once a second; everything here works on the download list, a
// Clock and the two interfaces below.

// The transfers the scheduler drives. A parallel slot is busy exactly while it is loaded:
// the transfer side loads it when it starts a transfer and unloads it when that ends.
class DownloadTransfers {
public:
    virtual ~DownloadTransfers() = default;

    // The single connection is still carrying a request.
    virtual bool singleExecuting() const = 0;
    // Abandons the single connection's request, if any.
    virtual void cancelSingle() = 0;
    // Transfers the row at `position` over the single connection; returns when it has ended.
    // Events run meanwhile, so anything may have changed when it returns.
    virtual void runSingle(int position) = 0;

    virtual bool slotLoaded(int slot) const = 0;
    // Starts the row's transfer in `slot` and returns at once; the slot is loaded from here.
    virtual void startSlot(int slot, int position, const QString& link,
                           const QString& targetPath) = 0;
    // Abandons the slot's transfer; no further event arrives for it.
    virtual void removeSlot(int slot) = 0;
};

// What the scheduler needs of its window besides the transfers.
class SchedulerWindow {
public:
    virtual ~SchedulerWindow() = default;

    // The switch that says downloading is on (the window's scheduler timer).
    virtual bool schedulerOn() const = 0;
    virtual void setSchedulerOn(bool on) = 0;
    // The same-name rule: false when the row was refused (it may have been marked skipped).
    virtual bool acceptRow(int position) = 0;
    // The same-name option chosen now.
    virtual SameNameChoice sameNameChoice() const = 0;
    // Scrolls the row into view.
    virtual void showRow(int position) = 0;
    // Plays built-in sound 101, 102 or 103.
    virtual void playSound(int number) = 0;
    // Rewrites the state counters of the status bar.
    virtual void refreshCounters() = 0;
    // Asked once a day per site before a run starts more files from it than a person would
    // fetch by hand: true to go on. The question lets events run.
    virtual bool confirmManyStarts(const QString& host, int startsToday) {
        (void)host;
        (void)startsToday;
        return true;
    }
};

// How a transfer's answer reads for its site's manners.
struct SiteAnswer {
    int status = 0; // 0 when no answer came
    QByteArray retryAfter;
    QByteArray date; // the answer's own Date header
    bool failed = false;
    // The server turned the request away without a status one could read (the browser's
    // download path reports only that): a push-back with no pause named.
    bool pushedBack = false;
    // A web page came instead of the file: the site answered, it did not fail.
    bool webPage = false;
};

// The reason of the rows of a site that failed too often in a row.
inline const QString kSiteHeldReason = QStringLiteral("服务器连续出错，已暂停该网站的下载");

// The window's variables that the scheduler and the transfers share.
struct SchedulerVariables {
    // A transfer was started and not yet released.
    bool& downloadBusy;
    // Per slot, the list position of the row it works on; entry 1 serves the single
    // connection.
    std::array<int, 12>& slotItem;
    // Per parallel slot, when its transfer started (Clock::elapsedSeconds).
    std::array<double, 12>& slotStart;
    // When the last transfer ended (Clock::elapsedSeconds).
    double& lastFileTime;
};

// Read from the window's controls at every tick.
struct SchedulerSettings {
    int mode = 2;        // 1 single connection; anything else parallel slots
    int threadCount = 1; // parallel slots in use, kept within 1 to kMaxSlots
    int gapSeconds = 0;  // seconds between two files
    bool locateStartedRow = false;
};

// The automatic re-download is bounded, so that a link that keeps failing is not asked for
// again and again (a publisher suspends a whole institution's access for that): a row is
// re-queued automatically at most kMaxRequeues times, each time only after a longer pause,
// counted from when the housekeeping first saw it fail; an answer that says the file is not
// there (IsPermanentHttpFailure) is never asked for again automatically. The user's own
// re-queue commands start the count afresh.
namespace AutomaticRedownload {
inline constexpr int kMaxRequeues = 3;
inline constexpr std::array<double, kMaxRequeues> kPauseSeconds{30.0, 120.0, 600.0};
} // namespace AutomaticRedownload

// 404 (not found) and 410 (gone).
bool IsPermanentHttpFailure(int status);

struct HousekeepingOptions {
    bool autoRedownload = false;
    // 0 failed rows, 1 web-page rows, 2 both (failed first).
    int redownloadChoice = 0;
    bool autoStart = false;
    bool autoStop = false;
    bool sound = false;
};

struct HousekeepingOutcome {
    // Whether the start command of the list menu may be used.
    bool startMenuEnabled = true;
    // Whether the running lamp shows.
    bool lampVisible = false;
};

namespace SchedulerSound {
inline constexpr int WebPage = 101; // a transfer ended with a web page instead of the file
inline constexpr int Stopped = 102; // the list is finished, or the automatic stop
inline constexpr int Failed = 103;  // a transfer ended failed
} // namespace SchedulerSound

class DownloadScheduler {
public:
    static constexpr int kMaxSlots = 6;
    // A slot whose transfer never reported a size is reclaimed after this long.
    static constexpr double kSlotTimeoutSeconds = 1200.0;
    // The automatic stop fires at this many failed or web-page rows.
    static constexpr int kProblemRowsToStop = 5;

    DownloadScheduler(KeyedListModel& list, const Clock& clock, SchedulerVariables variables,
                      SchedulerWindow& window, DownloadTransfers& transfers);

    // The transfers may be exchanged between ticks.
    void setTransfers(DownloadTransfers& transfers) { transfers_ = &transfers; }
    DownloadTransfers& transfers() const { return *transfers_; }

    // The per-site manners every start and end of a transfer goes through.
    HostPacing& pacing() { return pacing_; }
    const HostPacing& pacing() const { return pacing_; }

    // The scheduler tick: starts the next waiting row (single connection) or fills every
    // free slot in list order (parallel). In single-connection mode it returns only when
    // that transfer has ended.
    void tick(const SchedulerSettings& settings);

    // The housekeeping tick, in its order: end of list, lamp, slot watchdog, busy flag,
    // counters, automatic start, automatic re-download, automatic stop.
    HousekeepingOutcome housekeeping(const SchedulerSettings& settings,
                                     const HousekeepingOptions& options);

    // Tells the site's manners how a row's transfer ended, after the transfer side has given
    // the row its state: a push-back puts the row back to waiting until the site's pause is
    // over (true), or fails it when the site asks for more than an hour; push-backs and
    // failures of the site count towards holding it, and holding it marks its waiting rows.
    bool noteTransferEnd(const QString& link, const SiteAnswer& answer);
    // A page that refuses or says "too much": the site is paused as after a push-back that
    // named no pause, and the refusal counts towards the hold; the row stays as it ended.
    void noteRefusal(const QString& link);

    // Seconds until the earliest waiting row's site is due, when that is later than now and
    // the only thing holding it back is the site's spacing or pause; negative when no such
    // row waits. The window arms a timer for it, so a start is not rounded up to the tick.
    double secondsUntilNextDue() const;

    // The stop command without its window part (the automatic options are the window's):
    // downloading off, the single connection cancelled, every slot removed, running rows
    // failed, the busy flag cleared.
    void stop();

    static int clampedThreadCount(int threads);

private:
    // The first waiting row the same-name rule accepts, after cleaning its name and making
    // its folder; 0 when there is none. Rows whose folder cannot be made fail on the way.
    int nextAcceptedRow(bool makeFolders, int from = 1);
    // Where the row's transfer writes, by the same-name rule decided now (DecideStartTarget).
    StartTarget targetFor(int position);
    void tickSingle(const SchedulerSettings& settings);
    void tickParallel(const SchedulerSettings& settings);
    void watchSlots(int threadCount);
    // The automatic re-download's pass over the rows the choice takes: notes new failures,
    // gives up on rows past the bound (saying so in their failure reason), and re-queues the
    // rows whose pause is over when `mayRequeue`. Returns how many rows it re-queued.
    int redownloadAutomatically(int choice, bool mayRequeue);
    void settleBusyFlag(const SchedulerSettings& settings);
    double now() const;
    // Before the row at `position` starts: asks the day's question when its site is due for
    // it. False when the tick must end (the user said stop, or the row changed meanwhile).
    bool mayStartToday(int position);
    void noteStart(int position);

    KeyedListModel& list_;
    const Clock& clock_;
    SchedulerVariables vars_;
    SchedulerWindow& window_;
    DownloadTransfers* transfers_;
    HostPacing pacing_;
    // After a push-back or failure was counted: when the site has just been held, its waiting
    // rows say why.
    void markIfJustHeld(const QString& host, bool wasHeld);
    // The site of a link, remembered: reading a link's host takes about a microsecond, and the
    // next due start is looked for over every waiting row after each tick.
    QString hostOf(const QString& link) const;
    mutable QHash<QString, QString> hostOfLink_;
};

// The row other than `except` whose transfer recorded `path` as its file; 0 when none.
int OtherRowWithFile(const KeyedListModel& list, const QString& path, int except);

// Rows that count towards the automatic stop: every row of type "htm" or "html" (letter case
// ignored), whatever its state, and every failed row of another type.
int CountProblemItems(const KeyedListModel& list);

// The row's own file (RowOwnedFile), deleted when it is still the file the row's commit left
// there; of a failed row only when that commit was of its error answer. Any other file at the
// row's path stays, and the row's reason says why; a row that owns nothing has nothing to
// delete. True when a file went.
bool DeleteItemFile(KeyedListModel& list, int position);
// The re-queue steps for one row: waiting, an "htm"/"html" type (any type with `forceType`)
// made "xxx", progress, failure reason and the automatic re-download's count cleared. Its file
// stays until the new one replaces it.
void RequeueItem(KeyedListModel& list, int position, bool forceType);

// The re-download commands: the chosen rows go back to waiting with their progress cleared
// (an "htm"/"html" type becomes "xxx"); their files stay until new ones replace them. Waiting
// and running rows are never chosen. They return how many rows they re-queued.
// Failed rows.
int RequeueFailedRows(KeyedListModel& list);
// Completed or failed rows of type "htm", "html" or "xml"; every one of them gets "xxx".
int RequeueWebPageRows(KeyedListModel& list);

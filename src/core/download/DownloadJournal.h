#pragma once

#include "core/transfer/FileOwnership.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <limits>
#include <memory>

class Clock;
class KeyedListModel;

// The download list on disk, so that a queue of two thousand articles outlives a crash, a
// power cut or a killed program. Each write goes to a new file that is flushed and renamed over
// the journal, and the journal it replaces is kept as the previous generation: whatever moment
// a write is cut at, one of the two is whole. A journal that does not read is set aside for
// inspection, never deleted, and the previous generation is read instead.

// One row as the journal keeps it: every field of the list's row, the hidden values included.
struct JournalRow {
    QString key;
    QStringList cells;
    QStringList hidden;
    QString tag;
    int state = 0;
};

enum class JournalStatus {
    None,         // no journal
    Loaded,       // the journal read
    FromPrevious, // the journal did not read (or was missing); its previous generation did
    Newer,        // written by a newer version of the program: not read
    Unreadable,   // neither generation reads
};

struct JournalLoad {
    JournalStatus status = JournalStatus::None;
    QList<JournalRow> rows;
    QString setAside;         // where a journal that did not read was moved; "" when none was
    QString previousSetAside; // likewise for a previous generation that did not read
};

// The journal's format; a journal of a higher one is refused rather than misread.
inline constexpr int kDownloadJournalFormat = 1;

// The journal in the per-user data folder.
QString DownloadJournalPath();
// The previous generation of the journal at `path`.
QString PreviousJournalPath(const QString& path);

// Writes the whole list, then the `carried` rows whose link the list does not hold (rows of an
// earlier journal the user has not restored yet). False, with the reason in `error`, when the
// journal could not be written; the journal on disk is then unchanged.
bool WriteDownloadJournal(const QString& path, const KeyedListModel& list,
                          const QList<JournalRow>& carried, QString* error);
// The rows such a write takes: the list's as they are now, then the carried ones the list does
// not hold. The texts are shared with the list, not copied, so this is cheap enough for the
// interface thread, and the list may change at once while the rows go to disk elsewhere.
QList<JournalRow> JournalRowsOf(const KeyedListModel& list, const QList<JournalRow>& carried);
// Writes `rows` as the journal at `path`, as WriteDownloadJournal does; from any thread.
bool WriteJournalRows(const QString& path, const QList<JournalRow>& rows, QString* error);
// A read that sets a journal aside changes what a later read finds: until a journal is written
// at `path` again (or forgotten), later reads in this run say what that first read said, so the
// start-up window and the download window tell the same story.
JournalLoad ReadDownloadJournal(const QString& path);
// What went wrong with the journal a load read, and what it offers instead; "" when it read
// (or there was none). No closing full stop.
QString JournalProblemText(const JournalLoad& load);
// Removes both generations (what was set aside stays).
void ForgetDownloadJournal(const QString& path);

// A commit as the commit log keeps it: the row's link, and the file the commit put in place
// under the row's name and type.
struct CommittedRow {
    QString key;
    QString name;
    QString type;
    OwnedFile file;
    bool failed = false; // an answer of status 400 or more, kept as the page it was
};

// Commits as they happen, each appended and flushed before the body takes its name
// (CommitRule::record): a program killed right after a commit finds it here, even when the
// journal was not written since. The journal's reader applies them to its rows; a journal
// write that took them in drops them again. Safe to use from any thread.
class CommitLog {
public:
    explicit CommitLog(const QString& path);
    ~CommitLog();
    CommitLog(const CommitLog&) = delete;
    CommitLog& operator=(const CommitLog&) = delete;

    QString Path() const { return path_; }
    // False when the line could not be written and flushed.
    bool Append(const CommittedRow& row);
    // How many entries were appended so far (those read at start included). A journal write
    // notes it when it takes its rows: only what was appended before can be in those rows.
    quint64 Appended() const;
    // Keeps only the latest entry of each link, and of those only the ones `pending` says
    // are not in the journal yet; the log on disk is replaced as a whole. Entries appended
    // from `judgedFrom` on are kept without asking: the rows `pending` judges by predate them.
    void Settle(const std::function<bool(const CommittedRow&)>& pending,
                quint64 judgedFrom = std::numeric_limits<quint64>::max());
    // The entries of the log at `path`, oldest first; a line cut short by a crash is left out.
    static QList<CommittedRow> Read(const QString& path);

private:
    struct Entry {
        CommittedRow row;
        quint64 number = 0; // in the order of appending
    };
    bool rewrite();

    QString path_;
    mutable QMutex mutex_;
    int fd_ = -1;
    QList<Entry> entries_;
    quint64 appended_ = 0;
};

// The commit log beside the journal at `journalPath`.
QString CommitLogPath(const QString& journalPath);
// Puts each commit into its row (the latest commit of a link wins): the row is then completed
// (failed for an error answer) with the committed file as its own, under that file's name.
void ApplyCommits(QList<JournalRow>& rows, const QList<CommittedRow>& commits);

// Rows not completed (waiting, downloading or failed).
int CountUnfinishedRows(const QList<JournalRow>& rows);

// Appends the rows whose link the list does not hold yet, and returns how many. A row that was
// downloading comes back waiting; a completed row stays completed only while the file its
// commit recorded is still there, unchanged, else it waits again. Recorded paths that do not
// lie directly in the row's own save folder are not taken: such a row keeps no file and no
// part to resume from; nor does a row keep a file that changed since its commit.
int RestoreDownloadRows(KeyedListModel& list, const QList<JournalRow>& rows);

// Decides when the list goes to its journal: a few seconds after a row changed state, its
// reason or its file (a burst of changes costs one write), and after progress alone at most
// every 30 s. The host reports every change of the list and calls Tick() once a second.
//
// A write takes the rows on the calling (interface) thread and leaves the rest, the text, the
// flush, the renames and the commit log's settling, to a thread of its own: a list of 20,000
// rows costs the interface thread a few milliseconds, not the whole write. One write is on its
// way at a time; what changes meanwhile goes with the next one.
class JournalKeeper {
public:
    static constexpr double kStateChangeDelaySeconds = 3.0;
    static constexpr double kProgressDelaySeconds = 30.0;

    JournalKeeper(const KeyedListModel& list, const Clock& clock, const QString& path);
    // Waits for the write on its way, which ends whole; the list is not read again (it may be
    // gone already).
    ~JournalKeeper();
    JournalKeeper(const JournalKeeper&) = delete;
    JournalKeeper& operator=(const JournalKeeper&) = delete;

    // Where the transfers record their commits until the next write takes them in.
    std::shared_ptr<CommitLog> Commits() const { return commits_; }

    // Rows of an earlier journal that are written along until restored or forgotten.
    void SetCarried(const QList<JournalRow>& rows);
    const QList<JournalRow>& Carried() const { return carried_; }

    void Changed() { dirty_ = true; }
    // Starts a write when one is due and none is on its way; true when it started one. Takes
    // in the outcome of a write that ended since (LastError()).
    bool Tick();
    // Writes now (an orderly end), after the write on its way; false when the write failed
    // (see LastError()).
    bool WriteNow();
    // Why the last write that ended failed; "" when it succeeded.
    QString LastError() const { return error_; }

    // A write is on its way to disk.
    bool Writing() const { return writing_ != nullptr; }
    // Waits for the write on its way, if any, and takes in its outcome.
    void Wait();
    // Writes that reached the disk, in the keeper's life.
    int WritesDone() const { return writesDone_; }
    // Runs on the writing thread once the new journal is on disk, before it takes the
    // journal's name, so that a test can hold a write on its way.
    void SetBeforeRename(std::function<void()> hook) { beforeRename_ = std::move(hook); }

    // Tells the clean-up of leftovers which temporary bodies the rows (listed or carried)
    // keep to resume from; the others go when their folder is next written to. Done at
    // every write and whenever the carried rows change.
    void SyncKeptParts() const;

private:
    struct Write;
    // A row's state, reason or file differs from what the last write took.
    bool stateChangedSinceLastWrite() const;
    std::unique_ptr<Write> takeRows();
    void takeOutcome();
    static void syncKeptParts(const QList<JournalRow>& rows);

    const KeyedListModel& list_;
    const Clock& clock_;
    QString path_;
    QList<JournalRow> carried_;
    std::shared_ptr<CommitLog> commits_;
    bool dirty_ = false;
    double lastWrite_ = -1.0e9;
    // The rows the last write took (the list's first, `takenListRows_` of them), to tell a
    // change of state from progress; shared with the list, so compared mostly by address.
    QList<JournalRow> taken_;
    qsizetype takenListRows_ = -1;
    // The journal on disk is known not to hold what the list holds (the carried rows changed,
    // or the last write did not reach the disk).
    bool mustWrite_ = false;
    std::unique_ptr<Write> writing_;
    std::function<void()> beforeRename_;
    int writesDone_ = 0;
    QString error_;
};

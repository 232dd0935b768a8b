#include "core/download/DownloadJournal.h"

#include "core/download/DownloadList.h"
#include "core/platform/Clock.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/PartFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSaveFile>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

const QString kFormatKey = QStringLiteral("quillfetch-download-journal");

QJsonArray toArray(const QStringList& texts) {
    QJsonArray array;
    for (const QString& text : texts)
        array.append(text);
    return array;
}

QStringList toTexts(const QJsonValue& value) {
    QStringList texts;
    for (const QJsonValue& item : value.toArray())
        texts.append(item.toString());
    return texts;
}

enum class Parse { Ok, Bad, Newer };

Parse parse(const QString& path, QList<JournalRow>& rows) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Parse::Bad;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    const QJsonObject top = document.object();
    if (error.error != QJsonParseError::NoError || !top.value(kFormatKey).isDouble() ||
        !top.value(QStringLiteral("rows")).isArray())
        return Parse::Bad;
    if (top.value(kFormatKey).toInt() > kDownloadJournalFormat)
        return Parse::Newer;
    for (const QJsonValue& value : top.value(QStringLiteral("rows")).toArray()) {
        const QJsonObject object = value.toObject();
        JournalRow row;
        row.key = object.value(QStringLiteral("key")).toString();
        row.cells = toTexts(object.value(QStringLiteral("cells")));
        row.hidden = toTexts(object.value(QStringLiteral("hidden")));
        row.tag = object.value(QStringLiteral("tag")).toString();
        row.state = object.value(QStringLiteral("state")).toInt();
        if (row.key.isEmpty())
            return Parse::Bad;
        rows.append(row);
    }
    return Parse::Ok;
}

// The first read of this run that set something aside, by journal path.
struct SetAsideNotes {
    QMutex mutex;
    QHash<QString, JournalLoad> byPath;
};

SetAsideNotes& setAsideNotes() {
    static SetAsideNotes notes;
    return notes;
}

void forgetSetAsideNote(const QString& path) {
    SetAsideNotes& notes = setAsideNotes();
    const QMutexLocker lock(&notes.mutex);
    notes.byPath.remove(path);
}

// Every journal's files, for the threads of this program: a write's two renames and the settling
// of its commit log go together, so a read in between never finds the journal missing and takes
// the previous generation for it; and a journal forgotten stays forgotten, even when a write
// that took its rows earlier ends after.
struct JournalFiles {
    QMutex mutex;
    QHash<QString, quint64> forgotten; // times each journal was forgotten
};

JournalFiles& journalFiles() {
    static JournalFiles files;
    return files;
}

quint64 timesForgotten(const QString& path) {
    JournalFiles& files = journalFiles();
    const QMutexLocker lock(&files.mutex);
    return files.forgotten.value(path);
}

QString asideName(const QString& path) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = path + QStringLiteral(".bad-") + stamp;
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".bad-%1-%2").arg(stamp).arg(n);
    return aside;
}

// The rename of a file in `folder` reaches the disk with the folder.
void syncFolderOf(const QString& path) {
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

QByteArray commitLine(const CommittedRow& row) {
    QJsonObject object;
    object.insert(QStringLiteral("key"), row.key);
    object.insert(QStringLiteral("name"), row.name);
    object.insert(QStringLiteral("type"), row.type);
    object.insert(QStringLiteral("file"), row.file.ToText());
    object.insert(QStringLiteral("failed"), row.failed);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool writeAllTo(int fd, const QByteArray& bytes) {
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

QString DownloadJournalPath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return folder + QStringLiteral("/downloads.journal");
}

QString PreviousJournalPath(const QString& path) {
    return path + QStringLiteral(".1");
}

static QJsonObject rowObject(const JournalRow& row) {
    QJsonObject object;
    object.insert(QStringLiteral("key"), row.key);
    object.insert(QStringLiteral("cells"), toArray(row.cells));
    object.insert(QStringLiteral("hidden"), toArray(row.hidden));
    object.insert(QStringLiteral("tag"), row.tag);
    object.insert(QStringLiteral("state"), row.state);
    return object;
}

namespace {

// Texts the list shares with rows taken earlier are the same object: compared by address
// first, a list of 20,000 unchanged rows is gone through in a few milliseconds.
bool sameText(const QString& a, const QString& b) {
    if (a.constData() == b.constData())
        return a.size() == b.size();
    return a == b;
}

// A row's hidden values stay shared with the rows taken earlier until one of them is set.
bool sameTexts(const QStringList& a, const QStringList& b) {
    if (a.size() != b.size())
        return false;
    if (a.constData() == b.constData())
        return true;
    for (qsizetype n = 0; n < a.size(); ++n) {
        if (!sameText(a.at(n), b.at(n)))
            return false;
    }
    return true;
}

} // namespace

QList<JournalRow> JournalRowsOf(const KeyedListModel& list, const QList<JournalRow>& carried) {
    QList<JournalRow> rows;
    rows.reserve(list.Count() + carried.size());
    for (int position = 1; position <= list.Count(); ++position) {
        const KeyedListModel::RowFields fields = list.Fields(position);
        rows.append({fields.key, fields.cells, fields.hidden, fields.tag, fields.smallIcon});
    }
    for (const JournalRow& row : carried) {
        if (!list.ContainsKey(row.key))
            rows.append(row);
    }
    return rows;
}

namespace {

QByteArray journalBytes(const QList<JournalRow>& rows) {
    QJsonArray array;
    for (const JournalRow& row : rows)
        array.append(rowObject(row));
    QJsonObject top;
    top.insert(kFormatKey, kDownloadJournalFormat);
    top.insert(QStringLiteral("rows"), array);
    return QJsonDocument(top).toJson(QJsonDocument::Compact);
}

enum class Placed { Done, Failed, Forgotten };

// The new journal is written and flushed under a name of its own, then, with the journal's
// files held, the journal it replaces becomes the previous generation and the new one takes the
// name. `forgotten` (when set) is how often the journal had been forgotten when its rows were
// taken: a write of rows from before a forget is dropped. `settle` runs once the new journal's
// name is on disk, before the files are let go.
Placed placeJournal(const QString& path, const QByteArray& bytes, const quint64* forgotten,
                    const std::function<void()>& beforeRename, const std::function<void()>& settle,
                    QString* error) {
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return Placed::Failed;
    };
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray fresh = QFile::encodeName(path) + ".new-XXXXXX";
    const int fd = ::mkostemp(fresh.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(qt_error_string(errno));
    const bool written = writeAllTo(fd, bytes) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        ::unlink(fresh.constData());
        return fail(qt_error_string(written ? errno : writeError));
    }
    if (beforeRename)
        beforeRename();

    JournalFiles& files = journalFiles();
    const QMutexLocker lock(&files.mutex);
    if (forgotten && files.forgotten.value(path) != *forgotten) {
        ::unlink(fresh.constData());
        return Placed::Forgotten;
    }
    const QByteArray named = QFile::encodeName(path);
    // The journal being replaced becomes the previous generation just before the new one takes
    // its name. Linked there rather than moved, the journal keeps its name until the new one
    // replaces it in one rename: a program killed in between still finds the latest journal,
    // not the one before (whose rows may have been started afresh since). Where the file
    // system has no links, the move leaves a moment with the previous generation alone.
    if (QFileInfo::exists(path)) {
        const QByteArray previous = QFile::encodeName(PreviousJournalPath(path));
        const QByteArray linked = previous + ".new";
        ::unlink(linked.constData());
        bool kept = false;
        if (::link(named.constData(), linked.constData()) == 0) {
            kept = std::rename(linked.constData(), previous.constData()) == 0;
            if (!kept)
                ::unlink(linked.constData());
        } else {
            kept = std::rename(named.constData(), previous.constData()) == 0;
        }
        if (!kept) {
            ::unlink(fresh.constData());
            return fail(QStringLiteral("无法保留上一份下载列表记录"));
        }
    }
    if (std::rename(fresh.constData(), named.constData()) != 0) {
        const int renameError = errno;
        ::unlink(fresh.constData());
        return fail(qt_error_string(renameError));
    }
    syncFolderOf(path);
    forgetSetAsideNote(path);
    if (settle)
        settle();
    return Placed::Done;
}

} // namespace

bool WriteJournalRows(const QString& path, const QList<JournalRow>& rows, QString* error) {
    return placeJournal(path, journalBytes(rows), nullptr, {}, {}, error) == Placed::Done;
}

bool WriteDownloadJournal(const QString& path, const KeyedListModel& list,
                          const QList<JournalRow>& carried, QString* error) {
    return WriteJournalRows(path, JournalRowsOf(list, carried), error);
}

QString CommitLogPath(const QString& journalPath) {
    return journalPath + QStringLiteral(".commits");
}

CommitLog::CommitLog(const QString& path) : path_(path) {
    for (const CommittedRow& row : Read(path))
        entries_.append({row, appended_++});
}

CommitLog::~CommitLog() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool CommitLog::Append(const CommittedRow& row) {
    const QMutexLocker lock(&mutex_);
    // The journal forgotten meanwhile took the log's name away: a line written to the unlinked
    // file would be lost at the next kill, so the log starts again under its name.
    if (fd_ >= 0) {
        struct stat open {
        }, named{};
        if (::fstat(fd_, &open) != 0 || ::stat(QFile::encodeName(path_).constData(), &named) != 0 ||
            open.st_ino != named.st_ino || open.st_dev != named.st_dev) {
            ::close(fd_);
            fd_ = -1;
            entries_.clear();
        }
    }
    if (fd_ < 0) {
        QDir().mkpath(QFileInfo(path_).absolutePath());
        fd_ = ::open(QFile::encodeName(path_).constData(),
                     O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd_ < 0)
            return false;
        syncFolderOf(path_);
    }
    entries_.append({row, appended_++});
    return writeAllTo(fd_, commitLine(row)) && ::fdatasync(fd_) == 0;
}

quint64 CommitLog::Appended() const {
    const QMutexLocker lock(&mutex_);
    return appended_;
}

void CommitLog::Settle(const std::function<bool(const CommittedRow&)>& pending,
                       quint64 judgedFrom) {
    const QMutexLocker lock(&mutex_);
    if (entries_.isEmpty() && fd_ < 0 && !QFileInfo::exists(path_))
        return;
    QList<Entry> kept;
    for (qsizetype n = 0; n < entries_.size(); ++n) {
        const Entry& entry = entries_.at(n);
        bool latest = true;
        for (qsizetype later = n + 1; later < entries_.size() && latest; ++later)
            latest = entries_.at(later).row.key != entry.row.key;
        if (latest && (entry.number >= judgedFrom || pending(entry.row)))
            kept.append(entry);
    }
    // A log that lost its last line to a crash is replaced too.
    if (!entries_.isEmpty() && kept.size() == entries_.size())
        return;
    entries_ = kept;
    rewrite();
}

bool CommitLog::rewrite() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (entries_.isEmpty())
        return QFile::remove(path_) || !QFileInfo::exists(path_);
    QByteArray bytes;
    for (const Entry& entry : std::as_const(entries_))
        bytes += commitLine(entry.row);
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return false;
    syncFolderOf(path_);
    return true;
}

QList<CommittedRow> CommitLog::Read(const QString& path) {
    QList<CommittedRow> rows;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (!line.endsWith('\n'))
            break; // cut short by a crash: that commit never took its name
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        CommittedRow row;
        row.key = object.value(QStringLiteral("key")).toString();
        row.name = object.value(QStringLiteral("name")).toString();
        row.type = object.value(QStringLiteral("type")).toString();
        row.file = OwnedFile::FromText(object.value(QStringLiteral("file")).toString());
        row.failed = object.value(QStringLiteral("failed")).toBool();
        if (!row.key.isEmpty() && row.file.IsSet())
            rows.append(row);
    }
    return rows;
}

void ApplyCommits(QList<JournalRow>& rows, const QList<CommittedRow>& commits) {
    for (const CommittedRow& commit : commits) {
        for (JournalRow& row : rows) {
            if (row.key != commit.key)
                continue;
            while (row.hidden.size() <= DownloadHidden::OwnedFile)
                row.hidden.append(QString());
            while (row.cells.size() <= DownloadColumn::Reason)
                row.cells.append(QString());
            row.hidden[DownloadHidden::OwnedFile] = commit.file.ToText();
            row.hidden[DownloadHidden::FilePath] = commit.file.path;
            row.cells[DownloadColumn::Name] = commit.name;
            row.cells[DownloadColumn::Type] = commit.type;
            row.cells[DownloadColumn::Size] = QString::number(commit.file.size);
            row.cells[DownloadColumn::Received] = QString::number(commit.file.size);
            row.cells[DownloadColumn::Percent] = QStringLiteral("100%");
            row.state = commit.failed ? ItemState::Failed : ItemState::Completed;
            break;
        }
    }
}

static JournalLoad readJournalOnly(const QString& path);

JournalLoad ReadDownloadJournal(const QString& path) {
    JournalLoad load;
    {
        JournalFiles& files = journalFiles();
        const QMutexLocker lock(&files.mutex);
        load = readJournalOnly(path);
        if (load.status != JournalStatus::Newer)
            ApplyCommits(load.rows, CommitLog::Read(CommitLogPath(path)));
    }
    SetAsideNotes& notes = setAsideNotes();
    const QMutexLocker lock(&notes.mutex);
    if (!load.setAside.isEmpty() || !load.previousSetAside.isEmpty()) {
        JournalLoad note = load;
        note.rows.clear();
        notes.byPath.insert(path, note);
    } else if (const auto note = notes.byPath.constFind(path);
               note != notes.byPath.cend() && !QFileInfo::exists(path)) {
        // What this read finds is what the first one left: the same generation, or nothing.
        load.status = note->status;
        load.setAside = note->setAside;
        load.previousSetAside = note->previousSetAside;
    }
    return load;
}

QString JournalProblemText(const JournalLoad& load) {
    const QString setAside = load.setAside.isEmpty()
                                 ? QStringLiteral("上次的下载列表无法读取")
                                 : QStringLiteral("上次的下载列表无法读取，已另存为“%1”")
                                       .arg(QFileInfo(load.setAside).fileName());
    switch (load.status) {
    case JournalStatus::None:
    case JournalStatus::Loaded:
        return QString();
    case JournalStatus::FromPrevious: {
        const int unfinished = CountUnfinishedRows(load.rows);
        return setAside + (unfinished > 0
                               ? QStringLiteral("；它的上一版还有%1项未完成").arg(unfinished)
                               : QStringLiteral("；它的上一版没有未完成的项"));
    }
    case JournalStatus::Newer:
        return QStringLiteral("上次的下载列表由更新版本的本软件写下，本版本不读取它");
    case JournalStatus::Unreadable:
        return setAside + QStringLiteral("，它的上一版也无法读取") +
               (load.previousSetAside.isEmpty()
                    ? QString()
                    : QStringLiteral("（已另存为“%1”）")
                          .arg(QFileInfo(load.previousSetAside).fileName())) +
               QStringLiteral("：没有可以恢复的列表");
    }
    return QString();
}

static JournalLoad readJournalOnly(const QString& path) {
    JournalLoad load;
    bool currentTried = false;
    if (QFileInfo::exists(path)) {
        currentTried = true;
        switch (parse(path, load.rows)) {
        case Parse::Ok:
            load.status = JournalStatus::Loaded;
            return load;
        case Parse::Newer:
            load.status = JournalStatus::Newer;
            return load;
        case Parse::Bad:
            load.rows.clear();
            load.setAside = asideName(path);
            if (!QFile::rename(path, load.setAside))
                load.setAside.clear();
            break;
        }
    }
    const QString previous = PreviousJournalPath(path);
    if (!QFileInfo::exists(previous)) {
        load.status = currentTried ? JournalStatus::Unreadable : JournalStatus::None;
        return load;
    }
    switch (parse(previous, load.rows)) {
    case Parse::Ok:
        load.status = JournalStatus::FromPrevious;
        break;
    case Parse::Newer:
        load.rows.clear();
        load.status = JournalStatus::Newer;
        break;
    case Parse::Bad:
        // Left where it is, it would be read (and found broken) again at every start.
        load.rows.clear();
        load.status = JournalStatus::Unreadable;
        load.previousSetAside = asideName(previous);
        if (!QFile::rename(previous, load.previousSetAside))
            load.previousSetAside.clear();
        break;
    }
    return load;
}

void ForgetDownloadJournal(const QString& path) {
    JournalFiles& files = journalFiles();
    const QMutexLocker lock(&files.mutex);
    ++files.forgotten[path];
    forgetSetAsideNote(path);
    QFile::remove(path);
    QFile::remove(PreviousJournalPath(path));
    QFile::remove(CommitLogPath(path));
}

int CountUnfinishedRows(const QList<JournalRow>& rows) {
    int count = 0;
    for (const JournalRow& row : rows) {
        if (row.state != ItemState::Completed)
            ++count;
    }
    return count;
}

int RestoreDownloadRows(KeyedListModel& list, const QList<JournalRow>& rows) {
    int added = 0;
    for (const JournalRow& row : rows) {
        if (!list.Add(row.key, row.cells.value(0)))
            continue;
        ++added;
        const int position = list.Count();
        for (int column = 1; column < list.ColumnCount(); ++column)
            list.SetSubItem(position, column, row.cells.value(column));
        for (int n = 0; n < row.hidden.size(); ++n)
            list.SetHiddenValue(position, n, row.hidden.at(n));
        list.SetTag(position, row.tag);
        // When a failure was seen is a reading of the last run's monotonic clock: this run
        // counts the pause before an automatic re-download afresh ("-" marks a row given up).
        if (list.HiddenValue(position, DownloadHidden::FailureSeenAt) != QLatin1String("-"))
            list.SetHiddenValue(position, DownloadHidden::FailureSeenAt, QString());

        // Paths come from a file anyone could have edited: only those directly in the row's
        // own folder are taken, and a file only while it is the one the row's commit left.
        const QString folder = list.SubItem(position, DownloadColumn::Folder);
        const QString recorded = RowFilePath(list, position);
        const ResumePoint part = RowResumePoint(list, position);
        const OwnedFile own = RowOwnedFile(list, position);
        const bool outside =
            (!recorded.isEmpty() && !PathDirectlyInFolder(recorded, folder)) ||
            (!part.partPath.isEmpty() && !PathDirectlyInFolder(part.partPath, folder)) ||
            (own.IsSet() && !PathDirectlyInFolder(own.path, folder));
        if (outside) {
            SetRowFilePath(list, position, QString());
            SetRowResumePoint(list, position, ResumePoint{});
            SetRowFailureReason(list, position,
                                QStringLiteral("记录的文件不在该项的保存文件夹中，未采用"));
        }
        const bool owned = !outside && own.IsSet() && ClaimFile(own, own.path) == FileClaim::Owned;
        if (!owned)
            SetRowOwnedFile(list, position, OwnedFile{});

        int state = row.state;
        if (state == ItemState::Completed) {
            if (!owned)
                state = ItemState::Waiting;
        } else if (state != ItemState::Failed) {
            state = ItemState::Waiting;
        }
        if (state == ItemState::Waiting) {
            list.SetSubItem(position, DownloadColumn::Size, QString());
            list.SetSubItem(position, DownloadColumn::Received, QString());
            list.SetSubItem(position, DownloadColumn::Percent, QString());
        }
        list.SetSmallIcon(position, state);
    }
    return added;
}

// One write of the journal: the rows as the interface thread took them, and what became of
// them, filled in on the writing thread.
struct JournalKeeper::Write {
    QString path;
    QList<JournalRow> rows;
    qsizetype listRows = 0; // the rows of the list; the carried ones follow
    std::shared_ptr<CommitLog> commits;
    quint64 commitsBefore = 0; // commits appended before the rows were taken
    quint64 forgotten = 0;     // how often the journal had been forgotten then
    std::function<void()> beforeRename;
    QList<JournalRow> released; // rows of an earlier write, let go of here

    Placed placed = Placed::Failed;
    QString error;
    std::atomic<bool> finished{false};
    std::thread thread;

    void run() {
        // What the journal now holds need not be replayed: only commits whose row had not
        // taken them in yet (its transfer still ending) stay in the log, and every commit that
        // came after these rows were taken.
        const auto settle = [this] {
            QHash<QString, qsizetype> byKey;
            commits->Settle(
                [&](const CommittedRow& commit) {
                    if (byKey.isEmpty()) {
                        byKey.reserve(listRows);
                        for (qsizetype n = 0; n < listRows; ++n)
                            byKey.insert(rows.at(n).key, n);
                    }
                    const auto it = byKey.constFind(commit.key);
                    if (it == byKey.cend())
                        return false;
                    const JournalRow& row = rows.at(*it);
                    return row.state == ItemState::Downloading &&
                           !(OwnedFile::FromText(row.hidden.value(DownloadHidden::OwnedFile)) ==
                             commit.file);
                },
                commitsBefore);
        };
        released.clear();
        placed = placeJournal(path, journalBytes(rows), &forgotten, beforeRename, settle, &error);
    }
};

JournalKeeper::JournalKeeper(const KeyedListModel& list, const Clock& clock, const QString& path)
    : list_(list), clock_(clock), path_(path),
      commits_(std::make_shared<CommitLog>(CommitLogPath(path))) {}

JournalKeeper::~JournalKeeper() {
    if (writing_ && writing_->thread.joinable())
        writing_->thread.join();
}

bool JournalKeeper::stateChangedSinceLastWrite() const {
    if (mustWrite_ || takenListRows_ != list_.Count())
        return true;
    // The rows taken share the list's texts and, until a row changes, its lists of them: an
    // unchanged row is told by addresses alone, a row with progress by its few texts that count.
    for (int position = 1; position <= list_.Count(); ++position) {
        const JournalRow& row = taken_.at(position - 1);
        const KeyedListModel::RowFields now = list_.Fields(position);
        if (now.smallIcon != row.state || !sameText(now.key, row.key))
            return true;
        if (!sameTexts(now.cells, row.cells) &&
            (!sameText(now.cells.value(DownloadColumn::Name),
                       row.cells.value(DownloadColumn::Name)) ||
             !sameText(now.cells.value(DownloadColumn::Reason),
                       row.cells.value(DownloadColumn::Reason))))
            return true;
        if (sameTexts(now.hidden, row.hidden))
            continue;
        // Where the file goes, what it is, and what a kill would leave to resume from.
        for (const int n : {DownloadHidden::FilePath, DownloadHidden::OwnedFile,
                            DownloadHidden::PartPath, DownloadHidden::Validator}) {
            if (!sameText(now.hidden.value(n), row.hidden.value(n)))
                return true;
        }
    }
    return false;
}

bool JournalKeeper::Tick() {
    if (writing_ && writing_->finished.load(std::memory_order_acquire))
        takeOutcome();
    if (writing_ || !dirty_)
        return false;
    const double since = clock_.elapsedSeconds() - lastWrite_;
    if (since < kProgressDelaySeconds &&
        (since < kStateChangeDelaySeconds || !stateChangedSinceLastWrite()))
        return false;
    writing_ = takeRows();
    Write* write = writing_.get();
    try {
        write->thread = std::thread([write] {
            write->run();
            write->finished.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        // No thread to be had (the system's limit on threads): this one writes, late but whole.
        write->run();
        write->finished.store(true);
    }
    return true;
}

bool JournalKeeper::WriteNow() {
    Wait();
    std::unique_ptr<Write> write = takeRows();
    write->run();
    writing_ = std::move(write);
    takeOutcome();
    return error_.isEmpty();
}

void JournalKeeper::Wait() {
    if (writing_)
        takeOutcome();
}

std::unique_ptr<JournalKeeper::Write> JournalKeeper::takeRows() {
    lastWrite_ = clock_.elapsedSeconds();
    auto write = std::make_unique<Write>();
    write->path = path_;
    write->commits = commits_;
    // Before the rows: a commit appended while they are taken is kept either way.
    write->commitsBefore = commits_->Appended();
    write->forgotten = timesForgotten(path_);
    write->rows = JournalRowsOf(list_, carried_);
    write->listRows = list_.Count();
    write->beforeRename = beforeRename_;
    // The rows the last write took go with this one: letting go of 20,000 rows is work for
    // the writing thread, not this one.
    write->released = std::move(taken_);
    taken_ = write->rows;
    takenListRows_ = write->listRows;
    mustWrite_ = false;
    dirty_ = false;
    syncKeptParts(taken_);
    return write;
}

// Joins the write on its way (at once when it has ended) and takes in its outcome.
void JournalKeeper::takeOutcome() {
    if (!writing_)
        return;
    if (writing_->thread.joinable())
        writing_->thread.join();
    const std::unique_ptr<Write> write = std::move(writing_);
    switch (write->placed) {
    case Placed::Done:
        error_.clear();
        ++writesDone_;
        break;
    case Placed::Failed:
        error_ = write->error;
        // What it took is not on disk: the next write is due as soon as the delay allows.
        dirty_ = true;
        mustWrite_ = true;
        break;
    case Placed::Forgotten:
        // The journal was forgotten after these rows were taken; the list as it is now goes
        // to the next journal.
        error_.clear();
        dirty_ = true;
        mustWrite_ = true;
        break;
    }
}

void JournalKeeper::SetCarried(const QList<JournalRow>& rows) {
    carried_ = rows;
    mustWrite_ = true;
    SyncKeptParts();
}

void JournalKeeper::SyncKeptParts() const {
    syncKeptParts(JournalRowsOf(list_, carried_));
}

void JournalKeeper::syncKeptParts(const QList<JournalRow>& rows) {
    QSet<QString> parts;
    for (const JournalRow& row : rows) {
        const QString part = row.hidden.value(DownloadHidden::PartPath);
        if (!part.isEmpty())
            parts.insert(part);
    }
    SetKeptPartFiles(parts);
}

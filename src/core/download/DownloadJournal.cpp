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

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
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

bool WriteDownloadJournal(const QString& path, const KeyedListModel& list,
                          const QList<JournalRow>& carried, QString* error) {
    QJsonArray rows;
    for (int position = 1; position <= list.Count(); ++position) {
        QStringList cells;
        for (int column = 0; column < list.ColumnCount(); ++column)
            cells.append(column == 0 ? list.Text(position) : list.SubItem(position, column));
        rows.append(rowObject({list.Key(position), cells, list.HiddenValues(position),
                               list.Tag(position), list.SmallIcon(position)}));
    }
    for (const JournalRow& row : carried) {
        if (!list.ContainsKey(row.key))
            rows.append(rowObject(row));
    }
    QJsonObject top;
    top.insert(kFormatKey, kDownloadJournalFormat);
    top.insert(QStringLiteral("rows"), rows);
    const QByteArray bytes = QJsonDocument(top).toJson(QJsonDocument::Compact);

    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    // The journal being replaced becomes the previous generation just before the new one takes
    // its name: a crash in between leaves the previous generation to read.
    if (QFileInfo::exists(path) &&
        std::rename(QFile::encodeName(path).constData(),
                    QFile::encodeName(PreviousJournalPath(path)).constData()) != 0) {
        if (error)
            *error = QStringLiteral("无法保留上一份下载列表记录");
        file.cancelWriting();
        return false;
    }
    // QSaveFile flushes the new file to disk before it renames it over the journal.
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    syncFolderOf(path);
    forgetSetAsideNote(path);
    return true;
}

QString CommitLogPath(const QString& journalPath) {
    return journalPath + QStringLiteral(".commits");
}

CommitLog::CommitLog(const QString& path) : path_(path) {
    entries_ = Read(path);
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
    entries_.append(row);
    return writeAllTo(fd_, commitLine(row)) && ::fdatasync(fd_) == 0;
}

void CommitLog::Settle(const std::function<bool(const CommittedRow&)>& pending) {
    const QMutexLocker lock(&mutex_);
    if (entries_.isEmpty() && fd_ < 0 && !QFileInfo::exists(path_))
        return;
    QList<CommittedRow> kept;
    for (qsizetype n = 0; n < entries_.size(); ++n) {
        const CommittedRow& row = entries_.at(n);
        bool latest = true;
        for (qsizetype later = n + 1; later < entries_.size() && latest; ++later)
            latest = entries_.at(later).key != row.key;
        if (latest && pending(row))
            kept.append(row);
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
    for (const CommittedRow& row : std::as_const(entries_))
        bytes += commitLine(row);
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
    JournalLoad load = readJournalOnly(path);
    if (load.status != JournalStatus::Newer)
        ApplyCommits(load.rows, CommitLog::Read(CommitLogPath(path)));
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

JournalKeeper::JournalKeeper(const KeyedListModel& list, const Clock& clock, const QString& path)
    : list_(list), clock_(clock), path_(path),
      commits_(std::make_shared<CommitLog>(CommitLogPath(path))) {}

size_t JournalKeeper::stateSignature() const {
    size_t seed = qHash(list_.Count());
    for (int position = 1; position <= list_.Count(); ++position) {
        seed = qHashMulti(seed, list_.Key(position), list_.SmallIcon(position),
                          list_.SubItem(position, DownloadColumn::Reason),
                          RowFilePath(list_, position), list_.Text(position),
                          list_.HiddenValue(position, DownloadHidden::OwnedFile),
                          list_.HiddenValue(position, DownloadHidden::PartPath));
    }
    return qHashMulti(seed, carried_.size());
}

bool JournalKeeper::Tick() {
    if (!dirty_)
        return false;
    const double since = clock_.elapsedSeconds() - lastWrite_;
    if (since >= kProgressDelaySeconds ||
        (since >= kStateChangeDelaySeconds && stateSignature() != writtenSignature_))
        return WriteNow();
    return false;
}

void JournalKeeper::SetCarried(const QList<JournalRow>& rows) {
    carried_ = rows;
    SyncKeptParts();
}

void JournalKeeper::SyncKeptParts() const {
    QSet<QString> parts;
    for (int position = 1; position <= list_.Count(); ++position) {
        const QString part = list_.HiddenValue(position, DownloadHidden::PartPath);
        if (!part.isEmpty())
            parts.insert(part);
    }
    for (const JournalRow& row : carried_) {
        const QString part = row.hidden.value(DownloadHidden::PartPath);
        if (!part.isEmpty() && !list_.ContainsKey(row.key))
            parts.insert(part);
    }
    SetKeptPartFiles(parts);
}

bool JournalKeeper::WriteNow() {
    lastWrite_ = clock_.elapsedSeconds();
    error_.clear();
    SyncKeptParts();
    if (!WriteDownloadJournal(path_, list_, carried_, &error_))
        return false;
    dirty_ = false;
    writtenSignature_ = stateSignature();
    // What the journal now holds need not be replayed: only commits whose row has not taken
    // them in yet (its transfer still ending) stay in the log.
    commits_->Settle([this](const CommittedRow& commit) {
        const int position = list_.PositionOfKey(commit.key);
        return position != 0 && list_.SmallIcon(position) == ItemState::Downloading &&
               !(RowOwnedFile(list_, position) == commit.file);
    });
    return true;
}

#include "core/download/DownloadJournal.h"

#include "core/download/DownloadList.h"
#include "core/platform/Clock.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/PartFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>

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

QString asideName(const QString& path) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = path + QStringLiteral(".bad-") + stamp;
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".bad-%1-%2").arg(stamp).arg(n);
    return aside;
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
    return true;
}

JournalLoad ReadDownloadJournal(const QString& path) {
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
        load.rows.clear();
        load.status = JournalStatus::Unreadable;
        break;
    }
    return load;
}

void ForgetDownloadJournal(const QString& path) {
    QFile::remove(path);
    QFile::remove(PreviousJournalPath(path));
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

        int state = row.state;
        if (state == ItemState::Completed) {
            const QFileInfo file(RowFilePath(list, position));
            bool sized = false;
            const qint64 size = row.cells.value(DownloadColumn::Size).toLongLong(&sized);
            const bool intact = !file.filePath().isEmpty() && file.isFile() && !file.isSymLink() &&
                                sized && file.size() == size;
            if (!intact)
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
    : list_(list), clock_(clock), path_(path) {}

size_t JournalKeeper::stateSignature() const {
    size_t seed = qHash(list_.Count());
    for (int position = 1; position <= list_.Count(); ++position) {
        seed = qHashMulti(seed, list_.Key(position), list_.SmallIcon(position),
                          list_.SubItem(position, DownloadColumn::Reason),
                          RowFilePath(list_, position), list_.Text(position),
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
    return true;
}

// The real type of a row's downloaded file: its file renamed to the type its bytes show.

#include "core/download/DownloadSession.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/download/DownloadJournal.h"
#include "core/download/DownloadList.h"
#include "core/download/FileType.h"
#include "core/download/ListCommands.h"
#include "core/download/Naming.h"
#include "core/platform/KeyedListModel.h"

#include <QFile>

bool DownloadSession::CorrectItemFileType(int position, bool webPage) {
    KeyedListModel& list = *ListItems3;
    if (position < 1 || position > list.Count())
        return false;
    const QString name = list.Text(position);
    const QString type = list.SubItem(position, DownloadColumn::Type);
    const QString folder = list.SubItem(position, DownloadColumn::Folder);

    // Only the row's own file, as its commit left it, is renamed: a file the row skipped or
    // found, or one changed since, is the user's.
    const OwnedFile own = RowOwnedFile(list, position);
    const QString current = own.IsSet() ? own.path : ItemFilePath(list, position);
    const FileClaim claim = ClaimFile(own, current);
    if (claim == FileClaim::Nothing)
        return false;
    QString detected = ClassifyFileType(current);
    const QString lowerType = type.toLower();
    if (webPage && detected != QLatin1String("htm") && lowerType != QLatin1String("htm") &&
        lowerType != QLatin1String("html"))
        detected = QStringLiteral("htm");
    if (detected.isEmpty() || detected.compare(type, Qt::CaseInsensitive) == 0)
        return false;
    if (claim != FileClaim::Owned) {
        SetRowFailureReason(list, position, ClaimRefusal(claim, QStringLiteral("更改类型")));
        return false;
    }

    const QString wanted = TargetFilePath(folder, name, detected);
    if (wanted.isEmpty())
        return false;
    const QString target = UniqueFilePath(wanted);
    QString baseName;
    SplitFileName(target, baseName);
    // A rename keeps the file: the row owns it under its new name, recorded before it counts.
    OwnedFile renamed = own;
    renamed.path = target;
    if (const std::shared_ptr<CommitLog> log = JournalCommits())
        log->Append({list.Key(position), baseName, detected, renamed,
                     list.SmallIcon(position) == ItemState::Failed});
    // The rename never replaces what is at the target, and a failed one (a folder of that
    // name, no rights, the file in use) leaves the file where it was: the row keeps pointing
    // at it.
    if (!QFile::rename(current, target) || !FileExists(target))
        return false;

    list.SetSubItem(position, DownloadColumn::Type, detected);
    list.SetText(position, baseName);
    RecordCommit(position, renamed);
    return true;
}

int DownloadSession::CorrectAllFileTypes() {
    int corrected = 0;
    for (int position = 1; position <= ListItems3->Count(); ++position) {
        if (CorrectItemFileType(position))
            ++corrected;
    }
    emit listChanged();
    return corrected;
}

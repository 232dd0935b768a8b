// The real type of downloaded files: judging one file, correcting a row's file and type, and
// the two commands that offer both to the user.

#include "ui/download/fFileDownload.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/download/DownloadJournal.h"
#include "core/download/DownloadList.h"
#include "core/download/FileType.h"
#include "core/download/ListCommands.h"
#include "core/download/Naming.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/transfer/Inet.h"
#include "ui/app/Forms.h"

#include <QFile>
#include <QTimer>

namespace {

// Any file at all: Linux names often have no dot, and a download whose type was unknown is
// stored without an extension, so the pattern is "*" under the familiar caption.
const QString kAnyFileFilter = QStringLiteral("*.* (*)");

} // namespace

QString fFileDownload::打开文件判断文件类型(const QString& path) const {
    return ClassifyFileType(path);
}

bool fFileDownload::TransfersActive() const {
    return Timer_Down->isActive() || (Inet1 && Inet1->StillExecuting()) ||
           CountDownloaderSlots() >= 2;
}

bool fFileDownload::CorrectItemFileType(int position, bool webPage) {
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
    QString detected = 打开文件判断文件类型(current);
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

void fFileDownload::menu打开文件判断类型_Click() {
    Prompt* prompt = Services().prompt;
    if (!prompt)
        return;
    Forms::Hold hold(this);
    const QString chosen =
        prompt->openFileName(this, QString(), Program().DefaultSaveFolder, kAnyFileFilter);
    if (chosen.isEmpty())
        return;
    // The user may have closed the window while the dialog was open.
    if (Forms::Find(QStringLiteral("fFileDownload")) != this)
        return;
    const QString type = 打开文件判断文件类型(chosen);
    prompt->message(this,
                    type.isEmpty() ? QStringLiteral("目前还无法判断。")
                                   : QStringLiteral("文件类型为：") + type,
                    MsgIcon::Information);
}

void fFileDownload::menu检查并纠正磁盘文件类型_Click() {
    Prompt* prompt = Services().prompt;
    Forms::Hold hold(this);
    if (RefusedWhileInWork(menu检查并纠正磁盘文件类型->objectName()))
        return;
    const int rows = ListItems3->Count();
    if (rows == 0)
        return;
    int corrected = 0;
    for (int position = 1; position <= rows; ++position) {
        if (CorrectItemFileType(position))
            ++corrected;
    }
    RefreshList();
    if (prompt)
        prompt->message(this,
                        QStringLiteral("纠正文件类型：") + QString::number(corrected) +
                            QStringLiteral("个."),
                        MsgIcon::Information);
}

#include "core/download/SameNameRule.h"

#include "core/download/DownloadList.h"
#include "core/download/Naming.h"
#include "core/download/Scheduler.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/PartFiles.h"

#include <QFile>

#include <sys/stat.h>

namespace {

bool somethingAt(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

StartTarget DecideStartTarget(const KeyedListModel& list, int position, const QString& type,
                              SameNameChoice choice) {
    StartTarget decision;
    const QString folder = list.SubItem(position, DownloadColumn::Folder);
    const QString name = list.Text(position);
    const QString plain = TargetFilePath(folder, name, type);
    if (plain.isEmpty())
        return decision;
    CleanFolderBeforeWriting(plain.left(plain.lastIndexOf(QLatin1Char('/')) + 1));

    decision.action = StartTarget::Action::Download;
    decision.path = plain;
    decision.newName = TargetFileName(name, type);
    const auto renamed = [&] {
        decision.path = RenameTargetPath(folder, name, type, false, decision.newName);
        if (decision.path.isEmpty())
            decision.action = StartTarget::Action::Invalid;
    };
    if (!somethingAt(plain))
        return decision;
    const OwnedFile own = RowOwnedFile(list, position);
    if (ClaimFile(own, plain) == FileClaim::Owned) {
        decision.replaceable = own;
        return decision;
    }
    // Another row of the list wrote or is writing that name: its file is kept, as the rename
    // rule would keep it. Under 覆盖 two rows never write one name at once: this one waits
    // for the other to end.
    if (const int other = OtherRowWithFile(list, plain, position)) {
        if (choice == SameNameChoice::Overwrite && list.SmallIcon(other) == ItemState::Downloading)
            decision.action = StartTarget::Action::Wait;
        else
            renamed();
        return decision;
    }
    switch (choice) {
    case SameNameChoice::Skip:
        decision.action = StartTarget::Action::Skip;
        break;
    case SameNameChoice::Overwrite:
        decision.overwrite = true;
        break;
    case SameNameChoice::Rename:
        renamed();
        break;
    }
    return decision;
}

#include "core/download/DownloadList.h"

#include "core/platform/KeyedListModel.h"

QStringList DownloadListHeaders() {
    return {QStringLiteral("名称"),     QStringLiteral("类型"),   QStringLiteral("文件大小"),
            QStringLiteral("已下载数"), QStringLiteral("百分比"), QStringLiteral("保存路径"),
            QStringLiteral("原因")};
}

QString RowFilePath(const KeyedListModel& list, int position) {
    return list.HiddenValue(position, DownloadHidden::FilePath);
}

void SetRowFilePath(KeyedListModel& list, int position, const QString& path) {
    list.SetHiddenValue(position, DownloadHidden::FilePath, path);
}

OwnedFile RowOwnedFile(const KeyedListModel& list, int position) {
    return OwnedFile::FromText(list.HiddenValue(position, DownloadHidden::OwnedFile));
}

void SetRowOwnedFile(KeyedListModel& list, int position, const OwnedFile& file) {
    list.SetHiddenValue(position, DownloadHidden::OwnedFile, file.ToText());
}

FileClaim ClaimRowFile(const KeyedListModel& list, int position, const QString& path) {
    return ClaimFile(RowOwnedFile(list, position), path);
}

ResumePoint RowResumePoint(const KeyedListModel& list, int position) {
    ResumePoint point;
    point.partPath = list.HiddenValue(position, DownloadHidden::PartPath);
    point.validator = list.HiddenValue(position, DownloadHidden::Validator);
    bool ok = false;
    const qint64 total = list.HiddenValue(position, DownloadHidden::TotalLength).toLongLong(&ok);
    point.total = ok ? total : -1;
    return point;
}

void SetRowResumePoint(KeyedListModel& list, int position, const ResumePoint& point) {
    const bool usable = point.IsUsable();
    list.SetHiddenValue(position, DownloadHidden::PartPath, usable ? point.partPath : QString());
    list.SetHiddenValue(position, DownloadHidden::Validator, usable ? point.validator : QString());
    list.SetHiddenValue(position, DownloadHidden::TotalLength,
                        usable ? QString::number(point.total) : QString());
}

int RowHttpStatus(const KeyedListModel& list, int position) {
    return list.HiddenValue(position, DownloadHidden::HttpStatus).toInt();
}

void SetRowHttpStatus(KeyedListModel& list, int position, int status) {
    list.SetHiddenValue(position, DownloadHidden::HttpStatus,
                        status > 0 ? QString::number(status) : QString());
}

QString RowFailureReason(const KeyedListModel& list, int position) {
    return list.SubItem(position, DownloadColumn::Reason);
}

void SetRowFailureReason(KeyedListModel& list, int position, const QString& reason) {
    list.SetSubItem(position, DownloadColumn::Reason, reason);
}

bool AddDownloadRow(KeyedListModel& list, const QString& link, const QString& name,
                    const QString& type, const QString& saveFolder, const QString& page) {
    if (!list.Add(link, name))
        return false;
    const int position = list.Count();
    list.SetSubItem(position, DownloadColumn::Type, type);
    list.SetSubItem(position, DownloadColumn::Folder, saveFolder);
    list.SetTag(position, page);
    list.SetSmallIcon(position, ItemState::Waiting);
    return true;
}

DownloadStateCounts CountDownloadStates(const KeyedListModel& list) {
    DownloadStateCounts counts;
    counts.total = list.Count();
    for (int position = 1; position <= counts.total; ++position) {
        switch (list.SmallIcon(position)) {
        case ItemState::Waiting:
            ++counts.waiting;
            break;
        case ItemState::Downloading:
            ++counts.downloading;
            break;
        case ItemState::Completed:
            ++counts.completed;
            break;
        case ItemState::Failed:
            ++counts.failed;
            break;
        default:
            break;
        }
    }
    return counts;
}

QString StatusCountsText(const DownloadStateCounts& counts) {
    return QStringLiteral("总数：%1|正在下载：%2|等待：%3|已完成：%4|失败：%5")
        .arg(counts.total)
        .arg(counts.downloading)
        .arg(counts.waiting)
        .arg(counts.completed)
        .arg(counts.failed);
}

int CountNotDownloaded(const KeyedListModel& list) {
    int count = 0;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (list.SubItem(position, DownloadColumn::Size).isEmpty() &&
            list.SubItem(position, DownloadColumn::Received).isEmpty() &&
            list.SubItem(position, DownloadColumn::Percent).isEmpty())
            ++count;
    }
    return count;
}

bool IsDownloadListFinished(const KeyedListModel& list) {
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        const int state = list.SmallIcon(position);
        if (state == ItemState::Waiting || state == ItemState::Downloading)
            return false;
    }
    return true;
}

#pragma once

#include <QString>
#include <QStringList>

#include "core/transfer/FileOwnership.h"
#include "core/transfer/Resume.h"

class KeyedListModel;

// Where a download row stands. Stored as the row's SmallIcon, so the list itself is the only
// record of it.
namespace ItemState {
inline constexpr int Waiting = 1;
inline constexpr int Downloading = 2;
inline constexpr int Completed = 3; // also: skipped because the file was already there
inline constexpr int Failed = 4;    // also: stopped or cancelled
} // namespace ItemState

// Columns of the download list: 0 is the row's Text, n its SubItem(n).
namespace DownloadColumn {
inline constexpr int Name = 0;
inline constexpr int Type = 1;
inline constexpr int Size = 2;
inline constexpr int Received = 3;
inline constexpr int Percent = 4;
inline constexpr int Folder = 5;
inline constexpr int B = 6;
// The seventh column, which the list never used, tells why a row failed.
inline constexpr int Reason = B;
} // namespace DownloadColumn

// Values a download row carries that no column shows (KeyedListModel::HiddenValue slots).
namespace DownloadHidden {
// The path the row's transfer reserved or wrote its file at.
inline constexpr int FilePath = 0;
// The HTTP status of the answer the row's last transfer got ("" when none came).
inline constexpr int HttpStatus = 1;
// How often the automatic re-download has re-queued the row since it was added or re-queued
// by the user.
inline constexpr int AutomaticRequeues = 2;
// When the automatic re-download first saw the row's latest failure (monotonic seconds), or
// "-" once it has decided not to re-queue it; "" before.
inline constexpr int FailureSeenAt = 3;
// What an interrupted transfer of the row left to resume from (ResumePoint): its temporary
// body, the validator of the answer, and the whole body's length. "" when there is none.
inline constexpr int PartPath = 4;
inline constexpr int Validator = 5;
inline constexpr int TotalLength = 6;
// What kind of web page the row's last transfer brought instead of the file (the number of a
// WebPageKind plus one); "" when it brought none.
inline constexpr int WebPage = 7;
// What this program's commit wrote for the row (path, device, inode, size, modification time):
// the only file the row may replace, rename or delete later. "" when the row owns no file.
inline constexpr int OwnedFile = 8;
// The article's bibliographic data the row was handed over with (title, authors, date,
// journal, volume, issue, pages, kind), kept so that an export after a restart is the same.
inline constexpr int Citation = 9;
// Site manners: the row's type when its last transfer started, given back when that transfer
// met a bot check (a check is no download and changes nothing of the row).
inline constexpr int TypeAtStart = 10;
} // namespace DownloadHidden

// "名称", "类型", "文件大小", "已下载数", "百分比", "保存路径", "原因".
QStringList DownloadListHeaders();

// Appends a waiting row: Key = link, Text = name, then type, folder and the page the link was
// found on (Tag). False, with the list unchanged, when the link is already listed.
bool AddDownloadRow(KeyedListModel& list, const QString& link, const QString& name,
                    const QString& type, const QString& saveFolder, const QString& page);

// The path the row's last transfer reserved or committed its file at; "" before any did. Every
// command that acts on a row's file uses this path, never one rebuilt from the row's name later.
QString RowFilePath(const KeyedListModel& list, int position);
void SetRowFilePath(KeyedListModel& list, int position, const QString& path);

// The file this program committed for the row (see FileOwnership.h); not set when the row owns
// none. Only that file, while it is unchanged, may be replaced, renamed or deleted for the row.
OwnedFile RowOwnedFile(const KeyedListModel& list, int position);
void SetRowOwnedFile(KeyedListModel& list, int position, const OwnedFile& file);
// ClaimFile of the row's record for the file at `path`.
FileClaim ClaimRowFile(const KeyedListModel& list, int position, const QString& path);

// Where the row's next transfer can resume; not usable when there is nothing to resume.
ResumePoint RowResumePoint(const KeyedListModel& list, int position);
// A point that is not usable clears all three values.
void SetRowResumePoint(KeyedListModel& list, int position, const ResumePoint& point);

// The HTTP status the row's last transfer was answered with; 0 when no answer came.
int RowHttpStatus(const KeyedListModel& list, int position);
void SetRowHttpStatus(KeyedListModel& list, int position, int status);

// Why the row failed, in the user's words; "" for a row that did not fail.
QString RowFailureReason(const KeyedListModel& list, int position);
void SetRowFailureReason(KeyedListModel& list, int position, const QString& reason);

struct DownloadStateCounts {
    int total = 0;
    int waiting = 0;
    int downloading = 0;
    int completed = 0;
    int failed = 0;
};

// One pass over the rows' states.
DownloadStateCounts CountDownloadStates(const KeyedListModel& list);

// "总数：N|正在下载：N|等待：N|已完成：N|失败：N".
QString StatusCountsText(const DownloadStateCounts& counts);

// Rows never started: size, received and percentage all empty, whatever their state. A row
// holding a status word there (a skip, a failure) does not count.
int CountNotDownloaded(const KeyedListModel& list);

// True when no row is waiting or downloading; an empty list is finished.
bool IsDownloadListFinished(const KeyedListModel& list);

#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <Qt>

#include <optional>

class HostPacing;
class KeyedListModel;
class QRandomGenerator;

// The download list's commands that need no window: ordering, re-queueing, removing rows,
// deleting their files, and the text handed out by the exports. Each walks the list once;
// the window holds back painting around them and repaints once.

// The row's file: the path its transfer recorded (RowFilePath); before any transfer, folder +
// name + "." + type, no "." for an empty type (TargetFilePath). "" when no path can be built
// (no folder, an unusable name).
QString ItemFilePath(const KeyedListModel& list, int position);

// A cell or an answer that reads as a number: decimal, optionally signed, with a fraction or
// an exponent, spaces around it allowed. Infinities and NaN do not count.
std::optional<double> ParseNumber(const QString& text);

// --- ordering ---

// Sorts once by `column` (0 = 名称, n = SubItem(n)) as text in `order`. The two byte counts
// (文件大小, 已下载数) and 百分比 sort by value: their whole numbers are padded with leading
// zeros for the sort and written back plainly afterwards ("7%" stays "7%"); cells that are no
// number ("未知", "", "已存在，跳过") keep their text and sort as text among them.
void SortDownloadList(KeyedListModel& list, int column, Qt::SortOrder order);

// The most draws one shuffle makes; longer lists are only partly shuffled.
inline constexpr int kShuffleDrawLimit = 10000;

// Reorders the rows at random: each draw takes one of the rows not yet moved, uniformly, and
// moves it behind the rows already moved, so a list of up to `drawLimit` rows ends in a
// uniformly random order. With more rows, `drawLimit` of them are moved and the others stay
// in front in their old order. Every row keeps its key, text, columns, tag and state; the
// selection is cleared. Returns the number of rows moved.
int ShuffleRows(KeyedListModel& list, QRandomGenerator& random, int drawLimit = kShuffleDrawLimit);

// --- re-queue: rows go back to waiting; their files stay until new ones replace them ---
// Each returns how many rows it re-queued. Waiting and running rows are never chosen.

// Selected rows that are completed or failed.
int RequeueSelectedRows(KeyedListModel& list);
// Failed rows, and completed rows of type "htm" or "html".
int RequeueFailedAndWebPageRows(KeyedListModel& list);
// Completed or failed rows whose size and received count (each without ",") are numbers,
// equal, and smaller than `limit`, compared in single precision.
int RequeueRowsSmallerThan(KeyedListModel& list, double limit);
// A failed row made waiting again by a double click: progress cleared, the type kept. False, and
// nothing changed, for a row that is not failed.
bool RequeueFailedRowKeepingType(KeyedListModel& list, int position);
// The sites held after failing too often in a row go on: their waiting rows lose the hold's
// reason, and they may start again. Returns how many sites were held.
int ResumeHeldSites(KeyedListModel& list, HostPacing& pacing);

// --- removing rows; the files stay on disk. Each returns how many rows it removed. ---
// (Selected rows: RemoveSelectedRows of search/SearchList.h, which serves every list.)
int RemoveFailedRows(KeyedListModel& list);
int RemoveCompletedRows(KeyedListModel& list);

// --- files of rows; the rows stay with their state ---

// Completed or failed rows of type "htm", "html" or "xml": progress cleared, file deleted.
int DeleteWebPageFiles(KeyedListModel& list);
// Failed rows: progress cleared, file deleted.
int DeleteFailedFiles(KeyedListModel& list);
// Writes "不存在" into 已下载数 of every row whose file is missing; returns how many.
int MarkMissingFiles(KeyedListModel& list);

// Selected waiting rows become failed; returns how many.
int FailSelectedWaitingRows(KeyedListModel& list);

// --- handing names and files out ---

// One name (Text) per row in list order, each followed by CR LF; with `unfinishedOnly`
// completed rows are left out. No rows give "".
QString ExportNamesText(const KeyedListModel& list, bool unfinishedOnly);

// A file larger than 2048 KB (2048 * 1024 bytes) is not handed to the plain-text editor.
inline constexpr qint64 kLargestTextFileBytes = 2048 * 1024;

// The program the desktop has as its default application for plain text, to be started with
// the file as its one argument: the first "text/plain" entry of the mimeapps.list files in
// `configFolders`, then in `applicationFolders` (desktop-specific lists first, for each of
// `desktopNames`), then of the mimeinfo.cache files there, whose desktop entry starts a
// program with nothing but the file. Entries that are hidden, run in a terminal or need
// further arguments are passed over. "" when there is none.
QString PlainTextEditorProgram(const QStringList& configFolders,
                               const QStringList& applicationFolders,
                               const QStringList& desktopNames);
// The same for this session: XDG_CONFIG_HOME and XDG_CONFIG_DIRS, the applications folders of
// XDG_DATA_HOME and XDG_DATA_DIRS, and XDG_CURRENT_DESKTOP.
QString PlainTextEditorProgram();

// --- commands refused while a transfer is in work ---

// A command that rewrites or removes rows, which a running transfer may be writing to (its
// key, its state, its file): the window refuses it with `refusal` while a transfer is in work.
struct GuardedListCommand {
    QString command; // the menu entry's object name; "ListView3_ColumnClick" for sorting
    QString refusal;
    bool errorIcon = false; // the refusal's icon: error, else information
};

// Every guarded command of the download window, in menu order.
const QList<GuardedListCommand>& GuardedListCommands();
// The entry of `command`, or nullptr when the command is not guarded.
const GuardedListCommand* FindGuardedListCommand(const QString& command);

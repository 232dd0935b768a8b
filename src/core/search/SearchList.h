#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class KeyedListModel;

// The search list's records and the window-free commands on them. A record is one row of a
// KeyedListModel with the columns of SearchListHeaders():
//   Key = full-text link (unique), Text = title, SubItem(1) = type, SubItem(2) = analysis
//   status ("", "成功" or "分析失败"), SubItem(3) = save folder, Tag = result-page address.

// "标题", "类型", "分析状态", "保存路径".
QStringList SearchListHeaders();

// Appends a record with an empty status. A link already in the list changes nothing (the
// first record keeps its title, folder and page) and answers false.
bool AddSearchRecord(KeyedListModel& list, const QString& title, const QString& link,
                     const QString& page, const QString& type, const QString& saveFolder);

// The clearing commands. Each removes every matching row in one pass (adjacent matches
// included) and returns how many rows went.
int RemoveSelectedRows(KeyedListModel& list);
// Rows whose status is exactly "成功".
int RemoveSucceededRows(KeyedListModel& list);
// Rows whose title contains `text` (`containing` true) or does not contain it (false),
// letter case ignored. `text` is used as given, spaces included. An empty text removes
// nothing: the command asks again rather than clearing the whole list on an empty answer.
int RemoveRowsByTitle(KeyedListModel& list, const QString& text, bool containing);

// The export: one line per row in list order, title + "-【" + type + "】" + status + CR LF.
QString SearchListExportText(const KeyedListModel& list);

// Writes `text` to `path` in GB18030 (WriteGb18030File), replacing an existing file. False
// when the file cannot be written completely, and for an empty text (there is nothing to
// export; the file is not touched).
bool WriteExportFile(const QString& path, const QString& text);

// The message after an export: "保存文件完毕：" + the size in KB ("#,##0.0": thousands
// separated by ",", one decimal, halves rounded away from zero) + "KB".
QString ExportDoneMessage(qint64 bytes);

// The size part of that message: 1536 bytes give "1.5", 1,234,567,890 give "1,205,632.7".
QString FormatKilobytes(qint64 bytes);

#include "core/download/ListCommands.h"

#include "core/app/FileHelpers.h"
#include "core/download/DownloadList.h"
#include "core/download/HostPacing.h"
#include "core/download/Naming.h"
#include "core/download/Scheduler.h"
#include "core/platform/KeyedListModel.h"

#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

namespace {

QString lowerType(const KeyedListModel& list, int position) {
    return list.SubItem(position, DownloadColumn::Type).toLower();
}

bool isFinalState(int state) {
    return state == ItemState::Completed || state == ItemState::Failed;
}

bool isHtmOrHtml(const QString& lower) {
    return lower == QLatin1String("htm") || lower == QLatin1String("html");
}

bool isWebPageOrXml(const QString& lower) {
    return isHtmOrHtml(lower) || lower == QLatin1String("xml");
}

void clearProgress(KeyedListModel& list, int position) {
    list.SetSubItem(position, DownloadColumn::Size, QString());
    list.SetSubItem(position, DownloadColumn::Received, QString());
    list.SetSubItem(position, DownloadColumn::Percent, QString());
}

// Sizes and percentages as the transfers write them: plain decimal digits. Eighteen digits
// keep any value within a 64-bit count and any width the padding needs.
bool isDigits(const QString& text) {
    if (text.isEmpty() || text.size() > 18)
        return false;
    return std::all_of(text.cbegin(), text.cend(),
                       [](QChar ch) { return ch >= QLatin1Char('0') && ch <= QLatin1Char('9'); });
}

QString withoutLeadingZeros(const QString& digits) {
    qsizetype first = 0;
    while (first + 1 < digits.size() && digits.at(first) == QLatin1Char('0'))
        ++first;
    return digits.mid(first);
}

// The number part of a count or percentage cell, or "" when the cell is no number.
QString numberPart(const QString& cell, bool percent) {
    QString digits = cell;
    if (percent && digits.endsWith(QLatin1Char('%')))
        digits.chop(1);
    return isDigits(digits) ? digits : QString();
}

// Sorts a column of counts by value through the list's text sort: every number is padded to
// one common width (twelve digits at least) so that text order is numeric order, and written
// back plainly afterwards.
void sortByValue(KeyedListModel& list, int column, Qt::SortOrder order, bool percent) {
    const int rows = list.Count();
    qsizetype width = 12;
    for (int position = 1; position <= rows; ++position)
        width = std::max(width, numberPart(list.SubItem(position, column), percent).size());

    for (int position = 1; position <= rows; ++position) {
        const QString digits = numberPart(list.SubItem(position, column), percent);
        if (!digits.isEmpty())
            list.SetSubItem(position, column, digits.rightJustified(width, QLatin1Char('0')));
    }
    list.SortByColumn(column, order);
    // Only the cells padded above are all digits of that width now.
    for (int position = 1; position <= rows; ++position) {
        const QString cell = list.SubItem(position, column);
        if (cell.size() != width || !isDigits(cell))
            continue;
        QString plain = withoutLeadingZeros(cell);
        if (percent)
            plain += QLatin1Char('%');
        list.SetSubItem(position, column, plain);
    }
}

// --- the plain-text editor of the desktop ---

// The values of one group of a desktop-entry style file ("[group]", "key=value").
QHash<QString, QString> readGroup(const QString& path, const QString& group) {
    QHash<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return values;
    QTextStream in(&file);
    bool inGroup = false;
    const QString header = QLatin1Char('[') + group + QLatin1Char(']');
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (inGroup)
                break;
            inGroup = line == header;
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!values.contains(key))
            values.insert(key, line.mid(equals + 1).trimmed());
    }
    return values;
}

// The words of an Exec value: blanks separate them, double quotes group them, and inside
// quotes a backslash takes the next character literally. nullopt for an unclosed quote.
std::optional<QStringList> execWords(const QString& exec) {
    QStringList words;
    QString word;
    bool quoted = false;
    bool haveWord = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar ch = exec.at(i);
        if (quoted) {
            if (ch == QLatin1Char('\\') && i + 1 < exec.size())
                word += exec.at(++i);
            else if (ch == QLatin1Char('"'))
                quoted = false;
            else
                word += ch;
        } else if (ch == QLatin1Char(' ') || ch == QLatin1Char('\t')) {
            if (haveWord)
                words << word;
            word.clear();
            haveWord = false;
        } else if (ch == QLatin1Char('"')) {
            quoted = true;
            haveWord = true;
        } else {
            word += ch;
            haveWord = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (haveWord)
        words << word;
    return words;
}

// The program of a desktop entry when it takes a file as its only argument; "" otherwise.
QString programOfEntry(const QString& desktopFile) {
    const QHash<QString, QString> entry = readGroup(desktopFile, QStringLiteral("Desktop Entry"));
    if (entry.isEmpty() || entry.value(QStringLiteral("Hidden")) == QLatin1String("true") ||
        entry.value(QStringLiteral("Terminal")) == QLatin1String("true"))
        return QString();
    const std::optional<QStringList> words = execWords(entry.value(QStringLiteral("Exec")));
    if (!words || words->isEmpty() || words->first().contains(QLatin1Char('%')))
        return QString();
    int fileCodes = 0;
    for (qsizetype i = 1; i < words->size(); ++i) {
        const QString& word = words->at(i);
        if (word == QLatin1String("%f") || word == QLatin1String("%F") ||
            word == QLatin1String("%u") || word == QLatin1String("%U"))
            ++fileCodes;
        else if (word != QLatin1String("%i") && word != QLatin1String("%c") &&
                 word != QLatin1String("%k"))
            return QString(); // a further argument cannot travel with the one file
    }
    return fileCodes == 1 ? words->first() : QString();
}

QString programOfFirstUsableEntry(const QString& listFile, const QString& group,
                                  const QStringList& applicationFolders) {
    const QString ids = readGroup(listFile, group).value(QStringLiteral("text/plain"));
    for (const QString& id : ids.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        for (const QString& folder : applicationFolders) {
            const QString desktopFile = folder + QLatin1Char('/') + id.trimmed();
            if (!QFile::exists(desktopFile))
                continue;
            const QString program = programOfEntry(desktopFile);
            if (!program.isEmpty())
                return program;
            break; // the first entry of that name hides the others
        }
    }
    return QString();
}

} // namespace

QString ItemFilePath(const KeyedListModel& list, int position) {
    const QString recorded = RowFilePath(list, position);
    if (!recorded.isEmpty())
        return recorded;
    return TargetFilePath(list.SubItem(position, DownloadColumn::Folder), list.Text(position),
                          list.SubItem(position, DownloadColumn::Type));
}

std::optional<double> ParseNumber(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void SortDownloadList(KeyedListModel& list, int column, Qt::SortOrder order) {
    if (column < 0 || column >= list.ColumnCount())
        return;
    if (column == DownloadColumn::Size || column == DownloadColumn::Received)
        sortByValue(list, column, order, false);
    else if (column == DownloadColumn::Percent)
        sortByValue(list, column, order, true);
    else
        list.SortByColumn(column, order);
}

int ShuffleRows(KeyedListModel& list, QRandomGenerator& random, int drawLimit) {
    struct Row {
        QString key;
        QStringList cells;
        QString tag;
        int state = 0;
    };
    const int rows = list.Count();
    const int columns = list.ColumnCount();
    const int draws = std::clamp(drawLimit, 0, rows);
    if (draws == 0)
        return 0;

    std::vector<Row> saved(static_cast<std::size_t>(rows));
    for (int position = 1; position <= rows; ++position) {
        Row& row = saved[static_cast<std::size_t>(position - 1)];
        row.key = list.Key(position);
        row.cells.reserve(columns);
        row.cells << list.Text(position);
        for (int n = 1; n < columns; ++n)
            row.cells << list.SubItem(position, n);
        row.tag = list.Tag(position);
        row.state = list.SmallIcon(position);
    }

    // Fisher-Yates over the rows not yet moved; the swap only reorders that pool, which is
    // as good as any order for a uniform draw.
    std::vector<int> pool(static_cast<std::size_t>(rows));
    std::iota(pool.begin(), pool.end(), 0);
    std::vector<int> movedInOrder;
    movedInOrder.reserve(static_cast<std::size_t>(draws));
    std::vector<char> moved(static_cast<std::size_t>(rows), 0);
    for (int draw = 0; draw < draws; ++draw) {
        const int remaining = rows - draw;
        std::uniform_int_distribution<int> pick(0, remaining - 1);
        const int at = pick(random);
        const int chosen = pool[static_cast<std::size_t>(at)];
        std::swap(pool[static_cast<std::size_t>(at)],
                  pool[static_cast<std::size_t>(remaining - 1)]);
        movedInOrder.push_back(chosen);
        moved[static_cast<std::size_t>(chosen)] = 1;
    }

    // Rows never drawn stay in front in their old order, the drawn ones follow as drawn.
    std::vector<int> order;
    order.reserve(static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        if (!moved[static_cast<std::size_t>(row)])
            order.push_back(row);
    }
    order.insert(order.end(), movedInOrder.begin(), movedInOrder.end());

    list.Clear();
    for (const int index : order) {
        Row& row = saved[static_cast<std::size_t>(index)];
        if (!list.Add(row.key, row.cells.at(0)))
            continue;
        const int position = list.Count();
        for (int n = 1; n < columns; ++n)
            list.SetSubItem(position, n, row.cells.at(n));
        list.SetTag(position, row.tag);
        list.SetSmallIcon(position, row.state);
    }
    return draws;
}

int RequeueSelectedRows(KeyedListModel& list) {
    int count = 0;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (!list.Selected(position) || !isFinalState(list.SmallIcon(position)))
            continue;
        RequeueItem(list, position, false);
        ++count;
    }
    return count;
}

int RequeueFailedAndWebPageRows(KeyedListModel& list) {
    int count = 0;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        const int state = list.SmallIcon(position);
        if (state != ItemState::Failed &&
            !(state == ItemState::Completed && isHtmOrHtml(lowerType(list, position))))
            continue;
        RequeueItem(list, position, false);
        ++count;
    }
    return count;
}

int RequeueRowsSmallerThan(KeyedListModel& list, double limit) {
    int count = 0;
    const int rows = list.Count();
    const auto number = [&](int position, int column) {
        return ParseNumber(list.SubItem(position, column).remove(QLatin1Char(',')));
    };
    for (int position = 1; position <= rows; ++position) {
        if (!isFinalState(list.SmallIcon(position)))
            continue;
        const std::optional<double> size = number(position, DownloadColumn::Size);
        const std::optional<double> received = number(position, DownloadColumn::Received);
        if (!size || !received || *size != *received ||
            !(static_cast<float>(*size) < static_cast<float>(limit)))
            continue;
        RequeueItem(list, position, false);
        ++count;
    }
    return count;
}

bool RequeueFailedRowKeepingType(KeyedListModel& list, int position) {
    if (list.SmallIcon(position) != ItemState::Failed)
        return false;
    // Its file, if it has one, stays until the new one replaces it.
    list.SetSmallIcon(position, ItemState::Waiting);
    clearProgress(list, position);
    SetRowFailureReason(list, position, QString());
    return true;
}

int RemoveFailedRows(KeyedListModel& list) {
    return list.RemoveWhere(
        [&list](int position) { return list.SmallIcon(position) == ItemState::Failed; });
}

int RemoveCompletedRows(KeyedListModel& list) {
    return list.RemoveWhere(
        [&list](int position) { return list.SmallIcon(position) == ItemState::Completed; });
}

int DeleteWebPageFiles(KeyedListModel& list) {
    int count = 0;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (!isFinalState(list.SmallIcon(position)) || !isWebPageOrXml(lowerType(list, position)))
            continue;
        clearProgress(list, position);
        DeleteItemFile(list, position);
        ++count;
    }
    return count;
}

int DeleteFailedFiles(KeyedListModel& list) {
    int count = 0;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (list.SmallIcon(position) != ItemState::Failed)
            continue;
        clearProgress(list, position);
        DeleteItemFile(list, position);
        ++count;
    }
    return count;
}

int MarkMissingFiles(KeyedListModel& list) {
    int count = 0;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        const QString path = ItemFilePath(list, position);
        if (!path.isEmpty() && FileExists(path))
            continue;
        list.SetSubItem(position, DownloadColumn::Received, QStringLiteral("不存在"));
        ++count;
    }
    return count;
}

int FailSelectedWaitingRows(KeyedListModel& list) {
    int count = 0;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (!list.Selected(position) || list.SmallIcon(position) != ItemState::Waiting)
            continue;
        list.SetSmallIcon(position, ItemState::Failed);
        ++count;
    }
    return count;
}

QString ExportNamesText(const KeyedListModel& list, bool unfinishedOnly) {
    QString text;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (unfinishedOnly && list.SmallIcon(position) == ItemState::Completed)
            continue;
        text += list.Text(position);
        text += QLatin1String("\r\n");
    }
    return text;
}

QString PlainTextEditorProgram(const QStringList& configFolders,
                               const QStringList& applicationFolders,
                               const QStringList& desktopNames) {
    QStringList lists;
    for (const QStringList* folders : {&configFolders, &applicationFolders}) {
        for (const QString& folder : *folders) {
            for (const QString& desktop : desktopNames)
                lists << folder + QLatin1Char('/') + desktop.toLower() +
                             QStringLiteral("-mimeapps.list");
            lists << folder + QStringLiteral("/mimeapps.list");
        }
    }
    for (const QString& list : lists) {
        const QString program = programOfFirstUsableEntry(
            list, QStringLiteral("Default Applications"), applicationFolders);
        if (!program.isEmpty())
            return program;
    }
    for (const QString& folder : applicationFolders) {
        const QString program =
            programOfFirstUsableEntry(folder + QStringLiteral("/mimeinfo.cache"),
                                      QStringLiteral("MIME Cache"), applicationFolders);
        if (!program.isEmpty())
            return program;
    }
    return QString();
}

QString PlainTextEditorProgram() {
    return PlainTextEditorProgram(
        QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation),
        QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation),
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts));
}

const QList<GuardedListCommand>& GuardedListCommands() {
    static const QString stopFirst = QStringLiteral("停止下载以后，才能执行此操作！");
    // Re-queueing and deleting files stay open while downloading: they only take rows that
    // are completed or failed, never one in work.
    static const QList<GuardedListCommand> commands = {
        {QStringLiteral("ListView3_ColumnClick"), QStringLiteral("停止下载后方可排序！")},
        {QStringLiteral("menu随机排序列表"), stopFirst},
        {QStringLiteral("menu清除选中项"), stopFirst},
        {QStringLiteral("menu清除全部出错项"), stopFirst},
        {QStringLiteral("menu清除完成项"), stopFirst},
        {QStringLiteral("menu清空"), stopFirst},
        {QStringLiteral("menu取消下载选中项"), QStringLiteral("停止下载后方可设置！"), true},
        // A replacement rewrites every row's key: a running transfer would lose its row.
        {QStringLiteral("menu批量替换网址"), stopFirst},
        {QStringLiteral("menu检查并纠正磁盘文件类型"), stopFirst},
    };
    return commands;
}

const GuardedListCommand* FindGuardedListCommand(const QString& command) {
    for (const GuardedListCommand& guarded : GuardedListCommands()) {
        if (guarded.command == command)
            return &guarded;
    }
    return nullptr;
}

int ResumeHeldSites(KeyedListModel& list, HostPacing& pacing) {
    const QStringList held = pacing.HeldHosts();
    if (held.isEmpty())
        return 0;
    for (const QString& host : held)
        pacing.Resume(host);
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (list.SmallIcon(position) == ItemState::Waiting &&
            RowFailureReason(list, position) == kSiteHeldReason &&
            held.contains(HostOfLink(list.Key(position))))
            SetRowFailureReason(list, position, QString());
    }
    return int(held.size());
}

#include "core/platform/KeyedListModel.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>

#include <algorithm>
#include <numeric>
#include <utility>

KeyedListModel::KeyedListModel(const QStringList& headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(headers.isEmpty() ? QStringList{QString()} : headers) {
    coalesce_.setSingleShot(true);
    coalesce_.setInterval(kRefreshIntervalMs);
    connect(&coalesce_, &QTimer::timeout, this, &KeyedListModel::flushChanges);
}

bool KeyedListModel::valid(int position) const {
    return position >= 1 && position <= static_cast<int>(rows_.size());
}

int KeyedListModel::Count() const {
    return static_cast<int>(rows_.size());
}

bool KeyedListModel::Add(const QString& key, const QString& text) {
    if (positionOfKey_.contains(key))
        return false;
    const int row = Count();
    beginInsertRows({}, row, row);
    Row added;
    added.key = key;
    added.cells.resize(headers_.size());
    added.cells[0] = text;
    rows_.push_back(std::move(added));
    positionOfKey_.insert(key, row);
    endInsertRows();
    return true;
}

bool KeyedListModel::Remove(int position) {
    if (!valid(position))
        return false;
    const int row = position - 1;
    beginRemoveRows({}, row, row);
    positionOfKey_.remove(rows_[row].key);
    if (rows_[row].selected)
        --selectedCount_;
    rows_.erase(rows_.begin() + row);
    staleFrom(row);
    forgetChangesFrom(row, 1);
    endRemoveRows();
    return true;
}

int KeyedListModel::RemoveWhere(const std::function<bool(int position)>& predicate) {
    // Decide first, then change the rows: the predicate reads the list as it was.
    std::vector<char> doomed(rows_.size(), 0);
    int removed = 0;
    int firstDoomed = -1;
    int lastDoomed = -1;
    for (int row = 0; row < Count(); ++row) {
        if (predicate(row + 1)) {
            doomed[row] = 1;
            ++removed;
            if (firstDoomed < 0)
                firstDoomed = row;
            lastDoomed = row;
        }
    }
    if (removed == 0)
        return 0;

    // One contiguous block keeps the views' scroll position and current row; scattered rows
    // would cost one notification each, so the views are reset once instead.
    const bool contiguous = lastDoomed - firstDoomed + 1 == removed;
    if (contiguous)
        beginRemoveRows({}, firstDoomed, lastDoomed);
    else
        beginResetModel();

    std::size_t kept = firstDoomed;
    for (std::size_t row = firstDoomed; row < rows_.size(); ++row) {
        if (doomed[row]) {
            if (rows_[row].selected)
                --selectedCount_;
            positionOfKey_.remove(rows_[row].key);
            continue;
        }
        if (kept != row)
            rows_[kept] = std::move(rows_[row]);
        ++kept;
    }
    rows_.resize(kept);
    staleFrom(firstDoomed);

    if (contiguous) {
        forgetChangesFrom(firstDoomed, removed);
        endRemoveRows();
    } else {
        // A reset makes the views read every visible row again.
        dirtyFirst_ = dirtyLast_ = -1;
        coalesce_.stop();
        endResetModel();
    }
    return removed;
}

void KeyedListModel::Clear() {
    beginResetModel();
    rows_.clear();
    positionOfKey_.clear();
    staleFrom_ = INT_MAX;
    selectedCount_ = 0;
    dirtyFirst_ = dirtyLast_ = -1;
    coalesce_.stop();
    endResetModel();
}

int KeyedListModel::PositionOfKey(const QString& key) const {
    auto it = positionOfKey_.constFind(key);
    if (it == positionOfKey_.cend())
        return 0;
    // Rows before the first removal since the last lookup have not moved.
    if (it.value() < staleFrom_)
        return it.value() + 1;
    catchUpIndex();
    it = positionOfKey_.constFind(key);
    return it == positionOfKey_.cend() ? 0 : it.value() + 1;
}

QString KeyedListModel::Key(int position) const {
    return valid(position) ? rows_[position - 1].key : QString();
}

bool KeyedListModel::SetKey(int position, const QString& key) {
    if (!valid(position))
        return false;
    Row& row = rows_[position - 1];
    if (row.key == key)
        return true;
    if (positionOfKey_.contains(key))
        return false;
    positionOfKey_.remove(row.key);
    row.key = key;
    positionOfKey_.insert(key, position - 1);
    return true;
}

QString KeyedListModel::Text(int position) const {
    return valid(position) ? rows_[position - 1].cells[0] : QString();
}

void KeyedListModel::SetText(int position, const QString& text) {
    setCell(position, 0, text);
}

QString KeyedListModel::HiddenValue(int position, int n) const {
    if (!valid(position) || n < 0)
        return QString();
    return rows_[position - 1].hidden.value(n);
}

void KeyedListModel::SetHiddenValue(int position, int n, const QString& value) {
    if (!valid(position) || n < 0)
        return;
    QStringList& hidden = rows_[position - 1].hidden;
    if (hidden.size() <= n) {
        if (value.isEmpty())
            return;
        hidden.resize(n + 1);
    }
    hidden[n] = value;
}

QStringList KeyedListModel::HiddenValues(int position) const {
    return valid(position) ? rows_[position - 1].hidden : QStringList();
}

QString KeyedListModel::SubItem(int position, int n) const {
    if (!valid(position) || n < 1 || n >= ColumnCount())
        return QString();
    return rows_[position - 1].cells[n];
}

void KeyedListModel::SetSubItem(int position, int n, const QString& text) {
    if (n < 1)
        return;
    setCell(position, n, text);
}

void KeyedListModel::setCell(int position, int column, const QString& text) {
    if (!valid(position) || column < 0 || column >= ColumnCount())
        return;
    QString& cell = rows_[position - 1].cells[column];
    // Transfers rewrite the same size and percentage many times a second; an unchanged
    // text need not repaint anything.
    if (cell == text)
        return;
    cell = text;
    markChanged(position - 1);
}

QString KeyedListModel::Tag(int position) const {
    return valid(position) ? rows_[position - 1].tag : QString();
}

void KeyedListModel::SetTag(int position, const QString& tag) {
    if (valid(position))
        rows_[position - 1].tag = tag;
}

int KeyedListModel::SmallIcon(int position) const {
    return valid(position) ? rows_[position - 1].smallIcon : 0;
}

void KeyedListModel::SetSmallIcon(int position, int icon) {
    if (!valid(position) || rows_[position - 1].smallIcon == icon)
        return;
    rows_[position - 1].smallIcon = icon;
    markChanged(position - 1);
}

bool KeyedListModel::Selected(int position) const {
    return valid(position) && rows_[position - 1].selected;
}

void KeyedListModel::SetSelected(int position, bool selected) {
    if (!valid(position))
        return;
    Row& row = rows_[position - 1];
    if (row.selected == selected)
        return;
    row.selected = selected;
    selectedCount_ += selected ? 1 : -1;
    Q_EMIT selectionFlagsChanged(position, position);
}

void KeyedListModel::SetSelectedRange(int first, int last, bool selected) {
    first = std::max(first, 1);
    last = std::min(last, Count());
    int changedFirst = 0;
    int changedLast = 0;
    for (int position = first; position <= last; ++position) {
        Row& row = rows_[position - 1];
        if (row.selected == selected)
            continue;
        row.selected = selected;
        selectedCount_ += selected ? 1 : -1;
        if (changedFirst == 0)
            changedFirst = position;
        changedLast = position;
    }
    if (changedFirst != 0)
        Q_EMIT selectionFlagsChanged(changedFirst, changedLast);
}

int KeyedListModel::SelectedItem() const {
    if (selectedCount_ == 0)
        return 0;
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        if (rows_[row].selected)
            return static_cast<int>(row) + 1;
    }
    return 0;
}

int KeyedListModel::SelectedCount() const {
    return selectedCount_;
}

void KeyedListModel::SelectAll(bool selected) {
    SetSelectedRange(1, Count(), selected);
}

KeyedListModel::RowFields KeyedListModel::Fields(int position) const {
    const Row& row = rows_[std::size_t(position - 1)];
    return {row.key, row.cells, row.hidden, row.tag, row.smallIcon};
}

int KeyedListModel::ColumnCount() const {
    return static_cast<int>(headers_.size());
}

QStringList KeyedListModel::Headers() const {
    return headers_;
}

void KeyedListModel::SortByColumn(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount() || rows_.size() < 2)
        return;

    // Collation keys are computed once per row: comparing through the locale's collator on
    // every comparison is far slower on long lists.
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(rows_.size());
    for (const Row& row : rows_)
        keys.push_back(collator.sortKey(row.cells[column].toCaseFolded()));

    std::vector<int> sequence(rows_.size());
    std::iota(sequence.begin(), sequence.end(), 0);
    std::stable_sort(sequence.begin(), sequence.end(), [&](int a, int b) {
        const int c = keys[a].compare(keys[b]);
        return order == Qt::AscendingOrder ? c < 0 : c > 0;
    });

    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    std::vector<int> newRowOf(rows_.size());
    std::vector<Row> sorted;
    sorted.reserve(rows_.size());
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        newRowOf[sequence[i]] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[sequence[i]]));
    }
    rows_ = std::move(sorted);
    rebuildIndex();

    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.append(index.isValid() ? createIndex(newRowOf[index.row()], index.column())
                                     : QModelIndex());
    changePersistentIndexList(before, after);

    // The views repaint every visible row after a layout change.
    dirtyFirst_ = dirtyLast_ = -1;
    coalesce_.stop();
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void KeyedListModel::Refresh() {
    coalesce_.stop();
    flushChanges();
}

void KeyedListModel::setIconProvider(IconProvider provider) {
    iconProvider_ = std::move(provider);
    if (!rows_.empty())
        Q_EMIT dataChanged(index(0, 0), index(Count() - 1, 0), {Qt::DecorationRole});
}

void KeyedListModel::markChanged(int row) {
    if (dirtyFirst_ < 0) {
        dirtyFirst_ = dirtyLast_ = row;
    } else {
        dirtyFirst_ = std::min(dirtyFirst_, row);
        dirtyLast_ = std::max(dirtyLast_, row);
    }
    // Not restarted by later changes: a steady stream of updates must still reach the
    // views every interval.
    if (!coalesce_.isActive())
        coalesce_.start();
}

void KeyedListModel::forgetChangesFrom(int row, int removedCount) {
    if (dirtyFirst_ < 0)
        return;
    // Maps the pending range onto the rows that survive the removal of [row, removedLast].
    const int removedLast = row + removedCount - 1;
    const bool firstRemoved = dirtyFirst_ >= row && dirtyFirst_ <= removedLast;
    const bool lastRemoved = dirtyLast_ >= row && dirtyLast_ <= removedLast;
    const int firstSurvivor = firstRemoved ? removedLast + 1 : dirtyFirst_;
    const int lastSurvivor = lastRemoved ? row - 1 : dirtyLast_;
    const auto shifted = [&](int old) {
        return old > removedLast ? old - removedCount : old;
    };
    if (firstSurvivor > dirtyLast_ || lastSurvivor < dirtyFirst_) {
        dirtyFirst_ = dirtyLast_ = -1;
        coalesce_.stop();
        return;
    }
    dirtyFirst_ = shifted(firstSurvivor);
    dirtyLast_ = shifted(lastSurvivor);
}

void KeyedListModel::flushChanges() {
    if (dirtyFirst_ < 0)
        return;
    const int first = dirtyFirst_;
    const int last = std::min(dirtyLast_, Count() - 1);
    dirtyFirst_ = dirtyLast_ = -1;
    if (first <= last)
        Q_EMIT dataChanged(index(first, 0), index(last, ColumnCount() - 1));
}

void KeyedListModel::staleFrom(int row) {
    if (row < Count())
        staleFrom_ = std::min(staleFrom_, row);
}

void KeyedListModel::catchUpIndex() const {
    for (int r = staleFrom_; r < Count(); ++r)
        positionOfKey_[rows_[r].key] = r;
    staleFrom_ = INT_MAX;
}

void KeyedListModel::rebuildIndex() {
    positionOfKey_.clear();
    positionOfKey_.reserve(Count());
    for (int r = 0; r < Count(); ++r)
        positionOfKey_.insert(rows_[r].key, r);
    staleFrom_ = INT_MAX;
}

int KeyedListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int KeyedListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount();
}

QVariant KeyedListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count() || index.column() >= ColumnCount())
        return {};
    const Row& row = rows_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return row.cells[index.column()];
    case Qt::DecorationRole:
        if (index.column() == 0 && row.smallIcon != 0 && iconProvider_)
            return iconProvider_(row.smallIcon);
        return {};
    case KeyRole:
        return row.key;
    case TagRole:
        return row.tag;
    case SmallIconRole:
        return row.smallIcon;
    default:
        return {};
    }
}

QVariant KeyedListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount())
        return headers_[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags KeyedListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Titles and links are not edited in place.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

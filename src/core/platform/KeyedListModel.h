#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <climits>
#include <functional>
#include <vector>

// The model behind every list of the program (search list, download list, cache lists).
// Rows carry the program's records, so this is part of the data model, not only a view.
//
// Positions are 1-based in this API, as the program's logic counts them; Qt's model
// interface underneath stays 0-based. Keys are unique and compared exactly (letter case
// counts: two links that differ in case may name different files on a server). Lookup by
// key is a hash lookup.
//
// Column 0 shows Text; column n (n >= 1) shows SubItem(n). Tag, SmallIcon and Selected are
// not columns.
class KeyedListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // Maps a SmallIcon index to what the view shows (a QIcon, supplied by the UI layer so
    // that this model needs no GUI module). Index 0 means no icon.
    using IconProvider = std::function<QVariant(int smallIcon)>;

    // Extra data roles, for delegates and proxies that want the row's record fields.
    enum Role { KeyRole = Qt::UserRole + 1, TagRole, SmallIconRole };

    // How long field changes are gathered before views hear of them.
    static constexpr int kRefreshIntervalMs = 250;

    explicit KeyedListModel(const QStringList& headers, QObject* parent = nullptr);

    // --- ListItems ---
    int Count() const;
    // Appends a row. False (and nothing changes) when the key is already in the list.
    bool Add(const QString& key, const QString& text);
    // Removes the row at `position`; false when there is none.
    bool Remove(int position);
    // Removes every row for which `predicate(position)` is true, in one linear pass, with a
    // single notification to views. Returns how many rows were removed. The predicate sees
    // the positions as they were before the call and must not change the list.
    int RemoveWhere(const std::function<bool(int position)>& predicate);
    void Clear();

    // 0 when the key is not in the list.
    int PositionOfKey(const QString& key) const;
    bool ContainsKey(const QString& key) const { return PositionOfKey(key) != 0; }

    // --- row fields; out-of-range positions read as empty and ignore writes ---
    QString Key(int position) const;
    // Changes a row's key; false when the new key belongs to another row.
    bool SetKey(int position, const QString& key);
    QString Text(int position) const;
    void SetText(int position, const QString& text);
    // Values a row carries that no column shows (where its file went, say), numbered from 0.
    // They travel with the row through sorting and removal; views never hear of them.
    QString HiddenValue(int position, int n) const;
    void SetHiddenValue(int position, int n, const QString& value);
    QStringList HiddenValues(int position) const;
    // n from 1 to ColumnCount() - 1.
    QString SubItem(int position, int n) const;
    void SetSubItem(int position, int n, const QString& text);
    QString Tag(int position) const;
    void SetTag(int position, const QString& tag);
    int SmallIcon(int position) const;
    void SetSmallIcon(int position, int icon);
    bool Selected(int position) const;
    void SetSelected(int position, bool selected);
    // Sets the flag of every row from `first` to `last` (clamped to the list), one signal.
    void SetSelectedRange(int first, int last, bool selected);

    // The first selected row, 0 when none is selected.
    int SelectedItem() const;
    int SelectedCount() const;
    void SelectAll(bool selected);

    int ColumnCount() const;
    QStringList Headers() const;

    // --- the download journal: whole rows read in place ---
    struct RowFields {
        const QString& key;
        const QStringList& cells; // cells[0] = Text, cells[n] = SubItem(n)
        const QStringList& hidden;
        const QString& tag;
        int smallIcon;
    };
    // The row at `position`, which must exist, without a copy of any text: a walk over every
    // row each second (the journal's) costs a pointer per field. A copy of `cells` or `hidden`
    // shares the row's list until the row changes. Valid until the list changes.
    RowFields Fields(int position) const;

    // Sorts once by one column's text (0 = Text, n = SubItem(n)); the order is not kept for
    // rows added later. Rows with equal text keep their order.
    void SortByColumn(int column, Qt::SortOrder order);

    // Pushes pending field changes to the views now instead of at the next coalescing tick.
    void Refresh();

    void setIconProvider(IconProvider provider);

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    // The Selected flags of the rows from `firstPosition` to `lastPosition` (1-based) may
    // have changed through this API; a view follows. Emitted also when a view itself wrote
    // the flags, so a view ignores the signals that its own writes cause.
    void selectionFlagsChanged(int firstPosition, int lastPosition);

private:
    struct Row {
        QString key;
        QStringList cells; // cells[0] = Text, cells[n] = SubItem(n)
        QStringList hidden;
        QString tag;
        int smallIcon = 0;
        bool selected = false;
    };

    bool valid(int position) const;
    void setCell(int position, int column, const QString& text);
    void markChanged(int row);
    void forgetChangesFrom(int row, int removedCount);
    void flushChanges();
    void staleFrom(int row);
    void catchUpIndex() const;
    void rebuildIndex();

    QStringList headers_;
    std::vector<Row> rows_;
    // 0-based row index. Entries for rows from staleFrom_ on may be out of date after a
    // removal and are brought up to date at the next lookup that needs one, so that a walk
    // removing rows one by one does not renumber the rest of the list each time.
    mutable QHash<QString, int> positionOfKey_;
    mutable int staleFrom_ = INT_MAX;
    int selectedCount_ = 0;
    IconProvider iconProvider_;
    // Field changes are reported to views in batches, a few times a second, so that fast
    // transfers do not flood the user-interface thread with repaints.
    QTimer coalesce_;
    int dirtyFirst_ = -1;
    int dirtyLast_ = -1;
};

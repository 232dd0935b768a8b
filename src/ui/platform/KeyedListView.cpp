#include "ui/platform/KeyedListView.h"

#include "core/platform/KeyedListModel.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Flags changed on more rows than this are mirrored by rebuilding the whole selection,
// which costs one pass over the list instead of one merge per run of rows.
constexpr int kRangeSyncLimit = 64;

// Gives every row the list's fixed height: a uniform-height tree view takes its row height
// from the first row's size hint.
class FixedHeightDelegate : public QStyledItemDelegate {
public:
    explicit FixedHeightDelegate(const int* rowHeight, QObject* parent)
        : QStyledItemDelegate(parent), rowHeight_(rowHeight) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        if (*rowHeight_ > 0)
            size.setHeight(*rowHeight_);
        return size;
    }

    // Nothing in these lists is edited in place, whatever triggers are set.
    QWidget* createEditor(QWidget*, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        return nullptr;
    }

private:
    const int* rowHeight_;
};

} // namespace

KeyedListView::KeyedListView(QWidget* parent) : QTreeView(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    // The last column takes what the others leave free: a failed row's reason is read there,
    // and was cut to a few characters beside an empty rest of the row.
    header()->setStretchLastSection(true);
    header()->setSectionsMovable(false);
    setItemDelegate(new FixedHeightDelegate(&rowHeight_, this));

    pendingSync_.setSingleShot(true);
    pendingSync_.setInterval(0);
    connect(&pendingSync_, &QTimer::timeout, this, &KeyedListView::ApplyModelSelection);
}

void KeyedListView::setModel(QAbstractItemModel* model) {
    auto* keyed = qobject_cast<KeyedListModel*>(model);
    if (model != nullptr && keyed == nullptr)
        return;
    for (const auto& connection : modelConnections_)
        disconnect(connection);
    modelConnections_.clear();
    pendingFirst_ = pendingLast_ = -1;
    pendingSync_.stop();

    listModel_ = keyed;
    QTreeView::setModel(model);
    if (listModel_ == nullptr)
        return;

    modelConnections_ << connect(listModel_, &KeyedListModel::selectionFlagsChanged, this,
                                 &KeyedListView::onModelFlagsChanged);
    // After a reset or a sort the view's selection is rebuilt from the flags, which moved
    // with their rows.
    modelConnections_ << connect(listModel_, &QAbstractItemModel::modelReset, this,
                                 &KeyedListView::syncWholeSelectionFromModel);
    modelConnections_ << connect(listModel_, &QAbstractItemModel::layoutChanged, this,
                                 &KeyedListView::syncWholeSelectionFromModel);
    modelConnections_ << connect(listModel_, &QAbstractItemModel::rowsRemoved, this, [this] {
        // Pending rows were counted before the removal; mirror the whole list instead.
        if (pendingFirst_ >= 0) {
            pendingFirst_ = 0;
            pendingLast_ = std::numeric_limits<int>::max();
        }
    });
    syncWholeSelectionFromModel();
}

void KeyedListView::setSelectionModel(QItemSelectionModel* selectionModel) {
    disconnect(selectionConnection_);
    QTreeView::setSelectionModel(selectionModel);
    if (this->selectionModel() != nullptr)
        selectionConnection_ =
            connect(this->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                    &KeyedListView::onViewSelectionChanged);
}

void KeyedListView::SetRowHeight(int pixels) {
    rowHeight_ = std::max(pixels, 0);
    // The uniform row height is measured again at the next layout.
    scheduleDelayedItemsLayout();
    viewport()->update();
}

int KeyedListView::RowHeight() const {
    if (rowHeight_ > 0)
        return rowHeight_;
    if (model() != nullptr && model()->rowCount() > 0)
        return visualRect(model()->index(0, 0)).height();
    return 0;
}

void KeyedListView::SetStripes(const QColor& firstRow, const QColor& secondRow) {
    stripes_ = true;
    firstStripe_ = firstRow;
    secondStripe_ = secondRow;
    // The style's own alternate rows would paint over the bands.
    setAlternatingRowColors(false);
    viewport()->update();
}

void KeyedListView::ClearStripes() {
    stripes_ = false;
    viewport()->update();
}

void KeyedListView::EnsureVisible(int position) {
    if (model() == nullptr || position < 1 || position > model()->rowCount())
        return;
    scrollTo(model()->index(position - 1, 0), QAbstractItemView::EnsureVisible);
}

int KeyedListView::PositionAt(const QPoint& viewportPoint) const {
    const QModelIndex index = indexAt(viewportPoint);
    return index.isValid() ? index.row() + 1 : 0;
}

void KeyedListView::onViewSelectionChanged(const QItemSelection& selected,
                                           const QItemSelection& deselected) {
    if (writingToView_ || listModel_ == nullptr)
        return;
    writingToModel_ = true;
    // Deselections first: a row that is in both lists ends up selected.
    for (const QItemSelectionRange& range : deselected)
        listModel_->SetSelectedRange(range.top() + 1, range.bottom() + 1, false);
    for (const QItemSelectionRange& range : selected)
        listModel_->SetSelectedRange(range.top() + 1, range.bottom() + 1, true);
    writingToModel_ = false;
}

void KeyedListView::onModelFlagsChanged(int firstPosition, int lastPosition) {
    if (writingToModel_)
        return;
    const int first = firstPosition - 1;
    const int last = lastPosition - 1;
    if (pendingFirst_ < 0) {
        pendingFirst_ = first;
        pendingLast_ = last;
    } else {
        pendingFirst_ = std::min(pendingFirst_, first);
        pendingLast_ = std::max(pendingLast_, last);
    }
    if (!pendingSync_.isActive())
        pendingSync_.start();
}

void KeyedListView::ApplyModelSelection() {
    pendingSync_.stop();
    if (pendingFirst_ < 0 || listModel_ == nullptr)
        return;
    const int first = pendingFirst_;
    const int last = std::min(pendingLast_, listModel_->Count() - 1);
    pendingFirst_ = pendingLast_ = -1;
    if (first > last)
        return;
    if (last - first + 1 > kRangeSyncLimit)
        syncWholeSelectionFromModel();
    else
        syncRangeFromModel(first, last);
}

// The model's selected rows between two rows (0-based, inclusive) as whole-row ranges, one
// per run of adjacent rows.
QItemSelection KeyedListView::selectedRuns(int firstRow, int lastRow) const {
    const int lastColumn = std::max(listModel_->ColumnCount() - 1, 0);
    QItemSelection runs;
    for (int row = firstRow; row <= lastRow;) {
        if (!listModel_->Selected(row + 1)) {
            ++row;
            continue;
        }
        int end = row;
        while (end + 1 <= lastRow && listModel_->Selected(end + 2))
            ++end;
        runs.append(
            QItemSelectionRange(listModel_->index(row, 0), listModel_->index(end, lastColumn)));
        row = end + 1;
    }
    return runs;
}

void KeyedListView::syncWholeSelectionFromModel() {
    pendingFirst_ = pendingLast_ = -1;
    pendingSync_.stop();
    QItemSelectionModel* selection = selectionModel();
    if (listModel_ == nullptr || selection == nullptr)
        return;
    const QItemSelection runs = listModel_->SelectedCount() > 0
                                    ? selectedRuns(0, listModel_->Count() - 1)
                                    : QItemSelection();
    writingToView_ = true;
    {
        // The view's own reaction to selection signals locates every range row by row,
        // which is far too slow for long scattered selections; one repaint serves instead.
        // Clearing first keeps the selection model from comparing two long selections.
        const QSignalBlocker quiet(selection);
        selection->clearSelection();
        if (!runs.isEmpty())
            selection->select(runs, QItemSelectionModel::Select);
    }
    writingToView_ = false;
    viewport()->update();
}

void KeyedListView::syncRangeFromModel(int firstRow, int lastRow) {
    QItemSelectionModel* selection = selectionModel();
    if (selection == nullptr)
        return;
    const int lastColumn = std::max(listModel_->ColumnCount() - 1, 0);
    const QItemSelection runs = selectedRuns(firstRow, lastRow);
    writingToView_ = true;
    {
        const QSignalBlocker quiet(selection);
        selection->select(
            QItemSelection(listModel_->index(firstRow, 0), listModel_->index(lastRow, lastColumn)),
            QItemSelectionModel::Deselect);
        if (!runs.isEmpty())
            selection->select(runs, QItemSelectionModel::Select);
    }
    writingToView_ = false;
    viewport()->update();
}

void KeyedListView::clearIfScattered() const {
    // Qt's selection model compares the old and the new selection range by range against
    // each other; replacing a selection of tens of thousands of separate rows that way takes
    // seconds. Emptying it first gives the same result through its fast path.
    QItemSelectionModel* selection = selectionModel();
    if (selection != nullptr && selection->selection().size() > kRangeSyncLimit)
        selection->clearSelection();
}

void KeyedListView::selectAll() {
    clearIfScattered();
    QTreeView::selectAll();
}

QItemSelectionModel::SelectionFlags KeyedListView::selectionCommand(const QModelIndex& index,
                                                                    const QEvent* event) const {
    QItemSelectionModel::SelectionFlags command = QTreeView::selectionCommand(index, event);
    // Shift without Ctrl selects from the anchor to the row and nothing else, as in the
    // desktop's own lists; Qt would keep rows picked earlier with Ctrl as well.
    const auto* input = dynamic_cast<const QInputEvent*>(event);
    const Qt::KeyboardModifiers modifiers =
        input != nullptr ? input->modifiers() : QGuiApplication::keyboardModifiers();
    if (selectionMode() == QAbstractItemView::ExtendedSelection &&
        command.testFlag(QItemSelectionModel::Current) &&
        command.testFlag(QItemSelectionModel::Select) && modifiers.testFlag(Qt::ShiftModifier) &&
        !modifiers.testFlag(Qt::ControlModifier))
        command |= QItemSelectionModel::Clear;
    if (command.testFlag(QItemSelectionModel::Clear))
        clearIfScattered();
    return command;
}

void KeyedListView::selectionChanged(const QItemSelection& selected,
                                     const QItemSelection& deselected) {
    // The tree view works out the area to repaint range by range, locating each range's rows
    // one at a time; on a long scattered selection that takes seconds. Repainting what is
    // visible is cheap whatever the selection.
    if (selected.size() + deselected.size() > kRangeSyncLimit) {
        viewport()->update();
        return;
    }
    QTreeView::selectionChanged(selected, deselected);
}

void KeyedListView::paintStripes() {
    int top = 0;
    int height = rowHeight_;
    if (model() != nullptr && model()->rowCount() > 0) {
        const QRect first = visualRect(model()->index(0, 0));
        top = first.top();
        height = first.height();
    }
    if (height <= 0)
        height = fontMetrics().height();
    if (height <= 0)
        return;

    QPainter painter(viewport());
    const QRect area = viewport()->rect();
    // Bands are counted from the first row, wherever the list is scrolled to.
    int band = static_cast<int>(std::floor(static_cast<double>(area.top() - top) / height));
    for (int y = top + band * height; y <= area.bottom(); y += height, ++band)
        painter.fillRect(QRect(area.left(), y, area.width(), height),
                         (band % 2 == 0) ? firstStripe_ : secondStripe_);
}

void KeyedListView::paintEvent(QPaintEvent* event) {
    if (stripes_)
        paintStripes();
    QTreeView::paintEvent(event);
}

void KeyedListView::mousePressEvent(QMouseEvent* event) {
    // A click must act on what the user sees, including flags set a moment ago.
    ApplyModelSelection();
    QTreeView::mousePressEvent(event);
    if (event->button() == Qt::RightButton)
        Q_EMIT rightClicked(PositionAt(event->position().toPoint()),
                            event->globalPosition().toPoint());
}

void KeyedListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        const int position = PositionAt(event->position().toPoint());
        if (position != 0)
            Q_EMIT rowDoubleClicked(position);
    }
}

void KeyedListView::keyPressEvent(QKeyEvent* event) {
    ApplyModelSelection();
    QTreeView::keyPressEvent(event);
}

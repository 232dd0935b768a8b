#pragma once

#include "core/platform/KeyedListModel.h"

#include <QColor>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QTreeView>

class QPaintEvent;
class QMouseEvent;
class QKeyEvent;

// A report-style list over a KeyedListModel: whole rows, several rows selectable, nothing
// edited in place, all rows of one height.
//
// The rows' Selected flags live in the model so that the program's logic works without a
// view; this view mirrors them both ways. Selections made here are written to the model at
// once; flags written through the model reach this view on the next pass of the event loop
// (or at once through ApplyModelSelection()), so that a loop setting many flags costs one
// update of the view instead of one per row.
class KeyedListView : public QTreeView {
    Q_OBJECT

public:
    explicit KeyedListView(QWidget* parent = nullptr);

    // Attaches the list's model (nullptr detaches). Any other model is refused.
    void setModel(QAbstractItemModel* model) override;
    void setSelectionModel(QItemSelectionModel* selectionModel) override;
    KeyedListModel* listModel() const { return listModel_; }

    // Row height in pixels; 0 leaves it to the font.
    void SetRowHeight(int pixels);
    int RowHeight() const;

    // Paints the background in bands one row high, the first row in `firstRow`, the second
    // in `secondRow`, and so on, also below the last row.
    void SetStripes(const QColor& firstRow, const QColor& secondRow);
    void ClearStripes();
    bool HasStripes() const { return stripes_; }

    // Scrolls so that the row at `position` (1-based) is visible.
    void EnsureVisible(int position);
    // The row under a point of the viewport, 0 when there is none.
    int PositionAt(const QPoint& viewportPoint) const;

    // Brings this view's selection in line with the model's Selected flags now.
    void ApplyModelSelection();

    void selectAll() override;

Q_SIGNALS:
    // Right mouse button pressed over the list (for pop-up menus); position 0 = no row.
    void rightClicked(int position, const QPoint& globalPos);
    void rowDoubleClicked(int position);

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onViewSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void onModelFlagsChanged(int firstPosition, int lastPosition);
    QItemSelection selectedRuns(int firstRow, int lastRow) const;
    void syncWholeSelectionFromModel();
    void clearIfScattered() const;
    void syncRangeFromModel(int firstRow, int lastRow);
    void paintStripes();

    // Guarded: the model may be destroyed before the view.
    QPointer<KeyedListModel> listModel_;
    QList<QMetaObject::Connection> modelConnections_;
    QMetaObject::Connection selectionConnection_;
    int rowHeight_ = 0;
    bool stripes_ = false;
    QColor firstStripe_;
    QColor secondStripe_;
    // Loop guards between the two directions of the selection mirror.
    bool writingToModel_ = false;
    bool writingToView_ = false;
    // Model rows whose flags changed and are not yet shown (0-based, -1 = none).
    int pendingFirst_ = -1;
    int pendingLast_ = -1;
    QTimer pendingSync_;
};

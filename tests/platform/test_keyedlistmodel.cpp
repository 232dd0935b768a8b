#include "core/platform/KeyedListModel.h"

#include "TestEnvironment.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

namespace {

const QStringList kHeaders{"标题", "类型", "分析状态", "保存路径"};

// Every row is found again by its own key, and nothing else is found.
void verifyIndex(const KeyedListModel& model, const QStringList& goneKeys = {}) {
    for (int position = 1; position <= model.Count(); ++position)
        QCOMPARE(model.PositionOfKey(model.Key(position)), position);
    for (const QString& key : goneKeys)
        QCOMPARE(model.PositionOfKey(key), 0);
}

void addRows(KeyedListModel& model, int count, const QString& prefix = "k") {
    for (int i = 1; i <= count; ++i)
        QVERIFY(model.Add(prefix + QString::number(i), "t" + QString::number(i)));
}

QStringList keys(const KeyedListModel& model) {
    QStringList result;
    for (int position = 1; position <= model.Count(); ++position)
        result << model.Key(position);
    return result;
}

} // namespace

class KeyedListModelTest : public QObject {
    Q_OBJECT

private slots:
    void duplicateKeyIsRefusedAndOriginalKept() {
        KeyedListModel model(kHeaders);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.Add("http://a/1.pdf", "First title"));
        model.SetSubItem(1, 1, "pdf");
        model.SetSubItem(1, 3, "/save/one/");
        model.SetTag(1, "page1");

        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QVERIFY(!model.Add("http://a/1.pdf", "Second title"));
        QCOMPARE(inserted.count(), 0);
        QCOMPARE(model.Count(), 1);
        QCOMPARE(model.Text(1), QString("First title"));
        QCOMPARE(model.SubItem(1, 1), QString("pdf"));
        QCOMPARE(model.SubItem(1, 3), QString("/save/one/"));
        QCOMPARE(model.Tag(1), QString("page1"));

        // Letter case makes a different key.
        QVERIFY(model.Add("http://a/1.PDF", "Other"));
        QCOMPARE(model.Count(), 2);
    }

    void positionsAndLookupAfterRemove() {
        KeyedListModel model(kHeaders);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        addRows(model, 5);
        QVERIFY(model.Remove(2));
        QCOMPARE(keys(model), QStringList({"k1", "k3", "k4", "k5"}));
        QCOMPARE(model.Text(2), QString("t3"));
        verifyIndex(model, {"k2"});

        QVERIFY(!model.Remove(0));
        QVERIFY(!model.Remove(5));
        QVERIFY(model.Remove(4));
        QVERIFY(model.Remove(1));
        QCOMPARE(keys(model), QStringList({"k3", "k4"}));
        verifyIndex(model, {"k1", "k2", "k5"});

        // A removed key may be added again, at the end.
        QVERIFY(model.Add("k1", "again"));
        QCOMPARE(model.PositionOfKey("k1"), 3);
    }

    void lookupsBetweenRemovalsMatchAReferenceList() {
        KeyedListModel model(kHeaders);
        addRows(model, 60);
        QStringList reference = keys(model);
        // Removals at varying places with lookups of rows before, at and after each one.
        const QList<int> removals{30, 10, 10, 45, 1, 20, 44, 2, 25};
        for (int position : removals) {
            QVERIFY(model.Remove(position));
            const QString gone = reference.takeAt(position - 1);
            QCOMPARE(model.PositionOfKey(gone), 0);
            for (int probe : {1, position - 1, position, position + 1, int(reference.size())}) {
                if (probe >= 1 && probe <= reference.size())
                    QCOMPARE(model.PositionOfKey(reference[probe - 1]), probe);
            }
            QVERIFY(model.Add(gone + "x", "re-added"));
            reference << gone + "x";
            QCOMPARE(model.PositionOfKey(gone + "x"), int(reference.size()));
        }
        QCOMPARE(keys(model), reference);
        verifyIndex(model);
    }

    void removeWhere_data() {
        QTest::addColumn<QList<int>>("doomed");
        QTest::addColumn<bool>("expectReset");
        QTest::newRow("is one block removed as rows?") << QList<int>{3, 4, 5} << false;
        QTest::newRow("are scattered rows removed with one reset?") << QList<int>{1, 4, 8} << true;
        QTest::newRow("is every row removable?")
            << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10} << false;
        QTest::newRow("does removing nothing notify nothing?") << QList<int>{} << false;
    }

    void removeWhere() {
        QFETCH(QList<int>, doomed);
        QFETCH(bool, expectReset);
        KeyedListModel model(kHeaders);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        addRows(model, 10);
        for (int position : doomed)
            model.SetSelected(position, true);
        model.SetSelected(2, true);
        const int survivorsSelected = doomed.contains(2) ? 0 : 1;

        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QStringList seen;
        const int count = model.RemoveWhere([&](int position) {
            seen << model.Key(position);
            return doomed.contains(position);
        });
        QCOMPARE(count, doomed.size());
        QCOMPARE(seen.size(), 10); // the predicate saw every row once, in order
        QCOMPARE(seen.first(), QString("k1"));
        QCOMPARE(removed.count() + reset.count(), doomed.isEmpty() ? 0 : 1);
        QCOMPARE(reset.count(), expectReset ? 1 : 0);

        QStringList gone;
        QStringList expected;
        for (int i = 1; i <= 10; ++i)
            (doomed.contains(i) ? gone : expected) << "k" + QString::number(i);
        QCOMPARE(keys(model), expected);
        verifyIndex(model, gone);
        QCOMPARE(model.SelectedCount(), survivorsSelected);
    }

    void lookupAfterSetKeyAndClear() {
        KeyedListModel model(kHeaders);
        addRows(model, 3);
        QVERIFY(model.SetKey(2, "renamed"));
        QCOMPARE(model.Key(2), QString("renamed"));
        verifyIndex(model, {"k2"});
        QVERIFY(!model.SetKey(1, "k3")); // belongs to row 3
        QCOMPARE(model.Key(1), QString("k1"));
        QVERIFY(model.SetKey(3, "k3")); // its own key
        QVERIFY(!model.SetKey(4, "nowhere"));
        verifyIndex(model);

        model.Clear();
        QCOMPARE(model.Count(), 0);
        verifyIndex(model, {"k1", "renamed", "k3"});
        QVERIFY(model.Add("k1", "fresh"));
    }

    void fieldBounds_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("n");
        QTest::newRow("is SubItem(0) outside the sub-items?") << 1 << 0;
        QTest::newRow("is the column past the last one ignored?") << 1 << 4;
        QTest::newRow("is a negative sub-item ignored?") << 1 << -1;
        QTest::newRow("is position 0 ignored?") << 0 << 1;
        QTest::newRow("is a position past the end ignored?") << 3 << 1;
    }

    void fieldBounds() {
        QFETCH(int, position);
        QFETCH(int, n);
        KeyedListModel model(kHeaders);
        addRows(model, 2);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.SetSubItem(position, n, "written");
        model.Refresh();
        QCOMPARE(changed.count(), 0);
        QCOMPARE(model.SubItem(position, n), QString());
        QCOMPARE(model.Text(1), QString("t1"));
        QCOMPARE(model.Text(2), QString("t2"));
        for (int column = 1; column < model.ColumnCount(); ++column) {
            QCOMPARE(model.SubItem(1, column), QString());
            QCOMPARE(model.SubItem(2, column), QString());
        }
    }

    void selectedItem_data() {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("expected");
        QTest::newRow("is nothing selected 0?") << QList<int>{} << 0;
        QTest::newRow("is one row its position?") << QList<int>{4} << 4;
        QTest::newRow("are many rows the first of them?") << QList<int>{5, 2, 3} << 2;
    }

    void selectedItem() {
        QFETCH(QList<int>, selected);
        QFETCH(int, expected);
        KeyedListModel model(kHeaders);
        addRows(model, 5);
        for (int position : selected)
            model.SetSelected(position, true);
        QCOMPARE(model.SelectedItem(), expected);
        QCOMPARE(model.SelectedCount(), selected.size());
    }

    void selectionFlagsSignal() {
        KeyedListModel model(kHeaders);
        addRows(model, 10);
        QSignalSpy flags(&model, &KeyedListModel::selectionFlagsChanged);
        model.SetSelected(3, true);
        model.SetSelected(3, true); // no change, no signal
        model.SetSelected(11, true);
        QCOMPARE(flags.count(), 1);
        QCOMPARE(flags.at(0).at(0).toInt(), 3);
        QCOMPARE(flags.at(0).at(1).toInt(), 3);

        model.SelectAll(true);
        QCOMPARE(flags.count(), 2);
        QCOMPARE(flags.at(1).at(0).toInt(), 1); // row 3 was already selected
        QCOMPARE(flags.at(1).at(1).toInt(), 10);
        QCOMPARE(model.SelectedCount(), 10);

        model.SetSelectedRange(-5, 4, false);
        QCOMPARE(flags.count(), 3);
        QCOMPARE(model.SelectedCount(), 6);
        QCOMPARE(model.SelectedItem(), 5);
        model.SelectAll(false);
        QCOMPARE(model.SelectedCount(), 0);
        QCOMPARE(model.SelectedItem(), 0);
    }

    void sortByColumn_data() {
        QTest::addColumn<int>("order");
        QTest::addColumn<QStringList>("expectedKeys");
        // Column 2 texts of k1..k5: "charlie", "Alpha", "beta", "alpha", "Delta"
        QTest::newRow("ascending, letter case ignored, ties kept in order?")
            << int(Qt::AscendingOrder) << QStringList{"k2", "k4", "k3", "k1", "k5"};
        QTest::newRow("descending?")
            << int(Qt::DescendingOrder) << QStringList{"k5", "k1", "k3", "k2", "k4"};
    }

    void sortByColumn() {
        QFETCH(int, order);
        QFETCH(QStringList, expectedKeys);
        KeyedListModel model(kHeaders);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        addRows(model, 5);
        const QStringList status{"charlie", "Alpha", "beta", "alpha", "Delta"};
        for (int i = 0; i < status.size(); ++i) {
            model.SetSubItem(i + 1, 2, status[i]);
            model.SetTag(i + 1, "tag" + QString::number(i + 1));
        }
        model.SetSelected(3, true);
        const QPersistentModelIndex followed = model.index(2, 1); // row of k3

        model.SortByColumn(2, Qt::SortOrder(order));
        QCOMPARE(keys(model), expectedKeys);
        verifyIndex(model);
        // The whole record moved with its key.
        const int k3 = model.PositionOfKey("k3");
        QCOMPARE(model.Text(k3), QString("t3"));
        QCOMPARE(model.Tag(k3), QString("tag3"));
        QCOMPARE(model.SubItem(k3, 2), QString("beta"));
        QVERIFY(model.Selected(k3));
        QCOMPARE(model.SelectedItem(), k3);
        QCOMPARE(followed.row(), k3 - 1);
        QCOMPARE(followed.column(), 1);

        // The order is not kept: later rows go to the end.
        QVERIFY(model.Add("k0", "aaa first by text"));
        QCOMPARE(model.Key(6), QString("k0"));
    }

    void sortIgnoresBadColumn() {
        KeyedListModel model(kHeaders);
        addRows(model, 3);
        model.SortByColumn(4, Qt::DescendingOrder);
        model.SortByColumn(-1, Qt::DescendingOrder);
        QCOMPARE(keys(model), QStringList({"k1", "k2", "k3"}));
        model.SortByColumn(0, Qt::DescendingOrder);
        QCOMPARE(keys(model), QStringList({"k3", "k2", "k1"}));
    }

    void fieldChangesAreCoalesced() {
        KeyedListModel model(kHeaders);
        addRows(model, 50);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        for (int i = 0; i < 1000; ++i)
            model.SetSubItem(i % 50 + 1, 2, QString::number(i) + "%");
        QCOMPARE(changed.count(), 0);
        QVERIFY(changed.wait(5 * KeyedListModel::kRefreshIntervalMs));
        QCOMPARE(changed.count(), 1);
        const QModelIndex topLeft = changed.at(0).at(0).value<QModelIndex>();
        const QModelIndex bottomRight = changed.at(0).at(1).value<QModelIndex>();
        QCOMPARE(topLeft.row(), 0);
        QCOMPARE(bottomRight.row(), 49);
        QVERIFY(topLeft.column() <= 2 && bottomRight.column() >= 2);
        QCOMPARE(model.SubItem(50, 2), QString("999%"));

        // Nothing more is pending; rewriting the same text is no change at all.
        model.SetSubItem(50, 2, "999%");
        QVERIFY(!changed.wait(3 * KeyedListModel::kRefreshIntervalMs));
        QCOMPARE(changed.count(), 1);
    }

    void refreshFlushesAtOnce() {
        KeyedListModel model(kHeaders);
        addRows(model, 10);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.SetText(7, "new title");
        model.SetSmallIcon(4, 3);
        model.SetTag(9, "no column shows the tag");
        model.Refresh();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<QModelIndex>().row(), 3);
        QCOMPARE(changed.at(0).at(1).value<QModelIndex>().row(), 6);
        model.Refresh();
        QCOMPARE(changed.count(), 1);
        QVERIFY(!changed.wait(3 * KeyedListModel::kRefreshIntervalMs));
    }

    void pendingChangesFollowRemovals_data() {
        QTest::addColumn<QList<int>>("changed");
        QTest::addColumn<int>("removed");
        QTest::addColumn<int>("expectedFirst"); // 0-based rows; -1 = nothing reported
        QTest::addColumn<int>("expectedLast");
        QTest::newRow("does a row above shift the range?") << QList<int>{5, 7} << 2 << 3 << 5;
        QTest::newRow("does a row below leave it?") << QList<int>{5, 7} << 9 << 4 << 6;
        QTest::newRow("does removing the only changed row drop it?")
            << QList<int>{5} << 5 << -1 << -1;
        QTest::newRow("does removing the first changed row shrink it?")
            << QList<int>{5, 7} << 5 << 4 << 5;
        QTest::newRow("does removing the last changed row shrink it?")
            << QList<int>{5, 7} << 7 << 4 << 5;
    }

    void pendingChangesFollowRemovals() {
        QFETCH(QList<int>, changed);
        QFETCH(int, removed);
        QFETCH(int, expectedFirst);
        QFETCH(int, expectedLast);
        KeyedListModel model(kHeaders);
        addRows(model, 10);
        QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
        for (int position : changed)
            model.SetSubItem(position, 1, "changed");
        QVERIFY(model.Remove(removed));
        model.Refresh();
        if (expectedFirst < 0) {
            QCOMPARE(spy.count(), 0);
            return;
        }
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<QModelIndex>().row(), expectedFirst);
        QCOMPARE(spy.at(0).at(1).value<QModelIndex>().row(), expectedLast);
    }

    void noEditingAndIconRole() {
        KeyedListModel model(kHeaders);
        addRows(model, 2);
        const QModelIndex cell = model.index(0, 0);
        QVERIFY(!(model.flags(cell) & Qt::ItemIsEditable));
        QVERIFY(model.flags(cell) & Qt::ItemIsSelectable);
        QVERIFY(!model.setData(cell, "edited"));
        QCOMPARE(model.Text(1), QString("t1"));

        model.SetSmallIcon(1, 2);
        QVERIFY(!model.data(cell, Qt::DecorationRole).isValid()); // no provider yet
        model.setIconProvider([](int icon) { return QVariant(QString("icon%1").arg(icon)); });
        QCOMPARE(model.data(cell, Qt::DecorationRole).toString(), QString("icon2"));
        QVERIFY(!model.data(model.index(0, 1), Qt::DecorationRole).isValid());
        QVERIFY(!model.data(model.index(1, 0), Qt::DecorationRole).isValid()); // icon 0
        QCOMPARE(model.data(cell, KeyedListModel::KeyRole).toString(), QString("k1"));
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QString("分析状态"));
    }
};

QF_TEST_GUILESS_MAIN(KeyedListModelTest)
#include "test_keyedlistmodel.moc"

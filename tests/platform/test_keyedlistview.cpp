#include "core/platform/KeyedListModel.h"
#include "ui/app/WidgetHelpers.h"
#include "ui/platform/KeyedListView.h"

#include "TestEnvironment.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStringListModel>
#include <QStyle>

#include <algorithm>

namespace {

const QStringList kHeaders{"标题", "类型", "分析状态", "保存路径"};

struct ListFixture {
    KeyedListModel model{kHeaders};
    KeyedListView view;

    explicit ListFixture(int rows) {
        for (int i = 1; i <= rows; ++i) {
            model.Add("k" + QString::number(i), "row " + QString::number(i));
            model.SetSubItem(i, 1, "pdf");
        }
        view.setModel(&model);
        view.resize(400, 300);
    }

    QList<int> viewSelectedPositions() const {
        QList<int> positions;
        for (const QModelIndex& index : view.selectionModel()->selectedRows())
            positions << index.row() + 1;
        std::sort(positions.begin(), positions.end());
        return positions;
    }

    QList<int> modelSelectedPositions() const {
        QList<int> positions;
        for (int position = 1; position <= model.Count(); ++position) {
            if (model.Selected(position))
                positions << position;
        }
        return positions;
    }

    QPoint rowCenter(int position) const {
        const QRect rect = view.visualRect(model.index(position - 1, 0));
        return QPoint(rect.left() + 10, rect.center().y());
    }
};

QRgb pixelAt(const QImage& image, int x, int y) {
    return image.pixelColor(x, y).rgb();
}

const QRgb kGreen = qRgb(231, 248, 237);
const QRgb kWhite = qRgb(255, 255, 255);

} // namespace

class KeyedListViewTest : public QObject {
    Q_OBJECT

private slots:
    void modelsOtherThanTheKeyedListAreRefused() {
        ListFixture list(3);
        // Other models are refused.
        QStringListModel other;
        list.view.setModel(&other);
        QCOMPARE(list.view.model(), &list.model);

        // A model that goes away first leaves a usable, empty view.
        auto* shortLived = new KeyedListModel(kHeaders);
        shortLived->Add("k", "t");
        list.view.setModel(shortLived);
        shortLived->SetSelected(1, true);
        delete shortLived;
        QVERIFY(list.view.listModel() == nullptr);
        list.view.ApplyModelSelection();
        list.view.selectAll();
        QApplication::processEvents();
    }

    void clicksInViewReachModel() {
        ListFixture list(10);
        list.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));

        QTest::mouseClick(list.view.viewport(), Qt::LeftButton, {}, list.rowCenter(3));
        QCOMPARE(list.modelSelectedPositions(), QList<int>({3}));
        QTest::mouseClick(list.view.viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list.rowCenter(7));
        QCOMPARE(list.modelSelectedPositions(), QList<int>({3, 7}));
        QCOMPARE(list.model.SelectedItem(), 3);
        // Shift selects from the anchor to the row and nothing else, as the desktop does.
        QTest::mouseClick(list.view.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          list.rowCenter(9));
        QCOMPARE(list.modelSelectedPositions(), QList<int>({7, 8, 9}));
        QTest::mouseClick(list.view.viewport(), Qt::LeftButton, {}, list.rowCenter(5));
        QCOMPARE(list.modelSelectedPositions(), QList<int>({5}));

        list.view.selectAll();
        QCOMPARE(list.model.SelectedCount(), 10);
        list.view.clearSelection();
        QCOMPARE(list.model.SelectedCount(), 0);
        QCOMPARE(list.model.SelectedItem(), 0);
    }

    void modelFlagsReachView() {
        ListFixture list(200);
        list.model.SetSelected(4, true);
        list.model.SetSelected(6, true);
        QTRY_COMPARE(list.viewSelectedPositions(), QList<int>({4, 6}));

        list.model.SetSelected(4, false);
        list.view.ApplyModelSelection(); // at once, without waiting for the event loop
        QCOMPARE(list.viewSelectedPositions(), QList<int>({6}));

        // A loop over many rows ends in one rebuild of the view's selection.
        for (int position = 1; position <= 200; position += 2)
            list.model.SetSelected(position, true);
        list.view.ApplyModelSelection();
        QCOMPARE(list.viewSelectedPositions(), list.modelSelectedPositions());
        QCOMPARE(list.viewSelectedPositions().size(), 101);

        // Replacing a scattered selection in the view reaches the model row for row.
        list.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));
        QTest::mouseClick(list.view.viewport(), Qt::LeftButton, {}, list.rowCenter(2));
        QCOMPARE(list.modelSelectedPositions(), QList<int>({2}));
        QTest::mouseClick(list.view.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          list.rowCenter(5));
        QCOMPARE(list.modelSelectedPositions(), QList<int>({2, 3, 4, 5}));
        QCOMPARE(list.viewSelectedPositions(), QList<int>({2, 3, 4, 5}));
        for (int position = 1; position <= 200; position += 2)
            list.model.SetSelected(position, true);
        list.view.ApplyModelSelection();
        list.view.selectAll();
        QCOMPARE(list.model.SelectedCount(), 200);

        list.model.SelectAll(false);
        list.view.ApplyModelSelection();
        QVERIFY(list.viewSelectedPositions().isEmpty());
        list.model.SelectAll(true);
        list.view.ApplyModelSelection();
        QCOMPARE(list.viewSelectedPositions().size(), 200);
        // Writing flags into the view did not write them back differently.
        QCOMPARE(list.model.SelectedCount(), 200);
    }

    void selectionFollowsSortAndRemoval() {
        ListFixture list(6);
        for (int i = 1; i <= 6; ++i)
            list.model.SetSubItem(i, 2, QString(QChar('a' + 6 - i)));
        list.model.SetSelected(1, true);
        list.model.SetSelected(2, true);
        list.view.ApplyModelSelection();

        list.model.SortByColumn(2, Qt::AscendingOrder); // reverses the rows
        QCOMPARE(list.model.Key(6), QString("k1"));
        QCOMPARE(list.modelSelectedPositions(), QList<int>({5, 6}));
        QCOMPARE(list.viewSelectedPositions(), QList<int>({5, 6}));

        // Scattered removal resets the views; the selection comes back from the flags.
        list.model.RemoveWhere([](int position) { return position == 1 || position == 3; });
        QCOMPARE(list.model.Count(), 4);
        QCOMPARE(list.modelSelectedPositions(), QList<int>({3, 4}));
        QCOMPARE(list.viewSelectedPositions(), QList<int>({3, 4}));

        list.model.Remove(3);
        list.view.ApplyModelSelection();
        QCOMPARE(list.modelSelectedPositions(), QList<int>({3}));
        QCOMPARE(list.viewSelectedPositions(), QList<int>({3}));
        QCOMPARE(list.model.SelectedCount(), 1);
    }

    void noInPlaceEditing() {
        ListFixture list(3);
        list.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));
        QTest::ignoreMessage(QtWarningMsg, "edit: editing failed");
        list.view.edit(list.model.index(0, 0));
        QTest::mouseDClick(list.view.viewport(), Qt::LeftButton, {}, list.rowCenter(1));
        QTest::keyClick(&list.view, Qt::Key_F2);
        QVERIFY(list.view.findChild<QLineEdit*>() == nullptr);
        QCOMPARE(list.model.Text(1), QString("row 1"));
    }

    void mouseSignalsCarryPositions() {
        ListFixture list(3);
        list.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));
        QSignalSpy right(&list.view, &KeyedListView::rightClicked);
        QSignalSpy twice(&list.view, &KeyedListView::rowDoubleClicked);

        QTest::mouseClick(list.view.viewport(), Qt::RightButton, {}, list.rowCenter(2));
        QCOMPARE(right.count(), 1);
        QCOMPARE(right.at(0).at(0).toInt(), 2);
        QTest::mouseClick(list.view.viewport(), Qt::RightButton, {},
                          QPoint(10, list.view.viewport()->height() - 5));
        QCOMPARE(right.count(), 2);
        QCOMPARE(right.at(1).at(0).toInt(), 0);

        QTest::mouseDClick(list.view.viewport(), Qt::LeftButton, {}, list.rowCenter(3));
        QCOMPARE(twice.count(), 1);
        QCOMPARE(twice.at(0).at(0).toInt(), 3);
    }

    void rowHeightAndEnsureVisible() {
        ListFixture list(5000);
        list.view.SetRowHeight(17);
        list.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));
        QCOMPARE(list.view.visualRect(list.model.index(0, 0)).height(), 17);
        QCOMPARE(list.view.visualRect(list.model.index(1, 0)).top(),
                 list.view.visualRect(list.model.index(0, 0)).top() + 17);
        QCOMPARE(list.view.RowHeight(), 17);

        const QModelIndex far = list.model.index(3999, 0);
        QVERIFY(!list.view.viewport()->rect().intersects(list.view.visualRect(far)));
        list.view.EnsureVisible(4000);
        QVERIFY(list.view.viewport()->rect().contains(list.view.visualRect(far)));
        list.view.EnsureVisible(0);     // ignored
        list.view.EnsureVisible(50000); // ignored
        QVERIFY(list.view.viewport()->rect().contains(list.view.visualRect(far)));

        list.view.SetRowHeight(21); // also after the first layout
        QCOMPARE(list.view.visualRect(far).height(), 21);
        QCOMPARE(list.view.visualRect(list.model.index(1, 0)).top(),
                 list.view.visualRect(list.model.index(0, 0)).top() + 21);
    }

    void stripesAlternateFromGreen() {
        ListFixture list(40);
        SetListStripes(&list.view, 17);
        list.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));
        // The style marks the current row when the list has focus; look at plain rows.
        list.view.selectionModel()->clearCurrentIndex();

        const int x = list.view.viewport()->width() - 5; // right of every text
        const auto stripeAt = [&](int position) {
            const QImage image = list.view.viewport()->grab().toImage();
            const QRect rect = list.view.visualRect(list.model.index(position - 1, 0));
            return pixelAt(image, x, rect.center().y());
        };
        QCOMPARE(list.view.visualRect(list.model.index(0, 0)).height(), 17);
        QCOMPARE(stripeAt(1), kGreen);
        QCOMPARE(stripeAt(2), kWhite);
        QCOMPARE(stripeAt(3), kGreen);
        QCOMPARE(stripeAt(4), kWhite);

        // The bands stay with their rows when the list scrolls by one row.
        list.view.verticalScrollBar()->setValue(list.view.verticalScrollBar()->value() + 1);
        const QRect firstShown = list.view.visualRect(list.view.indexAt(QPoint(x, 1)));
        const int shownPosition = list.view.indexAt(QPoint(x, 1)).row() + 1;
        QVERIFY(shownPosition > 1);
        const QImage scrolled = list.view.viewport()->grab().toImage();
        QCOMPARE(pixelAt(scrolled, x, firstShown.center().y()),
                 shownPosition % 2 == 1 ? kGreen : kWhite);
    }

    void stripesContinueBelowLastRow() {
        ListFixture list(2);
        SetListStripes(&list.view, 20);
        list.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));
        list.view.selectionModel()->clearCurrentIndex();
        const QImage image = list.view.viewport()->grab().toImage();
        const int x = list.view.viewport()->width() - 5;
        QCOMPARE(pixelAt(image, x, 10), kGreen);
        QCOMPARE(pixelAt(image, x, 30), kWhite);
        QCOMPARE(pixelAt(image, x, 50), kGreen); // where a third row would be
        QCOMPARE(pixelAt(image, x, 70), kWhite);
    }

    void setColumnWidthBounds_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("width");
        QTest::newRow("is column 0 ignored?") << 0 << 50;
        QTest::newRow("is a column past the last ignored?") << 5 << 50;
        QTest::newRow("is a negative column ignored?") << -1 << 50;
        QTest::newRow("is an unknown negative width ignored?") << 2 << -3;
    }

    void setColumnWidthBounds() {
        QFETCH(int, column);
        QFETCH(int, width);
        ListFixture list(3);
        for (int section = 0; section < 4; ++section)
            list.view.setColumnWidth(section, 77);
        SetColumnWidth(&list.view, column, width);
        for (int section = 0; section < 4; ++section)
            QCOMPARE(list.view.columnWidth(section), 77);
        SetColumnWidth(nullptr, 1, 10); // no list, nothing happens
    }

    void setColumnWidthInPixels() {
        ListFixture list(3);
        SetColumnWidth(&list.view, 1, 123);
        SetColumnWidth(&list.view, 4, 45);
        QCOMPARE(list.view.columnWidth(0), 123);
        QCOMPARE(list.view.columnWidth(3), 45);
    }

    void fitUsesHeaderAndContents() {
        const QString longHeader = "A header far longer than any of its cells";
        KeyedListModel model({"Title", longHeader, "Status"});
        KeyedListView view;
        const QString longCell = QString("An extraordinarily long article title ").repeated(4);
        for (int i = 1; i <= 3000; ++i) {
            model.Add("k" + QString::number(i), "short " + QString::number(i));
            model.SetSubItem(i, 1, "pdf");
        }
        // Far from the rows a sampling fit would look at.
        model.SetText(2500, longCell);
        view.setModel(&model);
        view.resize(300, 200);
        const QFontMetrics metrics(view.font());

        SetColumnWidth(&view, 1, kFitContentsAndHeader);
        QVERIFY(view.columnWidth(0) >= metrics.horizontalAdvance(longCell));
        QVERIFY(view.columnWidth(0) < metrics.horizontalAdvance(longCell) + 40);

        SetColumnWidth(&view, 2, kFitContentsAndHeader);
        QVERIFY(view.columnWidth(1) >= metrics.horizontalAdvance(longHeader));
        QCOMPARE(view.columnWidth(1), view.header()->sectionSizeHint(1));

        // Contents only: the short cells win over the long header.
        SetColumnWidth(&view, 2, kFitContents);
        QVERIFY(view.columnWidth(1) >= metrics.horizontalAdvance("pdf"));
        QVERIFY(view.columnWidth(1) < metrics.horizontalAdvance(longHeader));

        // Every column at once; the empty column gets its header's width.
        for (int section = 0; section < 3; ++section)
            view.setColumnWidth(section, 5);
        AutoSizeColumns(&view, kFitContentsAndHeader);
        QVERIFY(view.columnWidth(0) >= metrics.horizontalAdvance(longCell));
        QVERIFY(view.columnWidth(1) >= metrics.horizontalAdvance(longHeader));
        QCOMPARE(view.columnWidth(2), view.header()->sectionSizeHint(2));
        AutoSizeColumns(&view, 60);
        for (int section = 0; section < 3; ++section)
            QCOMPARE(view.columnWidth(section), 60);
    }

    void fitCountsTheRowIcon() {
        ListFixture list(3);
        list.model.setIconProvider([](int) {
            QPixmap pixmap(16, 16);
            pixmap.fill(Qt::red);
            return QVariant(QIcon(pixmap));
        });
        SetColumnWidth(&list.view, 1, kFitContents);
        const int plain = list.view.columnWidth(0);
        list.model.SetSmallIcon(2, 1);
        SetColumnWidth(&list.view, 1, kFitContents);
        QVERIFY(list.view.columnWidth(0) >= plain + 16);
    }

    void comboDropDownFitsLongestEntry_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("longest");
        QTest::newRow("is the longest of three entries chosen?")
            << QStringList{"/a/", "/home/user/Downloads/Quillfetch/", "/b/c/"}
            << "/home/user/Downloads/Quillfetch/";
        QTest::newRow("does a Chinese entry count two per character?")
            << QStringList{"WWWWWWW", "中文标题"} << "中文标题";
        QTest::newRow("does the first of equal lengths win?")
            << QStringList{"iiii", "中文", "WWWW"} << "iiii";
    }

    void comboDropDownFitsLongestEntry() {
        QFETCH(QStringList, entries);
        QFETCH(QString, longest);
        QWidget window;
        window.move(0, 0);
        auto* combo = new QComboBox(&window);
        combo->addItems(entries);
        combo->setGeometry(10, 10, 40, 24);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QSize closedSize = combo->size();

        FitComboDropDown(combo);
        const int expected = QFontMetrics(combo->font()).horizontalAdvance(longest) + 7;
        QCOMPARE(combo->view()->minimumWidth(), expected);
        QCOMPARE(combo->size(), closedSize);

        combo->showPopup();
        QTRY_VERIFY(combo->view()->isVisible());
        QVERIFY(combo->view()->width() >= expected);
        combo->hidePopup();
    }

    void comboDropDownAddsScrollBarFromNineEntries() {
        QWidget window;
        window.move(0, 0);
        auto* combo = new QComboBox(&window);
        combo->setGeometry(10, 10, 40, 24);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString longest = "/home/user/Downloads/Quillfetch/papers/";
        const int text = QFontMetrics(combo->font()).horizontalAdvance(longest) + 7;
        const int scrollBar =
            combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, combo);
        QVERIFY(scrollBar > 0);

        combo->addItem(longest);
        for (int i = 2; i <= 8; ++i)
            combo->addItem("/f" + QString::number(i) + "/");
        FitComboDropDown(combo);
        QCOMPARE(combo->view()->minimumWidth(), text);

        combo->addItem("/f9/");
        FitComboDropDown(combo);
        QCOMPARE(combo->view()->minimumWidth(), text + scrollBar);
    }

    void comboDropDownStopsAtScreenEdge() {
        QScreen* screen = QGuiApplication::primaryScreen();
        QVERIFY(screen != nullptr);
        const QRect geometry = screen->geometry();
        QWidget window;
        auto* combo = new QComboBox(&window);
        combo->setGeometry(0, 0, 60, 24);
        combo->addItem(QString("a very long folder name ").repeated(20));
        window.resize(80, 40);
        window.move(geometry.right() + 1 - 120, 10);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const int room = geometry.right() + 1 - combo->mapToGlobal(QPoint(0, 0)).x();
        QVERIFY(room > 0 && room < 200);

        FitComboDropDown(combo);
        QCOMPARE(combo->view()->minimumWidth(), room);
        QCOMPARE(combo->width(), 60);
    }
};

QF_TEST_MAIN(KeyedListViewTest)
#include "test_keyedlistview.moc"

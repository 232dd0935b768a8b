// Prints how long the keyed list's bulk operations take on a list of 100,000 rows.
// Run: QT_QPA_PLATFORM=offscreen ./bench_keyedlist [rows]

#include "core/platform/KeyedListModel.h"
#include "ui/app/WidgetHelpers.h"
#include "ui/platform/KeyedListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QRandomGenerator>

#include <cstdio>
#include <cstdlib>

namespace {

const QStringList kHeaders{"文件名", "类型", "大小", "已接收", "进度", "保存路径", "B"};

QString link(int i) {
    return QString("https://www.science.org/doi/pdf/10.1126/science.%1").arg(i, 7, 10, QChar('0'));
}

QString title(QRandomGenerator& random, int i) {
    static const QStringList words{"quantum", "cell",   "protein", "climate",   "neuron",
                                   "galaxy",  "蛋白质", "气候",    "structure", "dynamics"};
    QString text;
    const int count = 4 + static_cast<int>(random.bounded(10));
    for (int w = 0; w < count; ++w)
        text += words[static_cast<int>(random.bounded(words.size()))] + ' ';
    return text + QString::number(i);
}

void fill(KeyedListModel& model, int rows) {
    QRandomGenerator random(42);
    for (int i = 0; i < rows; ++i) {
        model.Add(link(i), title(random, i));
        const int position = model.Count();
        model.SetSubItem(position, 1, "pdf");
        model.SetSubItem(position, 2, QString::number(random.bounded(5000000)));
        model.SetSubItem(position, 5, "/home/user/Downloads/Quillfetch/");
    }
    model.Refresh();
}

void report(const char* what, qint64 ns, int operations) {
    std::printf("%-52s %10.2f ms", what, ns / 1e6);
    if (operations > 1)
        std::printf("   (%.3f us per operation)", ns / 1e3 / operations);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    std::printf("keyed list, %d rows\n", rows);
    QElapsedTimer timer;

    {
        KeyedListModel model(kHeaders);
        QRandomGenerator random(42);
        timer.start();
        for (int i = 0; i < rows; ++i)
            model.Add(link(i), title(random, i));
        report("Add (model alone)", timer.nsecsElapsed(), rows);
    }

    KeyedListModel model(kHeaders);
    KeyedListView view;
    view.setModel(&model);
    view.resize(900, 600);
    view.show();
    app.processEvents();
    {
        QRandomGenerator random(42);
        timer.start();
        for (int i = 0; i < rows; ++i)
            model.Add(link(i), title(random, i));
        report("Add (with a view)", timer.nsecsElapsed(), rows);
        model.Clear();
    }
    fill(model, rows);

    timer.start();
    int found = 0;
    for (int i = 0; i < rows; ++i)
        found += model.PositionOfKey(link(rows - 1 - i)) != 0;
    report("PositionOfKey (including composing the key)", timer.nsecsElapsed(), rows);
    if (found != rows)
        std::printf("  lookup missed %d keys\n", rows - found);

    timer.start();
    for (int i = 0; i < 100000; ++i)
        model.SetSubItem(1 + (i * 7919) % rows, 4, QString::number(i % 100) + "%");
    report("SetSubItem x100000 (coalesced)", timer.nsecsElapsed(), 100000);
    timer.start();
    model.Refresh();
    app.processEvents();
    report("Refresh after the burst", timer.nsecsElapsed(), 1);

    timer.start();
    for (int i = 0; i < 100 && model.Count() > 0; ++i)
        model.Remove(model.Count() / 2);
    app.processEvents();
    report("Remove from the middle x100 (nothing selected)", timer.nsecsElapsed(), 100);

    timer.start();
    for (int position = 1; position <= model.Count(); position += 2)
        model.SetSelected(position, true);
    view.ApplyModelSelection();
    report("select every other row in the model + view sync", timer.nsecsElapsed(), 1);

    timer.start();
    model.SortByColumn(0, Qt::AscendingOrder);
    app.processEvents();
    report("SortByColumn (titles, ascending)", timer.nsecsElapsed(), 1);

    timer.start();
    model.SortByColumn(2, Qt::DescendingOrder);
    app.processEvents();
    report("SortByColumn (sizes, descending)", timer.nsecsElapsed(), 1);

    timer.start();
    AutoSizeColumns(&view, kFitContentsAndHeader);
    app.processEvents();
    report("AutoSizeColumns(-2)", timer.nsecsElapsed(), 1);

    {
        // A shift-click over the whole list while every other row is selected.
        const auto click = [&](int row, Qt::KeyboardModifiers modifiers) {
            view.scrollTo(model.index(row, 0));
            app.processEvents();
            const QPointF point = view.visualRect(model.index(row, 0)).center();
            const QPointF global = view.viewport()->mapToGlobal(point);
            QMouseEvent press(QEvent::MouseButtonPress, point, global, Qt::LeftButton,
                              Qt::LeftButton, modifiers);
            QApplication::sendEvent(view.viewport(), &press);
            QMouseEvent release(QEvent::MouseButtonRelease, point, global, Qt::LeftButton,
                                Qt::NoButton, modifiers);
            QApplication::sendEvent(view.viewport(), &release);
        };
        click(0, Qt::NoModifier);
        for (int position = 1; position <= model.Count(); position += 2)
            model.SetSelected(position, true);
        view.ApplyModelSelection();
        timer.start();
        click(model.Count() - 1, Qt::ShiftModifier);
        app.processEvents();
        report("shift-click over a scattered selection", timer.nsecsElapsed(), 1);
        std::printf("  selected %d of %d\n", model.SelectedCount(), model.Count());
        for (int position = 1; position <= model.Count(); ++position)
            model.SetSelected(position, position % 4 == 1);
        view.ApplyModelSelection();
    }

    timer.start();
    view.selectAll();
    report("select all in the view -> model flags", timer.nsecsElapsed(), 1);

    timer.start();
    const int removed = model.RemoveWhere([](int position) { return position % 2 == 0; });
    app.processEvents();
    report("RemoveWhere (every other row)", timer.nsecsElapsed(), 1);
    std::printf("  removed %d, left %d, selected %d\n", removed, model.Count(),
                model.SelectedCount());

    timer.start();
    for (int i = 0; i < 100 && model.Count() > 0; ++i)
        model.Remove(model.Count() / 2);
    app.processEvents();
    report("Remove from the middle x100 (scattered selection)", timer.nsecsElapsed(), 100);

    timer.start();
    model.Clear();
    app.processEvents();
    report("Clear", timer.nsecsElapsed(), 1);
    return 0;
}

#include "TestEnvironment.h"

#include "download/DownloadList.h"
#include "download/ListCommands.h"
#include "platform/KeyedListModel.h"
#include "search/SearchList.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <memory>

// The download list's commands over a real list and real files, without a window.
namespace {

struct Row {
    Row(const QString& name_, const QString& type_ = QStringLiteral("pdf"),
        int state_ = ItemState::Waiting, const QString& size_ = {}, const QString& received_ = {},
        const QString& percent_ = {}, bool selected_ = false)
        : name(name_), type(type_), state(state_), size(size_), received(received_),
          percent(percent_), selected(selected_) {}
    QString name;
    QString type;
    int state;
    QString size;
    QString received;
    QString percent;
    bool selected;
};

void fill(KeyedListModel& list, const QList<Row>& rows, const QString& folder) {
    for (const Row& row : rows) {
        const int position = list.Count() + 1;
        QVERIFY(AddDownloadRow(list, QStringLiteral("http://127.0.0.1/a/%1").arg(position),
                               row.name, row.type, folder,
                               QStringLiteral("http://127.0.0.1/page/%1").arg(position)));
        list.SetSmallIcon(position, row.state);
        list.SetSubItem(position, DownloadColumn::Size, row.size);
        list.SetSubItem(position, DownloadColumn::Received, row.received);
        list.SetSubItem(position, DownloadColumn::Percent, row.percent);
        list.SetSelected(position, row.selected);
    }
}

QStringList cellsOf(const KeyedListModel& list, int n) {
    QStringList cells;
    for (int position = 1; position <= list.Count(); ++position)
        cells << (n == 0 ? list.Text(position) : list.SubItem(position, n));
    return cells;
}

QString states(const KeyedListModel& list) {
    QString text;
    for (int position = 1; position <= list.Count(); ++position)
        text += QString::number(list.SmallIcon(position));
    return text;
}

bool touch(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

// Everything a row carries, to compare lists across a reordering.
QString record(const KeyedListModel& list, int position) {
    QStringList fields{list.Key(position), list.Tag(position),
                       QString::number(list.SmallIcon(position))};
    for (int n = 0; n < list.ColumnCount(); ++n)
        fields << (n == 0 ? list.Text(position) : list.SubItem(position, n));
    return fields.join('|');
}

QStringList records(const KeyedListModel& list) {
    QStringList all;
    for (int position = 1; position <= list.Count(); ++position)
        all << record(list, position);
    return all;
}

} // namespace

class ListCommandsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void doCountColumnsSortByValue_data();
    void doCountColumnsSortByValue();
    void doesTheNameColumnSortAsText();

    void whichRowsDoesEachRequeueTake_data();
    void whichRowsDoesEachRequeueTake();
    void whichRowsAreSmallerThanTheAnswer_data();
    void whichRowsAreSmallerThanTheAnswer();
    void doesADoubleClickedFailedRowKeepItsType();

    void whichRowsDoesEachRemovalTake_data();
    void whichRowsDoesEachRemovalTake();
    void doTheDeleteFileCommandsKeepTheRows();
    void areMissingFilesMarked();
    void areOnlySelectedWaitingRowsCancelled();

    void doesAShuffleKeepEveryRow_data();
    void doesAShuffleKeepEveryRow();
    void isEveryOrderOfThreeRowsAboutEquallyLikely();
    void doesEveryRowReachEveryPlace();
    void doesTheDrawLimitLeaveTheFrontInOrder();

    void isTheNamesExportOneLinePerRow_data();
    void isTheNamesExportOneLinePerRow();
    void whatReadsAsANumber_data();
    void whatReadsAsANumber();

    void whichPlainTextEditorIsFound_data();
    void whichPlainTextEditorIsFound();

private:
    QString folder() const { return dir_->path() + '/'; }
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<KeyedListModel> list_;
};

void ListCommandsTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    list_ = std::make_unique<KeyedListModel>(DownloadListHeaders());
}

// --- sort ---

void ListCommandsTest::doCountColumnsSortByValue_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("sorted");

    const QStringList sizes{"10", "9", "未知", "", "100", "0"};
    QTest::newRow("does 文件大小 put 9 before 10, ascending?")
        << DownloadColumn::Size << sizes << int(Qt::AscendingOrder)
        << QStringList{"", "0", "9", "10", "100", "未知"};
    QTest::newRow("does 文件大小 put 10 before 9, descending?")
        << DownloadColumn::Size << sizes << int(Qt::DescendingOrder)
        << QStringList{"未知", "100", "10", "9", "0", ""};
    QTest::newRow("does 已下载数 sort by value, with 不存在 kept?")
        << DownloadColumn::Received << QStringList{"2048", "不存在", "512", "65536"}
        << int(Qt::AscendingOrder) << QStringList{"512", "2048", "65536", "不存在"};
    QTest::newRow("is a count longer than twelve digits still in order?")
        << DownloadColumn::Size << QStringList{"10000000000000", "999999999999", "5"}
        << int(Qt::AscendingOrder) << QStringList{"5", "999999999999", "10000000000000"};
    QTest::newRow("do percentages come back as they were?")
        << DownloadColumn::Percent
        << QStringList{"7%", "100%", "", "已存在，跳过", "无法替换", "53%"}
        << int(Qt::AscendingOrder)
        << QStringList{"", "7%", "53%", "100%", "已存在，跳过", "无法替换"};
    QTest::newRow("do percentages sort descending by value?")
        << DownloadColumn::Percent << QStringList{"7%", "100%", "53%", "0%"}
        << int(Qt::DescendingOrder) << QStringList{"100%", "53%", "7%", "0%"};
}

void ListCommandsTest::doCountColumnsSortByValue() {
    QFETCH(int, column);
    QFETCH(QStringList, cells);
    QFETCH(int, order);
    QFETCH(QStringList, sorted);
    QList<Row> rows;
    for (const QString& cell : cells)
        rows << Row{cell + QStringLiteral(" row")};
    fill(*list_, rows, folder());
    for (int position = 1; position <= list_->Count(); ++position)
        list_->SetSubItem(position, column, cells.at(position - 1));

    SortDownloadList(*list_, column, Qt::SortOrder(order));
    QCOMPARE(cellsOf(*list_, column), sorted);
    // The rest of each row moved with its cell.
    for (int position = 1; position <= list_->Count(); ++position)
        QCOMPARE(list_->Text(position), list_->SubItem(position, column) + QStringLiteral(" row"));
}

void ListCommandsTest::doesTheNameColumnSortAsText() {
    fill(*list_, {{"b"}, {"10"}, {"a"}, {"9"}}, folder());
    SortDownloadList(*list_, DownloadColumn::Name, Qt::AscendingOrder);
    QCOMPARE(cellsOf(*list_, 0), (QStringList{"10", "9", "a", "b"}));
    SortDownloadList(*list_, DownloadColumn::Name, Qt::DescendingOrder);
    QCOMPARE(cellsOf(*list_, 0), (QStringList{"b", "a", "9", "10"}));
}

// --- re-queue ---

void ListCommandsTest::whichRowsDoesEachRequeueTake_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("statesAfter");
    QTest::addColumn<QStringList>("typesAfter");

    // The rows: failed pdf (selected), completed htm, completed HTML (selected), failed xml,
    // completed pdf (selected), waiting htm (selected), running pdf (selected).
    QTest::newRow("选中项: selected finished rows only")
        << 0 << "1314112" << QStringList{"pdf", "htm", "xxx", "xml", "pdf", "htm", "pdf"};
    QTest::newRow("出错项和网页类型文件项: failed rows and finished htm/html, not xml")
        << 1 << "1111312" << QStringList{"pdf", "xxx", "xxx", "xml", "pdf", "htm", "pdf"};
}

void ListCommandsTest::whichRowsDoesEachRequeueTake() {
    QFETCH(int, command);
    QFETCH(QString, statesAfter);
    QFETCH(QStringList, typesAfter);
    fill(*list_,
         {{"a", "pdf", ItemState::Failed, "9", "3", "33%", true},
          {"b", "htm", ItemState::Completed, "9", "9", "100%"},
          {"c", "HTML", ItemState::Completed, "9", "9", "100%", true},
          {"d", "xml", ItemState::Failed, "9", "1", "11%"},
          {"e", "pdf", ItemState::Completed, "9", "9", "100%", true},
          {"f", "htm", ItemState::Waiting, "", "", "", true},
          {"g", "pdf", ItemState::Downloading, "9", "4", "44%", true}},
         folder());
    const int taken =
        command == 0 ? RequeueSelectedRows(*list_) : RequeueFailedAndWebPageRows(*list_);
    QCOMPARE(states(*list_), statesAfter);
    QCOMPARE(cellsOf(*list_, DownloadColumn::Type), typesAfter);
    QCOMPARE(taken, int(statesAfter.count('1')) - 1); // the waiting row was there before
    for (int position = 1; position <= list_->Count(); ++position) {
        const bool requeued = statesAfter.at(position - 1) == '1' && position != 6;
        QCOMPARE(list_->SubItem(position, DownloadColumn::Percent).isEmpty(),
                 requeued || position == 6);
    }
}

void ListCommandsTest::whichRowsAreSmallerThanTheAnswer_data() {
    QTest::addColumn<double>("limit");
    QTest::addColumn<QString>("statesAfter");

    // completed 500/500, failed 500/200, completed 1,500/1500, waiting 500/500,
    // completed 未知/"", failed 1000/1000
    QTest::newRow("1000 takes the equal 500-byte rows only") << 1000.0 << "143134";
    QTest::newRow("2000 also takes 1,500 and the failed 1000") << 2000.0 << "141131";
    QTest::newRow("500 is not smaller than 500") << 500.0 << "343134";
    QTest::newRow("a fraction compares too") << 500.5 << "143134";
}

void ListCommandsTest::whichRowsAreSmallerThanTheAnswer() {
    QFETCH(double, limit);
    QFETCH(QString, statesAfter);
    fill(*list_,
         {{"a", "pdf", ItemState::Completed, "500", "500", "100%"},
          {"b", "pdf", ItemState::Failed, "500", "200", "40%"},
          {"c", "pdf", ItemState::Completed, "1,500", "1500", "100%"},
          {"d", "pdf", ItemState::Waiting, "500", "500", ""},
          {"e", "pdf", ItemState::Completed, "未知", "", "100%"},
          {"f", "pdf", ItemState::Failed, "1000", "1000", "100%"}},
         folder());
    RequeueRowsSmallerThan(*list_, limit);
    QCOMPARE(states(*list_), statesAfter);
}

void ListCommandsTest::doesADoubleClickedFailedRowKeepItsType() {
    fill(*list_,
         {{"paper", "htm", ItemState::Failed, "900", "100", "11%"},
          {"other", "pdf", ItemState::Completed, "9", "9", "100%"}},
         folder());
    QVERIFY(touch(folder() + "paper.htm"));
    QVERIFY(touch(folder() + "other.pdf"));
    QVERIFY(RequeueFailedRowKeepingType(*list_, 1));
    QVERIFY(!RequeueFailedRowKeepingType(*list_, 2));
    QCOMPARE(states(*list_), QStringLiteral("13"));
    QCOMPARE(list_->SubItem(1, DownloadColumn::Type), QStringLiteral("htm"));
    QCOMPARE(list_->SubItem(1, DownloadColumn::Size), QString());
    QVERIFY(!QFile::exists(folder() + "paper.htm"));
    QVERIFY(QFile::exists(folder() + "other.pdf"));
}

// --- removal ---

void ListCommandsTest::whichRowsDoesEachRemovalTake_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("完成项") << 0 << QStringList{"c", "d", "f"};
    QTest::newRow("全部出错项") << 1 << QStringList{"a", "b", "d", "e"};
    QTest::newRow("选中项, adjacent ones too") << 2 << QStringList{"a", "d", "e"};
}

void ListCommandsTest::whichRowsDoesEachRemovalTake() {
    QFETCH(int, command);
    QFETCH(QStringList, left);
    fill(*list_,
         {{"a", "pdf", ItemState::Completed},
          {"b", "pdf", ItemState::Completed, {}, {}, {}, true},
          {"c", "pdf", ItemState::Failed, {}, {}, {}, true},
          {"d", "pdf", ItemState::Waiting},
          {"e", "pdf", ItemState::Completed},
          {"f", "pdf", ItemState::Failed, {}, {}, {}, true}},
         folder());
    QVERIFY(touch(folder() + "a.pdf"));
    if (command == 0)
        RemoveCompletedRows(*list_);
    else if (command == 1)
        RemoveFailedRows(*list_);
    else
        RemoveSelectedRows(*list_);
    QCOMPARE(cellsOf(*list_, 0), left);
    // Rows are found by their link after the removal.
    for (int position = 1; position <= list_->Count(); ++position)
        QCOMPARE(list_->PositionOfKey(list_->Key(position)), position);
    QVERIFY(QFile::exists(folder() + "a.pdf"));
}

void ListCommandsTest::doTheDeleteFileCommandsKeepTheRows() {
    const QList<Row> rows{{"a", "htm", ItemState::Completed, "9", "9", "100%"},
                          {"b", "XML", ItemState::Failed, "9", "2", "22%"},
                          {"c", "pdf", ItemState::Failed, "9", "3", "33%"},
                          {"d", "html", ItemState::Waiting, "", "", ""},
                          {"e", "pdf", ItemState::Completed, "9", "9", "100%"}};
    for (int command = 0; command < 2; ++command) {
        list_->Clear();
        fill(*list_, rows, folder());
        for (const char* file : {"a.htm", "b.XML", "c.pdf", "d.html", "e.pdf"})
            QVERIFY(touch(folder() + file));
        const int affected = command == 0 ? DeleteWebPageFiles(*list_) : DeleteFailedFiles(*list_);
        const QStringList gone =
            command == 0 ? QStringList{"a.htm", "b.XML"} : QStringList{"b.XML", "c.pdf"};
        QCOMPARE(affected, 2);
        QCOMPARE(states(*list_), QStringLiteral("34413"));
        for (const char* file : {"a.htm", "b.XML", "c.pdf", "d.html", "e.pdf"})
            QCOMPARE(QFile::exists(folder() + file), !gone.contains(QString::fromUtf8(file)));
        for (int position = 1; position <= 5; ++position) {
            const QString file =
                list_->Text(position) + '.' + list_->SubItem(position, DownloadColumn::Type);
            QCOMPARE(list_->SubItem(position, DownloadColumn::Size).isEmpty(),
                     gone.contains(file) || position == 4);
        }
    }
}

void ListCommandsTest::areMissingFilesMarked() {
    fill(*list_,
         {{"here", "pdf", ItemState::Completed, "9", "不存在", "100%"},
          {"gone", "pdf", ItemState::Completed, "9", "9", "100%"},
          {"noext", "", ItemState::Completed, "9", "9", "100%"},
          {"waiting", "pdf", ItemState::Waiting}},
         folder());
    QVERIFY(touch(folder() + "here.pdf"));
    QVERIFY(touch(folder() + "noext"));
    QCOMPARE(MarkMissingFiles(*list_), 2);
    QCOMPARE(cellsOf(*list_, DownloadColumn::Received),
             (QStringList{"不存在", "不存在", "9", "不存在"}));
    QCOMPARE(states(*list_), QStringLiteral("3331"));
}

void ListCommandsTest::areOnlySelectedWaitingRowsCancelled() {
    fill(*list_,
         {{"a", "pdf", ItemState::Waiting, {}, {}, {}, true},
          {"b", "pdf", ItemState::Waiting},
          {"c", "pdf", ItemState::Downloading, {}, {}, {}, true},
          {"d", "pdf", ItemState::Completed, {}, {}, {}, true},
          {"e", "pdf", ItemState::Waiting, {}, {}, {}, true}},
         folder());
    QCOMPARE(FailSelectedWaitingRows(*list_), 2);
    QCOMPARE(states(*list_), QStringLiteral("41234"));
}

// --- shuffle ---

void ListCommandsTest::doesAShuffleKeepEveryRow_data() {
    QTest::addColumn<int>("rows");
    QTest::newRow("an empty list") << 0;
    QTest::newRow("one row stays in place") << 1;
    QTest::newRow("fifty rows") << 50;
}

void ListCommandsTest::doesAShuffleKeepEveryRow() {
    QFETCH(int, rows);
    QList<Row> spec;
    for (int i = 0; i < rows; ++i)
        spec << Row{QStringLiteral("name %1").arg(i),
                    i % 3 ? "pdf" : "htm",
                    1 + i % 4,
                    QString::number(i * 10),
                    QString::number(i),
                    QStringLiteral("%1%").arg(i),
                    i % 2 == 0};
    fill(*list_, spec, folder());
    for (int position = 1; position <= rows; ++position)
        list_->SetSubItem(position, DownloadColumn::B, QStringLiteral("b%1").arg(position));
    const QStringList before = records(*list_);

    QRandomGenerator random(20240611);
    QCOMPARE(ShuffleRows(*list_, random), rows);
    QStringList after = records(*list_);
    QCOMPARE(after.size(), before.size());
    if (rows == 50)
        QVERIFY(after != before);
    QStringList sortedBefore = before;
    sortedBefore.sort();
    after.sort();
    QCOMPARE(after, sortedBefore);
    QCOMPARE(list_->SelectedCount(), 0);
    for (int position = 1; position <= list_->Count(); ++position)
        QCOMPARE(list_->PositionOfKey(list_->Key(position)), position);
}

void ListCommandsTest::isEveryOrderOfThreeRowsAboutEquallyLikely() {
    // 6000 shuffles, 1000 expected per order with a standard deviation of about 29: a bound
    // of 150 fails a biased draw (such as a swap with any position) but not chance.
    QRandomGenerator random(7);
    QMap<QString, int> seen;
    for (int round = 0; round < 6000; ++round) {
        // Always from the same order: repeated shuffles of a shuffled list would even out a
        // biased draw.
        list_->Clear();
        fill(*list_, {{"a"}, {"b"}, {"c"}}, folder());
        ShuffleRows(*list_, random);
        ++seen[cellsOf(*list_, 0).join(QString())];
    }
    QCOMPARE(seen.size(), 6);
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        QVERIFY2(qAbs(it.value() - 1000) < 150, qPrintable(it.key()));
}

void ListCommandsTest::doesEveryRowReachEveryPlace() {
    constexpr int rows = 10;
    constexpr int rounds = 5000;
    QList<Row> spec;
    for (int i = 0; i < rows; ++i)
        spec << Row{QString::number(i)};
    QRandomGenerator random(99);
    int counts[rows][rows] = {};
    for (int round = 0; round < rounds; ++round) {
        list_->Clear();
        fill(*list_, spec, folder());
        ShuffleRows(*list_, random);
        for (int position = 1; position <= rows; ++position)
            ++counts[list_->Text(position).toInt()][position - 1];
    }
    // 500 expected per cell, standard deviation about 21.
    for (int row = 0; row < rows; ++row) {
        for (int place = 0; place < rows; ++place)
            QVERIFY2(qAbs(counts[row][place] - 500) < 110,
                     qPrintable(QStringLiteral("row %1 at %2: %3")
                                    .arg(row)
                                    .arg(place)
                                    .arg(counts[row][place])));
    }
}

void ListCommandsTest::doesTheDrawLimitLeaveTheFrontInOrder() {
    const int rows = kShuffleDrawLimit + 7;
    QList<Row> spec;
    for (int i = 0; i < rows; ++i)
        spec << Row{QString::number(i)};
    fill(*list_, spec, folder());
    QRandomGenerator random(3);
    QCOMPARE(ShuffleRows(*list_, random), kShuffleDrawLimit);
    QCOMPARE(list_->Count(), rows);
    // The seven rows never drawn lead, in their old order; everything is still there.
    int previous = -1;
    for (int position = 1; position <= 7; ++position) {
        const int index = list_->Text(position).toInt();
        QVERIFY(index > previous);
        previous = index;
    }
    QSet<QString> names;
    for (int position = 1; position <= rows; ++position)
        names.insert(list_->Text(position));
    QCOMPARE(int(names.size()), rows);
}

// --- export text ---

void ListCommandsTest::isTheNamesExportOneLinePerRow_data() {
    QTest::addColumn<bool>("unfinishedOnly");
    QTest::addColumn<QString>("text");
    QTest::newRow("全部") << false << "one\r\ntwo\r\nthree\r\nfour\r\n";
    QTest::newRow("未完成项 leaves completed rows out") << true << "two\r\nfour\r\n";
}

void ListCommandsTest::isTheNamesExportOneLinePerRow() {
    QFETCH(bool, unfinishedOnly);
    QFETCH(QString, text);
    QCOMPARE(ExportNamesText(*list_, unfinishedOnly), QString());
    fill(*list_,
         {{"one", "pdf", ItemState::Completed},
          {"two", "pdf", ItemState::Failed},
          {"three", "pdf", ItemState::Completed},
          {"four", "pdf", ItemState::Downloading}},
         folder());
    QCOMPARE(ExportNamesText(*list_, unfinishedOnly), text);
}

void ListCommandsTest::whatReadsAsANumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("number");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "1000" << true << 1000.0;
    QTest::newRow("spaces around") << "  12 " << true << 12.0;
    QTest::newRow("fraction") << "0.5" << true << 0.5;
    QTest::newRow("exponent") << "1e3" << true << 1000.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("word") << "abc" << false << 0.0;
    QTest::newRow("thousands separator") << "1,000" << false << 0.0;
    QTest::newRow("nan") << "nan" << false << 0.0;
    QTest::newRow("inf") << "inf" << false << 0.0;
}

void ListCommandsTest::whatReadsAsANumber() {
    QFETCH(QString, text);
    QFETCH(bool, number);
    QFETCH(double, value);
    const std::optional<double> parsed = ParseNumber(text);
    QCOMPARE(parsed.has_value(), number);
    if (number)
        QCOMPARE(*parsed, value);
}

// --- the plain-text editor ---

void ListCommandsTest::whichPlainTextEditorIsFound_data() {
    // files: "config/...", "apps/..." or "system/..." with their content
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("program");

    const QString list = QStringLiteral("[Default Applications]\ntext/plain=%1\n");
    const QString entry =
        QStringLiteral("[Desktop Entry]\nType=Application\nName=Editor\nExec=%1\n");
    QTest::newRow("is the user's default taken?")
        << QStringList{"config/mimeapps.list", list.arg("ed.desktop"), "apps/ed.desktop",
                       entry.arg("ed %U")}
        << "ed";
    QTest::newRow("does the desktop's own list come first?")
        << QStringList{"config/mimeapps.list",   list.arg("ed.desktop"), "config/kde-mimeapps.list",
                       list.arg("kate.desktop"), "apps/ed.desktop",      entry.arg("ed %U"),
                       "apps/kate.desktop",      entry.arg("kate %U")}
        << "kate";
    QTest::newRow("is an entry that needs a further argument passed over?")
        << QStringList{"config/mimeapps.list", list.arg("kate.desktop;ed.desktop"),
                       "apps/ed.desktop",      entry.arg("ed %U"),
                       "apps/kate.desktop",    entry.arg("kate -b %U")}
        << "ed";
    QTest::newRow("is a quoted program path unquoted?")
        << QStringList{"config/mimeapps.list", list.arg("my.desktop"), "apps/my.desktop",
                       entry.arg("\"/opt/My Editor/bin/edit\" %f")}
        << "/opt/My Editor/bin/edit";
    QTest::newRow("are hidden and terminal entries passed over?")
        << QStringList{"config/mimeapps.list", list.arg("gone.desktop;vim.desktop;pad.desktop;"),
                       "apps/gone.desktop",    entry.arg("gone %F") + "Hidden=true\n",
                       "apps/vim.desktop",     entry.arg("vim %F") + "Terminal=true\n",
                       "apps/pad.desktop",     entry.arg("mousepad %F")}
        << "mousepad";
    QTest::newRow("does the user's entry hide the system's of that name?")
        << QStringList{"config/mimeapps.list",          list.arg("ed.desktop"), "apps/ed.desktop",
                       entry.arg("ed --new-window %U"), "system/ed.desktop",    entry.arg("ed %U")}
        << "";
    QTest::newRow("is an entry that takes no file passed over?")
        << QStringList{"config/mimeapps.list", list.arg("x.desktop"), "apps/x.desktop",
                       entry.arg("x")}
        << "";
    QTest::newRow("is the cache asked when no list names one?")
        << QStringList{"system/mimeinfo.cache", "[MIME Cache]\ntext/plain=gedit.desktop;\n",
                       "system/gedit.desktop", entry.arg("gedit %U")}
        << "gedit";
    QTest::newRow("is a list in the applications folder read?")
        << QStringList{"system/mimeapps.list", list.arg("gedit.desktop"), "system/gedit.desktop",
                       entry.arg("gedit %U")}
        << "gedit";
    QTest::newRow("nothing at all") << QStringList{} << "";
}

void ListCommandsTest::whichPlainTextEditorIsFound() {
    QFETCH(QStringList, files);
    QFETCH(QString, program);
    const QString root = dir_->path();
    for (const char* sub : {"/config", "/apps", "/system"})
        QVERIFY(QDir().mkpath(root + sub));
    for (qsizetype i = 0; i + 1 < files.size(); i += 2) {
        QFile file(root + '/' + files.at(i));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(files.at(i + 1).toUtf8());
    }
    QCOMPARE(PlainTextEditorProgram({root + "/config"}, {root + "/apps", root + "/system"},
                                    {QStringLiteral("KDE")}),
             program);
}

QF_TEST_GUILESS_MAIN(ListCommandsTest)
#include "test_listcommands.moc"

#include "FileOwners.h"
#include "TestEnvironment.h"

#include "core/download/DownloadList.h"
#include "core/download/ListCommands.h"
#include "core/platform/KeyedListModel.h"
#include "core/search/SearchList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// The download list's commands over a real list and real files, without a window.
namespace {

// Rows as "name|type|state|size|received|percent", a trailing "|*" selects the row.
void fill(KeyedListModel& list, const QStringList& rows, const QString& folder) {
    for (const QString& spec : rows) {
        const QStringList f = (spec + "||||||").split('|');
        const int position = list.Count() + 1;
        QVERIFY(AddDownloadRow(list, QStringLiteral("http://127.0.0.1/a/%1").arg(position), f[0],
                               f[1], folder, QStringLiteral("page %1").arg(position)));
        list.SetSmallIcon(position, f[2].toInt());
        for (int n = DownloadColumn::Size; n <= DownloadColumn::Percent; ++n)
            list.SetSubItem(position, n, f[n + 1]);
        list.SetSelected(position, f[6] == "*");
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

// Everything a row carries, to compare lists across a reordering.
QStringList records(const KeyedListModel& list) {
    QStringList all;
    for (int position = 1; position <= list.Count(); ++position)
        all << list.Key(position) + '|' + list.Tag(position) + '|' +
                   QString::number(list.SmallIcon(position)) + '|' +
                   cellsOf(list, 0).at(position - 1) + '|' +
                   QStringList{list.SubItem(position, 1), list.SubItem(position, 2),
                               list.SubItem(position, 3), list.SubItem(position, 4),
                               list.SubItem(position, 5), list.SubItem(position, 6)}
                       .join('|');
    return all;
}

} // namespace

class ListCommandsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void doCountColumnsSortByValue_data();
    void doCountColumnsSortByValue();
    void whichRowsDoesEachCommandTake_data();
    void whichRowsDoesEachCommandTake();
    void doesADeleteTakeOnlyTheRowsOwnFile_data();
    void doesADeleteTakeOnlyTheRowsOwnFile();
    void doesAShuffleKeepEveryRow_data();
    void doesAShuffleKeepEveryRow();
    void isEveryOrderOfThreeRowsAboutEquallyLikely();
    void doesTheDrawLimitLeaveTheFrontInOrder();
    void isTheNamesExportOneLinePerRow();
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

void ListCommandsTest::doCountColumnsSortByValue_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("sorted");
    const QStringList sizes{"10", "9", "未知", "", "100", "0"};
    QTest::newRow("does 文件大小 put 9 before 10?")
        << 2 << sizes << int(Qt::AscendingOrder) << QStringList{"", "0", "9", "10", "100", "未知"};
    QTest::newRow("and descending?")
        << 2 << sizes << int(Qt::DescendingOrder) << QStringList{"未知", "100", "10", "9", "0", ""};
    QTest::newRow("is a count of more than twelve digits in order?")
        << 3 << QStringList{"10000000000000", "不存在", "999999999999", "5"}
        << int(Qt::AscendingOrder) << QStringList{"5", "999999999999", "10000000000000", "不存在"};
    QTest::newRow("do percentages come back as they were?")
        << 4 << QStringList{"7%", "100%", "", "已存在，跳过", "53%"} << int(Qt::AscendingOrder)
        << QStringList{"", "7%", "53%", "100%", "已存在，跳过"};
    QTest::newRow("does the name sort as text?")
        << 0 << QStringList{"b", "10", "a", "9"} << int(Qt::AscendingOrder)
        << QStringList{"10", "9", "a", "b"};
}

void ListCommandsTest::doCountColumnsSortByValue() {
    QFETCH(int, column);
    QFETCH(QStringList, cells);
    QFETCH(int, order);
    QFETCH(QStringList, sorted);
    for (const QString& cell : cells) {
        fill(*list_, {"x"}, folder());
        list_->SetSubItem(list_->Count(), 6, cell);
        column == 0 ? list_->SetText(list_->Count(), cell)
                    : list_->SetSubItem(list_->Count(), column, cell);
    }
    SortDownloadList(*list_, column, Qt::SortOrder(order));
    QCOMPARE(cellsOf(*list_, column), sorted);
    // The rest of each row (column B holds the cell's first text here) moved with it.
    QCOMPARE(cellsOf(*list_, 6), sorted);
}

void ListCommandsTest::whichRowsDoesEachCommandTake_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("statesAfter");
    QTest::addColumn<QStringList>("typesAfter");
    QTest::addColumn<QString>("progressAfter"); // per row: x = a size shown, - = cleared
    QTest::addColumn<QStringList>("filesLeft");
    const QStringList same{"pdf", "htm", "HTML", "xml", "pdf", "htm", "pdf", "pdf"};
    const QStringList all{"a.pdf", "b.htm", "c.HTML", "d.xml", "e.pdf", "f.htm", "g.pdf", "h.pdf"};
    auto without = [&all](const QStringList& gone) {
        QStringList left = all;
        for (const QString& file : gone)
            left.removeAll(file);
        return left;
    };
    const QStringList pagesGone{"pdf", "xxx", "xxx", "xml", "pdf", "htm", "pdf", "pdf"};
    QTest::newRow("重新下载 选中项: selected finished rows")
        << "requeue selected"
        << "13143124" << QStringList{"pdf", "htm", "xxx", "xml", "pdf", "htm", "pdf", "pdf"}
        << "-x-xx-xx" << all;
    QTest::newRow("重新下载 出错项和网页类型文件项: failed, finished htm/html, not xml")
        << "requeue failed and pages"
        << "11113121" << pagesGone << "----x-x-" << all;
    QTest::newRow("文件大小小于 2000: equal counts under 2000, commas ignored")
        << "smaller 2000"
        << "41111121" << pagesGone << "x-----x-" << all;
    QTest::newRow("文件大小小于 500: 500 is not smaller")
        << "smaller 500"
        << "41143121" << pagesGone << "x--xx-x-" << all;
    QTest::newRow("清除 选中项 keeps the files") << "remove selected"
                                                 << "3434" << QStringList{} << "" << all;
    QTest::newRow("清除 全部出错项") << "remove failed"
                                     << "33312" << QStringList{} << "" << all;
    QTest::newRow("清除 完成项") << "remove completed"
                                 << "44124" << QStringList{} << "" << all;
    QTest::newRow("删除文件 网页类型文件项: finished htm/html/xml")
        << "delete pages"
        << "43343124" << same << "x---x-xx" << without({"b.htm", "c.HTML", "d.xml"});
    QTest::newRow("删除文件 出错项")
        << "delete failed"
        << "43343124" << same << "-xx-x-x-" << without({"a.pdf", "d.xml", "h.pdf"});
    QTest::newRow("取消下载选中项: selected waiting rows only")
        << "cancel selected"
        << "43343424" << same << "xxxxx-xx" << all;
}

void ListCommandsTest::whichRowsDoesEachCommandTake() {
    QFETCH(QString, command);
    QFETCH(QString, statesAfter);
    QFETCH(QStringList, typesAfter);
    QFETCH(QString, progressAfter);
    QFETCH(QStringList, filesLeft);
    fill(*list_,
         {"a|pdf|4|900|300|33%|*", "b|htm|3|9|9|100%", "c|HTML|3|9|9|100%|*", "d|xml|4|1,500|1500|",
          "e|pdf|3|500|500|100%", "f|htm|1||||*", "g|pdf|2|9|4|44%|*", "h|pdf|4|2|2|"},
         folder());
    // Every row's file is the one its transfer committed. A re-queued row keeps its file until
    // a new one takes its place; the delete commands remove it.
    for (int position = 1; position <= list_->Count(); ++position) {
        QFile file(folder() + list_->Text(position) + '.' + list_->SubItem(position, 1));
        QVERIFY(file.open(QIODevice::WriteOnly));
        SetRowFilePath(*list_, position, file.fileName());
        OwnedFile recorded = IdentityAt(file.fileName());
        // What a failed row owns came with its error answer.
        recorded.errorAnswer = list_->SmallIcon(position) == ItemState::Failed;
        SetRowOwnedFile(*list_, position, recorded);
    }
    const QMap<QString, std::function<int()>> commands{
        {"requeue selected",
         [this] {
             return RequeueSelectedRows(*list_);
         }},
        {"requeue failed and pages",
         [this] {
             return RequeueFailedAndWebPageRows(*list_);
         }},
        {"smaller 2000",
         [this] {
             return RequeueRowsSmallerThan(*list_, 2000);
         }},
        {"smaller 500",
         [this] {
             return RequeueRowsSmallerThan(*list_, 500);
         }},
        {"remove selected",
         [this] {
             return RemoveSelectedRows(*list_);
         }},
        {"remove failed",
         [this] {
             return RemoveFailedRows(*list_);
         }},
        {"remove completed",
         [this] {
             return RemoveCompletedRows(*list_);
         }},
        {"delete pages",
         [this] {
             return DeleteWebPageFiles(*list_);
         }},
        {"delete failed",
         [this] {
             return DeleteFailedFiles(*list_);
         }},
        {"cancel selected", [this] {
             return FailSelectedWaitingRows(*list_);
         }}};
    commands.value(command)();

    QCOMPARE(states(*list_), statesAfter);
    if (!typesAfter.isEmpty())
        QCOMPARE(cellsOf(*list_, DownloadColumn::Type), typesAfter);
    QString progress;
    for (const QString& size : cellsOf(*list_, DownloadColumn::Size))
        progress += size.isEmpty() ? '-' : 'x';
    if (!progressAfter.isEmpty())
        QCOMPARE(progress, progressAfter);
    QCOMPARE(QDir(folder()).entryList(QDir::Files, QDir::Name), filesLeft);
    // Rows are found by their link after any removal.
    for (int position = 1; position <= list_->Count(); ++position)
        QCOMPARE(list_->PositionOfKey(list_->Key(position)), position);
}

void ListCommandsTest::doesADeleteTakeOnlyTheRowsOwnFile_data() {
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QString>("command");
    for (const QString& owner : QStringList{"an earlier transfer's good file"} + FileOwnerKinds()) {
        for (const char* command : {"删除出错项", "删除网页类型文件项"})
            QTest::addRow("%s, %s", qPrintable(owner), command) << owner << command;
    }
}

void ListCommandsTest::doesADeleteTakeOnlyTheRowsOwnFile() {
    QFETCH(QString, owner);
    QFETCH(QString, command);
    fill(*list_, {"paper|htm|4|9|9|100%"}, folder());
    const QString path = folder() + "paper.htm";
    const QString users = dir_->filePath("users-paper.htm");
    SetRowFilePath(*list_, 1, path);
    const bool earlier = owner == "an earlier transfer's good file";
    OwnedFile recorded =
        PlaceFileOfOwner(earlier ? "the row's own file" : owner, path, "<html>", users);
    // The failed row's own page came with its error answer.
    recorded.errorAnswer = !earlier;
    SetRowOwnedFile(*list_, 1, recorded);
    const QByteArray before = QFile::exists(users) ? QByteArray("<html>") : QByteArray();

    QCOMPARE(command == "删除出错项" ? DeleteFailedFiles(*list_) : DeleteWebPageFiles(*list_), 1);

    QCOMPARE(QFileInfo::exists(path) || QFileInfo(path).isSymLink(), !RowOwns(owner));
    // The row says why a file stayed; the user's bytes are untouched wherever they are.
    QCOMPARE(RowFailureReason(*list_, 1).isEmpty(), RowOwns(owner));
    if (!before.isEmpty()) {
        QFile file(users);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
}

void ListCommandsTest::doesAShuffleKeepEveryRow_data() {
    QTest::addColumn<int>("rows");
    QTest::newRow("an empty list") << 0;
    QTest::newRow("one row stays in place") << 1;
    QTest::newRow("fifty rows") << 50;
}

void ListCommandsTest::doesAShuffleKeepEveryRow() {
    QFETCH(int, rows);
    for (int i = 0; i < rows; ++i) {
        fill(*list_,
             {QStringLiteral("n%1|pdf|%2|%3|%4|%5%|*")
                  .arg(i)
                  .arg(1 + i % 4)
                  .arg(i * 9)
                  .arg(i)
                  .arg(i)},
             folder());
        list_->SetSubItem(i + 1, DownloadColumn::B, QStringLiteral("b%1").arg(i));
    }
    const QStringList before = records(*list_);
    QRandomGenerator random(20240611);
    QCOMPARE(ShuffleRows(*list_, random), rows);
    QStringList after = records(*list_);
    QCOMPARE(after != before, rows == 50);
    QStringList sortedBefore = before;
    sortedBefore.sort();
    after.sort();
    QCOMPARE(after, sortedBefore);
    QCOMPARE(list_->SelectedCount(), 0);
    for (int position = 1; position <= rows; ++position)
        QCOMPARE(list_->PositionOfKey(list_->Key(position)), position);
}

void ListCommandsTest::isEveryOrderOfThreeRowsAboutEquallyLikely() {
    // 6000 shuffles of the same order, 1000 expected per outcome (standard deviation about
    // 29): a bound of 150 catches a biased draw but not chance.
    QRandomGenerator random(7);
    QMap<QString, int> seen;
    for (int round = 0; round < 6000; ++round) {
        list_->Clear();
        fill(*list_, {"a", "b", "c"}, folder());
        ShuffleRows(*list_, random);
        ++seen[cellsOf(*list_, 0).join(QString())];
    }
    QCOMPARE(seen.size(), 6);
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        QVERIFY2(qAbs(it.value() - 1000) < 150, qPrintable(it.key()));
}

void ListCommandsTest::doesTheDrawLimitLeaveTheFrontInOrder() {
    const int rows = kShuffleDrawLimit + 7;
    QStringList names;
    for (int i = 0; i < rows; ++i)
        names << QString::number(i);
    fill(*list_, names, folder());
    QRandomGenerator random(3);
    QCOMPARE(ShuffleRows(*list_, random), kShuffleDrawLimit);
    // The seven rows never drawn lead in their old order; every row is still there.
    for (int position = 2; position <= 7; ++position)
        QVERIFY(list_->Text(position).toInt() > list_->Text(position - 1).toInt());
    QStringList after = cellsOf(*list_, 0);
    QCOMPARE(QSet<QString>(after.cbegin(), after.cend()).size(), rows);
}

void ListCommandsTest::isTheNamesExportOneLinePerRow() {
    QCOMPARE(ExportNamesText(*list_, false), QString());
    fill(*list_, {"one|pdf|3", "two|pdf|4", "three|pdf|3", "four|pdf|2", "five|pdf|1"}, folder());
    QCOMPARE(ExportNamesText(*list_, false), "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\n");
    QCOMPARE(ExportNamesText(*list_, true), "two\r\nfour\r\nfive\r\n");
}

void ListCommandsTest::whichPlainTextEditorIsFound_data() {
    // files: "config/...", "apps/..." or "system/..." followed by their content
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("program");
    const QString list = QStringLiteral("[Default Applications]\ntext/plain=%1\n");
    const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nExec=%1\n");
    QTest::newRow("does the desktop's own list come first?")
        << QStringList{"config/mimeapps.list",   list.arg("ed.desktop"), "config/kde-mimeapps.list",
                       list.arg("kate.desktop"), "apps/ed.desktop",      entry.arg("ed %U"),
                       "apps/kate.desktop",      entry.arg("kate %U")}
        << "kate";
    QTest::newRow("are hidden, terminal and many-argument entries passed over?")
        << QStringList{"config/mimeapps.list", list.arg("a.desktop;b.desktop;c.desktop;d.desktop"),
                       "apps/a.desktop",       entry.arg("a %F") + "Hidden=true\n",
                       "apps/b.desktop",       entry.arg("vim %F") + "Terminal=true\n",
                       "apps/c.desktop",       entry.arg("kate -b %U"),
                       "apps/d.desktop",       entry.arg("\"/opt/My Editor/edit\" %f")}
        << "/opt/My Editor/edit";
    QTest::newRow("does the user's entry hide the system's of that name?")
        << QStringList{"config/mimeapps.list", list.arg("ed.desktop"), "apps/ed.desktop",
                       entry.arg("ed"),        "system/ed.desktop",    entry.arg("ed %U")}
        << "";
    QTest::newRow("is the cache asked when no list names one?")
        << QStringList{"system/mimeinfo.cache", "[MIME Cache]\ntext/plain=gedit.desktop;\n",
                       "system/gedit.desktop", entry.arg("gedit %U")}
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

#include "core/search/SearchList.h"

#include "core/platform/KeyedListModel.h"

#include "TestEnvironment.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <functional>

namespace {

struct Row {
    Row(const QString& title, const QString& status = {}, bool selected = false)
        : title(title), status(status), selected(selected) {}
    QString title;
    QString status;
    bool selected;
};

// A list with one record per row, links "https://x/<n>.pdf".
void fill(KeyedListModel& list, const QList<Row>& rows) {
    for (const Row& row : rows) {
        const int n = list.Count() + 1;
        QVERIFY(AddSearchRecord(list, row.title, QStringLiteral("https://x/%1.pdf").arg(n),
                                QStringLiteral("https://x/search?FIRSTINDEX=10"),
                                QStringLiteral("pdf"), QStringLiteral("/home/u/papers/")));
        list.SetSubItem(n, 2, row.status);
        list.SetSelected(n, row.selected);
    }
}

QStringList titles(const KeyedListModel& list) {
    QStringList result;
    for (int position = 1; position <= list.Count(); ++position)
        result << list.Text(position);
    return result;
}

// The clearing walk as the window's users know it: look at row i; when it goes, look at the
// new row i. The filters must leave exactly what this leaves.
QStringList walkRemoving(const KeyedListModel& source,
                         const std::function<bool(const KeyedListModel&, int)>& matches) {
    KeyedListModel list(SearchListHeaders());
    for (int position = 1; position <= source.Count(); ++position) {
        list.Add(source.Key(position), source.Text(position));
        list.SetSubItem(position, 2, source.SubItem(position, 2));
        list.SetSelected(position, source.Selected(position));
    }
    int i = 1;
    while (i <= list.Count()) {
        if (matches(list, i))
            list.Remove(i);
        else
            ++i;
    }
    return titles(list);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

class SearchListTest : public QObject {
    Q_OBJECT

private slots:
    void recordFieldsAndDuplicateLinks() {
        KeyedListModel list(SearchListHeaders());
        QCOMPARE(list.Headers(), QStringList({"标题", "类型", "分析状态", "保存路径"}));
        QVERIFY(AddSearchRecord(list, "Title", "https://x/1.pdf", "https://x/page", "pdf", ""));
        QVERIFY(!AddSearchRecord(list, "Other title", "https://x/1.pdf", "https://x/other", "html",
                                 "/other/"));
        QCOMPARE(list.Count(), 1);
        QCOMPARE(list.Key(1), QStringLiteral("https://x/1.pdf"));
        QCOMPARE(list.Text(1), QStringLiteral("Title"));
        QCOMPARE(list.SubItem(1, 1), QStringLiteral("pdf"));
        QCOMPARE(list.SubItem(1, 2), QString()); // not analysed yet
        QCOMPARE(list.SubItem(1, 3), QString()); // no folder chosen
        QCOMPARE(list.Tag(1), QStringLiteral("https://x/page"));
    }

    void removeByTitle_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("containing");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("containing PDF, any letter case?")
            << "PDF" << true << QStringList{"Protein folding", "Ice", "étude"};
        QTest::newRow("not containing PDF?")
            << "PDF" << false << QStringList{"a pdf file", "Report.PDF", "Pdf and pdF"};
        QTest::newRow("text used as typed, spaces included?")
            << " pdf" << true << QStringList{"Protein folding", "Report.PDF", "Ice", "étude"};
        QTest::newRow("accented letters in other case?")
            << "ÉTUDE" << true
            << QStringList{"a pdf file", "Protein folding", "Report.PDF", "Pdf and pdF", "Ice"};
        QTest::newRow("empty text removes nothing?")
            << "" << true
            << QStringList{"a pdf file", "Protein folding", "Report.PDF", "Pdf and pdF", "Ice",
                           "étude"};
        QTest::newRow("empty text removes nothing, not containing either?")
            << "" << false
            << QStringList{"a pdf file", "Protein folding", "Report.PDF", "Pdf and pdF", "Ice",
                           "étude"};
    }
    void removeByTitle() {
        QFETCH(QString, text);
        QFETCH(bool, containing);
        QFETCH(QStringList, left);
        KeyedListModel list(SearchListHeaders());
        fill(list, {{"a pdf file"},
                    {"Protein folding"},
                    {"Report.PDF"},
                    {"Pdf and pdF"},
                    {"Ice"},
                    {"étude"}});
        const int before = list.Count();
        QCOMPARE(RemoveRowsByTitle(list, text, containing), before - int(left.size()));
        QCOMPARE(titles(list), left);
    }

    void removeSelectedAndSucceeded() {
        KeyedListModel list(SearchListHeaders());
        fill(list, {{"one", "成功", true},
                    {"two", "成功", true}, // adjacent selected rows both go
                    {"three", "分析失败", false},
                    {"four", "成功 ", false},
                    {"five", "", true},
                    {"six", "成功", false}});
        QCOMPARE(RemoveSelectedRows(list), 3);
        QCOMPARE(titles(list), QStringList({"three", "four", "six"}));
        QCOMPARE(list.SelectedItem(), 0);
        QCOMPARE(RemoveSucceededRows(list), 1); // "成功 " is not "成功"
        QCOMPARE(titles(list), QStringList({"three", "four"}));
        // The rows that stay are still found by their links.
        for (int position = 1; position <= list.Count(); ++position)
            QCOMPARE(list.PositionOfKey(list.Key(position)), position);
    }

    // On 5,000 rows with runs of matches of every length the filters leave what the row-by-row
    // walk leaves, in the same order.
    void filtersMatchTheWalkOnLargeLists() {
        QRandomGenerator random(7);
        QList<Row> rows;
        static const char* const statuses[] = {"", "成功", "分析失败"};
        for (int i = 0; i < 5000; ++i) {
            const bool word = random.bounded(3) == 0;
            rows.append({QStringLiteral("Title %1%2").arg(i).arg(word ? " Nature" : ""),
                         QString::fromUtf8(statuses[random.bounded(3)]), random.bounded(2) == 0});
        }
        using Filter = std::function<int(KeyedListModel&)>;
        using Match = std::function<bool(const KeyedListModel&, int)>;
        const QList<std::pair<Filter, Match>> cases{
            {RemoveSelectedRows,
             [](const KeyedListModel& l, int p) {
                 return l.Selected(p);
             }},
            {RemoveSucceededRows,
             [](const KeyedListModel& l, int p) {
                 return l.SubItem(p, 2) == "成功";
             }},
            {[](KeyedListModel& l) { return RemoveRowsByTitle(l, "nature", true); },
             [](const KeyedListModel& l, int p) {
                 return l.Text(p).contains("Nature");
             }},
            {[](KeyedListModel& l) { return RemoveRowsByTitle(l, "nature", false); },
             [](const KeyedListModel& l, int p) {
                 return !l.Text(p).contains("Nature");
             }},
        };
        for (const auto& [filter, match] : cases) {
            KeyedListModel list(SearchListHeaders());
            fill(list, rows);
            const QStringList expected = walkRemoving(list, match);
            QVERIFY(expected.size() > 0 && expected.size() < 5000);
            QCOMPARE(filter(list), 5000 - int(expected.size()));
            QCOMPARE(titles(list), expected);
        }
    }

    void exportLines() {
        KeyedListModel list(SearchListHeaders());
        fill(list, {{"Never analysed"}, {"Handed over", "成功"}, {"Broken", "分析失败"}});
        QCOMPARE(SearchListExportText(list), QStringLiteral("Never analysed-【pdf】\r\n"
                                                            "Handed over-【pdf】成功\r\n"
                                                            "Broken-【pdf】分析失败\r\n"));
        QCOMPARE(SearchListExportText(KeyedListModel(SearchListHeaders())), QString());
    }

    void exportFileIsGb18030() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("export.txt");
        // A longer file already there is replaced, not overwritten in part.
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(10000, 'x'));
        }
        KeyedListModel list(SearchListHeaders());
        fill(list, {{"Étude of ∑ in 蛋白质 😀"}, {"plain"}});
        const QString text = SearchListExportText(list);
        QVERIFY(WriteExportFile(path, text));
        const QByteArray bytes = readAll(path);
        // GBK characters keep their GBK bytes: "中" would be D6 D0, "【" is A1 BE.
        QVERIFY(bytes.contains(QByteArray::fromHex("a1be")));
        QVERIFY(!bytes.contains('?'));
        QStringDecoder decoder("GB18030");
        QCOMPARE(decoder.decode(bytes), text);
        QVERIFY(!decoder.hasError());
    }

    void exportFileOddCases() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // A lone half of a surrogate pair cannot be encoded; it is written as U+FFFD and the
        // rest of the file is intact.
        const QString path = dir.filePath("broken.txt");
        QString text = QStringLiteral("a");
        text += QChar(0xD800);
        text += QStringLiteral("b\r\n");
        QVERIFY(WriteExportFile(path, text));
        QCOMPARE(QStringDecoder("GB18030").decode(readAll(path)), QStringLiteral("a\uFFFDb\r\n"));

        // Nothing to write: no file, no success.
        const QString empty = dir.filePath("empty.txt");
        QVERIFY(!WriteExportFile(empty, QString()));
        QVERIFY(!QFile::exists(empty));

        // Places that cannot be written.
        QVERIFY(!WriteExportFile(dir.path(), QStringLiteral("x\r\n")));
        QVERIFY(!WriteExportFile(dir.filePath("missing/folder/x.txt"), QStringLiteral("x\r\n")));
    }

    void doneMessage_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty file?") << qint64(0) << "保存文件完毕：0.0KB";
        QTest::newRow("one and a half?") << qint64(1536) << "保存文件完毕：1.5KB";
        QTest::newRow("just under a tenth?") << qint64(51) << "保存文件完毕：0.0KB";
        QTest::newRow("just over half a tenth?") << qint64(52) << "保存文件完毕：0.1KB";
        QTest::newRow("exact half rounds away from zero?") << qint64(256) << "保存文件完毕：0.3KB";
        QTest::newRow("rounds up to a whole?") << qint64(1023) << "保存文件完毕：1.0KB";
        QTest::newRow("thousands separator?") << qint64(1024000) << "保存文件完毕：1,000.0KB";
        QTest::newRow("just under a thousand?")
            << qint64(1023948) << "保存文件完毕：999.9KB"; // 999.949...
        QTest::newRow("over a gigabyte?") << qint64(1234567890) << "保存文件完毕：1,205,632.7KB";
        QTest::newRow("largest size?")
            << std::numeric_limits<qint64>::max() << "保存文件完毕：9,007,199,254,740,992.0KB";
    }
    void doneMessage() {
        QFETCH(qint64, bytes);
        QFETCH(QString, message);
        QCOMPARE(ExportDoneMessage(bytes), message);
    }
};

QF_TEST_GUILESS_MAIN(SearchListTest)
#include "test_searchlist.moc"

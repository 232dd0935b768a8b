#include "TestEnvironment.h"

#include "core/platform/KeyedListModel.h"
#include "core/tools/LinkReplace.h"

#include <QStringList>

// Replacing text in the links of a keyed list: letter case ignored, keys kept unique and
// non-empty by stopping at the first row that would break that.
class LinkReplaceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void replacesKeysAndTags_data();
    void replacesKeysAndTags();
    void stopsAtARowWhoseLinkWouldBreakTheList_data();
    void stopsAtARowWhoseLinkWouldBreakTheList();
    void otherFieldsAndOrderStay();
    void anEmptyListOrSearchChangesNothing();
};

namespace {

// Rows "key|tag", text "fileN".
void fill(KeyedListModel& list, const QStringList& rows) {
    int n = 0;
    for (const QString& row : rows) {
        const QStringList parts = row.split('|');
        QVERIFY(list.Add(parts[0], QStringLiteral("file%1").arg(++n)));
        list.SetTag(n, parts.value(1));
    }
}

QStringList rowsOf(const KeyedListModel& list) {
    QStringList rows;
    for (int position = 1; position <= list.Count(); ++position)
        rows << list.Key(position) + '|' + list.Tag(position);
    return rows;
}

} // namespace

void LinkReplaceTest::replacesKeysAndTags_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("changed");

    QTest::newRow("does a capital search text match small letters and mixed ones?")
        << QStringList{"http://old.host/a.pdf|http://Old.Host/list", "http://OLD.HOST/b.pdf|",
                       "http://other/c.pdf|http://other/"}
        << "OLD.host"
        << "new.host"
        << QStringList{"http://new.host/a.pdf|http://new.host/list", "http://new.host/b.pdf|",
                       "http://other/c.pdf|http://other/"}
        << 2;
    QTest::newRow("does an empty replacement remove every occurrence?")
        << QStringList{"http://h/x/x/a.pdf|http://h/x/", "http://h/b.pdf|x"} << "x/"
        << "" << QStringList{"http://h/a.pdf|http://h/", "http://h/b.pdf|x"} << 1;
    QTest::newRow("is replaced text searched again?") << QStringList{"http://h/aaaa|aAa"} << "aa"
                                                      << "a" << QStringList{"http://h/aa|aa"} << 1;
    QTest::newRow("does a replacement holding the search text grow only once?")
        << QStringList{"http://h/a|"} << "a"
        << "aA" << QStringList{"http://h/aA|"} << 1;
    QTest::newRow("are blanks around the search text part of it?")
        << QStringList{"http://h/a b.pdf|http://h/ab"} << " b"
        << "_b" << QStringList{"http://h/a_b.pdf|http://h/ab"} << 1;
    QTest::newRow("is a tag changed where the key holds no match?")
        << QStringList{"http://h/a.pdf|http://proxy.lib/page"} << "PROXY.lib"
        << "www" << QStringList{"http://h/a.pdf|http://www/page"} << 1;
    QTest::newRow("does a text found nowhere leave every row?")
        << QStringList{"http://h/a.pdf|p", "http://h/b.pdf|q"} << "zzz"
        << "y" << QStringList{"http://h/a.pdf|p", "http://h/b.pdf|q"} << 0;
    QTest::newRow("are non-ASCII letters matched case-blind too?")
        << QStringList{"http://h/ÄBC|"} << "äbc"
        << "x" << QStringList{"http://h/x|"} << 1;
}

void LinkReplaceTest::replacesKeysAndTags() {
    QFETCH(QStringList, before);
    QFETCH(QString, find);
    QFETCH(QString, replacement);
    QFETCH(QStringList, after);
    QFETCH(int, changed);

    KeyedListModel list({"名称"});
    fill(list, before);
    const LinkReplaceResult result = ReplaceInLinks(list, find, replacement);
    QCOMPARE(result.stop, LinkReplaceStop::None);
    QCOMPARE(result.position, 0);
    QCOMPARE(result.changedRows, changed);
    QCOMPARE(rowsOf(list), after);
    // The keys are found under their new spelling, and no longer under the old one.
    for (int position = 1; position <= list.Count(); ++position)
        QCOMPARE(list.PositionOfKey(list.Key(position)), position);
    for (const QString& row : before) {
        const QString oldKey = row.section('|', 0, 0);
        if (!after.join('\n').contains(oldKey + '|'))
            QVERIFY(!list.ContainsKey(oldKey));
    }
}

void LinkReplaceTest::stopsAtARowWhoseLinkWouldBreakTheList_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("other");
    QTest::addColumn<QStringList>("after");

    QTest::newRow("a link that would no longer be a web address")
        << QStringList{"http://h/1|https://h/", "https://h/2|", "https://h/3|"} << "https://h/"
        << "javascript:" << int(LinkReplaceStop::NotWebAddress) << 2 << 0
        << QStringList{"http://h/1|javascript:", "https://h/2|", "https://h/3|"};
    QTest::newRow("a link that would become a local file")
        << QStringList{"http://h/1|http://h/"} << "http://h"
        << "file://" << int(LinkReplaceStop::NotWebAddress) << 1 << 0
        << QStringList{"http://h/1|http://h/"};
    QTest::newRow("a link that would become empty")
        << QStringList{"http://g/1|http://h/", "HTTP://H/|t", "http://h/3|http://h/"} << "http://h/"
        << "" << int(LinkReplaceStop::EmptyKey) << 2 << 0
        << QStringList{"http://g/1|", "HTTP://H/|t", "http://h/3|http://h/"};
    QTest::newRow("a link that would become a later row's link")
        << QStringList{"http://h/x|http://A/", "http://a/1|http://a/", "http://b/1|",
                       "http://a/2|a"}
        << "//A/"
        << "//b/" << int(LinkReplaceStop::DuplicateKey) << 2 << 3
        << QStringList{"http://h/x|http://b/", "http://a/1|http://a/", "http://b/1|",
                       "http://a/2|a"};
    QTest::newRow("a link that would become an earlier, already replaced row's link")
        << QStringList{"http://x/1|http://x/", "http://X/1|http://X/", "http://x/2|"} << "x"
        << "y" << int(LinkReplaceStop::DuplicateKey) << 2 << 1
        << QStringList{"http://y/1|http://y/", "http://X/1|http://X/", "http://x/2|"};
}

void LinkReplaceTest::stopsAtARowWhoseLinkWouldBreakTheList() {
    QFETCH(QStringList, before);
    QFETCH(QString, find);
    QFETCH(QString, replacement);
    QFETCH(int, stop);
    QFETCH(int, position);
    QFETCH(int, other);
    QFETCH(QStringList, after);

    KeyedListModel list({"名称"});
    fill(list, before);
    const LinkReplaceResult result = ReplaceInLinks(list, find, replacement);
    QCOMPARE(int(result.stop), stop);
    QCOMPARE(result.position, position);
    QCOMPARE(result.otherPosition, other);
    QCOMPARE(rowsOf(list), after);
    QCOMPARE(result.changedRows, position - 1);
}

void LinkReplaceTest::otherFieldsAndOrderStay() {
    KeyedListModel list({"名称", "类型", "文件大小"});
    fill(list, {"http://a/2|p", "http://a/1|q"});
    list.SetSubItem(1, 1, "pdf");
    list.SetSubItem(2, 2, "1234");
    list.SetSmallIcon(1, 3);
    list.SetSmallIcon(2, 4);
    list.SetSelected(2, true);
    ReplaceInLinks(list, "a", "b");
    QCOMPARE(rowsOf(list), (QStringList{"http://b/2|p", "http://b/1|q"}));
    QCOMPARE(list.Text(1), QStringLiteral("file1"));
    QCOMPARE(list.SubItem(1, 1), QStringLiteral("pdf"));
    QCOMPARE(list.SubItem(2, 2), QStringLiteral("1234"));
    QCOMPARE(list.SmallIcon(1), 3);
    QCOMPARE(list.SmallIcon(2), 4);
    QVERIFY(!list.Selected(1));
    QVERIFY(list.Selected(2));
}

void LinkReplaceTest::anEmptyListOrSearchChangesNothing() {
    KeyedListModel empty({"名称"});
    QCOMPARE(ReplaceInLinks(empty, "a", "b").stop, LinkReplaceStop::None);
    QCOMPARE(empty.Count(), 0);

    KeyedListModel list({"名称"});
    fill(list, {"http://a/|a"});
    const LinkReplaceResult result = ReplaceInLinks(list, "", "b");
    QCOMPARE(result.changedRows, 0);
    QCOMPARE(rowsOf(list), QStringList{"http://a/|a"});
}

QF_TEST_GUILESS_MAIN(LinkReplaceTest)
#include "test_linkreplace.moc"

#include "TestEnvironment.h"

#include "core/platform/Dom.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

DomElement element(const QString& tag, const QString& className = {}, const QString& text = {}) {
    DomElement e;
    e.tagName = tag;
    e.className = className;
    e.innerText = text;
    return e;
}

// UL
//   LI.cit  > SPAN.title "One", A "/pdf/1", A "/abs/1"
//   LI.cit  > SPAN.title "Two", A "/pdf/2"
// A "/next"
Dom resultList() {
    Dom dom;
    dom.URL = "http://127.0.0.1/results";
    const int ul = dom.append(-1, element("ul"));
    const int li1 = dom.append(ul, element("li", "cit"));
    dom.append(li1, element("span", "title", "One"));
    DomElement a = element("a");
    a.href = "http://127.0.0.1/pdf/1";
    dom.append(li1, a);
    a.href = "http://127.0.0.1/abs/1";
    dom.append(li1, a);
    const int li2 = dom.append(ul, element("li", "cit"));
    dom.append(li2, element("span", "title", "Two"));
    a.href = "http://127.0.0.1/pdf/2";
    dom.append(li2, a);
    a.href = "http://127.0.0.1/next";
    a.id = "next";
    dom.append(-1, a);
    return dom;
}

QStringList hrefs(const DomCollection& c) {
    QStringList out;
    for (int i = 0; i < c.length(); ++i)
        out << c.item(i).href;
    return out;
}

QByteArray json(const QJsonArray& elements, const QJsonValue& url = QString("about:blank")) {
    QJsonObject root{{"elements", elements}};
    if (!url.isUndefined())
        root.insert("url", url);
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

QJsonObject jsonElement(const QString& tag, const QJsonValue& parent) {
    return QJsonObject{{"t", tag}, {"p", parent}};
}

} // namespace

class DomTest : public QObject {
    Q_OBJECT

private slots:
    void handBuiltTreeAnswersTagQueries() {
        const Dom dom = resultList();
        QCOMPARE(dom.size(), 9);
        QCOMPARE(dom.getElementsByTagName("a").length(), 4); // letter case ignored
        QCOMPARE(dom.getElementsByTagName("LI").item(1).className, QString("cit"));
        QCOMPARE(dom.getElementsByTagName("*").length(), 9);
        QCOMPARE(dom.getElementsByTagName("TABLE").length(), 0);
        QCOMPARE(dom.at(0).tagName, QString("UL")); // stored upper case, as a browser reports
        QCOMPARE(dom.at(2).parent, 1);
        QCOMPARE(dom.at(0).end, 8); // the trailing anchor is not inside the list
    }

    void nestedQueriesStayInsideTheirElement() {
        const Dom dom = resultList();
        const DomCollection items = dom.getElementsByTagName("LI");
        QCOMPARE(hrefs(dom.getElementsByTagName(items.indexOf(0), "A")),
                 QStringList({"http://127.0.0.1/pdf/1", "http://127.0.0.1/abs/1"}));
        QCOMPARE(hrefs(dom.getElementsByTagName(items.indexOf(1), "A")),
                 QStringList({"http://127.0.0.1/pdf/2"}));
        const int span = dom.getElementsByTagName(items.indexOf(1), "SPAN").indexOf(0);
        QCOMPARE(dom.at(span).innerText, QString("Two"));
        // An element is not its own descendant; a leaf has none.
        QCOMPARE(dom.getElementsByTagName(items.indexOf(0), "LI").length(), 0);
        QCOMPARE(dom.getElementsByTagName(span, "*").length(), 0);
        QCOMPARE(dom.getElementsByTagName(-1, "A").length(), 0);
        QCOMPARE(dom.getElementsByTagName(99, "A").length(), 0);
    }

    void outOfRangeAccessGivesEmptyValues() {
        const Dom dom = resultList();
        const DomCollection anchors = dom.getElementsByTagName("A");
        QCOMPARE(anchors.indexOf(4), -1);
        QCOMPARE(anchors.indexOf(-1), -1);
        QVERIFY(anchors.item(4).tagName.isEmpty());
        QVERIFY(dom.at(dom.size()).tagName.isEmpty());
        QCOMPARE(DomCollection().length(), 0);
        QVERIFY(DomCollection().item(0).href.isEmpty());
    }

    void getElementByIdFindsTheFirstMatchOnly() {
        Dom dom = resultList();
        DomElement second = element("div");
        second.id = "next";
        dom.append(-1, second);
        QCOMPARE(dom.getElementById("next"), 8);
        QCOMPARE(dom.getElementById("missing"), -1);
        // Most elements have no id; asking for "" must not hand one of them out.
        QCOMPARE(dom.getElementById(""), -1);
    }

    void collectionsOutliveTheirDom() {
        DomCollection anchors = resultList().getElementsByTagName("A");
        QCOMPARE(anchors.length(), 4);
        QCOMPARE(anchors.item(3).href, QString("http://127.0.0.1/next"));
    }

    void collectionsKeepWhatTheySawWhenTheDomGrows() {
        Dom dom = resultList();
        const DomCollection before = dom.getElementsByTagName("A");
        const Dom copy = dom;
        DomElement a = element("a");
        a.href = "http://127.0.0.1/late";
        QCOMPARE(dom.append(-1, a), 9);
        QCOMPARE(before.length(), 4);
        QCOMPARE(before.item(3).href, QString("http://127.0.0.1/next"));
        QCOMPARE(copy.size(), 9);
        QCOMPARE(dom.getElementsByTagName("A").length(), 5);
    }

    void appendRefusesParentsThatBreakDocumentOrder_data() {
        QTest::addColumn<int>("parent");
        // resultList(): 0 UL, 1 LI, 2-4 its children, 5 LI, 6-7 its children, 8 A at the top.
        QTest::newRow("may a closed list item take another child?") << 1;
        QTest::newRow("may the closed list take another child?") << 0;
        QTest::newRow("may an element not appended yet be a parent?") << 9;
        QTest::newRow("may a parent index below -1 be used?") << -2;
    }

    void appendRefusesParentsThatBreakDocumentOrder() {
        QFETCH(int, parent);
        Dom dom = resultList();
        QCOMPARE(dom.append(parent, element("span")), -1);
        QCOMPARE(dom.size(), 9);
        QCOMPARE(dom.at(0).end, 8);
        // The last element appended may still take children.
        QCOMPARE(dom.append(8, element("span")), 9);
        QCOMPARE(dom.at(8).end, 10);
    }

    void fromJsonReadsTheSnapshotFormat() {
        QJsonArray elements;
        elements.append(QJsonObject{{"t", "LI"}, {"c", "cit"}, {"p", -1}});
        elements.append(QJsonObject{
            {"t", "A"}, {"h", "http://h/x?a=1&b=2"}, {"x", "Full Text (PDF)"}, {"p", 0}});
        elements.append(QJsonObject{
            {"t", "INPUT"}, {"n", "user"}, {"y", "text"}, {"i", "u1"}, {"v", "reader"}, {"p", -1}});
        const std::optional<Dom> dom = Dom::fromJson(json(elements, QString("http://h/r")));
        QVERIFY(dom);
        QCOMPARE(dom->URL, QString("http://h/r"));
        QCOMPARE(dom->size(), 3);
        QCOMPARE(dom->at(1).parent, 0);
        QCOMPARE(dom->at(1).href, QString("http://h/x?a=1&b=2"));
        QCOMPARE(dom->at(1).innerText, QString("Full Text (PDF)"));
        QCOMPARE(dom->getElementsByTagName(0, "A").length(), 1);
        const DomElement& input = dom->at(dom->getElementById("u1"));
        QCOMPARE(input.name, QString("user"));
        QCOMPARE(input.type, QString("text"));
        QCOMPARE(input.value, QString("reader"));
        QVERIFY(Dom::fromJson(json({})).has_value()); // an empty page is still a page
    }

    void fromJsonRejectsWhatIsNotASnapshot_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("is plain text accepted?") << QByteArray("null");
        QTest::newRow("is broken JSON accepted?") << QByteArray("{\"url\":\"x\",\"elements\":[");
        QTest::newRow("is an array accepted?") << QByteArray("[]");
        QTest::newRow("is a snapshot without elements accepted?")
            << QByteArray("{\"url\":\"about:blank\"}");
        QTest::newRow("is a snapshot without url accepted?") << json({}, QJsonValue::Undefined);
        QTest::newRow("is an element that is a number accepted?") << json({QJsonValue(3)});
        QTest::newRow("is an element without a tag accepted?") << json({QJsonObject{{"p", -1}}});
        QTest::newRow("is an element without a parent accepted?")
            << json({QJsonObject{{"t", "A"}}});
        QTest::newRow("is a fractional parent accepted?")
            << json({jsonElement("UL", -1), jsonElement("LI", 0.5)});
        QTest::newRow("is a parent given as text accepted?")
            << json({jsonElement("UL", -1), jsonElement("LI", "0")});
        QTest::newRow("is a parent that comes later accepted?")
            << json({jsonElement("UL", 1), jsonElement("LI", -1)});
        QTest::newRow("is an element its own parent?") << json({jsonElement("UL", 0)});
        QTest::newRow("may a closed element take a child again?")
            << json({jsonElement("UL", -1), jsonElement("LI", 0), jsonElement("P", -1),
                     jsonElement("LI", 0)});
    }

    void fromJsonRejectsWhatIsNotASnapshot() {
        QFETCH(QByteArray, text);
        QVERIFY(!Dom::fromJson(text).has_value());
    }
};

QF_TEST_GUILESS_MAIN(DomTest)
#include "test_dom.moc"

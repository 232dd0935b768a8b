#include "core/search/PageKinds.h"
#include "core/search/ResultPages.h"
#include "core/search/TodaySite.h"

#include "TestEnvironment.h"

#include <climits>

namespace {

const QString kPage = QStringLiteral("https://www.science.org/search?site_area=sci&"
                                     "journalcode=sci&FIRSTINDEX=20");

struct Record {
    QString title;
    QString link;
    QString page;
    bool operator==(const Record&) const = default;
};

// Adds an element under `parent` and returns its index.
int add(Dom& dom, int parent, const char* tag, const QString& className = {},
        const QString& text = {}, const QString& href = {}) {
    DomElement element;
    element.tagName = QString::fromLatin1(tag);
    element.className = className;
    element.innerText = text;
    element.href = href;
    return dom.append(parent, element);
}

int addSpan(Dom& dom, int parent, const QString& className, const QString& text) {
    return add(dom, parent, "SPAN", className, text);
}

int addAnchor(Dom& dom, int parent, const QString& text, const QString& href) {
    return add(dom, parent, "A", {}, text, href);
}

// A result entry as the journal's pages have it: a title span among other spans, then a list
// of view links of which the last is the PDF.
int addEntry(Dom& dom, const QString& title, const QString& link, int parent = -1,
             const QString& titleClass = QStringLiteral("cit-title"),
             const QString& pdfText = QStringLiteral("Full Text (PDF)")) {
    const int li = add(dom, parent, "LI", QStringLiteral("results-cit cit"));
    addSpan(dom, li, QStringLiteral("cit-section"), QStringLiteral("Report"));
    addSpan(dom, li, titleClass, title);
    addSpan(dom, li, QStringLiteral("cit-auth-list"), QStringLiteral("A. Author"));
    const int views = add(dom, li, "UL", QStringLiteral("cit-views"));
    const int abstract = add(dom, views, "LI");
    addAnchor(dom, abstract, QStringLiteral("Abstract"), link + QStringLiteral(".abstract"));
    const int full = add(dom, views, "LI");
    addAnchor(dom, full, QStringLiteral("Full Text"), link + QStringLiteral(".full"));
    const int pdf = add(dom, views, "LI");
    addAnchor(dom, pdf, pdfText, link);
    return li;
}

Dom page(const QString& url = kPage) {
    Dom dom;
    dom.URL = url;
    return dom;
}

QList<Record> extract(const Dom& dom, int* calls = nullptr) {
    QList<Record> records;
    const int count = ExtractResultRecords(
        dom, [&](const QString& title, const QString& link, const QString& page) {
            records.append({title, link, page});
        });
    if (calls)
        *calls = count;
    return records;
}

Dom withPageLinks(const QStringList& hrefs) {
    Dom dom = page();
    const int pager = add(dom, -1, "DIV", QStringLiteral("pager"));
    for (const QString& href : hrefs)
        addAnchor(dom, pager, QStringLiteral("2"), href);
    return dom;
}

QString pageLink(int firstIndex) {
    return QStringLiteral("https://www.science.org/search?site_area=sci&journalcode=sci&"
                          "FIRSTINDEX=%1")
        .arg(firstIndex);
}

} // namespace

class ResultPagesTest : public QObject {
    Q_OBJECT

private slots:
    void recordCarriesTitleLinkAndPage() {
        Dom dom = page();
        addEntry(dom, QStringLiteral("  Structure of a protein  "),
                 QStringLiteral("  https://www.science.org/doi/pdf/10.1126/science.1  "));
        int calls = 0;
        const QList<Record> records = extract(dom, &calls);
        QCOMPARE(calls, 1);
        QCOMPARE(records,
                 QList<Record>({{"Structure of a protein",
                                 "https://www.science.org/doi/pdf/10.1126/science.1", kPage}}));
    }

    // Both generations: the former page's PDF anchor carries the link itself; today's card
    // carries a DOI link from which the PDF link is built on the page's own host.
    void whichLinksBecomeRecords_data() {
        QTest::addColumn<bool>("today");
        QTest::addColumn<QString>("pageUrl");
        QTest::addColumn<QString>("href");
        QTest::addColumn<bool>("recorded");
        const QString today = QStringLiteral("https://www.science.org/toc/science/390/6771");
        const QString doi = QStringLiteral("/doi/10.1126/science.abc1234");
        QTest::newRow("a script link?")
            << false << kPage << "javascript:alert(document.cookie)" << false;
        QTest::newRow("a local file?") << false << kPage << "file:///etc/passwd" << false;
        QTest::newRow("a data address?")
            << false << kPage << "data:text/html,<script>x</script>" << false;
        QTest::newRow("a line break inside?")
            << false << kPage << "https://x.org/a.pdf\r\nCookie: a=b" << false;
        QTest::newRow("today: a script anchor with a DOI in it?")
            << true << today << "javascript:location='" + doi + "'" << false;
        QTest::newRow("today: a page shown over ftp?")
            << true << "ftp://www.science.org/toc/science/390/6771"
            << "https://www.science.org" + doi << false;
        QTest::newRow("https in capitals?")
            << false << kPage << "HTTPS://www.science.org/a.pdf" << true;
        QTest::newRow("today: the site's own DOI link?")
            << true << today << "https://www.science.org" + doi << true;
    }
    void whichLinksBecomeRecords() {
        QFETCH(bool, today);
        QFETCH(QString, pageUrl);
        QFETCH(QString, href);
        QFETCH(bool, recorded);
        Dom dom = page(pageUrl);
        if (today) {
            const int section = add(dom, -1, "SECTION", QStringLiteral("toc__section"));
            const int card = add(dom, section, "DIV", QStringLiteral("card"));
            const int title = add(dom, card, "H3", QStringLiteral("article-title"));
            addAnchor(dom, title, QStringLiteral("Title"), href);
        } else {
            addEntry(dom, QStringLiteral("Title"), href);
        }
        QStringList links;
        QStringList refused;
        const auto collect = [&](const QString&, const QString& link, const QString&) {
            links << link;
        };
        const auto refuse = [&](const QString& link) {
            refused << link;
        };
        if (today)
            ExtractTodayRecords(dom, PageKind::TodayIssue, collect, refuse);
        else
            ExtractResultRecords(dom, collect, refuse);
        QCOMPARE(links.size(), recorded ? 1 : 0);
        QCOMPARE(refused.size(), recorded ? 0 : 1);
    }

    void pdfAnchorText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matches");
        QTest::newRow("plain words?") << "Full Text (PDF)" << true;
        QTest::newRow("extra spaces before, between and after?") << "  Full   Text  (PDF) " << true;
        QTest::newRow("other letter case?") << "FULL TEXT (pdf)" << true;
        QTest::newRow("no spaces at all?") << "fulltext(pdf)" << true;
        QTest::newRow("non-breaking spaces?") << "Full\u00a0Text\u00a0(PDF)" << true;
        QTest::newRow("split over lines?") << "\n  Full Text\n  (PDF)\n" << true;
        QTest::newRow("tab?") << "Full\tText (PDF)" << true;
        QTest::newRow("only Full Text?") << "Full Text" << false;
        QTest::newRow("HTML full text?") << "Full Text (HTML)" << false;
        QTest::newRow("more words after?") << "Full Text (PDF) 2 MB" << false;
        QTest::newRow("trailing dot?") << "Full Text (PDF)." << false;
        QTest::newRow("empty?") << "" << false;
    }
    void pdfAnchorText() {
        QFETCH(QString, text);
        QFETCH(bool, matches);
        Dom dom = page();
        addEntry(dom, QStringLiteral("Title"), QStringLiteral("https://x.org/a.pdf"), -1,
                 QStringLiteral("cit-title"), text);
        QCOMPARE(extract(dom).size(), matches ? 1 : 0);
    }

    void titleSpanClass_data() {
        QTest::addColumn<QString>("className");
        QTest::addColumn<bool>("matches");
        QTest::newRow("cit-title?") << "cit-title" << true;
        QTest::newRow("first element title?") << "cit-first-element cit-title" << true;
        QTest::newRow("upper case and padded?") << "  CIT-TITLE " << true;
        QTest::newRow("another class as well?") << "cit-title highlight" << false;
        QTest::newRow("double space inside?") << "cit-first-element  cit-title" << false;
        QTest::newRow("no class?") << "" << false;
    }
    void titleSpanClass() {
        QFETCH(QString, className);
        QFETCH(bool, matches);
        Dom dom = page();
        addEntry(dom, QStringLiteral("Title"), QStringLiteral("https://x.org/a.pdf"), -1,
                 className);
        QCOMPARE(extract(dom).size(), matches ? 1 : 0);
    }

    void entryClass_data() {
        QTest::addColumn<QString>("className");
        QTest::addColumn<bool>("matches");
        QTest::newRow("exact?") << "results-cit cit" << true;
        QTest::newRow("other letter case?") << "Results-Cit Cit" << true;
        QTest::newRow("extra class?") << "results-cit cit extra" << false;
        QTest::newRow("leading space?") << " results-cit cit" << false;
        QTest::newRow("half of it?") << "results-cit" << false;
    }
    void entryClass() {
        QFETCH(QString, className);
        QFETCH(bool, matches);
        Dom dom = page();
        const int li = add(dom, -1, "LI", className);
        addSpan(dom, li, QStringLiteral("cit-title"), QStringLiteral("Title"));
        addAnchor(dom, li, QStringLiteral("Full Text (PDF)"), QStringLiteral("https://x/a.pdf"));
        QCOMPARE(extract(dom).size(), matches ? 1 : 0);
    }

    void onlyListItemsAreEntries() {
        Dom dom = page();
        const int div = add(dom, -1, "DIV", QStringLiteral("results-cit cit"));
        addSpan(dom, div, QStringLiteral("cit-title"), QStringLiteral("Title"));
        addAnchor(dom, div, QStringLiteral("Full Text (PDF)"), QStringLiteral("https://x/a.pdf"));
        QCOMPARE(extract(dom).size(), 0);
    }

    void entriesWithoutTitleOrLinkGiveNoRecord() {
        Dom dom = page();
        // Link but no title span.
        int li = add(dom, -1, "LI", QStringLiteral("results-cit cit"));
        addAnchor(dom, li, QStringLiteral("Full Text (PDF)"), QStringLiteral("https://x/1.pdf"));
        // Title but no PDF anchor.
        li = add(dom, -1, "LI", QStringLiteral("results-cit cit"));
        addSpan(dom, li, QStringLiteral("cit-title"), QStringLiteral("Two"));
        addAnchor(dom, li, QStringLiteral("Full Text"), QStringLiteral("https://x/2.full"));
        // Title of spaces only.
        addEntry(dom, QStringLiteral("   "), QStringLiteral("https://x/3.pdf"));
        // PDF anchor without an address.
        addEntry(dom, QStringLiteral("Four"), QStringLiteral("  "));
        int calls = -1;
        QVERIFY(extract(dom, &calls).isEmpty());
        QCOMPARE(calls, 0);
    }

    // The title of one entry never pairs with the link of the next: each entry is looked at
    // within its own elements.
    void partsDoNotLeakBetweenEntries() {
        Dom dom = page();
        int li = add(dom, -1, "LI", QStringLiteral("results-cit cit"));
        addSpan(dom, li, QStringLiteral("cit-title"), QStringLiteral("Title only"));
        li = add(dom, -1, "LI", QStringLiteral("results-cit cit"));
        addAnchor(dom, li, QStringLiteral("Full Text (PDF)"), QStringLiteral("https://x/l.pdf"));
        // Loose parts outside any entry.
        addSpan(dom, -1, QStringLiteral("cit-title"), QStringLiteral("Loose"));
        addAnchor(dom, -1, QStringLiteral("Full Text (PDF)"), QStringLiteral("https://x/m.pdf"));
        QVERIFY(extract(dom).isEmpty());
    }

    // Only the first matching span and the first matching anchor count, even when they are
    // empty and a later one is not.
    void firstMatchingPartWins() {
        Dom dom = page();
        int li = add(dom, -1, "LI", QStringLiteral("results-cit cit"));
        addSpan(dom, li, QStringLiteral("cit-title"), QStringLiteral("First"));
        addSpan(dom, li, QStringLiteral("cit-first-element cit-title"), QStringLiteral("Second"));
        addAnchor(dom, li, QStringLiteral("Full Text (PDF)"), QStringLiteral("https://x/1.pdf"));
        addAnchor(dom, li, QStringLiteral("Full Text (PDF)"), QStringLiteral("https://x/2.pdf"));

        li = add(dom, -1, "LI", QStringLiteral("results-cit cit"));
        addSpan(dom, li, QStringLiteral("cit-title"), QString());
        addSpan(dom, li, QStringLiteral("cit-title"), QStringLiteral("Later title"));
        addAnchor(dom, li, QStringLiteral("Full Text (PDF)"), QStringLiteral("https://x/3.pdf"));

        li = add(dom, -1, "LI", QStringLiteral("results-cit cit"));
        addSpan(dom, li, QStringLiteral("cit-title"), QStringLiteral("Title"));
        addAnchor(dom, li, QStringLiteral("Full Text (PDF)"), QString());
        addAnchor(dom, li, QStringLiteral("Full Text (PDF)"), QStringLiteral("https://x/4.pdf"));

        QCOMPARE(extract(dom), QList<Record>({{"First", "https://x/1.pdf", kPage}}));
    }

    void linkBeforeTitleAndTitleInsideDeeperMarkup() {
        Dom dom = page();
        const int li = add(dom, -1, "LI", QStringLiteral("RESULTS-CIT CIT"));
        const int extra = add(dom, li, "DIV", QStringLiteral("cit-extra"));
        addAnchor(dom, extra, QStringLiteral("Full Text (PDF)"), QStringLiteral("https://x/1.pdf"));
        const int meta = add(dom, li, "DIV", QStringLiteral("cit-metadata"));
        const int heading = add(dom, meta, "H4");
        addSpan(dom, heading, QStringLiteral("cit-first-element cit-title"),
                QStringLiteral("Late title"));
        QCOMPARE(extract(dom), QList<Record>({{"Late title", "https://x/1.pdf", kPage}}));
    }

    // An entry inside another entry is an entry of its own; the outer one, having no title and
    // link of its own, takes those of the inner one (they are its descendants too). The list
    // keeps one row per link.
    void nestedEntries() {
        Dom dom = page();
        const int outer = add(dom, -1, "LI", QStringLiteral("results-cit cit"));
        const int list = add(dom, outer, "UL");
        addEntry(dom, QStringLiteral("Inner"), QStringLiteral("https://x/inner.pdf"), list);
        int calls = 0;
        const QList<Record> records = extract(dom, &calls);
        QCOMPARE(calls, 2);
        QCOMPARE(records, QList<Record>({{"Inner", "https://x/inner.pdf", kPage},
                                         {"Inner", "https://x/inner.pdf", kPage}}));

        Dom own = page();
        const int outer2 = add(own, -1, "LI", QStringLiteral("results-cit cit"));
        addSpan(own, outer2, QStringLiteral("cit-title"), QStringLiteral("Outer"));
        addAnchor(own, outer2, QStringLiteral("Full Text (PDF)"),
                  QStringLiteral("https://x/outer.pdf"));
        addEntry(own, QStringLiteral("Inner"), QStringLiteral("https://x/inner.pdf"), outer2);
        QCOMPARE(extract(own), QList<Record>({{"Outer", "https://x/outer.pdf", kPage},
                                              {"Inner", "https://x/inner.pdf", kPage}}));
    }

    void escapedAmpersandsInLinksAreDecoded_data() {
        QTest::addColumn<QString>("href");
        QTest::addColumn<QString>("link");
        QTest::newRow("lower case?") << "https://x/a.pdf?a=1&amp;b=2"
                                     << "https://x/a.pdf?a=1&b=2";
        QTest::newRow("upper case?") << "https://x/a.pdf?a=1&AMP;b=2"
                                     << "https://x/a.pdf?a=1&b=2";
        QTest::newRow("mixed, several?") << "https://x/a.pdf?a=1&Amp;b=2&amp;c=3"
                                         << "https://x/a.pdf?a=1&b=2&c=3";
        QTest::newRow("doubly escaped loses one level?") << "https://x/a.pdf?a=1&amp;amp;b=2"
                                                         << "https://x/a.pdf?a=1&amp;b=2";
        QTest::newRow("plain ampersand kept?") << "https://x/a.pdf?a=1&b=2"
                                               << "https://x/a.pdf?a=1&b=2";
    }
    void escapedAmpersandsInLinksAreDecoded() {
        QFETCH(QString, href);
        QFETCH(QString, link);
        Dom dom = page();
        addEntry(dom, QStringLiteral("Title &amp; more"), href);
        const QList<Record> records = extract(dom);
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].link, link);
        QCOMPARE(records[0].title, QStringLiteral("Title &amp; more")); // titles are shown text
    }

    void unusualTextIsKeptAsIs() {
        Dom dom = page();
        const QString longTitle = QString(10000, QChar(u'蛋')) + QStringLiteral(" é∑ \"q\"");
        const QString oddLink =
            QStringLiteral("https://x/a b/é∑/\"quoted\" 'single' <tag>.pdf?q=蛋白&x=%20");
        addEntry(dom, longTitle, oddLink);
        QCOMPARE(extract(dom), QList<Record>({{longTitle, oddLink, kPage}}));
    }

    void thousandsOfEntriesInOrder() {
        Dom dom = page();
        const int list = add(dom, -1, "UL", QStringLiteral("results"));
        for (int i = 0; i < 3000; ++i)
            addEntry(dom, QStringLiteral("Title %1").arg(i),
                     QStringLiteral("https://x/%1.pdf").arg(i), list);
        int calls = 0;
        const QList<Record> records = extract(dom, &calls);
        QCOMPARE(calls, 3000);
        QCOMPARE(records.size(), 3000);
        for (int i = 0; i < 3000; i += 499) {
            QCOMPARE(records[i].title, QStringLiteral("Title %1").arg(i));
            QCOMPARE(records[i].link, QStringLiteral("https://x/%1.pdf").arg(i));
        }
    }

    void firstIndexOf_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("value");
        const QString base = QStringLiteral("https://www.science.org/search?site_area=sci");
        QTest::newRow("last key?") << base + "&FIRSTINDEX=20" << 20;
        QTest::newRow("followed by other keys?") << base + "&FIRSTINDEX=30&sortspec=date" << 30;
        QTest::newRow("lower case key?") << base + "&firstindex=40" << 40;
        QTest::newRow("fragment after it?") << base + "&FirstIndex=50#results" << 50;
        QTest::newRow("leading zero?") << base + "&FIRSTINDEX=010" << 10;
        QTest::newRow("largest int?") << base + "&FIRSTINDEX=2147483647" << INT_MAX;
        QTest::newRow("just too large?") << base + "&FIRSTINDEX=2147483648" << 0;
        QTest::newRow("far too large?") << base + "&FIRSTINDEX=99999999999999999999999" << 0;
        QTest::newRow("absent?") << base << 0;
        QTest::newRow("empty value?") << base + "&FIRSTINDEX=&x=1" << 0;
        QTest::newRow("digits then letters?") << base + "&FIRSTINDEX=10abc" << 0;
        QTest::newRow("plus sign?") << base + "&FIRSTINDEX=+10" << 0;
        QTest::newRow("minus sign?") << base + "&FIRSTINDEX=-10" << 0;
        QTest::newRow("space before?") << base + "&FIRSTINDEX= 10" << 0;
        QTest::newRow("fraction?") << base + "&FIRSTINDEX=10.0" << 0;
        QTest::newRow("exponent?") << base + "&FIRSTINDEX=1e1" << 0;
        QTest::newRow("other digits?") << base + "&FIRSTINDEX=\u0661\u0660" << 0;
        QTest::newRow("first occurrence counts?") << base + "&FIRSTINDEX=x&FIRSTINDEX=20" << 0;
        QTest::newRow("empty address?") << QString() << 0;
    }
    void firstIndexOf() {
        QFETCH(QString, address);
        QFETCH(int, value);
        QCOMPARE(FirstIndexOf(address), value);
    }

    void lastPage_data() {
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("hrefs");
        QTest::addColumn<bool>("last");
        QTest::newRow("first page without page links is not the last?")
            << 0 << QStringList() << false;
        QTest::newRow("no page links?") << 10 << QStringList() << true;
        QTest::newRow("links reach 30, shown page 40?")
            << 40 << QStringList{pageLink(10), pageLink(20), pageLink(30)} << true;
        QTest::newRow("links reach 30, shown page 20?")
            << 20 << QStringList{pageLink(10), pageLink(30)} << false;
        QTest::newRow("highest link is the shown page?")
            << 30 << QStringList{pageLink(10), pageLink(30)} << false;
        QTest::newRow("link without journalcode?")
            << 20 << QStringList{"https://x/search?site_area=sci&FIRSTINDEX=990"} << true;
        QTest::newRow("link without site_area?")
            << 20 << QStringList{"https://x/search?journalcode=sci&FIRSTINDEX=990"} << true;
        QTest::newRow("link without search?")
            << 20 << QStringList{"https://x/browse?site_area=sci&journalcode=s&FIRSTINDEX=990"}
            << true;
        QTest::newRow("key not after an ampersand?")
            << 20 << QStringList{"https://x/search?FIRSTINDEX=990&site_area=a&journalcode=b"}
            << true;
        QTest::newRow("markers in other letter case and order?")
            << 20 << QStringList{"https://x/SEARCH?JOURNALCODE=b&Site_Area=a&firstindex=30"}
            << false;
        QTest::newRow("page link with a broken value?")
            << 20 << QStringList{pageLink(10) + "x"} << true;
    }
    void lastPage() {
        QFETCH(int, current);
        QFETCH(QStringList, hrefs);
        QFETCH(bool, last);
        QCOMPARE(IsLastResultPage(withPageLinks(hrefs), current), last);
    }

    void nextPageAddress_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("next");
        const QString base = QStringLiteral("https://www.science.org/search?site_area=sci");
        QTest::newRow("no FIRSTINDEX?") << base << base + "&FIRSTINDEX=10";
        QTest::newRow("stepped by 10?")
            << base + "&FIRSTINDEX=20&x=1" << base + "&FIRSTINDEX=30&x=1";
        QTest::newRow("key case kept?") << base + "&firstIndex=20" << base + "&firstIndex=30";
        QTest::newRow("100 not taken for 10?")
            << base + "&FIRSTINDEX=10&back=%2Fsearch%3FFIRSTINDEX=100"
            << base + "&FIRSTINDEX=20&back=%2Fsearch%3FFIRSTINDEX=100";
        QTest::newRow("every occurrence of the value?")
            << base + "&FIRSTINDEX=10&y=FIRSTINDEX=10" << base + "&FIRSTINDEX=20&y=FIRSTINDEX=20";
        QTest::newRow("leading zero?") << base + "&FIRSTINDEX=010" << base + "&FIRSTINDEX=20";
        QTest::newRow("explicit first page?")
            << base + "&FIRSTINDEX=0&x=1" << base + "&FIRSTINDEX=10&x=1";
        QTest::newRow("escaped ampersands left for the navigation to decode?")
            << "https://x/search?a=1&amp;b=2&AMP;FIRSTINDEX=20"
            << "https://x/search?a=1&amp;b=2&AMP;FIRSTINDEX=30";
        QTest::newRow("escaped ampersands left on the first page?")
            << "https://x/search?a=1&amp;b=2"
            << "https://x/search?a=1&amp;b=2&FIRSTINDEX=10";
        QTest::newRow("first page with a fragment?")
            << base + "#results" << base + "&FIRSTINDEX=10#results";
        QTest::newRow("first page without a query?") << "https://x/search"
                                                     << "https://x/search?FIRSTINDEX=10";
        QTest::newRow("largest int?")
            << base + "&FIRSTINDEX=2147483647" << base + "&FIRSTINDEX=2147483657";
    }
    void nextPageAddress() {
        QFETCH(QString, url);
        QFETCH(QString, next);
        QCOMPARE(NextPageAddress(url, FirstIndexOf(url)), next);
    }

    // The address is decoded once on its way to the browser: one level of escaping goes.
    void nextPageAddressDecodedOnce_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("navigated");
        QTest::newRow("escaped once?") << "https://x/search?a=1&amp;b=2&FIRSTINDEX=10"
                                       << "https://x/search?a=1&b=2&FIRSTINDEX=20";
        QTest::newRow("escaped twice keeps one level?")
            << "https://x/search?a=1&amp;amp;b=2&FIRSTINDEX=10"
            << "https://x/search?a=1&amp;b=2&FIRSTINDEX=20";
        QTest::newRow("escaped twice on the first page?")
            << "https://x/search?a=1&AMP;amp;b=2"
            << "https://x/search?a=1&amp;b=2&FIRSTINDEX=10";
    }
    void nextPageAddressDecodedOnce() {
        QFETCH(QString, url);
        QFETCH(QString, navigated);
        QCOMPARE(DecodeAmpersands(NextPageAddress(url, FirstIndexOf(url))), navigated);
    }

    // Whatever the address, the next one reads 10 more than it.
    void nextPageReadsTenMore() {
        const QStringList urls{
            "https://x/search?site_area=sci",
            "https://x/search?site_area=sci#top",
            "https://x/search",
            "https://x/search?a=1&FIRSTINDEX=0",
            "https://x/search?a=1&FIRSTINDEX=90&b=FIRSTINDEX=900",
            "https://x/search?a=1&FIRSTINDEX=0000990",
            "https://x/search?a=1&firstindex=5#FIRSTINDEX=5",
        };
        for (const QString& url : urls) {
            const int current = FirstIndexOf(url);
            QCOMPARE(FirstIndexOf(NextPageAddress(url, current)), current + 10);
        }
    }

    void timeoutText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("seconds"); // -1: not a number
        QTest::newRow("list value?") << "60" << 60;
        QTest::newRow("surrounded by spaces?") << "  90 " << 90;
        QTest::newRow("half rounds to even, down?") << "2.5" << 2;
        QTest::newRow("half rounds to even, up?") << "3.5" << 4;
        QTest::newRow("words?") << "sixty" << -1;
        QTest::newRow("empty?") << "" << -1;
        QTest::newRow("number then words?") << "60 s" << -1;
        QTest::newRow("too large?") << "99999999999" << -1;
    }
    void timeoutText() {
        QFETCH(QString, text);
        QFETCH(int, seconds);
        const std::optional<int> parsed = ParseTimeoutSeconds(text);
        QCOMPARE(parsed.has_value(), seconds != -1);
        if (parsed)
            QCOMPARE(*parsed, seconds);
    }
};

QF_TEST_GUILESS_MAIN(ResultPagesTest)
#include "test_resultpages.moc"

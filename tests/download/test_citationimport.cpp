#include "core/download/CitationImport.h"

#include "TestEnvironment.h"

#include <QStringEncoder>

// Each reader keeps what can be fetched with what the entry says of it, and names every
// entry it cannot use by the line it starts on, whatever else in the file is broken.
class CitationImportTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void whatDoesEachReaderKeep_data();
    void whatDoesEachReaderKeep();
};

void CitationImportTest::whatDoesEachReaderKeep_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    // "line|DOI|link|title|authors joined by ;|date|journal|volume|issue|pages|kind"
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QList<int>>("unusable");
    const auto entry = [](const QStringList& fields) {
        QStringList all = fields;
        while (all.size() < 11)
            all << QString();
        return all.join('|');
    };
    QTest::newRow("BibTeX: a comment holding an entry, accents, a broken field, no identifier")
        << "refs.bib"
        << QByteArray(
               "@comment{ignored @article{x, doi = {10.1126/science.no}}}\n"
               "@article{a,\n  title = {Caf{\\'e} {\\\"U}ber Stra{\\ss}e \\textbraceleft{}},\n"
               "  author = {M{\\\"u}ller, J{\\\"o}rg and {Science and Society Group}},\n"
               "  doi = {https://doi.org/10.1126/science.abc0002},\n"
               "  month = may, year = 2023, journal = \"Sci\" # \"ence\", pages = {12--15},\n}\n"
               "@article{b, title = {No way to fetch}, note = {nothing}}\n"
               "@article{c, title = {Broken field}, = {x}, url = {http://127.0.0.1/a/9}}\n"
               "@article{d, title = {Cut short")
        << QStringList{entry({"2", "10.1126/science.abc0002", "", "Café Über Straße {",
                              "Jörg Müller;Science and Society Group", "2023-05", "Science", "", "",
                              "12-15"}),
                       entry({"9", "", "http://127.0.0.1/a/9", "Broken field"})}
        << QList<int>{8, 10};
    QTest::newRow("CSL-JSON: names as literal or parts, dates as parts (a year as text) or raw")
        << "refs.json"
        << QByteArray(
               "[\n  {\"title\": \"From JSON\", \"DOI\": \"10.1126/scisignal.abc0003\", "
               "\"author\": [{\"family\": \"Núñez\", \"given\": \"Ana\"}, {\"literal\": "
               "\"CERN\"}], \"issued\": {\"date-parts\": [[\"2024\", 2]]}, \"volume\": 17, "
               "\"container-title\": [\"Science Signaling\"], \"page\": \"eabc1\"},\n"
               "  {\"title\": \"Nothing\", \"URL\": \"ftp://127.0.0.1/x\"},\n"
               "  {\"URL\": \"http://127.0.0.1/11\", \"issued\": {\"raw\": \"May 2021\"}}\n]")
        << QStringList{entry({"2", "10.1126/scisignal.abc0003", "", "From JSON", "Ana Núñez;CERN",
                              "2024-02", "Science Signaling", "17", "", "eabc1"}),
                       entry({"4", "", "http://127.0.0.1/11", "", "", "2021-05"})}
        << QList<int>{3};
    QTest::newRow("RIS: a wrapped title, no ER before the next entry, a year only, junk lines")
        << "refs.txt"
        << QByteArray("TY  - JOUR\r\nTI  - A title that goes on\r\n  on the next line\r\n"
                      "AU  - van der Waals, Johannes\r\nPY  - 1873///\r\nSP  - 1\r\nEP  - 9\r\n"
                      "DO  - doi:10.1000/thesis.\r\njunk without a tag\r\n"
                      "TY  - JOUR\r\nTI  - Nothing to fetch\r\nER  - \r\n")
        << QStringList{entry({"1", "10.1000/thesis", "", "A title that goes on on the next line",
                              "Johannes van der Waals", "1873", "", "", "", "1-9"})}
        << QList<int>{10};
    QTest::newRow("a DOI list, GB18030 as this program's own exports are")
        << "list.txt" << QByteArray("# 阅读清单\n10.1126/science.abc0004\n\n非DOI\n")
        << QStringList{entry({"2", "10.1126/science.abc0004"})} << QList<int>{4};
}

void CitationImportTest::whatDoesEachReaderKeep() {
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, entries);
    QFETCH(QList<int>, unusable);
    if (fileName == "list.txt")
        content = QStringEncoder("GB18030").encode(QString::fromUtf8(content));
    const CitationFileContents read = ParseCitationFile(fileName, content);
    QCOMPARE(read.error, QString());
    QStringList kept;
    for (const ImportedCitation& e : read.entries) {
        const ArticleMetadata& m = e.metadata;
        kept << QStringList{QString::number(e.line),
                            m.doi,
                            e.link,
                            m.title,
                            m.authors.join(';'),
                            m.date,
                            m.journal,
                            m.volume,
                            m.issue,
                            m.pages,
                            m.kind}
                    .join('|');
    }
    QCOMPARE(kept, entries);
    QCOMPARE(read.unusableLines, unusable);
}

QF_TEST_GUILESS_MAIN(CitationImportTest)
#include "test_citationimport.moc"

#include "TestEnvironment.h"
#include "TestServices.h"

#include "core/download/Citations.h"
#include "core/download/DownloadJournal.h"
#include "core/download/DownloadList.h"
#include "core/platform/KeyedListModel.h"
#include "core/search/RecordMetadata.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <memory>

namespace {

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray gb18030(const QString& text) {
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

// A title with GBK characters and characters GBK lacks: an accented letter, a math sign and
// a letter outside the basic plane.
const QString kWideTitle = QStringLiteral("Ørsted 效应与 α≤β 的 \U0001D53C 估计");

// What a reference manager takes from one entry of a citation file. Authors as "Family,
// Given"; pages as "first-last" or the article number.
struct ImportedEntry {
    QString title, journal, doi, url, attachment;
    QStringList authors;
    QString date, volume, issue, pages;
    bool operator==(const ImportedEntry&) const = default;
};

// RIS and BibTeX are read back by Debian's bibutils (ris2xml, bib2xml), a parser that owes
// nothing to the writer; its MODS output names every field of the entry.
QList<ImportedEntry> importWithBibutils(const QString& path, QString& error) {
    const QString tool = path.endsWith(".ris") ? "ris2xml" : "bib2xml";
    if (QStandardPaths::findExecutable(tool).isEmpty()) {
        error = tool + " is missing: install the Debian package bibutils";
        return {};
    }
    QProcess process;
    process.start(tool, {path});
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        error = tool + " failed: " + process.readAllStandardError();
        return {};
    }
    QList<ImportedEntry> entries;
    QXmlStreamReader xml(process.readAllStandardOutput());
    int hostDepth = 0;
    int depth = 0;
    QString detail, family, given, start, end;
    const auto text = [&xml, &depth] {
        --depth;
        return xml.readElementText();
    };
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement()) {
            if (depth == hostDepth)
                hostDepth = 0;
            --depth;
            if (xml.name() == u"name" && !entries.isEmpty())
                entries.last().authors << family + ", " + given;
            if (xml.name() == u"extent" && !entries.isEmpty())
                entries.last().pages = end.isEmpty() ? start : start + '-' + end;
            continue;
        }
        if (!xml.isStartElement())
            continue;
        ++depth;
        const QStringView name = xml.name();
        const auto type = xml.attributes().value("type");
        if (name == u"mods") {
            entries.append(ImportedEntry{});
        } else if (entries.isEmpty()) {
            continue;
        } else if (name == u"relatedItem" && type == u"host") {
            hostDepth = depth;
        } else if (name == u"title") {
            (hostDepth ? entries.last().journal : entries.last().title) = text();
        } else if (name == u"identifier" && type == u"doi") {
            entries.last().doi = text();
        } else if (name == u"url") {
            const bool attachment = xml.attributes().value("access") == u"raw object";
            (attachment ? entries.last().attachment : entries.last().url) = text();
        } else if (name == u"name") {
            family.clear(), given.clear();
        } else if (name == u"namePart") {
            const bool isFamily = type == u"family";
            const QString part = text();
            if (isFamily)
                family = part;
            else
                given = given.isEmpty() ? part : given + ' ' + part;
        } else if (name == u"dateIssued") {
            entries.last().date = text();
        } else if (name == u"detail") {
            detail = type.toString();
        } else if (name == u"number") {
            QString& field = detail == "volume"  ? entries.last().volume
                             : detail == "issue" ? entries.last().issue
                                                 : entries.last().pages;
            field = text();
        } else if (name == u"extent") {
            start.clear(), end.clear();
        } else if (name == u"start" || name == u"end") {
            (name == u"start" ? start : end) = text();
        }
    }
    if (xml.hasError())
        error = xml.errorString();
    return entries;
}

QList<ImportedEntry> importCslJson(const QByteArray& bytes, QString& error) {
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isArray()) {
        error = parse.errorString();
        return {};
    }
    QList<ImportedEntry> entries;
    for (const QJsonValue& value : document.array()) {
        const QJsonObject item = value.toObject();
        if (item.value("type").toString() != "article-journal" || item.value("id").isUndefined())
            error = "an item without its type or id";
        ImportedEntry entry{item.value("title").toString(),
                            item.value("container-title").toString(),
                            item.value("DOI").toString(),
                            item.value("URL").toString(),
                            QString(),
                            {},
                            {},
                            item.value("volume").toString(),
                            item.value("issue").toString(),
                            item.value("page").toString()};
        for (const QJsonValue& author : item.value("author").toArray())
            entry.authors << author["family"].toString() + ", " + author["given"].toString();
        QStringList parts;
        for (const QJsonValue& part : item.value("issued")["date-parts"][0].toArray())
            parts << QStringLiteral("%1").arg(part.toInt(), 2, 10, QLatin1Char('0'));
        entry.date = parts.join('-');
        entries.append(entry);
    }
    return entries;
}

} // namespace

// The download window hands files and names out: exports written to real files, files and
// folders opened through the desktop, names put on the clipboard.
class ExportTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init();
    void cleanup();

    void isEveryNameWrittenOnItsOwnLine_data();
    void isEveryNameWrittenOnItsOwnLine();
    void doesAnExportWithNoRowsLeaveAnEmptyFile();
    void whenIsNothingWritten();
    void isAFailedWriteReported();
    void whenIsNoCitationFileWritten_data();
    void whenIsNoCitationFileWritten();
    void doesAReferenceManagerReadEveryCompletedRow_data();
    void doesAReferenceManagerReadEveryCompletedRow();
    void whatDoesAnImportQueue_data();
    void whatDoesAnImportQueue();
    void doesAnExportComeBackAsTheSameRows_data();
    void doesAnExportComeBackAsTheSameRows();

    void isTheDownloadedFileOpened();
    void howIsTheFolderShown_data();
    void howIsTheFolderShown();
    void whichFilesGoToTheTextEditor_data();
    void whichFilesGoToTheTextEditor();
    void isTheNameCopied();
    void doesPanel2OpenTheBrowser();

private:
    int addRow(const QString& name, const QString& type, int state,
               const QString& saveFolder = QString());
    QString folder() const { return dir_->path() + '/'; }
    // Points the desktop's plain-text default at `program`, and nothing else is found.
    void useTextEditor(const QString& program);

    std::unique_ptr<TestServices> services_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QTemporaryDir> xdg_;
    fFileDownload* w_ = nullptr;
};

void ExportTest::init() {
    services_ = std::make_unique<TestServices>();
    dir_ = std::make_unique<QTemporaryDir>();
    xdg_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid() && xdg_->isValid());
    Program() = ProgramValues{};
    Program().SearchHomePage = QStringLiteral("about:blank");
    useTextEditor(QString());
    w_ = Forms::fFileDownload();
    QVERIFY(w_);
}

void ExportTest::cleanup() {
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(services_->prompt.pendingAnswers(), 0);
    services_.reset();
}

void ExportTest::useTextEditor(const QString& program) {
    // The machine's own folders stay out of the way.
    const QString root = xdg_->path();
    for (const char* sub : {"/config", "/dirs", "/data/applications"})
        QVERIFY(QDir().mkpath(root + sub));
    qputenv("XDG_CONFIG_HOME", (root + "/config").toUtf8());
    qputenv("XDG_CONFIG_DIRS", (root + "/dirs").toUtf8());
    qputenv("XDG_DATA_HOME", (root + "/data").toUtf8());
    qputenv("XDG_DATA_DIRS", (root + "/dirs").toUtf8());
    QFile::remove(root + "/config/mimeapps.list");
    if (program.isEmpty())
        return;
    QVERIFY(writeBytes(root + "/config/mimeapps.list",
                       "[Default Applications]\ntext/plain=texteditor.desktop\n"));
    QVERIFY(writeBytes(root + "/data/applications/texteditor.desktop",
                       "[Desktop Entry]\nType=Application\nName=Text\nExec=" + program.toUtf8() +
                           " %F\n"));
}

int ExportTest::addRow(const QString& name, const QString& type, int state,
                       const QString& saveFolder) {
    KeyedListModel* list = w_->ListItems3;
    const int position = list->Count() + 1;
    if (!w_->AddDownloadItem(QStringLiteral("http://127.0.0.1/article/%1").arg(position), name,
                             type, saveFolder.isNull() ? folder() : saveFolder, QString()))
        return 0;
    list->SetSmallIcon(position, state);
    return position;
}

// --- exports ---

void ExportTest::whenIsNoCitationFileWritten_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("fileName"); // "" cancels the dialog; "-" expects no dialog
    QTest::addColumn<QString>("existing"); // a file already there, kept as it was
    QTest::addColumn<QString>("message");
    QTest::newRow("no completed row: told, not asked for a file") << ItemState::Failed << "-"
                                                                  << ""
                                                                  << "没有已完成的下载项可导出！";
    QTest::newRow("a type no reference manager reads")
        << ItemState::Completed << "refs.txt"
        << ""
        << "请选择文件类型：.ris（RIS）、.bib（BibTeX）或 .json（CSL-JSON）。";
    QTest::newRow("cancelled") << ItemState::Completed << ""
                               << ""
                               << "";
    QTest::newRow("typed without its extension, the file with it is asked about")
        << ItemState::Completed << "refs"
        << "refs.ris"
        << "文件已存在：\n%1\n要替换它吗？";
}

void ExportTest::whenIsNoCitationFileWritten() {
    QFETCH(int, state);
    QFETCH(QString, fileName);
    QFETCH(QString, existing);
    QFETCH(QString, message);
    addRow("article", "pdf", state);
    if (!existing.isEmpty())
        QVERIFY(writeBytes(folder() + existing, "mine"));
    if (fileName.isEmpty())
        services_->prompt.answerCancel();
    else if (fileName != "-")
        services_->prompt.answerText(folder() + fileName);
    if (!existing.isEmpty())
        services_->prompt.answer(MsgResult::No);
    w_->menu导出引文_Click();
    QCOMPARE(services_->prompt.messages(), message.isEmpty() ? QStringList{}
                                           : message.contains("%1")
                                               ? QStringList{message.arg(folder() + existing)}
                                               : QStringList{message});
    QCOMPARE(QDir(folder()).entryList(QDir::Files),
             existing.isEmpty() ? QStringList{} : QStringList{existing});
    if (!existing.isEmpty())
        QCOMPARE(readBytes(folder() + existing), QByteArray("mine"));
}

void ExportTest::doesAReferenceManagerReadEveryCompletedRow_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("selectFirst");
    QTest::addColumn<bool>("attachments"); // CSL-JSON has no field for a file
    QTest::newRow("RIS, all completed rows") << "refs.ris" << false << true;
    QTest::newRow("BibTeX, all completed rows") << "refs.bib" << false << true;
    QTest::newRow("CSL-JSON, all completed rows") << "refs.json" << false << false;
    QTest::newRow("RIS, only the selected completed row") << "refs.ris" << true << true;
    QTest::newRow("no extension typed: RIS") << "refs" << false << true;
}

void ExportTest::doesAReferenceManagerReadEveryCompletedRow() {
    QFETCH(QString, fileName);
    QFETCH(bool, selectFirst);
    QFETCH(bool, attachments);
    KeyedListModel* list = w_->ListItems3;
    const QString science = "https://www.science.org";
    // Today's record names its DOI in the link; a former one only in the page it came from; the
    // third names none and is exported with what it has; the fourth brought a login page.
    const QString today = science + "/doi/pdf/10.1126/science.ABC1234?download=true";
    const QString former = "http://127.0.0.1/content/359/6371/eaao.full.pdf";
    const QString formerPage = "http://127.0.0.1/lookup?doi=10.1126%2Fsciadv.7";
    const QString bare = "http://127.0.0.1/files/plain.pdf";
    const QString page = "http://127.0.0.1/files/login";
    // The row's name was cleaned for the file system; the kept title was not.
    const QString title = kWideTitle + " <spin>\n {50% & $x_1$}";
    QVERIFY(w_->AddDownloadItem(today, kWideTitle, "pdf", folder(), science + "/action/doSearch"));
    QVERIFY(w_->AddDownloadItem(former, "Former", "pdf", folder(), formerPage));
    QVERIFY(w_->AddDownloadItem(bare, "Bare", "", folder(), QString()));
    QVERIFY(w_->AddDownloadItem(page, "Login", "htm", folder(), QString()));
    QVERIFY(w_->AddDownloadItem("http://127.0.0.1/waiting.pdf", "Waiting", "pdf", folder(), {}));
    ArticleMetadata shown;
    shown.title = title;
    shown.authors = QStringList{"Ana Núñez-Gómez", "Johannes van der Waals", "Zoë O’Brien"};
    shown.date = "2023-05-07";
    shown.volume = "380";
    shown.issue = "6646";
    shown.pages = "101-106";
    SetRowMetadata(*list, 1, shown);
    for (int position = 1; position <= 4; ++position)
        list->SetSmallIcon(position, ItemState::Completed);
    // The committed path counts where a transfer recorded one; only files there are attached.
    SetRowFilePath(*list, 2, folder() + "Former (1).pdf");
    for (const QString& file :
         {kWideTitle + ".pdf", QString("Former (1).pdf"), QString("Bare"), QString("Login.htm")})
        QVERIFY(writeBytes(folder() + file, "%PDF-1.4"));
    list->SetHiddenValue(4, DownloadHidden::WebPage, "1");
    list->SetSelected(1, selectFirst);
    list->SetSelected(5, selectFirst); // a selected row that is not completed is left out

    const QString target = folder() + fileName;
    services_->prompt.answerText(target);
    w_->menu导出引文_Click();
    const QString written = fileName.contains('.') ? target : target + ".ris";
    QCOMPARE(services_->prompt.messages(),
             QStringList{selectFirst
                             ? "已写入1条引文（选中的已完成项）：\n" + written
                             : "已写入4条引文（全部已完成项）：\n" + written +
                                   "\n其中1条没有附文章文件（下载所得是网页，或文件已不在）。"});

    QList<ImportedEntry> expected{
        {kWideTitle + " <spin> {50% & $x_1$}", "Science", "10.1126/science.ABC1234",
         science + "/doi/10.1126/science.ABC1234", folder() + kWideTitle + ".pdf",
         QStringList{"Núñez-Gómez, Ana", "van der Waals, Johannes", "O’Brien, Zoë"}, "2023-05-07",
         "380", "6646", "101-106"},
        {"Former",
         "Science Advances",
         "10.1126/sciadv.7",
         science + "/doi/10.1126/sciadv.7",
         folder() + "Former (1).pdf",
         {},
         "",
         "",
         "",
         ""},
        {"Bare", "", "", bare, folder() + "Bare", {}, "", "", "", ""},
        {"Login", "", "", page, "", {}, "", "", "", ""}};
    if (selectFirst)
        expected = expected.mid(0, 1);
    if (!attachments) {
        for (ImportedEntry& entry : expected)
            entry.attachment.clear();
    }
    const QByteArray bytes = readBytes(written);
    QVERIFY(
        QStringDecoder(QStringDecoder::Utf8).decode(bytes).operator QString().contains(kWideTitle));
    QString error;
    const QList<ImportedEntry> imported = written.endsWith(".json")
                                              ? importCslJson(bytes, error)
                                              : importWithBibutils(written, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(imported.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(imported[i].title, expected[i].title);
        QCOMPARE(imported[i].journal, expected[i].journal);
        QCOMPARE(imported[i].doi, expected[i].doi);
        QCOMPARE(imported[i].url, expected[i].url);
        QCOMPARE(imported[i].attachment, expected[i].attachment);
        QCOMPARE(imported[i].authors, expected[i].authors);
        QCOMPARE(imported[i].date, expected[i].date);
        QCOMPARE(imported[i].volume, expected[i].volume);
        QCOMPARE(imported[i].issue, expected[i].issue);
        QCOMPARE(imported[i].pages, expected[i].pages);
    }
}

void ExportTest::whatDoesAnImportQueue_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content"); // "-": no file there at all
    QTest::addColumn<QStringList>("rows");   // "link|name" of the rows added
    QTest::addColumn<QString>("message");    // %1: the file's path; a line's start is enough
    const QString site = "https://www.science.org/doi/pdf/10.1126/";
    QTest::newRow("a file that cannot be read")
        << "missing.ris" << QByteArray("-") << QStringList{} << "无法读取文件：%1\n";
    QTest::newRow("CSL-JSON that is no JSON")
        << "refs.json" << QByteArray("[\n {\"id\": \"a\",\n  \"title\": }\n]\n") << QStringList{}
        << "无法读取文件：%1\n第3行：";
    QTest::newRow("RIS: listed, without identifier, another publisher, no ER, a page only")
        << "refs.ris"
        << QByteArray("TY  - JOUR\r\nTI  - Listed already\r\nDO  - 10.1126/SCIENCE.ABC0001\r\n"
                      "ER  - \r\n\r\nTY  - JOUR\r\nTI  - No identifier\r\nAU  - Nobody, A\r\n"
                      "ER  - \r\nTY  - JOUR\r\nTI  - Another publisher\r\n"
                      "DO  - https://doi.org/10.1038/s41586-020-2649-2\r\n"
                      "TY  - JOUR\r\nTI  - Only a page\r\nUR  - http://127.0.0.1/article/7\r\n"
                      "ER  - \r\nTY  - JOUR\r\nT1  - Advances paper\r\n"
                      "DO  - 10.1126/sciadv.adg0005\r\nER  - \r\n")
        << QStringList{"https://doi.org/10.1038/s41586-020-2649-2|Another publisher",
                       "http://127.0.0.1/article/7|Only a page",
                       site + "sciadv.adg0005?download=true|Advances paper"}
        << "已加入3条下载任务。\n1条已在下载列表中，未重复加入。\n"
           "以下各行开始的条目没有DOI或网址，未加入：第6行";
    QTest::newRow("a DOI list with a comment, a blank line and a line that is none")
        << "reading.txt"
        << QByteArray("# my reading list\n10.1126/science.abc0004\n"
                      "doi:10.1126/sciimmunol.abc0005.\n\n"
                      "https://doi.org/10.1126/scirobotics.abc0006\nnot a doi at all\n")
        << QStringList{site + "science.abc0004?download=true|10.1126_science.abc0004",
                       site + "sciimmunol.abc0005?download=true|10.1126_sciimmunol.abc0005",
                       site + "scirobotics.abc0006?download=true|10.1126_scirobotics.abc0006"}
        << "已加入3条下载任务。\n以下各行开始的条目没有DOI或网址，未加入：第6行";
}

void ExportTest::whatDoesAnImportQueue() {
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, rows);
    QFETCH(QString, message);
    const QString listed = "https://www.science.org/doi/pdf/10.1126/science.abc0001?download=true";
    QVERIFY(w_->AddDownloadItem(listed, "Listed", "pdf", folder(), QString()));
    const QString path = folder() + fileName;
    if (content != "-")
        QVERIFY(writeBytes(path, content));
    services_->prompt.answerText(path);
    if (!rows.isEmpty())
        services_->prompt.answerText(folder() + "queue");

    w_->menu导入引用文件_Click();

    const QStringList messages = services_->prompt.messages();
    QCOMPARE(messages.size(), 1);
    const QString expected = message.contains("%1") ? message.arg(path) : message;
    QVERIFY2(messages.first().startsWith(expected), qPrintable(messages.first()));
    QStringList added;
    for (int position = 2; position <= w_->ListItems3->Count(); ++position) {
        added << w_->ListItems3->Key(position) + '|' + w_->ListItems3->Text(position);
        QCOMPARE(w_->ListItems3->SubItem(position, DownloadColumn::Folder), folder() + "queue/");
        QCOMPARE(w_->ListItems3->SmallIcon(position), ItemState::Waiting);
    }
    QCOMPARE(added, rows);
}

void ExportTest::doesAnExportComeBackAsTheSameRows_data() {
    QTest::addColumn<QString>("fileName");
    QTest::newRow("RIS") << "list.ris";
    QTest::newRow("BibTeX") << "list.bib";
    QTest::newRow("CSL-JSON") << "list.json";
}

void ExportTest::doesAnExportComeBackAsTheSameRows() {
    QFETCH(QString, fileName);
    KeyedListModel* list = w_->ListItems3;
    ArticleMetadata full;
    full.title = kWideTitle + " <spin> {braced} 50%";
    full.authors = QStringList{"Ana Núñez-Gómez", "Johannes van der Waals", "Bo Li"};
    full.date = "2023-05-07";
    full.journal = "Science";
    full.volume = "380";
    full.issue = "6646";
    full.pages = "101-106";
    full.kind = "Research Article";
    ArticleMetadata sparse;
    sparse.title = "Numbered, not paged";
    sparse.journal = "Science Advances";
    sparse.date = "2024-02";
    sparse.pages = "eadg0005";
    const QList<std::pair<QString, ArticleMetadata>> articles{
        {"https://www.science.org/doi/pdf/10.1126/science.abc0001?download=true", full},
        {"https://www.science.org/doi/pdf/10.1126/sciadv.adg0005?download=true", sparse}};
    for (const auto& [link, metadata] : articles) {
        QVERIFY(w_->AddDownloadItem(link, RecordFileName(link, metadata.title, false), "pdf",
                                    folder(), QString()));
        SetRowMetadata(*list, list->Count(), metadata);
        list->SetSmallIcon(list->Count(), ItemState::Completed);
    }
    services_->prompt.answerText(folder() + fileName);
    w_->menu导出引文_Click();
    QCOMPARE(services_->prompt.messages().size(), 1);

    // A restart: the rows come back from the journal with everything the export read.
    const QString journal = folder() + "downloads.journal";
    QVERIFY(WriteDownloadJournal(journal, *list, {}, nullptr));
    KeyedListModel restored(DownloadListHeaders());
    QCOMPARE(RestoreDownloadRows(restored, ReadDownloadJournal(journal).rows), 2);
    for (int position = 1; position <= 2; ++position)
        QCOMPARE(EncodeArticleMetadata(RowMetadata(restored, position)),
                 EncodeArticleMetadata(articles[position - 1].second));

    list->Clear();
    services_->prompt.answerText(folder() + fileName);
    services_->prompt.answerText(folder());
    w_->menu导入引用文件_Click();
    QCOMPARE(services_->prompt.messages().last(), QStringLiteral("已加入2条下载任务。"));
    QCOMPARE(list->Count(), 2);
    for (int i = 0; i < 2; ++i) {
        const auto& [link, metadata] = articles[i];
        QCOMPARE(list->Key(i + 1), link);
        QCOMPARE(list->Text(i + 1), RecordFileName(link, metadata.title, false));
        QCOMPARE(list->SubItem(i + 1, DownloadColumn::Folder), folder());
        // Every field, compared in one readable text.
        QCOMPARE(EncodeArticleMetadata(RowMetadata(*list, i + 1)), EncodeArticleMetadata(metadata));
    }
}

void ExportTest::isEveryNameWrittenOnItsOwnLine_data() {
    QTest::addColumn<bool>("unfinishedOnly");
    QTest::addColumn<QString>("text");
    QTest::newRow("全部") << false << "first\r\n" + kWideTitle + "\r\nthird\r\nfourth\r\n";
    QTest::newRow("未完成项: waiting, running and failed rows")
        << true << kWideTitle + "\r\nthird\r\nfourth\r\n";
}

void ExportTest::isEveryNameWrittenOnItsOwnLine() {
    QFETCH(bool, unfinishedOnly);
    QFETCH(QString, text);
    addRow("first", "pdf", ItemState::Completed);
    addRow(kWideTitle, "pdf", ItemState::Failed);
    addRow("third", "pdf", ItemState::Waiting);
    addRow("fourth", "pdf", ItemState::Downloading);
    const QString target = folder() + "names.txt";
    QVERIFY(writeBytes(target, QByteArray(4096, 'x'))); // replaced, not appended to
    services_->prompt.answerText(target);

    unfinishedOnly ? w_->menu导出未完成项名称_Click() : w_->menu导出全部名称_Click();

    const QList<ScriptedPrompt::Shown>& shown = services_->prompt.shown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().kind, ScriptedPrompt::Kind::SaveFile);
    const QByteArray bytes = readBytes(target);
    QCOMPARE(bytes, gb18030(text));
    QVERIFY(bytes.endsWith("\r\n"));
    QVERIFY(!bytes.contains('?'));
    // GBK characters keep their GBK bytes ("效" is D0 A7); the others survive the round trip.
    QVERIFY(bytes.contains("\xD0\xA7"));
    QStringDecoder decoder("GB18030");
    QCOMPARE(QString(decoder.decode(bytes)), text);
}

void ExportTest::doesAnExportWithNoRowsLeaveAnEmptyFile() {
    addRow("done", "pdf", ItemState::Completed);
    addRow("also done", "pdf", ItemState::Completed);
    const QString target = folder() + "unfinished.txt";
    QVERIFY(writeBytes(target, "old content\r\n"));
    services_->prompt.answerText(target);
    w_->menu导出未完成项名称_Click();
    QVERIFY(QFile::exists(target));
    QCOMPARE(readBytes(target), QByteArray());
    QVERIFY(services_->prompt.messages().isEmpty());

    // A file that was not there is created empty.
    const QString fresh = folder() + "fresh.txt";
    services_->prompt.answerText(fresh);
    w_->menu导出未完成项名称_Click();
    QVERIFY(QFile::exists(fresh));
    QCOMPARE(QFileInfo(fresh).size(), 0);
}

void ExportTest::whenIsNothingWritten() {
    // An empty list does not even ask for a file.
    w_->menu导出全部名称_Click();
    QVERIFY(services_->prompt.shown().isEmpty());
    // A cancelled dialog writes nothing.
    addRow("a", "pdf", ItemState::Waiting);
    services_->prompt.answerCancel();
    w_->menu导出全部名称_Click();
    QCOMPARE(services_->prompt.shown().size(), 1);
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{});
}

void ExportTest::isAFailedWriteReported() {
    addRow("a", "pdf", ItemState::Waiting);
    QVERIFY(QDir().mkpath(folder() + "taken.txt"));
    services_->prompt.answerText(folder() + "taken.txt"); // a folder of that name
    w_->menu导出全部名称_Click();
    const QStringList messages = services_->prompt.messages();
    QCOMPARE(messages.size(), 1);
    QVERIFY(!messages.first().isEmpty());
    QCOMPARE(services_->prompt.shown().last().icon, MsgIcon::Error);
    QVERIFY(QFileInfo(folder() + "taken.txt").isDir());
}

// --- opening ---

void ExportTest::isTheDownloadedFileOpened() {
    const int here = addRow("paper", "pdf", ItemState::Completed);
    const int bare = addRow("noext", "", ItemState::Completed);
    const int gone = addRow("gone", "pdf", ItemState::Completed);
    QVERIFY(writeBytes(folder() + "paper.pdf", "%PDF"));
    QVERIFY(writeBytes(folder() + "noext", "%PDF"));

    // Nothing selected: none of the row commands does anything.
    w_->menu打开下载文件_Click();
    w_->menu打开文件所在文件夹_Click();
    w_->menu用记事本打开文件_Click();
    QVERIFY(services_->shell.calls.isEmpty() && services_->prompt.shown().isEmpty());

    w_->ListItems3->SetSelected(here, true);
    w_->menu打开下载文件_Click();
    w_->ListItems3->SetSelected(here, false);
    w_->ListItems3->SetSelected(bare, true);
    w_->menu打开下载文件_Click();
    QCOMPARE(services_->shell.calls.size(), 2);
    QCOMPARE(services_->shell.calls.at(0).what, QStringLiteral("openFile"));
    QCOMPARE(services_->shell.calls.at(0).target, folder() + "paper.pdf");
    QCOMPARE(services_->shell.calls.at(1).target, folder() + "noext");

    w_->ListItems3->SetSelected(bare, false);
    w_->ListItems3->SetSelected(gone, true);
    w_->menu打开下载文件_Click();
    QCOMPARE(services_->prompt.messages(), QStringList{"该文件不存在！"});
    QCOMPARE(services_->prompt.shown().first().icon, MsgIcon::Error);
    QCOMPARE(services_->shell.calls.size(), 2);
}

void ExportTest::howIsTheFolderShown_data() {
    QTest::addColumn<bool>("fileThere");
    QTest::addColumn<bool>("folderThere");
    QTest::addColumn<bool>("showWorks");
    QTest::addColumn<bool>("openWorks");
    QTest::addColumn<QStringList>("calls"); // "what target" with F = file, D = folder
    QTest::addColumn<QString>("message");
    QTest::newRow("is the file selected in its folder?")
        << true << true << true << true << QStringList{"showItemInFolder F"} << "";
    QTest::newRow("does a file manager that cannot select open the folder?")
        << true << true << false << true << QStringList{"showItemInFolder F", "openFile D"} << "";
    QTest::newRow("is a failure to show reported?")
        << true << true << false << false << QStringList{"showItemInFolder F", "openFile D"}
        << "打开失败！";
    QTest::newRow("is the folder opened when the file is gone?")
        << false << true << true << true << QStringList{"openFile D"} << "";
    QTest::newRow("is a missing folder reported?")
        << false << false << true << true << QStringList{} << "文件夹不存在！";
}

void ExportTest::howIsTheFolderShown() {
    QFETCH(bool, fileThere);
    QFETCH(bool, folderThere);
    QFETCH(bool, showWorks);
    QFETCH(bool, openWorks);
    QFETCH(QStringList, calls);
    QFETCH(QString, message);
    const QString saveFolder = folderThere ? folder() : folder() + "nowhere/";
    const int position = addRow("paper", "pdf", ItemState::Completed, saveFolder);
    if (fileThere)
        QVERIFY(writeBytes(saveFolder + "paper.pdf", "%PDF"));
    services_->shell.showItemResult = showWorks;
    services_->shell.openFileResult = openWorks;
    w_->ListItems3->SetSelected(position, true);

    w_->menu打开文件所在文件夹_Click();

    QStringList seen;
    for (const RecordingShell::Call& call : services_->shell.calls)
        seen << call.what + ' ' +
                    (call.target == saveFolder + "paper.pdf" ? QStringLiteral("F")
                     : call.target == saveFolder             ? QStringLiteral("D")
                                                             : call.target);
    QCOMPARE(seen, calls);
    QCOMPARE(services_->prompt.messages(),
             message.isEmpty() ? QStringList{} : QStringList{message});
    if (!message.isEmpty())
        QCOMPARE(services_->prompt.shown().first().icon, MsgIcon::Error);
}

void ExportTest::whichFilesGoToTheTextEditor_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("editor");  // "" when the desktop names none
    QTest::addColumn<bool>("startWorks"); // whether the editor can be started
    QTest::addColumn<QString>("call");    // "startProgram", "openFile" or ""
    QTest::addColumn<QString>("message");
    const qint64 limit = 2048 * 1024;
    QTest::newRow("does a file of exactly 2048 KB open?")
        << limit << "quilltext" << true << "startProgram"
        << "";
    QTest::newRow("is one byte more refused?") << limit + 1 << "quilltext" << true << ""
                                               << "该文件太大，超过了2M，不便于用文本编辑器打开！";
    QTest::newRow("does an empty file open?") << qint64(0) << "quilltext" << true << "startProgram"
                                              << "";
    QTest::newRow("without a text editor, does the file's own application open it?")
        << qint64(10) << "" << true << "openFile"
        << "没有找到可用的文本编辑器，将用该文件类型的默认程序打开。";
    QTest::newRow("when the editor cannot start, does the file's own application open it?")
        << qint64(10) << "quilltext" << false << "openFile"
        << "没有找到可用的文本编辑器，将用该文件类型的默认程序打开。";
    QTest::newRow("is a missing file reported?") << qint64(-1) << "quilltext" << true << ""
                                                 << "该文件不存在！";
}

void ExportTest::whichFilesGoToTheTextEditor() {
    QFETCH(qint64, size);
    QFETCH(QString, editor);
    QFETCH(bool, startWorks);
    QFETCH(QString, call);
    QFETCH(QString, message);
    useTextEditor(editor);
    services_->shell.startProgramResult = startWorks;
    const int position = addRow("page", "htm", ItemState::Completed);
    const QString path = folder() + "page.htm";
    if (size >= 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
    }
    w_->ListItems3->SetSelected(position, true);

    w_->menu用记事本打开文件_Click();

    QCOMPARE(services_->prompt.messages(),
             message.isEmpty() ? QStringList{} : QStringList{message});
    if (call.isEmpty()) {
        QVERIFY(services_->shell.calls.isEmpty());
        return;
    }
    const RecordingShell::Call& last = services_->shell.calls.last();
    QCOMPARE(last.what, call);
    if (call == "startProgram") {
        QCOMPARE(services_->shell.calls.size(), 1);
        QCOMPARE(last.target, editor);
        QCOMPARE(last.argument, path);
    } else {
        QCOMPARE(last.target, path);
    }
}

void ExportTest::isTheNameCopied() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("something else"));
    addRow("first", "pdf", ItemState::Completed);
    const int wide = addRow(kWideTitle, "pdf", ItemState::Waiting);
    w_->ListItems3->SetSelected(wide, true);
    w_->menu复制名称_Click();
    QCOMPARE(clipboard->text(), kWideTitle);
}

void ExportTest::doesPanel2OpenTheBrowser() {
    w_->show();
    w_->StatusPanel2->setText(QString());
    w_->StatusBar1_PanelClick(2);
    QVERIFY(services_->shell.calls.isEmpty());

    const QString path = folder() + "paper.pdf";
    w_->StatusPanel2->setText(path);
    w_->StatusBar1_PanelClick(1);
    QVERIFY(services_->shell.calls.isEmpty());
    w_->StatusBar1_PanelClick(2);
    QCOMPARE(services_->shell.calls.size(), 1);
    QCOMPARE(services_->shell.calls.first().what, QStringLiteral("startProgram"));
    QCOMPARE(services_->shell.calls.first().target, QStringLiteral("x-www-browser"));
    QCOMPARE(services_->shell.calls.first().argument, path);

    // A real click on the panel.
    QTest::mouseClick(w_->StatusPanel2, Qt::LeftButton);
    QCOMPARE(services_->shell.calls.size(), 2);
    QCOMPARE(services_->shell.calls.last().argument, path);
}

QF_TEST_MAIN(ExportTest)
#include "test_export.moc"

#include "TestEnvironment.h"
#include "TestServices.h"

#include "core/download/DownloadList.h"
#include "core/platform/KeyedListModel.h"
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

// What a reference manager takes from one entry of a citation file.
struct ImportedEntry {
    QString title, journal, doi, url, attachment;
    bool operator==(const ImportedEntry&) const = default;
};

// RIS and BibTeX are read back by Debian's bibutils (ris2xml, bib2xml), a parser that owes
// nothing to the writer; its MODS output names the title, the journal, the DOI, the page and
// the attached file.
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
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement()) {
            if (depth == hostDepth)
                hostDepth = 0;
            --depth;
            continue;
        }
        if (!xml.isStartElement())
            continue;
        ++depth;
        const QStringView name = xml.name();
        if (name == u"mods") {
            entries.append(ImportedEntry{});
        } else if (entries.isEmpty()) {
            continue;
        } else if (name == u"relatedItem" && xml.attributes().value("type") == u"host") {
            hostDepth = depth;
        } else if (name == u"title") {
            (hostDepth ? entries.last().journal : entries.last().title) = xml.readElementText();
            --depth;
        } else if (name == u"identifier" && xml.attributes().value("type") == u"doi") {
            entries.last().doi = xml.readElementText();
            --depth;
        } else if (name == u"url") {
            const bool attachment = xml.attributes().value("access") == u"raw object";
            (attachment ? entries.last().attachment : entries.last().url) = xml.readElementText();
            --depth;
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
        entries.append(
            ImportedEntry{item.value("title").toString(), item.value("container-title").toString(),
                          item.value("DOI").toString(), item.value("URL").toString(), QString()});
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
    QTest::addColumn<QString>("message");
    QTest::newRow("no completed row: told, not asked for a file") << ItemState::Failed << "-"
                                                                  << "没有已完成的下载项可导出！";
    QTest::newRow("a type no reference manager reads")
        << ItemState::Completed << "refs.txt"
        << "请选择文件类型：.ris（RIS）、.bib（BibTeX）或 .json（CSL-JSON）。";
    QTest::newRow("cancelled") << ItemState::Completed << ""
                               << "";
}

void ExportTest::whenIsNoCitationFileWritten() {
    QFETCH(int, state);
    QFETCH(QString, fileName);
    QFETCH(QString, message);
    addRow("article", "pdf", state);
    if (fileName.isEmpty())
        services_->prompt.answerCancel();
    else if (fileName != "-")
        services_->prompt.answerText(folder() + fileName);
    w_->menu导出引文_Click();
    QCOMPARE(services_->prompt.messages(),
             message.isEmpty() ? QStringList{} : QStringList{message});
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{});
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
    // third names none and is exported with what it has.
    const QString today = science + "/doi/pdf/10.1126/science.ABC1234?download=true";
    const QString former = "http://127.0.0.1/content/359/6371/eaao.full.pdf";
    const QString formerPage = "http://127.0.0.1/lookup?doi=10.1126%2Fsciadv.7";
    const QString bare = "http://127.0.0.1/files/plain.pdf";
    const QString wideTitle = kWideTitle + " {50% & $x_1$}";
    QVERIFY(w_->AddDownloadItem(today, wideTitle, "pdf", folder(), science + "/action/doSearch"));
    QVERIFY(w_->AddDownloadItem(former, "Former", "pdf", folder(), formerPage));
    QVERIFY(w_->AddDownloadItem(bare, "Bare", "", folder(), QString()));
    QVERIFY(w_->AddDownloadItem("http://127.0.0.1/waiting.pdf", "Waiting", "pdf", folder(), {}));
    for (int position = 1; position <= 3; ++position)
        list->SetSmallIcon(position, ItemState::Completed);
    // The committed path counts where a transfer recorded one.
    SetRowFilePath(*list, 2, folder() + "Former (1).pdf");
    list->SetSelected(1, selectFirst);
    list->SetSelected(4, selectFirst); // a selected row that is not completed is left out

    const QString target = folder() + fileName;
    services_->prompt.answerText(target);
    w_->menu导出引文_Click();
    QVERIFY2(services_->prompt.messages().isEmpty(),
             qPrintable(services_->prompt.messages().join('|')));

    QList<ImportedEntry> expected{{wideTitle, "Science", "10.1126/science.ABC1234",
                                   science + "/doi/10.1126/science.ABC1234",
                                   folder() + wideTitle + ".pdf"},
                                  {"Former", "Science", "10.1126/sciadv.7",
                                   science + "/doi/10.1126/sciadv.7", folder() + "Former (1).pdf"},
                                  {"Bare", "Science", "", bare, folder() + "Bare"}};
    if (selectFirst)
        expected = expected.mid(0, 1);
    if (!attachments) {
        for (ImportedEntry& entry : expected)
            entry.attachment.clear();
    }
    const QString written = fileName.contains('.') ? target : target + ".ris";
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

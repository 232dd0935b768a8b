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
#include <QLabel>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>

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
                                               << "该文件太大，超过了2M，不便于用记事本打开！";
    QTest::newRow("does an empty file open?") << qint64(0) << "quilltext" << true << "startProgram"
                                              << "";
    QTest::newRow("without a text editor, does the file's own application open it?")
        << qint64(10) << "" << true << "openFile"
        << "";
    QTest::newRow("when the editor cannot start, does the file's own application open it?")
        << qint64(10) << "quilltext" << false << "openFile"
        << "";
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

#include "FileOwners.h"
#include "TestEnvironment.h"
#include "TestServices.h"

#include "core/download/DownloadList.h"
#include "core/download/Naming.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/Downloader.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace {

const QByteArray kPage("<html><head><title>Please sign in</title></head><body>"
                       "<form action=\"/login\"></form></body></html>\n");
const QByteArray
    kPdf("%PDF-1.5\n%\xB5\xB5\xB5\xB5\n1 0 obj\n<< /Type /Catalog >>\nendobj\n%%EOF\n");
const QByteArray kNotes("Notes on the article, kept as plain text.\n");

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

} // namespace

// The download window puts rows right whose files are not what their type says, and tells
// the user the type of any file.
class FileTypeWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void aRowsFileGetsItsRealType_data();
    void aRowsFileGetsItsRealType();
    void aRowThatIsGoneIsLeftAlone();
    void isOnlyTheRowsOwnFileRenamed_data();
    void isOnlyTheRowsOwnFileRenamed();
    void theCorrectionCommandCountsTheRowsItCorrected();
    void theCorrectionCommandWaitsForTransfersToStop_data();
    void theCorrectionCommandWaitsForTransfersToStop();
    void anEmptyListIsCorrectedSilently();
    void aChosenFileIsJudged_data();
    void aChosenFileIsJudged();
    void theMenuCarriesBothCommands();

private:
    fFileDownload* load() { return Forms::fFileDownload(); }
    // Adds a completed row for `name`.`type` in the case's folder.
    int addRow(fFileDownload* window, const QString& name, const QString& type);
    QString folder() const { return dir_->path() + '/'; }

    std::unique_ptr<TestServices> services_;
    std::unique_ptr<QTemporaryDir> dir_;
};

void FileTypeWindowTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
}

void FileTypeWindowTest::init() {
    services_ = std::make_unique<TestServices>();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    Program() = ProgramValues{};
    Program().SearchHomePage = QStringLiteral("about:blank");
}

void FileTypeWindowTest::cleanup() {
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(services_->prompt.pendingAnswers(), 0);
    services_.reset();
}

int FileTypeWindowTest::addRow(fFileDownload* window, const QString& name, const QString& type) {
    KeyedListModel* list = window->ListItems3;
    const int position = list->Count() + 1;
    if (!window->AddDownloadItem(QStringLiteral("http://127.0.0.1/article/%1").arg(position), name,
                                 type, folder(), QString()))
        return 0;
    list->SetSmallIcon(position, ItemState::Completed);
    list->SetSubItem(position, DownloadColumn::Size, QString::number(kPage.size()));
    list->SetSubItem(position, DownloadColumn::Percent, QStringLiteral("100%"));
    // The file there is the one the row's transfer committed.
    const QString path = TargetFilePath(folder(), name, type);
    SetRowFilePath(*list, position, path);
    SetRowOwnedFile(*list, position, IdentityAt(path));
    return position;
}

void FileTypeWindowTest::aRowsFileGetsItsRealType_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("onDisk"); // the row's file
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("alsoThere"); // files ("x") or folders ("x/") already there
    QTest::addColumn<bool>("corrected");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("newType");
    QTest::addColumn<QString>("renamedTo");

    QTest::newRow("does a page saved as .pdf become an htm row?")
        << "pdf"
        << "paper.pdf" << kPage << QStringList{} << true << "paper"
        << "htm"
        << "paper.htm";
    QTest::newRow("does a taken .htm give paper[0001]?")
        << "pdf"
        << "paper.pdf" << kPage << QStringList{"paper.htm"} << true << "paper[0001]"
        << "htm"
        << "paper[0001].htm";
    QTest::newRow("does an html row whose page is htm move to .htm?")
        << "html"
        << "paper.html" << kPage << QStringList{} << true << "paper"
        << "htm"
        << "paper.htm";
    QTest::newRow("does a file without extension get .pdf?")
        << ""
        << "paper" << kPdf << QStringList{} << true << "paper"
        << "pdf"
        << "paper.pdf";
    QTest::newRow("is a pdf row with a PDF left alone?")
        << "pdf"
        << "paper.pdf" << kPdf << QStringList{} << false << "paper"
        << "pdf"
        << "paper.pdf";
    QTest::newRow("is the type compared without letter case?")
        << "PDF"
        << "paper.PDF" << kPdf << QStringList{} << false << "paper"
        << "PDF"
        << "paper.PDF";
    QTest::newRow("is a file of unknown type left alone?")
        << "pdf"
        << "paper.pdf" << kNotes << QStringList{} << false << "paper"
        << "pdf"
        << "paper.pdf";
    QTest::newRow("is a row whose file is missing left alone?")
        << "pdf"
        << "" << QByteArray() << QStringList{"paper.htm"} << false << "paper"
        << "pdf"
        << "";
    QTest::newRow("does a folder holding the new name give paper[0001]?")
        << "pdf"
        << "paper.pdf" << kPage << QStringList{"paper.htm/"} << true << "paper[0001]"
        << "htm"
        << "paper[0001].htm";
}

void FileTypeWindowTest::aRowsFileGetsItsRealType() {
    QFETCH(QString, type);
    QFETCH(QString, onDisk);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, alsoThere);
    QFETCH(bool, corrected);
    QFETCH(QString, text);
    QFETCH(QString, newType);
    QFETCH(QString, renamedTo);

    for (const QString& name : alsoThere) {
        if (name.endsWith('/'))
            QVERIFY(QDir().mkpath(folder() + name));
        else
            QVERIFY(writeBytes(folder() + name, "already here: " + name.toUtf8()));
    }
    if (!onDisk.isEmpty())
        QVERIFY(writeBytes(folder() + onDisk, content));
    QStringList before = entries(folder());

    fFileDownload* w = load();
    const int first = addRow(w, QStringLiteral("other"), QStringLiteral("pdf"));
    const int row = addRow(w, QStringLiteral("paper"), type);
    QVERIFY(first == 1 && row == 2);
    KeyedListModel* list = w->ListItems3;

    QCOMPARE(w->Session().CorrectItemFileType(row), corrected);
    QCOMPARE(list->Text(row), text);
    QCOMPARE(list->SubItem(row, DownloadColumn::Type), newType);
    // The correction touches the name and type only.
    QCOMPARE(list->SmallIcon(row), ItemState::Completed);
    QCOMPARE(list->SubItem(row, DownloadColumn::Percent), QStringLiteral("100%"));
    QCOMPARE(list->SubItem(row, DownloadColumn::Folder), folder());
    QCOMPARE(list->Text(first), QStringLiteral("other"));

    // Nothing is lost or overwritten: the file moved (or stayed) with its bytes, and what
    // was there before is still there unchanged.
    QStringList after = entries(folder());
    if (corrected) {
        before.removeOne(onDisk);
        before.append(renamedTo);
        before.sort();
    }
    QCOMPARE(after, before);
    if (!renamedTo.isEmpty())
        QCOMPARE(readBytes(folder() + renamedTo), content);
    for (const QString& name : alsoThere) {
        if (!name.endsWith('/'))
            QCOMPARE(readBytes(folder() + name), "already here: " + name.toUtf8());
    }
}

void FileTypeWindowTest::aRowThatIsGoneIsLeftAlone() {
    fFileDownload* w = load();
    QVERIFY(writeBytes(folder() + "paper.pdf", kPage));
    addRow(w, QStringLiteral("paper"), QStringLiteral("pdf"));
    QVERIFY(!w->Session().CorrectItemFileType(0));
    QVERIFY(!w->Session().CorrectItemFileType(2));
    QVERIFY(QFile::exists(folder() + "paper.pdf"));
}

void FileTypeWindowTest::isOnlyTheRowsOwnFileRenamed_data() {
    QTest::addColumn<QString>("owner");
    for (const QString& owner : FileOwnerKinds())
        QTest::addRow("%s", qPrintable(owner)) << owner;
}

void FileTypeWindowTest::isOnlyTheRowsOwnFileRenamed() {
    QFETCH(QString, owner);
    const QString users = dir_->filePath("elsewhere.html");
    fFileDownload* w = load();
    const int row = addRow(w, QStringLiteral("paper"), QStringLiteral("pdf"));
    KeyedListModel* list = w->ListItems3;
    SetRowOwnedFile(*list, row, PlaceFileOfOwner(owner, folder() + "paper.pdf", kPage, users));

    w->menu检查并纠正磁盘文件类型_Click();
    const bool owns = RowOwns(owner);
    QCOMPARE(services_->prompt.messages(),
             QStringList{QStringLiteral("纠正文件类型：%1个.").arg(owns ? 1 : 0)});
    QCOMPARE(QFileInfo::exists(folder() + "paper.pdf") ||
                 QFileInfo(folder() + "paper.pdf").isSymLink(),
             !owns);
    QCOMPARE(list->SubItem(row, DownloadColumn::Type), owns ? "htm" : "pdf");
    // The row says why the user's file kept its name.
    QCOMPARE(RowFailureReason(*list, row).isEmpty(), owns);
    if (QFileInfo::exists(users))
        QVERIFY(readBytes(users).startsWith(kPage));
}

void FileTypeWindowTest::theCorrectionCommandCountsTheRowsItCorrected() {
    QVERIFY(writeBytes(folder() + "page one.pdf", kPage));
    QVERIFY(writeBytes(folder() + "real.pdf", kPdf));
    QVERIFY(writeBytes(folder() + "page two.pdf", kPage));
    QVERIFY(writeBytes(folder() + "unnamed", kPdf));
    fFileDownload* w = load();
    addRow(w, QStringLiteral("page one"), QStringLiteral("pdf"));
    addRow(w, QStringLiteral("real"), QStringLiteral("pdf"));
    addRow(w, QStringLiteral("missing"), QStringLiteral("pdf"));
    addRow(w, QStringLiteral("page two"), QStringLiteral("pdf"));
    addRow(w, QStringLiteral("unnamed"), QString());
    KeyedListModel* list = w->ListItems3;
    // A waiting row whose file is there from an earlier run is corrected as well.
    list->SetSmallIcon(4, ItemState::Waiting);

    w->menu检查并纠正磁盘文件类型_Click();
    const auto& shown = services_->prompt.shown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.at(0).text, QStringLiteral("纠正文件类型：3个."));
    QCOMPARE(shown.at(0).icon, MsgIcon::Information);
    QStringList types;
    for (int position = 1; position <= list->Count(); ++position)
        types << list->SubItem(position, DownloadColumn::Type);
    QCOMPARE(types, (QStringList{"htm", "pdf", "pdf", "htm", "pdf"}));
    QCOMPARE(list->SmallIcon(4), ItemState::Waiting);
    QCOMPARE(entries(folder()),
             (QStringList{"page one.htm", "page two.htm", "real.pdf", "unnamed.pdf"}));

    // Once right, a second run finds nothing to do.
    w->menu检查并纠正磁盘文件类型_Click();
    QCOMPARE(services_->prompt.messages().last(), QStringLiteral("纠正文件类型：0个."));
}

void FileTypeWindowTest::theCorrectionCommandWaitsForTransfersToStop_data() {
    QTest::addColumn<bool>("schedulerOn");
    QTest::addColumn<bool>("slotInUse");

    QTest::newRow("does the running scheduler stop it?") << true << false;
    QTest::newRow("does a parallel slot in use stop it?") << false << true;
}

void FileTypeWindowTest::theCorrectionCommandWaitsForTransfersToStop() {
    QFETCH(bool, schedulerOn);
    QFETCH(bool, slotInUse);

    QVERIFY(writeBytes(folder() + "paper.pdf", kPage));
    fFileDownload* w = load();
    addRow(w, QStringLiteral("paper"), QStringLiteral("pdf"));
    QVERIFY(!w->TransfersActive());

    if (schedulerOn)
        w->Timer_Down->start();
    if (slotInUse)
        w->Session().Downloader1.insert(1, QPointer<Downloader>(new Downloader(w)));
    QVERIFY(w->TransfersActive());

    w->menu检查并纠正磁盘文件类型_Click();
    QCOMPARE(services_->prompt.messages(), QStringList{"停止下载以后，才能执行此操作！"});
    QCOMPARE(services_->prompt.shown().at(0).icon, MsgIcon::Information);
    QCOMPARE(w->ListItems3->SubItem(1, DownloadColumn::Type), QStringLiteral("pdf"));
    QCOMPARE(entries(folder()), QStringList{"paper.pdf"});

    w->Timer_Down->stop();
    w->Session().Downloader1.clear();
}

void FileTypeWindowTest::anEmptyListIsCorrectedSilently() {
    fFileDownload* w = load();
    w->menu检查并纠正磁盘文件类型_Click();
    QVERIFY(services_->prompt.shown().isEmpty());
}

void FileTypeWindowTest::aChosenFileIsJudged_data() {
    QTest::addColumn<QString>("chosen"); // "" cancels the dialog
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("does a chosen PDF tell its type?")
        << "article" << kPdf << QStringList{"文件类型为：pdf"};
    QTest::newRow("does a chosen page tell htm?")
        << "saved.pdf" << kPage << QStringList{"文件类型为：htm"};
    QTest::newRow("does an unknown file say it cannot tell?")
        << "notes.txt" << kNotes << QStringList{"目前还无法判断。"};
    QTest::newRow("does a path that is gone say it cannot tell?")
        << "gone.pdf" << QByteArray() << QStringList{"目前还无法判断。"};
    QTest::newRow("does a cancelled dialog say nothing?") << "" << QByteArray() << QStringList{};
}

void FileTypeWindowTest::aChosenFileIsJudged() {
    QFETCH(QString, chosen);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, messages);

    if (!content.isEmpty())
        QVERIFY(writeBytes(folder() + chosen, content));
    if (chosen.isEmpty())
        services_->prompt.answerCancel();
    else
        services_->prompt.answerText(folder() + chosen);
    fFileDownload* w = load();
    w->menu打开文件判断类型_Click();

    const auto& shown = services_->prompt.shown();
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown.at(0).kind, ScriptedPrompt::Kind::OpenFile);
    QCOMPARE(services_->prompt.messages(), messages);
    for (const auto& dialog : shown) {
        if (dialog.kind == ScriptedPrompt::Kind::Message)
            QCOMPARE(dialog.icon, MsgIcon::Information);
    }
    // Judging never changes the file.
    if (!content.isEmpty())
        QCOMPARE(readBytes(folder() + chosen), content);
}

void FileTypeWindowTest::theMenuCarriesBothCommands() {
    QVERIFY(writeBytes(folder() + "paper.pdf", kPage));
    fFileDownload* w = load();
    addRow(w, QStringLiteral("paper"), QStringLiteral("pdf"));

    const QList<QAction*> actions = w->menu工具->actions();
    QVERIFY(actions.contains(w->menu检查并纠正磁盘文件类型));
    QVERIFY(actions.contains(w->menu打开文件判断类型));
    QCOMPARE(w->menu检查并纠正磁盘文件类型->text(), QStringLiteral("检查并纠正磁盘文件类型"));
    QCOMPARE(w->menu打开文件判断类型->text(), QStringLiteral("打开文件判断类型"));

    w->menu检查并纠正磁盘文件类型->trigger();
    QCOMPARE(services_->prompt.messages(), QStringList{"纠正文件类型：1个."});

    services_->prompt.answerText(folder() + "paper.htm");
    w->menu打开文件判断类型->trigger();
    QCOMPARE(services_->prompt.messages().last(), QStringLiteral("文件类型为：htm"));
}

QF_TEST_MAIN(FileTypeWindowTest)
#include "test_filetypewindow.moc"

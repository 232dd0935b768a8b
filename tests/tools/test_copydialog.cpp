#include "TestEnvironment.h"
#include "TestServices.h"

#include "core/app/FileHelpers.h"
#include "core/app/SettingsStore.h"
#include "ui/tools/Form_Copy_Move.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <functional>
#include <memory>

// The copy dialog driven through its handlers as the user's clicks would, on real files.

namespace {

bool Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString Done(int copied, int failed) {
    return QStringLiteral("复制文件完成！已复制 %1 个文件，失败 %2 个。").arg(copied).arg(failed);
}

QStringList Names(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Runs `step` at the first moment the event loop gets control back.
void AtNextPump(std::function<void()> step) {
    QTimer::singleShot(0, qApp, std::move(step));
}

} // namespace

class CopyDialogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void loadingTakesTheStoredFolderAndOption_data();
    void loadingTakesTheStoredFolderAndOption();
    void aRunMakesTheFolderCopiesAndRemembersIt();
    void theHistoryGetsEachFolderOnce();
    void vanishedFilesAreDroppedAndAnEmptyListDoesNothing();
    void aFolderThatCannotBeMadeStopsBeforeTheRun_data();
    void aFolderThatCannotBeMadeStopsBeforeTheRun();
    void stopFinishesTheFileInWorkAndAnotherStartGoesOn();
    void aSourceThatVanishesDuringTheRunLeavesTheOldTargetWhole();
    void doesTheEndOfARunNameEachFailure_data();
    void doesTheEndOfARunNameEachFailure();
    void closingDuringARunEndsItQuietly();
    void theChosenOptionRulesTheRunAndIsStored();

private:
    std::unique_ptr<Form_Copy_Move> open();
    QString src(const QString& name) const { return services_->path("src/" + name); }
    QString dst(const QString& name = {}) const { return services_->path("dst/" + name); }
    QString history() const { return services_->path("SaveList.dat"); }
    std::unique_ptr<TestServices> services_;
};

void CopyDialogTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
}

void CopyDialogTest::init() {
    services_ = std::make_unique<TestServices>();
}

void CopyDialogTest::cleanup() {
    services_.reset();
}

std::unique_ptr<Form_Copy_Move> CopyDialogTest::open() {
    auto dialog = std::make_unique<Form_Copy_Move>();
    dialog->HistoryFile = history();
    dialog->Form_Load();
    return dialog;
}

void CopyDialogTest::loadingTakesTheStoredFolderAndOption_data() {
    QTest::addColumn<QString>("stored"); // "" = nothing stored
    QTest::addColumn<int>("option");
    QTest::newRow("first run") << "" << 4;
    QTest::newRow("skip") << "1" << 1;
    QTest::newRow("size only") << "5" << 5;
    QTest::newRow("beyond the options") << "6" << 4;
    QTest::newRow("zero") << "0" << 4;
    QTest::newRow("no number") << "abc" << 4;
}

void CopyDialogTest::loadingTakesTheStoredFolderAndOption() {
    QFETCH(QString, stored);
    QFETCH(int, option);
    if (!stored.isEmpty())
        services_->settings.Write(Keys::CopyOptionIndex, stored);
    QVERIFY(Write(history(), "/data/a\r\n/data/b\r\n"));
    auto dialog = open();
    QCOMPARE(dialog->windowTitle(), QString("复制文件...-Quillfetch"));
    QCOMPARE(dialog->SameNameOption(), option);
    QVERIFY(dialog->Option1[option]->isChecked());
    QCOMPARE(dialog->Option1[4]->text(),
             QString("文件大小和修改时间均相同：覆盖；否则：自动重命名"));
    // The default target is the program's own folder.
    QCOMPARE(dialog->TargetFolder, ProgramFolder());
    QCOMPARE(dialog->Combo1->currentText(), ProgramFolder());
    QCOMPARE(dialog->Combo1->count(), 2);
    QCOMPARE(dialog->Combo1->itemText(1), QString("/data/b"));
    QCOMPARE(dialog->Command1->text(), QString("开始"));
}

void CopyDialogTest::aRunMakesTheFolderCopiesAndRemembersIt() {
    QVERIFY(Write(src("a.pdf"), "aaa"));
    QVERIFY(Write(src("README"), "read me"));
    auto dialog = open();
    dialog->SourceFiles << src("a.pdf") << src("README");
    dialog->Combo1->setEditText(dst("new/sub"));
    dialog->Command1_Click();

    QCOMPARE(Names(dst("new/sub")), QStringList({"README", "a.pdf"}));
    QCOMPARE(Read(dst("new/sub/README")), QByteArray("read me"));
    QCOMPARE(dialog->TargetFolder, dst("new/sub/"));
    QCOMPARE(dialog->Combo1->currentText(), dst("new/sub/"));
    QCOMPARE(services_->settings.Read(Keys::CopyTargetFolder), dst("new/sub/"));
    QCOMPARE(services_->settings.Read(Keys::CopyOptionIndex), QString("4"));
    QCOMPARE(Read(history()), (dst("new/sub/") + "\r\n").toUtf8());
    QCOMPARE(services_->prompt.messages(), QStringList{Done(2, 0)});
    QCOMPARE(services_->prompt.shown().at(0).icon, MsgIcon::Information);
    QCOMPARE(dialog->ProgressBar1->value(), 0);
    QCOMPARE(dialog->ProgressBar1->maximum(), 3);
    QCOMPARE(dialog->Label3->text(), QString());
    QCOMPARE(dialog->Command1->text(), QString("开始"));
    QVERIFY(!dialog->Running());
    // The list stays for another run.
    QCOMPARE(dialog->SourceFiles.size(), 2);

    // The same folder again, without the message: option 4 finds the same files (size and
    // time kept by the copy) and overwrites instead of numbering.
    services_->prompt.clear();
    dialog->执行(false);
    QCOMPARE(Names(dst("new/sub")), QStringList({"README", "a.pdf"}));
    QVERIFY(services_->prompt.shown().isEmpty());
}

void CopyDialogTest::theHistoryGetsEachFolderOnce() {
    QVERIFY(Write(src("a.pdf"), "a"));
    QVERIFY(Write(history(), (dst().toUpper() + "\r\n/other\r\n").toUtf8()));
    QVERIFY(QDir().mkpath(dst()));
    auto dialog = open();
    dialog->SourceFiles << src("a.pdf");
    // Typed in small letters, it is the history's first entry already (letter case ignored).
    dialog->Combo1->setEditText(dst());
    dialog->执行(false);
    QCOMPARE(Read(history()), (dst().toUpper() + "\r\n/other\r\n").toUtf8());
    QCOMPARE(Read(dst("a.pdf")), QByteArray("a"));
}

void CopyDialogTest::vanishedFilesAreDroppedAndAnEmptyListDoesNothing() {
    QVERIFY(Write(src("a.pdf"), "a"));
    auto dialog = open();
    dialog->SourceFiles << src("gone.pdf") << src("a.pdf") << src("also-gone");
    dialog->Combo1->setEditText(dst());
    dialog->Command1_Click();
    QCOMPARE(dialog->SourceFiles, QStringList{src("a.pdf")});
    QCOMPARE(Names(dst()), QStringList{"a.pdf"});

    services_->prompt.clear();
    QVERIFY(QFile::remove(src("a.pdf")));
    dialog->Command1_Click();
    QVERIFY(dialog->SourceFiles.isEmpty());
    QVERIFY(services_->prompt.shown().isEmpty());
    QCOMPARE(dialog->Command1->text(), QString("开始"));
    QVERIFY(!dialog->Running());
}

void CopyDialogTest::aFolderThatCannotBeMadeStopsBeforeTheRun_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("relative") << "some/where" << QStringList{"创建文件夹出错！"};
    QTest::newRow("empty") << "" << QStringList{"创建文件夹出错！"};
    QTest::newRow("a file in the way") << "<file>/sub" << QStringList{"创建文件夹出错！"};
}

void CopyDialogTest::aFolderThatCannotBeMadeStopsBeforeTheRun() {
    QFETCH(QString, folder);
    QFETCH(QStringList, messages);
    QVERIFY(Write(src("a.pdf"), "a"));
    folder.replace("<file>", src("a.pdf"));
    auto dialog = open();
    dialog->SourceFiles << src("a.pdf");
    dialog->Combo1->setEditText(folder);
    dialog->Command1_Click();
    QCOMPARE(services_->prompt.messages(), messages);
    QCOMPARE(services_->prompt.shown().at(0).icon, MsgIcon::Error);
    QCOMPARE(dialog->Combo1->currentText(), QString());
    QVERIFY(!FileExists(history()));
    QCOMPARE(services_->settings.Read(Keys::CopyOptionIndex), QString("4"));
    QVERIFY(!dialog->Running());
}

void CopyDialogTest::stopFinishesTheFileInWorkAndAnotherStartGoesOn() {
    QStringList names;
    for (int i = 0; i < 20; ++i) {
        names << QStringLiteral("f%1.bin").arg(i, 2, 10, QChar('0'));
        QVERIFY(Write(src(names.last()), QByteArray(1000, char('a' + i))));
    }
    auto dialog = open();
    for (const QString& name : std::as_const(names))
        dialog->SourceFiles << src(name);
    dialog->Combo1->setEditText(dst());
    QString stoppedAt;
    // The run lets events through at most every few milliseconds; starting after a pause
    // makes the first file the one at which the click is taken.
    QTest::qWait(50);
    AtNextPump([&] {
        QVERIFY(dialog->Running());
        QCOMPARE(dialog->Command1->text(), QString("停止"));
        stoppedAt = dialog->Label3->text();
        // A stop only stops: a folder typed meanwhile is neither made nor remembered.
        dialog->Combo1->setEditText(dst("typed-meanwhile"));
        dialog->Command1_Click(); // "停止"
        QVERIFY(!dialog->Running());
        QCOMPARE(dialog->Command1->text(), QString("开始"));
    });
    dialog->Command1_Click();

    QCOMPARE(stoppedAt, names.first());
    QCOMPARE(Names(dst()), QStringList{names.first()}); // the file in work was finished
    QCOMPARE(services_->prompt.messages(), QStringList{Done(1, 0)});
    QVERIFY(!QFileInfo::exists(dst("typed-meanwhile")));
    QCOMPARE(services_->settings.Read(Keys::CopyTargetFolder), dst());
    QVERIFY(!Read(history()).contains("typed-meanwhile"));
    dialog->Combo1->setEditText(dst());
    QCOMPARE(dialog->Command1->text(), QString("开始"));
    QCOMPARE(dialog->ProgressBar1->value(), 0);

    // A second start goes through the whole list again.
    services_->prompt.clear();
    dialog->Command1_Click();
    QCOMPARE(Names(dst()), names);
    QCOMPARE(Read(dst(names.last())), QByteArray(1000, char('a' + 19)));
    QCOMPARE(services_->prompt.messages(), QStringList{Done(20, 0)});
}

void CopyDialogTest::aSourceThatVanishesDuringTheRunLeavesTheOldTargetWhole() {
    QVERIFY(Write(src("a.pdf"), "new contents"));
    QVERIFY(Write(src("b.pdf"), "b"));
    QVERIFY(Write(dst("a.pdf"), "old"));
    services_->settings.Write(Keys::CopyOptionIndex, 2); // "覆盖"
    auto dialog = open();
    QCOMPARE(dialog->SameNameOption(), 2);
    dialog->SourceFiles << src("a.pdf") << src("b.pdf");
    dialog->Combo1->setEditText(dst());
    QTest::qWait(50);
    AtNextPump([&] { QVERIFY(QFile::remove(src("a.pdf"))); });
    dialog->Command1_Click();
    QCOMPARE(Read(dst("a.pdf")), QByteArray("old"));
    QCOMPARE(Read(dst("b.pdf")), QByteArray("b"));
    QCOMPARE(Names(dst()), QStringList({"a.pdf", "b.pdf"})); // nothing half-written left
    QCOMPARE(services_->prompt.messages().size(), 1);
    QVERIFY(services_->prompt.messages().first().startsWith(Done(1, 1)));
}

void CopyDialogTest::doesTheEndOfARunNameEachFailure_data() {
    QTest::addColumn<QString>("trouble");
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<int>("option");
    QTest::addColumn<QStringList>("targets"); // what the target folder holds afterwards
    QTest::addColumn<QStringList>("report");  // the end message's lines, each a beginning
    QTest::newRow("a folder holds the name")
        << "folder in the way" << QStringList{"a.pdf", "b.pdf"} << 2 << QStringList{"b.pdf"}
        << QStringList{Done(1, 1), "复制失败：<src>a.pdf（目的文件夹中已有"
                                   "同名的文件、文件夹或链接）"};
    QTest::newRow("the source vanishes")
        << "source vanishes" << QStringList{"a.pdf", "b.pdf"} << 4 << QStringList{"b.pdf"}
        << QStringList{Done(1, 1), "复制失败：<src>a.pdf（无法读取源文件："};
    QTest::newRow("the target folder vanishes")
        << "target vanishes" << QStringList{"a.pdf", "b.pdf"} << 4 << QStringList{}
        << QStringList{Done(0, 2), "复制失败：<src>a.pdf（无法在目的文件夹中写入：",
                       "复制失败：<src>b.pdf（无法在目的文件夹中写入："};
    // Under "覆盖" a name trimmed of its blanks would replace another file.
    QTest::newRow("blanks in names are kept")
        << "" << QStringList{"a .pdf", "b.pdf "} << 2 << QStringList{"a .pdf", "a.pdf", "b.pdf "}
        << QStringList{Done(2, 0)};
}

void CopyDialogTest::doesTheEndOfARunNameEachFailure() {
    QFETCH(QString, trouble);
    QFETCH(QStringList, sources);
    QFETCH(int, option);
    QFETCH(QStringList, targets);
    QFETCH(QStringList, report);
    for (const QString& name : std::as_const(sources))
        QVERIFY(Write(src(name), name.toUtf8()));
    if (sources.contains("a .pdf"))
        QVERIFY(Write(dst("a.pdf"), "another file"));
    QVERIFY(QDir().mkpath(trouble == "folder in the way" ? dst("a.pdf") : dst()));
    services_->settings.Write(Keys::CopyOptionIndex, option);
    auto dialog = open();
    for (const QString& name : std::as_const(sources))
        dialog->SourceFiles << src(name);
    dialog->Combo1->setEditText(dst());
    QTest::qWait(50);
    AtNextPump([&] {
        if (trouble == "source vanishes")
            QVERIFY(QFile::remove(src("a.pdf")));
        else if (trouble == "target vanishes")
            QVERIFY(QDir(dst()).removeRecursively());
    });
    dialog->Command1_Click();

    QStringList files = Names(dst());
    if (trouble == "folder in the way")
        QVERIFY(QFileInfo(dst("a.pdf")).isDir());
    QCOMPARE(files, targets);
    if (sources.contains("a .pdf"))
        QCOMPARE(Read(dst("a.pdf")), QByteArray("another file"));
    QCOMPARE(services_->prompt.messages().size(), 1);
    const QStringList lines = services_->prompt.messages().first().split('\n');
    QCOMPARE(lines.size(), report.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString expected = QString(report.at(i)).replace("<src>", src(""));
        QVERIFY2(lines.at(i).startsWith(expected), qPrintable(lines.at(i)));
    }
    QCOMPARE(services_->prompt.shown().first().icon,
             report.size() > 1 ? MsgIcon::Error : MsgIcon::Information);
}

void CopyDialogTest::closingDuringARunEndsItQuietly() {
    for (const char* name : {"a.bin", "b.bin", "c.bin"})
        QVERIFY(Write(src(name), name));
    auto dialog = open();
    dialog->show();
    dialog->SourceFiles << src("a.bin") << src("b.bin") << src("c.bin");
    dialog->Combo1->setEditText(dst());
    QTest::qWait(50);
    AtNextPump([&] { dialog->Command2_Click(); });
    dialog->Command1_Click();
    QCOMPARE(Names(dst()), QStringList{"a.bin"});
    QVERIFY(services_->prompt.shown().isEmpty());
    QVERIFY(dialog->SourceFiles.isEmpty());
    QVERIFY(!dialog->Running());
}

void CopyDialogTest::theChosenOptionRulesTheRunAndIsStored() {
    QVERIFY(Write(src("a.pdf"), "new"));
    QVERIFY(Write(dst("a.pdf"), "old"));
    auto dialog = open();
    dialog->Option1[3]->click(); // "自动重命名"
    QCOMPARE(dialog->SameNameOption(), 3);
    dialog->SourceFiles << src("a.pdf");
    dialog->Combo1->setEditText(dst());
    dialog->执行(false);
    QCOMPARE(Names(dst()), QStringList({"a.pdf", "a[001].pdf"}));
    QCOMPARE(services_->settings.Read(Keys::CopyOptionIndex), QString("3"));

    dialog->Option1_Click(1); // "跳过"
    QVERIFY(dialog->Option1[1]->isChecked());
    dialog->执行(false);
    QCOMPARE(Names(dst()), QStringList({"a.pdf", "a[001].pdf"}));
    QCOMPARE(Read(dst("a.pdf")), QByteArray("old"));

    // A source already in the target folder is left alone.
    dialog->SourceFiles = {dst("a.pdf")};
    dialog->Option1_Click(3);
    dialog->执行(false);
    QCOMPARE(Names(dst()), QStringList({"a.pdf", "a[001].pdf"}));

    QVERIFY(dialog->复制相同文件自动重命名(src("a.pdf"), dst()));
    QCOMPARE(Read(dst("a[002].pdf")), QByteArray("new"));
    QVERIFY(!dialog->复制相同文件自动重命名(src("missing.pdf"), dst()));
}

QF_TEST_MAIN(CopyDialogTest)
#include "test_copydialog.moc"

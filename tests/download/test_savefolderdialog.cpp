#include "ScriptedPrompt.h"
#include "TestEnvironment.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/Version.h"
#include "ui/app/FolderHistory.h"
#include "ui/download/fSeleFileSavePath.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

// The save-folder dialog driven through its handlers, as the user's clicks would, on a shown
// dialog; one case runs it modally as its callers do.
class SaveFolderDialogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void theFirstShowingOffersTheDownloadFolderAndTitleNaming();
    void acceptingANewNestedFolderCreatesStoresAndRemembersIt_data();
    void acceptingANewNestedFolderCreatesStoresAndRemembersIt();
    void aFolderThatCannotBeMadeKeepsTheDialogOpen_data();
    void aFolderThatCannotBeMadeKeepsTheDialogOpen();
    void aFolderNoFileCanBeCreatedInIsRefused();
    void aPartThatCleansAwayEndsTheFolderAtTheDeepestGoodOne();
    void anExistingFolderIsTakenAsTyped();
    void cancelStoresNothing();
    void onlyTheButtonsDecideWhetherTheDialogWasCancelled();
    void theNamingRuleFollowsTheOptions_data();
    void theNamingRuleFollowsTheOptions();
    void theHistoryIsReadWithItsLimits_data();
    void theHistoryIsReadWithItsLimits();
    void aMissingHistoryFileLeavesTheListAlone();
    void theChooserFillsTheFolderBox_data();
    void theChooserFillsTheFolderBox();
    void showModalStartsEachShowingAfreshAndDeletesTheDialog();
    void theHistoryRoutinesWorkOnAnyFolderBox();
    void savingTheHistoryWritesTheListAsItStands();

private:
    std::unique_ptr<fSeleFileSavePath> open();
    QString historyPath() const { return dir_->filePath("SaveList.dat"); }
    void writeHistory(const QByteArray& bytes) const;
    QByteArray historyBytes() const;
    // The stored save folder, or "<absent>" when 确定 never wrote it.
    QString storedFolder() const;
    static QStringList items(const QComboBox* combo);
    static QByteArray gb18030(const QString& text);

    ScriptedPrompt prompt_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<SettingsStore> settings_;
};

void SaveFolderDialogTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
}

void SaveFolderDialogTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    settings_ = std::make_unique<SettingsStore>(dir_->filePath("settings"));
    prompt_.clear();
    Program() = ProgramValues{};
    Services() = AppServices{};
    Services().prompt = &prompt_;
    Services().settings = settings_.get();
}

void SaveFolderDialogTest::cleanup() {
    Services() = AppServices{};
    settings_.reset();
    dir_.reset();
}

std::unique_ptr<fSeleFileSavePath> SaveFolderDialogTest::open() {
    auto dialog = std::make_unique<fSeleFileSavePath>();
    dialog->HistoryFile = historyPath();
    dialog->Form_Load();
    dialog->show();
    return dialog;
}

void SaveFolderDialogTest::writeHistory(const QByteArray& bytes) const {
    QFile file(historyPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray SaveFolderDialogTest::historyBytes() const {
    QFile file(historyPath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<missing>");
    return file.readAll();
}

QString SaveFolderDialogTest::storedFolder() const {
    return settings_->GetSetting(QString::fromUtf8(kApplicationTitle), QStringLiteral("设置"),
                                 QStringLiteral("下载文件保存路径"), QStringLiteral("<absent>"));
}

QStringList SaveFolderDialogTest::items(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

QByteArray SaveFolderDialogTest::gb18030(const QString& text) {
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

void SaveFolderDialogTest::theFirstShowingOffersTheDownloadFolderAndTitleNaming() {
    auto dialog = open();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("选择下载保存路径-Quillfetch"));
    QVERIFY(dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!dialog->windowIcon().isNull());

    const QString expected = SettingDefaultText(Keys::DefaultSaveFolder);
    QVERIFY2(expected.startsWith(TestHome() + '/') && expected.endsWith("/Quillfetch/"),
             qPrintable(expected));
    QCOMPARE(dialog->Combo1->currentText(), expected);
    QCOMPARE(Program().DefaultSaveFolder, expected);
    QCOMPARE(dialog->Combo1->count(), 0);
    QVERIFY(dialog->Option2->isChecked());
    QVERIFY(!dialog->Option1->isChecked());
    QCOMPARE(dialog->Label1->text(), QStringLiteral("保存到文件夹："));
    QCOMPARE(dialog->Label3->text(), QStringLiteral("保存文件名为："));

    // Accepting the offer creates the default folder on this first use.
    dialog->Command2_Click();
    QVERIFY(prompt_.shown().isEmpty());
    QVERIFY(FolderExists(expected));
    QCOMPARE(storedFolder(), expected);
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
}

void SaveFolderDialogTest::acceptingANewNestedFolderCreatesStoresAndRemembersIt_data() {
    QTest::addColumn<QString>("typedEnd");
    QTest::newRow("typed without a final slash?") << "";
    QTest::newRow("typed with a final slash?") << "/";
    QTest::newRow("typed with a doubled slash at the end?") << "//";
}

void SaveFolderDialogTest::acceptingANewNestedFolderCreatesStoresAndRemembersIt() {
    QFETCH(QString, typedEnd);
    writeHistory("/old\r\n");
    Program().SaveFolderCancelled = true;
    auto dialog = open();
    QCOMPARE(items(dialog->Combo1), QStringList{"/old"});

    // A name outside plain ASCII checks that the history keeps its code page.
    const QString folder = dir_->filePath(QStringLiteral("论文/new/sub"));
    dialog->Combo1->setEditText(folder + typedEnd);
    dialog->Command2_Click();

    QCOMPARE(prompt_.messages(), QStringList{});
    QVERIFY(FolderExists(folder));
    QCOMPARE(Program().DefaultSaveFolder, folder + '/');
    QCOMPARE(storedFolder(), folder + '/');
    QVERIFY(!Program().SaveFolderCancelled);
    QCOMPARE(items(dialog->Combo1), (QStringList{"/old", folder}));
    QCOMPARE(historyBytes(), gb18030("/old\r\n" + folder + "\r\n"));
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
}

void SaveFolderDialogTest::aFolderThatCannotBeMadeKeepsTheDialogOpen_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("a file in the way?") << "<dir>/file.txt/sub";
    QTest::newRow("an empty box?") << "";
    QTest::newRow("a relative folder?") << "relative-folder/x";
}

void SaveFolderDialogTest::aFolderThatCannotBeMadeKeepsTheDialogOpen() {
    QFETCH(QString, typed);
    {
        QFile blocker(dir_->filePath("file.txt"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    typed.replace("<dir>", dir_->path());
    Program().SaveFolderCancelled = true;
    auto dialog = open();
    const QString loaded = Program().DefaultSaveFolder;
    dialog->Combo1->setEditText(typed);
    dialog->Command2_Click();

    QCOMPARE(prompt_.messages(), QStringList{QStringLiteral("文件夹设置错误！")});
    QCOMPARE(prompt_.shown().first().icon, MsgIcon::Error);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->Combo1->currentText(), QString());
    QCOMPARE(Program().DefaultSaveFolder, loaded);
    QCOMPARE(storedFolder(), QStringLiteral("<absent>"));
    QVERIFY(Program().SaveFolderCancelled);
    QCOMPARE(historyBytes(), QByteArrayLiteral("<missing>"));
    QVERIFY(!QFileInfo::exists("relative-folder"));

    // The user corrects the box and the same dialog takes it.
    dialog->Combo1->setEditText(dir_->filePath("good"));
    dialog->Command2_Click();
    QCOMPARE(prompt_.messages().size(), 1);
    QCOMPARE(storedFolder(), dir_->filePath("good/"));
    QVERIFY(!dialog->isVisible());
}

void SaveFolderDialogTest::aFolderNoFileCanBeCreatedInIsRefused() {
    // No file can be created in /proc, not even by root: it stands for a read-only disk.
    Program().SaveFolderCancelled = true;
    auto dialog = open();
    const QString loaded = Program().DefaultSaveFolder;
    dialog->Combo1->setEditText(QStringLiteral("/proc/"));
    dialog->Command2_Click();

    QCOMPARE(prompt_.messages(),
             QStringList{QStringLiteral("无法在该文件夹中创建文件，请选择其他文件夹！")});
    QCOMPARE(prompt_.shown().first().icon, MsgIcon::Error);
    QVERIFY(dialog->isVisible());
    QCOMPARE(Program().DefaultSaveFolder, loaded);
    QCOMPARE(storedFolder(), QStringLiteral("<absent>"));
    QVERIFY(Program().SaveFolderCancelled);
    dialog->Command3_Click();
}

void SaveFolderDialogTest::aPartThatCleansAwayEndsTheFolderAtTheDeepestGoodOne() {
    auto dialog = open();
    dialog->Combo1->setEditText(dir_->filePath(QStringLiteral("ok/%1/deeper").arg("???")));
    dialog->Command2_Click();

    QCOMPARE(prompt_.messages(), QStringList{QStringLiteral("文件夹名称有误！不能创建文件夹！")});
    QCOMPARE(prompt_.shown().first().icon, MsgIcon::Error);
    QCOMPARE(Program().DefaultSaveFolder, dir_->filePath("ok/"));
    QCOMPARE(storedFolder(), dir_->filePath("ok/"));
    QVERIFY(!QFileInfo::exists(dir_->filePath("ok/deeper")));
    QCOMPARE(historyBytes(), gb18030(dir_->filePath("ok") + "\r\n"));
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
}

void SaveFolderDialogTest::anExistingFolderIsTakenAsTyped() {
    // A mounted share: its name holds what a created folder's name may not.
    const QString share = dir_->filePath(QStringLiteral("smb-share:server=lab,share=论文"));
    QVERIFY(QDir().mkpath(share));
    auto dialog = open();
    dialog->Combo1->setEditText(share + QStringLiteral("/2024: new"));
    dialog->Command2_Click();

    QVERIFY(prompt_.shown().isEmpty());
    const QString chosen = share + QStringLiteral("/2024 new");
    QVERIFY(FolderExists(chosen));
    QCOMPARE(Program().DefaultSaveFolder, chosen + '/');
    QCOMPARE(storedFolder(), chosen + '/');
    QCOMPARE(historyBytes(), gb18030(chosen + "\r\n"));
    // The share was not copied under a cleaned name.
    QVERIFY(!QFileInfo::exists(dir_->filePath(QStringLiteral("smb-shareserver=lab,share=论文"))));
}

void SaveFolderDialogTest::cancelStoresNothing() {
    auto dialog = open();
    const QString loaded = Program().DefaultSaveFolder;
    dialog->Option1->click();
    dialog->Combo1->setEditText(dir_->filePath("never"));
    dialog->Command3_Click();

    QVERIFY(Program().SaveFolderCancelled);
    QVERIFY(!Program().UseLinkFileName);
    QCOMPARE(Program().DefaultSaveFolder, loaded);
    QCOMPARE(storedFolder(), QStringLiteral("<absent>"));
    QVERIFY(!QFileInfo::exists(dir_->filePath("never")));
    QCOMPARE(historyBytes(), QByteArrayLiteral("<missing>"));
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QVERIFY(prompt_.shown().isEmpty());
}

void SaveFolderDialogTest::onlyTheButtonsDecideWhetherTheDialogWasCancelled() {
    // After an accepted folder, closing the next dialog does not count as cancelling it.
    auto accepted = open();
    accepted->Combo1->setEditText(dir_->filePath("a"));
    accepted->Command2_Click();
    QVERIFY(!Program().SaveFolderCancelled);
    auto closed = open();
    QVERIFY(closed->close());
    QVERIFY(!Program().SaveFolderCancelled);
    auto escaped = open();
    QTest::keyClick(escaped.get(), Qt::Key_Escape);
    QVERIFY(!escaped->isVisible());
    QVERIFY(!Program().SaveFolderCancelled);

    // Cancelled twice, then closed with the close box: still cancelled.
    open()->Command3_Click();
    open()->Command3_Click();
    QVERIFY(Program().SaveFolderCancelled);
    auto third = open();
    QVERIFY(third->close());
    QVERIFY(!third->isVisible());
    QVERIFY(Program().SaveFolderCancelled);
    QCOMPARE(storedFolder(), dir_->filePath("a/"));
}

void SaveFolderDialogTest::theNamingRuleFollowsTheOptions_data() {
    QTest::addColumn<bool>("useLinkBefore");
    QTest::addColumn<int>("pick"); // 0 leaves the options as loaded
    QTest::addColumn<bool>("option1AtLoad");
    QTest::addColumn<bool>("useLinkAfter");
    QTest::newRow("a remembered link naming selects 原文件名?") << true << 0 << true << true;
    QTest::newRow("title naming stays selected by default?") << false << 0 << false << false;
    QTest::newRow("choosing 原文件名 switches to link names?") << false << 1 << false << true;
    QTest::newRow("choosing 文章标题名称 switches back?") << true << 2 << true << false;
}

void SaveFolderDialogTest::theNamingRuleFollowsTheOptions() {
    QFETCH(bool, useLinkBefore);
    QFETCH(int, pick);
    QFETCH(bool, option1AtLoad);
    QFETCH(bool, useLinkAfter);
    Program().UseLinkFileName = useLinkBefore;
    auto dialog = open();
    QCOMPARE(dialog->Option1->isChecked(), option1AtLoad);
    QCOMPARE(dialog->Option2->isChecked(), !option1AtLoad);
    if (pick == 1)
        dialog->Option1->click();
    if (pick == 2)
        dialog->Option2->click();
    dialog->Combo1->setEditText(dir_->filePath("x"));
    dialog->Command2_Click();
    QCOMPARE(Program().UseLinkFileName, useLinkAfter);
}

void SaveFolderDialogTest::theHistoryIsReadWithItsLimits_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("shown");

    QByteArray many;
    QStringList first100;
    for (int i = 1; i <= 120; ++i) {
        const QString folder = QStringLiteral("/h/%1").arg(i, 3, 10, QChar('0'));
        many += folder.toUtf8() + "\r\n";
        if (i <= 100)
            first100 << folder;
    }
    QTest::newRow("only the first 100 of 120 lines?") << many << first100;
    QTest::newRow("a second spelling in other letter case is dropped?")
        << QByteArray("D:/A\r\nd:/a\r\n") << QStringList{"D:/A"};
}

void SaveFolderDialogTest::theHistoryIsReadWithItsLimits() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, shown);
    writeHistory(file);
    auto dialog = open();
    QCOMPARE(items(dialog->Combo1), shown);
    // The list suggests; the box still shows the stored folder.
    QCOMPARE(dialog->Combo1->currentText(), SettingDefaultText(Keys::DefaultSaveFolder));
}

void SaveFolderDialogTest::aMissingHistoryFileLeavesTheListAlone() {
    writeHistory("/a\r\n/b\r\n");
    auto dialog = open();
    QCOMPARE(items(dialog->Combo1), (QStringList{"/a", "/b"}));
    dialog->HistoryFile = dir_->filePath("missing.dat");
    dialog->Form_Load();
    QCOMPARE(items(dialog->Combo1), (QStringList{"/a", "/b"}));
    QVERIFY(!QFileInfo::exists(dialog->HistoryFile));
}

void SaveFolderDialogTest::theChooserFillsTheFolderBox_data() {
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<QString>("expectedName");
    QTest::newRow("a chosen folder gets a final slash?") << false << "chosen/";
    QTest::newRow("a cancelled chooser gives the start folder back?") << true << "start/";
}

void SaveFolderDialogTest::theChooserFillsTheFolderBox() {
    QFETCH(bool, cancelled);
    QFETCH(QString, expectedName);
    QVERIFY(QDir(dir_->path()).mkpath("start"));
    QVERIFY(QDir(dir_->path()).mkpath("chosen"));
    if (cancelled)
        prompt_.answerCancel();
    else
        prompt_.answerText(dir_->filePath("chosen"));

    auto dialog = open();
    dialog->Combo1->setEditText(dir_->filePath("start"));
    dialog->Command1_Click();

    QCOMPARE(dialog->Combo1->currentText(), dir_->filePath(expectedName));
    QCOMPARE(prompt_.shown().size(), 1);
    QCOMPARE(prompt_.shown().first().kind, ScriptedPrompt::Kind::ChooseFolder);
    QCOMPARE(prompt_.shown().first().title, QStringLiteral("请选择要浏览的文件夹:"));
    QCOMPARE(prompt_.unanswered(), 0);
    QVERIFY(dialog->isVisible());
}

void SaveFolderDialogTest::showModalStartsEachShowingAfreshAndDeletesTheDialog() {
    QWidget owner;
    owner.show();
    struct Seen {
        QPointer<fSeleFileSavePath> dialog;
        bool modal = false;
        bool option2 = false;
        QString folder;
    };
    QList<Seen> seen;
    // Plays the user inside the modal run: on the first showing picks 原文件名 and cancels,
    // on the second cancels right away.
    QTimer user;
    user.setInterval(10);
    connect(&user, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<fSeleFileSavePath*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        seen.append({dialog, dialog->isModal() && dialog->parentWidget() == &owner,
                     dialog->Option2->isChecked(), dialog->Combo1->currentText()});
        if (seen.size() == 1)
            dialog->Option1->click();
        dialog->Command3->click();
    });
    user.start();

    settings_->Write(Keys::DefaultSaveFolder, dir_->filePath("stored/"));
    fSeleFileSavePath::ShowModal(&owner);
    fSeleFileSavePath::ShowModal(&owner);
    user.stop();

    QCOMPARE(seen.size(), 2);
    for (const Seen& s : seen) {
        QVERIFY(s.dialog.isNull());
        QVERIFY(s.modal);
        QVERIFY(s.option2);
        QCOMPARE(s.folder, dir_->filePath("stored/"));
    }
    QVERIFY(Program().SaveFolderCancelled);
    QVERIFY(!Program().UseLinkFileName);
    QVERIFY(owner.findChildren<fSeleFileSavePath*>().isEmpty());
}

// The copy dialog fills its own folder box through the same routines; a plain combo stands
// for it here.
void SaveFolderDialogTest::theHistoryRoutinesWorkOnAnyFolderBox() {
    QComboBox combo;
    combo.setEditable(true);
    combo.addItems({"/kept/a", "/kept/b"});
    combo.setEditText(QStringLiteral("/typed"));

    LoadFolderHistory(&combo, dir_->filePath("missing.dat"));
    QCOMPARE(items(&combo), (QStringList{"/kept/a", "/kept/b"}));
    QCOMPARE(combo.currentText(), QStringLiteral("/typed"));
    QVERIFY(!QFileInfo::exists(dir_->filePath("missing.dat")));

    writeHistory(gb18030(QStringLiteral("  /论文/x  \r\n\r\n/y\n/Y\r\n/论文/x\r\n")));
    LoadFolderHistory(&combo, historyPath());
    QCOMPARE(items(&combo), (QStringList{QStringLiteral("/论文/x"), "/y"}));
    QCOMPARE(combo.currentText(), QStringLiteral("/typed"));

    // A box without a text of its own simply shows the first folder.
    QComboBox fixed;
    LoadFolderHistory(&fixed, historyPath());
    QCOMPARE(items(&fixed), (QStringList{QStringLiteral("/论文/x"), "/y"}));
    QCOMPARE(fixed.currentText(), QStringLiteral("/论文/x"));

    LoadFolderHistory(nullptr, historyPath());
    SaveFolderHistory(nullptr, historyPath());
    QCOMPARE(historyBytes(), gb18030(QStringLiteral("  /论文/x  \r\n\r\n/y\n/Y\r\n/论文/x\r\n")));
}

void SaveFolderDialogTest::savingTheHistoryWritesTheListAsItStands() {
    QComboBox combo;
    combo.setEditable(true);
    SaveFolderHistory(&combo, historyPath());
    QCOMPARE(historyBytes(), QByteArray("\r\n"));

    // Duplicates stay in the file (reading drops them); the text in the box is not written.
    combo.addItems({QStringLiteral("/b/Café"), "/a", "/b/Café"});
    combo.setEditText(QStringLiteral("/not/in/the/list"));
    SaveFolderHistory(&combo, historyPath());
    QCOMPARE(historyBytes(), gb18030(QStringLiteral("/b/Café\r\n/a\r\n/b/Café\r\n")));

    QComboBox reread;
    reread.setEditable(true);
    LoadFolderHistory(&reread, historyPath());
    QCOMPARE(items(&reread), (QStringList{QStringLiteral("/b/Café"), "/a"}));
}

QF_TEST_MAIN(SaveFolderDialogTest)
#include "test_savefolderdialog.moc"

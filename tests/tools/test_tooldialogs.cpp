#include "TestEnvironment.h"
#include "TestServices.h"

#include "core/app/OsText.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/Version.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/VersionCheck.h"
#include "ui/app/Forms.h"
#include "ui/app/fCover.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"
#include "ui/tools/Tools.h"
#include "ui/tools/UrlReplace.h"
#include "ui/tools/fOption.h"
#include "ui/tools/frmAbout.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>

#include <functional>
#include <memory>

// The settings dialog against the store and an open download window, the link replacement
// dialog over the download list, the about box, and the menus that open them.
class ToolDialogsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void theSettingsDialogShowsTheCurrentValues_data();
    void theSettingsDialogShowsTheCurrentValues();
    void okStoresTheValuesAndWarnsOfAnUnusableProxy_data();
    void okStoresTheValuesAndWarnsOfAnUnusableProxy();
    void okUpdatesAnOpenDownloadWindowAtOnce();
    void withoutTheDownloadWindowOnlyTheValuesChange();
    void closeLeavesValuesAndStoreAlone();

    void anEmptySearchTextIsRefused_data();
    void anEmptySearchTextIsRefused();
    void replacingRewritesTheDownloadLinks();
    void aReplacementThatWouldRepeatALinkStopsThere();
    void theReplacementOpensOnlyOverTheDownloadWindow();

    void theAboutBoxNamesTheProgramAndItsVersion();
    void theSystemInformationButtonShowsTheOsText();

    void theSearchWindowMenusOpenTheirDialogsModally();

private:
    // Runs `act` on the modal dialog that comes up next, from inside its exec. Watching
    // ends when the returned timer goes out of scope.
    [[nodiscard]] static std::unique_ptr<QTimer>
    whenModal(const std::function<void(QWidget*)>& act);
    QString stored(const SettingKey& key) const {
        return services_->settings.GetSetting("Quillfetch", key.section, key.key, "<none>");
    }
    fFileDownload* downloadWindowWithRows(const QStringList& links);
    const ScriptedPrompt& prompt() const { return services_->prompt; }

    std::unique_ptr<TestServices> services_;
};

void ToolDialogsTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
}

void ToolDialogsTest::init() {
    services_ = std::make_unique<TestServices>();
    Program() = ProgramValues{};
    Program().SearchHomePage = QStringLiteral("about:blank");
}

void ToolDialogsTest::cleanup() {
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(services_->prompt.pendingAnswers(), 0);
    services_.reset();
}

std::unique_ptr<QTimer> ToolDialogsTest::whenModal(const std::function<void(QWidget*)>& act) {
    auto poll = std::make_unique<QTimer>();
    QTimer* timer = poll.get();
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            act(modal);
        }
    });
    timer->start(10);
    return poll;
}

fFileDownload* ToolDialogsTest::downloadWindowWithRows(const QStringList& links) {
    fFileDownload* download = Forms::fFileDownload();
    int n = 0;
    for (const QString& link : links) {
        ++n;
        const bool added = download->AddDownloadItem(
            link, QStringLiteral("file%1").arg(n), "pdf", "/tmp/",
            QString(link).replace(QStringLiteral(".pdf"), QStringLiteral(".html")));
        if (!added)
            return nullptr;
    }
    return download;
}

// --- settings dialog ---

void ToolDialogsTest::theSettingsDialogShowsTheCurrentValues_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("proxy");
    QTest::addColumn<bool>("ask");
    QTest::newRow("mode 1 with a proxy") << 1 << true << false;
    QTest::newRow("mode 2 without a proxy") << 2 << false << true;
    QTest::newRow("another mode selects neither option") << 0 << false << true;
}

void ToolDialogsTest::theSettingsDialogShowsTheCurrentValues() {
    QFETCH(int, mode);
    QFETCH(bool, proxy);
    QFETCH(bool, ask);
    ProgramValues& program = Program();
    program.DownloadMode = mode;
    program.ProxyEnabled = proxy;
    program.ProxyAddress = "cache.lib";
    program.ProxyPort = "3128";
    program.PromptSaveFolder = ask;

    fOption dialog;
    dialog.Form_Load();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("设置-Quillfetch"));
    QCOMPARE(dialog.Option1->isChecked(), mode == 1);
    QCOMPARE(dialog.Option2->isChecked(), mode == 2);
    QCOMPARE(dialog.Check1->isChecked(), proxy);
    QCOMPARE(dialog.Text6->text(), QStringLiteral("cache.lib"));
    QCOMPARE(dialog.Text8->text(), QStringLiteral("3128"));
    QCOMPARE(dialog.Check2->isChecked(), ask);
    QCOMPARE(dialog.Option1->text(),
             QStringLiteral("下载方式一 (支持HTTP，单线程，代理服务器下载)"));
    QCOMPARE(dialog.Option2->text(), QStringLiteral("下载方式二 (支持HTTP，多线程下载)"));
    QCOMPARE(dialog.Check2->text(), QStringLiteral("提取网页信息时，提示下载保存路径"));
    QCOMPARE(dialog.Label10->text(), QStringLiteral("(如：3128 或者 80 等等)"));
}

void ToolDialogsTest::okStoresTheValuesAndWarnsOfAnUnusableProxy_data() {
    QTest::addColumn<bool>("proxy");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("warned");
    QTest::addColumn<QString>("storedAddress");
    QTest::addColumn<QString>("storedPort");

    QTest::newRow("a proxy without an address warns and is stored") << true << ""
                                                                    << "3128" << true << ""
                                                                    << "3128";
    QTest::newRow("a port that is no number warns") << true << "cache.lib"
                                                    << "31a8" << true << "cache.lib"
                                                    << "31a8";
    QTest::newRow("a port beyond 65535 warns") << true << "cache.lib"
                                               << "70000" << true << "cache.lib"
                                               << "70000";
    QTest::newRow("blanks around host and port are dropped") << true << "  cache.lib "
                                                             << " 8080  " << false << "cache.lib"
                                                             << "8080";
    QTest::newRow("an unused proxy is not checked") << false << ""
                                                    << "x" << false << ""
                                                    << "x";
}

void ToolDialogsTest::okStoresTheValuesAndWarnsOfAnUnusableProxy() {
    QFETCH(bool, proxy);
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(bool, warned);
    QFETCH(QString, storedAddress);
    QFETCH(QString, storedPort);

    fOption dialog;
    dialog.Form_Load();
    dialog.Option1->setChecked(true);
    dialog.Check1->setChecked(proxy);
    dialog.Text6->setText(address);
    dialog.Text8->setText(port);
    dialog.Check2->setChecked(false);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTest::mouseClick(dialog.Command1, Qt::LeftButton);

    QCOMPARE(accepted.count(), 1);
    if (warned) {
        QCOMPARE(prompt().messages(),
                 QStringList{QStringLiteral("代理服务器网址或者端口格式不对！")});
        QCOMPARE(prompt().shown().first().icon, MsgIcon::Error);
    } else {
        QVERIFY(prompt().shown().isEmpty());
    }
    QCOMPARE(stored(Keys::DownloadMode), QStringLiteral("1"));
    QCOMPARE(stored(Keys::ProxyEnabled), proxy ? QStringLiteral("1") : QStringLiteral("0"));
    QCOMPARE(stored(Keys::ProxyAddress), storedAddress);
    QCOMPARE(stored(Keys::ProxyPort), storedPort);
    QCOMPARE(stored(Keys::PromptSaveFolder), QStringLiteral("0"));
    const ProgramValues& program = Program();
    QCOMPARE(program.DownloadMode, 1);
    QCOMPARE(program.ProxyEnabled, proxy);
    QCOMPARE(program.ProxyAddress, storedAddress);
    QCOMPARE(program.ProxyPort, storedPort);
    QVERIFY(!program.PromptSaveFolder);
}

void ToolDialogsTest::okUpdatesAnOpenDownloadWindowAtOnce() {
    fFileDownload* download = Forms::fFileDownload();
    QVERIFY(download->Combo1->isEnabled());
    download->Combo1->setCurrentIndex(3);

    {
        fOption dialog;
        dialog.Form_Load();
        dialog.Option1->setChecked(true);
        dialog.Command1_Click();
    }
    QCOMPARE(download->Label7->text(), QStringLiteral("下载方式：1（单线程）"));
    QVERIFY(!download->Combo1->isEnabled());
    QCOMPARE(download->Combo1->currentText(), QStringLiteral("4")); // text left as it was
    QCOMPARE(stored(Keys::DownloadMode), QStringLiteral("1"));

    {
        fOption dialog;
        dialog.Form_Load();
        QVERIFY(dialog.Option1->isChecked());
        dialog.Option2->setChecked(true);
        dialog.Command1_Click();
    }
    QCOMPARE(download->Label7->text(), QStringLiteral("下载方式：2（多线程）"));
    QVERIFY(download->Combo1->isEnabled());
    QCOMPARE(download->Combo1->currentText(), QStringLiteral("1"));
    QCOMPARE(Program().DownloadMode, 2);
    QCOMPARE(stored(Keys::DownloadMode), QStringLiteral("2"));
}

void ToolDialogsTest::withoutTheDownloadWindowOnlyTheValuesChange() {
    Program().DownloadMode = 0;
    fOption dialog;
    dialog.Form_Load();
    dialog.Command1_Click(); // neither mode chosen: the mode stays
    QCOMPARE(Program().DownloadMode, 0);
    QCOMPARE(stored(Keys::DownloadMode), QStringLiteral("0"));

    fOption second;
    second.Form_Load();
    second.Option1->setChecked(true);
    second.Command1_Click();
    QCOMPARE(Program().DownloadMode, 1);
    QCOMPARE(stored(Keys::DownloadMode), QStringLiteral("1"));
    QVERIFY(!IsFormLoaded("fFileDownload"));
}

void ToolDialogsTest::closeLeavesValuesAndStoreAlone() {
    const ProgramValues before = Program();
    fOption dialog;
    dialog.Form_Load();
    dialog.Option1->setChecked(true);
    dialog.Check1->setChecked(true);
    dialog.Text6->setText("cache.lib");
    dialog.Text8->setText("1");
    dialog.Check2->setChecked(false);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    QTest::mouseClick(dialog.Command2, Qt::LeftButton);
    QCOMPARE(rejected.count(), 1);
    for (const SettingKey& key : {Keys::DownloadMode, Keys::ProxyEnabled, Keys::ProxyAddress,
                                  Keys::ProxyPort, Keys::PromptSaveFolder})
        QCOMPARE(stored(key), QStringLiteral("<none>"));
    QCOMPARE(Program().DownloadMode, before.DownloadMode);
    QCOMPARE(Program().ProxyEnabled, before.ProxyEnabled);
    QCOMPARE(Program().ProxyAddress, before.ProxyAddress);
    QCOMPARE(Program().PromptSaveFolder, before.PromptSaveFolder);
}

// --- link replacement ---

void ToolDialogsTest::anEmptySearchTextIsRefused_data() {
    QTest::addColumn<QString>("find");
    QTest::newRow("empty") << "";
    QTest::newRow("spaces only") << "   ";
}

void ToolDialogsTest::anEmptySearchTextIsRefused() {
    QFETCH(QString, find);
    fFileDownload* download = downloadWindowWithRows({"http://a/ 1.pdf"});
    QVERIFY(download);
    UrlReplace dialog(download->ListItems3);
    dialog.Form_Load();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("网址批量替换-Quillfetch"));
    dialog.Text1->setText(find);
    dialog.Text2->setText("x");
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    dialog.Command1_Click();
    QCOMPARE(accepted.count(), 0);
    QCOMPARE(prompt().messages(), QStringList{QStringLiteral("请输入字符串！")});
    QCOMPARE(prompt().shown().first().icon, MsgIcon::Error);
    QCOMPARE(download->ListItems3->Key(1), QStringLiteral("http://a/ 1.pdf"));
}

void ToolDialogsTest::replacingRewritesTheDownloadLinks() {
    fFileDownload* download = downloadWindowWithRows(
        {"http://old.host/a.pdf", "http://OLD.HOST/b.pdf", "http://x/c.pdf"});
    QVERIFY(download);
    KeyedListModel* list = download->ListItems3;
    list->SetSmallIcon(2, 3);
    UrlReplace dialog(list);
    dialog.Form_Load();
    dialog.Text1->setText("Old.Host");
    dialog.Text2->setText("new.host");
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    dialog.Command1_Click();
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(prompt().messages(), QStringList{QStringLiteral("全部网址替换完成！")});
    QCOMPARE(prompt().shown().first().icon, MsgIcon::Information);
    QCOMPARE(list->Key(1), QStringLiteral("http://new.host/a.pdf"));
    QCOMPARE(list->Tag(1), QStringLiteral("http://new.host/a.html"));
    QCOMPARE(list->Key(2), QStringLiteral("http://new.host/b.pdf"));
    QCOMPARE(list->Key(3), QStringLiteral("http://x/c.pdf"));
    QCOMPARE(list->Text(2), QStringLiteral("file2"));
    QCOMPARE(list->SmallIcon(2), 3);

    // An empty download list: nothing to do, and the completion is still reported.
    list->Clear();
    UrlReplace again(list);
    again.Text1->setText("a");
    again.Command1_Click();
    QCOMPARE(prompt().messages().size(), 2);
    QCOMPARE(prompt().messages().last(), QStringLiteral("全部网址替换完成！"));
}

void ToolDialogsTest::aReplacementThatWouldRepeatALinkStopsThere() {
    fFileDownload* download =
        downloadWindowWithRows({"http://a/1.pdf", "http://b/1.pdf", "http://B/1.pdf"});
    QVERIFY(download);
    KeyedListModel* list = download->ListItems3;
    UrlReplace dialog(list);
    dialog.Text1->setText("b/");
    dialog.Text2->setText("c/");
    dialog.Command1_Click();
    // Row 2 became http://c/1.pdf; row 3 would become the same.
    QCOMPARE(list->Key(2), QStringLiteral("http://c/1.pdf"));
    QCOMPARE(list->Key(3), QStringLiteral("http://B/1.pdf"));
    QCOMPARE(list->Tag(3), QStringLiteral("http://B/1.html"));
    QCOMPARE(prompt().shown().size(), 1);
    QCOMPARE(prompt().shown().first().icon, MsgIcon::Error);
    const QString message = prompt().messages().first();
    QVERIFY2(message.startsWith(QStringLiteral("第3行（file3）")), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("第2行（file2）")), qPrintable(message));
}

void ToolDialogsTest::theReplacementOpensOnlyOverTheDownloadWindow() {
    {
        bool opened = false;
        const auto watch = whenModal([&opened](QWidget* modal) {
            opened = true;
            modal->close();
        });
        ShowUrlReplace(nullptr);
        QTest::qWait(50);
        QVERIFY(!opened);
        QVERIFY(!IsFormLoaded("fFileDownload"));
    }

    fFileDownload* download = downloadWindowWithRows({"http://a/1.pdf"});
    QVERIFY(download);
    bool wasModal = false;
    const auto watch = whenModal([&wasModal](QWidget* modal) {
        auto* dialog = qobject_cast<UrlReplace*>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        wasModal = dialog->isModal();
        dialog->Text1->setText("A/");
        dialog->Text2->setText("z/");
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
    });
    ShowUrlReplace(download);
    QVERIFY(wasModal);
    QCOMPARE(download->ListItems3->Key(1), QStringLiteral("http://z/1.pdf"));
    QCOMPARE(prompt().messages(), QStringList{QStringLiteral("全部网址替换完成！")});
    QVERIFY(download->findChildren<UrlReplace*>().isEmpty());
}

// --- about box ---

void ToolDialogsTest::theAboutBoxNamesTheProgramAndItsVersion() {
    {
        frmAbout about;
        about.Form_Load();
        QCOMPARE(about.lblTitle->text(), QStringLiteral("Quillfetch"));
        QCOMPARE(about.lblVersion->text(),
                 VersionCaption(kVersionMajor, kVersionMinor, kVersionRevision));
        QVERIFY(about.lblLink->isHidden()); // no program page is published
    }
    Program().MakerSiteHost = QStringLiteral("127.0.0.1:9");
    frmAbout about;
    about.Form_Load();
    QVERIFY(!about.lblLink->isHidden());
    const QString page = ProgramPageAddress(Program().MakerSiteHost, ProgramFileName());
    QVERIFY(about.lblLink->text().contains(page));
    emit about.lblLink->linkActivated(page);
    QCOMPARE(services_->shell.calls.size(), 1);
    QCOMPARE(services_->shell.calls[0].target, page);
}

void ToolDialogsTest::theSystemInformationButtonShowsTheOsText() {
    Program().OsText = QStringLiteral("Debian GNU/Linux 版本:12 (内部版本:6.1.0)[64位]");
    bool wasModal = false;
    const auto watch = whenModal([&wasModal](QWidget* modal) {
        auto* about = qobject_cast<frmAbout*>(modal);
        if (!about) {
            modal->close();
            return;
        }
        wasModal = about->isModal();
        QTest::mouseClick(about->cmdSysInfo, Qt::LeftButton);
        QTest::mouseClick(about->cmdOK, Qt::LeftButton);
    });
    ShowAboutBox(nullptr);
    QVERIFY(wasModal);
    QCOMPARE(prompt().messages(), QStringList{Program().OsText});
    QCOMPARE(prompt().shown().first().icon, MsgIcon::Information);

    // Before start-up has composed it, the box works it out itself.
    Program().OsText.clear();
    frmAbout about;
    about.cmdSysInfo_Click();
    QCOMPARE(prompt().messages().last(), OsText());
    QVERIFY(OsText().endsWith(QStringLiteral("位]")));
}

// --- the search window's menus ---

void ToolDialogsTest::theSearchWindowMenusOpenTheirDialogsModally() {
    fWebSearch* search = Forms::fWebSearch();
    QAction* settings = nullptr;
    QAction* about = nullptr;
    for (QAction* menu : search->menuBar()->actions()) {
        if (!menu->menu())
            continue;
        for (QAction* action : menu->menu()->actions()) {
            if (action->text() == QStringLiteral("设置"))
                settings = action;
            if (action->text() == QStringLiteral("关于(&A)"))
                about = action;
        }
    }
    QVERIFY(settings && about);
    QVERIFY(settings->isEnabled());
    QVERIFY(about->isEnabled());

    QString seen;
    auto watch = whenModal([&seen](QWidget* modal) {
        seen = modal->metaObject()->className();
        if (auto* dialog = qobject_cast<fOption*>(modal)) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("设置-Quillfetch"));
            QTest::mouseClick(dialog->Command2, Qt::LeftButton);
        } else {
            modal->close();
        }
    });
    settings->trigger();
    QCOMPARE(seen, QStringLiteral("fOption"));

    watch = whenModal([&seen](QWidget* modal) {
        seen = modal->metaObject()->className();
        if (auto* box = qobject_cast<frmAbout*>(modal))
            QTest::mouseClick(box->cmdOK, Qt::LeftButton);
        else
            modal->close();
    });
    about->trigger();
    QCOMPARE(seen, QStringLiteral("frmAbout"));
    QVERIFY(search->findChildren<QDialog*>().isEmpty());
    QVERIFY(prompt().shown().isEmpty());
}

QF_TEST_MAIN(ToolDialogsTest)
#include "test_tooldialogs.moc"

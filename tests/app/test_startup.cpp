#include "LayoutCheck.h"
#include "TestEnvironment.h"
#include "TestServices.h"

#include "core/app/BrowserEmulation.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/Version.h"
#include "core/download/DownloadJournal.h"
#include "core/download/DownloadList.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Registry.h"
#include "ui/app/Forms.h"
#include "ui/app/fCover.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

// The start-up window and the flow between the three windows, driven through their handlers
// as the user's clicks would.
class StartupTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startUpShowsTheVersionAndKeepsTheSearchButtonOffAtFirst();
    void theOneShotTimerEnablesTheSearchButtonOnce();
    void theSearchButtonHidesTheCoverAndShowsTheSearchWindow();
    void isFormLoadedIgnoresLetterCaseAndSeesHiddenWindows();
    void showingTheDownloadWindowNeverCreatesIt();
    void showingTheDownloadWindowRestoresItOnlyWhenAsked();
    void closingTheSearchWindowWhileDownloadsAreOpenKeepsTheCoverHidden();
    void closingTheDownloadWindowWhileSearchIsOpenKeepsTheCoverHidden();
    void theMenusOpenEachOtherWindow();
    void anUnloadedWindowIsDeletedAndLoadsAnewWhenAskedAgain();
    void theSearchWindowRaisesItsStopFlagsWhenItCloses();
    void aWindowClosedWhileItsHandlerRunsIsDeletedOnlyAfterwards();
    void aWindowClosedDuringItsOwnLoadIsNeverShown_data();
    void aWindowClosedDuringItsOwnLoadIsNeverShown();
    void canTheProgramBeLeftFromEachWindow_data();
    void canTheProgramBeLeftFromEachWindow();
    void doesTheCoverSayWhatBecameOfTheLastList_data();
    void doesTheCoverSayWhatBecameOfTheLastList();

private:
    void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    std::unique_ptr<TestServices> services_;
};

void StartupTest::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    services_ = std::make_unique<TestServices>();
}

void StartupTest::init() {
    Forms::fCover();
}

void StartupTest::cleanup() {
    Forms::DestroyAll();
    settle();
    QVERIFY(!IsFormLoaded("fCover"));
}

void StartupTest::startUpShowsTheVersionAndKeepsTheSearchButtonOffAtFirst() {
    fCover* cover = Forms::fCover();
    QCOMPARE(cover->windowTitle(), QStringLiteral("Quillfetch"));
    QCOMPARE(cover->Label1->text(), VersionCaption(kVersionMajor, kVersionMinor, kVersionRevision));
    QCOMPARE(VersionCaption(2, 0, 15), QStringLiteral("版本:2.0.15"));
    QVERIFY(cover->isVisible());
    QVERIFY(!cover->Label2->isVisible());
    QCOMPARE(cover->Command1->text(), QStringLiteral("文献检索下载"));
    QCOMPARE(cover->Command3->text(), QStringLiteral("退出软件"));

    QVERIFY(!cover->Command1->isEnabled());
    QTest::mouseClick(cover->Command1, Qt::LeftButton);
    cover->Command1_Click();
    QVERIFY(!IsFormLoaded("fWebSearch"));
    QVERIFY(cover->isVisible());

    QVERIFY(Program().OsText.endsWith(QStringLiteral("位]")));
    const QString exe = QFileInfo(QCoreApplication::applicationFilePath()).baseName() + ".exe";
    QCOMPARE(services_->registry.readValue(kBrowserEmulationKey, exe).value_or(""),
             QStringLiteral("10001"));
    QVERIFY(services_->prompt.shown().isEmpty());
}

void StartupTest::theOneShotTimerEnablesTheSearchButtonOnce() {
    fCover* cover = Forms::fCover();
    QVERIFY(cover->Timer1->isActive());
    QCOMPARE(cover->Timer1->interval(), 100);
    QTRY_VERIFY_WITH_TIMEOUT(cover->Command1->isEnabled(), 5000);
    QVERIFY(!cover->Timer1->isActive());
}

void StartupTest::theSearchButtonHidesTheCoverAndShowsTheSearchWindow() {
    fCover* cover = Forms::fCover();
    cover->Timer1_Timer();
    QTest::mouseClick(cover->Command1, Qt::LeftButton);
    QVERIFY(!cover->isVisible());
    QVERIFY(IsFormLoaded("fWebSearch"));
    fWebSearch* search = Forms::fWebSearch();
    QVERIFY(search->isVisible());
    QCOMPARE(search->windowTitle(), QStringLiteral("Science数据检索分析-Quillfetch"));
    QVERIFY(!search->windowIcon().isNull());
    QVERIFY(!IsFormLoaded("fFileDownload"));

    search->close();
    settle();
    QVERIFY(!IsFormLoaded("fWebSearch"));
    QVERIFY(cover->isVisible());
}

void StartupTest::isFormLoadedIgnoresLetterCaseAndSeesHiddenWindows() {
    QVERIFY(!IsFormLoaded("fFileDownload"));
    fFileDownload* download = Forms::fFileDownload();
    QVERIFY(!download->isVisible());
    QCOMPARE(download->windowTitle(), QStringLiteral("文件下载-Quillfetch"));
    for (const char* name : {"fFileDownload", "ffileDownLoad", "FfileDownLoad", "FFILEDOWNLOAD"})
        QVERIFY2(IsFormLoaded(name), name);
    for (const char* name : {"", "fFileDownload ", "fFile", "fWebSearch", "Download"})
        QVERIFY2(!IsFormLoaded(name), name);
    QVERIFY(IsFormLoaded("FCOVER"));
}

void StartupTest::showingTheDownloadWindowNeverCreatesIt() {
    Forms::fCover()->Timer1_Timer();
    Forms::fCover()->Command1_Click();
    Forms::fWebSearch()->显示下载窗口(true);
    Forms::fWebSearch()->显示下载窗口(false);
    QVERIFY(!IsFormLoaded("fFileDownload"));
}

void StartupTest::showingTheDownloadWindowRestoresItOnlyWhenAsked() {
    fWebSearch* search = Forms::fWebSearch();
    fFileDownload* download = Forms::fFileDownload();
    QVERIFY(!download->isVisible());
    search->显示下载窗口(false);
    QVERIFY(download->isVisible());

    download->showMinimized();
    search->显示下载窗口(false);
    QVERIFY(download->isMinimized());
    search->显示下载窗口(true);
    QVERIFY(!download->isMinimized());
}

void StartupTest::closingTheSearchWindowWhileDownloadsAreOpenKeepsTheCoverHidden() {
    fCover* cover = Forms::fCover();
    cover->Timer1_Timer();
    cover->Command1_Click();
    Forms::fWebSearch()->menu打开下载窗口->trigger();
    QVERIFY(Forms::fFileDownload()->isVisible());

    Forms::fWebSearch()->close();
    settle();
    QVERIFY(!IsFormLoaded("fWebSearch"));
    QVERIFY(!cover->isVisible());

    Forms::fFileDownload()->close();
    settle();
    QVERIFY(!IsFormLoaded("fFileDownload"));
    QVERIFY(cover->isVisible());
}

void StartupTest::closingTheDownloadWindowWhileSearchIsOpenKeepsTheCoverHidden() {
    fCover* cover = Forms::fCover();
    cover->Timer1_Timer();
    cover->Command1_Click();
    Forms::fFileDownload()->show();
    Forms::fFileDownload()->close();
    settle();
    QVERIFY(!cover->isVisible());
    Forms::fWebSearch()->menu关闭本窗口->trigger();
    settle();
    QVERIFY(cover->isVisible());
}

void StartupTest::theMenusOpenEachOtherWindow() {
    Forms::fFileDownload()->menu资料检索分析窗口->trigger();
    QVERIFY(IsFormLoaded("fWebSearch"));
    QVERIFY(Forms::fWebSearch()->isVisible());
    Forms::fWebSearch()->close();
    settle();
    QVERIFY(!IsFormLoaded("fWebSearch"));
    QVERIFY(IsFormLoaded("fFileDownload"));
    Forms::fFileDownload()->menu资料检索分析窗口->trigger();
    QVERIFY(IsFormLoaded("fWebSearch"));
}

void StartupTest::canTheProgramBeLeftFromEachWindow_data() {
    QTest::addColumn<QString>("window");
    QTest::newRow("search window") << "fWebSearch";
    QTest::newRow("download window") << "fFileDownload";
}

void StartupTest::canTheProgramBeLeftFromEachWindow() {
    QFETCH(QString, window);
    QPointer<QMainWindow> working = window == "fWebSearch"
                                        ? static_cast<QMainWindow*>(Forms::fWebSearch())
                                        : Forms::fFileDownload();
    working->show();
    // Reached as the user reaches it: a menu of the menu bar.
    QAction* quit = nullptr;
    for (QAction* top : working->menuBar()->actions()) {
        if (top->menu()) {
            for (QAction* entry : top->menu()->actions()) {
                if (entry->text() == QStringLiteral("退出软件"))
                    quit = entry;
            }
        }
    }
    QVERIFY2(quit, "no 退出软件 in the menu bar");
    services_->settings.SaveSetting("Quillfetch", "设置", "quit-check", "kept");
    const QPointer<QWidget> cover = Forms::Find("fCover");
    QVERIFY(cover);
    // Chosen inside the program's own event loop, the entry ends it, as the start-up
    // window's button does; a loop still running after 5 s answers 99 instead.
    QTimer::singleShot(0, quit, &QAction::trigger);
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
    settle();
    QVERIFY(!cover || !cover->isVisible());
    QVERIFY(!working || !working->isVisible());
    SettingsStore reread(services_->dir.path());
    QCOMPARE(reread.GetSetting("Quillfetch", "设置", "quit-check", ""), QStringLiteral("kept"));
}

void StartupTest::anUnloadedWindowIsDeletedAndLoadsAnewWhenAskedAgain() {
    QPointer<fFileDownload> first = Forms::fFileDownload();
    Forms::Unload(first);
    QVERIFY(!IsFormLoaded("fFileDownload"));
    QVERIFY(first); // deletion waits for the event loop
    settle();
    QVERIFY(!first);
    QPointer<fFileDownload> second = Forms::fFileDownload();
    QVERIFY(second);
    QCOMPARE(Forms::fFileDownload(), second.data());
}

void StartupTest::theSearchWindowRaisesItsStopFlagsWhenItCloses() {
    fWebSearch* search = Forms::fWebSearch();
    QVERIFY(search->StopAnalysis);
    search->StopAddAll = false;
    search->StopAnalysis = false;
    bool sawFlags = false;
    // A loop running inside the window sees the flags during the close's event pass.
    QTimer::singleShot(0, search, [&] { sawFlags = search->StopAddAll && search->StopAnalysis; });
    search->close();
    QVERIFY(sawFlags);
    settle();
}

void StartupTest::aWindowClosedWhileItsHandlerRunsIsDeletedOnlyAfterwards() {
    QPointer<fFileDownload> download = Forms::fFileDownload();
    {
        Forms::Hold outer(download);
        {
            Forms::Hold inner(download);
            download->close();
            settle();
            QVERIFY(!IsFormLoaded("fFileDownload"));
            QVERIFY(download);
        }
        settle();
        QVERIFY(download); // the outer handler still runs
    }
    settle();
    QVERIFY(!download);
}

void StartupTest::aWindowClosedDuringItsOwnLoadIsNeverShown_data() {
    QTest::addColumn<int>("entry");
    QTest::newRow("the start-up window's search button?") << 0;
    QTest::newRow("the download window's menu?") << 1;
    QTest::newRow("asking the registry directly?") << 2;
}

void StartupTest::aWindowClosedDuringItsOwnLoadIsNeverShown() {
    QFETCH(int, entry);
    fCover* cover = Forms::fCover();
    cover->Timer1_Timer();
    fFileDownload* download = nullptr;
    if (entry == 1) {
        // The download window is the one in use; the start-up window is hidden meanwhile.
        download = Forms::fFileDownload();
        download->show();
        cover->hide();
    }

    // The search window's load lets events run; the user closes it right then.
    int closes = 0;
    QTimer::singleShot(0, [&closes] {
        if (QWidget* loading = Forms::Find("fWebSearch")) {
            ++closes;
            loading->close();
        }
    });
    QPointer<fWebSearch> handedOut;
    switch (entry) {
    case 0:
        cover->Command1_Click();
        break;
    case 1:
        download->menu资料检索分析窗口->trigger();
        break;
    default:
        handedOut = Forms::fWebSearch();
        break;
    }
    QCOMPARE(closes, 1);
    QVERIFY(!IsFormLoaded("fWebSearch"));
    QVERIFY(handedOut.isNull());
    QList<QPointer<fWebSearch>> made;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* search = qobject_cast<fWebSearch*>(widget)) {
            QVERIFY(!search->isVisible());
            made << search;
        }
    }
    QCOMPARE(made.size(), 1);
    // Closing it led back to the start-up window unless the download window is open.
    QCOMPARE(cover->isVisible(), entry != 1);
    settle();
    QVERIFY(made.first().isNull());

    // The next request loads a window of its own, which stays.
    fWebSearch* fresh = Forms::fWebSearch();
    QVERIFY(fresh);
    QVERIFY(fresh->isVisible());
    QVERIFY(IsFormLoaded("fWebSearch"));
}

void StartupTest::doesTheCoverSayWhatBecameOfTheLastList_data() {
    QTest::addColumn<QString>("journal"); // "good", "garbage" or "" for none
    QTest::addColumn<QString>("previous");
    QTest::addColumn<QString>("says");
    QTest::newRow("both generations broken: says nothing can be restored?")
        << "garbage"
        << "garbage"
        << "上次的下载列表无法读取，已另存为“%1”，它的上一版也无法读取（已另存为“%2”）："
           "没有可以恢复的列表。";
    QTest::newRow("broken journal, good previous: says which list is offered?")
        << "garbage"
        << "good"
        << "上次的下载列表无法读取，已另存为“%1”；它的上一版还有2项未完成，"
           "可在下载窗口的“列表操作”菜单中恢复。";
    QTest::newRow("good journal: counts what is left?")
        << "good"
        << ""
        << "上次的下载列表还有2项未完成，可在下载窗口的“列表操作”菜单中恢复。";
    QTest::newRow("no journal: says nothing?") << ""
                                               << ""
                                               << "";
}

void StartupTest::doesTheCoverSayWhatBecameOfTheLastList() {
    QFETCH(QString, journal);
    QFETCH(QString, previous);
    QFETCH(QString, says);
    Forms::DestroyAll();
    settle();
    const QString path = DownloadJournalPath();
    const auto put = [](const QString& at, const QString& kind) {
        QFile::remove(at);
        if (kind == "garbage") {
            QFile file(at);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("\x01 not a journal") > 0);
        } else if (kind == "good") {
            KeyedListModel list(DownloadListHeaders());
            for (const QString n : {"1", "2"})
                QVERIFY(
                    AddDownloadRow(list, "http://127.0.0.1/" + n + ".pdf", n, "pdf", "/t/", ""));
            QString error;
            QVERIFY2(WriteDownloadJournal(at, list, {}, &error), qPrintable(error));
        }
    };
    QDir().mkpath(QFileInfo(path).path());
    put(path, journal);
    put(PreviousJournalPath(path), previous);
    const QStringList asideBefore = QDir(QFileInfo(path).path()).entryList(QDir::Files);

    fCover* cover = Forms::fCover();
    QVERIFY(cover);
    QStringList setAside;
    for (const QString& name : QDir(QFileInfo(path).path()).entryList(QDir::Files)) {
        if (!asideBefore.contains(name))
            setAside.prepend(name); // the journal's own before its previous generation's
    }
    QString expected = says;
    for (const QString& name : std::as_const(setAside))
        expected = expected.arg(name);
    QCOMPARE(cover->JournalNotice->text(), expected);
    QCOMPARE(cover->JournalNotice->isVisible(), !says.isEmpty());
    QCOMPARE(LayoutFaults(cover), QStringList());

    // Read after the cover set the broken files aside, the download window's restore entry
    // tells the same story.
    const QAction* entry = Forms::fFileDownload()->menu恢复上次的下载列表;
    QCOMPARE(entry->isVisible(), !says.isEmpty());
    if (journal == "garbage")
        QVERIFY2(expected.startsWith(entry->toolTip().chopped(1)), qPrintable(entry->toolTip()));
    QFile::remove(path);
    QFile::remove(PreviousJournalPath(path));
}

QF_TEST_MAIN(StartupTest)
#include "test_startup.moc"

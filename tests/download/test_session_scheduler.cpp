#include "FakeClock.h"
#include "RecordingSound.h"
#include "TestServices.h"

#include "core/app/FileHelpers.h"
#include "core/download/DownloadList.h"
#include "core/download/Scheduler.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/Downloader.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"
#include "ui/platform/KeyedListView.h"
#include "ui/platform/QtSound.h"

#include "TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <memory>

namespace {

// Transfers that do what the window's own do to the window (a slot element exists while the
// slot is busy, its start time is noted, the placeholder reserves the file name) without a
// network; the test plays the transfers' end events.
class WindowTransfers : public DownloadTransfers {
public:
    explicit WindowTransfers(fFileDownload* window) : w_(window) {}
    bool executing = false;
    int cancels = 0;
    QStringList started; // "s3" single connection, "2:5" row 5 in slot 2
    QStringList targets;

    bool singleExecuting() const override { return executing; }
    void cancelSingle() override { ++cancels; }
    void runSingle(int position) override { started << QStringLiteral("s%1").arg(position); }
    bool slotLoaded(int slot) const override { return w_->Session().SlotLoaded(slot); }
    void startSlot(int slot, int position, const QString&, const QString& target) override {
        started << QStringLiteral("%1:%2").arg(slot).arg(position);
        targets << target;
        w_->Session().Downloader1.insert(slot, new Downloader(w_));
        w_->Session().SlotStart[static_cast<std::size_t>(slot)] = Services().clock->elapsedSeconds();
        QFile file(target);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray("\x01\x00", 2));
    }
    void removeSlot(int slot) override { delete w_->Session().Downloader1.take(slot).data(); }

    // The slot's error event: the row fails, the slot is freed, the gap is not restarted.
    void fail(int slot) {
        w_->ListItems3->SetSmallIcon(w_->Session().SlotItem[static_cast<std::size_t>(slot)],
                                     ItemState::Failed);
        removeSlot(slot);
    }
    // The slot's completion event: the gap runs from here.
    void complete(int slot) {
        const int position = w_->Session().SlotItem[static_cast<std::size_t>(slot)];
        w_->ListItems3->SetSmallIcon(position, ItemState::Completed);
        w_->ListItems3->SetSubItem(position, DownloadColumn::Percent, QStringLiteral("100%"));
        removeSlot(slot);
        w_->Session().LastFileTime = Services().clock->elapsedSeconds();
    }

private:
    fFileDownload* w_;
};

} // namespace

class SchedulerWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init();
    void cleanup();

    void doTheButtonsAndMenusStartAndStop_data();
    void doTheButtonsAndMenusStartAndStop();
    void whatDoesSwitchingTheModeChange();
    void doesGapZeroStartAtOnce_data();
    void doesGapZeroStartAtOnce();
    void doesTheGapRunFromTheLastCompletionOnly();
    void doesAFreedSlotTakeTheNextRow();
    void doesASkippedRowLetTheWalkGoOn();
    void doTwoRowsOfOneTitleGetTwoNames();
    void doesStoppingEndEveryTransfer_data();
    void doesStoppingEndEveryTransfer();
    void doesTheAutomaticStopWaitForFive_data();
    void doesTheAutomaticStopWaitForFive();
    void doesAFinishedListSoundOnce();
    void whenIsASilentSlotReclaimed_data();
    void whenIsASilentSlotReclaimed();
    void whatDoesTheAutomaticRedownloadTake_data();
    void whatDoesTheAutomaticRedownloadTake();
    void doesLocatingScrollToTheStartedRow_data();
    void doesLocatingScrollToTheStartedRow();
    void isEachSoundWrittenOnFirstUseAndPlayed();
    void isPlayingWithoutASoundDeviceSilent();
    void isTheNextStartToASiteTimedToItsSpacing_data();
    void isTheNextStartToASiteTimedToItsSpacing();

private:
    fFileDownload* load(int mode, int threads);
    void addRows(const QString& states, const QString& name = {});
    QString states() const;
    void tick() {
        services_->clock.advance(1.0);
        w_->Timer_Down_Timer();
    }

    std::unique_ptr<TestServices> services_;
    RecordingSound sound_;
    fFileDownload* w_ = nullptr;
    std::unique_ptr<WindowTransfers> transfers_;
};

void SchedulerWindowTest::init() {
    services_ = std::make_unique<TestServices>();
    Services().sound = &sound_;
    sound_.played.clear();
    Program() = ProgramValues{};
}

void SchedulerWindowTest::cleanup() {
    Forms::DestroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    transfers_.reset();
    w_ = nullptr;
    QCOMPARE(services_->prompt.pendingAnswers(), 0);
    services_.reset();
}

fFileDownload* SchedulerWindowTest::load(int mode, int threads) {
    w_ = Forms::fFileDownload();
    transfers_ = std::make_unique<WindowTransfers>(w_);
    w_->Session().UseTransfers(transfers_.get());
    // All rows share one site: the spacing between its starts is left out of these rules.
    w_->Pacing().SetMinimumSpacing(0);
    Program().DownloadMode = mode;
    w_->Combo1->setCurrentIndex(threads - 1);
    return w_;
}

// One row per character of `states`, in the test's folder; finished rows carry the
// progress text their transfer left.
void SchedulerWindowTest::addRows(const QString& states, const QString& name) {
    for (QChar state : states) {
        const int n = w_->ListItems3->Count() + 1;
        QVERIFY(w_->AddDownloadItem(QStringLiteral("http://127.0.0.1/f/%1.pdf").arg(n),
                                    name.isEmpty() ? QStringLiteral("file%1").arg(n) : name, "pdf",
                                    services_->dir.path(), ""));
        w_->ListItems3->SetSmallIcon(n, state.digitValue());
        if (state.digitValue() >= ItemState::Completed)
            w_->ListItems3->SetSubItem(n, DownloadColumn::Percent, QStringLiteral("100%"));
    }
}

QString SchedulerWindowTest::states() const {
    QString text;
    for (int n = 1; n <= w_->ListItems3->Count(); ++n)
        text += QString::number(w_->ListItems3->SmallIcon(n));
    return text;
}

void SchedulerWindowTest::doTheButtonsAndMenusStartAndStop_data() {
    QTest::addColumn<bool>("fromMenu");
    QTest::newRow("开始下载 and 停止下载 buttons") << false;
    QTest::newRow("开始下载 and 停止下载 of the list menu") << true;
}

void SchedulerWindowTest::doTheButtonsAndMenusStartAndStop() {
    QFETCH(bool, fromMenu);
    load(2, 3);
    for (QPushButton* button : {w_->Command4, w_->Command31, w_->Command26})
        QVERIFY2(button->isEnabled(), qPrintable(button->text()));
    QCOMPARE(w_->menu下载全部->text(), QStringLiteral("开始下载"));
    QCOMPARE(w_->menu停止下载->text(), QStringLiteral("停止下载"));
    QVERIFY(w_->menu工具->actions().contains(w_->menu自动定位到下载项));
    QVERIFY(w_->menu自动定位到下载项->isCheckable() && !w_->menu自动定位到下载项->isChecked());
    QVERIFY(w_->menu重新下载->actions().contains(w_->menu重新下载出错项));
    QVERIFY(w_->menu重新下载->actions().contains(w_->menu重新下载文件类型为HTM和HTML项));

    fromMenu ? w_->menu下载全部->trigger() : w_->Command4->click();
    QVERIFY(w_->Timer_Down->isActive());
    w_->Check3->setChecked(true);
    w_->Check4->setChecked(true);
    fromMenu ? w_->menu停止下载->trigger() : w_->Command31->click();
    QVERIFY(!w_->Timer_Down->isActive());
    QVERIFY(!w_->Check3->isChecked() && !w_->Check4->isChecked());
    QCOMPARE(transfers_->cancels, 2);
}

void SchedulerWindowTest::whatDoesSwitchingTheModeChange() {
    load(2, 4);
    addRows("1");
    tick(); // a transfer runs in slot 1
    const QString threads = w_->Combo1->currentText();
    w_->Command26->click();
    QCOMPARE(Program().DownloadMode, 1);
    QCOMPARE(w_->Label7->text(), QStringLiteral("下载方式：1（单线程）"));
    QCOMPARE(w_->Combo1->currentText(), threads); // kept for the way back
    QVERIFY(!w_->Combo1->isEnabled());
    QVERIFY(w_->Session().SlotLoaded(1)); // running transfers are not touched

    w_->Combo1->setCurrentIndex(3);
    w_->Command26->click();
    QCOMPARE(Program().DownloadMode, 2);
    QCOMPARE(w_->Label7->text(), QStringLiteral("下载方式：2（多线程）"));
    QCOMPARE(w_->Combo1->currentText(), w_->Combo1->itemText(3));
    QVERIFY(w_->Combo1->isEnabled());
}

void SchedulerWindowTest::doesGapZeroStartAtOnce_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("does the single connection take one file a tick?") << 1 << "s1"
                                                                      << "s1 s2";
    QTest::newRow("does one tick fill all three slots?") << 2 << "1:1 2:2 3:3"
                                                         << "1:1 2:2 3:3";
}

void SchedulerWindowTest::doesGapZeroStartAtOnce() {
    QFETCH(int, mode);
    QFETCH(QString, first);
    QFETCH(QString, second);
    load(mode, 3);
    addRows("11111");
    w_->Command4->click();
    tick();
    QCOMPARE(transfers_->started.join(' '), first);
    QCOMPARE(w_->Session().SlotItem[1], 1);
    tick();
    QCOMPARE(transfers_->started.join(' '), second);
}

void SchedulerWindowTest::doesTheGapRunFromTheLastCompletionOnly() {
    load(2, 3);
    w_->Combo2->setCurrentIndex(5);
    addRows("1111111111");
    services_->clock.advance(5.0);
    tick();
    QCOMPARE(transfers_->started.join(' '), QStringLiteral("1:1 2:2 3:3"));
    transfers_->fail(2);
    tick(); // an error event leaves the gap alone: slot 2 is refilled at once
    QCOMPARE(transfers_->started.mid(3), QStringList{"2:4"});
    transfers_->complete(1);
    for (int second = 1; second <= 5; ++second)
        tick();
    QCOMPARE(transfers_->started.mid(4), QStringList{});
    services_->clock.advance(0.5);
    w_->Timer_Down_Timer();
    QCOMPARE(transfers_->started.mid(4), QStringList{"1:5"});
}

void SchedulerWindowTest::doesAFreedSlotTakeTheNextRow() {
    load(2, 3);
    addRows("1111111111");
    tick();
    transfers_->complete(2);
    tick();
    QCOMPARE(transfers_->started.join(' '), QStringLiteral("1:1 2:2 3:3 2:4"));
    QCOMPARE(states(), QStringLiteral("2322111111"));
    QCOMPARE(w_->Session().SlotItem[2], 4);
}

void SchedulerWindowTest::doesASkippedRowLetTheWalkGoOn() {
    load(2, 2);
    w_->Option1->setChecked(true); // 跳过
    addRows("111");
    QFile existing(services_->path("file1.pdf"));
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write(QByteArray(1234, 'x')) == 1234);
    existing.close();
    tick();
    QCOMPARE(transfers_->started.join(' '), QStringLiteral("1:2 2:3"));
    QCOMPARE(states(), QStringLiteral("322"));
    QCOMPARE(w_->ListItems3->SubItem(1, DownloadColumn::Percent), QStringLiteral("已存在，跳过"));
}

void SchedulerWindowTest::doTwoRowsOfOneTitleGetTwoNames() {
    load(2, 3);
    QVERIFY(w_->Option3->isChecked()); // 重命名
    addRows("11", QStringLiteral("Same title"));
    tick();
    const QString folder = services_->dir.path() + '/';
    QCOMPARE(transfers_->targets,
             (QStringList{folder + "Same title.pdf", folder + "Same title[001].pdf"}));
    QCOMPARE(w_->ListItems3->Text(1), QStringLiteral("Same title"));
    QCOMPARE(w_->ListItems3->Text(2), QStringLiteral("Same title[001]"));
    QCOMPARE(w_->ListItems3->SubItem(2, DownloadColumn::Folder), folder);
}

void SchedulerWindowTest::doesStoppingEndEveryTransfer_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("停止下载") << "button";
    QTest::newRow("the list menu's 停止下载") << "menu";
    QTest::newRow("closing the window with transfers running") << "close";
}

void SchedulerWindowTest::doesStoppingEndEveryTransfer() {
    QFETCH(QString, how);
    load(2, 3);
    addRows("1113");
    w_->Command4->click();
    tick();
    QCOMPARE(w_->CountDownloaderSlots(), 4);
    w_->Check3->setChecked(true);
    w_->Check4->setChecked(true);
    w_->Session().DownloadBusy = true;
    const double lastFileTime = w_->Session().LastFileTime;
    services_->clock.advance(1.0);

    if (how == "button") {
        w_->Command31->click();
    } else if (how == "menu") {
        w_->menu停止下载->trigger();
    } else {
        services_->prompt.answer(MsgResult::Yes);
        QVERIFY(w_->close());
        QCOMPARE(services_->prompt.shown().size(), 1);
    }
    QCOMPARE(w_->CountDownloaderSlots(), 1);
    QCOMPARE(states(), QStringLiteral("4443"));
    QVERIFY(!w_->Timer_Down->isActive());
    QVERIFY(!w_->Check3->isChecked() && !w_->Check4->isChecked());
    QVERIFY(!w_->Session().DownloadBusy);
    QCOMPARE(w_->Session().LastFileTime, lastFileTime);
    // The close cancels the single connection once more after the stop.
    QCOMPARE(transfers_->cancels, how == "close" ? 3 : 2);
}

void SchedulerWindowTest::doesTheAutomaticStopWaitForFive_data() {
    QTest::addColumn<QString>("states");
    QTest::addColumn<bool>("stops");
    QTest::newRow("do four failed rows keep it running?") << "44441" << false;
    QTest::newRow("do exactly five stop it?") << "444441" << true;
}

void SchedulerWindowTest::doesTheAutomaticStopWaitForFive() {
    QFETCH(QString, states);
    QFETCH(bool, stops);
    load(2, 3);
    addRows(states);
    w_->Check5->setChecked(true);
    w_->Check6->setChecked(true);
    QCOMPARE(w_->Session().CountProblemItems(), int(states.count('4')));
    w_->Command4->click();
    w_->Timer1_Timer();
    QCOMPARE(w_->Timer_Down->isActive(), !stops);
    QCOMPARE(sound_.played.size(), stops ? 1 : 0);
}

void SchedulerWindowTest::doesAFinishedListSoundOnce() {
    load(2, 3);
    addRows("32");
    w_->Check6->setChecked(true);
    w_->Command4->click();
    w_->Timer1_Timer();
    QVERIFY(!w_->Shape1->isHidden());
    QVERIFY(!w_->menu下载全部->isEnabled());
    QVERIFY(sound_.played.isEmpty());

    w_->ListItems3->SetSmallIcon(2, ItemState::Completed);
    w_->Timer1_Timer();
    w_->Timer1_Timer();
    QCOMPARE(sound_.played, QStringList{ProgramFolder() + "102.wav"});
    QVERIFY(!w_->Timer_Down->isActive());
    QVERIFY(w_->Shape1->isHidden());
    QVERIFY(w_->menu下载全部->isEnabled());
    QCOMPARE(w_->StatusPanel4->text(),
             QStringLiteral("总数：2|正在下载：0|等待：0|已完成：2|失败：0"));
}

void SchedulerWindowTest::whenIsASilentSlotReclaimed_data() {
    QTest::addColumn<double>("wallStart");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("size");
    QTest::addColumn<bool>("reclaimed");
    QTest::newRow("is it kept at 1199 seconds?") << 36000.0 << 1199.0 << "" << false;
    QTest::newRow("is it reclaimed at 1200?") << 36000.0 << 1200.0 << "" << true;
    QTest::newRow("is a slot that reported a size kept?") << 36000.0 << 5000.0 << "5000" << false;
    QTest::newRow("is a slot kept when the wall clock passes midnight?")
        << 86000.0 << 600.0 << "" << false;
}

void SchedulerWindowTest::whenIsASilentSlotReclaimed() {
    QFETCH(double, wallStart);
    QFETCH(double, seconds);
    QFETCH(QString, size);
    QFETCH(bool, reclaimed);
    services_->clock.setSecondsSinceMidnight(wallStart);
    load(2, 1);
    addRows("11");
    w_->Command4->click();
    tick();
    w_->ListItems3->SetSubItem(1, DownloadColumn::Size, size);
    services_->clock.advance(seconds);
    w_->Timer1_Timer();
    QCOMPARE(w_->Session().SlotLoaded(1), !reclaimed);
    QCOMPARE(w_->ListItems3->SmallIcon(1), reclaimed ? ItemState::Failed : ItemState::Downloading);
}

void SchedulerWindowTest::whatDoesTheAutomaticRedownloadTake_data() {
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("statesAfter");
    QTest::addColumn<QString>("typesAfter");
    // Rows: failed pdf, completed htm, completed pdf.
    QTest::newRow("出错项") << 0 << "133"
                            << "pdf htm pdf";
    QTest::newRow("文件类型为HTM和HTML项") << 1 << "413"
                                           << "pdf xxx pdf";
    QTest::newRow("出错项和文件类型为HTM和HTML项") << 2 << "113"
                                                   << "pdf xxx pdf";
}

void SchedulerWindowTest::whatDoesTheAutomaticRedownloadTake() {
    QFETCH(int, choice);
    QFETCH(QString, statesAfter);
    QFETCH(QString, typesAfter);
    load(2, 3);
    addRows("433");
    w_->ListItems3->SetSubItem(2, DownloadColumn::Type, QStringLiteral("htm"));
    w_->Check3->setChecked(true);
    w_->Combo4->setCurrentIndex(choice);
    // The first tick notes the failures; the rows go back only after the first pause.
    w_->Timer1_Timer();
    QCOMPARE(states(), QStringLiteral("433"));
    services_->clock.advance(AutomaticRedownload::kPauseSeconds[0]);
    w_->Timer1_Timer();
    QCOMPARE(states(), statesAfter);
    QStringList types;
    for (int n = 1; n <= 3; ++n)
        types << w_->ListItems3->SubItem(n, DownloadColumn::Type);
    QCOMPARE(types.join(' '), typesAfter);
    QVERIFY(w_->Timer_Down->isActive());
}

void SchedulerWindowTest::doesLocatingScrollToTheStartedRow_data() {
    QTest::addColumn<bool>("locate");
    QTest::newRow("自动定位到下载项 ticked") << true;
    QTest::newRow("not ticked") << false;
}

void SchedulerWindowTest::doesLocatingScrollToTheStartedRow() {
    QFETCH(bool, locate);
    load(2, 1);
    addRows(QString(250, '3') + "11");
    if (locate)
        w_->menu自动定位到下载项->trigger();
    QCOMPARE(w_->menu自动定位到下载项->isChecked(), locate);
    w_->showNormal();
    w_->resize(800, 400);
    QCoreApplication::processEvents();
    tick();
    QCoreApplication::processEvents();
    const QRect row = w_->ListView3->visualRect(w_->ListItems3->index(250, 0));
    QCOMPARE(w_->ListView3->viewport()->rect().intersects(row), locate);
}

void SchedulerWindowTest::isEachSoundWrittenOnFirstUseAndPlayed() {
    load(2, 3);
    QList<QByteArray> clips;
    for (int number : {101, 102, 103}) {
        const QString path = ProgramFolder() + QString::number(number) + ".wav";
        QFile::remove(path);
        w_->Session().PlaySound(number);
        QCOMPARE(sound_.played.last(), path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WAVE");
        QVERIFY(!clips.contains(bytes));
        clips << bytes;
    }
    // A file that is there already is played as it is.
    const QString path = ProgramFolder() + "103.wav";
    QFile mine(path);
    QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
    mine.close();
    w_->Session().PlaySound(103);
    QVERIFY(mine.open(QIODevice::ReadOnly));
    QCOMPARE(mine.readAll(), QByteArray("mine"));
    QFile::remove(path);
    w_->Session().PlaySound(104);
    Services().sound = nullptr;
    w_->Session().PlaySound(101);
    QCOMPARE(sound_.played.size(), 4);
}

void SchedulerWindowTest::isPlayingWithoutASoundDeviceSilent() {
    load(2, 3);
    Services().sound = nullptr;
    w_->Session().PlaySound(102); // writes the clip
    QTest::failOnWarning(QRegularExpression(".*"));
    QtSound sound;
    sound.play(ProgramFolder() + "102.wav");
    sound.play(ProgramFolder() + "102.wav");
    sound.play(services_->path("missing.wav"));
    QTest::qWait(50);
}

void SchedulerWindowTest::isTheNextStartToASiteTimedToItsSpacing_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<double>("spacing");
    QTest::addColumn<double>("since"); // seconds between the first start and the next tick
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("dueMs"); // -1: no timer armed
    QTest::newRow("no spacing: the tick decides") << 2 << 0.0 << 0.0 << "221" << -1;
    QTest::newRow("spacing over: the next one timed") << 2 << 1.0 << 1.0 << "221" << 1000;
    QTest::newRow("parallel: the rest of a second") << 2 << 1.0 << 0.25 << "211" << 750;
    QTest::newRow("parallel: longer than a tick") << 2 << 2.5 << 0.0 << "211" << 2500;
    QTest::newRow("single connection: the rest after the transfer")
        << 1 << 1.0 << 0.3 << "211" << 700;
}

// Starts to one site are as far apart as the spacing says, not rounded up to the next tick:
// after a tick the window arms a timer for the moment the site's next start is due.
void SchedulerWindowTest::isTheNextStartToASiteTimedToItsSpacing() {
    QFETCH(int, mode);
    QFETCH(double, spacing);
    QFETCH(double, since);
    QFETCH(QString, after);
    QFETCH(int, dueMs);
    load(mode, 2);
    w_->Pacing().SetMinimumSpacing(spacing);
    addRows("111");
    w_->Command4_Click();
    tick();
    QVERIFY(states().startsWith(QLatin1Char('2')));
    services_->clock.advance(since);
    w_->Timer_Down_Timer();
    QCOMPARE(states(), after);
    const QTimer* due = w_->Session().findChild<QTimer*>(QStringLiteral("siteDueTimer"));
    QVERIFY(due);
    QCOMPARE(due->isActive(), dueMs >= 0);
    if (dueMs >= 0)
        QCOMPARE(due->interval(), dueMs);
}

QF_TEST_MAIN(SchedulerWindowTest)
#include "test_session_scheduler.moc"

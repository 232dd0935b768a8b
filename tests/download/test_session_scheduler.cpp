#include "RecordingTransfers.h"
#include "SessionFixture.h"
#include "TestEnvironment.h"

#include "core/app/FileHelpers.h"

#include <QSignalSpy>
#include <QTimer>

#include <memory>

// The session's scheduler over transfers the test plays: which rows start where and when, the
// gap, the stop, the automatic stop and re-download, the silent slot and the sounds.
class SchedulerSessionTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

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
    void isEachSoundWrittenOnFirstUseAndPlayed();
    void isTheNextStartToASiteTimedToItsSpacing_data();
    void isTheNextStartToASiteTimedToItsSpacing();

private:
    void load(int mode, int threads);
    void addRows(const QString& states, const QString& name = {});
    QString states() const;
    void tick() {
        f_->services.clock.advance(1.0);
        session().Timer_Down_Timer();
    }

    DownloadSession& session() const { return *f_->session; }

    std::unique_ptr<SessionFixture> f_;
    std::unique_ptr<RecordingTransfers> transfers_;
};

void SchedulerSessionTest::init() {
    f_ = std::make_unique<SessionFixture>();
}

void SchedulerSessionTest::cleanup() {
    session().UseTransfers(nullptr);
    transfers_.reset();
    const int pending = f_->services.prompt.pendingAnswers();
    f_.reset();
    QCOMPARE(pending, 0);
}

void SchedulerSessionTest::load(int mode, int threads) {
    transfers_ = std::make_unique<RecordingTransfers>(session());
    session().UseTransfers(transfers_.get());
    // All rows share one site: the spacing between its starts is left out of these rules.
    session().Pacing().SetMinimumSpacing(0);
    Program().DownloadMode = mode;
    session().Options().threadCount = threads;
}

// One row per character of `states`, in the test's folder; finished rows carry the
// progress text their transfer left.
void SchedulerSessionTest::addRows(const QString& states, const QString& name) {
    for (QChar state : states) {
        const int n = session().ListItems3->Count() + 1;
        QVERIFY(session().AddDownloadItem(QStringLiteral("http://127.0.0.1/f/%1.pdf").arg(n),
                                          name.isEmpty() ? QStringLiteral("file%1").arg(n) : name,
                                          "pdf", f_->services.dir.path(), ""));
        session().ListItems3->SetSmallIcon(n, state.digitValue());
        if (state.digitValue() >= ItemState::Completed)
            session().ListItems3->SetSubItem(n, DownloadColumn::Percent, QStringLiteral("100%"));
    }
}

QString SchedulerSessionTest::states() const {
    QString text;
    for (int n = 1; n <= session().ListItems3->Count(); ++n)
        text += QString::number(session().ListItems3->SmallIcon(n));
    return text;
}

void SchedulerSessionTest::doesGapZeroStartAtOnce_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("does the single connection take one file a tick?") << 1 << "s1"
                                                                      << "s1 s2";
    QTest::newRow("does one tick fill all three slots?") << 2 << "1:1 2:2 3:3"
                                                         << "1:1 2:2 3:3";
}

void SchedulerSessionTest::doesGapZeroStartAtOnce() {
    QFETCH(int, mode);
    QFETCH(QString, first);
    QFETCH(QString, second);
    load(mode, 3);
    addRows("11111");
    session().Command4_Click();
    tick();
    QCOMPARE(transfers_->started.join(' '), first);
    QCOMPARE(session().SlotItem[1], 1);
    tick();
    QCOMPARE(transfers_->started.join(' '), second);
}

void SchedulerSessionTest::doesTheGapRunFromTheLastCompletionOnly() {
    load(2, 3);
    session().Options().gapSeconds = 5;
    addRows("1111111111");
    f_->services.clock.advance(5.0);
    tick();
    QCOMPARE(transfers_->started.join(' '), QStringLiteral("1:1 2:2 3:3"));
    transfers_->fail(2);
    tick(); // an error event leaves the gap alone: slot 2 is refilled at once
    QCOMPARE(transfers_->started.mid(3), QStringList{"2:4"});
    transfers_->complete(1);
    for (int second = 1; second <= 5; ++second)
        tick();
    QCOMPARE(transfers_->started.mid(4), QStringList{});
    f_->services.clock.advance(0.5);
    session().Timer_Down_Timer();
    QCOMPARE(transfers_->started.mid(4), QStringList{"1:5"});
}

void SchedulerSessionTest::doesAFreedSlotTakeTheNextRow() {
    load(2, 3);
    addRows("1111111111");
    tick();
    transfers_->complete(2);
    tick();
    QCOMPARE(transfers_->started.join(' '), QStringLiteral("1:1 2:2 3:3 2:4"));
    QCOMPARE(states(), QStringLiteral("2322111111"));
    QCOMPARE(session().SlotItem[2], 4);
}

void SchedulerSessionTest::doesASkippedRowLetTheWalkGoOn() {
    load(2, 2);
    session().Options().sameName = SameNameChoice::Skip;
    addRows("111");
    QFile existing(f_->services.path("file1.pdf"));
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write(QByteArray(1234, 'x')) == 1234);
    existing.close();
    tick();
    QCOMPARE(transfers_->started.join(' '), QStringLiteral("1:2 2:3"));
    QCOMPARE(states(), QStringLiteral("322"));
    QCOMPARE(session().ListItems3->SubItem(1, DownloadColumn::Percent),
             QStringLiteral("已存在，跳过"));
}

void SchedulerSessionTest::doTwoRowsOfOneTitleGetTwoNames() {
    load(2, 3);
    QCOMPARE(session().Options().sameName, SameNameChoice::Rename);
    addRows("11", QStringLiteral("Same title"));
    tick();
    const QString folder = f_->services.dir.path() + '/';
    QCOMPARE(transfers_->targets,
             (QStringList{folder + "Same title.pdf", folder + "Same title[001].pdf"}));
    QCOMPARE(session().ListItems3->Text(1), QStringLiteral("Same title"));
    QCOMPARE(session().ListItems3->Text(2), QStringLiteral("Same title[001]"));
    QCOMPARE(session().ListItems3->SubItem(2, DownloadColumn::Folder), folder);
}

void SchedulerSessionTest::doesStoppingEndEveryTransfer_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("停止下载") << "stop";
    QTest::newRow("the close's stop with transfers running") << "close";
}

void SchedulerSessionTest::doesStoppingEndEveryTransfer() {
    QFETCH(QString, how);
    load(2, 3);
    addRows("1113");
    session().Command4_Click();
    tick();
    QCOMPARE(session().CountDownloaderSlots(), 4);
    session().Options().autoRedownload = true;
    session().Options().autoStart = true;
    session().DownloadBusy = true;
    const double lastFileTime = session().LastFileTime;
    f_->services.clock.advance(1.0);

    if (how == "stop")
        session().Command31_Click();
    else
        session().StopForClose();
    QCOMPARE(session().CountDownloaderSlots(), 1);
    QCOMPARE(states(), QStringLiteral("4443"));
    QVERIFY(!session().Timer_Down->isActive());
    QVERIFY(!session().Options().autoRedownload && !session().Options().autoStart);
    QVERIFY(!session().DownloadBusy);
    QCOMPARE(session().LastFileTime, lastFileTime);
    // The close cancels the single connection once more after the stop.
    QCOMPARE(transfers_->cancels, how == "close" ? 3 : 2);
}

void SchedulerSessionTest::doesTheAutomaticStopWaitForFive_data() {
    QTest::addColumn<QString>("states");
    QTest::addColumn<bool>("stops");
    QTest::newRow("do four failed rows keep it running?") << "44441" << false;
    QTest::newRow("do exactly five stop it?") << "444441" << true;
}

void SchedulerSessionTest::doesTheAutomaticStopWaitForFive() {
    QFETCH(QString, states);
    QFETCH(bool, stops);
    load(2, 3);
    addRows(states);
    session().Options().autoStop = true;
    session().Options().sound = true;
    QCOMPARE(session().CountProblemItems(), int(states.count('4')));
    session().Command4_Click();
    session().Timer1_Timer();
    QCOMPARE(session().Timer_Down->isActive(), !stops);
    QCOMPARE(f_->sound.played.size(), stops ? 1 : 0);
}

void SchedulerSessionTest::doesAFinishedListSoundOnce() {
    load(2, 3);
    addRows("32");
    session().Options().sound = true;
    QSignalSpy shown(&session(), &DownloadSession::housekeepingShown);
    session().Command4_Click();
    session().Timer1_Timer();
    // The start command is off and the lamp lit while the list runs.
    QCOMPARE(shown.last(), (QVariantList{false, true}));
    QVERIFY(f_->sound.played.isEmpty());

    session().ListItems3->SetSmallIcon(2, ItemState::Completed);
    session().Timer1_Timer();
    session().Timer1_Timer();
    QCOMPARE(f_->sound.played, QStringList{ProgramFolder() + "102.wav"});
    QVERIFY(!session().Timer_Down->isActive());
    QCOMPARE(shown.last(), (QVariantList{true, false}));
    QCOMPARE(StatusCountsText(CountDownloadStates(*session().ListItems3)),
             QStringLiteral("总数：2|正在下载：0|等待：0|已完成：2|失败：0"));
}

void SchedulerSessionTest::whenIsASilentSlotReclaimed_data() {
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

void SchedulerSessionTest::whenIsASilentSlotReclaimed() {
    QFETCH(double, wallStart);
    QFETCH(double, seconds);
    QFETCH(QString, size);
    QFETCH(bool, reclaimed);
    f_->services.clock.setSecondsSinceMidnight(wallStart);
    load(2, 1);
    addRows("11");
    session().Command4_Click();
    tick();
    session().ListItems3->SetSubItem(1, DownloadColumn::Size, size);
    f_->services.clock.advance(seconds);
    session().Timer1_Timer();
    QCOMPARE(session().SlotLoaded(1), !reclaimed);
    QCOMPARE(session().ListItems3->SmallIcon(1),
             reclaimed ? ItemState::Failed : ItemState::Downloading);
}

void SchedulerSessionTest::whatDoesTheAutomaticRedownloadTake_data() {
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

void SchedulerSessionTest::whatDoesTheAutomaticRedownloadTake() {
    QFETCH(int, choice);
    QFETCH(QString, statesAfter);
    QFETCH(QString, typesAfter);
    load(2, 3);
    addRows("433");
    session().ListItems3->SetSubItem(2, DownloadColumn::Type, QStringLiteral("htm"));
    session().Options().autoRedownload = true;
    session().Options().redownloadChoice = choice;
    // The first tick notes the failures; the rows go back only after the first pause.
    session().Timer1_Timer();
    QCOMPARE(states(), QStringLiteral("433"));
    f_->services.clock.advance(AutomaticRedownload::kPauseSeconds[0]);
    session().Timer1_Timer();
    QCOMPARE(states(), statesAfter);
    QStringList types;
    for (int n = 1; n <= 3; ++n)
        types << session().ListItems3->SubItem(n, DownloadColumn::Type);
    QCOMPARE(types.join(' '), typesAfter);
    QVERIFY(session().Timer_Down->isActive());
}

void SchedulerSessionTest::isEachSoundWrittenOnFirstUseAndPlayed() {
    load(2, 3);
    QList<QByteArray> clips;
    for (int number : {101, 102, 103}) {
        const QString path = ProgramFolder() + QString::number(number) + ".wav";
        QFile::remove(path);
        session().PlaySound(number);
        QCOMPARE(f_->sound.played.last(), path);
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
    session().PlaySound(103);
    QVERIFY(mine.open(QIODevice::ReadOnly));
    QCOMPARE(mine.readAll(), QByteArray("mine"));
    QFile::remove(path);
    session().PlaySound(104);
    Services().sound = nullptr;
    session().PlaySound(101);
    QCOMPARE(f_->sound.played.size(), 4);
}

void SchedulerSessionTest::isTheNextStartToASiteTimedToItsSpacing_data() {
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
void SchedulerSessionTest::isTheNextStartToASiteTimedToItsSpacing() {
    QFETCH(int, mode);
    QFETCH(double, spacing);
    QFETCH(double, since);
    QFETCH(QString, after);
    QFETCH(int, dueMs);
    load(mode, 2);
    session().Pacing().SetMinimumSpacing(spacing);
    addRows("111");
    session().Command4_Click();
    tick();
    QVERIFY(states().startsWith(QLatin1Char('2')));
    f_->services.clock.advance(since);
    session().Timer_Down_Timer();
    QCOMPARE(states(), after);
    const QTimer* due = session().findChild<QTimer*>(QStringLiteral("siteDueTimer"));
    QVERIFY(due);
    QCOMPARE(due->isActive(), dueMs >= 0);
    if (dueMs >= 0)
        QCOMPARE(due->interval(), dueMs);
}

QF_TEST_GUILESS_MAIN(SchedulerSessionTest)
#include "test_session_scheduler.moc"

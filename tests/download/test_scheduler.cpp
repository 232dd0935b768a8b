#include "FakeClock.h"
#include "TestEnvironment.h"

#include "core/download/DownloadList.h"
#include "core/download/Naming.h"
#include "core/download/Scheduler.h"
#include "core/platform/KeyedListModel.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <functional>

// The scheduler's decisions over a real list and real files, with doubles for the transfers
// and the window's controls.
namespace {

class FakeTransfers : public DownloadTransfers {
public:
    bool executing = false;
    int cancels = 0;
    QStringList started; // "s3" for the single connection, "2:5" for row 5 in slot 2
    QSet<int> loaded;
    std::function<void(int)> duringSingle;

    bool singleExecuting() const override { return executing; }
    void cancelSingle() override { ++cancels; }
    void runSingle(int position) override {
        started << QStringLiteral("s%1").arg(position);
        if (duringSingle)
            duringSingle(position);
    }
    bool slotLoaded(int slot) const override { return loaded.contains(slot); }
    void startSlot(int slot, int position, const QString&, const QString&) override {
        started << QStringLiteral("%1:%2").arg(slot).arg(position);
        loaded.insert(slot);
    }
    void removeSlot(int slot) override { loaded.remove(slot); }
};

class FakeWindow : public SchedulerWindow {
public:
    explicit FakeWindow(KeyedListModel& list) : list_(list) {}
    bool on = true;
    QSet<int> refused; // positions whose file "exists" under 跳过
    QList<int> sounds;
    QStringList counters; // the counters as each refresh saw them
    QString answers;      // to the day's question, "y" or "n" each
    int asked = 0;

    bool schedulerOn() const override { return on; }
    void setSchedulerOn(bool value) override { on = value; }
    bool acceptRow(int position) override {
        if (!refused.contains(position))
            return true;
        list_.SetSmallIcon(position, ItemState::Completed);
        return false;
    }
    SameNameChoice sameNameChoice() const override { return SameNameChoice::Rename; }
    void showRow(int) override {}
    void playSound(int number) override { sounds << number; }
    bool confirmManyStarts(const QString&, int) override {
        return answers.mid(asked++, 1) == QLatin1String("y");
    }
    void refreshCounters() override { counters << StatusCountsText(CountDownloadStates(list_)); }

private:
    KeyedListModel& list_;
};

struct Rig {
    QTemporaryDir dir;
    KeyedListModel list{DownloadListHeaders()};
    FakeClock clock;
    bool busy = false;
    std::array<int, 12> slotItem{};
    std::array<double, 12> slotStart{};
    double lastFileTime = 0.0;
    FakeWindow window{list};
    FakeTransfers transfers;
    DownloadScheduler scheduler{
        list, clock, {busy, slotItem, slotStart, lastFileTime}, window, transfers};

    // All rows share one site: the spacing between its starts is left out of these rules.
    Rig() { scheduler.pacing().SetMinimumSpacing(0); }

    // One row per character of `states` ("1".."4"), named row1, row2, ... in the rig's
    // folder; finished rows carry progress text as transfers leave it.
    void addRows(const QString& states, const QStringList& types = {}) {
        for (QChar state : states) {
            const int n = list.Count() + 1;
            const QString type = n <= types.size() ? types[n - 1] : QStringLiteral("pdf");
            AddDownloadRow(list, QStringLiteral("http://127.0.0.1/r%1").arg(n),
                           QStringLiteral("row%1").arg(n), type, dir.path(), {});
            list.SetSmallIcon(n, state.digitValue());
            if (state.digitValue() >= ItemState::Completed)
                list.SetSubItem(n, DownloadColumn::Percent, QStringLiteral("100%"));
        }
    }
    QString states() const {
        QString text;
        for (int n = 1; n <= list.Count(); ++n)
            text += QString::number(list.SmallIcon(n));
        return text;
    }
    QString rowFile(int n, const QString& type) const {
        return dir.path() + QStringLiteral("/row%1.").arg(n) + type;
    }
};

bool touch(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

} // namespace

struct TickCase {
    const char* states;
    int mode, threads, gap;
    double waited; // seconds since the last file ended
    bool busy;
    const char* loaded;  // slots busy before the tick
    const char* refused; // rows whose file exists under 跳过
    const char* started; // "s3" single connection, "2:5" row 5 in slot 2
    const char* statesAfter;
    bool onAfter;
};

struct PrepareCase {
    int mode;
    const char* folder; // of row 1, under the rig's folder unless empty or relative
    const char* name;
    const char* type;
    int startedRow;
    const char* nameAfter;
    bool folderMade;
};

struct HousekeepingCase {
    const char* states;
    bool on;
    HousekeepingOptions options; // autoRedownload, choice, autoStart, autoStop, sound
    int mode;
    bool executing, slotLoaded, busyBefore; // for the busy flag
    bool onAfter, startMenu, busyAfter;
    const char* statesAfter;
    QList<int> sounds;
};

Q_DECLARE_METATYPE(TickCase)
Q_DECLARE_METATYPE(PrepareCase)
Q_DECLARE_METATYPE(HousekeepingCase)

class SchedulerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void whatDoesATickStart_data();
    void whatDoesATickStart();
    void howDoesASitesPaceHoldItsStarts_data();
    void howDoesASitesPaceHoldItsStarts();
    void howIsTheStartedRowPrepared_data();
    void howIsTheStartedRowPrepared();
    void whatDoesTheHousekeepingDo_data();
    void whatDoesTheHousekeepingDo();
    void whichRowsAreProblems_data();
    void whichRowsAreProblems();
    void whichRowsDoTheRequeueCommandsTake_data();
    void whichRowsDoTheRequeueCommandsTake();
    void isARowWhoseLinkIsNoWebAddressRefused();
    void howOftenIsAFailingRowFetchedAgain_data();
    void howOftenIsAFailingRowFetchedAgain();
};

void SchedulerTest::whatDoesATickStart_data() {
    QTest::addColumn<TickCase>("c");
    const auto row = [](const char* question, const TickCase& c) {
        QTest::newRow(question) << c;
    };
    // states, mode, threads, gap, waited, busy, loaded, refused, started, statesAfter, onAfter
    row("does an empty list switch downloading off?",
        {"", 2, 3, 0, 1, false, "", "", "", "", false});
    row("does gap 0 start a file a second after the last?",
        {"111", 1, 1, 0, 1, false, "", "", "s1", "211", true});
    row("does gap 0 wait while no time has passed?",
        {"111", 1, 1, 0, 0, false, "", "", "", "111", true});
    row("does gap 5 still hold at exactly 5 seconds?",
        {"11", 2, 3, 5, 5, false, "", "", "", "11", true});
    row("does gap 5 let files go just after 5 seconds?",
        {"11", 2, 3, 5, 5.5, false, "", "", "1:1 2:2", "22", true});
    row("does a busy single connection start nothing?",
        {"11", 1, 1, 0, 9, true, "", "", "", "11", true});
    row("does the single connection take the first waiting row only?",
        {"34211", 1, 6, 0, 1, false, "", "", "s4", "34221", true});
    row("does one tick fill every free slot in list order?",
        {"1111111111", 2, 3, 0, 1, false, "", "", "1:1 2:2 3:3", "2221111111", true});
    row("does a busy slot keep its transfer while the others fill?",
        {"21111", 2, 3, 0, 1, false, "2", "", "1:2 3:3", "22211", true});
    row("do slots stay free when rows run out?",
        {"131", 2, 6, 0, 1, false, "", "", "1:1 2:3", "232", true});
    row("is a thread count above six held at six?",
        {"11111111", 2, 9, 0, 1, false, "", "", "1:1 2:2 3:3 4:4 5:5 6:6", "22222211", true});
    row("is a thread count of 0 raised to one?",
        {"11", 2, 0, 0, 1, false, "", "", "1:1", "21", true});
    row("does any mode but 1 use the slots?",
        {"11", 3, 2, 0, 1, false, "", "", "1:1 2:2", "22", true});
    row("does a refused row end skipped and the single walk go on?",
        {"111", 1, 1, 0, 1, false, "", "1", "s2", "321", true});
    row("do refused rows let the slots take the next rows in the same tick?",
        {"11111", 2, 2, 0, 1, false, "", "13", "1:2 2:4", "32321", true});
    row("does a tick that finds only refused rows start nothing?",
        {"11", 1, 1, 0, 1, false, "", "12", "", "33", true});
}

void SchedulerTest::whatDoesATickStart() {
    QFETCH(TickCase, c);
    Rig rig;
    rig.addRows(c.states);
    rig.busy = c.busy;
    for (QChar slot : QString(c.loaded))
        rig.transfers.loaded.insert(slot.digitValue());
    for (QChar row : QString(c.refused))
        rig.window.refused.insert(row.digitValue());
    rig.clock.advance(100.0);
    rig.lastFileTime = 100.0 - c.waited;

    rig.scheduler.tick({c.mode, c.threads, c.gap, false});
    QCOMPARE(rig.transfers.started.join(' '), QString(c.started));
    QCOMPARE(rig.states(), QString(c.statesAfter));
    QCOMPARE(rig.window.on, c.onAfter);
    for (const QString& start : rig.transfers.started) {
        const QStringList parts = start.split(':');
        if (parts.size() == 2)
            QCOMPARE(rig.slotItem[parts[0].toUInt()], parts[1].toInt());
        else
            QCOMPARE(rig.slotItem[1], start.mid(1).toInt());
    }
}

// Three rows of one site and a fourth of another, three free slots.
void SchedulerTest::howDoesASitesPaceHoldItsStarts_data() {
    QTest::addColumn<double>("spacing");
    QTest::addColumn<int>("startsToday");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<QString>("started");
    QTest::addColumn<int>("asked");
    QTest::addColumn<bool>("onAfter");
    QTest::newRow("does no to the day's question stop the run?") << 0.0 << 200 << "n"
                                                                 << "" << 1 << false;
    QTest::newRow("is the 201st start of the day the first one asked about?")
        << 0.0 << 199 << "n"
        << "1:1" << 1 << false;
    QTest::newRow("does yes go on without asking again that day?") << 0.0 << 250 << "y"
                                                                   << "1:1 2:2 3:3" << 1 << true;
    QTest::newRow("does the spacing hold the site's next start but not another site's?")
        << 1.0 << 0 << ""
        << "1:1 2:4" << 0 << true;
}

void SchedulerTest::howDoesASitesPaceHoldItsStarts() {
    QFETCH(double, spacing);
    QFETCH(int, startsToday);
    QFETCH(QString, answers);
    QFETCH(QString, started);
    QFETCH(int, asked);
    QFETCH(bool, onAfter);
    Rig rig;
    rig.addRows(QStringLiteral("111"));
    AddDownloadRow(rig.list, QStringLiteral("http://localhost/r4"), QStringLiteral("row4"),
                   QStringLiteral("pdf"), rig.dir.path(), {});
    rig.scheduler.pacing().SetMinimumSpacing(spacing);
    rig.scheduler.pacing().RestoreStarts(QStringLiteral("127.0.0.1"), QDate::currentDate(),
                                         startsToday);
    rig.window.answers = answers;
    rig.clock.advance(100.0);

    rig.scheduler.tick({2, 3, 0, false});
    QCOMPARE(rig.transfers.started.join(' '), started);
    QCOMPARE(rig.window.asked, asked);
    QCOMPARE(rig.window.on, onAfter);
}

void SchedulerTest::howIsTheStartedRowPrepared_data() {
    QTest::addColumn<PrepareCase>("c");
    const auto row = [](const char* question, const PrepareCase& c) {
        QTest::newRow(question) << c;
    };
    // mode, folder, name, type, startedRow, nameAfter, folderMade
    row("single: is the name cleaned and a '/' added, the folder left to the transfer?",
        {1, "new/sub", "a:b?c.", "pdf", 1, "abc", false});
    row("parallel: is the missing folder made?", {2, "new/sub", "a:b?c.", "pdf", 1, "abc", true});
    row("parallel: does a folder that cannot be made fail the row, not write to /?",
        {2, "relative/x", "paper", "pdf", 2, "paper", false});
    row("single: does an empty folder fail the row, not write to /?",
        {1, "", "paper", "pdf", 2, "paper", false});
    row("parallel: does a name that cleans away to no file fail the row?",
        {2, "new", "..", "", 2, "", true});
}

void SchedulerTest::howIsTheStartedRowPrepared() {
    QFETCH(PrepareCase, c);
    const QString folder(c.folder);
    Rig rig;
    rig.addRows("11");
    const QString absolute =
        folder.isEmpty() || folder.startsWith("relative") ? folder : rig.dir.path() + '/' + folder;
    rig.list.SetSubItem(1, DownloadColumn::Folder, absolute);
    rig.list.SetText(1, c.name);
    rig.list.SetSubItem(1, DownloadColumn::Type, c.type);
    rig.list.SetSubItem(1, DownloadColumn::Size, QStringLiteral("等待重新下载"));
    bool sawPreparedRow = false;
    rig.transfers.duringSingle = [&](int position) {
        sawPreparedRow = rig.list.SmallIcon(position) == ItemState::Downloading &&
                         rig.list.SubItem(position, DownloadColumn::Size).isEmpty() &&
                         rig.slotItem[1] == position;
    };
    rig.clock.advance(1.0);

    rig.scheduler.tick({c.mode, 1, 0, false});
    QCOMPARE(rig.transfers.started.join(' '),
             (c.mode == 1 ? QStringLiteral("s%1") : QStringLiteral("1:%1")).arg(c.startedRow));
    QCOMPARE(rig.list.SmallIcon(1), c.startedRow == 1 ? ItemState::Downloading : ItemState::Failed);
    QCOMPARE(rig.list.Text(1), QString(c.nameAfter));
    QCOMPARE(!folder.isEmpty() && QDir(rig.dir.path() + '/' + folder).exists(), c.folderMade);
    if (c.startedRow == 1)
        QCOMPARE(rig.list.SubItem(1, DownloadColumn::Folder), absolute + '/');
    QCOMPARE(sawPreparedRow, c.mode == 1);
}

void SchedulerTest::whatDoesTheHousekeepingDo_data() {
    QTest::addColumn<HousekeepingCase>("c");
    const auto row = [](const char* question, const HousekeepingCase& c) {
        QTest::newRow(question) << c;
    };
    const HousekeepingOptions none{};
    const HousekeepingOptions sound{false, 0, false, false, true};
    // states, on, options, mode, executing, slotLoaded, busyBefore, onAfter, startMenu,
    // busyAfter, statesAfter, sounds
    row("does a finished list switch off with sound 102?",
        {"3443", true, sound, 2, false, false, false, false, true, false, "3443", {102}});
    row("is it silent without sound prompts?",
        {"34", true, none, 2, false, false, false, false, true, false, "34", {}});
    row("does a list that was already off stay silent?",
        {"34", false, sound, 2, false, false, false, false, true, false, "34", {}});
    row("does an unfinished running list keep the start menu disabled?",
        {"321", true, sound, 2, false, false, false, true, false, false, "321", {}});
    row("does an unfinished stopped list offer the start menu?",
        {"32", false, sound, 2, false, false, false, false, true, false, "32", {}});

    row("single: does a running request keep the busy flag?",
        {"2", false, none, 1, true, false, true, false, true, true, "2", {}});
    row("single: does downloading on keep it?",
        {"2", true, none, 1, false, false, true, true, false, true, "2", {}});
    row("single: is it cleared when neither holds, whatever the slots?",
        {"2", false, none, 1, false, true, true, false, true, false, "2", {}});
    row("parallel: does a loaded slot set it?",
        {"2", true, none, 2, false, true, false, true, false, true, "2", {}});
    row("parallel: is it cleared when off, slot or not?",
        {"2", false, none, 2, false, true, true, false, true, false, "2", {}});
    row("parallel: is it left alone with no slot while on?",
        {"2", true, none, 2, false, false, true, true, false, true, "2", {}});
    row("parallel: does the single request not count?",
        {"2", true, none, 2, true, false, false, true, false, false, "2", {}});

    row("does a never-started row switch the automatic start on?", {"31",
                                                                    false,
                                                                    {false, 0, true, false, true},
                                                                    2,
                                                                    false,
                                                                    false,
                                                                    false,
                                                                    true,
                                                                    true,
                                                                    false,
                                                                    "31",
                                                                    {}});
    row("do finished rows alone leave the automatic start off?", {"34",
                                                                  false,
                                                                  {false, 0, true, false, true},
                                                                  2,
                                                                  false,
                                                                  false,
                                                                  false,
                                                                  false,
                                                                  true,
                                                                  false,
                                                                  "34",
                                                                  {}});
    row("does re-downloading five failed rows leave nothing to stop for?",
        {"44444",
         false,
         {true, 0, false, true, true},
         2,
         false,
         false,
         false,
         true,
         true,
         false,
         "11111",
         {}});
    row("does a re-download with nothing to take leave a finished list off, silently?",
        {"44444",
         false,
         {true, 1, false, true, true},
         2,
         false,
         false,
         false,
         false,
         true,
         false,
         "44444",
         {}});
    row("do four failed rows let it run?", {"44441",
                                            false,
                                            {true, 1, false, true, true},
                                            2,
                                            false,
                                            false,
                                            false,
                                            true,
                                            true,
                                            false,
                                            "44441",
                                            {}});
}

void SchedulerTest::whatDoesTheHousekeepingDo() {
    QFETCH(HousekeepingCase, c);
    Rig rig;
    rig.addRows(c.states);
    rig.window.on = c.on;
    rig.transfers.executing = c.executing;
    if (c.slotLoaded)
        rig.transfers.loaded.insert(3);
    rig.busy = c.busyBefore;
    // The automatic re-download saw these failures a pause ago.
    rig.clock.advance(100.0);
    for (int n = 1; n <= rig.list.Count(); ++n)
        rig.list.SetHiddenValue(n, DownloadHidden::FailureSeenAt, QStringLiteral("70"));
    const QString countersBefore = StatusCountsText(CountDownloadStates(rig.list));

    const HousekeepingOutcome outcome =
        rig.scheduler.housekeeping({c.mode, 3, 0, false}, c.options);
    QCOMPARE(rig.window.on, c.onAfter);
    QCOMPARE(outcome.startMenuEnabled, c.startMenu);
    QCOMPARE(rig.busy, c.busyAfter);
    QCOMPARE(rig.states(), QString(c.statesAfter));
    // The counters are written before the automatic options change any row.
    QCOMPARE(rig.window.counters, QStringList{countersBefore});
    if (!c.options.autoStart && !c.options.autoRedownload)
        QCOMPARE(outcome.lampVisible, c.onAfter);
    // A second tick that finds downloading off does not repeat the sound (a re-download
    // switches it on again, so there it would).
    if (!c.onAfter && !c.options.autoRedownload)
        rig.scheduler.housekeeping({c.mode, 3, 0, false}, c.options);
    QCOMPARE(rig.window.sounds, c.sounds);
}

void SchedulerTest::whichRowsAreProblems_data() {
    QTest::addColumn<QString>("states");
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<int>("count");
    QTest::newRow("does an empty list have none?") << "" << QStringList{} << 0;
    QTest::newRow("do web pages count in every state, letter case ignored?")
        << "1234" << QStringList{"htm", "HTML", "Htm", "html"} << 4;
    QTest::newRow("do other types count only when failed?")
        << "12344" << QStringList{"pdf", "xml", "pdf", "pdf", "xml"} << 2;
    QTest::newRow("does a failed web page count once?") << "4" << QStringList{"htm"} << 1;
}

void SchedulerTest::whichRowsAreProblems() {
    QFETCH(QString, states);
    QFETCH(QStringList, types);
    QFETCH(int, count);
    Rig rig;
    rig.addRows(states, types);
    QCOMPARE(CountProblemItems(rig.list), count);
}

void SchedulerTest::whichRowsDoTheRequeueCommandsTake_data() {
    QTest::addColumn<bool>("webPages");
    QTest::addColumn<QString>("statesAfter");
    QTest::addColumn<QString>("typesAfter");
    // Rows: failed pdf, completed htm, failed HTML, completed pdf, failed xml, waiting htm,
    // running html.
    QTest::newRow("does 出错项 take the failed rows and rename only web pages?")
        << false << "1313112"
        << "pdf htm xxx pdf xml htm html";
    QTest::newRow("does the web-page command take finished htm, html and xml rows, renaming all?")
        << true << "4113112"
        << "pdf xxx xxx pdf xxx htm html";
}

void SchedulerTest::whichRowsDoTheRequeueCommandsTake() {
    QFETCH(bool, webPages);
    QFETCH(QString, statesAfter);
    QFETCH(QString, typesAfter);

    Rig rig;
    const QStringList types{"pdf", "htm", "HTML", "pdf", "xml", "htm", "html"};
    rig.addRows("4343412", types);
    for (int n = 1; n <= types.size(); ++n) {
        QVERIFY(touch(rig.rowFile(n, types[n - 1])));
        QVERIFY(touch(rig.rowFile(n, "xxx")));
        rig.list.SetSubItem(n, DownloadColumn::Size, QStringLiteral("10"));
    }

    const int taken = webPages ? RequeueWebPageRows(rig.list) : RequeueFailedRows(rig.list);
    QCOMPARE(rig.states(), statesAfter);
    const QStringList typesAfterList = typesAfter.split(' ');
    QStringList after;
    for (int n = 1; n <= rig.list.Count(); ++n) {
        after << rig.list.SubItem(n, DownloadColumn::Type);
        const bool requeued = statesAfter[n - 1] == '1' && n != 6; // row 6 was waiting
        QCOMPARE(rig.list.SubItem(n, DownloadColumn::Size).isEmpty(), requeued);
        // The file stays until a new one takes its place.
        QVERIFY(QFile::exists(rig.rowFile(n, types[n - 1])));
        QVERIFY(QFile::exists(rig.rowFile(n, "xxx")));
    }
    QCOMPARE(after, typesAfterList);
    QCOMPARE(taken, int(statesAfter.count('1')) - 1);
}

void SchedulerTest::isARowWhoseLinkIsNoWebAddressRefused() {
    Rig rig;
    AddDownloadRow(rig.list, "javascript:alert(1)", "script", "pdf", rig.dir.path(), {});
    rig.addRows("1");
    rig.clock.advance(1.0);
    rig.scheduler.tick({1, 1, 0, false});
    QCOMPARE(rig.transfers.started, QStringList{"s2"});
    QCOMPARE(rig.states(), QStringLiteral("42"));
    QVERIFY(RowFailureReason(rig.list, 1).contains(QStringLiteral("javascript:alert(1)")));
}

void SchedulerTest::howOftenIsAFailingRowFetchedAgain_data() {
    QTest::addColumn<int>("choice");  // 0 failed rows, 1 web-page rows
    QTest::addColumn<int>("status");  // the answer every request gets
    QTest::addColumn<int>("fetches"); // in the half hour after the first failure
    QTest::addColumn<QString>("reason");
    QTest::newRow("is a 404 never fetched again?") << 0 << 404 << 0 << "服务器答复404";
    QTest::newRow("is a 404 page never fetched again as a web page?")
        << 1 << 404 << 0 << "服务器答复404";
    QTest::newRow("is a refusal fetched three more times, the pauses growing?")
        << 0 << 503 << 3 << "已下载4次仍未成功";
    QTest::newRow("is a web page instead of the file bounded the same way?")
        << 1 << 200 << 3 << "已下载4次仍未成功";
}

void SchedulerTest::howOftenIsAFailingRowFetchedAgain() {
    QFETCH(int, choice);
    QFETCH(int, status);
    QFETCH(int, fetches);
    QFETCH(QString, reason);
    Rig rig;
    const bool webPage = choice == 1;
    // The transfer: every request ends at once as the first one did.
    const auto answer = [&](int position) {
        rig.list.SetSmallIcon(position, webPage ? ItemState::Completed : ItemState::Failed);
        if (webPage)
            rig.list.SetSubItem(position, DownloadColumn::Type, QStringLiteral("html"));
        SetRowHttpStatus(rig.list, position, status);
    };
    rig.addRows("2", {"pdf"});
    answer(1);
    QList<double> fetchedAt;
    rig.transfers.duringSingle = [&](int position) {
        fetchedAt << rig.clock.elapsedSeconds();
        answer(position);
    };
    rig.window.on = false;
    const HousekeepingOptions options{true, choice, false, false, false};
    for (int second = 1; second <= 1800; ++second) {
        rig.clock.advance(1.0);
        rig.scheduler.housekeeping({1, 1, 0, false}, options);
        if (rig.window.on)
            rig.scheduler.tick({1, 1, 0, false});
    }
    QCOMPARE(fetchedAt.size(), fetches);
    double failedAt = 0.0;
    for (int n = 0; n < fetchedAt.size(); ++n) {
        QVERIFY2(fetchedAt[n] - failedAt >= AutomaticRedownload::kPauseSeconds[n],
                 qPrintable(QString::number(fetchedAt[n] - failedAt)));
        failedAt = fetchedAt[n];
    }
    QVERIFY2(RowFailureReason(rig.list, 1).contains(reason),
             qPrintable(RowFailureReason(rig.list, 1)));
    // The user's own re-queue starts the count afresh.
    QCOMPARE(webPage ? RequeueWebPageRows(rig.list) : RequeueFailedRows(rig.list), 1);
    QCOMPARE(RowFailureReason(rig.list, 1), QString());
    QCOMPARE(RowHttpStatus(rig.list, 1), 0);
}

QF_TEST_GUILESS_MAIN(SchedulerTest)
#include "test_scheduler.moc"

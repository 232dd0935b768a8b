#include "FakeClock.h"
#include "FileOwners.h"
#include "TestEnvironment.h"

#include "core/download/DownloadJournal.h"
#include "core/download/DownloadList.h"
#include "core/download/DownloadSession.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/FileLife.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QTemporaryDir>

#include <memory>

// The download list outlives a crash: whatever moment a write is cut at, a whole journal reads,
// one that does not is kept for inspection, and restored rows never claim a file they lost.
class DownloadJournalTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aWriteCutAtAnyByteLeavesTheLastWholeJournal();
    void aNewerJournalIsRefusedNotMisread();
    void aSecondCopyLeavesTheJournalAlone();
    void restoredRowsClaimOnlyTheFilesTheyStillHave_data();
    void restoredRowsClaimOnlyTheFilesTheyStillHave();
    void aCommitCountsOnlyOnceItIsRecorded_data();
    void aCommitCountsOnlyOnceItIsRecorded();
    void aJournalWrittenBeforeResumingStillLoads();
    void doesAWriteOnItsWayLoseNothing_data();
    void doesAWriteOnItsWayLoseNothing();

private:
    QTemporaryDir dir_;
};

namespace {

void addRow(KeyedListModel& list, const QString& link, int state, const QString& size = {},
            const QString& filePath = {}, const QString& folder = "/tmp/papers/") {
    AddDownloadRow(list, link, "Paper " + link.right(1), "pdf", folder, "https://page/");
    const int position = list.Count();
    list.SetSmallIcon(position, state);
    list.SetSubItem(position, DownloadColumn::Size, size);
    list.SetSubItem(position, DownloadColumn::Received, size);
    SetRowFilePath(list, position, filePath);
}

} // namespace

void DownloadJournalTest::aWriteCutAtAnyByteLeavesTheLastWholeJournal() {
    const QString path = dir_.filePath("cut/downloads.journal");
    KeyedListModel list(DownloadListHeaders());
    addRow(list, "https://a/1", ItemState::Waiting);
    QVERIFY(WriteDownloadJournal(path, list, {}, nullptr));
    addRow(list, "https://a/2", ItemState::Failed);
    SetRowFailureReason(list, 2, "连接被拒绝");
    QVERIFY(WriteDownloadJournal(path, list, {}, nullptr));

    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray whole = written.readAll();
    written.close();
    const JournalLoad full = ReadDownloadJournal(path);
    QCOMPARE(full.status, JournalStatus::Loaded);
    QCOMPARE(full.rows.size(), 2);
    QCOMPARE(full.rows.at(1).cells.value(DownloadColumn::Reason), QString("连接被拒绝"));

    for (qsizetype cut = 0; cut < whole.size(); ++cut) {
        QFile::remove(path);
        for (const QString& aside : QDir(dir_.filePath("cut")).entryList({"*.bad-*"}))
            QFile::remove(dir_.filePath("cut/" + aside));
        QFile truncated(path);
        QVERIFY(truncated.open(QIODevice::WriteOnly));
        truncated.write(whole.left(cut));
        truncated.close();
        const JournalLoad load = ReadDownloadJournal(path);
        QCOMPARE(load.status, JournalStatus::FromPrevious);
        QCOMPARE(load.rows.size(), 1);
        QCOMPARE(load.rows.first().key, QString("https://a/1"));
        // Kept aside for inspection, never deleted.
        QVERIFY(QFile::exists(load.setAside));
        QCOMPARE(QFileInfo(load.setAside).size(), cut);
    }
}

void DownloadJournalTest::aNewerJournalIsRefusedNotMisread() {
    const QString path = dir_.filePath("newer/downloads.journal");
    QDir().mkpath(dir_.filePath("newer"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"quillfetch-download-journal":2,"rows":[{"key":"https://a/1"}]})");
    file.close();
    const JournalLoad load = ReadDownloadJournal(path);
    QCOMPARE(load.status, JournalStatus::Newer);
    QVERIFY(load.rows.isEmpty());
    QVERIFY(QFile::exists(path));
}

// Two copies of the program (the desktop and a terminal run) would write their lists over each
// other's: the first to start keeps the journal, a second one keeps none and says why.
void DownloadJournalTest::aSecondCopyLeavesTheJournalAlone() {
    QDir().mkpath(QFileInfo(DownloadJournalPath()).absolutePath());
    auto first = std::make_unique<DownloadSession>();
    first->SetUpJournal();
    QVERIFY(first->KeepsJournal());
    DownloadSession second;
    second.SetUpJournal();
    QVERIFY(!second.KeepsJournal());
    QVERIFY(second.JournalInUse());
    QVERIFY(second.PanelText(2).endsWith(DownloadJournalPath()));
    QVERIFY(second.JournalCommits() == nullptr);
    first.reset();
    DownloadSession third;
    third.SetUpJournal();
    QVERIFY(third.KeepsJournal());
    QVERIFY(!third.JournalInUse());
}

void DownloadJournalTest::restoredRowsClaimOnlyTheFilesTheyStillHave_data() {
    QTest::addColumn<QString>("owner");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("restoredState");
    QStringList owners = FileOwnerKinds();
    owners.prepend("the row's own file, recorded outside its folder");
    owners.prepend("nothing there");
    // Failure paths first: everything but the row's own file, where it belongs, is not its.
    for (const QString& owner : owners) {
        const bool owns = RowOwns(owner);
        QTest::addRow("completed, %s", qPrintable(owner))
            << owner << ItemState::Completed << (owns ? ItemState::Completed : ItemState::Waiting);
        QTest::addRow("was downloading, %s", qPrintable(owner))
            << owner << ItemState::Downloading << ItemState::Waiting;
        QTest::addRow("failed, %s", qPrintable(owner))
            << owner << ItemState::Failed << ItemState::Failed;
    }
}

void DownloadJournalTest::restoredRowsClaimOnlyTheFilesTheyStillHave() {
    QFETCH(QString, owner);
    QFETCH(int, state);
    QFETCH(int, restoredState);

    const QString tag = QString::number(qHash(QString(QTest::currentDataTag())));
    const bool outside = owner.endsWith("outside its folder");
    const QString folder = dir_.filePath("papers-" + tag) + '/';
    QVERIFY(QDir().mkpath(folder));
    const QString file =
        (outside ? dir_.filePath("elsewhere-" + tag) + '/' : folder) + "Paper 1.pdf";
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    const OwnedFile recorded = owner == "nothing there"
                                   ? OwnedFile{}
                                   : PlaceFileOfOwner(outside ? "the row's own file" : owner, file,
                                                      "%PDF-", dir_.filePath("user-" + tag));
    KeyedListModel before(DownloadListHeaders());
    addRow(before, "https://a/1", state, "5", file, folder);
    SetRowOwnedFile(before, 1, recorded);
    const ResumePoint point{QFileInfo(file).path() + "/.quillfetch-x.part", "\"v1\"", 10};
    SetRowResumePoint(before, 1, point);
    const QString path = dir_.filePath(tag + ".journal");
    QVERIFY(WriteDownloadJournal(path, before, {}, nullptr));

    KeyedListModel after(DownloadListHeaders());
    addRow(after, "https://already/listed", ItemState::Waiting);
    const JournalLoad load = ReadDownloadJournal(path);
    QCOMPARE(CountUnfinishedRows(load.rows), state == ItemState::Completed ? 0 : 1);
    QCOMPARE(RestoreDownloadRows(after, load.rows + load.rows), 1);
    QCOMPARE(after.SmallIcon(2), restoredState);
    // A path outside the row's own folder is not taken, nor a part there; a file the row does
    // not own (any more) is not its to touch.
    QCOMPARE(RowFilePath(after, 2), outside ? QString() : file);
    QCOMPARE(RowResumePoint(after, 2).partPath, outside ? QString() : point.partPath);
    QCOMPARE(RowOwnedFile(after, 2).IsSet(), RowOwns(owner));
    QCOMPARE(RowFailureReason(after, 2).isEmpty(), !outside);
    QCOMPARE(after.SubItem(2, DownloadColumn::Size).isEmpty(), restoredState == ItemState::Waiting);
}

// A kill right after a transfer committed its file, before the journal was written again:
// the commit is in the journal's commit log, and the file is the row's when the program starts
// again, never fetched a second time. A commit whose rename never happened claims nothing.
void DownloadJournalTest::aCommitCountsOnlyOnceItIsRecorded_data() {
    QTest::addColumn<QString>("kill");
    QTest::newRow("while the log line was written: not counted?") << "cut line";
    QTest::newRow("between the log line and the rename: not counted?") << "before rename";
    QTest::newRow("right after the rename: counted?") << "after rename";
    QTest::newRow("after the journal was forgotten and written anew: counted?") << "after forget";
}

void DownloadJournalTest::aCommitCountsOnlyOnceItIsRecorded() {
    QFETCH(QString, kill);
    const QString tag = QString::number(qHash(kill));
    const QString folder = dir_.filePath("commits-" + tag) + '/';
    const QString path = dir_.filePath(tag + ".journal");
    QVERIFY(QDir().mkpath(folder));
    const QString target = folder + "Paper 1.pdf";
    FakeClock clock;
    KeyedListModel list(DownloadListHeaders());
    addRow(list, "https://a/1", ItemState::Downloading, {}, target, folder);
    {
        JournalKeeper keeper(list, clock, path);
        QVERIFY(keeper.WriteNow());
        DownloadFile file;
        QVERIFY(file.Reserve(target) && file.StartBody() && file.Write("%PDF-1.7 whole"));
        CommitRule rule;
        const std::shared_ptr<CommitLog> log = keeper.Commits();
        if (kill == "after forget") {
            log->Append({"https://a/0", "Paper 0", "pdf", OwnedFile{}, false});
            ForgetDownloadJournal(path);
            QVERIFY(keeper.WriteNow());
        }
        rule.record = [&](const OwnedFile& placed, int) {
            log->Append({"https://a/1", "Paper 1", "pdf", placed, false});
        };
        QVERIFY(file.Commit(rule));
        // The program dies here: nothing after the commit ran.
    }
    if (kill != "after rename" && kill != "after forget") {
        // The rename never happened: the name holds something else than what was recorded.
        QVERIFY(QFile::remove(target));
        QFile other(target);
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("the user's") > 0);
    }
    if (kill == "cut line") {
        QFile log(CommitLogPath(path));
        QVERIFY(log.open(QIODevice::ReadWrite));
        QVERIFY(log.resize(log.size() - 1));
    }

    KeyedListModel restored(DownloadListHeaders());
    RestoreDownloadRows(restored, ReadDownloadJournal(path).rows);
    const bool counted = kill == "after rename" || kill == "after forget";
    QCOMPARE(restored.SmallIcon(1), counted ? ItemState::Completed : ItemState::Waiting);
    QCOMPARE(RowOwnedFile(restored, 1).IsSet(), counted);
    QCOMPARE(ClaimRowFile(restored, 1, target) == FileClaim::Owned, counted);

    // A journal write that holds the commit leaves nothing to replay.
    JournalKeeper keeper(restored, clock, path);
    QVERIFY(keeper.WriteNow());
    QVERIFY(!QFileInfo::exists(CommitLogPath(path)));
}

void DownloadJournalTest::aJournalWrittenBeforeResumingStillLoads() {
    const QString path = dir_.filePath("older.journal");
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(R"({"quillfetch-download-journal":1,"rows":[{"key":"https://a/1",)"
              R"("cells":["Paper 1","pdf","","","","/tmp/papers/",""],)"
              R"("hidden":["/tmp/papers/Paper 1.pdf","200"],"tag":"","state":4}]})");
    out.close();
    const JournalLoad load = ReadDownloadJournal(path);
    QCOMPARE(load.status, JournalStatus::Loaded);
    KeyedListModel list(DownloadListHeaders());
    QCOMPARE(RestoreDownloadRows(list, load.rows), 1);
    QCOMPARE(RowFilePath(list, 1), QStringLiteral("/tmp/papers/Paper 1.pdf"));
    QVERIFY(!RowResumePoint(list, 1).IsUsable());
}

// The journal is written on a thread of its own; whatever the interface thread does while a
// write is held just before its rename, the journal then reads back with every row and commit.
void DownloadJournalTest::doesAWriteOnItsWayLoseNothing_data() {
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<int>("firstRowReadBack");
    QTest::newRow("the journal forgotten: not brought back by the write?")
        << "forget" << ItemState::Waiting;
    // The row was waiting when the write took the rows: judged by them, the commit would go.
    QTest::newRow("a commit appended: kept for the next start?")
        << "commit" << ItemState::Completed;
    QTest::newRow("a row failed: written by the next tick?") << "change" << ItemState::Failed;
    QTest::newRow("WriteNow: the list as it is now?") << "write now" << ItemState::Failed;
    QTest::newRow("the keeper destroyed: the write ends whole?") << "destroy" << ItemState::Waiting;
}

void DownloadJournalTest::doesAWriteOnItsWayLoseNothing() {
    QFETCH(QString, meanwhile);
    QFETCH(int, firstRowReadBack);
    const QString folder = dir_.filePath("on-its-way-" + QString::number(qHash(meanwhile)));
    const QString path = folder + "/downloads.journal";
    FakeClock clock;
    KeyedListModel list(DownloadListHeaders());
    addRow(list, "https://a/1", ItemState::Waiting);
    addRow(list, "https://a/2", ItemState::Failed);
    addRow(list, "https://a/3", ItemState::Downloading, "7");
    QSemaphore held, letGo;
    auto keeper = std::make_unique<JournalKeeper>(list, clock, path);
    // Held until let go, or for a tenth of a second when the test thread waits for the write.
    keeper->SetBeforeRename([&] {
        held.release();
        letGo.tryAcquire(1, 100);
    });
    keeper->Changed();
    clock.advance(JournalKeeper::kStateChangeDelaySeconds);
    QVERIFY(keeper->Tick());
    QVERIFY(held.tryAcquire(1, 10000));

    const auto fail = [&] {
        list.SetSmallIcon(1, ItemState::Failed);
        SetRowFailureReason(list, 1, "连接被拒绝");
        keeper->Changed();
    };
    if (meanwhile == "forget") {
        ForgetDownloadJournal(path);
        letGo.release();
        keeper->Wait();
        QVERIFY(!QFileInfo::exists(path));
        clock.advance(JournalKeeper::kStateChangeDelaySeconds);
        QVERIFY(keeper->Tick()); // the list as it is goes to a new journal
    } else if (meanwhile == "commit") {
        OwnedFile placed;
        placed.path = folder + "/Paper 1.pdf";
        placed.size = 5;
        QVERIFY(keeper->Commits()->Append({"https://a/1", "Paper 1", "pdf", placed, false}));
    } else if (meanwhile == "change") {
        fail();
        QVERIFY(!keeper->Tick()); // one write at a time
        letGo.release();
        keeper->Wait();
        clock.advance(JournalKeeper::kStateChangeDelaySeconds);
        QVERIFY(keeper->Tick());
    } else if (meanwhile == "write now") {
        fail();
        QVERIFY(keeper->WriteNow());
    } else if (meanwhile == "destroy") {
        keeper.reset();
    }
    letGo.release(2);
    if (keeper) {
        keeper->Wait();
        QCOMPARE(keeper->LastError(), QString());
    }

    const JournalLoad load = ReadDownloadJournal(path);
    QCOMPARE(load.status, JournalStatus::Loaded);
    QCOMPARE(load.rows.size(), 3);
    for (int n = 0; n < 3; ++n)
        QCOMPARE(load.rows.at(n).key, list.Key(n + 1));
    QCOMPARE(load.rows.at(0).state, firstRowReadBack);
    QCOMPARE(load.rows.at(2).state, ItemState::Downloading);
    QCOMPARE(load.rows.at(0).hidden.value(DownloadHidden::OwnedFile).isEmpty(),
             meanwhile != "commit");
    // Nothing half-written is left beside the journal.
    QCOMPARE(QDir(folder).entryList({"*.new-*"}, QDir::Files | QDir::Hidden), QStringList());
}

QF_TEST_GUILESS_MAIN(DownloadJournalTest)
#include "test_downloadjournal.moc"

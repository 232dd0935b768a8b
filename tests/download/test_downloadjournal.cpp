#include "TestEnvironment.h"

#include "core/download/DownloadJournal.h"
#include "core/download/DownloadList.h"
#include "core/platform/KeyedListModel.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// The download list outlives a crash: whatever moment a write is cut at, a whole journal reads,
// one that does not is kept for inspection, and restored rows never claim a file they lost.
class DownloadJournalTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aWriteCutAtAnyByteLeavesTheLastWholeJournal();
    void aNewerJournalIsRefusedNotMisread();
    void restoredRowsClaimOnlyTheFilesTheyStillHave_data();
    void restoredRowsClaimOnlyTheFilesTheyStillHave();
    void aJournalWrittenBeforeResumingStillLoads();

private:
    QTemporaryDir dir_;
};

namespace {

void addRow(KeyedListModel& list, const QString& link, int state, const QString& size = {},
            const QString& filePath = {}) {
    AddDownloadRow(list, link, "Paper " + link.right(1), "pdf", "/tmp/papers/", "https://page/");
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

void DownloadJournalTest::restoredRowsClaimOnlyTheFilesTheyStillHave_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("recordedSize");
    QTest::addColumn<QByteArray>("fileBytes"); // "-" for no file at the recorded path
    QTest::addColumn<int>("restoredState");

    QTest::newRow("completed, file intact")
        << ItemState::Completed << "5" << QByteArray("%PDF-") << ItemState::Completed;
    QTest::newRow("completed, file gone")
        << ItemState::Completed << "5" << QByteArray("-") << ItemState::Waiting;
    QTest::newRow("completed, file of another size")
        << ItemState::Completed << "5" << QByteArray("%PDF-1.7") << ItemState::Waiting;
    QTest::newRow("was downloading")
        << ItemState::Downloading << "5" << QByteArray("%PDF-") << ItemState::Waiting;
    QTest::newRow("failed stays failed")
        << ItemState::Failed << "" << QByteArray("-") << ItemState::Failed;
}

void DownloadJournalTest::restoredRowsClaimOnlyTheFilesTheyStillHave() {
    QFETCH(int, state);
    QFETCH(QString, recordedSize);
    QFETCH(QByteArray, fileBytes);
    QFETCH(int, restoredState);

    const QString file = dir_.filePath(QString("restore-%1.pdf").arg(QTest::currentDataTag()));
    if (fileBytes != "-") {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(fileBytes);
    }
    KeyedListModel before(DownloadListHeaders());
    addRow(before, "https://a/1", state, recordedSize, file);
    const ResumePoint point{dir_.filePath(".quillfetch-x.part"), "\"v1\"", 10};
    SetRowResumePoint(before, 1, point);
    const QString path = dir_.filePath(QString("%1.journal").arg(QTest::currentDataTag()));
    QVERIFY(WriteDownloadJournal(path, before, {}, nullptr));

    KeyedListModel after(DownloadListHeaders());
    addRow(after, "https://already/listed", ItemState::Waiting);
    const JournalLoad load = ReadDownloadJournal(path);
    QCOMPARE(CountUnfinishedRows(load.rows), state == ItemState::Completed ? 0 : 1);
    QCOMPARE(RestoreDownloadRows(after, load.rows + load.rows), 1);
    QCOMPARE(after.SmallIcon(2), restoredState);
    QCOMPARE(RowFilePath(after, 2), file);
    QCOMPARE(RowResumePoint(after, 2).partPath, point.partPath);
    QCOMPARE(RowResumePoint(after, 2).validator, point.validator);
    QCOMPARE(RowResumePoint(after, 2).total, point.total);
    QCOMPARE(after.SubItem(2, DownloadColumn::Size).isEmpty(),
             restoredState == ItemState::Waiting || recordedSize.isEmpty());
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

QF_TEST_GUILESS_MAIN(DownloadJournalTest)
#include "test_downloadjournal.moc"

#include "TestEnvironment.h"

#include "core/transfer/FileLife.h"
#include "core/transfer/PartFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

// A download's file from reservation to commit or abandonment, on real files: whatever the
// target's name held before (nothing, a user's file, a link to a file elsewhere, one name of a
// hard-linked file), no other name's bytes ever change, and the name itself changes only by
// the one rename of a complete body.
class FileLifeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void doesEveryOtherNameKeepItsBytes_data();
    void doesEveryOtherNameKeepItsBytes();
    void whichLeftoversDoesTheCleanUpTake_data();
    void whichLeftoversDoesTheCleanUpTake();
    void whichPartCanATransferTakeUp_data();
    void whichPartCanATransferTakeUp();
    void aPartNoLongerKeptGoesAtTheFoldersNextWrite();
    void doesTheBodyArriveInOrder_data();
    void doesTheBodyArriveInOrder();

private:
    QString folder() const { return dir_->path() + "/papers/"; }
    QString outside() const { return dir_->path() + "/elsewhere/"; }
    QStringList ownFiles() const {
        QStringList names = QDir(folder()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        names.removeIf([](const QString& name) { return !IsPartFileName(name); });
        return names;
    }

    std::unique_ptr<QTemporaryDir> dir_;
};

void FileLifeTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY(QDir().mkpath(folder()));
    QVERIFY(QDir().mkpath(outside()));
}

void FileLifeTest::doesEveryOtherNameKeepItsBytes_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("ending");
    QTest::addColumn<bool>("overwrite");
    for (const char* target :
         {"a user's file", "a link to a file elsewhere", "a hard link",
          "the row's file changed since", "the row's own file", "a free name"}) {
        // Failure paths first.
        for (const char* ending : {"cut short", "abandoned", "failed write", "an empty body",
                                   "a web page", "another kind", "committed"}) {
            for (bool overwrite : {false, true})
                QTest::newRow(qPrintable(
                    QStringLiteral("%1, %2%3").arg(target, ending, overwrite ? ", 覆盖" : "")))
                    << QString::fromLatin1(target) << QString::fromLatin1(ending) << overwrite;
        }
    }
}

void FileLifeTest::doesEveryOtherNameKeepItsBytes() {
    QFETCH(QString, target);
    QFETCH(QString, ending);
    QFETCH(bool, overwrite);
    const QString path = folder() + "paper.pdf";
    const QString linked = outside() + "real.pdf";
    const QString otherName = folder() + "same-inode.pdf";
    const QByteArray old = "the user's own paper";
    QVERIFY(writeFile(linked, "a file outside the folder"));
    QVERIFY(writeFile(otherName, "second name of a hard-linked file"));
    CommitRule rule;
    rule.overwrite = overwrite;
    rule.judge = [](const QString& body, const QString&) {
        return readFile(body).startsWith("%PDF-") ? BodyKind::Expected
               : readFile(body).contains("<html") ? BodyKind::WebPage
                                                  : BodyKind::Other;
    };
    if (target == "a user's file" || target.startsWith("the row's")) {
        QVERIFY(writeFile(path, old));
        // What the row's commit recorded; the user then saves over it.
        rule.replaceable = IdentityAt(path);
        if (target == "the row's file changed since")
            QVERIFY(writeFile(path, old + " with the user's notes"));
        if (target == "a user's file")
            rule.replaceable = OwnedFile{};
    } else if (target == "a link to a file elsewhere") {
        QVERIFY(QFile::link(linked, path));
    } else if (target == "a hard link") {
        QCOMPARE(
            ::link(QFile::encodeName(otherName).constData(), QFile::encodeName(path).constData()),
            0);
    }
    const QByteArray before = readFile(path);

    auto file = std::make_unique<DownloadFile>();
    QVERIFY(file->Reserve(path));
    QCOMPARE(file->TargetExisted(), target != "a free name");
    // A free name is reserved at once; a taken one is left exactly as it was.
    QCOMPARE(readFile(path), target == "a free name" ? QByteArray("\x01\x00", 2) : before);
    QVERIFY(file->StartBody());
    // The process may not write files beyond 400000 bytes: the disk refuses the body as a full
    // one would.
    struct rlimit limit {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const struct rlimit previous = limit;
    if (ending == "failed write") {
        ::signal(SIGXFSZ, SIG_IGN);
        limit.rlim_cur = 400000;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    QByteArray body(ending == "an empty body" ? 0 : 700000, 'n');
    if (ending == "a web page")
        body.replace(0, 40, "\n<!DOCTYPE html><html><title>Sign in</t>");
    else if (ending != "another kind" && !body.isEmpty())
        body.replace(0, 9, "%PDF-1.7\n");
    QVERIFY(file->Write(body.left(300000)));
    QCOMPARE(ownFiles().size(), 1);
    QCOMPARE(readFile(path), target == "a free name" ? QByteArray("\x01\x00", 2) : before);

    bool committed = false;
    rule.expected = body.size();
    if (ending == "cut short") {
        rule.expected = 700000;
        committed = file->Commit(rule);
        QCOMPARE(file->Error(), CutShortReason(300000, 700000));
    } else if (ending == "abandoned") {
        file.reset();
    } else if (ending == "failed write") {
        committed = file->Write(body.mid(300000)) && file->Commit(rule);
        QVERIFY(!file->Error().isEmpty());
        ::setrlimit(RLIMIT_FSIZE, &previous);
        file.reset(); // what every transfer does with a file that failed
    } else {
        QVERIFY(file->Write(body.mid(300000)));
        committed = file->Commit(rule);
        QVERIFY(committed || !file->Error().isEmpty());
    }
    // A complete body lands where nothing was; over a file only a verified one, and only
    // over the row's own unchanged file or with the user's 覆盖.
    const bool mayReplace = target == "the row's own file" || overwrite;
    const bool landed = ending == "a web page" || ending == "another kind" || ending == "committed";
    QCOMPARE(committed, target == "a free name" ? landed : ending == "committed" && mayReplace);

    QCOMPARE(readFile(linked), QByteArray("a file outside the folder"));
    QCOMPARE(readFile(otherName), QByteArray("second name of a hard-linked file"));
    QCOMPARE(ownFiles(), QStringList());
    if (committed) {
        QCOMPARE(readFile(path), body);
        QVERIFY(!QFileInfo(path).isSymLink());
        // What the row owns from now on is exactly what is there.
        QCOMPARE(file->Owned(), IdentityAt(path));
    } else if (target == "a free name") {
        QVERIFY(!QFileInfo::exists(path));
    } else {
        QCOMPARE(readFile(path), before);
        QCOMPARE(QFileInfo(path).isSymLink(), target == "a link to a file elsewhere");
    }
}

void FileLifeTest::whichLeftoversDoesTheCleanUpTake_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("taken");
    QTest::newRow("a body of a transfer that still runs?") << "running body" << false;
    QTest::newRow("a reservation of a transfer that still runs?") << "running reservation" << false;
    QTest::newRow("a user's two-byte file?") << "two bytes" << false;
    QTest::newRow("a link named like a body?") << "link" << false;
    QTest::newRow("a killed transfer's body?") << "dead body" << true;
    QTest::newRow("a killed transfer's reservation?") << "dead reservation" << true;
    QTest::newRow("a killed transfer's body that a row keeps to resume?") << "kept body" << false;
    QTest::newRow("a killed browser download's body?") << "dead browser body" << true;
}

void FileLifeTest::whichLeftoversDoesTheCleanUpTake() {
    QFETCH(QString, what);
    QFETCH(bool, taken);
    const QString linked = outside() + "real.pdf";
    QVERIFY(writeFile(linked, "AB"));
    DownloadFile running;
    QString path;
    if (what.startsWith("running")) {
        QVERIFY(running.Reserve(folder() + "paper.pdf"));
        QVERIFY(running.StartBody());
        path = what == "running body" ? running.BodyPath() : running.Target();
    } else if (what == "two bytes") {
        path = folder() + "x.pdf";
        QVERIFY(writeFile(path, "ab"));
    } else if (what == "link") {
        path = folder() + NewPartFileName();
        QVERIFY(QFile::link(linked, path));
    } else {
        path = what == "dead browser body" ? folder() + NewPartFileName() + ".download"
               : what.endsWith("body")     ? folder() + NewPartFileName()
                                           : folder() + "paper.pdf";
        QVERIFY(writeFile(path, QByteArray("\x01\x00", 2)));
    }
    SetKeptPartFiles(what == "kept body" ? QSet<QString>{path} : QSet<QString>{});

    QCOMPARE(RemoveOwnLeftovers(folder()), taken ? 1 : 0);
    SetKeptPartFiles({});
    QCOMPARE(QFileInfo::exists(path) || QFileInfo(path).isSymLink(), !taken);
    QCOMPARE(readFile(linked), QByteArray("AB"));
}

void FileLifeTest::whichPartCanATransferTakeUp_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("takenUp");
    QTest::newRow("a link named like a part?") << "link" << false;
    QTest::newRow("one name of a hard-linked file?") << "hard link" << false;
    QTest::newRow("a part in another folder?") << "elsewhere" << false;
    QTest::newRow("a file not named like a part?") << "user file" << false;
    QTest::newRow("a part a running transfer holds?") << "held" << false;
    QTest::newRow("a part nobody holds?") << "part" << true;
}

void FileLifeTest::whichPartCanATransferTakeUp() {
    QFETCH(QString, what);
    QFETCH(bool, takenUp);
    QVERIFY(QDir().mkpath(outside()));
    const QString linked = outside() + "real.pdf";
    QVERIFY(writeFile(linked, "AB"));
    DownloadFile holder;
    QString part = folder() + NewPartFileName();
    if (what == "link") {
        QVERIFY(QFile::link(linked, part));
    } else if (what == "hard link") {
        QCOMPARE(::link(QFile::encodeName(linked).constData(), QFile::encodeName(part).constData()),
                 0);
    } else if (what == "held") {
        QVERIFY(holder.Reserve(folder() + "other.pdf"));
        QVERIFY(holder.StartBody());
        QVERIFY(holder.Write("AB") && holder.Flush());
        part = holder.BodyPath();
    } else {
        if (what == "elsewhere")
            part = outside() + NewPartFileName();
        else if (what == "user file")
            part = folder() + "notes.pdf";
        QVERIFY(writeFile(part, "AB"));
    }

    DownloadFile file;
    SetKeptPartFiles({part}); // as a row of the list keeps it
    QVERIFY(file.Reserve(folder() + "paper.pdf"));
    SetKeptPartFiles({});
    QCOMPARE(file.ResumeBody(part), takenUp);
    if (!takenUp) {
        QVERIFY(file.StartBody() && file.Write("CD"));
        QVERIFY(file.Commit(2));
        QCOMPARE(readFile(folder() + "paper.pdf"), QByteArray("CD"));
        QCOMPARE(readFile(linked), QByteArray("AB")); // nothing written through a link
        QCOMPARE(readFile(part), QByteArray("AB"));   // nor into someone else's file
        return;
    }
    QCOMPARE(file.BodySize(), 2);
    QVERIFY(file.Write("CD"));
    QVERIFY(file.Commit(4));
    QCOMPARE(readFile(folder() + "paper.pdf"), QByteArray("ABCD"));
    QVERIFY(!QFileInfo::exists(part));
}

void FileLifeTest::aPartNoLongerKeptGoesAtTheFoldersNextWrite() {
    const QString part = folder() + NewPartFileName();
    QVERIFY(writeFile(part, "AB"));
    SetKeptPartFiles({part});
    DownloadFile first;
    QVERIFY(first.Reserve(folder() + "a.pdf"));
    QVERIFY(QFileInfo::exists(part)); // a journal row keeps it
    SetKeptPartFiles({});
    QVERIFY(QFileInfo::exists(part)); // until the folder is written to again
    DownloadFile second;
    QVERIFY(second.Reserve(folder() + "b.pdf"));
    QVERIFY(!QFileInfo::exists(part));
}

QF_TEST_GUILESS_MAIN(FileLifeTest)
#include "test_filelife.moc"

// Small pieces are gathered, large ones go straight to the file, and the disk is set writing
// while the body grows: whatever the mix, the committed file holds the bytes in their order.
void FileLifeTest::doesTheBodyArriveInOrder_data() {
    QTest::addColumn<QList<int>>("pieces");
    QTest::newRow("chunks of 2048 bytes past two write-back steps") << QList<int>(9000, 2048);
    QTest::newRow("a small piece, then large ones")
        << QList<int>{100, 70000, 524288, 3, 600000, 65535, 65536};
    QTest::newRow("one piece of 9 MiB between small ones")
        << QList<int>{1, 9 * 1024 * 1024, 2047, 8 * 1024 * 1024 + 5};
}

void FileLifeTest::doesTheBodyArriveInOrder() {
    QFETCH(QList<int>, pieces);
    qint64 total = 0;
    for (int size : pieces)
        total += size;
    QByteArray body(total, Qt::Uninitialized);
    for (qint64 i = 0; i < total; ++i)
        body[i] = char((i * 131 + i / 4093) & 0xff);

    DownloadFile file;
    const QString path = folder() + "paper.pdf";
    QVERIFY(file.Reserve(path));
    QVERIFY(file.StartBody());
    qint64 at = 0;
    for (int size : pieces) {
        QVERIFY(file.Write(body.constData() + at, size));
        at += size;
    }
    QVERIFY2(file.Commit(total), qPrintable(file.Error()));
    QVERIFY(readFile(path) == body);
    QCOMPARE(ownFiles(), QStringList());
}

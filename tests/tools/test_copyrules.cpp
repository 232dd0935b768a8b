#include "TestEnvironment.h"

#include "core/tools/CopyRules.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

// The copy rules on real files: the five same-name options, numbered names, and copies that
// fail without touching what was there.

namespace {

const QDateTime kOld = QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5, 600), Qt::UTC);
const QDateTime kNew = QDateTime(QDate(2023, 5, 6), QTime(7, 8, 9, 100), Qt::UTC);

bool Write(const QString& path, const QByteArray& bytes, const QDateTime& modified = kNew) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        return false;
    return file.setFileTime(modified, QFileDevice::FileModificationTime);
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList Names(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class CopyRulesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void splitPathGivesFolderBaseAndExtension_data();
    void splitPathGivesFolderBaseAndExtension();
    void splitCopyNumberFindsAFinalBracketCounter_data();
    void splitCopyNumberFindsAFinalBracketCounter();
    void theFiveOptionsOnAnExistingTarget_data();
    void theFiveOptionsOnAnExistingTarget();
    void aFreeNameIsCopiedUnderEveryOption_data();
    void aFreeNameIsCopiedUnderEveryOption();
    void numberedNamesCountOnFromWhatIsThere_data();
    void numberedNamesCountOnFromWhatIsThere();
    void aSourceAlreadyInTheTargetFolderIsLeftAlone();
    void aCopyThatCannotReadItsSourceLeavesTheTargetAsItWas_data();
    void aCopyThatCannotReadItsSourceLeavesTheTargetAsItWas();

private:
    QString src(const QString& name) const { return dir_->path() + "/src/" + name; }
    QString dst(const QString& name = {}) const { return dir_->path() + "/dst/" + name; }
    std::unique_ptr<QTemporaryDir> dir_;
};

void CopyRulesTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY(QDir().mkpath(dst()));
}

void CopyRulesTest::splitPathGivesFolderBaseAndExtension_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("extension");
    QTest::newRow("plain") << "/d/x/paper.pdf"
                           << "/d/x/"
                           << "paper"
                           << "pdf";
    QTest::newRow("two dots, spaces") << "/d/ a.b.c  "
                                      << "/d/"
                                      << " a.b"
                                      << "c  ";
    QTest::newRow("only an extension") << "/d/.pdf"
                                       << "/d/"
                                       << ".pdf"
                                       << "";
    QTest::newRow("long extension") << "/d/report.version2"
                                    << "/d/"
                                    << "report.version2"
                                    << "";
    QTest::newRow("no dot") << "/d/README"
                            << "/d/"
                            << "README"
                            << "";
    QTest::newRow("no folder") << "name.txt"
                               << ""
                               << "name"
                               << "txt";
    QTest::newRow("trailing dot") << "/d/x."
                                  << "/d/"
                                  << "x"
                                  << "";
    // Blanks are part of a Linux name: "a b .pdf" is not "a b.pdf".
    QTest::newRow("blanks around the dot") << "/d/a b .pdf"
                                           << "/d/"
                                           << "a b "
                                           << "pdf";
    QTest::newRow("blank at the end") << "/d/x.pdf "
                                      << "/d/"
                                      << "x"
                                      << "pdf ";
}

void CopyRulesTest::splitPathGivesFolderBaseAndExtension() {
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, base);
    QFETCH(QString, extension);
    QString gotExtension = "junk";
    QString gotBase = "junk";
    QCOMPARE(SplitPath(path, gotExtension, gotBase), folder);
    QCOMPARE(gotBase, base);
    QCOMPARE(gotExtension, extension);
}

void CopyRulesTest::splitCopyNumberFindsAFinalBracketCounter_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("base");
    QTest::newRow("counter") << "paper[002]"
                             << "002"
                             << "paper";
    QTest::newRow("blanks inside") << "paper[ 7 ]"
                                   << "7"
                                   << "paper";
    QTest::newRow("the last of two") << "a[1][2]"
                                     << "2"
                                     << "a[1]";
    QTest::newRow("not a number") << "a[b]"
                                  << ""
                                  << "a[b]";
    QTest::newRow("empty brackets") << "x[]"
                                    << ""
                                    << "x[]";
    QTest::newRow("not at the end") << "x[1]y"
                                    << ""
                                    << "x[1]y";
    QTest::newRow("nothing before") << "[001]"
                                    << ""
                                    << "[001]";
    QTest::newRow("no bracket") << "plain"
                                << ""
                                << "plain";
    QTest::newRow("sign") << "x[-1]"
                          << ""
                          << "x[-1]";
}

void CopyRulesTest::splitCopyNumberFindsAFinalBracketCounter() {
    QFETCH(QString, name);
    QFETCH(QString, number);
    QFETCH(QString, base);
    QString gotBase;
    QCOMPARE(SplitCopyNumber(name, gotBase), number);
    QCOMPARE(gotBase, base);
}

void CopyRulesTest::theFiveOptionsOnAnExistingTarget_data() {
    QTest::addColumn<int>("option");
    QTest::addColumn<QByteArray>("existing"); // the target's bytes; the source holds "1234"
    QTest::addColumn<QDateTime>("existingTime");
    QTest::addColumn<int>("decision");
    QTest::addColumn<QStringList>("files");
    const int skip = int(CopyDecision::Skip);
    const int replace = int(CopyDecision::Replace);
    const int rename = int(CopyDecision::Rename);
    const QStringList one{"paper.pdf"};
    const QStringList two{"paper.pdf", "paper[001].pdf"};
    QTest::newRow("skip") << 1 << QByteArray("old") << kOld << skip << one;
    QTest::newRow("overwrite") << 2 << QByteArray("old") << kOld << replace << one;
    QTest::newRow("rename") << 3 << QByteArray("abcd") << kNew << rename << two;
    QTest::newRow("4: same size and time") << 4 << QByteArray("abcd") << kNew << replace << one;
    QTest::newRow("4: same size, another time") << 4 << QByteArray("abcd") << kOld << rename << two;
    QTest::newRow("4: another size, same time") << 4 << QByteArray("abc") << kNew << rename << two;
    QTest::newRow("5: same size, another time")
        << 5 << QByteArray("abcd") << kOld << replace << one;
    QTest::newRow("5: another size") << 5 << QByteArray("old") << kNew << rename << two;
    QTest::newRow("unknown option acts as 4") << 9 << QByteArray("abcd") << kOld << rename << two;
}

void CopyRulesTest::theFiveOptionsOnAnExistingTarget() {
    QFETCH(int, option);
    QFETCH(QByteArray, existing);
    QFETCH(QDateTime, existingTime);
    QFETCH(int, decision);
    QFETCH(QStringList, files);
    QVERIFY(Write(src("paper.pdf"), "1234", kNew));
    QVERIFY(Write(dst("paper.pdf"), existing, existingTime));

    const CopyOutcome outcome = CopyIntoFolder(src("paper.pdf"), dst(), option);
    QCOMPARE(int(outcome.decision), decision);
    QCOMPARE(Names(dst()), files);
    switch (CopyDecision(decision)) {
    case CopyDecision::Skip:
        QVERIFY(!outcome.copied);
        QCOMPARE(Read(dst("paper.pdf")), existing);
        QCOMPARE(QFileInfo(dst("paper.pdf")).lastModified(), existingTime);
        break;
    case CopyDecision::Replace:
        QVERIFY(outcome.copied);
        QCOMPARE(outcome.target, dst("paper.pdf"));
        QCOMPARE(Read(dst("paper.pdf")), QByteArray("1234"));
        // The copy keeps the original's time, so copying it again finds the same file.
        QCOMPARE(QFileInfo(dst("paper.pdf")).lastModified(), kNew);
        QCOMPARE(int(DecideCopy(4, src("paper.pdf"), dst("paper.pdf"))),
                 int(CopyDecision::Replace));
        break;
    default:
        QVERIFY(outcome.copied);
        QCOMPARE(outcome.target, dst("paper[001].pdf"));
        QCOMPARE(Read(dst("paper.pdf")), existing);
        QCOMPARE(Read(dst("paper[001].pdf")), QByteArray("1234"));
        break;
    }
}

void CopyRulesTest::aFreeNameIsCopiedUnderEveryOption_data() {
    QTest::addColumn<int>("option");
    QTest::addColumn<QString>("name");
    for (int option = 1; option <= 5; ++option) {
        QTest::addRow("option %d", option) << option << "paper.pdf";
        QTest::addRow("option %d, no extension", option) << option << "README";
    }
}

void CopyRulesTest::aFreeNameIsCopiedUnderEveryOption() {
    QFETCH(int, option);
    QFETCH(QString, name);
    QVERIFY(Write(src(name), "content", kOld));
    const CopyOutcome outcome = CopyIntoFolder(src(name), dst(), option);
    QCOMPARE(int(outcome.decision), int(CopyDecision::Copy));
    QVERIFY(outcome.copied);
    QCOMPARE(Names(dst()), QStringList{name});
    QCOMPARE(Read(dst(name)), QByteArray("content"));
    QCOMPARE(QFileInfo(dst(name)).lastModified(), kOld);
}

void CopyRulesTest::numberedNamesCountOnFromWhatIsThere_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("made");
    QTest::newRow("first copy") << "paper.pdf" << QStringList{"paper.pdf"} << "paper[001].pdf";
    QTest::newRow("after two") << "paper.pdf" << QStringList{"paper.pdf", "paper[001].pdf"}
                               << "paper[002].pdf";
    QTest::newRow("a numbered source counts on, not nested")
        << "paper[002].pdf" << QStringList{"paper.pdf", "paper[001].pdf", "paper[002].pdf"}
        << "paper[003].pdf";
    QTest::newRow("a numbered source takes the bare name when free")
        << "paper[002].pdf" << QStringList{"paper[002].pdf"} << "paper.pdf";
    QTest::newRow("no extension") << "README" << QStringList{"README"} << "README[001]";
    QTest::newRow("a gap is not filled")
        << "a.txt" << QStringList{"a.txt", "a[002].txt"} << "a[001].txt";
    QTest::newRow("a folder takes the name")
        << "x.pdf" << QStringList{"x.pdf", "x[001].pdf/"} << "x[002].pdf";
    QStringList full{"n.pdf"};
    for (int n = 1; n <= 999; ++n)
        full << QStringLiteral("n[%1].pdf").arg(n, 3, 10, QChar('0'));
    QTest::newRow("past 999") << "n.pdf" << full << "n[1000].pdf";
}

void CopyRulesTest::numberedNamesCountOnFromWhatIsThere() {
    QFETCH(QString, source);
    QFETCH(QStringList, present);
    QFETCH(QString, made);
    QVERIFY(Write(src(source), "new"));
    for (const QString& name : present) {
        if (name.endsWith('/'))
            QVERIFY(QDir().mkpath(dst(name)));
        else
            QVERIFY(Write(dst(name), "old"));
    }
    const std::optional<QString> path = CopyWithAutoRename(src(source), dst());
    QCOMPARE(path.value_or("<none>"), dst(made));
    QCOMPARE(Read(dst(made)), QByteArray("new"));
    for (const QString& name : present) {
        if (!name.endsWith('/'))
            QCOMPARE(Read(dst(name)), QByteArray("old"));
    }
    QVERIFY(!CopyWithAutoRename(src("missing.pdf"), dst()));
}

void CopyRulesTest::aSourceAlreadyInTheTargetFolderIsLeftAlone() {
    QVERIFY(Write(dst("paper.pdf"), "here"));
    for (int option = 1; option <= 5; ++option) {
        const CopyOutcome outcome = CopyIntoFolder(dst("paper.pdf"), dst(), option);
        QCOMPARE(int(outcome.decision), int(CopyDecision::SameFolder));
        QVERIFY(!outcome.copied);
    }
    // The same folder reached by a link is the same folder.
    QVERIFY(QFile::link(dst(), dir_->path() + "/alias"));
    QCOMPARE(int(CopyIntoFolder(dir_->path() + "/alias/paper.pdf", dst(), 3).decision),
             int(CopyDecision::SameFolder));
    QCOMPARE(Names(dst()), QStringList{"paper.pdf"});
    QCOMPARE(Read(dst("paper.pdf")), QByteArray("here"));
    // A folder whose name differs only in letter case is another folder here.
    QVERIFY(Write(dir_->path() + "/DST/paper.pdf", "other"));
    const CopyOutcome other = CopyIntoFolder(dir_->path() + "/DST/paper.pdf", dst(), 3);
    QCOMPARE(int(other.decision), int(CopyDecision::Rename));
    QCOMPARE(Read(dst("paper[001].pdf")), QByteArray("other"));
}

void CopyRulesTest::aCopyThatCannotReadItsSourceLeavesTheTargetAsItWas_data() {
    QTest::addColumn<int>("option");
    QTest::newRow("overwrite") << 2;
    QTest::newRow("rename") << 3;
    QTest::newRow("size and time") << 4;
    QTest::newRow("size") << 5;
}

void CopyRulesTest::aCopyThatCannotReadItsSourceLeavesTheTargetAsItWas() {
    QFETCH(int, option);
    // The process's own memory file opens, and its first read fails: a source that exists
    // and cannot be read, whatever the user's rights (tests run as root).
    const QString source = QStringLiteral("/proc/self/mem");
    {
        QFile probe(source);
        if (!probe.open(QIODevice::ReadOnly) || !probe.read(16).isEmpty())
            QSKIP("no unreadable source on this system");
    }
    QVERIFY(Write(dst("mem"), "old contents", kOld));
    // Same size as the memory file reports (0), so that options 4 and 5 choose to overwrite
    // in one row and rename in the others.
    if (option == 5)
        QVERIFY(Write(dst("mem"), QByteArray(), kOld));
    const CopyOutcome outcome = CopyIntoFolder(source, dst(), option);
    QVERIFY(!outcome.copied);
    // Nothing half-written is left behind, and the old target is whole.
    QCOMPARE(Names(dst()), QStringList{"mem"});
    QCOMPARE(Read(dst("mem")), option == 5 ? QByteArray() : QByteArray("old contents"));
    QCOMPARE(QFileInfo(dst("mem")).lastModified(), kOld);
    if (option == 5)
        QCOMPARE(int(outcome.decision), int(CopyDecision::Replace));
}

QF_TEST_GUILESS_MAIN(CopyRulesTest)
#include "test_copyrules.moc"

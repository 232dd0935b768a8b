#include "core/app/OsText.h"

#include "TestEnvironment.h"

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>

namespace {

OsVersionValues FullValues() {
    OsVersionValues v;
    v.ProductName = "Debian GNU/Linux";
    v.CurrentVersion = "12 (bookworm)";
    v.ReleaseId = "12";
    v.CurrentBuildNumber = "6.1.0-18-amd64";
    v.UBR = "20240101";
    v.BuildLab = "Linux 6.1.0-18-amd64";
    v.CSDVersion = "Error";
    return v;
}

const QString kFallback = "Linux 6.1.0-18-amd64";

} // namespace

class TestOsText : public QObject {
    Q_OBJECT

private slots:
    void versionText_data() {
        QTest::addColumn<int>("change");
        QTest::addColumn<QString>("expected");
        // change: 0 none, 1 no ReleaseId, 2 no UBR, 3 no UBR but CSDVersion, 4 no ProductName,
        // 5 no ProductName and nothing else either, 6 no release at all
        QTest::newRow("all values: build and UBR?")
            << 0 << "Debian GNU/Linux 版本:12 (内部版本:6.1.0-18-amd64.20240101)";
        QTest::newRow("no ReleaseId: CurrentVersion is the release?")
            << 1 << "Debian GNU/Linux 版本:12 (bookworm) (内部版本:6.1.0-18-amd64.20240101)";
        QTest::newRow("no UBR, no CSDVersion: BuildLab alone?")
            << 2 << "Debian GNU/Linux 版本:12 (内部版本:Linux 6.1.0-18-amd64)";
        QTest::newRow("no UBR, with CSDVersion: BuildLab : CSDVersion?")
            << 3 << "Debian GNU/Linux 版本:12 (内部版本:Linux 6.1.0-18-amd64 : Service Pack 1)";
        QTest::newRow("no ProductName: fall-back edition?") << 4 << kFallback;
        QTest::newRow("no ProductName, nothing else: fall-back edition?") << 5 << kFallback;
        QTest::newRow("no release values: Error shows?")
            << 6 << "Debian GNU/Linux 版本:Error (内部版本:6.1.0-18-amd64.20240101)";
    }
    void versionText() {
        QFETCH(int, change);
        QFETCH(QString, expected);
        OsVersionValues v = FullValues();
        switch (change) {
        case 1:
            v.ReleaseId = "Error";
            break;
        case 2:
            v.UBR = "Error";
            break;
        case 3:
            v.UBR = "Error";
            v.CSDVersion = "Service Pack 1";
            break;
        case 4:
            v.ProductName = "Error";
            break;
        case 5:
            v = OsVersionValues();
            break;
        case 6:
            v.ReleaseId = "Error";
            v.CurrentVersion = "Error";
            break;
        default:
            break;
        }
        QCOMPARE(OsVersionTextFrom(v, kFallback), expected);
    }

    void bitness_data() {
        QTest::addColumn<QString>("machine");
        QTest::addColumn<bool>("unameFails");
        QTest::addColumn<bool>("compatibility");
        QTest::addColumn<QString>("systemType");
        QTest::addColumn<QString>("bitness");
        QTest::newRow("x86_64?") << "x86_64" << false << false << "x64-based PC"
                                 << "64";
        QTest::newRow("aarch64?") << "aarch64" << false << false << "x64-based PC"
                                  << "64";
        QTest::newRow("i686?") << "i686" << false << false << "X86-based PC"
                               << "32";
        QTest::newRow("armv7l?") << "armv7l" << false << false << "X86-based PC"
                                 << "32";
        QTest::newRow("i686 process on a 64-bit kernel?")
            << "i686" << false << true << "X86-based PC"
            << "64";
        QTest::newRow("uname fails?") << "" << true << false << "Error"
                                      << "32";
        QTest::newRow("uname fails, compat layer?") << "" << true << true << "Error"
                                                    << "64";
    }
    void bitness() {
        QFETCH(QString, machine);
        QFETCH(bool, unameFails);
        QFETCH(bool, compatibility);
        QFETCH(QString, systemType);
        QFETCH(QString, bitness);
        const std::optional<QString> read =
            unameFails ? std::nullopt : std::optional<QString>(machine);
        QCOMPARE(SystemTypeFromMachine(read), systemType);
        QCOMPARE(OsBitnessFrom(systemType, compatibility), bitness);
    }

    void bitnessIgnoresLetterCaseOfX64() {
        QCOMPARE(OsBitnessFrom("X64-BASED PC", false), QString("64"));
        QCOMPARE(OsBitnessFrom("x86-based PC", false), QString("32"));
    }

    void wholeText() {
        QCOMPARE(OsTextFrom("Debian GNU/Linux 版本:12 (内部版本:Linux 6.1.0)", "64"),
                 QString("Debian GNU/Linux 版本:12 (内部版本:Linux 6.1.0)[64位]"));
        QCOMPARE(OsTextFrom("Linux", "32"), QString("Linux[32位]"));
    }

    void valuesMapFromOsReleaseAndUname() {
        const QHash<QString, QString> osRelease{
            {"NAME", "  Debian GNU/Linux  "},
            {"VERSION", "12 (bookworm)"},
            {"VERSION_ID", QStringLiteral("12") + QChar(0) + "junk"},
            {"BUILD_ID", "rolling"}};
        const UnameValues names{"Linux", "6.1.0-18-amd64", "x86_64"};
        const OsVersionValues v = OsVersionValuesFrom(osRelease, names);
        QCOMPARE(v.ProductName, QString("Debian GNU/Linux"));
        QCOMPARE(v.CurrentVersion, QString("12 (bookworm)"));
        QCOMPARE(v.ReleaseId, QString("12"));
        QCOMPARE(v.UBR, QString("rolling"));
        QCOMPARE(v.CurrentBuildNumber, QString("6.1.0-18-amd64"));
        QCOMPARE(v.BuildLab, QString("Linux 6.1.0-18-amd64"));
        QCOMPARE(v.CSDVersion, QString("Error"));
        QCOMPARE(OsVersionTextFrom(v, FallbackEditionFrom(names)),
                 QString("Debian GNU/Linux 版本:12 (内部版本:6.1.0-18-amd64.rolling)"));
    }

    void missingSourcesReadAsError() {
        const OsVersionValues noKeys =
            OsVersionValuesFrom(QHash<QString, QString>{{"ID", "debian"}}, std::nullopt);
        for (const QString& value : {noKeys.ProductName, noKeys.CurrentVersion, noKeys.ReleaseId,
                                     noKeys.UBR, noKeys.CurrentBuildNumber, noKeys.BuildLab})
            QCOMPARE(value, QString("Error"));

        const UnameValues names{"Linux", "6.1.0-18-amd64", "x86_64"};
        const OsVersionValues noFile = OsVersionValuesFrom(std::nullopt, names);
        QCOMPARE(noFile.ProductName, QString("Error"));
        QCOMPARE(OsVersionTextFrom(noFile, FallbackEditionFrom(names)),
                 QString("Linux 6.1.0-18-amd64"));
        QCOMPARE(FallbackEditionFrom(std::nullopt), QString("Linux"));
    }

    void osReleaseFileIsParsed() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("os-release");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# a comment with NAME=\"Wrong\"\n"
                   "\n"
                   "NAME=\"Quill \\\"Test\\\" Linux\"\n"
                   "VERSION='3 (it''s)'\n"
                   "ID=quill\r\n"
                   "not a pair\n"
                   "PRETTY_NAME=Quill\\ Linux\n");
        file.write(QByteArray("BUILD_ID=\"2024", 14) + QByteArray(1, '\0') + "junk\"\n");
        file.close();

        const auto values = ReadOsRelease({dir.filePath("missing"), path});
        QVERIFY(values.has_value());
        QCOMPARE(values->value("NAME"), QString("Quill \"Test\" Linux"));
        QCOMPARE(values->value("VERSION"), QString("3 (its)"));
        QCOMPARE(values->value("ID"), QString("quill"));
        QCOMPARE(values->value("PRETTY_NAME"), QString("Quill Linux"));
        QVERIFY(!values->contains("VERSION_ID"));
        QVERIFY(!values->contains("not a pair"));

        const UnameValues names{"Linux", "6.1.0", "x86_64"};
        const OsVersionValues v = OsVersionValuesFrom(values, names);
        QCOMPARE(v.UBR, QString("2024"));
        QCOMPARE(v.ReleaseId, QString("Error"));
        QCOMPARE(OsVersionTextFrom(v, FallbackEditionFrom(names)),
                 QString("Quill \"Test\" Linux 版本:3 (its) (内部版本:6.1.0.2024)"));
        QVERIFY(OsVersionText({path}).startsWith("Quill \"Test\" Linux 版本:3 (its) (内部版本:"));

        QVERIFY(!ReadOsRelease({dir.filePath("missing"), dir.filePath("also-missing")}));
        QVERIFY(OsVersionText({dir.filePath("missing")}).startsWith("Linux "));
    }

    void realSystemIsNamed() {
        if (!QFile::exists("/etc/os-release") && !QFile::exists("/usr/lib/os-release"))
            QSKIP("this system has no os-release file");
        const QString text = OsText();
        const qsizetype versionAt = text.indexOf(" 版本:");
        QVERIFY2(versionAt > 0, qPrintable(text));
        // Qt reads the same file for its pretty name, which begins with the plain name.
        QVERIFY2(QSysInfo::prettyProductName().startsWith(text.left(versionAt)), qPrintable(text));
        QVERIFY2(text.contains(QSysInfo::kernelVersion()), qPrintable(text));
        const bool sixtyFour = QSysInfo::currentCpuArchitecture().contains("64") ||
                               QSysInfo::currentCpuArchitecture() == "s390x";
        QVERIFY2(text.endsWith(sixtyFour ? "[64位]" : "[32位]"), qPrintable(text));
        QCOMPARE(OsBitness(), QString(sixtyFour ? "64" : "32"));
    }
};

QF_TEST_GUILESS_MAIN(TestOsText)
#include "test_ostext.moc"

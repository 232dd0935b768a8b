#include "TestEnvironment.h"

#include "core/app/BrowserEmulation.h"
#include "core/app/SettingsStore.h"
#include "core/app/Version.h"
#include "core/platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

class SettingsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theKeyTableHoldsSixteenDistinctKeys();
    void anEmptyStoreGivesEveryDefault_data();
    void anEmptyStoreGivesEveryDefault();
    void valuesSurviveANewStoreOnTheSameFolder();
    void sectionsAndApplicationsDoNotShareValues();
    void integerReadsConvertOrLeaveTheTargetAlone_data();
    void integerReadsConvertOrLeaveTheTargetAlone();
    void aGarbageFileReadsAsDefaultsAndIsReplacedOnWrite();
    void anUnreadableFileReadsAsDefaults();
    void browserEmulationIsWrittenOnlyWhenItDiffers();
};

void SettingsTest::theKeyTableHoldsSixteenDistinctKeys() {
    QSet<QString> seen;
    for (const SettingKey& key : Keys::All)
        seen.insert(QString::fromUtf8(key.section) + '/' + QString::fromUtf8(key.key));
    QCOMPARE(seen.size(), 16);
}

void SettingsTest::anEmptyStoreGivesEveryDefault_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("transfer mode is parallel") << "设置"
                                               << "下载方式"
                                               << "2";
    QTest::newRow("no proxy") << "设置"
                              << "代理服务器有效"
                              << "0";
    QTest::newRow("no proxy host") << "设置"
                                   << "代理服务器网址"
                                   << "";
    QTest::newRow("extraction asks for a folder") << "设置"
                                                  << "提取网页信息时提示下载保存路径"
                                                  << "1";
    QTest::newRow("three transfers") << "下载"
                                     << "线程"
                                     << "2";
    QTest::newRow("rename same names") << "专利下载"
                                       << "重复文件名设置"
                                       << "重命名";
    QTest::newRow("one minute page time-out") << "fWebSearch"
                                              << "Combo1"
                                              << "60";
    QTest::newRow("copy keeps both") << "Form_Copy_Move"
                                     << "OpIndex"
                                     << "4";
    QTest::newRow("no screen recorded") << "fFileDownload"
                                        << "分辨率"
                                        << "000";
    QTest::newRow("width") << "fFileDownload"
                           << "宽"
                           << "15000";
    QTest::newRow("height") << "fFileDownload"
                            << "高"
                            << "10000";
}

void SettingsTest::anEmptyStoreGivesEveryDefault() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    const SettingKey* row = nullptr;
    for (const SettingKey& k : Keys::All) {
        if (section == QString::fromUtf8(k.section) && key == QString::fromUtf8(k.key))
            row = &k;
    }
    QVERIFY(row);
    QCOMPARE(store.Read(*row), expected);
}

void SettingsTest::valuesSurviveANewStoreOnTheSameFolder() {
    QTemporaryDir dir;
    {
        SettingsStore store(dir.path());
        store.Write(Keys::DownloadMode, 1);
        store.Write(Keys::SameNamePolicy, QStringLiteral("覆盖"));
        store.Write(Keys::DefaultSaveFolder, QStringLiteral("/data/论文/"));
    }
    SettingsStore again(dir.path());
    QCOMPARE(again.Read(Keys::DownloadMode), QStringLiteral("1"));
    QCOMPARE(again.Read(Keys::SameNamePolicy), QStringLiteral("覆盖"));
    QCOMPARE(again.Read(Keys::DefaultSaveFolder), QStringLiteral("/data/论文/"));
    QVERIFY(QFile::exists(again.FilePath(QString::fromUtf8(kApplicationTitle))));
}

void SettingsTest::sectionsAndApplicationsDoNotShareValues() {
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    store.SaveSetting("Quillfetch", "Form_Copy_Move", "OpIndex", "2");
    QCOMPARE(store.GetSetting("Quillfetch", "Form_Copy_Move2", "OpIndex", 4), QStringLiteral("4"));
    QCOMPARE(store.GetSetting("Other", "Form_Copy_Move", "OpIndex", "x"), QStringLiteral("x"));
    QCOMPARE(store.Read(Keys::CopyOptionIndex), QStringLiteral("2"));
}

void SettingsTest::integerReadsConvertOrLeaveTheTargetAlone_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << "1" << true << 1;
    QTest::newRow("spaces around") << " 5 " << true << 5;
    QTest::newRow("negative") << "-3" << true << -3;
    QTest::newRow("fraction rounds half to even") << "2.5" << true << 2;
    QTest::newRow("fraction rounds up") << "3.6" << true << 4;
    QTest::newRow("letters") << "abc" << false << 7;
    QTest::newRow("empty") << "" << false << 7;
    QTest::newRow("too big") << "99999999999" << false << 7;
    QTest::newRow("not a number") << "nan" << false << 7;
}

void SettingsTest::integerReadsConvertOrLeaveTheTargetAlone() {
    QFETCH(QString, stored);
    QFETCH(bool, converts);
    QFETCH(int, expected);
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    store.Write(Keys::ThreadCount, stored);
    int target = 7;
    QCOMPARE(store.ReadInt(Keys::ThreadCount, target), converts);
    QCOMPARE(target, expected);
}

void SettingsTest::aGarbageFileReadsAsDefaultsAndIsReplacedOnWrite() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Quillfetch.ini";
    QFile garbage(path);
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    QByteArray bytes;
    for (int i = 0; i < 4096; ++i)
        bytes.append(char((i * 7919) % 256));
    bytes.append("\n[设置\n下载方式=\xff\xfe\n[[[=]]]\n");
    garbage.write(bytes);
    garbage.close();

    SettingsStore store(dir.path());
    int mode = 2;
    store.ReadInt(Keys::DownloadMode, mode);
    QCOMPARE(mode, 2);
    QCOMPARE(store.Read(Keys::SameNamePolicy), QStringLiteral("重命名"));

    store.Write(Keys::DownloadMode, 1);
    store.Sync();
    SettingsStore again(dir.path());
    QCOMPARE(again.Read(Keys::DownloadMode), QStringLiteral("1"));
}

void SettingsTest::anUnreadableFileReadsAsDefaults() {
    if (geteuid() == 0)
        QSKIP("root reads every file whatever its permissions");
    QTemporaryDir dir;
    const QString path = dir.path() + "/Quillfetch.ini";
    {
        SettingsStore store(dir.path());
        store.Write(Keys::DownloadMode, 1);
    }
    QFile::setPermissions(path, QFileDevice::Permissions());
    SettingsStore store(dir.path());
    QCOMPARE(store.Read(Keys::DownloadMode), QStringLiteral("2"));
}

namespace {
// Counts writes over a real INI registry, so the test sees whether a write happened at all.
class CountingRegistry : public IniRegistry {
public:
    using IniRegistry::IniRegistry;
    bool writeDword(const QString& keyPath, const QString& name, quint32 value) override {
        ++writes;
        return IniRegistry::writeDword(keyPath, name, value);
    }
    int writes = 0;
};
} // namespace

void SettingsTest::browserEmulationIsWrittenOnlyWhenItDiffers() {
    QTemporaryDir dir;
    CountingRegistry registry(dir.path() + "/registry.ini");

    SetBrowserEmulation(registry, "quillfetch"); // missing: written
    QCOMPARE(registry.writes, 1);
    QCOMPARE(registry.readValue(kBrowserEmulationKey, "quillfetch.exe").value_or(""),
             QStringLiteral("10001"));

    SetBrowserEmulation(registry, "quillfetch"); // already right: left alone
    QCOMPARE(registry.writes, 1);

    registry.IniRegistry::writeDword(kBrowserEmulationKey, "quillfetch.exe", 10000);
    SetBrowserEmulation(registry, "quillfetch"); // older level: overwritten
    QCOMPARE(registry.writes, 2);
    QCOMPARE(registry.readValue(kBrowserEmulationKey, "quillfetch.exe").value_or(""),
             QStringLiteral("10001"));

    // Another program's entry is not ours to judge.
    QVERIFY(!registry.readValue(kBrowserEmulationKey, "other.exe").has_value());
}

QF_TEST_GUILESS_MAIN(SettingsTest)
#include "test_settings.moc"

#pragma once

#include <QString>

#include <array>
#include <map>
#include <memory>

class QSettings;

// Every key the program keeps between runs. One row per key, so that the sections, keys and
// defaults live in one place; callers name the row instead of repeating the texts.
enum class SettingFormat {
    Integer,    // decimal text, converted where it is read
    Text,       // any text
    FolderPath, // a folder path ending with "/"
};

// How a key's default is found: most are fixed texts, two depend on the machine.
enum class SettingDefault { Fixed, ProgramFolder, DownloadFolder };

struct SettingKey {
    const char* section;
    const char* key;
    const char* fixedDefault;
    SettingFormat format;
    SettingDefault defaultKind = SettingDefault::Fixed;
};

namespace Keys {
inline constexpr SettingKey DownloadMode{"设置", "下载方式", "2", SettingFormat::Integer};
inline constexpr SettingKey ProxyEnabled{"设置", "代理服务器有效", "0", SettingFormat::Integer};
inline constexpr SettingKey ProxyAddress{"设置", "代理服务器网址", "", SettingFormat::Text};
inline constexpr SettingKey ProxyPort{"设置", "代理服务器端口", "", SettingFormat::Text};
inline constexpr SettingKey PromptSaveFolder{"设置", "提取网页信息时提示下载保存路径", "1",
                                             SettingFormat::Integer};
// The save folder defaults to the user's download folder; there is no "c:\12345" here.
inline constexpr SettingKey DefaultSaveFolder{
    "设置", "下载文件保存路径", "", SettingFormat::FolderPath, SettingDefault::DownloadFolder};
// Seconds between two starts of downloads from one site, 0 to 60.
inline constexpr SettingKey SiteSpacing{"设置", "同一网站下载间隔秒数", "1",
                                        SettingFormat::Integer};
inline constexpr SettingKey ThreadCount{"下载", "线程", "2", SettingFormat::Integer};
inline constexpr SettingKey SameNamePolicy{"专利下载", "重复文件名设置", "重命名",
                                           SettingFormat::Text};
inline constexpr SettingKey SearchTimeout{"fWebSearch", "Combo1", "60", SettingFormat::Text};
inline constexpr SettingKey CopyTargetFolder{
    "Form_Copy_Move", "目的文件夹", "", SettingFormat::FolderPath, SettingDefault::ProgramFolder};
inline constexpr SettingKey CopyOptionIndex{"Form_Copy_Move", "OpIndex", "4",
                                            SettingFormat::Integer};
inline constexpr SettingKey DownloadResolution{"fFileDownload", "分辨率", "000",
                                               SettingFormat::Text};
inline constexpr SettingKey DownloadTop{"fFileDownload", "上", "100", SettingFormat::Integer};
inline constexpr SettingKey DownloadLeft{"fFileDownload", "左", "100", SettingFormat::Integer};
inline constexpr SettingKey DownloadWidth{"fFileDownload", "宽", "15000", SettingFormat::Integer};
inline constexpr SettingKey DownloadHeight{"fFileDownload", "高", "10000", SettingFormat::Integer};

// The download window's other choices, kept the moment they are made like every choice above.
inline constexpr SettingKey DownloadGap{"fFileDownload", "下载间隔", "0", SettingFormat::Integer};
inline constexpr SettingKey AutoRequeue{"fFileDownload", "自动重新下载", "0",
                                        SettingFormat::Integer};
inline constexpr SettingKey AutoRequeueItems{"fFileDownload", "自动重新下载项", "0",
                                             SettingFormat::Integer};
inline constexpr SettingKey AutoStart{"fFileDownload", "自动启动下载", "0", SettingFormat::Integer};
inline constexpr SettingKey StopOnProblems{"fFileDownload", "出错停止下载", "0",
                                           SettingFormat::Integer};
inline constexpr SettingKey SoundPrompts{"fFileDownload", "声音提示", "0", SettingFormat::Integer};

inline constexpr std::array<SettingKey, 16> All{
    DownloadMode,     ProxyEnabled,      ProxyAddress,    ProxyPort,
    PromptSaveFolder, DefaultSaveFolder, ThreadCount,     SameNamePolicy,
    SearchTimeout,    CopyTargetFolder,  CopyOptionIndex, DownloadResolution,
    DownloadTop,      DownloadLeft,      DownloadWidth,   DownloadHeight};
} // namespace Keys

// The default of a key as text, with the machine-dependent defaults worked out.
QString SettingDefaultText(const SettingKey& key);

// Converts a stored text the way the program's integer reads do: surrounding spaces are
// ignored and a decimal fraction is rounded half to even. False when the text is no number
// or does not fit an int.
bool ParseSettingInteger(const QString& text, int& value);

// The per-user settings: text values addressed by (application, section, key). One INI file
// per application name in the user's configuration folder. An unreadable or malformed file
// reads as empty, so every key gives its default.
class SettingsStore {
public:
    // `folder` holds one "<application>.ini" per application name.
    explicit SettingsStore(const QString& folder = DefaultFolder());
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The stored text, or `defaultValue` when the key is absent.
    QString GetSetting(const QString& application, const QString& section, const QString& key,
                       const QString& defaultValue) const;
    QString GetSetting(const QString& application, const QString& section, const QString& key,
                       int defaultValue) const;
    void SaveSetting(const QString& application, const QString& section, const QString& key,
                     const QString& value);

    // The same, under the application title and with the table's default.
    QString Read(const SettingKey& key) const;
    void Write(const SettingKey& key, const QString& value);
    void Write(const SettingKey& key, int value);
    // Converts the stored text (or the default); leaves `target` unchanged when that fails.
    bool ReadInt(const SettingKey& key, int& target) const;

    // Writes pending changes to disk now.
    void Sync();

    QString FilePath(const QString& application) const;
    static QString DefaultFolder();

private:
    QSettings& file(const QString& application) const;

    QString folder_;
    mutable std::map<QString, std::unique_ptr<QSettings>> files_;
};

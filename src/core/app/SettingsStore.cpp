#include "core/app/SettingsStore.h"

#include "core/app/FileHelpers.h"
#include "core/app/Version.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>
#include <limits>

QString SettingDefaultText(const SettingKey& key) {
    switch (key.defaultKind) {
    case SettingDefault::ProgramFolder:
        return ProgramFolder();
    case SettingDefault::DownloadFolder: {
        QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        if (downloads.isEmpty())
            downloads = QDir::homePath();
        return WithTrailingSlash(downloads) + "Quillfetch/";
    }
    case SettingDefault::Fixed:
        break;
    }
    return QString::fromUtf8(key.fixedDefault);
}

bool ParseSettingInteger(const QString& text, int& value) {
    const QString t = text.trimmed();
    bool ok = false;
    const int whole = t.toInt(&ok);
    if (ok) {
        value = whole;
        return true;
    }
    const double number = t.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return false;
    const double rounded = std::nearbyint(number); // half to even in the default mode
    if (rounded < std::numeric_limits<int>::min() || rounded > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(rounded);
    return true;
}

SettingsStore::SettingsStore(const QString& folder) : folder_(folder) {}

SettingsStore::~SettingsStore() {
    Sync();
}

QString SettingsStore::DefaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Quillfetch";
}

QString SettingsStore::FilePath(const QString& application) const {
    return folder_ + '/' + application + ".ini";
}

QSettings& SettingsStore::file(const QString& application) const {
    auto it = files_.find(application);
    if (it == files_.end()) {
        auto settings = std::make_unique<QSettings>(FilePath(application), QSettings::IniFormat);
        it = files_.emplace(application, std::move(settings)).first;
    }
    return *it->second;
}

static QString settingsPath(const QString& section, const QString& key) {
    return section + '/' + key;
}

QString SettingsStore::GetSetting(const QString& application, const QString& section,
                                  const QString& key, const QString& defaultValue) const {
    QSettings& settings = file(application);
    // A file that could not be read or parsed counts as empty rather than half-read.
    if (settings.status() != QSettings::NoError)
        return defaultValue;
    const QVariant value = settings.value(settingsPath(section, key));
    if (!value.isValid() || !value.canConvert<QString>())
        return defaultValue;
    return value.toString();
}

QString SettingsStore::GetSetting(const QString& application, const QString& section,
                                  const QString& key, int defaultValue) const {
    return GetSetting(application, section, key, QString::number(defaultValue));
}

void SettingsStore::SaveSetting(const QString& application, const QString& section,
                                const QString& key, const QString& value) {
    QSettings& settings = file(application);
    if (settings.status() == QSettings::FormatError) {
        // Qt will not write over a file it could not parse. Keep the unreadable file beside
        // the new one (for whoever wants to look at it) and start afresh, so the user's
        // choices are stored again.
        const QString path = FilePath(application);
        files_.erase(application);
        QFile::remove(path + ".bad");
        QFile::rename(path, path + ".bad");
        file(application).setValue(settingsPath(section, key), value);
        return;
    }
    settings.setValue(settingsPath(section, key), value);
}

QString SettingsStore::Read(const SettingKey& key) const {
    return GetSetting(kApplicationTitle, key.section, key.key, SettingDefaultText(key));
}

void SettingsStore::Write(const SettingKey& key, const QString& value) {
    SaveSetting(kApplicationTitle, key.section, key.key, value);
}

void SettingsStore::Write(const SettingKey& key, int value) {
    Write(key, QString::number(value));
}

bool SettingsStore::ReadInt(const SettingKey& key, int& target) const {
    return ParseSettingInteger(Read(key), target);
}

void SettingsStore::Sync() {
    if (!folder_.isEmpty())
        QDir().mkpath(folder_);
    for (auto& [application, settings] : files_)
        settings->sync();
}

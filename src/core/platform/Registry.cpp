#include "core/platform/Registry.h"

#include <QStandardPaths>

IniRegistry::IniRegistry(const QString& filePath) : file_(filePath, QSettings::IniFormat) {}

QString IniRegistry::defaultFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/Quillfetch/registry.ini";
}

QString IniRegistry::settingsKey(const QString& keyPath, const QString& name) {
    QString group = keyPath;
    group.replace('\\', '/');
    while (group.endsWith('/'))
        group.chop(1);
    return group + '/' + name;
}

std::optional<QString> IniRegistry::readValue(const QString& keyPath, const QString& name) {
    if (file_.status() != QSettings::NoError)
        return std::nullopt;
    const QVariant value = file_.value(settingsKey(keyPath, name));
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

bool IniRegistry::writeDword(const QString& keyPath, const QString& name, quint32 value) {
    file_.setValue(settingsKey(keyPath, name), QString::number(value));
    file_.sync();
    return file_.status() == QSettings::NoError;
}

#pragma once

#include <QSettings>
#include <QString>
#include <optional>

// Stands in for the machine registry: values addressed by a key path and a value name.
class Registry {
public:
    virtual ~Registry() = default;
    // The value as text, or nullopt when the key or the value cannot be read.
    virtual std::optional<QString> readValue(const QString& keyPath, const QString& name) = 0;
    // Creates the key if needed. False when the value could not be stored.
    virtual bool writeDword(const QString& keyPath, const QString& name, quint32 value) = 0;
};

// A per-user INI file: key paths become groups ("\" turned into "/").
class IniRegistry : public Registry {
public:
    explicit IniRegistry(const QString& filePath);
    std::optional<QString> readValue(const QString& keyPath, const QString& name) override;
    bool writeDword(const QString& keyPath, const QString& name, quint32 value) override;

    // ~/.config/Quillfetch/registry.ini (or the XDG configuration folder's equivalent).
    static QString defaultFilePath();

private:
    static QString settingsKey(const QString& keyPath, const QString& name);
    QSettings file_;
};

#include "ui/app/KeptChoices.h"

#include "core/app/SettingsStore.h"

#include <QAbstractButton>
#include <QComboBox>

namespace {

int storedInteger(const SettingsStore* settings, const SettingKey& key) {
    int value = 0;
    ParseSettingInteger(QString::fromUtf8(key.fixedDefault), value);
    if (settings)
        settings->ReadInt(key, value);
    return value;
}

} // namespace

void KeepChecked(QAbstractButton* box, SettingsStore* settings, const SettingKey& key) {
    box->setChecked(storedInteger(settings, key) == 1);
    if (!settings)
        return;
    QObject::connect(box, &QAbstractButton::toggled, box,
                     [settings, &key](bool on) { settings->Write(key, on ? 1 : 0); });
}

void KeepIndex(QComboBox* combo, SettingsStore* settings, const SettingKey& key) {
    int index = 0;
    ParseSettingInteger(QString::fromUtf8(key.fixedDefault), index);
    const int stored = storedInteger(settings, key);
    if (stored >= 0 && stored < combo->count())
        index = stored;
    combo->setCurrentIndex(index);
    if (!settings)
        return;
    QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [settings, &key](int chosen) {
        if (chosen >= 0)
            settings->Write(key, chosen);
    });
}

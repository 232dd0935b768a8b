#pragma once

class QAbstractButton;
class QComboBox;
class SettingsStore;
struct SettingKey;

// A choice the user makes in a window is written the moment it is made, so that it outlives a
// kill, a crash or leaving the program from another window, and it is shown again when the
// window next loads. Nothing is stored without a settings store.

// Ticks the box as stored (the key's default when nothing readable is), then keeps every change.
void KeepChecked(QAbstractButton* box, SettingsStore* settings, const SettingKey& key);
// Selects the stored entry (the key's default when the stored one names no entry), then keeps
// every change of the selection.
void KeepIndex(QComboBox* combo, SettingsStore* settings, const SettingKey& key);

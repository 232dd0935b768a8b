#include "ui/app/FolderHistory.h"

#include "core/download/Naming.h"

#include <QComboBox>
#include <QStringList>

void LoadFolderHistory(QComboBox* combo, const QString& file) {
    if (!combo)
        return;
    const std::optional<QStringList> folders = ReadFolderHistory(file);
    if (!folders)
        return;
    // Filling an empty list selects its first entry, which would replace the typed folder.
    const QString shown = combo->currentText();
    combo->clear();
    combo->addItems(*folders);
    if (combo->isEditable())
        combo->setEditText(shown);
}

void SaveFolderHistory(QComboBox* combo, const QString& file) {
    if (!combo)
        return;
    QStringList folders;
    folders.reserve(combo->count());
    for (int i = 0; i < combo->count(); ++i)
        folders << combo->itemText(i);
    WriteFolderHistory(file, folders);
}

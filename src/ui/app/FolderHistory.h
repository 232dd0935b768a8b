#pragma once

#include <QString>

class QComboBox;

// The folder history as the folder boxes show it: the save-folder dialog and the copy dialog
// both suggest the folders used before from the same file (ReadFolderHistory and
// WriteFolderHistory in Naming.h hold the file's rules).

// Fills the combo's list from the history file. A missing file leaves the list untouched (the
// next accepted folder creates the file); otherwise the list is replaced by the file's
// folders. What the box shows as its text stays as it was: the list only suggests.
void LoadFolderHistory(QComboBox* combo, const QString& file);

// Writes the combo's list, in list order, to the history file; an empty list writes one empty
// line. A file that cannot be written is left as it was.
void SaveFolderHistory(QComboBox* combo, const QString& file);

#pragma once

#include <QString>

// File-system questions and small text helpers shared by every window. Paths use "/"; a folder
// path handed around ends with "/".

// True when a file (not a folder) is at `path`; hidden files count. Any failure answers false.
bool FileExists(const QString& path);

// True when a folder is at `path`; hidden folders count. Any failure answers false.
bool FolderExists(const QString& path);

// Splits the file name of `path` into base name and extension: the extension is the text after
// the last "." without the dot, the base name what comes before it. No "." or an extension of
// seven characters or more makes the whole name the base name and the extension "". The path,
// the base name and the extension are trimmed of spaces.
//
// Only "/" separates folders here: a "\" is an ordinary character in a Linux file name, and
// every path the program builds uses "/" (names pass CleanFileName, which drops "\"), so a
// user's file called "a\b.pdf" keeps its whole name instead of losing "a\".
QString SplitFileName(const QString& path, QString& baseName);

// `text` without carriage returns, line feeds and NUL characters; nothing is put in their place.
QString RemoveLineBreaks(const QString& text);

// `text` without leading and trailing ASCII spaces. Tabs, line breaks and other blanks stay,
// unlike QString::trimmed().
QString TrimSpaces(const QString& text);

// The program's own folder, ending with "/": the executable's folder when it is writable and lies
// in the build tree this program was compiled in (a developer's build keeps its files beside it),
// else the per-user data folder (QStandardPaths::AppDataLocation), created on demand. An
// installed program therefore always uses the data folder, whoever runs it.
QString ProgramFolder();

// The same rule for a given executable folder.
QString ProgramFolder(const QString& executableFolder);

#pragma once

#include <QChar>
#include <QString>

#include <optional>

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

// `folder` with a "/" at its end, added when it has none.
QString WithTrailingSlash(const QString& folder);

// `text` with every UTF-16 surrogate that has no partner removed or, when `replacement` is
// given, replaced by it: such a half character cannot be written to a file or a file name
// as what it was.
QString WithoutBrokenSurrogates(const QString& text, std::optional<QChar> replacement);

// Writes `text` to `path` in GB18030, replacing the file as a whole. Text the program writes
// "in the system's code page" goes through here: GB18030 gives every GBK character its GBK
// bytes and keeps the others (an accented author name, a math sign) instead of turning them
// into "?"; a broken UTF-16 sequence is written as U+FFFD. The bytes go to a file beside the
// target that then takes its place, so a full disk never leaves half a file behind (where
// the folder takes no new file, the target is written directly). False when it could not be
// written completely.
bool WriteGb18030File(const QString& path, const QString& text);

// The program's own folder, ending with "/": the executable's folder when it is writable and lies
// in the build tree this program was compiled in (a developer's build keeps its files beside it),
// else the per-user data folder (QStandardPaths::AppDataLocation), created on demand. An
// installed program therefore always uses the data folder, whoever runs it.
QString ProgramFolder();

// The same rule for a given executable folder.
QString ProgramFolder(const QString& executableFolder);

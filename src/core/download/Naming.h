#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Names of downloaded files and the folders they go to. Nothing here shows a window: the one
// message (a folder part that cleans away) reaches the caller through a callback.
//
// Paths use "/" and the file-system root stands for the drive. A file name built here never
// leaves its folder: it holds no "/" and no NUL, and it is never "", "." or "..".

// The name made safe for the file system, in this order:
//  1. remove \ / : * ? " < > |
//  2. remove CR, LF, NUL, the other control characters (U+0001..U+001F, U+007F), the
//     bidirectional controls (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) and
//     broken UTF-16 (a lone surrogate);
//  3. remove leading and trailing "."
//  4. keep at most the first 250 bytes as the name is written in GB18030; a character that
//     would straddle the limit is dropped whole;
//  5. trim spaces;
// and repeat 3 and 5 until neither changes anything, so " .. " and ". ." end as "" instead of
// naming the parent folder. A name made only of removed characters becomes "".
QString CleanFileName(const QString& name);

// The last segment of a link ("\" counts as "/"), trimmed; with `stripExtension`, cut before
// its last "." and trimmed again. A query string stays part of the name (CleanFileName drops
// its "?" later); a link ending in "/" gives "".
QString FileNameFromLink(const QString& link, bool stripExtension);

// True when `name` can name a file inside a folder: not "", ".", "..", and no "/" or NUL.
bool IsUsableFileName(const QString& name);

// The most of a file name's component the file system takes, in bytes of its encoding.
inline constexpr int kMaxFileNameBytes = 255;

// `base`, shortened at a character boundary (trailing spaces of the cut dropped) so that
// base + suffix fits kMaxFileNameBytes; unchanged when it fits already, or when the suffix
// alone leaves no room (such a name cannot be saved whatever the base is).
QString FitFileNameComponent(const QString& base, const QString& suffix);

// `path` when nothing is there (and its name is usable and fits), else the first free
// variant: the base name cut to 100 characters, a numeric bracket group at its end dropped
// (x[0002] -> x), then base, base[0001], base[0002], ... with the extension kept. Anything at
// a candidate takes the name: a file (hidden and read-only ones too), a folder, a link (also
// one that points nowhere), so a file can always be moved to the result. A path without "/"
// is returned unchanged.
QString UniqueFilePath(const QString& path);

// The message MakeFolderPath gives for a folder part that cleans to "".
QString BadFolderNameMessage(); // "文件夹名称有误！不能创建文件夹！"

// Creates the folder path level by level and returns it without a trailing "/" ("/" itself
// for the root), or "" on failure. A part that names a folder already there is kept exactly
// as typed (Linux folder names may hold ":" or begin with "."); every other part is cleaned
// with CleanFileName before it is created. An empty part ("a//b", a trailing "/") ends the
// path there. A part that cleans to "" calls `complain` with BadFolderNameMessage() and ends
// the walk: the result is the deepest folder built before it. "." and ".." are never taken
// as typed, so a path cannot climb out of what it names.
//  - "/a/b": walked from the root; the root is never created.
//  - "//server/share/x": the network form. Linux reads "//server" as the folder "/server";
//    it is taken as the start and never created (as a server is not), the walk starts at
//    "share", and the result is "/server/share/x". No server name ("//", "///x"), or one
//    that is neither an existing folder nor a clean name, complains and gives "".
//  - A relative path ("abc/def", "~/x", "C:/x") gives "" without creating anything: it would
//    land wherever the program happens to run.
// A folder that cannot be created (no rights, a file in the way) gives "".
QString MakeFolderPath(const QString& path,
                       const std::function<void(const QString&)>& complain = {});

// The folder history SaveList.dat, a GB18030 text file with one folder per line.
// Read: at most the first 100 non-empty trimmed lines (a duplicate counts towards them),
// duplicates dropped without regard to letter case (the first spelling stays); lines end at
// CR LF, CR or LF; undecodable bytes become U+FFFD. nullopt when no file is there (the caller
// keeps its list); an unreadable file gives an empty list.
std::optional<QStringList> ReadFolderHistory(const QString& filePath);
// Write: one line per entry, ended by CR LF (line breaks inside an entry are dropped); an
// empty list is one empty line. Replaces the file as a whole. False when it could not be
// written.
bool WriteFolderHistory(const QString& filePath, const QStringList& folders);
// ProgramFolder() + "SaveList.dat".
QString FolderHistoryPath();

// The target path of a download: folder (a "/" added when missing) + name + "." + type, with
// no "." for an empty type. The name is shortened when the component would not fit the file
// system (see TargetFileName). "" when the folder is empty or the component would not be
// usable (a "/" in the name or the type, a name like ".." with no type).
QString TargetFilePath(const QString& folder, const QString& name, const QString& type);

// The name part of TargetFilePath: `name` as it ends up in the file name, shortened to fit
// with "." + type. Text of a row and its file stay in step when the row takes this.
QString TargetFileName(const QString& name, const QString& type);

// The rename rule applied when a transfer starts and the same-name option is "重命名":
// the plain target when `overwrite` is true or nothing is there; otherwise name[001],
// name[002], ... (three digits at least) with the "[" "]" of the name turned into "『" "』",
// and a numeric bracket group of the name ("a[2]b" -> "a", counter 2) taken as the
// counter's start. Anything at a candidate takes the name (a file, a folder, a link), so the
// result can always be created. `newName` receives the name for the row's Text (shortened
// like the path when it had to be). "" when no usable target can be built.
QString RenameTargetPath(const QString& folder, const QString& name, const QString& type,
                         bool overwrite, QString& newName);

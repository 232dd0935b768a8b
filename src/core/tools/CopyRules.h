#pragma once

#include <QList>
#include <QString>

#include <optional>

// The rules of the copy dialog: how a path is split, how a numbered copy is named, and what
// becomes of a file whose name already exists in the target folder. Nothing here shows a
// window. Paths use "/"; folder paths end with "/".

// The folder of `path` up to and including its last "/" ("" when there is none); `baseName`
// and `extension` receive the file name's parts: the extension is the text after the last "."
// unless it is seven characters or longer, or there is no "." or nothing before it (".pdf"),
// in which cases the whole name is the base name and the extension "". Blanks are kept: on
// Linux "a .pdf" and "a.pdf" are two files, and a copy must not take one for the other.
QString SplitPath(const QString& path, QString& extension, QString& baseName);

// The copy number at the end of `name` ("paper[002]" gives "002" and the base "paper"): a
// trimmed run of digits between the last "[" and a final "]". Otherwise, or when nothing is
// left before the "[", "" and the whole name as base.
QString SplitCopyNumber(const QString& name, QString& base);

// The same-name options of the dialog, by their index.
namespace SameName {
inline constexpr int Skip = 1;                       // "跳过"
inline constexpr int Overwrite = 2;                  // "覆盖"
inline constexpr int AutoRename = 3;                 // "自动重命名"
inline constexpr int OverwriteIfSameSizeAndTime = 4; // otherwise rename
inline constexpr int OverwriteIfSameSize = 5;        // otherwise rename
inline constexpr int Default = OverwriteIfSameSizeAndTime;
} // namespace SameName

// A stored option index; anything outside 1 to 5 gives the default option 4.
int SameNameOptionFrom(int index);

enum class CopyDecision {
    Copy,       // the target name is free
    Skip,       // the target exists and stays
    Replace,    // the target exists and is replaced
    Rename,     // a numbered name is used beside the existing target
    SameFolder, // the source already lies in the target folder: left alone
};

// True when the file at `source` lies directly in `folder`, by what the folders are rather
// than how they are spelled: "/a/X/" and "/a/x/" are two folders here, and a link may lead to
// the same folder under another name.
bool LiesInFolder(const QString& source, const QString& folder);

// What happens with `source` copied to `target` under `option`. Sizes are byte lengths,
// times the last-modified times, compared exactly.
CopyDecision DecideCopy(int option, const QString& source, const QString& target);

// Copies `source` to `target` through a temporary file in the target's folder, which takes
// the target's name only once the whole file was written: a copy that fails (the source
// cannot be read, the disk is full) leaves an existing target as it was and nothing behind.
// The copy keeps the source's modification time. Without `replace` an existing target is not
// touched and the copy fails. On failure `reason` (when given) says why, in the user's words.
bool CopyFileSafely(const QString& source, const QString& target, bool replace,
                    QString* reason = nullptr);

// Copies `source` into `targetFolder` under the first free numbered name: the source's base
// name without its copy number, then base[001], base[002], ... (three digits at least), the
// extension kept. Any entry at a candidate (file, folder, link) takes the name. The path made,
// or nullopt when there is no file at `source` or the copy failed (`reason` says why).
std::optional<QString> CopyWithAutoRename(const QString& source, const QString& targetFolder,
                                          QString* reason = nullptr);

struct CopyOutcome {
    CopyDecision decision = CopyDecision::Copy;
    bool copied = false;
    QString target;  // the file written (or that would have been)
    QString failure; // why a copy that was to be made was not; "" otherwise
};

// One file of a copy run: `source` into `targetFolder` under the same-name `option`. The
// file keeps its name exactly, blanks included.
CopyOutcome CopyIntoFolder(const QString& source, const QString& targetFolder, int option);

struct CopyFailure {
    QString source;
    QString reason;
};

// The most failures the end of a run names one by one; the rest are counted.
inline constexpr int kNamedCopyFailures = 20;

// What the end of a copy run tells the user: "复制文件完成！", how many files were copied and
// how many failed, then one line "复制失败：" with the file and the reason per failure.
QString CopyRunReport(int copied, const QList<CopyFailure>& failures);

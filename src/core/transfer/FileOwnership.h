#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Which files in a save folder are the program's own. A row owns a file only when this
// program's commit put it there for that row: the commit records what it wrote, and the file
// stays the row's only while the name still holds exactly that file. Everything else is the
// user's, also a file a row skipped or found under its name. Every step that would replace,
// rename or delete a file asks ClaimFile first.

// What a commit wrote: the name, and the file's identity and state at that moment.
struct OwnedFile {
    QString path;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 mtimeNs = 0;
    // It came with an answer of status 400 or more (kept as the page it was): the file of a
    // failed transfer, unlike a good file an earlier transfer of the row left.
    bool errorAnswer = false;

    bool IsSet() const { return !path.isEmpty(); }
    // One line of text for the row's hidden slot and the journal; "" when not set.
    QString ToText() const;
    // Not set for text that is not of that form.
    static OwnedFile FromText(const QString& text);
    bool operator==(const OwnedFile& other) const;
};

// The regular file that `path` itself names (never what a link points to); not set when there
// is none.
OwnedFile IdentityAt(const QString& path);
// The same for an open file, recorded under `path`.
OwnedFile IdentityOfOpenFile(int fd, const QString& path);

enum class FileClaim {
    Owned,    // the row's own file, as its commit left it
    Nothing,  // nothing at the path
    NotOwned, // the row committed nothing there: the file is the user's
    Changed,  // the row's file was changed or replaced since its commit
};

// May a step of the row touch the file at `path`? Only when the row's record names that path
// and the name still holds the same file, unchanged (device, inode, size, modification time).
FileClaim ClaimFile(const OwnedFile& record, const QString& path);
// Why a step left the file alone, for the row's reason column; "" for Owned and Nothing.
QString ClaimRefusal(FileClaim claim, const QString& action);

// `path` names an entry directly inside `folder` (no "..", no sub-folder).
bool PathDirectlyInFolder(const QString& path, const QString& folder);

// What a complete body is, judged by its bytes (and the answer's Content-Type) before it may
// take a name.
enum class BodyKind {
    Expected, // the row's own kind by the file-type table (a PDF starts with "%PDF-")
    WebPage,  // a page, a JSON or XML answer: anything but the file
    Other,    // some other file, or the row's kind cannot be told from bytes
    BotCheck, // a "checking your browser" page: no download, it never takes a name
};
using BodyJudge = std::function<BodyKind(const QString& bodyPath, const QString& contentType)>;
struct CommitRule;
// Tells from a body and its answer (status, cf-mitigated, the address reached) whether it is a
// bot check's page. Must be safe on any thread.
using CheckJudge = std::function<bool(const QString& bodyPath, const CommitRule& answer)>;
// Called with what a commit is about to put at its name and the answer's status, before the
// rename: a kill right after the rename then still finds the commit recorded. Must be safe on
// any thread.
using CommitRecorder = std::function<void(const OwnedFile& file, int status)>;

// How a body may take its name.
struct CommitRule {
    qint64 expected = -1; // the announced length; -1 when none was announced
    int status = 200;     // the answer's HTTP status
    QString contentType;  // the answer's Content-Type without parameters
    BodyJudge judge;      // none: every body is Other
    // A bot check is judged before the commit, so that its page is never seen in the folder,
    // not even for the moment an error answer's page would be kept there to be told apart.
    QByteArray cfMitigated; // the answer's "cf-mitigated" header
    QString finalUrl;       // where the answer came from after redirects
    CheckJudge botCheck;    // none: no body is a bot check
    // What the target may hold for the body to go over it: the row's own file, as recorded,
    // or, with `overwrite` (the user's 覆盖 for this transfer), whatever is there.
    OwnedFile replaceable;
    bool overwrite = false;
    CommitRecorder record;
};

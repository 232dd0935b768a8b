#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// A cache folder held open. The cleaner may run as root over other users' caches: a path that
// was checked and then deleted by name could meanwhile lead through a link that its owner
// swapped in, out of the cache. Through a held folder every step below it goes from an open
// folder to one of its entries by name (openat, fstatat, unlinkat) and never follows a link,
// so whatever is renamed or swapped afterwards, a walk or a deletion stays inside the folder
// that was opened.
class CacheFolder {
public:
    // Opens the folder at the absolute path `folder`. With `followLink` a link given as
    // `folder` itself is followed (the running user's own cache may be reached through one);
    // without, it is refused. Links further up the path are the system's to follow. nullptr
    // when there is no folder to open.
    static std::shared_ptr<const CacheFolder> Open(const QString& folder, bool followLink);

    ~CacheFolder();
    CacheFolder(const CacheFolder&) = delete;
    CacheFolder& operator=(const CacheFolder&) = delete;

    // The path it was opened by, without a final "/".
    const QString& path() const { return path_; }
    // Where the opened folder really is, as the system records the open folder.
    const QString& realPath() const { return realPath_; }

    enum class Wanted { Folders, Files };
    // Appends the full paths (below path()) of the folders or of the files (whatever is
    // neither a folder nor a link) of this folder, and with `recursive` of every sub-folder;
    // each level's entries in name order, a folder before its own sub-folders.
    void list(QStringList& out, bool recursive, Wanted wanted) const;

    // True when `path` names an entry below this folder: path() or realPath(), "/", and names
    // that are neither empty, "." nor "..".
    bool holds(const QString& path) const;
    // Deletes the entry at `path` when it lies below this folder (holds) and is neither a
    // folder nor a link.
    bool removeFile(const QString& path) const;
    // Removes the folder at `path` when it lies below this folder, is no link and is empty.
    bool removeEmptyFolder(const QString& path) const;
    // Copies the plain file at `path` below this folder, reached as removeFile reaches it, to
    // the new file `target`; false (and no `target`) when that fails.
    bool copyFile(const QString& path, const QString& target) const;

private:
    CacheFolder(int handle, QString path, QString realPath);

    int handle_ = -1;
    QString path_;
    QString realPath_;
};

using CacheFolders = QList<std::shared_ptr<const CacheFolder>>;

// Test seam: called at the two moments where a folder swapped for a link would once have led
// a walk or a deletion out of the cache: before the walk opens a sub-folder it listed, and
// after a deletion checked its entry, just before it deletes it. An empty hook is none.
enum class CacheWalkStep { EnteringFolder, Deleting };
void SetCacheWalkHook(std::function<void(CacheWalkStep step, const QString& path)> hook);

#pragma once

#include "core/tools/CacheFolder.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The embedded browser's disk cache and the folder walks of the cache viewer. Nothing here
// shows a window.
//
// The browser (Chromium inside QtWebEngine) keeps its HTTP cache in the profile's cache path
// under "Cache/Cache_Data/" as a "simple cache": one file per entry, named by 16 hex digits of
// the key's hash followed by "_0", laid out as
//   header      24 bytes: magic 30 5C 72 A7 1B 6D FB FC, version (u32), key length (u32),
//               key hash (u32), padding (u32); all numbers little-endian
//   key         the address, behind "1/0/" and possibly a "_dk_<sites> " isolation prefix
//   stream 1    the response body, byte for byte as the server sent it (still content-encoded)
//   end record  24 bytes: magic D8 41 0D 97 45 6F FA F4, flags (u32), CRC-32 (u32),
//               stream size (u32), padding (u32)
//   stream 0    the response head (status line and headers, NUL-separated, in a pickle)
//   [32 bytes   SHA-256 of the key, when flag 2 of the last end record is set]
//   end record  for stream 0
// A "<hash>_1" file holds an optional third stream and "<hash>_s" sparse data. The files
// "index" and "index-dir/the-real-index" are the backend's own bookkeeping.

inline constexpr char kCacheDataSubfolder[] = "Cache/Cache_Data";

// One entry read from its file.
struct CacheEntry {
    QString filePath; // the "<hash>_0" file
    QString key;      // as stored
    QString address;  // the source address the key names
    qint64 bodyOffset = 0;
    qint64 bodySize = 0;
    // "HTTP/1.1 200 OK", "Content-Type: text/html", ... as far as they could be read.
    QStringList responseHead;

    // The value of a response header (name compared without regard to case), or "".
    QString header(const QString& name) const;
};

// True for the name of an entry's main file: 16 hex digits and "_0".
bool IsCacheEntryFileName(const QString& fileName);

// The address inside a cache key: leading "<digits>/" groups dropped, and of a "_dk_" key
// (the cache partitioned by site) the part after its last blank.
QString AddressFromCacheKey(const QString& key);

// Reads and checks one entry file; nullopt when it is no complete entry (wrong magic, a
// length that does not fit the file, a symbolic link, an unreadable file).
std::optional<CacheEntry> ReadCacheEntry(const QString& filePath);

// The body of the entry, or nullopt when the file changed or cannot be read.
std::optional<QByteArray> ReadCacheBody(const CacheEntry& entry);

// Writes the body of the entry to `targetPath` (created or replaced), with its transfer
// compression undone (Content-Encoding gzip, deflate or br; a body that does not decode is
// written as stored); false on failure.
bool SaveCacheBody(const CacheEntry& entry, const QString& targetPath);

struct CacheListing {
    QList<CacheEntry> entries; // oldest first (by the files' modification times)
    bool ok = true;            // false when the folder exists but could not be listed
};

// Every complete entry of a cache data folder. A folder that does not exist (nothing cached
// yet) is an empty listing, not a failure. Links are never followed.
CacheListing ListCacheEntries(const QString& cacheDataFolder);

// Removes the files of the entry whose main file is `entryFilePath` ("<hash>_0", "<hash>_1",
// "<hash>_s" of the same folder). True when the main file is gone afterwards. The simple
// cache takes a missing entry file for a miss and fetches again, also while the browser runs.
bool DeleteCacheEntryFiles(const QString& entryFilePath);

// True for the backend's bookkeeping files ("index", anything under "index-dir").
bool IsCacheBookkeepingFile(const QString& path);

// A file name for a cache entry's body, taken from its address: the address's last segment
// made safe for the file system; the host when the address ends in "/"; "cache" when neither
// gives a name. When that name has no type, one from the entry's Content-Type is added
// (".html", ".pdf", ...).
QString CacheBodyFileName(const CacheEntry& entry);

// The type (extension) of the file an address or a path names: see UrlFileType in the
// viewer's documentation. "https://h/files/paper.pdf?x=1" gives "pdf".
QString UrlFileType(const QString& text);

// --- Folder walks. They never follow a symbolic link: a link is neither listed nor entered,
// so a walk stays inside the folder it was given. Relative folder paths are refused. ---

// Appends the full paths of the sub-folders of `folder` to `list` (with "/" between, none at
// the end), and with `recursive` those of every sub-folder, each folder before its own
// sub-folders.
void ListSubfolders(const QString& folder, QStringList& list, bool recursive);

// The same for the files (every entry that is neither a folder nor a link).
void ListFiles(const QString& folder, QStringList& list, bool recursive);

// Deletes one file, but only when it is neither a folder nor a link and lies below one of
// `allowedFolders`, reached from that folder name by name without following a link (the
// first allowed folder whose path it begins with). Whatever stands in the way (rights, a file
// in use) is left to the file system: the deletion then fails and nothing else is tried.
bool ForceDeleteFile(const QString& path, const CacheFolders& allowedFolders);
// The same with the allowed folders opened now (a link given as one of them is followed).
bool ForceDeleteFile(const QString& path, const QStringList& allowedFolders);

// Removes `folder` when it is empty, is no link and lies below one of `allowedFolders` (never
// one of those folders itself), reached as ForceDeleteFile reaches a file.
bool RemoveEmptyFolder(const QString& folder, const CacheFolders& allowedFolders);
bool RemoveEmptyFolder(const QString& folder, const QStringList& allowedFolders);

// True when `path` (resolved) is one of `folders` or lies inside one of them (resolved).
bool LiesInside(const QString& path, const QStringList& folders);

// --- The users' cache folders ---

// Where the users of this machine keep this program's browser cache.
struct UserCacheLayout {
    QStringList profileRoots;   // folders whose sub-folders are users' homes ("/home/")
    QStringList profileFolders; // single homes ("/root/", the running user's home)
    QStringList cacheSubPaths;  // the cache folder relative to a home, first match first
    // The running program's own cache folder: taken even when the user reaches it through a
    // link (a ~/.cache moved to another disk); every other user's cache folder must lie
    // inside that user's home.
    QString ownCacheFolder;
};

// The layout for the system named by `osText` (the composed operating-system text), the
// running user's `home` and the program's own browser cache folder: on Linux the homes under
// "/home/" and "/root/"; on another system the homes beside the running user's. The running
// user's home is always one of them. The sub-paths are the own cache folder relative to the
// home (when it lies there) and the usual ".cache/Quillfetch/QtWebEngine/Quillfetch".
UserCacheLayout UserCacheLayoutFor(const QString& osText, const QString& home,
                                   const QString& ownCacheFolder);

struct UserCacheFolder {
    QString userName; // the home folder's name
    QString folder;   // the cache folder, without a final "/"
    // The cache folder, held open since it was found inside its home: walks and deletions go
    // through it, so a folder swapped for a link later cannot take them elsewhere.
    std::shared_ptr<const CacheFolder> opened;
};

// The cache folders of the layout, home by home in the order found, and the homes looked at
// (`profileFolders`). A home or a cache folder that is a link, or a cache folder that leads
// out of its home (judged by where its open handle really is), is passed over.
QList<UserCacheFolder> FindUserCacheFolders(const UserCacheLayout& layout,
                                            QStringList* profileFolders = nullptr);

// What the viewer's delete commands do with one row of its list.
enum class CacheRowAction {
    Keep,        // a cookie address, a text file, or nothing to delete
    DeleteFile,  // a file of the all-users listing
    DeleteEntry, // an entry of the running user's cache (its files)
};

// `text` is the row's first column, `type` its TYPE and `filePath` its FilePath. Rows of the
// all-users listing begin with "用户:".
CacheRowAction CacheRowActionFor(const QString& text, const QString& type, const QString& filePath);

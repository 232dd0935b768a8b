#include "core/tools/CacheFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::function<void(CacheWalkStep, const QString&)>& Hook() {
    static std::function<void(CacheWalkStep, const QString&)> hook;
    return hook;
}

void CallHook(CacheWalkStep step, const QString& path) {
    if (Hook())
        Hook()(step, path);
}

// Closes a handle when it goes out of scope.
class Handle {
public:
    explicit Handle(int fd) : fd_(fd) {}
    ~Handle() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int OpenSubfolder(int parent, const QString& name) {
    return ::openat(parent, QFile::encodeName(name).constData(), kFolderFlags);
}

bool StatusAt(int folder, const QString& name, struct stat& status) {
    return ::fstatat(folder, QFile::encodeName(name).constData(), &status, AT_SYMLINK_NOFOLLOW) ==
           0;
}

QString WithoutTrailingSlashes(const QString& folder) {
    QString result = folder;
    while (result.size() > 1 && result.endsWith('/'))
        result.chop(1);
    return result;
}

QString ChildPath(const QString& folder, const QString& name) {
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// The names of a folder's entries in name order, read through a handle of its own.
QStringList EntryNames(int folder) {
    QStringList names;
    const int own = ::dup(folder);
    if (own < 0)
        return names;
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        ::close(own);
        return names;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names << name;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void ListAt(int folder, const QString& folderPath, QStringList& out, bool recursive,
            CacheFolder::Wanted wanted) {
    const bool driveRoot = folderPath == QLatin1String("/");
    QStringList subfolders;
    for (const QString& name : EntryNames(folder)) {
        // Hidden and system entries count, as their attributes did.
        if (name.compare(QLatin1String("pagefile.sys"), Qt::CaseInsensitive) == 0)
            continue;
        if (driveRoot && name.compare(QLatin1String("RECYCLER"), Qt::CaseInsensitive) == 0)
            continue;
        struct stat status {};
        if (!StatusAt(folder, name, status) || S_ISLNK(status.st_mode))
            continue;
        if (S_ISDIR(status.st_mode)) {
            subfolders << name;
            if (wanted == CacheFolder::Wanted::Folders)
                out << ChildPath(folderPath, name);
        } else if (wanted == CacheFolder::Wanted::Files) {
            out << ChildPath(folderPath, name);
        }
    }
    if (!recursive)
        return;
    for (const QString& name : std::as_const(subfolders)) {
        const QString path = ChildPath(folderPath, name);
        CallHook(CacheWalkStep::EnteringFolder, path);
        // What was a folder when listed may be a link by now: it is not opened then.
        const Handle sub(OpenSubfolder(folder, name));
        if (sub.valid())
            ListAt(sub.get(), path, out, true, wanted);
    }
}

// The names below `folder` that `path` consists of, or none when it does not lie below it.
QStringList NamesBelow(const QString& folder, const QString& path) {
    if (folder.isEmpty())
        return {};
    const QString prefix = folder.endsWith('/') ? folder : folder + '/';
    const QString trimmed = WithoutTrailingSlashes(path);
    if (!trimmed.startsWith(prefix) || trimmed.size() == prefix.size())
        return {};
    const QStringList names = trimmed.mid(prefix.size()).split('/');
    for (const QString& name : names) {
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
            name.contains(QChar(0)))
            return {};
    }
    return names;
}

// A handle of the folder that holds the last of `names`, reached name by name from `top`
// without following a link; invalid when a step fails.
int OpenHoldingFolder(int top, const QStringList& names) {
    int current = ::dup(top);
    for (qsizetype i = 0; current >= 0 && i + 1 < names.size(); ++i) {
        const int next = OpenSubfolder(current, names.at(i));
        ::close(current);
        current = next;
    }
    return current;
}

} // namespace

void SetCacheWalkHook(std::function<void(CacheWalkStep, const QString&)> hook) {
    Hook() = std::move(hook);
}

CacheFolder::CacheFolder(int handle, QString path, QString realPath)
    : handle_(handle), path_(std::move(path)), realPath_(std::move(realPath)) {}

CacheFolder::~CacheFolder() {
    if (handle_ >= 0)
        ::close(handle_);
}

std::shared_ptr<const CacheFolder> CacheFolder::Open(const QString& folder, bool followLink) {
    if (!folder.startsWith('/') || folder.contains(QChar(0)))
        return nullptr;
    const QString path = WithoutTrailingSlashes(folder);
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int handle = ::open(QFile::encodeName(path).constData(), flags);
    if (handle < 0)
        return nullptr;
    // Where the handle really leads, from the system's record of it rather than from the path
    // again, which may have changed since it was opened.
    const QByteArray procLink = "/proc/self/fd/" + QByteArray::number(handle);
    QByteArray target(4096, '\0');
    const ssize_t length = ::readlink(procLink.constData(), target.data(), target.size());
    const QString realPath = length > 0 && length < target.size()
                                 ? QFile::decodeName(target.left(length))
                                 : QFileInfo(path).canonicalFilePath();
    return std::shared_ptr<const CacheFolder>(new CacheFolder(handle, path, realPath));
}

void CacheFolder::list(QStringList& out, bool recursive, Wanted wanted) const {
    ListAt(handle_, path_, out, recursive, wanted);
}

bool CacheFolder::holds(const QString& path) const {
    return !NamesBelow(path_, path).isEmpty() || !NamesBelow(realPath_, path).isEmpty();
}

namespace {

enum class Removal { File, EmptyFolder };

bool RemoveBelow(int top, const QString& path, const QStringList& names, Removal removal) {
    if (names.isEmpty())
        return false;
    const Handle holder(OpenHoldingFolder(top, names));
    if (!holder.valid())
        return false;
    const QString& name = names.last();
    struct stat status {};
    if (!StatusAt(holder.get(), name, status) || S_ISLNK(status.st_mode))
        return false;
    if (S_ISDIR(status.st_mode) != (removal == Removal::EmptyFolder))
        return false;
    CallHook(CacheWalkStep::Deleting, path);
    // By name inside the folder held open: should the entry have become a link since, the
    // link goes, never what it leads to; a folder is only removed when empty.
    return ::unlinkat(holder.get(), QFile::encodeName(name).constData(),
                      removal == Removal::EmptyFolder ? AT_REMOVEDIR : 0) == 0;
}

} // namespace

bool CacheFolder::removeFile(const QString& path) const {
    QStringList names = NamesBelow(path_, path);
    if (names.isEmpty())
        names = NamesBelow(realPath_, path);
    return RemoveBelow(handle_, path, names, Removal::File);
}

bool CacheFolder::removeEmptyFolder(const QString& path) const {
    QStringList names = NamesBelow(path_, path);
    if (names.isEmpty())
        names = NamesBelow(realPath_, path);
    return RemoveBelow(handle_, path, names, Removal::EmptyFolder);
}

bool CacheFolder::copyFile(const QString& path, const QString& target) const {
    QStringList names = NamesBelow(path_, path);
    if (names.isEmpty())
        names = NamesBelow(realPath_, path);
    if (names.isEmpty())
        return false;
    const Handle holder(OpenHoldingFolder(handle_, names));
    if (!holder.valid())
        return false;
    // Not blocking: a pipe swapped in for the file would otherwise hold the window.
    const int fd = ::openat(holder.get(), QFile::encodeName(names.last()).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    QFile in;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        !in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    constexpr qint64 kChunk = 1 << 20;
    for (;;) {
        const QByteArray chunk = in.read(kChunk);
        if (chunk.isEmpty())
            break;
        if (out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            return false;
        }
    }
    if (in.error() != QFileDevice::NoError) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

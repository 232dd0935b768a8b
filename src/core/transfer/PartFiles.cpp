#include "core/transfer/PartFiles.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/file.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString PartFilePrefix() {
    return QStringLiteral(".quillfetch-");
}

QString PartFileSuffix() {
    return QStringLiteral(".part");
}

bool IsPartFileName(const QString& fileName) {
    // The embedded browser writes a body it downloads under the name it was given followed by
    // ".download", until it is complete.
    const QString name = fileName.endsWith(QLatin1String(".download"))
                             ? fileName.chopped(int(qstrlen(".download")))
                             : fileName;
    return name.size() > PartFilePrefix().size() + PartFileSuffix().size() &&
           name.startsWith(PartFilePrefix()) && name.endsWith(PartFileSuffix()) &&
           !name.contains(QLatin1Char('/'));
}

bool IsReservation(const QString& path) {
    if (path.isEmpty())
        return false;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool reservation = false;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 2) {
        unsigned char bytes[2] = {0xff, 0xff};
        reservation = ::pread(fd, bytes, 2, 0) == 2 && bytes[0] == 0x01 && bytes[1] == 0x00;
    }
    ::close(fd);
    return reservation;
}

bool IsOwnLeftover(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return IsPartFileName(path.mid(slash + 1)) || IsReservation(path);
}

QString NewPartFileName() {
    const quint64 middle = QRandomGenerator::global()->generate64();
    return PartFilePrefix() + QString::number(middle, 36) + PartFileSuffix();
}

namespace {

QString absoluteClean(const QString& path) {
    return QDir::cleanPath(QDir(path.isEmpty() ? QStringLiteral(".") : path).absolutePath());
}

QString folderKeyOf(const QString& path) {
    const QString absolute = absoluteClean(path);
    return absolute.left(std::max<qsizetype>(1, absolute.lastIndexOf(QLatin1Char('/'))));
}

struct PartRegistry {
    QMutex mutex;
    QSet<QString> cleaned; // folders cleaned in this run
    QSet<QString> kept;    // absolute paths of kept bodies
};

PartRegistry& registry() {
    static PartRegistry parts;
    return parts;
}

// Removes `name` in the open folder `dir` when it is a leftover nobody holds: a regular file
// (never a link), of the temporary pattern or a reservation, whose lock can be taken.
bool removeIfUnheld(int dir, const char* name, bool partName) {
    const int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool removed = false;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        bool leftover = partName;
        if (!leftover && info.st_size == 2) {
            unsigned char bytes[2] = {0xff, 0xff};
            leftover = ::pread(fd, bytes, 2, 0) == 2 && bytes[0] == 0x01 && bytes[1] == 0x00;
        }
        // The name still holds the file looked at.
        struct stat now {};
        if (leftover && ::fstatat(dir, name, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == info.st_dev && now.st_ino == info.st_ino)
            removed = ::unlinkat(dir, name, 0) == 0;
    }
    ::close(fd);
    return removed;
}

} // namespace

int RemoveOwnLeftovers(const QString& folder) {
    const QString path = folder.isEmpty() ? QStringLiteral(".") : folder;
    DIR* listing = ::opendir(QFile::encodeName(path).constData());
    if (!listing)
        return 0;
    const int dir = ::dirfd(listing);
    const QString folderKey = absoluteClean(path);
    QSet<QString> kept;
    {
        PartRegistry& parts = registry();
        const QMutexLocker lock(&parts.mutex);
        kept = parts.kept;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(listing)) {
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        const bool partName = IsPartFileName(name);
        if (partName && kept.contains(folderKey + QLatin1Char('/') + name))
            continue;
        if (!partName) {
            // Only a two-byte file can be a reservation; most names end here without an open.
            struct stat info {};
            if (::fstatat(dir, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(info.st_mode) || info.st_size != 2)
                continue;
        }
        if (removeIfUnheld(dir, entry->d_name, partName))
            ++removed;
    }
    ::closedir(listing);
    return removed;
}

void CleanFolderBeforeWriting(const QString& folder) {
    const QString key = absoluteClean(folder);
    {
        PartRegistry& parts = registry();
        const QMutexLocker lock(&parts.mutex);
        if (parts.cleaned.contains(key))
            return;
        parts.cleaned.insert(key);
    }
    RemoveOwnLeftovers(key);
}

void SetKeptPartFiles(const QSet<QString>& paths) {
    QSet<QString> kept;
    for (const QString& path : paths) {
        if (!path.isEmpty())
            kept.insert(absoluteClean(path));
    }
    PartRegistry& parts = registry();
    const QMutexLocker lock(&parts.mutex);
    for (const QString& path : std::as_const(parts.kept)) {
        if (!kept.contains(path))
            parts.cleaned.remove(folderKeyOf(path));
    }
    parts.kept = kept;
}

bool IsKeptPartFile(const QString& path) {
    PartRegistry& parts = registry();
    const QMutexLocker lock(&parts.mutex);
    return parts.kept.contains(absoluteClean(path));
}

bool RemovePartFile(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    if (!IsPartFileName(name))
        return false;
    const QString folder =
        slash < 0 ? QStringLiteral(".") : path.left(std::max<qsizetype>(1, slash));
    const int dir =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    const bool removed = removeIfUnheld(dir, QFile::encodeName(name).constData(), true);
    ::close(dir);
    return removed;
}

bool PartFileIsHeld(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

bool FolderAcceptsFiles(const QString& folder) {
    QString path = folder.isEmpty() ? QStringLiteral(".") : folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    for (int attempt = 0; attempt < 10; ++attempt) {
        const QByteArray name = QFile::encodeName(path + NewPartFileName());
        const int fd =
            ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool written = ::write(fd, "\x01", 1) == 1;
        ::close(fd);
        ::unlink(name.constData());
        return written;
    }
    return false;
}

#include "core/transfer/FileOwnership.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <sys/stat.h>

namespace {

OwnedFile identityOf(const struct stat& info, const QString& path) {
    OwnedFile file;
    if (!S_ISREG(info.st_mode))
        return file;
    file.path = path;
    file.device = static_cast<quint64>(info.st_dev);
    file.inode = static_cast<quint64>(info.st_ino);
    file.size = static_cast<qint64>(info.st_size);
    file.mtimeNs = static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return file;
}

bool sameFile(const OwnedFile& a, const OwnedFile& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size && a.mtimeNs == b.mtimeNs;
}

} // namespace

QString OwnedFile::ToText() const {
    if (!IsSet())
        return {};
    // The path goes last: it may hold any character but a line break.
    return QStringLiteral("%1:%2:%3:%4:%5:%6")
        .arg(device)
        .arg(inode)
        .arg(size)
        .arg(mtimeNs)
        .arg(errorAnswer ? 1 : 0)
        .arg(path);
}

OwnedFile OwnedFile::FromText(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    OwnedFile file;
    if (parts.size() < 6 || (parts[4] != QLatin1String("0") && parts[4] != QLatin1String("1")))
        return file;
    bool ok[4] = {};
    file.device = parts[0].toULongLong(&ok[0]);
    file.inode = parts[1].toULongLong(&ok[1]);
    file.size = parts[2].toLongLong(&ok[2]);
    file.mtimeNs = parts[3].toLongLong(&ok[3]);
    file.errorAnswer = parts[4] == QLatin1String("1");
    const QString path = text.section(QLatin1Char(':'), 5);
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || file.size < 0 || !path.startsWith('/'))
        return OwnedFile{};
    file.path = path;
    return file;
}

bool OwnedFile::operator==(const OwnedFile& other) const {
    return path == other.path && sameFile(*this, other);
}

OwnedFile IdentityAt(const QString& path) {
    struct stat info {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return identityOf(info, path);
}

OwnedFile IdentityOfOpenFile(int fd, const QString& path) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {};
    return identityOf(info, path);
}

FileClaim ClaimFile(const OwnedFile& record, const QString& path) {
    struct stat info {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return FileClaim::Nothing;
    if (!record.IsSet() || record.path != path)
        return FileClaim::NotOwned;
    const OwnedFile now = identityOf(info, path);
    return now.IsSet() && sameFile(now, record) ? FileClaim::Owned : FileClaim::Changed;
}

QString ClaimRefusal(FileClaim claim, const QString& action) {
    switch (claim) {
    case FileClaim::NotOwned:
        return QStringLiteral("文件不是本程序为该项下载的，未%1").arg(action);
    case FileClaim::Changed:
        return QStringLiteral("文件在下载后已被改动或替换，未%1").arg(action);
    case FileClaim::Owned:
    case FileClaim::Nothing:
        break;
    }
    return {};
}

bool PathDirectlyInFolder(const QString& path, const QString& folder) {
    if (path.isEmpty() || folder.isEmpty() || !path.startsWith(QLatin1Char('/')))
        return false;
    const QString cleanPath = QDir::cleanPath(path);
    const qsizetype slash = cleanPath.lastIndexOf(QLatin1Char('/'));
    // A path that cleaning changed took a detour ("..", "//", "."): it is not taken on trust.
    return cleanPath == path && slash > 0 && slash + 1 < cleanPath.size() &&
           cleanPath.left(slash) == QDir::cleanPath(folder);
}

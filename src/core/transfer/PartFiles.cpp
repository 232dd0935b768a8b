#include "core/transfer/PartFiles.h"

#include <QFile>

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
    return fileName.size() > PartFilePrefix().size() + PartFileSuffix().size() &&
           fileName.startsWith(PartFilePrefix()) && fileName.endsWith(PartFileSuffix()) &&
           !fileName.contains(QLatin1Char('/'));
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

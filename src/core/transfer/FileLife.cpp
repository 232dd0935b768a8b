#include "core/transfer/FileLife.h"

#include "core/transfer/PartFiles.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The body is written in pieces of this size: a chunk of 2048 bytes at a time would cost a
// system call each.
constexpr qsizetype kWriteBufferBytes = 512 * 1024;
// A piece at least this large goes to the file as it is, without a copy into the buffer.
constexpr qint64 kDirectWriteBytes = 64 * 1024;
// The disk starts writing the body out in steps of this size while it still arrives, so that
// the flush before the rename finds little left to do and the body never piles up in memory
// as unwritten pages.
constexpr qint64 kWriteBackStepBytes = 8 * 1024 * 1024;
// How far behind the newest step the steps that are waited for are.
constexpr qint64 kWriteBackLagBytes = 3 * kWriteBackStepBytes;

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

QString folderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral(".") : path.left(slash + 1);
}

bool writeAll(int fd, const char* data, qint64 size, int& error) {
    while (size > 0) {
        const ssize_t done = ::write(fd, data, static_cast<size_t>(size));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        data += done;
        size -= done;
    }
    return true;
}

} // namespace

DownloadFile::DownloadFile() = default;

DownloadFile::~DownloadFile() {
    Abandon();
}

bool DownloadFile::fail(const QString& reason) {
    error_ = reason;
    return false;
}

bool DownloadFile::failErrno(int error, const QString& action) {
    if (error == ENOSPC || error == EDQUOT || error == EACCES || error == EPERM || error == EROFS)
        return fail(DiskErrorReason(error, folderOf(target_)));
    return fail(action + QString::fromLocal8Bit(std::strerror(error)));
}

bool DownloadFile::Reserve(const QString& target) {
    Abandon();
    target_ = target;
    existed_ = false;
    committed_ = false;
    owned_ = OwnedFile{};
    kind_ = BodyKind::Other;
    error_.clear();
    if (target.isEmpty() || target.endsWith(QLatin1Char('/')))
        return fail(QStringLiteral("文件名无效"));
    CleanFolderBeforeWriting(folderOf(target));

    const QByteArray name = encoded(target);
    struct stat info {};
    if (::lstat(name.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return fail(QStringLiteral("同名的文件夹已存在，无法保存文件"));
        // Replaced by a rename when the body is complete, never written to.
        existed_ = true;
        return true;
    }
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST) { // taken in between: it is someone's file now
            existed_ = true;
            return true;
        }
        return failErrno(errno, QStringLiteral("无法创建文件："));
    }
    ::flock(fd, LOCK_EX | LOCK_NB);
    int error = 0;
    struct stat own {};
    if (!writeAll(fd, "\x01\x00", 2, error) || ::fstat(fd, &own) != 0) {
        if (error == 0)
            error = errno;
        ::unlink(name.constData());
        ::close(fd);
        return failErrno(error, QStringLiteral("无法创建文件："));
    }
    reservationFd_ = fd;
    reservationDev_ = own.st_dev;
    reservationIno_ = own.st_ino;
    return true;
}

bool DownloadFile::StartBody() {
    keepBody_ = false; // a fresh body never keeps what came before
    dropBody();
    error_.clear();
    if (target_.isEmpty())
        return fail(QStringLiteral("文件名无效"));
    const QString folder = folderOf(target_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = folder + NewPartFileName();
        const QByteArray name = encoded(path);
        const int fd =
            ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return failErrno(errno, QStringLiteral("无法创建临时文件："));
        }
        ::flock(fd, LOCK_EX | LOCK_NB);
        bodyFd_ = fd;
        body_ = path;
        size_ = 0;
        buffer_.clear();
        buffer_.reserve(kWriteBufferBytes);
        onDisk_ = 0;
        writeBackStarted_ = 0;
        writeBackDone_ = 0;
        return true;
    }
    return fail(QStringLiteral("无法创建临时文件"));
}

bool DownloadFile::ResumeBody(const QString& partPath) {
    keepBody_ = false;
    dropBody();
    error_.clear();
    const qsizetype slash = partPath.lastIndexOf(QLatin1Char('/'));
    if (target_.isEmpty() || slash < 0 || !IsPartFileName(partPath.mid(slash + 1)) ||
        QFileInfo(partPath.left(slash + 1)).absoluteFilePath() !=
            QFileInfo(folderOf(target_)).absoluteFilePath())
        return fail(QStringLiteral("无法续传：临时文件不在保存文件夹中"));
    // Never through a link, and never a device or a pipe put in its place (O_NONBLOCK: a pipe
    // without a reader would hold the open).
    const int fd = ::open(encoded(partPath).constData(),
                          O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failErrno(errno, QStringLiteral("无法续传："));
    // Locked first and measured after: a writer that still holds the part (another mode's
    // disk thread, a second copy of the program) keeps it, and once it let go the part's
    // length is final.
    struct stat info {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_nlink != 1) {
        ::close(fd);
        return fail(QStringLiteral("无法续传：临时文件正被使用"));
    }
    bodyFd_ = fd;
    body_ = partPath;
    size_ = info.st_size;
    buffer_.clear();
    buffer_.reserve(kWriteBufferBytes);
    // What the part held is written out from here on like the rest.
    onDisk_ = size_;
    writeBackStarted_ = size_;
    writeBackDone_ = 0;
    return true;
}

bool DownloadFile::flushBuffer() {
    if (buffer_.isEmpty())
        return true;
    const bool written = writeOut(buffer_.constData(), buffer_.size());
    buffer_.clear();
    return written;
}

bool DownloadFile::writeOut(const char* data, qint64 size) {
    int error = 0;
    if (!writeAll(bodyFd_, data, size, error))
        return failErrno(error, QStringLiteral("写入文件失败："));
    onDisk_ += size;
    startWriteBack();
    return true;
}

void DownloadFile::startWriteBack() {
#ifdef SYNC_FILE_RANGE_WRITE
    if (onDisk_ - writeBackStarted_ < kWriteBackStepBytes)
        return;
    // Errors are left to the flush before the rename, which reports them; a file system that
    // cannot do this just writes everything then.
    ::sync_file_range(bodyFd_, writeBackStarted_, onDisk_ - writeBackStarted_,
                      SYNC_FILE_RANGE_WRITE);
    writeBackStarted_ = onDisk_;
    // The steps started long enough ago are waited for. That keeps a body's unwritten pages
    // to a few steps, whatever its size, and gives its pages, which nothing reads again, back
    // at once instead of crowding the user's other files out of memory. Waiting only for
    // steps a few behind means the disk has nearly always finished them: the single
    // connection writes on the window's thread, and a wait there stops the reading.
    const qint64 waitTo = writeBackStarted_ - kWriteBackLagBytes;
    if (waitTo - writeBackDone_ >= kWriteBackStepBytes) {
        const qint64 length = waitTo - writeBackDone_;
        ::sync_file_range(bodyFd_, writeBackDone_, length,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                              SYNC_FILE_RANGE_WAIT_AFTER);
        ::posix_fadvise(bodyFd_, writeBackDone_, length, POSIX_FADV_DONTNEED);
        writeBackDone_ = waitTo;
    }
#endif
}

bool DownloadFile::Write(const char* data, qint64 size) {
    if (bodyFd_ < 0)
        return fail(error_.isEmpty() ? QStringLiteral("写入文件失败") : error_);
    if (size <= 0)
        return true;
    size_ += size;
    if (buffer_.isEmpty() && size >= kDirectWriteBytes)
        return writeOut(data, size);
    if (buffer_.size() + size <= kWriteBufferBytes) {
        buffer_.append(data, size);
        return true;
    }
    if (!flushBuffer())
        return false;
    if (size >= kWriteBufferBytes)
        return writeOut(data, size);
    buffer_.append(data, size);
    return true;
}

bool DownloadFile::Commit(const CommitRule& rule) {
    const auto refuse = [this](const QString& reason) {
        Abandon();
        return fail(reason);
    };
    if (bodyFd_ < 0)
        return refuse(error_.isEmpty() ? QStringLiteral("写入文件失败") : error_);
    if (rule.expected >= 0 && size_ != rule.expected)
        return refuse(CutShortReason(size_, rule.expected));
    if (size_ == 0)
        return refuse(QStringLiteral("服务器没有返回任何数据"));
    if (!flushBuffer())
        return refuse(error_);
    // Judged by the bytes, never by a guess that a body looks like a page: only the row's
    // own kind may take the place of a file that is there.
    kind_ = rule.judge ? rule.judge(body_, rule.contentType) : BodyKind::Other;
    // A bot check is no download: its page takes no name, not even as a failed answer's page.
    // A body of the row's own kind that came with a good answer is the file.
    if ((kind_ != BodyKind::Expected || rule.status >= 400) && rule.botCheck &&
        rule.botCheck(body_, rule)) {
        kind_ = BodyKind::BotCheck;
        keepBody_ = false; // nothing to resume after
        return refuse(QStringLiteral("收到网站验证页面，未保存"));
    }
    if (rule.status >= 400 && (kind_ != BodyKind::WebPage || existed_))
        return refuse(ErrorAnswerReason(rule.status));
    const QByteArray target = encoded(target_);
    if (existed_) {
        if (kind_ == BodyKind::WebPage)
            return refuse(QStringLiteral("服务器返回的是网页，原有文件保留"));
        if (kind_ != BodyKind::Expected)
            return refuse(QStringLiteral("服务器返回的不是该类型的文件，原有文件保留"));
        if (rule.expected < 0)
            return refuse(QStringLiteral("服务器没有告知文件长度，无法确认文件完整，原有文件保留"));
        const FileClaim claim = ClaimFile(rule.replaceable, target_);
        if (!rule.overwrite && claim != FileClaim::Owned)
            return refuse(claim == FileClaim::Nothing
                              ? QStringLiteral("原有文件已不在")
                              : ClaimRefusal(claim, QStringLiteral("替换")));
    }
    const auto give_up = [this](int error, const QString& action) {
        failErrno(error, action);
        const QString reason = error_;
        Abandon();
        error_ = reason;
        return false;
    };
    // An existing file's permissions go to the body that replaces it; a new file keeps the
    // ordinary ones it was created with.
    struct stat old {};
    if (existed_ && ::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(bodyFd_, old.st_mode & 07777);
    if (::fdatasync(bodyFd_) != 0 && errno != EINVAL && errno != EROFS)
        return give_up(errno, QStringLiteral("写入磁盘失败："));
    // The rename keeps the file's identity: what is recorded now is what the name will hold.
    OwnedFile placed = IdentityOfOpenFile(bodyFd_, target_);
    placed.errorAnswer = rule.status >= 400;
    const int fd = bodyFd_;
    bodyFd_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
        return give_up(errno, QStringLiteral("写入磁盘失败："));
    if (rule.record && placed.IsSet())
        rule.record(placed, rule.status);
    if (::renameat(AT_FDCWD, encoded(body_).constData(), AT_FDCWD, target.constData()) != 0)
        return give_up(errno, QStringLiteral("无法替换文件："));
    body_.clear();
    committed_ = true;
    owned_ = placed;
    // The rename itself reaches the disk with the folder.
    const int folder =
        ::open(encoded(folderOf(target_)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    releaseReservation();
    return true;
}

void DownloadFile::dropBody() {
    if (keepBody_ && bodyFd_ >= 0 && size_ > 0) {
        // Whatever reaches the file is the body's beginning, so a write cut short still
        // leaves bytes a later transfer can resume after.
        flushBuffer();
        ::close(bodyFd_);
        bodyFd_ = -1;
        body_.clear();
        buffer_.clear();
        size_ = 0;
        keepBody_ = false;
        return;
    }
    keepBody_ = false;
    if (bodyFd_ >= 0) {
        ::close(bodyFd_);
        bodyFd_ = -1;
    }
    if (!body_.isEmpty()) {
        ::unlink(encoded(body_).constData());
        body_.clear();
    }
    buffer_.clear();
    size_ = 0;
}

void DownloadFile::releaseReservation() {
    if (reservationFd_ < 0)
        return;
    if (!committed_) {
        // Only the reservation made here goes: the name may hold something else by now.
        struct stat now {};
        const QByteArray name = encoded(target_);
        if (::lstat(name.constData(), &now) == 0 && now.st_dev == reservationDev_ &&
            now.st_ino == reservationIno_)
            ::unlink(name.constData());
    }
    ::close(reservationFd_);
    reservationFd_ = -1;
}

void DownloadFile::Abandon() {
    dropBody();
    releaseReservation();
}

QString ErrorAnswerReason(int status) {
    return QStringLiteral("服务器答复 %1，文件未保存").arg(status);
}

QString CutShortReason(qint64 received, qint64 expected) {
    return QStringLiteral("传输中断：只收到 %1 / %2 字节").arg(received).arg(expected);
}

QString DiskErrorReason(int error, const QString& folder) {
    if (error == ENOSPC || error == EDQUOT)
        return QStringLiteral("磁盘空间不足");
    if (error == EROFS || error == EACCES || error == EPERM)
        return QStringLiteral("文件夹不可写入：") + folder;
    return QStringLiteral("写入文件失败：") + QString::fromLocal8Bit(std::strerror(error));
}

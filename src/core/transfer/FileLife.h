#pragma once

#include "core/transfer/FileOwnership.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// A download's file, from the moment its name is taken until the body is in its place or has
// been given up. Every way a file arrives (a parallel slot, the single connection, a body
// fetched whole) goes through it:
//
// 1. Reserve: a name nothing holds gets the two bytes 01 00, created exclusively and never
//    through a link, so that a transfer of the same moment picks another name. A name that
//    exists already (a user's file, a link) is taken as it is: it is never opened for writing.
// 2. StartBody/Write: the body goes to a temporary file of its own beside the target
//    (".quillfetch-<...>.part", created exclusively), so that it can replace the target by a
//    rename on the same disk.
// 3. Commit: the length is checked against the announced one, the data is flushed to disk,
//    the commit is recorded (CommitRule::record), and one rename puts the body over the
//    target's name. A name that held a file before takes only a complete body of the row's
//    own kind, and only when that file is the row's own, unchanged, or the user chose to
//    overwrite it; anything else lands only on a name this transfer reserved. A link at that
//    name is replaced, never followed: what it pointed to keeps its bytes, and so does every
//    other name of a hard-linked file.
// 4. Abandon (also on destruction): the temporary body goes, and the reservation goes while
//    the name still holds the reservation this transfer made. A file that was there before
//    stays as it was.
//
// The reservation and the body are held locked while they are in use, so that the clean-up of
// leftovers (RemoveOwnLeftovers) never takes a running transfer's files, in this program or in
// a second copy of it.
//
// An instance is used by one thread at a time; it may be handed to another thread in between.
class DownloadFile {
public:
    DownloadFile();
    ~DownloadFile();
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;

    // Takes `target` for this transfer (see above). False, with Error(), when the target is a
    // folder or names something that is no file, or when the reservation cannot be created.
    // Before the first transfer into a folder in this run, the leftovers of earlier runs there
    // are removed.
    bool Reserve(const QString& target);
    // A fresh, empty body (an earlier one of this transfer is removed first).
    bool StartBody();
    // Takes up the temporary body an interrupted transfer of the same file left at `partPath`
    // and appends to it: it must be a regular file (not a link) of the program's pattern in
    // the target's folder that no other transfer holds. False, with the body untouched, when
    // it is not; the caller then starts a fresh one.
    bool ResumeBody(const QString& partPath);
    // From now on giving the transfer up keeps a body of at least one byte where it is (its
    // bytes are the answer's first ones, in order), so that a later transfer can resume it.
    void KeepBodyOnAbandon(bool keep) { keepBody_ = keep; }
    bool Write(const char* data, qint64 size);
    bool Write(const QByteArray& bytes) { return Write(bytes.constData(), bytes.size()); }
    // Hands what waits in memory to the file (no flush to disk).
    bool Flush() { return flushBuffer(); }
    // Bytes written to the body so far.
    qint64 BodySize() const { return size_; }
    // Puts the body in the target's place by `rule` (see above): the body must match the
    // announced length exactly and hold at least one byte; an answer of status 400 or more
    // lands only as a web page on a reserved name, and a bot check's page (CommitRule::botCheck)
    // on none. A failed write, flush, close or rename fails it, and the body is abandoned.
    bool Commit(const CommitRule& rule);
    // A body of `expected` bytes (-1: any) that may land only on a reserved name.
    bool Commit(qint64 expected = -1) {
        CommitRule rule;
        rule.expected = expected;
        return Commit(rule);
    }
    // Gives the transfer up: see above (a body kept for resuming stays). Safe to call at any
    // time, also twice.
    void Abandon();

    QString Target() const { return target_; }
    // The temporary body's path; "" while there is none.
    QString BodyPath() const { return body_; }
    // The target's name held a file (or a link) before this transfer.
    bool TargetExisted() const { return existed_; }
    bool Committed() const { return committed_; }
    // What the commit put at the target (for the row's ownership record), and how its bytes
    // were judged (also when they were refused as a bot check); not set before a commit.
    OwnedFile Owned() const { return owned_; }
    BodyKind Kind() const { return kind_; }
    // Why the last step failed, in the user's words.
    QString Error() const { return error_; }

private:
    bool fail(const QString& reason);
    bool failErrno(int error, const QString& action);
    bool flushBuffer();
    bool writeOut(const char* data, qint64 size);
    // Has the disk start on what the body holds so far (see kWriteBackStepBytes).
    void startWriteBack();
    void dropBody();
    void releaseReservation();

    QString target_;
    QString body_;
    int reservationFd_ = -1;
    dev_t reservationDev_ = 0;
    ino_t reservationIno_ = 0;
    int bodyFd_ = -1;
    QByteArray buffer_;
    qint64 size_ = 0;
    // Bytes handed to the body file, and how far its write-back was started and waited for.
    qint64 onDisk_ = 0;
    qint64 writeBackStarted_ = 0;
    qint64 writeBackDone_ = 0;
    bool existed_ = false;
    bool committed_ = false;
    bool keepBody_ = false;
    QString error_;
    OwnedFile owned_;
    BodyKind kind_ = BodyKind::Other;
};

// The reason of an answer of status 400 or more whose body was not kept.
QString ErrorAnswerReason(int status);

// The failure words of a transfer, as the row and the status bar show them.
QString CutShortReason(qint64 received, qint64 expected);
QString DiskErrorReason(int error, const QString& folder);

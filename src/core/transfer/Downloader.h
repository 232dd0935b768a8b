#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include "core/transfer/FileOwnership.h"
#include "core/transfer/Resume.h"

#include <algorithm>
#include <memory>

class Clock;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Fetches one link into one file without blocking the window, and reports progress, success
// and failure as signals on the user-interface thread. The download window keeps one per
// parallel transfer; an instance lives as long as its transfer.
//
// How a transfer goes:
// - BeginDownload writes the two bytes 01 00 at the start of the target before it returns,
//   so the name is taken on disk at once (the next transfer of the same moment picks another
//   name), then starts a fresh GET of the link.
// - The body streams into a temporary file in the target's folder, and that file replaces
//   the target only when the transfer succeeds: memory stays bounded whatever the size, and
//   a failed transfer leaves the placeholder (or the bytes an existing file had after its
//   first two) where the target is. The writing happens on a thread of its own, so a slow
//   disk holds up the transfer (reading stops while a few MiB wait for the disk), never the
//   windows.
// - When the server announces a size, the transfer succeeds once exactly that many bytes
//   arrived; a body cut short fails (the network stack can report such a body as finished
//   without error, so the bytes are counted here).
// - When it announces none, or the request fails before any answer, the link is fetched
//   again with a Referer (FallbackDownload): in chunks of 2048 bytes when that answer has a
//   Content-Length, else once more whole, without the Referer.
// - The body takes its name by the host's CommitRule (SetCommitRule): the length, status and
//   Content-Type of the answer are filled in here. An answer of status 400 or more is kept
//   only as a web page on a reserved name, and its transfer still completes, so that the host
//   can tell what page it was; ResponseStatus() tells the host the status. A bot check's
//   page takes no name at all: its transfer fails (BroughtBotCheck).
//
// - An interrupted transfer keeps its temporary body when the answer was a 200 with a length
//   and a validator (ResumePoint); given that point before the next BeginDownload, the
//   transfer asks only for the rest, and appends it when the server answers with exactly
//   that range of the same body. Any other answer starts from the first byte in a fresh
//   temporary file.
//
// Sizes are 64-bit throughout: 32-bit counters would wrap on files over 2 GiB.
//
// Destroying an instance, or CancelAsyncRead(), abandons the transfer: no signal follows,
// and the temporary file is removed. A host that ends a transfer from inside one of this
// object's signals removes it with deleteLater().
class Downloader : public QObject {
    Q_OBJECT

public:
    // Bytes taken from the fallback's answer at a time.
    static constexpr int kChunkBytes = 2048;
    // Without a byte for this long, a transfer that is receiving its body has stalled.
    static constexpr double kStallSeconds = 120.0;
    // The fallback waits this long for its answer to begin.
    static constexpr double kAnswerWaitSeconds = 60.0;

    explicit Downloader(QObject* parent = nullptr);
    ~Downloader() override;

    // Abandons the running transfer, if any; no signal follows it. Always false.
    bool CancelAsyncRead();
    // Reserves `savePath` with the bytes 01 00 and starts fetching `url` (taken as given: a
    // link without scheme fails). `referer` is kept for the fallback. Returns at once; a
    // transfer this instance was running is abandoned first.
    void BeginDownload(const QString& url, const QString& savePath, const QString& referer);

    // How the next transfers' bodies may take their name (see CommitRule); the answer's
    // length, status and Content-Type are filled in at the end. Without one, a body lands
    // only on a name its transfer reserved.
    void SetCommitRule(const CommitRule& rule) { commitRule_ = rule; }
    // What the last completed transfer put in place, and how its bytes were judged.
    OwnedFile CommittedFile() const { return committed_; }
    BodyKind CommittedKind() const { return committedKind_; }
    // The last transfer failed because its body was a bot check's page, which took no name.
    bool BroughtBotCheck() const { return botCheck_; }

    // The next BeginDownload resumes from this point when it is usable; it is used once.
    void SetResumePoint(const ResumePoint& point) { resumeWanted_ = point; }
    // What the running transfer would resume from if it were interrupted now; not usable
    // when it could not (ResumePointChanged tells when this changes).
    ResumePoint CurrentResumePoint() const { return point_; }
    // Bytes the running transfer took over from an interrupted one (0 when it began afresh).
    qint64 ResumedFrom() const { return held_; }

    // The referer given to BeginDownload; "" when none was given.
    QString StoredReferer;

    // The HTTP status of the answer the last signal reports on; 0 when no answer came.
    int ResponseStatus() const { return status_; }
    // A header of that answer ("" when it had none; the name in lower case), and the address
    // it came from after redirects.
    QByteArray ResponseHeader(const QByteArray& lowerName) const {
        return headers_.value(lowerName);
    }
    QString ResponseUrl() const { return responseUrl_; }
    // Why the transfer failed, in the user's words (the server's status and text for an
    // answer of 400 or more); "" when nothing went wrong.
    QString FailureReason() const;
    // True while a transfer runs (from BeginDownload to its last signal).
    bool IsBusy() const;

    // Seams: the clock the time limits are measured on (monotonic elapsed seconds; by
    // default the program's clock) and the network manager (by default the one shared by
    // the parallel transfers).
    void SetClock(const Clock* clock) { clock_ = clock; }
    void SetNetwork(QNetworkAccessManager* network) { network_ = network; }
    // How many received bytes may wait for the disk before reading pauses (2 MiB unless set).
    void SetDiskQueueLimit(qint64 bytes) { diskQueueLimit_ = std::max<qint64>(1, bytes); }

signals:
    // Bytes received so far against the announced total; only once a total is known.
    void DownloadProgress(qint64 received, qint64 total, const QString& path);
    void DownloadError(const QString& path);
    void DownloadComplete(qint64 size, const QString& path);
    void ResumePointChanged();

private:
    struct BodySink;

    enum class Phase {
        Idle,
        Reading,        // the first request
        FallbackChunks, // the fallback's request with the Referer
        FallbackWhole,  // the fallback's second request, read whole
        Finishing,      // everything received; the file takes the target's place
    };

    double now() const;
    QNetworkAccessManager* network() const;
    QNetworkReply* startRequest(const QUrl& url, const QString& headerBlock);
    void dropReply();
    void abandon();

    void onMetaData();
    void onReadyRead();
    void onFinished();
    void onWatch();
    // Reads the answer's head once: status, and whether a size came with it.
    bool takeHead();
    // Moves what the answer brought to the disk, as far as the disk keeps up.
    void pump();
    void drainChunks();
    // Behind: reading stops, and pump() runs again once the disk has caught up.
    enum class Disk { KeepsUp, Behind, Failed };
    Disk diskState();
    // The answer is in: decides, by the phase, how the transfer ends.
    void conclude();

    // Starts the fetch with the Referer; its outcome arrives through fallbackEnded().
    void FallbackDownload(const QUrl& url);
    void startWholeFetch();
    void fallbackEnded(bool succeeded);

    // The first request's body: the part of `wanted` when it can be taken up, else a fresh one.
    bool startFirstBody(const ResumePoint& wanted);
    // Tells the host of a new resume point; false when the host abandoned the transfer.
    bool announcePoint(const ResumePoint& point);
    // The answer to a request for the rest was taken: true to go on with this answer.
    bool takeResumeAnswer();

    // A fresh, empty body for the next request.
    void restartBody();
    void dropSink();
    // Counts the bytes as received and hands them to the disk.
    // What the answer holds now, read into a buffer that an earlier write handed back.
    QByteArray readAvailable();
    void append(QByteArray bytes);
    void toDisk(QByteArray bytes);
    // Puts the temporary file in the target's place; the outcome arrives in sinkFinished().
    void finishSink(qint64 size);
    void sinkDrained();
    void sinkFinished(bool replaced, const OwnedFile& placed, BodyKind kind);

    void succeed(qint64 size);
    void fail(const QString& reason);
    QString stallReason() const;
    QString FailureReasonOfStatus() const;

    const Clock* clock_ = nullptr;
    QNetworkAccessManager* network_ = nullptr;
    QTimer* watch_ = nullptr;
    qint64 diskQueueLimit_ = 2 * 1024 * 1024;

    Phase phase_ = Phase::Idle;
    // Bumped whenever a transfer is abandoned or begun, so that work queued for an earlier
    // one recognises that it is stale.
    quint64 generation_ = 0;
    QString url_;
    QString path_;
    QPointer<QNetworkReply> reply_;
    std::shared_ptr<BodySink> sink_;

    bool headTaken_ = false;
    bool replyFinished_ = false;
    int replyError_ = 0;
    qint64 announced_ = -1; // -1: no size announced
    qint64 written_ = 0;    // bytes handed to the disk
    qint64 finishedSize_ = 0;
    int status_ = 0;
    QString statusText_;
    QHash<QByteArray, QByteArray> headers_;
    QString responseUrl_;
    QString reason_;
    double requestStarted_ = 0.0;
    double lastGrowth_ = 0.0;
    bool pumpQueued_ = false;
    ResumePoint resumeWanted_;
    ResumePoint point_;
    CommitRule commitRule_;
    OwnedFile committed_;
    BodyKind committedKind_ = BodyKind::Other;
    bool botCheck_ = false;
    qint64 held_ = 0; // bytes of the body taken over from an interrupted transfer
};

// Returns once every body the transfers handed to their disk threads so far is written: a
// part one of them kept is then whole, and unlocked once its transfer has let it go.
void WaitForTransferDisks();

// The header block of the fallback request: "Referer:" directly followed (no space) by the
// stored referer, or by DirectoryOfUrl(url) when there is none, and CR LF. Line breaks and
// other control characters inside the referer are dropped: they would start a header of
// their own.
QString FallbackHeaderBlock(const QString& storedReferer, const QString& url);

// The scheme, "://", the host and "/" of a link; a link without "://" is read as "http://"
// followed by it. With no "/" after the host, the whole text followed by "/".
QString DirectoryOfUrl(const QString& url);

#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

class Clock;
class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryFile;
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
//   first two) where the target is.
// - When the server announces a size, the transfer succeeds once exactly that many bytes
//   arrived; a body cut short fails (the network stack can report such a body as finished
//   without error, so the bytes are counted here).
// - When it announces none, or the request fails before any answer, the link is fetched
//   again with a Referer (FallbackDownload): in chunks of 2048 bytes when that answer has a
//   Content-Length, else once more whole, without the Referer.
// - The status the server answered with does not decide success here: an error page that
//   arrives whole is written like any file. ResponseStatus() tells the host what it was.
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

    // The referer given to BeginDownload; "" when none was given.
    QString StoredReferer;

    // The HTTP status of the answer the last signal reports on; 0 when no answer came.
    int ResponseStatus() const { return status_; }
    // True while a transfer runs (from BeginDownload to its last signal).
    bool IsBusy() const;

    // Seams: the clock the time limits are measured on (monotonic elapsed seconds; by
    // default the program's clock) and the network manager (by default the one shared by
    // the parallel transfers).
    void SetClock(const Clock* clock) { clock_ = clock; }
    void SetNetwork(QNetworkAccessManager* network) { network_ = network; }

signals:
    // Bytes received so far against the announced total; only once a total is known.
    void DownloadProgress(qint64 received, qint64 total, const QString& path);
    void DownloadError(const QString& path);
    void DownloadComplete(qint64 size, const QString& path);

private:
    enum class Phase {
        Idle,
        Reading,        // the first request
        FallbackChunks, // the fallback's request with the Referer
        FallbackWhole,  // the fallback's second request, read whole
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
    void readBody();
    void drainChunks();

    // Starts the fetch with the Referer; its outcome arrives through fallbackEnded().
    void FallbackDownload(const QUrl& url);
    void startWholeFetch();
    void fallbackEnded(bool succeeded);

    bool resetTemporary();
    bool replaceTarget();
    void succeed(qint64 size);
    void fail();

    const Clock* clock_ = nullptr;
    QNetworkAccessManager* network_ = nullptr;
    QTimer* watch_ = nullptr;

    Phase phase_ = Phase::Idle;
    // Bumped whenever a transfer is abandoned or begun, so that work queued for an earlier
    // one recognises that it is stale.
    quint64 generation_ = 0;
    QString url_;
    QString path_;
    QPointer<QNetworkReply> reply_;
    std::unique_ptr<QTemporaryFile> temporary_;

    bool headTaken_ = false;
    bool replyFinished_ = false;
    qint64 announced_ = -1; // -1: no size announced
    qint64 written_ = 0;
    int status_ = 0;
    double requestStarted_ = 0.0;
    double lastGrowth_ = 0.0;
    bool drainQueued_ = false;
};

// The header block of the fallback request: "Referer:" directly followed (no space) by the
// stored referer, or by DirectoryOfUrl(url) when there is none, and CR LF. Line breaks and
// other control characters inside the referer are dropped: they would start a header of
// their own.
QString FallbackHeaderBlock(const QString& storedReferer, const QString& url);

// The scheme, "://", the host and "/" of a link; a link without "://" is read as "http://"
// followed by it. With no "/" after the host, the whole text followed by "/".
QString DirectoryOfUrl(const QString& url);

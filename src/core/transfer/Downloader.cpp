#include "core/transfer/Downloader.h"

#include "core/app/ProgramValues.h"
#include "core/platform/Clock.h"
#include "core/transfer/FileLife.h"
#include "core/transfer/PartFiles.h"
#include "core/transfer/TransferNetwork.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <functional>

namespace {

// How often the time limits are looked at.
constexpr int kWatchIntervalMs = 250;
// What the network stack holds for one transfer before it stops reading the socket; the
// rest waits on the server's side. With the bytes waiting for the disk, this is what keeps
// memory bounded for any size.
constexpr qint64 kReadBufferBytes = 512 * 1024;
// Fallback chunks handled in one go before other events get their turn.
constexpr int kChunksPerTurn = 64;

const Clock& ownClock() {
    static SystemClock clock;
    return clock;
}

// Failures of the connection itself (refused, reset, TLS, proxy, protocol), as opposed to an
// answer that carries an error status.
bool transportFailed(int error) {
    return (error >= 1 && error <= 199) || (error >= 301 && error <= 399);
}

int statusOf(const QNetworkReply* reply) {
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// The transfers speak HTTP only; anything else (file:, data:, a link without scheme) fails
// like a request that found no server.
QUrl requestUrl(const QString& url) {
    const QUrl parsed(url);
    const QString scheme = parsed.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return QUrl();
    return parsed;
}

// The threads the transfers write their files on; one transfer's file always on the same one.
// Each waits now and then for its bodies to reach the disk, so that six transfers at once are
// not all held up by one body's wait. They end with the application object.
constexpr int kDiskLanes = 3;

class DiskThread : public QObject {
public:
    // Null without an application object; the caller then does the work itself.
    static DiskThread* instance(int lane) {
        static std::array<QPointer<DiskThread>, kDiskLanes> threads;
        QPointer<DiskThread>& thread = threads[std::abs(lane % kDiskLanes)];
        if (!thread && QCoreApplication::instance())
            thread = new DiskThread(QCoreApplication::instance());
        return thread;
    }

    // Returns once every task posted to any lane before has run.
    static void drainAll() {
        for (int lane = 0; lane < kDiskLanes; ++lane) {
            if (DiskThread* disk = instance(lane))
                disk->drain();
        }
    }

    QThread* thread() { return &thread_; }

    // Runs `task` on the disk thread, after every task posted before it.
    void post(std::function<void()> task) {
        QMetaObject::invokeMethod(worker_, std::move(task), Qt::QueuedConnection);
    }

    // Returns once every task posted before has run.
    void drain() {
        QMetaObject::invokeMethod(
            worker_, [] {}, Qt::BlockingQueuedConnection);
    }

    ~DiskThread() override {
        thread_.quit();
        thread_.wait();
        delete worker_;
    }

private:
    explicit DiskThread(QObject* parent) : QObject(parent), worker_(new QObject) {
        thread_.setObjectName(QStringLiteral("Quillfetch disk"));
        worker_->moveToThread(&thread_);
        thread_.start();
    }

    QThread thread_;
    QObject* worker_;
};

void onDisk(int lane, std::function<void()> task) {
    if (DiskThread* disk = DiskThread::instance(lane))
        disk->post(std::move(task));
    else
        task();
}

// Runs `task` on the user-interface thread.
void postToInterface(std::function<void()> task) {
    if (QCoreApplication* application = QCoreApplication::instance())
        QMetaObject::invokeMethod(application, std::move(task), Qt::QueuedConnection);
    else
        task();
}

} // namespace

// One transfer's file on its way to the disk. The file is reserved on the user-interface
// thread and used on the disk thread only from then on; `owner` is read and written on the
// user-interface thread only.
struct Downloader::BodySink {
    DownloadFile file;
    int lane = 0; // the disk thread it is written on
    std::atomic<qint64> queued{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> wantsWake{false};
    Downloader* owner = nullptr;
    // The body is kept when the transfer is given up; read and written on the
    // user-interface thread only.
    bool keeps = false;

    // Why the disk failed; written on the disk thread, read on the other.
    void setReason(const QString& text) {
        const QMutexLocker lock(&mutex);
        reason = text;
    }
    QString takeReason() {
        const QMutexLocker lock(&mutex);
        return reason;
    }

    // The buffers the body travels in to the disk come back here once written and are read
    // into again: a fresh buffer for every read costs page faults on both threads, because
    // the allocator hands large freed blocks back to the system and takes them again.
    QByteArray takeBuffer() {
        const QMutexLocker lock(&mutex);
        return spare.isEmpty() ? QByteArray() : spare.takeLast();
    }
    void giveBack(QByteArray&& buffer) {
        if (!buffer.isDetached())
            return;
        const QMutexLocker lock(&mutex);
        if (spare.size() < kSpareBuffers)
            spare.append(std::move(buffer));
    }

private:
    static constexpr qsizetype kSpareBuffers = 8;
    QMutex mutex;
    QString reason;
    QList<QByteArray> spare;
};

Downloader::Downloader(QObject* parent) : QObject(parent), watch_(new QTimer(this)) {
    watch_->setInterval(kWatchIntervalMs);
    connect(watch_, &QTimer::timeout, this, &Downloader::onWatch);
}

Downloader::~Downloader() {
    abandon();
}

bool Downloader::CancelAsyncRead() {
    abandon();
    return false;
}

bool Downloader::IsBusy() const {
    return phase_ != Phase::Idle;
}

double Downloader::now() const {
    if (clock_)
        return clock_->elapsedSeconds();
    if (const Clock* clock = Services().clock)
        return clock->elapsedSeconds();
    return ownClock().elapsedSeconds();
}

QNetworkAccessManager* Downloader::network() const {
    return network_ ? network_ : TransferNetwork();
}

void Downloader::BeginDownload(const QString& url, const QString& savePath,
                               const QString& referer) {
    abandon();
    StoredReferer = referer;
    url_ = url;
    path_ = savePath;
    status_ = 0;
    headers_.clear();
    responseUrl_.clear();
    reason_.clear();
    const ResumePoint wanted = resumeWanted_;
    resumeWanted_ = ResumePoint{};
    held_ = 0;
    point_ = ResumePoint{};
    committed_ = OwnedFile{};
    committedKind_ = BodyKind::Other;
    botCheck_ = false;

    // The name is taken before this returns, so that the next transfer of the same moment
    // picks another one; a name that exists is taken as it is and never written to.
    phase_ = Phase::Reading;
    sink_ = std::make_shared<BodySink>();
    static int nextLane = 0;
    sink_->lane = nextLane++ % kDiskLanes;
    sink_->owner = this;
    if (!sink_->file.Reserve(savePath) || !startFirstBody(wanted)) {
        reason_ = sink_->file.Error();
        // Nowhere to write: the transfer fails, but only after BeginDownload has returned,
        // like every other outcome.
        const quint64 generation = generation_;
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == generation_)
                    fail(reason_);
            },
            Qt::QueuedConnection);
        return;
    }
    if (held_ > 0) {
        point_ = wanted;
        point_.partPath = sink_->file.BodyPath();
    }
    if (!announcePoint(point_))
        return;
    reply_ = startRequest(requestUrl(url),
                          held_ > 0 ? ResumeHeaderBlock(held_, point_.validator) : QString());
    watch_->start();
}

bool Downloader::startFirstBody(const ResumePoint& wanted) {
    if (wanted.IsUsable()) {
        // The transfer that left the part may still be handing it its last bytes (a row
        // started again at once): it is taken up only after them.
        DiskThread::drainAll();
        if (sink_->file.ResumeBody(wanted.partPath)) {
            const qint64 size = sink_->file.BodySize();
            if (size > 0 && size < wanted.total) {
                held_ = size;
                sink_->file.KeepBodyOnAbandon(true);
                sink_->keeps = true;
                return true;
            }
        } else {
            // Not in the target's folder any more, say: it is of no use, and nothing refers
            // to it once the row has its new point.
            RemovePartFile(wanted.partPath);
        }
    }
    return sink_->file.StartBody(); // drops a part taken up above that was of no use
}

bool Downloader::announcePoint(const ResumePoint& point) {
    point_ = point;
    const quint64 generation = generation_;
    const QPointer<Downloader> self(this);
    emit ResumePointChanged();
    return self && generation == generation_;
}

bool Downloader::takeResumeAnswer() {
    const ResumeAnswer answer = ClassifyResumeAnswer(
        status_, QString::fromLatin1(reply_->rawHeader("Content-Range")), held_, point_.total,
        ResumeValidator(QString::fromLatin1(reply_->rawHeader("ETag")),
                        QString::fromLatin1(reply_->rawHeader("Last-Modified"))),
        point_.validator);
    if (answer == ResumeAnswer::Append) {
        announced_ = point_.total;
        written_ = held_;
        return true;
    }
    // Nothing of this answer has gone to the disk yet: the body can still be changed on this
    // thread. What the part held goes; a whole body is never appended to it.
    held_ = 0;
    sink_->keeps = false;
    if (!sink_->file.StartBody()) {
        fail(sink_->file.Error());
        return false;
    }
    if (!announcePoint(ResumePoint{}))
        return false;
    if (answer == ResumeAnswer::Restart) {
        dropReply();
        reply_ = startRequest(requestUrl(url_), QString());
        return false;
    }
    return true;
}

QNetworkReply* Downloader::startRequest(const QUrl& url, const QString& headerBlock) {
    QNetworkRequest request = TransferRequest(url);
    const QStringList lines = headerBlock.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.setRawHeader(line.left(colon).trimmed().toLatin1(),
                                 line.mid(colon + 1).trimmed().toUtf8());
    }
    QNetworkReply* reply = network()->get(request);
    reply->setReadBufferSize(kReadBufferBytes);
    headTaken_ = false;
    replyFinished_ = false;
    replyError_ = 0;
    announced_ = -1;
    written_ = 0;
    requestStarted_ = now();
    lastGrowth_ = requestStarted_;
    connect(reply, &QNetworkReply::metaDataChanged, this, &Downloader::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &Downloader::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &Downloader::onFinished);
    return reply;
}

void Downloader::dropReply() {
    if (!reply_)
        return;
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    // Disconnected first: aborting emits finished at once. Deleted later: this may run
    // inside one of the reply's own signals. An answer with an error status has its error on
    // the way from the network thread; aborting it as well makes the network stack complain,
    // and deleting it ends it just the same.
    reply->disconnect(this);
    if (reply->isRunning() && reply->error() == QNetworkReply::NoError && statusOf(reply) < 400)
        reply->abort();
    reply->deleteLater();
}

void Downloader::abandon() {
    ++generation_;
    dropReply();
    dropSink();
    watch_->stop();
    pumpQueued_ = false;
    phase_ = Phase::Idle;
}

void Downloader::onMetaData() {
    if (!reply_ || sender() != reply_)
        return;
    // A redirect on its way to being followed is not the answer yet.
    const int status = statusOf(reply_);
    if (status >= 300 && status < 400 && reply_->hasRawHeader("Location"))
        return;
    takeHead();
}

bool Downloader::takeHead() {
    if (headTaken_)
        return true;
    headTaken_ = true;
    lastGrowth_ = now();
    status_ = statusOf(reply_);
    statusText_ = reply_->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    headers_.clear();
    for (const QNetworkReply::RawHeaderPair& header : reply_->rawHeaderPairs())
        headers_.insert(header.first.toLower(), header.second);
    responseUrl_ = reply_->url().toString();
    const QByteArray lengthText = reply_->rawHeader("Content-Length").trimmed();
    bool parsed = false;
    qint64 length = lengthText.toLongLong(&parsed);
    if (!parsed || length < 0)
        length = -1;

    switch (phase_) {
    case Phase::Reading:
        if (held_ > 0 && !takeResumeAnswer())
            return false;
        if (held_ > 0)
            return true;
        if (length >= 1) {
            announced_ = length;
            const QString validator =
                ResumeValidator(QString::fromLatin1(reply_->rawHeader("ETag")),
                                QString::fromLatin1(reply_->rawHeader("Last-Modified")));
            if (status_ == 200 && !validator.isEmpty()) {
                // From here an interruption keeps the body for a later transfer to resume.
                sink_->file.KeepBodyOnAbandon(true);
                sink_->keeps = true;
                return announcePoint({sink_->file.BodyPath(), validator, length});
            }
            return true;
        }
        // Without a size the fallback fetches the link again whatever this body holds, so
        // it is not read at all.
        dropReply();
        FallbackDownload(requestUrl(url_));
        return false;
    case Phase::FallbackChunks:
        if (lengthText.isEmpty()) {
            dropReply();
            startWholeFetch();
            return false;
        }
        if (length < 0) { // a length that is no number
            dropReply();
            fallbackEnded(false);
            return false;
        }
        announced_ = length;
        return true;
    case Phase::FallbackWhole:
        announced_ = length;
        return true;
    case Phase::Idle:
    case Phase::Finishing:
        break;
    }
    return false;
}

void Downloader::onReadyRead() {
    if (!reply_ || sender() != reply_)
        return;
    if (!takeHead())
        return;
    pump();
}

void Downloader::onFinished() {
    if (!reply_ || sender() != reply_)
        return;
    replyFinished_ = true;
    replyError_ = static_cast<int>(reply_->error());
    if (!headTaken_ && transportFailed(replyError_)) {
        // No answer at all (refused, TLS refused, no such host).
        status_ = statusOf(reply_);
        reason_ = QStringLiteral("无法连接服务器：") + reply_->errorString();
        dropReply();
        // The fallback would start the body afresh: the part is kept for the next try.
        if (phase_ == Phase::Reading && held_ > 0)
            fail(reason_);
        else if (phase_ == Phase::Reading)
            FallbackDownload(requestUrl(url_));
        else
            fallbackEnded(false);
        return;
    }
    if (!takeHead())
        return;
    pump();
}

void Downloader::pump() {
    pumpQueued_ = false;
    if (phase_ == Phase::FallbackChunks) {
        drainChunks();
        return;
    }
    const quint64 generation = generation_;
    const QPointer<Downloader> self(this);
    while (reply_ && reply_->bytesAvailable() > 0) {
        const Disk disk = diskState();
        if (disk == Disk::Failed)
            fail(sink_->takeReason());
        if (disk != Disk::KeepsUp)
            return;
        append(readAvailable());
        if (phase_ == Phase::Reading) {
            emit DownloadProgress(written_, announced_, path_);
            if (!self || generation != generation_)
                return;
        }
    }
    if (reply_ && replyFinished_)
        conclude();
}

void Downloader::drainChunks() {
    if (announced_ == 0) {
        conclude(); // nothing to wait for
        return;
    }
    const quint64 generation = generation_;
    const QPointer<Downloader> self(this);
    // The chunks of one turn go to the disk together; each is reported on its own.
    QByteArray batch;
    for (int chunks = 0; reply_ && reply_->bytesAvailable() > 0; ++chunks) {
        // Whole chunks of 2048 bytes, only the last one shorter.
        const qint64 available = reply_->bytesAvailable();
        if (available < kChunkBytes && !replyFinished_)
            break;
        const Disk disk = diskState();
        if (disk == Disk::Failed) {
            fail(sink_->takeReason());
            return;
        }
        if (chunks == kChunksPerTurn || disk == Disk::Behind) {
            if (chunks == kChunksPerTurn && !pumpQueued_) {
                // Lets other events in before the next chunks, as a loop that yields would.
                pumpQueued_ = true;
                QMetaObject::invokeMethod(
                    this,
                    [this, generation] {
                        if (generation == generation_ && pumpQueued_)
                            pump();
                    },
                    Qt::QueuedConnection);
            }
            toDisk(batch);
            return;
        }
        const QByteArray chunk = reply_->read(std::min<qint64>(kChunkBytes, available));
        batch += chunk;
        written_ += chunk.size();
        lastGrowth_ = now();
        emit DownloadProgress(written_, announced_, path_);
        if (!self || generation != generation_)
            return;
        if (written_ >= announced_) {
            toDisk(batch);
            conclude();
            return;
        }
    }
    toDisk(batch);
    if (reply_ && replyFinished_ && reply_->bytesAvailable() == 0)
        conclude(); // the server closed short of the announced length
}

Downloader::Disk Downloader::diskState() {
    if (sink_->failed)
        return Disk::Failed;
    // Reading pauses while more than the limit waits for the disk, and goes on once the disk
    // is down to a quarter of it.
    if (sink_->queued < diskQueueLimit_)
        return Disk::KeepsUp;
    // Reading waits for the disk to catch up. Asked before the second look, so that a
    // catch-up in between is not missed.
    sink_->wantsWake = true;
    if (sink_->queued >= diskQueueLimit_)
        return Disk::Behind;
    sink_->wantsWake = false;
    return Disk::KeepsUp;
}

void Downloader::conclude() {
    const quint64 generation = generation_;
    const QPointer<Downloader> self(this);
    switch (phase_) {
    case Phase::Reading:
        // Counted here: a body cut short can be reported as finished without an error.
        if (written_ == announced_)
            finishSink(announced_);
        else
            fail(CutShortReason(written_, announced_));
        return;
    case Phase::FallbackChunks:
        if (announced_ == 0) {
            // One report of nothing against nothing, and an empty file.
            emit DownloadProgress(0, 0, path_);
            if (self && generation == generation_)
                fallbackEnded(true);
            return;
        }
        // Ended by the announced length, or by the server closing short of it.
        if (written_ < announced_)
            reason_ = CutShortReason(written_, announced_);
        fallbackEnded(written_ >= announced_);
        return;
    case Phase::FallbackWhole: {
        const bool whole =
            !transportFailed(replyError_) && (announced_ < 0 || written_ == announced_);
        if (transportFailed(replyError_))
            reason_ = QStringLiteral("无法连接服务器：") + reply_->errorString();
        else if (announced_ >= 0 && written_ != announced_)
            reason_ = CutShortReason(written_, announced_);
        else if (written_ == 0)
            reason_ = QStringLiteral("服务器没有返回任何数据");
        dropReply();
        emit DownloadProgress(written_, written_, path_);
        if (self && generation == generation_)
            fallbackEnded(whole && written_ > 0);
        return;
    }
    case Phase::Idle:
    case Phase::Finishing:
        return;
    }
}

void Downloader::onWatch() {
    const double time = now();
    switch (phase_) {
    case Phase::Reading:
        // Before the answer's head the slot watchdog of the window is the limit.
        if (headTaken_ && time - lastGrowth_ >= kStallSeconds)
            fail(stallReason());
        return;
    case Phase::FallbackChunks:
    case Phase::FallbackWhole:
        if ((!headTaken_ && time - requestStarted_ >= kAnswerWaitSeconds) ||
            (headTaken_ && time - lastGrowth_ >= kStallSeconds)) {
            reason_ = headTaken_ ? stallReason() : QStringLiteral("服务器没有回应");
            dropReply();
            fallbackEnded(false);
        }
        return;
    case Phase::Idle:
    case Phase::Finishing:
        return;
    }
}

void Downloader::FallbackDownload(const QUrl& url) {
    // This instance runs one request at a time, so the fallback never waits for an earlier
    // one to end: whatever still ran has been dropped.
    dropReply();
    phase_ = Phase::FallbackChunks;
    restartBody();
    reply_ = startRequest(url, FallbackHeaderBlock(StoredReferer, url_));
}

void Downloader::startWholeFetch() {
    // The link once more, in one piece and without the Referer.
    phase_ = Phase::FallbackWhole;
    restartBody();
    reply_ = startRequest(requestUrl(url_), QString());
}

void Downloader::fallbackEnded(bool succeeded) {
    if (!succeeded) {
        fail(reason_.isEmpty() ? QStringLiteral("下载失败") : reason_);
        return;
    }
    finishSink(-1); // the size is the file's
}

void Downloader::restartBody() {
    // After the bytes of the earlier request that are still queued: they are written, then
    // dropped with the body they belonged to.
    onDisk(sink_->lane, [sink = sink_] {
        if (!sink->failed && !sink->file.StartBody()) {
            sink->setReason(sink->file.Error());
            sink->failed = true;
        }
    });
}

void Downloader::dropSink() {
    if (!sink_)
        return;
    sink_->owner = nullptr;
    // What is still queued is not written, unless the body is kept to resume from: then
    // every byte received goes to it first.
    if (!sink_->keeps)
        sink_->failed = true;
    // The body and the reservation go on the thread that writes, after what it still does.
    onDisk(sink_->lane, [sink = sink_] { sink->file.Abandon(); });
    sink_.reset();
}

QByteArray Downloader::readAvailable() {
    QByteArray bytes = sink_ ? sink_->takeBuffer() : QByteArray();
    bytes.resize(reply_->bytesAvailable());
    const qint64 read = reply_->read(bytes.data(), bytes.size());
    bytes.resize(std::max<qint64>(read, 0));
    return bytes;
}

void Downloader::append(QByteArray bytes) {
    written_ += bytes.size();
    lastGrowth_ = now();
    toDisk(std::move(bytes));
}

void Downloader::toDisk(QByteArray bytes) {
    if (bytes.isEmpty() || !sink_)
        return;
    const qint64 size = bytes.size();
    sink_->queued += size;
    onDisk(sink_->lane,
           [sink = sink_, bytes = std::move(bytes), size, resume = diskQueueLimit_ / 4]() mutable {
               if (!sink->failed && !sink->file.Write(bytes)) {
                   sink->setReason(sink->file.Error());
                   sink->failed = true;
               }
               sink->giveBack(std::move(bytes));
               const qint64 left = sink->queued -= size;
               // Nothing more waits: what the file holds so far goes to it now, not at the end.
               if (left == 0 && !sink->failed && !sink->file.Flush()) {
                   sink->setReason(sink->file.Error());
                   sink->failed = true;
               }
               if (left <= resume && sink->wantsWake.exchange(false)) {
                   postToInterface([sink] {
                       if (sink->owner)
                           sink->owner->sinkDrained();
                   });
               }
           });
}

void Downloader::sinkDrained() {
    lastGrowth_ = now(); // the transfer moves, if only on the disk's side
    if (reply_)
        pump();
}

void Downloader::finishSink(qint64 size) {
    dropReply();
    phase_ = Phase::Finishing;
    finishedSize_ = size;
    CommitRule rule = commitRule_;
    rule.expected = size;
    rule.status = status_;
    rule.contentType = QString::fromLatin1(headers_.value("content-type"));
    rule.cfMitigated = headers_.value("cf-mitigated");
    rule.finalUrl = responseUrl_;
    onDisk(sink_->lane, [sink = sink_, rule] {
        bool replaced = false;
        if (!sink->failed) {
            replaced = sink->file.Commit(rule);
            if (!replaced)
                sink->setReason(sink->file.Error());
        }
        const OwnedFile placed = sink->file.Owned();
        const BodyKind kind = sink->file.Kind();
        postToInterface([sink, replaced, placed, kind] {
            if (sink->owner)
                sink->owner->sinkFinished(replaced, placed, kind);
        });
    });
}

void Downloader::sinkFinished(bool replaced, const OwnedFile& placed, BodyKind kind) {
    if (phase_ != Phase::Finishing)
        return;
    if (!replaced) {
        botCheck_ = kind == BodyKind::BotCheck;
        const QString written = sink_->takeReason();
        const QString reason = status_ >= 400 ? FailureReasonOfStatus() : written;
        fail(reason.isEmpty() ? QStringLiteral("写入文件失败") : reason);
        return;
    }
    committed_ = placed;
    committedKind_ = kind;
    succeed(finishedSize_ >= 0 ? finishedSize_ : QFileInfo(path_).size());
}

void Downloader::succeed(qint64 size) {
    reason_.clear();
    abandon();
    const QString path = path_;
    emit DownloadComplete(size, path);
}

void Downloader::fail(const QString& reason) {
    reason_ = reason;
    abandon();
    const QString path = path_;
    emit DownloadError(path);
}

QString Downloader::stallReason() const {
    return QStringLiteral("超过 %1 秒没有收到数据").arg(kStallSeconds);
}

QString Downloader::FailureReason() const {
    if (!reason_.isEmpty())
        return reason_;
    if (status_ >= 400)
        return FailureReasonOfStatus();
    return {};
}

QString Downloader::FailureReasonOfStatus() const {
    return QStringLiteral("服务器返回 %1 %2").arg(status_).arg(statusText_).trimmed();
}

void WaitForTransferDisks() {
    DiskThread::drainAll();
}

QString FallbackHeaderBlock(const QString& storedReferer, const QString& url) {
    QString value = storedReferer.isEmpty() ? DirectoryOfUrl(url) : storedReferer;
    value.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return QStringLiteral("Referer:") + value + QStringLiteral("\r\n");
}

QString DirectoryOfUrl(const QString& url) {
    QString text = url;
    if (!text.contains(QStringLiteral("://")))
        text.prepend(QStringLiteral("http://"));
    const qsizetype hostStart = text.indexOf(QStringLiteral("://")) + 3;
    const qsizetype slash = text.indexOf('/', hostStart);
    if (slash < 0)
        return text + '/';
    return text.left(slash + 1);
}

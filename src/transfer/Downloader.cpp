#include "transfer/Downloader.h"

#include "app/ProgramValues.h"
#include "platform/Clock.h"
#include "transfer/TransferNetwork.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// How often the time limits are looked at.
constexpr int kWatchIntervalMs = 250;
// What the network stack holds for one transfer before it stops reading the socket; the
// rest waits on the server's side. This is what keeps memory bounded for any size.
constexpr qint64 kReadBufferBytes = 1024 * 1024;
// Fallback chunks handled in one go before other events get their turn.
constexpr int kChunksPerTurn = 64;

const Clock& ownClock() {
    static SystemClock clock;
    return clock;
}

// Failures of the connection itself (refused, reset, TLS, proxy, protocol), as opposed to an
// answer that carries an error status.
bool transportFailed(QNetworkReply::NetworkError error) {
    const int code = static_cast<int>(error);
    return (code >= 1 && code <= 199) || (code >= 301 && code <= 399);
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

} // namespace

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

    // Read-write keeps an existing file's other bytes: only its first two change until the
    // transfer replaces it.
    QFile target(savePath);
    if (target.open(QIODevice::ReadWrite)) {
        target.write("\x01\x00", 2);
        target.close();
    }

    phase_ = Phase::Reading;
    if (!resetTemporary()) {
        // Nowhere to write: the transfer fails, but only after BeginDownload has returned,
        // like every other outcome.
        const quint64 generation = generation_;
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == generation_)
                    fail();
            },
            Qt::QueuedConnection);
        return;
    }
    reply_ = startRequest(requestUrl(url), QString());
    watch_->start();
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
    // inside one of the reply's own signals.
    reply->disconnect(this);
    // An answer with an error status has its error on the way from the network thread;
    // aborting it as well makes the network stack complain. Deleting it ends it just the same.
    if (reply->isRunning() && reply->error() == QNetworkReply::NoError && statusOf(reply) < 400)
        reply->abort();
    reply->deleteLater();
}

void Downloader::abandon() {
    ++generation_;
    dropReply();
    watch_->stop();
    temporary_.reset();
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
    const QByteArray lengthText = reply_->rawHeader("Content-Length").trimmed();
    bool parsed = false;
    qint64 length = lengthText.toLongLong(&parsed);
    if (!parsed || length < 0)
        length = -1;

    switch (phase_) {
    case Phase::Reading:
        if (length >= 1) {
            announced_ = length;
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
        break;
    }
    return false;
}

void Downloader::onReadyRead() {
    if (!reply_ || sender() != reply_)
        return;
    if (!takeHead())
        return;
    readBody();
}

void Downloader::readBody() {
    if (phase_ == Phase::FallbackChunks) {
        drainChunks();
        return;
    }
    const QByteArray bytes = reply_->readAll();
    if (bytes.isEmpty())
        return;
    if (temporary_->write(bytes) != bytes.size()) {
        if (phase_ == Phase::Reading)
            fail();
        else
            fallbackEnded(false);
        return;
    }
    written_ += bytes.size();
    lastGrowth_ = now();
    if (phase_ == Phase::Reading)
        emit DownloadProgress(written_, announced_, path_);
}

void Downloader::drainChunks() {
    const quint64 generation = generation_;
    const QPointer<Downloader> self(this);
    drainQueued_ = false;
    if (announced_ == 0) {
        // Nothing to wait for: one report of nothing against nothing, and an empty file.
        emit DownloadProgress(0, 0, path_);
        if (self && generation == generation_)
            fallbackEnded(true);
        return;
    }
    for (int handled = 0; reply_ && phase_ == Phase::FallbackChunks; ++handled) {
        const qint64 available = reply_->bytesAvailable();
        if (available < kChunkBytes && !(replyFinished_ && available > 0))
            break;
        if (handled == kChunksPerTurn) {
            // Lets other events in before the next chunks, as a loop that yields would.
            if (!drainQueued_) {
                drainQueued_ = true;
                QMetaObject::invokeMethod(
                    this,
                    [this, generation] {
                        if (generation == generation_ && phase_ == Phase::FallbackChunks)
                            drainChunks();
                    },
                    Qt::QueuedConnection);
            }
            return;
        }
        const QByteArray chunk = reply_->read(std::min<qint64>(kChunkBytes, available));
        if (temporary_->write(chunk) != chunk.size()) {
            fallbackEnded(false);
            return;
        }
        written_ += chunk.size();
        lastGrowth_ = now();
        emit DownloadProgress(written_, announced_, path_);
        if (!self || generation != generation_)
            return;
        if (written_ >= announced_) {
            fallbackEnded(true);
            return;
        }
    }
    // The server closed before the announced length: a short body fails.
    if (reply_ && phase_ == Phase::FallbackChunks && replyFinished_ &&
        reply_->bytesAvailable() == 0)
        fallbackEnded(false);
}

void Downloader::onFinished() {
    if (!reply_ || sender() != reply_)
        return;
    replyFinished_ = true;
    const QNetworkReply::NetworkError error = reply_->error();
    if (!headTaken_ && transportFailed(error)) {
        // No answer at all (refused, TLS refused, no such host).
        status_ = statusOf(reply_);
        dropReply();
        if (phase_ == Phase::Reading)
            FallbackDownload(requestUrl(url_));
        else
            fallbackEnded(false);
        return;
    }
    if (!takeHead())
        return;

    const quint64 generation = generation_;
    const QPointer<Downloader> self(this);
    switch (phase_) {
    case Phase::Reading:
        readBody();
        if (!self || generation != generation_ || phase_ != Phase::Reading)
            return;
        // Counted here: a body cut short can be reported as finished without an error.
        if (written_ == announced_ && replaceTarget())
            succeed(announced_);
        else
            fail();
        return;
    case Phase::FallbackChunks:
        drainChunks();
        return;
    case Phase::FallbackWhole: {
        readBody();
        if (phase_ != Phase::FallbackWhole)
            return;
        const bool whole = !transportFailed(error) && (announced_ < 0 || written_ == announced_);
        dropReply();
        emit DownloadProgress(written_, written_, path_);
        if (!self || generation != generation_)
            return;
        fallbackEnded(whole && written_ > 0);
        return;
    }
    case Phase::Idle:
        return;
    }
}

void Downloader::onWatch() {
    const double time = now();
    switch (phase_) {
    case Phase::Reading:
        // Before the answer's head the slot watchdog of the window is the limit.
        if (headTaken_ && time - lastGrowth_ >= kStallSeconds)
            fail();
        return;
    case Phase::FallbackChunks:
    case Phase::FallbackWhole:
        if ((!headTaken_ && time - requestStarted_ >= kAnswerWaitSeconds) ||
            (headTaken_ && time - lastGrowth_ >= kStallSeconds)) {
            dropReply();
            fallbackEnded(false);
        }
        return;
    case Phase::Idle:
        return;
    }
}

void Downloader::FallbackDownload(const QUrl& url) {
    // This instance runs one request at a time, so the fallback never waits for an earlier
    // one to end: whatever still ran has been dropped.
    dropReply();
    phase_ = Phase::FallbackChunks;
    if (!resetTemporary()) {
        fallbackEnded(false);
        return;
    }
    reply_ = startRequest(url, FallbackHeaderBlock(StoredReferer, url_));
}

void Downloader::startWholeFetch() {
    // The link once more, in one piece and without the Referer.
    phase_ = Phase::FallbackWhole;
    if (!resetTemporary()) {
        fallbackEnded(false);
        return;
    }
    reply_ = startRequest(requestUrl(url_), QString());
}

void Downloader::fallbackEnded(bool succeeded) {
    if (!succeeded) {
        fail();
        return;
    }
    if (!replaceTarget()) {
        fail();
        return;
    }
    succeed(QFileInfo(path_).size());
}

bool Downloader::resetTemporary() {
    if (temporary_)
        return temporary_->resize(0) && temporary_->seek(0);
    // Beside the target, so that it replaces the target by a rename on the same disk; a
    // short name of its own, so that it fits wherever the target's name fits.
    const QString folder = QFileInfo(path_).absolutePath();
    auto file =
        std::make_unique<QTemporaryFile>(folder + QStringLiteral("/.quillfetch-XXXXXX.part"));
    if (!file->open())
        return false;
    temporary_ = std::move(file);
    return true;
}

bool Downloader::replaceTarget() {
    if (!temporary_ || !temporary_->flush())
        return false;
    // The finished file takes the permissions of the placeholder (an ordinary new file);
    // the temporary one is private to its owner.
    const QFileInfo target(path_);
    const QFileDevice::Permissions permissions =
        target.exists() ? target.permissions()
                        : (QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                           QFileDevice::ReadGroup | QFileDevice::ReadOther);
    temporary_->setPermissions(permissions);
    const QString from = temporary_->fileName();
    temporary_->close();
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(path_).constData()) != 0)
        return false;
    temporary_->setAutoRemove(false);
    temporary_.reset();
    return true;
}

void Downloader::succeed(qint64 size) {
    dropReply();
    watch_->stop();
    temporary_.reset();
    phase_ = Phase::Idle;
    ++generation_;
    const QString path = path_;
    emit DownloadComplete(size, path);
}

void Downloader::fail() {
    dropReply();
    watch_->stop();
    temporary_.reset();
    phase_ = Phase::Idle;
    ++generation_;
    const QString path = path_;
    emit DownloadError(path);
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

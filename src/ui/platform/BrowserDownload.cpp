#include "ui/platform/BrowserDownload.h"

#include "core/app/ProgramValues.h"
#include "core/platform/Clock.h"
#include "core/transfer/PartFiles.h"
#include "ui/platform/WebBrowser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int kWatchIntervalMs = 1000;

double monotonicNow() {
    return ProgramClock().elapsedSeconds();
}

QString folderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral("./") : path.left(slash + 1);
}

} // namespace

BrowserDownload::BrowserDownload(QObject* parent) : BrowserDownload(BrowserProfile(), parent) {}

BrowserDownload::BrowserDownload(QWebEngineProfile* profile, QObject* parent)
    : BrowserTransfer(parent), profile_(profile) {
    page_ = new QWebEnginePage(profile_, this);
    // A PDF the page is asked for is a file to keep, not a document to show.
    page_->settings()->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    page_->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    // Qt 6.4 takes a download only while its announcement is being handled: the folder and the
    // name are set, and the download accepted, inside this call.
    connect(profile_, &QWebEngineProfile::downloadRequested, this,
            [this](QWebEngineDownloadRequest* request) { onRequested(request); });
    watch_ = new QTimer(this);
    watch_->setInterval(kWatchIntervalMs);
    connect(watch_, &QTimer::timeout, this, [this] { onWatch(); });
}

BrowserDownload::~BrowserDownload() {
    CancelAsyncRead();
    // The page belongs to the profile's session: it goes now, while the profile still exists.
    delete page_;
}

bool BrowserDownload::prepare(const QString& url, const QString& savePath) {
    CancelAsyncRead();
    url_ = url;
    path_ = savePath;
    folder_ = folderOf(savePath);
    status_ = 0;
    pushedBack_ = false;
    reason_.clear();
    received_ = -1;
    busy_ = true;
    lastGrowth_ = monotonicNow();
    if (!file_.Reserve(savePath)) {
        failLater(file_.Error());
        return false;
    }
    // The browser writes under a name of the program's own pattern, so that what a killed run
    // leaves is recognised and cleaned like any transfer's leftover.
    bodyName_ = NewPartFileName();
    watch_->start();
    return true;
}

void BrowserDownload::BeginDownload(const QString& url, const QString& savePath,
                                    const QString& /*referer*/) {
    if (!prepare(url, savePath))
        return;
    const QUrl address(url);
    if (!address.isValid() || address.scheme().isEmpty()) {
        failLater(QStringLiteral("网址无效"));
        return;
    }
    page_->download(address, bodyName_);
}

void BrowserDownload::AdoptDownload(QObject* adopted, const QString& savePath) {
    auto* request = qobject_cast<QWebEngineDownloadRequest*>(adopted);
    if (!request || request->state() != QWebEngineDownloadRequest::DownloadRequested)
        return;
    if (prepare(request->url().toString(), savePath))
        takeRequest(request);
}

bool BrowserDownload::CancelAsyncRead() {
    ++generation_;
    watch_->stop();
    dropRequest();
    file_.Abandon();
    busy_ = false;
    return false;
}

void BrowserDownload::onRequested(QWebEngineDownloadRequest* request) {
    // Only the download this instance asked for, and only once: the user's own downloads in
    // the search window, and other transfers' downloads, are not taken here.
    if (!busy_ || request_ || request->page() != page_ ||
        request->state() != QWebEngineDownloadRequest::DownloadRequested)
        return;
    takeRequest(request);
}

void BrowserDownload::takeRequest(QWebEngineDownloadRequest* request) {
    request_ = request;
    request->setDownloadDirectory(QDir::cleanPath(folder_));
    request->setDownloadFileName(bodyName_);
    connect(request, &QWebEngineDownloadRequest::receivedBytesChanged, this,
            &BrowserDownload::onProgress);
    connect(request, &QWebEngineDownloadRequest::totalBytesChanged, this,
            &BrowserDownload::onProgress);
    connect(request, &QWebEngineDownloadRequest::isFinishedChanged, this,
            &BrowserDownload::onFinished);
    connect(request, &QWebEngineDownloadRequest::stateChanged, this,
            &BrowserDownload::onStateChanged);
    request->accept();
    lastGrowth_ = monotonicNow();
}

void BrowserDownload::onProgress() {
    if (!request_ || !busy_)
        return;
    holdBrowserFile();
    const qint64 received = request_->receivedBytes();
    const qint64 total = request_->totalBytes();
    if (received > received_) {
        received_ = received;
        lastGrowth_ = monotonicNow();
    }
    if (total > 0 && received >= 0 && received <= total)
        emit DownloadProgress(received, total, path_);
}

void BrowserDownload::onFinished() {
    if (!request_ || !busy_ || !request_->isFinished())
        return;
    watch_->stop();
    const QPointer<QWebEngineDownloadRequest> request = request_;
    request_.clear();
    request->disconnect(this);
    // The file's life takes the lock from here.
    releaseBrowserFile();
    const QString browserFile = folder_ + bodyName_;
    if (request->state() == QWebEngineDownloadRequest::DownloadInterrupted) {
        QFile::remove(browserFile);
        endInterrupted(static_cast<int>(request->interruptReason()));
        return;
    }
    if (request->state() != QWebEngineDownloadRequest::DownloadCompleted) {
        QFile::remove(browserFile);
        fail(QStringLiteral("浏览器取消了下载"));
        return;
    }
    const qint64 announced = request->totalBytes();
    if (!putInPlace(browserFile, announced > 0 ? announced : -1, request->mimeType())) {
        fail(reason_);
        return;
    }
    status_ = 200;
    const qint64 size = QFileInfo(path_).size();
    const quint64 generation = generation_;
    // Whatever the browser announced, everything it delivered is in.
    emit DownloadProgress(size, size, path_);
    if (generation != generation_ || !busy_)
        return;
    watch_->stop();
    busy_ = false;
    emit DownloadComplete(size, path_);
}

void BrowserDownload::onStateChanged() {
    if (!request_ || !busy_ || request_->isFinished() ||
        request_->state() != QWebEngineDownloadRequest::DownloadInterrupted)
        return;
    // Left alone, a resumable interruption would sit until the stall limit, and the site
    // would hear nothing of why: a 429 read as a silence.
    const int reason = static_cast<int>(request_->interruptReason());
    watch_->stop();
    dropRequest();
    endInterrupted(reason);
}

void BrowserDownload::endInterrupted(int interruptReason) {
    using Reason = QWebEngineDownloadRequest::DownloadInterruptReason;
    switch (static_cast<Reason>(interruptReason)) {
    case Reason::ServerUnauthorized:
        status_ = 401;
        break;
    case Reason::ServerForbidden:
        status_ = 403;
        break;
    case Reason::ServerBadContent:
        status_ = 404;
        break;
    case Reason::ServerFailed:
        pushedBack_ = true;
        break;
    default:
        break;
    }
    fail(BrowserInterruptText(interruptReason));
}

bool BrowserDownload::putInPlace(const QString& browserFile, qint64 announced,
                                 const QString& mimeType) {
    CommitRule rule = rule_;
    rule.expected = announced;
    rule.status = 200;
    rule.contentType = mimeType;
    rule.finalUrl = url_; // the browser tells of no headers; its body alone shows a check
    // The browser wrote beside the target under the program's own pattern: its file becomes
    // the body as it is, with nothing copied on this thread, and goes on failure.
    const bool taken = file_.ResumeBody(browserFile);
    if (taken && file_.Commit(rule))
        return true;
    reason_ = taken ? file_.Error() : QStringLiteral("浏览器下载的文件无法读取");
    file_.Abandon();
    QFile::remove(browserFile);
    return false;
}

void BrowserDownload::onWatch() {
    if (!busy_)
        return;
    if (monotonicNow() - lastGrowth_ < kStallSeconds)
        return;
    fail(request_ ? QStringLiteral("超过 %1 秒没有收到数据").arg(kStallSeconds)
                  : QStringLiteral("浏览器 %1 秒内没有开始下载").arg(kStallSeconds));
}

void BrowserDownload::fail(const QString& reason) {
    if (!busy_)
        return;
    CancelAsyncRead();
    reason_ = reason;
    emit DownloadError(path_);
}

void BrowserDownload::failLater(const QString& reason) {
    QTimer::singleShot(0, this, [this, reason, generation = generation_] {
        if (generation == generation_)
            fail(reason);
    });
}

void BrowserDownload::dropRequest() {
    releaseBrowserFile();
    if (!request_)
        return;
    const QPointer<QWebEngineDownloadRequest> request = request_;
    request_.clear();
    request->disconnect(this);
    if (!request->isFinished())
        request->cancel();
    // The browser removes its unfinished file itself; a finished one is ours to remove.
    QFile::remove(folder_ + bodyName_);
}

void BrowserDownload::holdBrowserFile() {
    if (heldFd_ >= 0)
        return;
    // Under its name while the browser writes, and under the final one at the end.
    for (const QString& name : {bodyName_ + QStringLiteral(".download"), bodyName_}) {
        const int fd = ::open(QFile::encodeName(folder_ + name).constData(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            heldFd_ = fd;
            return;
        }
        ::close(fd);
    }
}

void BrowserDownload::releaseBrowserFile() {
    if (heldFd_ < 0)
        return;
    ::close(heldFd_);
    heldFd_ = -1;
}

QString BrowserInterruptText(int interruptReason) {
    using Reason = QWebEngineDownloadRequest::DownloadInterruptReason;
    switch (static_cast<Reason>(interruptReason)) {
    case Reason::ServerForbidden:
        return QStringLiteral("浏览器下载被服务器拒绝（403）");
    case Reason::ServerUnauthorized:
        return QStringLiteral("浏览器下载需要登录（401）");
    case Reason::ServerBadContent:
        return QStringLiteral("浏览器下载失败：服务器上没有该文件");
    case Reason::ServerFailed:
    case Reason::ServerUnreachable:
        return QStringLiteral("浏览器下载失败：服务器出错");
    case Reason::ServerCertProblem:
        return QStringLiteral("浏览器下载失败：服务器证书无效");
    case Reason::NetworkFailed:
    case Reason::NetworkTimeout:
    case Reason::NetworkDisconnected:
    case Reason::NetworkServerDown:
    case Reason::NetworkInvalidRequest:
        return QStringLiteral("浏览器下载失败：网络连接中断");
    case Reason::FileNoSpace:
        return QStringLiteral("浏览器下载失败：磁盘空间不足");
    case Reason::FileAccessDenied:
        return QStringLiteral("浏览器下载失败：没有写入保存文件夹的权限");
    case Reason::FileTooShort:
        return QStringLiteral("浏览器下载失败：文件不完整");
    case Reason::UserCanceled:
        return QStringLiteral("浏览器取消了下载");
    default:
        return QStringLiteral("浏览器下载失败");
    }
}

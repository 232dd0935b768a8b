#pragma once

#include "core/download/DownloadSession.h"
#include "core/transfer/FileLife.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QTimer;
class QWebEngineDownloadRequest;
class QWebEnginePage;
class QWebEngineProfile;

// Fetches one link through the embedded browser's own network stack, for a site whose bot
// check lets the browser through (the user passed it there) but keeps refusing the program's
// plain transfers. It offers what a parallel slot's Downloader offers, so the download window
// drives both alike.
//
// How a transfer goes:
// - BeginDownload takes the target's name as every transfer does (DownloadFile::Reserve) and
//   asks a hidden page of the browser profile to download the link. The profile announces the
//   download; the one this instance asked for (its own page) is accepted there and then, into
//   a temporary name of the program's own pattern beside the target. Downloads the user starts
//   in a browser window are left to whoever handles them.
// - The page has the built-in PDF viewer off, so a PDF arrives as a file, never as a page.
// - While the browser writes, its file is locked as every transfer's body is, so that no
//   clean-up of leftovers (this program's or a second copy's) takes it.
// - When the browser is done, the browser's file becomes the transfer's body and takes its
//   name by the host's CommitRule (SetCommitRule), judged by its bytes and the answer's
//   MIME type: one rename, and over a file that was there only with the row's own kind.
// - CancelAsyncRead() or destruction cancel the browser's download and abandon the file: no
//   signal follows, and what the transfer wrote goes.
class BrowserDownload : public BrowserTransfer {
    Q_OBJECT

public:
    // Without a byte for this long (or without the browser taking the download up at all),
    // the transfer has stalled.
    static constexpr double kStallSeconds = 120.0;

    // On the program's browser profile, or on `profile` (tests).
    explicit BrowserDownload(QObject* parent = nullptr);
    BrowserDownload(QWebEngineProfile* profile, QObject* parent);
    ~BrowserDownload() override;

    // Reserves `savePath` and starts the browser's download of `url`; returns at once. The
    // outcome arrives as a signal, never from inside this call. A transfer this instance was
    // running is abandoned first. The browser sends its own Referer, so `referer` is not used.
    void BeginDownload(const QString& url, const QString& savePath,
                       const QString& referer) override;
    // The same for a download the browser announced on its own (a bot check that sent the
    // search window's browser on to the file): taken up into `savePath`'s life as if asked for
    // here. Only while the announcement is being handled; `request` is the browser's
    // QWebEngineDownloadRequest.
    void AdoptDownload(QObject* request, const QString& savePath) override;
    // Abandons the running transfer, if any; no signal follows it. Always false.
    bool CancelAsyncRead() override;

    // How the body may take its name; the length and MIME type are filled in at the end.
    void SetCommitRule(const CommitRule& rule) override { rule_ = rule; }
    OwnedFile CommittedFile() const override { return file_.Owned(); }
    BodyKind CommittedKind() const override { return file_.Kind(); }
    // The transfer failed because the browser brought a bot check's page, which took no name.
    bool BroughtBotCheck() const override { return file_.Kind() == BodyKind::BotCheck; }

    // 200 once the browser delivered a body; the status the browser's reason names when it gave
    // the download up (401, 403, 404); 0 otherwise (no answer, or one the browser does not
    // name).
    int ResponseStatus() const override { return status_; }
    // The server turned the download away with an error of its own (a 429, a 503, another 5xx:
    // the browser tells them apart no further): the site is pushed back like a plain transfer.
    bool PushedBack() const override { return pushedBack_; }
    QString FailureReason() const override { return reason_; }
    bool IsBusy() const override { return busy_; }

private:
    void onRequested(QWebEngineDownloadRequest* request);
    // Prepares a transfer of `url` into `savePath`: false (a failure queued) when the target
    // cannot be reserved.
    bool prepare(const QString& url, const QString& savePath);
    void takeRequest(QWebEngineDownloadRequest* request);
    void onProgress();
    void onFinished();
    // The browser interrupts a download it may resume later (a server error, a lost network):
    // the transfer ends there, with the reason the browser gives.
    void onStateChanged();
    void endInterrupted(int interruptReason);
    void onWatch();
    // Moves the browser's finished file through the file's life; false with reason_ set.
    bool putInPlace(const QString& browserFile, qint64 announced, const QString& mimeType);
    void fail(const QString& reason);
    // fail() from the event loop, unless the transfer was abandoned or begun again by then.
    void failLater(const QString& reason);
    // Cancels the browser's download and removes what it wrote.
    void dropRequest();
    // Locks the browser's file once it is there; lets it go again.
    void holdBrowserFile();
    void releaseBrowserFile();

    QWebEngineProfile* profile_ = nullptr;
    QWebEnginePage* page_ = nullptr;
    QTimer* watch_ = nullptr;
    QPointer<QWebEngineDownloadRequest> request_;
    DownloadFile file_;
    CommitRule rule_;
    int heldFd_ = -1;
    QString url_;
    QString path_;
    QString bodyName_; // the browser's file name, in the target's folder
    QString folder_;
    qint64 received_ = -1;
    // Bumped whenever a transfer is abandoned, so that work queued for it recognises that.
    quint64 generation_ = 0;
    double lastGrowth_ = 0.0;
    bool busy_ = false;
    int status_ = 0;
    bool pushedBack_ = false;
    QString reason_;
};

// The row's failure reason for a download the browser gave up, by its interrupt reason
// (QWebEngineDownloadRequest::DownloadInterruptReason), in the user's words.
QString BrowserInterruptText(int interruptReason);

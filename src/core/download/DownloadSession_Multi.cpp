// The download session's parallel transfers: up to six slots, each a Downloader while it is
// busy, whose events move their row's progress columns and decide its final state.

#include "core/download/DownloadSession.h"

#include "core/app/ProgramValues.h"
#include "core/download/DownloadList.h"
#include "core/download/FileType.h"
#include "core/platform/Clock.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/TransferNetwork.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {

// Slots 1 to 6 transfer; element 0 of the control array never does.
constexpr int kFirstSlot = 1;
constexpr int kLastSlot = 6;
// A row's progress reaches the list at most this often, whatever the transfer reports;
// its end (everything received) is shown at once.
constexpr qint64 kProgressIntervalMs = 250;

bool isTransferSlot(int slot) {
    return slot >= kFirstSlot && slot <= kLastSlot;
}

double monotonicSeconds() {
    static SystemClock fallback;
    const Clock* clock = Services().clock;
    return clock ? clock->elapsedSeconds() : fallback.elapsedSeconds();
}

// Milliseconds on a monotonic clock, never 0 (0 stands for "never").
qint64 monotonicMs() {
    static QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return started.elapsed() + 1;
}

// What the slot's answer said; a download through the browser shows only its status.
DownloadSession::TransferAnswer answerOf(const Downloader* element, const BrowserTransfer* browser,
                                         const QString& link) {
    if (element)
        return {element->ResponseStatus(),
                element->ResponseHeader("cf-mitigated"),
                element->ResponseHeader("retry-after"),
                element->ResponseUrl(),
                element->ResponseHeader("date"),
                false,
                element->BroughtBotCheck()};
    if (browser)
        return {browser->ResponseStatus(), {}, {}, link, {}, browser->PushedBack(),
                browser->BroughtBotCheck()};
    return {};
}

} // namespace

template <typename Transfer> void DownloadSession::connectSlotEvents(Transfer* element, int slot) {
    connect(element, &Transfer::DownloadProgress, this,
            [this, slot](qint64 received, qint64 total, const QString& path) {
                Downloader1_DownloadProgress(slot, received, total, path);
            });
    connect(element, &Transfer::DownloadError, this,
            [this, slot](const QString& path) { Downloader1_DownloadError(slot, path); });
    connect(element, &Transfer::DownloadComplete, this,
            [this, slot](qint64 size, const QString& path) {
                Downloader1_DownloadComplete(slot, size, path);
            });
}
template void DownloadSession::connectSlotEvents(BrowserTransfer* element, int slot);

bool DownloadSession::多线程下载(int slot, int position, const QString& link,
                                 const QString& targetPath) {
    if (!isTransferSlot(slot))
        return false;
    // The scheduler names the row by its position and its link; the link is what stays true.
    int row = ListItems3->Key(position) == link ? position : ListItems3->PositionOfKey(link);
    if (row == 0)
        return false;

    const bool throughBrowser = FetchedThroughBrowser(link);
    if (throughBrowser && !makeBrowserTransfer_) {
        // Only a desktop with the browser gets through to this site.
        ListItems3->SetSmallIcon(row, ItemState::Failed);
        ReportRowFailure(row, QStringLiteral("该网站只允许通过浏览器下载：请在桌面程序中下载"));
        showRowVerdict(row);
        return false;
    }
    Downloader* element = Downloader1.value(slot);
    if (!element && !throughBrowser) {
        element = new Downloader(this);
        element->SetNetwork(TransferNetwork(slot - 1));
        connectSlotEvents(element, slot);
        // Recorded at once: a program killed in the middle finds in the journal what the
        // transfer had so far.
        connect(element, &Downloader::ResumePointChanged, this, [this, slot] {
            const Downloader* source = Downloader1.value(slot);
            if (const int at = slotRow(slot); at != 0 && source)
                SetRowResumePoint(*ListItems3, at, source->CurrentResumePoint());
        });
        Downloader1.insert(slot, element);
    }
    DownloadBusy = true;

    ListItems3->SetSmallIcon(row, ItemState::Downloading);
    ListItems3->SetSubItem(row, DownloadColumn::Size, QString());
    ListItems3->SetSubItem(row, DownloadColumn::Received, QString());
    ListItems3->SetSubItem(row, DownloadColumn::Percent, QString());
    SetRowFailureReason(*ListItems3, row, QString());
    // Recorded before the transfer begins: two rows never write one target at once, and the
    // commands that act on a row's file find it here. A transfer that ends without its file
    // gives the row back the file it had.
    slotPreviousPath_[slot] = RowFilePath(*ListItems3, row);
    slotPreviousOwned_[slot] = RowOwnedFile(*ListItems3, row);
    slotCommitted_[slot] = false;
    const CommitRule rule =
        CommitRuleFor(row, targetPath, ListItems3->SubItem(row, DownloadColumn::Type));
    SetRowFilePath(*ListItems3, row, targetPath);
    slotLink_[slot] = link;
    slotProgress_[slot] = SlotProgress{};
    slotShownMs_[slot] = 0;
    SlotStart[slot] = monotonicSeconds();

    if (throughBrowser) {
        startBrowserSlot(slot, link, targetPath, ListItems3->Tag(row), rule);
    } else {
        element->SetCommitRule(rule);
        element->SetResumePoint(RowResumePoint(*ListItems3, row));
        element->BeginDownload(link, targetPath, ListItems3->Tag(row));
    }
    return false;
}

void DownloadSession::RemoveDownloaderSlot(int slot) {
    if (!isTransferSlot(slot))
        return;
    showSlotProgress(slot);
    const QPointer<Downloader> element = Downloader1.take(slot);
    const QPointer<BrowserTransfer> browser = BrowserSlots.take(slot);
    if (!slotCommitted_[slot]) {
        if (const int row = slotRow(slot)) {
            SetRowFilePath(*ListItems3, row, slotPreviousPath_[slot]);
            // Taken away before it ended: by the stop command, or by the watchdog while
            // downloading stays on.
            if (((element && element->IsBusy()) || (browser && browser->IsBusy())) &&
                RowFailureReason(*ListItems3, row).isEmpty())
                ReportRowFailure(row, Timer_Down->isActive()
                                          ? QStringLiteral("长时间没有得到文件大小，已放弃")
                                          : QStringLiteral("已停止"));
        }
    }
    slotCommitted_[slot] = false;
    slotPreviousPath_[slot].clear();
    slotPreviousOwned_[slot] = OwnedFile{};
    slotLink_[slot].clear();
    slotProgress_[slot] = SlotProgress{};
    if (browser) {
        browser->disconnect(this);
        browser->CancelAsyncRead();
        browser->deleteLater();
    }
    if (!element)
        return;
    // Its signals go first, so that nothing of the abandoned transfer arrives; it is deleted
    // later, as this may run inside one of its own signals.
    element->disconnect(this);
    element->CancelAsyncRead();
    element->deleteLater();
}

int DownloadSession::slotRow(int slot) const {
    if (!isTransferSlot(slot) || slotLink_[slot].isEmpty())
        return 0;
    return ListItems3->PositionOfKey(slotLink_[slot]);
}

void DownloadSession::showSlotProgress(int slot) {
    SlotProgress& progress = slotProgress_[slot];
    if (!progress.pending)
        return;
    progress.pending = false;
    slotShownMs_[slot] = monotonicMs();
    const int row = slotRow(slot);
    if (row == 0)
        return;
    ListItems3->SetSubItem(row, DownloadColumn::Size, QString::number(progress.total));
    ListItems3->SetSubItem(row, DownloadColumn::Received, QString::number(progress.received));
    ListItems3->SetSubItem(row, DownloadColumn::Percent,
                           QString::number(progress.received * 100 / progress.total) +
                               QLatin1Char('%'));
}

void DownloadSession::showPendingSlotProgress() {
    slotProgressQueued_ = false;
    for (int slot = kFirstSlot; slot <= kLastSlot; ++slot)
        showSlotProgress(slot);
}

void DownloadSession::Downloader1_DownloadProgress(int Index, qint64 received, qint64 total,
                                                   const QString& /*path*/) {
    if (!isTransferSlot(Index) || total <= 0 || received < 0 || total < received)
        return;
    slotProgress_[Index] = SlotProgress{received, total, true};
    const qint64 shown = slotShownMs_[Index];
    if (received == total || shown == 0 || monotonicMs() - shown >= kProgressIntervalMs) {
        showSlotProgress(Index);
        return;
    }
    if (!slotProgressQueued_) {
        slotProgressQueued_ = true;
        QTimer::singleShot(kProgressIntervalMs, this, [this] { showPendingSlotProgress(); });
    }
}

void DownloadSession::Downloader1_DownloadError(int Index, const QString& /*path*/) {
    if (!isTransferSlot(Index))
        return;
    showSlotProgress(Index);
    const int row = slotRow(Index);
    const bool element = SlotLoaded(Index);
    const QString reason = slotFailureReason(Index);
    if (row != 0 && element)
        SetRowHttpStatus(*ListItems3, row, slotResponseStatus(Index));
    const QString link = slotLink_[Index];
    const TransferAnswer answer =
        answerOf(Downloader1.value(Index), BrowserSlots.value(Index), link);
    RemoveDownloaderSlot(Index);
    if (row == 0)
        return;
    ListItems3->SetSmallIcon(row, ItemState::Failed);
    ReportRowFailure(row, reason.isEmpty() ? QStringLiteral("下载失败") : reason);
    TransferEnded(link, answer);
    showRowVerdict(ListItems3->PositionOfKey(link));
}

void DownloadSession::Downloader1_DownloadComplete(int Index, qint64 /*size*/,
                                                   const QString& /*path*/) {
    if (!isTransferSlot(Index))
        return;
    showSlotProgress(Index);
    const QString link = slotLink_[Index];
    int row = slotRow(Index);
    const int status = slotResponseStatus(Index);
    const QString reason = slotFailureReason(Index);
    const OwnedFile previous = slotPreviousOwned_[Index];
    const TransferAnswer answer =
        answerOf(Downloader1.value(Index), BrowserSlots.value(Index), link);
    OwnedFile placed;
    BodyKind kind = BodyKind::Other;
    if (const Downloader* element = Downloader1.value(Index)) {
        placed = element->CommittedFile();
        kind = element->CommittedKind();
    } else if (const BrowserTransfer* browser = BrowserSlots.value(Index)) {
        placed = browser->CommittedFile();
        kind = browser->CommittedKind();
    }
    slotCommitted_[Index] = true;
    // The slot is free whether or not its row is still there.
    RemoveDownloaderSlot(Index);
    if (row == 0)
        return;

    // Only what the progress showed counts as a whole file. An answer with an error status
    // (a "not found" page, a refusal) is a failed transfer too, though its page is kept as
    // the file and its type is checked like any other.
    const bool whole = ListItems3->SubItem(row, DownloadColumn::Percent) == QLatin1String("100%");
    ListItems3->SetSmallIcon(row, whole && status < 400 ? ItemState::Completed : ItemState::Failed);
    SetRowHttpStatus(*ListItems3, row, status);
    if (status >= 400)
        ReportRowFailure(row, reason);
    else if (!whole)
        ReportRowFailure(row, QStringLiteral("进度未到 100%"));

    SetRowResumePoint(*ListItems3, row, ResumePoint{});
    RecordCommit(row, placed);
    RowFileCommitted(row, previous);
    CorrectItemFileType(row, kind == BodyKind::WebPage);
    // The type check renames the file and may change the row; it is found again by its link.
    row = ListItems3->PositionOfKey(link);
    if (row == 0)
        return;
    TransferEnded(link, answer);
    row = ListItems3->PositionOfKey(link);
    if (row == 0)
        return;

    showRowVerdict(row);
    if (options_.sound) {
        const QString type = ListItems3->SubItem(row, DownloadColumn::Type).toLower();
        if (type == QLatin1String("htm") || type == QLatin1String("html"))
            PlaySound(101);
        if (ListItems3->SmallIcon(row) == ItemState::Failed)
            PlaySound(103);
    }
    // A page came back instead of the file: the login panel logs in again when asked to.
    // The login lets events run.
    const QPointer<DownloadSession> alive(this);
    AutomaticLoginAfterTransfer(row);
    if (!alive)
        return;
    LastFileTime = monotonicSeconds();
}

void DownloadSession::ReportRowFailure(int position, const QString& reason) {
    if (position < 1 || position > ListItems3->Count())
        return;
    SetRowFailureReason(*ListItems3, position, reason);
    showRowMessage(1, position,
                   QStringLiteral("下载失败：") + ListItems3->Text(position) +
                       (reason.isEmpty() ? QString() : QStringLiteral("：") + reason));
    // Said of a row whose transfer is being taken away: the failure is its verdict.
    rowMessages_[1].state = ItemState::Failed;
}

void DownloadSession::RowFileCommitted(int position, const OwnedFile& previous) {
    if (position < 1 || position > ListItems3->Count() || !previous.IsSet())
        return;
    // A row downloaded again after a web page came (its type made "xxx") wrote its new file
    // under another name: the page it replaces goes now, not before, and only while it is
    // the row's own page as its commit left it.
    if (previous.path != RowOwnedFile(*ListItems3, position).path &&
        ClaimFile(previous, previous.path) == FileClaim::Owned &&
        ClassifyFileType(previous.path) == QLatin1String("htm"))
        QFile::remove(previous.path);
}

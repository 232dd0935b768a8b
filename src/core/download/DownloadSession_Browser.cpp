// The download session's transfers through the embedded browser: rows of a site whose bot check
// lets only the browser through go to a slot's BrowserDownload instead of its Downloader, in
// either transfer mode, and end through the slot's usual events.

#include "core/download/DownloadSession.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/download/DownloadList.h"
#include "core/download/HostPacing.h"
#include "core/download/Naming.h"
#include "core/download/Scheduler.h"
#include "core/platform/Clock.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"

#include <QPointer>

bool DownloadSession::FetchedThroughBrowser(const QString& link) {
    const QString host = HostOfLink(link);
    return adoptedCheckDownload_ != nullptr || (!host.isEmpty() && Pacing().IsThroughBrowser(host));
}

void DownloadSession::startBrowserSlot(int slot, const QString& link, const QString& targetPath,
                                       const QString& referer, const CommitRule& rule) {
    BrowserTransfer* element = makeBrowserTransfer_(this);
    element->SetCommitRule(rule);
    connectSlotEvents(element, slot);
    BrowserSlots.insert(slot, element);
    SetPanelText(3, QStringLiteral("通过浏览器下载：") + HostOfLink(link));
    // Site manners: a download the passed check started is taken up, not asked for again.
    if (adoptedCheckDownload_)
        element->AdoptDownload(adoptedCheckDownload_, targetPath);
    else
        element->BeginDownload(link, targetPath, referer);
}

int DownloadSession::slotResponseStatus(int slot) const {
    if (const Downloader* element = Downloader1.value(slot))
        return element->ResponseStatus();
    if (const BrowserTransfer* browser = BrowserSlots.value(slot))
        return browser->ResponseStatus();
    return 0;
}

QString DownloadSession::slotFailureReason(int slot) const {
    if (const Downloader* element = Downloader1.value(slot))
        return element->FailureReason();
    if (const BrowserTransfer* browser = BrowserSlots.value(slot))
        return browser->FailureReason();
    return {};
}

void DownloadSession::DownloadThroughBrowser(int position) {
    KeyedListModel& list = *ListItems3;
    const QString link = list.Key(position);
    if (link.isEmpty() || QuitRequested())
        return;
    const QPointer<DownloadSession> alive(this);
    const auto abandoned = [&] {
        return !alive || singleTransferAbandoned(link);
    };
    const auto failRow = [&](const QString& reason) {
        position = list.PositionOfKey(link);
        list.SetSmallIcon(position, ItemState::Failed);
        ReportRowFailure(position, reason);
        LastFileTime = ProgramClock().elapsedSeconds();
    };

    // The browser's transfer is carried by a slot as in the parallel mode, so that the stop,
    // the close and the watchdog reach it the same way.
    int slot = 0;
    for (int candidate = 1; candidate <= DownloadScheduler::kMaxSlots && slot == 0; ++candidate) {
        if (!SlotLoaded(candidate))
            slot = candidate;
    }
    if (slot == 0) {
        list.SetSmallIcon(position, ItemState::Waiting);
        list.SetSubItem(position, DownloadColumn::Size, QStringLiteral("等待重新下载"));
        return;
    }

    const QString folder = MakeFolderPath(
        list.SubItem(position, DownloadColumn::Folder), [this](const QString& message) {
            if (Prompt* prompt = Services().prompt)
                prompt->message(promptOwner_, message, MsgIcon::Error);
        });
    if (abandoned())
        return;
    position = list.PositionOfKey(link);
    if (folder.isEmpty())
        return failRow(QStringLiteral("无法创建保存文件夹"));
    list.SetSubItem(position, DownloadColumn::Folder, WithTrailingSlash(folder));

    // The target as the parallel mode chooses it, by the same-name rule decided now.
    const StartTarget start = DecideStartTarget(
        list, position, list.SubItem(position, DownloadColumn::Type), SameNameChoiceNow());
    if (start.action == StartTarget::Action::Skip) {
        确定是需要下载(position);
        return;
    }
    if (start.action == StartTarget::Action::Wait) {
        list.SetSmallIcon(position, ItemState::Waiting);
        return;
    }
    const QString target = start.path;
    const QString newName = start.newName;
    if (target.isEmpty())
        return failRow(QStringLiteral("文件名无效"));
    list.SetText(position, newName);
    showRowMessage(2, position, QStringLiteral("正在下载:") + newName);

    SlotItem[static_cast<std::size_t>(slot)] = position;
    多线程下载(slot, position, link, target);
    // The slot's events end the row; the stop and the close free the slot.
    while (alive && SlotLoaded(slot) && !abandoned())
        DoEvents();
    if (!alive)
        return;
    if (SlotLoaded(slot))
        RemoveDownloaderSlot(slot);
    if (abandoned())
        LastFileTime = ProgramClock().elapsedSeconds();
}

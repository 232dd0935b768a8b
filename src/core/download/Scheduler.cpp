#include "core/download/Scheduler.h"

#include "core/app/FileHelpers.h"
#include "core/app/WebAddress.h"
#include "core/download/DownloadList.h"
#include "core/download/Naming.h"
#include "core/platform/Clock.h"
#include "core/platform/KeyedListModel.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

bool isWebPageType(const QString& type) {
    const QString lower = type.toLower();
    return lower == QLatin1String("htm") || lower == QLatin1String("html");
}

bool isFinalState(int state) {
    return state == ItemState::Completed || state == ItemState::Failed;
}

void clearProgress(KeyedListModel& list, int position) {
    list.SetSubItem(position, DownloadColumn::Size, QString());
    list.SetSubItem(position, DownloadColumn::Received, QString());
    list.SetSubItem(position, DownloadColumn::Percent, QString());
}

// What is known of a row's last answer belongs to that answer only.
void forgetLastAnswer(KeyedListModel& list, int position) {
    SetRowHttpStatus(list, position, 0);
    list.SetHiddenValue(position, DownloadHidden::FailureSeenAt, QString());
    list.SetHiddenValue(position, DownloadHidden::WebPage, QString());
}

// A bot check the transfer meets gives the row this type back.
void keepTypeAtStart(KeyedListModel& list, int position) {
    list.SetHiddenValue(position, DownloadHidden::TypeAtStart,
                        list.SubItem(position, DownloadColumn::Type));
}

bool isWebPageResult(const QString& type) {
    const QString lower = type.toLower();
    return lower == QLatin1String("htm") || lower == QLatin1String("html") ||
           lower == QLatin1String("xml");
}

const QString kGivenUp = QStringLiteral("-");

// The transfer's own reason stays in front of what the automatic re-download adds.
void addToFailureReason(KeyedListModel& list, int position, const QString& note) {
    const QString reason = RowFailureReason(list, position);
    SetRowFailureReason(list, position,
                        reason.isEmpty() ? note : reason + QStringLiteral("；") + note);
}

QString pauseText(double seconds) {
    return seconds < 60 ? QStringLiteral("%1秒").arg(seconds)
                        : QStringLiteral("%1分钟").arg(seconds / 60);
}

} // namespace

bool IsPermanentHttpFailure(int status) {
    return status == 404 || status == 410;
}

// Only the file the row's own commit left goes (a link there is the user's, never followed),
// never a file found by the row's name at a later moment: that may be a user's. Of a failed
// row, only what its failed answer left (an error page) goes.
bool DeleteItemFile(KeyedListModel& list, int position) {
    const OwnedFile own = RowOwnedFile(list, position);
    const QString path = own.IsSet() ? own.path : RowFilePath(list, position);
    const FileClaim claim = ClaimFile(own, path);
    // A failed row's good file from an earlier transfer is not what the failure left.
    const bool earlierGoodFile = claim == FileClaim::Owned && !own.errorAnswer &&
                                 list.SmallIcon(position) == ItemState::Failed;
    if (claim == FileClaim::NotOwned || claim == FileClaim::Changed || earlierGoodFile) {
        const QString refusal = earlierGoodFile ? QStringLiteral("文件是此前下载成功的，未删除")
                                                : ClaimRefusal(claim, QStringLiteral("删除"));
        const QString reason = RowFailureReason(list, position);
        if (!reason.contains(refusal))
            SetRowFailureReason(list, position,
                                reason.isEmpty() ? refusal
                                                 : reason + QStringLiteral("；") + refusal);
        return false;
    }
    if (claim == FileClaim::Owned && !QFile::remove(path))
        return false;
    SetRowOwnedFile(list, position, OwnedFile{});
    return claim == FileClaim::Owned;
}

// The row's file stays: a re-download replaces it only once the new body is complete.
void RequeueItem(KeyedListModel& list, int position, bool forceType) {
    list.SetSmallIcon(position, ItemState::Waiting);
    if (forceType || isWebPageType(list.SubItem(position, DownloadColumn::Type)))
        list.SetSubItem(position, DownloadColumn::Type, QStringLiteral("xxx"));
    clearProgress(list, position);
    SetRowFailureReason(list, position, QString());
    forgetLastAnswer(list, position);
    list.SetHiddenValue(position, DownloadHidden::AutomaticRequeues, QString());
}

DownloadScheduler::DownloadScheduler(KeyedListModel& list, const Clock& clock,
                                     SchedulerVariables variables, SchedulerWindow& window,
                                     DownloadTransfers& transfers)
    : list_(list), clock_(clock), vars_(variables), window_(window), transfers_(&transfers),
      pacing_(clock) {}

int DownloadScheduler::clampedThreadCount(int threads) {
    return std::clamp(threads, 1, kMaxSlots);
}

double DownloadScheduler::now() const {
    return clock_.elapsedSeconds();
}

void DownloadScheduler::tick(const SchedulerSettings& settings) {
    if (list_.Count() == 0) {
        window_.setSchedulerOn(false);
        return;
    }
    if (!(std::fabs(vars_.lastFileTime - now()) > settings.gapSeconds))
        return;
    if (settings.mode == 1)
        tickSingle(settings);
    else
        tickParallel(settings);
}

int DownloadScheduler::nextAcceptedRow(bool makeFolders, int from) {
    const int rows = list_.Count();
    for (int position = std::max(from, 1); position <= rows; ++position) {
        if (list_.SmallIcon(position) != ItemState::Waiting)
            continue;
        // Only web addresses are fetched, however a row came into the list. Trying it again
        // would fail the same way, so the automatic re-download leaves it.
        if (const QString link = list_.Key(position); !IsWebAddress(link)) {
            list_.SetSmallIcon(position, ItemState::Failed);
            SetRowFailureReason(list_, position, NotWebAddressReason(link));
            list_.SetHiddenValue(position, DownloadHidden::FailureSeenAt, kGivenUp);
            continue;
        }
        // A site that asked for a pause, is held, waits for its check or is still within its
        // spacing is passed over; rows of other sites go on.
        if (pacing_.SecondsUntilStart(HostOfLink(list_.Key(position))) != 0.0)
            continue;
        const QString name = CleanFileName(list_.Text(position));
        if (name != list_.Text(position))
            list_.SetText(position, name);

        QString folder = list_.SubItem(position, DownloadColumn::Folder);
        // A folder that cannot be made would otherwise become "/" and send the file to the
        // root of the file system; such a row fails here and the walk goes on.
        if (makeFolders)
            folder = MakeFolderPath(folder);
        if (folder.isEmpty()) {
            list_.SetSmallIcon(position, ItemState::Failed);
            continue;
        }
        folder = WithTrailingSlash(folder);
        list_.SetSubItem(position, DownloadColumn::Folder, folder);

        if (window_.acceptRow(position))
            return position;
    }
    return 0;
}

void DownloadScheduler::tickSingle(const SchedulerSettings& settings) {
    if (vars_.downloadBusy)
        return;
    const int position = nextAcceptedRow(false);
    if (position == 0 || !mayStartToday(position))
        return;
    noteStart(position);
    list_.SetSmallIcon(position, ItemState::Downloading);
    forgetLastAnswer(list_, position);
    keepTypeAtStart(list_, position);
    if (settings.locateStartedRow)
        window_.showRow(position);
    clearProgress(list_, position);
    vars_.slotItem[1] = position;
    transfers_->runSingle(position);
}

void DownloadScheduler::tickParallel(const SchedulerSettings& settings) {
    const int threads = clampedThreadCount(settings.threadCount);
    // The walk goes on from the row after the last one it looked at: a row left waiting
    // because its target is busy is not taken again in the same tick.
    int from = 1;
    for (int slot = 1; slot <= threads; ++slot) {
        if (transfers_->slotLoaded(slot))
            continue;
        for (;;) {
            const int position = nextAcceptedRow(true, from);
            // A walk that found nothing for this slot finds nothing for the next one either.
            if (position == 0 || !mayStartToday(position))
                return;
            from = position + 1;
            const StartTarget start = targetFor(position);
            // Two rows never write one target at once: this one waits for the other to end.
            if (start.action == StartTarget::Action::Wait)
                continue;
            // The acceptance check saw the name free a moment ago; it is the user's now.
            if (start.action == StartTarget::Action::Skip) {
                window_.acceptRow(position);
                continue;
            }
            const QString target = start.path;
            list_.SetSmallIcon(position, ItemState::Downloading);
            forgetLastAnswer(list_, position);
            keepTypeAtStart(list_, position);
            if (settings.locateStartedRow)
                window_.showRow(position);
            // No file can be written for a name that yields no target: fail the row and try
            // the next one for the same slot.
            if (target.isEmpty()) {
                list_.SetSmallIcon(position, ItemState::Failed);
                continue;
            }
            list_.SetText(position, start.newName);
            noteStart(position);
            vars_.slotItem[static_cast<std::size_t>(slot)] = position;
            transfers_->startSlot(slot, position, list_.Key(position), target);
            break;
        }
    }
}

HousekeepingOutcome DownloadScheduler::housekeeping(const SchedulerSettings& settings,
                                                    const HousekeepingOptions& options) {
    HousekeepingOutcome outcome;
    if (IsDownloadListFinished(list_)) {
        outcome.startMenuEnabled = true;
        if (window_.schedulerOn()) {
            window_.setSchedulerOn(false);
            if (options.sound)
                window_.playSound(SchedulerSound::Stopped);
        }
    } else {
        outcome.startMenuEnabled = !window_.schedulerOn();
    }
    outcome.lampVisible = window_.schedulerOn();

    watchSlots(clampedThreadCount(settings.threadCount));
    settleBusyFlag(settings);
    window_.refreshCounters();

    if (options.autoStart && CountNotDownloaded(list_) >= 1)
        window_.setSchedulerOn(true);

    if (options.autoRedownload) {
        // Failures are noted while other rows still run, so their pauses run meanwhile.
        const bool off = !window_.schedulerOn();
        const int requeued = redownloadAutomatically(options.redownloadChoice, off);
        // Downloading is switched on for work only: a finished list with nothing re-queued
        // would otherwise be switched on and off again (and sound 102) every other second.
        if (off && (requeued > 0 || !IsDownloadListFinished(list_)))
            window_.setSchedulerOn(true);
    }

    if (options.autoStop && window_.schedulerOn() &&
        CountProblemItems(list_) >= kProblemRowsToStop) {
        window_.setSchedulerOn(false);
        if (options.sound)
            window_.playSound(SchedulerSound::Stopped);
    }
    return outcome;
}

int DownloadScheduler::redownloadAutomatically(int choice, bool mayRequeue) {
    using namespace AutomaticRedownload;
    const bool failedRows = choice == 0 || choice == 2;
    const bool webPageRows = choice == 1 || choice == 2;
    if (!failedRows && !webPageRows)
        return 0;
    const double current = now();
    int requeued = 0;
    const int rows = list_.Count();
    for (int position = 1; position <= rows; ++position) {
        const int state = list_.SmallIcon(position);
        // As the re-queue commands take them: a failed row keeps a type other than a web
        // page's, a web-page row always becomes "xxx".
        const bool asFailed = failedRows && state == ItemState::Failed;
        const bool asWebPage = !asFailed && webPageRows && isFinalState(state) &&
                               isWebPageResult(list_.SubItem(position, DownloadColumn::Type));
        if (!asFailed && !asWebPage)
            continue;
        const QString seen = list_.HiddenValue(position, DownloadHidden::FailureSeenAt);
        if (seen == kGivenUp)
            continue;
        const int done = list_.HiddenValue(position, DownloadHidden::AutomaticRequeues).toInt();
        const int attempts = done + 1;
        const int status = RowHttpStatus(list_, position);
        if (IsPermanentHttpFailure(status) || done >= kMaxRequeues) {
            list_.SetHiddenValue(position, DownloadHidden::FailureSeenAt, kGivenUp);
            addToFailureReason(
                list_, position,
                IsPermanentHttpFailure(status)
                    ? QStringLiteral("服务器答复%1（文件不存在），不自动重新下载（已下载%2次）")
                          .arg(status)
                          .arg(attempts)
                    : QStringLiteral("已下载%1次仍未成功，不再自动重新下载").arg(attempts));
            continue;
        }
        const double pause = kPauseSeconds[static_cast<std::size_t>(done)];
        if (seen.isEmpty()) {
            list_.SetHiddenValue(position, DownloadHidden::FailureSeenAt,
                                 QString::number(current, 'g', 17));
            addToFailureReason(list_, position,
                               QStringLiteral("已下载%1次，%2后自动重新下载（最多%3次）")
                                   .arg(attempts)
                                   .arg(pauseText(pause))
                                   .arg(kMaxRequeues));
            continue;
        }
        if (!mayRequeue || current - seen.toDouble() < pause)
            continue;
        RequeueItem(list_, position, asWebPage);
        list_.SetHiddenValue(position, DownloadHidden::AutomaticRequeues,
                             QString::number(done + 1));
        ++requeued;
    }
    return requeued;
}

StartTarget DownloadScheduler::targetFor(int position) {
    return DecideStartTarget(list_, position, list_.SubItem(position, DownloadColumn::Type),
                             window_.sameNameChoice());
}

void DownloadScheduler::watchSlots(int threadCount) {
    const double current = now();
    for (int slot = 1; slot <= threadCount; ++slot) {
        const auto index = static_cast<std::size_t>(slot);
        if (!transfers_->slotLoaded(slot))
            continue;
        if (std::fabs(current - vars_.slotStart[index]) < kSlotTimeoutSeconds)
            continue;
        const int position = vars_.slotItem[index];
        const bool rowThere = position >= 1 && position <= list_.Count();
        // A slot whose row is gone can never report for it; it is reclaimed all the same.
        if (rowThere && !list_.SubItem(position, DownloadColumn::Size).isEmpty())
            continue;
        transfers_->removeSlot(slot);
        if (rowThere)
            list_.SetSmallIcon(position, ItemState::Failed);
    }
}

void DownloadScheduler::settleBusyFlag(const SchedulerSettings& settings) {
    if (settings.mode == 1) {
        if (!transfers_->singleExecuting() && !window_.schedulerOn())
            vars_.downloadBusy = false;
        return;
    }
    const int threads = clampedThreadCount(settings.threadCount);
    for (int slot = 1; slot <= threads; ++slot) {
        if (transfers_->slotLoaded(slot)) {
            vars_.downloadBusy = true;
            break;
        }
    }
    if (!window_.schedulerOn())
        vars_.downloadBusy = false;
}

bool DownloadScheduler::mayStartToday(int position) {
    const QString link = list_.Key(position);
    const QString host = HostOfLink(link);
    const QDate today = QDate::currentDate();
    const int starts = pacing_.StartsOn(host, today);
    if (starts < HostPacing::kStartsBeforeQuestion || pacing_.GoesOnToday(host, today))
        return true;
    if (!window_.confirmManyStarts(host, starts)) {
        window_.setSchedulerOn(false);
        return false;
    }
    pacing_.GoOnToday(host, today);
    // The question let events run: the row may have moved, gone or started, and downloading
    // may have been switched off.
    return window_.schedulerOn() && list_.Key(position) == link &&
           list_.SmallIcon(position) == ItemState::Waiting;
}

void DownloadScheduler::noteStart(int position) {
    pacing_.NoteStart(HostOfLink(list_.Key(position)), QDate::currentDate());
}

double DownloadScheduler::secondsUntilNextDue() const {
    double earliest = -1.0;
    QHash<QString, double> seen;
    const int rows = list_.Count();
    for (int position = 1; position <= rows; ++position) {
        if (list_.SmallIcon(position) != ItemState::Waiting)
            continue;
        const QString host = hostOf(list_.Key(position));
        if (host.isEmpty() || seen.contains(host))
            continue;
        const double wait = pacing_.SecondsUntilStart(host);
        seen.insert(host, wait);
        if (wait > 0.0 && (earliest < 0.0 || wait < earliest))
            earliest = wait;
    }
    return earliest;
}

QString DownloadScheduler::hostOf(const QString& link) const {
    // Links of rows that went stay behind: the memory is given back once it outgrows the list.
    if (hostOfLink_.size() > 2 * list_.Count() + 64)
        hostOfLink_.clear();
    auto found = hostOfLink_.constFind(link);
    if (found == hostOfLink_.constEnd())
        found = hostOfLink_.insert(link, HostOfLink(link));
    return *found;
}

void DownloadScheduler::markIfJustHeld(const QString& host, bool wasHeld) {
    if (wasHeld || !pacing_.IsHeld(host))
        return;
    const int rows = list_.Count();
    for (int row = 1; row <= rows; ++row) {
        if (list_.SmallIcon(row) == ItemState::Waiting && HostOfLink(list_.Key(row)) == host)
            SetRowFailureReason(list_, row, kSiteHeldReason);
    }
}

void DownloadScheduler::noteRefusal(const QString& link) {
    const QString host = HostOfLink(link);
    if (host.isEmpty())
        return;
    const bool wasHeld = pacing_.IsHeld(host);
    pacing_.NotePushBack(host, -1.0);
    markIfJustHeld(host, wasHeld);
}

bool DownloadScheduler::noteTransferEnd(const QString& link, const SiteAnswer& answer) {
    const QString host = HostOfLink(link);
    if (host.isEmpty())
        return false;
    const int position = list_.PositionOfKey(link);
    const bool wasHeld = pacing_.IsHeld(host);
    if (answer.status == 429 || answer.status == 503 || answer.pushedBack) {
        // The answer's own date: a local clock running fast must not eat the pause.
        QDateTime answerTime = ParseHttpDate(answer.date);
        if (!answerTime.isValid())
            answerTime = clock_.utcNow();
        const double asked = ParseRetryAfter(answer.retryAfter, answerTime);
        const bool bearable = pacing_.NotePushBack(host, asked);
        if (position != 0 && !bearable) {
            list_.SetSmallIcon(position, ItemState::Failed);
            SetRowFailureReason(list_, position,
                                QStringLiteral("服务器要求暂停%1，超过一小时，已放弃")
                                    .arg(pauseText(std::round(asked))));
            // Asking again soon would only be refused again.
            list_.SetHiddenValue(position, DownloadHidden::FailureSeenAt, kGivenUp);
        } else if (position != 0) {
            RequeueItem(list_, position, false);
            SetRowFailureReason(
                list_, position,
                QStringLiteral("服务器答复%1，暂停该网站%2后自动重新下载")
                    .arg(answer.status != 0 ? QString::number(answer.status)
                                            : QStringLiteral("拒绝"))
                    .arg(pauseText(std::round(std::max(0.0, pacing_.SecondsUntilStart(host))))));
        }
        markIfJustHeld(host, wasHeld);
        return position != 0 && bearable;
    }
    if (!answer.failed) {
        pacing_.NoteSuccess(host);
        return false;
    }
    // An answer about the file (a page, not found, refused) is no fault of the server; no
    // answer, a server error and a body cut short are.
    if (answer.webPage || (answer.status >= 400 && answer.status < 500))
        return false;
    pacing_.NoteFailure(host);
    markIfJustHeld(host, wasHeld);
    return false;
}

void DownloadScheduler::stop() {
    transfers_->cancelSingle();
    window_.setSchedulerOn(false);
    vars_.downloadBusy = false;
    transfers_->cancelSingle();
    for (int slot = 1; slot <= kMaxSlots; ++slot) {
        if (transfers_->slotLoaded(slot))
            transfers_->removeSlot(slot);
    }
    const int rows = list_.Count();
    for (int position = 1; position <= rows; ++position) {
        if (list_.SmallIcon(position) == ItemState::Downloading)
            list_.SetSmallIcon(position, ItemState::Failed);
    }
    vars_.downloadBusy = false;
}

int OtherRowWithFile(const KeyedListModel& list, const QString& path, int except) {
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (position != except && RowFilePath(list, position) == path)
            return position;
    }
    return 0;
}

int CountProblemItems(const KeyedListModel& list) {
    int count = 0;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (isWebPageType(list.SubItem(position, DownloadColumn::Type)) ||
            list.SmallIcon(position) == ItemState::Failed)
            ++count;
    }
    return count;
}

int RequeueFailedRows(KeyedListModel& list) {
    int count = 0;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (list.SmallIcon(position) != ItemState::Failed)
            continue;
        RequeueItem(list, position, false);
        ++count;
    }
    return count;
}

int RequeueWebPageRows(KeyedListModel& list) {
    int count = 0;
    const int rows = list.Count();
    for (int position = 1; position <= rows; ++position) {
        if (!isFinalState(list.SmallIcon(position)))
            continue;
        const QString type = list.SubItem(position, DownloadColumn::Type).toLower();
        if (type != QLatin1String("htm") && type != QLatin1String("html") &&
            type != QLatin1String("xml"))
            continue;
        RequeueItem(list, position, true);
        ++count;
    }
    return count;
}

// The download session's manners towards the sites it fetches from: a web page that came
// instead of the file is told apart by kind, a bot check is handed to the user in the search
// window's browser, push-back and failures pause or hold the site, and the day's count of
// files per site is shown and kept across a restart.

#include "core/download/DownloadSession.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/download/DownloadList.h"
#include "core/download/HostPacing.h"
#include "core/download/ListCommands.h"
#include "core/download/Naming.h"
#include "core/download/Scheduler.h"
#include "core/download/WebPageDiagnosis.h"
#include "core/platform/Clock.h"
#include "core/platform/KeyedListModel.h"

#include <QDate>
#include <QFile>

#include <algorithm>

namespace {

constexpr double kSiteCheckWaitSeconds = 5 * 60;

const QString kAwaitingCheck = QStringLiteral("等待在浏览器中完成网站验证");
const QString kCheckNeedsDesktop =
    QStringLiteral("网站要求人机验证：只能在桌面程序的资料检索窗口中完成，已停止该网站的下载");

// The day's counts per site, so that a restart does not hand out a fresh allowance:
// "yyyy-MM-dd;host=N;host=N".
constexpr SettingKey kKeptStarts{"下载", "今日各网站下载数", "", SettingFormat::Text};
// Beside them, what else a site's manners must keep past the session and the day: pauses with
// their wall-clock end, holds, the browser marks and the day's answer (HostPacing::SavedState).
constexpr SettingKey kKeptSiteState{"下载", "各网站状态", "", SettingFormat::Text};

double monotonicNow() {
    return ProgramClock().elapsedSeconds();
}

bool isPageType(const QString& type) {
    const QString lower = type.toLower();
    return lower == QLatin1String("htm") || lower == QLatin1String("html");
}

} // namespace

void DownloadSession::setUpSiteManners() {
    const SettingsStore* settings = Services().settings;
    if (!settings)
        return;
    // Reopened or restarted, the session asks no site anything before its pause is over.
    Pacing().RestoreState(settings->Read(kKeptSiteState), ProgramClock().utcNow());
    keptSiteChanges_ = Pacing().StateChanges();
    const QStringList kept = settings->Read(kKeptStarts).split(QLatin1Char(';'));
    const QDate day = QDate::fromString(kept.value(0), Qt::ISODate);
    if (day != QDate::currentDate())
        return;
    for (qsizetype i = 1; i < kept.size(); ++i) {
        const qsizetype equals = kept[i].lastIndexOf(QLatin1Char('='));
        if (equals > 0)
            Pacing().RestoreStarts(kept[i].left(equals), day, kept[i].mid(equals + 1).toInt());
    }
}

void DownloadSession::ReadSiteSpacing() {
    int seconds = 0;
    ParseSettingInteger(QString::fromUtf8(Keys::SiteSpacing.fixedDefault), seconds);
    if (const SettingsStore* settings = Services().settings)
        settings->ReadInt(Keys::SiteSpacing, seconds);
    Pacing().SetMinimumSpacing(seconds);
}

QHash<QString, int> DownloadSession::StartsToday() const {
    return Pacing().StartsByHost(QDate::currentDate());
}

void DownloadSession::ResumePausedSites() {
    ResumeHeldSites(*ListItems3, Pacing());
    keepSiteState(true);
    emit listChanged();
}

void DownloadSession::AutomaticLoginAfterTransfer(int position) {
    if (!login_ || !login_->AutomaticLoginOn() || position < 1 || position > ListItems3->Count())
        return;
    if (isPageType(ListItems3->SubItem(position, DownloadColumn::Type)))
        login_->LogInAgain();
}

void DownloadSession::TransferEnded(const QString& link, const TransferAnswer& answer) {
    KeyedListModel& list = *ListItems3;
    const int row = list.PositionOfKey(link);
    if (row == 0)
        return;
    const QString host = HostOfLink(link);

    std::optional<WebPageKind> kind;
    // A check judged before the commit left nothing in the folder; one told only from a page
    // the row took for its file (a row that asked for a page) left that page.
    const bool pageKept = !answer.botCheck;
    if (answer.botCheck) {
        kind = WebPageKind::BotCheck;
    } else if (isPageType(list.SubItem(row, DownloadColumn::Type))) {
        const ReceivedPage page{answer.status, answer.cfMitigated,
                                answer.finalUrl.isEmpty() ? link : answer.finalUrl,
                                ReadWebPageHead(RowFilePath(list, row))};
        kind = DiagnoseWebPage(page, login_ ? login_->LoginAddress() : QString());
    }
    if (kind) {
        const QString before = RowFailureReason(list, row);
        SetRowFailureReason(list, row,
                            before.isEmpty() ? WebPageKindText(*kind)
                                             : WebPageKindText(*kind) + QStringLiteral("（") +
                                                   before + QStringLiteral("）"));
    }
    SetRowWebPageKind(list, row, kind);

    if (kind == WebPageKind::BotCheck) {
        handOverSiteCheck(row, host, pageKept);
        return;
    }
    // A refusal without a page (the browser's download path brings none) is a refusal all
    // the same.
    if ((kind == WebPageKind::Refusal && answer.status != 429 && answer.status != 503) ||
        (!kind && answer.status == 403)) {
        // The publisher refuses or says "too much": the site is left alone for a while, as
        // after a push-back that named no pause.
        Scheduler().noteRefusal(link);
        return;
    }
    SiteAnswer site;
    site.status = answer.status;
    site.retryAfter = answer.retryAfter;
    site.date = answer.date;
    site.failed = list.SmallIcon(row) == ItemState::Failed || answer.status >= 400;
    site.pushedBack = answer.pushedBack;
    site.webPage = kind.has_value();
    Scheduler().noteTransferEnd(link, site);
    keepSiteState(false);
}

void DownloadSession::dropCheckPage(int position, bool pageKept) {
    KeyedListModel& list = *ListItems3;
    // Only a row that asked for a page takes a check's page for its file; it goes while it is
    // the one its commit left. A refused check left the row the file it had before.
    const OwnedFile own = RowOwnedFile(list, position);
    if (pageKept && own.IsSet() && own.path == RowFilePath(list, position) &&
        ClaimFile(own, own.path) == FileClaim::Owned && QFile::remove(own.path)) {
        SetRowOwnedFile(list, position, OwnedFile{});
        SetRowFilePath(list, position, QString());
    }
    const QString type = list.HiddenValue(position, DownloadHidden::TypeAtStart);
    if (!type.isEmpty())
        list.SetSubItem(position, DownloadColumn::Type, type);
    SetRowWebPageKind(list, position, std::nullopt);
}

void DownloadSession::handOverSiteCheck(int position, const QString& host, bool pageKept) {
    KeyedListModel& list = *ListItems3;
    HostPacing& pacing = Pacing();
    // The browser's own download path fetches such a site and still met the check: the row
    // ended as it ended, and the site is left alone as after a push-back (held after five), so
    // that its other rows do not each meet the check at the spacing rate.
    if (pacing.IsThroughBrowser(host)) {
        Scheduler().noteRefusal(list.Key(position));
        keepSiteState(true);
        return;
    }
    if (pacing.PassedCheck(host) && !pacing.IsAwaitingCheck(host)) {
        // The user passed the check in the browser, yet plain transfers still get it.
        pacing.MarkThroughBrowser(host);
        RequeueItem(list, position, false);
        dropCheckPage(position, pageKept);
        keepSiteState(true);
        SetRowFailureReason(list, position, QStringLiteral("网站仍要求验证，改由浏览器下载"));
        return;
    }
    // One check at a time: a second site's check waits for the next run of its rows.
    if (!siteCheck_.host.isEmpty() && siteCheck_.host != host)
        return;
    RequeueItem(list, position, false);
    dropCheckPage(position, pageKept);
    SetRowFailureReason(list, position, kAwaitingCheck);
    if (pacing.IsAwaitingCheck(host))
        return;

    pacing.AwaitCheck(host);
    siteCheck_ = SiteCheck{host, monotonicNow() + kSiteCheckWaitSeconds};
    const int rows = list.Count();
    for (int row = 1; row <= rows; ++row) {
        if (list.SmallIcon(row) == ItemState::Waiting && HostOfLink(list.Key(row)) == host)
            SetRowFailureReason(list, row, kAwaitingCheck);
    }
    if (!options_.handOverChecks) {
        // Without a desktop nobody can pass the check: the site's rows end here, saying so.
        endSiteCheck(kCheckNeedsDesktop);
        return;
    }
    SetPanelText(1, QStringLiteral("网站要求验证：请在资料检索窗口的浏览器中完成"));
    emit siteCheckWanted(list.Key(position));
}

void DownloadSession::AdoptCheckDownload(const QString& link, QObject* request) {
    KeyedListModel& list = *ListItems3;
    const int row = list.PositionOfKey(link);
    // Only a waiting row of this list, and never beside a running single connection:
    // otherwise the browser's download is left, and the row is fetched as usual once the wait
    // is over. (A stop ends the wait, so a wait means downloading is on.)
    if (row == 0 || list.SmallIcon(row) != ItemState::Waiting ||
        (Program().DownloadMode == 1 && DownloadBusy))
        return;
    int slot = 0;
    for (int candidate = 1; candidate <= DownloadScheduler::kMaxSlots && slot == 0; ++candidate) {
        if (!SlotLoaded(candidate))
            slot = candidate;
    }
    const QString folder =
        WithTrailingSlash(MakeFolderPath(list.SubItem(row, DownloadColumn::Folder)));
    if (slot == 0 || folder == QLatin1String("/"))
        return;
    list.SetSubItem(row, DownloadColumn::Folder, folder);
    if (!确定是需要下载(row))
        return;
    QString name;
    const QString type = list.SubItem(row, DownloadColumn::Type);
    const QString target = 重命名保存路径(folder, list.Text(row), type, name);
    if (target.isEmpty() || OtherRowWithFile(list, target, row) != 0)
        return;
    list.SetText(row, name);
    list.SetHiddenValue(row, DownloadHidden::TypeAtStart, type);
    Pacing().NoteStart(HostOfLink(link), QDate::currentDate());
    SlotItem[static_cast<std::size_t>(slot)] = row;
    adoptedCheckDownload_ = request;
    多线程下载(slot, row, link, target);
    adoptedCheckDownload_ = nullptr;
}

void DownloadSession::SiteCheckPassed() {
    const QString host = siteCheck_.host;
    if (host.isEmpty())
        return;
    siteCheck_ = SiteCheck{};
    Pacing().EndCheck(host, true);
    KeyedListModel& list = *ListItems3;
    const int rows = list.Count();
    for (int row = 1; row <= rows; ++row) {
        if (list.SmallIcon(row) == ItemState::Waiting &&
            RowFailureReason(list, row) == kAwaitingCheck)
            SetRowFailureReason(list, row, QString());
    }
    SetPanelText(1, QStringLiteral("网站验证已完成，继续下载"));
}

void DownloadSession::endSiteCheck(const QString& reason) {
    const QString host = siteCheck_.host;
    if (host.isEmpty())
        return;
    siteCheck_ = SiteCheck{};
    Pacing().EndCheck(host, false);
    KeyedListModel& list = *ListItems3;
    const int rows = list.Count();
    for (int row = 1; row <= rows; ++row) {
        if (list.SmallIcon(row) != ItemState::Waiting || HostOfLink(list.Key(row)) != host)
            continue;
        list.SetSmallIcon(row, ItemState::Failed);
        SetRowFailureReason(list, row, reason);
    }
    emit siteCheckEnded();
}

void DownloadSession::keepSiteState(bool now) {
    SettingsStore* settings = Services().settings;
    if (!settings || (!now && Pacing().StateChanges() == keptSiteChanges_))
        return;
    keptSiteChanges_ = Pacing().StateChanges();
    settings->Write(kKeptSiteState, Pacing().SavedState(ProgramClock().utcNow()));
}

void DownloadSession::watchSiteManners() {
    if (!siteCheck_.host.isEmpty() && monotonicNow() >= siteCheck_.deadline)
        endSiteCheck(QStringLiteral("5分钟内未完成网站验证，已停止该网站的下载"));
    keepSiteState(false);

    SettingsStore* settings = Services().settings;
    if (!settings)
        return;
    const QDate today = QDate::currentDate();
    const QHash<QString, int> starts = Pacing().StartsByHost(today);
    int total = 0;
    QStringList parts{today.toString(Qt::ISODate)};
    for (auto it = starts.constBegin(); it != starts.constEnd(); ++it) {
        total += it.value();
        parts.append(it.key() + QLatin1Char('=') + QString::number(it.value()));
    }
    if (total == keptStarts_)
        return;
    keptStarts_ = total;
    settings->Write(kKeptStarts, parts.join(QLatin1Char(';')));
}

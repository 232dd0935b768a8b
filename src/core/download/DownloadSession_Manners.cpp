// The download window's manners towards the sites it fetches from: a web page that came
// instead of the file is told apart by kind, a bot check is handed to the user in the search
// window's browser, push-back and failures pause or hold the site, and the day's count of
// files per site is shown and kept across a restart.

#include "ui/download/fFileDownload.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/download/DownloadList.h"
#include "core/download/HostPacing.h"
#include "core/download/Naming.h"
#include "core/download/Scheduler.h"
#include "core/download/WebPageDiagnosis.h"
#include "core/platform/Clock.h"
#include "core/platform/KeyedListModel.h"
#include "ui/app/Forms.h"
#include "ui/platform/KeyedListView.h"
#include "ui/search/fWebSearch.h"

#include <QDate>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QStatusBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

constexpr double kSiteCheckWaitSeconds = 5 * 60;

const QString kAwaitingCheck = QStringLiteral("等待在浏览器中完成网站验证");

// The day's counts per site, so that a restart does not hand out a fresh allowance:
// "yyyy-MM-dd;host=N;host=N".
constexpr SettingKey kKeptStarts{"下载", "今日各网站下载数", "", SettingFormat::Text};
// Beside them, what else a site's manners must keep past the window and the day: pauses with
// their wall-clock end, holds, the browser marks and the day's answer (HostPacing::SavedState).
constexpr SettingKey kKeptSiteState{"下载", "各网站状态", "", SettingFormat::Text};

double monotonicNow() {
    return ProgramClock().elapsedSeconds();
}

bool isPageType(const QString& type) {
    const QString lower = type.toLower();
    return lower == QLatin1String("htm") || lower == QLatin1String("html");
}

// A sheet with a folded corner and an orange globe line: a page, neither done nor failed.
QIcon webPageIcon() {
    constexpr int size = 16;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath sheet;
    sheet.moveTo(3, 1.5);
    sheet.lineTo(10, 1.5);
    sheet.lineTo(13.5, 5);
    sheet.lineTo(13.5, 14.5);
    sheet.lineTo(3, 14.5);
    sheet.closeSubpath();
    painter.setPen(QPen(QColor(150, 90, 10), 1.2));
    painter.setBrush(QColor(255, 236, 190));
    painter.drawPath(sheet);
    painter.drawLine(QPointF(10, 1.5), QPointF(10, 5));
    painter.drawLine(QPointF(10, 5), QPointF(13.5, 5));
    painter.setPen(QPen(QColor(230, 120, 0), 1.4));
    painter.drawLine(QPointF(5, 8), QPointF(11.5, 8));
    painter.drawLine(QPointF(5, 10.5), QPointF(11.5, 10.5));
    painter.drawLine(QPointF(5, 13), QPointF(9, 13));
    return QIcon(pixmap);
}

// Column 0 shows the row's picture: the web-page picture replaces the state's. The list's own
// delegate keeps deciding the row height.
class RowIconDelegate : public QStyledItemDelegate {
public:
    RowIconDelegate(const fFileDownload& window, QAbstractItemDelegate* base, QObject* parent)
        : QStyledItemDelegate(parent), window_(window), base_(base) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return base_ ? base_->sizeHint(option, index)
                     : QStyledItemDelegate::sizeHint(option, index);
    }
    QWidget* createEditor(QWidget*, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        return nullptr;
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QIcon icon = window_.RowIcon(index.row() + 1);
        if (icon.isNull())
            return;
        option->icon = icon;
        option->features |= QStyleOptionViewItem::HasDecoration;
    }

private:
    const fFileDownload& window_;
    QAbstractItemDelegate* base_;
};

} // namespace

void fFileDownload::setUpSiteManners() {
    WebPageIcon = webPageIcon();
    ListView3->setItemDelegateForColumn(
        0, new RowIconDelegate(*this, ListView3->itemDelegate(), ListView3));
    StatusPanel5 = new QLabel(this);
    StatusPanel5->setToolTip(QStringLiteral("今天从该网站开始下载的文件数"));
    StatusBar1->addPermanentWidget(StatusPanel5);

    const SettingsStore* settings = Services().settings;
    if (!settings)
        return;
    // Reopened or restarted, the window asks no site anything before its pause is over.
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

void fFileDownload::ReadSiteSpacing() {
    int seconds = 0;
    ParseSettingInteger(QString::fromUtf8(Keys::SiteSpacing.fixedDefault), seconds);
    if (const SettingsStore* settings = Services().settings)
        settings->ReadInt(Keys::SiteSpacing, seconds);
    Pacing().SetMinimumSpacing(seconds);
}

void fFileDownload::UpdateTodayCount() {
    if (!StatusPanel5)
        return;
    const QHash<QString, int> starts = Pacing().StartsByHost(QDate::currentDate());
    int most = 0;
    QStringList lines;
    for (auto it = starts.constBegin(); it != starts.constEnd(); ++it) {
        most = std::max(most, it.value());
        lines.append(QStringLiteral("%1：%2").arg(it.key()).arg(it.value()));
    }
    lines.sort();
    StatusPanel5->setText(QStringLiteral("今日：%1").arg(most));
    StatusPanel5->setToolTip(lines.isEmpty() ? QStringLiteral("今天还没有下载文件")
                                             : lines.join(QLatin1Char('\n')));
}

QIcon fFileDownload::RowIcon(int position) const {
    if (position < 1 || position > ListItems3->Count())
        return {};
    if (RowWebPageKind(*ListItems3, position))
        return WebPageIcon;
    const int state = ListItems3->SmallIcon(position);
    if (state < ItemState::Waiting || state > ItemState::Failed)
        return {};
    return IL_LV3[static_cast<std::size_t>(state)];
}

void fFileDownload::TransferEnded(const QString& link, const TransferAnswer& answer) {
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
        kind = DiagnoseWebPage(page, Text1 ? Text1->text() : QString());
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
        scheduler().noteRefusal(link);
        return;
    }
    SiteAnswer site;
    site.status = answer.status;
    site.retryAfter = answer.retryAfter;
    site.date = answer.date;
    site.failed = list.SmallIcon(row) == ItemState::Failed || answer.status >= 400;
    site.pushedBack = answer.pushedBack;
    site.webPage = kind.has_value();
    scheduler().noteTransferEnd(link, site);
    keepSiteState(false);
}

void fFileDownload::dropCheckPage(int position, bool pageKept) {
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

void fFileDownload::handOverSiteCheck(int position, const QString& host, bool pageKept) {
    KeyedListModel& list = *ListItems3;
    HostPacing& pacing = Pacing();
    // The browser's own download path fetches such a site and still met the check: the row
    // ended as it ended, and the site is left alone as after a push-back (held after five), so
    // that its other rows do not each meet the check at the spacing rate.
    if (pacing.IsThroughBrowser(host)) {
        scheduler().noteRefusal(list.Key(position));
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
    StatusPanel1->setText(QStringLiteral("网站要求验证：请在资料检索窗口的浏览器中完成"));
    const QString link = list.Key(position);
    ::fWebSearch* search = Forms::fWebSearch();
    if (!search)
        return;
    connect(search, &fWebSearch::siteCheckPassed, this, &fFileDownload::SiteCheckPassed,
            Qt::UniqueConnection);
    connect(search, &fWebSearch::siteCheckDownload, this, &fFileDownload::adoptCheckDownload,
            Qt::UniqueConnection);
    search->ShowSiteCheck(link);
}

void fFileDownload::adoptCheckDownload(QWebEngineDownloadRequest* request) {
    KeyedListModel& list = *ListItems3;
    const QString link = request->url().toString();
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

void fFileDownload::SiteCheckPassed() {
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
    StatusPanel1->setText(QStringLiteral("网站验证已完成，继续下载"));
}

void fFileDownload::endSiteCheck(const QString& reason) {
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
    if (auto* search = qobject_cast<::fWebSearch*>(Forms::Find(QStringLiteral("fWebSearch"))))
        search->EndSiteCheck();
}

void fFileDownload::keepSiteState(bool now) {
    SettingsStore* settings = Services().settings;
    if (!settings || (!now && Pacing().StateChanges() == keptSiteChanges_))
        return;
    keptSiteChanges_ = Pacing().StateChanges();
    settings->Write(kKeptSiteState, Pacing().SavedState(ProgramClock().utcNow()));
}

void fFileDownload::watchSiteManners() {
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

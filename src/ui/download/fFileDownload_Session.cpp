// The download window's binding to its session: the controls become the session's options,
// the session's signals reach the status bar, the lamp and the menus, and the commands that act
// on the whole list are forwarded.

#include "ui/download/fFileDownload.h"

#include "core/app/ProgramValues.h"
#include "core/download/DownloadList.h"
#include "core/download/FileType.h"
#include "core/download/ListCommands.h"
#include "core/download/Scheduler.h"
#include "core/download/WebPageDiagnosis.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "ui/app/Forms.h"
#include "ui/platform/BrowserDownload.h"
#include "ui/platform/KeyedListView.h"
#include "ui/search/fWebSearch.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QWebEngineDownloadRequest>

#include <algorithm>

namespace {

// Any file at all: Linux names often have no dot, and a download whose type was unknown is
// stored without an extension, so the pattern is "*" under the familiar caption.
const QString kAnyFileFilter = QStringLiteral("*.* (*)");

int comboNumber(const QComboBox* combo, int otherwise) {
    bool ok = false;
    const int value = combo->currentText().trimmed().toInt(&ok);
    return ok ? value : otherwise;
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

// The login panel as the session sees it.
class PanelLogin : public SessionLogin {
public:
    explicit PanelLogin(fFileDownload& window) : w_(window) {}
    bool AutomaticLoginOn() const override { return w_.Check2->isChecked(); }
    QString LoginAddress() const override { return w_.Text1->text(); }
    void LogInAgain() override {
        Forms::Hold hold(&w_);
        w_.FillLoginForm(false);
    }

private:
    fFileDownload& w_;
};

fFileDownload::~fFileDownload() {
    if (session_ && session_->parent() != this) {
        session_->SetLogin(nullptr);
        session_->SetPromptOwner(nullptr);
        session_->disconnect(this);
    }
}

void fFileDownload::bindSession() {
    DownloadSession& s = *session_;
    login_ = std::make_unique<PanelLogin>(*this);
    s.SetLogin(login_.get());
    s.SetPromptOwner(this);
    s.SetBrowserTransfers([](QObject* parent) { return new BrowserDownload(parent); });

    WebPageIcon = webPageIcon();
    ListView3->setItemDelegateForColumn(
        0, new RowIconDelegate(*this, ListView3->itemDelegate(), ListView3));
    StatusPanel5 = new QLabel(this);
    StatusPanel5->setToolTip(QStringLiteral("今天从该网站开始下载的文件数"));
    StatusBar1->addPermanentWidget(StatusPanel5);

    connect(&s, &DownloadSession::panelTextChanged, this,
            [this](int panel, const QString& text) { rowPanel(panel)->setText(text); });
    connect(&s, &DownloadSession::countsChanged, this, [this] { UpdateStatusCounts(); });
    connect(&s, &DownloadSession::housekeepingShown, this, [this](bool start, bool lamp) {
        menu下载全部->setEnabled(start);
        Shape1->setVisible(lamp);
    });
    connect(&s, &DownloadSession::optionsChanged, this, [this] { showOptions(); });
    connect(&s, &DownloadSession::rowStarted, this,
            [this](int position) { ListView3->EnsureVisible(position); });
    connect(&s, &DownloadSession::listChanged, this, [this] { RefreshList(); });
    connect(&s, &DownloadSession::journalOfferChanged, this, [this] { offerJournalRows(); });
    connect(&s, &DownloadSession::siteCheckWanted, this,
            [this](const QString& link) { handOverSiteCheck(link); });
    connect(&s, &DownloadSession::siteCheckEnded, this, [] {
        if (auto* search = qobject_cast<::fWebSearch*>(Forms::Find(QStringLiteral("fWebSearch"))))
            search->EndSiteCheck();
    });

    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command31, &QPushButton::clicked, this, [this] { Command31_Click(); });
    connect(Command26, &QPushButton::clicked, this, [this] { Command26_Click(); });
    const auto push = [this] {
        pushOptions();
    };
    connect(Combo1, &QComboBox::currentIndexChanged, this, push);
    connect(Combo2, &QComboBox::currentIndexChanged, this, push);
    connect(Combo4, &QComboBox::currentIndexChanged, this, push);
    const std::initializer_list<QAbstractButton*> boxes{Option1, Option2, Option3, Check3,
                                                        Check4,  Check5,  Check6};
    for (QAbstractButton* box : boxes)
        connect(box, &QAbstractButton::toggled, this, push);
    connect(menu自动定位到下载项, &QAction::toggled, this, push);
    pushOptions();
}

void fFileDownload::pushOptions() {
    DownloadOptions& options = session_->Options();
    options.threadCount = comboNumber(Combo1, 1);
    // The gap box offers whole seconds only; anything else counts as no gap.
    options.gapSeconds = std::max(0, comboNumber(Combo2, 0));
    options.locateStartedRow = menu自动定位到下载项 && menu自动定位到下载项->isChecked();
    options.sameName = Option1->isChecked()   ? SameNameChoice::Skip
                       : Option2->isChecked() ? SameNameChoice::Overwrite
                                              : SameNameChoice::Rename;
    options.autoRedownload = Check3->isChecked();
    options.redownloadChoice = Combo4->currentIndex();
    options.autoStart = Check4->isChecked();
    options.autoStop = Check5->isChecked();
    options.sound = Check6->isChecked();
}

void fFileDownload::showOptions() {
    const DownloadOptions options = session_->Options();
    Check3->setChecked(options.autoRedownload);
    Check4->setChecked(options.autoStart);
    const int mode = Program().DownloadMode;
    Label7->setText(DownloadModeCaption(mode));
    // The count stays as the user set it; the single connection simply does not use it.
    Combo1->setEnabled(mode != 1);
}

void fFileDownload::UpdateTodayCount() {
    const QHash<QString, int> starts = session_->StartsToday();
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

void fFileDownload::handOverSiteCheck(const QString& link) {
    ::fWebSearch* search = Forms::fWebSearch();
    if (!search)
        return;
    DownloadSession* session = session_;
    connect(search, &fWebSearch::siteCheckPassed, session, &DownloadSession::SiteCheckPassed,
            Qt::UniqueConnection);
    connect(search, &fWebSearch::siteCheckDownload, session,
            [session](QWebEngineDownloadRequest* request) {
                session->AdoptCheckDownload(request->url().toString(), request);
            });
    search->ShowSiteCheck(link);
}

void fFileDownload::followRowCount() {
    // One zero timer: a hand-over of two thousand rows costs one look per event-loop turn, not
    // one per row.
    rowCountTimer_ = new QTimer(this);
    rowCountTimer_->setSingleShot(true);
    rowCountTimer_->setInterval(0);
    connect(rowCountTimer_, &QTimer::timeout, this, [this] { showRowCount(); });
    const auto changed = [this] {
        if (!rowCountTimer_->isActive())
            rowCountTimer_->start();
    };
    connect(ListItems3, &QAbstractItemModel::rowsInserted, this, changed);
    connect(ListItems3, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(ListItems3, &QAbstractItemModel::modelReset, this, changed);
}

void fFileDownload::offerJournalRows() {
    const int count = session_->CarriedUnfinished();
    const QString problem =
        session_->JournalProblem().isEmpty() ? QString() : session_->JournalProblem() + "。";
    QAction* entry = menu恢复上次的下载列表;
    // The restore entry says what the start-up window said; its tip holds the whole of it.
    menu下载->setToolTipsVisible(true);
    entry->setToolTip(problem);
    entry->setStatusTip(problem);
    entry->setEnabled(count > 0);
    if (count > 0) {
        entry->setText(problem.isEmpty()
                           ? QStringLiteral("恢复上次的下载列表（%1项未完成）").arg(count)
                           : QStringLiteral("恢复上次的下载列表（最新记录无法读取，取自上一版："
                                            "%1项未完成）")
                                 .arg(count));
    } else {
        // Only a journal of a newer version leaves the session without a keeper.
        entry->setText(
            session_->KeepsJournal()
                ? QStringLiteral("恢复上次的下载列表：上次的记录无法读取，没有可恢复的项")
            : session_->JournalInUse()
                ? QStringLiteral("恢复上次的下载列表：记录正由另一个运行中的本程序使用")
                : QStringLiteral("恢复上次的下载列表：记录由更新版本写下，本版本不读取"));
    }
    entry->setVisible(count > 0 || !problem.isEmpty());
}

void fFileDownload::menu恢复上次的下载列表_Click() {
    changeRows([this] { session_->RestoreCarriedRows(); });
    showRowCount();
}

void fFileDownload::runRequeueCommand(int (*requeue)(KeyedListModel&)) {
    Forms::Hold hold(this);
    KeepResponsive();
    if (!stillLoaded())
        return;
    changeRows([this, requeue] { requeue(*ListItems3); });
}

void fFileDownload::menu重新下载出错项_Click() {
    runRequeueCommand(&RequeueFailedRows);
}

void fFileDownload::menu重新下载文件类型为HTM和HTML项_Click() {
    runRequeueCommand(&RequeueWebPageRows);
}

void fFileDownload::menu恢复暂停的网站_Click() {
    changeRows([this] { session_->ResumePausedSites(); });
}

void fFileDownload::menu打开文件判断类型_Click() {
    Prompt* prompt = Services().prompt;
    if (!prompt)
        return;
    Forms::Hold hold(this);
    const QString chosen =
        prompt->openFileName(this, QString(), Program().DefaultSaveFolder, kAnyFileFilter);
    if (chosen.isEmpty())
        return;
    // The user may have closed the window while the dialog was open.
    if (!stillLoaded())
        return;
    const QString type = ClassifyFileType(chosen);
    prompt->message(this,
                    type.isEmpty() ? QStringLiteral("目前还无法判断。")
                                   : QStringLiteral("文件类型为：") + type,
                    MsgIcon::Information);
}

void fFileDownload::menu检查并纠正磁盘文件类型_Click() {
    Prompt* prompt = Services().prompt;
    Forms::Hold hold(this);
    if (RefusedWhileInWork(menu检查并纠正磁盘文件类型->objectName()))
        return;
    if (ListItems3->Count() == 0)
        return;
    const int corrected = session_->CorrectAllFileTypes();
    if (prompt)
        prompt->message(this,
                        QStringLiteral("纠正文件类型：") + QString::number(corrected) +
                            QStringLiteral("个."),
                        MsgIcon::Information);
}

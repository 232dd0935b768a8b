// The download window's menus and the list's mouse events: selecting, ordering, clearing,
// re-queueing and deleting rows or their files. The row logic lives in ListCommands; this
// file guards it, holds back the list's painting around it and talks to the user.

#include "ui/download/fFileDownload.h"
#include "ui/tools/CacheTools.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/ShellHelpers.h"
#include "core/download/DownloadList.h"
#include "core/download/ListCommands.h"
#include "core/download/Scheduler.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/search/SearchList.h"
#include "ui/app/Forms.h"
#include "ui/app/WidgetHelpers.h"
#include "ui/app/fCover.h"
#include "ui/platform/KeyedListView.h"
#include "ui/tools/Tools.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRandomGenerator>
#include <QTimer>

namespace {

const QString kClearQuestion = QStringLiteral("您确定要清空列表的所有信息吗？");
const QString kShuffled = QStringLiteral("随机排序完成！");
const QString kAskNumber = QStringLiteral("请输入数字：");
constexpr int kListRowHeight = 17;

// A message over `owner`; the window stays while the box is open.
MsgResult tell(QWidget* owner, const QString& text, MsgIcon icon,
               MsgButtons buttons = MsgButtons::Ok) {
    Prompt* prompt = Services().prompt;
    if (!prompt)
        return MsgResult::Cancel;
    Forms::Hold hold(owner);
    return prompt->message(owner, text, icon, buttons);
}

} // namespace

void fFileDownload::setUpListCommands() {
    auto add = [this](QMenu* menu, const char* caption, const char* name,
                      void (fFileDownload::*handler)()) {
        QAction* action = menu->addAction(QString::fromUtf8(caption));
        action->setObjectName(QString::fromUtf8(name));
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return action;
    };
    auto submenu = [](QMenu* menu, const char* caption, const char* name) {
        QMenu* sub = menu->addMenu(QString::fromUtf8(caption));
        sub->setObjectName(QString::fromUtf8(name));
        return sub;
    };

    menu下载 = menuBar()->addMenu(QStringLiteral("列表操作(&D)"));
    menu下载->setObjectName(QStringLiteral("menu下载"));
    QMenu* list = menu下载;
    menu全选专利列表 =
        add(list, "全选", "menu全选专利列表", &fFileDownload::menu全选专利列表_Click);
    menu全不选 = add(list, "全不选", "menu全不选", &fFileDownload::menu全不选_Click);
    list->addSeparator();
    menu随机排序列表 =
        add(list, "随机排序列表(打乱)", "menu随机排序列表", &fFileDownload::menu随机排序列表_Click);
    menu自动列宽 = add(list, "自动调整列宽", "menu自动列宽", &fFileDownload::menu自动列宽_Click);
    list->addSeparator();

    menu重新下载 = submenu(list, "重新下载", "menu重新下载");
    menu重新下载选中项 =
        add(menu重新下载, "选中项", "menu重新下载选中项", &fFileDownload::menu重新下载选中项_Click);
    menu重新下载出错项 =
        add(menu重新下载, "出错项", "menu重新下载出错项", &fFileDownload::menu重新下载出错项_Click);
    menu重新下载文件类型为HTM和HTML项 =
        add(menu重新下载, "网页类型文件(HTM/HTML/xml)项", "menu重新下载文件类型为HTM和HTML项",
            &fFileDownload::menu重新下载文件类型为HTM和HTML项_Click);
    menu重新下载出错项和网页项 =
        add(menu重新下载, "重新下载出错项和网页类型文件项", "menu重新下载出错项和网页项",
            &fFileDownload::menu重新下载出错项和网页项_Click);
    menu重新下载文件大小小于指定数字的项 =
        add(menu重新下载, "文件大小小于指定数字的项", "menu重新下载文件大小小于指定数字的项",
            &fFileDownload::menu重新下载文件大小小于指定数字的项_Click);
    menu恢复暂停的网站 = add(menu重新下载, "恢复因连续出错而暂停的网站", "menu恢复暂停的网站",
                             &fFileDownload::menu恢复暂停的网站_Click);

    menu清除 = submenu(list, "清除", "menu清除");
    menu清除选中项 =
        add(menu清除, "选中项", "menu清除选中项", &fFileDownload::menu清除选中项_Click);
    menu清除全部出错项 =
        add(menu清除, "全部出错项", "menu清除全部出错项", &fFileDownload::menu清除全部出错项_Click);
    menu清除完成项 =
        add(menu清除, "完成项", "menu清除完成项", &fFileDownload::menu清除完成项_Click);
    menu清空 = add(list, "清空", "menu清空", &fFileDownload::menu清空_Click);
    menu恢复上次的下载列表 = add(list, "恢复上次的下载列表", "menu恢复上次的下载列表",
                                 &fFileDownload::menu恢复上次的下载列表_Click);
    menu恢复上次的下载列表->setVisible(false);

    menu删除文件 = submenu(list, "删除文件", "menu删除文件");
    menu删除网页类型文件项 =
        add(menu删除文件, "网页类型文件(HTM/HTML/xml)项", "menu删除网页类型文件项",
            &fFileDownload::menu删除网页类型文件项_Click);
    menu删除出错项 =
        add(menu删除文件, "出错项", "menu删除出错项", &fFileDownload::menu删除出错项_Click);
    list->addSeparator();

    menu下载全部 = add(list, "开始下载", "menu下载全部", &fFileDownload::menu下载全部_Click);
    menu停止下载 = add(list, "停止下载", "menu停止下载", &fFileDownload::menu停止下载_Click);
    menu取消下载选中项 =
        add(list, "取消下载选中项", "menu取消下载选中项", &fFileDownload::menu取消下载选中项_Click);
    list->addSeparator();

    menu打开下载文件 =
        add(list, "打开下载文件", "menu打开下载文件", &fFileDownload::menu打开下载文件_Click);
    menu打开文件所在文件夹 = add(list, "打开所在文件夹", "menu打开文件所在文件夹",
                                 &fFileDownload::menu打开文件所在文件夹_Click);
    menu用记事本打开文件 = add(list, "用文本编辑器打开文件", "menu用记事本打开文件",
                               &fFileDownload::menu用记事本打开文件_Click);
    menu复制名称 = add(list, "复制名称", "menu复制名称", &fFileDownload::menu复制名称_Click);
    list->addSeparator();

    menu批量替换网址 =
        add(list, "批量替换网址", "menu批量替换网址", &fFileDownload::menu批量替换网址_Click);
    // The entry has never done anything; it is shown greyed so the menu keeps its shape
    // without offering a command that does nothing.
    menu打开网址 = list->addAction(QStringLiteral("打开网址"));
    menu打开网址->setObjectName(QStringLiteral("menu打开网址"));
    menu打开网址->setEnabled(false);
    menu导出名称 = submenu(list, "导出名称", "menu导出名称");
    menu导出全部名称 =
        add(menu导出名称, "全部", "menu导出全部名称", &fFileDownload::menu导出全部名称_Click);
    menu导出未完成项名称 = add(menu导出名称, "未完成项", "menu导出未完成项名称",
                               &fFileDownload::menu导出未完成项名称_Click);
    menu导出引文 =
        add(list, "导出为RIS/BibTeX/CSL-JSON…", "menu导出引文", &fFileDownload::menu导出引文_Click);
    // Citations: reading lists from reference managers become waiting rows.
    menu导入引用文件 = add(list, "导入引用文件（RIS/BibTeX/CSL-JSON/DOI列表）…", "menu导入引用文件",
                           &fFileDownload::menu导入引用文件_Click);
    list->addSeparator();
    menu退出本下载窗口 =
        add(list, "关闭本下载窗口", "menu退出本下载窗口", &fFileDownload::menu退出本下载窗口_Click);
    menu退出软件 = add(list, "退出软件", "menu退出软件", &fFileDownload::menu退出软件_Click);

    menu窗口 = menuBar()->addMenu(QStringLiteral("窗口(&W)"));
    menu窗口->setObjectName(QStringLiteral("menu窗口"));
    menu资料检索分析窗口 = add(menu窗口, "资料检索分析窗口", "menu资料检索分析窗口",
                               &fFileDownload::menu资料检索分析窗口_Click);

    menu工具 = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    menu工具->setObjectName(QStringLiteral("menu工具"));
    设置 = add(menu工具, "设置", "设置", &fFileDownload::设置_Click);
    menu自动定位到下载项 = menu工具->addAction(QStringLiteral("自动定位到下载项"));
    menu自动定位到下载项->setObjectName(QStringLiteral("menu自动定位到下载项"));
    menu自动定位到下载项->setCheckable(true);
    menu检查文件是否存在 = add(menu工具, "检查文件是否存在", "menu检查文件是否存在",
                               &fFileDownload::menu检查文件是否存在_Click);
    menu检查并纠正磁盘文件类型 =
        add(menu工具, "检查并纠正磁盘文件类型", "menu检查并纠正磁盘文件类型",
            &fFileDownload::menu检查并纠正磁盘文件类型_Click);
    menu清空IE浏览器缓存 = add(menu工具, "清空浏览器缓存", "menu清空浏览器缓存",
                               &fFileDownload::menu清空IE浏览器缓存_Click);
    menu打开文件判断类型 = add(menu工具, "打开文件判断类型", "menu打开文件判断类型",
                               &fFileDownload::menu打开文件判断类型_Click);

    menu帮助 = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    menu帮助->setObjectName(QStringLiteral("menu帮助"));
    关于 = add(menu帮助, "关于", "关于", &fFileDownload::关于_Click);

    // Opened from the menu bar the list menu follows the same busy rule as the context menu,
    // so an entry greyed by an earlier right click does not stay greyed.
    connect(menu下载, &QMenu::aboutToShow, this, [this] { updateListMenuStates(); });

    connect(ListView3, &KeyedListView::rightClicked, this, [this](int, const QPoint& globalPos) {
        ListView3_MouseDown(Qt::RightButton, globalPos);
    });
    connect(ListView3, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { ListView3_ItemClick(index.row() + 1); });
    connect(ListView3, &KeyedListView::rowDoubleClicked, this, [this] { ListView3_DblClick(); });
    ListView3->header()->setSectionsClickable(true);
    connect(ListView3->header(), &QHeaderView::sectionClicked, this,
            [this](int section) { ListView3_ColumnClick(section); });
    setUpStatusPanelClicks();
}

// --- guards and helpers ---

bool fFileDownload::stillLoaded() const {
    return Forms::Find(QStringLiteral("fFileDownload")) == this;
}

bool fFileDownload::RefusedWhileInWork(const QString& command) {
    const GuardedListCommand* guarded = FindGuardedListCommand(command);
    if (!guarded || !TransferInWork())
        return false;
    tell(this, guarded->refusal, guarded->errorIcon ? MsgIcon::Error : MsgIcon::Information);
    return true;
}

bool fFileDownload::schedulerOrTransferBusy() const {
    return Timer_Down->isActive() || session_->DownloadBusy;
}

bool fFileDownload::letPendingEventsRun() {
    Forms::Hold hold(this);
    KeepResponsive();
    return stillLoaded();
}

void fFileDownload::changeRows(const std::function<void()>& change) {
    ListView3->setUpdatesEnabled(false);
    change();
    ListView3->setUpdatesEnabled(true);
    RefreshList();
}

int fFileDownload::workedRow() const {
    const QModelIndex current = ListView3->currentIndex();
    if (current.isValid() && ListItems3->Selected(current.row() + 1))
        return current.row() + 1;
    return ListItems3->SelectedItem();
}

void fFileDownload::updateListMenuStates() {
    const bool busy = schedulerOrTransferBusy();
    menu全选专利列表->setEnabled(!busy);
    menu清除->menuAction()->setEnabled(!busy);
    menu清空->setEnabled(!busy);
    menu停止下载->setEnabled(busy);
}

// --- the list's events ---

void fFileDownload::ListView3_BeforeLabelEdit(bool& Cancel) {
    Cancel = true;
}

void fFileDownload::ListView3_ItemClick(int position) {
    const QString path = ItemFilePath(*ListItems3, position);
    StatusPanel2->setText(!path.isEmpty() && FileExists(path) ? path : QString());
}

void fFileDownload::ListView3_DblClick() {
    const int position = workedRow();
    if (position == 0)
        return;
    switch (ListItems3->SmallIcon(position)) {
    case ItemState::Completed: {
        Shell* shell = Services().shell;
        Prompt* prompt = Services().prompt;
        if (!shell || !prompt)
            return;
        Forms::Hold hold(this);
        OpenWithDefaultApp(*shell, *prompt, this, ItemFilePath(*ListItems3, position));
        break;
    }
    case ItemState::Failed:
        if (RequeueFailedRowKeepingType(*ListItems3, position))
            RefreshList();
        break;
    default:
        break;
    }
}

void fFileDownload::ListView3_MouseDown(Qt::MouseButton button, const QPoint& globalPos) {
    if (button != Qt::RightButton)
        return;
    updateListMenuStates();
    menu下载->popup(globalPos);
}

void fFileDownload::ListView3_ColumnClick(int column) {
    if (RefusedWhileInWork(QStringLiteral("ListView3_ColumnClick")))
        return;
    // The first click on any column sorts descending; each further click flips the order.
    sortOrder_ = sortOrder_ == Qt::DescendingOrder ? Qt::AscendingOrder : Qt::DescendingOrder;
    changeRows([this, column] { SortDownloadList(*ListItems3, column, sortOrder_); });
}

// --- selecting and ordering ---

void fFileDownload::menu全选专利列表_Click() {
    ListItems3->SelectAll(true);
    ListView3->ApplyModelSelection();
}

void fFileDownload::menu全不选_Click() {
    ListItems3->SelectAll(false);
    ListView3->ApplyModelSelection();
}

void fFileDownload::ShuffleList(bool showMessage) {
    changeRows([this] { ShuffleRows(*ListItems3, *QRandomGenerator::global()); });
    if (showMessage)
        tell(this, kShuffled, MsgIcon::Information);
}

void fFileDownload::menu随机排序列表_Click() {
    if (RefusedWhileInWork(menu随机排序列表->objectName()))
        return;
    ShuffleList(true);
}

void fFileDownload::menu自动列宽_Click() {
    AutoSizeColumns(ListView3, kFitContentsAndHeader);
    SetListStripes(ListView3, kListRowHeight);
}

// --- re-queue ---

void fFileDownload::menu重新下载选中项_Click() {
    runRequeueCommand(&RequeueSelectedRows);
}

void fFileDownload::menu重新下载出错项和网页项_Click() {
    runRequeueCommand(&RequeueFailedAndWebPageRows);
}

void fFileDownload::menu重新下载文件大小小于指定数字的项_Click() {
    Prompt* prompt = Services().prompt;
    if (!prompt)
        return;
    Forms::Hold hold(this);
    const std::optional<QString> answer = prompt->input(this, kAskNumber, QString());
    if (!answer || !stillLoaded())
        return;
    const std::optional<double> limit = ParseNumber(TrimSpaces(*answer));
    if (!limit || !letPendingEventsRun())
        return;
    changeRows([this, bound = *limit] { RequeueRowsSmallerThan(*ListItems3, bound); });
}

// --- removing rows ---

void fFileDownload::removeRows(const QString& command, int (*remove)(KeyedListModel&)) {
    if (RefusedWhileInWork(command) || ListItems3->Count() == 0)
        return;
    changeRows([this, remove] { remove(*ListItems3); });
    showRowCount();
}

void fFileDownload::menu清除选中项_Click() {
    removeRows(menu清除选中项->objectName(), &RemoveSelectedRows);
}

void fFileDownload::menu清除全部出错项_Click() {
    removeRows(menu清除全部出错项->objectName(), &RemoveFailedRows);
}

void fFileDownload::menu清除完成项_Click() {
    removeRows(menu清除完成项->objectName(), &RemoveCompletedRows);
}

void fFileDownload::menu清空_Click() {
    if (RefusedWhileInWork(menu清空->objectName()))
        return;
    Forms::Hold hold(this);
    if (tell(this, kClearQuestion, MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes ||
        !stillLoaded())
        return;
    // Transfers may have started while the question was open.
    if (RefusedWhileInWork(menu清空->objectName()))
        return;
    changeRows([this] { ListItems3->Clear(); });
    showRowCount();
    session_->AskToForgetJournal();
}

// --- files of rows ---

void fFileDownload::DeleteItemFile(int position) {
    ::DeleteItemFile(*ListItems3, position);
}

void fFileDownload::menu删除网页类型文件项_Click() {
    if (!letPendingEventsRun())
        return;
    changeRows([this] { DeleteWebPageFiles(*ListItems3); });
}

void fFileDownload::menu删除出错项_Click() {
    if (!letPendingEventsRun())
        return;
    changeRows([this] { DeleteFailedFiles(*ListItems3); });
}

void fFileDownload::menu检查文件是否存在_Click() {
    changeRows([this] { MarkMissingFiles(*ListItems3); });
}

void fFileDownload::menu取消下载选中项_Click() {
    if (!letPendingEventsRun())
        return;
    if (RefusedWhileInWork(menu取消下载选中项->objectName()))
        return;
    changeRows([this] { FailSelectedWaitingRows(*ListItems3); });
}

// --- dialogs and the window ---

void fFileDownload::menu批量替换网址_Click() {
    if (RefusedWhileInWork(menu批量替换网址->objectName()))
        return;
    Forms::Hold hold(this);
    ShowUrlReplace(this);
    if (stillLoaded())
        RefreshList();
}

void fFileDownload::menu退出软件_Click() {
    QuitFromAnyWindow();
}

void fFileDownload::menu退出本下载窗口_Click() {
    Forms::Unload(this);
}

void fFileDownload::设置_Click() {
    ShowOptionsDialog(this);
}

void fFileDownload::关于_Click() {
    ShowAboutBox(this);
}

void fFileDownload::menu清空IE浏览器缓存_Click() {
    ClearBrowserCache(true, this);
}

#pragma once

#include "core/download/DownloadSession.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>

class KeyedListView;
class WebBrowser;
class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTimer;

// The download manager window: it shows the download session's list and counters, binds its
// controls to the session's options and forwards the user's commands. A window built without a
// session (tests) has one of its own.
class fFileDownload : public QMainWindow {
    Q_OBJECT

public:
    explicit fFileDownload(DownloadSession* session = nullptr);
    ~fFileDownload() override;

    DownloadSession& Session() { return *session_; }
    const DownloadSession& Session() const { return *session_; }

    void Form_Load();
    // Activation refreshes the row count.
    void Form_Activate();
    void Form_Resize();
    // The close handling; sets `Cancel` when the user keeps the window.
    void Form_Unload(bool& Cancel);

    // Repaints the download list now.
    void RefreshList();

    // Adds a waiting row for a handed-over record: Key = link, Text = name. False, and the
    // list unchanged, when the link is already listed.
    bool AddDownloadItem(const QString& link, const QString& name, const QString& type,
                         const QString& saveFolder, const QString& page) {
        return session_->AddDownloadItem(link, name, type, saveFolder, page);
    }
    int 统计未下载项数目() const { return session_->统计未下载项数目(); }
    bool 检测是否下载列表完毕() const { return session_->检测是否下载列表完毕(); }
    int CountDownloaderSlots() const { return session_->CountDownloaderSlots(); }
    // Writes the state counts into panel 4 of the status bar and the day's count into panel 5.
    void UpdateStatusCounts();

    void Timer1_Timer() { session_->Timer1_Timer(); }
    void Timer_Down_Timer() { session_->Timer_Down_Timer(); }
    void menu资料检索分析窗口_Click();

    // --- controls ---
    KeyedListModel* ListItems3; // the session's list
    Inet* Inet1;                // the session's single connection
    KeyedListView* ListView3;
    QFrame* Picture3;
    QLabel* Label1; // row count
    QLabel* Label4;
    QLabel* Label7; // transfer mode
    QLabel* Label2;
    QComboBox* Combo1; // parallel transfers, 1 to 6
    QLabel* Label5;
    QComboBox* Combo2; // seconds between two files
    QLabel* Label8;
    QRadioButton* Option1; // 跳过
    QRadioButton* Option2; // 覆盖
    QRadioButton* Option3; // 重命名
    QButtonGroup* SameNameOptions;
    QCheckBox* Check3;
    QComboBox* Combo4;
    QCheckBox* Check4;
    QCheckBox* Check5;
    QCheckBox* Check6;
    QPushButton* Command4;  // 开始下载
    QPushButton* Command31; // 停止下载
    QPushButton* Command26; // 切换
    QFrame* Shape1;         // lit while the scheduler runs
    QTimer* Timer_Down;     // the session's scheduler: downloading is on while it runs
    QTimer* Timer1;         // the session's housekeeping
    QStatusBar* StatusBar1;
    QLabel* StatusPanel1;
    QLabel* StatusPanel2; // current file
    QLabel* StatusPanel3; // transfer control state
    QLabel* StatusPanel4; // counters

    QMenu* menu下载; // 列表操作(&D): the list menu, also the list's context menu
    QMenu* menu窗口;
    QAction* menu资料检索分析窗口;

    // --- start, stop, switch ---
    void Command4_Click() { session_->Command4_Click(); }
    void menu下载全部_Click() { Command4_Click(); }
    void Command31_Click() { session_->Command31_Click(); }
    void menu停止下载_Click() { Command31_Click(); }
    // 切换: the other transfer mode; running transfers go on.
    void Command26_Click() { session_->Command26_Click(); }
    // Re-queue failed rows / completed or failed web-page rows, deleting their files.
    void menu重新下载出错项_Click();
    void menu重新下载文件类型为HTM和HTML项_Click();
    // The per-site manners of the session's transfers.
    HostPacing& Pacing() { return session_->Pacing(); }
    void ReadSiteSpacing() { session_->ReadSiteSpacing(); }

    QAction* menu下载全部 = nullptr; // 开始下载
    QAction* menu停止下载 = nullptr; // 停止下载
    QMenu* menu重新下载 = nullptr;   // 重新下载 ▸
    QAction* menu重新下载出错项 = nullptr;
    QAction* menu重新下载文件类型为HTM和HTML项 = nullptr;
    // Checked: each row the scheduler starts is scrolled into view.
    QAction* menu自动定位到下载项 = nullptr;

    // The picture the row shows: its state's, or the web-page picture when a page came
    // instead of its file (its state stays what the transfer made it).
    QIcon RowIcon(int position) const;
    QIcon WebPageIcon;
    QLabel* StatusPanel5 = nullptr; // 今日：N
    void menu恢复暂停的网站_Click();
    QAction* menu恢复暂停的网站 = nullptr;

    // --- file type ---
    bool TransfersActive() const { return session_->TransfersActive(); }
    bool TransferInWork() const { return session_->TransferInWork(); }
    // For a command of GuardedListCommands: while a transfer is in work, tells the user why
    // the command cannot run and returns true.
    bool RefusedWhileInWork(const QString& command);
    void menu打开文件判断类型_Click();
    void menu检查并纠正磁盘文件类型_Click();
    QAction* menu打开文件判断类型 = nullptr;
    QAction* menu检查并纠正磁盘文件类型 = nullptr;

    // --- list commands ---
    // 列表操作(&D)
    void menu全选专利列表_Click();
    void menu全不选_Click();
    void menu随机排序列表_Click();
    void menu自动列宽_Click();
    void menu重新下载选中项_Click();
    void menu重新下载出错项和网页项_Click();
    // Asks for a number and re-queues the finished rows smaller than it.
    void menu重新下载文件大小小于指定数字的项_Click();
    void menu清除选中项_Click();
    void menu清除全部出错项_Click();
    void menu清除完成项_Click();
    void menu清空_Click();
    // Puts the rows of the last run's journal back into the list.
    void menu恢复上次的下载列表_Click();
    void menu删除网页类型文件项_Click();
    void menu删除出错项_Click();
    void menu取消下载选中项_Click();
    void menu批量替换网址_Click();
    void menu退出本下载窗口_Click();
    void menu退出软件_Click();
    // 工具(&T) and 帮助(&H)
    void 设置_Click();
    void menu检查文件是否存在_Click();
    void 关于_Click();
    // The list's own events.
    void ListView3_BeforeLabelEdit(bool& Cancel);
    void ListView3_ItemClick(int position);
    void ListView3_DblClick();
    void ListView3_MouseDown(Qt::MouseButton button, const QPoint& globalPos);
    void ListView3_ColumnClick(int column);
    // Random order of the rows; "随机排序完成！" afterwards when `showMessage`.
    void ShuffleList(bool showMessage);
    // Deletes the row's file when one is there.
    void DeleteItemFile(int position);
    // Handing a row's file or the list's names out.
    void menu打开下载文件_Click();
    void menu打开文件所在文件夹_Click();
    void menu用记事本打开文件_Click();
    void menu复制名称_Click();
    void menu导出全部名称_Click();
    void menu导出未完成项名称_Click();
    // The selected completed rows, or all completed rows when none is selected, as a citation
    // file whose format the chosen extension names.
    void menu导出引文_Click();
    // Citations: a reference manager's file or a list of DOIs queued as waiting rows.
    void menu导入引用文件_Click();
    void StatusBar1_PanelClick(int panel);

    QAction* menu全选专利列表 = nullptr;
    QAction* menu全不选 = nullptr;
    QAction* menu随机排序列表 = nullptr;
    QAction* menu自动列宽 = nullptr;
    QAction* menu重新下载选中项 = nullptr;
    QAction* menu重新下载出错项和网页项 = nullptr;
    QAction* menu重新下载文件大小小于指定数字的项 = nullptr;
    QMenu* menu清除 = nullptr;
    QAction* menu清除选中项 = nullptr;
    QAction* menu清除全部出错项 = nullptr;
    QAction* menu清除完成项 = nullptr;
    QAction* menu清空 = nullptr;
    QAction* menu恢复上次的下载列表 = nullptr;
    QMenu* menu删除文件 = nullptr;
    QAction* menu删除网页类型文件项 = nullptr;
    QAction* menu删除出错项 = nullptr;
    QAction* menu取消下载选中项 = nullptr;
    QAction* menu打开下载文件 = nullptr;
    QAction* menu打开文件所在文件夹 = nullptr;
    QAction* menu用记事本打开文件 = nullptr;
    QAction* menu复制名称 = nullptr;
    QAction* menu批量替换网址 = nullptr;
    QAction* menu打开网址 = nullptr;
    QMenu* menu导出名称 = nullptr;
    QAction* menu导出全部名称 = nullptr;
    QAction* menu导出未完成项名称 = nullptr;
    QAction* menu导出引文 = nullptr;
    QAction* menu导入引用文件 = nullptr; // citations: the import
    QAction* menu退出本下载窗口 = nullptr;
    QAction* menu退出软件 = nullptr;
    QMenu* menu工具 = nullptr;
    QAction* 设置 = nullptr;
    QAction* menu检查文件是否存在 = nullptr;
    QAction* menu清空IE浏览器缓存 = nullptr;
    void menu清空IE浏览器缓存_Click();
    QMenu* menu帮助 = nullptr;
    QAction* 关于 = nullptr;

    // --- login panel ---
    // A gateway login of the user's institution, in a browser of its own on the shared
    // profile: what it logs in is seen by the transfers too.
    QPushButton* Command1 = nullptr; // 网页登录: opens the panel
    QFrame* PicWebBK = nullptr;      // the panel; lies over ListView3 when shown
    QLabel* Label6 = nullptr;
    QLineEdit* Text1 = nullptr;      // the login page's address
    QRadioButton* Option4 = nullptr; // 帐号登录：
    QLineEdit* Text2 = nullptr;      // account
    QLabel* Label10 = nullptr;
    QLineEdit* Text3 = nullptr;      // password: held by this box alone, never stored
    QRadioButton* Option5 = nullptr; // IP登录
    QCheckBox* Check2 = nullptr;     // 自动登录
    QLabel* Label11 = nullptr;
    QComboBox* Combo3 = nullptr;     // the condition of the automatic login
    QCheckBox* Check1 = nullptr;     // 自动刷新(每分钟)
    QPushButton* Command2 = nullptr; // 浏览
    QPushButton* Command5 = nullptr; // 测试登录; disabled while a login runs
    QPushButton* Command3 = nullptr; // 关闭(隐藏)
    QTimer* Timer2 = nullptr;        // the minute reload
    WebBrowser* Web1 = nullptr;
    QLabel* Label12 = nullptr; // the panel's status: why a login filled nothing
    // A navigation of Web1 started by the panel has not completed.
    bool LoginPageLoading = false;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command5_Click();
    void Check1_Click();
    void Check2_Click();
    void Timer2_Timer();
    // Opens the login page, fills the form and sends it; returns when the login is over.
    // Only the interactive call tells the user what is missing. While one login runs, a
    // further call does nothing.
    void FillLoginForm(bool interactive);
    void Web1_DocumentComplete();
    void Web1_TitleChange(const QString& title);

    // The four state pictures, by state 1 to 4 (entry 0 unused).
    std::array<QIcon, 5> IL_LV3;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildControls();
    void buildLayout();
    // The list's rows changed in number.
    void showRowCount();

    // Guarded: the run's session may end (the program's end) before a window closed just
    // before it is deleted.
    QPointer<DownloadSession> session_;
    bool unloading_ = false;
    // The session's signals reach the controls.
    void bindSession();
    void UpdateTodayCount();
    // Status panel 1, 2 or 3.
    QLabel* rowPanel(int panel) const;
    // The controls' values become the session's options.
    void pushOptions();
    // The session changed its options: the controls follow.
    void showOptions();
    void runRequeueCommand(int (*requeue)(KeyedListModel&));

    // --- login panel ---
    void buildLoginPanel();
    void LoginPanel_Load();
    // Keeps the gateway address and the account name for the next run.
    void LoginPanel_Unload();
    // Puts the panel on the list's rectangle.
    void PlaceLoginPanel();
    // Navigates Web1 and waits for the page as 浏览 does; false when the window went away
    // meanwhile.
    bool openLoginPage(const QString& address);
    // Whether the account may be sent for this login address: a web address, and over plain
    // http only with the user's stored yes (asked here when `interactive`). Otherwise the
    // panel's status says why.
    bool loginAddressAllowed(const QString& address, bool interactive);
    // Presses the element of Web1's last document copy and waits for the answer.
    bool submitLogin(int element);
    // Lets events run until the panel's navigation is in or the time since `start` is up;
    // false when the window went away meanwhile.
    bool waitForLoginPage(double start);
    bool loginWindowGone(const QPointer<fFileDownload>& self) const;
    // The panel as the session's login.
    std::unique_ptr<SessionLogin> login_;

    // --- site manners ---
    // The site's check goes to the search window's browser.
    void handOverSiteCheck(const QString& link);

    // --- journal of the list ---
    // Shows the restore entry with the count of unfinished rows, or hides it.
    void offerJournalRows();
    // The row count follows the list's inserts, removals and resets, once per event-loop turn.
    QTimer* rowCountTimer_ = nullptr;
    void followRowCount();
    // --- list commands ---
    // The menu bar, the list's context menu and the list's events.
    void setUpListCommands();
    // The busy rule of the context menu applied to the list menu.
    void updateListMenuStates();
    // The sort's and the context menu's busy test.
    bool schedulerOrTransferBusy() const;
    // Lets pending events run once; false when the window was closed meanwhile.
    bool letPendingEventsRun();
    // Runs `change` with the list's painting held back, then paints it once.
    void changeRows(const std::function<void()>& change);
    // The row the user works on: the current row when it is selected, else the first
    // selected one; 0 when none is selected.
    int workedRow() const;
    void removeRows(const QString& command, int (*remove)(KeyedListModel&));
    void exportNames(bool unfinishedOnly);
    // The worked row's file when it is on disk; "" after saying it is missing, or when no row
    // is selected. Needs the prompt.
    QString workedRowFile();
    // Clicks on the status bar's panels reach StatusBar1_PanelClick.
    void setUpStatusPanelClicks();
    bool stillLoaded() const;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

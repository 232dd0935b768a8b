#pragma once

#include "core/download/SameNameRule.h"
#include "core/transfer/Downloader.h"

#include <QHash>
class DownloadFile;

#include <QIcon>
#include <QMainWindow>
#include <QMap>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>

class CommitLog;
class DownloadScheduler;
class BrowserDownload;
class DownloadTransfers;
class HostPacing;
class Inet;
class KeyedListModel;
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
class QWebEngineDownloadRequest;

// The download manager window: one list of files to fetch, the controls that steer the
// transfers, and the window's stored placement.
class fFileDownload : public QMainWindow {
    Q_OBJECT

public:
    fFileDownload();

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
                         const QString& saveFolder, const QString& page);

    // --- counters over the list ---
    // Rows whose size, received and percentage columns are all empty.
    int 统计未下载项数目() const;
    // True when no row waits or downloads (an empty list too).
    bool 检测是否下载列表完毕() const;
    // Transfer slots in use plus the design element 0: 2 or more means a parallel transfer
    // runs.
    int CountDownloaderSlots() const;
    // Writes the state counts into panel 4 of the status bar.
    void UpdateStatusCounts();

    // --- the same-name rule, applied when a transfer is about to start ---
    // False when the row's file exists and "跳过" is chosen: the row is then marked completed
    // with the file's length. Also false for a row that is gone or a file whose length cannot
    // be read.
    bool 确定是需要下载(int position);
    // The path to write to: the plain target, or the first free "name[NNN]" variant when the
    // file exists and "覆盖" is not chosen. `newName` receives the name for the row's Text.
    QString 重命名保存路径(const QString& folder, const QString& name, const QString& type,
                           QString& newName);

    // --- which files are the program's (FileOwnership.h, SameNameRule.h) ---
    // The same-name option chosen now.
    SameNameChoice SameNameChoiceNow() const;
    // How the row's body may take `target`: judged against `expectedType` (the type the row
    // asked for), over the row's own unchanged file or, under 覆盖, over the user's, and
    // recorded in the journal's commit log before it takes the name.
    CommitRule CommitRuleFor(int position, const QString& target, const QString& expectedType);
    // After a commit put `placed` in place for the row: the row owns it, and only it. Returns
    // what the row owned before.
    OwnedFile RecordCommit(int position, const OwnedFile& placed);

    void Timer1_Timer();
    void menu资料检索分析窗口_Click();

    // --- controls ---
    KeyedListModel* ListItems3;
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
    QTimer* Timer_Down;     // the scheduler
    QTimer* Timer1;         // housekeeping
    QStatusBar* StatusBar1;
    QLabel* StatusPanel1;
    QLabel* StatusPanel2; // current file
    QLabel* StatusPanel3; // transfer control state
    QLabel* StatusPanel4; // counters

    QMenu* menu下载; // 列表操作(&D): the list menu, also the list's context menu
    QMenu* menu窗口;
    QAction* menu资料检索分析窗口;

    // --- scheduler: start, stop, switch, Timer_Down, Timer1, sounds ---
    // Plays built-in sound 101, 102 or 103 without waiting for its end.
    void PlaySound(int number);
    // Marks why the row failed, in its reason column and in the status bar.
    void ReportRowFailure(int position, const QString& reason);
    // After a transfer put the row's file in place: the file the row had before, when it was
    // its own web page under another name, still unchanged, goes.
    void RowFileCommitted(int position, const OwnedFile& previous);
    // A parallel slot is busy exactly while its element exists. Element 0 always exists.
    bool SlotLoaded(int slot) const;
    // The scheduler tick: the next waiting row to the single connection, or one to every
    // free parallel slot. Returns only when a single-connection transfer it started ended.
    void Timer_Down_Timer();
    // 开始下载: downloading on.
    void Command4_Click();
    void menu下载全部_Click();
    // 停止下载: automatic start and re-download off, downloading off, every transfer
    // abandoned and its row failed.
    void Command31_Click();
    void menu停止下载_Click();
    // 切换: the other transfer mode; running transfers go on.
    void Command26_Click();
    // Web-page rows in any state plus failed rows of other types.
    int CountProblemItems() const;
    // Re-queue failed rows / completed or failed web-page rows, deleting their files.
    void menu重新下载出错项_Click();
    void menu重新下载文件类型为HTM和HTML项_Click();
    // The transfers the scheduler drives: the window's own by default (nullptr restores
    // them); a test puts doubles here.
    void UseTransfers(DownloadTransfers* transfers);
    // The per-site manners of this window's transfers (spacing, push-back, held sites, sites
    // fetched through the browser).
    HostPacing& Pacing();

    QAction* menu下载全部 = nullptr; // 开始下载
    QAction* menu停止下载 = nullptr; // 停止下载
    QMenu* menu重新下载 = nullptr;   // 重新下载 ▸
    QAction* menu重新下载出错项 = nullptr;
    QAction* menu重新下载文件类型为HTM和HTML项 = nullptr;
    // Checked: each row the scheduler starts is scrolled into view.
    QAction* menu自动定位到下载项 = nullptr;

    // --- single-connection transfer ---
    Inet* Inet1 = nullptr;
    // Called by the scheduler; returns when the transfer of the row has ended. A row that
    // arrives while a transfer still runs goes back to waiting ("等待重新下载").
    void Inet下载当前文件(int position);
    // The transfer of the row through Inet1; true when its file was written completely. It
    // lets events run while it waits and finds its row again by the link after every pump:
    // a row that is gone, a window that closes or a program that ends stop it quietly, with
    // the partial file deleted.
    bool Inet下载文件(int position);
    // Writes the control's state into panel 3.
    void Inet1_StateChanged(int State);

    // --- multi-connection transfer ---
    // Starts the row's transfer in `slot` and returns at once; always false.
    bool 多线程下载(int slot, int position, const QString& link, const QString& targetPath);
    // Abandons the slot's transfer and frees the slot; no further event arrives for it.
    void RemoveDownloaderSlot(int slot);
    // The slots' events. Each finds its row again by the link the slot was started with; an
    // event whose row is gone changes no row (a final one still frees its slot).
    void Downloader1_DownloadProgress(int Index, qint64 received, qint64 total,
                                      const QString& path);
    void Downloader1_DownloadError(int Index, const QString& path);
    void Downloader1_DownloadComplete(int Index, qint64 size, const QString& path);

    // --- site manners: web pages diagnosed, bot checks handed over, push-back, pacing ---
    // What a transfer's answer said.
    struct TransferAnswer {
        int status = 0;
        QByteArray cfMitigated;
        QByteArray retryAfter;
        QString finalUrl;
        // Site manners: the answer's own Date, and a refusal the browser reported without a
        // status.
        QByteArray date;
        bool pushedBack = false;
        // Bot check: the body was a check's page, refused before it took a name.
        bool botCheck = false;
    };
    // Both transfer modes call it once a row's transfer has ended and its type was checked:
    // a web page is diagnosed, a bot check handed to the user, and the site's manners told.
    void TransferEnded(const QString& link, const TransferAnswer& answer);
    // The picture the row shows: its state's, or the web-page picture when a page came
    // instead of its file (its state stays what the transfer made it).
    QIcon RowIcon(int position) const;
    QIcon WebPageIcon;
    // The browser shows a page that is not a bot check: the waiting site goes on.
    void SiteCheckPassed();
    // The site whose check the user is asked to pass; "" when none.
    QString SiteCheckHost() const { return siteCheck_.host; }
    // Reads the spacing between two starts to one site from the settings.
    void ReadSiteSpacing();
    // "今日：N": the files started today from the busiest site (the journal's, in practice).
    void UpdateTodayCount();
    QLabel* StatusPanel5 = nullptr;
    void menu恢复暂停的网站_Click();
    QAction* menu恢复暂停的网站 = nullptr;

    // --- file type ---
    // The type word of the file at `path` judged from its bytes, or "" (ClassifyFileType).
    QString 打开文件判断文件类型(const QString& path) const;
    // Gives the row's file its real type as extension; true when it did. A row whose file is
    // missing, undetermined, already of that type, or cannot be renamed stays as it was.
    // `webPage`: the commit judged the body a web page (by its answer's Content-Type, say)
    // though its bytes do not classify as one; it is named .htm all the same.
    bool CorrectItemFileType(int position, bool webPage = false);
    // A transfer runs or may start at the next tick: the scheduler is on, the single
    // connection is busy, or a parallel slot is in use. Commands that rename, move or remove
    // what a transfer works on refuse then.
    bool TransfersActive() const;
    // A transfer is in work: TransfersActive, or a transfer still holds the busy flag.
    bool TransferInWork() const;
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
    // Called when a transfer of the row at `position` has ended, in either mode: logs in
    // again when 自动登录 is on and the row turned out to be a web page (htm or html).
    void AutomaticLoginAfterTransfer(int position);
    void Web1_DocumentComplete();
    void Web1_TitleChange(const QString& title);

    // The four state pictures, by state 1 to 4 (entry 0 unused).
    std::array<QIcon, 5> IL_LV3;

    // --- window state shared by the scheduler and the transfers ---
    // A transfer was started and not yet released.
    bool DownloadBusy = false;
    // Per slot, the list position of the row it works on; entry 1 serves the single
    // connection.
    std::array<int, 12> SlotItem{};
    // Per parallel slot, when its transfer started, in monotonic seconds
    // (Clock::elapsedSeconds), so that the watchdog never fires falsely at midnight.
    std::array<double, 12> SlotStart{};
    // When the last transfer ended, in monotonic seconds (Clock::elapsedSeconds); the gap to
    // the next file runs from it.
    double LastFileTime = 0.0;
    // Parallel transfer slots in use, by element index (1 to 6); element 0 is not held here.
    QMap<int, QPointer<Downloader>> Downloader1;
    // Slots in use whose row is fetched through the embedded browser (a site marked so in the
    // per-site manners); a slot is in one of the two maps at most.
    QMap<int, QPointer<BrowserDownload>> BrowserSlots;

    // --- transfers through the embedded browser ---
    // The row's site is fetched through the browser's own network stack.
    bool FetchedThroughBrowser(const QString& link);
    // The single connection's run for such a row: the row goes to a free slot's browser
    // download, and this returns when it has ended (or the window or program went).
    void DownloadThroughBrowser(int position);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildControls();
    void buildLayout();
    // The list's rows changed in number.
    void showRowCount();

    bool unloading_ = false;
    // Each listed article's identity and the link it is listed under; an entry whose row has
    // gone or changed its link no longer counts.
    QHash<QString, QString> articleKeys_;

    // --- scheduler ---
    struct SchedulerParts;
    SchedulerParts* scheduler_ = nullptr; // a child object of the window
    DownloadScheduler& scheduler();
    void setUpScheduler();
    // The close's part: the stop command, then the single connection cancelled.
    void stopForClose();
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
    // --- site manners ---
    struct SiteCheck {
        QString host;
        double deadline = 0.0; // monotonic seconds
    };
    SiteCheck siteCheck_;
    int keptStarts_ = -1;
    void setUpSiteManners();
    // `pageKept`: the check's page was taken for the row's own file and committed.
    void handOverSiteCheck(int position, const QString& host, bool pageKept);
    // Gives up the wait for the user's check: the site's waiting rows fail with `reason`.
    void endSiteCheck(const QString& reason);
    // Once a second: the check's time limit, and the day's counts kept for the next start.
    void watchSiteManners();
    // Site manners: the sites' pauses, holds, browser marks and the day's answer, written when
    // they changed (or at once), and read back when the window is made.
    void keepSiteState(bool now);
    quint64 keptSiteChanges_ = 0;
    // A bot check met by a transfer is no download: the row gets its type back, and a page
    // of it that was committed as the row's file (`pageKept`) leaves the save folder.
    void dropCheckPage(int position, bool pageKept);
    // The search window's browser passed the check and was sent on to the file: the download
    // becomes its row's file in a free slot, through the browser path's checks.
    void adoptCheckDownload(QWebEngineDownloadRequest* request);
    QWebEngineDownloadRequest* adoptedCheckDownload_ = nullptr; // during adoptCheckDownload only
    // --- journal of the list ---
    struct JournalParts;
    JournalParts* journal_ = nullptr; // a child object of the window
    // Reads the last run's journal and starts keeping this one.
    void setUpJournal();
    // Shows the restore entry with the count of unfinished rows, or hides it.
    void offerJournalRows();
    // After the list was cleared: forget the journal too, or keep offering its rows.
    void askToForgetJournal();
    // Writes the journal when a write is due (called once a second) or at once.
    void keepJournal();
    void writeJournalNow();
    // Where the transfers record their commits before they count; null when this run keeps no
    // journal.
    std::shared_ptr<CommitLog> JournalCommits() const;
    // --- counts and messages that follow the rows; a hand-over beside the last list ---
    // What went wrong with the journal this window read ("" when nothing did).
    QString journalProblem_;
    // The first hand-over into a window that still offers the last list's unfinished rows
    // asks what becomes of them; a handed-over link that one of them holds comes back as it
    // was. True when the link is listed that way (nothing is to be added for it).
    bool handOverKeepsCarriedRow(const QString& link);
    bool carriedRowsAsked_ = false;
    // The row count follows the list's inserts, removals and resets, once per event-loop turn.
    QTimer* rowCountTimer_ = nullptr;
    void followRowCount();
    // What a status panel (1 or 2) says about one row, as it was when said: the message goes
    // when the row goes or its state or web-page mark changes, unless the panel says something
    // else by then.
    struct RowMessage {
        QString key;
        int state = 0;
        bool webPage = false;
        QString text;
    };
    std::array<RowMessage, 3> rowMessages_{};
    void showRowMessage(int panel, int position, const QString& text);
    // Once a transfer ended: one verdict for the row, "完成下载:" only for its file, the
    // failure or the page instead, and nothing left in the other panel about it.
    void showRowVerdict(int position);
    void dropStaleRowMessages();
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
    // --- multi-connection transfer ---
    struct SlotProgress {
        qint64 received = 0;
        qint64 total = 0;
        bool pending = false; // not shown in the list yet
    };
    // The row the slot works on, found by its link; 0 when it is gone.
    int slotRow(int slot) const;
    void showSlotProgress(int slot);
    void showPendingSlotProgress();
    std::array<QString, 12> slotLink_{};
    std::array<SlotProgress, 12> slotProgress_{};
    std::array<qint64, 12> slotShownMs_{}; // when the list last showed it; 0: never
    // The file the slot's row had before its transfer, and whether the transfer put its own
    // file in place.
    std::array<QString, 12> slotPreviousPath_{};
    std::array<bool, 12> slotCommitted_{};
    // What the slot's row owned before its transfer.
    std::array<OwnedFile, 12> slotPreviousOwned_{};
    // The slot's transfer through the browser, begun for the row.
    void startBrowserSlot(int slot, const QString& link, const QString& targetPath,
                          const QString& referer, const CommitRule& rule);
    // The status and failure words of the slot's transfer, whichever kind it is.
    int slotResponseStatus(int slot) const;
    QString slotFailureReason(int slot) const;
    bool slotProgressQueued_ = false;

private: // single-connection transfer
    enum class SingleTransferEnd { Completed, Failed, Abandoned };
    void setupSingleTransfer();
    // Copies a body of announced length into `file` in chunks, with live progress.
    SingleTransferEnd copyBodyInChunks(const QString& link, DownloadFile& file, qint64 announced,
                                       double& lastGrowth, const CommitRule& rule);
    // Fetches the link again and puts its whole body in `file`'s place; true when written.
    bool WholeBodyDownload(int position, DownloadFile& file, const CommitRule& rule);
    bool singleTransferAbandoned(const QString& link, bool registered) const;
    // Bytes the last single transfer took over from an interrupted one; 0 when it began
    // afresh. Panel 3 says so.
    qint64 singleResumedFrom_ = 0;
};

// "下载方式：" with the mode's number and what it means: "下载方式：1（单线程）".
QString DownloadModeCaption(int mode);

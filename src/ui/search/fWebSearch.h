#pragma once

#include "core/search/PageKinds.h"

#include <QMainWindow>
#include <QStringList>
#include <QWebEngineDownloadRequest>

#include <optional>

class Dom;
class KeyedListModel;
class KeyedListView;
class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class WebBrowser;

// The search window: the embedded browser above, the search list below. The user brings up
// the journal's result pages in the browser; the page commands turn every listed article into
// a row of the search list.
class fWebSearch : public QMainWindow {
    Q_OBJECT

public:
    fWebSearch();

    void Form_Load();
    void Form_Unload();

    // --- the search list ---
    // Adds one record; a link that is already listed keeps its row unchanged.
    void 加入LV1(const QString& title, const QString& link, const QString& page,
                 const QString& type, const QString& saveFolder);
    void RefreshRowCount();

    // --- result pages ---
    int ExtractResultRecords();
    void AddCurrentPage();
    int CurrentFirstIndex() const;
    bool 判断是否为最后一个页码链接(int current);
    bool 下一页();
    void Command9_Click();
    void Command4_Click();

    // --- analysis runs ---
    enum class AnalysisRun { Unanalysed, Failed, Selected, All };
    void Command2_Click();
    void Command5_Click();
    void RunAnalysis(AnalysisRun run);
    bool AnalyseRecord(int position);
    bool 加入下载列表(const QString& link, const QString& title, const QString& type,
                      const QString& saveFolder, const QString& page);
    // Asks for the save folder and naming rule (modal).
    void ShowSaveFolderDialog();

    // Brings the download window forward when it is loaded; never creates it.
    void 显示下载窗口(bool restore);

    // --- menus ---
    void menu打开Science首页_Click();
    void menu打开指定网址_Click();
    void menu后退_Click();
    void menu前进_Click();
    void menu关闭本窗口_Click();
    void menu退出软件_Click();
    void menu清除选中项_Click();
    void menu清除分析成功项_Click();
    void menu清除标题含指定字符项_Click();
    void menu清除标题不含指定字符项_Click();
    void menu清空全部_Click();
    void menu打开下载窗口_Click();
    void Command7_Click();

    void WebBrowser1_DocumentComplete();
    void WebBrowser1_StatusTextChange(const QString& text);

    // A bot check a download brought, handed to the user: the browser shows `address` and
    // the notice stays until it shows a page that is not a check (then siteCheckPassed) or
    // the download window gives up (EndSiteCheck).
    void ShowSiteCheck(const QString& address);
    void EndSiteCheck();
    bool SiteCheckShown() const { return siteCheckShown_; }
    QLabel* LabelSiteCheck = nullptr;

signals:
    void siteCheckPassed();
    // The check page's navigation turned into a download from the checked site, announced
    // now: a handler may take it up as the row's file before this returns.
    void siteCheckDownload(QWebEngineDownloadRequest* request);

public:
    // Running loops stop at their next check when these are set.
    bool StopAddAll = false;
    bool StopAnalysis = true;
    // A navigation started by 下一页 has not completed yet.
    bool PageLoading = false;

    WebBrowser* WebBrowser1;
    KeyedListModel* ListItems;
    KeyedListView* ListView1;
    QLabel* Label1;
    QPushButton* Command2;
    QPushButton* Command5;
    QLabel* Label11;
    QWidget* PicPanPrograss;
    QPushButton* Command9;
    QPushButton* Command4;
    QPushButton* Command7;
    QComboBox* Combo1;
    QSplitter* PicBar;
    QLabel* StatusPanel1;
    QLabel* StatusPanel2;
    QLabel* StatusPanel3;

    QMenu* menu加入;
    QAction* menu分析未分析项;
    QAction* menu加入分析失败项;
    QAction* menu选中加入;
    QAction* menu全部加入;
    QMenu* menu浏览;
    QMenu* menu清除;
    QMenu* menu工具;
    QAction* menu打开Science首页;
    QAction* menu打开指定网址;
    QAction* menu后退;
    QAction* menu前进;
    QAction* menu关闭本窗口;
    QAction* menu退出软件 = nullptr;
    QAction* menu清除选中项;
    QAction* menu清除分析成功项;
    QAction* menu清除标题含指定字符项;
    QAction* menu清除标题不含指定字符项;
    QAction* menu清空全部;
    QAction* menu打开下载窗口;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // A copy of the shown page, bounded by the page time-out of Combo1 and asked for twice
    // before it counts as failed; a failure is shown in panel 2 ("读取网页失败").
    std::optional<Dom> copyShownPage(const DomQuery& query);
    // Adds the page's records by the rules of its kind; a bot check adds nothing.
    int addRecordsFrom(const Dom& document, PageKind kind);
    // Navigates to the address and waits for it as a run does: until the page is complete,
    // the page time-out has passed or the run is stopped, then the settle pause. False when
    // the time-out is not a number.
    bool goToPage(const QString& address);
    // Waits while the shown page is the bot check, with the notice in panel 2, until it has
    // become a result page (its copy is returned), the run is stopped, the window closes or
    // five minutes have passed (nullopt).
    std::optional<Dom> waitOutChallenge();
    void buildMenus();
    void buildLayout();
    // True (after telling the user) while an analysis run is active.
    bool refuseWhileAnalysing();
    void removeRowsByTitle(bool containing);
    void keepSplitterInRange();

    bool unloading_ = false;
    bool siteCheckShown_ = false;
    // Reads the shown page: not a check any more ends the hand-over.
    void lookAtSiteCheck();
    // The check is passed also when its clearance cookie arrives in the browser's store, or
    // when the check page's navigation turns into a download from the checked site.
    void watchSiteCheckPassing();
    void siteCheckPassedNow();
    QString siteCheckSite_;
    bool siteCheckWatched_ = false;
    bool splitterPlaced_ = false;
    // Hand-overs of the running analysis refused because their link is no web address.
    int refusedHandOvers_ = 0;
    // This run's hand-overs the download list took, and those it already held (the same link,
    // or the same article under another host or spelling).
    int addedHandOvers_ = 0;
    int listedHandOvers_ = 0;
    // When the browser last completed a page (monotonic clock); today's site is never asked
    // for the next page of results sooner than a pause after it.
    std::optional<double> pageShownAt_;
};

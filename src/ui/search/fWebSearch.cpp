#include "ui/search/fWebSearch.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/Version.h"
#include "core/app/WebAddress.h"
#include "core/download/Citations.h"
#include "core/download/HostPacing.h"
#include "core/download/Naming.h"
#include "core/platform/Clock.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/search/PageKinds.h"
#include "core/search/RecordMetadata.h"
#include "core/search/ResultPages.h"
#include "core/search/SearchList.h"
#include "core/search/TodaySite.h"
#include "ui/app/Forms.h"
#include "ui/app/WidgetHelpers.h"
#include "ui/app/fCover.h"
#include "ui/app/WindowPlacement.h"
#include "ui/download/fFileDownload.h"
#include "ui/download/fSeleFileSavePath.h"
#include "ui/platform/KeyedListView.h"
#include "ui/platform/WebBrowser.h"
#include "ui/tools/CacheTools.h"
#include "ui/tools/Tools.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QNetworkCookie>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <algorithm>
#include <functional>

namespace {

const QString kAddAllCaption = QStringLiteral("加入全部到列表");
const QString kStopAddAllCaption = QStringLiteral("停止加入全部");
const QString kDesignCaption = QStringLiteral("Science数据检索分析");
constexpr int kListRowHeight = 13;

const QString kPageCopyFailed = QStringLiteral("读取网页失败");
// The page time-out box holds whole seconds; the copy of a page is bounded by it, but by
// at least a second, so that "0" still lets a small page answer.
constexpr int kLongestCopySeconds = 24 * 60 * 60;
constexpr int kDefaultCopySeconds = 60;

// Today's site shuts out clients that page faster than a reader would; the program also asks
// its users not to harvest in bulk.
constexpr double kTodayPagePauseSeconds = 3.0;
// The bot check is the user's to pass, in the browser. The run looks again once a second and
// gives up after five minutes.
const QString kChallengeNotice = QStringLiteral("请在浏览器中完成网站验证，完成后将自动继续");
constexpr double kChallengeWaitSeconds = 5 * 60;
constexpr double kChallengeLookSeconds = 1.0;
constexpr int kChallengeCopyMs = 10000;

// One frame of a 60 Hz display: the progress text is never painted more often.
constexpr qint64 kProgressFrameMs = 16;

// The progress text of a run, painted at once when a row starts, so that a row that takes
// long is the one shown, but at most once a frame, and never for more of the time than the
// rows get between two paints. Every paint of the search window composes it anew with the
// embedded browser: a quarter of a millisecond offscreen, tens of milliseconds on a
// software-rendered display, a whole frame where the desktop waits for the screen. A paint
// for each of 20,000 rows would stretch a run of a tenth of a second to minutes and show
// nothing the screen could.
class ProgressText {
public:
    explicit ProgressText(QLabel* label) : label_(label) {}

    void show(const std::function<QString()>& text) {
        if (sincePaint_.isValid() &&
            sincePaint_.elapsed() < std::max(kProgressFrameMs, lastPaintMs_))
            return;
        QElapsedTimer painting;
        painting.start();
        label_->setText(text());
        // The text's own update request, handled now: one paint of the window. (repaint()
        // would paint and leave that request behind, and the next pump would turn it into a
        // second composition of the window.)
        QCoreApplication::sendPostedEvents(label_->window(), QEvent::UpdateRequest);
        lastPaintMs_ = painting.elapsed();
        sincePaint_.start();
    }

private:
    QLabel* label_;
    QElapsedTimer sincePaint_;
    qint64 lastPaintMs_ = 0;
};

// Keeps a widget from painting while it lives. A run adds a row to the download list at each
// step; its view is painted once when the run ends, not after each of 20,000 insertions.
class PaintingSuspended {
public:
    explicit PaintingSuspended(QWidget* widget)
        : widget_(widget), wasEnabled_(widget && widget->updatesEnabled()) {
        if (wasEnabled_)
            widget->setUpdatesEnabled(false);
    }
    ~PaintingSuspended() {
        if (widget_ && wasEnabled_)
            widget_->setUpdatesEnabled(true);
    }
    PaintingSuspended(const PaintingSuspended&) = delete;
    PaintingSuspended& operator=(const PaintingSuspended&) = delete;

private:
    QPointer<QWidget> widget_;
    bool wasEnabled_;
};

Prompt& prompt() {
    return *Services().prompt;
}

} // namespace

fWebSearch::fWebSearch()
    : WebBrowser1(new WebBrowser), ListItems(new KeyedListModel(SearchListHeaders(), this)),
      ListView1(new KeyedListView), Label1(new QLabel(QStringLiteral("0"))),
      Command2(new QPushButton(QStringLiteral("分析下载"))),
      Command5(new QPushButton(QStringLiteral("停止"))),
      Label11(new QLabel(QStringLiteral("正在分析，请稍候..."))), PicPanPrograss(new QFrame),
      Command9(new QPushButton(QStringLiteral("加入本页到列表"))),
      Command4(new QPushButton(kAddAllCaption)),
      Command7(new QPushButton(QStringLiteral("导出数据..."))), Combo1(new QComboBox),
      PicBar(new QSplitter(Qt::Vertical)), StatusPanel1(new QLabel), StatusPanel2(new QLabel),
      StatusPanel3(new QLabel) {
    setWindowTitle(kDesignCaption);
    ListView1->setModel(ListItems);
    Combo1->setEditable(true);
    for (int seconds : {10, 20, 30, 40, 50, 60, 90, 120, 150, 200, 250, 300, 360, 400, 500, 600})
        Combo1->addItem(QString::number(seconds));
    Combo1->setInsertPolicy(QComboBox::NoInsert);

    buildMenus();
    buildLayout();

    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(Command9, &QPushButton::clicked, this, [this] { Command9_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command7, &QPushButton::clicked, this, [this] { Command7_Click(); });
    connect(WebBrowser1, &WebBrowser::DocumentComplete, this,
            [this] { WebBrowser1_DocumentComplete(); });
    connect(WebBrowser1, &WebBrowser::StatusTextChange, this,
            [this](const QString& text) { WebBrowser1_StatusTextChange(text); });
    connect(ListView1, &KeyedListView::rightClicked, this,
            [this](int, const QPoint& globalPos) { menu清除->popup(globalPos); });

    // Roughly 9000 by 5000 twips, the smallest the layout still works in.
    setMinimumSize(600, 334);
    resize(1100, 760);
    FitOnScreen(this);
}

void fWebSearch::buildMenus() {
    auto add = [this](QMenu* menu, const QString& caption, void (fWebSearch::*handler)()) {
        QAction* action = menu->addAction(caption);
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return action;
    };
    // The four runs are offered only as the pop-up of "分析下载", never on the menu bar.
    menu加入 = new QMenu(QStringLiteral("加入"), this);
    auto addRun = [this](const QString& caption, AnalysisRun run) {
        QAction* action = menu加入->addAction(caption);
        connect(action, &QAction::triggered, this, [this, run] { RunAnalysis(run); });
        return action;
    };
    menu分析未分析项 = addRun(QStringLiteral("分析未分析项"), AnalysisRun::Unanalysed);
    menu加入分析失败项 = addRun(QStringLiteral("分析失败项"), AnalysisRun::Failed);
    menu选中加入 = addRun(QStringLiteral("分析选中项"), AnalysisRun::Selected);
    menu全部加入 = addRun(QStringLiteral("分析全部"), AnalysisRun::All);

    menu浏览 = menuBar()->addMenu(QStringLiteral("浏览(&B)"));
    menu打开Science首页 =
        add(menu浏览, QStringLiteral("打开Science首页"), &fWebSearch::menu打开Science首页_Click);
    menu打开指定网址 =
        add(menu浏览, QStringLiteral("打开指定网址..."), &fWebSearch::menu打开指定网址_Click);
    menu浏览->addSeparator();
    menu后退 = add(menu浏览, QStringLiteral("后退"), &fWebSearch::menu后退_Click);
    menu前进 = add(menu浏览, QStringLiteral("前进"), &fWebSearch::menu前进_Click);
    menu浏览->addSeparator();
    menu关闭本窗口 = add(menu浏览, QStringLiteral("关闭本窗口"), &fWebSearch::menu关闭本窗口_Click);
    menu退出软件 = add(menu浏览, QStringLiteral("退出软件"), &fWebSearch::menu退出软件_Click);

    menu清除 = menuBar()->addMenu(QStringLiteral("清除(&C)"));
    menu清除选中项 = add(menu清除, QStringLiteral("清除选中项"), &fWebSearch::menu清除选中项_Click);
    menu清除分析成功项 =
        add(menu清除, QStringLiteral("清除分析成功项"), &fWebSearch::menu清除分析成功项_Click);
    menu清除标题含指定字符项 = add(menu清除, QStringLiteral("清除标题含指定字符项"),
                                   &fWebSearch::menu清除标题含指定字符项_Click);
    menu清除标题不含指定字符项 = add(menu清除, QStringLiteral("清除标题不含指定字符项"),
                                     &fWebSearch::menu清除标题不含指定字符项_Click);
    menu清空全部 = add(menu清除, QStringLiteral("清空全部"), &fWebSearch::menu清空全部_Click);

    menu工具 = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    connect(menu工具->addAction(QStringLiteral("设置")), &QAction::triggered, this,
            [this] { ShowOptionsDialog(this); });
    menu打开下载窗口 =
        add(menu工具, QStringLiteral("打开下载窗口"), &fWebSearch::menu打开下载窗口_Click);
    menu工具->addSeparator();
    connect(menu工具->addAction(QStringLiteral("查看浏览器缓存")), &QAction::triggered, this,
            [this] { ShowCacheViewer(this); });
    connect(menu工具->addAction(QStringLiteral("清空浏览器缓存")), &QAction::triggered, this,
            [this] { ClearBrowserCache(true, this); });
    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    connect(help->addAction(QStringLiteral("关于(&A)")), &QAction::triggered, this,
            [this] { ShowAboutBox(this); });
}

void fWebSearch::buildLayout() {
    auto* webPane = new QWidget; // PicPanWeb
    auto* webLayout = new QVBoxLayout(webPane);
    webLayout->setContentsMargins(0, 0, 1, 1);
    webLayout->addWidget(WebBrowser1);

    auto* listPane = new QWidget; // PicPanList
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command2);
    buttons->addWidget(Command9);
    buttons->addWidget(Command4);
    buttons->addWidget(Command7);
    buttons->addSpacing(16);
    buttons->addWidget(new QLabel(QStringLiteral("待下载列表：")));
    buttons->addWidget(Label1);
    buttons->addStretch(1);
    buttons->addWidget(new QLabel(QStringLiteral("网页打开超时设置：")));
    buttons->addWidget(Combo1);
    buttons->addWidget(new QLabel(QStringLiteral("秒（网速越慢，设得越大！）")));
    auto* listLayout = new QVBoxLayout(listPane);
    listLayout->setContentsMargins(1, 2, 3, 3);
    listLayout->addLayout(buttons);
    listLayout->addWidget(ListView1, 1);
    SetListStripes(ListView1, kListRowHeight);

    // The progress panel floats over the list while a run is active.
    auto* frame = static_cast<QFrame*>(PicPanPrograss);
    frame->setParent(listPane);
    frame->setFrameShape(QFrame::Box);
    frame->setAutoFillBackground(true);
    auto* progress = new QHBoxLayout(frame);
    // The progress text changes at every row of a run; a label of fixed size repaints only
    // itself, where one that followed its text would lay out the whole window each time.
    Label11->setFixedSize(420, Label11->fontMetrics().height() + 6);
    Label11->setAutoFillBackground(true);
    progress->addWidget(Label11, 1);
    progress->addWidget(Command5);
    frame->resize(frame->sizeHint().expandedTo(QSize(520, 44)));
    frame->hide();

    PicBar->addWidget(webPane);
    PicBar->addWidget(listPane);
    PicBar->setChildrenCollapsible(false);
    PicBar->setStretchFactor(0, 4);
    PicBar->setStretchFactor(1, 1);
    connect(PicBar, &QSplitter::splitterMoved, this, [this] { keepSplitterInRange(); });
    setCentralWidget(PicBar);

    statusBar()->addWidget(StatusPanel1);
    statusBar()->addWidget(StatusPanel2, 3);
    statusBar()->addWidget(StatusPanel3, 2);
}

// The bar stays where the user puts it unless it would leave too little of either pane;
// then it goes back to four fifths of the window.
void fWebSearch::keepSplitterInRange() {
    const QList<int> sizes = PicBar->sizes();
    if (sizes.size() != 2)
        return;
    const int total = sizes[0] + sizes[1];
    if (total <= 0)
        return;
    const int lowest = total - 80; // 1200 twips
    if (!splitterPlaced_ || sizes[0] > lowest || sizes[0] <= 0) {
        // The first layout starts from four fifths too, whatever the panes would like.
        PicBar->setSizes({total * 4 / 5, total - total * 4 / 5});
        splitterPlaced_ = true;
    }
}

void fWebSearch::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // The panes get their new sizes when the layout runs, after this event.
    if (!isMinimized())
        QMetaObject::invokeMethod(
            this, [this] { keepSplitterInRange(); }, Qt::QueuedConnection);
}

void fWebSearch::Form_Load() {
    setWindowTitle(kDesignCaption + '-' + QString::fromUtf8(kApplicationTitle));
    setWindowIcon(Forms::CoverIcon());
    StopAnalysis = true;
    if (SettingsStore* settings = Services().settings) {
        int prompt = Program().PromptSaveFolder ? 1 : 0;
        if (settings->ReadInt(Keys::PromptSaveFolder, prompt))
            Program().PromptSaveFolder = prompt == 1;
        Combo1->setEditText(QStringLiteral("60"));
        Combo1->setEditText(settings->Read(Keys::SearchTimeout));
        // Opened the first time at its design size; after that as the user left it.
        if (HasStoredPlacement(this, *settings))
            RestoreWindowPlacement(this, *settings);
        KeepWindowPlacement(this, *settings);
    } else {
        Combo1->setEditText(QStringLiteral("60"));
    }
    QPointer<fWebSearch> self(this);
    WebBrowser1->setSilent(true);
    WebBrowser1->Navigate(QStringLiteral("about:blank"));
    DoEvents();
    if (!self || unloading_)
        return;
    show();
    DoEvents();
    if (!self || unloading_)
        return;
    menu打开Science首页_Click();
}

// --- the search list ---

void fWebSearch::加入LV1(const QString& title, const QString& link, const QString& page,
                         const QString& type, const QString& saveFolder) {
    AddSearchRecord(*ListItems, title, link, page, type, saveFolder);
}

void fWebSearch::RefreshRowCount() {
    Label1->setText(QString::number(ListItems->Count()));
}

// --- result pages ---

std::optional<Dom> fWebSearch::copyShownPage(const DomQuery& query) {
    Forms::Hold hold(this);
    // A page that does not answer in time is asked once more: the first request may have
    // waited behind the page's own scripts, and the second one then answers at once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Read at every attempt, like the page wait, so a changed time-out counts at once.
        const std::optional<int> seconds = ParseTimeoutSeconds(Combo1->currentText());
        const int bound = std::clamp(seconds.value_or(kDefaultCopySeconds), 1, kLongestCopySeconds);
        std::optional<Dom> document = WebBrowser1->Document(query, bound * 1000);
        if (document)
            return document;
        if (unloading_)
            return std::nullopt;
    }
    // Said where the user looks while pages are read, so a run that ends here is not taken
    // for one that reached the last page.
    StatusPanel2->setText(kPageCopyFailed);
    return std::nullopt;
}

int fWebSearch::ExtractResultRecords() {
    const std::optional<Dom> document = copyShownPage(ResultPageQuery());
    return document ? addRecordsFrom(*document, RecognisePage(*document)) : 0;
}

int fWebSearch::addRecordsFrom(const Dom& document, PageKind kind) {
    // The folder is read once for the page: every record of one extraction shares it.
    const QString folder = Program().DefaultSaveFolder;
    // What the page shows of an article goes with the record that was added for it; a link
    // already listed keeps what it had, like its title.
    QString addedLink;
    const auto add = [this, &folder, &addedLink](const QString& title, const QString& link,
                                                 const QString& page) {
        addedLink = ListItems->ContainsKey(link) ? QString() : link;
        加入LV1(title, link, page, QStringLiteral("pdf"), folder);
    };
    const auto describe = [this, &addedLink](const QString& link, const ArticleMetadata& shown) {
        const int position = link == addedLink ? ListItems->PositionOfKey(link) : 0;
        if (position > 0)
            SetRecordMetadata(*ListItems, position, shown);
    };
    int refused = 0;
    QString firstRefused;
    const auto refuse = [&](const QString& link) {
        if (refused++ == 0)
            firstRefused = link;
    };
    int added = 0;
    switch (kind) {
    case PageKind::Challenge:
        return 0; // nothing of the bot check belongs in the list
    case PageKind::TodaySearch:
    case PageKind::TodayIssue:
        added = ExtractTodayRecords(document, kind, add, refuse, describe);
        break;
    case PageKind::FormerResults:
    case PageKind::Other:
        added = ::ExtractResultRecords(document, add, refuse, describe);
        break;
    }
    // Said where the run's outcome is shown, so a page that gave fewer records than it shows
    // does not pass unnoticed.
    if (refused > 0)
        StatusPanel3->setText(QStringLiteral("本页有%1个链接未加入列表：").arg(refused) +
                              NotWebAddressReason(firstRefused));
    return added;
}

void fWebSearch::AddCurrentPage() {
    Forms::Hold hold(this);
    ExtractResultRecords();
    RefreshRowCount();
}

int fWebSearch::CurrentFirstIndex() const {
    return FirstIndexOf(WebBrowser1->LocationURL());
}

bool fWebSearch::判断是否为最后一个页码链接(int current) {
    if (current == 0)
        return false;
    // A page that cannot be read has no page links to go on with.
    DomQuery anchors;
    anchors.tags = QStringList{QStringLiteral("A")};
    const std::optional<Dom> document = copyShownPage(anchors);
    return !document || IsLastResultPage(*document, current);
}

bool fWebSearch::下一页() {
    Forms::Hold hold(this);
    // One copy of the shown page serves both its records and its page links: copying a page
    // of 500 entries is the costly part of every step.
    std::optional<Dom> shown = copyShownPage(ResultPageQuery());
    // Without the shown page the run cannot tell the next page from the last one; the user
    // has been told, and going on would skip the page's records.
    if (!shown || unloading_)
        return false;
    PageKind kind = RecognisePage(*shown);
    if (kind == PageKind::Challenge) {
        shown = waitOutChallenge();
        if (!shown || unloading_)
            return false;
        kind = RecognisePage(*shown);
    }
    addRecordsFrom(*shown, kind);
    RefreshRowCount();

    switch (kind) {
    case PageKind::TodayIssue:
        return false; // an issue is one page
    case PageKind::TodaySearch: {
        if (IsLastTodaySearchPage(*shown))
            return false;
        const QString next = NextTodaySearchAddress(shown->URL);
        const Clock& clock = ProgramClock();
        while (pageShownAt_ && clock.elapsedSeconds() - *pageShownAt_ < kTodayPagePauseSeconds) {
            if (StopAddAll || unloading_)
                return false;
            DoEvents();
        }
        return goToPage(next);
    }
    case PageKind::Challenge:
    case PageKind::FormerResults:
    case PageKind::Other:
        break;
    }

    const int current = CurrentFirstIndex();
    const QString next = NextPageAddress(WebBrowser1->LocationURL(), current);
    if (current != 0 && IsLastResultPage(*shown, current))
        return false;
    return goToPage(DecodeAmpersands(next));
}

bool fWebSearch::goToPage(const QString& address) {
    // The next page is made from the shown one's address; a page shown from a local file or
    // any other scheme is not followed further.
    if (!IsWebAddress(address)) {
        StatusPanel3->setText(NotWebAddressReason(address));
        return false;
    }
    const Clock& clock = ProgramClock();
    const double start = clock.elapsedSeconds();
    PageLoading = true;
    WebBrowser1->Navigate(address);
    DoEvents();
    while (!StopAddAll) {
        if (!WebBrowser1->Busy() || !PageLoading)
            break;
        DoEvents();
        // Read at every step, so the user can lengthen or shorten a wait that is running.
        const std::optional<int> timeout = ParseTimeoutSeconds(Combo1->currentText());
        if (!timeout)
            return false;
        if (clock.elapsedSeconds() - start > *timeout)
            break;
    }
    // Give the page's scripts a moment to finish the list before it is read.
    const double settleStart = clock.elapsedSeconds();
    while (clock.elapsedSeconds() - settleStart < 1.0 && !StopAddAll)
        DoEvents();
    return true;
}

void fWebSearch::ShowSaveFolderDialog() {
    fSeleFileSavePath::ShowModal(this);
}

// Panel 3 speaks of the last thing done with the list: a harvest's own count replaces the
// summary of an earlier analysis run, and what the harvest found amiss is said after it.
static void beginHarvestCount(QLabel* panel) {
    panel->clear();
}

static void showHarvestCount(QLabel* panel, int added) {
    const QString count = QStringLiteral("本次加入列表：%1条").arg(added);
    panel->setText(panel->text().isEmpty() ? count : count + QStringLiteral("；") + panel->text());
}

void fWebSearch::Command9_Click() {
    Forms::Hold hold(this);
    // Records are added even when the dialog is cancelled; they then take the stored folder.
    if (Program().PromptSaveFolder)
        ShowSaveFolderDialog();
    if (!Forms::IsLoaded(this))
        return;
    const int before = ListItems->Count();
    beginHarvestCount(StatusPanel3);
    AddCurrentPage();
    showHarvestCount(StatusPanel3, std::max(0, ListItems->Count() - before));
    AutoSizeColumns(ListView1, kFitContentsAndHeader);
}

void fWebSearch::Command4_Click() {
    if (Command4->text() != kAddAllCaption) {
        StopAddAll = true;
        return;
    }
    Forms::Hold hold(this);
    Command4->setText(kStopAddAllCaption);
    Command4->setStyleSheet(QStringLiteral("background-color: rgb(255, 0, 0);"));
    StopAddAll = false;
    if (Program().PromptSaveFolder)
        ShowSaveFolderDialog(); // once for the whole run; cancelling does not stop it
    // Closed while the dialog was up: there is no run to make.
    if (Forms::IsLoaded(this)) {
        const int before = ListItems->Count();
        beginHarvestCount(StatusPanel3);
        for (;;) {
            DoEvents();
            if (!下一页())
                break;
            DoEvents();
            if (StopAddAll)
                break;
            AddCurrentPage();
        }
        AddCurrentPage();
        if (Forms::IsLoaded(this))
            showHarvestCount(StatusPanel3, std::max(0, ListItems->Count() - before));
    }
    Command4->setStyleSheet(QString());
    Command4->setText(kAddAllCaption);
    AutoSizeColumns(ListView1, kFitContentsAndHeader);
}

std::optional<Dom> fWebSearch::waitOutChallenge() {
    Forms::Hold hold(this);
    const Clock& clock = ProgramClock();
    const double start = clock.elapsedSeconds();
    double lookedAt = start;
    std::optional<Dom> passed;
    // Only ever read: the check is the user's to pass, and a program that fills in or clicks
    // on it is what it is there to keep out.
    while (!StopAddAll && !unloading_) {
        // Set again at every turn: the browser's own status texts share the panel.
        StatusPanel2->setText(kChallengeNotice);
        DoEvents();
        const double now = clock.elapsedSeconds();
        if (now - start >= kChallengeWaitSeconds)
            break;
        if (now - lookedAt < kChallengeLookSeconds || WebBrowser1->Busy())
            continue;
        lookedAt = now;
        // A page between the check and the results (a redirect, a blank page) is no reason
        // to go on yet; a copy that fails is simply tried again a second later.
        std::optional<Dom> page = WebBrowser1->Document(ResultPageQuery(), kChallengeCopyMs);
        const PageKind kind = page ? RecognisePage(*page) : PageKind::Other;
        if (kind == PageKind::TodaySearch || kind == PageKind::TodayIssue ||
            kind == PageKind::FormerResults) {
            passed = std::move(page);
            break;
        }
    }
    if (Forms::IsLoaded(this) && StatusPanel2->text() == kChallengeNotice)
        StatusPanel2->clear();
    return passed;
}

void fWebSearch::WebBrowser1_DocumentComplete() {
    PageLoading = false;
    pageShownAt_ = ProgramClock().elapsedSeconds();
    // Read after the handler: the copy lets events run.
    if (siteCheckShown_)
        QTimer::singleShot(0, this, [this] { lookAtSiteCheck(); });
}

void fWebSearch::ShowSiteCheck(const QString& address) {
    if (!LabelSiteCheck) {
        LabelSiteCheck = new QLabel(kChallengeNotice, this);
        LabelSiteCheck->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
        statusBar()->addPermanentWidget(LabelSiteCheck);
    }
    siteCheckShown_ = true;
    siteCheckSite_ = HostOfLink(address);
    watchSiteCheckPassing();
    LabelSiteCheck->show();
    show();
    raise();
    activateWindow();
    WebBrowser1->Navigate(address);
}

void fWebSearch::EndSiteCheck() {
    siteCheckShown_ = false;
    if (LabelSiteCheck)
        LabelSiteCheck->hide();
}

void fWebSearch::lookAtSiteCheck() {
    if (!siteCheckShown_ || WebBrowser1->Busy())
        return;
    Forms::Hold hold(this);
    // Only ever read, as the search's own wait does: the check is the user's to pass.
    const std::optional<Dom> page = WebBrowser1->Document(ResultPageQuery(), kChallengeCopyMs);
    if (!Forms::IsLoaded(this) || !siteCheckShown_ || !page ||
        RecognisePage(*page) == PageKind::Challenge)
        return;
    siteCheckPassedNow();
}

void fWebSearch::siteCheckPassedNow() {
    if (!siteCheckShown_)
        return;
    EndSiteCheck();
    emit siteCheckPassed();
}

void fWebSearch::watchSiteCheckPassing() {
    QWebEngineProfile* profile = WebBrowser1->page() ? WebBrowser1->page()->profile() : nullptr;
    if (siteCheckWatched_ || !profile)
        return;
    siteCheckWatched_ = true;
    // The clearance the check platform sets once the browser passed; the view may still show
    // the check page while it moves on.
    connect(profile->cookieStore(), &QWebEngineCookieStore::cookieAdded, this,
            [this](const QNetworkCookie& cookie) {
                if (!siteCheckShown_ || cookie.name() != QByteArrayLiteral("cf_clearance"))
                    return;
                QString domain = cookie.domain();
                while (domain.startsWith(QLatin1Char('.')))
                    domain.remove(0, 1);
                const QString site = SiteKey(domain);
                if (site == siteCheckSite_ || siteCheckSite_.endsWith(QLatin1Char('.') + site))
                    QTimer::singleShot(0, this, [this] { siteCheckPassedNow(); });
            });
    // The check sent the browser on to the file itself: it let the browser through.
    connect(profile, &QWebEngineProfile::downloadRequested, this,
            [this](QWebEngineDownloadRequest* request) {
                if (!siteCheckShown_ || request->page() != WebBrowser1->page() ||
                    HostOfLink(request->url().toString()) != siteCheckSite_)
                    return;
                emit siteCheckDownload(request);
                QTimer::singleShot(0, this, [this] { siteCheckPassedNow(); });
            });
}

void fWebSearch::WebBrowser1_StatusTextChange(const QString& text) {
    StatusPanel2->setText(text);
}

// --- analysis runs ---

void fWebSearch::Command2_Click() {
    // The message and the menu wait in loops of their own, in which the window may close.
    Forms::Hold hold(this);
    Command2->setEnabled(false);
    if (ListItems->Count() == 0) {
        prompt().message(this, QStringLiteral("列表没有数据哦！"), MsgIcon::Information);
    } else if (ListItems->SelectedItem() == 0) {
        RunAnalysis(AnalysisRun::All);
    } else {
        // The chosen run starts from the menu's own signal.
        menu加入->exec(QCursor::pos());
    }
    if (Forms::IsLoaded(this))
        Command2->setEnabled(true);
}

void fWebSearch::Command5_Click() {
    StopAnalysis = true;
}

void fWebSearch::RunAnalysis(AnalysisRun run) {
    Forms::Hold hold(this);
    Label11->setText(QStringLiteral("正在分析,请稍候..."));
    if (QWidget* pane = PicPanPrograss->parentWidget())
        PicPanPrograss->move((pane->width() - PicPanPrograss->width()) / 2,
                             (pane->height() - PicPanPrograss->height()) / 2);
    PicPanPrograss->show();
    PicPanPrograss->raise();
    StopAnalysis = false;
    refusedHandOvers_ = 0;
    addedHandOvers_ = 0;
    listedHandOvers_ = 0;
    DoEvents();

    int succeeded = 0;
    if (ListItems->Count() > 0) {
        if (Program().PromptSaveFolder)
            Program().SaveFolderCancelled = false; // the folder was chosen at extraction
        else
            ShowSaveFolderDialog();
        if (!Program().SaveFolderCancelled && Forms::IsLoaded(this)) {
            const int total = ListItems->Count();
            const QString ofTotal = QStringLiteral("/%1条记录：").arg(total);
            ProgressText progress(Label11);
            auto* download =
                qobject_cast<::fFileDownload*>(Forms::Find(QStringLiteral("fFileDownload")));
            const PaintingSuspended quietDownloads(download ? download->ListView3 : nullptr);
            for (int i = 1; i <= total; ++i) {
                // Rows may have gone while events ran; a missing row fails its analysis.
                progress.show([&] {
                    return QStringLiteral("正在分析第") + QString::number(i) + ofTotal +
                           ListItems->Text(i);
                });
                const QString status = ListItems->SubItem(i, 2);
                bool take = true;
                switch (run) {
                case AnalysisRun::Unanalysed:
                    take = status.isEmpty();
                    break;
                case AnalysisRun::Failed:
                    take = status == QStringLiteral("分析失败");
                    break;
                case AnalysisRun::Selected:
                    take = ListItems->Selected(i);
                    break;
                case AnalysisRun::All:
                    break;
                }
                if (!take && run != AnalysisRun::Selected)
                    continue;
                if (take) {
                    if (run != AnalysisRun::Unanalysed)
                        ListItems->SetSubItem(i, 2, QString());
                    if (AnalyseRecord(i)) {
                        ListItems->SetSubItem(i, 2, QStringLiteral("成功"));
                        ++succeeded;
                    } else {
                        ListItems->SetSubItem(i, 2, QStringLiteral("分析失败"));
                    }
                }
                // A stop pressed during this row is seen here, before the next one.
                KeepResponsive();
                if (StopAnalysis)
                    break;
            }
        }
    }
    PicPanPrograss->hide();
    StopAnalysis = true;
    QString summary = QStringLiteral("本次分析成功：%1条").arg(succeeded);
    // Said only when they differ: a run whose every record became a row reads as it always did.
    if (listedHandOvers_ > 0)
        summary += QStringLiteral("，新加入下载列表%1条，%2条已在下载列表中，未重复加入")
                       .arg(addedHandOvers_)
                       .arg(listedHandOvers_);
    if (refusedHandOvers_ > 0)
        summary += QStringLiteral("，%1条的链接不是 http 或 https 网址，未加入下载列表")
                       .arg(refusedHandOvers_);
    StatusPanel3->setText(summary);
    显示下载窗口(false);
}

bool fWebSearch::AnalyseRecord(int position) {
    if (position < 1 || position > ListItems->Count())
        return false;
    // A refused hand-over is the record's failure: nothing was added to download.
    return 加入下载列表(ListItems->Key(position), ListItems->Text(position),
                        ListItems->SubItem(position, 1), ListItems->SubItem(position, 3),
                        ListItems->Tag(position));
}

bool fWebSearch::加入下载列表(const QString& link, const QString& title, const QString& type,
                              const QString& saveFolder, const QString& page) {
    // Only web addresses are fetched; anything else would be handed to a transfer or to the
    // login panel's browser as it stands.
    if (!IsWebAddress(link)) {
        ++refusedHandOvers_;
        StatusPanel3->setText(NotWebAddressReason(link));
        return false;
    }
    const QString folder = saveFolder.isEmpty() ? Program().DefaultSaveFolder : saveFolder;
    const QString name = RecordFileName(link, title, Program().UseLinkFileName);
    ::fFileDownload* download = Forms::fFileDownload();
    const bool added = download && download->AddDownloadItem(link, name, type, folder, page);
    ++(added ? addedHandOvers_ : listedHandOvers_);
    if (added) {
        // The row keeps the article's data with the title as the page gave it, so that its
        // citation no longer needs the search list (the name was cleaned for the file system).
        const int record = ListItems->PositionOfKey(link);
        ArticleMetadata metadata =
            record > 0 ? RecordMetadata(*ListItems, record) : ArticleMetadata{};
        metadata.title = TrimSpaces(title);
        SetRowMetadata(*download->ListItems3, download->ListItems3->PositionOfKey(link), metadata);
    }
    return true;
}

// --- browser commands ---

void fWebSearch::menu打开Science首页_Click() {
    WebBrowser1->Navigate(Program().SearchHomePage);
}

void fWebSearch::menu打开指定网址_Click() {
    Forms::Hold hold(this);
    const std::optional<QString> answer =
        prompt().input(this, QStringLiteral("请输入需要打开的网址："), QStringLiteral("请输入..."));
    const QString address = TrimSpaces(answer.value_or(QString()));
    if (!address.isEmpty() && Forms::IsLoaded(this))
        WebBrowser1->Navigate(address);
}

void fWebSearch::menu后退_Click() {
    WebBrowser1->GoBack();
}
void fWebSearch::menu前进_Click() {
    WebBrowser1->GoForward();
}
void fWebSearch::menu关闭本窗口_Click() {
    Forms::Unload(this);
}
void fWebSearch::menu退出软件_Click() {
    QuitFromAnyWindow();
}

// --- clearing commands ---

bool fWebSearch::refuseWhileAnalysing() {
    if (StopAnalysis)
        return false;
    prompt().message(this, QStringLiteral("正在分析，不能清除！"), MsgIcon::Error);
    return true;
}

void fWebSearch::menu清除选中项_Click() {
    if (refuseWhileAnalysing())
        return;
    RemoveSelectedRows(*ListItems);
    RefreshRowCount();
}

void fWebSearch::menu清除分析成功项_Click() {
    if (refuseWhileAnalysing())
        return;
    RemoveSucceededRows(*ListItems);
    RefreshRowCount();
}

void fWebSearch::removeRowsByTitle(bool containing) {
    if (refuseWhileAnalysing())
        return;
    Forms::Hold hold(this);
    const QString text =
        prompt().input(this, QStringLiteral("请输入指定字符："), QString()).value_or(QString());
    if (text.isEmpty() || !Forms::IsLoaded(this))
        return;
    RemoveRowsByTitle(*ListItems, text, containing);
    RefreshRowCount();
}

void fWebSearch::menu清除标题含指定字符项_Click() {
    removeRowsByTitle(true);
}
void fWebSearch::menu清除标题不含指定字符项_Click() {
    removeRowsByTitle(false);
}

void fWebSearch::menu清空全部_Click() {
    if (refuseWhileAnalysing())
        return;
    Forms::Hold hold(this);
    if (prompt().message(this, QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？"),
                         MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes ||
        !Forms::IsLoaded(this))
        return;
    ListItems->Clear();
    RefreshRowCount();
}

void fWebSearch::menu打开下载窗口_Click() {
    if (::fFileDownload* download = Forms::fFileDownload())
        download->show();
}

// --- export ---

void fWebSearch::Command7_Click() {
    if (ListItems->Count() == 0)
        return;
    Forms::Hold hold(this);
    QString path = prompt().saveFileName(this, QStringLiteral("另存为"), QString(),
                                         QStringLiteral("*.txt (*.txt)"));
    if (path.isEmpty() || !Forms::IsLoaded(this))
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".txt");
    if (!WriteExportFile(path, SearchListExportText(*ListItems)))
        return;
    prompt().message(this, ExportDoneMessage(QFileInfo(path).size()), MsgIcon::Information);
}

// --- window flow ---

void fWebSearch::显示下载窗口(bool restore) {
    auto* download = qobject_cast<::fFileDownload*>(Forms::Find(QStringLiteral("fFileDownload")));
    if (!download)
        return;
    download->RefreshList();
    if (!download->isVisible())
        download->show();
    if (restore && download->isMinimized())
        download->showNormal();
}

void fWebSearch::closeEvent(QCloseEvent* event) {
    event->accept();
    if (unloading_)
        return;
    unloading_ = true;
    Form_Unload();
}

void fWebSearch::Form_Unload() {
    StopAddAll = true;
    StopAnalysis = true;
    if (SettingsStore* settings = Services().settings)
        settings->Write(Keys::SearchTimeout, Combo1->currentText());
    Forms::Hold hold(this);
    // Let running loops see the stop flags and wind down before the window goes.
    DoEvents();
    Forms::Unloaded(this);
    if (!IsFormLoaded(QStringLiteral("fFileDownload"))) {
        if (::fCover* cover = Forms::fCover())
            cover->show();
    }
}

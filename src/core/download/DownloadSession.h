#pragma once

#include "core/download/Citations.h"
#include "core/download/SameNameRule.h"
#include "core/transfer/Downloader.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>

class CommitLog;
class DownloadFile;
class DownloadScheduler;
class DownloadTransfers;
class HostPacing;
class Inet;
class KeyedListModel;
class QLockFile;
class QTimer;
struct JournalRow;

// A transfer through the embedded browser's own network stack, for a site whose bot check lets
// only the browser through. It offers what a parallel slot's Downloader offers, so the session
// drives both alike; the browser adapter of the windows implements it.
class BrowserTransfer : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Reserves `savePath` and asks the browser for `url`; the outcome arrives as a signal.
    virtual void BeginDownload(const QString& url, const QString& savePath,
                               const QString& referer) = 0;
    // Takes up a download the browser announced on its own (`request` is the browser's).
    virtual void AdoptDownload(QObject* request, const QString& savePath) = 0;
    // Abandons the running transfer, if any; no signal follows it. Always false.
    virtual bool CancelAsyncRead() = 0;
    virtual void SetCommitRule(const CommitRule& rule) = 0;
    virtual OwnedFile CommittedFile() const = 0;
    virtual BodyKind CommittedKind() const = 0;
    virtual bool BroughtBotCheck() const = 0;
    virtual int ResponseStatus() const = 0;
    virtual bool PushedBack() const = 0;
    virtual QString FailureReason() const = 0;
    virtual bool IsBusy() const = 0;

signals:
    void DownloadProgress(qint64 received, qint64 total, const QString& path);
    void DownloadError(const QString& path);
    void DownloadComplete(qint64 size, const QString& path);
};

// The institution's login, which only a window with a browser can carry out.
class SessionLogin {
public:
    virtual ~SessionLogin() = default;
    // 自动登录 is on.
    virtual bool AutomaticLoginOn() const = 0;
    // The login page's address, which tells a login wall from other pages.
    virtual QString LoginAddress() const = 0;
    // Logs in again; lets events run and returns when the login is over.
    virtual void LogInAgain() = 0;
};

// One entry of a citation file as a row to add: `link` is "" when the entry names nothing that
// can be downloaded.
struct ImportedRow {
    int line = 0; // where the entry starts in its file
    QString link;
    QString name;
    ArticleMetadata metadata;
};

// What an import of citations did.
struct CitationImportOutcome {
    int added = 0;
    int listed = 0;          // already in the list
    QList<int> refusedLines; // entries whose link cannot be downloaded, by their first line
};

// What the user chose for the downloads: the window's controls, or the terminal's arguments.
// The transfer mode is the program's (ProgramValues::DownloadMode).
struct DownloadOptions {
    int threadCount = 1;
    int gapSeconds = 0;
    bool locateStartedRow = false;
    SameNameChoice sameName = SameNameChoice::Rename;
    bool autoRedownload = false;
    int redownloadChoice = 0; // 0 failed rows, 1 web-page rows, 2 both
    bool autoStart = false;
    bool autoStop = false;
    bool sound = false;
    // A bot check is handed to the user in the search window's browser; without a desktop it
    // ends the site's rows instead.
    bool handOverChecks = true;
};

// The download engine of one program run: the list, the scheduler, the site rules, the journal,
// the transfer slots, the single connection and every decision about a row's state, reason and
// file. The download window shows it and forwards the user's commands; the terminal front end
// runs it without any window. It outlives the window: a window opened again shows its list.
class DownloadSession : public QObject {
    Q_OBJECT

public:
    explicit DownloadSession(QObject* parent = nullptr);
    ~DownloadSession() override;

    // What the user chose last time in any front end: the transfer mode, the same-name rule,
    // the proxy and the sites' spacing, into the program's values and the options.
    void ReadStoredSettings();

    // Reads the last run's journal and starts keeping this one, once per session.
    void SetUpJournal();
    bool JournalSetUp() const { return journalSetUp_; }

    DownloadOptions& Options() { return options_; }
    const DownloadOptions& Options() const { return options_; }
    // The options were changed by the session itself (the stop turns the automatic ones off).
    void TellOptionsChanged() { emit optionsChanged(); }

    // Dialogs the session shows belong to this window (nullptr: none).
    void SetPromptOwner(QObject* owner) { promptOwner_ = owner; }
    QObject* PromptOwner() const { return promptOwner_; }
    void SetLogin(SessionLogin* login) { login_ = login; }
    // Makes the browser path's transfers; without one a site that only the browser gets
    // through fails its rows.
    void SetBrowserTransfers(std::function<BrowserTransfer*(QObject* parent)> make) {
        makeBrowserTransfer_ = std::move(make);
    }

    // Adds a waiting row for a handed-over record: Key = link, Text = name. False, and the
    // list unchanged, when the link (or the same article under another spelling) is listed.
    bool AddDownloadItem(const QString& link, const QString& name, const QString& type,
                         const QString& saveFolder, const QString& page);

    // --- counters over the list ---
    int 统计未下载项数目() const;
    bool 检测是否下载列表完毕() const;
    // Transfer slots in use plus the design element 0: 2 or more means a parallel transfer
    // runs.
    int CountDownloaderSlots() const;
    int CountProblemItems() const;
    // A transfer runs or may start at the next tick: downloading is on, the single connection
    // is busy, or a parallel slot is in use.
    bool TransfersActive() const;
    // TransfersActive, or a transfer still holds the busy flag.
    bool TransferInWork() const;

    // --- the same-name rule, applied when a transfer is about to start ---
    // False when the row's file exists and "跳过" is chosen: the row is then marked completed
    // with the file's length. Also false for a row that is gone.
    bool 确定是需要下载(int position);
    QString 重命名保存路径(const QString& folder, const QString& name, const QString& type,
                           QString& newName);
    SameNameChoice SameNameChoiceNow() const { return options_.sameName; }
    // How the row's body may take `target`: judged against `expectedType`, over the row's own
    // unchanged file or, under 覆盖, over the user's, recorded in the commit log first.
    CommitRule CommitRuleFor(int position, const QString& target, const QString& expectedType);
    // After a commit put `placed` in place for the row: the row owns it, and only it. Returns
    // what the row owned before.
    OwnedFile RecordCommit(int position, const OwnedFile& placed);

    // --- scheduler ---
    // The scheduler tick: the next waiting row to the single connection, or one to every free
    // parallel slot. Returns only when a single-connection transfer it started ended.
    void Timer_Down_Timer();
    // The housekeeping tick (once a second).
    void Timer1_Timer();
    // 开始下载 / 停止下载 / 切换.
    void Command4_Click();
    void Command31_Click();
    void Command26_Click();
    // The close's part: the stop, the single connection cancelled, the sites' state kept and
    // the journal written.
    void StopForClose();
    bool DownloadingOn() const;
    void PlaySound(int number);
    // Marks why the row failed, in its reason column and in the status bar.
    void ReportRowFailure(int position, const QString& reason);
    void RowFileCommitted(int position, const OwnedFile& previous);
    bool SlotLoaded(int slot) const;
    // The transfers the scheduler drives: the session's own by default (nullptr restores
    // them); a test puts doubles here.
    void UseTransfers(DownloadTransfers* transfers);
    HostPacing& Pacing();
    const HostPacing& Pacing() const;
    DownloadScheduler& Scheduler();
    void ReadSiteSpacing();

    // --- single-connection transfer ---
    Inet* Inet1 = nullptr;
    void Inet下载当前文件(int position);
    bool Inet下载文件(int position);
    QString SingleConnectionText(int state) const;

    // --- multi-connection transfer ---
    bool 多线程下载(int slot, int position, const QString& link, const QString& targetPath);
    void RemoveDownloaderSlot(int slot);
    void Downloader1_DownloadProgress(int Index, qint64 received, qint64 total,
                                      const QString& path);
    void Downloader1_DownloadError(int Index, const QString& path);
    void Downloader1_DownloadComplete(int Index, qint64 size, const QString& path);

    // --- site manners ---
    struct TransferAnswer {
        int status = 0;
        QByteArray cfMitigated;
        QByteArray retryAfter;
        QString finalUrl;
        QByteArray date;
        bool pushedBack = false;
        bool botCheck = false;
    };
    // Both transfer modes call it once a row's transfer has ended and its type was checked.
    void TransferEnded(const QString& link, const TransferAnswer& answer);
    // Called when a row's transfer has ended: logs in again when 自动登录 is on and the row
    // turned out to be a web page.
    void AutomaticLoginAfterTransfer(int position);
    // The browser shows a page that is not a bot check: the waiting site goes on.
    void SiteCheckPassed();
    QString SiteCheckHost() const { return siteCheck_.host; }
    // The search window's browser passed the check and was sent on to the file (`request` is
    // the browser's download): it becomes its row's file in a free slot.
    void AdoptCheckDownload(const QString& link, QObject* request);
    void ResumePausedSites();
    // The files started today per site, and the busiest site's count.
    QHash<QString, int> StartsToday() const;

    // --- citations ---
    // A citation file's entries as waiting rows saving into `folder`, each with its data.
    CitationImportOutcome AddImportedRows(const QList<ImportedRow>& rows, const QString& folder);
    // The completed rows as citations: the selected ones when any completed row is selected
    // (`selectedOnly` says so), else all; a row's title, when it kept none, from `records` (the
    // search list, may be null). `withoutFile` counts entries whose article is not attached.
    QList<CitationEntry> CompletedRowCitations(const KeyedListModel* records, bool& selectedOnly,
                                               int& withoutFile) const;

    // --- file type ---
    bool CorrectItemFileType(int position, bool webPage = false);
    // Every row's file given its real type; returns how many were corrected.
    int CorrectAllFileTypes();

    // --- the journal ---
    // Rows of the last run not restored yet, and how many of them are unfinished.
    int CarriedUnfinished() const;
    bool KeepsJournal() const { return journal_ != nullptr; }
    // Another running copy of the program keeps the journal: this session keeps none.
    bool JournalInUse() const;
    QString JournalProblem() const { return journalProblem_; }
    QString JournalPath() const;
    // Puts the last run's rows back into the list.
    void RestoreCarriedRows();
    // After the list was cleared: forget the journal too, or keep offering its rows.
    void AskToForgetJournal();
    void WriteJournalNow();
    std::shared_ptr<CommitLog> JournalCommits() const;

    // --- what the status panels say about rows ---
    QString PanelText(int panel) const;
    void SetPanelText(int panel, const QString& text);
    void showRowMessage(int panel, int position, const QString& text);
    void showRowVerdict(int position);
    void dropStaleRowMessages();

    // --- state shared by the scheduler and the transfers ---
    KeyedListModel* ListItems3;
    QTimer* Timer_Down; // downloading is on while it runs
    QTimer* Timer1;     // housekeeping
    bool DownloadBusy = false;
    std::array<int, 12> SlotItem{};
    std::array<double, 12> SlotStart{};
    double LastFileTime = 0.0;
    QMap<int, QPointer<Downloader>> Downloader1;
    QMap<int, QPointer<BrowserTransfer>> BrowserSlots;

    bool FetchedThroughBrowser(const QString& link);
    void DownloadThroughBrowser(int position);

signals:
    // A status panel's text (1 to 3) changed.
    void panelTextChanged(int panel, const QString& text);
    // The state counters, the day's counts or the mode may read otherwise now.
    void countsChanged();
    // The housekeeping's verdict on the start command and the running lamp.
    void housekeepingShown(bool startEnabled, bool lampVisible);
    void optionsChanged();
    // The scheduler started the row: the view scrolls to it when asked to.
    void rowStarted(int position);
    // The list's rows changed in a way a view repaints as a whole.
    void listChanged();
    // A site's bot check is to be passed by the user in the browser, showing `link`.
    void siteCheckWanted(const QString& link);
    void siteCheckEnded();
    void journalOfferChanged();

private:
    struct SchedulerParts;
    struct JournalParts;
    friend struct SchedulerParts;

    void setUpScheduler();
    void setUpSiteManners();
    bool singleTransferAbandoned(const QString& link) const;
    enum class SingleTransferEnd { Completed, Failed, Abandoned };
    SingleTransferEnd copyBodyInChunks(const QString& link, DownloadFile& file, qint64 announced,
                                       double& lastGrowth, const CommitRule& rule);
    bool WholeBodyDownload(int position, DownloadFile& file, const CommitRule& rule);
    bool handOverKeepsCarriedRow(const QString& link);
    void keepJournal();

    // site manners
    struct SiteCheck {
        QString host;
        double deadline = 0.0; // monotonic seconds
    };
    void handOverSiteCheck(int position, const QString& host, bool pageKept);
    void endSiteCheck(const QString& reason);
    void watchSiteManners();
    void keepSiteState(bool now);
    void dropCheckPage(int position, bool pageKept);

    // multi
    struct SlotProgress {
        qint64 received = 0;
        qint64 total = 0;
        bool pending = false;
    };
    int slotRow(int slot) const;
    // The slot's transfer (a Downloader or a BrowserTransfer) reports to the slot's handlers.
    template <typename Transfer> void connectSlotEvents(Transfer* element, int slot);
    void showSlotProgress(int slot);
    void showPendingSlotProgress();
    void startBrowserSlot(int slot, const QString& link, const QString& targetPath,
                          const QString& referer, const CommitRule& rule);
    int slotResponseStatus(int slot) const;
    QString slotFailureReason(int slot) const;

    DownloadOptions options_;
    QObject* promptOwner_ = nullptr;
    SessionLogin* login_ = nullptr;
    std::function<BrowserTransfer*(QObject*)> makeBrowserTransfer_;
    QHash<QString, QString> articleKeys_;
    SchedulerParts* scheduler_ = nullptr;
    JournalParts* journal_ = nullptr;
    bool journalSetUp_ = false;
    std::unique_ptr<QLockFile> journalLock_;
    QString journalProblem_;
    bool carriedRowsAsked_ = false;
    SiteCheck siteCheck_;
    int keptStarts_ = -1;
    quint64 keptSiteChanges_ = 0;
    QObject* adoptedCheckDownload_ = nullptr;

    struct RowMessage {
        QString key;
        int state = 0;
        bool webPage = false;
        QString text;
    };
    std::array<RowMessage, 3> rowMessages_{};
    std::array<QString, 4> panelText_{};

    std::array<QString, 12> slotLink_{};
    std::array<SlotProgress, 12> slotProgress_{};
    std::array<qint64, 12> slotShownMs_{};
    std::array<QString, 12> slotPreviousPath_{};
    std::array<bool, 12> slotCommitted_{};
    std::array<OwnedFile, 12> slotPreviousOwned_{};
    bool slotProgressQueued_ = false;
    qint64 singleResumedFrom_ = 0;
    QTimer* messageTimer_ = nullptr;
};

// "下载方式：" with the mode's number and what it means: "下载方式：1（单线程）".
QString DownloadModeCaption(int mode);

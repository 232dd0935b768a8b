// The download session's list: rows handed over, the counters over them, and the same-name and
// ownership rules every transfer asks before it starts and before it commits.

#include "core/download/DownloadSession.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/download/Citations.h"
#include "core/download/DownloadJournal.h"
#include "core/download/DownloadList.h"
#include "core/download/FileType.h"
#include "core/download/Naming.h"
#include "core/download/Scheduler.h"
#include "core/download/WebPageDiagnosis.h"
#include "core/platform/Clock.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/transfer/FileLife.h"
#include "core/transfer/Inet.h"

#include <QFileInfo>
#include <QLockFile>
#include <QTimer>

// Outside any namespace, as Qt's resource macro requires: the clips live in this static library.
static void initSoundClips() {
    Q_INIT_RESOURCE(sounds);
}

namespace {

constexpr int kTimerIntervalMs = 1000;

} // namespace

DownloadSession::DownloadSession(QObject* parent)
    : QObject(parent), ListItems3(new KeyedListModel(DownloadListHeaders(), this)),
      Timer_Down(new QTimer(this)), Timer1(new QTimer(this)) {
    setObjectName(QStringLiteral("DownloadSession"));
    static const bool clipsReady = (initSoundClips(), true);
    Q_UNUSED(clipsReady);
    Timer_Down->setInterval(kTimerIntervalMs);
    Timer1->setInterval(kTimerIntervalMs);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });

    Inet1 = new Inet(this);
    connect(Inet1, &Inet::StateChanged, this,
            [this](int state) { SetPanelText(3, SingleConnectionText(state)); });

    // What the panels say about a row goes once the row no longer is what they say, looked at
    // once per event-loop turn however many rows changed.
    messageTimer_ = new QTimer(this);
    messageTimer_->setSingleShot(true);
    messageTimer_->setInterval(0);
    connect(messageTimer_, &QTimer::timeout, this, [this] { dropStaleRowMessages(); });
    const auto changed = [this] {
        if ((!rowMessages_[1].key.isEmpty() || !rowMessages_[2].key.isEmpty()) &&
            !messageTimer_->isActive())
            messageTimer_->start();
    };
    connect(ListItems3, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(ListItems3, &QAbstractItemModel::modelReset, this, changed);
    connect(ListItems3, &QAbstractItemModel::dataChanged, this, changed);

    LastFileTime = ProgramClock().elapsedSeconds();
    setUpScheduler();
    setUpSiteManners();
    ReadSiteSpacing();
    Timer1->start();
}

DownloadSession::~DownloadSession() {
    Timer_Down->stop();
    Timer1->stop();
    for (int slot = 1; slot <= DownloadScheduler::kMaxSlots; ++slot) {
        if (SlotLoaded(slot))
            RemoveDownloaderSlot(slot);
    }
}

void DownloadSession::ReadStoredSettings() {
    ProgramValues& program = Program();
    if (const SettingsStore* settings = Services().settings) {
        // Only the two known modes are taken; anything else leaves the mode as it was.
        int mode = program.DownloadMode;
        if (settings->ReadInt(Keys::DownloadMode, mode) && (mode == 1 || mode == 2))
            program.DownloadMode = mode;
        program.SameNamePolicy = settings->Read(Keys::SameNamePolicy);
        program.ProxyAddress = settings->Read(Keys::ProxyAddress);
        program.ProxyPort = settings->Read(Keys::ProxyPort);
        int proxy = program.ProxyEnabled ? 1 : 0;
        if (settings->ReadInt(Keys::ProxyEnabled, proxy))
            program.ProxyEnabled = proxy == 1;
    }
    const QString policy = TrimSpaces(program.SameNamePolicy);
    options_.sameName = policy == QStringLiteral("跳过")   ? SameNameChoice::Skip
                        : policy == QStringLiteral("覆盖") ? SameNameChoice::Overwrite
                                                           : SameNameChoice::Rename;
    ReadSiteSpacing();
}

bool DownloadSession::AddDownloadItem(const QString& link, const QString& name, const QString& type,
                                      const QString& saveFolder, const QString& page) {
    // One article reached through two spellings of its link (the DOI in other letters, another
    // form of the journal's link) would be fetched twice into two names.
    const QString identity = ArticleIdentity(link);
    const auto known = articleKeys_.constFind(identity);
    if (known != articleKeys_.cend() && ListItems3->ContainsKey(*known) &&
        ArticleIdentity(*known) == identity)
        return false;
    if (!handOverKeepsCarriedRow(link) &&
        !AddDownloadRow(*ListItems3, link, name, type, saveFolder, page))
        return false;
    articleKeys_.insert(identity, link);
    return true;
}

// --- counters ---

int DownloadSession::统计未下载项数目() const {
    return CountNotDownloaded(*ListItems3);
}

bool DownloadSession::检测是否下载列表完毕() const {
    return IsDownloadListFinished(*ListItems3);
}

int DownloadSession::CountDownloaderSlots() const {
    int count = 1; // element 0, which always exists
    for (auto it = Downloader1.cbegin(); it != Downloader1.cend(); ++it) {
        if (it.key() >= 1 && !it.value().isNull())
            ++count;
    }
    for (auto it = BrowserSlots.cbegin(); it != BrowserSlots.cend(); ++it) {
        if (it.key() >= 1 && !it.value().isNull())
            ++count;
    }
    return count;
}

int DownloadSession::CountProblemItems() const {
    return ::CountProblemItems(*ListItems3);
}

bool DownloadSession::TransfersActive() const {
    return Timer_Down->isActive() || Inet1->StillExecuting() || CountDownloaderSlots() >= 2;
}

bool DownloadSession::TransferInWork() const {
    return TransfersActive() || DownloadBusy;
}

// --- the same-name rule ---

bool DownloadSession::确定是需要下载(int position) {
    if (position < 1 || position > ListItems3->Count())
        return false;
    // Decided afresh with the option chosen now: a name that holds a file the row does not own
    // is the user's, and 跳过 leaves it to them. The row does not own it for that: nothing it
    // skipped is ever replaced, renamed or deleted for it.
    const StartTarget start =
        DecideStartTarget(*ListItems3, position,
                          ListItems3->SubItem(position, DownloadColumn::Type), SameNameChoiceNow());
    if (start.action != StartTarget::Action::Skip)
        return true;
    const OwnedFile found = IdentityAt(start.path);
    const QString length =
        QString::number(found.IsSet() ? found.size : QFileInfo(start.path).size());
    ListItems3->SetSmallIcon(position, ItemState::Completed);
    ListItems3->SetSubItem(position, DownloadColumn::Size, length);
    ListItems3->SetSubItem(position, DownloadColumn::Received, length);
    ListItems3->SetSubItem(position, DownloadColumn::Percent, QStringLiteral("已存在，跳过"));
    SetRowFailureReason(*ListItems3, position, QString());
    return false;
}

QString DownloadSession::重命名保存路径(const QString& folder, const QString& name,
                                        const QString& type, QString& newName) {
    return RenameTargetPath(folder, name, type, options_.sameName == SameNameChoice::Overwrite,
                            newName);
}

CommitRule DownloadSession::CommitRuleFor(int position, const QString& target,
                                          const QString& expectedType) {
    KeyedListModel& list = *ListItems3;
    CommitRule rule;
    const OwnedFile own = RowOwnedFile(list, position);
    const FileClaim claim = ClaimFile(own, target);
    if (claim == FileClaim::Owned)
        rule.replaceable = own;
    // 覆盖 is the user's word for this transfer, but never over a file another row brought.
    rule.overwrite = claim != FileClaim::Owned && claim != FileClaim::Nothing &&
                     options_.sameName == SameNameChoice::Overwrite &&
                     OtherRowWithFile(list, target, position) == 0;
    rule.judge = [expectedType](const QString& body, const QString& contentType) {
        return JudgeBody(body, expectedType, contentType);
    };
    rule.botCheck = BotCheckJudge(); // a bot check is no download
    if (const std::shared_ptr<CommitLog> log = JournalCommits()) {
        const QString key = list.Key(position);
        const QString type = list.SubItem(position, DownloadColumn::Type);
        rule.record = [log, key, type](const OwnedFile& file, int status) {
            QString name = file.path.mid(file.path.lastIndexOf(QLatin1Char('/')) + 1);
            if (!type.isEmpty() && name.endsWith(QLatin1Char('.') + type))
                name.chop(type.size() + 1);
            log->Append({key, name, type, file, status >= 400});
        };
    }
    return rule;
}

OwnedFile DownloadSession::RecordCommit(int position, const OwnedFile& placed) {
    KeyedListModel& list = *ListItems3;
    const OwnedFile previous = RowOwnedFile(list, position);
    if (position < 1 || position > list.Count() || !placed.IsSet())
        return previous;
    SetRowOwnedFile(list, position, placed);
    SetRowFilePath(list, position, placed.path);
    return previous;
}

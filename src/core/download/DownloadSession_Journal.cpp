// The download session's journal: the list is written to disk as it changes, so that a crash or
// a killed program loses no queue, and the last run's unfinished rows are offered back, never
// restored unasked.

#include "core/download/DownloadSession.h"

#include "core/app/ProgramValues.h"
#include "core/download/DownloadJournal.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QPointer>

namespace {

const QString kForgetQuestion =
    QStringLiteral("是否同时删除上次保存的下载列表记录？选“否”则以后仍可从菜单恢复。");
const QString kNewerJournal =
    QStringLiteral("下载列表记录由更新版本的本软件写入，本版本不读取它（文件未改动）：");
const QString kCarriedRowsQuestion = QStringLiteral(
    "上次的下载列表还有%1项未完成（已下载的部分可以续传），现在又加入了新的下载项。\n\n"
    "“是”：先恢复上次未完成的项，新的项加在后面；\n"
    "“否”：忘记上次的项，只下载新的项；\n"
    "“取消”：暂不恢复，以后仍可从“列表操作”菜单恢复（新的项中上次已有的，带着上次的进度加入）。");

} // namespace

struct DownloadSession::JournalParts : QObject {
    JournalParts(DownloadSession* session, const QString& path)
        : QObject(session), path(path), keeper(*session->ListItems3, ProgramClock(), path) {}
    QString path;
    JournalKeeper keeper;
};

namespace {

const QString kJournalInUse =
    QStringLiteral("下载列表记录正由另一个运行中的本程序使用，本次不读也不写它：");

} // namespace

void DownloadSession::SetUpJournal() {
    if (journalSetUp_)
        return;
    journalSetUp_ = true;
    // Two copies of the program (the desktop and a terminal run, say) would each write their
    // own list over the other's: the first keeps the journal, the others none.
    const QString path = DownloadJournalPath();
    journalLock_ = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    // A lock left by a copy that was killed is taken over (its process is gone), whatever its
    // age.
    journalLock_->setStaleLockTime(0);
    // Only another copy's lock keeps the journal from this one. Where the journal's folder is
    // not there yet no copy keeps a journal (its lock would be in it), and nothing is made
    // before the first write: a run that ends on bad input leaves nothing behind.
    if (QFileInfo(path).absoluteDir().exists() && !journalLock_->tryLock(0) &&
        journalLock_->error() == QLockFile::LockFailedError) {
        journalProblem_ = kJournalInUse + path;
        SetPanelText(2, journalProblem_);
        emit journalOfferChanged();
        return;
    }
    journal_ = new JournalParts(this, path);
    KeyedListModel* list = ListItems3;
    const auto changed = [this] {
        journal_->keeper.Changed();
    };
    connect(list, &QAbstractItemModel::dataChanged, journal_, changed);
    connect(list, &QAbstractItemModel::rowsInserted, journal_, changed);
    connect(list, &QAbstractItemModel::rowsRemoved, journal_, changed);
    connect(list, &QAbstractItemModel::modelReset, journal_, changed);
    connect(list, &QAbstractItemModel::layoutChanged, journal_, changed);

    const JournalLoad load = ReadDownloadJournal(journal_->path);
    journalProblem_ = JournalProblemText(load);
    if (load.status == JournalStatus::Newer) {
        // Writing over it would lose what the newer version kept: this run keeps no journal.
        SetPanelText(2, kNewerJournal + journal_->path);
        journal_->deleteLater();
        journal_ = nullptr;
        emit journalOfferChanged();
        return;
    }
    QList<JournalRow> unfinished;
    if (CountUnfinishedRows(load.rows) > 0)
        unfinished = load.rows;
    journal_->keeper.SetCarried(unfinished);
    emit journalOfferChanged();
}

bool DownloadSession::JournalInUse() const {
    return journalLock_ && !journal_ && journalLock_->error() == QLockFile::LockFailedError;
}

QString DownloadSession::JournalPath() const {
    return journal_ ? journal_->path : QString();
}

int DownloadSession::CarriedUnfinished() const {
    return journal_ ? CountUnfinishedRows(journal_->keeper.Carried()) : 0;
}

void DownloadSession::keepJournal() {
    if (journal_)
        journal_->keeper.Tick();
}

std::shared_ptr<CommitLog> DownloadSession::JournalCommits() const {
    return journal_ ? journal_->keeper.Commits() : nullptr;
}

void DownloadSession::WriteJournalNow() {
    if (journal_)
        journal_->keeper.WriteNow();
}

bool DownloadSession::handOverKeepsCarriedRow(const QString& link) {
    if (!journal_ || journal_->keeper.Carried().isEmpty())
        return false;
    const int unfinished = CountUnfinishedRows(journal_->keeper.Carried());
    if (!carriedRowsAsked_ && unfinished > 0) {
        carriedRowsAsked_ = true;
        const QPointer<DownloadSession> alive(this);
        const MsgResult answer =
            Services().prompt
                ? Services().prompt->message(promptOwner_, kCarriedRowsQuestion.arg(unfinished),
                                             MsgIcon::Question, MsgButtons::YesNoCancel)
                : MsgResult::Cancel;
        if (!alive || !journal_)
            return false;
        if (answer == MsgResult::Yes) {
            RestoreCarriedRows();
        } else if (answer == MsgResult::No) {
            journal_->keeper.SetCarried({});
            journal_->keeper.Changed();
            journalProblem_.clear();
            emit journalOfferChanged();
        }
        if (ListItems3->ContainsKey(link))
            return true;
    }
    // A row of the last list handed over again comes back as it was, its progress and its
    // file with it, rather than afresh in its place.
    QList<JournalRow> carried = journal_->keeper.Carried();
    for (qsizetype n = 0; n < carried.size(); ++n) {
        if (carried.at(n).key != link)
            continue;
        const JournalRow row = carried.takeAt(n);
        RestoreDownloadRows(*ListItems3, {row});
        journal_->keeper.SetCarried(carried);
        journal_->keeper.Changed();
        emit journalOfferChanged();
        return ListItems3->ContainsKey(link);
    }
    return false;
}

void DownloadSession::RestoreCarriedRows() {
    if (!journal_)
        return;
    const QList<JournalRow> rows = journal_->keeper.Carried();
    RestoreDownloadRows(*ListItems3, rows);
    journal_->keeper.SetCarried({});
    journal_->keeper.Changed();
    journalProblem_.clear();
    emit listChanged();
    emit journalOfferChanged();
    emit countsChanged();
}

void DownloadSession::AskToForgetJournal() {
    if (!journal_)
        return;
    // The journal still holds the rows just cleared (and any not restored yet).
    const QList<JournalRow> kept = ReadDownloadJournal(journal_->path).rows;
    if (kept.isEmpty() && journal_->keeper.Carried().isEmpty())
        return;
    Prompt* prompt = Services().prompt;
    const QPointer<DownloadSession> alive(this);
    const bool forget = prompt && prompt->message(promptOwner_, kForgetQuestion, MsgIcon::Question,
                                                  MsgButtons::YesNo) == MsgResult::Yes;
    if (!alive || !journal_)
        return;
    if (forget) {
        ForgetDownloadJournal(journal_->path);
        journal_->keeper.SetCarried({});
        journalProblem_.clear();
    } else {
        QList<JournalRow> unfinished;
        if (CountUnfinishedRows(kept) > 0)
            unfinished = kept;
        journal_->keeper.SetCarried(unfinished);
        journal_->keeper.WriteNow();
    }
    emit journalOfferChanged();
}

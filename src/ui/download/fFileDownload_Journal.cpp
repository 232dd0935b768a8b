// The download list's journal: the list is written to disk as it changes, so that a crash or
// a killed program loses no queue, and the last run's unfinished rows are offered back, never
// restored unasked.

#include "ui/download/fFileDownload.h"

#include "core/app/ProgramValues.h"
#include "core/download/DownloadJournal.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "ui/app/Forms.h"

#include <QAction>
#include <QLabel>

namespace {

const QString kForgetQuestion =
    QStringLiteral("是否同时删除上次保存的下载列表记录？选“否”则以后仍可从菜单恢复。");
const QString kNewerJournal =
    QStringLiteral("下载列表记录由更新版本的本软件写入，本版本不读取它（文件未改动）：");

} // namespace

struct fFileDownload::JournalParts : QObject {
    JournalParts(fFileDownload* window, const QString& path)
        : QObject(window), path(path), keeper(*window->ListItems3, ProgramClock(), path) {}
    QString path;
    JournalKeeper keeper;
};

void fFileDownload::setUpJournal() {
    journal_ = new JournalParts(this, DownloadJournalPath());
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
    if (load.status == JournalStatus::Newer) {
        // Writing over it would lose what the newer version kept: this run keeps no journal.
        StatusPanel2->setText(kNewerJournal + journal_->path);
        journal_->deleteLater();
        journal_ = nullptr;
        offerJournalRows();
        return;
    }
    QList<JournalRow> unfinished;
    if (CountUnfinishedRows(load.rows) > 0)
        unfinished = load.rows;
    journal_->keeper.SetCarried(unfinished);
    offerJournalRows();
}

void fFileDownload::keepJournal() {
    if (journal_)
        journal_->keeper.Tick();
}

std::shared_ptr<CommitLog> fFileDownload::JournalCommits() const {
    return journal_ ? journal_->keeper.Commits() : nullptr;
}

void fFileDownload::writeJournalNow() {
    if (journal_)
        journal_->keeper.WriteNow();
}

void fFileDownload::offerJournalRows() {
    const int count = journal_ ? CountUnfinishedRows(journal_->keeper.Carried()) : 0;
    menu恢复上次的下载列表->setText(QStringLiteral("恢复上次的下载列表（%1项未完成）").arg(count));
    menu恢复上次的下载列表->setVisible(count > 0);
}

void fFileDownload::menu恢复上次的下载列表_Click() {
    if (!journal_)
        return;
    const QList<JournalRow> rows = journal_->keeper.Carried();
    changeRows([&] { RestoreDownloadRows(*ListItems3, rows); });
    journal_->keeper.SetCarried({});
    journal_->keeper.Changed();
    offerJournalRows();
    showRowCount();
    UpdateStatusCounts();
}

void fFileDownload::askToForgetJournal() {
    if (!journal_)
        return;
    // The journal still holds the rows just cleared (and any not restored yet).
    const QList<JournalRow> kept = ReadDownloadJournal(journal_->path).rows;
    if (kept.isEmpty() && journal_->keeper.Carried().isEmpty())
        return;
    Prompt* prompt = Services().prompt;
    Forms::Hold hold(this);
    const bool forget = prompt && prompt->message(this, kForgetQuestion, MsgIcon::Question,
                                                  MsgButtons::YesNo) == MsgResult::Yes;
    if (!IsFormLoaded(QStringLiteral("fFileDownload")) || !journal_)
        return;
    if (forget) {
        ForgetDownloadJournal(journal_->path);
        journal_->keeper.SetCarried({});
    } else {
        QList<JournalRow> unfinished;
        if (CountUnfinishedRows(kept) > 0)
            unfinished = kept;
        journal_->keeper.SetCarried(unfinished);
        journal_->keeper.WriteNow();
    }
    offerJournalRows();
}

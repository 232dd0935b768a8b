#pragma once

#include "core/app/ProgramValues.h"
#include "core/download/DownloadList.h"
#include "core/download/DownloadSession.h"
#include "core/download/Scheduler.h"
#include "core/platform/Clock.h"
#include "core/platform/KeyedListModel.h"
#include "core/transfer/Downloader.h"

#include <QFile>
#include <QStringList>

// Transfers that do to the session what its own do (a slot element exists while the slot is
// busy, its start time is noted, the placeholder reserves the file name) without a network;
// the test plays the transfers' end events.
class RecordingTransfers : public DownloadTransfers {
public:
    explicit RecordingTransfers(DownloadSession& session) : s_(session) {}
    bool executing = false;
    int cancels = 0;
    QStringList started; // "s3" single connection, "2:5" row 5 in slot 2
    QStringList targets;

    bool singleExecuting() const override { return executing; }
    void cancelSingle() override { ++cancels; }
    void runSingle(int position) override { started << QStringLiteral("s%1").arg(position); }
    bool slotLoaded(int slot) const override { return s_.SlotLoaded(slot); }
    void startSlot(int slot, int position, const QString&, const QString& target) override {
        started << QStringLiteral("%1:%2").arg(slot).arg(position);
        targets << target;
        s_.Downloader1.insert(slot, new Downloader(&s_));
        s_.SlotStart[static_cast<std::size_t>(slot)] = Services().clock->elapsedSeconds();
        QFile file(target);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray("\x01\x00", 2));
    }
    void removeSlot(int slot) override { delete s_.Downloader1.take(slot).data(); }

    // The slot's error event: the row fails, the slot is freed, the gap is not restarted.
    void fail(int slot) {
        s_.ListItems3->SetSmallIcon(s_.SlotItem[static_cast<std::size_t>(slot)], ItemState::Failed);
        removeSlot(slot);
    }
    // The slot's completion event: the gap runs from here.
    void complete(int slot) {
        const int position = s_.SlotItem[static_cast<std::size_t>(slot)];
        s_.ListItems3->SetSmallIcon(position, ItemState::Completed);
        s_.ListItems3->SetSubItem(position, DownloadColumn::Percent, QStringLiteral("100%"));
        removeSlot(slot);
        s_.LastFileTime = Services().clock->elapsedSeconds();
    }

private:
    DownloadSession& s_;
};

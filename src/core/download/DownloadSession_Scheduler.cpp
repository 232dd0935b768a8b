// The download session's scheduler: the two timers, start, stop, the mode switch, the
// automatic options and the sound prompts. The decisions live in DownloadScheduler; this file
// lends it the session's options and transfers.

#include "core/download/DownloadSession.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/download/DownloadList.h"
#include "core/download/ListCommands.h"
#include "core/download/Scheduler.h"
#include "core/platform/Clock.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/platform/Sound.h"
#include "core/transfer/Inet.h"

#include <QFile>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// The clock the program installed, asked at every reading, so that a session outlives a
// change of services (tests install a fresh fake clock per case).
class InstalledClock : public Clock {
public:
    double secondsSinceMidnight() const override {
        const Clock* clock = Services().clock;
        return clock ? clock->secondsSinceMidnight() : fallback_.secondsSinceMidnight();
    }
    double elapsedSeconds() const override {
        const Clock* clock = Services().clock;
        return clock ? clock->elapsedSeconds() : fallback_.elapsedSeconds();
    }
    QDateTime utcNow() const override {
        const Clock* clock = Services().clock;
        return clock ? clock->utcNow() : fallback_.utcNow();
    }

private:
    SystemClock fallback_;
};

// Writes the embedded clip `number` to `path` as a whole; false when there is none or the
// file cannot be written.
bool writeSoundClip(int number, const QString& path) {
    QFile clip(QStringLiteral(":/sounds/%1.wav").arg(number));
    if (!clip.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = clip.readAll();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    return file.commit();
}

SchedulerSettings schedulerSettings(const DownloadOptions& options) {
    SchedulerSettings settings;
    settings.mode = Program().DownloadMode;
    settings.threadCount = DownloadScheduler::clampedThreadCount(options.threadCount);
    settings.gapSeconds = std::max(0, options.gapSeconds);
    settings.locateStartedRow = options.locateStartedRow;
    return settings;
}

} // namespace

struct DownloadSession::SchedulerParts : QObject {
    // The session's own transfers: the single connection Inet1 and the slots Downloader1.
    class OwnTransfers : public DownloadTransfers {
    public:
        explicit OwnTransfers(DownloadSession& session) : s_(session) {}
        bool singleExecuting() const override { return s_.Inet1 && s_.Inet1->StillExecuting(); }
        void cancelSingle() override {
            if (s_.Inet1)
                s_.Inet1->Cancel();
        }
        void runSingle(int position) override { s_.Inet下载当前文件(position); }
        bool slotLoaded(int slot) const override { return s_.SlotLoaded(slot); }
        void startSlot(int slot, int position, const QString& link,
                       const QString& targetPath) override {
            s_.多线程下载(slot, position, link, targetPath);
        }
        void removeSlot(int slot) override { s_.RemoveDownloaderSlot(slot); }

    private:
        DownloadSession& s_;
    };

    class Window : public SchedulerWindow {
    public:
        explicit Window(DownloadSession& session) : s_(session) {}
        bool schedulerOn() const override { return s_.Timer_Down->isActive(); }
        void setSchedulerOn(bool on) override {
            // Starting a running timer would push its next tick back.
            if (!on)
                s_.Timer_Down->stop();
            else if (!s_.Timer_Down->isActive())
                s_.Timer_Down->start();
        }
        bool acceptRow(int position) override { return s_.确定是需要下载(position); }
        SameNameChoice sameNameChoice() const override { return s_.SameNameChoiceNow(); }
        void showRow(int position) override { emit s_.rowStarted(position); }
        void playSound(int number) override { s_.PlaySound(number); }
        void refreshCounters() override { emit s_.countsChanged(); }
        bool confirmManyStarts(const QString& host, int startsToday) override {
            Prompt* prompt = Services().prompt;
            if (!prompt)
                return true;
            const QPointer<DownloadSession> alive(&s_);
            const MsgResult answer =
                prompt->message(s_.PromptOwner(), ManyStartsQuestion(host, startsToday),
                                MsgIcon::Question, MsgButtons::YesNo);
            return alive && answer == MsgResult::Yes;
        }

    private:
        DownloadSession& s_;
    };

    explicit SchedulerParts(DownloadSession& s)
        : QObject(&s), own(s), window(s),
          scheduler(*s.ListItems3, clock,
                    SchedulerVariables{s.DownloadBusy, s.SlotItem, s.SlotStart, s.LastFileTime},
                    window, own) {}

    InstalledClock clock;
    OwnTransfers own;
    Window window;
    DownloadScheduler scheduler;
    // Fires when the next start to a site is due, so the spacing is kept to the millisecond
    // instead of being rounded up to the next second's tick.
    QTimer* siteDue = nullptr;
    // Scheduler ticks on the stack (the single connection lets events run inside one).
    int ticking = 0;
};

void DownloadSession::setUpScheduler() {
    scheduler_ = new SchedulerParts(*this);

    connect(Timer_Down, &QTimer::timeout, this, [this] { Timer_Down_Timer(); });
    scheduler_->siteDue = new QTimer(scheduler_);
    scheduler_->siteDue->setObjectName(QStringLiteral("siteDueTimer"));
    scheduler_->siteDue->setSingleShot(true);
    scheduler_->siteDue->setTimerType(Qt::PreciseTimer);
    connect(scheduler_->siteDue, &QTimer::timeout, this, [this] {
        // A tick on the stack (a question, a single transfer) is not entered again from here.
        if (Timer_Down->isActive() && scheduler_->ticking == 0)
            Timer_Down_Timer();
    });
}

DownloadScheduler& DownloadSession::Scheduler() {
    return scheduler_->scheduler;
}

HostPacing& DownloadSession::Pacing() {
    return scheduler_->scheduler.pacing();
}

const HostPacing& DownloadSession::Pacing() const {
    return scheduler_->scheduler.pacing();
}

void DownloadSession::UseTransfers(DownloadTransfers* transfers) {
    scheduler_->scheduler.setTransfers(transfers ? *transfers : scheduler_->own);
}

bool DownloadSession::DownloadingOn() const {
    return Timer_Down->isActive();
}

void DownloadSession::Timer_Down_Timer() {
    // A single-connection transfer lets events run until it ends.
    const QPointer<DownloadSession> alive(this);
    ++scheduler_->ticking;
    scheduler_->scheduler.tick(schedulerSettings(options_));
    if (!alive)
        return;
    --scheduler_->ticking;
    if (scheduler_->ticking != 0 || !Timer_Down->isActive())
        return;
    const double due = scheduler_->scheduler.secondsUntilNextDue();
    if (due > 0.0)
        scheduler_->siteDue->start(int(std::ceil(due * 1000.0)));
}

void DownloadSession::Timer1_Timer() {
    HousekeepingOptions options;
    options.autoRedownload = options_.autoRedownload;
    options.redownloadChoice = options_.redownloadChoice;
    options.autoStart = options_.autoStart;
    options.autoStop = options_.autoStop;
    options.sound = options_.sound;
    const HousekeepingOutcome outcome =
        scheduler_->scheduler.housekeeping(schedulerSettings(options_), options);
    emit housekeepingShown(outcome.startMenuEnabled, outcome.lampVisible);
    watchSiteManners();
    keepJournal();
}

void DownloadSession::Command4_Click() {
    scheduler_->window.setSchedulerOn(true);
}

void DownloadSession::Command31_Click() {
    options_.autoStart = false;
    options_.autoRedownload = false;
    emit optionsChanged();
    scheduler_->scheduler.stop();
    endSiteCheck(QStringLiteral("下载已停止，未完成网站验证"));
}

void DownloadSession::StopForClose() {
    // The sound prompts were the window's: a transfer that ends with it says nothing.
    options_.sound = false;
    Command31_Click();
    scheduler_->scheduler.transfers().cancelSingle();
    // The sites' pauses and holds are the next window's and the next run's too.
    keepSiteState(true);
    WriteJournalNow();
}

void DownloadSession::Command26_Click() {
    ProgramValues& program = Program();
    program.DownloadMode = program.DownloadMode == 2 ? 1 : 2;
    if (SettingsStore* settings = Services().settings)
        settings->Write(Keys::DownloadMode, program.DownloadMode);
    emit optionsChanged();
}

QString DownloadModeCaption(int mode) {
    return QStringLiteral("下载方式：") + QString::number(mode) +
           (mode == 1 ? QStringLiteral("（单线程）") : QStringLiteral("（多线程）"));
}

bool DownloadSession::SlotLoaded(int slot) const {
    if (slot == 0)
        return true;
    const auto element = Downloader1.constFind(slot);
    return (element != Downloader1.cend() && !element.value().isNull()) ||
           !BrowserSlots.value(slot).isNull();
}

void DownloadSession::PlaySound(int number) {
    if (number < SchedulerSound::WebPage || number > SchedulerSound::Failed)
        return;
    Sound* sound = Services().sound;
    if (!sound)
        return;
    const QString path = ProgramFolder() + QString::number(number) + QStringLiteral(".wav");
    if (!FileExists(path) && !writeSoundClip(number, path))
        return;
    sound->play(path);
}

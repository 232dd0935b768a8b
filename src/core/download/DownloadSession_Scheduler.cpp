// The download window's scheduler: the two timers, start, stop, the mode switch, the
// automatic options and the sound prompts. The decisions live in DownloadScheduler; this file
// reads the controls for it and lends it the window's transfers.

#include "ui/download/fFileDownload.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/download/Scheduler.h"
#include "core/platform/Clock.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/platform/Sound.h"
#include "core/transfer/Inet.h"
#include "ui/app/Forms.h"
#include "ui/platform/KeyedListView.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// The clock the program installed, asked at every reading, so that a window outlives a
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

int comboNumber(const QComboBox* combo, int otherwise) {
    bool ok = false;
    const int value = combo->currentText().trimmed().toInt(&ok);
    return ok ? value : otherwise;
}

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

} // namespace

struct fFileDownload::SchedulerParts : QObject {
    // The window's own transfers: the single connection Inet1 and the slots Downloader1.
    class OwnTransfers : public DownloadTransfers {
    public:
        explicit OwnTransfers(fFileDownload& window) : w_(window) {}
        bool singleExecuting() const override { return w_.Inet1 && w_.Inet1->StillExecuting(); }
        void cancelSingle() override {
            if (w_.Inet1)
                w_.Inet1->Cancel();
        }
        void runSingle(int position) override { w_.Inet下载当前文件(position); }
        bool slotLoaded(int slot) const override { return w_.SlotLoaded(slot); }
        void startSlot(int slot, int position, const QString& link,
                       const QString& targetPath) override {
            w_.多线程下载(slot, position, link, targetPath);
        }
        void removeSlot(int slot) override { w_.RemoveDownloaderSlot(slot); }

    private:
        fFileDownload& w_;
    };

    class Window : public SchedulerWindow {
    public:
        explicit Window(fFileDownload& window) : w_(window) {}
        bool schedulerOn() const override { return w_.Timer_Down->isActive(); }
        void setSchedulerOn(bool on) override {
            // Starting a running timer would push its next tick back.
            if (!on)
                w_.Timer_Down->stop();
            else if (!w_.Timer_Down->isActive())
                w_.Timer_Down->start();
        }
        bool acceptRow(int position) override { return w_.确定是需要下载(position); }
        SameNameChoice sameNameChoice() const override { return w_.SameNameChoiceNow(); }
        void showRow(int position) override { w_.ListView3->EnsureVisible(position); }
        void playSound(int number) override { w_.PlaySound(number); }
        void refreshCounters() override {
            w_.UpdateStatusCounts();
            w_.UpdateTodayCount();
        }
        bool confirmManyStarts(const QString& host, int startsToday) override {
            Prompt* prompt = Services().prompt;
            if (!prompt)
                return true;
            Forms::Hold hold(&w_);
            const MsgResult answer = prompt->message(&w_, ManyStartsQuestion(host, startsToday),
                                                     MsgIcon::Question, MsgButtons::YesNo);
            return Forms::IsLoaded(&w_) && answer == MsgResult::Yes;
        }

    private:
        fFileDownload& w_;
    };

    explicit SchedulerParts(fFileDownload& w)
        : QObject(&w), own(w), window(w),
          scheduler(*w.ListItems3, clock,
                    SchedulerVariables{w.DownloadBusy, w.SlotItem, w.SlotStart, w.LastFileTime},
                    window, own) {}

    InstalledClock clock;
    OwnTransfers own;
    Window window;
    DownloadScheduler scheduler;
    // Site manners: fires when the next start to a site is due, so the spacing is kept to the
    // millisecond instead of being rounded up to the next second's tick.
    QTimer* siteDue = nullptr;
    // Scheduler ticks on the stack (the single connection lets events run inside one).
    int ticking = 0;
};

void fFileDownload::setUpScheduler() {
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
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command31, &QPushButton::clicked, this, [this] { Command31_Click(); });
    connect(Command26, &QPushButton::clicked, this, [this] { Command26_Click(); });
}

DownloadScheduler& fFileDownload::scheduler() {
    return scheduler_->scheduler;
}

HostPacing& fFileDownload::Pacing() {
    return scheduler_->scheduler.pacing();
}

void fFileDownload::UseTransfers(DownloadTransfers* transfers) {
    scheduler_->scheduler.setTransfers(transfers ? *transfers : scheduler_->own);
}

namespace {

SchedulerSettings readSchedulerSettings(const QComboBox* threads, const QComboBox* gap,
                                        const QAction* locate) {
    SchedulerSettings settings;
    settings.mode = Program().DownloadMode;
    settings.threadCount = DownloadScheduler::clampedThreadCount(comboNumber(threads, 1));
    // The gap box offers whole seconds only; anything else counts as no gap.
    settings.gapSeconds = std::max(0, comboNumber(gap, 0));
    settings.locateStartedRow = locate && locate->isChecked();
    return settings;
}

} // namespace

void fFileDownload::Timer_Down_Timer() {
    // A single-connection transfer lets events run until it ends; the window may be closed
    // meanwhile and must stay until this returns.
    Forms::Hold hold(this);
    ++scheduler_->ticking;
    scheduler_->scheduler.tick(readSchedulerSettings(Combo1, Combo2, menu自动定位到下载项));
    --scheduler_->ticking;
    if (!Forms::IsLoaded(this) || scheduler_->ticking != 0)
        return;
    if (!Timer_Down->isActive())
        return;
    const double due = scheduler_->scheduler.secondsUntilNextDue();
    if (due > 0.0)
        scheduler_->siteDue->start(int(std::ceil(due * 1000.0)));
}

void fFileDownload::Timer1_Timer() {
    HousekeepingOptions options;
    options.autoRedownload = Check3->isChecked();
    options.redownloadChoice = Combo4->currentIndex();
    options.autoStart = Check4->isChecked();
    options.autoStop = Check5->isChecked();
    options.sound = Check6->isChecked();
    const HousekeepingOutcome outcome = scheduler_->scheduler.housekeeping(
        readSchedulerSettings(Combo1, Combo2, menu自动定位到下载项), options);
    menu下载全部->setEnabled(outcome.startMenuEnabled);
    Shape1->setVisible(outcome.lampVisible);
    watchSiteManners();
    keepJournal();
}

void fFileDownload::Command4_Click() {
    scheduler_->window.setSchedulerOn(true);
}

void fFileDownload::menu下载全部_Click() {
    Command4_Click();
}

void fFileDownload::Command31_Click() {
    Check4->setChecked(false);
    Check3->setChecked(false);
    scheduler_->scheduler.stop();
    endSiteCheck(QStringLiteral("下载已停止，未完成网站验证"));
}

void fFileDownload::menu停止下载_Click() {
    Command31_Click();
}

void fFileDownload::stopForClose() {
    Command31_Click();
    scheduler_->scheduler.transfers().cancelSingle();
    // The sites' pauses and holds are the next window's and the next run's too.
    keepSiteState(true);
}

void fFileDownload::Command26_Click() {
    ProgramValues& program = Program();
    program.DownloadMode = program.DownloadMode == 2 ? 1 : 2;
    if (SettingsStore* settings = Services().settings)
        settings->Write(Keys::DownloadMode, program.DownloadMode);
    Label7->setText(DownloadModeCaption(program.DownloadMode));
    // The count stays as the user set it; the single connection simply does not use it.
    Combo1->setEnabled(program.DownloadMode != 1);
}

QString DownloadModeCaption(int mode) {
    return QStringLiteral("下载方式：") + QString::number(mode) +
           (mode == 1 ? QStringLiteral("（单线程）") : QStringLiteral("（多线程）"));
}

bool fFileDownload::SlotLoaded(int slot) const {
    if (slot == 0)
        return true;
    const auto element = Downloader1.constFind(slot);
    return (element != Downloader1.cend() && !element.value().isNull()) ||
           !BrowserSlots.value(slot).isNull();
}

int fFileDownload::CountProblemItems() const {
    return ::CountProblemItems(*ListItems3);
}

void fFileDownload::runRequeueCommand(int (*requeue)(KeyedListModel&)) {
    Forms::Hold hold(this);
    KeepResponsive();
    if (Forms::Find(QStringLiteral("fFileDownload")) != this)
        return;
    ListView3->setUpdatesEnabled(false);
    requeue(*ListItems3);
    ListView3->setUpdatesEnabled(true);
    RefreshList();
}

void fFileDownload::menu重新下载出错项_Click() {
    runRequeueCommand(&RequeueFailedRows);
}

void fFileDownload::menu重新下载文件类型为HTM和HTML项_Click() {
    runRequeueCommand(&RequeueWebPageRows);
}

void fFileDownload::PlaySound(int number) {
    if (number < SchedulerSound::WebPage || number > SchedulerSound::Failed)
        return;
    const QString path = ProgramFolder() + QString::number(number) + QStringLiteral(".wav");
    if (!FileExists(path) && !writeSoundClip(number, path))
        return;
    if (Sound* sound = Services().sound)
        sound->play(path);
}

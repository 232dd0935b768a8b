#include "ui/app/fCover.h"

#include "core/app/BrowserEmulation.h"
#include "core/app/OsText.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/Version.h"
#include "core/download/DownloadJournal.h"
#include "core/platform/DoEvents.h"
#include "ui/app/Forms.h"
#include "ui/search/fWebSearch.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QThread>
#include <QVBoxLayout>

#include <unistd.h>

namespace {
constexpr int kQuitGraceMs = 5000;
} // namespace

QString VersionCaption(int major, int minor, int revision) {
    return QStringLiteral("版本:%1.%2.%3").arg(major).arg(minor).arg(revision);
}

fCover::fCover()
    : Command1(new QPushButton(QStringLiteral("文献检索下载"), this)),
      Command3(new QPushButton(QStringLiteral("退出软件"), this)),
      Label1(new QLabel(QStringLiteral("版本："), this)),
      Label2(new QLabel(QStringLiteral("有最新版本："), this)),
      Label4(new QLabel(
          QStringLiteral("(该软件仅用于科研人员辅助少量下载；请不要恶意下载和大量下载！)"), this)),
      JournalNotice(new QLabel(this)), Image1(new QLabel(this)), Timer1(new QTimer(this)) {
    const QIcon icon(QStringLiteral(":/quillfetch.svg"));
    setWindowIcon(icon);
    setWindowTitle(QStringLiteral("fCover"));

    Command1->setEnabled(false);
    Command1->setMinimumHeight(40);
    Command3->setMinimumHeight(40);
    Label2->setStyleSheet(QStringLiteral("color: red;"));
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->hide();
    Label4->setWordWrap(true);
    JournalNotice->setWordWrap(true);
    JournalNotice->hide();
    Image1->setPixmap(icon.pixmap(96, 96));
    Image1->setAlignment(Qt::AlignCenter);

    Timer1->setInterval(100);
    Timer1->setSingleShot(false); // disabled by its own handler, as a one-shot
    connect(Timer1, &QTimer::timeout, this, &fCover::Timer1_Timer);
    connect(Command1, &QPushButton::clicked, this, &fCover::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &fCover::Command3_Click);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Command1);
    buttons->addWidget(Command3);
    buttons->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(Image1);
    top->addLayout(buttons, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addWidget(Label4);
    layout->addWidget(JournalNotice);
    setFixedWidth(420);
}

// What the start-up window says of the last run's list: what is left to restore, and when the
// journal did not read, what became of it and what is offered instead.
QString JournalNoticeText(const JournalLoad& journal) {
    const int unfinished = CountUnfinishedRows(journal.rows);
    const QString restore = QStringLiteral("可在下载窗口的“列表操作”菜单中恢复。");
    switch (journal.status) {
    case JournalStatus::None:
        return QString();
    case JournalStatus::Loaded:
        return unfinished > 0
                   ? QStringLiteral("上次的下载列表还有%1项未完成，").arg(unfinished) + restore
                   : QString();
    case JournalStatus::FromPrevious:
        if (unfinished > 0)
            return JournalProblemText(journal) + QStringLiteral("，") + restore;
        break;
    case JournalStatus::Newer:
    case JournalStatus::Unreadable:
        break;
    }
    return JournalProblemText(journal) + QStringLiteral("。");
}

void fCover::Form_Load() {
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    Label1->setText(VersionCaption(kVersionMajor, kVersionMinor, kVersionRevision));
    const QString notice = JournalNoticeText(ReadDownloadJournal(DownloadJournalPath()));
    JournalNotice->setText(notice);
    JournalNotice->setVisible(!notice.isEmpty());
    // A fixed-width window does not grow by itself for a wrapped line shown after it was laid out.
    adjustSize();
    show();
    // Paint the window before the slower rest of start-up.
    DoEvents();
    Program().OsText = OsText();
    if (Registry* registry = Services().registry) {
        const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
        SetBrowserEmulation(*registry, executable);
    }
    Timer1->start();
}

void fCover::Timer1_Timer() {
    Timer1->stop();
    Command1->setEnabled(true);
    // Only starts the request: its answer arrives later, so it never holds up the button.
    CheckNewVersion();
}

void fCover::Command1_Click() {
    if (!Command1->isEnabled())
        return;
    hide();
    ::fWebSearch* search = Forms::fWebSearch();
    if (search)
        search->show();
}

void fCover::Command3_Click() {
    Forms::Unload(this);
}

void QuitFromAnyWindow() {
    if (QWidget* cover = Forms::Find(QStringLiteral("fCover")))
        Forms::Unload(cover);
    else
        QCoreApplication::exit(0);
}

void fCover::closeEvent(QCloseEvent* event) {
    event->accept();
    if (unloading_)
        return;
    unloading_ = true;
    Form_Unload();
}

void fCover::Form_Unload() {
    // The program ends here and now: no other window's close handling runs and transfers
    // are abandoned. Only the settings are saved first.
    if (SettingsStore* settings = Services().settings)
        settings->Sync();
    for (QWidget* w : QApplication::topLevelWidgets())
        w->hide();
    const bool nested = EventPumpDepth() > 0 || QThread::currentThread()->loopLevel() > 1;
    if (nested) {
        // Code waiting further up the stack sees the request after its next pump and
        // unwinds; the program then leaves the normal way, which shuts the browser profile
        // down and so keeps its cookies (the user's logins). The search window's runs end as
        // its stop buttons would end them.
        RequestQuit();
        if (auto* search = qobject_cast<::fWebSearch*>(Forms::Find(QStringLiteral("fWebSearch")))) {
            search->StopAddAll = true;
            search->StopAnalysis = true;
        }
        // A wait that does not look at the request would hold the program until its own
        // time limit; past this grace the program ends at once, with only the settings kept.
        QTimer::singleShot(kQuitGraceMs, this, [] { ::_exit(0); });
    }
    // Every event loop, the nested ones too, returns at its next turn.
    QCoreApplication::exit(0);
}

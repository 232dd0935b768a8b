#include "ui/download/fFileDownload.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/Version.h"
#include "core/download/Citations.h"
#include "core/download/DownloadJournal.h"
#include "core/download/DownloadList.h"
#include "core/download/FileType.h"
#include "core/download/Naming.h"
#include "core/download/Scheduler.h"
#include "core/download/WebPageDiagnosis.h"
#include "core/platform/Clock.h"
#include "core/platform/DoEvents.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/transfer/Inet.h"
#include "core/transfer/PartFiles.h"
#include "ui/app/Forms.h"
#include "ui/app/KeptChoices.h"
#include "ui/app/WidgetHelpers.h"
#include "ui/app/WindowPlacement.h"
#include "ui/app/fCover.h"
#include "ui/platform/KeyedListView.h"
#include "ui/search/fWebSearch.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <iterator>

namespace {

const QString kDesignCaption = QStringLiteral("文件下载");
const QString kCloseQuestion = QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？");
constexpr int kListRowHeight = 17;
constexpr int kLargestGapSeconds = 600;

// The state pictures are drawn here rather than shipped: four small shapes that differ in
// colour and form, so they read apart in either theme.
QIcon stateIcon(int state) {
    constexpr int size = 16;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (state) {
    case ItemState::Waiting: { // a grey clock face
        painter.setPen(QPen(QColor(110, 110, 110), 1.5));
        painter.setBrush(QColor(235, 235, 235));
        painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        painter.drawLine(QPointF(8, 8), QPointF(8, 4));
        painter.drawLine(QPointF(8, 8), QPointF(11, 8));
        break;
    }
    case ItemState::Downloading: { // a white arrow down on blue
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(30, 110, 220));
        painter.drawRoundedRect(QRectF(1, 1, 14, 14), 3, 3);
        painter.setPen(pen);
        painter.drawLine(QPointF(8, 3.5), QPointF(8, 12));
        painter.drawLine(QPointF(4.5, 8.5), QPointF(8, 12));
        painter.drawLine(QPointF(11.5, 8.5), QPointF(8, 12));
        break;
    }
    case ItemState::Completed: { // a white tick on green
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(40, 160, 70));
        painter.drawEllipse(QRectF(1, 1, 14, 14));
        painter.setPen(pen);
        QPainterPath tick;
        tick.moveTo(4.5, 8.5);
        tick.lineTo(7, 11);
        tick.lineTo(11.5, 5);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(tick);
        break;
    }
    case ItemState::Failed: { // a white cross on red
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(210, 40, 40));
        painter.drawEllipse(QRectF(1, 1, 14, 14));
        painter.setPen(pen);
        painter.drawLine(QPointF(5, 5), QPointF(11, 11));
        painter.drawLine(QPointF(11, 5), QPointF(5, 11));
        break;
    }
    default:
        break;
    }
    painter.end();
    return QIcon(pixmap);
}

} // namespace

fFileDownload::fFileDownload(DownloadSession* session)
    : ListItems3(nullptr), Inet1(nullptr), ListView3(new KeyedListView), Picture3(new QFrame),
      Label1(new QLabel(QStringLiteral("0条"))), Label4(new QLabel(QStringLiteral("下载列表："))),
      Label7(new QLabel(QStringLiteral("下载方式："))),
      Label2(new QLabel(QStringLiteral("线程数："))), Combo1(new QComboBox),
      Label5(new QLabel(QStringLiteral("两个文件下载间隔："))), Combo2(new QComboBox),
      Label8(new QLabel(QStringLiteral("同名文件："))),
      Option1(new QRadioButton(QStringLiteral("跳过"))),
      Option2(new QRadioButton(QStringLiteral("覆盖"))),
      Option3(new QRadioButton(QStringLiteral("重命名"))), SameNameOptions(new QButtonGroup(this)),
      Check3(new QCheckBox(QStringLiteral("自动重新下载："))), Combo4(new QComboBox),
      Check4(new QCheckBox(QStringLiteral("当有待下载项时，自动启动下载"))),
      Check5(new QCheckBox(QStringLiteral("有5个以上下载出错或者网页文件，就停止下载"))),
      Check6(new QCheckBox(QStringLiteral("声音提示"))),
      Command4(new QPushButton(QStringLiteral("开始下载"))),
      Command31(new QPushButton(QStringLiteral("停止下载"))),
      Command26(new QPushButton(QStringLiteral("切换"))), Shape1(new QFrame), Timer_Down(nullptr),
      Timer1(nullptr), StatusBar1(statusBar()), StatusPanel1(new QLabel), StatusPanel2(new QLabel),
      StatusPanel3(new QLabel), StatusPanel4(new QLabel),
      session_(session ? session : new DownloadSession(this)) {
    setWindowTitle(kDesignCaption);
    ListItems3 = session_->ListItems3;
    Inet1 = session_->Inet1;
    Timer_Down = session_->Timer_Down;
    Timer1 = session_->Timer1;

    buildControls();
    buildLayout();
    setUpListCommands();
    buildLoginPanel();
    followRowCount();
    bindSession();

    // The smallest placement that is restored (4000 by 3000 twips) must fit.
    setMinimumSize(4000 / 15, 3000 / 15);
    resize(1000, 680);
}

void fFileDownload::buildControls() {
    for (int state = ItemState::Waiting; state <= ItemState::Failed; ++state)
        IL_LV3[state] = stateIcon(state);

    ListView3->setModel(ListItems3);
    // The last column tells why a row failed: wide enough for a short reason.
    const int widths[] = {320, 50, 90, 90, 60, 300, 160};
    for (int column = 0; column < static_cast<int>(std::size(widths)); ++column)
        ListView3->header()->resizeSection(column, widths[column]);
    ListView3->setToolTip(QStringLiteral("双击鼠标：下载当前项或者打开文件"));
    SetListStripes(ListView3, kListRowHeight);

    for (int count = 1; count <= 6; ++count)
        Combo1->addItem(QString::number(count));
    // The closed box stays narrow; its list opens as wide as the longest entry.
    Combo4->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Combo4->setMinimumContentsLength(8);
    Combo4->addItems({QStringLiteral("出错项"), QStringLiteral("文件类型为HTM和HTML项"),
                      QStringLiteral("出错项和文件类型为HTM和HTML项")});

    SameNameOptions->addButton(Option1, 1);
    SameNameOptions->addButton(Option2, 2);
    SameNameOptions->addButton(Option3, 3);
    Option3->setChecked(true);

    Command26->setToolTip(QStringLiteral("更改下载方式"));

    Shape1->setFixedSize(12, 12);
    Shape1->setStyleSheet(
        QStringLiteral("background-color: rgb(0, 200, 0); border: 1px solid rgb(0, 120, 0); "
                       "border-radius: 6px;"));
    Shape1->hide();
}

void fFileDownload::buildLayout() {
    auto* firstRow = new QHBoxLayout;
    firstRow->addWidget(Label4);
    firstRow->addWidget(Label1);
    firstRow->addSpacing(12);
    firstRow->addWidget(Label7);
    firstRow->addWidget(Command26);
    firstRow->addSpacing(12);
    firstRow->addWidget(Label2);
    firstRow->addWidget(Combo1);
    firstRow->addSpacing(12);
    firstRow->addWidget(Label5);
    firstRow->addWidget(Combo2);
    firstRow->addWidget(new QLabel(QStringLiteral("秒")));
    firstRow->addStretch(1);
    firstRow->addWidget(Shape1);
    firstRow->addWidget(Command4);
    firstRow->addWidget(Command31);
    firstRow->addWidget(Command1 = new QPushButton(QStringLiteral("网页登录")));

    auto* secondRow = new QHBoxLayout;
    secondRow->addWidget(Label8);
    secondRow->addWidget(Option1);
    secondRow->addWidget(Option2);
    secondRow->addWidget(Option3);
    secondRow->addSpacing(12);
    secondRow->addWidget(Check3);
    secondRow->addWidget(Combo4);
    secondRow->addStretch(1);

    // The automatic rules have a row of their own: beside the same-name rule they did not fit
    // the window's default width and were drawn over each other.
    auto* thirdRow = new QHBoxLayout;
    thirdRow->addWidget(Check4);
    thirdRow->addSpacing(12);
    thirdRow->addWidget(Check5);
    thirdRow->addSpacing(12);
    thirdRow->addWidget(Check6);
    thirdRow->addStretch(1);

    Picture3->setFrameShape(QFrame::StyledPanel);
    auto* panel = new QVBoxLayout(Picture3);
    panel->setContentsMargins(6, 4, 6, 4);
    panel->addLayout(firstRow);
    panel->addLayout(secondRow);
    panel->addLayout(thirdRow);

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    // 20 twips round the panel and the list, as the window always had.
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(Picture3);
    layout->addWidget(ListView3, 1);
    setCentralWidget(central);

    StatusBar1->addWidget(StatusPanel1);
    StatusBar1->addWidget(StatusPanel2, 3);
    StatusBar1->addWidget(StatusPanel3, 1);
    StatusBar1->addPermanentWidget(StatusPanel4);
}

void fFileDownload::Form_Load() {
    setWindowTitle(kDesignCaption + '-' + QString::fromUtf8(kApplicationTitle));
    setWindowIcon(Forms::CoverIcon());

    FitComboDropDown(Combo4);

    // The provider keeps its own copy of the pictures: the list and its view are children of
    // this window and still paint while the window's own members are being destroyed.
    ListItems3->setIconProvider([icons = IL_LV3](int state) -> QVariant {
        if (state < ItemState::Waiting || state > ItemState::Failed)
            return {};
        return icons[static_cast<std::size_t>(state)];
    });

    const ProgramValues& program = Program();
    SettingsStore* settings = Services().settings;
    session_->ReadStoredSettings();
    // The thread count is shown in both modes, so that switching back finds the user's
    // count; only the multi-connection mode lets it be changed. A stored index that is no
    // number or names no entry counts as absent.
    KeepIndex(Combo1, settings, Keys::ThreadCount);

    if (TrimSpaces(Option1->text()) == program.SameNamePolicy)
        Option1->setChecked(true);
    else if (TrimSpaces(Option2->text()) == program.SameNamePolicy)
        Option2->setChecked(true);
    else
        Option3->setChecked(true);
    connect(SameNameOptions, &QButtonGroup::buttonClicked, this, [](QAbstractButton* chosen) {
        Program().SameNamePolicy = TrimSpaces(chosen->text());
        if (SettingsStore* store = Services().settings)
            store->Write(Keys::SameNamePolicy, Program().SameNamePolicy);
    });

    if (settings) {
        RestoreWindowPlacement(this, *settings);
        KeepWindowPlacement(this, *settings);
    }

    Combo2->clear();
    for (int seconds = 0; seconds <= kLargestGapSeconds; ++seconds)
        Combo2->addItem(QString::number(seconds));
    KeepIndex(Combo2, settings, Keys::DownloadGap);
    KeepIndex(Combo4, settings, Keys::AutoRequeueItems);
    KeepChecked(Check3, settings, Keys::AutoRequeue);
    KeepChecked(Check4, settings, Keys::AutoStart);
    KeepChecked(Check5, settings, Keys::StopOnProblems);
    KeepChecked(Check6, settings, Keys::SoundPrompts);

    LoginPanel_Load();
    session_->SetUpJournal();
    offerJournalRows();
    pushOptions();
    showOptions();
    // A list the session kept while no window showed it.
    showRowCount();
    UpdateStatusCounts();
    for (int panel = 1; panel <= 3; ++panel)
        rowPanel(panel)->setText(session_->PanelText(panel));
}

QLabel* fFileDownload::rowPanel(int panel) const {
    return panel == 1 ? StatusPanel1 : panel == 2 ? StatusPanel2 : StatusPanel3;
}

void fFileDownload::Form_Activate() {
    showRowCount();
}

void fFileDownload::showRowCount() {
    Label1->setText(QString::number(ListItems3->Count()) + QStringLiteral("条"));
}

void fFileDownload::Form_Resize() {
    if (isMinimized())
        return;
    // The panel and the list follow the window through the layout; the bands are laid out
    // again for the list's new size.
    SetListStripes(ListView3, kListRowHeight);
    PlaceLoginPanel();
}

bool fFileDownload::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return QMainWindow::event(event);
}

void fFileDownload::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void fFileDownload::RefreshList() {
    ListItems3->Refresh();
    ListView3->viewport()->update();
}

void fFileDownload::UpdateStatusCounts() {
    StatusPanel4->setText(StatusCountsWithPagesText(*ListItems3));
    UpdateTodayCount();
}

void fFileDownload::menu资料检索分析窗口_Click() {
    if (::fWebSearch* search = Forms::fWebSearch())
        search->show();
}

// --- close ---

void fFileDownload::closeEvent(QCloseEvent* event) {
    if (unloading_) {
        event->accept();
        return;
    }
    bool cancel = false;
    Form_Unload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void fFileDownload::Form_Unload(bool& Cancel) {
    ProgramValues& program = Program();
    SettingsStore* settings = Services().settings;

    // Stored before the question, so that a refused close keeps them too.
    if (QAbstractButton* chosen = SameNameOptions->checkedButton())
        program.SameNamePolicy = TrimSpaces(chosen->text());
    if (settings) {
        settings->Write(Keys::SameNamePolicy, program.SameNamePolicy);
        settings->Write(Keys::DownloadMode, program.DownloadMode);
    }
    LoginPanel_Unload();

    const bool busy = CountDownloaderSlots() >= 2 || Inet1->StillExecuting() ||
                      !检测是否下载列表完毕() || Timer_Down->isActive();
    if (busy && Services().prompt &&
        Services().prompt->message(this, kCloseQuestion, MsgIcon::Question, MsgButtons::YesNo) !=
            MsgResult::Yes) {
        Cancel = true;
        return;
    }

    unloading_ = true;
    Forms::Hold hold(this);
    Timer2->stop();
    session_->StopForClose();
    if (settings) {
        SaveWindowPlacement(this, *settings);
        settings->Write(Keys::ThreadCount, Combo1->currentIndex());
    }
    // Transfers and handlers that are waiting further up get to see the window going.
    DoEvents();
    DoEvents();

    Forms::Unloaded(this);
    if (!IsFormLoaded(QStringLiteral("fWebSearch"))) {
        if (::fCover* cover = Forms::fCover())
            cover->show();
    }
}

#include "ui/tools/Form_Copy_Move.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/ShellHelpers.h"
#include "core/app/Version.h"
#include "core/download/Naming.h"
#include "core/platform/DoEvents.h"
#include "core/platform/Prompt.h"
#include "core/tools/CopyRules.h"
#include "ui/app/Forms.h"
#include "ui/app/WidgetHelpers.h"
#include "ui/app/FolderHistory.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QString kStart = QStringLiteral("开始");
const QString kStop = QStringLiteral("停止");

void showMessage(QWidget* owner, const QString& text, MsgIcon icon) {
    if (Prompt* prompt = Services().prompt)
        prompt->message(owner, text, icon);
}

} // namespace

Form_Copy_Move::Form_Copy_Move(QWidget* owner)
    : QDialog(owner), HistoryFile(FolderHistoryPath()),
      Label1(new QLabel(QStringLiteral("目的文件夹："), this)), Combo1(new QComboBox(this)),
      Command3(new QPushButton(QStringLiteral("浏览"), this)),
      Frame1(new QGroupBox(QStringLiteral("如果同名文件已经存在"), this)),
      Label2(new QLabel(QStringLiteral("进度;"), this)), ProgressBar1(new QProgressBar(this)),
      Label4(new QLabel(QStringLiteral("当前文件："), this)), Label3(new QLabel(this)),
      Command1(new QPushButton(kStart, this)),
      Command2(new QPushButton(QStringLiteral("关闭"), this)) {
    setWindowTitle(QStringLiteral("复制或者移动文件"));
    Combo1->setEditable(true);
    // Only a folder a run starts with joins the history, not every Enter.
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setCompleter(nullptr);
    Combo1->setMinimumWidth(360);

    const QStringList captions{QStringLiteral("跳过"), QStringLiteral("覆盖"),
                               QStringLiteral("自动重命名"),
                               QStringLiteral("文件大小和修改时间均相同：覆盖；否则：自动重命名"),
                               QStringLiteral("文件大小相同：覆盖；否则：自动重命名")};
    auto* group = new QButtonGroup(this);
    auto* options = new QVBoxLayout(Frame1);
    for (int index = 1; index <= 5; ++index) {
        Option1[index] = new QRadioButton(captions.at(index - 1), Frame1);
        group->addButton(Option1[index], index);
        options->addWidget(Option1[index]);
    }
    connect(group, &QButtonGroup::idClicked, this, &Form_Copy_Move::Option1_Click);

    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    // Enter in the folder box must not start a run by surprise.
    for (QPushButton* button : {Command1, Command2, Command3})
        button->setAutoDefault(false);
    connect(Command1, &QPushButton::clicked, this, &Form_Copy_Move::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form_Copy_Move::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form_Copy_Move::Command3_Click);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(Label1);
    folderRow->addWidget(Combo1, 1);
    folderRow->addWidget(Command3);
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(Label2);
    progressRow->addWidget(ProgressBar1, 1);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(Label4);
    fileRow->addWidget(Label3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(folderRow);
    layout->addWidget(Frame1);
    layout->addLayout(progressRow);
    layout->addLayout(fileRow);
    layout->addLayout(buttons);
}

void Form_Copy_Move::ShowModal(QWidget* owner, const QStringList& files) {
    QPointer<Form_Copy_Move> dialog = new Form_Copy_Move(owner);
    dialog->Form_Load();
    dialog->SourceFiles << files;
    dialog->setWindowTitle(QStringLiteral("复制文件：") +
                           QString::number(dialog->SourceFiles.size()) +
                           QStringLiteral(" 个文件..."));
    dialog->exec();
    delete dialog.data();
}

void Form_Copy_Move::Form_Load() {
    closed_ = false;
    setWindowTitle(QStringLiteral("复制文件...") + '-' + QString::fromUtf8(kApplicationTitle));
    setWindowIcon(Forms::CoverIcon());

    // A missing history file leaves the list as it is; the first run creates the file.
    LoadFolderHistory(Combo1, HistoryFile);
    const SettingsStore* settings = Services().settings;
    TargetFolder = settings ? settings->Read(Keys::CopyTargetFolder)
                            : SettingDefaultText(Keys::CopyTargetFolder);
    FitComboDropDown(Combo1);
    Combo1->setEditText(TargetFolder);

    int index = SameName::Default;
    if (settings)
        settings->ReadInt(Keys::CopyOptionIndex, index);
    // Only this dialog writes the value, always 1 to 5; anything else was not written here
    // and gets the default.
    sameNameOption_ = SameNameOptionFrom(index);
    Option1[sameNameOption_]->setChecked(true);
}

void Form_Copy_Move::Option1_Click(int index) {
    if (index < 1 || index > 5)
        return;
    sameNameOption_ = index;
    if (!Option1[index]->isChecked())
        Option1[index]->setChecked(true);
}

void Form_Copy_Move::Command1_Click() {
    执行(true);
}

void Form_Copy_Move::Command2_Click() {
    close();
}

void Form_Copy_Move::Command3_Click() {
    Prompt* prompt = Services().prompt;
    if (!prompt)
        return;
    QString folder = BrowseForFolder(*prompt, this, Combo1->currentText(),
                                     QStringLiteral("请选择要浏览的文件夹:"));
    if (!folder.endsWith('/'))
        folder += '/';
    Combo1->setEditText(folder);
}

bool Form_Copy_Move::复制相同文件自动重命名(const QString& source, const QString& targetFolder) {
    return CopyWithAutoRename(source, targetFolder).has_value();
}

void Form_Copy_Move::执行(bool showMessage) {
    // A click during a run only stops it: the folder box, the settings and the history are
    // the start's business, and a stop must not create a folder typed meanwhile.
    if (running_) {
        Command1->setText(kStart);
        running_ = false;
        return;
    }

    QString folder = MakeFolderPath(Combo1->currentText(), [this](const QString& text) {
        ::showMessage(this, text, MsgIcon::Error);
    });
    Combo1->setEditText(folder);
    if (folder.isEmpty()) {
        ::showMessage(this, QStringLiteral("创建文件夹出错！"), MsgIcon::Error);
        return;
    }
    if (!folder.endsWith('/'))
        folder += '/';
    Combo1->setEditText(folder);
    TargetFolder = folder;

    if (SettingsStore* settings = Services().settings) {
        settings->Write(Keys::CopyTargetFolder, TargetFolder);
        settings->Write(Keys::CopyOptionIndex, sameNameOption_);
    }

    const QString entry = TrimSpaces(folder);
    bool listed = false;
    for (int i = 0; i < Combo1->count() && !listed; ++i)
        listed = Combo1->itemText(i).compare(entry, Qt::CaseInsensitive) == 0;
    if (!listed)
        Combo1->addItem(entry);
    // A history that cannot be written only costs the user the suggestion next time.
    SaveFolderHistory(Combo1, HistoryFile);
    Combo1->setEditText(folder);

    Label3->setText(QString());
    SourceFiles.removeIf([](const QString& path) { return !FileExists(path); });
    if (SourceFiles.isEmpty())
        return;
    run(showMessage);
}

void Form_Copy_Move::run(bool showMessage) {
    QPointer<Form_Copy_Move> self(this);
    Command1->setText(kStop);
    running_ = true;
    // The run works on the list and the folder it started with.
    const QStringList files = SourceFiles;
    int copied = 0;
    QList<CopyFailure> failures;
    const QString target = TargetFolder;
    ProgressBar1->setRange(0, int(files.size()) + 1);
    ProgressBar1->setValue(0);
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (!running_ || closed_)
            break;
        ProgressBar1->setValue(int(i) + 1);
        const QString& source = files.at(i);
        if (LiesInFolder(source, target))
            continue;
        Label3->setText(source.mid(source.lastIndexOf('/') + 1));
        // A click on "停止" (or on an option, or "关闭") is taken here.
        KeepResponsive();
        if (!self)
            return;
        // A failed copy is told at the end; the run goes on with the next file.
        const CopyOutcome outcome = CopyIntoFolder(source, target, sameNameOption_);
        if (outcome.copied)
            ++copied;
        else if (!outcome.failure.isEmpty())
            failures << CopyFailure{source, outcome.failure};
    }
    ProgressBar1->setValue(0);
    Label3->setText(QString());
    Command1->setText(kStart);
    running_ = false;
    if (showMessage && !closed_)
        ::showMessage(this, CopyRunReport(copied, failures),
                      failures.isEmpty() ? MsgIcon::Information : MsgIcon::Error);
}

void Form_Copy_Move::done(int result) {
    closed_ = true;
    running_ = false;
    SourceFiles.clear();
    QDialog::done(result);
}

void Form_Copy_Move::closeEvent(QCloseEvent* event) {
    closed_ = true;
    running_ = false;
    SourceFiles.clear();
    QDialog::closeEvent(event);
}

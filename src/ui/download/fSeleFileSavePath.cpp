#include "ui/download/fSeleFileSavePath.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/ShellHelpers.h"
#include "core/app/Version.h"
#include "core/download/Naming.h"
#include "core/platform/DoEvents.h"
#include "core/platform/Prompt.h"
#include "core/transfer/PartFiles.h"
#include "ui/app/FolderHistory.h"
#include "ui/app/Forms.h"
#include "ui/app/WidgetHelpers.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QString kDesignCaption = QStringLiteral("选择下载保存路径");

void showError(QWidget* owner, const QString& text) {
    if (Prompt* prompt = Services().prompt)
        prompt->message(owner, text, MsgIcon::Error);
}

} // namespace

fSeleFileSavePath::fSeleFileSavePath(QWidget* owner)
    : QDialog(owner), HistoryFile(FolderHistoryPath()),
      Label1(new QLabel(QStringLiteral("保存到文件夹："), this)), Combo1(new QComboBox(this)),
      Command1(new QPushButton(QStringLiteral("..."), this)),
      Label3(new QLabel(QStringLiteral("保存文件名为："), this)),
      Option1(new QRadioButton(QStringLiteral("原文件名"), this)),
      Option2(new QRadioButton(QStringLiteral("文章标题名称"), this)),
      Command2(new QPushButton(QStringLiteral("确定"), this)),
      Command3(new QPushButton(QStringLiteral("取消"), this)) {
    setWindowTitle(kDesignCaption);
    // Kept above the other windows while the user picks a folder, also above the browser.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);

    Combo1->setEditable(true);
    // The list is the folder history: only an accepted folder joins it, not every Enter.
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    // What the user types is the folder; inline completion from the history would quietly
    // accept a longer folder than the one typed.
    Combo1->setCompleter(nullptr);
    Combo1->setEditText(QStringLiteral("/"));
    Combo1->setMinimumWidth(360);
    Option2->setChecked(true);

    // Enter in the folder box accepts the folder rather than opening the chooser.
    Command1->setAutoDefault(false);
    Command3->setAutoDefault(false);
    Command2->setDefault(true);

    connect(Command1, &QPushButton::clicked, this, &fSeleFileSavePath::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &fSeleFileSavePath::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &fSeleFileSavePath::Command3_Click);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(Combo1, 1);
    folderRow->addWidget(Command1);
    auto* namingRow = new QHBoxLayout;
    namingRow->addWidget(Label3);
    namingRow->addWidget(Option1);
    namingRow->addWidget(Option2);
    namingRow->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command2);
    buttons->addWidget(Command3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addLayout(folderRow);
    layout->addLayout(namingRow);
    layout->addLayout(buttons);
}

void fSeleFileSavePath::ShowModal(QWidget* owner) {
    QPointer<fSeleFileSavePath> dialog = new fSeleFileSavePath(owner);
    dialog->Form_Load();
    // Loading lets events run, and the owner may have been closed and deleted meanwhile.
    if (dialog)
        dialog->exec();
    delete dialog.data();
}

void fSeleFileSavePath::Form_Load() {
    ProgramValues& program = Program();
    setWindowTitle(kDesignCaption + '-' + QString::fromUtf8(kApplicationTitle));
    setWindowIcon(Forms::CoverIcon());

    if (program.UseLinkFileName)
        Option1->setChecked(true);

    // A missing history file leaves the list as it is; the next 确定 creates the file.
    LoadFolderHistory(Combo1, HistoryFile);
    QPointer<fSeleFileSavePath> self(this);
    DoEvents();
    if (!self)
        return;

    const SettingsStore* settings = Services().settings;
    program.DefaultSaveFolder = settings ? settings->Read(Keys::DefaultSaveFolder)
                                         : SettingDefaultText(Keys::DefaultSaveFolder);
    Combo1->setEditText(program.DefaultSaveFolder);
    FitComboDropDown(Combo1);
}

void fSeleFileSavePath::Command1_Click() {
    Prompt* prompt = Services().prompt;
    if (!prompt)
        return;
    Combo1->setEditText(BrowseForFolder(*prompt, this, Combo1->currentText(),
                                        QStringLiteral("请选择要浏览的文件夹:")));
}

void fSeleFileSavePath::Command2_Click() {
    ProgramValues& program = Program();
    program.UseLinkFileName = Option1->isChecked();

    const QString typed = Combo1->currentText();
    QString folder;
    // An empty box would become "/" and be taken for the root folder.
    if (!typed.isEmpty()) {
        folder = MakeFolderPath(WithTrailingSlash(typed),
                                [this](const QString& text) { showError(this, text); });
    }
    Combo1->setEditText(folder);
    if (folder.isEmpty()) {
        showError(this, QStringLiteral("文件夹设置错误！"));
        return;
    }
    // A folder the program cannot create files in (a read-only disk, no rights) would fail every
    // row later, one by one: it is refused now, before any row is added.
    if (!FolderAcceptsFiles(WithTrailingSlash(folder))) {
        showError(this, QStringLiteral("无法在该文件夹中创建文件，请选择其他文件夹！"));
        return;
    }

    program.DefaultSaveFolder = WithTrailingSlash(folder);
    if (SettingsStore* settings = Services().settings)
        settings->Write(Keys::DefaultSaveFolder, program.DefaultSaveFolder);
    program.SaveFolderCancelled = false;

    // Duplicates are allowed here; reading the history drops them.
    Combo1->addItem(TrimSpaces(folder));
    // A history that cannot be written only costs the user the suggestion next time.
    SaveFolderHistory(Combo1, HistoryFile);
    accept();
}

void fSeleFileSavePath::Command3_Click() {
    Program().SaveFolderCancelled = true;
    reject();
}

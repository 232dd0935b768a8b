#include "ui/tools/fOption.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/SettingsStore.h"
#include "core/app/Version.h"
#include "core/download/HostPacing.h"
#include "core/platform/Prompt.h"
#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

const QString kDesignCaption = QStringLiteral("设置");

QLabel* hint(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setStyleSheet(QStringLiteral("color: gray;"));
    return label;
}

} // namespace

bool IsUsableProxy(const QString& address, const QString& port) {
    if (address.isEmpty() || port.isEmpty())
        return false;
    for (QChar c : port) {
        if (c < '0' || c > '9')
            return false;
    }
    // Beyond the largest port no number is one; more digits than that need no converting.
    if (port.size() > 5)
        return false;
    const int number = port.toInt();
    return number >= 1 && number <= 65535;
}

fOption::fOption(QWidget* owner)
    : QDialog(owner), Label1(new QLabel(QStringLiteral("下载方式："), this)),
      Option1(
          new QRadioButton(QStringLiteral("下载方式一 (支持HTTP，单线程，代理服务器下载)"), this)),
      Option2(new QRadioButton(QStringLiteral("下载方式二 (支持HTTP，多线程下载)"), this)),
      ModeOptions(new QButtonGroup(this)),
      Check1(new QCheckBox(QStringLiteral("下载使用代理服务器"), this)),
      Label14(new QLabel(QStringLiteral("地址："), this)), Text6(new QLineEdit(this)),
      Label6(hint(QStringLiteral("(如：proxy.example.com 或者 192.168.1.1)"), this)),
      Label15(new QLabel(QStringLiteral("端口："), this)), Text8(new QLineEdit(this)),
      Label10(hint(QStringLiteral("(如：3128 或者 80 等等)"), this)),
      Check2(new QCheckBox(QStringLiteral("提取网页信息时，提示下载保存路径"), this)),
      Label16(new QLabel(QStringLiteral("同一网站两次下载的间隔（秒）："), this)),
      Spin1(new QSpinBox(this)), Command1(new QPushButton(QStringLiteral("确定"), this)),
      Command2(new QPushButton(QStringLiteral("关闭"), this)) {
    setWindowTitle(kDesignCaption);
    ModeOptions->addButton(Option1, 1);
    ModeOptions->addButton(Option2, 2);
    Text6->setMinimumWidth(240);
    Text8->setMaximumWidth(90);
    Command1->setDefault(true);
    Command2->setAutoDefault(false);
    Spin1->setRange(0, int(HostPacing::kLongestSpacingSeconds));
    Spin1->setToolTip(QStringLiteral("下载过多过快可能导致所在机构的访问权限被出版社暂停"));

    connect(Command1, &QPushButton::clicked, this, &fOption::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &fOption::Command2_Click);

    auto* proxy = new QGridLayout;
    proxy->setContentsMargins(24, 0, 0, 0);
    proxy->addWidget(Label14, 0, 0);
    proxy->addWidget(Text6, 0, 1);
    proxy->addWidget(Label6, 1, 1);
    proxy->addWidget(Label15, 2, 0);
    proxy->addWidget(Text8, 2, 1, Qt::AlignLeft);
    proxy->addWidget(Label10, 3, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(Option1);
    layout->addWidget(Option2);
    layout->addSpacing(8);
    layout->addWidget(Check1);
    layout->addLayout(proxy);
    layout->addSpacing(8);
    layout->addWidget(Check2);
    layout->addSpacing(8);
    auto* spacing = new QHBoxLayout;
    spacing->addWidget(Label16);
    spacing->addWidget(Spin1);
    spacing->addStretch();
    layout->addLayout(spacing);
    layout->addStretch();
    layout->addLayout(buttons);
}

void fOption::Form_Load() {
    const ProgramValues& program = Program();
    setWindowTitle(kDesignCaption + '-' + QString::fromUtf8(kApplicationTitle));
    setWindowIcon(Forms::CoverIcon());

    Check1->setChecked(program.ProxyEnabled);
    Text6->setText(program.ProxyAddress);
    Text8->setText(program.ProxyPort);
    // Another value than the two modes selects neither option.
    ModeOptions->setExclusive(false);
    Option1->setChecked(program.DownloadMode == 1);
    Option2->setChecked(program.DownloadMode == 2);
    ModeOptions->setExclusive(true);
    Check2->setChecked(program.PromptSaveFolder);
    int spacing = 0;
    ParseSettingInteger(QString::fromUtf8(Keys::SiteSpacing.fixedDefault), spacing);
    if (const SettingsStore* settings = Services().settings)
        settings->ReadInt(Keys::SiteSpacing, spacing);
    Spin1->setValue(spacing);
}

void fOption::Command1_Click() {
    ProgramValues& program = Program();
    SettingsStore* settings = Services().settings;

    if (Option1->isChecked()) {
        program.DownloadMode = 1;
        if (auto* download =
                qobject_cast<fFileDownload*>(Forms::Find(QStringLiteral("ffileDownLoad")))) {
            download->Label7->setText(DownloadModeCaption(1));
            download->Combo1->setEnabled(false);
        }
    } else if (Option2->isChecked()) {
        program.DownloadMode = 2;
        if (auto* download =
                qobject_cast<fFileDownload*>(Forms::Find(QStringLiteral("FfileDownLoad")))) {
            download->Label7->setText(DownloadModeCaption(2));
            download->Combo1->setEnabled(true);
            download->Combo1->setCurrentIndex(download->Combo1->findText(QStringLiteral("1")));
        }
    }
    if (settings)
        settings->Write(Keys::DownloadMode, program.DownloadMode);

    program.ProxyEnabled = Check1->isChecked();
    program.ProxyAddress = TrimSpaces(Text6->text());
    program.ProxyPort = TrimSpaces(Text8->text());
    if (settings) {
        settings->Write(Keys::ProxyEnabled, program.ProxyEnabled ? 1 : 0);
        settings->Write(Keys::ProxyAddress, program.ProxyAddress);
        settings->Write(Keys::ProxyPort, program.ProxyPort);
    }

    // Only a warning: the values are stored as typed and the dialog goes on.
    if (program.ProxyEnabled && !IsUsableProxy(program.ProxyAddress, program.ProxyPort)) {
        QPointer<fOption> self(this);
        if (Prompt* prompt = Services().prompt)
            prompt->message(this, QStringLiteral("代理服务器网址或者端口格式不对！"),
                            MsgIcon::Error);
        if (!self)
            return;
    }

    program.PromptSaveFolder = Check2->isChecked();
    if (settings) {
        settings->Write(Keys::PromptSaveFolder, program.PromptSaveFolder ? 1 : 0);
        settings->Write(Keys::SiteSpacing, Spin1->value());
    }
    if (auto* download = qobject_cast<fFileDownload*>(Forms::Find(QStringLiteral("fFileDownload"))))
        download->Pacing().SetMinimumSpacing(Spin1->value());
    accept();
}

void fOption::Command2_Click() {
    reject();
}

#include "ui/tools/frmAbout.h"

#include "core/app/OsText.h"
#include "core/app/ProgramValues.h"
#include "core/app/ShellHelpers.h"
#include "core/app/Version.h"
#include "core/platform/Prompt.h"
#include "core/transfer/VersionCheck.h"
#include "ui/app/Forms.h"
#include "ui/app/fCover.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

frmAbout::frmAbout(QWidget* owner)
    : QDialog(owner), Image1(new QLabel(this)), lblTitle(new QLabel(this)),
      lblVersion(new QLabel(this)),
      lblDescription(new QLabel(QStringLiteral("Science文献检索与批量下载工具"), this)),
      lblDisclaimer(new QLabel(
          QStringLiteral("(该软件仅用于科研人员辅助少量下载；请不要恶意下载和大量下载！)"), this)),
      lblLink(new QLabel(this)), cmdOK(new QPushButton(QStringLiteral("确定"), this)),
      cmdSysInfo(new QPushButton(QStringLiteral("系统信息..."), this)) {
    setWindowTitle(QStringLiteral("关于"));
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    lblDisclaimer->setWordWrap(true);
    lblLink->setTextFormat(Qt::RichText);
    // The page opens through the desktop seam, not by the label itself.
    lblLink->setOpenExternalLinks(false);
    lblLink->hide();
    cmdOK->setDefault(true);
    cmdSysInfo->setAutoDefault(false);

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    connect(lblLink, &QLabel::linkActivated, this, [](const QString& address) {
        if (Shell* shell = Services().shell)
            OpenUrl(*shell, address, false);
    });

    auto* text = new QVBoxLayout;
    text->addWidget(lblTitle);
    text->addWidget(lblVersion);
    text->addWidget(lblDescription);
    text->addWidget(lblLink);
    text->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addLayout(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(lblDisclaimer);
    layout->addLayout(buttons);
    setMinimumWidth(420);
}

void frmAbout::Form_Load() {
    const QString title = QString::fromUtf8(kApplicationTitle);
    setWindowTitle(QStringLiteral("关于 ") + title);
    const QIcon icon = Forms::CoverIcon();
    setWindowIcon(icon);
    Image1->setPixmap(icon.pixmap(64, 64));
    lblTitle->setText(title);
    lblVersion->setText(VersionCaption(kVersionMajor, kVersionMinor, kVersionRevision));

    const QString page = ProgramPageAddress(Program().MakerSiteHost, ProgramFileName());
    if (!page.isEmpty()) {
        lblLink->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                             .arg(page.toHtmlEscaped(), page.toHtmlEscaped()));
        lblLink->show();
    }
}

void frmAbout::cmdSysInfo_Click() {
    // Composed at start-up; a box opened before that (or without it) works it out now.
    QString text = Program().OsText;
    if (text.isEmpty())
        text = OsText();
    if (Prompt* prompt = Services().prompt)
        prompt->message(this, text, MsgIcon::Information, MsgButtons::Ok,
                        QStringLiteral("系统信息"));
}

void frmAbout::cmdOK_Click() {
    accept();
}

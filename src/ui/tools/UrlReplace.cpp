#include "ui/tools/UrlReplace.h"

#include "core/app/FileHelpers.h"
#include "core/app/ProgramValues.h"
#include "core/app/Version.h"
#include "core/platform/KeyedListModel.h"
#include "core/platform/Prompt.h"
#include "core/tools/LinkReplace.h"
#include "ui/app/Forms.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kDesignCaption = QStringLiteral("网址批量替换");

void tell(QWidget* owner, const QString& text, MsgIcon icon) {
    if (Prompt* prompt = Services().prompt)
        prompt->message(owner, text, icon);
}

// Names the row by its number and its file name, as the user sees it in the list.
QString rowName(const KeyedListModel& list, int position) {
    return QStringLiteral("第%1行（%2）").arg(position).arg(list.Text(position));
}

} // namespace

UrlReplace::UrlReplace(KeyedListModel* list, QWidget* owner)
    : QDialog(owner), Label1(new QLabel(QStringLiteral("所有网址中的字符串："), this)),
      Text1(new QLineEdit(this)),
      Label2(new QLabel(QStringLiteral("将被全部替换为字符串："), this)),
      Text2(new QLineEdit(this)), Command1(new QPushButton(QStringLiteral("替换"), this)),
      Command2(new QPushButton(QStringLiteral("取消"), this)), list_(list) {
    setWindowTitle(kDesignCaption);
    Text1->setMinimumWidth(320);
    Command1->setDefault(true);
    Command2->setAutoDefault(false);
    connect(Command1, &QPushButton::clicked, this, &UrlReplace::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &UrlReplace::Command2_Click);

    auto* fields = new QGridLayout;
    fields->addWidget(Label1, 0, 0);
    fields->addWidget(Text1, 0, 1);
    fields->addWidget(Label2, 1, 0);
    fields->addWidget(Text2, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
}

void UrlReplace::Form_Load() {
    setWindowTitle(kDesignCaption + '-' + QString::fromUtf8(kApplicationTitle));
    setWindowIcon(Forms::CoverIcon());
}

void UrlReplace::Command1_Click() {
    const QString find = Text1->text();
    if (TrimSpaces(find).isEmpty()) {
        tell(this, QStringLiteral("请输入字符串！"), MsgIcon::Error);
        return;
    }
    if (RefusedNow && RefusedNow()) {
        reject();
        return;
    }
    // The search text is taken as typed: leading or trailing blanks are part of it.
    LinkReplaceResult result;
    if (list_)
        result = ReplaceInLinks(*list_, find, Text2->text());

    QWidget* owner = parentWidget();
    accept();
    switch (result.stop) {
    case LinkReplaceStop::None:
        tell(owner, QStringLiteral("全部网址替换完成！"), MsgIcon::Information);
        break;
    case LinkReplaceStop::EmptyKey:
        tell(owner,
             rowName(*list_, result.position) +
                 QStringLiteral("的网址替换后为空，替换在此行停止，此行及以后各行未替换！"),
             MsgIcon::Error);
        break;
    case LinkReplaceStop::NotWebAddress:
        tell(owner,
             rowName(*list_, result.position) +
                 QStringLiteral("的网址替换后不是 http 或 https 网址，替换在此行停止，此行及以后"
                                "各行未替换！"),
             MsgIcon::Error);
        break;
    case LinkReplaceStop::DuplicateKey:
        tell(owner,
             rowName(*list_, result.position) + QStringLiteral("的网址替换后与") +
                 rowName(*list_, result.otherPosition) +
                 QStringLiteral("的网址相同，替换在此行停止，此行及以后各行未替换！"),
             MsgIcon::Error);
        break;
    }
}

void UrlReplace::Command2_Click() {
    reject();
}

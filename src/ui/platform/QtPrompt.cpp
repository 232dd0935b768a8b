#include "ui/platform/QtPrompt.h"

#include "core/app/Version.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>

namespace {

QWidget* ParentOf(QObject* owner) {
    return qobject_cast<QWidget*>(owner);
}

QString TitleOrDefault(const QString& title) {
    return title.isEmpty() ? QString::fromUtf8(kApplicationTitle) : title;
}

QMessageBox::Icon BoxIcon(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QList<QMessageBox::StandardButton> BoxButtons(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::Ok:
        return {QMessageBox::Ok};
    case MsgButtons::OkCancel:
        return {QMessageBox::Ok, QMessageBox::Cancel};
    case MsgButtons::YesNo:
        return {QMessageBox::Yes, QMessageBox::No};
    case MsgButtons::YesNoCancel:
        return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
    }
    return {QMessageBox::Ok};
}

} // namespace

MsgResult QtPrompt::message(QObject* owner, const QString& text, MsgIcon icon, MsgButtons buttons,
                            const QString& title) {
    QMessageBox box(BoxIcon(icon), TitleOrDefault(title), text, QMessageBox::NoButton,
                    ParentOf(owner));
    const QList<QMessageBox::StandardButton> choices = BoxButtons(buttons);
    for (const QMessageBox::StandardButton choice : choices)
        box.addButton(choice);
    // The first button is the default, as in the system's message boxes; Escape and the close
    // button give the last one (Cancel, or No for a plain question).
    box.setDefaultButton(choices.first());
    box.setEscapeButton(box.button(choices.last()));
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    switch (clicked ? box.standardButton(clicked) : choices.last()) {
    case QMessageBox::Ok:
        return MsgResult::Ok;
    case QMessageBox::Yes:
        return MsgResult::Yes;
    case QMessageBox::No:
        return MsgResult::No;
    default:
        return MsgResult::Cancel;
    }
}

std::optional<QString> QtPrompt::input(QObject* owner, const QString& prompt, const QString& title,
                                       const QString& defaultText) {
    // The box is asked for addresses too: room for one, not the platform's narrow default.
    // Made on the heap: its owner may go while it is open, and takes it along.
    QPointer<QInputDialog> dialog = new QInputDialog(ParentOf(owner));
    dialog->setWindowTitle(TitleOrDefault(title));
    dialog->setLabelText(prompt);
    dialog->setTextValue(defaultText);
    dialog->setOkButtonText(QStringLiteral("确定"));
    dialog->setCancelButtonText(QStringLiteral("取消"));
    dialog->setMinimumWidth(560);
    const int result = dialog->exec();
    if (!dialog)
        return std::nullopt;
    const QString text = dialog->textValue();
    delete dialog;
    if (result != QDialog::Accepted)
        return std::nullopt;
    return text;
}

QString QtPrompt::openFileName(QObject* owner, const QString& title, const QString& startPath,
                               const QString& filter) {
    return QFileDialog::getOpenFileName(ParentOf(owner), TitleOrDefault(title), startPath, filter);
}

QString QtPrompt::saveFileName(QObject* owner, const QString& title, const QString& startPath,
                               const QString& filter) {
    return QFileDialog::getSaveFileName(ParentOf(owner), TitleOrDefault(title), startPath, filter);
}

QString QtPrompt::chooseFolder(QObject* owner, const QString& title, const QString& startFolder) {
    return QFileDialog::getExistingDirectory(ParentOf(owner), TitleOrDefault(title), startFolder,
                                             QFileDialog::ShowDirsOnly);
}

#include "ui/platform/QtPrompt.h"

#include "core/app/Version.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QInputDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>

namespace {

// Qt's file model writes sizes and dates in the desktop's locale and calls a folder "Folder"
// (Qt's own Chinese catalogue lacks that word), while everything else the program shows is
// Chinese: the dialog's columns are written again in the program's locale.
class ChineseFileColumns : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || !index.isValid())
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        const QLocale locale;
        switch (index.column()) {
        case 1:
            return files->isDir(source) ? QVariant(QString())
                                        : QVariant(locale.formattedDataSize(files->size(source)));
        case 2:
            if (files->isDir(source))
                return QStringLiteral("文件夹");
            break;
        case 3:
            return locale.toString(files->lastModified(source), QLocale::ShortFormat);
        default:
            break;
        }
        return QIdentityProxyModel::data(index, role);
    }
};

// Qt's own dialog, not the desktop's: only in it do the columns follow the program's locale.
QPointer<QFileDialog> MakeFileDialog(QObject* owner, const QString& title, const QString& start) {
    QPointer<QFileDialog> dialog = new QFileDialog(qobject_cast<QWidget*>(owner));
    dialog->setWindowTitle(title);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setProxyModel(new ChineseFileColumns(dialog));
    // A start path may name a file: the dialog opens in its folder with the name filled in.
    const QFileInfo startInfo(start);
    if (start.isEmpty() || startInfo.isDir()) {
        dialog->setDirectory(start);
    } else {
        dialog->setDirectory(startInfo.absolutePath());
        dialog->selectFile(startInfo.fileName());
    }
    return dialog;
}

// Runs the dialog; its owner may go while it is open and take it along.
QString ChosenPath(QPointer<QFileDialog> dialog) {
    const int result = dialog->exec();
    if (!dialog)
        return QString();
    const QString chosen =
        result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
    delete dialog;
    return chosen;
}

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
    QPointer<QFileDialog> dialog = MakeFileDialog(owner, TitleOrDefault(title), startPath);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(filter);
    return ChosenPath(dialog);
}

QString QtPrompt::saveFileName(QObject* owner, const QString& title, const QString& startPath,
                               const QString& filter) {
    QPointer<QFileDialog> dialog = MakeFileDialog(owner, TitleOrDefault(title), startPath);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilter(filter);
    return ChosenPath(dialog);
}

QString QtPrompt::chooseFolder(QObject* owner, const QString& title, const QString& startFolder) {
    QPointer<QFileDialog> dialog = MakeFileDialog(owner, TitleOrDefault(title), startFolder);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    return ChosenPath(dialog);
}

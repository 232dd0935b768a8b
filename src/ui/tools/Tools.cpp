#include "ui/tools/Tools.h"

#include "ui/app/Forms.h"
#include "ui/download/fFileDownload.h"
#include "ui/tools/UrlReplace.h"
#include "ui/tools/fOption.h"
#include "ui/tools/frmAbout.h"

#include <QPointer>

namespace {

// Runs a freshly made dialog modally and deletes it; the dialog's owner may be closed while
// it is open, which deletes the dialog with it.
template <typename Dialog> void runModal(Dialog* created) {
    QPointer<Dialog> dialog(created);
    dialog->Form_Load();
    if (dialog)
        dialog->exec();
    delete dialog.data();
}

} // namespace

void ShowOptionsDialog(QWidget* parent) {
    Forms::Hold hold(parent);
    runModal(new fOption(parent));
}

void ShowAboutBox(QWidget* parent) {
    Forms::Hold hold(parent);
    runModal(new frmAbout(parent));
}

void ShowUrlReplace(QWidget* parent) {
    auto* download = qobject_cast<fFileDownload*>(Forms::Find(QStringLiteral("fFileDownload")));
    if (!download)
        return;
    Forms::Hold holdParent(parent);
    Forms::Hold holdDownload(download);
    auto* dialog = new UrlReplace(download->ListItems3, parent);
    // The automatic start may switch the scheduler on while the dialog is open.
    dialog->RefusedNow = [window = QPointer<fFileDownload>(download)] {
        return window && window->RefusedWhileInWork(QStringLiteral("menu批量替换网址"));
    };
    runModal(dialog);
}

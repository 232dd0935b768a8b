#include "core/app/ShellHelpers.h"

#include "core/app/FileHelpers.h"
#include "core/platform/Prompt.h"
#include "core/platform/Shell.h"

#include <QFileInfo>

namespace {

const QString kRootFolder = QStringLiteral("/");

// The folder the chooser opens at: the start folder itself, or its nearest parent that exists
// (a save folder not made yet opens where it will be made), else the root.
QString ChooserStartFolder(const QString& startFolder) {
    QString folder = TrimSpaces(startFolder).isEmpty() ? kRootFolder : startFolder;
    while (folder.size() > 1 && !FolderExists(folder)) {
        const qsizetype lastSeparator = folder.lastIndexOf('/', folder.size() - 2);
        if (lastSeparator < 0)
            return kRootFolder;
        folder.truncate(lastSeparator + 1);
    }
    return FolderExists(folder) ? WithTrailingSlash(folder) : kRootFolder;
}

} // namespace

QString BrowseForFolder(Prompt& prompt, QObject* owner, const QString& startFolder,
                        const QString& title) {
    const QString chosen = prompt.chooseFolder(owner, title, ChooserStartFolder(startFolder));
    return WithTrailingSlash(chosen.isEmpty() ? startFolder : chosen);
}

void OpenUrl(Shell& shell, const QString& address, bool reuseBrowserWindow) {
    if (!reuseBrowserWindow && shell.openUrl(address))
        return;
    if (shell.startProgram(QStringLiteral("x-www-browser"), address))
        return;
    // Asking the default handler again would only fail again.
    if (reuseBrowserWindow)
        shell.openUrl(address);
}

void OpenWithDefaultApp(Shell& shell, Prompt& prompt, QObject* owner, const QString& path) {
    // A folder or a device is not something to open here: only a regular file counts.
    if (path.isEmpty() || path.contains(QChar(0)) || !QFileInfo(path).isFile()) {
        prompt.message(owner, QStringLiteral("文件不存在！"), MsgIcon::Error);
        return;
    }
    if (!shell.openFile(path))
        shell.startProgram(QStringLiteral("xdg-open"), path);
}

bool ShowInFolder(Shell& shell, const QString& path) {
    const QString trimmed = TrimSpaces(path);
    if (!FileExists(trimmed))
        return false;
    return shell.showItemInFolder(trimmed);
}

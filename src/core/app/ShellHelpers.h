#pragma once

#include <QString>

class Prompt;
class QObject;
class Shell;

// Desktop helpers over the Prompt and Shell seams. The file-system root "/" stands for the
// drive roots of the folder chooser's defaults.

// Lets the user pick a folder. The chooser pre-selects the parent of `startFolder` ("/x/y/z" and
// "/x/y/z/" both pre-select "/x/y/"), or "/" when the start folder is blank or that parent is not
// an existing folder. Answers the chosen folder, or `startFolder` as given when the chooser is
// cancelled, in both cases ending with "/".
QString BrowseForFolder(Prompt& prompt, QObject* owner, const QString& startFolder,
                        const QString& title);

// Opens `address` in a browser. Unless `reuseBrowserWindow` is set, the desktop's default handler
// is asked first; then the registered browser ("x-www-browser", which hands the address to its
// running window); when that fails, the default handler as the last resort (not asked twice).
void OpenUrl(Shell& shell, const QString& address, bool reuseBrowserWindow);

// Opens the file at `path` with its default application, falling back to "xdg-open". When no
// regular file is there, shows "文件不存在！" with the error icon instead.
void OpenWithDefaultApp(Shell& shell, Prompt& prompt, QObject* owner, const QString& path);

// Opens the file manager at the folder of `path` with the file selected. False when no file is
// at the (space-trimmed) path, without asking the desktop, or when the desktop refuses.
bool ShowInFolder(Shell& shell, const QString& path);

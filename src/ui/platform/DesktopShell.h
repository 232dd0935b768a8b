#pragma once

#include "core/platform/Shell.h"

// The real desktop: Qt's URL handlers, the freedesktop file-manager interface on the session
// bus, and detached processes.
class DesktopShell : public Shell {
public:
    // `fileManagerTimeoutMs` bounds the wait for the file manager's answer.
    explicit DesktopShell(int fileManagerTimeoutMs = 3000);

    bool openUrl(const QString& address) override;
    bool openFile(const QString& path) override;
    bool showItemInFolder(const QString& path) override;
    bool startProgram(const QString& program, const QString& argument) override;

private:
    int fileManagerTimeoutMs_;
};

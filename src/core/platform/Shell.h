#pragma once

#include <QString>

// The desktop: default handlers, the file manager, starting a program. Each call answers
// whether the desktop accepted the request; the helpers that use it decide the fall-backs.
class Shell {
public:
    virtual ~Shell() = default;
    // Open an address with the desktop's default handler for it.
    virtual bool openUrl(const QString& address) = 0;
    // Open a local file with the desktop's default application for its type.
    virtual bool openFile(const QString& path) = 0;
    // Open the folder holding `path` in the file manager with that item selected.
    virtual bool showItemInFolder(const QString& path) = 0;
    // Start `program` (looked up on PATH) with one argument, detached.
    virtual bool startProgram(const QString& program, const QString& argument) = 0;
};

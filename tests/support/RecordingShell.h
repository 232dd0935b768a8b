#pragma once

#include "core/platform/Shell.h"

#include <QList>
#include <QString>

// A Shell that records each request and answers with the result the test set for that kind.
class RecordingShell : public Shell {
public:
    struct Call {
        QString what; // "openUrl", "openFile", "showItemInFolder", "startProgram"
        QString target;
        QString argument;
    };

    bool openUrlResult = true;
    bool openFileResult = true;
    bool showItemResult = true;
    bool startProgramResult = true;

    QList<Call> calls;

    bool openUrl(const QString& address) override {
        calls.append({"openUrl", address, {}});
        return openUrlResult;
    }
    bool openFile(const QString& path) override {
        calls.append({"openFile", path, {}});
        return openFileResult;
    }
    bool showItemInFolder(const QString& path) override {
        calls.append({"showItemInFolder", path, {}});
        return showItemResult;
    }
    bool startProgram(const QString& program, const QString& argument) override {
        calls.append({"startProgram", program, argument});
        return startProgramResult;
    }
};

#pragma once

#include "core/platform/Prompt.h"

// The real dialogs: message boxes, input boxes, file dialogs and the folder chooser of Qt.
// An empty title shows the application title.
class QtPrompt : public Prompt {
public:
    MsgResult message(QObject* owner, const QString& text, MsgIcon icon,
                      MsgButtons buttons = MsgButtons::Ok, const QString& title = {}) override;
    std::optional<QString> input(QObject* owner, const QString& prompt, const QString& title,
                                 const QString& defaultText = {}) override;
    QString openFileName(QObject* owner, const QString& title, const QString& startPath,
                         const QString& filter = {}) override;
    QString saveFileName(QObject* owner, const QString& title, const QString& startPath,
                         const QString& filter = {}) override;
    QString chooseFolder(QObject* owner, const QString& title, const QString& startFolder) override;
};

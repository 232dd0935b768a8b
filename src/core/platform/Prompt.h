#pragma once

#include <QString>
#include <optional>

class QObject;

enum class MsgIcon { None, Error, Information, Question, Warning };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

// Every message box, question, input box, file dialog and folder chooser of the program goes
// through this interface, so that logic can be driven by a script in tests. `owner` is the
// window the dialog belongs to (a QWidget in the real program), or nullptr.
class Prompt {
public:
    virtual ~Prompt() = default;

    // An empty title means the application title.
    virtual MsgResult message(QObject* owner, const QString& text, MsgIcon icon,
                              MsgButtons buttons = MsgButtons::Ok, const QString& title = {}) = 0;

    // The text the user typed, or nullopt when the box was cancelled.
    virtual std::optional<QString> input(QObject* owner, const QString& prompt,
                                         const QString& title, const QString& defaultText = {}) = 0;

    // The chosen path, or "" when the dialog was cancelled. `filter` uses Qt's syntax
    // ("Text (*.txt)").
    virtual QString openFileName(QObject* owner, const QString& title, const QString& startPath,
                                 const QString& filter = {}) = 0;
    virtual QString saveFileName(QObject* owner, const QString& title, const QString& startPath,
                                 const QString& filter = {}) = 0;

    // The chosen folder as the chooser gives it, or "" when cancelled.
    virtual QString chooseFolder(QObject* owner, const QString& title,
                                 const QString& startFolder) = 0;
};

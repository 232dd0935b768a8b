#pragma once

#include "core/platform/Prompt.h"

#include <QList>
#include <QStringList>
#include <deque>

// A Prompt that records every dialog and answers from a queue the test fills beforehand.
// A dialog that finds no queued answer records itself as unanswered and gets the "cancel"
// answer (Cancel, No, nullopt or ""), so a test notices questions it did not expect.
class ScriptedPrompt : public Prompt {
public:
    enum class Kind { Message, Input, OpenFile, SaveFile, ChooseFolder };

    struct Shown {
        Kind kind;
        QString text; // the message or the input box's prompt; a file dialog's title
        MsgIcon icon = MsgIcon::None;
        MsgButtons buttons = MsgButtons::Ok;
        QString title;
        QString start; // default text, start path or start folder
        bool answered = false;
    };

    // Queue answers in the order the dialogs will appear.
    void answer(MsgResult result) { answers_.push_back({Answer::Button, result, {}}); }
    void answerText(const QString& text) { answers_.push_back({Answer::Text, {}, text}); }
    void answerCancel() { answers_.push_back({Answer::Cancelled, {}, {}}); }

    const QList<Shown>& shown() const { return shown_; }
    QStringList messages() const;
    int unanswered() const;
    int pendingAnswers() const { return int(answers_.size()); }
    void clear() {
        shown_.clear();
        answers_.clear();
    }

    MsgResult message(QObject* owner, const QString& text, MsgIcon icon, MsgButtons buttons,
                      const QString& title) override;
    std::optional<QString> input(QObject* owner, const QString& prompt, const QString& title,
                                 const QString& defaultText) override;
    QString openFileName(QObject* owner, const QString& title, const QString& startPath,
                         const QString& filter) override;
    QString saveFileName(QObject* owner, const QString& title, const QString& startPath,
                         const QString& filter) override;
    QString chooseFolder(QObject* owner, const QString& title, const QString& startFolder) override;

private:
    struct Answer {
        enum Type { Button, Text, Cancelled } type;
        MsgResult result = MsgResult::Cancel;
        QString text;
    };
    std::optional<Answer> take(Shown& shown);
    std::optional<QString> takeText(Shown shown);

    std::deque<Answer> answers_;
    QList<Shown> shown_;
};

#include "ScriptedPrompt.h"

QStringList ScriptedPrompt::messages() const {
    QStringList texts;
    for (const Shown& s : shown_) {
        if (s.kind == Kind::Message)
            texts << s.text;
    }
    return texts;
}

int ScriptedPrompt::unanswered() const {
    int count = 0;
    for (const Shown& s : shown_)
        count += s.answered ? 0 : 1;
    return count;
}

std::optional<ScriptedPrompt::Answer> ScriptedPrompt::take(Shown& shown) {
    if (answers_.empty())
        return std::nullopt;
    Answer a = answers_.front();
    answers_.pop_front();
    shown.answered = true;
    return a;
}

MsgResult ScriptedPrompt::message(QObject*, const QString& text, MsgIcon icon, MsgButtons buttons,
                                  const QString& title) {
    Shown shown{Kind::Message, text, icon, buttons, title, {}, false};
    MsgResult result = buttons == MsgButtons::Ok      ? MsgResult::Ok
                       : buttons == MsgButtons::YesNo ? MsgResult::No
                                                      : MsgResult::Cancel;
    if (buttons == MsgButtons::Ok) {
        // A plain notice needs no scripted answer.
        shown.answered = true;
    } else if (auto a = take(shown)) {
        if (a->type == Answer::Button)
            result = a->result;
    }
    shown_.append(shown);
    return result;
}

std::optional<QString> ScriptedPrompt::takeText(Shown shown) {
    std::optional<QString> result;
    if (auto a = take(shown)) {
        if (a->type == Answer::Text)
            result = a->text;
    }
    shown_.append(shown);
    return result;
}

std::optional<QString> ScriptedPrompt::input(QObject*, const QString& prompt, const QString& title,
                                             const QString& defaultText) {
    return takeText(
        {Kind::Input, prompt, MsgIcon::None, MsgButtons::OkCancel, title, defaultText, false});
}

QString ScriptedPrompt::openFileName(QObject*, const QString& title, const QString& startPath,
                                     const QString&) {
    return takeText({Kind::OpenFile, title, MsgIcon::None, MsgButtons::OkCancel, title, startPath,
                     false})
        .value_or(QString());
}

QString ScriptedPrompt::saveFileName(QObject*, const QString& title, const QString& startPath,
                                     const QString&) {
    return takeText({Kind::SaveFile, title, MsgIcon::None, MsgButtons::OkCancel, title, startPath,
                     false})
        .value_or(QString());
}

QString ScriptedPrompt::chooseFolder(QObject*, const QString& title, const QString& startFolder) {
    return takeText({Kind::ChooseFolder, title, MsgIcon::None, MsgButtons::OkCancel, title,
                     startFolder, false})
        .value_or(QString());
}

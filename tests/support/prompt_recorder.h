// Answers the window's message boxes and dialogs in a test, and keeps what
// was asked. While one is alive no real dialog opens; the destructor puts
// the real dialogs back.
#pragma once

#include "app/user_prompts.h"

#include <QColor>
#include <QList>
#include <QMessageBox>
#include <QString>

namespace wheeltest {

class PromptRecorder
{
public:
    PromptRecorder()
    {
        UserPrompts::Hooks hooks;
        hooks.message = [this](const UserPrompts::Message &message) {
            messages.append(message);
            return message.kind == UserPrompts::MessageKind::Question ? questionAnswer : QMessageBox::Ok;
        };
        hooks.openFile = [this](const UserPrompts::FileRequest &request) {
            fileRequests.append(request);
            return fileAnswer;
        };
        hooks.colour = [this](const QColor &initial) {
            colourInitials.append(initial);
            return colourAnswer;
        };
        UserPrompts::setHooks(hooks);
    }
    ~PromptRecorder() { UserPrompts::setHooks({}); }
    PromptRecorder(const PromptRecorder &) = delete;
    PromptRecorder &operator=(const PromptRecorder &) = delete;

    // "Title: text" of every message box so far, in order.
    QStringList shown() const
    {
        QStringList lines;
        for (const UserPrompts::Message &message : messages)
            lines.append(message.title + QStringLiteral(": ") + message.text);
        return lines;
    }
    void clear()
    {
        messages.clear();
        fileRequests.clear();
        colourInitials.clear();
    }

    // What the next question box, file dialog and colour dialog answer.
    QMessageBox::StandardButton questionAnswer = QMessageBox::No;
    QString fileAnswer;
    QColor colourAnswer; // invalid: cancelled

    QList<UserPrompts::Message> messages;
    QList<UserPrompts::FileRequest> fileRequests;
    QList<QColor> colourInitials;
};

} // namespace wheeltest

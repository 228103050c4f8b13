#pragma once

#include "dialogs.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

namespace hgt::test {

// Scripted dialogs: every message is recorded, file choices come from a queue (nothing queued
// means cancel), and a hook can act while a message box would be open.
class FakeDialogs : public Dialogs {
public:
    void message(QWidget*, const QString& text) override
    {
        messages << text;
        if (onMessage)
            onMessage(text);
    }

    std::optional<QString> openFile(QWidget*, const QString& initialSelection) override
    {
        openFileOffered << initialSelection;
        if (onOpenFile)
            onOpenFile();
        return next(fileAnswers);
    }

    QStringList messages;
    std::function<void(const QString&)> onMessage;
    std::function<void()> onOpenFile;
    std::deque<std::optional<QString>> fileAnswers;
    QStringList openFileOffered;

private:
    static std::optional<QString> next(std::deque<std::optional<QString>>& answers)
    {
        if (answers.empty())
            return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

} // namespace hgt::test

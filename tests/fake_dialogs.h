#pragma once

#include "app/dialogs.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace hgt::test {

// Scripted dialogs: every message is recorded, file and folder choices come from a script (nothing
// left means cancel), and a hook can act while a message box would be open.
class FakeDialogs : public Dialogs {
public:
    void message(QWidget*, const QString& text) override
    {
        messages << text;
        if (onMessage)
            onMessage(text);
    }

    std::optional<QString> openFile(QWidget*, const QString& initialSelection, const QStringList& nameFilters) override
    {
        openFileOffered << initialSelection;
        openFileFilters = nameFilters;
        if (onOpenFile)
            onOpenFile();
        return next(fileAnswers);
    }

    std::optional<QString> saveFile(QWidget*, const QString& title, const QString& suggestedPath,
                                    const QStringList& nameFilters) override
    {
        saveTitles << title;
        saveOffered << suggestedPath;
        saveFilters = nameFilters;
        return next(saveAnswers);
    }

    std::optional<int> wholeNumber(QWidget*, const QString& title, const QString& label, int value, int minimum,
                                   int maximum) override
    {
        numberTitles << title;
        numberLabels << label;
        numberOffered.push_back(value);
        numberRange = {minimum, maximum};
        if (numberAnswers.empty())
            return std::nullopt;
        const std::optional<int> answer = numberAnswers.front();
        numberAnswers.erase(numberAnswers.begin());
        return answer;
    }

    std::optional<QString> editableChoice(QWidget*, const QString& title, const QString&, const QStringList& choices,
                                          const QString& value) override
    {
        choiceTitles << title;
        choicesOffered = choices;
        choiceValues << value;
        return next(choiceAnswers);
    }

    void about(QWidget*, const QString& title, const QString& text) override
    {
        aboutTitles << title;
        aboutTexts << text;
    }

    std::optional<QString> chooseFolder(QWidget*, const QString& title, const QString& initialSelection) override
    {
        folderTitles << title;
        folderOffered << initialSelection;
        if (onChooseFolder)
            onChooseFolder();
        return next(folderAnswers);
    }

    QStringList messages;
    std::function<void(const QString&)> onMessage;
    std::function<void()> onOpenFile;
    QStringList fileAnswers;
    QStringList openFileOffered;
    QStringList openFileFilters;
    QStringList saveAnswers;
    QStringList saveTitles;
    QStringList saveOffered;
    QStringList saveFilters;
    std::vector<std::optional<int>> numberAnswers; // nullopt, or nothing left: cancel
    QStringList numberTitles;
    QStringList numberLabels;
    std::vector<int> numberOffered;
    std::pair<int, int> numberRange{0, 0};
    QStringList choiceAnswers;
    QStringList choiceTitles;
    QStringList choicesOffered;
    QStringList choiceValues;
    QStringList aboutTitles;
    QStringList aboutTexts;
    std::function<void()> onChooseFolder;
    QStringList folderAnswers;
    QStringList folderTitles;
    QStringList folderOffered;

private:
    // A null string in the script, or an exhausted script, is a cancel.
    static std::optional<QString> next(QStringList& answers)
    {
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
        if (answer.isNull())
            return std::nullopt;
        return answer;
    }
};

} // namespace hgt::test

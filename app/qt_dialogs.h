#pragma once

#include "app/dialogs.h"

namespace hgt {

class QtDialogs : public Dialogs {
public:
    void message(QWidget* parent, const QString& text) override;
    std::optional<QString> openFile(QWidget* parent, const QString& initialSelection,
                                    const QStringList& nameFilters) override;
    std::optional<QString> saveFile(QWidget* parent, const QString& title, const QString& suggestedPath,
                                    const QStringList& nameFilters) override;
    std::optional<int> wholeNumber(QWidget* parent, const QString& title, const QString& label, int value, int minimum,
                                   int maximum) override;
    std::optional<QString> editableChoice(QWidget* parent, const QString& title, const QString& label,
                                          const QStringList& choices, const QString& value) override;
    void about(QWidget* parent, const QString& title, const QString& text) override;
    std::optional<QString> chooseFolder(QWidget* owner, const QString& title, const QString& initialSelection) override;
};

} // namespace hgt

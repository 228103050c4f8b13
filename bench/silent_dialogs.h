#pragma once

#include "app/dialogs.h"

#include <optional>

namespace bench {

// Dialogs for benchmarks: message boxes are dismissed at once (the last text kept); nothing is ever chosen.
class SilentDialogs : public hgt::Dialogs {
public:
    void message(QWidget*, const QString& text) override { last = text; }
    std::optional<QString> openFile(QWidget*, const QString&, const QStringList&) override { return std::nullopt; }
    std::optional<QString> saveFile(QWidget*, const QString&, const QString&, const QStringList&) override
    {
        return std::nullopt;
    }
    std::optional<QString> editableChoice(QWidget*, const QString&, const QString&, const QStringList&,
                                          const QString&) override
    {
        return std::nullopt;
    }
    void about(QWidget*, const QString&, const QString&) override {}
    std::optional<QString> chooseFolder(QWidget*, const QString&, const QString&) override { return std::nullopt; }
    std::optional<int> wholeNumber(QWidget*, const QString&, const QString&, int, int, int) override
    {
        return std::nullopt;
    }

    QString last;
};

} // namespace bench

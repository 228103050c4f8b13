#pragma once

#include "app/folder_dialog.h"

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace hgt {

// Every modal dialog the window shows goes through here, so that tests can script them.
class Dialogs : public FolderDialog {
public:
    // A modal box with the one text and an OK button; returns when it is dismissed.
    virtual void message(QWidget* parent, const QString& text) = 0;

    // A file-open dialog offering initialSelection (may be empty) and the name filters, the first
    // of them chosen. The confirmed file, or nothing when the user cancels.
    virtual std::optional<QString> openFile(QWidget* parent, const QString& initialSelection,
                                            const QStringList& nameFilters) = 0;

    // A file-save dialog with a title, offering suggestedPath. The confirmed path, or nothing.
    virtual std::optional<QString> saveFile(QWidget* parent, const QString& title, const QString& suggestedPath,
                                            const QStringList& nameFilters) = 0;

    // A modal box asking for a whole number from minimum to maximum, offering `value`. The confirmed
    // number, or nothing when the user cancels.
    virtual std::optional<int> wholeNumber(QWidget* parent, const QString& title, const QString& label, int value,
                                           int minimum, int maximum) = 0;

    // A modal box asking for a text, offering `choices` in an editable list with `value` in its field.
    // The confirmed text, or nothing when the user cancels.
    virtual std::optional<QString> editableChoice(QWidget* parent, const QString& title, const QString& label,
                                                  const QStringList& choices, const QString& value) = 0;

    // A modal box about the program: a title and a rich text.
    virtual void about(QWidget* parent, const QString& title, const QString& text) = 0;
};

} // namespace hgt

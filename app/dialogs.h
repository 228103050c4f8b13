#pragma once

#include "platform/folder_dialog.h"

#include <QString>

#include <optional>

class QWidget;

namespace hgt {

// Every modal dialog the window shows goes through here, so that tests can script them.
class Dialogs : public FolderDialog {
public:

    // A modal box with the one text and an OK button; returns when it is dismissed.
    virtual void message(QWidget* parent, const QString& text) = 0;

    // A file-open dialog with the platform's defaults, offering initialSelection (may be empty).
    // The confirmed file, or nothing when the user cancels.
    virtual std::optional<QString> openFile(QWidget* parent, const QString& initialSelection) = 0;
};

} // namespace hgt

#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace hgt {

// A modal folder chooser. Tests replace it with a scripted one.
class FolderDialog {
public:
    virtual ~FolderDialog() = default;

    // Shows the title, accepts only folders, starts with initialSelection selected (may be empty).
    // The chosen folder's path, or nothing when the user cancels.
    virtual std::optional<QString> chooseFolder(QWidget* owner, const QString& title,
                                                const QString& initialSelection) = 0;
};

class QtFolderDialog : public FolderDialog {
public:
    std::optional<QString> chooseFolder(QWidget* owner, const QString& title, const QString& initialSelection) override;
};

} // namespace hgt

#pragma once

#include "app/folder_dialog.h"

#include <QString>

#include <functional>

class QWidget;

namespace hgt::ModuleBrowseFolder {

// Lets the user choose a folder in a modal folder dialog that opens with the remembered folder
// selected, asked for through rememberedFolder when the dialog is set up. Returns the chosen
// folder's path; cancel, a choice without a local path and any failure give an empty string.
// Nothing is stored.
QString BrowseFolder(FolderDialog& dialog, QWidget* owner, const QString& title,
                     const std::function<QString()>& rememberedFolder);

} // namespace hgt::ModuleBrowseFolder

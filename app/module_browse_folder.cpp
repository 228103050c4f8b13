#include "app/module_browse_folder.h"

#include <QDir>
#include <QFileInfo>

#include <exception>

namespace hgt::ModuleBrowseFolder {

QString BrowseFolder(FolderDialog& dialog, QWidget* owner, const QString& title,
                     const std::function<QString()>& rememberedFolder)
{
    try {
        const QString initial = rememberedFolder ? rememberedFolder() : QString();
        const std::optional<QString> chosen = dialog.chooseFolder(owner, title, initial);
        if (!chosen || chosen->isEmpty() || !QFileInfo(*chosen).isDir())
            return {};
        return QDir::toNativeSeparators(*chosen);
    } catch (const std::exception&) {
        return {};
    } catch (...) {
        return {};
    }
}

} // namespace hgt::ModuleBrowseFolder

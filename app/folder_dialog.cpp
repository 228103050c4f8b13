#include "app/folder_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace hgt {

std::optional<QString> QtFolderDialog::chooseFolder(QWidget* owner, const QString& title,
                                                    const QString& initialSelection)
{
    QFileDialog dialog(owner, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!initialSelection.isEmpty() && QFileInfo(initialSelection).isDir()) {
        // Open on the folder's parent with the folder itself selected.
        const QFileInfo folder(QDir::cleanPath(initialSelection));
        dialog.setDirectory(folder.absolutePath());
        dialog.selectFile(folder.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace hgt

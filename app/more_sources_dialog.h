#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QListWidget;
class QPushButton;

namespace hgt {

class Dialogs;

// "Optionen → Weitere Sekundärordner …": the ordered list of the sources asked, one after the
// other, for what the window's secondary folder leaves void: folders of HGT tiles or of rasters from
// the folder picker, raster files from the file dialog. The list changes the options only when the
// dialog is confirmed with OK.
class MoreSourcesDialog : public QDialog {
public:
    MoreSourcesDialog(Dialogs& dialogs, const std::vector<std::string>& folders, QWidget* parent);

    std::vector<std::string> folders() const;

    // What the buttons do, on the selected entry.
    void addFolder();
    void addRasterFile();
    void removeFolder();
    void moveUp();
    void moveDown();

    QListWidget* list() const { return m_list; }

private:
    void moveCurrent(int step);
    // The list's entry nearest the user's attention: the selected one, else the last.
    QString nearEntry() const;
    void addEntry(const QString& path);
    void updateButtons();

    Dialogs& m_dialogs;
    QListWidget* m_list;
    QPushButton* m_add;
    QPushButton* m_addRaster;
    QPushButton* m_remove;
    QPushButton* m_up;
    QPushButton* m_down;
};

} // namespace hgt

#pragma once

#include "app/window_options.h"

#include <QDialog>

#include <string>
#include <vector>

class QTableWidget;
class QPushButton;

namespace hgt {

class Dialogs;

// "Optionen → Weitere Sekundärordner …": the ordered list of the sources asked, one after the
// other, for what the window's secondary folder leaves void: folders of HGT tiles or of rasters from
// the folder picker, raster files from the file dialog, each with the vertical datum of its heights
// in a second column (none by default). The list changes the options only when the dialog is
// confirmed with OK.
class MoreSourcesDialog : public QDialog {
public:
    MoreSourcesDialog(Dialogs& dialogs, const std::vector<FurtherSource>& sources, QWidget* parent);

    // The rows in their order.
    std::vector<FurtherSource> sources() const;

    // The column "Höhenbezug" of a row takes what the user typed or picked; anything that is no
    // datum is refused with a message and leaves the entry as it was.
    bool setDatum(int row, const QString& text);

    // What the buttons do, on the selected entry.
    void addFolder();
    void addRasterFile();
    void removeFolder();
    void moveUp();
    void moveDown();

    QTableWidget* list() const { return m_list; }
    void selectRow(int row);

private:
    void moveCurrent(int step);
    // The list's entry nearest the user's attention: the selected one, else the last.
    QString nearEntry() const;
    void addEntry(const QString& path);
    void appendRow(const QString& path, const std::string& datum);
    void updateButtons();

    Dialogs& m_dialogs;
    QTableWidget* m_list;
    QPushButton* m_add;
    QPushButton* m_addRaster;
    QPushButton* m_remove;
    QPushButton* m_up;
    QPushButton* m_down;
};

} // namespace hgt

#pragma once

#include "app/run_record.h"

#include <QDialog>

#include <optional>

class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace hgt {

class Dialogs;
class RunReportModel;

// "Ansicht → Bericht des letzten Laufs": the report of the last run as a table that can be sorted
// by any column, copied (selected rows, tab-separated) and saved as a CSV file. It does not wait
// for the user, so a run goes on while it is open; it follows each run that ends.
class RunReportDialog : public QDialog {
public:
    RunReportDialog(Dialogs& dialogs, QWidget* parent);
    ~RunReportDialog() override;

    void setRecord(const std::optional<RunRecord>& record);
    // Saving asks for a file in a modal dialog, which a run must not wait for.
    void setRunInProgress(bool running);

    // What the buttons and the context menu do.
    void copySelection();
    void save();

    const RunReportModel& model() const { return *m_model; }
    QTableView* table() const { return m_table; }

protected:
    // The table view would copy only its current cell.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Dialogs& m_dialogs;
    RunReportModel* m_model;
    QSortFilterProxyModel* m_sorted;
    QLabel* m_heading;
    QTableView* m_table;
    QPushButton* m_save;
    bool m_hasRecord = false;
    bool m_running = false;
};

} // namespace hgt

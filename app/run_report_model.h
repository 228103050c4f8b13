#pragma once

#include "app/run_record.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>
#include <QString>

namespace hgt {

// The run report as a table: one row per tile in the order the run took them, with how it ended,
// the engine's void counts and its time. Sorting goes by SortRole, which holds numbers as numbers.
class RunReportModel : public QAbstractTableModel {
public:
    enum Column { Number, Tile, End, VoidsFound, VoidsFilled, VoidsLeft, Seconds, Path, ColumnCount };
    static constexpr int SortRole = Qt::UserRole;

    explicit RunReportModel(QObject* parent = nullptr);

    void setRecord(const RunRecord& record);
    const RunRecord& record() const { return m_record; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The text of a cell as shown, copied and saved: integers without grouping, seconds with a
    // decimal comma, as German spreadsheets read them.
    QString cellText(int row, int column) const;
    // The given rows, tab-separated, one line each: what the clipboard gets.
    QString rowsText(const QList<int>& rows) const;
    // The whole report as CSV: UTF-8 with a byte order mark, a header row, ';' between fields,
    // fields with ';', '"' or a line break quoted.
    QByteArray toCsv() const;

private:
    RunRecord m_record;
};

} // namespace hgt

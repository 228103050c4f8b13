#pragma once

#include "app/run_record.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <vector>

namespace hgt {

// The run report as a table: one row per tile in the order the run took them, with how it ended,
// the engine's void counts and its time. Sorting goes by SortRole, which holds numbers as numbers.
// Every report has the columns Number … Path, in that order and at those indices unless more are
// shown: a run that filled from more than one source gets the voids filled from each ("aus
// Quelle 1", "aus Quelle 2", …) after VoidsFilled, and one that measured height offsets gets their
// median, spread and rim samples after VoidsLeft and the engine's warning before Path; one that
// converted heights names the conversions of each tile's sources before Path ("Höhenbezug"). One that
// interpolated, or left voids too far from valid data to interpolate, ends with Interpolated and
// LeftTooFar after Path.
class RunReportModel : public QAbstractTableModel {
public:
    enum Column {
        Number,
        Tile,
        End,
        VoidsFound,
        VoidsFilled,
        VoidsLeft,
        Seconds,
        Path,
        FromSource,
        OffsetMedian,
        OffsetIqr,
        RimSamples,
        Warning,
        Conversions,
        Interpolated,
        LeftTooFar
    };
    static constexpr int SortRole = Qt::UserRole;

    explicit RunReportModel(QObject* parent = nullptr);

    void setRecord(const RunRecord& record);
    const RunRecord& record() const { return m_record; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The index of a column in this report, or -1 when the report does not show it. `source`
    // (from 0) picks the column of one source.
    int columnIndex(Column kind, std::size_t source = 0) const;

    // The text of a cell as shown, copied and saved: integers without grouping, seconds and metres
    // with a decimal comma, as German spreadsheets read them.
    QString cellText(int row, int column) const;
    // The given rows, tab-separated, one line each: what the clipboard gets.
    QString rowsText(const QList<int>& rows) const;
    // The whole report as CSV: UTF-8 with a byte order mark, a header row, ';' between fields,
    // fields with ';', '"' or a line break quoted.
    QByteArray toCsv() const;

private:
    struct ColumnId {
        Column kind;
        std::size_t source = 0;
        friend bool operator==(const ColumnId&, const ColumnId&) = default;
    };

    static std::vector<ColumnId> columnsFor(const RunRecord& record);
    QString cellText(const TileResult& tile, int row, ColumnId column) const;

    RunRecord m_record;
    std::vector<ColumnId> m_columns;
};

} // namespace hgt

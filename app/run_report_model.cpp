#include "app/run_report_model.h"

#include "app/texts.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <limits>

namespace hgt {

namespace {

QString endText(RunKind kind, const TileResult& tile)
{
    switch (tile.end) {
    case RunEnd::Complete:
        return kind == RunKind::Difference ? texts::endDifference : texts::endFilled;
    case RunEnd::NoHoles:
        return texts::endNoHoles;
    case RunEnd::MissingSecondary:
        return texts::endMissingSecondary;
    case RunEnd::Stopped:
        return texts::endStopped;
    case RunEnd::Failed:
        break;
    }
    return texts::endFailed.arg(QString::fromStdString(tile.message()));
}

QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString germanNumber(double value, int decimals)
{
    return QLocale(QLocale::German, QLocale::Germany).toString(value, 'f', decimals);
}

// Offsets in metres with one decimal, as the warning gives them; the median with its sign.
QString signedMetres(double value)
{
    return (value >= 0 ? QStringLiteral("+") : QString()) + germanNumber(value, 1);
}

bool hasMedian(const TileResult& tile)
{
    return tile.offsets && tile.offsets->rimSamples > 0;
}

} // namespace

RunReportModel::RunReportModel(QObject* parent) : QAbstractTableModel(parent) {}

std::vector<RunReportModel::ColumnId> RunReportModel::columnsFor(const RunRecord& record)
{
    std::size_t sources = 0;
    bool offsets = false;
    bool interpolation = false;
    bool converted = false;
    for (const TileResult& tile : record.tiles) {
        converted = converted || !tile.conversions.empty();
        sources = std::max(sources, tile.filledBySource.size());
        offsets = offsets || tile.offsets || !tile.warning.empty();
        interpolation = interpolation || tile.interpolated > 0 || tile.leftTooFar > 0;
    }
    std::vector<ColumnId> columns{{Number}, {Tile}, {End}, {VoidsFound}, {VoidsFilled}};
    if (sources > 1)
        for (std::size_t s = 0; s < sources; ++s)
            columns.push_back({FromSource, s});
    columns.push_back({VoidsLeft});
    if (offsets)
        columns.insert(columns.end(), {{OffsetMedian}, {OffsetIqr}, {RimSamples}});
    columns.push_back({Seconds});
    if (offsets)
        columns.push_back({Warning});
    if (converted)
        columns.push_back({Conversions});
    columns.push_back({Path});
    if (interpolation)
        columns.insert(columns.end(), {{Interpolated}, {LeftTooFar}});
    return columns;
}

void RunReportModel::setRecord(const RunRecord& record)
{
    beginResetModel();
    m_record = record;
    m_columns = columnsFor(m_record);
    endResetModel();
}

int RunReportModel::columnIndex(Column kind, std::size_t source) const
{
    const auto found = std::find(m_columns.begin(), m_columns.end(), ColumnId{kind, kind == FromSource ? source : 0});
    return found == m_columns.end() ? -1 : static_cast<int>(found - m_columns.begin());
}

int RunReportModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_record.tiles.size());
}

int RunReportModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QString RunReportModel::cellText(int row, int column) const
{
    if (column < 0 || column >= columnCount())
        return {};
    return cellText(m_record.tiles.at(static_cast<std::size_t>(row)), row, m_columns[static_cast<std::size_t>(column)]);
}

QString RunReportModel::cellText(const TileResult& tile, int row, ColumnId column) const
{
    switch (column.kind) {
    case Number:
        return QString::number(row + 1);
    case Tile:
        return QFileInfo(QString::fromStdString(tile.tile)).fileName();
    case End:
        return endText(m_record.kind, tile);
    case VoidsFound:
        return QString::number(tile.voidsFound);
    case VoidsFilled:
        return QString::number(tile.voidsFilled);
    case VoidsLeft:
        return QString::number(tile.voidsLeft);
    case Seconds:
        return germanNumber(tile.seconds, 2);
    case Path:
        return QString::fromStdString(tile.tile);
    case FromSource:
        // Empty for a tile that never came to filling (no holes, no source, a failure).
        return column.source < tile.filledBySource.size() ? QString::number(tile.filledBySource[column.source])
                                                          : QString();
    case OffsetMedian:
        return hasMedian(tile) ? signedMetres(tile.offsets->median) : QString();
    case OffsetIqr:
        return hasMedian(tile) ? germanNumber(tile.offsets->interquartileRange, 1) : QString();
    case RimSamples:
        return tile.offsets ? QString::number(tile.offsets->rimSamples) : QString();
    case Warning:
        return QString::fromStdString(tile.warning);
    case Conversions:
        return QString::fromStdString(ConversionsText(tile));
    case Interpolated:
        return QString::number(tile.interpolated);
    case LeftTooFar:
        return QString::number(tile.leftTooFar);
    }
    return {};
}

QVariant RunReportModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    const TileResult& tile = m_record.tiles.at(static_cast<std::size_t>(index.row()));
    const ColumnId column = m_columns[static_cast<std::size_t>(index.column())];
    // Cells without a figure sort before every figure.
    constexpr double none = std::numeric_limits<double>::lowest();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return cellText(index.row(), index.column());
    case Qt::TextAlignmentRole:
        if (column.kind == Tile || column.kind == End || column.kind == Warning || column.kind == Conversions
            || column.kind == Path)
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        return int(Qt::AlignRight | Qt::AlignVCenter);
    case SortRole:
        switch (column.kind) {
        case Number:
            return index.row();
        case VoidsFound:
            return qlonglong(tile.voidsFound);
        case VoidsFilled:
            return qlonglong(tile.voidsFilled);
        case VoidsLeft:
            return qlonglong(tile.voidsLeft);
        case Seconds:
            return tile.seconds;
        case FromSource:
            return column.source < tile.filledBySource.size() ? double(tile.filledBySource[column.source]) : none;
        case OffsetMedian:
            return hasMedian(tile) ? tile.offsets->median : none;
        case OffsetIqr:
            return hasMedian(tile) ? tile.offsets->interquartileRange : none;
        case RimSamples:
            return tile.offsets ? double(tile.offsets->rimSamples) : none;
        case Interpolated:
            return qlonglong(tile.interpolated);
        case LeftTooFar:
            return qlonglong(tile.leftTooFar);
        default:
            return cellText(index.row(), index.column());
        }
    default:
        return {};
    }
}

QVariant RunReportModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section < 0 || section >= columnCount())
        return {};
    const ColumnId column = m_columns[static_cast<std::size_t>(section)];
    switch (column.kind) {
    case Number:
        return texts::reportColumnNumber;
    case Tile:
        return texts::reportColumnTile;
    case End:
        return texts::reportColumnEnd;
    case VoidsFound:
        return texts::reportColumnVoidsFound;
    case VoidsFilled:
        return texts::reportColumnVoidsFilled;
    case VoidsLeft:
        return texts::reportColumnVoidsLeft;
    case Seconds:
        return texts::reportColumnSeconds;
    case Path:
        return texts::reportColumnPath;
    case FromSource:
        return texts::reportColumnFromSource.arg(column.source + 1);
    case OffsetMedian:
        return texts::reportColumnOffsetMedian;
    case OffsetIqr:
        return texts::reportColumnOffsetIqr;
    case RimSamples:
        return texts::reportColumnRimSamples;
    case Warning:
        return texts::reportColumnWarning;
    case Conversions:
        return texts::reportColumnConversions;
    case Interpolated:
        return texts::reportColumnInterpolated;
    case LeftTooFar:
        return texts::reportColumnLeftTooFar;
    }
    return {};
}

QString RunReportModel::rowsText(const QList<int>& rows) const
{
    QString text;
    for (int row : rows) {
        QStringList cells;
        for (int column = 0; column < columnCount(); ++column) {
            // A message that spans lines must not break the table it is pasted into.
            QString cell = cellText(row, column);
            cell.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
            cells << cell;
        }
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

QByteArray RunReportModel::toCsv() const
{
    QString text;
    QStringList header;
    for (int column = 0; column < columnCount(); ++column)
        header << csvField(headerData(column, Qt::Horizontal).toString());
    text += header.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    for (int row = 0; row < rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < columnCount(); ++column)
            cells << csvField(cellText(row, column));
        text += cells.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    }
    // The byte order mark tells spreadsheet programs that the file is UTF-8.
    return QByteArrayLiteral("\xEF\xBB\xBF") + text.toUtf8();
}

} // namespace hgt

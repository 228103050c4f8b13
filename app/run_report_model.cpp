#include "app/run_report_model.h"

#include "app/texts.h"

#include <QFileInfo>
#include <QLocale>

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
    return texts::endFailed.arg(QString::fromStdString(tile.message));
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

} // namespace

RunReportModel::RunReportModel(QObject* parent) : QAbstractTableModel(parent) {}

void RunReportModel::setRecord(const RunRecord& record)
{
    beginResetModel();
    m_record = record;
    endResetModel();
}

int RunReportModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_record.tiles.size());
}

int RunReportModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString RunReportModel::cellText(int row, int column) const
{
    const TileResult& tile = m_record.tiles.at(static_cast<std::size_t>(row));
    switch (column) {
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
        return QLocale(QLocale::German, QLocale::Germany).toString(tile.seconds, 'f', 2);
    case Path:
        return QString::fromStdString(tile.tile);
    default:
        return {};
    }
}

QVariant RunReportModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return {};
    const TileResult& tile = m_record.tiles.at(static_cast<std::size_t>(index.row()));
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return cellText(index.row(), index.column());
    case Qt::TextAlignmentRole:
        if (index.column() == Number || (index.column() >= VoidsFound && index.column() <= Seconds))
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case SortRole:
        switch (index.column()) {
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
    static const QString* const headers[ColumnCount] = {
        &texts::reportColumnNumber,      &texts::reportColumnTile,       &texts::reportColumnEnd,
        &texts::reportColumnVoidsFound,  &texts::reportColumnVoidsFilled, &texts::reportColumnVoidsLeft,
        &texts::reportColumnSeconds,     &texts::reportColumnPath};
    return section >= 0 && section < ColumnCount ? *headers[section] : QVariant();
}

QString RunReportModel::rowsText(const QList<int>& rows) const
{
    QString text;
    for (int row : rows) {
        QStringList cells;
        for (int column = 0; column < ColumnCount; ++column) {
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
    for (int column = 0; column < ColumnCount; ++column)
        header << csvField(headerData(column, Qt::Horizontal).toString());
    text += header.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    for (int row = 0; row < rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < ColumnCount; ++column)
            cells << csvField(cellText(row, column));
        text += cells.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    }
    // The byte order mark tells spreadsheet programs that the file is UTF-8.
    return QByteArrayLiteral("\xEF\xBB\xBF") + text.toUtf8();
}

} // namespace hgt

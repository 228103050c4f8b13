#include "app/run_status.h"

#include "app/texts.h"
#include "tiles/tile_format.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace hgt {

void RunStatus::start(std::size_t tileCount)
{
    m_count = tileCount;
    m_index = 0;
    m_name.clear();
    m_sinceStart.start();
    m_sinceShown.invalidate();
}

void RunStatus::tileStarted(std::size_t index, const std::string& tile)
{
    m_index = index;
    m_name = QFileInfo(QString::fromStdString(tile)).fileName();
}

std::optional<QString> RunStatus::progress(std::int32_t posHigh)
{
    if (m_sinceShown.isValid() && m_sinceShown.elapsed() < kIntervalMs)
        return std::nullopt;
    m_sinceShown.start();
    return runningText(m_index + 1, m_count, m_name, percentOfTile(posHigh),
                       static_cast<double>(m_sinceStart.elapsed()) / 1000.0);
}

QString RunStatus::runningText(std::size_t tile, std::size_t count, const QString& name, int percent, double seconds)
{
    return texts::statusRunning.arg(tile).arg(count).arg(name).arg(percent).arg(elapsedText(seconds));
}

QString RunStatus::finishedText(const RunRecord& record)
{
    QStringList parts;
    if (record.kind == RunKind::Difference && record.count(RunEnd::Complete) > 0) {
        parts << texts::countDifference;
    } else if (record.kind != RunKind::Difference) {
        parts << texts::countFilled.arg(record.count(RunEnd::Complete)); // always named, also when 0
    }
    const std::pair<RunEnd, const QString*> others[] = {{RunEnd::NoHoles, &texts::countNoHoles},
                                                        {RunEnd::MissingSecondary, &texts::countMissingSecondary},
                                                        {RunEnd::Stopped, &texts::countStopped},
                                                        {RunEnd::Failed, &texts::countFailed}};
    for (const auto& [end, text] : others)
        if (const std::size_t n = record.count(end); n > 0)
            parts << text->arg(n);
    std::int64_t interpolated = 0;
    for (const TileResult& tile : record.tiles)
        if (tile.end == RunEnd::Complete) // only what was written counts
            interpolated += tile.interpolated;
    if (interpolated > 0)
        parts << texts::countInterpolated.arg(
            QLocale(QLocale::German, QLocale::Germany).toString(qlonglong(interpolated)));
    const QString counts = parts.join(QStringLiteral(", "));
    const QString elapsed = elapsedText(record.seconds);
    if (record.stopped)
        return texts::statusStopped.arg(record.tiles.size()).arg(record.tileCount).arg(counts, elapsed);
    return texts::statusDone.arg(counts, elapsed);
}

QString RunStatus::elapsedText(double seconds)
{
    const auto total = static_cast<long long>(std::max(0.0, std::floor(seconds)));
    const long long hours = total / 3600, minutes = total / 60 % 60, rest = total % 60;
    const QChar zero(u'0');
    if (hours > 0)
        return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, zero).arg(rest, 2, 10, zero);
    return QStringLiteral("%1:%2").arg(minutes).arg(rest, 2, 10, zero);
}

int RunStatus::percentOfTile(std::int32_t posHigh)
{
    const std::int64_t done = std::clamp<std::int64_t>(posHigh + 1, 0, kTileBytes);
    return static_cast<int>(done * 100 / kTileBytes);
}

} // namespace hgt

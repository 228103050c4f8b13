#pragma once

#include "app/run_record.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace hgt {

// The status bar's line: during a run the tile in progress, its percentage and the time since the
// run started; after it one line that sums the run up. While a run is in progress a new line is
// handed out at most every kIntervalMs, so that keeping the status costs nothing.
class RunStatus {
public:
    static constexpr qint64 kIntervalMs = 50;

    void start(std::size_t tileCount);
    void tileStarted(std::size_t index, const std::string& tile);
    // The line to show now, or nothing when the last one is too recent.
    std::optional<QString> progress(std::int32_t posHigh);

    // "Kachel 3 von 30 · N47E013.hgt · 41 % · 0:02"
    static QString runningText(std::size_t tile, std::size_t count, const QString& name, int percent, double seconds);
    // "Fertig: 28 gefüllt, 1 ohne Löcher, 1 Fehler · 0:07", or "Gestoppt nach Kachel 3 von 30: …";
    // a run that interpolated adds e.g. ", 12.345 Löcher interpoliert" to the counts.
    static QString finishedText(const RunRecord& record);
    // m:ss, or h:mm:ss from an hour on.
    static QString elapsedText(double seconds);
    // The share of a tile's bytes that lie before posHigh, in whole percent (0 … 100).
    static int percentOfTile(std::int32_t posHigh);

private:
    std::size_t m_count = 0;
    std::size_t m_index = 0;
    QString m_name;
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceShown;
};

} // namespace hgt

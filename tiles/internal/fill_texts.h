#pragma once

// The fill's own German texts for the user.

#include "tiles/run_result.h"

#include <string>

namespace hgt {

// Above this many metres the median offset hints at sources on different vertical datums.
inline constexpr double kOffsetWarningMetres = 5.0;

// The warning of a tile whose sources sit far apart in height, e.g.
// "Höhenversatz der Quelle: Median +9,3 m – anderes Höhenbezugssystem?"; empty below the threshold.
// With `rasterSource` (a source other than HGT tiles filled voids) it names the usual pair of geoids.
std::string OffsetWarning(const OffsetStats& offsets, bool rasterSource = false);

} // namespace hgt

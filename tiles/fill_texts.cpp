#include "tiles/internal/fill_texts.h"

#include "platform/german_number.h"

#include <cmath>

namespace hgt {

std::string OffsetWarning(const OffsetStats& offsets, bool rasterSource)
{
    if (offsets.rimSamples == 0 || std::fabs(offsets.median) <= kOffsetWarningMetres)
        return {};
    const std::string number = GermanDecimal(offsets.median, 1, true);
    if (rasterSource) // SRTM tiles refer to EGM96, Copernicus rasters to EGM2008
        return "Höhenversatz der Quelle: Median " + number
               + " m – anderes Höhenbezugssystem (z. B. EGM96 und EGM2008)?";
    return "Höhenversatz der Quelle: Median " + number + " m – anderes Höhenbezugssystem?";
}

} // namespace hgt

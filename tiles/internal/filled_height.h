#pragma once

#include "tiles/internal/tile_input.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace hgt {

// A direction for FilledHeight that always steps up.
inline constexpr double kUpwards = std::numeric_limits<double>::infinity();

// The height a filled sample takes: the metres rounded to the nearest whole (halves away from
// zero) within a sample's range, then, since a filled sample must not read as a void, moved a
// metre at a time towards `towards` until it does not.
inline std::int16_t FilledHeight(double metres, const VoidSet& voids, double towards)
{
    auto height = static_cast<std::int16_t>(std::clamp<long>(std::lround(metres), -32768, 32767));
    const int step = towards >= height ? 1 : -1;
    while (voids.isVoid(height))
        height = static_cast<std::int16_t>(height + step);
    return height;
}

} // namespace hgt

#pragma once

// A source's heights converted to the tiles' datum through PROJ, as the engine applies them
// (tiles/tile_source.h). Lives in the raster plugin with PROJ.

#include "platform/error.h"
#include "tiles/tile_source.h"

#include <memory>
#include <string>

namespace hgt {

// A datum the user named that is none: a usage error rather than a failed run.
inline constexpr ErrorKind kUnknownDatum = KindAbove(16);
// A conversion that cannot be made with the grids at hand, or not at all.
inline constexpr ErrorKind kNoConversion = KindAbove(17);

// The conversion of heights in `source` to `tile` (empty: EGM96), checked to be possible with the grids
// at hand; nullptr where both name the same datum.
Result<std::shared_ptr<const HeightConversion>> OpenHeightConversion(const std::string& source,
                                                                     const std::string& tile);

} // namespace hgt

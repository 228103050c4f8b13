#pragma once

#include "tiles/engine.h"
#include "tiles/internal/tile_input.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace hgt {

// A whole tile filled by the offset-bridging method, ready to be written.
struct DeltaFilled {
    std::vector<std::int16_t> samples;
    std::int64_t voidsFound = 0;
    std::int64_t voidsLeft = 0;
    std::vector<std::int64_t> filledBySource;
    OffsetStats offsets;
};

// Fills the voids of the primary from the sources (in priority order, null where a folder lacks the
// tile) and bridges the height offset between primary and filler at every void region: the offsets
// primary - filler on the valid samples around each region (8-connected voids) are interpolated
// smoothly across it and added to the filler. `yield` is called now and then during the work.
Result<DeltaFilled> DeltaFill(const TileInput& primary, const std::vector<GridSource*>& sources, const VoidSet& voids,
                              const std::function<void()>& yield);

// How wide the rim around a void region is, in samples.
inline constexpr int kRimWidth = 3;

} // namespace hgt

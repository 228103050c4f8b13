#pragma once

#include "tiles/run_result.h"
#include "tiles/internal/bit_grid.h"
#include "tiles/internal/fill_texts.h" // OffsetWarning, for the offsets measured here
#include "tiles/internal/tile_input.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace hgt {

// How wide the rim around a void region is, in samples.
inline constexpr int kRimWidth = 3;

// The samples a fill of voids looks at: the voids and the samples within kRimWidth of one (in rows
// and columns), numbered in the tile's order.
NearSamples SamplesNearVoids(const RowBits& voids);

// A tile's voids filled by the offset-bridging method, to be written over the primary's samples.
struct DeltaFilled {
    RowBits voids;
    NearSamples near;
    std::vector<std::int16_t> values; // the output's value of each sample near a void, by rank
    std::int64_t voidsFound = 0;
    std::int64_t voidsLeft = 0;
    std::vector<std::int64_t> filledBySource;
    std::vector<std::uint8_t> fillers; // by rank: 0 not a void, 1 + source index, 0xFF left void
    OffsetStats offsets;

    // Writes the filled voids among samples [first, first + count) into `block`, the primary's
    // bytes of those samples.
    void apply(std::int64_t first, std::uint8_t* block, std::size_t count) const;
};

// Fills the voids of the primary from the sources (in priority order, null where a folder lacks the
// tile) and bridges the height offset between primary and filler at every void region: the offsets
// primary - filler on the valid samples around each region (8-connected voids) are interpolated
// smoothly across it and added to the filler. `yield` is called now and then during the work, on
// the caller's thread; with `useHelper` a second thread shares the work where there is a core for it.
Result<DeltaFilled> DeltaFill(const TileInput& primary, const std::vector<GridSource*>& sources, const VoidSet& voids,
                              const std::function<void()>& yield, bool useHelper);

} // namespace hgt

#pragma once

#include "tiles/internal/delta_fill.h"
#include "tiles/internal/tile_input.h"
#include "tiles/internal/void_interpolation.h"

#include <cstdint>
#include <vector>

namespace hgt {

// A fill's output made whole in memory before the walk writes it: the voids filled from the
// sources (copied, or as the offset-bridging fill left them), then the voids left interpolated,
// with the origin of every sample. Only runs that interpolate or record provenance take this way.
struct PreparedTile {
    std::vector<std::uint8_t> bytes; // the output tile as stored
    std::vector<std::uint8_t> codes; // one provenance code per sample (tile_format.h)
    std::int64_t voidsFound = 0;
    std::int64_t voidsLeft = 0;
    std::vector<std::int64_t> filledBySource;
    std::int64_t interpolated = 0;
    std::int64_t leftTooFar = 0;
};

struct PrepareOptions {
    bool interpolate = false;
    int maxDistance = 100;
    Neighbours neighbours; // the same-grid tiles around, for voids at the edge
};

// `delta`, when given, holds the voids' values the offset-bridging fill made from the sources;
// otherwise each void takes the first source that has a value there.
Result<PreparedTile> PrepareTile(const TileInput& primary, const std::vector<GridSource*>& sources,
                                 const VoidSet& voids, const DeltaFilled* delta, const PrepareOptions& options);

// The neighbours of a tile in its own folder, by the tile name scheme, read only in the windows
// asked for. A neighbour on another grid counts as none; one that cannot be read sets `failure`.
Neighbours FolderNeighbours(const std::string& primaryPath, TileGrid grid, std::optional<Error>& failure);

} // namespace hgt

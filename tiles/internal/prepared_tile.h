#pragma once

#include "tiles/internal/delta_fill.h"
#include "tiles/internal/tile_input.h"
#include "tiles/internal/void_interpolation.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace hgt {

// A fill's output made whole in memory before the walk writes it: the voids filled from the
// sources (copied, or as the offset-bridging fill left them), then the voids left interpolated,
// with the origin of every sample. Only runs that interpolate or record provenance take this way.
struct PreparedTile {
    // The output tile as stored: each sample in the file's (big-endian) byte order. Held as 16-bit
    // words because the interpolation works on the same buffer in host order before it is encoded,
    // so that a 1" tile is held once.
    std::vector<std::int16_t> samples;
    std::vector<std::uint8_t> codes; // one provenance code per sample (tile_format.h)
    std::int64_t voidsFound = 0;
    std::int64_t voidsLeft = 0;
    std::vector<std::int64_t> filledBySource;
    std::int64_t interpolated = 0;
    std::int64_t leftTooFar = 0;

    const std::uint8_t* bytes() const { return reinterpret_cast<const std::uint8_t*>(samples.data()); }
};

struct PrepareOptions {
    bool interpolate = false;
    int maxDistance = 100;
    Neighbours neighbours; // the same-grid tiles around, for voids at the edge
    // Called now and then on the caller's thread; false ends the work early (a stop: the run then
    // writes nothing, so what is left undone does not matter).
    std::function<bool()> proceed;
};

// `delta`, when given, holds the voids' values the offset-bridging fill made from the sources;
// otherwise each void takes the first source that has a value there.
Result<PreparedTile> PrepareTile(const TileInput& primary, const std::vector<GridSource*>& sources,
                                 const VoidSet& voids, const DeltaFilled* delta, const PrepareOptions& options);

// The neighbours of a tile in its own folder, by the tile name scheme, read only in the windows
// asked for. A neighbour on another grid counts as none. One that cannot be read, or whose name
// leads to the tile itself or to the file of another position, is left out: the edge towards it
// is then interpolated from the tile's side alone, and `leftOut` names it with the reason.
struct FolderNeighbourTiles {
    Neighbours neighbours;
    std::shared_ptr<const std::vector<std::string>> leftOut; // filled as the neighbours are asked for
    // The German note for the tile's report; empty when no neighbour was left out.
    std::string note() const;
};
FolderNeighbourTiles FolderNeighbours(const std::string& primaryPath, TileGrid grid);

} // namespace hgt

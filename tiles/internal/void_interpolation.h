#pragma once

#include "tiles/internal/tile_input.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace hgt {

struct InterpolationOptions {
    // A void region is filled only when every one of its samples lies within this many samples of
    // a valid one, counted in chessboard steps (a diagonal step counts one).
    int maxDistance = 100;
    // The share of membrane (slope-flattening) energy mixed into the bending energy: a little keeps
    // the surface from overshooting between steep rims; 0 is the pure minimum-curvature surface.
    double tension = 0.005;
    // Asked about every millisecond of work, within a region too; false ends the interpolation
    // within a fraction of a second: the region being solved and all after it stay void.
    std::function<bool()> proceed;
};

// A rectangle of a tile's samples: rows [row, row + rows), columns [column, column + columns).
struct SampleWindow {
    int row = 0, column = 0, rows = 0, columns = 0;
};

// The neighbouring tiles, asked for the bands along the shared edges only (a whole 1" tile is
// 26 MB). rowStep -1 is the tile to the north, +1 the one to the south; columnStep -1 west, +1 east.
// The answer holds the window's samples row by row, decoded, or nothing where there is no tile.
struct Neighbours {
    std::function<std::optional<std::vector<std::int16_t>>(int rowStep, int columnStep, const SampleWindow&)> window;
};

// The window of a tile held in memory, row by row: for neighbours held whole (tests, small tiles).
std::vector<std::int16_t> WindowOf(const std::vector<std::int16_t>& tile, int side, const SampleWindow& window);

struct InterpolationResult {
    std::int64_t interpolated = 0; // voids given a value
    std::int64_t left = 0;         // voids that stay void
    std::int64_t leftTooFar = 0;   // of those, the ones in regions reaching too far from valid data
};

// Fills the voids of `values` (side * side decoded samples, row 0 the northern edge) that no
// source covered with a minimum-curvature surface through the valid samples around each void
// region (8-connected). Valid samples never change. A region that touches the tile's edge takes
// its rim from the neighbours where they are given, so that two neighbouring tiles fill a void
// across their seam with the same values on the shared line; without a neighbour the surface
// ends freely at the edge. `marks`, when given (side * side bytes), is set to 1 at every sample
// that was filled. Values of another size than side * side are left alone.
InterpolationResult InterpolateVoids(std::vector<std::int16_t>& values, int side, const VoidSet& voids,
                                     const InterpolationOptions& options, const Neighbours& neighbours,
                                     std::uint8_t* marks = nullptr);

} // namespace hgt

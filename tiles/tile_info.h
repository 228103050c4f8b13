#pragma once

// Looking at a tile without changing it: its figures, or its samples decoded whole.

#include "platform/error.h"
#include "tiles/tile_format.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hgt {

// What a tile holds, for looking at it without changing it.
struct TileInfo {
    std::string path;
    std::int64_t bytes = 0;
    std::int64_t side = 0;               // samples per row and per column
    std::int64_t voids = 0;              // samples equal to the void marker
    std::optional<std::int16_t> minimum; // of the samples that are not void; absent when all are void
    std::optional<std::int16_t> maximum;
    double mean = 0;
    bool pairAtOddOffsetOnly = false; // the byte pair D8 F1 occurs, but never as a whole sample
};

// Reads a tile once and sums up its samples; `voidValues` are the samples that count as voids.
// Never throws.
Result<TileInfo> InspectTile(const std::string& path, const std::vector<std::int16_t>& voidValues = {kVoidValue});

// A tile's samples, decoded whole: row 0 is the northern edge, column 0 the western edge.
struct TileSamples {
    std::string name; // the tile's name (TileName), e.g. N47E011.hgt
    int side = 0;
    std::vector<std::int16_t> values;
    std::vector<std::int16_t> voidValues{kVoidValue};

    bool isVoid(std::int16_t value) const
    {
        for (std::int16_t v : voidValues)
            if (v == value)
                return true;
        return false;
    }
    std::int16_t at(int row, int column) const
    {
        return values[static_cast<std::size_t>(row) * static_cast<std::size_t>(side)
                      + static_cast<std::size_t>(column)];
    }
};

// Reads a plain or zipped tile of either grid. A difference tile's voids are always -9999; an
// elevation tile's are those of the run. Never throws.
Result<TileSamples> ReadTileSamples(const std::string& path,
                                    const std::vector<std::int16_t>& voidValues = {kVoidValue});

} // namespace hgt

#pragma once

// A tile's rows read a chunk at a time, and worked on in two halves, one of them on a helper thread.

#include "tiles/internal/tile_input.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

namespace hgt {

// The tiles are read this many rows at a time.
inline constexpr std::int64_t kChunkRows = 32;

// Reads rows [begin, end) of a tile of `side` samples a side into `raw`, kChunkRows at a time, and
// hands each chunk to chunk(first row, rows).
template <typename F>
Result<> ForRowChunks(const TileInput& input, std::int64_t side, std::int64_t begin, std::int64_t end,
                      std::vector<std::uint8_t>& raw, F chunk)
{
    raw.resize(static_cast<std::size_t>(kChunkRows * side * 2));
    for (std::int64_t r0 = begin; r0 < end; r0 += kChunkRows) {
        const std::int64_t rows = std::min(kChunkRows, end - r0);
        if (Result<> read = input.readAt(r0 * side * 2, raw.data(), static_cast<std::size_t>(rows * side * 2)); !read)
            return read;
        chunk(r0, rows);
    }
    return {};
}

// Runs work(first row, end row) over the rows of a tile, the first half on a helper thread where
// `helper` says so and a thread is to be had, the second on this one. The first failure in row
// order is returned.
Result<> InHalves(bool helper, std::int64_t rows, const std::function<Result<>(std::int64_t, std::int64_t)>& work);

} // namespace hgt

#pragma once

// The void regions of a tile: its voids joined where they touch, along a side or at a corner.

#include "tiles/internal/bit_grid.h"

#include <algorithm>
#include <cstdint>
#include <deque>

namespace hgt {

// The samples a region's first sample may lie in: rows [top, bottom), columns [left, right).
struct SeedArea {
    std::int64_t top, bottom, left, right;
};

// Takes the 8-connected regions of the set bits of `pending` out of it, one after the other, in
// the grid's order of their first samples (those inside `seeds`; a region reaches outside them
// freely). A region is handed over sample by sample, sample(r, c), in the order a breadth-first
// fill from its first sample meets them, and then closed by regionDone(). The fill keeps only its
// front, so that a region of half a tile takes little memory.
template <typename Sample, typename RegionDone>
void TakeVoidRegions(RowBits& pending, const SeedArea& seeds, Sample sample, RegionDone regionDone)
{
    const std::int64_t rows = pending.rows(), columns = pending.columns();
    struct Point {
        std::int64_t r, c;
    };
    std::deque<Point> front;
    const auto take = [&](std::int64_t r, std::int64_t c) {
        pending.clear(r, c);
        front.push_back({r, c});
        sample(r, c);
    };
    const auto fill = [&](std::int64_t r0, std::int64_t c0) {
        take(r0, c0);
        while (!front.empty()) {
            const Point p = front.front();
            front.pop_front();
            for (std::int64_t r = std::max<std::int64_t>(0, p.r - 1); r <= std::min(rows - 1, p.r + 1); ++r)
                for (std::int64_t c = std::max<std::int64_t>(0, p.c - 1); c <= std::min(columns - 1, p.c + 1); ++c)
                    if (pending.get(r, c))
                        take(r, c);
        }
        regionDone();
    };
    for (std::int64_t row = seeds.top; row < seeds.bottom; ++row) {
        const std::uint64_t* bits = pending.row(row);
        for (std::int64_t w = seeds.left / 64; w * 64 < seeds.right; ++w) {
            // After a region the word is read afresh: the region may have taken more of its bits.
            for (std::uint64_t word = bits[w]; word != 0;) {
                const int bit = std::countr_zero(word);
                if (const std::int64_t c = w * 64 + bit; c >= seeds.left && c < seeds.right)
                    fill(row, c);
                word = bit == 63 ? 0 : bits[w] & (~std::uint64_t{0} << (bit + 1));
            }
        }
    }
}

} // namespace hgt

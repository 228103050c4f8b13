#pragma once

// The void regions of a tile: its voids joined where they touch, along a side or at a corner.

#include "tiles/internal/bit_grid.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hgt {

// The samples a region's first sample may lie in: rows [top, bottom), columns [left, right).
struct SeedArea {
    std::int64_t top, bottom, left, right;
};

// Takes the 8-connected regions of the set bits of `pending` out of it, one after the other, in
// the grid's order of their first samples (those inside `seeds`; a region reaches outside them
// freely). A region is handed over sample by sample, sample(r, c), in the order a breadth-first
// fill from its first sample meets them (looking around each sample row by row, column by
// column), and then closed by regionDone(). The fill keeps little more than its front, so that a
// region of half a tile takes little memory.
template <typename Sample, typename RegionDone>
void TakeVoidRegions(RowBits& pending, const SeedArea& seeds, Sample sample, RegionDone regionDone)
{
    const std::int64_t rows = pending.rows(), columns = pending.columns();
    struct Point {
        std::int64_t r, c;
    };
    // The front of the fill: front[head, end) waits to be looked around; the part before it is
    // dropped once it is the larger part.
    std::vector<Point> front;
    std::size_t head = 0;
    const auto take = [&](std::int64_t r, std::int64_t c) {
        pending.clear(r, c);
        front.push_back({r, c});
        sample(r, c);
    };
    // The pending bits of columns c - 1 to c + 1 of a row, lowest first, for the look around.
    const auto three = [&](std::int64_t r, std::int64_t c) -> unsigned {
        if (c % 64 != 0 && c % 64 != 63)
            return static_cast<unsigned>((pending.row(r)[c / 64] >> (c % 64 - 1)) & 7u);
        const unsigned before = c > 0 && pending.get(r, c - 1), after = c + 1 < columns && pending.get(r, c + 1);
        return before | static_cast<unsigned>(pending.get(r, c)) << 1 | after << 2;
    };
    const auto fill = [&](std::int64_t r0, std::int64_t c0) {
        front.clear();
        head = 0;
        take(r0, c0);
        while (head < front.size()) {
            const Point p = front[head++];
            for (std::int64_t r = std::max<std::int64_t>(0, p.r - 1); r <= std::min(rows - 1, p.r + 1); ++r)
                for (unsigned bits = three(r, p.c); bits != 0; bits &= bits - 1)
                    take(r, p.c - 1 + std::countr_zero(bits));
            if (head > 4096 && 2 * head > front.size()) {
                front.erase(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(head));
                head = 0;
            }
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

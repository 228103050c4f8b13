// The void-region finder against the plainest flood fill: seeds in the grid's order, each region
// grown from a list of its samples by looking around each one row by row, column by column.

#include "tiles/internal/void_regions.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <utility>
#include <vector>

namespace hgt::test {
namespace void_regions_test {

using Regions = std::vector<std::vector<std::pair<std::int64_t, std::int64_t>>>;

Regions PlainRegions(RowBits pending, const SeedArea& seeds)
{
    Regions regions;
    for (std::int64_t r = seeds.top; r < seeds.bottom; ++r)
        for (std::int64_t c = seeds.left; c < seeds.right; ++c) {
            if (!pending.get(r, c))
                continue;
            auto& region = regions.emplace_back(1, std::pair{r, c});
            pending.clear(r, c);
            for (std::size_t i = 0; i < region.size(); ++i) {
                const auto [y0, x0] = region[i];
                for (std::int64_t y = std::max<std::int64_t>(0, y0 - 1); y <= std::min(pending.rows() - 1, y0 + 1); ++y)
                    for (std::int64_t x = std::max<std::int64_t>(0, x0 - 1);
                         x <= std::min(pending.columns() - 1, x0 + 1); ++x)
                        if (pending.get(y, x)) {
                            pending.clear(y, x);
                            region.emplace_back(y, x);
                        }
            }
        }
    return regions;
}

struct RegionRow {
    const char* name;
    std::int64_t rows, columns;
    double share; // of the samples that are voids
    SeedArea seeds;
};

void PrintTo(const RegionRow& row, std::ostream* out)
{
    *out << row.name;
}

class VoidRegions : public ::testing::TestWithParam<RegionRow> {};

TEST_P(VoidRegions, ComeInTheGridsOrderEachInTheOrderOfAPlainFloodFill)
{
    const RegionRow& row = GetParam();
    std::mt19937 random(11);
    std::bernoulli_distribution isVoid(row.share);
    RowBits voids(row.rows, row.columns);
    for (std::int64_t r = 0; r < row.rows; ++r)
        for (std::int64_t c = 0; c < row.columns; ++c)
            if (isVoid(random))
                voids.set(r, c);
    Regions found(1);
    RowBits pending = voids;
    TakeVoidRegions(
        pending, row.seeds, [&](std::int64_t r, std::int64_t c) { found.back().emplace_back(r, c); },
        [&] { found.emplace_back(); });
    found.pop_back();
    EXPECT_EQ(found, PlainRegions(voids, row.seeds));
    EXPECT_FALSE(found.empty());
}

INSTANTIATE_TEST_SUITE_P(Grids, VoidRegions,
                         ::testing::Values(RegionRow{"sparse_across_word_boundaries", 12, 200, 0.2, {0, 12, 0, 200}},
                                           RegionRow{"dense_and_winding", 40, 130, 0.45, {0, 40, 0, 130}},
                                           RegionRow{"one_region_almost_everywhere", 20, 64, 0.8, {0, 20, 0, 64}},
                                           RegionRow{"seeds_in_the_middle_only", 30, 150, 0.3, {10, 20, 60, 70}}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace void_regions_test
} // namespace hgt::test

// The square dilation against its definition: a sample is set when a set sample lies within the
// distance in rows and in columns. Grids of a word and more a row, with bits at word boundaries.

#include "tiles/internal/bit_grid.h"

#include <gtest/gtest.h>

#include <random>

namespace hgt::test {
namespace bit_grid_test {

struct DilationRow {
    const char* name;
    std::int64_t rows, columns;
    int distance;
    double share; // of the samples set before
};

class SquareDilation : public ::testing::TestWithParam<DilationRow> {};

TEST_P(SquareDilation, SetsExactlyTheSamplesWithinTheDistance)
{
    const DilationRow& row = GetParam();
    std::mt19937 random(7);
    std::bernoulli_distribution set(row.share);
    RowBits bits(row.rows, row.columns);
    for (std::int64_t r = 0; r < row.rows; ++r)
        for (std::int64_t c = 0; c < row.columns; ++c)
            if (set(random) || (r == row.rows / 2 && (c == 63 || c == 64)))
                bits.set(r, c);
    RowBits dilated = bits;
    std::int64_t reported = 0;
    DilateSquare(dilated, row.distance, [&](std::int64_t work) { reported += work; });
    for (std::int64_t r = 0; r < row.rows; ++r)
        for (std::int64_t c = 0; c < row.columns; ++c) {
            bool near = false;
            for (std::int64_t y = std::max<std::int64_t>(0, r - row.distance);
                 y <= std::min(row.rows - 1, r + row.distance); ++y)
                for (std::int64_t x = std::max<std::int64_t>(0, c - row.distance);
                     x <= std::min(row.columns - 1, c + row.distance); ++x)
                    near = near || bits.get(y, x);
            ASSERT_EQ(dilated.get(r, c), near) << r << "," << c;
        }
    // Nothing spills into the padding of the rows' last words.
    for (std::int64_t r = 0; r < row.rows; ++r)
        for (std::int64_t c = row.columns; c < dilated.wordsPerRow() * 64; ++c)
            ASSERT_FALSE((dilated.row(r)[c / 64] >> (c % 64)) & 1u) << r << "," << c;
    EXPECT_EQ(reported > 0, row.distance > 0);
}

INSTANTIATE_TEST_SUITE_P(Grids, SquareDilation,
                         ::testing::Values(DilationRow{"none", 9, 70, 0, 0.05}, DilationRow{"one_step", 9, 70, 1, 0.02},
                                           DilationRow{"rim_width_on_a_wide_box", 5, 130, 3, 0.01},
                                           DilationRow{"far_on_a_tall_box", 150, 66, 37, 0.0005},
                                           DilationRow{"beyond_the_grid", 4, 64, 90, 0.01}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace bit_grid_test
} // namespace hgt::test

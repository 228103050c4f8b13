#include "tiles/internal/void_interpolation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hgt {
namespace void_interpolation_test {

using Surface = std::function<double(double row, double column)>;
using Samples = std::vector<std::int16_t>;

Samples Sampled(int side, const Surface& surface, int rowOffset = 0, int columnOffset = 0)
{
    Samples values(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c)
            values[static_cast<std::size_t>(r * side + c)] = static_cast<std::int16_t>(
                std::clamp(std::lround(surface(r + rowOffset, c + columnOffset)), -32768L, 32767L));
    return values;
}

// Voids every sample within `radius` of (row, column), in the tile's own coordinates.
void CutDisk(Samples& values, int side, double row, double column, double radius, std::int16_t marker = kVoidValue)
{
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c)
            if (std::hypot(r - row, c - column) <= radius)
                values[static_cast<std::size_t>(r * side + c)] = marker;
}

const VoidSet kMarkerOnly({kVoidValue});

struct SurfaceCase {
    std::string name;
    Surface surface;
    double row, column, radius; // the void disk
    double tolerance;           // metres from the true surface
};

class SurfaceFill : public ::testing::TestWithParam<SurfaceCase> {};

// The filled disk lies within a metre of the true surface (the rounding of the rim included); at
// the tile's edge, with no neighbour, the surface ends freely and is held by its rim alone. The
// valid samples are not touched; the marks and the counts name exactly the samples that were voids.
TEST_P(SurfaceFill, FollowsTheTrueSurface)
{
    const SurfaceCase& test = GetParam();
    constexpr int kSide = 101;
    const Samples truth = Sampled(kSide, test.surface);
    Samples values = truth;
    CutDisk(values, kSide, test.row, test.column, test.radius);
    const Samples holed = values;
    std::vector<std::uint8_t> marks(values.size());

    const InterpolationResult result = InterpolateVoids(values, kSide, kMarkerOnly, {}, {}, marks.data());

    std::int64_t voids = 0;
    double worst = 0.0;
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (holed[k] == kVoidValue) {
            ++voids;
            worst = std::max(
                worst,
                std::fabs(values[k] - test.surface(static_cast<double>(k / kSide), static_cast<double>(k % kSide))));
            EXPECT_EQ(marks[k], 1) << "sample " << k;
        } else {
            ASSERT_EQ(values[k], holed[k]) << "valid sample " << k << " changed";
            EXPECT_EQ(marks[k], 0) << "sample " << k;
        }
    }
    EXPECT_LE(worst, test.tolerance);
    EXPECT_GT(voids, 50);
    EXPECT_EQ(result.interpolated, voids);
    EXPECT_EQ(result.left, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Surfaces, SurfaceFill,
    ::testing::Values(
        SurfaceCase{"plane", [](double r, double c) { return 500 + 3.2 * r - 1.7 * c; }, 50, 50, 8, 1.0},
        SurfaceCase{"paraboloid",
                    [](double r, double c) { return 2000 - 0.04 * ((r - 45) * (r - 45) + (c - 55) * (c - 55)); }, 50,
                    50, 8, 1.0},
        SurfaceCase{"ridge", [](double r, double c) { return 800 + 600 * std::exp(-std::pow((r - c) / 60.0, 2)); }, 50,
                    50, 6, 1.0},
        SurfaceCase{"plane at the free edge", [](double r, double c) { return 500 + 2.1 * r + 1.3 * c; }, 0, 40, 8,
                    2.0}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (ch == ' ')
                ch = '_';
        return name;
    });

struct ReachCase {
    std::string name;
    int square; // a square void of this many samples a side
    int maxDistance;
    bool filled;
};

class Reach : public ::testing::TestWithParam<ReachCase> {};

// The centre of a square of n voids lies (n + 1) / 2 chessboard steps from the nearest valid sample.
TEST_P(Reach, FillsOrLeavesTheWholeRegion)
{
    const ReachCase& test = GetParam();
    constexpr int kSide = 41;
    const Surface plane = [](double r, double c) { return 100 + r + c; };
    Samples values = Sampled(kSide, plane);
    for (int r = 10; r < 10 + test.square; ++r)
        for (int c = 12; c < 12 + test.square; ++c)
            values[static_cast<std::size_t>(r * kSide + c)] = kVoidValue;
    InterpolationOptions options;
    options.maxDistance = test.maxDistance;
    const InterpolationResult result = InterpolateVoids(values, kSide, kMarkerOnly, options, {});

    const std::int64_t voids = static_cast<std::int64_t>(test.square) * test.square;
    EXPECT_EQ(result.interpolated, test.filled ? voids : 0);
    EXPECT_EQ(result.left, test.filled ? 0 : voids);
    EXPECT_EQ(result.leftTooFar, test.filled ? 0 : voids);
    const auto stillVoid = std::count(values.begin(), values.end(), kVoidValue);
    EXPECT_EQ(stillVoid, test.filled ? 0 : voids) << "a region is filled whole or not at all";
}

INSTANTIATE_TEST_SUITE_P(Squares, Reach,
                         ::testing::Values(ReachCase{"just_within", 8, 4, true}, ReachCase{"just_beyond", 9, 4, false},
                                           ReachCase{"far_beyond", 20, 4, false},
                                           ReachCase{"default_reach", 20, 100, true}),
                         [](const auto& info) { return info.param.name; });

// A tile whose northern half is void keeps it void, not even a band along the valid half.
TEST(VoidInterpolation, LeavesAVoidNorthernHalf)
{
    constexpr int kSide = static_cast<int>(kTileSide3);
    Samples values = Sampled(kSide, [](double r, double c) { return 300 + 0.5 * r + 0.25 * c; });
    const Samples whole = values;
    std::fill(values.begin(), values.begin() + 600 * kSide, kVoidValue);
    const InterpolationResult result = InterpolateVoids(values, kSide, kMarkerOnly, {}, {});

    EXPECT_EQ(result.leftTooFar, 600 * kSide);
    EXPECT_EQ(result.left, 600 * kSide);
    EXPECT_EQ(result.interpolated, 0);
    EXPECT_EQ(std::count(values.begin(), values.begin() + 600 * kSide, kVoidValue), 600 * kSide);
    EXPECT_TRUE(std::equal(values.begin() + 600 * kSide, values.end(), whole.begin() + 600 * kSide));
}

struct SeamCase {
    std::string name;
    int rowStep, columnStep; // where tile B lies from tile A
};

class Seam : public ::testing::TestWithParam<SeamCase> {};

// A void across the seam, filled once in A with B as its neighbour and once in B with A: the line
// both tiles hold gets the same values from either side.
TEST_P(Seam, FillsTheSharedLineAlikeFromBothSides)
{
    const SeamCase& test = GetParam();
    constexpr int kSide = 121;
    const Surface ground = [](double r, double c) {
        return 1500 + 400 * std::sin(r / 23.0) * std::cos(c / 31.0) + 2.5 * c;
    };
    const int offsetR = test.rowStep * (kSide - 1), offsetC = test.columnStep * (kSide - 1);
    Samples a = Sampled(kSide, ground);
    Samples b = Sampled(kSide, ground, offsetR, offsetC);
    // The seam point of the two tiles, in each one's coordinates.
    const double seamR = test.rowStep != 0 ? (test.rowStep > 0 ? kSide - 1 : 0) : 60;
    const double seamC = test.columnStep != 0 ? (test.columnStep > 0 ? kSide - 1 : 0) : 47;
    CutDisk(a, kSide, seamR, seamC, 11);
    CutDisk(b, kSide, seamR - offsetR, seamC - offsetC, 11);
    const auto neighbour = [&](const Samples& other, int rowStep, int columnStep) {
        return Neighbours{
            [&other, rowStep, columnStep](int r, int c, const SampleWindow& window) -> std::optional<Samples> {
                if (r != rowStep || c != columnStep)
                    return std::nullopt;
                return WindowOf(other, kSide, window);
            }};
    };
    const Samples holedA = a, holedB = b;
    const InterpolationResult filledA =
        InterpolateVoids(a, kSide, kMarkerOnly, {}, neighbour(holedB, test.rowStep, test.columnStep));
    const InterpolationResult filledB =
        InterpolateVoids(b, kSide, kMarkerOnly, {}, neighbour(holedA, -test.rowStep, -test.columnStep));
    EXPECT_EQ(filledA.left, 0);
    EXPECT_EQ(filledB.left, 0);

    int shared = 0;
    for (int r = 0; r < kSide; ++r)
        for (int c = 0; c < kSide; ++c) {
            const int rb = r - offsetR, cb = c - offsetC;
            if (rb < 0 || rb >= kSide || cb < 0 || cb >= kSide)
                continue;
            const auto ka = static_cast<std::size_t>(r * kSide + c), kb = static_cast<std::size_t>(rb * kSide + cb);
            if (holedA[ka] != kVoidValue)
                continue;
            ++shared;
            EXPECT_EQ(a[ka], b[kb]) << "shared sample at row " << r << ", column " << c << " of A";
            EXPECT_LE(std::abs(a[ka] - ground(r, c)), 4.0);
        }
    EXPECT_GT(shared, 0);
}

INSTANTIATE_TEST_SUITE_P(Neighbours, Seam,
                         ::testing::Values(SeamCase{"east", 0, 1}, SeamCase{"south", 1, 0}, SeamCase{"north", -1, 0},
                                           SeamCase{"south_east_corner", 1, 1}),
                         [](const auto& info) { return info.param.name; });

// A void on the shared line that the neighbour holds a valid value for takes that value, marked
// and counted like any filled sample; voids behind it are then filled against it.
TEST(VoidInterpolation, TakesTheNeighboursValueOnTheSharedLine)
{
    constexpr int kSide = 31;
    const Surface ground = [](double r, double c) { return 700 + 2 * r + 3 * c; };
    Samples a = Sampled(kSide, ground);
    // The neighbour's copy of the line stands 4 m higher: its values, not an interpolation, must come.
    Samples east = Sampled(kSide, ground, 0, kSide - 1);
    for (int r = 0; r < kSide; ++r)
        east[static_cast<std::size_t>(r * kSide)] =
            static_cast<std::int16_t>(east[static_cast<std::size_t>(r * kSide)] + 4);
    for (int r = 10; r < 14; ++r)
        for (int c = kSide - 3; c < kSide; ++c)
            a[static_cast<std::size_t>(r * kSide + c)] = kVoidValue;
    std::vector<std::uint8_t> marks(a.size());
    const Neighbours neighbours{[&](int r, int c, const SampleWindow& window) -> std::optional<Samples> {
        if (r != 0 || c != 1)
            return std::nullopt;
        return WindowOf(east, kSide, window);
    }};
    const InterpolationResult result = InterpolateVoids(a, kSide, kMarkerOnly, {}, neighbours, marks.data());

    EXPECT_EQ(result.interpolated, 12);
    for (int r = 10; r < 14; ++r) {
        EXPECT_EQ(a[static_cast<std::size_t>(r * kSide + kSide - 1)], east[static_cast<std::size_t>(r * kSide)])
            << "row " << r;
        for (int c = kSide - 3; c < kSide; ++c) {
            EXPECT_EQ(marks[static_cast<std::size_t>(r * kSide + c)], 1);
            EXPECT_NEAR(a[static_cast<std::size_t>(r * kSide + c)], ground(r, c) + 2, 3.0)
                << "row " << r << ", column " << c;
        }
    }
}

struct MarkerCase {
    std::string name;
    std::vector<std::int16_t> voids;
    Surface surface;
};

class NeverAVoid : public ::testing::TestWithParam<MarkerCase> {};

// A surface that passes through a void value inside the hole takes the next value towards the rim.
TEST_P(NeverAVoid, FilledSamplesNeverReadAsVoids)
{
    const MarkerCase& test = GetParam();
    constexpr int kSide = 61;
    const VoidSet voids(test.voids);
    Samples values = Sampled(kSide, test.surface);
    CutDisk(values, kSide, 30, 30, 9, test.voids.front());
    const Samples holed = values;
    const InterpolationResult result = InterpolateVoids(values, kSide, voids, {}, {});
    EXPECT_GT(result.interpolated, 200);
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (holed[k] != test.voids.front())
            continue;
        EXPECT_FALSE(voids.isVoid(values[k])) << "sample " << k << " reads " << values[k];
        const double truth =
            std::clamp(test.surface(static_cast<double>(k / kSide), static_cast<double>(k % kSide)), -32768.0, 32767.0);
        EXPECT_LE(std::fabs(values[k] - truth), 3.0) << "sample " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Markers, NeverAVoid,
                         ::testing::Values(MarkerCase{"bowl_through_marker",
                                                      {kVoidValue},
                                                      [](double r, double c) {
                                                          return -10030
                                                                 + 0.4 * ((r - 30) * (r - 30) + (c - 30) * (c - 30));
                                                      }},
                                           MarkerCase{"bowl_below_range",
                                                      {kVoidValue, -32768, -32767},
                                                      [](double r, double c) {
                                                          return -32771
                                                                 + 0.6 * ((r - 30) * (r - 30) + (c - 30) * (c - 30));
                                                      }}),
                         [](const auto& info) { return info.param.name; });

// Regions shared out between two threads come out as each one does alone: its values depend on its
// own rim, never on the thread that solved it or on what that thread solved before.
TEST(VoidInterpolation, RegionsComeOutAsEachAlone)
{
    constexpr int kSide = static_cast<int>(kTileSide3);
    const Samples ground = Sampled(
        kSide, [](double r, double c) { return 900 + 250 * std::sin(r / 37.0) + 180 * std::cos(c / 29.0) + 0.3 * r; });
    struct Disk {
        int row, column, radius;
    };
    std::vector<Disk> disks;
    for (int i = 0; i < 64; ++i)
        disks.push_back({40 + i / 8 * 140, 40 + i % 8 * 140 + i % 3 * 11, 8 + i % 7});
    const auto cut = [&](Samples& values, const Disk& disk) {
        for (int r = disk.row - disk.radius; r <= disk.row + disk.radius; ++r)
            for (int c = disk.column - disk.radius; c <= disk.column + disk.radius; ++c)
                if (std::hypot(r - disk.row, c - disk.column) <= disk.radius)
                    values[static_cast<std::size_t>(r * kSide + c)] = kVoidValue;
    };
    Samples together = ground;
    for (const Disk& disk : disks)
        cut(together, disk);
    const Samples holed = together;
    const InterpolationResult all = InterpolateVoids(together, kSide, kMarkerOnly, {}, {});
    ASSERT_GT(all.interpolated, 20000) << "too few voids to share out";

    for (const Disk& disk : disks) {
        Samples alone = ground;
        cut(alone, disk);
        InterpolateVoids(alone, kSide, kMarkerOnly, {}, {});
        int differing = 0;
        for (std::size_t k = 0; k < alone.size(); ++k)
            differing += holed[k] == kVoidValue && alone[k] != ground[k] && alone[k] != together[k];
        EXPECT_EQ(differing, 0) << "disk at row " << disk.row << ", column " << disk.column;
    }
}

struct StopCase {
    std::string name;
    bool manyRegions;                // 900 squares of 1,600 voids, or one square of 40 % of the tile
    std::chrono::milliseconds after; // the first answer after this long is a stop
};

class Stop : public ::testing::TestWithParam<StopCase> {};

// A stop ends the interpolation of a 1" tile within a fraction of a second, whichever part of it
// is running, even inside one huge region; a region it interrupts stays void as a whole, and the
// counts name exactly the samples that were filled.
TEST_P(Stop, EndsPromptly)
{
    using Clock = std::chrono::steady_clock;
    const StopCase& test = GetParam();
    constexpr int kSide = static_cast<int>(kTileSide);
    Samples values =
        Sampled(kSide, [](double r, double c) { return 800 + 300 * std::sin(r / 400.0) * std::cos(c / 350.0); });
    const auto cut = [&](int row, int column, int size) {
        for (int r = row; r < row + size; ++r)
            std::fill_n(values.begin() + static_cast<std::ptrdiff_t>(r) * kSide + column, size, kVoidValue);
    };
    if (test.manyRegions) {
        for (int r = 0; r < 30; ++r)
            for (int c = 0; c < 30; ++c)
                cut(20 + 120 * r, 20 + 120 * c, 40);
    } else {
        cut(661, 661, 2278);
    }
    const Samples holed = values;
    InterpolationOptions options;
    options.maxDistance = 10000;
    std::optional<Clock::time_point> stopped;
    int askedAfterStop = 0;
    const Clock::time_point start = Clock::now();
    options.proceed = [&] {
        if (stopped) {
            ++askedAfterStop;
            return false;
        }
        if (Clock::now() - start < test.after)
            return true;
        stopped = Clock::now();
        return false;
    };
    const InterpolationResult result = InterpolateVoids(values, kSide, kMarkerOnly, options, {});
    const Clock::time_point end = Clock::now();

    ASSERT_TRUE(stopped) << "not asked after " << test.after.count() << " ms; ran "
                         << std::chrono::duration<double>(end - start).count() << " s";
    // A millisecond of work between two asks; the bound leaves room for a busy machine.
    // Milliseconds on an idle machine; the bound leaves room for a busy one and the sanitizers.
    EXPECT_LT(end - *stopped, std::chrono::seconds(3));
    EXPECT_EQ(askedAfterStop, 0);
    std::int64_t filled = 0;
    for (std::size_t k = 0; k < values.size(); ++k)
        if (holed[k] == kVoidValue && values[k] != kVoidValue)
            ++filled;
    EXPECT_EQ(filled, result.interpolated);
    if (!test.manyRegions) {
        EXPECT_EQ(result.interpolated, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Moments, Stop,
                         ::testing::Values(StopCase{"before_any_region", false, std::chrono::milliseconds(0)},
                                           StopCase{"inside_a_huge_region", false, std::chrono::milliseconds(1500)},
                                           StopCase{"among_many_regions", true, std::chrono::milliseconds(300)}),
                         [](const auto& info) { return info.param.name; });

} // namespace void_interpolation_test
} // namespace hgt

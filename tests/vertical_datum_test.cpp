// Heights between vertical datums, with PROJ's command-line tool cs2cs as the oracle: real EGM96
// (Debian's egm96_15.gtx) and an EGM2008 grid of a known field that the tests write themselves into a
// PROJ folder of their own, so that nothing hangs on the machine's user folder.

#include "rasters/vertical_datum.h"
#include "tests/support/proj_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using hgt::DatumErrorKind;
using namespace hgt::test;

hgt::VerticalConversion Conversion(const char* source, const char* tile = "egm96")
{
    auto conversion = hgt::VerticalConversion::create(*hgt::ParseVerticalDatum(source), *hgt::ParseVerticalDatum(tile));
    // GoogleTest fails the case that asked, with the message.
    if (!conversion)
        throw std::runtime_error(conversion.error().message);
    return std::move(*conversion);
}

void ExpectShiftsLikeCs2cs(const hgt::VerticalConversion& conversion, const std::string& from, const std::string& to,
                           const std::vector<Point>& points)
{
    std::vector<double> latitudes, longitudes;
    for (const auto& point : points) {
        latitudes.push_back(point.latitude);
        longitudes.push_back(point.longitude);
    }
    const auto shifts = conversion.shiftAt(latitudes, longitudes);
    ASSERT_TRUE(shifts) << shifts.error().message;
    const auto oracle = Cs2cs(from, to, points);
    for (std::size_t i = 0; i < points.size() && i < oracle.size(); ++i)
        EXPECT_NEAR((*shifts)[i], oracle[i], 0.01) << points[i].latitude << ", " << points[i].longitude;
}

class DatumConversion : public testing::Test {
protected:
    static void SetUpTestSuite() { UsePrivateProjFolder("hgt-datum-grids", true); }
};

TEST_F(DatumConversion, EllipsoidalHeightsToEgm96OnTheRealGrid)
{
    const auto conversion = Conversion("ellipsoid");
    EXPECT_FALSE(conversion.isIdentity());
    const std::vector<Point> points{{49, 8}, {49.37, 8.91}, {47.5, 11.25}, {-28.6, -71.4}, {55.2, -2.9}, {0.1, 179.9}};
    ExpectShiftsLikeCs2cs(conversion, "EPSG:4979", "EPSG:4326+5773", points);
    const auto atHeidelberg = conversion.shiftAt(std::vector{49.0}, std::vector{8.0});
    ASSERT_TRUE(atHeidelberg);
    EXPECT_NEAR(atHeidelberg->front(), -48.23, 0.01);
}

TEST_F(DatumConversion, Egm2008ThroughBothGridsToEgm96)
{
    const std::vector<Point> points{{49, 8}, {50.4321, 9.8765}, {46.01, 11.99}, {51.99, 5.01}};
    ExpectShiftsLikeCs2cs(Conversion("egm2008"), "EPSG:4326+3855", "EPSG:4326+5773", points);
    // The other way round, into a tile datum of EGM2008: the sign of the geoid.
    ExpectShiftsLikeCs2cs(Conversion("ellipsoid", "egm2008"), "EPSG:4979", "EPSG:4326+3855", points);
}

TEST_F(DatumConversion, TileSamplesTakeTheShiftOfTheirPlace)
{
    const auto conversion = Conversion("egm2008");
    constexpr int side = 1201;
    const auto shift = conversion.tileShift(49, 8);
    ASSERT_TRUE(shift) << shift.error().message;
    struct Sample {
        int row, column;
    };
    const std::vector<Sample> samples{{0, 0}, {1200, 1200}, {0, 1200}, {1200, 0}, {600, 300}, {17, 1111}};
    std::vector<Point> points;
    for (const auto& sample : samples)
        points.push_back({50.0 - sample.row / 1200.0, 8.0 + sample.column / 1200.0});
    const auto oracle = Cs2cs("EPSG:4326+3855", "EPSG:4326+5773", points);
    ASSERT_EQ(oracle.size(), samples.size());

    std::vector<std::int16_t> heights(side * side, 100);
    heights[17 * side + 1111] = -32768;
    hgt::ApplyShift(*shift, heights, side, std::vector<std::int16_t>{-32768, -9999});
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto [row, column] = samples[i];
        EXPECT_NEAR(hgt::ShiftAtSample(*shift, row, column, side), oracle[i], 0.01) << row << ", " << column;
        if (row == 17) {
            EXPECT_EQ(heights[row * side + column], -32768) << "a void stays a void";
        } else {
            EXPECT_NEAR(heights[row * side + column], 100 + oracle[i], 0.51) << row << ", " << column;
        }
    }
}

TEST_F(DatumConversion, OutsideTheGridIsRefusedNotGuessed)
{
    const auto shift = Conversion("egm2008").tileShift(43, 8);
    ASSERT_FALSE(shift);
    EXPECT_EQ(shift.error().kind, DatumErrorKind::OutsideArea) << shift.error().message;
}

class DatumWithoutGrid : public testing::Test {
protected:
    static void SetUpTestSuite() { UsePrivateProjFolder("hgt-datum-nogrids", false); }
};

TEST_F(DatumWithoutGrid, IsRefusedWhereProjWouldConvertByZero)
{
    // What the refusal guards against: PROJ's own tool leaves the heights as they are.
    const auto silent = Cs2cs("EPSG:4326+3855", "EPSG:4326+5773", {{49, 8}});
    ASSERT_EQ(silent.size(), 1u);
    EXPECT_EQ(silent.front(), 0.0);

    const auto conversion = hgt::VerticalConversion::create(*hgt::ParseVerticalDatum("egm2008"));
    ASSERT_FALSE(conversion);
    EXPECT_EQ(conversion.error().kind, DatumErrorKind::GridMissing);
    EXPECT_EQ(conversion.error().grids, std::vector<std::string>{"us_nga_egm08_25.tif"});
    EXPECT_NE(conversion.error().message.find("us_nga_egm08_25.tif"), std::string::npos) << conversion.error().message;
    const std::string folder = std::string(std::getenv("XDG_DATA_HOME")) + "/proj";
    EXPECT_NE(conversion.error().message.find(folder), std::string::npos) << conversion.error().message;

    // Where PROJ offers a ballpark step that leaves heights as they are beside the grid it lacks.
    const auto ballpark =
        hgt::VerticalConversion::create(*hgt::ParseVerticalDatum("ellipsoid"), *hgt::ParseVerticalDatum("egm2008"));
    ASSERT_FALSE(ballpark);
    EXPECT_EQ(ballpark.error().kind, DatumErrorKind::GridMissing) << ballpark.error().message;

    // A national height system whose geoid grid is not installed either.
    const auto dhhn = hgt::VerticalConversion::create(*hgt::ParseVerticalDatum("EPSG:7837"));
    ASSERT_FALSE(dhhn);
    EXPECT_EQ(dhhn.error().kind, DatumErrorKind::GridMissing) << dhhn.error().message;
}

struct NameCase {
    const char* test;
    const char* name;
    bool accepted;
};

class DatumNames : public testing::TestWithParam<NameCase> {};

TEST_P(DatumNames, AreAcceptedOnlyWithHeights)
{
    const auto datum = hgt::ParseVerticalDatum(GetParam().name);
    EXPECT_EQ(datum.has_value(), GetParam().accepted) << (datum ? datum->definition : datum.error().message);
    if (!datum) {
        EXPECT_EQ(datum.error().kind, DatumErrorKind::NotADatum);
    }
}

INSTANTIATE_TEST_SUITE_P(Vertical, DatumNames,
                         testing::Values(NameCase{"short_name_any_case", "EGM2008", true},
                                         NameCase{"vertical_code", "EPSG:7837", true},
                                         NameCase{"compound_code", "EPSG:4258+7837", true},
                                         NameCase{"projected_compound", "EPSG:25832+7837", true},
                                         NameCase{"geographic_3d", "EPSG:4937", true},
                                         NameCase{"geographic_2d_has_no_heights", "EPSG:4326", false},
                                         NameCase{"projected_has_no_heights", "EPSG:25832", false},
                                         NameCase{"unknown_code", "EPSG:99999999", false},
                                         NameCase{"plain_word", "wgs84", false},
                                         NameCase{"proj_string", "+proj=longlat +geoidgrids=/etc/passwd", false},
                                         NameCase{"file_path", "/etc/passwd", false}, NameCase{"empty", "", false}),
                         [](const auto& info) { return std::string(info.param.test); });

// A shift of the same value at every node, so that the expected height is written down.
struct ShiftCase {
    const char* test;
    std::int16_t height;
    double shift;
    std::vector<std::int16_t> voids;
    std::int16_t expected;
};

class ShiftedHeights : public testing::TestWithParam<ShiftCase> {};

TEST_P(ShiftedHeights, RoundHalfAwayAndStayOffVoids)
{
    const auto& sample = GetParam();
    hgt::TileShift shift;
    shift.shift.assign(hgt::TileShift::kNodes * hgt::TileShift::kNodes, sample.shift);
    // A 3" tile, whose rows the vector loop walks, and a tile of fewer samples than nodes.
    for (const int side : {1201, 2}) {
        std::vector<std::int16_t> heights(side * side, sample.height);
        hgt::ApplyShift(shift, heights, side, sample.voids);
        EXPECT_EQ(heights.front(), sample.expected) << side;
        EXPECT_EQ(heights.back(), sample.expected) << side;
        EXPECT_EQ(heights[side / 2 * side + side / 2], sample.expected) << side;
    }
}

INSTANTIATE_TEST_SUITE_P(Literal, ShiftedHeights,
                         testing::Values(ShiftCase{"half_up", 10, 0.5, {-32768}, 11},
                                         ShiftCase{"half_down", -10, -0.5, {-32768}, -11},
                                         ShiftCase{"zero_half_down", 0, -0.5, {-32768}, -1},
                                         ShiftCase{"below_half", 10, 0.4999, {-32768}, 10},
                                         ShiftCase{"void_kept", -32768, 48.2, {-32768, -9999}, -32768},
                                         ShiftCase{"second_void_kept", -9999, 48.2, {-32768, -9999}, -9999},
                                         ShiftCase{"lands_on_void", -10004, 5, {-32768, -9999}, -9998},
                                         ShiftCase{"lands_on_two_voids", -10004, 5, {-9999, -9998}, -9997},
                                         ShiftCase{"top_clamped", 32760, 10, {-32768}, 32767},
                                         ShiftCase{"top_void_steps_down", 32760, 10, {32767}, 32766},
                                         ShiftCase{"bottom_clamped", -32760, -10, {-9999}, -32768},
                                         ShiftCase{"many_voids", -1, 2, {-32768, -9999, 1, 2, 3}, 4},
                                         ShiftCase{"not_a_number_left_alone", 10, NAN, {-32768}, 10}),
                         [](const auto& info) { return std::string(info.param.test); });

// A shift that grows linearly east and north, which bilinear interpolation reproduces exactly: every
// sample of tiles finer and coarser than the nodes lands where its position says.
TEST(ShiftedTiles, TakeTheShiftOfTheirPosition)
{
    hgt::TileShift shift;
    for (int j = 0; j < hgt::TileShift::kNodes; ++j)
        for (int i = 0; i < hgt::TileShift::kNodes; ++i)
            shift.shift.push_back(50.0 * i + 3.0 * j);
    const double steps = hgt::TileShift::kShiftSteps;
    for (const int side : {2, 3, 7, 61, 1201}) {
        std::vector<std::int16_t> heights(side * side, 0);
        hgt::ApplyShift(shift, heights, side, std::vector<std::int16_t>{-32768});
        int wrong = 0;
        for (int row = 0; row < side; ++row) {
            for (int column = 0; column < side; ++column) {
                const double east = 50 * steps * column / (side - 1);
                const double north = 3 * steps * (side - 1 - row) / (side - 1);
                wrong += std::abs(heights[row * side + column] - (east + north)) > 0.5;
            }
        }
        EXPECT_EQ(wrong, 0) << side << " samples a side";

        // The same tile converted in runs as a fill reads them (a piece of a row, runs across rows,
        // rows of voids alone) gives the same heights.
        std::vector<std::int16_t> pieces(side * side, 0);
        for (int row = 0; row < side; row += 2)
            std::fill_n(pieces.begin() + row * side, side, std::int16_t{-32768});
        std::vector<std::int16_t> whole = pieces;
        hgt::ApplyShift(shift, whole, side, std::vector<std::int16_t>{-32768});
        const hgt::SampleShift inRuns(shift, side, std::vector<std::int16_t>{-32768});
        const std::array<int, 4> runs{1, side - 1, side + 3, 997};
        for (std::size_t at = 0, k = 0; at < pieces.size(); ++k) {
            const std::size_t count = std::min<std::size_t>(runs[k % runs.size()], pieces.size() - at);
            inRuns.apply(static_cast<std::int64_t>(at), std::span(pieces).subspan(at, count));
            at += count;
        }
        EXPECT_EQ(pieces, whole) << side << " samples a side";
    }
}
} // namespace

// Fills from GeoTIFF rasters generated with GDAL, through the adapter the plugin hands out and
// through the command line: mixed with an HGT folder in both orders, with the offset-bridging fill,
// with interpolation, from a raster over part of the tile, and against gdalwarp on a whole 3" tile.

#include "rasters/raster_tile_source.h"
#include "tests/raster_test_support.h"
#include "tests/support/fake_host.h"
#include "tests/test_support.h"
#include "app/window_state.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_source.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace hgt {
namespace raster_fill_test {

using test::Bytes;
using test::TempFolder;

constexpr int kSide = static_cast<int>(kTileSide3);
constexpr double kStep = 1.0 / (kSide - 1);

// The terrain at a node of N47E011's 3" grid, as the raster source takes it from a raster whose pixel
// centres lie on those nodes.
std::int16_t nodeHeight(int r, int c)
{
    // The raster holds the terrain as Float32: that value, rounded.
    return TileHeight(static_cast<float>(Terrain(11 + double(c) / (kSide - 1), 48 - double(r) / (kSide - 1))));
}

bool rasterHole(int r, int c)
{
    return r >= 300 && r < 340 && c >= 500 && c < 560;
}

// N47E011 pixel for node, with a nodata hole; the whole tile plus half a pixel around.
void writeNodeRaster(const std::string& path)
{
    RasterLayout layout =
        Geographic(11 - kStep / 2, 47 - kStep / 2, 12 + kStep / 2, 48 + kStep / 2, kSide - 1, kSide - 1);
    layout.nodata = -32768;
    layout.hole = [](int column, int row) { return rasterHole(row, column); };
    WriteRaster(path, layout);
}

std::int16_t sampleOf(const Bytes& tile, std::int64_t k)
{
    return DecodeSample(tile.data() + 2 * k);
}

// A primary with a void block; an HGT secondary (terrain + 7 m) void over half of it; a raster void
// over another part, so that each order leaves its own pattern.
struct Scene {
    TempFolder folder;
    Bytes primary = Bytes(static_cast<std::size_t>(kTileBytes3));
    Bytes secondary = Bytes(static_cast<std::size_t>(kTileBytes3));

    static bool primaryVoid(int r, int c) { return r >= 280 && r < 360 && c >= 480 && c < 600; }
    static bool secondaryVoid(int r, int c) { return r >= 320 && c >= 540; }

    explicit Scene(int primaryOffset = 0)
    {
        for (int r = 0; r < kSide; ++r)
            for (int c = 0; c < kSide; ++c) {
                const std::int64_t k = static_cast<std::int64_t>(r) * kSide + c;
                const auto height = nodeHeight(r, c);
                EncodeSample(primary.data() + 2 * k,
                             primaryVoid(r, c) ? kVoidValue : static_cast<std::int16_t>(height + primaryOffset));
                EncodeSample(secondary.data() + 2 * k,
                             secondaryVoid(r, c) ? kVoidValue : static_cast<std::int16_t>(height + 7));
            }
        test::writeBytes(folder / "N47E011.hgt", primary);
        test::writeBytes(folder / "hgt/N47E011.hgt", secondary);
        writeNodeRaster(folder / "dem/n47e011.tif");
    }
};

struct OrderCase {
    std::string name;
    bool hgtFirst;
};

void PrintTo(const OrderCase& c, std::ostream* os)
{
    *os << c.name;
}

class RasterAndHgtFolder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(RasterAndHgtFolder, FillInTheOrderGiven)
{
    const OrderCase& c = GetParam();
    Scene scene;
    ASSERT_FALSE(HasFatalFailure());
    Result<std::shared_ptr<const TileSource>> raster = OpenRasterTileSource(scene.folder / "dem");
    ASSERT_TRUE(raster) << raster.error().message;
    const FillSource hgt{scene.folder / "hgt", nullptr};
    const FillSource dem{scene.folder / "dem", *raster};

    RunOptions options;
    options.durable = false;
    options.sources = c.hgtFirst ? std::vector<FillSource>{hgt, dem} : std::vector<FillSource>{dem, hgt};
    WindowState state;
    test::FakeHost host{state};
    const TileResult result = MergeTile(state, host, scene.folder / "N47E011.hgt", "", options);
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();

    const Bytes output = test::readBytes(scene.folder / "Merged/N47E011.hgt");
    ASSERT_EQ(output.size(), scene.primary.size());
    std::int64_t fromHgt = 0, fromRaster = 0;
    for (int r = 280; r < 360; ++r)
        for (int c2 = 480; c2 < 600; ++c2) {
            const bool hgtHas = !Scene::secondaryVoid(r, c2), rasterHas = !rasterHole(r, c2);
            const bool takeHgt = hgtHas && (c.hgtFirst || !rasterHas);
            const bool takeRaster = rasterHas && !takeHgt;
            const std::int16_t expected = takeHgt      ? static_cast<std::int16_t>(nodeHeight(r, c2) + 7)
                                          : takeRaster ? nodeHeight(r, c2)
                                                       : kVoidValue;
            fromHgt += takeHgt;
            fromRaster += takeRaster;
            ASSERT_EQ(sampleOf(output, static_cast<std::int64_t>(r) * kSide + c2), expected) << r << "," << c2;
        }
    const std::vector<std::int64_t> bySource =
        c.hgtFirst ? std::vector<std::int64_t>{fromHgt, fromRaster} : std::vector<std::int64_t>{fromRaster, fromHgt};
    EXPECT_EQ(result.filledBySource, bySource);
    EXPECT_EQ(result.sourceFiles, std::vector<std::string>{scene.folder / "dem/n47e011.tif"});
}

INSTANTIATE_TEST_SUITE_P(RasterFill, RasterAndHgtFolder,
                         ::testing::Values(OrderCase{"HgtFolderFirst", true}, OrderCase{"RasterFirst", false}),
                         [](const auto& info) { return info.param.name; });

// A primary 20 m above the raster: the offset-bridging fill lifts the raster's samples onto it.
TEST(RasterFill, OffsetBridgingFillLiftsTheRasterOntoThePrimary)
{
    Scene scene(20);
    ASSERT_FALSE(HasFatalFailure());
    Result<std::shared_ptr<const TileSource>> raster = OpenRasterTileSource(scene.folder / "dem/n47e011.tif");
    ASSERT_TRUE(raster) << raster.error().message;

    RunOptions options;
    options.durable = false;
    options.method = FillMethod::Delta;
    options.sources = {{scene.folder / "dem/n47e011.tif", *raster}};
    WindowState state;
    test::FakeHost host{state};
    const TileResult result = MergeTile(state, host, scene.folder / "N47E011.hgt", "", options);
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    ASSERT_TRUE(result.offsets);
    EXPECT_NEAR(result.offsets->median, 20.0, 0.5);
    EXPECT_NE(result.warning.find("EGM2008"), std::string::npos) << result.warning;

    const Bytes output = test::readBytes(scene.folder / "Merged/N47E011.hgt");
    for (int r = 280; r < 360; ++r)
        for (int c = 480; c < 600; ++c) {
            const std::int16_t got = sampleOf(output, static_cast<std::int64_t>(r) * kSide + c);
            if (rasterHole(r, c))
                ASSERT_EQ(got, kVoidValue) << r << "," << c;
            else
                ASSERT_NEAR(got, nodeHeight(r, c) + 20, 1) << r << "," << c;
        }
}

// Fills `tile` from the raster source at `path` alone, with what `options` add.
TileResult FillFromRaster(const std::string& tile, const std::string& path, RunOptions options = {})
{
    Result<std::shared_ptr<const TileSource>> raster = OpenRasterTileSource(path);
    if (!raster) {
        ADD_FAILURE() << raster.error().message;
        return {};
    }
    options.durable = false;
    options.sources = {{path, *raster}};
    WindowState state;
    test::FakeHost host(state);
    const TileResult result = MergeTile(state, host, tile, "", options);
    EXPECT_EQ(result.end, RunEnd::Complete) << result.message();
    return result;
}

// A nodata hole of the raster inside the primary's void: interpolation bridges it from the raster's
// samples around it exactly as if they had been the primary's own.
TEST(RasterFill, InterpolationBridgesTheRastersNodataLikeThePrimarysOwnVoids)
{
    Scene scene;
    ASSERT_FALSE(HasFatalFailure());
    RunOptions options;
    options.interpolate = true;
    const TileResult result = FillFromRaster(scene.folder / "N47E011.hgt", scene.folder / "dem/n47e011.tif", options);
    const std::int64_t hole = 40 * 60, block = 80 * 120;
    EXPECT_EQ(result.filledBySource, std::vector<std::int64_t>{block - hole});
    EXPECT_EQ(result.interpolated, hole);
    EXPECT_EQ(result.voidsLeft, 0);

    // The same tile with the raster's samples already in place, interpolated without any source.
    Bytes prefilled = scene.primary;
    for (int r = 280; r < 360; ++r)
        for (int c = 480; c < 600; ++c)
            if (!rasterHole(r, c))
                EncodeSample(prefilled.data() + 2 * (static_cast<std::int64_t>(r) * kSide + c), nodeHeight(r, c));
    test::writeBytes(scene.folder / "alone/N47E011.hgt", prefilled);
    options.durable = false;
    WindowState state;
    test::FakeHost host(state);
    const TileResult alone = MergeTile(state, host, scene.folder / "alone/N47E011.hgt", "", options);
    EXPECT_EQ(alone.interpolated, hole) << alone.message();
    EXPECT_TRUE(test::sameBytes(test::readBytes(scene.folder / "Merged/N47E011.hgt"),
                                test::readBytes(scene.folder / "alone/Merged/N47E011.hgt")));
}

// A raster over the tile's western part only: the voids under it are filled, those east of it stay.
TEST(RasterFill, RasterOverPartOfTheTileFillsOnlyUnderIt)
{
    Scene scene;
    ASSERT_FALSE(HasFatalFailure());
    // Pixel centres on the nodes of columns 0..539.
    WriteRaster(scene.folder / "west/w.tif",
                Geographic(11 - kStep / 2, 47 - kStep / 2, 11 + 539.5 * kStep, 48 + kStep / 2, kSide - 1, kSide - 1));
    ASSERT_FALSE(HasFatalFailure());
    const TileResult result = FillFromRaster(scene.folder / "N47E011.hgt", scene.folder / "west");
    EXPECT_EQ(result.filledBySource, std::vector<std::int64_t>{80 * 60});
    EXPECT_EQ(result.voidsLeft, 80 * 60);
    EXPECT_EQ(result.sourceFiles, std::vector<std::string>{scene.folder / "west/w.tif"});
    const Bytes output = test::readBytes(scene.folder / "Merged/N47E011.hgt");
    for (int r = 280; r < 360; ++r)
        for (int c = 480; c < 600; ++c)
            ASSERT_EQ(sampleOf(output, static_cast<std::int64_t>(r) * kSide + c),
                      c < 540 ? nodeHeight(r, c) : kVoidValue)
                << r << "," << c;
}

// A whole 3" tile of voids filled from a raster whose pixels lie between the tile's nodes: the samples
// are what gdalwarp makes of the raster on the tile's grid (half a sample, 1/2400°, around the degree).
struct WarpFill {
    std::string name;
    RasterLayout layout;
};

void PrintTo(const WarpFill& c, std::ostream* os)
{
    *os << c.name;
}

class FillAgreesWithGdalwarp : public ::testing::TestWithParam<WarpFill> {};

TEST_P(FillAgreesWithGdalwarp, OnAThreeSecondTile)
{
    if (!HaveGdalwarp())
        GTEST_SKIP() << "gdalwarp is not installed (package gdal-bin): nothing to compare with";
    TempFolder folder;
    WriteRaster(folder / "dem/r.tif", GetParam().layout);
    ASSERT_FALSE(HasFatalFailure());
    test::writeBytes(folder / "N47E011.hgt", test::makeTile(kSide, [](auto, auto) { return kVoidValue; }));
    const TileResult result = FillFromRaster(folder / "N47E011.hgt", folder / "dem/r.tif");

    const Bytes output = test::readBytes(folder / "Merged/N47E011.hgt");
    const auto warp = Gdalwarp({folder / "dem/r.tif"}, folder / "warp.tif", *TileOriginOf("N47E011.hgt"), kSide);
    std::int64_t withinOne = 0, withinTwo = 0, valued = 0;
    for (std::size_t k = 0; k < warp.size(); ++k) {
        const std::int16_t ours = sampleOf(output, static_cast<std::int64_t>(k));
        ASSERT_EQ(ours != kVoidValue, warp[k].has_value()) << "sample " << k;
        if (!warp[k])
            continue;
        ++valued;
        withinOne += std::abs(ours - *warp[k]) <= 1;
        withinTwo += std::abs(ours - *warp[k]) <= 2;
    }
    RecordProperty("within_1m", std::to_string(withinOne) + " of " + std::to_string(valued));
    EXPECT_EQ(valued, kTileSide3 * kTileSide3);
    EXPECT_GE(static_cast<double>(withinOne), 0.999 * static_cast<double>(valued));
    EXPECT_EQ(withinTwo, valued);
    EXPECT_EQ(result.voidsFilled, valued);
}

INSTANTIATE_TEST_SUITE_P(
    RasterFill, FillAgreesWithGdalwarp,
    ::testing::Values(WarpFill{"PixelsBetweenTheNodes",
                               Geographic(11 - kStep, 47 - kStep, 12 + kStep, 48 + kStep, kSide - 1, kSide - 1)},
                      WarpFill{"CoarserOffsetGrid", Geographic(10.95, 46.95, 12.05, 48.05, 1000, 1000)}),
    [](const auto& info) { return info.param.name; });

std::string readText(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The command line loads the plugin for a raster -s and names the raster in its report.
TEST(RasterFill, CommandLineReportsTheRasterFiles)
{
    Scene scene;
    ASSERT_FALSE(HasFatalFailure());
    const std::string command = std::string("'") + HGTFILL_CLI + "' fill --json -s '" + (scene.folder / "hgt")
                                + "' -s '" + (scene.folder / "dem") + "' '" + (scene.folder / "N47E011.hgt") + "' > '"
                                + (scene.folder / "out.json") + "' 2> '" + (scene.folder / "err.txt") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << readText(scene.folder / "err.txt");
    const std::string out = readText(scene.folder / "out.json");
    EXPECT_NE(out.find(R"("source_files":[")" + (scene.folder / "dem/n47e011.tif") + R"("])"), std::string::npos)
        << out;
    EXPECT_NE(out.find(R"("end":"filled")"), std::string::npos) << out;

    const std::string text = std::string("'") + HGTFILL_CLI + "' fill -s '" + (scene.folder / "dem") + "' '"
                             + (scene.folder / "N47E011.hgt") + "' > '" + (scene.folder / "out.txt") + "' 2>&1";
    EXPECT_EQ(std::system(text.c_str()), 0) << readText(scene.folder / "out.txt");
    EXPECT_NE(readText(scene.folder / "out.txt").find("; aus " + (scene.folder / "dem/n47e011.tif")), std::string::npos)
        << readText(scene.folder / "out.txt");
}

// A report line names the first five of eight rasters, strips of 150 columns that each give the tile
// values, and counts the rest.
TEST(RasterFill, ReportLineOfManyRastersStaysShort)
{
    TempFolder folder;
    std::string named = "; aus ";
    for (int i = 0; i < 8; ++i) {
        const std::string strip = folder / ("strips/s" + std::to_string(i) + ".tif");
        const double west = 11 - kStep / 2 + i * 150 * kStep, east = i < 7 ? west + 150 * kStep : 12 + kStep / 2;
        WriteRaster(strip, Geographic(west, 47 - kStep / 2, east, 48 + kStep / 2, kSide - 1, kSide - 1));
        named += i == 0 ? strip : i < 5 ? ", " + strip : "";
    }
    ASSERT_FALSE(HasFatalFailure());
    test::writeBytes(folder / "N47E011.hgt", test::makeTile(kSide, [](auto, auto) { return kVoidValue; }));
    const std::string command = std::string("'") + HGTFILL_CLI + "' fill -s '" + (folder / "strips") + "' '"
                                + (folder / "N47E011.hgt") + "' > '" + (folder / "out.txt") + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << readText(folder / "out.txt");
    EXPECT_NE(readText(folder / "out.txt").find(named + " und 3 weitere; "), std::string::npos)
        << readText(folder / "out.txt");
}

// A program without its plugin (or with a file that is none) says so for a raster source, and still
// fills from HGT folders, for which it never looks for the plugin.
struct PluginCase {
    std::string name;
    std::string environment; // HGTFILL_RASTER_PLUGIN, relative to the test folder; empty: unset
    std::string message;
};

void PrintTo(const PluginCase& c, std::ostream* os)
{
    *os << c.name;
}

class WithoutThePlugin : public ::testing::TestWithParam<PluginCase> {};

TEST_P(WithoutThePlugin, RasterSourcesFailWithAReasonAndHgtFoldersStillFill)
{
    const PluginCase& c = GetParam();
    Scene scene;
    ASSERT_FALSE(HasFatalFailure());
    // A copy of the program far from the build tree, where no plugin lies next to it.
    std::filesystem::create_directories(scene.folder / "bin");
    std::filesystem::copy_file(HGTFILL_CLI, scene.folder / "bin/hgtfill-cli-copy");
    const std::string environment = c.environment.empty()
                                        ? "env -u HGTFILL_RASTER_PLUGIN "
                                        : "env HGTFILL_RASTER_PLUGIN='" + (scene.folder / c.environment) + "' ";
    const std::string program = environment + "'" + (scene.folder / "bin/hgtfill-cli-copy") + "' fill -s '";
    const std::string tile = "' '" + (scene.folder / "N47E011.hgt") + "' > '" + (scene.folder / "out.txt") + "' 2>&1";

    const int raster = std::system((program + (scene.folder / "dem") + tile).c_str());
    const std::string said = readText(scene.folder / "out.txt");
    EXPECT_EQ(WEXITSTATUS(raster), 1) << said;
    EXPECT_EQ(said.rfind("hgtfill-cli: Rasterquellen können nicht gelesen werden: ", 0), 0u) << said;
    EXPECT_NE(said.find(c.message), std::string::npos) << said;
    EXPECT_FALSE(std::filesystem::exists(scene.folder / "Merged/N47E011.hgt"));

    const int hgt = std::system((program + (scene.folder / "hgt") + tile).c_str());
    EXPECT_EQ(WEXITSTATUS(hgt), 0) << readText(scene.folder / "out.txt");
    EXPECT_TRUE(std::filesystem::exists(scene.folder / "Merged/N47E011.hgt"));
}

INSTANTIATE_TEST_SUITE_P(RasterFill, WithoutThePlugin,
                         ::testing::Values(PluginCase{"NoneFound", "", "hgtfill_rasters_plugin.so nicht gefunden"},
                                           PluginCase{"NotAPlugin", "N47E011.hgt", "N47E011.hgt: "}),
                         [](const auto& info) { return info.param.name; });

} // namespace raster_fill_test
} // namespace hgt

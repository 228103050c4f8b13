// Raster sources checked against GDAL's own warper: rasters are generated here with GDAL, then the
// samples RasterSource takes must match what gdalwarp makes of the same rasters on the tile's grid.

#include "rasters/raster_source.h"
#include "tests/raster_test_support.h"
#include "tests/test_support.h"
#include "tiles/tile_error.h"
#include "tiles/tile_format.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <optional>
#include <sstream>

namespace hgt {
namespace raster_source_test {

using test::TempFolder;

struct Agreement {
    std::int64_t taken = 0;     // samples RasterSource gave
    std::int64_t withinOne = 0; // of those, within 1 m of gdalwarp
    std::int64_t withinTwo = 0;
    std::int64_t warpOnly = 0; // gdalwarp has a value, RasterSource none
    std::int64_t oursOnly = 0; // the reverse: a value where gdalwarp sees no data
    std::string worst;         // where the first samples beyond 2 m are, for the failure message
};

Agreement Compare(const SourceTileSamples& ours, const std::vector<std::optional<std::int16_t>>& warp)
{
    Agreement a;
    for (std::size_t i = 0; i < warp.size(); ++i) {
        const bool have = ours.values[i] != kVoidValue;
        if (!have) {
            a.warpOnly += warp[i].has_value();
            continue;
        }
        ++a.taken;
        if (!warp[i]) {
            ++a.oursOnly;
            continue;
        }
        const int d = std::abs(ours.values[i] - *warp[i]);
        a.withinOne += d <= 1;
        a.withinTwo += d <= 2;
        if (d > 2 && a.worst.size() < 200)
            a.worst += std::to_string(i / ours.side) + "," + std::to_string(i % ours.side) + ": "
                       + std::to_string(ours.values[i]) + " vs " + std::to_string(*warp[i]) + "; ";
    }
    return a;
}

// One source layout: the files it writes into the folder, the path to open, the tile to take.
struct WarpCase {
    std::string name;
    std::string tile;
    int side = 1201;
    std::function<std::vector<std::string>(const TempFolder&)> write; // writes the rasters, returns gdalwarp's inputs
    std::string sourceFolder; // the source to open, below the folder; empty: gdalwarp's one input
    bool exact = false;       // pixel centres on the tile's nodes: samples equal the terrain
    double minCoverage = 1.0; // share of the tile that must get a value
    std::function<bool(int row, int column)> mustBeVoid; // literal model of the samples left void
};

void PrintTo(const WarpCase& c, std::ostream* os)
{
    *os << c.name;
}

class GdalwarpAgreement : public ::testing::TestWithParam<WarpCase> {};

TEST_P(GdalwarpAgreement, SamplesMatchTheWarperOnTheTileGrid)
{
    if (!HaveGdalwarp())
        GTEST_SKIP() << "gdalwarp is not installed (package gdal-bin): nothing to compare with";
    const WarpCase& c = GetParam();
    TempFolder folder;
    const std::vector<std::string> rasters = c.write(folder);
    ASSERT_FALSE(HasFatalFailure());
    auto source = RasterSource::open(c.sourceFolder.empty() ? rasters.front() : folder / c.sourceFolder);
    ASSERT_TRUE(source) << source.error().message;
    auto tile = source->tileFor(c.tile, c.side);
    ASSERT_TRUE(tile) << tile.error().message;
    ASSERT_TRUE(tile->has_value());
    const SourceTileSamples& ours = **tile;
    ASSERT_EQ(ours.values.size(), static_cast<std::size_t>(c.side) * c.side);
    EXPECT_EQ(ours.files.size(), c.sourceFolder.empty() ? 1u : source->rasterCount())
        << testing::PrintToString(ours.files);

    const auto origin = *TileOriginOf(c.tile);
    const auto warp = Gdalwarp(rasters, folder / "warp.tif", origin, c.side);
    const Agreement a = Compare(ours, warp);
    EXPECT_GE(a.taken, static_cast<std::int64_t>(c.minCoverage * c.side * c.side));
    EXPECT_EQ(a.oursOnly, 0) << "values where gdalwarp sees no data";
    EXPECT_GE(static_cast<double>(a.withinOne), 0.999 * static_cast<double>(a.taken));
    EXPECT_EQ(a.withinTwo, a.taken) << a.worst;

    for (int r = 0; r < c.side; ++r)
        for (int col = 0; col < c.side; ++col) {
            const std::int16_t value = ours.values[static_cast<std::size_t>(r) * c.side + col];
            if (c.mustBeVoid && c.mustBeVoid(r, col) != (value == kVoidValue))
                FAIL() << "sample " << r << "," << col << " is " << value;
            if (c.exact && value != kVoidValue) {
                const double lon = origin.longitude + double(col) / (c.side - 1);
                const double lat = origin.latitude + 1 - double(r) / (c.side - 1);
                // The raster holds the terrain as Float32: that value, rounded.
                ASSERT_EQ(value, TileHeight(static_cast<float>(Terrain(lon, lat)))) << r << "," << col;
            }
        }
}

// The usual layout: area pixels whose centres sit on the nodes, the origin half a pixel off the degree.
std::vector<std::string> AreaHalfPixel(const TempFolder& f, GDALDataType type, bool point)
{
    const double px = 1.0 / 1200;
    RasterLayout layout = Geographic(11 - 1.5 * px, 47 - 1.5 * px, 12 + 1.5 * px, 48 + 1.5 * px, 1200, 1200);
    layout.type = type;
    layout.pointRegistered = point;
    WriteRaster(f / "dem.tif", layout);
    return {f / "dem.tif"};
}

const WarpCase kCases[] = {
    {"AreaRegisteredInt16",
     "N47E011.hgt",
     1201,
     [](const TempFolder& f) { return AreaHalfPixel(f, GDT_Int16, false); },
     "",
     false,
     1.0,
     {}},
    {"AreaRegisteredFloat32Exact",
     "N47E011.hgt",
     1201,
     [](const TempFolder& f) { return AreaHalfPixel(f, GDT_Float32, false); },
     "",
     true,
     1.0,
     {}},
    {"PointRegisteredFloat32Exact",
     "N47E011.hgt",
     1201,
     [](const TempFolder& f) {
         auto files = AreaHalfPixel(f, GDT_Float32, true);
         // The file itself must say point: read raw, its tie point is the first pixel's centre.
         CPLSetThreadLocalConfigOption("GTIFF_POINT_GEO_IGNORE", "TRUE");
         GDALDatasetH ds = GDALOpen(files.front().c_str(), GA_ReadOnly);
         double gt[6];
         GDALGetGeoTransform(ds, gt);
         GDALClose(ds);
         CPLSetThreadLocalConfigOption("GTIFF_POINT_GEO_IGNORE", nullptr);
         EXPECT_NEAR(gt[0], 11 - 1.0 / 1200, 1e-9);
         return files;
     },
     "",
     true,
     1.0,
     {}},
    {"CoarserSourceBilinear",
     "N47E011.hgt",
     1201,
     [](const TempFolder& f) {
         WriteRaster(f / "coarse.tif", Geographic(10.9, 46.9, 12.1, 48.1, 720, 720));
         return std::vector<std::string>{f / "coarse.tif"};
     },
     "",
     false,
     1.0,
     {}},
    {"NodataInsideVoidsExactlyTheHole", "N47E011.hgt", 1201,
     [](const TempFolder& f) {
         const double px = 1.0 / 1200;
         RasterLayout layout = Geographic(11 - 1.5 * px, 47 - 1.5 * px, 12 + 1.5 * px, 48 + 1.5 * px, 1200, 1200);
         layout.nodata = -32767;
         // Pixel (c, r) is the tile's sample (r-1, c-1).
         layout.hole = [](int c, int r) { return r >= 101 && r < 151 && c >= 201 && c < 261; };
         WriteRaster(f / "holes.tif", layout);
         return std::vector<std::string>{f / "holes.tif"};
     },
     "", true, 0.99, [](int r, int c) { return r >= 100 && r < 150 && c >= 200 && c < 260; }},
    {"PartialCoverageIsVoidNotZero", "N47E011.hgt", 1201,
     [](const TempFolder& f) {
         WriteRaster(f / "west.tif", Geographic(10.9, 46.9, 11.4, 48.1, 720, 720));
         return std::vector<std::string>{f / "west.tif"};
     },
     "", false, 0.39, [](int, int c) { return c >= 480; }},
    {"CopernicusLikeTilesFromTheirNeighbours",
     "N50E010.hgt",
     3601,
     [](const TempFolder& f) {
         // Names say nothing and sit in sub folders: the tiles are found by their georeferencing.
         std::vector<std::string> mosaics;
         int k = 0;
         for (int lat : {50, 49}) {
             std::string tiles;
             for (int lon : {10, 11}) {
                 const int columns = lat >= 50 ? 2400 : 3600;
                 RasterLayout layout = Geographic(lon - 0.5 / columns, lat + 0.5 / 3600, lon + 1 - 0.5 / columns,
                                                  lat + 1 + 0.5 / 3600, columns, 3600);
                 const std::string path =
                     f / ("source/sub" + std::to_string(k) + "/x" + std::to_string(7 * k) + ".tif");
                 WriteRaster(path, layout);
                 tiles += " '" + path + "'";
                 ++k;
             }
             // gdalwarp takes its inputs one by one and interpolates across none of their seams; as
             // one mosaic per pixel grid it sees what a sample between two tiles really needs.
             mosaics.push_back(f / ("mosaic" + std::to_string(lat) + ".vrt"));
             EXPECT_EQ(std::system(("gdalbuildvrt -q '" + mosaics.back() + "'" + tiles).c_str()), 0);
         }
         return mosaics;
     },
     "source",
     false,
     1.0,
     {}},
    {"Utm32FromGdalwarp",
     "N47E008.hgt",
     1201,
     [](const TempFolder& f) {
         WriteRaster(f / "geo.tif", Geographic(7.8, 46.8, 9.2, 48.2, 1800, 1800));
         const std::string command = "gdalwarp -q -t_srs EPSG:25832 -tr 40 40 -r bilinear -ot Float32 '" + f / "geo.tif"
                                     + "' '" + f / "utm.tif" + "'";
         EXPECT_EQ(std::system(command.c_str()), 0);
         std::filesystem::remove(f / "geo.tif");
         return std::vector<std::string>{f / "utm.tif"};
     },
     "",
     false,
     1.0,
     {}},
};

INSTANTIATE_TEST_SUITE_P(Layouts, GdalwarpAgreement, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

struct HeightRow {
    std::string name;
    double metres;
    std::int16_t sample;
};
void PrintTo(const HeightRow& row, std::ostream* os)
{
    *os << row.name;
}
class TileHeightRounding : public ::testing::TestWithParam<HeightRow> {};
TEST_P(TileHeightRounding, RoundsClampsAndAvoidsVoidMarkers)
{
    EXPECT_EQ(TileHeight(GetParam().metres), GetParam().sample);
}
INSTANTIATE_TEST_SUITE_P(Heights, TileHeightRounding,
                         ::testing::Values(HeightRow{"HalfAwayFromZeroUp", 2.5, 3},
                                           HeightRow{"HalfAwayFromZeroDown", -2.5, -3},
                                           HeightRow{"JustBelowHalf", 2.4999, 2},
                                           HeightRow{"ClampHigh", 40000.0, 32767},
                                           HeightRow{"ClampLowOffMarker", -40000.0, -32766},
                                           HeightRow{"RoundsOntoVoidMarker", -9998.5, -9998},
                                           HeightRow{"MinusThirtyTwoSevenSixSeven", -32767.2, -32766},
                                           HeightRow{"BesideTheMarkerStays", -9997.6, -9998}),
                         [](const auto& info) { return info.param.name; });

struct NameRow {
    std::string name;
    std::string tile;
    std::optional<std::pair<int, int>> origin;
};
void PrintTo(const NameRow& row, std::ostream* os)
{
    *os << row.name;
}
class TileOriginNames : public ::testing::TestWithParam<NameRow> {};
TEST_P(TileOriginNames, SouthWestCornerFromTheName)
{
    const auto origin = TileOriginOf(GetParam().tile);
    ASSERT_EQ(origin.has_value(), GetParam().origin.has_value());
    if (origin) {
        EXPECT_EQ(origin->latitude, GetParam().origin->first);
        EXPECT_EQ(origin->longitude, GetParam().origin->second);
    }
}
INSTANTIATE_TEST_SUITE_P(Names, TileOriginNames,
                         ::testing::Values(NameRow{"NorthEast", "N47E011.hgt", std::pair{47, 11}},
                                           NameRow{"SouthWestLowerCaseArchive", "s12w077.hgt.zip", std::pair{-12, -77}},
                                           NameRow{"InAFolder", "/data/N00E000.hgt", std::pair{0, 0}},
                                           NameRow{"NotAHemisphere", "X47E011.hgt", std::nullopt},
                                           NameRow{"LetterInDegrees", "N47E1a1.hgt", std::nullopt},
                                           NameRow{"TooShort", "N47E01", std::nullopt}),
                         [](const auto& info) { return info.param.name; });

// A 3" source aligned with the nodes of N47E011, written once for the cases below.
class RasterSourceBasics : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_folder = new TempFolder();
        const double px = 1.0 / 1200;
        WriteRaster(*s_folder / "rasters/dem.tif",
                    Geographic(11 - 0.5 * px, 47 - 0.5 * px, 12 + 0.5 * px, 48 + 0.5 * px, 1200, 1200));
    }
    static void TearDownTestSuite()
    {
        delete s_folder;
        s_folder = nullptr;
    }
    static TempFolder* s_folder;
};
TempFolder* RasterSourceBasics::s_folder = nullptr;

TEST_F(RasterSourceBasics, WantedMaskLooksUpOnlyTheFlaggedSamples)
{
    auto source = RasterSource::open(*s_folder / "rasters");
    ASSERT_TRUE(source) << source.error().message;
    EXPECT_EQ(source->rasterCount(), 1u);
    auto whole = source->tileFor("N47E011.hgt", 1201);
    ASSERT_TRUE(whole && whole->has_value());
    std::vector<std::uint8_t> wanted(1201 * 1201, 0);
    for (int i = 0; i < 1201 * 1201; i += 997)
        wanted[static_cast<std::size_t>(i)] = 1;
    auto some = source->tileFor("N47E011.hgt", 1201, &wanted);
    ASSERT_TRUE(some && some->has_value());
    ASSERT_EQ((*some)->files, std::vector<std::string>{*s_folder / "rasters/dem.tif"});
    for (std::size_t i = 0; i < wanted.size(); ++i)
        ASSERT_EQ((**some).values[i], wanted[i] ? (**whole).values[i] : kVoidValue) << i;
}

TEST_F(RasterSourceBasics, TileOutsideEveryRasterHasNoSource)
{
    auto source = RasterSource::open(*s_folder / "rasters/dem.tif");
    ASSERT_TRUE(source) << source.error().message;
    auto tile = source->tileFor("N45E011.hgt", 1201);
    ASSERT_TRUE(tile);
    EXPECT_FALSE(tile->has_value());
    EXPECT_EQ(source->tileFor("nowhere.hgt", 1201).error().kind, TileErrorKind::NotATile);
}

TEST_F(RasterSourceBasics, OpenRefusesWhatIsNoGeoreferencedRaster)
{
    TempFolder f;
    EXPECT_EQ(RasterSource::open(f / "missing").error().kind, ErrorKind::NotFound);
    test::writeBytes(f / "text.tif", test::Bytes{'n', 'o'});
    EXPECT_EQ(RasterSource::open(f / "text.tif").error().kind, TileErrorKind::NotATile);
    // A raster without georeferencing is skipped; a folder of only those is no source.
    GDALDatasetH plain =
        GDALCreate(GDALGetDriverByName("GTiff"), (f / "plain.tif").c_str(), 4, 4, 1, GDT_Int16, nullptr);
    GDALClose(plain);
    EXPECT_EQ(RasterSource::open(f.path().string()).error().kind, ErrorKind::NotFound);
}

struct LooksRow {
    std::string name;
    std::vector<std::string> files; // created empty, relative to the folder
    std::string path;               // what is asked about, relative to the folder
    bool looks;
};
void PrintTo(const LooksRow& row, std::ostream* os)
{
    *os << row.name;
}
class LooksLikeRasterSource : public ::testing::TestWithParam<LooksRow> {};
TEST_P(LooksLikeRasterSource, ByExtensionAndFolderContents)
{
    TempFolder f;
    for (const auto& file : GetParam().files)
        test::writeBytes(f / file, {});
    EXPECT_EQ(RasterSource::looksLikeRasterSource(f / GetParam().path), GetParam().looks);
}
INSTANTIATE_TEST_SUITE_P(Paths, LooksLikeRasterSource,
                         ::testing::Values(LooksRow{"GeoTiffFile", {"a.TIF"}, "a.TIF", true},
                                           LooksRow{"VrtFile", {"all.vrt"}, "all.vrt", true},
                                           LooksRow{"HgtFile", {"N47E011.hgt"}, "N47E011.hgt", false},
                                           LooksRow{"FolderOfRastersInSubFolders", {"x/y/dem.tif"}, "", true},
                                           LooksRow{"FolderWithTilesToo", {"dem.tif", "N47E011.hgt"}, "", false},
                                           LooksRow{"FolderOfOtherFiles", {"notes.txt"}, "", false},
                                           LooksRow{"Missing", {}, "nothing.tif", false}),
                         [](const auto& info) { return info.param.name; });

} // namespace raster_source_test
} // namespace hgt

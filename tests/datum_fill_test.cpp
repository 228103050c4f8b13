// Fills from sources in another vertical datum, through the command line: the filled heights against
// PROJ's cs2cs at the same places, the refusal of a conversion whose grid is missing, and the same
// datum as the tiles' leaving the fill as it was. PROJ reads a folder of the test's own.

#include "tests/support/proj_folder.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kSide = 1201;   // a 3" tile
constexpr int kLatitude = 49; // N49E008: 48 m between the ellipsoid and EGM96
constexpr int kLongitude = 8;
constexpr int kEvery = 40; // the samples compared with cs2cs: every 40th of every 40th row

// The source's heights in its own datum: smooth hills, whole metres.
std::int16_t SourceHeight(int row, int column)
{
    return static_cast<std::int16_t>(std::lround(400 + 150 * std::sin(row / 97.0) * std::cos(column / 131.0)));
}

void WriteTile(const fs::path& file, const std::vector<std::int16_t>& heights)
{
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    for (const std::int16_t height : heights)
        out.put(static_cast<char>(static_cast<std::uint16_t>(height) >> 8)).put(static_cast<char>(height & 0xff));
}

std::vector<std::int16_t> ReadTile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<std::int16_t> heights;
    for (int high = in.get(), low = in.get(); in; high = in.get(), low = in.get())
        heights.push_back(static_cast<std::int16_t>((high << 8) | low));
    return heights;
}

std::vector<std::int16_t> SourceTile()
{
    std::vector<std::int16_t> heights;
    for (int row = 0; row < kSide; ++row)
        for (int column = 0; column < kSide; ++column)
            heights.push_back(SourceHeight(row, column));
    return heights;
}

// The source as a GeoTIFF on the tile's grid, its georeferencing naming `crs` ("EPSG:4326+3855").
void WriteRaster(const fs::path& file, const std::string& crs)
{
    GDALAllRegister();
    fs::create_directories(file.parent_path());
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), file.c_str(), kSide, kSide, 1, GDT_Int16, nullptr);
    ASSERT_NE(ds, nullptr) << CPLGetLastErrorMsg();
    const double step = 1.0 / (kSide - 1);
    double transform[6] = {kLongitude - step / 2, step, 0, kLatitude + 1 + step / 2, 0, -step};
    GDALSetGeoTransform(ds, transform);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    ASSERT_EQ(OSRSetFromUserInput(srs, crs.c_str()), OGRERR_NONE);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
    std::vector<std::int16_t> heights = SourceTile();
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, kSide, kSide, heights.data(), kSide, kSide,
                           GDT_Int16, 0, 0),
              CE_None);
    GDALClose(ds);
}

// Germany's geoid for DHHN2016 as PROJ wants it (GCG2016.txt, which PROJ reads as a GeoTIFF): a plane
// the test knows, 38 m at 47° N 5.5° E rising to the north-east, on ETRS89 every arc minute.
void WriteGermanGeoid(const fs::path& file)
{
    constexpr double south = 47, west = 5.5, step = 1.0 / 60;
    constexpr int rows = 8 * 60 + 1, columns = 10 * 60 + 1;
    GDALAllRegister();
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), file.c_str(), columns, rows, 1, GDT_Float32, nullptr);
    ASSERT_NE(ds, nullptr) << CPLGetLastErrorMsg();
    double transform[6] = {west - step / 2, step, 0, south + (rows - 1) * step + step / 2, 0, -step};
    GDALSetGeoTransform(ds, transform);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    ASSERT_EQ(OSRSetFromUserInput(srs, "EPSG:4258"), OGRERR_NONE);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
    std::vector<float> heights;
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column)
            heights.push_back(static_cast<float>(38 + 0.6 * (rows - 1 - row) * step + 0.3 * column * step));
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, columns, rows, heights.data(), columns, rows,
                           GDT_Float32, 0, 0),
              CE_None);
    GDALClose(ds);
}

// A folder of the test's own, PROJ's user folder in it (with the test grid, or without); the command
// line and cs2cs run in this environment.
class DatumFill : public testing::Test {
protected:
    void usePrivateProj(bool egm2008)
    {
        m_folder = hgt::test::UsePrivateProjFolder("hgt-datum-fill", egm2008);
        if (egm2008)
            WriteGermanGeoid(m_folder / "proj/GCG2016.txt");
        WriteTile(primary(), std::vector<std::int16_t>(kSide * kSide, -9999)); // a whole void
    }
    void TearDown() override { fs::remove_all(m_folder); }

    fs::path primary() const { return m_folder / "tiles/N49E008.hgt"; }
    fs::path output() const { return m_folder / "tiles/Merged/N49E008.hgt"; }

    // The command line's exit status; its standard and error output in out and err.
    int run(const std::string& arguments)
    {
        const std::string command = std::string("'") + HGTFILL_CLI + "' " + arguments + " '" + primary().string()
                                    + "' > '" + (m_folder / "out").string() + "' 2> '" + (m_folder / "err").string()
                                    + "'";
        const int status = std::system(command.c_str());
        out = read(m_folder / "out");
        err = read(m_folder / "err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    static std::string read(const fs::path& file)
    {
        std::ifstream in(file);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // What cs2cs makes of the compared samples' source heights, from `from` to EGM96.
    static std::vector<double> truth(const std::string& from)
    {
        std::vector<hgt::test::Point> points;
        for (int row = 0; row < kSide; row += kEvery)
            for (int column = 0; column < kSide; column += kEvery)
                points.push_back({kLatitude + 1 - row / (kSide - 1.0), kLongitude + column / (kSide - 1.0),
                                  static_cast<double>(SourceHeight(row, column))});
        return hgt::test::Cs2cs(from, "EPSG:4326+5773", points);
    }

    // The largest distance of the output's compared samples from cs2cs's heights.
    double largestError(const std::string& from) const
    {
        const std::vector<double> expected = truth(from);
        const std::vector<std::int16_t> filled = ReadTile(output());
        EXPECT_EQ(filled.size(), static_cast<std::size_t>(kSide * kSide));
        double largest = 0;
        std::size_t k = 0;
        for (int row = 0; row < kSide; row += kEvery)
            for (int column = 0; column < kSide; column += kEvery, ++k)
                if (k < expected.size() && filled.size() == static_cast<std::size_t>(kSide * kSide))
                    largest = std::max(largest,
                                       std::abs(filled[static_cast<std::size_t>(row * kSide + column)] - expected[k]));
        return std::isnan(largest) ? 1e9 : largest;
    }

    fs::path m_folder;
    std::string out;
    std::string err;
};

struct ConvertedCase {
    const char* name;
    bool raster;           // the source as a GeoTIFF instead of an HGT folder
    const char* rasterCrs; // its georeferencing
    const char* options;   // after the -s
    const char* from;      // the source's datum for cs2cs
    const char* reported;  // the tile line's conversion
    double copyOffAtLeast; // how far the heights taken as they are lie off
};

class ConvertedFill : public DatumFill, public testing::WithParamInterface<ConvertedCase> {};

// A whole void tile has no rim to measure an offset on: only the conversion brings it to the truth.
TEST_P(ConvertedFill, AWholeVoidTileComesWithinHalfAMetreOfTheTruth)
{
    const ConvertedCase& c = GetParam();
    usePrivateProj(true);
    const fs::path source = m_folder / (c.raster ? "dem/source.tif" : "source/N49E008.hgt");
    if (c.raster)
        WriteRaster(source, c.rasterCrs);
    else
        WriteTile(source, SourceTile());
    ASSERT_FALSE(HasFatalFailure());
    const std::string sourceArgument = " -s '" + (c.raster ? source : source.parent_path()).string() + "' ";

    ASSERT_EQ(run("fill" + sourceArgument), 0) << err;
    EXPECT_GT(largestError(c.from), c.copyOffAtLeast);

    ASSERT_EQ(run("fill" + sourceArgument + c.options), 0) << err;
    EXPECT_LE(largestError(c.from), 0.51);
    EXPECT_NE(out.find(std::string("; Quelle 1: ") + c.reported + ";"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    DatumFill, ConvertedFill,
    testing::Values(ConvertedCase{"hgt_folder_in_ellipsoidal_heights", false, "", "--datum ellipsoid", "EPSG:4979",
                                  "WGS 84 (ellipsoidische Höhen) → EGM96", 45},
                    ConvertedCase{"raster_naming_egm2008_in_its_georeferencing", true, "EPSG:4326+3855",
                                  "--tile-datum egm96", "EPSG:4326+3855", "EGM2008 → EGM96", 3},
                    ConvertedCase{"datum_given_over_the_rasters_own", true, "EPSG:4326+5773", "--datum ellipsoid",
                                  "EPSG:4979", "WGS 84 (ellipsoidische Höhen) → EGM96", 45},
                    // A national height system: from ETRS89 heights through the German geoid, then EGM96.
                    ConvertedCase{"hgt_folder_in_dhhn2016_heights", false, "", "--datum EPSG:7837", "EPSG:4258+7837",
                                  "DHHN2016 height → EGM96", 4}),
    [](const testing::TestParamInfo<ConvertedCase>& info) { return info.param.name; });

// The offset-bridging fill measures what is left after the conversion: a void cut out of a converted
// tile comes back as it was, without the warning of another datum that bridging raw ellipsoidal
// heights gives (a 48 m offset).
TEST_F(DatumFill, OffsetBridgingMeasuresWhatIsLeftAfterConversion)
{
    usePrivateProj(false);
    const std::string source = " -s '" + (m_folder / "source").string() + "'";
    WriteTile(m_folder / "source/N49E008.hgt", SourceTile());
    ASSERT_EQ(run("fill" + source + " --datum ellipsoid"), 0) << err;
    const std::vector<std::int16_t> converted = ReadTile(output());
    std::vector<std::int16_t> holed = converted;
    for (int row = 500; row < 700; ++row)
        std::fill_n(holed.begin() + row * kSide + 400, 300, std::int16_t{-9999});
    WriteTile(primary(), holed);
    fs::remove_all(output().parent_path());

    ASSERT_EQ(run("fill --method delta" + source), 0) << err;
    EXPECT_NE(err.find("Höhenversatz der Quelle: Median -48"), std::string::npos) << err;

    ASSERT_EQ(run("fill --method delta" + source + " --datum ellipsoid"), 0) << err;
    EXPECT_EQ(err.find("Höhenversatz"), std::string::npos) << err;
    const std::vector<std::int16_t> filled = ReadTile(output());
    ASSERT_EQ(filled.size(), converted.size());
    int largest = 0;
    for (std::size_t k = 0; k < filled.size(); ++k)
        largest = std::max(largest, std::abs(filled[k] - converted[k]));
    EXPECT_LE(largest, 1);
}

// PROJ would convert by zero without the EGM2008 grid, and a name that is no datum is a usage error
// with the parser's message: either way the run is refused before it makes anything.
TEST_F(DatumFill, ARunThatCannotConvertIsRefusedBeforeAnythingIsWritten)
{
    usePrivateProj(false);
    WriteTile(m_folder / "source/N49E008.hgt", SourceTile());
    const std::string grid = "us_nga_egm08_25.tif (von https://cdn.proj.org/us_nga_egm08_25.tif). Bitte in den "
                             "PROJ-Ordner „"
                             + (m_folder / "proj").string() + "“ legen.";
    const struct {
        const char* options;
        int status;
        std::string says;
    } cases[] = {{" --datum egm2008", 1, grid},
                 {" --datum ellipsoid --tile-datum egm2008", 1, grid},
                 {" --datum EGM08", 2,
                  "Unbekanntes Höhenbezugssystem „EGM08“: erlaubt sind egm96, egm2008, "
                  "ellipsoid oder ein Code wie EPSG:7837 (Hilfe: hgtfill-cli fill --help)"}};
    for (const auto& c : cases) {
        EXPECT_EQ(run("fill -s '" + (m_folder / "source").string() + "'" + c.options), c.status) << c.options;
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(out, "") << c.options;
        EXPECT_FALSE(fs::exists(output().parent_path())) << c.options;
    }
}

// The tiles' own datum named for a source converts nothing: the same bytes as a fill without datums,
// and in JSON the source's entry is null.
TEST_F(DatumFill, TheTilesOwnDatumLeavesTheFillAsItWas)
{
    usePrivateProj(false);
    WriteTile(m_folder / "source/N49E008.hgt", SourceTile());
    const std::string source = " -s '" + (m_folder / "source").string() + "'";
    ASSERT_EQ(run("fill --json" + source), 0) << err;
    EXPECT_EQ(out.find("datums"), std::string::npos) << out;
    const std::vector<std::int16_t> plain = ReadTile(output());
    for (const char* options : {" --datum egm96", " --datum EGM96 --tile-datum egm96", " --datum EPSG:5773"}) {
        ASSERT_EQ(run("fill --json" + source + options), 0) << options << err;
        EXPECT_NE(out.find(R"("datums":[null])"), std::string::npos) << options << out;
        EXPECT_EQ(ReadTile(output()), plain) << options;
    }
}

} // namespace

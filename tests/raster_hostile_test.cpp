// Raster sources made to hurt: VRTs that copy other files, run code or reach the network, heights in
// void markers or feet, rasters far finer than the tile, absurd georeferencing, broken files, and a
// stop in the middle of a read.

#include "rasters/internal/mosaic.h"
#include "rasters/raster_source.h"
#include "tests/raster_test_support.h"
#include "tests/test_support.h"

#include <cpl_conv.h>
#include <gdal.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace hgt {
namespace raster_hostile_test {

using test::TempFolder;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string ReadText(const std::string& path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

void WriteText(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

// N47E011 at 3", one pixel centred on each node: a sample takes exactly its pixel's height.
constexpr double kPx = 1.0 / 1200;

// The one writer of the test rasters: a GeoTIFF of that grid with the heights `value(column, row)`, in
// deflated blocks that GDAL decodes on its worker threads.
void WriteGrid(const std::string& path, const std::function<double(int, int)>& value, GDALDataType type = GDT_Int16,
               const char* unit = nullptr)
{
    GDALAllRegister();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const char* options[] = {"TILED=YES", "COMPRESS=DEFLATE", "BLOCKXSIZE=128", "BLOCKYSIZE=128", nullptr};
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), 1201, 1201, 1, type, (char**)options);
    double gt[6] = {11 - 0.5 * kPx, kPx, 0, 48 + 0.5 * kPx, 0, -kPx};
    GDALSetGeoTransform(ds, gt);
    GDALSetProjection(ds, SRS_WKT_WGS84_LAT_LONG);
    if (unit)
        GDALSetRasterUnitType(GDALGetRasterBand(ds, 1), unit);
    std::vector<double> pixels(1201 * 1201);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = value(static_cast<int>(i % 1201), static_cast<int>(i / 1201));
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, 1201, 1201, pixels.data(), 1201, 1201, GDT_Float64,
                           0, 0),
              CE_None);
    GDALClose(ds);
}

// "open: " or "tile: " and the reason a source refuses, or "filled " and how many samples of the tile got a value.
std::string OpenAndRead(const std::string& path, const std::string& tile, int side)
{
    Result<RasterSource> source = RasterSource::open(path);
    if (!source)
        return "open: " + source.error().message;
    auto samples = source->tileFor(tile, side);
    if (!samples)
        return "tile: " + samples.error().message;
    return "filled " + std::to_string(*samples ? side * side - std::ranges::count((**samples).values, kVoidValue) : 0);
}

// A VRT without pixels of its own: `band` is what its one band holds.
std::string VrtText(const std::string& columns, const std::string& rows, const std::string& srs,
                    const std::string& geoTransform, const std::string& bandAttributes, const std::string& band)
{
    return "<VRTDataset rasterXSize=\"" + columns + "\" rasterYSize=\"" + rows + "\"><SRS>" + srs
           + "</SRS><GeoTransform>" + geoTransform + "</GeoTransform><VRTRasterBand band=\"1\" " + bandAttributes + ">"
           + band + "</VRTRasterBand></VRTDataset>";
}

// Such a VRT of `size` Int16 pixels a side over N47E011 (pixel centres on the nodes for 1201).
std::string Vrt(const std::string& band, const std::string& bandAttributes = {}, int size = 1201, double pixel = kPx)
{
    std::ostringstream gt;
    gt.precision(17);
    gt << 11 - 0.5 * pixel << ", " << pixel << ", 0, " << 48 + 0.5 * pixel << ", 0, " << -pixel;
    const std::string n = std::to_string(size);
    return VrtText(n, n, "EPSG:4326", gt.str(), "dataType=\"Int16\" " + bandAttributes, band);
}

std::string SimpleSource(const std::string& name, const std::string& rects = {})
{
    return "<SimpleSource><SourceFilename relativeToVRT=\"1\">" + name + "</SourceFilename><SourceBand>1</SourceBand>"
           + rects + "</SimpleSource>";
}

struct HostileCase {
    std::string name;
    bool refusedAtOpen; // else when the tile is read
    std::string says;
    std::string file, text; // written beside the source if named; $F: the folder, $URL: a server's
    std::string vrt;        // the source, a.vrt; or when empty, the folder
};

class HostileSources : public ::testing::TestWithParam<HostileCase> {};

// Each is refused with a German reason, at once, without connecting anywhere or running the file's code,
// though the environment allows GDAL Python and HGTFILL_NETWORK is unset. (The time-out set here only
// keeps a connecting build from hanging the test.)
TEST_P(HostileSources, AreRefusedWithoutConnectingOrRunningCode)
{
    const HostileCase& c = GetParam();
    // A loopback port that takes connections into its queue and never answers: what a stuck server does.
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), length) + listen(server, 64)
                  + getsockname(server, reinterpret_cast<sockaddr*>(&address), &length),
              0);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/dem.tif";
    TempFolder f;
    WriteText(f / "secret.txt", std::string(4000, 'x') + "password\n");
    WriteGrid(f / "good.tif", [](int, int) { return 1000; });
    for (auto [name, text] : {std::pair{c.file, c.text}, std::pair{std::string("a.vrt"), c.vrt}}) {
        for (const auto& [key, value] : {std::pair<std::string, std::string>{"$F", f / ""}, {"$URL", url}})
            for (std::size_t at; (at = text.find(key)) != std::string::npos;)
                text.replace(at, key.size(), value);
        if (!name.empty() && !text.empty())
            WriteText(f / name, text);
    }
    setenv("GDAL_VRT_ENABLE_PYTHON", "YES", 1);
    unsetenv("HGTFILL_NETWORK");
    CPLSetConfigOption("GDAL_HTTP_TIMEOUT", "2");
    const auto start = Clock::now();
    const std::string outcome = OpenAndRead(c.vrt.empty() ? f / "" : f / "a.vrt", "N47E011.hgt", 1201);
    CPLSetConfigOption("GDAL_HTTP_TIMEOUT", nullptr);
    unsetenv("GDAL_VRT_ENABLE_PYTHON");
    EXPECT_TRUE(outcome.starts_with(c.refusedAtOpen ? "open: " : "tile: ")) << outcome;
    EXPECT_NE(outcome.find(c.says), std::string::npos) << outcome;
    int connections = 0;
    for (int client; (client = accept(server, nullptr, nullptr)) >= 0; ++connections)
        close(client);
    close(server);
    EXPECT_EQ(connections, 0) << outcome;
    EXPECT_LT(SecondsSince(start), 5.0) << outcome; // a connection attempt would wait for the time-out
    EXPECT_FALSE(std::filesystem::exists(f / "ran")) << "the pixel function ran";
}

const std::string kRaw = Vrt("<SourceFilename>$Fsecret.txt</SourceFilename><PixelOffset>2</PixelOffset>"
                             "<LineOffset>2402</LineOffset>",
                             "subClass=\"VRTRawRasterBand\"");
const std::string kPython = "<PixelFunctionType>run</PixelFunctionType><PixelFunctionLanguage>Python"
                            "</PixelFunctionLanguage><PixelFunctionCode><![CDATA[\ndef run(in_ar, out_ar, *args, "
                            "**kwargs):\n    open('$Fran', 'w').write('x')\n    out_ar[:] = 7\n]]></PixelFunctionCode>";
const std::string kMrf = "<MRF_META><Raster><Size x=\"1201\" y=\"1201\" c=\"1\"/><PageSize x=\"512\" y=\"512\" "
                         "c=\"1\"/><DataType>Int16</DataType><DataFile>/vsicurl/$URL.ppg</DataFile><IndexFile>"
                         "/vsicurl/$URL.idx</IndexFile></Raster></MRF_META>";
const std::string kWms = "<GDAL_WMS><Service name=\"WMS\"><ServerUrl>$URL?</ServerUrl><Layers>x</Layers></Service>"
                         "<Timeout>2</Timeout><DataWindow><UpperLeftX>10</UpperLeftX><UpperLeftY>49</UpperLeftY>"
                         "<LowerRightX>13</LowerRightX><LowerRightY>46</LowerRightY><SizeX>1000</SizeX><SizeY>1000"
                         "</SizeY></DataWindow><BandsCount>1</BandsCount></GDAL_WMS>";

INSTANTIATE_TEST_SUITE_P(
    Rasters, HostileSources,
    ::testing::Values(
        // Beside a good raster in a folder: the folder is refused, not read without it.
        HostileCase{"RawBandInAFolder", true, "roh", "raw.vrt", kRaw, ""},
        HostileCase{"RawBandInANestedVrt", true, "roh", "inner/raw.vrt", kRaw, Vrt(SimpleSource("inner/raw.vrt"))},
        HostileCase{"PythonPixelFunction", true, "Python", "", "",
                    Vrt(kPython + SimpleSource("good.tif"), "subClass=\"VRTDerivedRasterBand\"")},
        HostileCase{"SourceThatIsNotThere", true, "gone.tif", "", "", Vrt(SimpleSource("gone.tif"))},
        HostileCase{"HeightsInAnUnknownUnit", true, "Einheit", "", "",
                    Vrt("<UnitType>furlong</UnitType>" + SimpleSource("good.tif"))},
        HostileCase{"VsicurlSource", true, "Netzwerkadresse", "", "", Vrt(SimpleSource("/vsicurl/$URL"))},
        HostileCase{"PlainUrl", true, "Netzwerkadresse", "", "", Vrt(SimpleSource("$URL"))},
        // Names that only the format's own reader turns into network paths: GDAL's file systems refuse them.
        HostileCase{"MrfWhoseDataLiesOnAServer", false, "Netzwerkadresse", "net.mrf", kMrf,
                    Vrt(SimpleSource("net.mrf"))},
        HostileCase{"WmsDescriptionFile", false, "wms.xml", "wms.xml", kWms, Vrt(SimpleSource("wms.xml"))}),
    [](const auto& info) { return info.param.name; });

struct HeightCase {
    std::string name;
    GDALDataType type;
    const char* unit;                 // nullptr: none
    double value, block;              // every pixel of a.tif but rows and columns 100 to 199, and those
    std::int16_t sample, blockSample; // expected outside the block and inside it
    std::size_t files;                // rasters named: a.tif, and b.tif (all 1 m) where a.tif has voids
};

class SourceHeights : public ::testing::TestWithParam<HeightCase> {};

// A pixel holding a void marker is a void, filled from the next raster; other units become metres. Only
// the rasters that gave a sample its value are named, not every one that was read.
TEST_P(SourceHeights, AreMetresOrVoid)
{
    const HeightCase& c = GetParam();
    const auto inBlock = [](int column, int row) { return column >= 100 && column < 200 && row >= 100 && row < 200; };
    TempFolder f;
    WriteGrid(
        f / "dem/a.tif", [&](int column, int row) { return inBlock(column, row) ? c.block : c.value; }, c.type, c.unit);
    WriteGrid(f / "dem/b.tif", [](int, int) { return 1; });
    auto source = RasterSource::open(f / "dem");
    ASSERT_TRUE(source) << source.error().message;
    auto tile = source->tileFor("N47E011.hgt", 1201);
    ASSERT_TRUE(tile && tile->has_value()) << (tile ? "no tile" : tile.error().message);
    std::int64_t wrong = 0;
    for (int i = 0; i < 1201 * 1201; ++i)
        wrong += (*tile)->values[i] != (inBlock(i % 1201, i / 1201) ? c.blockSample : c.sample);
    EXPECT_EQ(wrong, 0);
    const std::vector<std::string> both{f / "dem/a.tif", f / "dem/b.tif"};
    EXPECT_EQ((*tile)->files, std::vector(both.begin(), both.begin() + c.files));
}

INSTANTIATE_TEST_SUITE_P(
    Rasters, SourceHeights,
    ::testing::Values(HeightCase{"UndeclaredMinus32768", GDT_Int16, nullptr, 812, -32768, 812, 1, 2},
                      HeightCase{"Feet", GDT_Int16, "ft", 10000, 1000, 3048, 305, 1},
                      HeightCase{"FeetWhoseMetresMeetAMarker", GDT_Float32, "ft", 1000.25, -32805.1, 305, 1, 2}),
    [](const auto& info) { return info.param.name; });

// A source of `perDegree` pixels a degree over N47E011 whose one raster is a small one stretched over it.
Result<RasterSource> FineSource(const TempFolder& f, int perDegree)
{
    WriteGrid(f / "small.tif", [](int c, int r) { return 500 + c - r; });
    const std::string n = std::to_string(perDegree + 1);
    WriteText(f / "fine.vrt",
              Vrt(SimpleSource("small.tif", "<SrcRect xOff=\"0\" yOff=\"0\" xSize=\"1201\" ySize=\"1201\"/>"
                                            "<DstRect xOff=\"0\" yOff=\"0\" xSize=\""
                                                + n + "\" ySize=\"" + n + "\"/>"),
                  {}, perDegree + 1, 1.0 / perDegree));
    return RasterSource::open(f / "fine.vrt");
}

// A source far finer than the tile is read decimated in bounded memory, or refused before reading when
// absurdly fine; a stop asked for in the middle of a long read ends it within a fraction of a second.
TEST(FineSources, ReadInBoundedMemoryRefusedOrStopped)
{
    TempFolder f;
    auto source = FineSource(f, 100000);
    ASSERT_TRUE(source) << source.error().message;
    const auto peakKiB = [] {
        const std::string status = ReadText("/proc/self/status");
        return std::atol(status.c_str() + status.find("VmHWM:") + 6);
    };
    std::ofstream("/proc/self/clear_refs") << "5"; // resets the peak
    const long before = peakKiB();
    auto tile = source->tileFor("N47E011.hgt", 1201);
    ASSERT_TRUE(tile && tile->has_value()) << (tile ? "no tile" : tile.error().message);
    EXPECT_LT(peakKiB() - before, 300 * 1024);
    // The stretched raster's height at a node, within the average's reach of a metre.
    EXPECT_NEAR((*tile)->values[600 * 1201 + 300], 500 + 300 - 600, 1);

    int asked = 0;
    Clock::time_point stoppedAt{};
    auto start = Clock::now();
    auto stopped = source->tileFor("N47E011.hgt", 3601, nullptr, [&] {
        if (++asked >= 20 && stoppedAt == Clock::time_point{})
            stoppedAt = Clock::now();
        return asked < 20;
    });
    ASSERT_NE(stoppedAt, Clock::time_point{}) << "never asked; the read took " << SecondsSince(start) << " s";
    EXPECT_FALSE(stopped);
    // Milliseconds on an idle machine; the bound leaves room for a busy one (bench/stop_latency measures).
    EXPECT_LT(SecondsSince(stoppedAt), 2.0);

    TempFolder g;
    auto absurd = FineSource(g, 1000000);
    ASSERT_TRUE(absurd) << absurd.error().message;
    start = Clock::now();
    auto refused = absurd->tileFor("N47E011.hgt", 3601);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find("fein"), std::string::npos) << refused.error().message;
    EXPECT_LT(SecondsSince(start), 5.0);
}

struct GeoreferencingCase {
    std::string name;
    std::string columns, rows, srs, geoTransform; // of a VRT without pixels
    std::string band;                             // what its band holds besides the nodata value
    std::string tile;                             // filled with 12 x 12 samples
    std::string outcome; // "open: " or "tile: " and the German reason after the file's name, or "filled …"
};

class AbsurdGeoreferencing : public ::testing::TestWithParam<GeoreferencingCase> {};

// Each is refused with a reason that names the file, or read; in a child with 20 s and 4 GB, so that
// a hang or a runaway allocation fails the row, not the run.
TEST_P(AbsurdGeoreferencing, IsRefusedOrReadInBoundedTimeAndMemory)
{
    TempFolder f;
    const GeoreferencingCase& c = GetParam();
    const std::string nodata = "<NoDataValue>-9999</NoDataValue>", attributes = "dataType=\"Float32\"";
    WriteText(f / "a.vrt", VrtText(c.columns, c.rows, c.srs, c.geoTransform, attributes, nodata + c.band));
    WriteText(f / "overview.vrt", VrtText("1", "4", "EPSG:4326", "0, 1, 0, 0, 0, -1", attributes, nodata));
    const pid_t child = fork();
    if (child == 0) {
        alarm(20);
#ifndef __SANITIZE_ADDRESS__ // the sanitizers reserve terabytes of address space
        const rlimit memory{rlim_t{4} << 30, rlim_t{4} << 30};
        setrlimit(RLIMIT_AS, &memory);
#endif
        std::ofstream(f / "outcome") << OpenAndRead(f / "a.vrt", c.tile, 12);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << " (14: out of time)";
    const std::string& o = c.outcome;
    const std::string outcome = ReadText(f / "outcome");
    EXPECT_EQ(outcome.substr(0, o.size() + (f / "a.vrt").size() + 17),
              o.starts_with("filled") ? o : o.substr(0, 6) + "Die Rasterdatei " + (f / "a.vrt") + " " + o.substr(6));
}

const std::string kPastTheEarth = "open: ist unsinnig georeferenziert: sie reicht weit über die Erde hinaus";

INSTANTIATE_TEST_SUITE_P(
    Rasters, AbsurdGeoreferencing,
    ::testing::Values(
        // PROJ wraps a longitude into range a turn at a time: this corner 1e308 m east never returned.
        GeoreferencingCase{"CornerFarOutInWebMercator", "1", "1201", "EPSG:3857", "700000, 1e308, 0, -262500, 0, -1",
                           "", "S03E006.hgt", kPastTheEarth},
        GeoreferencingCase{"RowsPastThePole", "439", "2147483647", "EPSG:4979", "159, 0.01, 0, -14, 0, -0.01", "",
                           "S15E159.hgt", kPastTheEarth},
        GeoreferencingCase{"AxesAlmostParallel", "3", "3", "EPSG:4979",
                           "-176.5625, 2.4377777777777778, 2.4375, -27.5625, 2.4375, 2.4372222222222222", "",
                           "S28W177.hgt", "open: ist unsinnig georeferenziert: ihre Pixel haben keine Fläche"},
        // A tile step spans some 1e304 rows.
        GeoreferencingCase{"RowsOfNoHeight", "10", "2920", "EPSG:32633", "300000, 100000, 0, 5600000, 0, 4.78e-299", "",
                           "N50E015.hgt",
                           "tile: ist für eine Kachel von 12 × 12 Werten zu fein aufgelöst (unzählige Pixel"},
        // 2^31 - 1 rows within the Earth, read through an overview: their block rows overflowed an int.
        GeoreferencingCase{"TwoBillionRowsWithAnOverview", "1048576", "2147483647", "EPSG:4326",
                           "0, 8e-8, 0, 85.9, 0, -8e-8",
                           R"(<Overview><SourceFilename relativeToVRT="1">overview.vrt</SourceFilename>)"
                           "<SourceBand>1</SourceBand></Overview>",
                           "N00E000.hgt", "filled 0"},
        GeoreferencingCase{"GlobalGridHalfAPixelPastItsEdges", "721", "361", "EPSG:4326",
                           "-180.25, 0.5, 0, 90.25, 0, -0.5", "", "N47E011.hgt", "filled 0"}),
    [](const auto& info) { return info.param.name; });

// Two rasters on one grid spanning more than 2^31 - 1 pixels together make two mosaics, not one whose edges overflow.
TEST(AbsurdGeoreferencing, MosaicsStayWithinIntPixels)
{
    RasterEntry west{"", "EPSG:4326", {-85.4, 8e-8, 0, 1, 0, -8e-8}, 1 << 30, 100, {}, 1, {}};
    RasterEntry east{"", "EPSG:4326", {0, 8e-8, 0, 1, 0, -8e-8}, std::numeric_limits<int>::max(), 100, {}, 1, {}};
    for (const auto& mosaic : MosaicsOf({&west, &east})) {
        for (const Mosaic::Member& m : mosaic.members) {
            EXPECT_LE(std::int64_t{m.column} + m.entry->width, mosaic.width);
            EXPECT_DOUBLE_EQ(mosaic.geoTransform[0] + m.column * 8e-8, m.entry->geoTransform[0]);
        }
    }
}

// A broken GeoTIFF gives a German reason, and GDAL's decoding threads print nothing; a raster gone
// since the source was opened is named as gone.
TEST(BrokenRasters, SayWhatIsWrongAndPrintNothing)
{
    TempFolder f;
    WriteGrid(f / "whole.tif", [](int c, int r) { return 500 + c - r; });
    const test::Bytes whole = test::readBytes(f / "whole.tif");
    test::writeBytes(f / "cut.tif", test::Bytes(whole.begin(), whole.begin() + whole.size() * 2 / 3));
    testing::internal::CaptureStderr();
    const std::string outcome = OpenAndRead(f / "cut.tif", "N47E011.hgt", 1201);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(outcome.starts_with("tile: ")) << outcome;
    EXPECT_NE(outcome.find("lässt sich nicht lesen"), std::string::npos) << outcome;
    EXPECT_EQ(outcome.find("unbekannter Fehler"), std::string::npos) << outcome;

    auto gone = RasterSource::open(f / "whole.tif");
    ASSERT_TRUE(gone) << gone.error().message;
    std::filesystem::remove(f / "whole.tif");
    auto missing = gone->tileFor("N47E011.hgt", 1201);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ErrorKind::NotFound) << missing.error().message;
}

} // namespace raster_hostile_test
} // namespace hgt

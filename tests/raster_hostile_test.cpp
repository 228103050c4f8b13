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
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace hgt {
namespace {

using test::TempFolder;
using Clock = std::chrono::steady_clock;

// N47E011 at 3", one pixel centred on each node: a sample takes exactly its pixel's height.
constexpr double kPx = 1.0 / 1200;

// A GeoTIFF of that grid with the heights `value(column, row)`.
void WriteGrid(const std::string& path, GDALDataType type, const std::function<double(int, int)>& value,
               const char* unit = nullptr)
{
    RasterLayout layout = Geographic(11 - 0.5 * kPx, 47 - 0.5 * kPx, 12 + 0.5 * kPx, 48 + 0.5 * kPx, 1200, 1200);
    layout.type = type;
    WriteRaster(path, layout);
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_Update);
    ASSERT_NE(ds, nullptr);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    if (unit)
        GDALSetRasterUnitType(band, unit);
    std::vector<double> pixels(1201 * 1201);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = value(static_cast<int>(i % 1201), static_cast<int>(i / 1201));
    ASSERT_EQ(GDALRasterIO(band, GF_Write, 0, 0, 1201, 1201, pixels.data(), 1201, 1201, GDT_Float64, 0, 0), CE_None);
    GDALClose(ds);
}

void WriteText(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

// A VRT of `size` pixels a side over N47E011 (pixel centres on the nodes for 1201) with one Int16 band.
std::string Vrt(const std::string& bandAttributes, const std::string& bandContents, int size = 1201, double pixel = kPx)
{
    std::ostringstream text;
    text.precision(17);
    text << "<VRTDataset rasterXSize=\"" << size << "\" rasterYSize=\"" << size << "\"><SRS>EPSG:4326</SRS>"
         << "<GeoTransform>" << 11 - 0.5 * pixel << ", " << pixel << ", 0, " << 48 + 0.5 * pixel << ", 0, " << -pixel
         << "</GeoTransform><VRTRasterBand dataType=\"Int16\" band=\"1\" " << bandAttributes << ">" << bandContents
         << "</VRTRasterBand></VRTDataset>";
    return text.str();
}

std::string SimpleSource(const std::string& name, const std::string& rects = {})
{
    return "<SimpleSource><SourceFilename relativeToVRT=\"1\">" + name + "</SourceFilename><SourceBand>1</SourceBand>"
           + rects + "</SimpleSource>";
}

// A loopback port that takes connections into its queue and never answers: what a stuck server does.
class SilentServer {
public:
    SilentServer()
    {
        m_socket = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), length);
        listen(m_socket, 64);
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        fcntl(m_socket, F_SETFL, O_NONBLOCK);
    }
    ~SilentServer() { close(m_socket); }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/dem.tif"; }
    int connections()
    {
        int count = 0;
        for (int client; (client = accept(m_socket, nullptr, nullptr)) >= 0; ++count)
            close(client);
        return count;
    }

private:
    int m_socket = -1;
    int m_port = 0;
};

struct VrtCase {
    std::string name;
    std::function<std::string(const TempFolder&)> write; // writes the source, returns its path
    ErrorKind kind;
    std::string says;
};

std::string WriteVrt(const TempFolder& f, const std::string& name, const std::string& xml)
{
    WriteText(f / name, xml);
    return f / name;
}

// A VRT whose band is the bytes of the test's secret.txt.
std::string RawOverSecret(const TempFolder& f)
{
    return Vrt("subClass=\"VRTRawRasterBand\"", "<SourceFilename>" + (f / "secret.txt")
                                                    + "</SourceFilename><PixelOffset>2</PixelOffset>"
                                                      "<LineOffset>2402</LineOffset>");
}

class HostileVrt : public ::testing::TestWithParam<VrtCase> {};

// Each is refused when the source is opened, with a German reason that names the file.
TEST_P(HostileVrt, IsRefusedAtOpen)
{
    TempFolder f;
    WriteText(f / "secret.txt", std::string(4000, 'x') + "password\n");
    WriteGrid(f / "good.tif", GDT_Int16, [](int, int) { return 1000; });
    ASSERT_FALSE(HasFatalFailure());
    setenv("GDAL_VRT_ENABLE_PYTHON", "YES", 1);
    const std::string path = GetParam().write(f);
    Result<RasterSource> source = RasterSource::open(path);
    unsetenv("GDAL_VRT_ENABLE_PYTHON");
    ASSERT_FALSE(source) << "opened";
    EXPECT_EQ(source.error().kind, GetParam().kind);
    EXPECT_NE(source.error().message.find(GetParam().says), std::string::npos) << source.error().message;
    EXPECT_FALSE(std::filesystem::exists(f / "ran")) << "the pixel function ran";
}

INSTANTIATE_TEST_SUITE_P(
    Rasters, HostileVrt,
    ::testing::Values(
        VrtCase{"RawBandOverATextFile", [](const TempFolder& f) { return WriteVrt(f, "raw.vrt", RawOverSecret(f)); },
                ErrorKind::NotATile, "secret.txt roh als Höhen"},
        VrtCase{"RawBandInANestedVrt",
                [](const TempFolder& f) {
                    WriteVrt(f, "inner/raw.vrt", RawOverSecret(f));
                    return WriteVrt(f, "outer.vrt", Vrt("", SimpleSource("inner/raw.vrt")));
                },
                ErrorKind::NotATile, "secret.txt roh als Höhen"},
        VrtCase{"PythonPixelFunction",
                [](const TempFolder& f) {
                    const std::string code = "<![CDATA[\ndef run(in_ar, out_ar, *args, **kwargs):\n    open('"
                                             + (f / "ran") + "', 'w').write('x')\n    out_ar[:] = 7\n]]>";
                    return WriteVrt(f, "python.vrt",
                                    Vrt("subClass=\"VRTDerivedRasterBand\"",
                                        "<PixelFunctionType>run</PixelFunctionType><PixelFunctionLanguage>Python"
                                        "</PixelFunctionLanguage><PixelFunctionCode>"
                                            + code + "</PixelFunctionCode>" + SimpleSource("good.tif")));
                },
                ErrorKind::NotATile, "Python-Code"},
        VrtCase{"SourceThatIsNotThere",
                [](const TempFolder& f) { return WriteVrt(f, "gone.vrt", Vrt("", SimpleSource("gone.tif"))); },
                ErrorKind::NotFound, "gone.tif, die es nicht gibt"},
        VrtCase{"HeightsInAnUnknownUnit",
                [](const TempFolder& f) {
                    return WriteVrt(f, "furlong.vrt",
                                    Vrt("", "<UnitType>furlong</UnitType>" + SimpleSource("good.tif")));
                },
                ErrorKind::NotATile, "unbekannten Einheit \"furlong\""},
        VrtCase{"HostileVrtInAFolder",
                [](const TempFolder& f) {
                    WriteVrt(f, "folder/raw.vrt", RawOverSecret(f));
                    std::filesystem::copy_file(f / "good.tif", f / "folder/good.tif");
                    return f / "folder";
                },
                ErrorKind::NotATile, "secret.txt roh als Höhen"}),
    [](const auto& info) { return info.param.name; });

struct NetworkCase {
    std::string name;
    std::function<std::string(const TempFolder&, const std::string& url)> write; // returns the source's path
    bool refusedAtOpen;
    std::string says; // besides the address, where the refusal names it
};

class NetworkOff : public ::testing::TestWithParam<NetworkCase> {};

// Without HGTFILL_NETWORK=1 nothing connects, whatever path or driver a raster names; a refusal by
// GDAL's file systems says which address. (The time-out set here only keeps a connecting build from hanging the test.)
TEST_P(NetworkOff, NothingConnects)
{
    unsetenv("HGTFILL_NETWORK");
    CPLSetConfigOption("GDAL_HTTP_TIMEOUT", "2");
    TempFolder f;
    SilentServer server;
    const std::string path = GetParam().write(f, server.url());
    const auto start = Clock::now();
    Result<RasterSource> source = RasterSource::open(path);
    std::string message;
    if (source) {
        auto tile = source->tileFor("N47E011.hgt", 1201);
        ASSERT_FALSE(tile) << "read";
        message = tile.error().message;
    } else {
        message = source.error().message;
    }
    CPLSetConfigOption("GDAL_HTTP_TIMEOUT", nullptr);
    EXPECT_EQ(!source, GetParam().refusedAtOpen) << message;
    EXPECT_EQ(server.connections(), 0) << message;
    // A refusal comes at once; a connection attempt would wait for the time-out.
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
    EXPECT_NE(message.find(GetParam().says), std::string::npos) << message;
}

std::string NetworkVrt(const TempFolder& f, const std::string& source)
{
    return WriteVrt(f, "net.vrt",
                    Vrt("", "<SimpleSource><SourceFilename>" + source
                                + "</SourceFilename><SourceBand>1</SourceBand></SimpleSource>"));
}

INSTANTIATE_TEST_SUITE_P(
    Rasters, NetworkOff,
    ::testing::Values(
        NetworkCase{"VsicurlSource",
                    [](const TempFolder& f, const std::string& url) { return NetworkVrt(f, "/vsicurl/" + url); }, true,
                    "Netzwerkadresse /vsicurl/http://127.0.0.1:"},
        NetworkCase{"PlainUrl", [](const TempFolder& f, const std::string& url) { return NetworkVrt(f, url); }, true,
                    "Netzwerkadresse http://127.0.0.1:"},
        // Names that only the format's own reader turns into network paths: GDAL's file systems refuse them.
        NetworkCase{"MrfWhoseDataLiesOnAServer",
                    [](const TempFolder& f, const std::string& url) {
                        WriteText(f / "net.mrf",
                                  "<MRF_META><Raster><Size x=\"1201\" y=\"1201\" c=\"1\"/><PageSize x=\"512\" "
                                  "y=\"512\" c=\"1\"/><DataType>Int16</DataType><DataFile>/vsicurl/"
                                      + url + ".ppg</DataFile><IndexFile>/vsicurl/" + url
                                      + ".idx</IndexFile></Raster></MRF_META>");
                        return WriteVrt(f, "net.vrt", Vrt("", SimpleSource("net.mrf")));
                    },
                    false, "Netzwerkadresse /vsicurl/http://127.0.0.1:"},
        NetworkCase{"WmsDescriptionFile",
                    [](const TempFolder& f, const std::string& url) {
                        WriteText(f / "wms.xml", "<GDAL_WMS><Service name=\"WMS\"><ServerUrl>" + url
                                                     + "?</ServerUrl><Layers>x</Layers></Service><DataWindow>"
                                                       "<UpperLeftX>10</UpperLeftX><UpperLeftY>49</UpperLeftY>"
                                                       "<LowerRightX>13</LowerRightX><LowerRightY>46</LowerRightY>"
                                                       "<SizeX>1000</SizeX><SizeY>1000</SizeY></DataWindow>"
                                                       "<BandsCount>1</BandsCount></GDAL_WMS>");
                        return WriteVrt(f, "net.vrt", Vrt("", SimpleSource("wms.xml")));
                    },
                    false, "wms.xml"}),
    [](const auto& info) { return info.param.name; });

struct HeightCase {
    std::string name;
    GDALDataType type;
    double value;             // every pixel but the block
    double block;             // pixels of rows and columns 100 to 199
    const char* unit;         // nullptr: none
    std::int16_t sample;      // expected outside the block
    std::int16_t blockSample; // expected inside it
};

class SourceHeights : public ::testing::TestWithParam<HeightCase> {};

// A pixel holding a void marker leaves its sample void; other units become metres.
TEST_P(SourceHeights, AreMetresOrVoid)
{
    const HeightCase& c = GetParam();
    TempFolder f;
    WriteGrid(
        f / "dem.tif", c.type,
        [&](int column, int row) {
            return column >= 100 && column < 200 && row >= 100 && row < 200 ? c.block : c.value;
        },
        c.unit);
    ASSERT_FALSE(HasFatalFailure());
    auto source = RasterSource::open(f / "dem.tif");
    ASSERT_TRUE(source) << source.error().message;
    auto tile = source->tileFor("N47E011.hgt", 1201);
    ASSERT_TRUE(tile && tile->has_value()) << (tile ? "no tile" : tile.error().message);
    const auto& values = (*tile)->values;
    std::int64_t outside = 0, inside = 0;
    for (int r = 0; r < 1201; ++r)
        for (int col = 0; col < 1201; ++col) {
            const bool block = r >= 100 && r < 200 && col >= 100 && col < 200;
            const std::int16_t v = values[static_cast<std::size_t>(r) * 1201 + col];
            (block ? inside : outside) += v == (block ? c.blockSample : c.sample);
        }
    EXPECT_EQ(outside, 1201 * 1201 - 100 * 100);
    EXPECT_EQ(inside, 100 * 100);
}

INSTANTIATE_TEST_SUITE_P(
    Rasters, SourceHeights,
    ::testing::Values(HeightCase{"UndeclaredMinus9999", GDT_Int16, 812, -9999, nullptr, 812, kVoidValue},
                      HeightCase{"UndeclaredMinus32768", GDT_Int16, 812, -32768, nullptr, 812, kVoidValue},
                      HeightCase{"UndeclaredMinus32767InFloats", GDT_Float32, 812.25, -32767, nullptr, 812, kVoidValue},
                      HeightCase{"Feet", GDT_Int16, 10000, 1000, "ft", 3048, 305},
                      HeightCase{"FeetWhoseMetresMeetAMarker", GDT_Float32, 1000, -32805.1, "ft", 305, kVoidValue}),
    [](const auto& info) { return info.param.name; });

long PeakKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A VRT of `perDegree` pixels a degree over N47E011 whose one source is a small raster stretched over it.
std::string FineVrt(const TempFolder& f, int perDegree)
{
    WriteGrid(f / "small.tif", GDT_Int16, [](int c, int r) { return 500 + c - r; });
    const double pixel = 1.0 / perDegree;
    const int size = perDegree + 1;
    const std::string rects = "<SrcRect xOff=\"0\" yOff=\"0\" xSize=\"1201\" ySize=\"1201\"/><DstRect xOff=\"0\" "
                              "yOff=\"0\" xSize=\""
                              + std::to_string(size) + "\" ySize=\"" + std::to_string(size) + "\"/>";
    return WriteVrt(f, "fine.vrt", Vrt("", SimpleSource("small.tif", rects), size, pixel));
}

// A source far finer than the tile is read decimated in bounded memory, or refused when absurdly fine.
TEST(FineSources, ReadInBoundedMemoryOrRefused)
{
    TempFolder f;
    const std::string fine = FineVrt(f, 100000);
    ASSERT_FALSE(HasFatalFailure());
    auto source = RasterSource::open(fine);
    ASSERT_TRUE(source) << source.error().message;
    ResetPeak();
    const long before = PeakKiB();
    auto tile = source->tileFor("N47E011.hgt", 1201);
    ASSERT_TRUE(tile && tile->has_value()) << (tile ? "no tile" : tile.error().message);
    EXPECT_LT(PeakKiB() - before, 300 * 1024);
    // The stretched raster's height at a node, within the average's reach of a metre.
    EXPECT_NEAR((*tile)->values[600 * 1201 + 300], 500 + 300 - 600, 1);

    TempFolder g;
    auto absurd = RasterSource::open(FineVrt(g, 1000000));
    ASSERT_TRUE(absurd) << absurd.error().message;
    const auto start = Clock::now();
    auto refused = absurd->tileFor("N47E011.hgt", 3601);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ErrorKind::NotATile);
    EXPECT_NE(refused.error().message.find("zu fein aufgelöst"), std::string::npos) << refused.error().message;
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0); // refused before reading
}

// A stop asked for in the middle of a long read ends it within a fraction of a second.
TEST(FineSources, StopEndsALongReadAtOnce)
{
    TempFolder f;
    auto source = RasterSource::open(FineVrt(f, 100000));
    ASSERT_TRUE(source) << source.error().message;
    int asked = 0;
    Clock::time_point stoppedAt{};
    const Proceed proceed = [&] {
        if (++asked < 20)
            return true;
        if (stoppedAt == Clock::time_point{})
            stoppedAt = Clock::now();
        return false;
    };
    const auto start = Clock::now();
    auto tile = source->tileFor("N47E011.hgt", 3601, nullptr, proceed);
    const auto end = Clock::now();
    ASSERT_NE(stoppedAt, Clock::time_point{})
        << "never asked; the read took " << std::chrono::duration<double>(end - start).count() << " s";
    EXPECT_FALSE(tile);
    // Milliseconds on an idle machine; the bound leaves room for a busy one (bench/stop_latency measures).
    EXPECT_LT(std::chrono::duration<double>(end - stoppedAt).count(), 2.0);
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
    const std::string band = R"(<VRTRasterBand dataType="Float32" band="1"><NoDataValue>-9999</NoDataValue>)";
    const GeoreferencingCase& c = GetParam();
    WriteText(f / "a.vrt", "<VRTDataset rasterXSize=\"" + c.columns + "\" rasterYSize=\"" + c.rows + "\"><SRS>" + c.srs
                               + "</SRS><GeoTransform>" + c.geoTransform + "</GeoTransform>" + band + c.band
                               + "</VRTRasterBand></VRTDataset>");
    WriteText(f / "overview.vrt",
              R"(<VRTDataset rasterXSize="1" rasterYSize="4">)" + band + "</VRTRasterBand></VRTDataset>");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    if (fork() == 0) {
        alarm(20);
#ifndef __SANITIZE_ADDRESS__ // the sanitizers reserve terabytes of address space
        const rlimit memory{rlim_t{4} << 30, rlim_t{4} << 30};
        setrlimit(RLIMIT_AS, &memory);
#endif
        std::string outcome = "exception";
        try {
            Result<RasterSource> source = RasterSource::open(f / "a.vrt");
            if (!source)
                outcome = "open: " + source.error().message;
            else if (auto tile = source->tileFor(c.tile, 12); !tile)
                outcome = "tile: " + tile.error().message;
            else
                outcome = "filled " + std::to_string(*tile ? 144 - std::ranges::count((**tile).values, kVoidValue) : 0);
        } catch (const std::exception&) {
        }
        _exit(write(out[1], outcome.data(), outcome.size()) == ssize_t(outcome.size()) ? 0 : 1);
    }
    close(out[1]);
    std::string outcome(4096, '\0');
    outcome.resize(static_cast<std::size_t>(std::max<ssize_t>(0, read(out[0], outcome.data(), outcome.size()))));
    close(out[0]);
    int status = 0;
    wait(&status);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << " (14: out of time)";
    const std::string& o = c.outcome;
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
    RasterEntry west{"", "EPSG:4326", {-85.4, 8e-8, 0, 1, 0, -8e-8}, 1 << 30, 100, {}, 1};
    RasterEntry east{"", "EPSG:4326", {0, 8e-8, 0, 1, 0, -8e-8}, std::numeric_limits<int>::max(), 100, {}, 1};
    for (const auto& mosaic : MosaicsOf({&west, &east})) {
        for (const Mosaic::Member& m : mosaic.members) {
            EXPECT_LE(std::int64_t{m.column} + m.entry->width, mosaic.width);
            EXPECT_DOUBLE_EQ(mosaic.geoTransform[0] + m.column * 8e-8, m.entry->geoTransform[0]);
        }
    }
}

// A broken GeoTIFF gives a German reason naming the file, and GDAL's decoding threads print nothing.
TEST(BrokenRasters, SayWhatIsWrongAndPrintNothing)
{
    TempFolder f;
    WriteRaster(f / "plain.tif", Geographic(11, 47, 12, 48, 1200, 1200));
    // Compressed blocks are decoded on GDAL's worker threads.
    const char* options[] = {"TILED=YES", "COMPRESS=DEFLATE", "BLOCKXSIZE=128", "BLOCKYSIZE=128", nullptr};
    GDALDatasetH plain = GDALOpen((f / "plain.tif").c_str(), GA_ReadOnly);
    GDALClose(GDALCreateCopy(GDALGetDriverByName("GTiff"), (f / "whole.tif").c_str(), plain, FALSE,
                             const_cast<char**>(options), nullptr, nullptr));
    GDALClose(plain);
    const test::Bytes whole = test::readBytes(f / "whole.tif");
    test::writeBytes(f / "cut.tif", test::Bytes(whole.begin(), whole.begin() + whole.size() * 2 / 3));
    auto source = RasterSource::open(f / "cut.tif");
    ASSERT_TRUE(source) << source.error().message;
    testing::internal::CaptureStderr();
    auto tile = source->tileFor("N47E011.hgt", 1201);
    const std::string printed = testing::internal::GetCapturedStderr();
    ASSERT_FALSE(tile);
    const std::string& message = tile.error().message;
    EXPECT_EQ(message.rfind("Die Rasterdatei " + (f / "cut.tif") + " lässt sich nicht lesen: ", 0), 0u) << message;
    EXPECT_EQ(message.find("unbekannter Fehler"), std::string::npos) << message;
    EXPECT_EQ(printed, "");

    // A raster gone since the source was opened is named as gone.
    auto gone = RasterSource::open(f / "whole.tif");
    ASSERT_TRUE(gone) << gone.error().message;
    std::filesystem::remove(f / "whole.tif");
    auto missing = gone->tileFor("N47E011.hgt", 1201);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ErrorKind::NotFound);
    EXPECT_EQ(missing.error().message, "Die Rasterdatei " + (f / "whole.tif") + " gibt es nicht mehr.");
}

// Only the rasters that gave a sample its value are named, not every one that was read.
TEST(SourceFiles, NameOnlyTheRastersThatGaveValues)
{
    TempFolder f;
    WriteGrid(f / "dem/a.tif", GDT_Int16, [](int, int) { return 700; });
    WriteGrid(f / "dem/b.tif", GDT_Int16, [](int, int) { return 900; });
    ASSERT_FALSE(HasFatalFailure());
    auto source = RasterSource::open(f / "dem");
    ASSERT_TRUE(source) << source.error().message;
    auto tile = source->tileFor("N47E011.hgt", 1201);
    ASSERT_TRUE(tile && tile->has_value());
    EXPECT_EQ((*tile)->files, std::vector<std::string>{f / "dem/a.tif"});
    EXPECT_EQ((*tile)->values[12345], 700);
}

} // namespace
} // namespace hgt

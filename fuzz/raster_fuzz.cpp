// The georeferencing of raster sources from untrusted headers: geotransforms (zero, negative, huge,
// NaN, rotated), CRSs (EPSG codes, PROJ strings, WKT from the input) and raster sizes up to INT_MAX,
// through the raster index (ReadEntry, LonLatTransforms), the mosaics (MosaicsOf) and the resampling
// onto a small tile (SampleMosaic).
//
// Each raster is a VRT in /vsimem/ whose one band takes its pixels from a MEM dataset over a small
// buffer of this process (DATAPOINTER), stretched to the raster's size: a raster of 2^31-1 pixels a
// side costs no memory. Nothing goes to the network: see LLVMFuzzerInitialize.
//
// An input that begins with "<VRTDataset" is taken as it is: one or more VRTs without sources, read
// as a folder of them and sampled onto the tile at the first one's south-west corner. That is how the
// rasters of fuzz/reproducers/ are replayed.

#include "rasters/internal/gdal_support.h"
#include "rasters/internal/mosaic.h"
#include "rasters/internal/raster_index.h"

#include <cpl_conv.h>
#include <cpl_vsi.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// RASTER_FUZZ_SHOW=1 prints the rasters of each input and what became of them.
bool showing()
{
    static const bool show = std::getenv("RASTER_FUZZ_SHOW") != nullptr;
    return show;
}

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "raster_fuzz: %s\n", what);
        std::abort();
    }
}

constexpr int kMaxRasters = 3;
constexpr int kMaxSourceSide = 8;
constexpr double kFarthest = 1e13;
// The pixels of all rasters, at fixed addresses: GDAL keeps the MEM datasets of VRT sources open in
// a pool by name, and a name then always means the same buffer.
float g_pixels[kMaxRasters][kMaxSourceSide * kMaxSourceSide];

constexpr const char* kCrsTable[] = {
    "EPSG:4326",
    "EPSG:4258",
    "EPSG:4979",
    "EPSG:3857",
    "EPSG:25832",
    "EPSG:32633",
    "EPSG:32760",
    "EPSG:3035",
    "EPSG:2056",
    "EPSG:27700",
    "EPSG:3413",
    "EPSG:5041",
    "ESRI:54009",
    "EPSG:0",
    "+proj=longlat +datum=WGS84 +no_defs",
    "+proj=longlat +a=1 +b=1 +no_defs",
    "+proj=ortho +lat_0=47 +lon_0=11 +datum=WGS84",
    "+proj=geos +h=35785831 +lon_0=0 +datum=WGS84",
    "+proj=utm +zone=60 +south +datum=WGS84",
    "+proj=longlat +datum=WGS84 +pm=180",
    "+proj=longlat +datum=WGS84 +lon_wrap=180",
    "+proj=stere +lat_0=90 +lat_ts=70 +lon_0=-45 +datum=WGS84",
    (R"(GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563]],PRIMEM["Greenwich",0],)"
     R"(UNIT["degree",0.0174532925199433]])"),
};

constexpr double kSpecialValues[] = {0,
                                     -0.0,
                                     1,
                                     -1,
                                     1.0 / 3600,
                                     -1.0 / 3600,
                                     1.0 / 1200,
                                     -1.0 / 1200,
                                     0.5,
                                     1e-12,
                                     -1e-12,
                                     1e12,
                                     -1e12,
                                     1e308,
                                     -1e308,
                                     std::numeric_limits<double>::denorm_min(),
                                     std::numeric_limits<double>::quiet_NaN(),
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::infinity(),
                                     180,
                                     -180,
                                     90,
                                     -90,
                                     360,
                                     2147483647.0,
                                     30,
                                     -30};

constexpr int kSizeTable[] = {0, 1, 2, 3, 7, 64, 1201, 3601, 65536, 1 << 24, INT_MAX, -1};

// A value near `typical` mostly, sometimes special or any double at all.
double valueNear(FuzzedDataProvider& in, double typical)
{
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        return in.PickValueInArray(kSpecialValues);
    case 1:
        return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
    case 2:
        return typical * (1 + in.ConsumeIntegralInRange(-64, 64) / 16.0);
    case 3:
        return typical + in.ConsumeIntegralInRange(-1000, 1000) / 64.0;
    default:
        return typical;
    }
}

// A CRS of the table (in degrees or metres), or any text.
std::string crsOf(FuzzedDataProvider& in, bool& fromTable)
{
    fromTable = in.ConsumeIntegralInRange(0, 7) != 0;
    if (!fromTable)
        return in.ConsumeRandomLengthString(400);
    return in.PickValueInArray(kCrsTable);
}

int sizeOf(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return in.PickValueInArray(kSizeTable);
    case 1:
        return in.ConsumeIntegral<int>();
    default:
        return in.ConsumeIntegralInRange(1, 4000);
    }
}

std::string xmlEscaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

struct Raster {
    std::string path;
    std::string crs;
    bool crsInDegreesOrMetres = false;
    std::array<double, 6> geoTransform{};
    int width = 0;
    int height = 0;
    std::optional<double> nodata;
    std::optional<double> scale;
    std::optional<double> offset;
    int sourceColumns = 1;
    int sourceRows = 1;
    const float* pixels = nullptr;
};

// Geographic pixels of 1/3600 to 1 degree from a tile's corner, or metres from a projected origin;
// the next raster mostly on the grid of the one before, a whole number of pixels away.
Raster rasterOf(FuzzedDataProvider& in, int k, const Raster* before)
{
    Raster r;
    r.path = "/vsimem/raster_fuzz/r" + std::to_string(k) + ".vrt";
    const bool sameGrid = before && in.ConsumeBool();
    if (sameGrid && in.ConsumeBool()) {
        r.crs = before->crs;
        r.crsInDegreesOrMetres = before->crsInDegreesOrMetres;
    } else {
        r.crs = crsOf(in, r.crsInDegreesOrMetres);
    }
    r.width = sizeOf(in);
    r.height = sizeOf(in);
    std::array<double, 6> typical{};
    if (sameGrid) {
        typical = before->geoTransform;
        typical[0] += in.ConsumeIntegralInRange(-4000, 4000) * typical[1];
        typical[3] += in.ConsumeIntegralInRange(-4000, 4000) * typical[5];
    } else if (r.crs.find("longlat") != std::string::npos || r.crs == "EPSG:4326" || r.crs == "EPSG:4258"
               || r.crs == "EPSG:4979" || r.crs.starts_with("GEOGCS")) {
        static constexpr double perDegree[] = {1, 2, 8, 100, 1200, 3600};
        const double step = 1 / in.PickValueInArray(perDegree);
        typical = {double(in.ConsumeIntegralInRange(-180, 180)), step, 0,
                   double(in.ConsumeIntegralInRange(-89, 90)),   0,    -step};
    } else {
        static constexpr double metres[] = {1, 10, 30, 90, 1000, 100000};
        const double step = in.PickValueInArray(metres);
        typical = {in.ConsumeIntegralInRange(-200, 200) * 1e5, step, 0,
                   in.ConsumeIntegralInRange(-200, 200) * 1e5, 0,    -step};
    }
    for (std::size_t i = 0; i < 6; ++i)
        r.geoTransform[i] = valueNear(in, typical[i]);
    if (in.ConsumeBool())
        r.nodata = in.ConsumeBool() ? -9999.0 : valueNear(in, 0);
    if (in.ConsumeIntegralInRange(0, 3) == 0) {
        r.scale = valueNear(in, 1);
        r.offset = valueNear(in, 0);
    }
    r.sourceColumns = in.ConsumeIntegralInRange(1, kMaxSourceSide);
    r.sourceRows = in.ConsumeIntegralInRange(1, kMaxSourceSide);
    float* pixels = g_pixels[k];
    for (int i = 0; i < r.sourceColumns * r.sourceRows; ++i)
        pixels[i] = in.ConsumeIntegralInRange(0, 15) == 0 ? std::bit_cast<float>(in.ConsumeIntegral<std::uint32_t>())
                                                          : float(in.ConsumeIntegralInRange(-500, 9000));
    r.pixels = pixels;
    return r;
}

std::string vrtOf(const Raster& r)
{
    char source[160];
    std::snprintf(source, sizeof source, "MEM:::DATAPOINTER=%p,PIXELS=%d,LINES=%d,BANDS=1,DATATYPE=Float32",
                  static_cast<const void*>(r.pixels), r.sourceColumns, r.sourceRows);
    std::string xml =
        "<VRTDataset rasterXSize=\"" + std::to_string(r.width) + "\" rasterYSize=\"" + std::to_string(r.height) + "\">";
    xml += "<SRS>" + xmlEscaped(r.crs) + "</SRS><GeoTransform>";
    for (std::size_t i = 0; i < 6; ++i)
        xml += (i ? ", " : "") + number(r.geoTransform[i]);
    xml += "</GeoTransform><VRTRasterBand dataType=\"Float32\" band=\"1\">";
    if (r.nodata)
        xml += "<NoDataValue>" + number(*r.nodata) + "</NoDataValue>";
    if (r.scale)
        xml += "<Scale>" + number(*r.scale) + "</Scale><Offset>" + number(*r.offset) + "</Offset>";
    xml += "<SimpleSource><SourceFilename relativeToVRT=\"0\">" + std::string(source)
           + "</SourceFilename><SourceBand>1</SourceBand><SrcRect xOff=\"0\" yOff=\"0\" xSize=\""
           + std::to_string(r.sourceColumns) + "\" ySize=\"" + std::to_string(r.sourceRows)
           + "\"/><DstRect xOff=\"0\" yOff=\"0\" xSize=\"" + std::to_string(r.width) + "\" ySize=\""
           + std::to_string(r.height) + "\"/></SimpleSource></VRTRasterBand></VRTDataset>";
    return xml;
}

void writeMemFile(const std::string& path, const std::string& text)
{
    auto* copy = static_cast<GByte*>(CPLMalloc(text.size()));
    std::copy(text.begin(), text.end(), copy);
    VSILFILE* file = VSIFileFromMemBuffer(path.c_str(), copy, text.size(), TRUE);
    require(file != nullptr, "a /vsimem/ file cannot be made");
    VSIFCloseL(file);
}

bool sameDouble(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

// The heights a resampling may give: weighted means of valid pixels lie between the smallest and the
// largest, a metre either way for the rounding of sums.
struct HeightRange {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
};

HeightRange rangeOf(const Raster& r)
{
    HeightRange range;
    // A pixel no source reaches reads as 0 where the band has no nodata value.
    for (int i = -1; i < r.sourceColumns * r.sourceRows; ++i) {
        const double p = i < 0 ? 0.0 : r.pixels[i];
        if (std::isnan(p) || (r.nodata && p == *r.nodata))
            continue;
        const double height = p * r.scale.value_or(1) + r.offset.value_or(0);
        range.low = std::min(range.low, height);
        range.high = std::max(range.high, height);
    }
    return range;
}

// A corner beyond 1e13 degrees or metres: no raster on the Earth, to be refused rather than read.
bool farOut(const Raster& r)
{
    const auto& gt = r.geoTransform;
    for (const double column : {0.0, double(r.width)})
        for (const double row : {0.0, double(r.height)})
            if (!(std::abs(gt[0] + column * gt[1] + row * gt[2]) <= kFarthest
                  && std::abs(gt[3] + column * gt[4] + row * gt[5]) <= kFarthest))
                return true;
    return false;
}

// The tile at a raster's south-west corner, so that they overlap.
hgt::TileOrigin cornerTile(const hgt::RasterEntry& entry)
{
    hgt::TileOrigin origin;
    origin.latitude = static_cast<int>(std::floor(std::clamp(entry.box.south, -90.0, 89.0)));
    origin.longitude = static_cast<int>(std::floor(std::clamp(entry.box.west, -180.0, 179.0)));
    return origin;
}

void checkMosaics(const std::vector<hgt::Mosaic>& mosaics, std::size_t entries)
{
    std::size_t members = 0;
    for (const hgt::Mosaic& mosaic : mosaics) {
        require(!mosaic.members.empty(), "an empty mosaic");
        members += mosaic.members.size();
        for (const auto& m : mosaic.members) {
            require(m.entry->crs == mosaic.members.front().entry->crs, "a mosaic of two CRSs");
            require(m.column >= 0 && m.row >= 0, "a member before the mosaic's first pixel");
            require(std::int64_t{m.column} + m.entry->width <= mosaic.width
                        && std::int64_t{m.row} + m.entry->height <= mosaic.height,
                    "a member beyond the mosaic's last pixel");
        }
    }
    require(members == entries, "a raster in no mosaic or in two");
}

// The tile's samples from the mosaics of the rasters that cover it, as a raster source takes them.
// `values` holds the samples the tile has already (voids mostly); `wanted` is empty or one per sample.
void sample(const hgt::TilePlacement& tile, const std::vector<std::uint8_t>& wanted, std::vector<std::int16_t> values,
            const HeightRange& range, const std::vector<hgt::RasterEntry>& entries)
{
    const auto samples = values.size();
    const double margin = 0.5 / (tile.side - 1);
    const hgt::LonLatBox tileBox{tile.origin.longitude - margin, tile.origin.latitude - margin,
                                 tile.origin.longitude + 1 + margin, tile.origin.latitude + 1 + margin};
    std::vector<const hgt::RasterEntry*> covering;
    for (const hgt::RasterEntry& entry : entries)
        if (entry.box.intersects(tileBox))
            covering.push_back(&entry);
    std::vector<hgt::Mosaic> mosaics = hgt::MosaicsOf(covering);
    checkMosaics(mosaics, covering.size());

    const hgt::Proceed always;
    hgt::ProceedAsker proceed(always);
    for (hgt::Mosaic& mosaic : mosaics) {
        const std::vector<std::int16_t> before = values;
        const hgt::Result<> sampled =
            hgt::SampleMosaic(mosaic, tile, wanted.empty() ? nullptr : wanted.data(), values, proceed);
        if (showing())
            std::fprintf(stderr, "tile %+d%+d of %d×%d: %s\n", tile.origin.latitude, tile.origin.longitude, tile.side,
                         tile.side,
                         sampled ? std::to_string(std::ranges::count(values, hgt::kVoidValue)).append(" voids").c_str()
                                 : sampled.error().message.c_str());
        if (!sampled) {
            // A mosaic too fine for the tile, say: refused in German, naming its first raster.
            require(sampled.error().message.find("/vsimem/raster_fuzz/r") != std::string::npos,
                    "a failed resampling that names no raster");
            require(values == before, "a failed resampling changes the tile");
            continue;
        }
        for (std::size_t i = 0; i < samples; ++i) {
            if (values[i] == before[i])
                continue;
            require(before[i] == hgt::kVoidValue, "a sample the tile had is overwritten");
            require(wanted.empty() || wanted[i], "a sample not wanted is filled");
            require(values[i] != hgt::kVoidValue && values[i] != -32768 && values[i] != -32767,
                    "a filled sample holds a void value");
            require(values[i] >= hgt::HeightSample(range.low) - 1 && values[i] <= hgt::HeightSample(range.high) + 1,
                    "a height outside the heights of the pixels");
        }
    }
}

// The tile, its mask and the samples it has, from the input.
void sampleFromInput(FuzzedDataProvider& in, const HeightRange& range, const std::vector<hgt::RasterEntry>& entries)
{
    hgt::TilePlacement tile;
    tile.side = in.ConsumeIntegralInRange(2, 12);
    if (in.ConsumeBool() && !entries.empty()) {
        tile.origin = cornerTile(entries.front());
    } else {
        tile.origin.latitude = in.ConsumeIntegralInRange(-90, 89);
        tile.origin.longitude = in.ConsumeIntegralInRange(-180, 179);
    }
    const auto samples = static_cast<std::size_t>(tile.side * tile.side);
    std::vector<std::uint8_t> wanted;
    if (in.ConsumeBool())
        for (std::size_t i = 0; i < samples; ++i)
            wanted.push_back(in.ConsumeBool());
    // Mostly voids; a few samples the tile has already.
    std::vector<std::int16_t> values(samples, hgt::kVoidValue);
    for (std::size_t i = 0; i < samples; ++i)
        if (in.ConsumeIntegralInRange(0, 7) == 0)
            values[i] = static_cast<std::int16_t>(in.ConsumeIntegralInRange(-500, 9000));
    sample(tile, wanted, std::move(values), range, entries);
}

// Reads each raster as a folder of rasters does; checks what is read and that a refusal is one.
std::vector<hgt::RasterEntry> readEntries(const std::vector<std::string>& paths, const std::vector<Raster>* generated)
{
    hgt::LonLatTransforms transforms;
    std::vector<hgt::RasterEntry> entries;
    for (std::size_t k = 0; k < paths.size(); ++k) {
        const std::string& path = paths[k];
        const hgt::EntryRead read = hgt::ReadEntry(path, transforms);
        if (showing())
            std::fprintf(stderr, "%s: %s\n", path.c_str(),
                         read.entry     ? "read"
                         : read.refused ? read.refused->message.c_str()
                                        : read.whyNot.c_str());
        if (!read.entry) {
            require(read.refused || !read.whyNot.empty(), "a raster left out without a reason");
            require(!read.refused || read.refused->message.starts_with("Die Rasterdatei " + path + " "),
                    "a refusal that names no raster");
            continue;
        }
        require(!read.refused, "a raster read and refused");
        const hgt::RasterEntry& entry = *read.entry;
        require(entry.path == path, "the path of an entry");
        if (generated) {
            const Raster& r = (*generated)[k];
            require(entry.width == r.width && entry.height == r.height, "the size of an entry");
            for (std::size_t i = 0; i < 6; ++i)
                require(sameDouble(entry.geoTransform[i], r.geoTransform[i]), "the geotransform of an entry");
            require(!(r.crsInDegreesOrMetres && farOut(r)), "a raster far beyond the Earth is read");
        }
        const hgt::LonLatBox& box = entry.box;
        require(std::isfinite(box.west) && std::isfinite(box.east) && std::isfinite(box.south)
                    && std::isfinite(box.north),
                "a box with a bound that is no number");
        require(box.west <= box.east && box.south <= box.north, "a box turned inside out");
        require(!entry.crs.empty() && transforms.forCrs(entry.crs) != nullptr, "an entry whose CRS cannot be had");
        entries.push_back(entry);
    }
    std::vector<const hgt::RasterEntry*> pointers;
    for (const hgt::RasterEntry& entry : entries)
        pointers.push_back(&entry);
    checkMosaics(hgt::MosaicsOf(pointers), entries.size());
    return entries;
}

// VRTs given as text: without sources (nothing read from disk), so that every pixel is nodata.
void replayVrts(const std::string& text)
{
    for (const char* reaching : {"Source", "Filename", "Overview", "Derived", "Function", "vsi", "Mask"})
        if (text.find(reaching) != std::string::npos)
            return;
    std::vector<std::string> paths;
    for (std::size_t at = 0; at != std::string::npos && paths.size() < kMaxRasters;) {
        const std::size_t next = text.find("<VRTDataset", at + 1);
        paths.push_back("/vsimem/raster_fuzz/r" + std::to_string(paths.size()) + ".vrt");
        writeMemFile(paths.back(), text.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next;
    }
    const std::vector<hgt::RasterEntry> entries = readEntries(paths, nullptr);
    if (!entries.empty()) {
        constexpr int kSide = 12;
        const hgt::TilePlacement tile{kSide, cornerTile(entries.front())};
        const HeightRange any{-std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
        sample(tile, {}, std::vector<std::int16_t>(kSide * kSide, hgt::kVoidValue), any, entries);
    }
    for (const std::string& path : paths)
        VSIUnlink(path.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Nothing to the network: PROJ's grids stay local, and any URL GDAL would fetch (a CRS given as
    // one, say) goes to a proxy on a closed local port and fails at once.
    setenv("PROJ_NETWORK", "OFF", 1);
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
        setenv(name, "http://127.0.0.1:9", 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    CPLSetConfigOption("PROJ_NETWORK", "OFF");
    CPLSetConfigOption("GDAL_HTTP_PROXY", "127.0.0.1:9");
    CPLSetConfigOption("GDAL_HTTP_TIMEOUT", "1");
    CPLSetConfigOption("GDAL_HTTP_MAX_RETRY", "0");
    CPLSetConfigOption("CPL_VSIL_CURL_ALLOWED_EXTENSIONS", ".none");
    CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "TRUE");
    // Newer GDALs open MEM::: names only when asked to.
    CPLSetConfigOption("GDAL_MEM_ENABLE_OPEN", "YES");
    hgt::InitialiseGdal();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (text.starts_with("<VRTDataset")) {
        replayVrts(std::string(text));
        return 0;
    }
    FuzzedDataProvider in(data, size);
    const int count = in.ConsumeIntegralInRange(1, kMaxRasters);
    std::vector<Raster> rasters;
    std::vector<std::string> paths;
    for (int k = 0; k < count; ++k) {
        rasters.push_back(rasterOf(in, k, k ? &rasters.back() : nullptr));
        const std::string vrt = vrtOf(rasters.back());
        if (showing())
            std::fprintf(stderr, "%s\n%s\n", rasters.back().path.c_str(), vrt.c_str());
        writeMemFile(rasters.back().path, vrt);
        paths.push_back(rasters.back().path);
    }

    const std::vector<hgt::RasterEntry> entries = readEntries(paths, &rasters);
    HeightRange range;
    for (const Raster& r : rasters)
        for (const hgt::RasterEntry& entry : entries)
            if (entry.path == r.path) {
                const HeightRange own = rangeOf(r);
                range.low = std::min(range.low, own.low);
                range.high = std::max(range.high, own.high);
            }
    sampleFromInput(in, range, entries);

    for (const Raster& r : rasters)
        VSIUnlink(r.path.c_str());
    return 0;
}

#include "rasters/raster_source.h"

#include "platform/file_system.h"
#include "tiles/engine.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>

namespace hgt {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Tile rows resampled per pass: the source window of a pass stays a few MB even for a 1" tile.
constexpr int kBandRows = 32;
// Source positions this close to a pixel centre are taken as on it, so that a neighbour with no
// weight (the pixel past a raster's edge) is not asked for.
constexpr double kSnap = 1e-6;

void InitialiseGdal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        // The passes read each block a few times; a modest cache holds a row of blocks without
        // letting GDAL take its default share of the machine's memory.
        if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr))
            GDALSetCacheMax64(std::int64_t{24} << 20);
    });
}

// GDAL's messages go to the error we return, not to stderr.
class QuietGdal {
public:
    QuietGdal()
    {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdal() { CPLPopErrorHandler(); }
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;

    static std::string lastMessage()
    {
        const char* message = CPLGetLastErrorMsg();
        return message && *message ? message : "unbekannter Fehler";
    }
};

// Opening a raster lists its folder by default, to find side files; in a folder of a thousand
// rasters that is a million names. Asked for by name instead, side files are still found.
class NoFolderListing {
public:
    NoFolderListing()
    {
        const char* before = CPLGetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", nullptr);
        if (before)
            m_before = before;
        CPLSetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "TRUE");
    }
    ~NoFolderListing()
    {
        CPLSetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", m_before ? m_before->c_str() : nullptr);
    }
    NoFolderListing(const NoFolderListing&) = delete;
    NoFolderListing& operator=(const NoFolderListing&) = delete;

private:
    std::optional<std::string> m_before;
};

struct DatasetCloser {
    void operator()(void* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

struct SrsDestroyer {
    void operator()(void* srs) const { OSRDestroySpatialReference(srs); }
};
using Srs = std::unique_ptr<void, SrsDestroyer>;

struct CtDestroyer {
    void operator()(void* ct) const { OCTDestroyCoordinateTransformation(ct); }
};
using Ct = std::unique_ptr<void, CtDestroyer>;

struct TransformerDestroyer {
    void operator()(void* transformer) const { GDALDestroyApproxTransformer(transformer); }
};
using Transformer = std::unique_ptr<void, TransformerDestroyer>;

Dataset OpenRaster(const std::string& path)
{
    return Dataset(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
}

// For reading pixels: a GeoTIFF decodes the blocks of one request on all cores (other formats
// ignore the option).
Dataset OpenRasterForPixels(const std::string& path)
{
    const char* options[] = {"NUM_THREADS=ALL_CPUS", nullptr};
    return Dataset(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, options, nullptr));
}

// Longitude east, latitude north, whatever the axis order of EPSG:4326 says.
Srs Wgs84()
{
    Srs srs(OSRNewSpatialReference(nullptr));
    OSRImportFromEPSG(srs.get(), 4326);
    OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

Srs SrsFromWkt(const std::string& wkt)
{
    Srs srs(OSRNewSpatialReference(nullptr));
    if (OSRSetFromUserInput(srs.get(), wkt.c_str()) != OGRERR_NONE)
        return nullptr;
    OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

struct LonLatBox {
    double west = 0, south = 0, east = 0, north = 0;
    bool intersects(const LonLatBox& other) const
    {
        return west < other.east && other.west < east && south < other.north && other.south < north;
    }
};

} // namespace

struct RasterEntry {
    std::string path;
    std::string crs; // "EPSG:<code>" or WKT
    std::array<double, 6> geoTransform{};
    int width = 0;
    int height = 0;
    LonLatBox box;
};

struct RasterSource::Index {
    std::string path;
    std::vector<RasterEntry> rasters;
};

namespace {

// Transformations to lon/lat by CRS: a folder of rasters mostly shares one or two.
class LonLatTransforms {
public:
    void* forCrs(const std::string& wkt)
    {
        auto found = m_transforms.find(wkt);
        if (found != m_transforms.end())
            return found->second.get();
        Ct ct;
        if (Srs source = SrsFromWkt(wkt))
            ct.reset(OCTNewCoordinateTransformation(source.get(), m_wgs84.get()));
        return m_transforms.emplace(wkt, std::move(ct)).first->second.get();
    }

private:
    Srs m_wgs84 = Wgs84();
    std::map<std::string, Ct> m_transforms;
};

// The CRS as text that names it again: "EPSG:25832" where it has a code (cheap to compare), else WKT2.
std::string CrsWkt(OGRSpatialReferenceH srs)
{
    const char* authority = OSRGetAuthorityName(srs, nullptr);
    const char* code = OSRGetAuthorityCode(srs, nullptr);
    if (authority && code && EqualsIgnoringCase(authority, "EPSG"))
        return std::string("EPSG:") + code;
    char* wkt = nullptr;
    const char* options[] = {"FORMAT=WKT2_2018", nullptr};
    if (OSRExportToWktEx(srs, &wkt, options) != OGRERR_NONE || !wkt) {
        CPLFree(wkt);
        return {};
    }
    std::string text = wkt;
    CPLFree(wkt);
    return text;
}

// The lon/lat box of a raster from points along its four edges (a projected raster's edges curve).
std::optional<LonLatBox> BoxOf(const RasterEntry& entry, void* ct)
{
    constexpr int kSteps = 8;
    std::vector<double> x, y, z;
    for (int i = 0; i <= kSteps; ++i) {
        const double f = static_cast<double>(i) / kSteps;
        const std::array<std::array<double, 2>, 4> points{{{f * entry.width, 0},
                                                           {f * entry.width, double(entry.height)},
                                                           {0, f * entry.height},
                                                           {double(entry.width), f * entry.height}}};
        for (const auto& [px, py] : points) {
            const auto& gt = entry.geoTransform;
            x.push_back(gt[0] + px * gt[1] + py * gt[2]);
            y.push_back(gt[3] + px * gt[4] + py * gt[5]);
            z.push_back(0);
        }
    }
    std::vector<int> ok(x.size(), 0);
    OCTTransformEx(ct, static_cast<int>(x.size()), x.data(), y.data(), z.data(), ok.data());
    std::optional<LonLatBox> box;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!ok[i] || !std::isfinite(x[i]) || !std::isfinite(y[i]))
            continue;
        if (!box)
            box = LonLatBox{x[i], y[i], x[i], y[i]};
        box->west = std::min(box->west, x[i]);
        box->east = std::max(box->east, x[i]);
        box->south = std::min(box->south, y[i]);
        box->north = std::max(box->north, y[i]);
    }
    return box;
}

// The header of one raster; nullopt for a file GDAL cannot open or that has no georeferencing.
std::optional<RasterEntry> ReadEntry(const std::string& path, LonLatTransforms& transforms)
{
    Dataset dataset = OpenRaster(path);
    if (!dataset || GDALGetRasterCount(dataset.get()) < 1)
        return std::nullopt;
    RasterEntry entry;
    entry.path = path;
    if (GDALGetGeoTransform(dataset.get(), entry.geoTransform.data()) != CE_None)
        return std::nullopt;
    OGRSpatialReferenceH srs = GDALGetSpatialRef(dataset.get());
    if (!srs)
        return std::nullopt;
    entry.crs = CrsWkt(srs);
    entry.width = GDALGetRasterXSize(dataset.get());
    entry.height = GDALGetRasterYSize(dataset.get());
    void* ct = entry.crs.empty() ? nullptr : transforms.forCrs(entry.crs);
    if (!ct)
        return std::nullopt;
    auto box = BoxOf(entry, ct);
    if (!box)
        return std::nullopt;
    entry.box = *box;
    return entry;
}

std::vector<std::string> RasterFilesBelow(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError) && IsRasterPath(it->path().string()))
            files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool FolderHoldsRaster(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError) && IsRasterPath(it->path().string()))
            return true;
    }
    return false;
}

// floor and round without a libm call per sample (the baseline x86-64 has no rounding instruction).
inline int FloorToInt(double x)
{
    const int i = static_cast<int>(x);
    return i > x ? i - 1 : i;
}
inline double RoundToWhole(double x)
{
    return static_cast<double>(static_cast<long long>(x + (x >= 0 ? 0.5 : -0.5)));
}

// TileHeight, inlined into the sample loop: adding ±0.5 and truncating rounds half away from zero
// without a branch on the fraction, which is a coin toss per sample.
inline std::int16_t HeightSample(double metres)
{
    if (std::isnan(metres))
        return kVoidValue;
    const double clamped = std::clamp(metres, -40000.0, 40000.0);
    const int value = std::clamp(static_cast<int>(clamped + std::copysign(0.5, clamped)), -32768, 32767);
    if (value == kVoidValue) [[unlikely]]
        return kVoidValue + 1;
    if (value <= -32767) [[unlikely]]
        return -32766;
    return static_cast<std::int16_t>(value);
}

bool Near(double a, double b)
{
    return std::abs(a - b) <= 1e-9 * std::max(std::abs(a), std::abs(b));
}

bool NearInteger(double value)
{
    return std::abs(value - std::round(value)) < 1e-3;
}

// Rasters on one pixel grid (same CRS, spacing, aligned origins) read as one mosaic, so that a
// sample between two of them (a tile's last row from its southern neighbour) still has all the
// pixels it needs.
struct Mosaic {
    struct Member {
        const RasterEntry* entry = nullptr;
        int column = 0; // of the member's first pixel on the mosaic's grid
        int row = 0;
        bool used = false;
    };
    std::vector<Member> members;
    std::array<double, 6> geoTransform{};
    int width = 0;
    int height = 0;

    bool accepts(const RasterEntry& entry) const
    {
        const RasterEntry& first = *members.front().entry;
        const auto& a = first.geoTransform;
        const auto& b = entry.geoTransform;
        return entry.crs == first.crs && a[2] == 0 && a[4] == 0 && b[2] == 0 && b[4] == 0 && Near(a[1], b[1]) &&
               Near(a[5], b[5]) && NearInteger((b[0] - a[0]) / a[1]) && NearInteger((b[3] - a[3]) / a[5]);
    }
};

std::vector<Mosaic> MosaicsOf(const std::vector<const RasterEntry*>& entries)
{
    std::vector<Mosaic> mosaics;
    for (const RasterEntry* entry : entries) {
        auto fits = std::find_if(mosaics.begin(), mosaics.end(), [&](const Mosaic& m) { return m.accepts(*entry); });
        if (fits == mosaics.end()) {
            mosaics.emplace_back();
            fits = std::prev(mosaics.end());
        }
        const auto& first = fits->members.empty() ? entry->geoTransform : fits->members.front().entry->geoTransform;
        Mosaic::Member member;
        member.entry = entry;
        member.column = static_cast<int>(std::lround((entry->geoTransform[0] - first[0]) / first[1]));
        member.row = static_cast<int>(std::lround((entry->geoTransform[3] - first[3]) / first[5]));
        fits->members.push_back(member);
    }
    for (Mosaic& mosaic : mosaics) {
        int left = 0, top = 0, right = 0, bottom = 0;
        for (const auto& m : mosaic.members) {
            left = std::min(left, m.column);
            top = std::min(top, m.row);
            right = std::max(right, m.column + m.entry->width);
            bottom = std::max(bottom, m.row + m.entry->height);
        }
        for (auto& m : mosaic.members) {
            m.column -= left;
            m.row -= top;
        }
        mosaic.width = right - left;
        mosaic.height = bottom - top;
        mosaic.geoTransform = mosaic.members.front().entry->geoTransform;
        mosaic.geoTransform[0] += left * mosaic.geoTransform[1];
        mosaic.geoTransform[3] += top * mosaic.geoTransform[5];
    }
    return mosaics;
}

// A member raster opened for reading: its first band and what makes a pixel valid.
struct OpenMember {
    Dataset dataset;
    GDALRasterBandH band = nullptr;
    std::optional<double> nodata;
    double scale = 1;
    double offset = 0;
};

// Pixels of a mosaic, NaN where no member has a valid value.
struct Window {
    int column = 0;
    int row = 0;
    int columns = 0;
    int rows = 0;
    std::vector<double> pixels;

    double at(int c, int r) const
    {
        if (c < column || r < row || c >= column + columns || r >= row + rows)
            return kNaN;
        return pixels[static_cast<std::size_t>(r - row) * columns + (c - column)];
    }
};

// The tent weights of the pixels within `radius` of position `at`: bilinear for a radius of one
// pixel, a weighted average over the footprint of a tile sample when the source is finer.
void TentWeights(double at, double radius, int& first, std::vector<double>& weights)
{
    weights.clear();
    first = static_cast<int>(std::floor(at - radius)) + 1;
    const int last = static_cast<int>(std::ceil(at + radius)) - 1;
    for (int i = first; i <= last; ++i)
        weights.push_back(1.0 - std::abs(i - at) / radius);
    while (!weights.empty() && weights.back() <= kSnap)
        weights.pop_back();
    while (!weights.empty() && weights.front() <= kSnap) {
        weights.erase(weights.begin());
        ++first;
    }
}

// The mosaic's height at (u, v), pixel centres at whole numbers; NaN unless every weighted pixel is valid.
double Resample(const Window& window, double u, double v, double rx, double ry, std::vector<double>& wx,
                std::vector<double>& wy)
{
    if (rx == 1 && ry == 1) {
        // Bilinear: the two pixels either side, or the one pixel a position sits on.
        const int c = FloorToInt(u), r = FloorToInt(v);
        const double fu = u - c, fv = v - r;
        const double p00 = window.at(c, r);
        const double p10 = fu > 0 ? window.at(c + 1, r) : 0;
        const double p01 = fv > 0 ? window.at(c, r + 1) : 0;
        const double p11 = fu > 0 && fv > 0 ? window.at(c + 1, r + 1) : 0;
        const double top = p00 + fu * (p10 - p00);
        const double bottom = p01 + fu * (p11 - p01);
        return top + fv * (bottom - top); // NaN when any weighted pixel is NaN
    }
    int cx = 0, cy = 0;
    TentWeights(u, rx, cx, wx);
    TentWeights(v, ry, cy, wy);
    double sum = 0, weightX = 0, weightY = 0;
    for (double w : wx)
        weightX += w;
    for (double w : wy)
        weightY += w;
    for (std::size_t j = 0; j < wy.size(); ++j) {
        double rowSum = 0;
        for (std::size_t i = 0; i < wx.size(); ++i) {
            const double p = window.at(cx + static_cast<int>(i), cy + static_cast<int>(j));
            if (std::isnan(p))
                return kNaN;
            rowSum += wx[i] * p;
        }
        sum += wy[j] * rowSum;
    }
    return sum / (weightX * weightY);
}

Error ReadError(const std::string& path)
{
    return Error{ErrorKind::Io, "Die Rasterdatei " + path + " lässt sich nicht lesen: " + QuietGdal::lastMessage()};
}

// Reads the mosaic's pixels in [column, column+columns) x [row, row+rows) from every member.
Result<> ReadWindow(Mosaic& mosaic, std::vector<OpenMember>& open, Window& window, std::vector<double>& scratch)
{
    window.pixels.assign(static_cast<std::size_t>(window.columns) * window.rows, kNaN);
    for (std::size_t m = 0; m < mosaic.members.size(); ++m) {
        auto& member = mosaic.members[m];
        const int c0 = std::max(window.column, member.column);
        const int r0 = std::max(window.row, member.row);
        const int c1 = std::min(window.column + window.columns, member.column + member.entry->width);
        const int r1 = std::min(window.row + window.rows, member.row + member.entry->height);
        if (c0 >= c1 || r0 >= r1)
            continue;
        const int w = c1 - c0, h = r1 - r0;
        scratch.resize(static_cast<std::size_t>(w) * h);
        if (GDALRasterIO(open[m].band, GF_Read, c0 - member.column, r0 - member.row, w, h, scratch.data(), w, h,
                         GDT_Float64, 0, 0) != CE_None)
            return ReadError(member.entry->path);
        member.used = true;
        for (int r = 0; r < h; ++r) {
            double* out = &window.pixels[static_cast<std::size_t>(r + r0 - window.row) * window.columns + (c0 - window.column)];
            const double* in = &scratch[static_cast<std::size_t>(r) * w];
            for (int c = 0; c < w; ++c) {
                const double p = in[c];
                if (!std::isnan(out[c]) || std::isnan(p) || (open[m].nodata && p == *open[m].nodata))
                    continue;
                out[c] = p * open[m].scale + open[m].offset;
            }
        }
    }
    return {};
}

struct TileGridSpec {
    int side = 0;
    TileOrigin origin;
};

// Fills the pending samples of the tile that the mosaic can give; marks the members that were read.
Result<> SampleMosaic(Mosaic& mosaic, const TileGridSpec& tile, const std::uint8_t* wanted,
                      std::vector<std::int16_t>& values)
{
    // A sample still waits for a value while it is void (a height is never the void value).
    const auto pending = [&](std::size_t i) { return values[i] == kVoidValue && (!wanted || wanted[i]); };
    const int n = tile.side;
    std::vector<OpenMember> open;
    for (const auto& member : mosaic.members) {
        OpenMember o;
        o.dataset = OpenRasterForPixels(member.entry->path);
        if (!o.dataset)
            return ReadError(member.entry->path);
        o.band = GDALGetRasterBand(o.dataset.get(), 1);
        int has = 0;
        const double nodata = GDALGetRasterNoDataValue(o.band, &has);
        if (has)
            o.nodata = nodata;
        o.scale = GDALGetRasterScale(o.band, &has);
        if (!has)
            o.scale = 1;
        o.offset = GDALGetRasterOffset(o.band, &has);
        if (!has)
            o.offset = 0;
        open.push_back(std::move(o));
    }

    // From tile sample (column, row) to the mosaic's pixel/line (pixel i spans [i, i+1)).
    Srs sourceSrs = SrsFromWkt(mosaic.members.front().entry->crs);
    Srs wgs84 = Wgs84();
    const double step = 1.0 / (n - 1);
    const double tileTransform[6] = {double(tile.origin.longitude), step, 0, double(tile.origin.latitude + 1), 0, -step};
    void* exact = sourceSrs ? GDALCreateGenImgProjTransformer4(sourceSrs.get(), mosaic.geoTransform.data(), wgs84.get(),
                                                               tileTransform, nullptr)
                            : nullptr;
    if (!exact)
        return Error{ErrorKind::Io, "Keine Umrechnung von " + mosaic.members.front().entry->path + " auf WGS84: " +
                                        QuietGdal::lastMessage()};
    Transformer transform(GDALCreateApproxTransformer(GDALGenImgProjTransform, exact, 0.125));
    GDALApproxTransformerOwnsSubtransformer(transform.get(), TRUE);

    // How many source pixels one tile step spans decides between bilinear and a footprint average.
    double radiusX = 1, radiusY = 1;
    bool rowsAdvance = true; // source rows grow with the tile's rows (north up)
    {
        const double middle = (n - 1) / 2.0;
        double x[3] = {middle, middle + 1, middle}, y[3] = {middle, middle, middle + 1}, z[3] = {};
        int ok[3] = {};
        GDALGenImgProjTransform(exact, TRUE, 3, x, y, z, ok);
        if (ok[0] && ok[1] && ok[2]) {
            radiusX = std::max(1.0, std::abs(x[1] - x[0]) + std::abs(x[2] - x[0]));
            radiusY = std::max(1.0, std::abs(y[1] - y[0]) + std::abs(y[2] - y[0]));
            rowsAdvance = y[2] >= y[0];
        }
    }

    // The first rows of the members' block rows, on the mosaic's grid.
    std::vector<double> blockRows;
    for (std::size_t m = 0; m < mosaic.members.size(); ++m) {
        int blockColumns = 0, blockHeight = 0;
        GDALGetBlockSize(open[m].band, &blockColumns, &blockHeight);
        const auto& member = mosaic.members[m];
        for (int row = blockHeight; blockHeight > 0 && row < member.entry->height; row += blockHeight)
            blockRows.push_back(member.row + row);
    }
    std::sort(blockRows.begin(), blockRows.end());

    std::vector<double> u, v, z;
    std::vector<int> ok;
    std::vector<double> scratch, wx, wy;
    Window window;
    for (int r0 = 0, r1 = 0; r0 < n; r0 = r1) {
        r1 = std::min(n, r0 + kBandRows);
        int c0 = n, c1 = -1;
        for (int r = r0; r < r1; ++r) {
            const std::size_t row = static_cast<std::size_t>(r) * n;
            for (int c = 0; c < n; ++c)
                if (pending(row + c)) {
                    c0 = std::min(c0, c);
                    break;
                }
            for (int c = n - 1; c >= 0; --c)
                if (pending(row + c)) {
                    c1 = std::max(c1, c);
                    break;
                }
        }
        if (c1 < c0)
            continue;
        const int columns = c1 - c0 + 1;
        const std::size_t count = static_cast<std::size_t>(r1 - r0) * columns;
        u.resize(count);
        v.resize(count);
        z.assign(count, 0);
        ok.assign(count, 0);
        for (int r = r0; r < r1; ++r)
            for (int c = c0; c <= c1; ++c) {
                const std::size_t i = static_cast<std::size_t>(r - r0) * columns + (c - c0);
                u[i] = c;
                v[i] = r;
            }
        for (int r = r0; r < r1; ++r) {
            const std::size_t i = static_cast<std::size_t>(r - r0) * columns;
            GDALUseTransformer(transform.get(), TRUE, columns, &u[i], &v[i], &z[i], &ok[i]);
        }
        // The pass ends where its leading rows would reach into the next row of source blocks, so that
        // each block row is decoded once while the pass before left the last one in GDAL's cache.
        std::optional<std::size_t> leadingBlock;
        for (int r = r0; r < r1; ++r) {
            double edge = rowsAdvance ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
            bool any = false;
            for (std::size_t i = static_cast<std::size_t>(r - r0) * columns, e = i + columns; i < e; ++i)
                if (ok[i] && std::isfinite(v[i])) {
                    edge = rowsAdvance ? std::max(edge, v[i] - 0.5 + radiusY) : std::min(edge, v[i] - 0.5 - radiusY);
                    any = true;
                }
            if (!any)
                continue;
            const auto block = static_cast<std::size_t>(
                std::upper_bound(blockRows.begin(), blockRows.end(), edge) - blockRows.begin());
            if (!leadingBlock)
                leadingBlock = block;
            else if (block != *leadingBlock) {
                r1 = r;
                break;
            }
        }
        const std::size_t used = static_cast<std::size_t>(r1 - r0) * columns;
        double uMin = std::numeric_limits<double>::max(), uMax = -uMin, vMin = uMin, vMax = -uMin;
        for (std::size_t i = 0; i < used; ++i) {
            if (!ok[i] || !std::isfinite(u[i]) || !std::isfinite(v[i])) {
                ok[i] = 0;
                continue;
            }
            // Pixel centres at whole numbers.
            u[i] -= 0.5;
            v[i] -= 0.5;
            if (const double whole = RoundToWhole(u[i]); std::abs(u[i] - whole) < kSnap)
                u[i] = whole;
            if (const double whole = RoundToWhole(v[i]); std::abs(v[i] - whole) < kSnap)
                v[i] = whole;
            uMin = std::min(uMin, u[i]);
            uMax = std::max(uMax, u[i]);
            vMin = std::min(vMin, v[i]);
            vMax = std::max(vMax, v[i]);
        }
        if (uMin > uMax)
            continue;
        const double limit = 1e9;
        window.column = static_cast<int>(std::max(0.0, std::floor(std::max(-limit, uMin - radiusX))));
        window.row = static_cast<int>(std::max(0.0, std::floor(std::max(-limit, vMin - radiusY))));
        const int lastColumn = static_cast<int>(std::min<double>(mosaic.width - 1, std::ceil(std::min(limit, uMax + radiusX))));
        const int lastRow = static_cast<int>(std::min<double>(mosaic.height - 1, std::ceil(std::min(limit, vMax + radiusY))));
        if (lastColumn < window.column || lastRow < window.row)
            continue;
        window.columns = lastColumn - window.column + 1;
        window.rows = lastRow - window.row + 1;
        if (auto read = ReadWindow(mosaic, open, window, scratch); !read)
            return read;
        for (int r = r0; r < r1; ++r)
            for (int c = c0; c <= c1; ++c) {
                const std::size_t t = static_cast<std::size_t>(r) * n + c;
                const std::size_t i = static_cast<std::size_t>(r - r0) * columns + (c - c0);
                if (!ok[i] || !pending(t))
                    continue;
                const double height = Resample(window, u[i], v[i], radiusX, radiusY, wx, wy);
                if (!std::isnan(height))
                    values[t] = HeightSample(height);
            }
    }
    return {};
}

} // namespace

std::optional<TileOrigin> TileOriginOf(std::string_view name)
{
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    if (name.size() < 7)
        return std::nullopt;
    const char ns = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    const char ew = static_cast<char>(std::toupper(static_cast<unsigned char>(name[3])));
    auto digits = [&](std::size_t from, std::size_t count) -> std::optional<int> {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(name[i])))
                return std::nullopt;
            value = value * 10 + (name[i] - '0');
        }
        return value;
    };
    const auto lat = digits(1, 2);
    const auto lon = digits(4, 3);
    if ((ns != 'N' && ns != 'S') || (ew != 'E' && ew != 'W') || !lat || !lon || *lat > 90 || *lon > 180)
        return std::nullopt;
    return TileOrigin{ns == 'S' ? -*lat : *lat, ew == 'W' ? -*lon : *lon};
}

std::int16_t TileHeight(double metres)
{
    return HeightSample(metres);
}

bool IsRasterPath(std::string_view path)
{
    static constexpr std::array<std::string_view, 14> kExtensions{
        "tif", "tiff", "vrt", "img", "asc", "bil", "flt", "dt0", "dt1", "dt2", "nc", "jp2", "dem", "gpkg"};
    const std::string extension = GetExtensionName(path);
    return std::any_of(kExtensions.begin(), kExtensions.end(),
                       [&](std::string_view e) { return EqualsIgnoringCase(e, extension); });
}

RasterSource::RasterSource(std::unique_ptr<Index> index) : m_index(std::move(index)) {}
RasterSource::RasterSource(RasterSource&&) noexcept = default;
RasterSource& RasterSource::operator=(RasterSource&&) noexcept = default;
RasterSource::~RasterSource() = default;

const std::string& RasterSource::path() const
{
    return m_index->path;
}

std::size_t RasterSource::rasterCount() const
{
    return m_index->rasters.size();
}

bool RasterSource::looksLikeRasterSource(const std::string& path)
{
    if (FolderExists(path))
        return !FolderHoldsTile(path) && FolderHoldsRaster(path);
    return FileExists(path) && IsRasterPath(path);
}

Result<RasterSource> RasterSource::open(const std::string& path)
{
    const bool folder = FolderExists(path);
    if (!folder && !FileExists(path))
        return Error{ErrorKind::NotFound, "Die Rasterquelle " + path + " gibt es nicht."};
    InitialiseGdal();
    QuietGdal quiet;
    NoFolderListing noListing;
    auto index = std::make_unique<Index>();
    index->path = path;
    LonLatTransforms transforms;
    if (folder) {
        for (const std::string& file : RasterFilesBelow(path))
            if (auto entry = ReadEntry(file, transforms))
                index->rasters.push_back(std::move(*entry));
        if (index->rasters.empty())
            return Error{ErrorKind::NotFound, "Der Ordner " + path + " enthält keine georeferenzierten Raster."};
    } else {
        auto entry = ReadEntry(path, transforms);
        if (!entry)
            return Error{ErrorKind::NotATile,
                         "Die Datei " + path + " ist kein georeferenziertes Raster: " + QuietGdal::lastMessage()};
        index->rasters.push_back(std::move(*entry));
    }
    return RasterSource(std::move(index));
}

Result<std::optional<SourceTileSamples>> RasterSource::tileFor(const std::string& tileName, int side,
                                                               const std::vector<std::uint8_t>* wanted) const
{
    const auto origin = TileOriginOf(tileName);
    if (!origin)
        return Error{ErrorKind::NotATile, tileName + " ist kein Kachelname."};
    const std::size_t samples = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    if (side < 2 || (wanted && wanted->size() != samples))
        return Error{ErrorKind::Internal, "Falsche Kachelgröße für " + tileName + "."};

    const double margin = 0.5 / (side - 1);
    const LonLatBox tileBox{origin->longitude - margin, origin->latitude - margin, origin->longitude + 1 + margin,
                            origin->latitude + 1 + margin};
    std::vector<const RasterEntry*> covering;
    for (const RasterEntry& entry : m_index->rasters)
        if (entry.box.intersects(tileBox))
            covering.push_back(&entry);
    if (covering.empty())
        return std::optional<SourceTileSamples>{};

    QuietGdal quiet;
    NoFolderListing noListing;
    SourceTileSamples tile;
    tile.side = side;
    tile.values.assign(samples, kVoidValue);

    std::vector<Mosaic> mosaics = MosaicsOf(covering);
    const TileGridSpec grid{side, *origin};
    for (Mosaic& mosaic : mosaics) {
        const auto voidsBefore = std::count(tile.values.begin(), tile.values.end(), kVoidValue);
        if (auto sampled = SampleMosaic(mosaic, grid, wanted ? wanted->data() : nullptr, tile.values); !sampled)
            return sampled.error();
        if (std::count(tile.values.begin(), tile.values.end(), kVoidValue) == voidsBefore)
            continue;
        for (const auto& member : mosaic.members)
            if (member.used)
                tile.files.push_back(member.entry->path);
    }
    return std::optional<SourceTileSamples>(std::move(tile));
}

} // namespace hgt

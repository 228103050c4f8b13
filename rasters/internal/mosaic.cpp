#include "rasters/internal/mosaic.h"

#include "platform/file_system.h"
#include "rasters/internal/gdal_support.h"
#include "tiles/tile_error.h"

#include <chrono>
#include <limits>
#include <optional>

namespace hgt {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Tile rows resampled per pass: the source window of a pass stays a few MB even for a 1" tile.
constexpr int kBandRows = 32;
// Up to this many source pixels per tile step the source is read pixel by pixel (the bilinear and
// tent kernels as they always were); beyond it, GDAL reads it decimated to about kDecimatedRadius.
constexpr double kFullResolutionRadius = 8;
constexpr double kDecimatedRadius = 4;
// Beyond this many source pixels per tile step (after the best overview) a source is refused: reading
// it would take hours.
constexpr double kFinestRadius = 100;
// The pixels of one pass's window at most (with the read buffer and owners about 160 MB); a pass
// that would need more takes fewer tile rows.
constexpr std::size_t kLargestWindow = std::size_t{8} << 20;
// Source positions this close to a pixel centre are taken as on it, so that a neighbour with no
// weight (the pixel past a raster's edge) is not asked for.
constexpr double kSnap = 1e-6;

bool Near(double a, double b)
{
    return std::abs(a - b) <= 1e-9 * std::max(std::abs(a), std::abs(b));
}

bool NearInteger(double value)
{
    return std::abs(value - std::round(value)) < 1e-3;
}

} // namespace

bool Mosaic::accepts(const RasterEntry& entry) const
{
    const RasterEntry& first = *members.front().entry;
    const auto& a = first.geoTransform;
    const auto& b = entry.geoTransform;
    return entry.crs == first.crs && a[2] == 0 && a[4] == 0 && b[2] == 0 && b[4] == 0 && Near(a[1], b[1])
           && Near(a[5], b[5]) && NearInteger((b[0] - a[0]) / a[1]) && NearInteger((b[3] - a[3]) / a[5]);
}

std::vector<Mosaic> MosaicsOf(const std::vector<const RasterEntry*>& entries)
{
    // The extent of each mosaic in pixels from its first member's first pixel, in 64 bits: a raster
    // that would stretch its mosaic beyond int pixels starts a mosaic of its own instead.
    struct Extent {
        std::int64_t left = 0, top = 0, right = 0, bottom = 0;
    };
    std::vector<Mosaic> mosaics;
    std::vector<Extent> extents;
    for (const RasterEntry* entry : entries) {
        std::optional<std::size_t> fits;
        Mosaic::Member member;
        member.entry = entry;
        Extent grown;
        for (std::size_t m = 0; m < mosaics.size() && !fits; ++m) {
            if (!mosaics[m].accepts(*entry))
                continue;
            const auto& first = mosaics[m].members.front().entry->geoTransform;
            const double column = std::round((entry->geoTransform[0] - first[0]) / first[1]);
            const double row = std::round((entry->geoTransform[3] - first[3]) / first[5]);
            constexpr double kIntPixels = std::numeric_limits<int>::max();
            if (!(std::abs(column) <= kIntPixels && std::abs(row) <= kIntPixels))
                continue;
            member.column = static_cast<int>(column);
            member.row = static_cast<int>(row);
            const Extent& e = extents[m];
            grown = {std::min<std::int64_t>(e.left, member.column), std::min<std::int64_t>(e.top, member.row),
                     std::max(e.right, std::int64_t{member.column} + entry->width),
                     std::max(e.bottom, std::int64_t{member.row} + entry->height)};
            if (grown.right - grown.left <= std::numeric_limits<int>::max()
                && grown.bottom - grown.top <= std::numeric_limits<int>::max())
                fits = m;
        }
        if (!fits) {
            fits = mosaics.size();
            mosaics.emplace_back();
            member.column = member.row = 0;
            grown = {0, 0, entry->width, entry->height};
            extents.emplace_back();
        }
        mosaics[*fits].members.push_back(member);
        extents[*fits] = grown;
    }
    for (std::size_t i = 0; i < mosaics.size(); ++i) {
        Mosaic& mosaic = mosaics[i];
        const Extent& e = extents[i];
        for (auto& m : mosaic.members) {
            m.column = static_cast<int>(m.column - e.left);
            m.row = static_cast<int>(m.row - e.top);
        }
        mosaic.width = static_cast<int>(e.right - e.left);
        mosaic.height = static_cast<int>(e.bottom - e.top);
        mosaic.geoTransform = mosaic.members.front().entry->geoTransform;
        mosaic.geoTransform[0] += static_cast<double>(e.left) * mosaic.geoTransform[1];
        mosaic.geoTransform[3] += static_cast<double>(e.top) * mosaic.geoTransform[5];
    }
    return mosaics;
}

namespace {

// A member raster opened for reading: its first band and what makes a pixel valid.
struct OpenMember {
    Dataset dataset;
    GDALRasterBandH band = nullptr;
    std::optional<double> nodata;
    double scale = 1;
    double offset = 0;
    double metresPerUnit = 1;
    bool asIs = true; // the pixel values are metres
};

// Pixels of a mosaic (decimated by `factor` when the source is much finer than the tile), NaN where no
// member has a valid value, and which member each came from.
struct Window {
    int column = 0;
    int row = 0;
    int columns = 0;
    int rows = 0;
    int factor = 1;
    std::vector<double> pixels;
    std::vector<std::uint32_t> owners;

    double at(std::int64_t c, std::int64_t r) const
    {
        if (c < column || r < row || c >= column + columns || r >= row + rows)
            return kNaN;
        return pixels[static_cast<std::size_t>(r - row) * columns + (c - column)];
    }
    std::optional<std::uint32_t> ownerAt(std::int64_t c, std::int64_t r) const
    {
        if (c < column || r < row || c >= column + columns || r >= row + rows)
            return std::nullopt;
        return owners[static_cast<std::size_t>(r - row) * columns + (c - column)];
    }
};

// The tent weights of the pixels within `radius` of position `at`: bilinear for a radius of one
// pixel, a weighted average over the footprint of a tile sample when the source is finer.
void TentWeights(double at, double radius, std::int64_t& first, std::vector<double>& weights)
{
    weights.clear();
    first = static_cast<std::int64_t>(std::floor(at - radius)) + 1;
    const auto last = static_cast<std::int64_t>(std::ceil(at + radius)) - 1;
    for (std::int64_t i = first; i <= last; ++i)
        weights.push_back(1.0 - std::abs(static_cast<double>(i) - at) / radius);
    while (!weights.empty() && weights.back() <= kSnap)
        weights.pop_back();
    const auto front = std::find_if(weights.begin(), weights.end(), [](double w) { return w > kSnap; });
    first += front - weights.begin();
    weights.erase(weights.begin(), front);
}

// The mosaic's height at (u, v), pixel centres at whole numbers; NaN unless every weighted pixel is valid.
double Resample(const Window& window, double u, double v, double rx, double ry, std::vector<double>& wx,
                std::vector<double>& wy)
{
    if (rx == 1 && ry == 1) {
        // Bilinear: the two pixels either side, or the one pixel a position sits on.
        const std::int64_t c = FloorToWhole(u), r = FloorToWhole(v);
        const double fu = u - c, fv = v - r;
        const double p00 = window.at(c, r);
        const double p10 = fu > 0 ? window.at(c + 1, r) : 0;
        const double p01 = fv > 0 ? window.at(c, r + 1) : 0;
        const double p11 = fu > 0 && fv > 0 ? window.at(c + 1, r + 1) : 0;
        const double top = p00 + fu * (p10 - p00);
        const double bottom = p01 + fu * (p11 - p01);
        return top + fv * (bottom - top); // NaN when any weighted pixel is NaN
    }
    std::int64_t cx = 0, cy = 0;
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
            const double p = window.at(cx + static_cast<std::int64_t>(i), cy + static_cast<std::int64_t>(j));
            if (std::isnan(p))
                return kNaN;
            rowSum += wx[i] * p;
        }
        sum += wy[j] * rowSum;
    }
    return sum / (weightX * weightY);
}

Error ReadError(const std::string& path, const QuietGdal& quiet)
{
    if (!FileExists(path))
        return Error{ErrorKind::NotFound, "Die Rasterdatei " + path + " gibt es nicht mehr."};
    return Error{ErrorKind::Io, "Die Rasterdatei " + path + " lässt sich nicht lesen: " + quiet.reason()};
}

Error StoppedError(const std::string& path)
{
    return Error{ErrorKind::Io, "Das Lesen von " + path + " wurde angehalten."};
}

int CPL_STDCALL AskWhileReading(double, const char*, void* asker)
{
    return (*static_cast<ProceedAsker*>(asker))() ? TRUE : FALSE;
}

// A run of pixels along one axis of a member, on the full grid (`full`, `fullCount`) and on the
// decimated one (`at`, `count`): whole decimated pixels read together, a pixel the member's edge cuts
// read on its own from the part the member has.
struct Span {
    int full = 0;
    int fullCount = 0;
    int at = 0;
    int count = 0;
};

// The spans of full pixels [a, b) for decimation by k (k = 1: one span, the pixels as they are).
// In 64 bits: a decimated pixel's end on the full grid may lie past the int range.
std::vector<Span> SpansOf(std::int64_t a, std::int64_t b, std::int64_t k)
{
    std::vector<Span> spans;
    const auto span = [&](std::int64_t full, std::int64_t fullCount, std::int64_t at, std::int64_t count) {
        spans.push_back(
            {static_cast<int>(full), static_cast<int>(fullCount), static_cast<int>(at), static_cast<int>(count)});
    };
    const std::int64_t firstWhole = (a + k - 1) / k, endWhole = b / k;
    if (endWhole <= firstWhole) { // no whole decimated pixel: one or two cut ones
        for (std::int64_t d = a / k; d * k < b; ++d) {
            const std::int64_t from = std::max(a, d * k), to = std::min(b, (d + 1) * k);
            span(from, to - from, d, 1);
        }
        return spans;
    }
    if (firstWhole * k > a)
        span(a, firstWhole * k - a, firstWhole - 1, 1);
    span(firstWhole * k, (endWhole - firstWhole) * k, firstWhole, endWhole - firstWhole);
    if (endWhole * k < b)
        span(endWhole * k, b - endWhole * k, endWhole, 1);
    return spans;
}

// Reads the mosaic's pixels of the window from every member; the first member with a valid pixel wins.
Result<> ReadWindow(Mosaic& mosaic, std::vector<OpenMember>& open, Window& window, std::vector<double>& scratch,
                    ProceedAsker& proceed)
{
    const std::size_t size = static_cast<std::size_t>(window.columns) * window.rows;
    window.pixels.assign(size, kNaN);
    window.owners.assign(size, 0);
    const int k = window.factor;
    for (std::size_t m = 0; m < mosaic.members.size(); ++m) {
        const auto& member = mosaic.members[m];
        // The window's edges on the full grid may lie past the int range; the member's do not.
        const auto c0 = static_cast<int>(std::max<std::int64_t>(std::int64_t{window.column} * k, member.column));
        const auto r0 = static_cast<int>(std::max<std::int64_t>(std::int64_t{window.row} * k, member.row));
        const auto c1 = static_cast<int>(std::min<std::int64_t>(std::int64_t{window.column + window.columns} * k,
                                                                std::int64_t{member.column} + member.entry->width));
        const auto r1 = static_cast<int>(std::min<std::int64_t>(std::int64_t{window.row + window.rows} * k,
                                                                std::int64_t{member.row} + member.entry->height));
        if (c0 >= c1 || r0 >= r1)
            continue;
        const OpenMember& o = open[m];
        for (const Span& y : SpansOf(r0, r1, k))
            for (const Span& x : SpansOf(c0, c1, k)) {
                scratch.resize(static_cast<std::size_t>(x.count) * y.count);
                GDALRasterIOExtraArg extra;
                INIT_RASTERIO_EXTRA_ARG(extra);
                // Averaging lets a declared nodata pixel out; without one, a pixel is picked, so that an
                // undeclared void marker is seen as one instead of being averaged into heights.
                extra.eResampleAlg = o.nodata ? GRIORA_Average : GRIORA_NearestNeighbour;
                extra.pfnProgress = AskWhileReading;
                extra.pProgressData = &proceed;
                QuietGdal quiet;
                if (GDALRasterIOEx(o.band, GF_Read, x.full - member.column, y.full - member.row, x.fullCount,
                                   y.fullCount, scratch.data(), x.count, y.count, GDT_Float64, 0, 0, &extra)
                    != CE_None)
                    return proceed.stopped() ? StoppedError(member.entry->path) : ReadError(member.entry->path, quiet);
                for (int r = 0; r < y.count; ++r) {
                    const std::size_t rowStart =
                        static_cast<std::size_t>(y.at + r - window.row) * window.columns + (x.at - window.column);
                    double* out = &window.pixels[rowStart];
                    std::uint32_t* owner = &window.owners[rowStart];
                    const double* in = &scratch[static_cast<std::size_t>(r) * x.count];
                    for (int c = 0; c < x.count; ++c) {
                        const double p = in[c];
                        if (!std::isnan(out[c]) || std::isnan(p) || (o.nodata && p == *o.nodata) || IsVoidMarker(p))
                            continue;
                        const double height = o.asIs ? p : (p * o.scale + o.offset) * o.metresPerUnit;
                        if (!o.asIs && IsVoidMarker(height))
                            continue;
                        out[c] = height;
                        owner[c] = static_cast<std::uint32_t>(m);
                    }
                }
            }
    }
    return {};
}

} // namespace

bool ProceedAsker::operator()()
{
    if (m_stopped)
        return false;
    if (!m_proceed)
        return true;
    // A few milliseconds apart: asking yields to the window's events, which costs more than a block read.
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    if (now - m_lastAsked < 5)
        return true;
    m_lastAsked = now;
    m_stopped = !m_proceed();
    return !m_stopped;
}

namespace {

// One mosaic resampled onto one tile, a pass of tile rows at a time: which samples wait, where they
// fall in the mosaic, the pixels around them, and their heights.
class MosaicSampler {
public:
    MosaicSampler(Mosaic& mosaic, const TilePlacement& tile, const std::uint8_t* wanted,
                  std::vector<std::int16_t>& values, ProceedAsker& proceed)
        : m_mosaic(mosaic), m_side(tile.side), m_origin(tile.origin), m_wanted(wanted), m_values(values),
          m_proceed(proceed)
    {}

    Result<> run()
    {
        if (auto opened = openMembers(); !opened)
            return opened;
        if (auto made = makeTransformer(); !made)
            return made;
        if (auto fine = chooseDecimation(); !fine)
            return fine;
        findBlockRows();
        for (int first = 0, end = 0; first < m_side; first = end) {
            if (!m_proceed())
                return StoppedError(m_mosaic.members.front().entry->path);
            end = std::min(m_side, first + kBandRows);
            if (!waitingColumns(first, end))
                continue;
            transformPass(first, end);
            end = endBeforeNextBlockRow(first, end);
            centre(first, end);
            if (!windowFor(first, end))
                continue;
            while (windowPixels() > kLargestWindow && end - first > 1) {
                end = first + (end - first) / 2;
                windowFor(first, end);
            }
            if (windowPixels() > kLargestWindow)
                return tooFine(std::max(m_radiusX, m_radiusY));
            if (auto read = ReadWindow(m_mosaic, m_open, m_window, m_scratch, m_proceed); !read)
                return read;
            resamplePass(first, end);
        }
        return {};
    }

private:
    // A sample waits while it is void (a height is never the void value) and, with a mask, wanted.
    bool waiting(std::size_t i) const { return m_values[i] == kVoidValue && (!m_wanted || m_wanted[i]); }
    std::size_t at(int row, int column) const
    {
        return static_cast<std::size_t>(row - m_first) * m_columns + (column - m_firstColumn);
    }
    std::size_t windowPixels() const { return static_cast<std::size_t>(m_window.columns) * m_window.rows; }

    Result<> openMembers()
    {
        for (const auto& member : m_mosaic.members) {
            if (!m_proceed())
                return StoppedError(member.entry->path);
            QuietGdal quiet;
            OpenMember o;
            o.dataset = OpenRasterForPixels(member.entry->path);
            if (!o.dataset)
                return ReadError(member.entry->path, quiet);
            o.band = GDALGetRasterBand(o.dataset.get(), 1);
            if (!o.band)
                return ReadError(member.entry->path, quiet);
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
            o.metresPerUnit = member.entry->metresPerUnit;
            o.asIs = o.scale == 1 && o.offset == 0 && o.metresPerUnit == 1;
            m_open.push_back(std::move(o));
        }
        return {};
    }

    // From tile sample (column, row) to the mosaic's pixel/line (pixel i spans [i, i+1)), and the
    // kernel: how many source pixels one tile step spans decides between bilinear and an average.
    Result<> makeTransformer()
    {
        QuietGdal quiet;
        Srs sourceSrs = SrsFromText(m_mosaic.members.front().entry->crs);
        Srs wgs84 = Wgs84();
        const double step = 1.0 / (m_side - 1);
        const double tileTransform[6] = {double(m_origin.longitude), step, 0, double(m_origin.latitude + 1), 0, -step};
        void* exact = sourceSrs ? GDALCreateGenImgProjTransformer4(sourceSrs.get(), m_mosaic.geoTransform.data(),
                                                                   wgs84.get(), tileTransform, nullptr)
                                : nullptr;
        if (!exact)
            return Error{ErrorKind::Io, "Keine Umrechnung von " + m_mosaic.members.front().entry->path
                                            + " auf WGS84: " + quiet.reason()};
        m_transform.reset(GDALCreateApproxTransformer(GDALGenImgProjTransform, exact, 0.125));
        GDALApproxTransformerOwnsSubtransformer(m_transform.get(), TRUE);

        const double middle = (m_side - 1) / 2.0;
        double x[3] = {middle, middle + 1, middle}, y[3] = {middle, middle, middle + 1}, z[3] = {};
        int ok[3] = {};
        GDALGenImgProjTransform(exact, TRUE, 3, x, y, z, ok);
        if (ok[0] && ok[1] && ok[2]) {
            m_radiusX = std::max(1.0, std::abs(x[1] - x[0]) + std::abs(x[2] - x[0]));
            m_radiusY = std::max(1.0, std::abs(y[1] - y[0]) + std::abs(y[2] - y[0]));
            m_rowsAdvance = y[2] >= y[0];
        }
        if (!std::isfinite(m_radiusX) || !std::isfinite(m_radiusY))
            return tooFine(std::numeric_limits<double>::infinity());
        return {};
    }

    Error tooFine(double radius) const
    {
        // Beyond the pixels of any raster, a count says nothing (and would not fit a long).
        const std::string across = radius < 1e12 ? std::to_string(std::lround(radius)) : "unzählige";
        return Error{TileErrorKind::NotATile, "Die Rasterdatei " + m_mosaic.members.front().entry->path
                                                  + " ist für eine Kachel von " + std::to_string(m_side) + " × "
                                                  + std::to_string(m_side) + " Werten zu fein aufgelöst (" + across
                                                  + " Pixel auf einen Kachelabstand); Übersichten (gdaladdo) helfen."};
    }

    // Much finer than the tile, the source is read decimated (GDAL takes an overview where there is
    // one); absurdly finer, without overviews to match, it is refused.
    Result<> chooseDecimation()
    {
        const double radius = std::min(m_radiusX, m_radiusY);
        if (std::max(m_radiusX, m_radiusY) <= kFullResolutionRadius)
            return {};
        double overview = 1; // the coarsest overview every member has, as a factor
        for (std::size_t m = 0; m < m_open.size(); ++m) {
            double best = 1;
            for (int i = 0, n = GDALGetOverviewCount(m_open[m].band); i < n; ++i)
                if (GDALRasterBandH band = GDALGetOverview(m_open[m].band, i); band && GDALGetRasterBandXSize(band) > 0)
                    best = std::max(best, double(m_mosaic.members[m].entry->width) / GDALGetRasterBandXSize(band));
            overview = m == 0 ? best : std::min(overview, best);
        }
        if (std::max(m_radiusX, m_radiusY) / overview > kFinestRadius)
            return tooFine(std::max(m_radiusX, m_radiusY));
        // Held within int: with a coarse enough overview the radius may pass it.
        m_window.factor = static_cast<int>(
            std::clamp(std::floor(radius / kDecimatedRadius), 1.0, double(std::numeric_limits<int>::max())));
        // A kernel far wider in one direction than in the other stays wide after decimation: bounded
        // like a source without overviews, so that a sample weighs at most a few hundred pixels a side.
        if (std::max(kernelX(), kernelY()) > kFinestRadius)
            return tooFine(std::max(m_radiusX, m_radiusY));
        return {};
    }

    // The height of each member's blocks (0: unknown).
    void findBlockRows()
    {
        for (const OpenMember& o : m_open) {
            int blockColumns = 0, blockHeight = 0;
            GDALGetBlockSize(o.band, &blockColumns, &blockHeight);
            m_blockHeights.push_back(std::max(0, blockHeight));
        }
    }
    // How many block rows of all members begin at or above `row` of the mosaic (not counting each
    // member's first): which block row `row` falls in, counted without listing them.
    std::int64_t blockRowsUpTo(double row) const
    {
        std::int64_t count = 0;
        for (std::size_t m = 0; m < m_blockHeights.size(); ++m) {
            const std::int64_t height = m_blockHeights[m];
            const auto& member = m_mosaic.members[m];
            if (height == 0 || member.entry->height <= height)
                continue;
            const std::int64_t starts = (member.entry->height - 1) / height; // at rows height, 2 height, …
            double reached = std::clamp(std::floor((row - member.row) / double(height)), 0.0, double(starts));
            // The quotient may round across a whole number; the products of whole numbers are exact.
            if (reached > 0 && member.row + reached * height > row)
                --reached;
            else if (reached < starts && member.row + (reached + 1) * height <= row)
                ++reached;
            count += static_cast<std::int64_t>(reached);
        }
        return count;
    }
    // The columns from the first to the last waiting sample of the pass; false when none waits.
    bool waitingColumns(int first, int end)
    {
        int c0 = m_side, c1 = -1;
        for (int r = first; r < end; ++r) {
            const std::size_t row = static_cast<std::size_t>(r) * m_side;
            for (int c = 0; c < c0; ++c)
                if (waiting(row + c)) {
                    c0 = c;
                    break;
                }
            for (int c = m_side - 1; c > c1; --c)
                if (waiting(row + c)) {
                    c1 = c;
                    break;
                }
        }
        m_first = first;
        m_firstColumn = c0;
        m_columns = c1 - c0 + 1;
        return c1 >= c0;
    }

    void transformPass(int first, int end)
    {
        const std::size_t count = static_cast<std::size_t>(end - first) * m_columns;
        m_u.resize(count);
        m_v.resize(count);
        m_z.assign(count, 0);
        m_ok.assign(count, 0);
        for (int r = first; r < end; ++r) {
            const std::size_t i = at(r, m_firstColumn);
            for (int c = 0; c < m_columns; ++c) {
                m_u[i + c] = m_firstColumn + c;
                m_v[i + c] = r;
            }
            GDALUseTransformer(m_transform.get(), TRUE, m_columns, &m_u[i], &m_v[i], &m_z[i], &m_ok[i]);
        }
    }

    // The pass ends where its leading rows would reach into the next row of source blocks, so that
    // each block row is decoded once while the pass before left the last one in GDAL's cache.
    int endBeforeNextBlockRow(int first, int end) const
    {
        std::optional<std::int64_t> leadingBlock;
        for (int r = first; r < end; ++r) {
            double edge = m_rowsAdvance ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
            bool any = false;
            for (std::size_t i = at(r, m_firstColumn), e = i + m_columns; i < e; ++i)
                if (m_ok[i] && std::isfinite(m_v[i])) {
                    edge = m_rowsAdvance ? std::max(edge, m_v[i] - 0.5 + m_radiusY)
                                         : std::min(edge, m_v[i] - 0.5 - m_radiusY);
                    any = true;
                }
            if (!any)
                continue;
            const std::int64_t block = blockRowsUpTo(edge);
            if (!leadingBlock)
                leadingBlock = block;
            else if (block != *leadingBlock)
                return r;
        }
        return end;
    }

    // Moves the positions to pixel centres at whole numbers, on the decimated grid when the source
    // is read decimated. A position whose kernel reaches no pixel of the mosaic has no value and is
    // dropped, so that the positions kept stay near the int range.
    void centre(int first, int end)
    {
        const std::size_t count = static_cast<std::size_t>(end - first) * m_columns;
        const double k = m_window.factor;
        const double rx = kernelX(), ry = kernelY();
        const double columns = double(decimatedColumns()), rows = double(decimatedRows());
        for (std::size_t i = 0; i < count; ++i) {
            if (!m_ok[i] || !std::isfinite(m_u[i]) || !std::isfinite(m_v[i])) {
                m_ok[i] = 0;
                continue;
            }
            if (k != 1) {
                m_u[i] /= k;
                m_v[i] /= k;
            }
            m_u[i] -= 0.5;
            m_v[i] -= 0.5;
            if (!(m_u[i] > -rx - 2 && m_u[i] < columns + rx + 1 && m_v[i] > -ry - 2 && m_v[i] < rows + ry + 1)) {
                m_ok[i] = 0;
                continue;
            }
            if (const double whole = RoundToWhole(m_u[i]); std::abs(m_u[i] - whole) < kSnap)
                m_u[i] = whole;
            if (const double whole = RoundToWhole(m_v[i]); std::abs(m_v[i] - whole) < kSnap)
                m_v[i] = whole;
        }
    }

    // Sets the window to the pixels the pass's positions need; false when the pass falls outside the mosaic.
    bool windowFor(int first, int end)
    {
        const std::size_t count = static_cast<std::size_t>(end - first) * m_columns;
        double uMin = std::numeric_limits<double>::max(), uMax = -uMin, vMin = uMin, vMax = -uMin;
        for (std::size_t i = 0; i < count; ++i) {
            if (!m_ok[i])
                continue;
            uMin = std::min(uMin, m_u[i]);
            uMax = std::max(uMax, m_u[i]);
            vMin = std::min(vMin, m_v[i]);
            vMax = std::max(vMax, m_v[i]);
        }
        m_window.columns = m_window.rows = 0;
        if (uMin > uMax)
            return false;
        const double rx = kernelX(), ry = kernelY();
        // Each edge held on both sides, within the decimated mosaic (an empty window past it).
        const double columns = double(decimatedColumns()), rows = double(decimatedRows());
        m_window.column = static_cast<int>(std::clamp(std::floor(uMin - rx), 0.0, columns));
        m_window.row = static_cast<int>(std::clamp(std::floor(vMin - ry), 0.0, rows));
        const int lastColumn = static_cast<int>(std::clamp(std::ceil(uMax + rx), -1.0, columns - 1));
        const int lastRow = static_cast<int>(std::clamp(std::ceil(vMax + ry), -1.0, rows - 1));
        m_window.columns = std::max(0, lastColumn - m_window.column + 1);
        m_window.rows = std::max(0, lastRow - m_window.row + 1);
        return m_window.columns > 0 && m_window.rows > 0;
    }

    std::int64_t decimatedColumns() const
    {
        return (std::int64_t{m_mosaic.width} + m_window.factor - 1) / m_window.factor;
    }
    std::int64_t decimatedRows() const
    {
        return (std::int64_t{m_mosaic.height} + m_window.factor - 1) / m_window.factor;
    }
    double kernelX() const { return m_window.factor == 1 ? m_radiusX : m_radiusX / m_window.factor; }
    double kernelY() const { return m_window.factor == 1 ? m_radiusY : m_radiusY / m_window.factor; }

    void resamplePass(int first, int end)
    {
        const double rx = kernelX(), ry = kernelY();
        for (int r = first; r < end; ++r)
            for (int c = m_firstColumn; c < m_firstColumn + m_columns; ++c) {
                const std::size_t t = static_cast<std::size_t>(r) * m_side + c;
                const std::size_t i = at(r, c);
                if (!m_ok[i] || !waiting(t))
                    continue;
                const double height = Resample(m_window, m_u[i], m_v[i], rx, ry, m_wx, m_wy);
                if (std::isnan(height))
                    continue;
                m_values[t] = HeightSample(height);
                // The file under the sample gave it its value.
                const auto owner = m_window.ownerAt(static_cast<std::int64_t>(RoundToWhole(m_u[i])),
                                                    static_cast<std::int64_t>(RoundToWhole(m_v[i])));
                if (owner)
                    m_mosaic.members[*owner].used = true;
            }
    }

    Mosaic& m_mosaic;
    int m_side;
    TileOrigin m_origin;
    const std::uint8_t* m_wanted;
    std::vector<std::int16_t>& m_values;
    ProceedAsker& m_proceed;

    std::vector<OpenMember> m_open;
    Transformer m_transform;
    double m_radiusX = 1; // source pixels one tile step spans, on the full grid
    double m_radiusY = 1;
    bool m_rowsAdvance = true;       // source rows grow with the tile's rows (north up)
    std::vector<int> m_blockHeights; // of each member's blocks

    // The pass: its first row and columns, each sample's position in the mosaic and whether it has one.
    int m_first = 0;
    int m_firstColumn = 0;
    int m_columns = 0;
    std::vector<double> m_u, m_v, m_z;
    std::vector<int> m_ok;
    Window m_window;
    std::vector<double> m_scratch, m_wx, m_wy;
};

} // namespace

Result<> SampleMosaic(Mosaic& mosaic, const TilePlacement& tile, const std::uint8_t* wanted,
                      std::vector<std::int16_t>& values, ProceedAsker& proceed)
{
    return MosaicSampler(mosaic, tile, wanted, values, proceed).run();
}

} // namespace hgt

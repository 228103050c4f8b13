#include "rasters/internal/mosaic.h"

#include "rasters/internal/gdal_support.h"

#include <limits>
#include <optional>

namespace hgt {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Tile rows resampled per pass: the source window of a pass stays a few MB even for a 1" tile.
constexpr int kBandRows = 32;
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

namespace {

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
                         GDT_Float64, 0, 0)
            != CE_None)
            return ReadError(member.entry->path);
        member.used = true;
        for (int r = 0; r < h; ++r) {
            double* out =
                &window.pixels[static_cast<std::size_t>(r + r0 - window.row) * window.columns + (c0 - window.column)];
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

} // namespace

namespace {

// One mosaic resampled onto one tile, a pass of tile rows at a time: which samples wait, where they
// fall in the mosaic, the pixels around them, and their heights.
class MosaicSampler {
public:
    MosaicSampler(Mosaic& mosaic, const TilePlacement& tile, const std::uint8_t* wanted,
                  std::vector<std::int16_t>& values)
        : m_mosaic(mosaic), m_side(tile.side), m_origin(tile.origin), m_wanted(wanted), m_values(values)
    {}

    Result<> run()
    {
        if (auto opened = openMembers(); !opened)
            return opened;
        if (auto made = makeTransformer(); !made)
            return made;
        findBlockRows();
        for (int first = 0, end = 0; first < m_side; first = end) {
            end = std::min(m_side, first + kBandRows);
            if (!waitingColumns(first, end))
                continue;
            transformPass(first, end);
            end = endBeforeNextBlockRow(first, end);
            if (!windowFor(first, end))
                continue;
            if (auto read = ReadWindow(m_mosaic, m_open, m_window, m_scratch); !read)
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

    Result<> openMembers()
    {
        for (const auto& member : m_mosaic.members) {
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
            m_open.push_back(std::move(o));
        }
        return {};
    }

    // From tile sample (column, row) to the mosaic's pixel/line (pixel i spans [i, i+1)), and the
    // kernel: how many source pixels one tile step spans decides between bilinear and an average.
    Result<> makeTransformer()
    {
        Srs sourceSrs = SrsFromText(m_mosaic.members.front().entry->crs);
        Srs wgs84 = Wgs84();
        const double step = 1.0 / (m_side - 1);
        const double tileTransform[6] = {double(m_origin.longitude), step, 0, double(m_origin.latitude + 1), 0, -step};
        void* exact = sourceSrs ? GDALCreateGenImgProjTransformer4(sourceSrs.get(), m_mosaic.geoTransform.data(),
                                                                   wgs84.get(), tileTransform, nullptr)
                                : nullptr;
        if (!exact)
            return Error{ErrorKind::Io, "Keine Umrechnung von " + m_mosaic.members.front().entry->path
                                            + " auf WGS84: " + QuietGdal::lastMessage()};
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
        return {};
    }

    // The first rows of the members' block rows, on the mosaic's grid.
    void findBlockRows()
    {
        for (std::size_t m = 0; m < m_mosaic.members.size(); ++m) {
            int blockColumns = 0, blockHeight = 0;
            GDALGetBlockSize(m_open[m].band, &blockColumns, &blockHeight);
            const auto& member = m_mosaic.members[m];
            for (int row = blockHeight; blockHeight > 0 && row < member.entry->height; row += blockHeight)
                m_blockRows.push_back(member.row + row);
        }
        std::sort(m_blockRows.begin(), m_blockRows.end());
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
        std::optional<std::size_t> leadingBlock;
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
            const auto block = static_cast<std::size_t>(std::upper_bound(m_blockRows.begin(), m_blockRows.end(), edge)
                                                        - m_blockRows.begin());
            if (!leadingBlock)
                leadingBlock = block;
            else if (block != *leadingBlock)
                return r;
        }
        return end;
    }

    // Moves the positions to pixel centres at whole numbers and sets the window to the pixels they
    // need; false when the pass falls outside the mosaic.
    bool windowFor(int first, int end)
    {
        const std::size_t count = static_cast<std::size_t>(end - first) * m_columns;
        double uMin = std::numeric_limits<double>::max(), uMax = -uMin, vMin = uMin, vMax = -uMin;
        for (std::size_t i = 0; i < count; ++i) {
            if (!m_ok[i] || !std::isfinite(m_u[i]) || !std::isfinite(m_v[i])) {
                m_ok[i] = 0;
                continue;
            }
            m_u[i] -= 0.5;
            m_v[i] -= 0.5;
            if (const double whole = RoundToWhole(m_u[i]); std::abs(m_u[i] - whole) < kSnap)
                m_u[i] = whole;
            if (const double whole = RoundToWhole(m_v[i]); std::abs(m_v[i] - whole) < kSnap)
                m_v[i] = whole;
            uMin = std::min(uMin, m_u[i]);
            uMax = std::max(uMax, m_u[i]);
            vMin = std::min(vMin, m_v[i]);
            vMax = std::max(vMax, m_v[i]);
        }
        if (uMin > uMax)
            return false;
        const double limit = 1e9; // keeps a wild position from overflowing the int conversions
        m_window.column = static_cast<int>(std::max(0.0, std::floor(std::max(-limit, uMin - m_radiusX))));
        m_window.row = static_cast<int>(std::max(0.0, std::floor(std::max(-limit, vMin - m_radiusY))));
        const int lastColumn =
            static_cast<int>(std::min<double>(m_mosaic.width - 1, std::ceil(std::min(limit, uMax + m_radiusX))));
        const int lastRow =
            static_cast<int>(std::min<double>(m_mosaic.height - 1, std::ceil(std::min(limit, vMax + m_radiusY))));
        m_window.columns = lastColumn - m_window.column + 1;
        m_window.rows = lastRow - m_window.row + 1;
        return m_window.columns > 0 && m_window.rows > 0;
    }

    void resamplePass(int first, int end)
    {
        for (int r = first; r < end; ++r)
            for (int c = m_firstColumn; c < m_firstColumn + m_columns; ++c) {
                const std::size_t t = static_cast<std::size_t>(r) * m_side + c;
                const std::size_t i = at(r, c);
                if (!m_ok[i] || !waiting(t))
                    continue;
                const double height = Resample(m_window, m_u[i], m_v[i], m_radiusX, m_radiusY, m_wx, m_wy);
                if (!std::isnan(height))
                    m_values[t] = HeightSample(height);
            }
    }

    Mosaic& m_mosaic;
    int m_side;
    TileOrigin m_origin;
    const std::uint8_t* m_wanted;
    std::vector<std::int16_t>& m_values;

    std::vector<OpenMember> m_open;
    Transformer m_transform;
    double m_radiusX = 1;
    double m_radiusY = 1;
    bool m_rowsAdvance = true; // source rows grow with the tile's rows (north up)
    std::vector<double> m_blockRows;

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
                      std::vector<std::int16_t>& values)
{
    return MosaicSampler(mosaic, tile, wanted, values).run();
}

} // namespace hgt

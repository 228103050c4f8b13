#pragma once

// Rasters on one pixel grid read as one mosaic, and the resampling of a mosaic onto a tile's grid.

#include "platform/error.h"
#include "rasters/internal/raster_index.h"
#include "rasters/raster_source.h"
#include "tiles/tile_format.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace hgt {

// floor and round without a libm call per sample (the baseline x86-64 has no rounding instruction).
// FloorToWhole takes positions within the int range and a little beyond; RoundToWhole any value
// (from 2^52 on, a double is whole; NaN stays NaN).
inline std::int64_t FloorToWhole(double x)
{
    const auto i = static_cast<std::int64_t>(x);
    return i > x ? i - 1 : i;
}
inline double RoundToWhole(double x)
{
    if (!(std::abs(x) < 0x1p52))
        return x;
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

// Rasters on one pixel grid (same CRS, spacing, aligned origins) read as one mosaic, so that a
// sample between two of them (a tile's last row from its southern neighbour) still has all the
// pixels it needs.
struct Mosaic {
    struct Member {
        const RasterEntry* entry = nullptr;
        int column = 0; // of the member's first pixel on the mosaic's grid
        int row = 0;
        bool used = false; // gave a sample of the tile its value
    };
    std::vector<Member> members;
    std::array<double, 6> geoTransform{};
    int width = 0;
    int height = 0;

    // Same CRS, same pixel size, no rotation, origins a whole number of pixels apart.
    bool accepts(const RasterEntry& entry) const;
};

// The entries grouped into mosaics, in the order of their first member.
std::vector<Mosaic> MosaicsOf(const std::vector<const RasterEntry*>& entries);

// The tile being filled: `side` samples a side from its south-west corner `origin`.
struct TilePlacement {
    int side = 0;
    TileOrigin origin;
};

// Whether a height is one of the values that mark voids (-9999, -32768, -32767) once rounded: a source
// pixel holding one is a void of the source, declared or not.
inline bool IsVoidMarker(double height)
{
    if (height > -9998.5) [[likely]]
        return false;
    const double whole = RoundToWhole(height);
    return whole == kVoidValue || whole == -32768 || whole == -32767;
}

// Asks a Proceed at most every few milliseconds; once it says stop, stays stopped.
class ProceedAsker {
public:
    explicit ProceedAsker(const Proceed& proceed) : m_proceed(proceed) {}
    bool operator()();
    bool stopped() const { return m_stopped; }

private:
    const Proceed& m_proceed;
    std::int64_t m_lastAsked = 0;
    bool m_stopped = false;
};

// Fills the samples of the tile that are void (and wanted, with a mask) where the mosaic gives a
// value; marks the members that gave a sample its value. Asks `proceed` between passes and while GDAL
// reads; once it says stop, ends with an error at once.
Result<> SampleMosaic(Mosaic& mosaic, const TilePlacement& tile, const std::uint8_t* wanted,
                      std::vector<std::int16_t>& values, ProceedAsker& proceed);

} // namespace hgt

#pragma once

// Rasters of any format GDAL reads (GeoTIFF, VRT, ...) as a fill source: the samples of an HGT tile's
// grid, resampled from whichever rasters cover the tile by their georeferencing. GDAL stays behind
// this header; it is loaded and initialised on the first open.

#include "platform/error.h"
#include "tiles/tile_source.h"
#include "tiles/tile_folder.h" // TileOriginOf: a tile's corner from its name

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hgt {

// A tile's samples taken from rasters: row 0 is the northern edge, column 0 the western edge.
struct SourceTileSamples {
    int side = 0;
    std::vector<std::int16_t> values; // side*side heights in metres, host order; kVoidValue where none
    std::vector<std::string> files;   // the rasters that gave samples their values
};

// A height in metres as a tile sample: rounded half away from zero, clamped to 16 bits, and moved by
// one metre off the values that mark voids (-9999, -32768, -32767).
std::int16_t TileHeight(double metres);

// A file whose extension names a raster format GDAL reads (.tif, .tiff, .vrt, .img, ...), any case.
bool IsRasterPath(std::string_view path);

// A source made of rasters: one raster or .vrt file, or a folder of them (sub folders included),
// indexed once from the headers. Movable, not copyable.
class RasterSource {
public:
    RasterSource(RasterSource&&) noexcept;
    RasterSource& operator=(RasterSource&&) noexcept;
    ~RasterSource();

    // Initialises GDAL on the first call (and, unless GDAL_CACHEMAX says otherwise, sets its block
    // cache to 24 MB); network paths are refused unless HGTFILL_NETWORK=1 is set (read at every open).
    // A raster that must not be read (a VRT copying a file that is no raster or running code, heights
    // in an unknown unit) fails the open, also inside a folder. NotFound for a missing path or a folder without any
    // georeferenced raster, NotATile for a file GDAL cannot read as a georeferenced raster.
    static Result<RasterSource> open(const std::string& path);
    // A file with a raster extension, or a folder holding rasters but no HGT tiles.
    static bool looksLikeRasterSource(const std::string& path);

    const std::string& path() const;
    std::size_t rasterCount() const;
    // The vertical reference system the first raster's georeferencing names that names one
    // ("egm2008", "EPSG:7837"); empty where none does.
    std::string verticalDatum() const;

    // The tile named e.g. "N47E011.hgt" with `side` samples a side, resampled from the rasters that
    // cover it; nullopt when none does. Sample (r, c) lies at lat N+1 - r/(side-1), lon E + c/(side-1).
    // Bilinear where the source is about as fine as the tile or coarser, a tent-weighted average over
    // the sample's footprint where it is finer; a sample has a value only where every pixel with a
    // weight is valid. Rasters on one pixel grid are read as one mosaic; where several grids cover a
    // sample, the first (by path) that gives it a value wins. With `wanted` (side*side flags), only
    // the flagged samples are looked up and only the source rows and columns around them are read.
    // A source pixel whose height is a void marker is a void; heights in feet and other lengths become
    // metres. A source much finer than the tile is read decimated (through its overviews where it has
    // them), one absurdly finer refused. `proceed` is asked every few milliseconds while it reads;
    // once it says stop, the read ends with an error within a fraction of a second.
    Result<std::optional<SourceTileSamples>> tileFor(const std::string& tileName, int side,
                                                     const std::vector<std::uint8_t>* wanted = nullptr,
                                                     const Proceed& proceed = {}) const;

private:
    struct Index;
    explicit RasterSource(std::unique_ptr<Index> index);
    std::unique_ptr<Index> m_index;
};

} // namespace hgt

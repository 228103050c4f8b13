#include "rasters/raster_source.h"

#include "platform/file_system.h"
#include "rasters/internal/gdal_support.h"
#include "rasters/internal/mosaic.h"
#include "rasters/internal/raster_index.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_error.h"
#include "tiles/tile_format.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace hgt {

struct RasterSource::Index {
    std::string path;
    std::vector<RasterEntry> rasters;
};

std::int16_t TileHeight(double metres)
{
    return HeightSample(metres);
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

std::string RasterSource::verticalDatum() const
{
    for (const RasterEntry& raster : m_index->rasters)
        if (!raster.verticalCrs.empty())
            return raster.verticalCrs;
    return {};
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
        for (const std::string& file : RasterFilesBelow(path)) {
            EntryRead read = ReadEntry(file, transforms);
            // A raster that must not be read is a fault of the source, not a file to pass over in silence.
            if (read.refused)
                return *read.refused;
            if (read.entry)
                index->rasters.push_back(std::move(*read.entry));
        }
        if (index->rasters.empty())
            return Error{ErrorKind::NotFound, "Der Ordner " + path + " enthält keine georeferenzierten Raster."};
    } else {
        EntryRead read = ReadEntry(path, transforms);
        if (read.refused)
            return *read.refused;
        if (!read.entry)
            return Error{TileErrorKind::NotATile,
                         "Die Datei " + path + " ist kein georeferenziertes Raster: " + read.whyNot};
        index->rasters.push_back(std::move(*read.entry));
    }
    return RasterSource(std::move(index));
}

Result<std::optional<SourceTileSamples>> RasterSource::tileFor(const std::string& tileName, int side,
                                                               const std::vector<std::uint8_t>* wanted,
                                                               const Proceed& proceed) const
{
    const auto origin = TileOriginOf(tileName);
    if (!origin)
        return Error{TileErrorKind::NotATile, tileName + " ist kein Kachelname."};
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

    InitialiseGdal(); // the network rule again: a host may have registered GDAL's drivers since the open
    QuietGdal quiet;
    NoFolderListing noListing;
    SourceTileSamples tile;
    tile.side = side;
    tile.values.assign(samples, kVoidValue);

    std::vector<Mosaic> mosaics = MosaicsOf(covering);
    const TilePlacement grid{side, *origin};
    ProceedAsker asker(proceed);
    for (Mosaic& mosaic : mosaics) {
        const auto voidsBefore = std::count(tile.values.begin(), tile.values.end(), kVoidValue);
        if (auto sampled = SampleMosaic(mosaic, grid, wanted ? wanted->data() : nullptr, tile.values, asker); !sampled)
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

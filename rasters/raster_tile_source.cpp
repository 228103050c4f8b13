#include "rasters/raster_tile_source.h"

namespace hgt {

Result<std::optional<SourceTile>> RasterTileSource::tileFor(const std::string& tileName, int side,
                                                            const std::vector<std::uint8_t>* wanted,
                                                            const Proceed& proceed) const
{
    Result<std::optional<SourceTileSamples>> samples = m_source.tileFor(tileName, side, wanted, proceed);
    if (!samples)
        return samples.error();
    if (!*samples)
        return std::optional<SourceTile>{};
    return std::optional<SourceTile>(SourceTile{std::move((*samples)->values), std::move((*samples)->files)});
}

Result<std::shared_ptr<const TileSource>> OpenRasterTileSource(const std::string& path)
{
    Result<RasterSource> source = RasterSource::open(path);
    if (!source)
        return source.error();
    return std::make_shared<const RasterTileSource>(std::move(*source));
}

} // namespace hgt

#pragma once

#include "rasters/raster_source.h"
#include "tiles/tile_source.h"

#include <memory>

namespace hgt {

// A raster source as the engine sees a fill source.
class RasterTileSource : public TileSource {
public:
    explicit RasterTileSource(RasterSource source) : m_source(std::move(source)) {}

    std::string path() const override { return m_source.path(); }
    Result<std::optional<SourceTile>> tileFor(const std::string& tileName, int side,
                                              const std::vector<std::uint8_t>* wanted,
                                              const Proceed& proceed) const override;
    std::string verticalDatum() const override { return m_source.verticalDatum(); }

private:
    RasterSource m_source;
};

// Opens a raster source for fills: one raster or .vrt file, or a folder of them.
Result<std::shared_ptr<const TileSource>> OpenRasterTileSource(const std::string& path);

} // namespace hgt

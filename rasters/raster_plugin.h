#pragma once

// The raster plugin's one entry point. GDAL is linked into the plugin only, and the command line
// loads the plugin when a source is made of rasters, so that runs of HGT folders never load GDAL.

#include "tiles/tile_source.h"

#include <memory>
#include <string>

namespace hgt {

// Raised whenever the entry's signature or TileSource changes: a stale plugin is refused, not called.
inline constexpr int kRasterPluginVersion = 4;
inline constexpr char kRasterPluginFile[] = "hgtfill_rasters_plugin.so";
inline constexpr char kRasterPluginEntry[] = "hgtfill_open_raster_source";

using RasterSourceResult = Result<std::shared_ptr<const TileSource>>;
// Opens `path` as a raster source into `result`; `version` is the caller's kRasterPluginVersion.
using RasterPluginEntry = void (*)(int version, const std::string* path, RasterSourceResult* result);

// The conversion of heights from one vertical datum to another, made where PROJ is linked.
inline constexpr char kConversionEntry[] = "hgtfill_open_height_conversion";
using ConversionResult = Result<std::shared_ptr<const HeightConversion>>;
// Opens the conversion from `source` to `tile` (empty: EGM96) into `result`; nullptr for the same datum.
using ConversionEntry = void (*)(int version, const std::string* source, const std::string* tile,
                                 ConversionResult* result);

} // namespace hgt

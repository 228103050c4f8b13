#pragma once

// Sources made of rasters, opened through the raster plugin. The plugin (and GDAL with it) is loaded
// on the first raster source, never for runs of HGT folders alone.

#include "platform/error.h"
#include "tiles/runs.h"

#include <memory>
#include <string>
#include <vector>

namespace hgt::cli {

// A folder of rasters (and no HGT tiles), or one raster or .vrt file.
bool IsRasterSource(const std::string& path);

// Where the plugin is looked for, in this order: $HGTFILL_RASTER_PLUGIN, next to the executable (the
// build tree), and the install prefix's library folder relative to the executable.
std::vector<std::string> RasterPluginCandidates();

Result<std::shared_ptr<const TileSource>> OpenRasterSource(const std::string& path);

// Whether this process has loaded the plugin.
bool RasterPluginLoaded();

} // namespace hgt::cli

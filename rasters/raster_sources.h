#pragma once

// Sources made of rasters, opened through the raster plugin, for the command line and the window. The
// plugin (and GDAL with it) is loaded on the first raster source, never for runs of HGT folders alone.
// No GDAL here: only the path rules and dlopen.

#include "platform/error.h"
#include "rasters/height_conversion.h"
#include "tiles/run_options.h"
#include "tiles/tile_source.h"

#include <memory>
#include <string>
#include <vector>

namespace hgt {

// A folder of rasters (and no HGT tiles), or one raster or .vrt file.
bool IsRasterSource(const std::string& path);

// Where the plugin is looked for, in this order: $HGTFILL_RASTER_PLUGIN, next to the executable, and
// the install prefix's library folder relative to the executable (the build tree has the same layout).
std::vector<std::string> RasterPluginCandidates();

Result<std::shared_ptr<const TileSource>> OpenRasterSource(const std::string& path);

// The sources wanted ({path, nullptr, datum}) in priority order as fill sources, raster sources opened
// through the plugin; a list of HGT folders without datums never loads it. The first raster source that
// cannot be opened is the error. In a run that converts heights (ConvertsHeights), each source in
// another datum than the tiles gets its conversion: the datum given for it, else the one its rasters
// name, else none; every conversion is checked to be possible with the grids at hand before the run
// makes anything, and the first that is not is the error (kind kUnknownDatum for a name that is no
// datum).
Result<std::vector<FillSource>> OpenFillSources(const std::vector<FillSource>& wanted, const std::string& tileDatum);

// Whether this process has loaded the plugin.
bool RasterPluginLoaded();

} // namespace hgt

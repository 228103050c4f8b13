// Which paths are raster sources, without GDAL: the command line asks this for every source and
// loads GDAL (through the raster plugin) only when the answer is yes.

#include "rasters/raster_source.h"

#include "platform/file_system.h"
#include "platform/folders.h"
#include "rasters/internal/raster_paths.h"
#include "tiles/tile_folder.h"

#include <algorithm>
#include <array>

namespace hgt {

bool IsRasterPath(std::string_view path)
{
    static constexpr std::array<std::string_view, 14> kExtensions{"tif", "tiff", "vrt", "img", "asc", "bil", "flt",
                                                                  "dt0", "dt1",  "dt2", "nc",  "jp2", "dem", "gpkg"};
    const std::string extension = GetExtensionName(path);
    return std::any_of(kExtensions.begin(), kExtensions.end(),
                       [&](std::string_view e) { return EqualsIgnoringCase(e, extension); });
}

bool RasterSource::looksLikeRasterSource(const std::string& path)
{
    if (FolderExists(path))
        return !FolderHoldsTile(path) && FolderHoldsRaster(path);
    return FileExists(path) && IsRasterPath(path);
}

std::vector<std::string> RasterFilesBelow(const std::string& folder)
{
    return FilesBelow(folder, IsRasterPath);
}

bool FolderHoldsRaster(const std::string& folder)
{
    return !FilesBelow(folder, IsRasterPath, 1).empty();
}

} // namespace hgt

// Which paths are raster sources, without GDAL: the command line asks this for every source and
// loads GDAL (through the raster plugin) only when the answer is yes.

#include "rasters/raster_source.h"

#include "platform/file_system.h"
#include "rasters/internal/raster_paths.h"
#include "tiles/tile_folder.h"

#include <algorithm>
#include <array>
#include <filesystem>

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
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError) && IsRasterPath(it->path().string()))
            files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool FolderHoldsRaster(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError) && IsRasterPath(it->path().string()))
            return true;
    }
    return false;
}

} // namespace hgt

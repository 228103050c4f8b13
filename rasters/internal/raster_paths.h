#pragma once

#include <string>
#include <vector>

namespace hgt {

// The files below a folder (sub folders included) with a raster extension, sorted by path.
std::vector<std::string> RasterFilesBelow(const std::string& folder);
bool FolderHoldsRaster(const std::string& folder);

} // namespace hgt

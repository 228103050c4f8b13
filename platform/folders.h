#pragma once

// Walks over folder trees, for the raster sources.

#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace hgt {

// The regular files below the folder, in its sub folders too, that `keep` accepts, as full paths in
// byte order; what cannot be read is skipped. The walk ends once `limit` files are found. Empty for
// a path that is not a folder.
std::vector<std::string> FilesBelow(const std::string& folder, const std::function<bool(const std::string&)>& keep,
                                    std::size_t limit = std::numeric_limits<std::size_t>::max());

} // namespace hgt

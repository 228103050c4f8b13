#pragma once

#include <string>
#include <vector>

namespace hgt {

// Full paths in the order Files() promises: by file name ignoring letter case, names equal but for
// case in a fixed order.
void SortFilesByName(std::vector<std::string>& files);

} // namespace hgt

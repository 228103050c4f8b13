#pragma once

#include "platform/error.h"

#include <string>
#include <vector>

namespace hgt {

// What a run reads, for making sure its output never replaces any of it.
struct RunInputs {
    std::vector<std::string> files;   // the primary and the tiles that fill it or are compared with it
    std::vector<std::string> folders; // the primary's own folder and the source folders
};

// Refuses an output that would be one of the input files (the same device and inode, or the same
// resolved path) or that would go into one of the input folders, e.g. through a `Merged` symlink
// that leads back. Checked before anything is created or written.
Result<> CheckOutputTarget(const std::string& outputPath, const RunInputs& inputs);

} // namespace hgt

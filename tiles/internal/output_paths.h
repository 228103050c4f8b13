#pragma once

// Where a run's outputs go, and the check that they never replace what the run reads.

#include "platform/error.h"
#include "tiles/tile_folder.h" // ProvenancePath

#include <string>
#include <vector>

namespace hgt {

// The folder named `name` beside the file at `path` (the file's own folder for a bare name).
std::string SiblingFolder(const std::string& path, const std::string& name);
// <primary's folder>/Merged/<tile name>, where a fill writes its output.
std::string MergedTilePath(const std::string& primaryPath);

// Of the folders, those that do not exist now. A run notes the output folders it may make before it
// starts and removes those that stayed empty when it has ended, so that a run that writes nothing
// leaves no trace; until then an unnamed output in a folder that looks empty may still get its name.
std::vector<std::string> MissingFolders(const std::vector<std::string>& folders);
void RemoveEmptyFolders(const std::vector<std::string>& folders);

// What a run reads.
struct RunInputs {
    std::vector<std::string> files;   // the primary and the tiles that fill it or are compared with it
    std::vector<std::string> folders; // the primary's own folder and the source folders
};

// Refuses an output that would be one of the input files (the same device and inode, or the same
// resolved path) or that would go into one of the input folders, e.g. through a `Merged` symlink
// that leads back, or anywhere below one of `trees` (folders read with all their sub folders, such as
// folders of rasters). Checked before anything is created or written.
Result<> CheckOutputTarget(const std::string& outputPath, const RunInputs& inputs,
                           const std::vector<std::string>& trees = {});

} // namespace hgt

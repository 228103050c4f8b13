#pragma once

#include "run_host.h"
#include "tile_walk.h"
#include "window_state.h"

#include <cstddef>
#include <string>

namespace hgt {

enum class MergeEnd {
    NoHoles,          // the primary holds no void marker byte pair; nothing written
    MissingSecondary, // holes, but no same-named tile in the secondary folder
    Stopped,          // STOP during the walk; no output written
    Complete,         // the filled tile is in Merged
    Failed,           // a tile was refused or a file operation failed; message says which
};

struct MergeResult {
    MergeEnd end = MergeEnd::Complete;
    std::string message;
};

struct EngineOptions {
    std::size_t blockBytes = kDefaultBlockBytes;
};

// Fills the voids of one primary tile from the same-named tile of secondaryFolder into
// <primary's folder>/Merged/<name>. Works on the window state record and reports through the
// host; never throws.
MergeResult MergeTile(WindowState& state, RunHost& host, const std::string& primaryFile,
                      const std::string& secondaryFolder, const EngineOptions& options = {});

// True when the byte pair D8 F1 occurs at any byte offset of the file, read in blocks.
FsStatus HasVoidBytePair(TileFile& file, std::size_t blockBytes, bool& found);

// The folder named `name` beside the file at `path` (the file's own folder for a bare name).
std::string SiblingFolder(const std::string& path, const std::string& name);

// The file named `name` in `folder`; where no file has exactly that name, the one file whose name
// matches ignoring letter case. Empty when there is none or several.
std::string FindTileInFolder(const std::string& folder, const std::string& name);

} // namespace hgt

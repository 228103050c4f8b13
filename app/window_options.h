#pragma once

#include "tiles/run_options.h"

#include <string>
#include <vector>

namespace hgt {

// The window's choices for its runs: the engines' options, and the further secondary folders (or
// raster sources) the user listed, as paths. A fill asks the window's secondary folder first, then
// these in order; they are opened as sources only when a fill starts.
struct WindowOptions : RunOptions {
    std::vector<std::string> moreSecondaryFolders;
    // The vertical datum of each of those, as FillSource::datum takes it ("" for none); as many
    // entries as folders. The tiles' datum is RunOptions::tileDatum, empty for its default EGM96.
    std::vector<std::string> moreSecondaryDatums;
};

} // namespace hgt

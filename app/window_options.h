#pragma once

#include "tiles/run_options.h"

#include <string>
#include <vector>

namespace hgt {

// A further source the user listed: a folder of HGT tiles or of rasters, or a raster file.
struct FurtherSource {
    std::string path;
    // The vertical datum of its heights, as FillSource::datum takes it; empty for none.
    std::string datum;

    friend bool operator==(const FurtherSource&, const FurtherSource&) = default;
};

// The window's choices for its runs: the engines' options, and the further sources. A fill asks the
// window's secondary folder first, then these in order; they are opened as sources only when a fill
// starts. The tiles' datum is RunOptions::tileDatum, empty for its default EGM96.
struct WindowOptions : RunOptions {
    std::vector<FurtherSource> moreSources;
};

} // namespace hgt

#pragma once

#include "tiles/run_result.h"

#include <cstddef>
#include <vector>

namespace hgt {

// What one command's run left behind, as the engine reported it: the results of the tiles it
// started, in order. The window shows these figures and never recounts them.
struct RunRecord {
    RunKind kind = RunKind::Fill;
    std::size_t tileCount = 0; // the tiles the run was given; fewer were started after a STOP
    std::vector<TileResult> tiles;
    bool stopped = false;
    double seconds = 0;

    std::size_t count(RunEnd end) const { return CountEnds(tiles, end); }
};

} // namespace hgt

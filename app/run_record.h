#pragma once

#include "tiles/runs.h"

#include <cstddef>
#include <vector>

namespace hgt {

enum class RunKind { Fill, Batch, Difference };

// What one command's run left behind, as the engine reported it: the results of the tiles it
// started, in order. The window shows these figures and never recounts them.
struct RunRecord {
    RunKind kind = RunKind::Fill;
    std::size_t tileCount = 0; // the tiles the run was given; fewer were started after a STOP
    std::vector<TileResult> tiles;
    bool stopped = false;
    double seconds = 0;

    std::size_t count(RunEnd end) const
    {
        std::size_t n = 0;
        for (const TileResult& tile : tiles)
            n += tile.end == end;
        return n;
    }
};

} // namespace hgt

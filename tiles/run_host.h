#pragma once

// The events of a run, told to its host: the window draws its progress lines from them, the command
// line a bar. The engine knows no list box.

#include "tiles/run_result.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace hgt {

// How far the tile in progress is, at each progress report (every 200,002 bytes).
struct RunProgress {
    std::int64_t done = 0;  // bytes of the tile walked so far
    std::int64_t total = 0; // bytes of the whole tile
    std::string text;       // the run's status text, e.g. "2800027 Bytes verarbeitet. File : N47E011.hgt"
};

// What a run tells its host, on the caller's thread. Each tile of a fill, a batch or a difference
// comes as tileStarted, any number of progress, tileFinished; yieldToEvents comes many times a tile
// (at every block and report), so that the host can serve its event queue and a stop be seen.
// tileFinished comes as soon as the tile's walk has ended; a later failure to make its output durable
// shows only in the returned result, which is the final word. With several tiles in flight
// (RunOptions::jobs), tiles start and finish in any order and report no progress.
class RunHost {
public:
    virtual ~RunHost() = default;

    virtual void tileStarted(std::size_t /*index*/, std::size_t /*count*/, const std::string& /*tile*/) {}
    virtual void progress(const RunProgress& /*progress*/) {}
    virtual void tileFinished(std::size_t /*index*/, std::size_t /*count*/, const TileResult& /*result*/) {}
    virtual void yieldToEvents() {}
};

// A host that shows nothing and has nothing to yield to.
class QuietHost : public RunHost {};

} // namespace hgt

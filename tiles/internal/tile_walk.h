#pragma once

#include "platform/save_file.h"
#include "tiles/internal/delta_fill.h"
#include "tiles/internal/run_context.h"
#include "tiles/internal/tile_input.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hgt {

// How one output sample is made from the samples of the two input tiles.
enum class SampleRule {
    Fill,       // a void of the primary takes the secondary's sample; the secondary is read only where needed
    Difference, // primary minus comparison; a void in either stays a void
};

// Where the stop test stands relative to the progress report of the same sample.
enum class StopTest { AfterReport, BeforeReport };

struct WalkSetup {
    SampleRule rule = SampleRule::Fill;
    StopTest stopTest = StopTest::AfterReport;
    std::function<std::string(std::int32_t posHigh)> statusText;
};

struct Walk {
    bool stopped = false;
    std::int64_t voidsFound = 0; // void samples of the primary
    std::int64_t voidsLeft = 0;  // void samples of the output
    std::int64_t bytes = 0;      // bytes written
    std::vector<std::int64_t> filledBySource;
};

// Which engine makes the output samples the walk writes.
enum class OutputMaker {
    Walk,        // the walk itself, block by block, by its sample rule
    DeltaFill,   // the offset-bridging fill made the voids' samples beforehand (WalkInputs::filled)
    Preparation, // the whole output tile was made beforehand (WalkInputs::prepared)
};

// What a walk reads: the primary, and the tiles that give its voids (fill, in priority order; a
// folder without the tile has none) or the one it is compared with (difference), on its grid.
struct WalkInputs {
    const TileInput& primary;
    std::vector<GridSource*> sources;
    const VoidSet& voids;
    OutputMaker maker = OutputMaker::Walk;
    const DeltaFilled* filled = nullptr;    // the voids' output samples, with OutputMaker::DeltaFill
    const std::uint8_t* prepared = nullptr; // the output tile as stored, with OutputMaker::Preparation
};

// Walks a full tile. Reads and writes go in blocks of options.blockBytes from offset 0 (page
// aligned for the default); the sample loop is also cut at every progress report, so the order
// write, yield, report, stop test of the sample-by-sample walk holds at every report and block
// end. posHigh, posLow, byteHigh and byteLow name the last sample processed whenever the walk
// yields or returns. A walk that starts with a stop requested processes exactly one sample.
// The walk covers the primary's grid; a 3" tile's reports keep the same byte cadence over its
// smaller file.
Result<Walk> WalkTile(RunContext& run, const WalkSetup& setup, const WalkInputs& inputs, SaveFile& output);

// Whether the primary has holes: for -9999 the byte pair D8 F1 at any byte offset of the whole file
// (a longer file's tail included); for the other void values a whole sample of the tile.
Result<bool> HasHoles(const TileInput& tile, const VoidSet& voids, std::size_t blockBytes);

} // namespace hgt

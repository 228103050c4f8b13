#pragma once

#include "platform/file.h"
#include "platform/save_file.h"
#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/run_state.h"
#include "tiles/internal/delta_fill.h"
#include "tiles/internal/tile_input.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace hgt {

// A progress report is due once posHigh lies more than this past the previous report.
inline constexpr std::int32_t kReportStride = 200000;
// Bytes from one report to the next: reports fall at posHigh = 200,001 + 200,002·k.
inline constexpr std::int64_t kReportSpan = kReportStride + 2;

// What every step of one run of one tile works on: the state record, the host, the options and
// the position of the run's latest progress report.
class RunContext {
public:
    RunContext(RunState& state, RunHost& host, const RunOptions& options) : state(state), host(host), options(options)
    {}

    bool stopRequested() const
    {
        return state.stopRequested || (options.stop && options.stop->load(std::memory_order_relaxed));
    }
    SaveOptions saveOptions() const { return {options.durable, options.trace}; }

    // True when posHigh lies more than 200,000 bytes past the latest report.
    bool reportDue() const { return state.posHigh > m_lastReportPos + kReportStride; }
    // Remembers the position, yields once more, sets statusText and tells the host.
    void reportProgress(const std::string& statusText, std::int64_t tileBytes);

    RunState& state;
    RunHost& host;
    const RunOptions& options;
    bool useHelperThread = true; // whether a run may share its work with a second thread

private:
    std::int32_t m_lastReportPos = 0;
};

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

// What a walk reads: the primary, and the tiles that give its voids (fill, in priority order; a
// folder without the tile has none) or the one it is compared with (difference), on its grid.
struct WalkInputs {
    const TileInput& primary;
    std::vector<GridSource*> sources;
    const VoidSet& voids;
    const DeltaFilled* filled = nullptr;    // the voids' output samples, when they were made beforehand
    const std::uint8_t* prepared = nullptr; // the whole output tile as stored, when made beforehand
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

// A run that ended in a failure.
inline void MarkFailed(TileResult& result, const Error& error)
{
    result.end = RunEnd::Failed;
    result.error = error;
    result.output.clear();
    result.provenance.clear();
}

inline TileResult FailedResult(const std::string& tile, const Error& error)
{
    TileResult result;
    result.tile = tile;
    MarkFailed(result, error);
    return result;
}

// The fill of one tile up to its output. With `pending`, a complete walk leaves its output there
// uncommitted for the caller to commit; without, the output is committed before the run returns.
// With `refusal`, the run fails with it at once, as a batch refuses a tile. Never throws.
// `pendingProvenance` takes the provenance companion the same way; without it, a pending tile's
// companion is committed by the run.
TileResult RunFill(RunContext& run, const std::string& primaryFile, const std::string& secondaryFolder,
                   std::optional<SaveFile>* pending, const Error* refusal = nullptr,
                   std::optional<SaveFile>* pendingProvenance = nullptr);

// Commits a fill's output with its provenance companion, or, without one, removes the companion an
// earlier fill left beside the output. Whenever it stops, the two on disk are the earlier pair, the
// new pair or a tile alone, never a tile beside another tile's companion.
Result<> CommitPair(SaveFile& output, std::optional<SaveFile>& provenance, const SaveOptions& options);

} // namespace hgt

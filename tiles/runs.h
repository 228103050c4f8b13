#pragma once

// Running fills, differences and batches: the state record the engines share with the window,
// the host a run reports to, the options and the one result type of every run.

#include "platform/error.h"
#include "platform/save_file.h"
#include "tiles/tile_format.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hgt {

// The window's progress line index of the current run; the engines leave it alone. It starts unset;
// unset reads as 0 and raises to 1.
class LogIndex {
public:
    LogIndex() = default;
    explicit LogIndex(int value) : m_value(value) {}

    bool isSet() const { return m_value.has_value(); }
    int index() const { return m_value.value_or(0); }
    void raise() { m_value = index() + 1; }
    void set(int value) { m_value = value; }

    friend bool operator==(const LogIndex&, const LogIndex&) = default;

private:
    std::optional<int> m_value;
};

// The fields through which the commands, the two engines and STOP talk. One record holds the
// position, sample bytes, progress text and the window's line index of exactly one run.
struct WindowState {
    std::int32_t posHigh = 0;
    std::int32_t posLow = 0;
    std::uint8_t byteHigh = 0;
    std::uint8_t byteLow = 0;
    bool stopRequested = false;
    bool secondaryHasTiles = false;
    std::string runLog;
    LogIndex logIndex;
    std::string statusText;
};

enum class RunEnd {
    Complete,         // the output tile is written and durable
    NoHoles,          // the primary holds no void marker byte pair; nothing written
    MissingSecondary, // holes, but no same-named tile in the secondary folder
    Stopped,          // STOP during the walk; no output written, an earlier one unchanged
    Failed,           // a tile was refused or a file operation failed; the error says why
};

// The height offsets primary - filler on the valid samples around the voids of a tile.
struct OffsetStats {
    std::int64_t rimSamples = 0;
    double median = 0;
    double interquartileRange = 0;
};

// What one run of one tile did.
struct TileResult {
    std::string tile;   // the primary tile's path as given
    std::string output; // the output tile's path, once it is written
    RunEnd end = RunEnd::Complete;
    std::optional<Error> error;   // set when the run failed
    std::string note;             // what a run that did not fail has to say: the secondary tile not found
    std::int64_t voidsFound = 0;  // void samples of the primary
    std::int64_t voidsFilled = 0; // of those, the ones that took a value from the other tile
    std::int64_t voidsLeft = 0;   // void samples of the output (void in both tiles; for a difference: in either)
    std::vector<std::int64_t> filledBySource; // voids filled from each source, in priority order
    std::int64_t interpolated = 0;            // voids no source covered, interpolated from the valid samples around
    std::int64_t leftTooFar = 0;              // of voidsLeft, the ones too far from valid data to interpolate
    std::string provenance;                   // the provenance companion's path, once it is written
    std::optional<OffsetStats> offsets;       // measured by the offset-bridging fill
    std::vector<std::string> sourceFiles;     // files of sources other than HGT folders that filled voids
    std::string warning;                      // what the user should look at although the run ended well
    std::int64_t bytes = 0;                   // bytes written to the output
    double seconds = 0;

    // The error's message for a failed run, else the note; empty when there is nothing to say.
    const std::string& message() const { return error ? error->message : note; }
};

// How many of the runs ended so.
std::size_t CountEnds(const std::vector<TileResult>& tiles, RunEnd end);

struct BatchResult {
    std::vector<TileResult> tiles; // in the order given; tiles not started after a STOP are absent
    bool stopped = false;
    double seconds = 0;

    std::size_t count(RunEnd end) const { return CountEnds(tiles, end); }
};

// What a command runs: one fill, a batch of fills, or one difference.
enum class RunKind { Fill, Batch, Difference };

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
// The engine knows no list box: the window draws its progress lines from these, the command line a bar.
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

inline constexpr std::size_t kDefaultBlockBytes = 256 * 1024;

enum class FillMethod {
    Copy,  // a void takes the filler's sample as it is
    Delta, // the filler's sample plus the offset between the tiles, bridged smoothly across each void
};

// A tile's samples from a source that is not a folder of HGT tiles: row 0 is the northern edge.
struct SourceTile {
    std::vector<std::int16_t> values; // side*side heights in metres, host order; kVoidValue where none
    std::vector<std::string> files;   // the files the values were taken from
};

// Called between the pieces of a long piece of work: it yields to the run's host and returns false
// once the run is to stop. Work that is asked to stop ends within a fraction of a second; what it
// returns then is not used.
using Proceed = std::function<bool()>;

// A fill source the engine knows only through this interface (rasters, from a plugin). tileFor may be
// called from several batch threads at once.
class TileSource {
public:
    virtual ~TileSource() = default;
    virtual std::string path() const = 0;
    // The tile named e.g. "N47E011.hgt" on a grid of side*side samples; nullopt where the source does not
    // cover it. With `wanted` (side*side flags), only the flagged samples need a value. `proceed` (may
    // be empty) is asked at least every few tens of milliseconds while the source reads.
    virtual Result<std::optional<SourceTile>> tileFor(const std::string& tileName, int side,
                                                      const std::vector<std::uint8_t>* wanted,
                                                      const Proceed& proceed) const = 0;
};

// One source of a fill: a folder of HGT tiles, or, when `tiles` is set, a source of another kind.
struct FillSource {
    std::string folder;
    std::shared_ptr<const TileSource> tiles;
};

// The largest maxDistance the window and the command line take, in samples: more than two 1" tiles across.
inline constexpr int kLargestMaxDistance = 10000;

struct RunOptions {
    std::size_t blockBytes = kDefaultBlockBytes; // bytes per read and write
    bool durable = true;                         // outputs synced to disk before they get their name
    unsigned jobs = 1;                           // batch: tiles in flight (more than one: no progress)
    const std::atomic<bool>* stop = nullptr;     // a stop request from outside the state record
    SyncTrace trace;
    // The sample values that mark a void: -9999, -32768 and -32767 in any combination. For -9999
    // the hole test looks for its byte pair anywhere in the file; the others count as whole samples.
    std::vector<std::int16_t> voidValues{kVoidValue};
    // Further folders of secondary tiles, asked in this order for what the secondary folder leaves void.
    std::vector<std::string> moreSecondaryFolders;
    FillMethod method = FillMethod::Copy;
    // The voids no source covers are interpolated when every sample of their region lies within
    // maxDistance samples of valid data. With `interpolate` a tile that no source has is still
    // filled; it ends MissingSecondary only when nothing could be interpolated either.
    bool interpolate = false;
    int maxDistance = 100;
    // A fill also writes <output>.src beside the output: where each sample came from (tile_format.h).
    bool provenance = false;
    // When not empty: every source in priority order, HGT folders and other kinds mixed, in place of
    // the secondary folder argument and moreSecondaryFolders.
    std::vector<FillSource> sources;
};

// Whether a batch of this many tiles has several in flight; then its tiles report no progress.
inline bool SeveralInFlight(const RunOptions& options, std::size_t tiles)
{
    return options.jobs > 1 && tiles > 1;
}

// The runs come twice: with the window's state record, which they keep up to date (position, sample
// bytes, runLog, statusText) and whose stopRequested stops them, and without one, stopped only
// through RunOptions::stop.

// Fills the voids of one primary tile from the same-named tile of secondaryFolder into
// <primary's folder>/Merged/<name>. Never throws.
TileResult MergeTile(WindowState& state, RunHost& host, const std::string& primaryFile,
                     const std::string& secondaryFolder, const RunOptions& options = {});
TileResult MergeTile(RunHost& host, const std::string& primaryFile, const std::string& secondaryFolder,
                     const RunOptions& options = {});

// Fills every tile of the list in order (a line feed into runLog before each), ending after the
// tile in progress when STOP is requested. Outputs of one tile are synced while the next is
// computed; the output folders are synced once at the end. Never throws.
BatchResult MergeTiles(WindowState& state, RunHost& host, const std::vector<std::string>& tiles,
                       const std::string& secondaryFolder, const RunOptions& options = {});
BatchResult MergeTiles(RunHost& host, const std::vector<std::string>& tiles, const std::string& secondaryFolder,
                       const RunOptions& options = {});

// Writes primary minus comparison, sample by sample, to <primary's folder>/DIFFS/<name>. A void in
// either tile stays a void; other differences are saturated to the 16-bit range. Never throws.
TileResult MakeDifferenceTile(WindowState& state, RunHost& host, const std::string& primaryPath,
                              const std::string& comparisonPath, const RunOptions& options = {});
TileResult MakeDifferenceTile(RunHost& host, const std::string& primaryPath, const std::string& comparisonPath,
                              const RunOptions& options = {});

} // namespace hgt

#pragma once

// What a run did: one result per tile, and the results of a batch.

#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hgt {

// What a command runs: one fill, a batch of fills, or one difference.
enum class RunKind { Fill, Batch, Difference };

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

// A source's heights converted for the fill: from its datum to the tiles'.
struct SourceConversion {
    std::string from; // "EGM2008"
    std::string to;   // "EGM96"
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
    // By source, in a run that converts heights: the conversion applied, nullopt where none. Empty in a
    // run that converts nothing.
    std::vector<std::optional<SourceConversion>> conversions;
    std::int64_t bytes = 0; // bytes written to the output
    double seconds = 0;

    // The error's message for a failed run, else the note; empty when there is nothing to say.
    const std::string& message() const { return error ? error->message : note; }
};

// How many of the runs ended so.
std::size_t CountEnds(const std::vector<TileResult>& tiles, RunEnd end);

// The conversions a tile's sources went through: "Quelle 2: EGM2008 → EGM96; Quelle 3: …"; empty
// where none was converted.
std::string ConversionsText(const TileResult& result);

struct BatchResult {
    std::vector<TileResult> tiles; // in the order given; tiles not started after a STOP are absent
    bool stopped = false;
    double seconds = 0;

    std::size_t count(RunEnd end) const { return CountEnds(tiles, end); }
};

} // namespace hgt

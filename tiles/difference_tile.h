#pragma once

#include "merge_tile.h"
#include "run_host.h"
#include "window_state.h"

#include <string>

namespace hgt {

enum class DiffEnd {
    Stopped,  // STOP during the walk; no output written
    Complete, // the difference tile is in DIFFS
    Failed,   // a tile was refused or a file operation failed; message says which
};

struct DiffResult {
    DiffEnd end = DiffEnd::Complete;
    std::string message;
};

// Writes primary minus comparison, sample by sample, to <primary's folder>/DIFFS/<name>. A void in
// either tile stays a void; other differences are saturated to the 16-bit range. The comparison is
// checked before DIFFS is created. Progress goes to the line at logIndex, which the run only reads.
// Never throws.
DiffResult MakeDifferenceTile(WindowState& state, RunHost& host, const std::string& primaryPath,
                              const std::string& comparisonPath, const EngineOptions& options = {});

// Where the difference tile of a primary tile goes.
std::string DifferenceTilePath(const std::string& primaryPath);

} // namespace hgt

#pragma once

// The engines' commands: fill one tile, fill a batch, write a difference.

#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/run_state.h"

#include <string>
#include <vector>

namespace hgt {

// The runs come twice: with a state record, which they keep up to date (position, sample bytes,
// runLog, statusText) and whose stopRequested stops them, and without one, stopped only through
// RunOptions::stop.

// Fills the voids of one primary tile from the same-named tile of secondaryFolder into
// <primary's folder>/Merged/<name>. Never throws.
TileResult MergeTile(RunState& state, RunHost& host, const std::string& primaryFile, const std::string& secondaryFolder,
                     const RunOptions& options = {});
TileResult MergeTile(RunHost& host, const std::string& primaryFile, const std::string& secondaryFolder,
                     const RunOptions& options = {});

// Fills every tile of the list in order (a line feed into runLog before each), ending after the
// tile in progress when STOP is requested. Outputs of one tile are synced while the next is
// computed; the output folders are synced once at the end. Never throws.
BatchResult MergeTiles(RunState& state, RunHost& host, const std::vector<std::string>& tiles,
                       const std::string& secondaryFolder, const RunOptions& options = {});
BatchResult MergeTiles(RunHost& host, const std::vector<std::string>& tiles, const std::string& secondaryFolder,
                       const RunOptions& options = {});

// Writes primary minus comparison, sample by sample, to <primary's folder>/DIFFS/<name>. A void in
// either tile stays a void; other differences are saturated to the 16-bit range. Never throws.
TileResult MakeDifferenceTile(RunState& state, RunHost& host, const std::string& primaryPath,
                              const std::string& comparisonPath, const RunOptions& options = {});
TileResult MakeDifferenceTile(RunHost& host, const std::string& primaryPath, const std::string& comparisonPath,
                              const RunOptions& options = {});

} // namespace hgt

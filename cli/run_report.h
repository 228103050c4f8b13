#pragma once

// How the command line reports fills, batches and differences: a German line or a JSON line per tile
// and per run, and the run's exit status.

#include "tiles/run_result.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace hgt::cli {

// Reports know fills (one or a batch) and differences: RunKind::Batch reads as a fill.
// "filled", "no_holes", "missing_secondary", "stopped", "failed"; a written difference is "written".
std::string_view EndName(RunEnd end, RunKind kind);

// A tile that did not get what it needed: it failed or had no secondary tile.
bool IsProblem(const TileResult& result);

// A fill's tile also carries the voids filled from each source, the offsets of the offset-bridging
// fill (null for a plain copy) and its warning.
std::string TileJson(const TileResult& result, RunKind kind);
std::string TileLine(const TileResult& result, RunKind kind);
// "N47E011.hgt: Warnung: …" for a tile whose result carries a warning.
std::string WarningLine(const TileResult& result);

// `tiles` is how many tiles the run was given; results after a stop may be fewer.
std::string SummaryJson(const BatchResult& run, std::size_t tiles, RunKind kind, bool interrupted, int exitStatus);
std::string SummaryLine(const BatchResult& run, std::size_t tiles, RunKind kind);
// What an interrupted run got done, for the error output.
std::string InterruptedLine(const BatchResult& run, std::size_t tiles);

// 130 when interrupted; otherwise 1 when a tile failed, had no secondary tile or was stopped, else 0.
int ExitStatus(const BatchResult& run, bool interrupted);

} // namespace hgt::cli

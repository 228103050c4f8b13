#pragma once

// How the command line reports runs and tiles: German lines for people, JSON lines for programs,
// and the exit status.

#include "tiles/engine.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace hgt::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

enum class RunKind { Fill, Difference };

// "filled", "no_holes", "missing_secondary", "stopped", "failed"; a written difference is "written".
std::string_view EndName(RunEnd end, RunKind kind);

// A tile that did not get what it needed: it failed or had no secondary tile.
bool IsProblem(const TileResult& result);

std::string TileJson(const TileResult& result, RunKind kind);
std::string TileLine(const TileResult& result, RunKind kind);

// `tiles` is how many tiles the run was given; results after a stop may be fewer.
std::string SummaryJson(const BatchResult& run, std::size_t tiles, RunKind kind, bool interrupted, int exitStatus);
std::string SummaryLine(const BatchResult& run, std::size_t tiles, RunKind kind);
// What an interrupted run got done, for the error output.
std::string InterruptedLine(const BatchResult& run, std::size_t tiles);

// 130 when interrupted; otherwise 1 when a tile failed, had no secondary tile or was stopped, else 0.
int ExitStatus(const BatchResult& run, bool interrupted);

std::string InfoJson(const TileInfo& info);
std::string InfoErrorJson(const std::string& path, const Error& error);
std::string InfoText(const TileInfo& info);
std::string InfoSummaryJson(std::size_t tiles, std::size_t failed, int exitStatus);

} // namespace hgt::cli

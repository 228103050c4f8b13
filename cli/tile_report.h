#pragma once

// How the command line reports runs and tiles: German lines for people, JSON lines for programs,
// and the exit status.

#include "platform/german_number.h"
#include "tiles/tile_format.h"
#include "tiles/runs.h"
#include "tiles/tile_info.h"
#include "pictures/picture.h"
#include "pictures/provenance_picture.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hgt::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

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

// `voidValues` are the values that were counted as voids.
std::string InfoJson(const TileInfo& info, const std::vector<std::int16_t>& voidValues = {kVoidValue});
std::string InfoErrorJson(const std::string& path, const Error& error);
std::string InfoText(const TileInfo& info, const std::vector<std::int16_t>& voidValues = {kVoidValue});
std::string InfoSummaryJson(std::size_t tiles, std::size_t failed, int exitStatus);

// What render drew: the tile's figures and the picture file.
struct PictureReport {
    std::string path;   // the tile as given
    std::string output; // the PNG
    TileSummary summary;
    int width = 0; // of the PNG, the legend's margin included
    int height = 0;
    bool legend = false;
};

std::string PictureJson(const PictureReport& picture);
std::string PictureErrorJson(const std::string& path, const Error& error);
std::string PictureText(const PictureReport& picture);

// What render drew from a provenance file: the picture's size and the samples of each code.
struct ProvenanceReport {
    std::string path;
    std::string output;
    ProvenanceMap map;
    int width = 0;
    int height = 0;
    bool legend = false;
};
std::string ProvenanceJson(const ProvenanceReport& report);
std::string ProvenanceText(const ProvenanceReport& report);

// 1 or 3 for the sides of the 1" and 3" grids, else 0.
int ArcSecondsOfSide(std::int64_t side);

} // namespace hgt::cli

#pragma once

// How the command line reports what info found in a tile: a German block for people, a JSON line
// for programs.

#include "platform/error.h"
#include "tiles/tile_format.h"
#include "tiles/tile_info.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hgt::cli {

// `voidValues` are the values that were counted as voids.
std::string InfoJson(const TileInfo& info, const std::vector<std::int16_t>& voidValues = {kVoidValue});
std::string InfoErrorJson(const std::string& path, const Error& error);
std::string InfoText(const TileInfo& info, const std::vector<std::int16_t>& voidValues = {kVoidValue});
std::string InfoSummaryJson(std::size_t tiles, std::size_t failed, int exitStatus);

} // namespace hgt::cli

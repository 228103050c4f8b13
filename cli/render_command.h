#pragma once

#include "cli/commands.h"

#include <string>

namespace hgt::cli {

// render: draws one tile as a PNG and reports its figures; returns the exit status.
int RenderTile(const Invocation& invocation, const Console& console);

// Whether a tile is drawn as a difference without --diff: it lies in a folder named DIFFS, where
// diff writes its outputs.
bool InDifferenceFolder(const std::string& path);

} // namespace hgt::cli

#pragma once

#include "cli/commands.h"

#include <string>

namespace hgt::cli {

// render: draws one tile as a PNG and reports its figures; returns the exit status.
int RenderTile(const Invocation& invocation, const Console& console);

} // namespace hgt::cli

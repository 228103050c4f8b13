#pragma once

#include "cli/command_line.h"

#include <string_view>

namespace hgt::cli {

// The German help of a subcommand, or the overview for Command::None; ends with a line feed.
std::string_view HelpText(Command command);

} // namespace hgt::cli

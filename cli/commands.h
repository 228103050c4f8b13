#pragma once

#include "cli/cli_host.h"
#include "cli/command_line.h"

#include <atomic>
#include <ostream>

namespace hgt::cli {

struct Console {
    std::ostream& out; // the report: German lines, or JSON lines with --json
    std::ostream& err; // problems and the progress bar
};

// Runs the subcommand of a parsed command line (not --help or --version) and returns the exit
// status. `stop` ends fill, batch and diff like STOP when it turns true.
int RunCommand(const Invocation& invocation, CliHost& host, const std::atomic<bool>* stop, const Console& console);

} // namespace hgt::cli

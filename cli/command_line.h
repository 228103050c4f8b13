#pragma once

// What the user asked for on the command line: one subcommand, its options and its operands.

#include "tiles/tile_format.h"
#include "tiles/run_options.h"

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hgt::cli {

enum class Command { None, Fill, Batch, Diff, Info, Render };

// The largest picture render draws: 8192 x 8192 pixels are 256 MiB in memory, twice while saving.
inline constexpr int kMaxPictureSize = 8192;

struct Invocation {
    Command command = Command::None;
    bool help = false;                        // --help: print the help of `command` (or the overview) and nothing else
    bool version = false;                     // --version before any subcommand
    std::string secondary;                    // the first -s
    std::vector<std::string> moreSecondaries; // every further -s, in the order given
    std::vector<std::string> datums;          // --datum by -s in the order given, empty where none follows it
    std::string tileDatum;                    // --tile-datum; empty: EGM96, converting only with a --datum
    std::vector<std::int16_t> voidValues{kVoidValue}; // replaced by the --void values when any are given
    FillMethod method = FillMethod::Copy;
    bool interpolate = false; // --interpolate: voids no source covers are interpolated; -s may be left out
    int maxDistance = 100;    // --max-distance
    bool provenance = false;  // --provenance: a .src companion beside each output
    unsigned jobs = 1;
    bool json = false;
    bool quiet = false;
    // render
    bool difference = false; // --diff: draw the difference colours whatever the folder
    int size = 0;            // --size: pixels per side; 0 is one pixel per sample
    bool legend = false;
    std::string output; // -o
    std::vector<std::string> operands;
};

// A command line that cannot be run: a German message of one line, and the subcommand it was
// meant for (for the hint to its --help).
struct UsageError {
    std::string message;
    Command command = Command::None;
};

// The subcommand's name as typed ("fill"), empty for Command::None.
std::string_view CommandName(Command command);

// Parses the arguments after the program name. `defaultJobs` is what -j means when not given.
// Options may stand before, between and after the operands; "--" ends them.
std::expected<Invocation, UsageError> ParseCommandLine(std::span<const std::string> args, unsigned defaultJobs);

// "hgtfill-cli: <message> (Hilfe: hgtfill-cli <command> --help)"
std::string UsageLine(const UsageError& error);

} // namespace hgt::cli

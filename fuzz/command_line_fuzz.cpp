// The command line from untrusted bytes: the input split at NUL bytes into arguments, parsed, and
// on an error the usage line built from it.

#include "cli/command_line.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "command_line_fuzz: %s\n", what);
        std::abort();
    }
}

bool isVoidChoice(std::int16_t value)
{
    return value == hgt::kVoidValue || value == -32768 || value == -32767;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args;
    const auto* text = reinterpret_cast<const char*>(data);
    for (std::size_t start = 0; start <= size;) {
        const std::size_t end = static_cast<std::size_t>(std::find(text + start, text + size, '\0') - text);
        args.emplace_back(text + start, end - start);
        start = end + 1;
    }
    if (size == 0)
        args.clear(); // no arguments at all, rather than one empty one

    constexpr unsigned defaultJobs = 3;
    const auto parsed = hgt::cli::ParseCommandLine(args, defaultJobs);
    if (!parsed) {
        require(!parsed.error().message.empty(), "an error without a message");
        const std::string line = hgt::cli::UsageLine(parsed.error());
        require(line.starts_with("hgtfill-cli: ") && line.ends_with("--help)"), "the usage line's frame");
        return 0;
    }
    const hgt::cli::Invocation& run = *parsed;
    require(run.command != hgt::cli::Command::None || run.help || run.version, "a run without a command");
    require(run.jobs >= 1 && run.jobs <= 256, "jobs out of range");
    require(run.size >= 0 && run.size <= hgt::cli::kMaxPictureSize, "picture size out of range");
    require(!run.voidValues.empty() && std::all_of(run.voidValues.begin(), run.voidValues.end(), isVoidChoice),
            "void values other than the three choices");
    require(run.secondary.empty() ? run.moreSecondaries.empty() : true, "a further secondary folder without a first");
    require(run.operands.size() < args.size() || args.empty(), "more operands than arguments");
    return 0;
}

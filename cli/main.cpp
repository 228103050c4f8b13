#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/help_text.h"
#include "cli/progress_bar.h"
#include "cli/stop_signal.h"
#include "cli/text_escape.h"
#include "platform/console.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace hgt::cli;
    std::ios::sync_with_stdio(false);
    const hgt::ConsoleText consoleText;
    const std::vector<std::string> args = hgt::ProgramArguments(argc, argv);
    const auto invocation = ParseCommandLine(args, hgt::UsableProcessors());
    if (!invocation) {
        std::cerr << Printable(UsageLine(invocation.error())) << '\n';
        return kExitUsage;
    }
    if (invocation->version) {
        std::cout << "hgtfill-cli " HGTFILL_VERSION "\n";
        return kExitOk;
    }
    if (invocation->help) {
        std::cout << HelpText(invocation->command);
        return kExitOk;
    }

    const Console console{std::cout, std::cerr};
    CliHost quiet;
    // info and render read one tile at a time and write at most one file: nothing to show progress of.
    if (invocation->command == Command::Info || invocation->command == Command::Render)
        return RunCommand(*invocation, quiet, nullptr, console);

    std::unique_ptr<ProgressBar> bar;
    constexpr int kStandardError = 2;
    if (WantsProgressBar(kStandardError, invocation->quiet))
        bar = std::make_unique<ProgressBar>(std::cerr, TerminalWidth(kStandardError), ProgressBar::steadySeconds,
                                            hgt::TerminalTakesEscapes(kStandardError));
    const StopSignal stop;
    const int status = RunCommand(*invocation, bar ? *bar : quiet, stop.flag(), console);
    std::cout.flush();
    if (std::cout.good())
        return status;
    std::cerr << "hgtfill-cli: die Standardausgabe kann nicht geschrieben werden\n";
    return status == kExitInterrupted ? status : kExitFailed;
}

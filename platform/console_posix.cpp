#include "platform/console.h"

#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace hgt {

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    if (argc < 1 || !argv)
        return {};
    return std::vector<std::string>(argv + 1, argv + argc);
}

ConsoleText::ConsoleText() = default;
ConsoleText::~ConsoleText() = default;

bool IsTerminal(int descriptor)
{
    return ::isatty(descriptor) == 1;
}

int TerminalColumns(int descriptor)
{
    winsize size{};
    if (::ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

bool TerminalTakesEscapes(int)
{
    return true;
}

unsigned UsableProcessors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace hgt

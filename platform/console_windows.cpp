#include "platform/console.h"

#include "platform/internal/windows_text.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <iostream>
#include <thread>

namespace hgt {

namespace {

HANDLE consoleOf(int descriptor)
{
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return nullptr;
    return handle;
}

} // namespace

std::vector<std::string> ProgramArguments(int, char**)
{
    // The same rules for quotes and backslashes as the C runtime's; the first entry is the program.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (!wide)
        return arguments;
    for (int k = 1; k < count; ++k)
        arguments.push_back(windows::Narrow(wide[k]));
    LocalFree(wide);
    return arguments;
}

ConsoleText::ConsoleText()
{
    std::fflush(stdout);
    std::fflush(stderr);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    if (consoleOf(1) || consoleOf(2)) {
        m_codePage = GetConsoleOutputCP();
        if (m_codePage == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8))
            m_codePage = 0;
    }
    if (HANDLE error = consoleOf(2)) {
        DWORD mode = 0;
        GetConsoleMode(error, &mode);
        m_errorMode = mode;
        m_errorModeChanged =
            (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0
            && SetConsoleMode(error, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

ConsoleText::~ConsoleText()
{
    // What is still buffered is written in the code page it was meant for.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    if (m_errorModeChanged) {
        if (HANDLE error = consoleOf(2))
            SetConsoleMode(error, m_errorMode);
    }
    if (m_codePage != 0)
        SetConsoleOutputCP(m_codePage);
}

bool IsTerminal(int descriptor)
{
    // _isatty() also says yes for NUL, which is a character device but no console.
    return consoleOf(descriptor) != nullptr;
}

bool TerminalTakesEscapes(int descriptor)
{
    HANDLE console = consoleOf(descriptor);
    DWORD mode = 0;
    return console && GetConsoleMode(console, &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns(int descriptor)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    HANDLE console = consoleOf(descriptor);
    if (console && GetConsoleScreenBufferInfo(console, &info) && info.srWindow.Right >= info.srWindow.Left)
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

unsigned UsableProcessors()
{
    // A process that spans several processor groups gets no mask (zero): then all processors count.
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return static_cast<unsigned>(std::popcount(static_cast<unsigned long long>(process)));
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace hgt

#pragma once

// What a command-line program asks of the system about itself: its arguments, its console and the
// processors it may use.

#include <string>
#include <vector>

namespace hgt {

// The arguments after the program's name, in UTF-8. On Windows they come from the wide command line
// (argv there holds the ANSI code page's approximation of any other character).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// For the life of the object, the program's UTF-8 bytes reach the console as they are: on Windows
// the console's output code page is UTF-8 and escape sequences work on a console stderr, and the
// standard streams write \n, not \r\n, into files and pipes; the console's settings come back at the
// end. Nothing to do on POSIX.
class ConsoleText {
public:
    ConsoleText();
    ~ConsoleText();
    ConsoleText(const ConsoleText&) = delete;
    ConsoleText& operator=(const ConsoleText&) = delete;

private:
    unsigned m_codePage = 0;
    unsigned long m_errorMode = 0;
    bool m_errorModeChanged = false;
};

// Whether the descriptor (0, 1 or 2) is a terminal or a console window; a file, a pipe or the null
// device is not.
bool IsTerminal(int descriptor);
// The terminal's width in columns, 80 when it cannot be asked.
int TerminalColumns(int descriptor);
// Whether the terminal on the descriptor takes escape sequences (erase to the end of the line); a
// console without them gets plain characters only.
bool TerminalTakesEscapes(int descriptor);

// The processors this process may run on (its affinity), at least one.
unsigned UsableProcessors();

} // namespace hgt

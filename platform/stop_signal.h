#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace hgt {

// Turns the system's requests to stop into a stop request for the engine, for as long as the object
// lives: SIGINT and SIGTERM on POSIX (the earlier handlers come back with its end); Ctrl-C, Ctrl-Break
// and the closing of the console window (or the session) on Windows. One at a time. When the program
// has not ended kGraceMs after the first request, or on a second one, it writes `forcedText` to
// stderr and exits at once with 128 + the signal's number (130 for SIGINT, Ctrl-C and Ctrl-Break, 143
// for SIGTERM and the console's closing), removing its temporary files first.
class StopSignal {
public:
    static constexpr int kGraceMs = 800;

    explicit StopSignal(std::string forcedText);
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // The flag for RunOptions::stop.
    const std::atomic<bool>* flag() const;
    bool raised() const;

private:
    void watch();

    std::string m_forcedText;
    std::thread m_watchdog;
};

#ifdef _WIN32
// What the console's control handler does with an event (CTRL_C_EVENT …); false when no StopSignal
// lives. Returns for a closing console only once the StopSignal has ended, since the system ends the
// process when the handler returns.
bool HandleConsoleControl(unsigned long event);
#endif

} // namespace hgt

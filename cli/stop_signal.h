#pragma once

#include <atomic>
#include <thread>

namespace hgt::cli {

// Turns SIGINT and SIGTERM into a stop request for the engine, for as long as the object lives;
// the earlier handlers come back with its end. One at a time. When the program has not ended
// kGraceMs after the first signal, or on a second one, it exits at once with 128 + the first
// signal's number (130 for SIGINT, 143 for SIGTERM), removing its temporary files first.
class StopSignal {
public:
    static constexpr int kGraceMs = 800;

    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // The flag for RunOptions::stop.
    const std::atomic<bool>* flag() const;
    bool raised() const;

private:
    void watch();

    std::thread m_watchdog;
};

} // namespace hgt::cli

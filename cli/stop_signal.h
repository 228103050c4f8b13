#pragma once

#include <atomic>

namespace hgt::cli {

// Turns SIGINT and SIGTERM into a stop request for the engine, for as long as the object lives;
// the earlier handlers come back with its end. One at a time.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // The flag for RunOptions::stop.
    const std::atomic<bool>* flag() const;
    bool raised() const;
};

} // namespace hgt::cli

#pragma once

#include "app/run_record.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace hgt {

// What the window around Form1 learns of its runs. All calls come on the window's thread, from
// inside the command handlers; progress only at the yields that serve the event queue.
class RunObserver {
public:
    virtual ~RunObserver() = default;

    virtual void runStarted(RunKind kind, std::size_t tileCount) = 0;
    virtual void tileStarted(std::size_t index, std::size_t count, const std::string& tile) = 0;
    // posHigh of the tile in progress (Form1's state record).
    virtual void runProgress(std::int32_t posHigh) = 0;
    virtual void runFinished(const RunRecord& record) = 0;
};

} // namespace hgt

#pragma once

#include <cstdint>
#include <string>

namespace hgt {

// The fields through which the commands, the two engines and STOP talk: the position, sample bytes
// and progress text of exactly one run. The window's record adds the window's own line index.
struct RunState {
    std::int32_t posHigh = 0;
    std::int32_t posLow = 0;
    std::uint8_t byteHigh = 0;
    std::uint8_t byteLow = 0;
    bool stopRequested = false;
    bool secondaryHasTiles = false;
    std::string runLog;
    std::string statusText;
};

} // namespace hgt

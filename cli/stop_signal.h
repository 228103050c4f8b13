#pragma once

#include "platform/stop_signal.h"

namespace hgt::cli {

// The program's stop on Ctrl-C and SIGTERM (and their kin on Windows), with its own words for the
// forced end; see hgt::StopSignal.
class StopSignal : public hgt::StopSignal {
public:
    StopSignal();
};

} // namespace hgt::cli

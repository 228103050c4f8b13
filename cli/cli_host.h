#pragma once

#include "tiles/run_host.h"

namespace hgt::cli {

// The engine's host on the command line: no list, nothing to yield to. A command tells it when the
// run has ended, before it prints its report, so that a progress display can get out of the way.
class CliHost : public QuietHost {
public:
    virtual void runEnded() {}
};

} // namespace hgt::cli

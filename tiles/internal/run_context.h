#pragma once

#include "platform/save_file.h"
#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_state.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace hgt {

// A progress report is due once posHigh lies more than this past the previous report.
inline constexpr std::int32_t kReportStride = 200000;
// Bytes from one report to the next: reports fall at posHigh = 200,001 + 200,002·k.
inline constexpr std::int64_t kReportSpan = kReportStride + 2;

// What every step of one run of one tile works on: the state record, the host, the options and
// the position of the run's latest progress report.
class RunContext {
public:
    RunContext(RunState& state, RunHost& host, const RunOptions& options) : state(state), host(host), options(options)
    {}

    bool stopRequested() const
    {
        return state.stopRequested || (options.stop && options.stop->load(std::memory_order_relaxed));
    }
    SaveOptions saveOptions() const { return {options.durable, options.trace}; }

    // True when posHigh lies more than 200,000 bytes past the latest report.
    bool reportDue() const { return state.posHigh > m_lastReportPos + kReportStride; }
    // Remembers the position, yields once more, sets statusText and tells the host.
    void reportProgress(const std::string& statusText, std::int64_t tileBytes)
    {
        m_lastReportPos = state.posHigh;
        host.yieldToEvents();
        state.statusText = statusText;
        host.progress({state.posLow, tileBytes, state.statusText});
    }

    RunState& state;
    RunHost& host;
    const RunOptions& options;
    bool useHelperThread = true; // whether a run may share its work with a second thread

private:
    std::int32_t m_lastReportPos = 0;
};

} // namespace hgt

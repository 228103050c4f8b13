#pragma once

#include "tiles/runs.h"

#include <cstdint>
#include <string>

namespace hgt {

// A progress report is due once posHigh lies more than this past the previous report.
inline constexpr std::int32_t kReportStride = 200000;
// Bytes from one report to the next: reports fall at posHigh = 200,001 + 200,002·k.
inline constexpr std::int64_t kReportSpan = kReportStride + 2;

// The progress line protocol: each run owns the list line at logIndex and rewrites it every
// 200,002 bytes. A list operation at an index outside the list is skipped; the run goes on.
class RunReport {
public:
    RunReport(WindowState& state, RunHost& host) : m_state(state), m_host(host) {}

    // True when posHigh lies more than 200,000 bytes past the latest report.
    bool due() const;

    // Remembers the position, yields once more, sets statusText and rewrites the run's line.
    void report(const std::string& statusText);

    // If the list holds a line, remove the one at logIndex; then insert the text there.
    void replaceLine(const std::string& text);
    // Remove at logIndex (no test for an empty list), then insert the text there.
    void rewriteLine(const std::string& text);
    void insertLine(const std::string& text);

private:
    bool removeAt(int index);
    bool insertAt(int index, const std::string& text);

    WindowState& m_state;
    RunHost& m_host;
    std::int32_t m_lastReportPos = 0;
};

} // namespace hgt

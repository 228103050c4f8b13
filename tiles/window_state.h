#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace hgt {

// The progress line index of the current run. It starts unset; unset reads as 0 and raises to 1.
class LogIndex {
public:
    LogIndex() = default;
    explicit LogIndex(int value) : m_value(value) {}

    bool isSet() const { return m_value.has_value(); }
    int index() const { return m_value.value_or(0); }
    void raise() { m_value = index() + 1; }
    void set(int value) { m_value = value; }

    friend bool operator==(const LogIndex&, const LogIndex&) = default;

private:
    std::optional<int> m_value;
};

// The fields through which the commands, the two engines and STOP talk. One record holds the
// position, sample bytes, line index and progress text of exactly one run.
struct WindowState {
    std::int32_t posHigh = 0;
    std::int32_t posLow = 0;
    std::uint8_t byteHigh = 0;
    std::uint8_t byteLow = 0;
    bool stopRequested = false;
    bool secondaryHasTiles = false;
    std::string runLog;
    LogIndex logIndex;
    std::string statusText;
};

} // namespace hgt

#pragma once

#include "tiles/run_state.h"

#include <optional>

namespace hgt {

// The window's progress line index of the current run; the engines leave it alone. It starts unset;
// unset reads as 0 and raises to 1.
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

// The window's state record: the engines' record, which a run keeps up to date, and the line of
// List1 that the run's progress goes to.
struct WindowState : RunState {
    LogIndex logIndex;
};

} // namespace hgt

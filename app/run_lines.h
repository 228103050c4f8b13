#pragma once

#include "app/window_state.h"
#include "tiles/run_result.h"

#include <string>

namespace hgt {

// The list the progress lines are drawn into: List1's lines behind Form1, plain lines in tests.
// Called only with a valid index.
class LineList {
public:
    virtual ~LineList() = default;
    virtual int listCount() const = 0;
    virtual void listInsert(int index, const std::string& text) = 0; // 0 <= index <= count
    virtual void listRemove(int index) = 0;                          // 0 <= index < count
};

// Turns a run's events into the window's progress lines. Each fill owns the line at logIndex,
// raised as its tile starts: every progress report replaces that line with the status text, and the
// tile's end leaves "<name>hat keine Löcher.", the message of a failure or a missing secondary, or
// the last status text. A difference replaces the line at logIndex as it stands and leaves it so.
// An operation at an index outside the list is skipped: the list may hold old lines, or none.
class RunLines {
public:
    RunLines(WindowState& state, LineList& list) : m_state(state), m_list(list) {}

    // Several tiles in flight draw no lines.
    void runStarted(RunKind kind, bool oneTileAtATime = true);
    void tileStarted();
    void progress(const std::string& statusText);
    void tileFinished(const TileResult& result);

private:
    bool fillOneAtATime() const { return m_oneAtATime && m_kind != RunKind::Difference; }
    // Removes the line at logIndex, then inserts the text there.
    void replaceLine(const std::string& text);
    void insertLine(const std::string& text);
    void removeAt(int index);
    void insertAt(int index, const std::string& text);

    WindowState& m_state;
    LineList& m_list;
    RunKind m_kind = RunKind::Fill;
    bool m_oneAtATime = true;
};

} // namespace hgt

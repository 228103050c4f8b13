#pragma once

// The window's side of a run for the engine's tests.

#include "app/run_lines.h"
#include "app/window_state.h"
#include "tiles/run_host.h"
#include "tiles/run_result.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace hgt::test {

// The window's side of a run: the progress lines drawn from the run's events as the window draws
// them (into plain lines), yields counted. Bound to the state record the run is given.
class FakeHost : public RunHost, public LineList {
public:
    explicit FakeHost(WindowState& state, RunKind kind = RunKind::Fill) : m_runLines(state, *this)
    {
        m_runLines.runStarted(kind);
    }

    // How a run of several tiles in flight is drawn: not at all.
    void severalInFlight(bool several) { m_runLines.runStarted(RunKind::Batch, !several); }

    void tileStarted(std::size_t, std::size_t, const std::string&) override { m_runLines.tileStarted(); }
    void progress(const RunProgress& progress) override { m_runLines.progress(progress.text); }
    void tileFinished(std::size_t, std::size_t, const TileResult& result) override { m_runLines.tileFinished(result); }
    void yieldToEvents() override
    {
        ++yields;
        if (onYield)
            onYield();
    }

    int listCount() const override { return static_cast<int>(lines.size()); }
    void listInsert(int index, const std::string& text) override
    {
        EXPECT_TRUE(index >= 0 && index <= listCount()) << "insert at " << index;
        lines.insert(lines.begin() + index, text);
    }
    void listRemove(int index) override
    {
        EXPECT_TRUE(index >= 0 && index < listCount()) << "remove at " << index;
        lines.erase(lines.begin() + index);
    }

    std::vector<std::string> lines;
    long yields = 0;
    std::function<void()> onYield;

private:
    RunLines m_runLines;
};

} // namespace hgt::test

#pragma once

#include "cli/cli_host.h"

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace hgt::cli {

struct ProgressSnapshot {
    std::size_t done = 0;
    std::size_t count = 0;
    std::string current; // the tile started last that is still in flight; empty when none
    double elapsed = 0;  // seconds since the first tile started
};

// One line of at most width - 1 columns:
// "[#######-------]  12/40  N47E011.hgt  2,5 Kacheln/s  noch 0:11"
std::string RenderProgress(const ProgressSnapshot& snapshot, int width);

// A progress bar on a terminal, redrawn in place on the tiles' start and end. Without `erases` (a
// console that takes no escape sequences) it draws with carriage returns and spaces only.
class ProgressBar : public CliHost {
public:
    using Clock = std::function<double()>; // seconds from any fixed point

    ProgressBar(std::ostream& out, int width, Clock clock = steadySeconds, bool erases = true);

    void tileStarted(std::size_t index, std::size_t count, const std::string& tile) override;
    void tileFinished(std::size_t index, std::size_t count, const TileResult& result) override;
    void runEnded() override;

    static double steadySeconds();

private:
    void draw(bool force);

    std::ostream& m_out;
    int m_width;
    Clock m_clock;
    bool m_erases;
    std::size_t m_shownColumns = 0;
    double m_start = -1;
    double m_lastDraw = -1;
    bool m_shown = false;
    std::size_t m_done = 0;
    std::size_t m_count = 0;
    std::vector<std::pair<std::size_t, std::string>> m_inFlight;
};

// Whether a progress bar belongs on the stream with this descriptor: a terminal, and not --quiet.
bool WantsProgressBar(int descriptor, bool quiet);
// The terminal's width in columns, 80 when it cannot be asked.
int TerminalWidth(int descriptor);

} // namespace hgt::cli

// What a run tells its host: each tile as started, progress, finished, in that order on the
// caller's thread, with and without the window's state record.

#include "app/window_state.h"
#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_format.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace hgt::test {
namespace run_events_test {

// Every event in one line: "started 0/1 N47E011.hgt ; finished 0/1 end 0 <message> ; reports 14",
// the reports being the progress told since the tile started.
class EventHost : public RunHost {
public:
    void tileStarted(std::size_t index, std::size_t count, const std::string& tile) override
    {
        add("started " + std::to_string(index) + "/" + std::to_string(count) + " " + TileName(tile));
    }
    void progress(const RunProgress& progress) override { progresses.push_back(progress); }
    void tileFinished(std::size_t index, std::size_t count, const TileResult& result) override
    {
        add("finished " + std::to_string(index) + "/" + std::to_string(count) + " end "
            + std::to_string(static_cast<int>(result.end)) + " " + result.message());
        add("reports " + std::to_string(progresses.size() - counted));
        counted = progresses.size();
    }
    // Both ways of stopping: the state record's flag, and the one a run without it sees.
    void yieldToEvents() override
    {
        if (++yields == stopAtYield)
            state.stopRequested = stop = true;
    }
    void add(const std::string& event) { events += (events.empty() ? "" : " ; ") + event; }

    std::string events;
    std::vector<RunProgress> progresses;
    std::size_t counted = 0;
    long yields = 0;
    long stopAtYield = 0;
    std::atomic<bool> stop{false};
    WindowState state;
};

enum class Run { Fill, Batch, Difference };

struct EventsRow {
    const char* name;
    Run run;
    long stopAtYield; // 0: no stop
    std::string events;
};

void PrintTo(const EventsRow& row, std::ostream* os)
{
    *os << row.name;
}

class RunEvents : public ::testing::TestWithParam<EventsRow> {};

// Each row runs with the state record and without it: the events are the same.
TEST_P(RunEvents, ComeInOrderWithTheTilesShareDone)
{
    const EventsRow& row = GetParam();
    TempFolder temp;
    Bytes holey = plainTile(1, kTileSide3);
    setVoid(holey, 1000);
    writeBytes(temp / "p/N47E011.hgt", holey);
    writeBytes(temp / "p/N47E012.hgt", plainTile(2, kTileSide3));
    writeBytes(temp / "s/N47E011.hgt", plainTile(3, kTileSide3));
    const std::string tile = temp / "p/N47E011.hgt", other = temp / "s/N47E011.hgt", folder = temp / "s";
    const std::vector<std::string> batch{temp / "p/N47E012.hgt", tile};

    for (const bool withState : {true, false}) {
        SCOPED_TRACE(withState ? "with the state record" : "without it");
        EventHost host;
        host.stopAtYield = row.stopAtYield;
        RunOptions options = quickOptions();
        options.stop = &host.stop;
        WindowState& state = host.state;
        std::vector<TileResult> results;
        if (row.run == Run::Fill)
            results = {withState ? MergeTile(state, host, tile, folder, options)
                                 : MergeTile(host, tile, folder, options)};
        else if (row.run == Run::Batch)
            results =
                (withState ? MergeTiles(state, host, batch, folder, options) : MergeTiles(host, batch, folder, options))
                    .tiles;
        else
            results = {withState ? MakeDifferenceTile(state, host, tile, other, options)
                                 : MakeDifferenceTile(host, tile, other, options)};

        EXPECT_EQ(host.events, row.events);
        // Reports fall every 200,002 bytes of the 3" tile's 2,884,802, the first after 200,002.
        const std::string suffix = row.run == Run::Difference ? "" : " File : N47E011.hgt";
        for (std::size_t k = 0; k < host.progresses.size(); ++k) {
            const auto done = static_cast<std::int64_t>(200002 * (k + 1));
            EXPECT_EQ(host.progresses[k].done, done) << "report " << k;
            EXPECT_EQ(host.progresses[k].total, kTileBytes3) << "report " << k;
            EXPECT_EQ(host.progresses[k].text, std::to_string(done - 1) + " Bytes verarbeitet." + suffix) << k;
        }
        // The record given is kept up to date; a run without one leaves it alone.
        EXPECT_EQ(state.statusText, withState ? host.progresses.back().text : "");
        EXPECT_FALSE(state.logIndex.isSet());
        for (const TileResult& result : results)
            EXPECT_FALSE(result.error) << result.message();
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, RunEvents,
                         ::testing::Values(EventsRow{"fill", Run::Fill, 0,
                                                     "started 0/1 N47E011.hgt ; finished 0/1 end 0  ; reports 14"},
                                           EventsRow{"fill_stopped", Run::Fill, 20,
                                                     "started 0/1 N47E011.hgt ; finished 0/1 end 3  ; reports 7"},
                                           EventsRow{"batch", Run::Batch, 0,
                                                     "started 0/2 N47E012.hgt ; finished 0/2 end 1  ; reports 0 ; "
                                                     "started 1/2 N47E011.hgt ; finished 1/2 end 0  ; reports 14"},
                                           EventsRow{"difference", Run::Difference, 0,
                                                     "started 0/1 N47E011.hgt ; finished 0/1 end 0  ; reports 14"},
                                           EventsRow{"difference_stopped", Run::Difference, 20,
                                                     "started 0/1 N47E011.hgt ; finished 0/1 end 3  ; reports 7"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace run_events_test
} // namespace hgt::test

// What a run tells its host: each tile as started, progress, finished, in that order on the
// caller's thread, with and without the window's state record.

#include "tiles/runs.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_format.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace hgt::test {
namespace {

// Every event as a line: "started 0/1 N47E011.hgt", "progress 200002/2884802 <text>", "finished 0/1 end 0".
class EventHost : public RunHost {
public:
    void tileStarted(std::size_t index, std::size_t count, const std::string& tile) override
    {
        events.push_back("started " + std::to_string(index) + "/" + std::to_string(count) + " " + TileName(tile));
    }
    void progress(const RunProgress& progress) override { progresses.push_back(progress); }
    void tileFinished(std::size_t index, std::size_t count, const TileResult& result) override
    {
        events.push_back("finished " + std::to_string(index) + "/" + std::to_string(count) + " end "
                         + std::to_string(static_cast<int>(result.end)) + " " + result.message());
        // A tile's progress is told between its start and its end.
        events.push_back("reports " + std::to_string(progresses.size() - counted));
        counted = progresses.size();
    }
    void yieldToEvents() override
    {
        if (++yields == stopAtYield && stop)
            *stop = true;
    }

    std::vector<std::string> events;
    std::vector<RunProgress> progresses;
    std::size_t counted = 0;
    long yields = 0;
    long stopAtYield = 0;
    std::atomic<bool>* stop = nullptr;
};

enum class Run { Fill, Batch, Difference };

struct EventsRow {
    const char* name;
    Run run;
    bool withState;
    long stopAtYield;
    std::vector<std::string> events;
};

void PrintTo(const EventsRow& row, std::ostream* os)
{
    *os << row.name;
}

class RunEvents : public ::testing::TestWithParam<EventsRow> {};

TEST_P(RunEvents, ComeInOrderWithTheTilesShareDone)
{
    const EventsRow& row = GetParam();
    TempFolder temp;
    Bytes holey = plainTile(1, kTileSide3);
    setVoid(holey, 1000);
    writeBytes(temp / "p/N47E011.hgt", holey);
    writeBytes(temp / "p/N47E012.hgt", plainTile(2, kTileSide3));
    writeBytes(temp / "s/N47E011.hgt", plainTile(3, kTileSide3));

    EventHost host;
    std::atomic<bool> stop{false};
    host.stop = &stop;
    host.stopAtYield = row.stopAtYield;
    RunOptions options = quickOptions();
    options.stop = &stop;
    WindowState state;
    std::vector<TileResult> results;
    switch (row.run) {
    case Run::Fill:
        results.push_back(row.withState ? MergeTile(state, host, temp / "p/N47E011.hgt", temp / "s", options)
                                        : MergeTile(host, temp / "p/N47E011.hgt", temp / "s", options));
        break;
    case Run::Batch: {
        const std::vector<std::string> tiles{temp / "p/N47E012.hgt", temp / "p/N47E011.hgt"};
        results = (row.withState ? MergeTiles(state, host, tiles, temp / "s", options)
                                 : MergeTiles(host, tiles, temp / "s", options))
                      .tiles;
        break;
    }
    case Run::Difference:
        results.push_back(row.withState
                              ? MakeDifferenceTile(state, host, temp / "p/N47E011.hgt", temp / "s/N47E011.hgt", options)
                              : MakeDifferenceTile(host, temp / "p/N47E011.hgt", temp / "s/N47E011.hgt", options));
        break;
    }

    EXPECT_EQ(host.events, row.events);
    // Reports fall every 200,002 bytes of the 3" tile's 2,884,802, the first after 200,002.
    const std::string suffix = row.run == Run::Difference ? "" : " File : N47E011.hgt";
    for (std::size_t k = 0; k < host.progresses.size(); ++k) {
        const RunProgress& progress = host.progresses[k];
        const auto done = static_cast<std::int64_t>(200002 * (k + 1));
        EXPECT_EQ(progress.done, done) << "report " << k;
        EXPECT_EQ(progress.total, kTileBytes3) << "report " << k;
        EXPECT_EQ(progress.text, std::to_string(done - 1) + " Bytes verarbeitet." + suffix) << "report " << k;
    }
    // The record given is kept up to date; a run without one leaves it alone.
    EXPECT_EQ(state.statusText, row.withState && !host.progresses.empty() ? host.progresses.back().text : "");
    EXPECT_FALSE(state.logIndex.isSet());
    for (const TileResult& result : results)
        EXPECT_FALSE(result.error) << result.message();
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RunEvents,
    ::testing::Values(
        EventsRow{"fill", Run::Fill, true, 0, {"started 0/1 N47E011.hgt", "finished 0/1 end 0 ", "reports 14"}},
        EventsRow{"fill_without_state",
                  Run::Fill,
                  false,
                  0,
                  {"started 0/1 N47E011.hgt", "finished 0/1 end 0 ", "reports 14"}},
        EventsRow{"fill_stopped_without_state",
                  Run::Fill,
                  false,
                  20,
                  {"started 0/1 N47E011.hgt", "finished 0/1 end 3 ", "reports 7"}},
        EventsRow{"batch",
                  Run::Batch,
                  true,
                  0,
                  {"started 0/2 N47E012.hgt", "finished 0/2 end 1 ", "reports 0", "started 1/2 N47E011.hgt",
                   "finished 1/2 end 0 ", "reports 14"}},
        EventsRow{"batch_without_state",
                  Run::Batch,
                  false,
                  0,
                  {"started 0/2 N47E012.hgt", "finished 0/2 end 1 ", "reports 0", "started 1/2 N47E011.hgt",
                   "finished 1/2 end 0 ", "reports 14"}},
        EventsRow{
            "difference", Run::Difference, true, 0, {"started 0/1 N47E011.hgt", "finished 0/1 end 0 ", "reports 14"}},
        EventsRow{"difference_stopped_without_state",
                  Run::Difference,
                  false,
                  20,
                  {"started 0/1 N47E011.hgt", "finished 0/1 end 3 ", "reports 7"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hgt::test

// The batch: tiles one after the other or several in flight, its list lines and callbacks, STOP,
// and the order of the steps that make its outputs durable.

#include "tiles/tile_error.h"
#include "tiles/tile_format.h"
#include "app/window_state.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_folder.h"
#include "tiles/internal/samples.h"
#include "tiles/internal/output_paths.h"
#include "tests/support/reference_fill.h"
#include "tests/support/fake_host.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace hgt::test {
namespace batch_test {

using namespace std::chrono_literals;

std::int64_t voidSamples(const Bytes& tile)
{
    std::int64_t n = 0;
    for (std::int64_t k = 0; k < sideOf(tile) * sideOf(tile); ++k)
        n += sampleAt(tile, k) == kVoidValue;
    return n;
}

struct TileCase {
    std::string name;
    Bytes primary;
    std::optional<Bytes> secondary;
    RunEnd end;
};

constexpr std::int64_t kSamples3 = kTileSide3 * kTileSide3;

// One tile for each way a tile of a batch can end, in the order ListTiles gives them. Built once;
// 3" tiles, which a batch takes the same way as 1" tiles.
const std::vector<TileCase>& mixedTiles()
{
    static const std::vector<TileCase> tiles = [] {
        std::vector<TileCase> t;
        Bytes edges = plainTile(10, kTileSide3); // voids in the first and last sample and across a block end
        setVoid(edges, 0);
        for (std::int64_t k = 131000; k < 132000; ++k)
            setVoid(edges, k);
        setVoid(edges, kSamples3 - 1);
        t.push_back({"N47E010.hgt", std::move(edges), plainTile(20, kTileSide3), RunEnd::Complete});

        t.push_back({"N47E011.hgt", plainTile(11, kTileSide3), plainTile(21, kTileSide3), RunEnd::NoHoles});

        Bytes lonely = plainTile(12, kTileSide3);
        setVoid(lonely, 5000);
        t.push_back({"N47E012.hgt", std::move(lonely), std::nullopt, RunEnd::MissingSecondary});

        // Every 997th sample is void, and every other one of those is void in the secondary too.
        Bytes both = plainTile(13, kTileSide3);
        Bytes other = plainTile(23, kTileSide3);
        for (std::int64_t k = 0, i = 0; k < kSamples3; k += 997, ++i) {
            setVoid(both, k);
            if (i % 2 == 0)
                setVoid(other, k);
        }
        t.push_back({"N47E013.hgt", std::move(both), std::move(other), RunEnd::Complete});

        t.push_back({"N47E014.hgt", Bytes(1000, kVoidHigh), std::nullopt, RunEnd::Failed}); // too short: refused
        return t;
    }();
    return tiles;
}

struct BatchFolder {
    BatchFolder(const TempFolder& temp, const std::vector<TileCase>& cases)
        : primary(temp / "tiles"), secondary(temp / "secondary"), merged(temp / "tiles/Merged")
    {
        std::filesystem::create_directories(secondary);
        for (const TileCase& c : cases) {
            writeBytes(primary + "/" + c.name, c.primary);
            if (c.secondary)
                writeBytes(secondary + "/" + c.name, *c.secondary);
        }
    }

    std::vector<std::string> tiles() const { return ListTiles(primary).value(); }
    std::string output(const std::string& name) const { return merged + "/" + name; }

    std::string primary;
    std::string secondary;
    std::string merged;
};

// Everything a tile's result says, but the time it took.
::testing::AssertionResult sameOutcome(const TileResult& actual, const TileResult& expected)
{
    auto failure = [&](const char* field) {
        return ::testing::AssertionFailure() << expected.tile << ": " << field << " differs";
    };
    if (actual.tile != expected.tile)
        return failure("tile");
    if (actual.output != expected.output)
        return failure("output");
    if (actual.end != expected.end)
        return failure("end");
    if (errorKind(actual) != errorKind(expected))
        return failure("error");
    if (actual.message() != expected.message())
        return failure("message") << ": \"" << actual.message() << "\" instead of \"" << expected.message() << '"';
    if (actual.voidsFound != expected.voidsFound || actual.voidsFilled != expected.voidsFilled
        || actual.voidsLeft != expected.voidsLeft)
        return failure("void count");
    if (actual.filledBySource != expected.filledBySource)
        return failure("voids filled by source");
    if (actual.bytes != expected.bytes)
        return failure("bytes");
    return ::testing::AssertionSuccess();
}

struct BatchRun {
    BatchResult batch;
    std::string runLog;
    std::map<std::string, Bytes> outputs; // by name
};

BatchRun runBatch(const BatchFolder& folder, const std::vector<std::string>& tiles, const RunOptions& options)
{
    std::filesystem::remove_all(folder.merged);
    WindowState state;
    state.logIndex.set(-1);
    FakeHost host{state};
    BatchRun run;
    run.batch = MergeTiles(state, host, tiles, folder.secondary, options);
    run.runLog = state.runLog;
    for (const std::string& name : folderEntries(folder.merged))
        run.outputs[name] = readBytes(folder.output(name));
    return run;
}

TEST(BatchInFlight, TwoGiveTheSameOutputsResultsAndRunLogAsOne)
{
    TempFolder temp;
    const std::vector<TileCase>& cases = mixedTiles();
    const BatchFolder folder(temp, cases);
    const std::vector<std::string> tiles = folder.tiles();
    ASSERT_EQ(tiles.size(), cases.size());

    RunOptions twoInFlight = quickOptions();
    twoInFlight.jobs = 2;
    const BatchRun one = runBatch(folder, tiles, quickOptions());
    const BatchRun two = runBatch(folder, tiles, twoInFlight);

    // One in flight against the fill rule.
    ASSERT_EQ(one.batch.tiles.size(), cases.size());
    EXPECT_FALSE(one.batch.stopped);
    std::set<std::string> written;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const TileCase& c = cases[i];
        const TileResult& r = one.batch.tiles[i];
        EXPECT_EQ(r.tile, tiles[i]);
        EXPECT_EQ(r.end, c.end) << c.name << ": " << r.message();
        if (c.end != RunEnd::Complete) {
            EXPECT_TRUE(r.output.empty()) << c.name;
            continue;
        }
        written.insert(c.name);
        const Bytes expected = FilledTile(c.primary, *c.secondary);
        EXPECT_EQ(r.output, MergedTilePath(tiles[i]));
        EXPECT_EQ(r.voidsFound, voidSamples(c.primary)) << c.name;
        EXPECT_EQ(r.voidsLeft, voidSamples(expected)) << c.name;
        EXPECT_EQ(r.voidsFilled, r.voidsFound - r.voidsLeft) << c.name;
        EXPECT_EQ(r.bytes, kTileBytes3) << c.name;
        const auto output = one.outputs.find(c.name);
        ASSERT_NE(output, one.outputs.end()) << c.name;
        EXPECT_TRUE(sameTile(output->second, expected)) << c.name;
    }
    EXPECT_GT(one.batch.tiles[3].voidsLeft, 0); // the tile made for voids in both
    EXPECT_EQ(errorKind(one.batch.tiles[4]), TileErrorKind::NotATile);
    std::set<std::string> outputNames;
    for (const auto& [name, bytes] : one.outputs)
        outputNames.insert(name);
    EXPECT_EQ(outputNames, written);
    // The messages of the tiles that could not be filled are in the run log, in tile order.
    const std::size_t missing = one.runLog.find(one.batch.tiles[2].message());
    const std::size_t refused = one.runLog.find(one.batch.tiles[4].message());
    EXPECT_NE(missing, std::string::npos);
    EXPECT_NE(refused, std::string::npos);
    EXPECT_LT(missing, refused);

    // Two in flight: the same in everything but the time taken.
    ASSERT_EQ(two.batch.tiles.size(), one.batch.tiles.size());
    for (std::size_t i = 0; i < tiles.size(); ++i)
        EXPECT_TRUE(sameOutcome(two.batch.tiles[i], one.batch.tiles[i]));
    EXPECT_EQ(two.batch.stopped, one.batch.stopped);
    EXPECT_EQ(two.runLog, one.runLog);
    ASSERT_EQ(two.outputs.size(), one.outputs.size());
    for (const auto& [name, bytes] : one.outputs) {
        const auto output = two.outputs.find(name);
        ASSERT_NE(output, two.outputs.end()) << name;
        EXPECT_TRUE(sameTile(output->second, bytes)) << name;
    }
}

// The window's side of a batch, recording every callback and list operation with the tile then in
// progress. The callbacks are meant for the caller's thread; the mutex keeps the record sound if
// they come from elsewhere, so that the thread check can say so.
class BatchHost : public FakeHost {
public:
    struct Call {
        bool finished;
        std::size_t index;
        std::size_t count;
        std::string tile;
        std::optional<TileResult> result;
        std::thread::id thread;
    };
    struct ListOp {
        bool insert;
        int index;
        std::optional<std::size_t> tile;
    };

    using FakeHost::FakeHost;

    void listInsert(int index, const std::string& text) override
    {
        ops.push_back({true, index, current});
        FakeHost::listInsert(index, text);
    }
    void listRemove(int index) override
    {
        ops.push_back({false, index, current});
        FakeHost::listRemove(index);
    }
    void tileStarted(std::size_t index, std::size_t count, const std::string& tile) override
    {
        {
            std::lock_guard lock(mutex);
            calls.push_back({false, index, count, tile, {}, std::this_thread::get_id()});
            current = index;
        }
        FakeHost::tileStarted(index, count, tile);
        if (onStarted)
            onStarted(index);
    }
    void tileFinished(std::size_t index, std::size_t count, const TileResult& result) override
    {
        {
            std::lock_guard lock(mutex);
            calls.push_back({true, index, count, {}, result, std::this_thread::get_id()});
        }
        FakeHost::tileFinished(index, count, result);
        current.reset();
    }

    std::vector<std::size_t> started() const
    {
        std::vector<std::size_t> indexes;
        for (const Call& call : calls)
            if (!call.finished)
                indexes.push_back(call.index);
        return indexes;
    }

    std::mutex mutex;
    std::vector<Call> calls;
    std::vector<ListOp> ops;
    std::optional<std::size_t> current;
    std::function<void(std::size_t)> onStarted;
};

struct JobsRow {
    const char* name;
    unsigned jobs;
};

auto batchRowName = [](const auto& info) { return std::string(info.param.name); };

// Failures name the row rather than dumping its bytes.
void PrintTo(const JobsRow& row, std::ostream* os)
{
    *os << row.name;
}

class BatchCallbacks : public ::testing::TestWithParam<JobsRow> {};

TEST_P(BatchCallbacks, AnnounceEachTileOnceOnTheCallersThreadAndOneInFlightKeepsOneLinePerTile)
{
    const unsigned jobs = GetParam().jobs;
    TempFolder temp;
    const std::vector<TileCase>& cases = mixedTiles();
    const BatchFolder folder(temp, cases);
    const std::vector<std::string> tiles = folder.tiles();
    const std::size_t n = tiles.size();

    WindowState state;
    state.logIndex.set(-1); // as the window leaves it for a batch: the first tile's line is line 0
    BatchHost host{state};
    RunOptions options = quickOptions();
    options.jobs = jobs;
    host.severalInFlight(SeveralInFlight(options, n));
    const BatchResult batch = MergeTiles(state, host, tiles, folder.secondary, options);
    ASSERT_EQ(batch.tiles.size(), n);

    const std::thread::id caller = std::this_thread::get_id();
    std::vector<int> starts(n, 0);
    std::vector<int> finishes(n, 0);
    std::size_t inFlight = 0;
    std::size_t mostInFlight = 0;
    for (const BatchHost::Call& call : host.calls) {
        ASSERT_LT(call.index, n);
        EXPECT_EQ(call.count, n);
        EXPECT_EQ(call.thread, caller) << "callback for tile " << call.index << " on another thread";
        if (!call.finished) {
            EXPECT_EQ(call.tile, tiles[call.index]);
            ++starts[call.index];
            mostInFlight = std::max(mostInFlight, ++inFlight);
            continue;
        }
        EXPECT_EQ(starts[call.index], 1) << "tile " << call.index << " finished before it started";
        ++finishes[call.index];
        --inFlight;
        // The announced result is the returned one where the output's commit succeeded, as here.
        EXPECT_TRUE(sameOutcome(*call.result, batch.tiles[call.index]));
    }
    EXPECT_EQ(starts, std::vector<int>(n, 1));
    EXPECT_EQ(finishes, std::vector<int>(n, 1));
    EXPECT_LE(mostInFlight, jobs);

    if (jobs > 1) {
        // Several in flight keep the progress list as it was.
        EXPECT_TRUE(host.ops.empty());
        EXPECT_TRUE(host.lines.empty());
        return;
    }
    ASSERT_EQ(host.calls.size(), 2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_FALSE(host.calls[2 * i].finished);
        EXPECT_EQ(host.calls[2 * i].index, i);
        EXPECT_EQ(host.calls[2 * i + 1].index, i);
    }
    // Each tile works on the line at its own index, from -1 raised to 0 for the first.
    for (const BatchHost::ListOp& op : host.ops) {
        ASSERT_TRUE(op.tile) << "list operation at " << op.index << " outside a tile";
        EXPECT_EQ(op.index, static_cast<int>(*op.tile))
            << (op.insert ? "insert" : "remove") << " for tile " << *op.tile;
    }
    ASSERT_EQ(host.lines.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
        const TileResult& r = batch.tiles[i];
        switch (r.end) {
        case RunEnd::Complete: // the last report of a 3" tile: 200,001 + 13 * 200,002
            EXPECT_EQ(host.lines[i], "2800027 Bytes verarbeitet. File : " + cases[i].name);
            break;
        case RunEnd::NoHoles:
            EXPECT_EQ(host.lines[i], cases[i].name + "hat keine Löcher.");
            break;
        default:
            EXPECT_EQ(host.lines[i], r.message());
        }
    }
    EXPECT_EQ(state.logIndex.index(), static_cast<int>(n) - 1);
}

INSTANTIATE_TEST_SUITE_P(Batch, BatchCallbacks,
                         ::testing::Values(JobsRow{"one_in_flight", 1}, JobsRow{"two_in_flight", 2}), batchRowName);

// Four tiles to fill, STOP during the second. Earlier outputs under the second and third tile's
// names must survive; the fourth has none.
//
// With two in flight both running tiles see the stop, so the first must have finished its walk
// and the second must not: the first tile holds its commit (in the trace of its sync-data) until
// the stop has reached the workers, and the second is longer than a tile, with its only void
// marker far into a sparse tail, so that looking for holes keeps it from its walk meanwhile. With
// one in flight the second tile's void marker is an ordinary sample.
const std::vector<TileCase>& stopTiles()
{
    static const std::vector<TileCase> tiles = [] {
        std::vector<TileCase> t;
        for (std::uint32_t i = 0; i < 4; ++i) {
            Bytes primary = plainTile(30 + i);
            if (i != 1) // the second tile gets its void marker on disk
                setVoid(primary, 100 + i);
            t.push_back(
                {"N48E00" + std::to_string(i) + ".hgt", std::move(primary), plainTile(40 + i), RunEnd::Complete});
        }
        return t;
    }();
    return tiles;
}

constexpr std::int64_t kLongTileBytes = std::int64_t{1} << 30;

void writeVoidMarker(const std::string& path, std::int64_t offset)
{
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(offset);
    file.put(static_cast<char>(kVoidHigh)).put(static_cast<char>(kVoidLow));
    ASSERT_TRUE(file.good()) << path;
}

class BatchStop : public ::testing::TestWithParam<JobsRow> {};

TEST_P(BatchStop, EndsTheBatchAfterTheSecondTileAndKeepsOnlyCompleteTiles)
{
    const unsigned jobs = GetParam().jobs;
    TempFolder temp;
    const std::vector<TileCase>& cases = stopTiles();
    const BatchFolder folder(temp, cases);
    const std::string second = folder.primary + "/" + cases[1].name;
    if (jobs == 1) {
        ASSERT_NO_FATAL_FAILURE(writeVoidMarker(second, 2 * 101));
    } else {
        std::filesystem::resize_file(second, kLongTileBytes);
        ASSERT_NO_FATAL_FAILURE(writeVoidMarker(second, kLongTileBytes - 2));
    }
    const Bytes earlierSecond(static_cast<std::size_t>(kTileBytes), 0x21);
    const Bytes earlierThird(static_cast<std::size_t>(kTileBytes), 0x31);
    writeBytes(folder.output(cases[1].name), earlierSecond);
    writeBytes(folder.output(cases[2].name), earlierThird);
    const std::vector<std::string> tiles = folder.tiles();
    ASSERT_EQ(tiles.size(), 4u);

    WindowState state;
    state.logIndex.set(-1);
    BatchHost host{state};
    RunOptions options; // durable: the first tile holds its commit in the trace of its sync-data
    options.jobs = jobs;
    host.severalInFlight(SeveralInFlight(options, tiles.size()));
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool secondStarted = false;
    int yieldsSinceStop = 0;
    bool handshakeTimedOut = false;
    const std::string firstOutput = MergedTilePath(tiles[0]);
    if (jobs == 1) {
        host.onYield = [&] {
            if (host.current == 1 && state.posHigh >= kTileBytes / 2)
                state.stopRequested = true;
        };
    } else {
        options.stop = &stop;
        host.onStarted = [&](std::size_t index) {
            std::lock_guard lock(mutex);
            secondStarted = secondStarted || index == 1;
            changed.notify_all();
        };
        // The caller's thread passes the stop on to the workers right after a yield; two yields
        // after it is set, it has been passed on.
        host.onYield = [&] {
            std::lock_guard lock(mutex);
            if (stop)
                ++yieldsSinceStop;
            changed.notify_all();
        };
        options.trace = [&](std::string_view step, const std::string& path) {
            if (step != "sync-data" || path != firstOutput)
                return;
            std::unique_lock lock(mutex);
            handshakeTimedOut = !changed.wait_for(lock, 60s, [&] { return secondStarted; });
            stop = true;
            handshakeTimedOut = !changed.wait_for(lock, 60s, [&] { return yieldsSinceStop >= 2; }) || handshakeTimedOut;
        };
    }
    const BatchResult batch = MergeTiles(state, host, tiles, folder.secondary, options);
    EXPECT_FALSE(handshakeTimedOut);

    ASSERT_EQ(batch.tiles.size(), 2u);
    EXPECT_EQ(batch.tiles[0].end, RunEnd::Complete) << batch.tiles[0].message();
    EXPECT_EQ(batch.tiles[1].end, RunEnd::Stopped) << batch.tiles[1].message();
    EXPECT_TRUE(batch.stopped);
    EXPECT_EQ(host.started(), (std::vector<std::size_t>{0, 1}));
    // Only complete tiles carry a name: the first one's new output and the earlier ones.
    EXPECT_EQ(folderEntries(folder.merged), (std::set<std::string>{cases[0].name, cases[1].name, cases[2].name}));
    EXPECT_TRUE(sameTile(readBytes(folder.output(cases[0].name)), FilledTile(cases[0].primary, *cases[0].secondary)));
    EXPECT_TRUE(sameTile(readBytes(folder.output(cases[1].name)), earlierSecond));
    EXPECT_TRUE(sameTile(readBytes(folder.output(cases[2].name)), earlierThird));
}

INSTANTIATE_TEST_SUITE_P(Batch, BatchStop,
                         ::testing::Values(JobsRow{"one_in_flight_state_record", 1},
                                           JobsRow{"two_in_flight_external_flag", 2}),
                         batchRowName);

struct BatchStepsRow {
    const char* name;
    unsigned jobs;
    bool durable;
};

void PrintTo(const BatchStepsRow& row, std::ostream* os)
{
    *os << row.name;
}

class BatchSteps : public ::testing::TestWithParam<BatchStepsRow> {};

// Each complete output is synced before it gets its name (sync-data, then the link under the
// target's name, both on the thread that commits it; the batch writes new outputs), and the Merged
// folder once, after the last name; nothing is synced for a batch that is not durable, and tiles
// without output have no steps at all.
TEST_P(BatchSteps, SyncDataBeforeEachNameAndTheFolderOnceAfterAll)
{
    const BatchStepsRow& row = GetParam();
    TempFolder temp;
    const std::vector<TileCase>& cases = mixedTiles();
    const BatchFolder folder(temp, cases);
    const std::vector<std::string> tiles = folder.tiles();

    struct Step {
        std::string step;
        std::string path;
        std::thread::id thread;
    };
    std::mutex mutex;
    std::vector<Step> steps;
    RunOptions options;
    options.jobs = row.jobs;
    options.durable = row.durable;
    options.trace = [&](std::string_view step, const std::string& path) {
        std::lock_guard lock(mutex);
        steps.push_back({std::string(step), path, std::this_thread::get_id()});
    };
    WindowState state;
    FakeHost host{state};
    const BatchResult batch = MergeTiles(state, host, tiles, folder.secondary, options);
    ASSERT_EQ(batch.tiles.size(), tiles.size());
    ASSERT_EQ(batch.count(RunEnd::Complete), 2u);

    auto count = [&](std::string_view step, const std::string& path) {
        return std::count_if(steps.begin(), steps.end(),
                             [&](const Step& s) { return s.step == step && s.path == path; });
    };
#ifdef _WIN32
    const std::string naming = "rename"; // no unnamed files: every output is renamed to its name
#else
    const std::string naming = "link";
#endif
    for (const TileResult& tile : batch.tiles) {
        const std::string target = MergedTilePath(tile.tile);
        if (tile.end != RunEnd::Complete) {
            EXPECT_EQ(count("sync-data", target) + count(naming, target), 0) << tile.tile;
            continue;
        }
        ASSERT_EQ(count(naming, target), 1) << tile.tile;
#ifndef _WIN32
        EXPECT_EQ(count("rename", target), 0) << tile.tile;
#endif
        const auto link = std::find_if(steps.begin(), steps.end(),
                                       [&](const Step& s) { return s.step == naming && s.path == target; });
        // The same thread's steps before the link, latest first.
        std::vector<const Step*> before;
        for (auto s = std::make_reverse_iterator(link); s != steps.rend(); ++s)
            if (s->thread == link->thread)
                before.push_back(&*s);
        if (row.durable) {
            EXPECT_EQ(count("sync-data", target), 1) << tile.tile;
            ASSERT_GE(before.size(), 1u) << tile.tile;
            EXPECT_EQ(before[0]->step, "sync-data") << tile.tile;
            EXPECT_EQ(before[0]->path, target);
        }
    }
    // Nothing else: without durability just the name of each complete tile.
    if (!row.durable) {
        EXPECT_EQ(steps.size(), 2u);
        return;
    }
    ASSERT_EQ(steps.size(), 2 * 2 + 1u);
    EXPECT_EQ(count("sync-folder", folder.merged), 1);
    EXPECT_EQ(steps.back().step, "sync-folder");
    EXPECT_EQ(steps.back().path, folder.merged);
}

INSTANTIATE_TEST_SUITE_P(Batch, BatchSteps,
                         ::testing::Values(BatchStepsRow{"durable_one_in_flight", 1, true},
                                           BatchStepsRow{"durable_two_in_flight", 2, true},
                                           BatchStepsRow{"not_durable_one_in_flight", 1, false},
                                           BatchStepsRow{"not_durable_two_in_flight", 2, false}),
                         batchRowName);

} // namespace batch_test
} // namespace hgt::test

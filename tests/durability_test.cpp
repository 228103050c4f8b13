// Durable outputs: the order of the steps that make a run's output durable, and what a run that is
// killed at a chosen point leaves behind. A child process runs the engine and blocks at the point;
// the parent kills it there with SIGKILL and looks at the output folder.
//
// Not covered: the named temporary file that SaveFile falls back to where a file system has no
// unnamed files. ext4 and tmpfs both have them; reaching the fallback would take mounting another
// file system.

#include "tiles/tile_format.h"
#include "app/window_state.h"
#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_folder.h"
#include "tiles/internal/samples.h"
#include "tiles/internal/output_paths.h"
#include "platform/save_file.h"
#include "tests/support/reference_fill.h"
#include "tests/support/fake_host.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <thread>

namespace hgt::test {
namespace durability_test {

using namespace std::chrono_literals;

const char* const kNames[] = {"N47E011.hgt", "N47E012.hgt", "N47E013.hgt"};

// The inputs and expected outputs of every run below, built once.
struct Tiles {
    std::vector<Bytes> primaries;
    std::vector<Bytes> secondaries;
    std::vector<Bytes> filled;
    Bytes difference; // of the first primary and the first secondary
};

const Tiles& tiles()
{
    static const Tiles t = [] {
        Tiles t;
        for (std::uint32_t i = 0; i < 3; ++i) {
            Bytes primary = plainTile(1 + 2 * i);
            Bytes secondary = plainTile(2 + 2 * i);
            // Voids in the first block, in the middle and at the end, one of them void in both.
            for (std::int64_t k : {std::int64_t{3}, std::int64_t{4} + i, kTileSamples / 2, kTileSamples - 1})
                setVoid(primary, k);
            setVoid(secondary, 4 + i);
            t.filled.push_back(FilledTile(primary, secondary));
            t.primaries.push_back(std::move(primary));
            t.secondaries.push_back(std::move(secondary));
        }
        t.difference = DifferenceTile(t.primaries[0], t.secondaries[0]);
        return t;
    }();
    return t;
}

#ifndef _WIN32
// An earlier output under a tile's name: of full length, unlike any new one.
Bytes earlierOutput(std::size_t i)
{
    return Bytes(static_cast<std::size_t>(kTileBytes), static_cast<std::uint8_t>(0x40 + i));
}
#endif

enum class Entry { Fill, Batch, Difference };

struct Paths {
    explicit Paths(const TempFolder& temp)
        : secondary(temp / "secondary"), comparison(temp / "other/N47E011.hgt"), merged(temp / "tiles/Merged"),
          diffs(temp / "tiles/DIFFS")
    {
        for (const char* name : kNames)
            primaries.push_back(temp / ("tiles/" + std::string(name)));
    }

    void write(Entry entry) const
    {
        const std::size_t count = entry == Entry::Batch ? 3 : 1;
        for (std::size_t i = 0; i < count; ++i) {
            writeBytes(primaries[i], tiles().primaries[i]);
            writeBytes(secondary + "/" + kNames[i], tiles().secondaries[i]);
        }
        if (entry == Entry::Difference)
            writeBytes(comparison, tiles().secondaries[0]);
    }

    std::vector<std::string> primaries;
    std::string secondary;
    std::string comparison;
    std::string merged;
    std::string diffs;
};

struct StepsRow {
    const char* name;
    Entry entry;
    bool durable;
};

auto rowName = [](const auto& info) { return std::string(info.param.name); };

// Failures name the row rather than dumping its bytes.
void PrintTo(const StepsRow& row, std::ostream* os)
{
    *os << row.name;
}

class DurableSteps : public ::testing::TestWithParam<StepsRow> {};

// A single run syncs its output's data, links it under the target's name (a new output gets its
// name in one step) and then syncs the folder; without durability only the name is made.
TEST_P(DurableSteps, DataIsSyncedBeforeTheNameAndTheFolderAfterIt)
{
    const StepsRow& row = GetParam();
    TempFolder temp;
    const Paths paths(temp);
    paths.write(row.entry);

    std::vector<std::pair<std::string, std::string>> steps;
    RunOptions options;
    options.durable = row.durable;
    options.trace = [&](std::string_view step, const std::string& path) { steps.emplace_back(step, path); };
    WindowState state;
    FakeHost host{state};
    const bool difference = row.entry == Entry::Difference;
    const TileResult result = difference
                                  ? MakeDifferenceTile(state, host, paths.primaries[0], paths.comparison, options)
                                  : MergeTile(state, host, paths.primaries[0], paths.secondary, options);
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    const std::string folder = difference ? paths.diffs : paths.merged;
    const std::string target = nativePath(folder + "/" + kNames[0]);
    EXPECT_EQ(result.output, target);
    EXPECT_TRUE(sameTile(readBytes(target), difference ? tiles().difference : tiles().filled[0]));
    EXPECT_EQ(folderEntries(folder), std::set<std::string>{kNames[0]});

    std::vector<std::string> names;
    for (const auto& [step, path] : steps)
        names.push_back(step);
#ifdef _WIN32
    // Windows has no unnamed files: the output is written under a temporary name from the start and
    // gets the target's name by a rename, the first output as every later one.
    const std::string naming = "rename";
#else
    const std::string naming = "link";
#endif
    if (row.durable) {
        ASSERT_EQ(names, (std::vector<std::string>{"sync-data", naming, "sync-folder"}));
        EXPECT_EQ(steps[0].second, target);
        EXPECT_EQ(steps[1].second, target);
        EXPECT_EQ(steps[2].second, folder);
    } else {
        ASSERT_EQ(names, (std::vector<std::string>{naming}));
        EXPECT_EQ(steps[0].second, target);
    }
#ifndef _WIN32

    // Over the output just written: a temporary name beside the target (so that the rename stays in
    // one folder), then the rename over it.
    steps.clear();
    const TileResult again = difference ? MakeDifferenceTile(state, host, paths.primaries[0], paths.comparison, options)
                                        : MergeTile(state, host, paths.primaries[0], paths.secondary, options);
    ASSERT_EQ(again.end, RunEnd::Complete) << again.message();
    names.clear();
    for (const auto& [step, path] : steps)
        names.push_back(step);
    if (row.durable) {
        ASSERT_EQ(names, (std::vector<std::string>{"sync-data", "link", "rename", "sync-folder"}));
        steps.erase(steps.begin());
    } else {
        ASSERT_EQ(names, (std::vector<std::string>{"link", "rename"}));
    }
    EXPECT_EQ(std::filesystem::path(steps[0].second).parent_path().string(), folder);
    EXPECT_NE(steps[0].second, target);
    EXPECT_EQ(steps[1].second, target);
    EXPECT_EQ(folderEntries(folder), std::set<std::string>{kNames[0]});
#endif
}

INSTANTIATE_TEST_SUITE_P(Durability, DurableSteps,
                         ::testing::Values(StepsRow{"fill", Entry::Fill, true},
                                           StepsRow{"fill_not_durable", Entry::Fill, false},
                                           StepsRow{"difference", Entry::Difference, true},
                                           StepsRow{"difference_not_durable", Entry::Difference, false}),
                         rowName);

#ifndef _WIN32 // the killed runs are children made by fork()
// The child tells the parent where it stands and then waits for a byte the parent never sends, so
// that the kill comes exactly there.
class Gate {
public:
    Gate() { m_ok = ::pipe(m_report) == 0 && ::pipe(m_hold) == 0; }
    ~Gate()
    {
        for (int fd : {m_report[0], m_report[1], m_hold[0], m_hold[1]})
            if (fd >= 0)
                ::close(fd);
    }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    bool ok() const { return m_ok; }

    void enterChild() { closeEnd(m_report[0]), closeEnd(m_hold[1]); }
    void enterParent() { closeEnd(m_report[1]), closeEnd(m_hold[0]); }

    // Child: reports the mark, then never returns.
    [[noreturn]] void arrive(std::int32_t mark)
    {
        [[maybe_unused]] const ssize_t written = ::write(m_report[1], &mark, sizeof mark);
        hold();
    }
    [[noreturn]] void hold()
    {
        for (;;) {
            char byte;
            if (::read(m_hold[0], &byte, 1) == 0)
                ::pause();
        }
    }

    // Parent: the child's mark, or nothing when it ended (or hung) without reaching its point.
    std::optional<std::int32_t> awaitArrival(std::chrono::milliseconds timeout)
    {
        pollfd fd{m_report[0], POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0)
            return std::nullopt;
        std::int32_t mark = 0;
        if (::read(m_report[0], &mark, sizeof mark) != sizeof mark)
            return std::nullopt;
        return mark;
    }

private:
    static void closeEnd(int& fd)
    {
        ::close(fd);
        fd = -1;
    }

    bool m_ok = false;
    int m_report[2] = {-1, -1};
    int m_hold[2] = {-1, -1};
};

class ChildHost : public QuietHost {
public:
    void yieldToEvents() override
    {
        if (onYield)
            onYield();
    }
    void tileStarted(std::size_t index, std::size_t, const std::string&) override { tile = index; }

    std::function<void()> onYield;
    std::atomic<std::size_t> tile{0};
};

enum class Point {
    FirstYield,
    AfterFirstReport,
    MiddleOfTile,
    AfterSyncData,          // the walk has ended and the data is on disk, but the file has no name yet
    AfterLink,              // the file has a name: the target's when new, else a temporary one beside it
    AfterRename,            // the target has its new content: renamed over an earlier output, or linked when new
    SecondTileFirstRenamed, // batch: in the middle of the second tile, the first one's commit done
    SecondTileFirstSyncing, // batch: in the middle of the second tile, the first one's commit held after its sync
};

// What a tile's name must hold after the kill.
enum class Left {
    Unchanged, // the earlier output, or nothing where there was none
    NewTile,   // the new output, complete
    Either,    // one of the two: the kill came while the new output got its name
};

struct Kept {
    bool earlier; // an earlier output stands under the tile's name before the run
    Left left;
};

struct CrashRow {
    const char* name;
    Entry entry;
    Point point;
    std::vector<Kept> tiles;
    bool nextWriterFirst = false; // the folder is checked after the next writer into it has started
    bool exitCleanup = false;     // the child removes its temporary files at its point, as a forced exit does
};

// The child's side: runs the engine with hooks that block it at the row's point. Never returns.
[[noreturn]] void runChild(const CrashRow& row, const Paths& paths, Gate& gate)
{
    WindowState state;
    ChildHost host;
    RunOptions options;
    std::atomic<bool> firstCommitReached{false};
    const std::string firstTarget = MergedTilePath(paths.primaries[0]);
    auto blockAt = [&](std::string_view wanted) {
        options.trace = [&gate, &state, &row, wanted](std::string_view step, const std::string&) {
            if (step != wanted)
                return;
            if (row.exitCleanup)
                RemoveTemporaryFilesForExit();
            gate.arrive(state.posHigh);
        };
    };
    auto inSecondTile = [&] { return host.tile == 1 && state.posHigh >= kTileBytes / 2; };
    auto arriveOnceFirstCommitReached = [&] {
        while (!firstCommitReached)
            std::this_thread::sleep_for(1ms);
        gate.arrive(state.posHigh);
    };

    switch (row.point) {
    case Point::FirstYield:
        host.onYield = [&] { gate.arrive(state.posHigh); };
        break;
    case Point::AfterFirstReport:
        host.onYield = [&] {
            if (!state.statusText.empty())
                gate.arrive(state.posHigh);
        };
        break;
    case Point::MiddleOfTile:
        host.onYield = [&] {
            if (state.posHigh >= kTileBytes / 2)
                gate.arrive(state.posHigh);
        };
        break;
    case Point::AfterSyncData:
        blockAt("sync-data");
        break;
    case Point::AfterLink:
        blockAt("link");
        break;
    case Point::AfterRename:
        options.trace = [&gate, &state, &paths, &row](std::string_view step, const std::string& path) {
            const std::string target = row.entry == Entry::Difference ? DifferenceTilePath(paths.primaries[0])
                                                                      : MergedTilePath(paths.primaries[0]);
            if (path == target && (step == "rename" || step == "link"))
                gate.arrive(state.posHigh);
        };
        break;
    case Point::SecondTileFirstRenamed:
        options.trace = [&](std::string_view step, const std::string& path) {
            if ((step == "rename" || step == "link") && path == firstTarget)
                firstCommitReached = true;
        };
        host.onYield = [&] {
            if (inSecondTile())
                arriveOnceFirstCommitReached();
        };
        break;
    case Point::SecondTileFirstSyncing:
        options.trace = [&](std::string_view step, const std::string& path) {
            if (step == "sync-data" && path == firstTarget) {
                firstCommitReached = true;
                gate.hold();
            }
        };
        host.onYield = [&] {
            if (inSecondTile())
                arriveOnceFirstCommitReached();
        };
        break;
    }

    switch (row.entry) {
    case Entry::Fill:
        (void)MergeTile(state, host, paths.primaries[0], paths.secondary, options);
        break;
    case Entry::Batch:
        (void)MergeTiles(state, host, paths.primaries, paths.secondary, options);
        break;
    case Entry::Difference:
        (void)MakeDifferenceTile(state, host, paths.primaries[0], paths.comparison, options);
        break;
    }
    ::_exit(2); // the run ended without reaching its point
}

void PrintTo(const CrashRow& row, std::ostream* os)
{
    *os << row.name;
}

class DurableAfterKill : public ::testing::TestWithParam<CrashRow> {};

TEST_P(DurableAfterKill, LeavesOnlyCompleteTilesBehind)
{
    const CrashRow& row = GetParam();
    TempFolder temp;
    const Paths paths(temp);
    paths.write(row.entry);
    const bool difference = row.entry == Entry::Difference;
    const std::string folder = difference ? paths.diffs : paths.merged;
    for (std::size_t i = 0; i < row.tiles.size(); ++i)
        if (row.tiles[i].earlier)
            writeBytes(folder + "/" + kNames[i], earlierOutput(i));

    Gate gate;
    ASSERT_TRUE(gate.ok());
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        gate.enterChild();
        runChild(row, paths, gate);
    }
    gate.enterParent();
    const std::optional<std::int32_t> mark = gate.awaitArrival(60s);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(mark) << "the child did not reach its point; wait status " << status;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    // The commit points lie after the walk; the others inside it.
    const bool afterWalk =
        row.point == Point::AfterSyncData || row.point == Point::AfterLink || row.point == Point::AfterRename;
    EXPECT_EQ(*mark == kWalkEnd, afterWalk) << "killed at posHigh " << *mark;

    if (row.nextWriterFirst) {
        const Result<SaveFile> next = SaveFile::create(folder + "/next.hgt");
        ASSERT_TRUE(next) << next.error().message;
    }

    // Nothing but the tiles' names, each holding a complete tile.
    std::set<std::string> others = folderEntries(folder);
    for (const char* name : kNames)
        others.erase(name);
    EXPECT_EQ(others, std::set<std::string>{}) << "left behind besides the tiles";
    for (std::size_t i = 0; i < row.tiles.size(); ++i) {
        const Kept& kept = row.tiles[i];
        const std::string path = folder + "/" + kNames[i];
        const Bytes& newTile = difference ? tiles().difference : tiles().filled[i];
        if (!std::filesystem::exists(path)) {
            EXPECT_TRUE(kept.left == Left::Either || (kept.left == Left::Unchanged && !kept.earlier)) << kNames[i];
            EXPECT_FALSE(kept.earlier) << kNames[i] << ": the earlier output is gone";
            continue;
        }
        const Bytes bytes = readBytes(path);
        const bool isNew = sameTile(bytes, newTile);
        const bool isEarlier = kept.earlier && sameTile(bytes, earlierOutput(i));
        switch (kept.left) {
        case Left::Unchanged:
            EXPECT_TRUE(isEarlier) << kNames[i] << (kept.earlier ? ": earlier output changed" : ": appeared");
            break;
        case Left::NewTile:
            EXPECT_TRUE(sameTile(bytes, newTile)) << kNames[i];
            break;
        case Left::Either:
            EXPECT_TRUE(isNew || isEarlier) << kNames[i] << ": neither the earlier nor the complete new tile";
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Durability, DurableAfterKill,
    ::testing::Values(
        CrashRow{"fill_at_first_yield", Entry::Fill, Point::FirstYield, {{false, Left::Unchanged}}},
        CrashRow{"fill_after_first_report", Entry::Fill, Point::AfterFirstReport, {{true, Left::Unchanged}}},
        CrashRow{"fill_in_the_middle", Entry::Fill, Point::MiddleOfTile, {{true, Left::Unchanged}}},
        CrashRow{"fill_after_sync_data", Entry::Fill, Point::AfterSyncData, {{false, Left::Unchanged}}},
        CrashRow{"fill_after_sync_data_over_earlier", Entry::Fill, Point::AfterSyncData, {{true, Left::Unchanged}}},
        CrashRow{"fill_after_rename", Entry::Fill, Point::AfterRename, {{true, Left::NewTile}}},
        CrashRow{"batch_second_tile_first_renamed",
                 Entry::Batch,
                 Point::SecondTileFirstRenamed,
                 {{false, Left::NewTile}, {true, Left::Unchanged}, {false, Left::Unchanged}}},
        CrashRow{"batch_second_tile_first_syncing",
                 Entry::Batch,
                 Point::SecondTileFirstSyncing,
                 {{false, Left::Unchanged}, {true, Left::Unchanged}, {false, Left::Unchanged}}},
        CrashRow{"difference_in_the_middle", Entry::Difference, Point::MiddleOfTile, {{true, Left::Unchanged}}},
        CrashRow{"difference_after_sync_data", Entry::Difference, Point::AfterSyncData, {{false, Left::Unchanged}}},
        CrashRow{"difference_after_rename", Entry::Difference, Point::AfterRename, {{false, Left::NewTile}}}),
    rowName);

// Killed right after the link: a new output already has its name and is complete; over an earlier
// output the kill leaves a temporary file beside it, which the next writer into the folder removes
// (its writer's lock died with it), or which an exit that cannot wait for its run (hgtfill-cli after a
// signal's grace time) removes itself, while the earlier output stays as it was.
INSTANTIATE_TEST_SUITE_P(
    DurabilityAfterLink, DurableAfterKill,
    ::testing::Values(
        CrashRow{"fill_after_link_to_a_new_name", Entry::Fill, Point::AfterLink, {{false, Left::NewTile}}},
        CrashRow{
            "fill_after_link_over_an_earlier_tile", Entry::Fill, Point::AfterLink, {{true, Left::Unchanged}}, true},
        CrashRow{"fill_after_link_over_an_earlier_tile_exit_cleanup",
                 Entry::Fill,
                 Point::AfterLink,
                 {{true, Left::Unchanged}},
                 false,
                 true}),
    rowName);
#endif

} // namespace durability_test
} // namespace hgt::test

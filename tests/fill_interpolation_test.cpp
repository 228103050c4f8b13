// Fills that interpolate what no source covers and record where each sample came from: the
// provenance companion, interpolation alone, a void across the seam of two tiles, neighbours that
// cannot serve, and the companion's durability (it appears only with its tile).

#include "test_support.h"
#include "tests/support/fake_host.h"

#include "app/window_state.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/tile_error.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_folder.h"
#include "tiles/internal/samples.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace hgt::test {
namespace fill_interpolation_test {

constexpr int kSide = static_cast<int>(kTileSide3);

std::int16_t sampleAt(const Bytes& tile, int r, int c)
{
    return DecodeSample(tile.data() + 2 * (static_cast<std::size_t>(r) * kSide + c));
}

void setAt(Bytes& tile, int r, int c, std::int16_t value)
{
    EncodeSample(tile.data() + 2 * (static_cast<std::size_t>(r) * kSide + c), value);
}

// A 3" tile of gently curved terrain, void (-9999) wherever `isVoid` says.
Bytes terrainTile(int lift, const std::function<bool(int, int)>& isVoid = {})
{
    Bytes tile(static_cast<std::size_t>(kTileBytes3));
    for (int r = 0; r < kSide; ++r)
        for (int c = 0; c < kSide; ++c) {
            const bool hole = isVoid && isVoid(r, c);
            setAt(tile, r, c, hole ? kVoidValue : static_cast<std::int16_t>(800 + lift + r / 4 + (c * c) / 4000));
        }
    return tile;
}

struct Box {
    int row, column, rows, columns;
    bool contains(int r, int c) const { return r >= row && r < row + rows && c >= column && c < column + columns; }
};

// Four voids of the primary: A the secondary has, B only the second source has, C no source has
// (small: interpolated), D no source has and reaches too far from valid data.
constexpr Box kA{100, 100, 6, 6}, kB{300, 300, 5, 7}, kC{600, 600, 4, 4}, kD{900, 900, 30, 30};

struct CodeRow {
    const char* name;
    FillMethod method;
};
void PrintTo(const CodeRow& row, std::ostream* os)
{
    *os << row.name;
}

class ProvenanceCodes : public ::testing::TestWithParam<CodeRow> {
protected:
    TempFolder temp;
    WindowState state;
    FakeHost host{state};
};

TEST_P(ProvenanceCodes, EverySampleNamesWhereItCameFrom)
{
    writeBytes(temp / "p/N47E011.hgt", terrainTile(0, [](int r, int c) {
                   return kA.contains(r, c) || kB.contains(r, c) || kC.contains(r, c) || kD.contains(r, c);
               }));
    writeBytes(temp / "s1/N47E011.hgt", terrainTile(3, [](int r, int c) {
                   return kB.contains(r, c) || kC.contains(r, c) || kD.contains(r, c);
               }));
    writeBytes(temp / "s2/N47E011.hgt", terrainTile(7, [](int r, int c) {
                   return kA.contains(r, c) || kC.contains(r, c) || kD.contains(r, c);
               }));
    RunOptions options;
    options.durable = false;
    options.method = GetParam().method;
    options.sources = FolderSources({temp / "s1", temp / "s2"});
    options.interpolate = true;
    options.maxDistance = 5;
    options.provenance = true;

    const TileResult result = MergeTile(state, host, temp / "p/N47E011.hgt", temp / "s1", options);
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    EXPECT_EQ(result.provenance, temp / "p/Merged/N47E011.src");
    EXPECT_EQ(result.filledBySource, (std::vector<std::int64_t>{36, 35}));
    EXPECT_EQ(result.interpolated, 16);
    EXPECT_EQ(result.voidsLeft, 900);
    EXPECT_EQ(result.leftTooFar, 900);
    EXPECT_EQ(result.voidsFound, 36 + 35 + 16 + 900);
    EXPECT_EQ(result.voidsFilled, 36 + 35);

    const Bytes codes = readBytes(temp / "p/Merged/N47E011.src");
    const Bytes output = readBytes(temp / "p/Merged/N47E011.hgt");
    ASSERT_EQ(codes.size(), static_cast<std::size_t>(kSide) * kSide);
    const Bytes plain = terrainTile(0);
    for (int r = 0; r < kSide; ++r)
        for (int c = 0; c < kSide; ++c) {
            const std::uint8_t expected = kA.contains(r, c)   ? 1
                                          : kB.contains(r, c) ? 2
                                          : kC.contains(r, c) ? kInterpolatedSample
                                          : kD.contains(r, c) ? kVoidSample
                                                              : kOwnSample;
            ASSERT_EQ(codes[static_cast<std::size_t>(r) * kSide + c], expected) << r << "," << c;
            if (expected == kVoidSample) {
                ASSERT_EQ(sampleAt(output, r, c), kVoidValue);
            } else if (expected == kInterpolatedSample) { // a smooth surface through smooth terrain
                ASSERT_NEAR(sampleAt(output, r, c), sampleAt(plain, r, c), 2) << r << "," << c;
            }
        }
    if (GetParam().method == FillMethod::Copy) {
        EXPECT_EQ(sampleAt(output, kA.row, kA.column), sampleAt(plain, kA.row, kA.column) + 3);
        EXPECT_EQ(sampleAt(output, kB.row, kB.column), sampleAt(plain, kB.row, kB.column) + 7);
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, ProvenanceCodes,
                         ::testing::Values(CodeRow{"copy", FillMethod::Copy},
                                           CodeRow{"offset_bridging", FillMethod::Delta}),
                         [](const auto& info) { return std::string(info.param.name); });

// Recording provenance makes the whole output in memory first; the tile it writes is the one the
// block walk writes without it, for both methods.
TEST_P(ProvenanceCodes, LeaveTheTileAsThePlainFillWritesIt)
{
    writeBytes(temp / "p/N47E011.hgt",
               terrainTile(0, [](int r, int c) { return kA.contains(r, c) || kB.contains(r, c); }));
    writeBytes(temp / "s1/N47E011.hgt", terrainTile(3, [](int r, int c) { return kB.contains(r, c); }));
    writeBytes(temp / "s2/N47E011.hgt", terrainTile(-5));
    RunOptions options;
    options.durable = false;
    options.method = GetParam().method;
    options.sources = FolderSources({temp / "s1", temp / "s2"});
    const TileResult plain = MergeTile(state, host, temp / "p/N47E011.hgt", temp / "s1", options);
    ASSERT_EQ(plain.end, RunEnd::Complete) << plain.message();
    const Bytes expected = readBytes(temp / "p/Merged/N47E011.hgt");

    options.provenance = true;
    const TileResult recorded = MergeTile(state, host, temp / "p/N47E011.hgt", temp / "s1", options);
    ASSERT_EQ(recorded.end, RunEnd::Complete) << recorded.message();
    EXPECT_TRUE(sameBytes(readBytes(temp / "p/Merged/N47E011.hgt"), expected));
    EXPECT_EQ(recorded.filledBySource, plain.filledBySource);
    EXPECT_EQ(recorded.voidsFilled, plain.voidsFilled);
    EXPECT_EQ(recorded.voidsLeft, plain.voidsLeft);
}

// Without the new options a run writes what it always wrote, and no companion.
TEST(FillWithoutInterpolation, LeavesVoidsNoSourceHasAndWritesNoCompanion)
{
    TempFolder temp;
    writeBytes(temp / "p/N47E011.hgt", terrainTile(0, [](int r, int c) { return kC.contains(r, c); }));
    writeBytes(temp / "s1/N47E011.hgt", terrainTile(3, [](int r, int c) { return kC.contains(r, c); }));
    WindowState state;
    FakeHost host{state};
    RunOptions options;
    options.durable = false;
    const TileResult result = MergeTile(state, host, temp / "p/N47E011.hgt", temp / "s1", options);
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    EXPECT_EQ(result.interpolated, 0);
    EXPECT_EQ(result.voidsLeft, 16);
    EXPECT_EQ(folderEntries(temp / "p/Merged"), (std::set<std::string>{"N47E011.hgt"}));
}

TEST(InterpolationAlone, FillsWithoutAnySourceAndEndsMissingWhenNothingIsCloseEnough)
{
    TempFolder temp;
    std::filesystem::create_directories(temp / "none");
    writeBytes(temp / "p/N47E011.hgt", terrainTile(0, [](int r, int c) { return kC.contains(r, c); }));
    writeBytes(temp / "q/N47E011.hgt", terrainTile(0, [](int r, int c) { return kD.contains(r, c); }));
    WindowState state;
    FakeHost host{state};
    RunOptions options;
    options.durable = false;
    options.interpolate = true;
    options.maxDistance = 5;

    const TileResult filled = MergeTile(state, host, temp / "p/N47E011.hgt", temp / "none", options);
    ASSERT_EQ(filled.end, RunEnd::Complete) << filled.message();
    EXPECT_EQ(filled.interpolated, 16);
    EXPECT_EQ(filled.voidsLeft, 0);

    const TileResult tooFar = MergeTile(state, host, temp / "q/N47E011.hgt", temp / "none", options);
    EXPECT_EQ(tooFar.end, RunEnd::MissingSecondary);
    // Without any source given there is no hgt-file to miss.
    const TileResult withoutSource = MergeTile(state, host, temp / "q/N47E011.hgt", "", options);
    EXPECT_EQ(withoutSource.message(), "keine Quelle angegeben, und kein Loch von " + (temp / "q/N47E011.hgt")
                                           + " liegt nah genug an gültigen Werten, um es zu interpolieren");
    EXPECT_EQ(tooFar.leftTooFar, 900);
    EXPECT_FALSE(std::filesystem::exists(temp / "q/Merged")) << "nothing to write leaves no trace";
}

// STOP while the tile is prepared in memory (the window yields between void regions) or walked: the
// run ends stopped before its walk has gone far, whether or not a source had the tile, and leaves no
// trace: no output, no Merged folder, nothing counted as filled or interpolated.
struct PrepareStopRow {
    const char* name;
    bool withSource;
    bool interpolate = true;
};
void PrintTo(const PrepareStopRow& row, std::ostream* os)
{
    *os << row.name;
}
class StopWhilePreparing : public ::testing::TestWithParam<PrepareStopRow> {};

TEST_P(StopWhilePreparing, EndsStoppedAndWritesNothing)
{
    TempFolder temp;
    std::filesystem::create_directories(temp / "s1");
    const auto scattered = [](int r, int c) { return r % 40 == 7 && c % 40 == 9; };
    writeBytes(temp / "p/N47E011.hgt", terrainTile(0, scattered));
    if (GetParam().withSource) // the plain walk's source has every void, so that a partial walk fills some
        writeBytes(temp / "s1/N47E011.hgt", GetParam().interpolate ? terrainTile(3, scattered) : terrainTile(3));
    WindowState state;
    FakeHost host(state);
    host.onYield = [&state] { state.stopRequested = true; };
    RunOptions options;
    options.durable = false;
    options.interpolate = GetParam().interpolate;

    const TileResult result = MergeTile(state, host, temp / "p/N47E011.hgt", temp / "s1", options);
    EXPECT_EQ(result.end, RunEnd::Stopped) << result.message();
    EXPECT_LE(state.posHigh, 200001) << "stopped at the walk's first report at the latest";
    EXPECT_FALSE(std::filesystem::exists(temp / "p/Merged"));
    EXPECT_EQ(result.interpolated, 0);
    EXPECT_EQ(result.voidsFilled, 0);
    EXPECT_EQ(std::count(result.filledBySource.begin(), result.filledBySource.end(), 0),
              std::ssize(result.filledBySource));
}

INSTANTIATE_TEST_SUITE_P(Fill, StopWhilePreparing,
                         ::testing::Values(PrepareStopRow{"FromASourceThatLacksTheVoids", true},
                                           PrepareStopRow{"WithoutAnySource", false},
                                           PrepareStopRow{"InThePlainWalk", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A void across the seam of two neighbouring tiles, each filled in the same batch from its own
// side: both give the shared column the same values, one tile after the other or both in flight.
struct SeamRow {
    const char* name;
    unsigned jobs;
};
void PrintTo(const SeamRow& row, std::ostream* os)
{
    *os << row.name;
}
class InterpolationSeam : public ::testing::TestWithParam<SeamRow> {};

TEST_P(InterpolationSeam, BothTilesFillTheSharedLineAlike)
{
    TempFolder temp;
    std::filesystem::create_directories(temp / "none");
    const Box west{500, kSide - 6, 12, 6}, east{500, 0, 12, 6};
    // The eastern tile continues the western one: its column 0 is the western tile's last column.
    Bytes westTile = terrainTile(0, [&](int r, int c) { return west.contains(r, c); });
    Bytes eastTile(westTile.size());
    for (int r = 0; r < kSide; ++r)
        for (int c = 0; c < kSide; ++c) {
            const int x = c + kSide - 1;
            setAt(eastTile, r, c,
                  east.contains(r, c) ? kVoidValue : static_cast<std::int16_t>(800 + r / 4 + (x * x) / 4000));
        }
    writeBytes(temp / "t/N47E011.hgt", westTile);
    writeBytes(temp / "t/N47E012.hgt", eastTile);
    WindowState state;
    FakeHost host{state};
    RunOptions options;
    options.durable = false;
    options.interpolate = true;
    options.provenance = true;
    options.jobs = GetParam().jobs;
    const BatchResult batch =
        MergeTiles(state, host, {temp / "t/N47E011.hgt", temp / "t/N47E012.hgt"}, temp / "none", options);
    ASSERT_EQ(batch.tiles.size(), 2u);
    for (const TileResult& tile : batch.tiles) {
        ASSERT_EQ(tile.end, RunEnd::Complete) << tile.message();
        EXPECT_EQ(tile.interpolated, 12 * 6);
        EXPECT_EQ(readBytes(tile.provenance).size(), static_cast<std::size_t>(kSide) * kSide) << tile.provenance;
    }
    const Bytes westOut = readBytes(temp / "t/Merged/N47E011.hgt");
    const Bytes eastOut = readBytes(temp / "t/Merged/N47E012.hgt");
    for (int r = west.row; r < west.row + west.rows; ++r) {
        ASSERT_NE(sampleAt(westOut, r, kSide - 1), kVoidValue);
        EXPECT_EQ(sampleAt(westOut, r, kSide - 1), sampleAt(eastOut, r, 0)) << "row " << r;
    }
}

INSTANTIATE_TEST_SUITE_P(Batches, InterpolationSeam,
                         ::testing::Values(SeamRow{"in_order", 1}, SeamRow{"both_in_flight", 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// A failed or stopped run leaves neither the tile nor its companion.
struct FailureRow {
    const char* name;
    bool batch;
    bool durable;
    std::function<void(TempFolder&, RunOptions&, std::atomic<bool>&)> arrange;
};
void PrintTo(const FailureRow& row, std::ostream* os)
{
    *os << row.name;
}

class ProvenanceFailure : public ::testing::TestWithParam<FailureRow> {};

TEST_P(ProvenanceFailure, LeavesNeitherFile)
{
    TempFolder temp;
    writeBytes(temp / "p/N47E011.hgt", terrainTile(0, [](int r, int c) { return kA.contains(r, c); }));
    writeBytes(temp / "s1/N47E011.hgt", terrainTile(3));
    std::atomic<bool> stop{false};
    RunOptions options;
    options.durable = GetParam().durable;
    options.provenance = true;
    options.interpolate = true;
    options.stop = &stop;
    GetParam().arrange(temp, options, stop);
    WindowState state;
    FakeHost host{state};
    const TileResult result = GetParam().batch
                                  ? MergeTiles(state, host, {temp / "p/N47E011.hgt"}, temp / "s1", options).tiles.at(0)
                                  : MergeTile(state, host, temp / "p/N47E011.hgt", temp / "s1", options);
    EXPECT_NE(result.end, RunEnd::Complete);
    EXPECT_TRUE(result.output.empty());
    EXPECT_TRUE(result.provenance.empty());
    EXPECT_FALSE(std::filesystem::is_regular_file(temp / "p/Merged/N47E011.hgt"));
    EXPECT_FALSE(std::filesystem::is_regular_file(temp / "p/Merged/N47E011.src"));
}

void folderWhereTheCompanionGoes(TempFolder& temp, RunOptions&, std::atomic<bool>&)
{
    std::filesystem::create_directories(temp / "p/Merged/N47E011.src");
}
void folderWhereTheTileGoes(TempFolder& temp, RunOptions&, std::atomic<bool>&)
{
    std::filesystem::create_directories(temp / "p/Merged/N47E011.hgt");
}
void stopBeforeTheWalk(TempFolder&, RunOptions&, std::atomic<bool>& stop)
{
    stop = true;
}
void companionIsAnInput(TempFolder& temp, RunOptions& options, std::atomic<bool>&)
{
    // A source folder that is the output folder: the guard refuses before anything is written.
    std::filesystem::create_directories(temp / "p/Merged");
    options.sources = FolderSources({temp / "s1", temp / "p/Merged"});
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ProvenanceFailure,
    ::testing::Values(FailureRow{"tile_companion_blocked", false, false, folderWhereTheCompanionGoes},
                      FailureRow{"tile_output_blocked", false, false, folderWhereTheTileGoes},
                      FailureRow{"tile_stopped", false, false, stopBeforeTheWalk},
                      FailureRow{"tile_output_folder_is_a_source", false, false, companionIsAnInput},
                      FailureRow{"batch_companion_blocked_durable", true, true, folderWhereTheCompanionGoes},
                      FailureRow{"batch_output_blocked_durable", true, true, folderWhereTheTileGoes},
                      FailureRow{"batch_stopped", true, false, stopBeforeTheWalk}),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32 // killed children come from fork(); links from symlink()
// A fill over an earlier tile and companion, killed right after each of its steps on disk (a child
// process that ends in the trace of step k): what is left is the earlier pair, the new pair, or a
// tile alone, never a tile beside another tile's companion. A fill without companion removes the
// earlier one with its commit. Rows: with a companion or without; a single fill or a batch.
class PairAfterKill : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(PairAfterKill, IsNeverMixed)
{
    TempFolder temp;
    writeBytes(temp / "p/N47E011.hgt", terrainTile(0, [](int r, int c) { return kA.contains(r, c); }));
    writeBytes(temp / "s1/N47E011.hgt", terrainTile(3));
    const Bytes oldTile(static_cast<std::size_t>(kTileBytes3), 7);
    const Bytes oldCodes(static_cast<std::size_t>(kSide) * kSide, kInterpolatedSample);
    const std::string tilePath = temp / "p/Merged/N47E011.hgt", codesPath = temp / "p/Merged/N47E011.src";
    const auto run = [&](const SyncTrace& trace) {
        writeBytes(tilePath, oldTile);
        writeBytes(codesPath, oldCodes);
        RunOptions options;
        options.provenance = std::get<0>(GetParam());
        options.trace = trace;
        WindowState state;
        FakeHost host{state};
        return std::get<1>(GetParam())
                   ? MergeTiles(state, host, {temp / "p/N47E011.hgt"}, temp / "s1", options).tiles.at(0)
                   : MergeTile(state, host, temp / "p/N47E011.hgt", temp / "s1", options);
    };
    int steps = 0;
    const TileResult whole = run([&](std::string_view, const std::string&) { ++steps; });
    ASSERT_EQ(whole.end, RunEnd::Complete) << whole.message();
    ASSERT_EQ(std::filesystem::exists(codesPath), std::get<0>(GetParam()));
    const Bytes newTile = readBytes(tilePath);
    const Bytes newCodes = std::get<0>(GetParam()) ? readBytes(codesPath) : Bytes{};

    for (int kill = 1; kill <= steps; ++kill) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int step = 0;
            run([&](std::string_view, const std::string&) {
                if (++step == kill)
                    ::_exit(0);
            });
            ::_exit(1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "not killed at step " << kill;
        const Bytes tile = readBytes(tilePath);
        const bool isNew = tile == newTile;
        EXPECT_TRUE(isNew || tile == oldTile) << "step " << kill;
        if (std::filesystem::exists(codesPath)) {
            EXPECT_EQ(readBytes(codesPath), isNew ? newCodes : oldCodes)
                << "step " << kill << (isNew ? ": the new tile" : ": the earlier tile") << " beside another companion";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, PairAfterKill, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<1>(info.param) ? "batch" : "tile")
                                    + (std::get<0>(info.param) ? "_with_companion" : "_without_companion");
                         });

// The output guard covers the companion: one that would replace an input through a symlink is
// refused before anything is written.
TEST(ProvenanceGuard, RefusesACompanionThatIsAnInput)
{
    TempFolder temp;
    const Bytes primary = terrainTile(0, [](int r, int c) { return kA.contains(r, c); });
    writeBytes(temp / "p/N47E011.hgt", primary);
    writeBytes(temp / "s1/N47E011.hgt", terrainTile(3));
    std::filesystem::create_directories(temp / "p/Merged");
    std::filesystem::create_symlink(temp / "s1/N47E011.hgt", temp / "p/Merged/N47E011.src");
    WindowState state;
    FakeHost host{state};
    RunOptions options;
    options.durable = false;
    options.provenance = true;
    const TileResult result = MergeTile(state, host, temp / "p/N47E011.hgt", temp / "s1", options);
    EXPECT_EQ(result.end, RunEnd::Failed);
    EXPECT_EQ(errorKind(result), TileErrorKind::OutputIsInput);
    EXPECT_FALSE(std::filesystem::exists(temp / "p/Merged/N47E011.hgt"));
    EXPECT_TRUE(sameBytes(readBytes(temp / "s1/N47E011.hgt"), terrainTile(3)));
}
#endif

struct NeighbourRow {
    const char* name;
    const char* tile;
    int rowStep, columnStep;
    std::optional<std::string> expected;
};
void PrintTo(const NeighbourRow& row, std::ostream* os)
{
    *os << row.name;
}
class NeighbourNames : public ::testing::TestWithParam<NeighbourRow> {};

TEST_P(NeighbourNames, ByTheTileNameScheme)
{
    EXPECT_EQ(NeighbourTileName(GetParam().tile, GetParam().rowStep, GetParam().columnStep), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, NeighbourNames,
    ::testing::Values(NeighbourRow{"north", "N47E011.hgt", -1, 0, "N48E011.hgt"},
                      NeighbourRow{"east", "N47E011.hgt", 0, 1, "N47E012.hgt"},
                      NeighbourRow{"south", "N47E011.hgt", 1, 0, "N46E011.hgt"},
                      NeighbourRow{"west", "N47E011.hgt", 0, -1, "N47E010.hgt"},
                      NeighbourRow{"north_east_corner", "N47E011.hgt", -1, 1, "N48E012.hgt"},
                      NeighbourRow{"south_west_corner_in_a_folder_zipped", "/x/n47e011.SRTMGL3.hgt.zip", 1, -1,
                                   "N46E010.hgt"},
                      NeighbourRow{"across_the_equator_southwards", "N00E005.hgt", 1, 0, "S01E005.hgt"},
                      NeighbourRow{"across_the_equator_northwards", "S01E005.hgt", -1, 0, "N00E005.hgt"},
                      NeighbourRow{"across_greenwich_westwards", "N10E000.hgt", 0, -1, "N10W001.hgt"},
                      NeighbourRow{"antimeridian_eastwards", "N10E179.hgt", 0, 1, "N10W180.hgt"},
                      NeighbourRow{"antimeridian_westwards", "S10W180.hgt", 0, -1, "S10E179.hgt"},
                      NeighbourRow{"beyond_the_north_pole", "N89E000.hgt", -1, 0, std::nullopt},
                      NeighbourRow{"beyond_the_south_pole", "S90W010.hgt", 1, 1, std::nullopt},
                      NeighbourRow{"not_a_tile_name", "readme.txt", 0, 1, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// A neighbour that cannot serve is left out: the tile is filled as if it were not there and its
// warning names it. A name that leads to the tile itself, or one file standing in two positions,
// cannot serve either.
struct LeftOutRow {
    const char* name;
    std::function<void(const std::filesystem::path& folder)> arrange;
    std::vector<std::string> named; // the neighbours the warning names
};
void PrintTo(const LeftOutRow& row, std::ostream* os)
{
    *os << row.name;
}
class UnusableNeighbour : public ::testing::TestWithParam<LeftOutRow> {};

TEST_P(UnusableNeighbour, IsLeftOutAndNamedWhileTheTileIsFilled)
{
    TempFolder temp;
    const Box edge{500, kSide - 6, 12, 6};
    const Bytes tile = terrainTile(0, [&](int r, int c) { return edge.contains(r, c); });
    writeBytes(temp / "alone/N47E011.hgt", tile);
    writeBytes(temp / "t/N47E011.hgt", tile);
    GetParam().arrange(temp / "t");
    WindowState state;
    FakeHost host{state};
    RunOptions options;
    options.durable = false;
    options.interpolate = true;
    const TileResult alone = MergeTile(state, host, temp / "alone/N47E011.hgt", "", options);
    const TileResult result = MergeTile(state, host, temp / "t/N47E011.hgt", "", options);
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    EXPECT_TRUE(alone.warning.empty()) << alone.warning;
    EXPECT_EQ(result.interpolated, alone.interpolated);
    EXPECT_TRUE(sameBytes(readBytes(temp / "t/Merged/N47E011.hgt"), readBytes(temp / "alone/Merged/N47E011.hgt")));
    for (const std::string& neighbour : GetParam().named)
        EXPECT_NE(result.warning.find(temp / ("t/" + neighbour)), std::string::npos)
            << neighbour << " not named in: " << result.warning;
}

using std::filesystem::path;
const LeftOutRow kLeftOutRows[] = {
    LeftOutRow{
        "too_short", [](const path& t) { writeBytes((t / "N47E012.hgt").string(), Bytes(1000, 1)); }, {"N47E012.hgt"}},
#ifndef _WIN32
    LeftOutRow{"a_folder_or_a_broken_link_of_its_name",
               [](const path& t) {
                   std::filesystem::create_directories(t / "N47E012.hgt");
                   std::filesystem::create_symlink("gone.hgt", t / "N46E011.hgt");
               },
               {"N47E012.hgt", "N46E011.hgt"}},
    LeftOutRow{"the_tile_itself_by_a_link",
               [](const path& t) { std::filesystem::create_symlink("N47E011.hgt", t / "N47E012.hgt"); },
               {"N47E012.hgt"}},
    LeftOutRow{"one_file_in_two_positions", // a seam the tile alone cannot guess: using it would change the fill
               [](const path& t) {
                   writeBytes(t / "N47E012.hgt", terrainTile(100));
                   std::filesystem::create_symlink("N47E012.hgt", t / "N48E012.hgt");
               },
               {"N47E012.hgt", "N48E012.hgt"}},
#endif
};

INSTANTIATE_TEST_SUITE_P(Folder, UnusableNeighbour, ::testing::ValuesIn(kLeftOutRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace fill_interpolation_test
} // namespace hgt::test

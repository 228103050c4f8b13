// The kinds of data the engines take beyond one plain 1" tile and -9999: other void values, 3"
// tiles, zipped tiles and several sources in priority order. Every output is compared byte for byte
// with the literal models below, written sample by sample from the rules, on full tiles.

#include "platform/archive.h"
#include "tiles/tile_error.h"
#include "tiles/tile_format.h"
#include "app/window_state.h"
#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "tiles/internal/samples.h"
#include "tiles/internal/tile_input.h"
#include "tests/support/reference_fill.h"
#include "tests/support/fake_host.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>
#include <zip.h>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <cmath>
#include <functional>
#include <optional>
#include <set>
#include <tuple>

namespace hgt::test {
namespace data_kinds_test {

// Heights from -1000 to 1000 that change from each sample to the next in both directions, so a
// sample taken from the wrong place shows. High bytes are 00..03 or FC..FF: the bytes never form
// the pair D8 F1, and no sample is one of the void values.
Bytes terrain(std::int64_t side, std::int64_t seed)
{
    return makeTile(side, [seed](std::int64_t r, std::int64_t c) {
        return static_cast<std::int32_t>((r * 37 + c * 91 + seed * 53) % 2001) - 1000;
    });
}

void setAt(Bytes& tile, std::int64_t r, std::int64_t c, std::int32_t value)
{
    setValue(tile, r * sideOf(tile) + c, value);
}

// `folders`: every source folder in priority order; none, the secondary folder argument alone.
RunOptions optionsWith(VoidValues voids = {kVoidValue}, const std::vector<std::string>& folders = {})
{
    RunOptions options = quickOptions();
    options.voidValues = std::move(voids);
    options.sources = FolderSources(folders);
    return options;
}

TileResult fill(const std::string& primary, const std::string& secondaryFolder, const RunOptions& options)
{
    WindowState state;
    QuietHost host;
    return MergeTile(state, host, primary, secondaryFolder, options);
}

TileResult difference(const std::string& primary, const std::string& comparison, const RunOptions& options)
{
    WindowState state;
    QuietHost host;
    return MakeDifferenceTile(state, host, primary, comparison, options);
}

void expectFilled(const TileResult& result, const FillModel& model, const std::string& output)
{
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    EXPECT_EQ(result.output, output);
    EXPECT_TRUE(sameTile(readBytes(output), model.tile));
    EXPECT_EQ(result.voidsFound, model.found);
    EXPECT_EQ(result.voidsLeft, model.left);
    EXPECT_EQ(result.voidsFilled, model.found - model.left);
    EXPECT_EQ(result.filledBySource, model.bySource);
    EXPECT_EQ(result.bytes, static_cast<std::int64_t>(model.tile.size()));
}

void expectDifference(const TileResult& result, const DifferenceModel& model, const std::string& output)
{
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    EXPECT_EQ(result.output, output);
    EXPECT_TRUE(sameTile(readBytes(output), model.tile));
    EXPECT_EQ(result.voidsFound, model.primaryVoids);
    EXPECT_EQ(result.voidsLeft, model.voids);
    EXPECT_EQ(result.bytes, static_cast<std::int64_t>(model.tile.size()));
}

template <class Row>
std::string rowName(const ::testing::TestParamInfo<Row>& info)
{
    return info.param.name;
}

// A failing row is shown by its name, not by its bytes.
template <class Row>
requires requires(const Row& row)
{
    std::string(row.name);
}
void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

struct VoidScene {
    Bytes primary = plainTile(1);
    Bytes secondary = plainTile(2);
};

constexpr std::int64_t kBothVoid = 6'000'000;
// Primary and secondary void values at kBothVoid + i: the same kind, and other kinds.
constexpr std::int32_t kVoidPairs[][2] = {
    {-32768, -32768}, {-32768, -32767}, {-32767, -9999}, {-9999, -32768}, {-9999, -9999}};

// Voids of every kind in the first and last sample, on both sides of the first default block's end,
// and where the secondary holds a void value too.
VoidScene mixedVoids()
{
    VoidScene s;
    setValue(s.primary, 0, -32768);
    setValue(s.primary, 1, -32767);
    setValue(s.primary, 2, -9999);
    setValue(s.primary, 131'071, -32768);
    setValue(s.primary, 131'072, -32767);
    setValue(s.primary, 5'000'000, -9999);
    setValue(s.primary, kTileSamples - 1, -32767);
    for (std::size_t i = 0; i < std::size(kVoidPairs); ++i) {
        setValue(s.primary, kBothVoid + static_cast<std::int64_t>(i), kVoidPairs[i][0]);
        setValue(s.secondary, kBothVoid + static_cast<std::int64_t>(i), kVoidPairs[i][1]);
    }
    return s;
}

struct VoidSetRow {
    const char* name;
    VoidValues voids;
};

class VoidValueSets : public ::testing::TestWithParam<VoidSetRow> {};

// Which samples are voids decides what is filled and what is kept; a void value outside the set is
// a height, kept in the primary and copied from the secondary.
TEST_P(VoidValueSets, FillLikeTheModel)
{
    const VoidScene s = mixedVoids();
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", s.primary);
    writeBytes(temp / "secondary/N47E011.hgt", s.secondary);
    const TileResult result = fill(temp / "tiles/N47E011.hgt", temp / "secondary", optionsWith(GetParam().voids));
    expectFilled(result, fillModel(s.primary, {&s.secondary}, GetParam().voids), temp / "tiles/Merged/N47E011.hgt");
}

INSTANTIATE_TEST_SUITE_P(Sets, VoidValueSets,
                         ::testing::Values(VoidSetRow{"minus32768_only", {-32768}},
                                           VoidSetRow{"minus32767_only", {-32767}},
                                           VoidSetRow{"minus9999_and_minus32768", {-9999, -32768}},
                                           VoidSetRow{"all_three_unordered", {-32767, -9999, -32768}}),
                         rowName<VoidSetRow>);

TEST(VoidValueRules, VoidThatNoSourceFillsKeepsItsOwnValue)
{
    const VoidValues all{-9999, -32768, -32767};
    VoidScene s = mixedVoids();
    // A further source, void at the same samples with yet other kinds.
    Bytes further = plainTile(3);
    for (std::size_t i = 0; i < std::size(kVoidPairs); ++i)
        setValue(further, kBothVoid + static_cast<std::int64_t>(i), kVoidPairs[(i + 1) % std::size(kVoidPairs)][1]);
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", s.primary);
    writeBytes(temp / "one/N47E011.hgt", s.secondary);
    writeBytes(temp / "two/N47E011.hgt", further);
    const std::string output = temp / "tiles/Merged/N47E011.hgt";
    const TileResult result =
        fill(temp / "tiles/N47E011.hgt", temp / "one", optionsWith(all, {temp / "one", temp / "two"}));
    expectFilled(result, fillModel(s.primary, {&s.secondary, &further}, all), output);

    const Bytes out = readBytes(output);
    ASSERT_EQ(out.size(), static_cast<std::size_t>(kTileBytes));
    for (std::size_t i = 0; i < std::size(kVoidPairs); ++i)
        EXPECT_EQ(sampleAt(out, kBothVoid + static_cast<std::int64_t>(i)), kVoidPairs[i][0]) << "pair " << i;
    EXPECT_EQ(result.voidsLeft, static_cast<std::int64_t>(std::size(kVoidPairs)));
}

struct DefaultSetRow {
    const char* name;
    bool emptyFurtherFolder; // a second source folder without the tile: the sample-by-sample walk
};

class DefaultVoidSet : public ::testing::TestWithParam<DefaultSetRow> {};

// With -9999 alone, a void takes the secondary's sample whatever it is, as before.
TEST_P(DefaultVoidSet, GivesTheBytesOfTheOldFill)
{
    Bytes primary = plainTile(1);
    Bytes secondary = plainTile(2);
    for (std::int64_t k :
         {std::int64_t{0}, std::int64_t{131'071}, std::int64_t{131'072}, std::int64_t{5'000'000}, kTileSamples - 1})
        setVoid(primary, k);
    setValue(primary, 10, -32768); // heights under this set
    setValue(primary, 11, -32767);
    setVoid(secondary, 131'072);
    setValue(secondary, 5'000'000, -32768);
    setValue(secondary, kTileSamples - 1, -32767);
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", primary);
    writeBytes(temp / "secondary/N47E011.hgt", secondary);
    std::filesystem::create_directories(temp / "empty");
    const RunOptions options =
        GetParam().emptyFurtherFolder ? optionsWith({kVoidValue}, {temp / "secondary", temp / "empty"}) : optionsWith();
    const TileResult result = fill(temp / "tiles/N47E011.hgt", temp / "secondary", options);

    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    EXPECT_TRUE(sameTile(readBytes(temp / "tiles/Merged/N47E011.hgt"), FilledTile(primary, secondary)));
    const FillModel model = fillModel(primary, {&secondary, nullptr}, {kVoidValue});
    EXPECT_EQ(result.voidsLeft, model.left);
    EXPECT_EQ(result.filledBySource.at(0), model.bySource[0]);
}

INSTANTIATE_TEST_SUITE_P(Sources, DefaultVoidSet,
                         ::testing::Values(DefaultSetRow{"one_source", false},
                                           DefaultSetRow{"with_an_empty_further_folder", true}),
                         rowName<DefaultSetRow>);

struct HoleRow {
    const char* name;
    VoidValues voids;
    std::int64_t side;
    std::function<void(Bytes&)> mark;
    bool holes;
};

class HolePresence : public ::testing::TestWithParam<HoleRow> {};

// For -9999 the byte pair D8 F1 anywhere in the file makes a hole, even where it fills nothing;
// the other void values only as whole samples of the tile.
TEST_P(HolePresence, DecidesWhetherAnOutputIsWritten)
{
    const HoleRow& row = GetParam();
    Bytes primary = row.side == kTileSide ? plainTile(1) : terrain(kTileSide3, 1);
    const Bytes secondary = row.side == kTileSide ? plainTile(2) : terrain(kTileSide3, 2);
    row.mark(primary);
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", primary);
    writeBytes(temp / "secondary/N47E011.hgt", secondary);
    const TileResult result = fill(temp / "tiles/N47E011.hgt", temp / "secondary", optionsWith(row.voids));
    if (!row.holes) {
        EXPECT_EQ(result.end, RunEnd::NoHoles) << result.message();
        EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));
        return;
    }
    expectFilled(result, fillModel(primary, {&secondary}, row.voids), temp / "tiles/Merged/N47E011.hgt");
}

// Bytes 999 and 1000: the low byte of one sample and the high byte of the next.
void pairAtOddOffset(Bytes& tile)
{
    tile[999] = kVoidHigh;
    tile[1000] = kVoidLow;
}

INSTANTIATE_TEST_SUITE_P(
    Tiles, HolePresence,
    ::testing::Values(HoleRow{"odd_pair_with_the_default_set", {-9999}, kTileSide, pairAtOddOffset, true},
                      HoleRow{"odd_pair_with_minus32768", {-9999, -32768}, kTileSide, pairAtOddOffset, true},
                      HoleRow{"odd_pair_without_minus9999", {-32768}, kTileSide, pairAtOddOffset, false},
                      HoleRow{"pair_only_in_a_longer_files_tail",
                              {-9999, -32767},
                              kTileSide,
                              [](Bytes& t) {
                                  t.insert(t.end(), {0x00, kVoidHigh, kVoidLow, 0x01});
                              },
                              true},
                      HoleRow{"minus32768_only_in_a_longer_files_tail",
                              {-32768},
                              kTileSide,
                              [](Bytes& t) {
                                  t.insert(t.end(), {0x80, 0x00, 0x80, 0x00});
                              },
                              false},
                      HoleRow{"minus32768_bytes_across_two_samples",
                              {-32768},
                              kTileSide,
                              [](Bytes& t) {
                                  t[999] = 0x80;
                                  t[1000] = 0x00;
                              },
                              false},
                      HoleRow{"minus32768_is_a_height_for_the_default_set",
                              {-9999},
                              kTileSide,
                              [](Bytes& t) { setValue(t, 77, -32768); },
                              false},
                      HoleRow{"odd_pair_in_a_3s_tile",
                              {-9999, -32767},
                              kTileSide3,
                              [](Bytes& t) {
                                  t[2001] = kVoidHigh;
                                  t[2002] = kVoidLow;
                              },
                              true},
                      HoleRow{"minus32767_in_the_last_sample_of_a_3s_tile",
                              {-32767},
                              kTileSide3,
                              [](Bytes& t) { setValue(t, kTileSide3 * kTileSide3 - 1, -32767); },
                              true}),
    rowName<HoleRow>);

struct Spot {
    std::int64_t r, c;
    bool hasValue; // whether the output there holds a value rather than -9999
};

struct ResampleRow {
    const char* name;
    std::int64_t primarySide;
    std::int64_t sourceSide;
    bool difference;
    std::vector<Spot> spots;
};

class Resampling : public ::testing::TestWithParam<ResampleRow> {};

// Sets the source sample that primary sample (r, c) is taken from; (r, c) lie on a 3" node.
void setUnder(Bytes& source, std::int64_t primarySide, std::int64_t r, std::int64_t c, std::int32_t value)
{
    if (sideOf(source) == primarySide)
        setAt(source, r, c, value);
    else if (primarySide == kTileSide)
        setAt(source, r / 3, c / 3, value);
    else
        setAt(source, 3 * r, 3 * c, value);
}

TEST_P(Resampling, GivesTheModelsTile)
{
    const ResampleRow& row = GetParam();
    const std::int64_t side = row.primarySide;
    const std::int64_t last = side - 1;
    Bytes primary = terrain(side, 1);
    Bytes source = terrain(row.sourceSide, 2);

    // A fill has voids along all four edges and in a square a third of the way in; a difference
    // has a few voids of its own elsewhere, so that the spots show the comparison's part.
    const std::int64_t q = side / 3;
    for (std::int64_t r = 0; r < side; ++r) {
        for (std::int64_t c = 0; c < side; ++c) {
            const bool edge = r < 6 || r > last - 6 || c < 6 || c > last - 6;
            const bool square = r >= q && r <= q + 30 && c >= q && c <= q + 30;
            const bool apart = r >= side / 2 && r <= side / 2 + 3 && c >= side / 2 && c <= side / 2 + 3;
            if (row.difference ? apart : (edge || square))
                setAt(primary, r, c, -9999);
        }
    }
    // The source is void at both corners and under the square's middle (q + 15 lies on a 3" node).
    const std::int64_t sourceLast = row.sourceSide - 1;
    setAt(source, 0, 0, -9999);
    setAt(source, sourceLast, sourceLast, -9999);
    setUnder(source, side, q + 15, q + 15, -9999);
    if (side == kTileSide3 && row.sourceSide == kTileSide) {
        // Fine samples between the nodes play no part for a 3" primary.
        setAt(source, 3 * (q + 10) + 1, 3 * (q + 10), -9999);
        setAt(source, 3 * (q + 10), 3 * (q + 10) - 1, -9999);
    }
    // Differences beyond the 16-bit range saturate.
    setAt(primary, 300, 300, 32767);
    setUnder(source, side, 300, 300, -500);
    setAt(primary, 300, 303, -32768);
    setUnder(source, side, 300, 303, 500);

    TempFolder temp;
    const std::string primaryPath = temp / "tiles/N47E011.hgt";
    writeBytes(primaryPath, primary);
    writeBytes(temp / "other/N47E011.hgt", source);
    const VoidValues voids{kVoidValue};
    std::string output;
    if (row.difference) {
        output = temp / "tiles/DIFFS/N47E011.hgt";
        expectDifference(difference(primaryPath, temp / "other/N47E011.hgt", optionsWith()),
                         differenceModel(primary, source, voids), output);
    } else {
        output = temp / "tiles/Merged/N47E011.hgt";
        expectFilled(fill(primaryPath, temp / "other", optionsWith()), fillModel(primary, {&source}, voids), output);
    }

    // The scenario reaches the cases it is meant to: a void under a non-zero weight, one under a zero
    // weight, the first and last row and column...
    const Bytes out = readBytes(output);
    ASSERT_EQ(static_cast<std::int64_t>(out.size()), side * side * 2);
    for (const Spot& spot : row.spots)
        EXPECT_EQ(sampleAt(out, spot.r * side + spot.c) != -9999, spot.hasValue)
            << "row " << spot.r << ", column " << spot.c;
    // ...and negative sums of ninths rounding both towards and away from zero.
    if (side == kTileSide && row.sourceSide == kTileSide3) {
        std::int64_t towardZero = 0;
        std::int64_t awayFromZero = 0;
        for (std::int64_t k = 0; k < kTileSamples && (towardZero == 0 || awayFromZero == 0); ++k) {
            if (!row.difference && sampleAt(primary, k) != -9999)
                continue;
            const std::optional<std::int64_t> sum = ninths(source, k / side, k % side, voids);
            if (sum && *sum < 0 && -*sum % 9 != 0)
                ++(-*sum % 9 <= 4 ? towardZero : awayFromZero);
        }
        EXPECT_GT(towardZero, 0);
        EXPECT_GT(awayFromZero, 0);
    }
}

const std::vector<Spot> kSpots1From3{
    {1215, 1215, false}, // on the void node
    {1214, 1215, false}, // weight 6 on it
    {1216, 1217, false}, // weight 2 on it
    {1212, 1215, true},  // the void node is the row below, weight 0
    {1215, 1212, true},  // the void node is the column to the right, weight 0
    {0, 0, false},       {0, 2, false},       {0, 3, true},
    {3600, 3600, false}, {3600, 3599, false}, {3600, 3597, true}, // last row: no node below it
    {3597, 3600, true},  {1801, 3600, true},                      // last column: no node right of it
};
const std::vector<Spot> kSpots3From1{
    {415, 415, false}, {414, 415, true}, {410, 410, true}, // the fine voids around (1230, 1230) lie between nodes
    {0, 0, false},     {0, 1, true},     {1200, 1200, false}, {1200, 1199, true},
};
const std::vector<Spot> kSpots3From3{{415, 415, false}, {415, 416, true}, {0, 0, false}, {1200, 1200, false}};

INSTANTIATE_TEST_SUITE_P(
    Directions, Resampling,
    ::testing::Values(ResampleRow{"fill_1s_from_3s", kTileSide, kTileSide3, false, kSpots1From3},
                      ResampleRow{"difference_1s_minus_3s", kTileSide, kTileSide3, true, kSpots1From3},
                      ResampleRow{"fill_3s_from_1s", kTileSide3, kTileSide, false, kSpots3From1},
                      ResampleRow{"difference_3s_minus_1s", kTileSide3, kTileSide, true, kSpots3From1},
                      ResampleRow{"fill_3s_from_3s", kTileSide3, kTileSide3, false, kSpots3From3},
                      ResampleRow{"difference_3s_minus_3s", kTileSide3, kTileSide3, true, kSpots3From3}),
    rowName<ResampleRow>);

// The host's list, with every text ever inserted.
class RecordingHost : public FakeHost {
public:
    using FakeHost::FakeHost;
    void listInsert(int index, const std::string& text) override
    {
        inserted.push_back(text);
        FakeHost::listInsert(index, text);
    }
    std::vector<std::string> inserted;
};

struct ProgressRow {
    const char* name;
    bool difference;
};

class ThreeSecondProgress : public ::testing::TestWithParam<ProgressRow> {};

// The per-byte walk over the smaller file: posHigh steps 1, 3, 5 ... and a report falls due once it
// lies more than 200,000 past the previous one.
TEST_P(ThreeSecondProgress, KeepsTheByteCadenceOverTheSmallerFile)
{
    const bool isDifference = GetParam().difference;
    Bytes primary = terrain(kTileSide3, 1);
    setVoid(primary, 700'000);
    const Bytes other = terrain(kTileSide3, 2);
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", primary);
    writeBytes(temp / "other/N47E011.hgt", other);

    // The run's line is the list's first: a fill raises the index before it starts, a difference
    // writes at the unset index.
    WindowState state;
    if (!isDifference)
        state.logIndex.set(-1);
    RecordingHost host{state, isDifference ? RunKind::Difference : RunKind::Fill};
    const TileResult result =
        isDifference
            ? MakeDifferenceTile(state, host, temp / "tiles/N47E011.hgt", temp / "other/N47E011.hgt", optionsWith())
            : MergeTile(state, host, temp / "tiles/N47E011.hgt", temp / "other", optionsWith());
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();

    std::vector<std::string> expected;
    std::int32_t lastReport = 0;
    for (std::int32_t posHigh = 1; posHigh <= kTileBytes3; posHigh += 2) {
        if (posHigh > lastReport + 200000) {
            lastReport = posHigh;
            expected.push_back(std::to_string(posHigh) + " Bytes verarbeitet."
                               + (isDifference ? "" : " File : N47E011.hgt"));
        }
    }
    std::vector<std::string> reports = host.inserted;
    reports.erase(std::unique(reports.begin(), reports.end()), reports.end()); // a final rewrite repeats the last
    EXPECT_EQ(reports, expected);
    EXPECT_EQ(host.lines, std::vector<std::string>{expected.back()});
    EXPECT_EQ(state.statusText, expected.back());
    EXPECT_EQ(state.posHigh, kTileBytes3 + 1);
    EXPECT_EQ(state.posLow, kTileBytes3 + 2);
    const Bytes out = readBytes(result.output);
    ASSERT_EQ(static_cast<std::int64_t>(out.size()), kTileBytes3);
    EXPECT_EQ(state.byteHigh, out[kTileBytes3 - 2]);
    EXPECT_EQ(state.byteLow, out[kTileBytes3 - 1]);
    if (isDifference)
        EXPECT_TRUE(sameTile(out, differenceModel(primary, other, {kVoidValue}).tile));
    else
        EXPECT_TRUE(sameTile(out, fillModel(primary, {&other}, {kVoidValue}).tile));
}

INSTANTIATE_TEST_SUITE_P(Runs, ThreeSecondProgress,
                         ::testing::Values(ProgressRow{"fill", false}, ProgressRow{"difference", true}),
                         rowName<ProgressRow>);

// Where a refused tile stands in a run.
enum class Role { Primary, Secondary, Comparison };

std::string roleName(Role role)
{
    switch (role) {
    case Role::Primary:
        return "primary";
    case Role::Secondary:
        return "secondary";
    case Role::Comparison:
        return "comparison";
    }
    return {};
}

void PrintTo(Role role, std::ostream* out)
{
    *out << roleName(role);
}

const auto kRoles = ::testing::Values(Role::Primary, Role::Secondary, Role::Comparison);

struct RefusedRun {
    std::string file; // the refused tile
    TileResult result;
    std::string output; // where the output would have gone
};

// Puts the file that `make` writes into a run in `role`, beside a 3" tile with a void.
RefusedRun runWithRefusedTile(const TempFolder& temp, Role role, const std::string& fileName,
                              const std::function<void(const std::string&)>& make)
{
    Bytes good = terrain(kTileSide3, 1);
    setVoid(good, 1000);
    RefusedRun run;
    switch (role) {
    case Role::Primary:
        run.file = temp / ("tiles/" + fileName);
        make(run.file);
        writeBytes(temp / "secondary/N47E011.hgt", good);
        run.result = fill(run.file, temp / "secondary", optionsWith());
        run.output = temp / "tiles/Merged/N47E011.hgt";
        break;
    case Role::Secondary:
        run.file = temp / ("secondary/" + fileName);
        make(run.file);
        writeBytes(temp / "tiles/N47E011.hgt", good);
        run.result = fill(temp / "tiles/N47E011.hgt", temp / "secondary", optionsWith());
        run.output = temp / "tiles/Merged/N47E011.hgt";
        break;
    case Role::Comparison:
        run.file = temp / ("other/" + fileName);
        make(run.file);
        writeBytes(temp / "tiles/N47E011.hgt", good);
        run.result = difference(temp / "tiles/N47E011.hgt", run.file, optionsWith());
        run.output = temp / "tiles/DIFFS/N47E011.hgt";
        break;
    }
    return run;
}

struct SizeRow {
    const char* name;
    std::int64_t bytes;
};

class RefusedSizes : public ::testing::TestWithParam<std::tuple<SizeRow, Role>> {};

TEST_P(RefusedSizes, NameTheFileAndBothTileSizes)
{
    const auto& [row, role] = GetParam();
    TempFolder temp;
    // Void pairs throughout, so that only the size can keep the file out.
    const auto make = [bytes = row.bytes](const std::string& path) {
        Bytes content(static_cast<std::size_t>(bytes));
        for (std::size_t i = 0; i < content.size(); ++i)
            content[i] = i % 2 ? kVoidLow : kVoidHigh;
        writeBytes(path, content);
    };
    const RefusedRun run = runWithRefusedTile(temp, role, "N47E011.hgt", make);
    EXPECT_EQ(run.result.end, RunEnd::Failed);
    EXPECT_EQ(errorKind(run.result), TileErrorKind::NotATile);
    EXPECT_EQ(run.result.message(), run.file + " ist kein HGT-File (" + std::to_string(row.bytes)
                                        + " Bytes statt 25934402 Bytes für 1″ oder 2884802 Bytes für 3″)");
    EXPECT_FALSE(std::filesystem::exists(run.output));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RefusedSizes,
                         ::testing::Combine(::testing::Values(SizeRow{"one_second_minus_one_byte", kTileBytes - 1},
                                                              SizeRow{"three_second_plus_one_byte", kTileBytes3 + 1},
                                                              SizeRow{"zero_bytes", 0}),
                                            kRoles),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_as_"
                                    + roleName(std::get<1>(info.param));
                         });

struct Member {
    std::string name;
    Bytes bytes;
    bool stored = false; // uncompressed rather than deflated
};

void writeArchive(const std::string& path, const std::vector<Member>& members)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    ASSERT_NE(archive, nullptr) << path << ": libzip error " << code;
    for (const Member& member : members) {
        zip_source_t* source = zip_source_buffer(archive, member.bytes.data(), member.bytes.size(), 0);
        ASSERT_NE(source, nullptr) << zip_strerror(archive);
        const zip_int64_t index = zip_file_add(archive, member.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            FAIL() << member.name << ": " << zip_strerror(archive);
        }
        // The fastest deflate level keeps archives of full tiles quick to make.
        ASSERT_EQ(zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                           member.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, member.stored ? 0 : 1),
                  0);
    }
    ASSERT_EQ(zip_close(archive), 0) << zip_strerror(archive);
}

// Where the first member's data starts: after its local header with name and extra field.
std::size_t firstMemberData(const Bytes& archive)
{
    return 30 + (archive[26] | archive[27] << 8) + (archive[28] | archive[29] << 8);
}

void put(Bytes& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// An archive made by hand: one stored member "N47E011.hgt" holding 16 bytes, whose local and
// central headers both claim `claimed` bytes, through a zip64 field where 32 bits do not suffice.
// The checksum is left 0: nothing may read far enough to compare it.
void writeClaimingArchive(const std::string& path, std::uint64_t claimed)
{
    const std::string name = "N47E011.hgt";
    const Bytes data(16, 0x11);
    const bool zip64 = claimed >= 0xFFFFFFFFu;
    Bytes extra;
    if (zip64) {
        put(extra, 0x0001, 2);
        put(extra, 16, 2);
        put(extra, claimed, 8);
        put(extra, data.size(), 8);
    }
    const std::uint64_t uncompressed32 = zip64 ? 0xFFFFFFFFu : claimed;
    const std::uint64_t compressed32 = zip64 ? 0xFFFFFFFFu : data.size();
    const int version = zip64 ? 45 : 20;
    const auto common = [&](Bytes& out) { // from "version needed" to the extra field's length
        put(out, version, 2);
        put(out, 0, 2);    // flags
        put(out, 0, 2);    // stored
        put(out, 0, 2);    // time
        put(out, 0x21, 2); // 1 January 1980
        put(out, 0, 4);    // checksum
        put(out, compressed32, 4);
        put(out, uncompressed32, 4);
        put(out, name.size(), 2);
        put(out, extra.size(), 2);
    };
    Bytes out;
    put(out, 0x04034b50, 4);
    common(out);
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), extra.begin(), extra.end());
    out.insert(out.end(), data.begin(), data.end());
    const std::size_t directory = out.size();
    put(out, 0x02014b50, 4);
    put(out, version, 2); // made by
    common(out);
    put(out, 0, 2); // comment length
    put(out, 0, 2); // disk
    put(out, 0, 2); // internal attributes
    put(out, 0, 4); // external attributes
    put(out, 0, 4); // local header offset
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), extra.begin(), extra.end());
    const std::size_t directoryBytes = out.size() - directory;
    put(out, 0x06054b50, 4);
    put(out, 0, 2);
    put(out, 0, 2);
    put(out, 1, 2);
    put(out, 1, 2);
    put(out, directoryBytes, 4);
    put(out, directory, 4);
    put(out, 0, 2);
    writeBytes(path, out);
}

// Flips `count` bytes of the first member's data from `at` on.
void damageFirstMember(const std::string& path, std::size_t at, std::size_t count)
{
    Bytes archive = readBytes(path);
    const std::size_t start = firstMemberData(archive) + at;
    ASSERT_LE(start + count, archive.size());
    for (std::size_t i = start; i < start + count; ++i)
        archive[i] = static_cast<std::uint8_t>(~archive[i]);
    writeBytes(path, archive);
}

long peakResidentKiB()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#endif
}

struct ZippedPrimaryRow {
    const char* name;
    std::int64_t side;
    std::string archive;
    std::vector<std::string> members; // the tile goes into the one ending in .hgt, text into the others
    bool stored;
    std::string tileName; // the name of the output
};

class ZippedPrimary : public ::testing::TestWithParam<ZippedPrimaryRow> {};

TEST_P(ZippedPrimary, FillsIntoMergedUnderTheTileName)
{
    const ZippedPrimaryRow& row = GetParam();
    Bytes primary = terrain(row.side, 1);
    for (std::int64_t k : {std::int64_t{0}, std::int64_t{12'345}, row.side * row.side - 1})
        setVoid(primary, k);
    const Bytes secondary = terrain(row.side, 2);
    TempFolder temp;
    std::vector<Member> members;
    for (const std::string& name : row.members)
        members.push_back(
            {name, name.ends_with(".hgt") || name.ends_with(".HGT") ? primary : Bytes(100, 'x'), row.stored});
    writeArchive(temp / ("tiles/" + row.archive), members);
    writeBytes(temp / "secondary/N47E011.hgt", secondary);

    WindowState state;
    QuietHost host;
    const TileResult result =
        MergeTile(state, host, temp / ("tiles/" + row.archive), temp / "secondary", optionsWith());
    expectFilled(result, fillModel(primary, {&secondary}, {kVoidValue}), temp / ("tiles/Merged/" + row.tileName));
    EXPECT_EQ(folderEntries(temp / "tiles/Merged"), std::set<std::string>{row.tileName});
    EXPECT_TRUE(state.statusText.ends_with(" Bytes verarbeitet. File : " + row.tileName)) << state.statusText;
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ZippedPrimary,
    ::testing::Values(
        ZippedPrimaryRow{"srtmgl1_name", kTileSide, "N47E011.SRTMGL1.hgt.zip", {"N47E011.hgt"}, false, "N47E011.hgt"},
        ZippedPrimaryRow{"lower_case_member", kTileSide3, "N47E011.hgt.zip", {"n47e011.hgt"}, false, "N47E011.hgt"},
        ZippedPrimaryRow{
            "upper_case_member_in_a_folder", kTileSide3, "N47E011.hgt.zip", {"tiles/N47E011.HGT"}, true, "N47E011.hgt"},
        ZippedPrimaryRow{"beside_members_that_are_no_tiles",
                         kTileSide3,
                         "N47E011.SRTMGL3.hgt.zip",
                         {"readme.txt", "N47E011.hgt", "N47E011.hgt.xml"},
                         false,
                         "N47E011.hgt"},
        ZippedPrimaryRow{
            "lower_case_archive_name", kTileSide3, "n47e011.srtmgl3.hgt.zip", {"N47E011.hgt"}, false, "n47e011.hgt"}),
    rowName<ZippedPrimaryRow>);

TEST(ZippedTileRuns, DifferenceOfTwoArchivesOfEitherGrid)
{
    Bytes primary = terrain(kTileSide3, 1);
    setVoid(primary, 400'000);
    Bytes comparison = terrain(kTileSide, 2);
    setAt(comparison, 1800, 1800, -9999);
    TempFolder temp;
    writeArchive(temp / "tiles/N47E011.SRTMGL3.hgt.zip", {{"N47E011.hgt", primary}});
    writeArchive(temp / "other/N47E011.SRTMGL1.hgt.zip", {{"N47E011.hgt", comparison}});
    const TileResult result =
        difference(temp / "tiles/N47E011.SRTMGL3.hgt.zip", temp / "other/N47E011.SRTMGL1.hgt.zip", optionsWith());
    expectDifference(result, differenceModel(primary, comparison, {kVoidValue}), temp / "tiles/DIFFS/N47E011.hgt");
    EXPECT_EQ(folderEntries(temp / "tiles/DIFFS"), std::set<std::string>{"N47E011.hgt"});
}

// The archive writer (the benchmark's) and the reader share the library loaded on first use: what
// one writes, the other reads back byte for byte; a folder that is not there is an error.
TEST(ZippedTileFiles, WrittenArchiveReadsBackAndMissingFolderFails)
{
    TempFolder temp;
    const Bytes tile = terrain(kTileSide3, 3);
    const std::string path = temp / "N47E011.hgt.zip";
    ASSERT_TRUE(WriteZippedTile(path, "N47E011.hgt", tile));
    const Result<Bytes> back = ReadZippedTile(path, [](std::uint64_t size) { return size == kTileBytes3; });
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_EQ(*back, tile);

    const Result<> refused = WriteZippedTile(temp / "missing/N47E011.hgt.zip", "N47E011.hgt", tile);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find(nativePath("missing/N47E011.hgt.zip")), std::string::npos)
        << refused.error().message;
}

struct ZipRefusalRow {
    const char* name;
    std::function<void(const std::string& path)> make;
    std::string reason; // what the message must say besides the archive's name
};

class ZipRefusals : public ::testing::TestWithParam<std::tuple<ZipRefusalRow, Role>> {};

// A refused archive ends the run before any output, with a message that names it, and without
// ever holding anything near the size a header claims.
TEST_P(ZipRefusals, NameTheArchive)
{
    const auto& [row, role] = GetParam();
    TempFolder temp;
    const long peakBefore = peakResidentKiB();
    const RefusedRun run = runWithRefusedTile(temp, role, "N47E011.hgt.zip", row.make);
    EXPECT_LT(peakResidentKiB() - peakBefore, 1L << 20) << "KiB more at the peak";
    EXPECT_EQ(run.result.end, RunEnd::Failed);
    EXPECT_EQ(errorKind(run.result), TileErrorKind::NotATile);
    EXPECT_TRUE(run.result.message().starts_with(run.file + " ")) << run.result.message();
    EXPECT_NE(run.result.message().find(row.reason), std::string::npos) << run.result.message();
    EXPECT_FALSE(std::filesystem::exists(run.output));
}

const ZipRefusalRow kZipRefusalRows[] = {
    ZipRefusalRow{"two_tiles",
                  [](const std::string& path) {
                      writeArchive(path, {{"N47E011.hgt", terrain(kTileSide3, 1), true},
                                          {"N47E012.hgt", terrain(kTileSide3, 2), true}});
                  },
                  "enthält mehr als eine HGT-Kachel"},
    ZipRefusalRow{"no_tile",
                  [](const std::string& path) {
                      writeArchive(path, {{"readme.txt", Bytes(10, 'x')}});
                  },
                  "enthält keine HGT-Kachel"},
    // The member's data is damaged too: inflating it would have ended in another message.
    ZipRefusalRow{"member_of_a_wrong_size",
                  [](const std::string& path) {
                      const Bytes tooLong(static_cast<std::size_t>(kTileBytes3 + 2), 1);
                      writeArchive(path, {{"N47E011.hgt", tooLong, true}});
                      damageFirstMember(path, 1000, 4);
                  },
                  "enthält eine Kachel von 2884804 Bytes"},
    ZipRefusalRow{"checksum_of_a_stored_tile",
                  [](const std::string& path) {
                      writeArchive(path, {{"N47E011.hgt", terrain(kTileSide3, 1), true}});
                      damageFirstMember(path, 1'000'000, 1);
                  },
                  "ist kein lesbares ZIP-Archiv: Prüfsumme falsch"},
    ZipRefusalRow{"damaged_deflate_stream",
                  [](const std::string& path) {
                      writeArchive(path, {{"N47E011.hgt", plainTile(1)}});
                      damageFirstMember(path, 20'000, 16);
                  },
                  "ist kein lesbares ZIP-Archiv"},
    ZipRefusalRow{"truncated",
                  [](const std::string& path) {
                      writeArchive(path, {{"N47E011.hgt", terrain(kTileSide3, 1)}});
                      Bytes archive = readBytes(path);
                      archive.resize(archive.size() / 2);
                      writeBytes(path, archive);
                  },
                  "ist kein lesbares ZIP-Archiv: kein ZIP-Archiv"},
    ZipRefusalRow{"claims_4_GB_minus_1", [](const std::string& path) { writeClaimingArchive(path, 0xFFFFFFFFu); },
                  "enthält eine Kachel von 4294967295 Bytes"},
    ZipRefusalRow{
        "claims_a_hundred_tiles",
        [](const std::string& path) { writeClaimingArchive(path, static_cast<std::uint64_t>(kTileBytes) * 100); },
        "enthält eine Kachel von 2593440200 Bytes"}};

INSTANTIATE_TEST_SUITE_P(Archives, ZipRefusals, ::testing::Combine(::testing::ValuesIn(kZipRefusalRows), kRoles),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_as_"
                                    + roleName(std::get<1>(info.param));
                         });

// The archive fuzz target reads archives from memory: it must see what a run sees on disk, the
// same refusal in the same words, or the same tile.
class ArchiveInMemory : public ::testing::TestWithParam<ZipRefusalRow> {};

TEST_P(ArchiveInMemory, AsOnDisk)
{
    TempFolder temp;
    const std::string path = temp / "N47E011.hgt.zip";
    GetParam().make(path);
    const Bytes archive = readBytes(path);
    const Result<TileInput> onDisk = TileInput::open(path);
    const Result<TileInput> inMemory = TileInput::openArchiveInMemory(path, archive.data(), archive.size());
    ASSERT_EQ(inMemory.has_value(), onDisk.has_value());
    if (!onDisk) {
        EXPECT_EQ(inMemory.error().kind, onDisk.error().kind);
        EXPECT_EQ(inMemory.error().message, onDisk.error().message);
        return;
    }
    ASSERT_EQ(inMemory->fileBytes(), onDisk->fileBytes());
    Bytes fromDisk(static_cast<std::size_t>(onDisk->fileBytes())), fromMemory(fromDisk.size());
    ASSERT_TRUE(onDisk->readAt(0, fromDisk.data(), fromDisk.size()));
    ASSERT_TRUE(inMemory->readAt(0, fromMemory.data(), fromMemory.size()));
    EXPECT_EQ(fromMemory, fromDisk);
}

// The refused archives and a good one.
std::vector<ZipRefusalRow> archivesInMemory()
{
    std::vector<ZipRefusalRow> rows(std::begin(kZipRefusalRows), std::end(kZipRefusalRows));
    rows.push_back({"a_3_tile",
                    [](const std::string& path) {
                        writeArchive(path, {{"N47E011.hgt", terrain(kTileSide3, 1)}});
                    },
                    ""});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Archives, ArchiveInMemory, ::testing::ValuesIn(archivesInMemory()),
                         [](const auto& info) { return std::string(info.param.name); });

struct SecondaryFile {
    std::string name;
    bool wanted; // holds the tile the fill must use; the others hold another
    bool zipped;
};

struct LookupRow {
    const char* name;
    std::vector<SecondaryFile> files;
};

class SecondaryLookup : public ::testing::TestWithParam<LookupRow> {};

// The secondary is the plain file of the tile's name, else a plain file matching ignoring letter
// case, else an archive whose tile name matches ignoring letter case.
TEST_P(SecondaryLookup, TakesThePlainFileBeforeAnArchive)
{
    Bytes primary = terrain(kTileSide3, 1);
    for (std::int64_t k : {std::int64_t{0}, std::int64_t{500'000}, kTileSide3 * kTileSide3 - 1})
        setVoid(primary, k);
    const Bytes wanted = terrain(kTileSide3, 2);
    const Bytes unwanted = terrain(kTileSide3, 3);
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", primary);
    for (const SecondaryFile& file : GetParam().files) {
        const Bytes& tile = file.wanted ? wanted : unwanted;
        if (file.zipped)
            writeArchive(temp / ("secondary/" + file.name), {{"N47E011.hgt", tile}});
        else
            writeBytes(temp / ("secondary/" + file.name), tile);
    }
    const TileResult result = fill(temp / "tiles/N47E011.hgt", temp / "secondary", optionsWith());
    expectFilled(result, fillModel(primary, {&wanted}, {kVoidValue}), temp / "tiles/Merged/N47E011.hgt");
}

INSTANTIATE_TEST_SUITE_P(
    Folders, SecondaryLookup,
    ::testing::Values(
        LookupRow{"only_an_archive", {{"N47E011.SRTMGL3.hgt.zip", true, true}}},
        LookupRow{"only_an_archive_in_other_letter_case", {{"n47e011.srtmgl3.HGT.ZIP", true, true}}},
        LookupRow{
            "archive_beside_another_tiles_archive",
            {{"N47E010.hgt.zip", false, true}, {"N47E011.hgt.zip", true, true}, {"N47E012.hgt.zip", false, true}}},
        LookupRow{"plain_file_beside_an_archive", {{"N47E011.hgt", true, false}, {"N47E011.hgt.zip", false, true}}},
        LookupRow{"plain_file_in_other_letter_case_beside_an_archive",
                  {{"N47E011.SRTMGL3.hgt.zip", false, true}, {"n47e011.HGT", true, false}}}),
    rowName<LookupRow>);

struct Rect {
    std::int64_t r0, c0, r1, c1; // inclusive, in the primary's (1") rows and columns
};

enum class Holds { Tile1, Tile3, OtherTile, NoFolder };

struct SourceSetup {
    Holds holds;
    std::vector<Rect> voids = {};
    std::int32_t voidValue = -9999;
};

struct PriorityRow {
    const char* name;
    VoidValues voids;
    std::vector<SourceSetup> sources;
    std::vector<bool> fills; // which sources the scenario must have fill something
};

class SourcePriority : public ::testing::TestWithParam<PriorityRow> {};

const std::vector<Rect> kPrimaryVoids{{0, 0, 0, 1},
                                      {1, 1, 1, 1},
                                      {1000, 1000, 1000, 1001},
                                      {2000, 2999, 2000, 2999},
                                      {3600, 3599, 3600, 3600},
                                      {1500, 1500, 1510, 1510}};

TEST_P(SourcePriority, VoidTakesTheFirstSourceWithAValue)
{
    const PriorityRow& row = GetParam();
    Bytes primary = terrain(kTileSide, 1);
    for (const Rect& rect : kPrimaryVoids)
        for (std::int64_t r = rect.r0; r <= rect.r1; ++r)
            for (std::int64_t c = rect.c0; c <= rect.c1; ++c)
                setAt(primary, r, c, -9999);
    // Void values for some sets, heights for others.
    setAt(primary, 1000, 1002, -32768);
    setAt(primary, 1505, 1600, -32768);

    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", primary);
    std::vector<std::optional<Bytes>> tiles(row.sources.size());
    std::vector<std::string> folders;
    for (std::size_t s = 0; s < row.sources.size(); ++s) {
        const SourceSetup& setup = row.sources[s];
        const std::string folder = temp / ("source" + std::to_string(s));
        folders.push_back(folder);
        if (setup.holds == Holds::NoFolder)
            continue;
        if (setup.holds == Holds::OtherTile) {
            writeBytes(folder + "/N47E012.hgt", terrain(kTileSide3, 9));
            continue;
        }
        Bytes tile = terrain(setup.holds == Holds::Tile1 ? kTileSide : kTileSide3, 10 + static_cast<std::int64_t>(s));
        const std::int64_t step = setup.holds == Holds::Tile1 ? 1 : 3;
        for (const Rect& rect : setup.voids)
            for (std::int64_t r = rect.r0 / step; r <= rect.r1 / step; ++r)
                for (std::int64_t c = rect.c0 / step; c <= rect.c1 / step; ++c)
                    setAt(tile, r, c, setup.voidValue);
        writeBytes(folder + "/N47E011.hgt", tile);
        tiles[s] = std::move(tile);
    }

    const TileResult result = fill(temp / "tiles/N47E011.hgt", folders.front(), optionsWith(row.voids, folders));
    std::vector<const Bytes*> sources;
    for (const std::optional<Bytes>& tile : tiles)
        sources.push_back(tile ? &*tile : nullptr);
    const FillModel model = fillModel(primary, sources, row.voids);
    expectFilled(result, model, temp / "tiles/Merged/N47E011.hgt");
    for (std::size_t s = 0; s < row.fills.size(); ++s)
        EXPECT_EQ(model.bySource[s] > 0, row.fills[s]) << "the scenario of source " << s;
}

INSTANTIATE_TEST_SUITE_P(
    Sources, SourcePriority,
    ::testing::Values(
        PriorityRow{"first_void_there_second_fills",
                    {-9999},
                    {{Holds::Tile1, {{1000, 1000, 1000, 1000}, {3600, 3600, 3600, 3600}, {1505, 1505, 1507, 1510}}},
                     {Holds::Tile1}},
                    {true, true}},
        PriorityRow{"first_lacks_the_tile", {-9999}, {{Holds::OtherTile}, {Holds::Tile1}}, {false, true}},
        PriorityRow{"first_folder_absent", {-9999}, {{Holds::NoFolder}, {Holds::Tile1, {{0, 0, 0, 0}}}}, {false, true}},
        PriorityRow{"void_in_every_source_keeps_its_own_value",
                    {-9999, -32768},
                    {{Holds::Tile1, {{1000, 1000, 1000, 1002}, {2000, 2999, 2000, 2999}}},
                     {Holds::Tile1, {{1000, 1000, 1000, 1002}}, -32768}},
                    {true, true}},
        PriorityRow{"three_second_source_after_a_one_second_source",
                    {-9999},
                    {{Holds::Tile1, {{1500, 1500, 1510, 1510}, {3600, 3599, 3600, 3600}}},
                     {Holds::Tile3, {{3600, 3600, 3600, 3600}}}},
                    {true, true}},
        PriorityRow{"middle_source_lacks_the_tile",
                    {-9999},
                    {{Holds::Tile1, {{1000, 1000, 1000, 1001}}}, {Holds::OtherTile}, {Holds::Tile1}},
                    {true, false, true}}),
    rowName<PriorityRow>);

TEST(SourcePriorityRules, NoSourceHoldingTheTileIsAMissingSecondary)
{
    Bytes primary = terrain(kTileSide3, 1);
    setVoid(primary, 100);
    TempFolder temp;
    const std::string primaryPath = temp / "tiles/N47E011.hgt";
    writeBytes(primaryPath, primary);
    writeBytes(temp / "one/N47E012.hgt", primary);
    std::filesystem::create_directories(temp / "two");

    WindowState state;
    state.logIndex.set(-1);
    FakeHost host{state};
    const TileResult result = MergeTile(state, host, primaryPath, temp / "one",
                                        optionsWith({kVoidValue}, {temp / "one", temp / "two", temp / "three"}));
    const std::string message = "kein sekundäres hgt-file " + primaryPath + " im Sekundärordner gefunden";
    EXPECT_EQ(result.end, RunEnd::MissingSecondary);
    EXPECT_EQ(result.message(), message);
    EXPECT_EQ(state.runLog, "\n" + message);
    EXPECT_EQ(host.lines, std::vector<std::string>{message});
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));
}

} // namespace data_kinds_test
} // namespace hgt::test

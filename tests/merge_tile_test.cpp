// The block engine against the sample-by-sample reference model: on 3" tiles, which the engine walks
// the same way in a ninth of the time, and on a full 1" tile where its size shows in the figures.

#include "tiles/tile_format.h"
#include "app/window_state.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "tiles/internal/samples.h"
#include "tests/support/reference_fill.h"
#include "tests/support/fake_host.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>

#include <optional>

namespace hgt::test {
namespace merge_tile_test {

struct Scenario {
    Bytes primary;
    std::optional<Bytes> secondary;
    WindowState state;
    std::vector<std::string> lines;
    std::function<bool(const WindowState&)> stopWhen; // asked at every yield
    std::size_t blockBytes = kDefaultBlockBytes;
};

struct Compared {
    TileResult engine;
    ModelResult model;
    WindowState state;
    std::vector<std::string> lines;
};

// Runs engine and model on the same scenario and expects the same list, state and output tile.
Compared runBoth(const Scenario& s)
{
    TempFolder temp;
    const std::string primaryPath = temp / "tiles/N47E011.hgt";
    const std::string secondaryFolder = temp / "secondary";
    const std::string outputPath = temp / "tiles/Merged/N47E011.hgt";
    writeBytes(primaryPath, s.primary);
    std::filesystem::create_directories(secondaryFolder);
    if (s.secondary)
        writeBytes(secondaryFolder + "/N47E011.hgt", *s.secondary);

    WindowState engineState = s.state;
    FakeHost engineHost{engineState};
    engineHost.lines = s.lines;
    auto engineStop = s.stopWhen; // each side gets its own copy of a stateful condition
    engineHost.onYield = [&] {
        if (engineStop && engineStop(engineState))
            engineState.stopRequested = true;
    };
    RunOptions options = quickOptions();
    options.blockBytes = s.blockBytes;
    const TileResult engine = MergeTile(engineState, engineHost, primaryPath, secondaryFolder, options);

    WindowState modelState = s.state;
    FakeHost modelHost{modelState};
    modelHost.lines = s.lines;
    auto modelStop = s.stopWhen;
    modelHost.onYield = [&] {
        if (modelStop && modelStop(modelState))
            modelState.stopRequested = true;
    };
    ReferenceFill model(modelState, modelHost);
    model.secondaryPath = secondaryFolder + "/N47E011.hgt";
    const ModelResult expected = model.run(primaryPath, s.primary, s.secondary ? &*s.secondary : nullptr);

    EXPECT_EQ(engine.end, expected.end) << engine.message();
    EXPECT_EQ(engineHost.lines, modelHost.lines);
    EXPECT_EQ(engineState.posHigh, modelState.posHigh);
    EXPECT_EQ(engineState.posLow, modelState.posLow);
    EXPECT_EQ(engineState.byteHigh, modelState.byteHigh);
    EXPECT_EQ(engineState.byteLow, modelState.byteLow);
    EXPECT_EQ(engineState.logIndex, modelState.logIndex);
    EXPECT_EQ(engineState.statusText, modelState.statusText);
    EXPECT_EQ(engineState.runLog, modelState.runLog);
    EXPECT_EQ(engineState.stopRequested, modelState.stopRequested);

    if (expected.end == RunEnd::Complete) {
        std::int64_t found = 0;
        std::int64_t left = 0;
        const std::int64_t side = sideOf(s.primary);
        for (std::int64_t k = 0; k < side * side; ++k) {
            if (s.primary[2 * k] == kVoidHigh && s.primary[2 * k + 1] == kVoidLow) {
                ++found;
                left += (*s.secondary)[2 * k] == kVoidHigh && (*s.secondary)[2 * k + 1] == kVoidLow;
            }
        }
        EXPECT_EQ(engine.voidsFound, found);
        EXPECT_EQ(engine.voidsLeft, left);
        EXPECT_EQ(engine.voidsFilled, found - left);
        EXPECT_EQ(engine.bytes, side * side * 2);
    }
    if (expected.output) {
        EXPECT_TRUE(sameTile(readBytes(outputPath), *expected.output));
    } else {
        EXPECT_FALSE(std::filesystem::exists(outputPath));
    }
    if (expected.end != RunEnd::Complete && expected.end != RunEnd::Stopped) {
        EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));
    }
    // Inputs are only read, and no temporary file is left behind.
    EXPECT_TRUE(sameTile(readBytes(primaryPath), s.primary));
    if (std::filesystem::exists(temp / "tiles/Merged")) {
        for (const auto& entry : std::filesystem::directory_iterator(temp / "tiles/Merged"))
            EXPECT_EQ(entry.path().filename(), "N47E011.hgt");
    }
    return {engine, expected, engineState, engineHost.lines};
}

Scenario holesScenario(std::int64_t side = kTileSide3)
{
    Scenario s;
    s.primary = plainTile(1, side);
    s.secondary = plainTile(2, side);
    setVoid(s.primary, 0);
    setVoid(s.primary, 12345);
    setVoid(s.primary, side * side - 1);
    return s;
}

TEST(MergeTileModel, VoidsInFirstMiddleAndLastSampleAreFilled)
{
    Scenario s = holesScenario(kTileSide);
    const Compared c = runBoth(s);
    EXPECT_EQ(c.engine.end, RunEnd::Complete);
    EXPECT_EQ(c.state.posHigh, 25934403);
    EXPECT_EQ(c.state.posLow, 25934404);
    EXPECT_EQ(c.state.statusText, "25800257 Bytes verarbeitet. File : N47E011.hgt");
    EXPECT_EQ(c.state.runLog, "\n");
    ASSERT_TRUE(c.model.output);
    EXPECT_EQ((*c.model.output)[0], (*s.secondary)[0]);
    EXPECT_EQ((*c.model.output)[kTileBytes - 1], (*s.secondary)[kTileBytes - 1]);
}

struct BlockRow {
    const char* name;
    std::size_t bytes;
};

class MergeTileBlocks : public ::testing::TestWithParam<BlockRow> {};

TEST_P(MergeTileBlocks, GiveTheSameRunAsTheModel)
{
    Scenario s = holesScenario();
    s.blockBytes = GetParam().bytes;
    const Compared c = runBoth(s);
    EXPECT_EQ(c.engine.end, RunEnd::Complete);
}

INSTANTIATE_TEST_SUITE_P(Lengths, MergeTileBlocks,
                         ::testing::Values(BlockRow{"odd_1001", 1001}, BlockRow{"page_4096", 4096},
                                           BlockRow{"one_report_200002", 200002},
                                           BlockRow{"default", kDefaultBlockBytes}, BlockRow{"one_MiB", 1u << 20},
                                           BlockRow{"larger_than_allowed", 64u << 20}),
                         [](const auto& info) { return std::string(info.param.name); });

struct OddPairRow {
    const char* name;
    std::size_t at;         // the pair's first byte, at an odd offset
    std::size_t blockBytes; // of the run
};

class MergeTileOddPair : public ::testing::TestWithParam<OddPairRow> {};

// A D8 F1 pair across two samples alone is a hole to the hole test, wherever the reads of the test
// cut the file, but no sample is a void: the output is the primary.
TEST_P(MergeTileOddPair, AloneCopiesThePrimary)
{
    Scenario s;
    s.primary = plainTile(1, kTileSide3);
    s.secondary = plainTile(2, kTileSide3);
    s.primary[GetParam().at] = kVoidHigh;
    s.primary[GetParam().at + 1] = kVoidLow;
    s.blockBytes = GetParam().blockBytes;
    const Compared c = runBoth(s);
    EXPECT_EQ(c.engine.end, RunEnd::Complete);
    ASSERT_TRUE(c.model.output);
    EXPECT_TRUE(sameTile(*c.model.output, s.primary));
}

INSTANTIATE_TEST_SUITE_P(Pairs, MergeTileOddPair,
                         ::testing::Values(
                             // Low byte of sample 499 and high byte of sample 500, across a 1000-byte block.
                             OddPairRow{"across_a_block", 999, 1000},
                             // The hole test looks at the first 16 KiB alone before it reads whole blocks.
                             OddPairRow{"across_the_hole_tests_first_look", 16383, kDefaultBlockBytes}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MergeTileModel, VoidInBothTilesAndMinus32768Samples)
{
    Scenario s;
    s.primary = plainTile(1, kTileSide3);
    s.secondary = plainTile(2, kTileSide3);
    setVoid(s.primary, 7);
    setVoid(*s.secondary, 7);            // stays a void
    setSample(s.primary, 8, 0x80, 0x00); // -32768 is a height, not a hole
    setVoid(s.primary, 9);
    setSample(*s.secondary, 9, 0x80, 0x00);
    setSample(s.primary, 10, 0xD8, 0xF0); // neither of these is the marker
    setSample(s.primary, 11, 0xD9, 0xF1);
    const Compared c = runBoth(s);
    ASSERT_TRUE(c.model.output);
    const Bytes& out = *c.model.output;
    EXPECT_EQ(out[14], kVoidHigh);
    EXPECT_EQ(out[15], kVoidLow);
    EXPECT_EQ(out[16], 0x80);
    EXPECT_EQ(out[18], 0x80);
    EXPECT_EQ(out[19], 0x00);
    EXPECT_EQ(out[20], 0xD8);
    EXPECT_EQ(out[21], 0xF0);
}

TEST(MergeTileModel, LongerPrimaryWithItsOnlyPairInTheTail)
{
    Scenario s;
    s.primary = plainTile(1);
    s.primary.insert(s.primary.end(), {0x00, kVoidHigh, kVoidLow, 0x01});
    s.secondary = plainTile(2);
    s.blockBytes = 4096;
    const Compared c = runBoth(s);
    EXPECT_EQ(c.engine.end, RunEnd::Complete);
    ASSERT_TRUE(c.model.output);
    EXPECT_EQ(c.model.output->size(), static_cast<std::size_t>(kTileBytes));
}

TEST(MergeTileModel, TileWithoutHolesWritesOnlyItsLine)
{
    Scenario s;
    s.primary = plainTile(1, kTileSide3);
    s.lines = {"a", "b"};
    const Compared c = runBoth(s);
    EXPECT_EQ(c.engine.end, RunEnd::NoHoles);
    EXPECT_EQ(c.lines, (std::vector<std::string>{"a", "N47E011.hgthat keine Löcher.", "b"}));
    EXPECT_EQ(c.state.runLog, "");
}

struct StopRow {
    const char* name;
    std::function<bool(const WindowState&)> when;
};

class MergeTileStop : public ::testing::TestWithParam<StopRow> {};

// STOP pressed in a chosen yield. With 64 KiB blocks these samples end blocks or reports.
TEST_P(MergeTileStop, EndsTheRunLikeTheModel)
{
    Scenario s = holesScenario();
    s.lines = {"x", "y"};
    s.blockBytes = 64 * 1024;
    s.stopWhen = GetParam().when;
    const Compared c = runBoth(s);
    EXPECT_EQ(c.engine.end, RunEnd::Stopped);
    EXPECT_TRUE(c.state.stopRequested);
}

INSTANTIATE_TEST_SUITE_P(
    Yields, MergeTileStop,
    ::testing::Values(StopRow{"after_first_block", [](const WindowState& st) { return st.posHigh == 65535; }},
                      StopRow{"after_a_later_block", [](const WindowState& st) { return st.posHigh == 1048575; }},
                      StopRow{"after_a_report_sample", [](const WindowState& st) { return st.posHigh == 400003; }},
                      StopRow{
                          "inside_the_report",
                          [seen = 0](const WindowState& st) mutable { return st.posHigh == 400003 && ++seen == 2; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MergeTileModel, RunStartedWithStopRequestedWritesOneSampleAndStops)
{
    Scenario s = holesScenario();
    s.state.stopRequested = true;
    const Compared c = runBoth(s);
    EXPECT_EQ(c.engine.end, RunEnd::Stopped);
    EXPECT_EQ(c.state.posHigh, 1);
    EXPECT_EQ(c.state.posLow, 2);
    // The first sample is a void, so the secondary's first sample was the one written.
    EXPECT_EQ(c.state.byteHigh, (*s.secondary)[0]);
    EXPECT_EQ(c.state.byteLow, (*s.secondary)[1]);
}

TEST(MergeTileModel, LineIndexRulesOfTheProgressList)
{
    {
        SCOPED_TRACE("first single fill: unset index raises to 1 on an empty list, no line");
        Scenario s = holesScenario();
        const Compared c = runBoth(s);
        EXPECT_TRUE(c.lines.empty());
        EXPECT_EQ(c.state.logIndex.index(), 1);
    }
    {
        SCOPED_TRACE("after a refused batch: -1 raises to 0");
        Scenario s = holesScenario();
        s.state.logIndex.set(-1);
        const Compared c = runBoth(s);
        EXPECT_EQ(c.lines, std::vector<std::string>{"2800027 Bytes verarbeitet. File : N47E011.hgt"});
    }
    {
        SCOPED_TRACE("a list of five lines: line 2 rewritten in place");
        Scenario s = holesScenario();
        s.state.logIndex.set(1);
        s.lines = {"0", "1", "2", "3", "4"};
        const Compared c = runBoth(s);
        EXPECT_EQ(c.lines,
                  (std::vector<std::string>{"0", "1", "2800027 Bytes verarbeitet. File : N47E011.hgt", "3", "4"}));
    }
}

TEST(MergeTileModel, MissingSecondaryTile)
{
    Scenario s = holesScenario();
    s.secondary.reset();
    s.state.logIndex.set(-1);
    const Compared c = runBoth(s);
    EXPECT_EQ(c.engine.end, RunEnd::MissingSecondary);
    EXPECT_EQ(c.engine.message(), c.state.runLog.substr(1));
    EXPECT_EQ(c.state.runLog.front(), '\n');
    EXPECT_NE(c.engine.message().find(nativePath("/tiles/N47E011.hgt") + " im Sekundärordner gefunden"),
              std::string::npos);
    EXPECT_EQ(c.lines, std::vector<std::string>{c.engine.message()});
}

} // namespace merge_tile_test
} // namespace hgt::test

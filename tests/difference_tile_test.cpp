// The difference tile against a plain reference of the sample rule: on a full-size tile, and on 3"
// tiles where the walk is the same.

#include "tiles/tile_error.h"
#include "tiles/tile_format.h"
#include "app/window_state.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "tiles/internal/sample_kernels.h"
#include "tiles/internal/tile_walk.h"
#include "tests/support/reference_fill.h"
#include "tests/support/fake_host.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace hgt::test {
namespace difference_tile_test {

class DifferenceTileTest : public ::testing::Test {
protected:
    TileResult run(const Bytes& primaryTile, const Bytes& comparisonTile)
    {
        writeBytes(primary, primaryTile);
        writeBytes(comparison, comparisonTile);
        return MakeDifferenceTile(state, host, primary, comparison, quickOptions());
    }

    TempFolder temp;
    std::string primary = temp / "tiles/N47E011.hgt";
    std::string comparison = temp / "other/N47E011.hgt";
    std::string output = temp / "tiles/DIFFS/N47E011.hgt";
    WindowState state;
    FakeHost host{state, RunKind::Difference};
};

TEST_F(DifferenceTileTest, BytePairsVoidsAndSaturationOverAFullTile)
{
    Bytes p = plainTile(1);
    Bytes c = plainTile(2);
    // The byte-pair table: 01 00 - 00 01, 00 00 - 00 01, 00 00 - 7F FF, 7F FF - 00 00, 12 34 - 12 34.
    const std::uint8_t table[][4] = {{0x01, 0x00, 0x00, 0x01},
                                     {0x00, 0x00, 0x00, 0x01},
                                     {0x00, 0x00, 0x7F, 0xFF},
                                     {0x7F, 0xFF, 0x00, 0x00},
                                     {0x12, 0x34, 0x12, 0x34}};
    for (std::int64_t k = 0; k < 5; ++k) {
        setSample(p, k, table[k][0], table[k][1]);
        setSample(c, k, table[k][2], table[k][3]);
    }
    // Voids, negative heights, saturation at both ends, and the last sample of the tile.
    const std::int32_t cases[][2] = {{-9999, 100},    {100, -9999},    {-9999, -9999}, {-32768, 1}, {32767, -1},
                                     {-32768, 32767}, {32767, -32768}, {-100, 50},     {-32768, 0}, {5, -9998}};
    for (std::int64_t i = 0; i < 10; ++i) {
        setValue(p, 100 + i, cases[i][0]);
        setValue(c, 100 + i, cases[i][1]);
    }
    setValue(p, kTileSamples - 1, -9999);

    ASSERT_EQ(run(p, c).end, RunEnd::Complete);
    const Bytes out = readBytes(output);
    EXPECT_TRUE(sameTile(out, DifferenceTile(p, c)));

    const std::uint8_t expected[][2] = {{0x00, 0xFF}, {0xFF, 0xFF}, {0x80, 0x01}, {0x7F, 0xFF}, {0x00, 0x00}};
    for (std::int64_t k = 0; k < 5; ++k) {
        EXPECT_EQ(out[2 * k], expected[k][0]) << k;
        EXPECT_EQ(out[2 * k + 1], expected[k][1]) << k;
    }
    const std::int32_t results[] = {-9999, -9999, -9999, -32768, 32767, -32768, 32767, -150, -32768, 10003};
    for (std::int64_t i = 0; i < 10; ++i)
        EXPECT_EQ(sampleAt(out, 100 + i), results[i]) << i;
    EXPECT_EQ(sampleAt(out, kTileSamples - 1), -9999);
    EXPECT_EQ(readBytes(primary), p); // inputs only read
    EXPECT_EQ(readBytes(comparison), c);
}

// The subtraction runs as AVX2, SSE2 or plain code depending on the processor: each must give the
// difference rule's bytes and void count, for any length and alignment, at the extremes of the
// range and with voids in either input.
TEST(DifferenceKernels, EveryPathGivesTheRulesBytesAndVoidCount)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, 9);
    std::uniform_int_distribution<int> any(-32768, 32767);
    auto value = [&] {
        switch (pick(random)) {
        case 0:
            return -9999;
        case 1:
            return -32768;
        case 2:
            return 32767;
        case 3:
            return -1;
        default:
            return any(random);
        }
    };
    for (const std::size_t samples : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 31u, 32u, 33u, 100u, 1000u}) {
        for (const std::size_t shift : {0u, 1u, 2u}) { // the buffers' alignment
            Bytes primary(2 * samples + shift), comparison(2 * samples + shift);
            for (std::size_t i = 0; i < samples; ++i) {
                const auto put = [&](Bytes& b, int v) {
                    b[shift + 2 * i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8);
                    b[shift + 2 * i + 1] = static_cast<std::uint8_t>(v & 0xFF);
                };
                put(primary, value());
                put(comparison, value());
            }
            Bytes expected(primary.begin() + static_cast<std::ptrdiff_t>(shift), primary.end());
            std::size_t expectedVoids = 0;
            for (std::size_t i = 0; i < samples; ++i) {
                const auto at = [&](const Bytes& b) {
                    return static_cast<std::int16_t>(b[shift + 2 * i] << 8 | b[shift + 2 * i + 1]);
                };
                const bool isVoid = at(primary) == -9999 || at(comparison) == -9999;
                expectedVoids += isVoid;
                const std::int32_t d = isVoid ? -9999 : std::clamp(at(primary) - at(comparison), -32768, 32767);
                setValue(expected, static_cast<std::int64_t>(i), d);
            }
            for (const KernelPath path : {KernelPath::Best, KernelPath::Baseline, KernelPath::Portable}) {
                Bytes out = primary;
                const std::size_t voids =
                    SubtractSamples(out.data() + shift, comparison.data() + shift, 2 * samples, path);
                EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(shift), out.end()), expected)
                    << samples << " samples, shift " << shift << ", path " << static_cast<int>(path);
                EXPECT_EQ(voids, expectedVoids) << samples << " samples, path " << static_cast<int>(path);
            }
        }
    }
}

TEST_F(DifferenceTileTest, ACopyMinusItsTileIsZeroButTheTileItselfIsRefused)
{
    const Bytes p = plainTile(4, kTileSide3);
    ASSERT_EQ(run(p, p).end, RunEnd::Complete);
    EXPECT_TRUE(sameTile(readBytes(output), Bytes(static_cast<std::size_t>(kTileBytes3), 0)));
    EXPECT_EQ(state.posHigh, 2884803);

    // The primary itself, also under another name (a hard link), is no comparison.
    std::filesystem::remove_all(temp / "tiles/DIFFS");
    std::filesystem::create_hard_link(primary, temp / "other/link.hgt");
    for (const std::string& same : {primary, temp / "other/link.hgt"}) {
        const TileResult result = MakeDifferenceTile(state, host, primary, same, quickOptions());
        EXPECT_EQ(result.end, RunEnd::Failed);
        EXPECT_EQ(errorKind(result), TileErrorKind::SameFile);
        EXPECT_NE(result.message().find(same), std::string::npos) << result.message();
        EXPECT_NE(result.message().find(primary + " selbst"), std::string::npos) << result.message();
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

TEST_F(DifferenceTileTest, ProgressLineFollowsTheCurrentLineIndex)
{
    {
        SCOPED_TRACE("unset: line 0");
        ASSERT_EQ(run(plainTile(1, kTileSide3), plainTile(2, kTileSide3)).end, RunEnd::Complete);
        EXPECT_EQ(host.lines, std::vector<std::string>{"2800027 Bytes verarbeitet."});
        EXPECT_FALSE(state.logIndex.isSet());
        EXPECT_EQ(state.statusText, "2800027 Bytes verarbeitet.");
    }
    {
        SCOPED_TRACE("-1 after a refused batch: nothing");
        host.lines.clear();
        state.logIndex.set(-1);
        ASSERT_EQ(MakeDifferenceTile(state, host, primary, comparison, quickOptions()).end, RunEnd::Complete);
        EXPECT_TRUE(host.lines.empty());
    }
    {
        SCOPED_TRACE("after a batch of three: the last fill's line");
        host.lines = {"a", "b", "c"};
        state.logIndex.set(2);
        ASSERT_EQ(MakeDifferenceTile(state, host, primary, comparison, quickOptions()).end, RunEnd::Complete);
        EXPECT_EQ(host.lines, (std::vector<std::string>{"a", "b", "2800027 Bytes verarbeitet."}));
        EXPECT_EQ(state.logIndex.index(), 2);
    }
}

TEST_F(DifferenceTileTest, StopTestComesBeforeTheReport)
{
    // STOP pressed in the yield of the first report sample ends the run before that report.
    host.onYield = [&] {
        if (state.posHigh == 200001)
            state.stopRequested = true;
    };
    writeBytes(output, {1, 2, 3});
    EXPECT_EQ(run(plainTile(1, kTileSide3), plainTile(2, kTileSide3)).end, RunEnd::Stopped);
    EXPECT_TRUE(host.lines.empty());
    EXPECT_EQ(state.posHigh, 200001);
    EXPECT_EQ(readBytes(output), (Bytes{1, 2, 3}));
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(temp / "tiles/DIFFS"), std::filesystem::directory_iterator()),
        1);
}

TEST_F(DifferenceTileTest, RefusedComparisonCreatesNothing)
{
    writeBytes(primary, plainTile(1, kTileSide3));
    TileResult result = MakeDifferenceTile(state, host, primary, temp / "other/none.hgt", quickOptions());
    EXPECT_EQ(result.end, RunEnd::Failed);
    EXPECT_NE(result.message().find(nativePath("other/none.hgt")), std::string::npos);

    writeBytes(comparison, Bytes(100, 0));
    result = MakeDifferenceTile(state, host, primary, comparison, quickOptions());
    EXPECT_EQ(result.end, RunEnd::Failed);
    EXPECT_NE(
        result.message().find("ist kein HGT-File (100 Bytes statt 25934402 Bytes für 1″ oder 2884802 Bytes für 3″)"),
        std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/DIFFS"));
    EXPECT_TRUE(host.lines.empty());
}

TEST_F(DifferenceTileTest, FailingFolderOrOutputNamesTheFile)
{
    writeBytes(temp / "tiles/DIFFS", {1});
    TileResult result = run(plainTile(1, kTileSide3), plainTile(2, kTileSide3));
    EXPECT_EQ(result.end, RunEnd::Failed);
    EXPECT_NE(result.message().find("DIFFS kann nicht angelegt werden"), std::string::npos);

    std::filesystem::remove(temp / "tiles/DIFFS");
    std::filesystem::create_directories(output + "/x");
    result = MakeDifferenceTile(state, host, primary, comparison, quickOptions());
    EXPECT_EQ(result.end, RunEnd::Failed);
    EXPECT_NE(result.message().find(nativePath("DIFFS/N47E011.hgt") + " kann nicht geschrieben werden"),
              std::string::npos);
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(temp / "tiles/DIFFS"), std::filesystem::directory_iterator()),
        1);
}

} // namespace difference_tile_test
} // namespace hgt::test

// The offset-bridging fill, judged by what it is for: a filler that sits metres above the truth
// must leave far smaller errors in the voids, and no step at their edges, than the plain copy.

#include "tests/support/reference_fill.h"
#include "tests/support/tiles.h"
#include "tiles/tile_format.h"
#include "app/window_state.h"
#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace hgt::test {
namespace delta_fill_test {

struct Terrain {
    std::int64_t side = 0;
    std::vector<double> truth;
    Bytes primary;
    Bytes filler;
    std::vector<bool> isVoid;
};

// Hills of several wavelengths; voids in round blobs (about 9 %); the filler is the truth plus a
// smooth offset of 4 to 14 m, noise of about 1 m, and a slight 3 x 3 smoothing. A 3" grid: the
// fill takes the same path on either, and a 1" terrain costs seconds under the sanitizers.
Terrain makeTerrain(std::uint32_t seed, std::int64_t side = kTileSide3)
{
    const std::int64_t samples = side * side;
    Terrain t;
    t.side = side;
    t.truth.resize(static_cast<std::size_t>(samples));
    for (std::int64_t r = 0; r < side; ++r)
        for (std::int64_t c = 0; c < side; ++c) {
            const double x = static_cast<double>(c), y = static_cast<double>(r);
            t.truth[static_cast<std::size_t>(r * side + c)] =
                900 + 400 * std::sin(x / 410.0 + seed) * std::cos(y / 370.0) + 60 * std::sin(x / 53.0 + y / 71.0)
                + 15 * std::cos(x / 13.0 - y / 17.0 + seed);
        }
    std::mt19937 random(seed);
    t.isVoid.assign(static_cast<std::size_t>(samples), false);
    std::uniform_int_distribution<std::int64_t> where(0, side - 1);
    std::uniform_int_distribution<std::int64_t> radius(4, 45);
    std::int64_t voids = 0;
    while (voids < samples * 9 / 100) {
        const std::int64_t cr = where(random), cc = where(random), rad = radius(random);
        for (std::int64_t r = std::max<std::int64_t>(0, cr - rad); r <= std::min(side - 1, cr + rad); ++r)
            for (std::int64_t c = std::max<std::int64_t>(0, cc - rad); c <= std::min(side - 1, cc + rad); ++c)
                if ((r - cr) * (r - cr) + (c - cc) * (c - cc) <= rad * rad
                    && !t.isVoid[static_cast<std::size_t>(r * side + c)]) {
                    t.isVoid[static_cast<std::size_t>(r * side + c)] = true;
                    ++voids;
                }
    }
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> rough(t.truth.size());
    for (std::int64_t r = 0; r < side; ++r)
        for (std::int64_t c = 0; c < side; ++c) {
            const double offset =
                9.0 + 5.0 * std::sin(static_cast<double>(c) / 900.0) * std::cos(static_cast<double>(r) / 700.0);
            rough[static_cast<std::size_t>(r * side + c)] =
                t.truth[static_cast<std::size_t>(r * side + c)] + offset + noise(random);
        }
    t.primary.resize(static_cast<std::size_t>(samples * 2));
    t.filler.resize(static_cast<std::size_t>(samples * 2));
    for (std::int64_t r = 0; r < side; ++r)
        for (std::int64_t c = 0; c < side; ++c) {
            double sum = 0;
            int n = 0;
            for (std::int64_t y = std::max<std::int64_t>(0, r - 1); y <= std::min(side - 1, r + 1); ++y)
                for (std::int64_t x = std::max<std::int64_t>(0, c - 1); x <= std::min(side - 1, c + 1); ++x, ++n)
                    sum += rough[static_cast<std::size_t>(y * side + x)];
            const std::int64_t k = r * side + c;
            setValue(t.filler, k, static_cast<std::int32_t>(std::lround(sum / n)));
            setValue(t.primary, k,
                     t.isVoid[static_cast<std::size_t>(k)]
                         ? -9999
                         : static_cast<std::int32_t>(std::lround(t.truth[static_cast<std::size_t>(k)])));
        }
    return t;
}

struct Errors {
    double rms = 0;     // over every void sample
    double edgeRms = 0; // over void samples that touch a valid sample
};

Errors errorsOf(const Terrain& t, const Bytes& out)
{
    const std::int64_t side = t.side;
    double sum = 0, edgeSum = 0;
    std::int64_t n = 0, edges = 0;
    for (std::int64_t r = 0; r < side; ++r)
        for (std::int64_t c = 0; c < side; ++c) {
            const std::int64_t k = r * side + c;
            if (!t.isVoid[static_cast<std::size_t>(k)])
                continue;
            const double e = sampleAt(out, k) - t.truth[static_cast<std::size_t>(k)];
            sum += e * e;
            ++n;
            bool edge = false;
            for (std::int64_t y = std::max<std::int64_t>(0, r - 1); y <= std::min(side - 1, r + 1); ++y)
                for (std::int64_t x = std::max<std::int64_t>(0, c - 1); x <= std::min(side - 1, c + 1); ++x)
                    edge = edge || !t.isVoid[static_cast<std::size_t>(y * side + x)];
            if (edge) {
                edgeSum += e * e;
                ++edges;
            }
        }
    return {std::sqrt(sum / static_cast<double>(n)), std::sqrt(edgeSum / static_cast<double>(edges))};
}

TEST(DeltaFill, BridgesTheOffsetFarBetterThanTheCopyAndKeepsValidSamples)
{
    TempFolder temp;
    const Terrain t = makeTerrain(3);
    writeBytes(temp / "tiles/N47E011.hgt", t.primary);
    writeBytes(temp / "filler/N47E011.hgt", t.filler);

    WindowState state;
    QuietHost host;
    RunOptions copy = quickOptions();
    const TileResult copied = MergeTile(state, host, temp / "tiles/N47E011.hgt", temp / "filler", copy);
    ASSERT_EQ(copied.end, RunEnd::Complete) << copied.message();
    const Bytes copyOut = readBytes(temp / "tiles/Merged/N47E011.hgt");
    EXPECT_TRUE(sameTile(copyOut, FilledTile(t.primary, t.filler))); // the copy method is the plain rule

    RunOptions delta = quickOptions();
    delta.method = FillMethod::Delta;
    const TileResult bridged = MergeTile(state, host, temp / "tiles/N47E011.hgt", temp / "filler", delta);
    ASSERT_EQ(bridged.end, RunEnd::Complete) << bridged.message();
    const Bytes deltaOut = readBytes(temp / "tiles/Merged/N47E011.hgt");

    const Errors copyErrors = errorsOf(t, copyOut);
    const Errors deltaErrors = errorsOf(t, deltaOut);
    std::printf("RMS over voids: copy %.2f m, delta %.2f m; next to the edges: copy %.2f m, delta %.2f m\n",
                copyErrors.rms, deltaErrors.rms, copyErrors.edgeRms, deltaErrors.edgeRms);
    EXPECT_LT(deltaErrors.rms, copyErrors.rms / 3);
    EXPECT_LT(deltaErrors.edgeRms, copyErrors.edgeRms / 3);

    for (std::int64_t k = 0; k < t.side * t.side; ++k) {
        if (!t.isVoid[static_cast<std::size_t>(k)]) {
            ASSERT_EQ(sampleAt(deltaOut, k), sampleAt(t.primary, k)) << "valid sample " << k << " changed";
        }
    }
    EXPECT_EQ(bridged.voidsFound, copied.voidsFound);
    EXPECT_EQ(bridged.voidsLeft, 0);
    ASSERT_TRUE(bridged.offsets);
    EXPECT_GT(bridged.offsets->rimSamples, 0);
    // The filler sits 4 to 14 m too high: the median offset is negative and says so.
    EXPECT_LT(bridged.offsets->median, -5.0);
    EXPECT_NE(bridged.warning.find("Höhenversatz der Quelle: Median -"), std::string::npos) << bridged.warning;
}

// Heights on a grid of any side, smooth enough that a source off by a constant is the only
// difference to bridge.
Bytes heights(std::int64_t side, std::int32_t offset = 0)
{
    Bytes tile(static_cast<std::size_t>(side * side * 2));
    for (std::int64_t r = 0; r < side; ++r)
        for (std::int64_t c = 0; c < side; ++c)
            setValue(tile, r * side + c, static_cast<std::int32_t>(500 + (r * 3 + c * 5) % 700) + offset);
    return tile;
}

// Voids in every place the fill keeps apart: the four corners, along every edge, blobs that cross
// the words of a row's bits (columns 60-70, 120-135), a region wider than a word, lone samples.
std::vector<std::int64_t> voidsAllOver(std::int64_t side)
{
    std::vector<std::int64_t> at;
    auto box = [&](std::int64_t r0, std::int64_t r1, std::int64_t c0, std::int64_t c1) {
        for (std::int64_t r = std::max<std::int64_t>(0, r0); r <= std::min(side - 1, r1); ++r)
            for (std::int64_t c = std::max<std::int64_t>(0, c0); c <= std::min(side - 1, c1); ++c)
                at.push_back(r * side + c);
    };
    box(0, 4, 0, 6);
    box(0, 2, side - 9, side - 1);
    box(side - 5, side - 1, 0, 3);
    box(side - 3, side - 1, side - 70, side - 1);
    box(10, 14, side - 1, side - 1);
    box(200, 260, 60, 70);
    box(300, 302, 120, 135);
    box(400, 480, 100, 300);
    for (std::int64_t k = 5000; k < side * side; k += 7919)
        at.push_back(k);
    std::sort(at.begin(), at.end());
    at.erase(std::unique(at.begin(), at.end()), at.end());
    return at;
}

struct DeltaRun {
    TileResult result;
    Bytes out;
};

DeltaRun deltaFill(TempFolder& temp, const Bytes& primary, const std::vector<Bytes>& sources,
                   RunOptions options = quickOptions())
{
    writeBytes(temp / "tiles/N47E011.hgt", primary);
    for (std::size_t s = 0; s < sources.size(); ++s)
        writeBytes(temp / ("source" + std::to_string(s) + "/N47E011.hgt"), sources[s]);
    options.method = FillMethod::Delta;
    for (std::size_t s = 0; s < sources.size(); ++s)
        options.sources.push_back({temp / ("source" + std::to_string(s)), nullptr});
    WindowState state;
    QuietHost host;
    DeltaRun run{MergeTile(state, host, temp / "tiles/N47E011.hgt", temp / "source0", options), {}};
    if (run.result.end == RunEnd::Complete)
        run.out = readBytes(temp / "tiles/Merged/N47E011.hgt");
    return run;
}

// A source off by a constant has that constant as its offset at every rim sample: the bridged
// fill gives back the true heights exactly, wherever the voids lie, on either grid.
TEST(DeltaFillCases, ConstantOffsetIsBridgedExactlyAtEdgesCornersAndWordBoundaries)
{
    for (const std::int64_t side : {kTileSide, kTileSide3}) {
        SCOPED_TRACE(side);
        TempFolder temp;
        const Bytes truth = heights(side);
        Bytes primary = truth;
        const std::vector<std::int64_t> voids = voidsAllOver(side);
        for (std::int64_t k : voids)
            setValue(primary, k, -9999);
        const DeltaRun run = deltaFill(temp, primary, {heights(side, 37)});
        ASSERT_EQ(run.result.end, RunEnd::Complete) << run.result.message();
        EXPECT_TRUE(sameTile(run.out, truth));
        EXPECT_EQ(run.result.voidsFound, static_cast<std::int64_t>(voids.size()));
        EXPECT_EQ(run.result.voidsLeft, 0);
        ASSERT_TRUE(run.result.offsets);
        EXPECT_EQ(run.result.offsets->median, -37.0);
        EXPECT_EQ(run.result.offsets->interquartileRange, 0.0);
    }
}

// Each source's part of a region is bridged by that source's own offsets; a void that no source
// has keeps its own value; a tile that is all void has no rim and takes the filler as it is.
TEST(DeltaFillCases, SeveralSourcesUnfilledVoidsAndNoRim)
{
    const std::int64_t side = kTileSide3;
    const Bytes truth = heights(side);
    Bytes primary = truth;
    for (std::int64_t k : voidsAllOver(side))
        setValue(primary, k, -32768);
    setValue(primary, 1000 * side + 1000, -32767); // a void of the other kind
    Bytes first = heights(side, 12);
    for (std::int64_t r = 380; r < 440; ++r) // the first source lacks the upper part of the wide region
        for (std::int64_t c = 0; c < side; ++c)
            setValue(first, r * side + c, -32768);
    setValue(first, 1000 * side + 1000, -32767);
    Bytes second = heights(side, -25);
    setValue(second, 1000 * side + 1000, -32768);
    RunOptions options = quickOptions();
    options.voidValues = {-32768, -32767};
    TempFolder temp;
    const DeltaRun run = deltaFill(temp, primary, {first, second}, options);
    ASSERT_EQ(run.result.end, RunEnd::Complete) << run.result.message();
    Bytes expected = truth;
    setValue(expected, 1000 * side + 1000, -32767);
    EXPECT_TRUE(sameTile(run.out, expected));
    EXPECT_EQ(run.result.voidsLeft, 1);
    ASSERT_EQ(run.result.filledBySource.size(), 2u);
    EXPECT_GT(run.result.filledBySource[1], 0);
    EXPECT_EQ(run.result.filledBySource[0] + run.result.filledBySource[1] + 1, run.result.voidsFound);

    Bytes voidTile(static_cast<std::size_t>(kTileBytes3));
    for (std::int64_t k = 0; k < side * side; ++k)
        setValue(voidTile, k, -9999);
    TempFolder allVoid;
    const DeltaRun filler = deltaFill(allVoid, voidTile, {heights(side, 5)});
    ASSERT_EQ(filler.result.end, RunEnd::Complete) << filler.result.message();
    EXPECT_TRUE(sameTile(filler.out, heights(side, 5)));
    ASSERT_TRUE(filler.result.offsets);
    EXPECT_EQ(filler.result.offsets->rimSamples, 0);
}

// The regions are bridged on two threads when a run has a core to spare, on one in a batch with
// several tiles in flight: the outputs and the offset statistics are the same either way.
TEST(DeltaFillCases, SameOutputAndStatisticsWithAndWithoutAHelperThread)
{
    const Terrain t = makeTerrain(5);
    Bytes second = t.filler;
    for (std::int64_t k = 0; k < t.side * t.side; k += 3) // a second source with other offsets
        setValue(second, k, sampleAt(second, k) - 40);
    Bytes first = t.filler;
    for (std::int64_t r = 330; r < 600; ++r)
        for (std::int64_t c = 0; c < t.side; ++c)
            setValue(first, r * t.side + c, -9999);

    TempFolder temp;
    const DeltaRun single = deltaFill(temp, t.primary, {first, second});
    ASSERT_EQ(single.result.end, RunEnd::Complete) << single.result.message();

    // The same tile twice in a batch of two in flight: each worker bridges on its own thread only.
    TempFolder batchFolder;
    writeBytes(batchFolder / "a/N47E011.hgt", t.primary);
    writeBytes(batchFolder / "b/N47E011.hgt", t.primary);
    writeBytes(batchFolder / "source0/N47E011.hgt", first);
    writeBytes(batchFolder / "source1/N47E011.hgt", second);
    RunOptions options = quickOptions();
    options.method = FillMethod::Delta;
    options.jobs = 2;
    options.sources = FolderSources({batchFolder / "source0", batchFolder / "source1"});
    WindowState state;
    QuietHost host;
    const BatchResult batch = MergeTiles(state, host, {batchFolder / "a/N47E011.hgt", batchFolder / "b/N47E011.hgt"},
                                         batchFolder / "source0", options);
    ASSERT_EQ(batch.tiles.size(), 2u);
    for (const TileResult& tile : batch.tiles) {
        ASSERT_EQ(tile.end, RunEnd::Complete) << tile.message();
        ASSERT_TRUE(tile.offsets);
        EXPECT_EQ(tile.offsets->median, single.result.offsets->median);
        EXPECT_EQ(tile.offsets->interquartileRange, single.result.offsets->interquartileRange);
        EXPECT_EQ(tile.offsets->rimSamples, single.result.offsets->rimSamples);
        EXPECT_EQ(tile.filledBySource, single.result.filledBySource);
    }
    EXPECT_TRUE(sameTile(readBytes(batchFolder / "a/Merged/N47E011.hgt"), single.out));
    EXPECT_TRUE(sameTile(readBytes(batchFolder / "b/Merged/N47E011.hgt"), single.out));
}

} // namespace delta_fill_test
} // namespace hgt::test

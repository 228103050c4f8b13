// The offset-bridging fill, judged by what it is for: a filler that sits metres above the truth
// must leave far smaller errors in the voids, and no step at their edges, than the plain copy.

#include "tests/test_support.h"
#include "tests/tile_rules.h"
#include "tiles/engine.h"

#include <gtest/gtest.h>

#include <cmath>

namespace hgt::test {
namespace {

struct Terrain {
    std::vector<double> truth;
    Bytes primary;
    Bytes filler;
    std::vector<bool> isVoid;
};

// Hills of several wavelengths; voids in round blobs (about 9 %); the filler is the truth plus a
// smooth offset of 4 to 14 m, noise of about 1 m, and a slight 3 x 3 smoothing.
Terrain makeTerrain(std::uint32_t seed)
{
    const std::int64_t side = kTileSide;
    Terrain t;
    t.truth.resize(static_cast<std::size_t>(kTileSamples));
    for (std::int64_t r = 0; r < side; ++r)
        for (std::int64_t c = 0; c < side; ++c) {
            const double x = static_cast<double>(c), y = static_cast<double>(r);
            t.truth[static_cast<std::size_t>(r * side + c)] = 900 + 400 * std::sin(x / 410.0 + seed) * std::cos(y / 370.0)
                                                              + 60 * std::sin(x / 53.0 + y / 71.0)
                                                              + 15 * std::cos(x / 13.0 - y / 17.0 + seed);
        }
    std::mt19937 random(seed);
    t.isVoid.assign(static_cast<std::size_t>(kTileSamples), false);
    std::uniform_int_distribution<std::int64_t> where(0, side - 1);
    std::uniform_int_distribution<std::int64_t> radius(4, 45);
    std::int64_t voids = 0;
    while (voids < kTileSamples * 9 / 100) {
        const std::int64_t cr = where(random), cc = where(random), rad = radius(random);
        for (std::int64_t r = std::max<std::int64_t>(0, cr - rad); r <= std::min(side - 1, cr + rad); ++r)
            for (std::int64_t c = std::max<std::int64_t>(0, cc - rad); c <= std::min(side - 1, cc + rad); ++c)
                if ((r - cr) * (r - cr) + (c - cc) * (c - cc) <= rad * rad && !t.isVoid[static_cast<std::size_t>(r * side + c)]) {
                    t.isVoid[static_cast<std::size_t>(r * side + c)] = true;
                    ++voids;
                }
    }
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> rough(t.truth.size());
    for (std::int64_t r = 0; r < side; ++r)
        for (std::int64_t c = 0; c < side; ++c) {
            const double offset = 9.0 + 5.0 * std::sin(static_cast<double>(c) / 900.0) * std::cos(static_cast<double>(r) / 700.0);
            rough[static_cast<std::size_t>(r * side + c)] = t.truth[static_cast<std::size_t>(r * side + c)] + offset + noise(random);
        }
    t.primary.resize(static_cast<std::size_t>(kTileBytes));
    t.filler.resize(static_cast<std::size_t>(kTileBytes));
    for (std::int64_t r = 0; r < side; ++r)
        for (std::int64_t c = 0; c < side; ++c) {
            double sum = 0;
            int n = 0;
            for (std::int64_t y = std::max<std::int64_t>(0, r - 1); y <= std::min(side - 1, r + 1); ++y)
                for (std::int64_t x = std::max<std::int64_t>(0, c - 1); x <= std::min(side - 1, c + 1); ++x, ++n)
                    sum += rough[static_cast<std::size_t>(y * side + x)];
            const std::int64_t k = r * side + c;
            setValue(t.filler, k, static_cast<std::int32_t>(std::lround(sum / n)));
            setValue(t.primary, k, t.isVoid[static_cast<std::size_t>(k)] ? -9999
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
    const std::int64_t side = kTileSide;
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
    RunOptions copy;
    const TileResult copied = MergeTile(state, host, temp / "tiles/N47E011.hgt", temp / "filler", copy);
    ASSERT_EQ(copied.end, RunEnd::Complete) << copied.message;
    const Bytes copyOut = readBytes(temp / "tiles/Merged/N47E011.hgt");
    EXPECT_TRUE(copyOut == FilledTile(t.primary, t.filler)); // the copy method is the plain rule

    RunOptions delta;
    delta.method = FillMethod::Delta;
    const TileResult bridged = MergeTile(state, host, temp / "tiles/N47E011.hgt", temp / "filler", delta);
    ASSERT_EQ(bridged.end, RunEnd::Complete) << bridged.message;
    const Bytes deltaOut = readBytes(temp / "tiles/Merged/N47E011.hgt");

    const Errors copyErrors = errorsOf(t, copyOut);
    const Errors deltaErrors = errorsOf(t, deltaOut);
    std::printf("RMS over voids: copy %.2f m, delta %.2f m; next to the edges: copy %.2f m, delta %.2f m\n",
                copyErrors.rms, deltaErrors.rms, copyErrors.edgeRms, deltaErrors.edgeRms);
    EXPECT_LT(deltaErrors.rms, copyErrors.rms / 3);
    EXPECT_LT(deltaErrors.edgeRms, copyErrors.edgeRms / 3);

    for (std::int64_t k = 0; k < kTileSamples; ++k) {
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

} // namespace
} // namespace hgt::test

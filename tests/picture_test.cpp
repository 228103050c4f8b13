// Pictures of tiles: the colour rules at their edges, the figures against plain reference
// computations on sorted values, and which sample each pixel shows.

#include "tiles/tile_error.h"
#include "tiles/tile_format.h"
#include "tiles/tile_info.h"
#include "pictures/internal/picture_rules.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <numbers>

namespace hgt::test {
namespace picture_test {

using Height = std::function<std::int32_t(int row, int column)>;

int red(std::uint32_t c)
{
    return static_cast<int>(c >> 16 & 0xFF);
}
int green(std::uint32_t c)
{
    return static_cast<int>(c >> 8 & 0xFF);
}
int blue(std::uint32_t c)
{
    return static_cast<int>(c & 0xFF);
}
int lightness(std::uint32_t c)
{
    return red(c) + green(c) + blue(c);
}

TileSamples samplesOf(int side, const Height& height, std::string name = "N47E011.hgt")
{
    TileSamples samples;
    samples.name = std::move(name);
    samples.side = side;
    samples.values.resize(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c)
            samples.values[static_cast<std::size_t>(r) * side + c] = static_cast<std::int16_t>(height(r, c));
    return samples;
}

TilePicture draw(const TileSamples& samples, PictureKind kind, int size = 0)
{
    return TileRenderer(samples, SummarizeTile(samples, kind), size).render();
}

// Differences that a transposed or shifted picture would not reproduce, with a void every so often.
std::int32_t ripple(int r, int c)
{
    if ((r * 31 + c * 17) % 97 == 0)
        return kVoidValue;
    return (r * 7 + c * 13) % 61 - 30;
}

TEST(PictureColours, DifferenceMapAtTheEdgesOfItsRange)
{
    for (double clip : {0.5, 1.0, 7.3, 250.0}) {
        SCOPED_TRACE(clip);
        EXPECT_EQ(DifferenceColour(0, clip), kDifferenceZeroColour);
        EXPECT_EQ(DifferenceColour(clip, clip), kDifferenceHighColour);
        EXPECT_EQ(DifferenceColour(-clip, clip), kDifferenceLowColour);
        EXPECT_EQ(DifferenceColour(3 * clip, clip), kDifferenceHighColour);
        EXPECT_EQ(DifferenceColour(-1e9, clip), kDifferenceLowColour);
        // From white towards each end without turning back.
        std::uint32_t previousHigh = kDifferenceZeroColour, previousLow = kDifferenceZeroColour;
        for (int step = 1; step <= 20; ++step) {
            const std::uint32_t high = DifferenceColour(clip * step / 20, clip);
            const std::uint32_t low = DifferenceColour(-clip * step / 20, clip);
            EXPECT_LE(green(high), green(previousHigh));
            EXPECT_LE(blue(high), blue(previousHigh));
            EXPECT_LE(red(low), red(previousLow));
            EXPECT_LE(green(low), green(previousLow));
            previousHigh = high;
            previousLow = low;
        }
        EXPECT_GT(red(DifferenceColour(clip / 2, clip)), blue(DifferenceColour(clip / 2, clip)));
        EXPECT_GT(blue(DifferenceColour(-clip / 2, clip)), red(DifferenceColour(-clip / 2, clip)));
    }
    // No range at all: any difference but 0 is at an end, and nothing is undefined.
    for (double clip : {0.0, -4.0}) {
        EXPECT_EQ(DifferenceColour(0, clip), kDifferenceZeroColour);
        EXPECT_EQ(DifferenceColour(1, clip), kDifferenceHighColour);
        EXPECT_EQ(DifferenceColour(-1, clip), kDifferenceLowColour);
    }
    EXPECT_EQ(DifferenceColour(std::nan(""), 5), kDifferenceZeroColour);
}

TEST(PictureColours, HypsometricRampIsSmoothAndNeverTheVoidColour)
{
    for (int h = -32768; h <= 32767; ++h) {
        const std::uint32_t colour = HypsometricColour(h);
        ASSERT_EQ(colour >> 24, 0xFFu) << h;
        for (double light : {0.0, 0.3, std::numbers::sqrt2 / 2, 1.0})
            ASSERT_NE(ShadedColour(colour, light), kReliefVoidColour) << h << " lit " << light;
        if (h < 32767) {
            const std::uint32_t next = HypsometricColour(h + 1);
            ASSERT_LE(std::abs(red(next) - red(colour)), 1) << h;
            ASSERT_LE(std::abs(green(next) - green(colour)), 1) << h;
            ASSERT_LE(std::abs(blue(next) - blue(colour)), 1) << h;
        }
    }
    // Lowland, hills and summits look different.
    EXPECT_GT(green(HypsometricColour(100)), red(HypsometricColour(100)));
    EXPECT_GT(red(HypsometricColour(1200)), blue(HypsometricColour(1200)));
    EXPECT_GT(lightness(HypsometricColour(4500)), lightness(HypsometricColour(2000)));
}

TEST(PictureColours, HillshadeLitFromTheNorthWest)
{
    const double sin45 = std::numbers::sqrt2 / 2;
    EXPECT_NEAR(HillshadeFactor(0, 0), sin45, 1e-12);
    // 45° slopes: rising towards the south-east faces the light; towards the north-west turns away.
    EXPECT_NEAR(HillshadeFactor(sin45, -sin45), 1.0, 1e-12);
    EXPECT_NEAR(HillshadeFactor(-sin45, sin45), 0.0, 1e-12);
    EXPECT_EQ(HillshadeFactor(-5, 5), 0.0); // steeper still: dark, never negative
    // Across the light: facing north-east and south-west get the same light.
    EXPECT_NEAR(HillshadeFactor(-0.4, -0.4), HillshadeFactor(0.4, 0.4), 1e-12);
    EXPECT_GT(HillshadeFactor(0.5, 0), HillshadeFactor(-0.5, 0)); // west face lit, east face in shade
    EXPECT_GT(HillshadeFactor(0, -0.5), HillshadeFactor(0, 0.5)); // north face lit, south face in shade

    const std::uint32_t colour = HypsometricColour(1200);
    EXPECT_EQ(ShadedColour(colour, sin45), colour);
    EXPECT_LT(lightness(ShadedColour(colour, 0)), lightness(colour) / 2);
    EXPECT_GT(lightness(ShadedColour(colour, 1)), lightness(colour));
}

TEST(PictureColours, LatitudeFromTheTileName)
{
    EXPECT_EQ(TileLatitude("N47E011.hgt"), 47);
    EXPECT_EQ(TileLatitude("s12w077.hgt.zip"), -12);
    EXPECT_EQ(TileLatitude("N00W180.HGT"), 0);
    EXPECT_EQ(TileLatitude("N47X011.hgt"), std::nullopt);
    EXPECT_EQ(TileLatitude("N4E011.hgt"), std::nullopt);
    EXPECT_EQ(TileLatitude("tile.hgt"), std::nullopt);

    TileSamples samples = samplesOf(
        1201, [](int, int) { return 0; }, "N60E010.hgt");
    const SampleSpacing spacing = SpacingOf(samples);
    EXPECT_NEAR(spacing.north, 3 * 30.9, 0.1);
    EXPECT_NEAR(spacing.east, spacing.north * std::cos(60.5 * std::numbers::pi / 180), 1e-9);
    samples.name = "unnamed.hgt";
    EXPECT_EQ(SpacingOf(samples).east, SpacingOf(samples).north);
}

// The figures, computed the plain way: sort the non-void values and read them off.
struct Reference {
    std::vector<int> sorted;
    std::int64_t voids = 0;

    Reference(const TileSamples& samples)
    {
        for (std::int16_t v : samples.values) {
            if (samples.isVoid(v))
                ++voids;
            else
                sorted.push_back(v);
        }
        std::sort(sorted.begin(), sorted.end());
    }
    static double percentile(const std::vector<int>& x, double p)
    {
        const double h = (static_cast<double>(x.size()) - 1) * p;
        const auto i = static_cast<std::size_t>(h);
        return i + 1 < x.size() ? x[i] + (h - static_cast<double>(i)) * (x[i + 1] - x[i]) : x[i];
    }
    double mean() const
    {
        double sum = 0;
        for (int v : sorted)
            sum += v;
        return sum / static_cast<double>(sorted.size());
    }
    double rms() const
    {
        double sum = 0;
        for (int v : sorted)
            sum += static_cast<double>(v) * v;
        return std::sqrt(sum / static_cast<double>(sorted.size()));
    }
    double clip() const
    {
        std::vector<int> magnitudes;
        for (int v : sorted)
            magnitudes.push_back(std::abs(v));
        std::sort(magnitudes.begin(), magnitudes.end());
        return std::max(1.0, percentile(magnitudes, 0.98));
    }
};

struct Spread {
    const char* name;
    Height height;
};

void PrintTo(const Spread& spread, std::ostream* out)
{
    *out << spread.name;
}

class PictureStatistics : public ::testing::TestWithParam<Spread> {};

TEST_P(PictureStatistics, FiguresMatchTheSortedValues)
{
    const TileSamples samples = samplesOf(1201, GetParam().height);
    const TileSummary summary = SummarizeTile(samples, PictureKind::Difference);
    const Reference ref(samples);
    ASSERT_FALSE(ref.sorted.empty());

    EXPECT_EQ(summary.name, "N47E011.hgt");
    EXPECT_EQ(summary.arcSeconds, 3);
    EXPECT_EQ(summary.voids, ref.voids);
    EXPECT_DOUBLE_EQ(summary.voidPercent, 100.0 * static_cast<double>(ref.voids) / (1201.0 * 1201.0));
    EXPECT_EQ(summary.minimum, ref.sorted.front());
    EXPECT_EQ(summary.maximum, ref.sorted.back());
    EXPECT_NEAR(summary.mean, ref.mean(), 1e-9);
    ASSERT_TRUE(summary.difference);
    const DifferenceStats& d = *summary.difference;
    EXPECT_EQ(d.samples, static_cast<std::int64_t>(ref.sorted.size()));
    EXPECT_DOUBLE_EQ(d.median, Reference::percentile(ref.sorted, 0.5));
    EXPECT_DOUBLE_EQ(d.p2, Reference::percentile(ref.sorted, 0.02));
    EXPECT_DOUBLE_EQ(d.p98, Reference::percentile(ref.sorted, 0.98));
    EXPECT_NEAR(d.mean, ref.mean(), 1e-9);
    EXPECT_NEAR(d.rms, ref.rms(), 1e-9 * ref.rms());
    EXPECT_DOUBLE_EQ(d.clip, ref.clip());

    // Odd whole-metre bins, the middle one centred on 0, reaching past ±clip; every value counted once.
    const DifferenceHistogram& h = d.histogram;
    EXPECT_EQ(h.binWidth % 2, 1);
    EXPECT_EQ(h.counts.size() % 2, 1u);
    EXPECT_LE(h.counts.size(), 103u);
    EXPECT_EQ(h.lowest, -h.highest());
    EXPECT_LE(h.lowest, -d.clip);
    EXPECT_EQ(h.lowest + static_cast<int>(h.counts.size() / 2) * h.binWidth, -(h.binWidth - 1) / 2);
    std::vector<std::int64_t> counts(h.counts.size(), 0);
    std::int64_t below = 0, above = 0;
    for (int v : ref.sorted) {
        if (v < h.lowest)
            ++below;
        else if (v > h.highest())
            ++above;
        else
            ++counts[static_cast<std::size_t>((v - h.lowest) / h.binWidth)];
    }
    EXPECT_EQ(h.counts, counts);
    EXPECT_EQ(h.below, below);
    EXPECT_EQ(h.above, above);
}

// Deterministic noise for the spreads below.
std::int32_t noise(int r, int c, int range)
{
    const std::uint32_t k = static_cast<std::uint32_t>(r * 1201 + c) * 2654435761u;
    return static_cast<std::int32_t>((k >> 8) % static_cast<std::uint32_t>(2 * range + 1)) - range;
}

constexpr std::array<std::int32_t, 8> fewValues{250, -40, 12, 0, -3, 100, 5, 31};

INSTANTIATE_TEST_SUITE_P(
    Picture, PictureStatistics,
    ::testing::Values(Spread{"narrow", [](int r, int c) { return noise(r, c, 2); }},
                      Spread{"ripple_with_voids", ripple},
                      Spread{"wide_with_outliers",
                             [](int r, int c) { return c % 400 == 7 ? 30000 - r : noise(r, c, 800); }},
                      Spread{"one_sided", [](int r, int c) { return 5 + std::abs(noise(r, c, 40)); }},
                      Spread{"saturated", [](int r, int c) { return r < 600 ? -32768 : noise(r, c, 3000); }},
                      Spread{"all_but_one_void", [](int r, int c) { return r == 17 && c == 4 ? -12 : -9999; }},
                      // Few distinct values: the percentiles fall between ranks.
                      Spread{"seven_values", [](int r, int c) { return r == 5 && c < 7 ? fewValues[c] : -9999; }},
                      Spread{"eight_values", [](int r, int c) { return r == 5 && c < 8 ? fewValues[c] : -9999; }}),
    [](const ::testing::TestParamInfo<Spread>& info) { return std::string(info.param.name); });

TEST(PictureStatisticsOf, ReliefWithOtherVoidValues)
{
    // -9999 is a height when the run's voids are -32768 and -32767.
    TileSamples samples = samplesOf(1201, [](int r, int c) {
        return r == 3 ? -32768 : c == 5 ? -32767 : c == 9 ? -9999 : 200 + (r * c) % 1500;
    });
    samples.voidValues = {-32768, -32767};
    const TileSummary summary = SummarizeTile(samples, PictureKind::Relief);
    const Reference ref(samples);
    EXPECT_EQ(summary.voids, 1201 + 1200);
    EXPECT_EQ(summary.voids, ref.voids);
    EXPECT_EQ(summary.minimum, -9999);
    EXPECT_EQ(summary.maximum, ref.sorted.back());
    EXPECT_NEAR(summary.mean, ref.mean(), 1e-9);
    EXPECT_FALSE(summary.difference);
}

struct Plain {
    const char* name;
    std::int32_t value;
    PictureKind kind;
    std::uint32_t colour; // of every pixel
};

void PrintTo(const Plain& plain, std::ostream* out)
{
    *out << plain.name;
}

class PictureOfAPlainTile : public ::testing::TestWithParam<Plain> {};

// A constant or an all-void tile: no NaN, no division by zero, one colour throughout.
TEST_P(PictureOfAPlainTile, HasFiniteFiguresAndOneColour)
{
    const Plain& plain = GetParam();
    const TileSamples samples = samplesOf(1201, [&](int, int) { return plain.value; });
    const TileSummary summary = SummarizeTile(samples, plain.kind);
    const bool allVoid = plain.value == kVoidValue;
    EXPECT_EQ(summary.voids, allVoid ? 1201 * 1201 : 0);
    EXPECT_DOUBLE_EQ(summary.voidPercent, allVoid ? 100.0 : 0.0);
    EXPECT_EQ(summary.minimum.has_value(), !allVoid);
    EXPECT_DOUBLE_EQ(summary.mean, allVoid ? 0.0 : plain.value);
    if (plain.kind == PictureKind::Difference) {
        const DifferenceStats& d = summary.difference.value();
        for (double figure : {d.median, d.mean, d.rms, d.p2, d.p98, d.clip})
            EXPECT_TRUE(std::isfinite(figure));
        EXPECT_DOUBLE_EQ(d.median, allVoid ? 0 : plain.value);
        EXPECT_DOUBLE_EQ(d.rms, allVoid ? 0 : std::abs(plain.value));
        EXPECT_DOUBLE_EQ(d.clip, std::max(1, allVoid ? 0 : std::abs(plain.value)));
        std::int64_t counted = d.histogram.below + d.histogram.above;
        for (std::int64_t n : d.histogram.counts)
            counted += n;
        EXPECT_EQ(counted, d.samples);
    }
    for (int size : {0, 500}) {
        const TilePicture picture = draw(samples, plain.kind, size);
        EXPECT_EQ(picture.width, size ? size : 1201);
        EXPECT_EQ(std::count(picture.pixels.begin(), picture.pixels.end(), plain.colour),
                  static_cast<std::ptrdiff_t>(picture.pixels.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Picture, PictureOfAPlainTile,
    ::testing::Values(Plain{"relief_constant", 640, PictureKind::Relief, HypsometricColour(640)}, // flat: unshaded
                      Plain{"relief_all_void", -9999, PictureKind::Relief, kReliefVoidColour},
                      Plain{"difference_zero", 0, PictureKind::Difference, kDifferenceZeroColour},
                      Plain{"difference_constant", 7, PictureKind::Difference, kDifferenceHighColour},
                      Plain{"difference_constant_below", -1, PictureKind::Difference, kDifferenceLowColour},
                      Plain{"difference_all_void", -9999, PictureKind::Difference, kDifferenceVoidColour}),
    [](const ::testing::TestParamInfo<Plain>& info) { return std::string(info.param.name); });

TEST(PictureMapping, PixelToSample)
{
    for (int side : {1201, 3601})
        for (int p = 0; p < side; ++p)
            ASSERT_EQ(SampleOfPixel(p, side, side), p);
    for (int p = 0; p < 1201; ++p)
        ASSERT_EQ(SampleOfPixel(p, 3601, 1201), 3 * p);
    for (int pixels : {2, 3, 500, 3600, 3602, 5000}) {
        EXPECT_EQ(SampleOfPixel(0, 3601, pixels), 0);
        EXPECT_EQ(SampleOfPixel(pixels - 1, 3601, pixels), 3600);
        for (int p = 1; p < pixels; ++p) {
            const int step = SampleOfPixel(p, 3601, pixels) - SampleOfPixel(p - 1, 3601, pixels);
            ASSERT_GE(step, 0);
            ASSERT_LE(step, 3600 / (pixels - 1) + 1);
        }
    }
    EXPECT_EQ(SampleOfPixel(0, 3601, 1), 1800);
}

// Pixel (x, y) shows sample (row y, column x) at full size, (row 3y, column 3x) at 1201 pixels;
// tests/picture_file_test.cpp checks the colours of a difference picture through a PNG file.
TEST(PictureMapping, ReliefVoidsWhereTheSamplesAreVoid)
{
    const TileSamples samples =
        samplesOf(3601, [](int r, int c) { return ripple(r, c) == kVoidValue ? kVoidValue : 900 + r % 50 + c % 70; });
    for (const auto& [size, step] : {std::pair{0, 1}, std::pair{1201, 3}}) {
        const TilePicture picture = draw(samples, PictureKind::Relief, size);
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x)
                ASSERT_EQ(picture.at(x, y) == kReliefVoidColour, samples.at(step * y, step * x) == kVoidValue)
                    << "pixel " << x << ", " << y;
    }
}

// Terrain with gentle and steep slopes, cliffs and voids, for the shading rule.
std::int32_t mountains(int r, int c)
{
    if ((r / 40 + c / 55) % 9 == 4 && (r + c) % 40 < 12)
        return kVoidValue;
    const double x = c / 1200.0, y = r / 1200.0;
    double h = 1500 + 1200 * std::sin(5 * x + 1) * std::cos(4 * y) + 40 * std::sin(90 * x * y);
    if (c > 600 && c < 620)
        h += 900; // a wall: differences beyond any table of slopes
    return static_cast<std::int32_t>(h);
}

// At full size each pixel is its sample's colour, lit by the slope to the neighbouring samples
// (one-sided at the border, level where a neighbour is void), whole or drawn in bands.
TEST(PictureRelief, FullSizePixelsFollowTheShadingRule)
{
    const TileSamples samples = samplesOf(1201, mountains);
    const SampleSpacing spacing = SpacingOf(samples);
    const TileRenderer renderer(samples, SummarizeTile(samples, PictureKind::Relief));
    TilePicture picture = renderer.blankPicture();
    for (const auto& [first, last] : {std::pair{0, 1}, {1, 2}, {5, 700}, {2, 5}, {700, 1200}, {1200, 1300}, {9, 3}})
        renderer.renderRows(first, last, picture);

    const int last = samples.side - 1;
    for (int r = 0; r <= last; ++r)
        for (int c = 0; c <= last; ++c) {
            const std::int16_t z = samples.at(r, c);
            std::uint32_t expected = kReliefVoidColour;
            if (z != kVoidValue) {
                const auto h = [&](int row, int column) {
                    const std::int16_t v = samples.at(row, column);
                    return v == kVoidValue ? z : v;
                };
                const int w = std::max(c - 1, 0), e = std::min(c + 1, last);
                const int n = std::max(r - 1, 0), s = std::min(r + 1, last);
                const double riseEast = (h(r, e) - h(r, w)) / ((e - w) * spacing.east);
                const double riseNorth = (h(n, c) - h(s, c)) / ((s - n) * spacing.north);
                expected = ShadedColour(HypsometricColour(z), HillshadeFactor(riseEast, riseNorth));
            }
            ASSERT_EQ(picture.at(c, r), expected) << "row " << r << ", column " << c;
        }
}

TEST(PictureRelief, SlopesFacingTheLightAreBrighter)
{
    // A cone: its north-west flank lit, its south-east flank in shade, at any size.
    const TileSamples cone =
        samplesOf(1201, [](int r, int c) { return 4000 - static_cast<int>(std::hypot(r - 600, c - 600) * 8); });
    for (int size : {0, 300}) {
        const TilePicture picture = draw(cone, PictureKind::Relief, size);
        const int q = picture.width / 4;
        EXPECT_GT(lightness(picture.at(q, q)), lightness(picture.at(3 * q, 3 * q)) + 30) << size;
    }
    // The same eastward rise in metres per sample is steeper where the samples lie closer together.
    const Height ramp = [](int, int c) { return 5 * c; };
    const TilePicture equator = draw(samplesOf(1201, ramp, "N00E010.hgt"), PictureKind::Relief);
    const TilePicture north = draw(samplesOf(1201, ramp, "N70E010.hgt"), PictureKind::Relief);
    EXPECT_GT(lightness(north.at(600, 600)), lightness(equator.at(600, 600)));
}

TEST(PictureReading, SamplesOfPlainTilesAndRefusals)
{
    TempFolder folder;
    const Height height = [](int r, int c) { return (r * 3601 + c) % 65536 - 32768; }; // every bit pattern
    for (int side : {1201, 3601}) {
        const std::string path = folder / (side == 1201 ? "S05W070.hgt" : "N12E003.HGT");
        writeBytes(path, makeTile(side, height));
        const Result<TileSamples> samples = ReadTileSamples(path, {-32768});
        ASSERT_TRUE(samples) << samples.error().message;
        EXPECT_EQ(samples->side, side);
        EXPECT_EQ(samples->name, side == 1201 ? "S05W070.hgt" : "N12E003.HGT");
        EXPECT_EQ(samples->voidValues, std::vector<std::int16_t>{-32768});
        ASSERT_EQ(samples->values.size(), static_cast<std::size_t>(side) * side);
        for (int r = 0; r < side; r += 7)
            for (int c = 0; c < side; ++c)
                ASSERT_EQ(samples->at(r, c), height(r, c)) << r << ", " << c;
    }
    EXPECT_EQ(ReadTileSamples(folder / "N00E000.hgt").error().kind, ErrorKind::NotFound);
    writeBytes(folder / "short.hgt", Bytes(1000));
    EXPECT_EQ(ReadTileSamples(folder / "short.hgt").error().kind, TileErrorKind::NotATile);
}

} // namespace picture_test
} // namespace hgt::test

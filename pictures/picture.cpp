#include "pictures/picture.h"

#include "pictures/internal/picture_rules.h"
#include "tiles/tile_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <exception>
#include <iterator>
#include <numbers>

namespace hgt {

namespace {

constexpr int kValues = 65536; // every 16-bit sample value, indexed by value + 32768
constexpr int kOffset = 32768;
constexpr int kMostBins = 101;

// One arc second of latitude on a sphere of the earth's mean radius.
constexpr double kMetresPerArcSecond = 6371008.8 * std::numbers::pi / 180.0 / 3600.0; // 30.887

constexpr double kSunSin = std::numbers::sqrt2 / 2; // sin 45°
// The share of light a slope turned away from the sun keeps, so that shadows never go black.
constexpr double kAmbient = 0.35;

struct Stop {
    int metres;
    std::uint32_t rgb;
};
// Green lowlands, yellow and tan hills, brown mountains, grey rock, white summits.
constexpr std::array<Stop, 11> kHypsometricStops{{
    {-500, 0x2A6A50},
    {0, 0x4E9A5E},
    {200, 0x8DBE6E},
    {500, 0xDCD88C},
    {1000, 0xD6A866},
    {1500, 0xB07A4C},
    {2000, 0x94664E},
    {2500, 0x9A8C84},
    {3000, 0xCAC6C2},
    {4000, 0xF6F6F6},
    {6000, 0xFFFFFF},
}};

int channel(std::uint32_t rgb, int shift)
{
    return static_cast<int>((rgb >> shift) & 0xFF);
}

std::uint32_t opaque(int red, int green, int blue)
{
    return 0xFF000000u | static_cast<std::uint32_t>(red) << 16 | static_cast<std::uint32_t>(green) << 8
           | static_cast<std::uint32_t>(blue);
}

// The brightness of a hillshade factor in 256ths: flat ground (sin 45°) gives 256, a slope turned
// away the ambient share, one facing the light up to 1.27 times the colour.
int brightnessOf(double hillshade)
{
    const double brightness = kAmbient + (1.0 - kAmbient) * hillshade / kSunSin;
    return static_cast<int>(brightness * 256.0 + 0.5);
}

inline std::uint32_t scaledColour(std::uint32_t colour, int brightness)
{
    const auto lit = [brightness](std::uint32_t value) {
        return std::min(255u, (value * static_cast<std::uint32_t>(brightness) + 128) >> 8);
    };
    return 0xFF000000u | lit(colour >> 16 & 0xFF) << 16 | lit(colour >> 8 & 0xFF) << 8 | lit(colour & 0xFF);
}

// The sample value at 0-based rank `rank` among the counted values, in ascending order.
int valueAtRank(const std::vector<std::int64_t>& counts, int firstValue, std::int64_t rank)
{
    std::int64_t seen = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        seen += counts[i];
        if (seen > rank)
            return firstValue + static_cast<int>(i);
    }
    return firstValue + static_cast<int>(counts.size()) - 1;
}

// The p-quantile of `total` counted values, interpolated between the two nearest ranks.
double percentile(const std::vector<std::int64_t>& counts, int firstValue, std::int64_t total, double p)
{
    if (total == 0)
        return 0;
    const double h = static_cast<double>(total - 1) * p;
    const auto below = static_cast<std::int64_t>(std::floor(h));
    const double low = valueAtRank(counts, firstValue, below);
    if (below + 1 >= total)
        return low;
    const double high = valueAtRank(counts, firstValue, below + 1);
    return low + (h - static_cast<double>(below)) * (high - low);
}

// Whole-metre bins, an odd number of odd width so that the middle one is centred on 0, reaching
// at least ±clip. Integer differences in bins of fractional width would leave a comb of empty bins.
DifferenceHistogram histogramOf(const std::vector<std::int64_t>& counts, const std::vector<std::uint8_t>& isVoid,
                                double clip)
{
    const int reach = static_cast<int>(std::ceil(clip));
    const int values = 2 * reach + 1;
    int width = (values + kMostBins - 1) / kMostBins;
    width |= 1;
    int bins = (values + width - 1) / width;
    if (bins % 2 == 0)
        ++bins;
    DifferenceHistogram histogram;
    histogram.binWidth = width;
    histogram.lowest = -(bins * width - 1) / 2;
    histogram.counts.assign(static_cast<std::size_t>(bins), 0);
    for (int i = 0; i < kValues; ++i) {
        if (counts[static_cast<std::size_t>(i)] == 0 || isVoid[static_cast<std::size_t>(i)])
            continue;
        const int value = i - kOffset;
        const std::int64_t n = counts[static_cast<std::size_t>(i)];
        if (value < histogram.lowest)
            histogram.below += n;
        else if (value > histogram.highest())
            histogram.above += n;
        else
            histogram.counts[static_cast<std::size_t>((value - histogram.lowest) / width)] += n;
    }
    return histogram;
}

DifferenceStats differenceStats(const std::vector<std::int64_t>& counts, const std::vector<std::uint8_t>& isVoid)
{
    DifferenceStats stats;
    std::vector<std::int64_t> valid(counts.size(), 0);
    std::vector<std::int64_t> magnitudes(kOffset + 1, 0); // |value| for 0 ... 32768
    std::int64_t sum = 0;
    std::int64_t squares = 0;
    for (int i = 0; i < kValues; ++i) {
        const std::int64_t n = isVoid[static_cast<std::size_t>(i)] ? 0 : counts[static_cast<std::size_t>(i)];
        if (n == 0)
            continue;
        const std::int64_t value = i - kOffset;
        valid[static_cast<std::size_t>(i)] = n;
        magnitudes[static_cast<std::size_t>(std::abs(value))] += n;
        stats.samples += n;
        sum += n * value;
        squares += n * value * value;
    }
    if (stats.samples > 0) {
        const auto total = static_cast<double>(stats.samples);
        stats.mean = static_cast<double>(sum) / total;
        stats.rms = std::sqrt(static_cast<double>(squares) / total);
        stats.median = percentile(valid, -kOffset, stats.samples, 0.5);
        stats.p2 = percentile(valid, -kOffset, stats.samples, 0.02);
        stats.p98 = percentile(valid, -kOffset, stats.samples, 0.98);
        stats.clip = std::max(1.0, percentile(magnitudes, 0, stats.samples, 0.98));
    }
    stats.histogram = histogramOf(counts, isVoid, stats.clip);
    return stats;
}

std::vector<std::uint8_t> voidTable(const TileSamples& samples)
{
    std::vector<std::uint8_t> table(kValues, 0);
    for (std::int16_t v : samples.voidValues)
        table[static_cast<std::size_t>(v + kOffset)] = 1;
    return table;
}

} // namespace

TileSummary SummarizeTile(const TileSamples& samples, PictureKind kind)
{
    TileSummary summary;
    summary.name = samples.name;
    summary.side = samples.side;
    summary.arcSeconds = samples.side > 1 ? static_cast<int>(3600 / (samples.side - 1)) : 0;

    // One pass counts every value; everything else is read off the 65,536 counts.
    std::vector<std::int64_t> counts(kValues, 0);
    for (std::int16_t v : samples.values)
        ++counts[static_cast<std::size_t>(v + kOffset)];
    const std::vector<std::uint8_t> isVoid = voidTable(samples);

    std::int64_t valid = 0;
    std::int64_t sum = 0;
    for (int i = 0; i < kValues; ++i) {
        const std::int64_t n = counts[static_cast<std::size_t>(i)];
        if (n == 0)
            continue;
        if (isVoid[static_cast<std::size_t>(i)]) {
            summary.voids += n;
            continue;
        }
        const auto value = static_cast<std::int16_t>(i - kOffset);
        if (!summary.minimum)
            summary.minimum = value;
        summary.maximum = value;
        valid += n;
        sum += n * value;
    }
    if (valid > 0)
        summary.mean = static_cast<double>(sum) / static_cast<double>(valid);
    if (!samples.values.empty())
        summary.voidPercent = 100.0 * static_cast<double>(summary.voids) / static_cast<double>(samples.values.size());
    if (kind == PictureKind::Difference)
        summary.difference = differenceStats(counts, isVoid);
    return summary;
}

std::uint32_t HypsometricColour(int metres)
{
    if (metres <= kHypsometricStops.front().metres)
        return 0xFF000000u | kHypsometricStops.front().rgb;
    for (std::size_t i = 1; i < kHypsometricStops.size(); ++i) {
        const Stop& high = kHypsometricStops[i];
        if (metres > high.metres)
            continue;
        const Stop& low = kHypsometricStops[i - 1];
        const int span = high.metres - low.metres;
        const int into = metres - low.metres;
        const auto mix = [&](int shift) {
            const int a = channel(low.rgb, shift), b = channel(high.rgb, shift);
            return a + ((b - a) * into * 2 + (b >= a ? span : -span)) / (2 * span); // rounded
        };
        return opaque(mix(16), mix(8), mix(0));
    }
    return 0xFF000000u | kHypsometricStops.back().rgb;
}

double HillshadeFactor(double riseEast, double riseNorth)
{
    // The light comes from azimuth 315° at 45° altitude: (east, north, up) = (-1/2, 1/2, sin 45°).
    // The surface normal is (-riseEast, -riseNorth, 1), not normalised.
    const double lit = 0.5 * riseEast - 0.5 * riseNorth + kSunSin;
    const double shade = lit / std::sqrt(1.0 + riseEast * riseEast + riseNorth * riseNorth);
    return std::clamp(shade, 0.0, 1.0);
}

std::uint32_t ShadedColour(std::uint32_t colour, double hillshade)
{
    return scaledColour(colour, brightnessOf(hillshade));
}

std::uint32_t DifferenceColour(double difference, double clip)
{
    double t = clip > 0 ? difference / clip : (difference > 0 ? 1.0 : difference < 0 ? -1.0 : 0.0);
    if (std::isnan(t))
        t = 0;
    t = std::clamp(t, -1.0, 1.0);
    const std::uint32_t end = t < 0 ? kDifferenceLowColour : kDifferenceHighColour;
    const double share = std::abs(t);
    const auto mix = [&](int shift) {
        return static_cast<int>(std::lround(255.0 + share * (channel(end, shift) - 255)));
    };
    return opaque(mix(16), mix(8), mix(0));
}

std::optional<int> TileLatitude(std::string_view name)
{
    if (name.size() < 7)
        return std::nullopt;
    const char hemisphere = static_cast<char>(name[0] | 0x20);
    const char eastWest = static_cast<char>(name[3] | 0x20);
    if ((hemisphere != 'n' && hemisphere != 's') || (eastWest != 'e' && eastWest != 'w'))
        return std::nullopt;
    for (std::size_t i : {1, 2, 4, 5, 6})
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
    const int degrees = (name[1] - '0') * 10 + (name[2] - '0');
    if (degrees > 90)
        return std::nullopt;
    return hemisphere == 'n' ? degrees : -degrees;
}

SampleSpacing SpacingOf(const TileSamples& samples)
{
    const double arcSeconds = samples.side > 1 ? 3600.0 / (samples.side - 1) : 1.0;
    SampleSpacing spacing;
    spacing.north = arcSeconds * kMetresPerArcSecond;
    spacing.east = spacing.north;
    if (const std::optional<int> south = TileLatitude(samples.name)) {
        const double middle = (*south + 0.5) * std::numbers::pi / 180.0;
        spacing.east = spacing.north * std::cos(middle);
    }
    return spacing;
}

int SampleOfPixel(int pixel, int side, int pixels)
{
    if (pixels <= 1)
        return (side - 1) / 2;
    const std::int64_t steps = static_cast<std::int64_t>(pixels) - 1;
    return static_cast<int>((static_cast<std::int64_t>(pixel) * (side - 1) * 2 + steps) / (2 * steps));
}

TileRenderer::TileRenderer(const TileSamples& samples, const TileSummary& summary, int size)
    : m_samples(samples), m_kind(summary.difference ? PictureKind::Difference : PictureKind::Relief),
      m_size(size > 0 ? size : samples.side), m_spacing(SpacingOf(samples)), m_isVoid(voidTable(samples))
{
    m_colours.resize(kValues);
    for (int i = 0; i < kValues; ++i) {
        const int value = i - kOffset;
        if (m_isVoid[static_cast<std::size_t>(i)])
            m_colours[static_cast<std::size_t>(i)] =
                m_kind == PictureKind::Relief ? kReliefVoidColour : kDifferenceVoidColour;
        else
            m_colours[static_cast<std::size_t>(i)] = m_kind == PictureKind::Relief
                                                         ? HypsometricColour(value)
                                                         : DifferenceColour(value, summary.difference->clip);
    }

    // Rows and columns share one map: the tile and the picture are square. A slope is taken between
    // the samples of the neighbouring pixels (at least the neighbouring samples), so a reduced picture
    // shades the terrain it shows, not the noise between its pixels.
    const int side = samples.side;
    m_sampleOf.resize(static_cast<std::size_t>(m_size));
    for (int p = 0; p < m_size; ++p)
        m_sampleOf[static_cast<std::size_t>(p)] = SampleOfPixel(p, side, m_size);
    m_before.resize(m_sampleOf.size());
    m_after.resize(m_sampleOf.size());
    for (int p = 0; p < m_size; ++p) {
        const int s = m_sampleOf[static_cast<std::size_t>(p)];
        const int previous = p > 0 ? m_sampleOf[static_cast<std::size_t>(p - 1)] : s - 1;
        const int next = p + 1 < m_size ? m_sampleOf[static_cast<std::size_t>(p + 1)] : s + 1;
        m_before[static_cast<std::size_t>(p)] = std::max(0, std::min(s - 1, previous));
        m_after[static_cast<std::size_t>(p)] = std::min(side - 1, std::max(s + 1, next));
    }

    if (m_kind == PictureKind::Relief && m_size == side && side >= 3) {
        constexpr int span = 2 * kShadeReach + 1;
        m_brightness.resize(static_cast<std::size_t>(span * span));
        for (int dNorth = -kShadeReach; dNorth <= kShadeReach; ++dNorth)
            for (int dEast = -kShadeReach; dEast <= kShadeReach; ++dEast)
                m_brightness[static_cast<std::size_t>((dNorth + kShadeReach) * span + dEast + kShadeReach)] =
                    static_cast<std::uint16_t>(
                        brightnessOf(HillshadeFactor(dEast / (2 * m_spacing.east), dNorth / (2 * m_spacing.north))));
    }
}

TilePicture TileRenderer::blankPicture() const
{
    TilePicture picture;
    picture.width = m_size;
    picture.height = m_size;
    picture.pixels.assign(static_cast<std::size_t>(m_size) * static_cast<std::size_t>(m_size), 0);
    return picture;
}

void TileRenderer::renderRows(int first, int last, TilePicture& picture) const
{
    first = std::max(first, 0);
    last = std::min(last, m_size);
    if (first >= last || picture.width != m_size || picture.height != m_size)
        return;
    if (m_kind == PictureKind::Relief)
        renderRelief(first, last, picture);
    else
        renderDifference(first, last, picture);
}

TilePicture TileRenderer::render() const
{
    TilePicture picture = blankPicture();
    renderRows(0, m_size, picture);
    return picture;
}

void TileRenderer::renderDifference(int first, int last, TilePicture& picture) const
{
    const auto side = static_cast<std::size_t>(m_samples.side);
    for (int y = first; y < last; ++y) {
        const std::int16_t* row =
            m_samples.values.data() + side * static_cast<std::size_t>(m_sampleOf[static_cast<std::size_t>(y)]);
        std::uint32_t* out = picture.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_size);
        for (int x = 0; x < m_size; ++x)
            out[x] = m_colours[static_cast<std::size_t>(row[m_sampleOf[static_cast<std::size_t>(x)]] + kOffset)];
    }
}

void TileRenderer::renderRelief(int first, int last, TilePicture& picture) const
{
    const int side = m_samples.side;
    const auto sideBytes = static_cast<std::size_t>(side);
    const std::int16_t* values = m_samples.values.data();
    const std::uint8_t* isVoid = m_isVoid.data();
    const std::uint32_t* colours = m_colours.data();
    const bool fullSize = !m_brightness.empty();
    constexpr int span = 2 * kShadeReach + 1;

    for (int y = first; y < last; ++y) {
        const auto yi = static_cast<std::size_t>(y);
        const std::int16_t* row = values + sideBytes * static_cast<std::size_t>(m_sampleOf[yi]);
        const std::int16_t* north = values + sideBytes * static_cast<std::size_t>(m_before[yi]);
        const std::int16_t* south = values + sideBytes * static_cast<std::size_t>(m_after[yi]);
        const double northSouth = (m_after[yi] - m_before[yi]) * m_spacing.north;
        std::uint32_t* out = picture.pixels.data() + yi * static_cast<std::size_t>(m_size);

        // Any pixel, any size: the slope between the samples of the neighbouring pixels. A void
        // neighbour counts as level with the sample, so -9999 never makes a cliff.
        const auto exact = [&](int x) {
            const auto xi = static_cast<std::size_t>(x);
            const int c = m_sampleOf[xi];
            const std::int16_t z = row[c];
            if (isVoid[z + kOffset])
                return kReliefVoidColour;
            const auto height = [&](std::int16_t v) { return isVoid[v + kOffset] ? int{z} : int{v}; };
            const int west = height(row[m_before[xi]]), east = height(row[m_after[xi]]);
            const int up = height(north[c]), down = height(south[c]);
            const double riseEast = (east - west) / ((m_after[xi] - m_before[xi]) * m_spacing.east);
            const double riseNorth = (up - down) / northSouth;
            return scaledColour(colours[z + kOffset], brightnessOf(HillshadeFactor(riseEast, riseNorth)));
        };

        if (!fullSize || y == 0 || y == side - 1) {
            for (int x = 0; x < m_size; ++x)
                out[x] = exact(x);
            continue;
        }
        // Inside the border of a full-size picture: neighbours at ±1, brightness from the table.
        out[0] = exact(0);
        for (int x = 1; x < side - 1; ++x) {
            const std::int16_t z = row[x];
            if (isVoid[z + kOffset]) {
                out[x] = kReliefVoidColour;
                continue;
            }
            const std::int16_t w = row[x - 1], e = row[x + 1], n = north[x], s = south[x];
            const int dEast = (isVoid[e + kOffset] ? z : e) - (isVoid[w + kOffset] ? z : w);
            const int dNorth = (isVoid[n + kOffset] ? z : n) - (isVoid[s + kOffset] ? z : s);
            if (dEast < -kShadeReach || dEast > kShadeReach || dNorth < -kShadeReach || dNorth > kShadeReach) {
                out[x] = exact(x);
                continue;
            }
            const int brightness =
                m_brightness[static_cast<std::size_t>((dNorth + kShadeReach) * span + dEast + kShadeReach)];
            out[x] = scaledColour(colours[z + kOffset], brightness);
        }
        out[side - 1] = exact(side - 1);
    }
}

std::uint32_t ProvenanceColour(std::uint8_t code)
{
    // Sources 3 and up: hues apart from the blue, green, orange and magenta already taken.
    static constexpr std::uint32_t kFurtherSources[] = {0xFF9467BD, 0xFF8C564B, 0xFF17BECF,
                                                        0xFFBCBD22, 0xFFD62728, 0xFF393B79};
    switch (code) {
    case kOwnSample:
        return 0xFFD0D0D0;
    case kInterpolatedSample:
        return 0xFFFF7F0E;
    case kVoidSample:
        return 0xFFFF00FF;
    case 1:
        return 0xFF1F77B4;
    case 2:
        return 0xFF2CA02C;
    default:
        return kFurtherSources[(code - 3) % std::size(kFurtherSources)];
    }
}

} // namespace hgt

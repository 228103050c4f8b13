#pragma once

// Pictures of tiles: an elevation tile as shaded relief in hypsometric colours, a difference tile in
// a blue-white-red map centred on 0, and the figures shown beside them. Pixels only; image files and
// the legend are in picture_file.h.

#include "tiles/tile_info.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hgt {

enum class PictureKind {
    Relief,     // heights
    Difference, // primary minus comparison, as written to DIFFS/
};

// Counts of the differences by value. Bins are whole metres wide, an odd number of them, the middle
// one centred on 0, together reaching at least ± the clip range; the rest is counted below / above.
struct DifferenceHistogram {
    int lowest = 0;   // the smallest value of bin 0
    int binWidth = 1; // in metres; bin j holds lowest + j*binWidth ... lowest + (j+1)*binWidth - 1
    std::vector<std::int64_t> counts;
    std::int64_t below = 0; // values under bin 0
    std::int64_t above = 0; // values over the last bin

    int highest() const { return lowest + static_cast<int>(counts.size()) * binWidth - 1; }
};

// Percentiles interpolate linearly between the two nearest ranks of the sorted values.
struct DifferenceStats {
    std::int64_t samples = 0; // non-void differences; with none, every figure below is 0
    double median = 0;
    double mean = 0;
    double rms = 0;
    double p2 = 0;
    double p98 = 0;
    // The colour map's range: the 98th percentile of |difference|, at least 1 m so that a constant
    // or empty tile still has a range to draw and nothing divides by zero.
    double clip = 1;
    DifferenceHistogram histogram;
};

struct TileSummary {
    std::string name;
    int side = 0;
    int arcSeconds = 0;                  // 1 or 3, from the side
    std::optional<std::int16_t> minimum; // of the non-void samples; absent when all are void
    std::optional<std::int16_t> maximum;
    double mean = 0;
    std::int64_t voids = 0;
    double voidPercent = 0;
    std::optional<DifferenceStats> difference; // for a difference tile
};

TileSummary SummarizeTile(const TileSamples& samples, PictureKind kind);

// The ground distance between neighbouring samples of a tile, in metres. North-south it is one
// grid step of latitude; east-west that step shrinks with the cosine of the tile's middle latitude,
// when the name tells it.
struct SampleSpacing {
    double north = 0;
    double east = 0;
};

struct TilePicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels; // 0xFFRRGGBB, row by row from the top left

    std::uint32_t at(int x, int y) const
    {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }
};

// Draws one tile, whole or a band of rows at a time: the colour tables and the pixel-to-sample maps
// are made once; renderRows of disjoint bands may run on different threads. The samples must
// outlive the renderer.
class TileRenderer {
public:
    // size 0: one pixel per sample; otherwise size x size pixels. A summary with difference
    // figures draws a difference picture, one without a relief.
    TileRenderer(const TileSamples& samples, const TileSummary& summary, int size = 0);

    int width() const { return m_size; }
    int height() const { return m_size; }
    PictureKind kind() const { return m_kind; }

    // A picture of the right size, not yet drawn (all pixels 0).
    TilePicture blankPicture() const;
    // Draws picture rows [first, last) into a picture made by blankPicture.
    void renderRows(int first, int last, TilePicture& picture) const;
    TilePicture render() const;

private:
    void renderRelief(int first, int last, TilePicture& picture) const;
    void renderDifference(int first, int last, TilePicture& picture) const;

    const TileSamples& m_samples;
    PictureKind m_kind = PictureKind::Relief;
    int m_size = 0;
    SampleSpacing m_spacing;
    std::vector<std::uint32_t> m_colours; // by sample value + 32768; voids take their colour
    std::vector<std::uint8_t> m_isVoid;   // by sample value + 32768
    std::vector<int> m_sampleOf;          // the sample row/column of each picture row/column
    std::vector<int> m_before;            // the neighbours a gradient is taken between
    std::vector<int> m_after;
    // At full size, inside the border, a slope is always taken over two samples each way: the
    // brightness of every pair of height differences up to ±kShadeReach metres is looked up.
    static constexpr int kShadeReach = 127;
    std::vector<std::uint16_t> m_brightness;
};

// The diverging colour of a difference for the range ±clip: white at 0, towards blue below and red
// above, saturated beyond the range. A clip of 0 or less counts as the smallest positive range.
std::uint32_t DifferenceColour(double difference, double clip);

// The colour of a provenance code (tile_format.h), a categorical palette: the tile's own samples
// light grey, source 1 blue, source 2 green, further sources further hues, interpolated orange,
// still void magenta.
std::uint32_t ProvenanceColour(std::uint8_t code);

} // namespace hgt

#pragma once

#include "tiles/run_result.h"
#include "tiles/internal/tile_input.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace hgt {

// Above this many metres the median offset hints at sources on different vertical datums.
inline constexpr double kOffsetWarningMetres = 5.0;

// The warning of a tile whose sources sit far apart in height, e.g.
// "Höhenversatz der Quelle: Median +9,3 m – anderes Höhenbezugssystem?"; empty below the threshold.
// With `rasterSource` (a source other than HGT tiles filled voids) it names the usual pair of geoids.
std::string OffsetWarning(const OffsetStats& offsets, bool rasterSource = false);

// How wide the rim around a void region is, in samples.
inline constexpr int kRimWidth = 3;

// One bit per sample of a tile, each row starting at a word of its own, so that a row can be
// shifted and combined with its neighbours a word at a time.
class RowBits {
public:
    explicit RowBits(std::int64_t side = 0)
        : m_side(side), m_wordsPerRow((side + 63) / 64), m_words(static_cast<std::size_t>(side * m_wordsPerRow), 0)
    {}

    std::int64_t side() const { return m_side; }
    std::int64_t wordsPerRow() const { return m_wordsPerRow; }
    bool get(std::int64_t r, std::int64_t c) const { return (m_words[index(r, c)] >> (c % 64)) & 1u; }
    void set(std::int64_t r, std::int64_t c) { m_words[index(r, c)] |= std::uint64_t{1} << (c % 64); }
    void clear(std::int64_t r, std::int64_t c) { m_words[index(r, c)] &= ~(std::uint64_t{1} << (c % 64)); }
    std::uint64_t* row(std::int64_t r) { return m_words.data() + r * m_wordsPerRow; }
    const std::uint64_t* row(std::int64_t r) const { return m_words.data() + r * m_wordsPerRow; }
    const std::vector<std::uint64_t>& words() const { return m_words; }

private:
    std::size_t index(std::int64_t r, std::int64_t c) const
    {
        return static_cast<std::size_t>(r * m_wordsPerRow + c / 64);
    }

    std::int64_t m_side;
    std::int64_t m_wordsPerRow;
    std::vector<std::uint64_t> m_words;
};

// The samples a fill of voids looks at: the voids and the samples within kRimWidth of one (in rows
// and columns), numbered in the tile's order, so that values are kept for these alone.
class NearSamples {
public:
    NearSamples() = default;
    explicit NearSamples(RowBits bits);

    const RowBits& bits() const { return m_bits; }
    std::size_t size() const { return m_size; }
    bool contains(std::int64_t r, std::int64_t c) const { return m_bits.get(r, c); }
    // The number of a sample of the set: how many samples of the set come before it.
    std::size_t rank(std::int64_t r, std::int64_t c) const;

private:
    RowBits m_bits;
    std::vector<std::uint32_t> m_wordRank; // samples of the set before each word
    std::size_t m_size = 0;
};

// The voids of a tile and the samples within kRimWidth of one.
NearSamples SamplesNearVoids(const RowBits& voids);

// A tile's voids filled by the offset-bridging method, to be written over the primary's samples.
struct DeltaFilled {
    RowBits voids;
    NearSamples near;
    std::vector<std::int16_t> values; // the output's value of each sample near a void, by rank
    std::int64_t voidsFound = 0;
    std::int64_t voidsLeft = 0;
    std::vector<std::int64_t> filledBySource;
    std::vector<std::uint8_t> fillers; // by rank: 0 not a void, 1 + source index, 0xFF left void
    OffsetStats offsets;

    // Writes the filled voids among samples [first, first + count) into `block`, the primary's
    // bytes of those samples.
    void apply(std::int64_t first, std::uint8_t* block, std::size_t count) const;
};

// Fills the voids of the primary from the sources (in priority order, null where a folder lacks the
// tile) and bridges the height offset between primary and filler at every void region: the offsets
// primary - filler on the valid samples around each region (8-connected voids) are interpolated
// smoothly across it and added to the filler. `yield` is called now and then during the work, on
// the caller's thread; with `useHelper` a second thread shares the work where there is a core for it.
Result<DeltaFilled> DeltaFill(const TileInput& primary, const std::vector<GridSource*>& sources, const VoidSet& voids,
                              const std::function<void()>& yield, bool useHelper);

} // namespace hgt

// ApplyShift: a tile's heights moved by the shift of their datums, bilinear between the nodes of the
// coarse grid.

#include "rasters/vertical_datum.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace hgt {

namespace {

using VoidTable = std::array<bool, 65536>;

constexpr std::size_t Slot(int height)
{
    return static_cast<std::size_t>(height + 32768);
}

constexpr std::size_t kFewVoids = SampleShift::kFewVoids;

// Rounded half away from zero and clamped to 16 bits, without a branch the vector loop would stop at;
// `metres` is a height plus a shift, so no more than TileShift::kLargestShift outside the 16 bits.
int Rounded(double metres)
{
    return std::min(std::max(static_cast<int>(metres + std::copysign(0.5, metres)), -32768), 32767);
}

bool IsOneOf(int height, const std::array<int, kFewVoids>& values)
{
    int found = 0;
    for (const int value : values)
        found |= static_cast<int>(height == value);
    return found != 0;
}

// Rounded and off the void values: up by a metre, or down where up runs out of the range.
std::int16_t ConvertedHeight(double metres, const VoidTable& isVoid)
{
    const int rounded = Rounded(metres);
    int value = rounded;
    while (value <= 32767 && isVoid[Slot(value)])
        ++value;
    if (value > 32767) {
        value = rounded;
        while (value >= -32768 && isVoid[Slot(value)])
            --value;
    }
    return static_cast<std::int16_t>(value);
}

// Where sample `index` of `side` falls between nodes: the node before it and the weight of the next.
struct Between {
    int node;
    double weight;
};
Between Locate(int index, int side)
{
    const int span = side - 1;
    const int scaled = index * TileShift::kShiftSteps;
    const int node = std::min(scaled / span, TileShift::kShiftSteps - 1);
    return {node, static_cast<double>(scaled - node * span) / span};
}

// Between the rows of nodes first, then along the row: ApplyShift does the first once a row.
double AlongRow(const double* below, const double* above, int node, double south)
{
    return below[node] + (above[node] - below[node]) * south;
}
double AlongColumn(const double* rowShift, Between west)
{
    return rowShift[west.node] + (rowShift[west.node + 1] - rowShift[west.node]) * west.weight;
}

// A row's heights plus their shifts, the voids among `few` kept; whether a converted height landed on
// one of them. Inlined into each form of the row loop, which the compiler vectorises for its target.
[[gnu::always_inline]] inline bool ConvertRowIn(std::int16_t* samples, const std::int16_t* original,
                                                const double* shiftLine, int side,
                                                const std::array<int, kFewVoids>& few)
{
    int landedOnVoid = 0;
    for (int column = 0; column < side; ++column) {
        const int height = original[column];
        const int converted = Rounded(height + shiftLine[column]);
        const bool wasVoid = IsOneOf(height, few);
        landedOnVoid |= static_cast<int>(!wasVoid) & static_cast<int>(IsOneOf(converted, few));
        samples[column] = static_cast<std::int16_t>(wasVoid ? height : converted);
    }
    return landedOnVoid != 0;
}

// The row loop twice, for AVX2 and for the x86-64 baseline, the processor asked once which to run.
#if defined(__x86_64__) && defined(__GNUC__)
#define HGT_AVX2_SHIFT 1
bool HasAvx2()
{
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return avx2;
}

__attribute__((target("avx2"))) bool ConvertRowAvx2(std::int16_t* samples, const std::int16_t* original,
                                                    const double* shiftLine, int side,
                                                    const std::array<int, kFewVoids>& few)
{
    return ConvertRowIn(samples, original, shiftLine, side, few);
}
#endif

bool ConvertRow(std::int16_t* samples, const std::int16_t* original, const double* shiftLine, int side,
                const std::array<int, kFewVoids>& few)
{
#ifdef HGT_AVX2_SHIFT
    if (HasAvx2())
        return ConvertRowAvx2(samples, original, shiftLine, side, few);
#endif
    return ConvertRowIn(samples, original, shiftLine, side, few);
}

} // namespace

double ShiftAtSample(const TileShift& shift, int row, int column, int side)
{
    constexpr int nodes = TileShift::kNodes;
    if (shift.shift.size() != static_cast<std::size_t>(nodes) * nodes || side < 2)
        return 0.0;
    const Between south = Locate(side - 1 - row, side);
    const Between west = Locate(column, side);
    const double* below = shift.shift.data() + static_cast<std::size_t>(south.node) * nodes;
    const double* above = below + nodes;
    const std::array<double, 2> rowShift{AlongRow(below, above, west.node, south.weight),
                                         AlongRow(below, above, west.node + 1, south.weight)};
    return AlongColumn(rowShift.data(), {0, west.weight});
}

SampleShift::SampleShift(TileShift shift, int side, std::span<const std::int16_t> voidValues)
    : m_shift(std::move(shift)), m_side(side)
{
    constexpr int nodes = TileShift::kNodes;
    m_usable =
        m_shift.shift.size() == static_cast<std::size_t>(nodes) * nodes && side >= 2
        && std::ranges::all_of(m_shift.shift, [](double value) { return std::abs(value) <= TileShift::kLargestShift; });
    if (!m_usable)
        return;
    auto isVoid = std::make_shared<VoidTable>();
    for (const std::int16_t value : voidValues)
        (*isVoid)[Slot(value)] = true;
    m_isVoid = std::move(isVoid);
    // The few void values of a tile compared in the vector loop, padded with the first.
    m_few.fill(voidValues.empty() ? 0 : voidValues.front());
    m_fewVoids = !voidValues.empty() && voidValues.size() <= kFewVoids;
    std::ranges::copy(voidValues.first(m_fewVoids ? voidValues.size() : 0), m_few.begin());
    // Where each column falls between the nodes, once for the tile. A tile coarser than the nodes
    // leaves cells without samples: they start where the next one does.
    m_westWeight.resize(static_cast<std::size_t>(side));
    m_cellStart.fill(side);
    for (int column = side - 1; column >= 0; --column) {
        const Between west = Locate(column, side);
        m_westWeight[static_cast<std::size_t>(column)] = west.weight;
        m_cellStart[static_cast<std::size_t>(west.node)] = column;
    }
    for (int cell = TileShift::kShiftSteps - 1; cell >= 0; --cell)
        m_cellStart[static_cast<std::size_t>(cell)] =
            std::min(m_cellStart[static_cast<std::size_t>(cell)], m_cellStart[static_cast<std::size_t>(cell) + 1]);
}

void SampleShift::apply(std::int64_t first, std::span<std::int16_t> samples) const
{
    constexpr int nodes = TileShift::kNodes;
    const std::int64_t side = m_side;
    if (!m_usable || first < 0 || first + static_cast<std::int64_t>(samples.size()) > side * side)
        return;
    std::array<double, nodes> rowShift{};
    std::vector<double> shiftLine(static_cast<std::size_t>(std::min<std::int64_t>(side, samples.size())));
    std::vector<std::int16_t> original(shiftLine.size());
    std::size_t done = 0;
    while (done < samples.size()) {
        const std::int64_t at = first + static_cast<std::int64_t>(done);
        const auto row = static_cast<int>(at / side);
        const auto from = static_cast<int>(at % side);
        const auto count = static_cast<int>(std::min<std::int64_t>(side - from, samples.size() - done));
        std::int16_t* segment = samples.data() + done;
        done += static_cast<std::size_t>(count);
        // A source read only where the fill needs it is mostly voids: their rows cost no more.
        if (m_fewVoids && std::all_of(segment, segment + count, [&](std::int16_t h) { return IsOneOf(h, m_few); }))
            continue;
        // Row 0 is the northern edge, node row 0 the southern one.
        const Between south = Locate(m_side - 1 - row, m_side);
        const double* below = m_shift.shift.data() + static_cast<std::size_t>(south.node) * nodes;
        const double* above = below + nodes;
        for (int i = 0; i < nodes; ++i)
            rowShift[i] = AlongRow(below, above, i, south.weight);
        // Cell by cell, the columns of a cell sharing its two nodes.
        const int to = from + count;
        for (int cell = Locate(from, m_side).node; cell < TileShift::kShiftSteps; ++cell) {
            const int begin = std::max(m_cellStart[static_cast<std::size_t>(cell)], from);
            const int end = std::min(m_cellStart[static_cast<std::size_t>(cell) + 1], to);
            if (begin >= to)
                break;
            for (int column = begin; column < end; ++column)
                shiftLine[column - from] = AlongColumn(rowShift.data(), {cell, m_westWeight[column]});
        }

        std::copy_n(segment, count, original.begin());
        const bool landedOnVoid = !m_fewVoids || ConvertRow(segment, original.data(), shiftLine.data(), count, m_few);
        if (landedOnVoid) {
            for (int k = 0; k < count; ++k) {
                const std::int16_t height = original[k];
                if (!(*m_isVoid)[Slot(height)])
                    segment[k] = ConvertedHeight(height + shiftLine[k], *m_isVoid);
            }
        }
    }
}

void ApplyShift(const TileShift& shift, std::span<std::int16_t> heights, int side,
                std::span<const std::int16_t> voidValues)
{
    if (side < 2 || heights.size() < static_cast<std::size_t>(side) * side)
        return;
    SampleShift(shift, side, voidValues).apply(0, heights.first(static_cast<std::size_t>(side) * side));
}

} // namespace hgt

#include "tiles/internal/delta_fill.h"

#include "tiles/internal/samples.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hgt {

namespace {

// Far from the rim the bridged offset relaxes to the region's median over about this many samples
// (the screening length of the membrane), so a large void takes the typical offset instead of the
// rim's local ups and downs.
constexpr float kScreeningSamples = 8.0f;
constexpr float kOverRelaxation = 1.8f;
constexpr float kConverged = 0.05f; // metres
constexpr int kMaxSweeps = 400;

constexpr std::uint8_t kValid = 0;
constexpr std::uint8_t kUnfilled = 0xFF; // a void that no source has a value for
// Other values: 1 + the index of the source that fills the void.

class Bits {
public:
    explicit Bits(std::size_t n = 0) : m_words((n + 63) / 64) {}
    bool get(std::size_t i) const { return (m_words[i / 64] >> (i % 64)) & 1u; }
    void set(std::size_t i) { m_words[i / 64] |= std::uint64_t{1} << (i % 64); }
    // Sets bits [first, first + n) from bytes that are 0 or 1; first is a multiple of 64.
    void assign(std::size_t first, const std::uint8_t* flags, std::size_t n)
    {
        for (std::size_t w = 0; w * 64 < n; ++w) {
            std::uint64_t word = 0;
            const std::size_t end = std::min<std::size_t>(64, n - w * 64);
            for (std::size_t b = 0; b < end; ++b)
                word |= std::uint64_t{flags[w * 64 + b]} << b;
            m_words[first / 64 + w] = word;
        }
    }

private:
    std::vector<std::uint64_t> m_words;
};

// One source's values over the whole tile, on the primary's grid.
struct SourceTile {
    std::vector<std::int16_t> values;
    Bits hasValue;
};

double quantile(std::vector<float>& values, double q)
{
    const auto k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

class DeltaRun {
public:
    DeltaRun(const TileInput& primary, const std::vector<GridSource*>& sources, const VoidSet& voids,
             const std::function<void()>& yield)
        : m_primary(primary), m_sourceInputs(sources), m_voids(voids), m_yield(yield), m_side(primary.grid().side),
          m_count(static_cast<std::size_t>(m_side * m_side))
    {
    }

    Result<DeltaFilled> run();

private:
    Result<> readPrimary();
    Result<> readSources();
    void chooseFillers();
    void bridgeRegion(const std::vector<std::int64_t>& region, std::int64_t r0, std::int64_t r1, std::int64_t c0,
                      std::int64_t c1);
    void bridgeSource(const std::vector<std::int64_t>& region, std::size_t s, std::int64_t r0, std::int64_t r1,
                      std::int64_t c0, std::int64_t c1);
    std::int16_t finalValue(float value) const;

    const TileInput& m_primary;
    const std::vector<GridSource*>& m_sourceInputs;
    const VoidSet& m_voids;
    const std::function<void()>& m_yield;
    const std::int64_t m_side;
    const std::size_t m_count;

    DeltaFilled m_out;
    std::vector<std::uint8_t> m_role; // kValid, kUnfilled or 1 + source index
    std::vector<SourceTile> m_sources;
    Bits m_rimCounted;
    std::vector<float> m_allOffsets;
};

Result<> DeltaRun::readPrimary()
{
    m_out.samples.resize(m_count);
    std::vector<std::uint8_t> raw(256 * 1024);
    for (std::size_t first = 0; first < m_count;) {
        const std::size_t n = std::min(raw.size() / 2, m_count - first);
        if (Result<> read = m_primary.readAt(static_cast<std::int64_t>(first * 2), raw.data(), n * 2); !read)
            return read;
        for (std::size_t i = 0; i < n; ++i)
            m_out.samples[first + i] = DecodeSample(raw.data() + 2 * i);
        first += n;
    }
    return {};
}

Result<> DeltaRun::readSources()
{
    constexpr std::size_t kChunk = 128 * 1024;
    std::vector<std::uint8_t> has(kChunk);
    m_sources.resize(m_sourceInputs.size());
    for (std::size_t s = 0; s < m_sourceInputs.size(); ++s) {
        if (!m_sourceInputs[s])
            continue;
        SourceTile& tile = m_sources[s];
        tile.values.resize(m_count);
        tile.hasValue = Bits(m_count);
        for (std::size_t first = 0; first < m_count;) {
            const std::size_t n = std::min(kChunk, m_count - first);
            if (Result<> read = m_sourceInputs[s]->read(static_cast<std::int64_t>(first), n, tile.values.data() + first,
                                                        has.data());
                !read)
                return read;
            tile.hasValue.assign(first, has.data(), n);
            first += n;
        }
        m_yield();
    }
    return {};
}

void DeltaRun::chooseFillers()
{
    m_role.assign(m_count, kValid);
    m_out.filledBySource.assign(m_sources.size(), 0);
    // Voids are few: find them with a plain comparison first where -9999 is the only void value.
    const bool onlyMarker = m_voids.isDefault();
    for (std::size_t k = 0; k < m_count; ++k) {
        const std::int16_t sample = m_out.samples[k];
        if (onlyMarker ? sample != kVoidValue : !m_voids.isVoid(sample))
            continue;
        ++m_out.voidsFound;
        m_role[k] = kUnfilled;
        for (std::size_t s = 0; s < m_sources.size(); ++s) {
            if (!m_sources[s].values.empty() && m_sources[s].hasValue.get(k)) {
                m_role[k] = static_cast<std::uint8_t>(1 + s);
                ++m_out.filledBySource[s];
                break;
            }
        }
        m_out.voidsLeft += m_role[k] == kUnfilled;
    }
}

std::int16_t DeltaRun::finalValue(float value) const
{
    auto result = static_cast<std::int16_t>(std::clamp<long>(std::lround(value), -32768, 32767));
    // A filled sample must not read as a void.
    while (m_voids.isVoid(result))
        result = static_cast<std::int16_t>(result + 1);
    return result;
}

void DeltaRun::bridgeSource(const std::vector<std::int64_t>& region, std::size_t s, std::int64_t r0, std::int64_t r1,
                            std::int64_t c0, std::int64_t c1)
{
    const SourceTile& source = m_sources[s];
    const std::uint8_t mine = static_cast<std::uint8_t>(1 + s);
    // The box around the region, widened by the rim.
    const std::int64_t br0 = std::max<std::int64_t>(0, r0 - kRimWidth), br1 = std::min(m_side - 1, r1 + kRimWidth);
    const std::int64_t bc0 = std::max<std::int64_t>(0, c0 - kRimWidth), bc1 = std::min(m_side - 1, c1 + kRimWidth);
    const std::int64_t width = bc1 - bc0 + 1, height = br1 - br0 + 1;
    auto local = [&](std::int64_t k) { return (k / m_side - br0) * width + (k % m_side - bc0); };
    auto global = [&](std::int64_t l) { return (br0 + l / width) * m_side + bc0 + l % width; };

    // Rim: valid samples within kRimWidth of the region (the region itself, not its neighbours),
    // found by widening the region's mask along the rows, then along the columns.
    std::vector<std::uint8_t> near(static_cast<std::size_t>(width * height), 0);
    for (std::int64_t k : region)
        near[static_cast<std::size_t>(local(k))] = 1;
    std::vector<std::uint8_t> line(static_cast<std::size_t>(std::max(width, height)));
    for (int pass = 0; pass < 2; ++pass) {
        const std::int64_t lines = pass == 0 ? height : width, length = pass == 0 ? width : height;
        const std::int64_t step = pass == 0 ? 1 : width, stride = pass == 0 ? width : 1;
        for (std::int64_t i = 0; i < lines; ++i) {
            std::uint8_t* start = near.data() + i * stride;
            for (std::int64_t j = 0; j < length; ++j)
                line[static_cast<std::size_t>(j)] = start[j * step];
            std::int64_t last = -kRimWidth - 1; // the latest marked sample seen, or far away
            for (std::int64_t j = 0; j < length; ++j) {
                if (line[static_cast<std::size_t>(j)])
                    last = j;
                start[j * step] = j - last <= kRimWidth;
            }
            last = length + kRimWidth;
            for (std::int64_t j = length - 1; j >= 0; --j) {
                if (line[static_cast<std::size_t>(j)])
                    last = j;
                start[j * step] = start[j * step] | (last - j <= kRimWidth);
            }
        }
    }
    // 0: not part of the problem, 1: rim with a fixed offset, 2: this source's void, to be solved.
    std::vector<std::uint8_t> role(near.size(), 0);
    std::vector<float> u(near.size(), 0.0f);
    std::vector<float> offsets;
    for (std::int64_t l = 0; l < width * height; ++l) {
        const std::int64_t k = global(l);
        const auto ku = static_cast<std::size_t>(k);
        if (!near[static_cast<std::size_t>(l)] || m_role[ku] != kValid || !source.hasValue.get(ku))
            continue;
        const float offset = static_cast<float>(m_out.samples[ku]) - static_cast<float>(source.values[ku]);
        role[static_cast<std::size_t>(l)] = 1;
        u[static_cast<std::size_t>(l)] = offset;
        offsets.push_back(offset);
        if (!m_rimCounted.get(ku)) {
            m_rimCounted.set(ku);
            m_allOffsets.push_back(offset);
        }
    }
    if (offsets.empty()) {
        // Nothing to measure the offset by: the filler as it is.
        for (std::int64_t k : region)
            if (m_role[static_cast<std::size_t>(k)] == mine)
                m_out.samples[static_cast<std::size_t>(k)] = source.values[static_cast<std::size_t>(k)];
        return;
    }
    const auto median = static_cast<float>(quantile(offsets, 0.5));

    // Solve the screened membrane for the offset minus the median: zero far inside, the rim's
    // offsets at the rim. Red-black over-relaxation over this source's voids of the region; each
    // cell keeps its neighbours that take part (the others stand for a dummy of value 0).
    struct Cell {
        std::int32_t self;
        std::int32_t next[4];
        float weight; // 1 / (neighbours taking part + screening)
    };
    const auto dummy = static_cast<std::int32_t>(u.size());
    u.push_back(0.0f);
    for (std::int64_t k : region)
        if (m_role[static_cast<std::size_t>(k)] == mine)
            role[static_cast<std::size_t>(local(k))] = 2;
    for (std::size_t l = 0; l < role.size(); ++l)
        if (role[l] == 1)
            u[l] -= median;
    const float screening = 1.0f / (kScreeningSamples * kScreeningSamples);
    std::vector<Cell> cells[2];
    for (std::int64_t k : region) {
        if (m_role[static_cast<std::size_t>(k)] != mine)
            continue;
        const std::int64_t l = local(k);
        const std::int64_t y = l / width, x = l % width;
        Cell cell{static_cast<std::int32_t>(l), {dummy, dummy, dummy, dummy}, 0.0f};
        int n = 0;
        auto take = [&](bool inside, std::int64_t m) {
            if (inside && role[static_cast<std::size_t>(m)])
                cell.next[n++] = static_cast<std::int32_t>(m);
        };
        take(x > 0, l - 1);
        take(x + 1 < width, l + 1);
        take(y > 0, l - width);
        take(y + 1 < height, l + width);
        cell.weight = 1.0f / (static_cast<float>(n) + screening);
        cells[(y + x) % 2].push_back(cell);
    }
    // A first guess, in order of distance from the rim: the mean of the neighbours set already,
    // fading towards zero as the membrane does. The sweeps then have little left to do.
    {
        const float fade = std::exp(-1.0f / kScreeningSamples);
        std::vector<const Cell*> cellAt(u.size(), nullptr);
        for (const auto& colour : cells)
            for (const Cell& cell : colour)
                cellAt[static_cast<std::size_t>(cell.self)] = &cell;
        std::vector<std::uint8_t> set(u.size(), 0);
        std::vector<const Cell*> queue;
        for (std::size_t l = 0; l < role.size(); ++l)
            set[l] = role[l] == 1;
        for (const auto& colour : cells)
            for (const Cell& cell : colour)
                for (std::int32_t m : cell.next)
                    if (set[static_cast<std::size_t>(m)] == 1 && m != dummy) {
                        queue.push_back(&cell);
                        set[static_cast<std::size_t>(cell.self)] = 2; // queued
                        break;
                    }
        for (std::size_t i = 0; i < queue.size(); ++i) {
            const Cell& cell = *queue[i];
            float sum = 0.0f;
            float n = 0.0f;
            for (std::int32_t m : cell.next) {
                if (m == dummy)
                    continue;
                if (set[static_cast<std::size_t>(m)] == 1) {
                    sum += u[static_cast<std::size_t>(m)];
                    n += 1.0f;
                } else if (set[static_cast<std::size_t>(m)] == 0 && cellAt[static_cast<std::size_t>(m)]) {
                    set[static_cast<std::size_t>(m)] = 2;
                    queue.push_back(cellAt[static_cast<std::size_t>(m)]);
                }
            }
            u[static_cast<std::size_t>(cell.self)] = n > 0.0f ? fade * sum / n : 0.0f;
            set[static_cast<std::size_t>(cell.self)] = 1;
        }
    }
    for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
        float change = 0.0f;
        for (const auto& colour : cells) {
            for (const Cell& cell : colour) {
                const float target = (u[static_cast<std::size_t>(cell.next[0])] + u[static_cast<std::size_t>(cell.next[1])]
                                      + u[static_cast<std::size_t>(cell.next[2])] + u[static_cast<std::size_t>(cell.next[3])])
                                     * cell.weight;
                float& value = u[static_cast<std::size_t>(cell.self)];
                const float step = kOverRelaxation * (target - value);
                value += step;
                change = std::max(change, std::fabs(step));
            }
        }
        if (change < kConverged)
            break;
    }
    for (const auto& colour : cells)
        for (const Cell& cell : colour) {
            const auto k = static_cast<std::size_t>(global(cell.self));
            m_out.samples[k] = finalValue(static_cast<float>(source.values[k]) + median + u[static_cast<std::size_t>(cell.self)]);
        }
}

void DeltaRun::bridgeRegion(const std::vector<std::int64_t>& region, std::int64_t r0, std::int64_t r1, std::int64_t c0,
                            std::int64_t c1)
{
    std::vector<bool> used(m_sources.size(), false);
    for (std::int64_t k : region) {
        const std::uint8_t role = m_role[static_cast<std::size_t>(k)];
        if (role != kUnfilled)
            used[role - 1u] = true;
    }
    for (std::size_t s = 0; s < m_sources.size(); ++s)
        if (used[s])
            bridgeSource(region, s, r0, r1, c0, c1);
}

Result<DeltaFilled> DeltaRun::run()
{
    if (Result<> read = readPrimary(); !read)
        return read.error();
    m_yield();
    if (Result<> read = readSources(); !read)
        return read.error();
    chooseFillers();
    m_rimCounted = Bits(m_count);

    // Void regions, 8-connected, found by flood fill.
    Bits seen(m_count);
    std::vector<std::int64_t> region;
    std::size_t sinceYield = 0;
    for (std::size_t start = 0; start < m_count; ++start) {
        if (m_role[start] == kValid || seen.get(start))
            continue;
        region.clear();
        region.push_back(static_cast<std::int64_t>(start));
        seen.set(start);
        std::int64_t r0 = m_side, r1 = -1, c0 = m_side, c1 = -1;
        for (std::size_t i = 0; i < region.size(); ++i) {
            const std::int64_t k = region[i], r = k / m_side, c = k % m_side;
            r0 = std::min(r0, r), r1 = std::max(r1, r), c0 = std::min(c0, c), c1 = std::max(c1, c);
            for (std::int64_t y = std::max<std::int64_t>(0, r - 1); y <= std::min(m_side - 1, r + 1); ++y)
                for (std::int64_t x = std::max<std::int64_t>(0, c - 1); x <= std::min(m_side - 1, c + 1); ++x) {
                    const auto n = static_cast<std::size_t>(y * m_side + x);
                    if (m_role[n] != kValid && !seen.get(n)) {
                        seen.set(n);
                        region.push_back(static_cast<std::int64_t>(n));
                    }
                }
        }
        bridgeRegion(region, r0, r1, c0, c1);
        sinceYield += region.size();
        if (sinceYield > 100000) {
            m_yield();
            sinceYield = 0;
        }
    }

    m_out.offsets.rimSamples = static_cast<std::int64_t>(m_allOffsets.size());
    if (!m_allOffsets.empty()) {
        m_out.offsets.median = quantile(m_allOffsets, 0.5);
        m_out.offsets.interquartileRange = quantile(m_allOffsets, 0.75) - quantile(m_allOffsets, 0.25);
    }
    return std::move(m_out);
}

} // namespace

Result<DeltaFilled> DeltaFill(const TileInput& primary, const std::vector<GridSource*>& sources, const VoidSet& voids,
                              const std::function<void()>& yield)
{
    return DeltaRun(primary, sources, voids, yield).run();
}

std::string OffsetWarning(const OffsetStats& offsets)
{
    if (offsets.rimSamples == 0 || std::fabs(offsets.median) <= kOffsetWarningMetres)
        return {};
    char text[96];
    std::snprintf(text, sizeof text, "%+.1f", offsets.median);
    std::string number = text;
    std::replace(number.begin(), number.end(), '.', ',');
    return "Höhenversatz der Quelle: Median " + number + " m – anderes Höhenbezugssystem?";
}

} // namespace hgt

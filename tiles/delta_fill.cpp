#include "tiles/internal/delta_fill.h"

#include "tiles/internal/filled_height.h"
#include "tiles/internal/hand_over.h"
#include "tiles/internal/helper_thread.h"
#include "tiles/internal/offset_membrane.h"
#include "tiles/internal/rim_offsets.h"
#include "tiles/internal/row_halves.h"
#include "tiles/internal/samples.h"
#include "tiles/internal/take_first_source.h"
#include "tiles/internal/void_regions.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <memory>

namespace hgt {

namespace {

constexpr std::uint8_t kValid = 0;
constexpr std::uint8_t kUnfilled = 0xFF; // a void that no source has a value for
// Other values: 1 + the index of the source that fills the void.

// One source's values at the samples near voids, by rank.
struct SourceNear {
    bool present = false;
    std::vector<std::int16_t> values;
    std::vector<std::uint8_t> hasValue;
};

struct Sample {
    std::int32_t r, c;
};

// A void region (8-connected voids), its bounding box, and the offsets measured on its rim in the
// order they were met (the sample's rank and the offset).
struct Region {
    std::vector<Sample> samples;
    std::int64_t r0 = 0, r1 = -1, c0 = 0, c1 = -1;
    RimOffsets rim;
};

// The box around a region widened by the rim (clipped to the tile), the samples numbered along its
// rows.
struct Box {
    std::int64_t top, left, width, height;

    std::size_t size() const { return static_cast<std::size_t>(width * height); }
    std::size_t index(const Sample& p) const { return static_cast<std::size_t>((p.r - top) * width + (p.c - left)); }
};

// One thread's work on a region, kept from region to region.
struct Scratch {
    std::vector<std::uint32_t> ranks; // the rank of each sample of the region
    RowBits nearRegion;               // on the box: within kRimWidth of the region
    std::vector<float> rimOffsets;    // in the order met
    Membrane membrane;
    std::vector<std::uint32_t> cellRanks[2]; // the rank of each cell's sample
};

// The fill keeps values only for the samples near voids (about a tenth of a tile with 9 % voids):
// allocating and filling whole-tile arrays cost more than all the rest of the work.
class DeltaRun {
public:
    DeltaRun(const TileInput& primary, const std::vector<GridSource*>& sources, const VoidSet& voids,
             const std::function<void()>& yield, bool useHelper)
        : m_primary(primary), m_sourceInputs(sources), m_voids(voids), m_yield(yield), m_side(primary.grid().side),
          m_useHelper(useHelper)
    {}

    Result<DeltaFilled> run();

private:
    Result<> findVoids();
    Result<> readNear();
    void chooseFillers();
    std::size_t rank(std::int64_t r, std::int64_t c) const { return m_out.near.rank(r, c); }
    void bridgeRegions();
    void bridgeRegion(Region& region, Scratch& work);
    void bridgeSource(Region& region, std::size_t s, Scratch& work);
    static void markRim(const Region& region, const Box& box, Scratch& work);
    void assignRoles(Region& region, std::size_t s, const Box& box, Scratch& work) const;
    void keepFiller(std::size_t s, const Scratch& work);
    void buildCells(const Region& region, std::size_t s, const Box& box, float median, Scratch& work) const;
    void writeBack(std::size_t s, float median, const Scratch& work);

    const TileInput& m_primary;
    const std::vector<GridSource*>& m_sourceInputs;
    const VoidSet& m_voids;
    const std::function<void()>& m_yield;
    const std::int64_t m_side;
    const bool m_useHelper;

    DeltaFilled m_out;
    std::vector<std::uint8_t> m_filler; // by rank: kValid, kUnfilled or 1 + source index
    std::vector<SourceNear> m_sources;
    std::vector<std::unique_ptr<Region>> m_regions; // in the order they were found
};

Result<> DeltaRun::findVoids()
{
    m_out.voids = RowBits(m_side);
    const bool onlyMarker = m_voids.isDefault();
    const Result<> scanned = InHalves(m_useHelper, m_side, [&](std::int64_t begin, std::int64_t end) -> Result<> {
        std::vector<std::uint8_t> raw;
        return ForRowChunks(m_primary, m_side, begin, end, raw, [&](std::int64_t r0, std::int64_t rows) {
            for (std::int64_t r = 0; r < rows; ++r) {
                const std::uint8_t* samples = raw.data() + r * m_side * 2;
                std::uint64_t* bits = m_out.voids.row(r0 + r);
                for (std::int64_t w = 0; w * 64 < m_side; ++w) {
                    // One flag byte per sample, then eight of them at a time into a byte of bits.
                    std::uint8_t flags[64] = {};
                    const std::int64_t n = std::min<std::int64_t>(64, m_side - w * 64);
                    const std::uint8_t* at = samples + w * 128;
                    if (onlyMarker) {
                        for (std::int64_t b = 0; b < n; ++b)
                            flags[b] = LoadWord(at + 2 * b) == kVoidWord;
                    } else {
                        for (std::int64_t b = 0; b < n; ++b)
                            flags[b] = m_voids.isVoid(DecodeSample(at + 2 * b));
                    }
                    bits[w] = PackFlags(flags);
                }
            }
        });
    });
    if (!scanned)
        return scanned;
    m_out.near = SamplesNearVoids(m_out.voids);
    return {};
}

Result<> DeltaRun::readNear()
{
    const NearSamples& near = m_out.near;
    const std::int64_t words = near.bits().wordsPerRow();
    // The samples near voids of a tile on the primary's grid, rows [begin, end), into `take` by rank.
    auto readSameGrid = [&](const TileInput& input, std::int64_t begin, std::int64_t end,
                            std::vector<std::uint8_t>& raw, auto take) -> Result<> {
        return ForRowChunks(input, m_side, begin, end, raw, [&](std::int64_t r0, std::int64_t rows) {
            std::size_t k = near.rank(r0, 0);
            for (std::int64_t r = r0; r < r0 + rows; ++r)
                forEachBit(near.bits().row(r), words,
                           [&](std::int64_t c) { take(k++, DecodeSample(raw.data() + 2 * ((r - r0) * m_side + c))); });
        });
    };
    m_out.values.resize(near.size());
    m_sources.resize(m_sourceInputs.size());
    for (std::size_t s = 0; s < m_sourceInputs.size(); ++s) {
        if (m_sourceInputs[s]) {
            m_sources[s].present = true;
            m_sources[s].values.resize(near.size());
            m_sources[s].hasValue.resize(near.size());
        }
    }
    // The primary and the sources on its grid, by halves of the rows.
    const Result<> read = InHalves(m_useHelper, m_side, [&](std::int64_t begin, std::int64_t end) -> Result<> {
        std::vector<std::uint8_t> raw;
        Result<> done =
            readSameGrid(m_primary, begin, end, raw, [&](std::size_t k, std::int16_t v) { m_out.values[k] = v; });
        for (std::size_t s = 0; done && s < m_sourceInputs.size(); ++s) {
            if (!m_sourceInputs[s] || !m_sourceInputs[s]->bytesAreSamples())
                continue;
            SourceNear& source = m_sources[s];
            done = readSameGrid(m_sourceInputs[s]->input(), begin, end, raw, [&](std::size_t k, std::int16_t v) {
                source.values[k] = v;
                source.hasValue[k] = !m_voids.isVoid(v);
            });
        }
        return done;
    });
    if (!read)
        return read;
    m_yield();

    // Sources on another grid are resampled at the samples wanted.
    const std::size_t chunkSamples = static_cast<std::size_t>(kChunkRows * m_side);
    for (std::size_t s = 0; s < m_sourceInputs.size(); ++s) {
        GridSource* input = m_sourceInputs[s];
        if (!input || input->bytesAreSamples())
            continue;
        SourceNear& source = m_sources[s];
        std::vector<std::int16_t> values(chunkSamples);
        std::vector<std::uint8_t> hasValue(chunkSamples);
        std::vector<std::uint8_t> wanted(chunkSamples);
        std::size_t k = 0;
        for (std::int64_t r0 = 0; r0 < m_side; r0 += kChunkRows) {
            const std::int64_t rows = std::min(kChunkRows, m_side - r0);
            const auto count = static_cast<std::size_t>(rows * m_side);
            std::fill(wanted.begin(), wanted.end(), std::uint8_t{0});
            for (std::int64_t r = r0; r < r0 + rows; ++r)
                forEachBit(near.bits().row(r), words,
                           [&](std::int64_t c) { wanted[static_cast<std::size_t>((r - r0) * m_side + c)] = 1; });
            if (Result<> got = input->read(r0 * m_side, count, values.data(), hasValue.data(), wanted.data()); !got)
                return got;
            for (std::size_t i = 0; i < count; ++i) {
                if (wanted[i]) {
                    source.values[k] = values[i];
                    source.hasValue[k] = hasValue[i];
                    ++k;
                }
            }
        }
        m_yield();
    }
    return {};
}

void DeltaRun::chooseFillers()
{
    m_filler.assign(m_out.near.size(), kValid);
    m_out.filledBySource.assign(m_sources.size(), 0);
    std::vector<std::uint8_t> waiting(m_out.near.size()); // by rank: 1 for a void
    std::size_t voidCount = 0;
    const std::int64_t words = m_out.voids.wordsPerRow();
    std::size_t k = 0; // the rank of the next sample near a void; the voids are among them
    for (std::int64_t r = 0; r < m_side; ++r) {
        const std::uint64_t* voids = m_out.voids.row(r);
        forEachBit(m_out.near.bits().row(r), words, [&](std::int64_t c) {
            const std::size_t here = k++;
            if (!((voids[c / 64] >> (c % 64)) & 1u))
                return;
            ++voidCount;
            waiting[here] = 1;
            m_filler[here] = kUnfilled;
        });
    }
    m_out.voidsFound += static_cast<std::int64_t>(voidCount);
    TakeFirstSource take(waiting.data(), waiting.size(), voidCount, m_out.filledBySource);
    for (std::size_t s = 0; s < m_sources.size() && take.left() > 0; ++s)
        if (m_sources[s].present)
            take.offer(s, m_sources[s].hasValue.data(),
                       [&](std::size_t i) { m_filler[i] = static_cast<std::uint8_t>(1 + s); });
    m_out.voidsLeft += static_cast<std::int64_t>(take.left());
}

// Bridges the offset between the primary and source `s` across the voids of the region that `s`
// fills: measured on the rim, solved as a screened membrane inside, added to the filler.
void DeltaRun::bridgeSource(Region& region, std::size_t s, Scratch& work)
{
    const std::int64_t top = std::max<std::int64_t>(0, region.r0 - kRimWidth);
    const std::int64_t bottom = std::min(m_side - 1, region.r1 + kRimWidth);
    const std::int64_t left = std::max<std::int64_t>(0, region.c0 - kRimWidth);
    const std::int64_t right = std::min(m_side - 1, region.c1 + kRimWidth);
    const Box box{top, left, right - left + 1, bottom - top + 1};

    markRim(region, box, work);
    assignRoles(region, s, box, work);
    if (work.rimOffsets.empty()) {
        keepFiller(s, work);
        return;
    }
    const auto median = static_cast<float>(Quantile(work.rimOffsets, 0.5));
    buildCells(region, s, box, median, work);
    GuessMembrane(box.size(), work.membrane);
    RelaxMembrane(work.membrane);
    writeBack(s, median, work);
}

// Marks the samples within kRimWidth of the region (the region itself, not its neighbours).
void DeltaRun::markRim(const Region& region, const Box& box, Scratch& work)
{
    RowBits& near = work.nearRegion;
    near.reset(box.height, box.width);
    for (const Sample& p : region.samples)
        near.set(p.r - box.top, p.c - box.left);
    DilateSquare(near, kRimWidth);
}

// Fixed: the valid samples near the region that the source has a value for, with the offset
// primary - source, which the region's rim also keeps for the statistics. Unknown: the voids that
// this source fills.
void DeltaRun::assignRoles(Region& region, std::size_t s, const Box& box, Scratch& work) const
{
    const std::int64_t top = box.top, left = box.left, width = box.width, height = box.height;
    const SourceNear& source = m_sources[s];
    const RowBits& near = work.nearRegion;
    std::vector<MembraneRole>& role = work.membrane.role;
    role.assign(box.size(), MembraneRole::Outside);
    std::vector<float>& membrane = work.membrane.values;
    membrane.assign(box.size(), 0.0f);
    std::vector<float>& offsets = work.rimOffsets;
    offsets.clear();
    for (std::int64_t y = 0; y < height; ++y) {
        // The ranks along a row of the box go up by one at each sample near some void.
        std::size_t next = rank(top + y, left);
        for (std::int64_t x = 0; x < width; ++x) {
            const auto at = static_cast<std::size_t>(y * width + x);
            if (!m_out.near.contains(top + y, left + x))
                continue;
            const std::size_t k = next++;
            if (!near.get(y, x) || m_filler[k] != kValid || !source.hasValue[k])
                continue;
            const float offset = static_cast<float>(m_out.values[k]) - static_cast<float>(source.values[k]);
            role[at] = MembraneRole::Fixed;
            membrane[at] = offset;
            offsets.push_back(offset);
            region.rim.emplace_back(static_cast<std::uint32_t>(k), offset);
        }
    }
    const auto mine = static_cast<std::uint8_t>(1 + s);
    for (std::size_t i = 0; i < region.samples.size(); ++i)
        if (m_filler[work.ranks[i]] == mine)
            role[box.index(region.samples[i])] = MembraneRole::Unknown;
}

// Nothing to measure the offset by: the filler as it is.
void DeltaRun::keepFiller(std::size_t s, const Scratch& work)
{
    const SourceNear& source = m_sources[s];
    const auto mine = static_cast<std::uint8_t>(1 + s);
    for (const std::uint32_t k : work.ranks)
        if (m_filler[k] == mine)
            m_out.values[k] = source.values[k];
}

// The screened membrane for the offset less the median, zero far inside and the rim's offsets at
// the rim: a cell for each of this source's voids, coloured as on a chessboard for the red-black
// sweeps, with the neighbours that take part (the others point at a dummy of value 0).
void DeltaRun::buildCells(const Region& region, std::size_t s, const Box& box, float median, Scratch& work) const
{
    const std::int64_t top = box.top, left = box.left, width = box.width, height = box.height;
    const std::size_t boxSize = box.size();
    const auto dummy = static_cast<std::int32_t>(boxSize);
    const std::vector<MembraneRole>& role = work.membrane.role;
    std::vector<float>& membrane = work.membrane.values;
    membrane.push_back(0.0f);
    for (std::size_t at = 0; at < boxSize; ++at)
        if (role[at] == MembraneRole::Fixed)
            membrane[at] -= median;
    const float screening = 1.0f / (kScreeningSamples * kScreeningSamples);
    for (int colour = 0; colour < 2; ++colour) {
        work.membrane.cells[colour].clear();
        work.cellRanks[colour].clear();
    }
    const auto mine = static_cast<std::uint8_t>(1 + s);
    for (std::size_t i = 0; i < region.samples.size(); ++i) {
        if (m_filler[work.ranks[i]] != mine)
            continue;
        const Sample& p = region.samples[i];
        const auto at = static_cast<std::int64_t>(box.index(p));
        const std::int64_t y = p.r - top, x = p.c - left;
        MembraneCell cell{static_cast<std::int32_t>(at), {dummy, dummy, dummy, dummy}, 0.0f};
        int taking = 0;
        auto take = [&](bool inside, std::int64_t neighbour) {
            if (inside && role[static_cast<std::size_t>(neighbour)] != MembraneRole::Outside)
                cell.next[taking++] = static_cast<std::int32_t>(neighbour);
        };
        take(x > 0, at - 1);
        take(x + 1 < width, at + 1);
        take(y > 0, at - width);
        take(y + 1 < height, at + width);
        cell.weight = 1.0f / (static_cast<float>(taking) + screening);
        work.membrane.cells[(y + x) % 2].push_back(cell);
        work.cellRanks[(y + x) % 2].push_back(work.ranks[i]);
    }
}

// The filler plus the median and the bridged offset, at each of this source's voids.
void DeltaRun::writeBack(std::size_t s, float median, const Scratch& work)
{
    const SourceNear& source = m_sources[s];
    for (int colour = 0; colour < 2; ++colour) {
        for (std::size_t i = 0; i < work.membrane.cells[colour].size(); ++i) {
            const MembraneCell& cell = work.membrane.cells[colour][i];
            const std::uint32_t k = work.cellRanks[colour][i];
            const float offset = work.membrane.values[static_cast<std::size_t>(cell.self)];
            m_out.values[k] = FilledHeight(static_cast<float>(source.values[k]) + median + offset, m_voids, kUpwards);
        }
    }
}

void DeltaRun::bridgeRegion(Region& region, Scratch& work)
{
    std::vector<bool> used(m_sources.size(), false);
    work.ranks.resize(region.samples.size());
    for (std::size_t i = 0; i < region.samples.size(); ++i) {
        work.ranks[i] = static_cast<std::uint32_t>(rank(region.samples[i].r, region.samples[i].c));
        const std::uint8_t filler = m_filler[work.ranks[i]];
        if (filler != kUnfilled)
            used[filler - 1u] = true;
    }
    for (std::size_t s = 0; s < m_sources.size(); ++s)
        if (used[s])
            bridgeSource(region, s, work);
}

// The regions are independent: each writes only its own voids and reads valid samples. Where a
// second core is to be had, a helper thread bridges regions while this one still looks for more.
void DeltaRun::bridgeRegions()
{
    Scratch work;
    std::size_t sinceYield = 0;
    auto progress = [&](std::size_t samples) {
        sinceYield += samples;
        if (sinceYield > 100000) {
            m_yield();
            sinceYield = 0;
        }
    };
    HandOver<Region> handOver(m_regions, m_useHelper, [this, helperWork = Scratch()](Region& region) mutable {
        bridgeRegion(region, helperWork);
    });
    const auto emptyRegion = [&] {
        auto region = std::make_unique<Region>();
        region->r0 = m_side, region->c0 = m_side; // for the first sample to replace
        return region;
    };
    RowBits pending = m_out.voids;
    std::unique_ptr<Region> region = emptyRegion();
    TakeVoidRegions(
        pending, {0, m_side, 0, m_side},
        [&](std::int64_t r, std::int64_t c) {
            region->samples.push_back({static_cast<std::int32_t>(r), static_cast<std::int32_t>(c)});
            region->r0 = std::min(region->r0, r), region->r1 = std::max(region->r1, r);
            region->c0 = std::min(region->c0, c), region->c1 = std::max(region->c1, c);
        },
        [&] {
            const std::size_t size = region->samples.size();
            handOver.add(std::move(region), [&](Region& found) { bridgeRegion(found, work); });
            progress(size);
            region = emptyRegion();
        });
    handOver.finish([&](Region& left) {
        bridgeRegion(left, work);
        progress(left.samples.size());
    });
}

Result<DeltaFilled> DeltaRun::run()
{
    if (Result<> found = findVoids(); !found)
        return found.error();
    if (Result<> read = readNear(); !read)
        return read.error();
    chooseFillers();
    m_out.fillers = m_filler;
    bridgeRegions();

    RimTally rims(m_out.near.size());
    for (const std::unique_ptr<Region>& region : m_regions)
        rims.add(region->rim);
    m_regions.clear();
    m_out.offsets = rims.stats();
    return std::move(m_out);
}

} // namespace

NearSamples SamplesNearVoids(const RowBits& voids)
{
    RowBits near = voids;
    DilateSquare(near, kRimWidth);
    return NearSamples(std::move(near));
}

void DeltaFilled::apply(std::int64_t first, std::uint8_t* block, std::size_t count) const
{
    const std::int64_t side = voids.side(), end = first + static_cast<std::int64_t>(count);
    for (std::int64_t k = first; k < end;) {
        const std::int64_t r = k / side, c = k % side;
        const std::int64_t rowEnd = std::min(end, (r + 1) * side);
        const std::int64_t cEnd = c + (rowEnd - k);
        const std::uint64_t* voidRow = voids.row(r);
        const std::uint64_t* nearRow = near.bits().row(r);
        std::size_t rank = near.rank(r, c); // then one up at each sample near a void
        for (std::int64_t w = c / 64; w * 64 < cEnd; ++w) {
            std::uint64_t word = nearRow[w];
            if (w == c / 64)
                word &= ~std::uint64_t{0} << (c % 64);
            if ((w + 1) * 64 > cEnd)
                word &= (std::uint64_t{1} << (cEnd % 64)) - 1;
            for (; word != 0; word &= word - 1, ++rank) {
                const int bit = std::countr_zero(word);
                if ((voidRow[w] >> bit) & 1u)
                    EncodeSample(block + 2 * (r * side + w * 64 + bit - first), values[rank]);
            }
        }
        k = rowEnd;
    }
}

Result<DeltaFilled> DeltaFill(const TileInput& primary, const std::vector<GridSource*>& sources, const VoidSet& voids,
                              const std::function<void()>& yield, bool useHelper)
{
    return DeltaRun(primary, sources, voids, yield, useHelper && SecondCoreAvailable()).run();
}

} // namespace hgt

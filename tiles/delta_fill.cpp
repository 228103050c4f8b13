#include "tiles/internal/delta_fill.h"

#include "platform/german_number.h"
#include "tiles/internal/samples.h"
#include "tiles/internal/take_first_source.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

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

// The tiles are read this many rows at a time.
constexpr std::int64_t kChunkRows = 32;

// Calls f(c) for each set bit of a row, in order.
template <typename F>
void forEachBit(const std::uint64_t* row, std::int64_t words, F f)
{
    for (std::int64_t w = 0; w < words; ++w)
        for (std::uint64_t word = row[w]; word != 0; word &= word - 1)
            f(w * 64 + std::countr_zero(word));
}

// 64 flag bytes (0 or 1) as the bits of a word, the first byte the lowest bit.
std::uint64_t PackFlags(const std::uint8_t* flags)
{
    std::uint64_t word = 0;
    for (int byte = 0; byte < 8; ++byte) {
        std::uint64_t eight;
        std::memcpy(&eight, flags + 8 * byte, 8);
        // The product adds flag i into bit 56 + i, and nothing else into the top byte.
        if constexpr (std::endian::native == std::endian::little)
            word |= ((eight * 0x0102040810204080ull) >> 56) << (8 * byte);
        else
            for (int b = 0; b < 8; ++b)
                word |= std::uint64_t{flags[8 * byte + b]} << (8 * byte + b);
    }
    return word;
}

// Reads rows [begin, end) of a tile of `side` samples a side into `raw`, kChunkRows at a time, and
// hands each chunk to chunk(first row, rows).
template <typename F>
Result<> ForRowChunks(const TileInput& input, std::int64_t side, std::int64_t begin, std::int64_t end,
                      std::vector<std::uint8_t>& raw, F chunk)
{
    raw.resize(static_cast<std::size_t>(kChunkRows * side * 2));
    for (std::int64_t r0 = begin; r0 < end; r0 += kChunkRows) {
        const std::int64_t rows = std::min(kChunkRows, end - r0);
        if (Result<> read = input.readAt(r0 * side * 2, raw.data(), static_cast<std::size_t>(rows * side * 2)); !read)
            return read;
        chunk(r0, rows);
    }
    return {};
}

// Runs work(first row, end row) over the rows of a tile, the first half on a helper thread where
// `helper` says so, the second on this one. The first failure in row order is returned.
Result<> InHalves(bool helper, std::int64_t rows, const std::function<Result<>(std::int64_t, std::int64_t)>& work)
{
    const std::int64_t middle = helper ? rows / 2 : 0;
    Result<> first;
    std::thread thread;
    if (middle > 0) {
        try {
            thread = std::thread([&] { first = work(0, middle); });
        } catch (const std::system_error&) {
            return work(0, rows);
        }
    }
    Result<> second = work(middle, rows);
    if (thread.joinable())
        thread.join();
    return first ? second : first;
}

// One source's values at the samples near voids, by rank.
struct SourceNear {
    bool present = false;
    std::vector<std::int16_t> values;
    std::vector<std::uint8_t> hasValue;
};

struct Sample {
    std::int32_t r, c;
};

// One void of the membrane problem: its neighbours that take part (the others stand for a dummy
// of value 0) and 1 / (neighbours taking part + screening).
struct Cell {
    std::int32_t self;
    std::int32_t next[4];
    float weight;
};

// A void region (8-connected voids), its bounding box, and the offsets measured on its rim in the
// order they were met (the sample's rank and the offset).
struct Region {
    std::vector<Sample> samples;
    std::int64_t r0 = 0, r1 = -1, c0 = 0, c1 = -1;
    std::vector<std::pair<std::uint32_t, float>> rim;
};

// What a sample of a region's box is to the membrane problem of one source.
enum class Role : std::uint8_t {
    Outside, // takes no part
    Fixed,   // on the rim, with a measured offset
    Unknown, // this source's void, to be solved
};

// How far the first guess has got with a sample.
enum class Guess : std::uint8_t {
    Open,   // no value yet
    Known,  // a fixed offset or a guessed one
    Queued, // waits for its guess
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
    std::vector<std::uint32_t> ranks;     // the rank of each sample of the region
    std::vector<std::uint8_t> nearRegion; // by box index: within kRimWidth of the region
    std::vector<std::uint8_t> line;
    std::vector<Role> role; // by box index
    // By box index, and one more for the dummy neighbour: the offset less the rim's median, the
    // membrane's unknown.
    std::vector<float> membrane;
    std::vector<float> rimOffsets; // in the order met
    std::vector<Cell> cells[2];
    std::vector<std::uint32_t> cellRanks[2]; // the rank of each cell's sample
    std::vector<std::int32_t> cellAt;
    std::vector<Guess> guess;
    std::vector<const Cell*> queue;
};

double quantile(std::vector<float>& values, double q)
{
    const auto k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

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
    static void firstGuess(const Box& box, Scratch& work);
    static void relax(Scratch& work);
    void writeBack(std::size_t s, float median, const Scratch& work);
    std::int16_t finalValue(float value) const;

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
            if (!m_sourceInputs[s] || !m_sourceInputs[s]->sameGrid())
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
        if (!input || input->sameGrid())
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

std::int16_t DeltaRun::finalValue(float value) const
{
    auto result = static_cast<std::int16_t>(std::clamp<long>(std::lround(value), -32768, 32767));
    // A filled sample must not read as a void.
    while (m_voids.isVoid(result))
        result = static_cast<std::int16_t>(result + 1);
    return result;
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
    const auto median = static_cast<float>(quantile(work.rimOffsets, 0.5));
    buildCells(region, s, box, median, work);
    firstGuess(box, work);
    relax(work);
    writeBack(s, median, work);
}

// Marks the samples within kRimWidth of the region (the region itself, not its neighbours) by
// widening the region's mask along the rows, then along the columns.
void DeltaRun::markRim(const Region& region, const Box& box, Scratch& work)
{
    const std::int64_t width = box.width, height = box.height;
    std::vector<std::uint8_t>& near = work.nearRegion;
    near.assign(box.size(), 0);
    for (const Sample& p : region.samples)
        near[box.index(p)] = 1;
    work.line.resize(static_cast<std::size_t>(std::max(width, height)));
    std::uint8_t* const line = work.line.data();
    for (int pass = 0; pass < 2; ++pass) {
        const std::int64_t lines = pass == 0 ? height : width, length = pass == 0 ? width : height;
        const std::int64_t step = pass == 0 ? 1 : width, stride = pass == 0 ? width : 1;
        for (std::int64_t i = 0; i < lines; ++i) {
            std::uint8_t* start = near.data() + i * stride;
            for (std::int64_t j = 0; j < length; ++j)
                line[j] = start[j * step];
            std::int64_t last = -kRimWidth - 1; // the latest marked sample seen, or far away
            for (std::int64_t j = 0; j < length; ++j) {
                if (line[j])
                    last = j;
                start[j * step] = j - last <= kRimWidth;
            }
            last = length + kRimWidth;
            for (std::int64_t j = length - 1; j >= 0; --j) {
                if (line[j])
                    last = j;
                start[j * step] = start[j * step] | (last - j <= kRimWidth);
            }
        }
    }
}

// Fixed: the valid samples near the region that the source has a value for, with the offset
// primary - source, which the region's rim also keeps for the statistics. Unknown: the voids that
// this source fills.
void DeltaRun::assignRoles(Region& region, std::size_t s, const Box& box, Scratch& work) const
{
    const std::int64_t top = box.top, left = box.left, width = box.width, height = box.height;
    const SourceNear& source = m_sources[s];
    const std::vector<std::uint8_t>& near = work.nearRegion;
    std::vector<Role>& role = work.role;
    role.assign(box.size(), Role::Outside);
    std::vector<float>& membrane = work.membrane;
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
            if (!near[at] || m_filler[k] != kValid || !source.hasValue[k])
                continue;
            const float offset = static_cast<float>(m_out.values[k]) - static_cast<float>(source.values[k]);
            role[at] = Role::Fixed;
            membrane[at] = offset;
            offsets.push_back(offset);
            region.rim.emplace_back(static_cast<std::uint32_t>(k), offset);
        }
    }
    const auto mine = static_cast<std::uint8_t>(1 + s);
    for (std::size_t i = 0; i < region.samples.size(); ++i)
        if (m_filler[work.ranks[i]] == mine)
            role[box.index(region.samples[i])] = Role::Unknown;
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
    const std::vector<Role>& role = work.role;
    std::vector<float>& membrane = work.membrane;
    membrane.push_back(0.0f);
    for (std::size_t at = 0; at < boxSize; ++at)
        if (role[at] == Role::Fixed)
            membrane[at] -= median;
    const float screening = 1.0f / (kScreeningSamples * kScreeningSamples);
    for (int colour = 0; colour < 2; ++colour) {
        work.cells[colour].clear();
        work.cellRanks[colour].clear();
    }
    const auto mine = static_cast<std::uint8_t>(1 + s);
    for (std::size_t i = 0; i < region.samples.size(); ++i) {
        if (m_filler[work.ranks[i]] != mine)
            continue;
        const Sample& p = region.samples[i];
        const auto at = static_cast<std::int64_t>(box.index(p));
        const std::int64_t y = p.r - top, x = p.c - left;
        Cell cell{static_cast<std::int32_t>(at), {dummy, dummy, dummy, dummy}, 0.0f};
        int taking = 0;
        auto take = [&](bool inside, std::int64_t neighbour) {
            if (inside && role[static_cast<std::size_t>(neighbour)] != Role::Outside)
                cell.next[taking++] = static_cast<std::int32_t>(neighbour);
        };
        take(x > 0, at - 1);
        take(x + 1 < width, at + 1);
        take(y > 0, at - width);
        take(y + 1 < height, at + width);
        cell.weight = 1.0f / (static_cast<float>(taking) + screening);
        work.cells[(y + x) % 2].push_back(cell);
        work.cellRanks[(y + x) % 2].push_back(work.ranks[i]);
    }
}

// A first guess, in order of distance from the rim: the mean of the neighbours known already,
// fading towards zero as the membrane does. The sweeps then have little left to do.
void DeltaRun::firstGuess(const Box& box, Scratch& work)
{
    const std::size_t boxSize = box.size();
    const auto dummy = static_cast<std::int32_t>(boxSize);
    const std::vector<Role>& role = work.role;
    std::vector<float>& membrane = work.membrane;
    const float fade = std::exp(-1.0f / kScreeningSamples);
    const auto firstCount = static_cast<std::int32_t>(work.cells[0].size());
    auto cellOf = [&](std::int32_t index) -> const Cell& {
        return index < firstCount ? work.cells[0][static_cast<std::size_t>(index)]
                                  : work.cells[1][static_cast<std::size_t>(index - firstCount)];
    };
    work.cellAt.assign(membrane.size(), -1);
    for (std::size_t i = 0; i < work.cells[0].size(); ++i)
        work.cellAt[static_cast<std::size_t>(work.cells[0][i].self)] = static_cast<std::int32_t>(i);
    for (std::size_t i = 0; i < work.cells[1].size(); ++i)
        work.cellAt[static_cast<std::size_t>(work.cells[1][i].self)] = firstCount + static_cast<std::int32_t>(i);
    std::vector<Guess>& guess = work.guess;
    guess.assign(membrane.size(), Guess::Open);
    std::vector<const Cell*>& queue = work.queue;
    queue.clear();
    for (std::size_t at = 0; at < boxSize; ++at)
        guess[at] = role[at] == Role::Fixed ? Guess::Known : Guess::Open;
    for (const auto& colour : work.cells)
        for (const Cell& cell : colour)
            for (std::int32_t neighbour : cell.next)
                if (guess[static_cast<std::size_t>(neighbour)] == Guess::Known && neighbour != dummy) {
                    queue.push_back(&cell);
                    guess[static_cast<std::size_t>(cell.self)] = Guess::Queued;
                    break;
                }
    for (std::size_t i = 0; i < queue.size(); ++i) {
        const Cell& cell = *queue[i];
        float sum = 0.0f;
        float known = 0.0f;
        for (std::int32_t neighbour : cell.next) {
            if (neighbour == dummy)
                continue;
            const auto at = static_cast<std::size_t>(neighbour);
            if (guess[at] == Guess::Known) {
                sum += membrane[at];
                known += 1.0f;
            } else if (guess[at] == Guess::Open && work.cellAt[at] >= 0) {
                guess[at] = Guess::Queued;
                queue.push_back(&cellOf(work.cellAt[at]));
            }
        }
        membrane[static_cast<std::size_t>(cell.self)] = known > 0.0f ? fade * sum / known : 0.0f;
        guess[static_cast<std::size_t>(cell.self)] = Guess::Known;
    }
}

// Red-black over-relaxation of the cells until no value moves by kConverged any more.
void DeltaRun::relax(Scratch& work)
{
    std::vector<float>& membrane = work.membrane;
    for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
        float change = 0.0f;
        for (const auto& colour : work.cells) {
            for (const Cell& cell : colour) {
                const float target =
                    (membrane[static_cast<std::size_t>(cell.next[0])] + membrane[static_cast<std::size_t>(cell.next[1])]
                     + membrane[static_cast<std::size_t>(cell.next[2])]
                     + membrane[static_cast<std::size_t>(cell.next[3])])
                    * cell.weight;
                float& value = membrane[static_cast<std::size_t>(cell.self)];
                const float step = kOverRelaxation * (target - value);
                value += step;
                change = std::max(change, std::fabs(step));
            }
        }
        if (change < kConverged)
            break;
    }
}

// The filler plus the median and the bridged offset, at each of this source's voids.
void DeltaRun::writeBack(std::size_t s, float median, const Scratch& work)
{
    const SourceNear& source = m_sources[s];
    for (int colour = 0; colour < 2; ++colour) {
        for (std::size_t i = 0; i < work.cells[colour].size(); ++i) {
            const Cell& cell = work.cells[colour][i];
            const std::uint32_t k = work.cellRanks[colour][i];
            m_out.values[k] = finalValue(static_cast<float>(source.values[k]) + median
                                         + work.membrane[static_cast<std::size_t>(cell.self)]);
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
// The rim offsets are counted afterwards in the regions' order, so the statistics do not depend
// on which thread was quicker.
void DeltaRun::bridgeRegions()
{
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;                // the first region not yet taken
    bool allFound = false;               // the flood fill is through
    bool helperWaits = false;            // the helper sleeps until a region comes
    auto takeRegion = [&]() -> Region* { // with the mutex held
        return next < m_regions.size() ? m_regions[next++].get() : nullptr;
    };
    auto helperLoop = [&] {
        Scratch work;
        std::unique_lock lock(mutex);
        for (;;) {
            if (Region* region = takeRegion()) {
                lock.unlock();
                bridgeRegion(*region, work);
                lock.lock();
                continue;
            }
            if (allFound)
                return;
            helperWaits = true;
            changed.wait(lock);
            helperWaits = false;
        }
    };
    std::thread thread;
    if (m_useHelper) {
        try {
            thread = std::thread(helperLoop);
        } catch (const std::system_error&) {
            // no thread to be had: this one does all
        }
    }

    // Void regions, 8-connected, found by flood fill in the tile's order: a void leaves `pending`
    // when its region takes it.
    Scratch work;
    RowBits pending = m_out.voids;
    std::size_t sinceYield = 0;
    auto progress = [&](std::size_t samples) {
        sinceYield += samples;
        if (sinceYield > 100000) {
            m_yield();
            sinceYield = 0;
        }
    };
    for (std::int64_t row = 0; row < m_side; ++row) {
        forEachBit(m_out.voids.row(row), m_out.voids.wordsPerRow(), [&](std::int64_t col) {
            if (!pending.get(row, col))
                return;
            auto region = std::make_unique<Region>();
            std::vector<Sample>& samples = region->samples;
            samples.push_back({static_cast<std::int32_t>(row), static_cast<std::int32_t>(col)});
            pending.clear(row, col);
            std::int64_t r0 = m_side, r1 = -1, c0 = m_side, c1 = -1;
            for (std::size_t i = 0; i < samples.size(); ++i) {
                const std::int64_t r = samples[i].r, c = samples[i].c;
                r0 = std::min(r0, r), r1 = std::max(r1, r), c0 = std::min(c0, c), c1 = std::max(c1, c);
                for (std::int64_t y = std::max<std::int64_t>(0, r - 1); y <= std::min(m_side - 1, r + 1); ++y)
                    for (std::int64_t x = std::max<std::int64_t>(0, c - 1); x <= std::min(m_side - 1, c + 1); ++x) {
                        if (pending.get(y, x)) {
                            pending.clear(y, x);
                            samples.push_back({static_cast<std::int32_t>(y), static_cast<std::int32_t>(x)});
                        }
                    }
            }
            region->r0 = r0, region->r1 = r1, region->c0 = c0, region->c1 = c1;
            const std::size_t size = samples.size();
            if (thread.joinable()) {
                bool wake;
                {
                    std::lock_guard lock(mutex);
                    m_regions.push_back(std::move(region));
                    wake = helperWaits;
                }
                if (wake)
                    changed.notify_one();
            } else {
                bridgeRegion(*region, work);
                m_regions.push_back(std::move(region));
            }
            progress(size);
        });
    }
    if (thread.joinable()) {
        // This thread joins in once every region is found.
        std::unique_lock lock(mutex);
        allFound = true;
        changed.notify_one();
        while (Region* region = takeRegion()) {
            lock.unlock();
            bridgeRegion(*region, work);
            progress(region->samples.size());
            lock.lock();
        }
        lock.unlock();
        thread.join();
    }
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

    // Each rim sample counts once, with the offset of the first region that met it.
    std::vector<bool> counted(m_out.near.size());
    std::vector<float> allOffsets;
    for (const std::unique_ptr<Region>& region : m_regions) {
        for (const auto& [k, offset] : region->rim) {
            if (!counted[k]) {
                counted[k] = true;
                allOffsets.push_back(offset);
            }
        }
    }
    m_regions.clear();
    m_out.offsets.rimSamples = static_cast<std::int64_t>(allOffsets.size());
    if (!allOffsets.empty()) {
        m_out.offsets.median = quantile(allOffsets, 0.5);
        m_out.offsets.interquartileRange = quantile(allOffsets, 0.75) - quantile(allOffsets, 0.25);
    }
    return std::move(m_out);
}

} // namespace

NearSamples::NearSamples(RowBits bits) : m_bits(std::move(bits))
{
    const std::vector<std::uint64_t>& words = m_bits.words();
    m_wordRank.resize(words.size());
    std::size_t total = 0;
    for (std::size_t w = 0; w < words.size(); ++w) {
        m_wordRank[w] = static_cast<std::uint32_t>(total);
        total += static_cast<std::size_t>(std::popcount(words[w]));
    }
    m_size = total;
}

std::size_t NearSamples::rank(std::int64_t r, std::int64_t c) const
{
    const std::uint64_t below = (std::uint64_t{1} << (c % 64)) - 1;
    return m_wordRank[static_cast<std::size_t>(r * m_bits.wordsPerRow() + c / 64)]
           + static_cast<std::size_t>(std::popcount(m_bits.row(r)[c / 64] & below));
}

NearSamples SamplesNearVoids(const RowBits& voids)
{
    const std::int64_t side = voids.side(), words = voids.wordsPerRow();
    const std::uint64_t lastWord = side % 64 ? (std::uint64_t{1} << (side % 64)) - 1 : ~std::uint64_t{0};
    // Along the rows: a sample is near when a void lies within kRimWidth columns of it.
    RowBits wide(side);
    for (std::int64_t r = 0; r < side; ++r) {
        const std::uint64_t* in = voids.row(r);
        std::uint64_t* out = wide.row(r);
        for (std::int64_t w = 0; w < words; ++w) {
            const std::uint64_t x = in[w];
            const std::uint64_t before = w > 0 ? in[w - 1] : 0, after = w + 1 < words ? in[w + 1] : 0;
            std::uint64_t spread = x;
            for (int s = 1; s <= kRimWidth; ++s)
                spread |= x << s | before >> (64 - s) | x >> s | after << (64 - s);
            out[w] = spread;
        }
        out[words - 1] &= lastWord;
    }
    // Then along the columns: within kRimWidth rows of such a sample.
    RowBits near(side);
    for (std::int64_t r = 0; r < side; ++r) {
        std::uint64_t* out = near.row(r);
        for (std::int64_t from = std::max<std::int64_t>(0, r - kRimWidth); from <= std::min(side - 1, r + kRimWidth);
             ++from) {
            const std::uint64_t* in = wide.row(from);
            for (std::int64_t w = 0; w < words; ++w)
                out[w] |= in[w];
        }
    }
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
    return DeltaRun(primary, sources, voids, yield, useHelper && std::thread::hardware_concurrency() > 1).run();
}

std::string OffsetWarning(const OffsetStats& offsets, bool rasterSource)
{
    if (offsets.rimSamples == 0 || std::fabs(offsets.median) <= kOffsetWarningMetres)
        return {};
    const std::string number = GermanDecimal(offsets.median, 1, true);
    if (rasterSource) // SRTM tiles refer to EGM96, Copernicus rasters to EGM2008
        return "Höhenversatz der Quelle: Median " + number
               + " m – anderes Höhenbezugssystem (z. B. EGM96 und EGM2008)?";
    return "Höhenversatz der Quelle: Median " + number + " m – anderes Höhenbezugssystem?";
}

} // namespace hgt

#include "tiles/internal/tile_walk.h"

#include "tiles/internal/samples.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace hgt {

namespace {

// The samples are handled as raw 16-bit words in memory order, compared with the marker's bytes in
// the same order: branch-free loops that the compiler turns into vector code.
std::uint16_t loadWord(const std::uint8_t* p)
{
    std::uint16_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

void storeWord(std::uint8_t* p, std::uint16_t word)
{
    std::memcpy(p, &word, sizeof word);
}

// Swaps a big-endian tile word to the host's order, and back.
std::uint16_t toHost(std::uint16_t word)
{
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<std::uint16_t>(word << 8 | word >> 8);
    return word;
}

const std::uint8_t kVoidBytes[2] = {kVoidHigh, kVoidLow};
const std::uint16_t kVoidWord = loadWord(kVoidBytes);

// Counts in 16-bit lanes stay narrow enough to vectorise well; a chunk never overflows them.
constexpr std::size_t kCountChunkWords = 32768;

constexpr std::size_t kMaxBlockBytes = 4 * 1024 * 1024;

} // namespace

// The kernels exist twice, for AVX2 and for the x86-64 baseline (SSE2); the loader picks one.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define HGT_VECTOR_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define HGT_VECTOR_KERNEL
#endif

HGT_VECTOR_KERNEL
std::size_t CountVoids(const std::uint8_t* block, std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    const std::size_t words = n / 2;
    std::size_t total = 0;
    for (std::size_t start = 0; start < words; start += kCountChunkWords) {
        const std::size_t end = std::min(words, start + kCountChunkWords);
        std::uint16_t count = 0;
        for (std::size_t w = start; w < end; ++w)
            count = static_cast<std::uint16_t>(count + (loadWord(block + 2 * w) == marker));
        total += count;
    }
    return total;
}

HGT_VECTOR_KERNEL
std::size_t FillVoids(std::uint8_t* primary, const std::uint8_t* secondary, std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    const std::size_t words = n / 2;
    std::size_t left = 0;
    for (std::size_t start = 0; start < words; start += kCountChunkWords) {
        const std::size_t end = std::min(words, start + kCountChunkWords);
        std::uint16_t count = 0;
        for (std::size_t w = start; w < end; ++w) {
            const std::uint16_t own = loadWord(primary + 2 * w);
            const std::uint16_t other = loadWord(secondary + 2 * w);
            const std::uint16_t result = own == marker ? other : own;
            count = static_cast<std::uint16_t>(count + (result == marker));
            storeWord(primary + 2 * w, result);
        }
        left += count;
    }
    return left;
}

HGT_VECTOR_KERNEL
std::size_t SubtractSamples(std::uint8_t* primary, const std::uint8_t* comparison, std::size_t n)
{
    const std::uint16_t marker = kVoidWord;
    const std::size_t words = n / 2;
    std::size_t voids = 0;
    for (std::size_t start = 0; start < words; start += kCountChunkWords) {
        const std::size_t end = std::min(words, start + kCountChunkWords);
        std::uint16_t count = 0;
        for (std::size_t w = start; w < end; ++w) {
            const std::uint16_t ownWord = loadWord(primary + 2 * w);
            const std::uint16_t otherWord = loadWord(comparison + 2 * w);
            // Saturating 16-bit subtraction in unsigned arithmetic, so the loop stays 16 bits wide:
            // it overflows where the operands' signs differ and the result's sign differs from own's.
            const std::uint16_t own = toHost(ownWord);
            const std::uint16_t other = toHost(otherWord);
            const auto difference = static_cast<std::uint16_t>(own - other);
            const bool overflow = ((own ^ other) & (own ^ difference)) & 0x8000;
            const auto saturated = static_cast<std::uint16_t>(0x7FFF + (own >> 15));
            const std::uint16_t result = overflow ? saturated : difference;
            const bool eitherVoid = (ownWord == marker) | (otherWord == marker);
            count = static_cast<std::uint16_t>(count + eitherVoid);
            storeWord(primary + 2 * w, eitherVoid ? marker : toHost(result));
        }
        voids += count;
    }
    return voids;
}

namespace {

std::int16_t saturatedDifference(std::int16_t a, std::int16_t b)
{
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(std::int32_t{a} - b, -32768, 32767));
}

// Makes the output samples of one block in place in `block` (the primary's bytes). The common case,
// -9999 alone and one source on the same grid, runs on the vector kernels over raw bytes; every
// other case goes sample by sample through the sources' values.
class BlockRule {
public:
    BlockRule(const WalkSetup& setup, const WalkInputs& inputs, std::size_t blockBytes)
        : m_setup(setup), m_inputs(inputs), m_other(blockBytes), m_values(blockBytes / 2), m_hasValue(blockBytes / 2),
          m_pending(blockBytes / 2)
    {
        m_fast = inputs.voids.isDefault() && inputs.sources.size() == 1 && inputs.sources[0]
                 && inputs.sources[0]->sameGrid();
    }

    Result<> apply(std::int64_t offset, std::uint8_t* block, std::size_t n, Walk& walk)
    {
        if (m_inputs.filled) {
            const std::int16_t* samples = m_inputs.filled->data() + offset / 2;
            for (std::size_t i = 0; i < n / 2; ++i)
                EncodeSample(block + 2 * i, samples[i]);
            return {};
        }
        return m_fast ? applyFast(offset, block, n, walk) : applyPerSample(offset, block, n, walk);
    }

private:
    Result<> applyFast(std::int64_t offset, std::uint8_t* block, std::size_t n, Walk& walk)
    {
        const std::size_t voids = CountVoids(block, n);
        walk.voidsFound += static_cast<std::int64_t>(voids);
        if (m_setup.rule == SampleRule::Fill && voids == 0)
            return {};
        if (Result<> read = m_inputs.sources[0]->input().readAt(offset, m_other.data(), n); !read)
            return read;
        if (m_setup.rule == SampleRule::Fill) {
            const std::size_t left = FillVoids(block, m_other.data(), n);
            walk.voidsLeft += static_cast<std::int64_t>(left);
            walk.filledBySource[0] += static_cast<std::int64_t>(voids - left);
        } else {
            walk.voidsLeft += static_cast<std::int64_t>(SubtractSamples(block, m_other.data(), n));
        }
        return {};
    }

    Result<> applyPerSample(std::int64_t offset, std::uint8_t* block, std::size_t n, Walk& walk)
    {
        const std::size_t count = n / 2;
        const std::int64_t first = offset / 2;
        const VoidSet& voids = m_inputs.voids;
        std::size_t pending = 0;
        for (std::size_t i = 0; i < count; ++i) {
            m_pending[i] = voids.isVoid(DecodeSample(block + 2 * i));
            pending += m_pending[i];
        }
        walk.voidsFound += static_cast<std::int64_t>(pending);

        if (m_setup.rule == SampleRule::Difference) {
            GridSource* comparison = m_inputs.sources.at(0);
            if (Result<> read = comparison->read(first, count, m_values.data(), m_hasValue.data()); !read)
                return read;
            for (std::size_t i = 0; i < count; ++i) {
                const bool isVoid = m_pending[i] || !m_hasValue[i];
                walk.voidsLeft += isVoid;
                EncodeSample(block + 2 * i,
                       isVoid ? kVoidValue : saturatedDifference(DecodeSample(block + 2 * i), m_values[i]));
            }
            return {};
        }

        // Each void takes the first source that has a value there; one that none has keeps its own.
        for (std::size_t s = 0; s < m_inputs.sources.size() && pending > 0; ++s) {
            GridSource* source = m_inputs.sources[s];
            if (!source)
                continue;
            if (Result<> read = source->read(first, count, m_values.data(), m_hasValue.data(), m_pending.data()); !read)
                return read;
            for (std::size_t i = 0; i < count; ++i) {
                if (m_pending[i] && m_hasValue[i]) {
                    EncodeSample(block + 2 * i, m_values[i]);
                    m_pending[i] = 0;
                    --pending;
                    ++walk.filledBySource[s];
                }
            }
        }
        walk.voidsLeft += static_cast<std::int64_t>(pending);
        return {};
    }

    const WalkSetup& m_setup;
    const WalkInputs& m_inputs;
    bool m_fast = false;
    std::vector<std::uint8_t> m_other;
    std::vector<std::int16_t> m_values;
    std::vector<std::uint8_t> m_hasValue;
    std::vector<std::uint8_t> m_pending;
};

} // namespace

Result<Walk> WalkTile(RunContext& run, const WalkSetup& setup, const WalkInputs& inputs, SaveFile& output)
{
    WindowState& state = run.state;
    const std::int64_t tileBytes = inputs.primary.grid().bytes();
    const std::size_t blockBytes =
        std::clamp<std::size_t>(run.options.blockBytes & ~std::size_t{1}, 2, kMaxBlockBytes);
    std::vector<std::uint8_t> block(blockBytes);
    BlockRule rule(setup, inputs, blockBytes);

    state.posHigh = 1;
    state.posLow = state.posHigh + 1;
    const bool stopAtFirstSample = run.stopRequested();
    Walk walk;
    walk.filledBySource.assign(inputs.sources.size(), 0);

    std::int64_t nextReportEnd = kReportSpan; // 0-based end of the sample of the next report
    for (std::int64_t offset = 0; offset < tileBytes;) {
        std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(blockBytes), tileBytes - offset);
        if (offset == 0 && stopAtFirstSample)
            n = 2;
        const auto count = static_cast<std::size_t>(n);

        if (Result<> read = inputs.primary.readAt(offset, block.data(), count); !read)
            return read.error();
        if (Result<> applied = rule.apply(offset, block.data(), count, walk); !applied)
            return applied.error();

        // The sample loop pauses at every report inside the block and at the block's end.
        const std::int64_t blockEnd = offset + n;
        for (;;) {
            const std::int64_t end = std::min(nextReportEnd, blockEnd);
            state.posHigh = static_cast<std::int32_t>(end - 1);
            state.posLow = state.posHigh + 1;
            state.byteHigh = block[static_cast<std::size_t>(end - offset - 2)];
            state.byteLow = block[static_cast<std::size_t>(end - offset - 1)];

            run.host.yieldToEvents();
            if (setup.stopTest == StopTest::BeforeReport && run.stopRequested()) {
                walk.stopped = true;
                return walk;
            }
            if (run.report.due())
                run.report.report(setup.statusText(state.posHigh));
            if (setup.stopTest == StopTest::AfterReport && run.stopRequested()) {
                walk.stopped = true;
                return walk;
            }
            if (end == nextReportEnd)
                nextReportEnd += kReportSpan;
            if (end == blockEnd)
                break;
        }

        if (Result<> written = output.write(block.data(), count); !written)
            return written.error();
        walk.bytes += n;
        offset = blockEnd;
    }
    state.posHigh = static_cast<std::int32_t>(tileBytes + 1);
    state.posLow = state.posHigh + 1;
    return walk;
}

Result<bool> HasHoles(const TileInput& tile, const VoidSet& voids, std::size_t blockBytes)
{
    std::vector<std::uint8_t> buffer(std::clamp<std::size_t>(blockBytes, 2, kMaxBlockBytes) & ~std::size_t{1});
    if (voids.hasMarker()) {
        std::uint8_t previous = 0;
        bool havePrevious = false;
        for (std::int64_t offset = 0;;) {
            const Result<std::size_t> got = tile.readSomeAt(offset, buffer.data(), buffer.size());
            if (!got)
                return got.error();
            if (*got == 0)
                break;
            offset += static_cast<std::int64_t>(*got);
            // A pair may straddle two blocks: the previous block's last byte pairs with this one's first.
            if (havePrevious && previous == kVoidHigh && buffer[0] == kVoidLow)
                return true;
            const std::uint8_t* const end = buffer.data() + *got;
            for (const std::uint8_t* p = buffer.data(); p < end;) {
                p = static_cast<const std::uint8_t*>(std::memchr(p, kVoidHigh, static_cast<std::size_t>(end - p)));
                if (!p || p + 1 >= end)
                    break;
                if (p[1] == kVoidLow)
                    return true;
                ++p;
            }
            previous = buffer[*got - 1];
            havePrevious = true;
        }
    }
    if (voids.values().size() == (voids.hasMarker() ? 1u : 0u))
        return false;
    // The other void values count as whole samples of the tile.
    const std::int64_t tileBytes = tile.grid().bytes();
    for (std::int64_t offset = 0; offset < tileBytes;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()),
                                                                       tileBytes - offset));
        if (Result<> read = tile.readAt(offset, buffer.data(), n); !read)
            return read.error();
        for (std::size_t i = 0; i + 1 < n; i += 2) {
            const std::int16_t value = DecodeSample(buffer.data() + i);
            if (value != kVoidValue && voids.isVoid(value))
                return true;
        }
        offset += static_cast<std::int64_t>(n);
    }
    return false;
}

} // namespace hgt

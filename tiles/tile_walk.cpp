#include "tiles/internal/tile_walk.h"

#include "tiles/internal/helper_thread.h"
#include "tiles/internal/read_ahead.h"
#include "tiles/internal/sample_kernels.h"
#include "tiles/internal/samples.h"
#include "tiles/internal/take_first_source.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace hgt {

namespace {

constexpr std::size_t kMaxBlockBytes = 4 * 1024 * 1024;

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
        : m_setup(setup), m_inputs(inputs), m_blockBytes(blockBytes)
    {
        m_fast = inputs.voids.isDefault() && inputs.sources.size() == 1 && inputs.sources[0]
                 && inputs.sources[0]->bytesAreSamples();
    }

    // Whether the source's bytes of a block can be read ahead with the primary's: the common case.
    bool readsSourceAhead() const { return m_fast && m_inputs.maker == OutputMaker::Walk; }

    // `ahead`, when given, holds the source's bytes of the block and the primary's void count,
    // read ahead of the walk.
    Result<> apply(std::int64_t offset, std::uint8_t* block, std::size_t n, Walk& walk,
                   const AheadBlock* ahead = nullptr)
    {
        switch (m_inputs.maker) {
        case OutputMaker::Preparation:
            std::memcpy(block, m_inputs.prepared + offset, n);
            return {};
        case OutputMaker::DeltaFill:
            m_inputs.filled->apply(offset / 2, block, n / 2);
            return {};
        case OutputMaker::Walk:
            break;
        }
        if (ahead && readsSourceAhead())
            return applyFast(block, n, walk, ahead->voids, ahead->other.get());
        return m_fast ? applyFast(offset, block, n, walk) : applyPerSample(offset, block, n, walk);
    }

private:
    Result<> applyFast(std::int64_t offset, std::uint8_t* block, std::size_t n, Walk& walk)
    {
        m_other.resize(m_blockBytes); // fresh memory costs; only what a path uses is allocated
        const Result<std::size_t> voids =
            ReadSourceWhereNeeded(m_setup.rule, m_inputs.sources[0]->input(), offset, block, m_other.data(), n);
        if (!voids)
            return voids.error();
        return applyFast(block, n, walk, *voids, m_other.data());
    }

    // The rule on a block with `voids` voids whose source bytes, where needed, are in `other`.
    Result<> applyFast(std::uint8_t* block, std::size_t n, Walk& walk, std::size_t voids, const std::uint8_t* other)
    {
        walk.voidsFound += static_cast<std::int64_t>(voids);
        if (!NeedsSource(m_setup.rule, voids))
            return {};
        if (m_setup.rule == SampleRule::Fill) {
            const std::size_t left = FillVoids(block, other, n);
            walk.voidsLeft += static_cast<std::int64_t>(left);
            walk.filledBySource[0] += static_cast<std::int64_t>(voids - left);
        } else {
            walk.voidsLeft += static_cast<std::int64_t>(SubtractSamples(block, other, n));
        }
        return {};
    }

    Result<> applyPerSample(std::int64_t offset, std::uint8_t* block, std::size_t n, Walk& walk)
    {
        const std::size_t count = n / 2;
        const std::int64_t first = offset / 2;
        const VoidSet& voids = m_inputs.voids;
        m_values.resize(m_blockBytes / 2);
        m_hasValue.resize(m_blockBytes / 2);
        m_pending.resize(m_blockBytes / 2);
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

        // A void that no source has a value for keeps its own.
        TakeFirstSource take(m_pending.data(), count, pending, walk.filledBySource);
        for (std::size_t s = 0; s < m_inputs.sources.size() && take.left() > 0; ++s) {
            GridSource* source = m_inputs.sources[s];
            if (!source)
                continue;
            if (Result<> read = source->read(first, count, m_values.data(), m_hasValue.data(), m_pending.data()); !read)
                return read;
            take.offer(s, m_hasValue.data(), [&](std::size_t i) { EncodeSample(block + 2 * i, m_values[i]); });
        }
        walk.voidsLeft += static_cast<std::int64_t>(take.left());
        return {};
    }

    const WalkSetup& m_setup;
    const WalkInputs& m_inputs;
    std::size_t m_blockBytes;
    bool m_fast = false;
    std::vector<std::uint8_t> m_other;
    std::vector<std::int16_t> m_values;
    std::vector<std::uint8_t> m_hasValue;
    std::vector<std::uint8_t> m_pending;
};

} // namespace

Result<Walk> WalkTile(RunContext& run, const WalkSetup& setup, const WalkInputs& inputs, SaveFile& output)
{
    RunState& state = run.state;
    const std::int64_t tileBytes = inputs.primary.grid().bytes();
    const std::size_t blockBytes = std::clamp<std::size_t>(run.options.blockBytes & ~std::size_t{1}, 2, kMaxBlockBytes);
    std::vector<std::uint8_t> block;
    BlockRule rule(setup, inputs, blockBytes);

    state.posHigh = 1;
    state.posLow = state.posHigh + 1;
    const bool stopAtFirstSample = run.stopRequested();
    Walk walk;
    walk.filledBySource.assign(inputs.sources.size(), 0);

    // The blocks are read on a second thread where there is a second core for it and more than one
    // block to read; a batch with several tiles in flight already keeps the cores busy.
    std::optional<ReadAhead> ahead;
    if (run.useHelperThread && !stopAtFirstSample && tileBytes > static_cast<std::int64_t>(blockBytes)
        && SecondCoreAvailable()) {
        const TileInput* source = rule.readsSourceAhead() ? &inputs.sources[0]->input() : nullptr;
        ahead.emplace(inputs.primary, source, setup.rule, tileBytes, blockBytes);
        if (!ahead->running()) // no thread to be had: the blocks are read in line
            ahead.reset();
    }
    if (!ahead)
        block.resize(blockBytes);

    std::int64_t nextReportEnd = kReportSpan; // 0-based end of the sample of the next report
    std::size_t blockIndex = 0;
    for (std::int64_t offset = 0; offset < tileBytes;) {
        std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(blockBytes), tileBytes - offset);
        if (offset == 0 && stopAtFirstSample)
            n = 2;
        const auto count = static_cast<std::size_t>(n);

        AheadBlock* read = ahead ? &ahead->take(blockIndex) : nullptr;
        std::uint8_t* const data = read ? read->primary.get() : block.data();
        if (read) {
            if (read->error)
                return *read->error;
        } else if (Result<> direct = inputs.primary.readAt(offset, data, count); !direct) {
            return direct.error();
        }
        if (Result<> applied = rule.apply(offset, data, count, walk, read); !applied)
            return applied.error();

        // The sample loop pauses at every report inside the block and at the block's end.
        const std::int64_t blockEnd = offset + n;
        for (;;) {
            const std::int64_t end = std::min(nextReportEnd, blockEnd);
            state.posHigh = static_cast<std::int32_t>(end - 1);
            state.posLow = state.posHigh + 1;
            state.byteHigh = data[static_cast<std::size_t>(end - offset - 2)];
            state.byteLow = data[static_cast<std::size_t>(end - offset - 1)];

            run.host.yieldToEvents();
            if (setup.stopTest == StopTest::BeforeReport && run.stopRequested()) {
                walk.stopped = true;
                return walk;
            }
            if (run.reportDue())
                run.reportProgress(setup.statusText(state.posHigh), tileBytes);
            if (setup.stopTest == StopTest::AfterReport && run.stopRequested()) {
                walk.stopped = true;
                return walk;
            }
            if (end == nextReportEnd)
                nextReportEnd += kReportSpan;
            if (end == blockEnd)
                break;
        }

        if (Result<> written = output.write(data, count); !written)
            return written.error();
        if (ahead)
            ahead->release(blockIndex);
        ++blockIndex;
        walk.bytes += n;
        offset = blockEnd;
    }
    state.posHigh = static_cast<std::int32_t>(tileBytes + 1);
    state.posLow = state.posHigh + 1;
    return walk;
}

Result<bool> HasHoles(const TileInput& tile, const VoidSet& voids, std::size_t blockBytes)
{
    const std::size_t size = std::clamp<std::size_t>(blockBytes, 2, kMaxBlockBytes) & ~std::size_t{1};
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    if (voids.hasMarker()) {
        std::uint8_t previous = 0;
        bool havePrevious = false;
        // The first look is short: most tiles with holes have one near their start, and the pages
        // of a buffer cost something the first time they are touched.
        std::size_t wanted = std::min<std::size_t>(size, 16 * 1024);
        for (std::int64_t offset = 0;; wanted = size) {
            const Result<std::size_t> got = tile.readSomeAt(offset, buffer.get(), wanted);
            if (!got)
                return got.error();
            if (*got == 0)
                break;
            offset += static_cast<std::int64_t>(*got);
            // A pair may straddle two blocks: the previous block's last byte pairs with this one's first.
            if (havePrevious && previous == kVoidHigh && buffer[0] == kVoidLow)
                return true;
            const std::uint8_t* const end = buffer.get() + *got;
            for (const std::uint8_t* p = buffer.get(); p < end;) {
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
        const auto n =
            static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(size), tileBytes - offset));
        if (Result<> read = tile.readAt(offset, buffer.get(), n); !read)
            return read.error();
        for (std::size_t i = 0; i + 1 < n; i += 2) {
            const std::int16_t value = DecodeSample(buffer.get() + i);
            if (value != kVoidValue && voids.isVoid(value))
                return true;
        }
        offset += static_cast<std::int64_t>(n);
    }
    return false;
}

} // namespace hgt

#include "tiles/internal/tile_walk.h"

#include "tiles/internal/sample_kernels.h"
#include "tiles/internal/samples.h"

#include <algorithm>
#include <array>
#include <bit>
#include <condition_variable>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace hgt {

namespace {

constexpr std::size_t kMaxBlockBytes = 4 * 1024 * 1024;

std::int16_t saturatedDifference(std::int16_t a, std::int16_t b)
{
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(std::int32_t{a} - b, -32768, 32767));
}

// A fill reads the source of a block only where the block holds a void; a difference always.
bool NeedsSource(SampleRule rule, std::size_t voids)
{
    return rule == SampleRule::Difference || voids > 0;
}

// Counts the voids of a block of the primary (raw bytes) and reads the source's bytes of the same
// samples into `other` where the rule needs them; returns the void count.
Result<std::size_t> ReadSourceWhereNeeded(SampleRule rule, const TileInput& source, std::int64_t offset,
                                          const std::uint8_t* block, std::uint8_t* other, std::size_t n)
{
    const std::size_t voids = CountVoids(block, n);
    if (NeedsSource(rule, voids)) {
        if (Result<> read = source.readAt(offset, other, n); !read)
            return read.error();
    }
    return voids;
}

// One block of a walk as read ahead: the primary's bytes, the void count and, where the block needs
// it, the source's bytes on the same grid.
struct AheadBlock {
    std::unique_ptr<std::uint8_t[]> primary;
    std::unique_ptr<std::uint8_t[]> other;
    std::size_t voids = 0;
    std::optional<Error> error;
    // Which block the slot holds and how far it is: index * 4 + one of the states below.
    std::atomic<std::uint64_t> tag{0};
};

// Reads the blocks of a walk on a second thread while the walk makes and writes the blocks before
// them, so the copies out of the page cache run beside the writes (reading costs more than writing
// here, so the sample rule stays with the walk). The blocks are the walk's, in its order; a read
// error is handed over with the block it hit, so the walk fails where it would have failed reading
// in line.
//
// Two slots are in flight: fresh memory is dear here. The walk never waits for a thread that has
// not started on its block: it claims such a block and reads it itself. On a machine whose second
// core is busy the walk so runs as fast as in line, and the helper's sleeps cost nothing.
class ReadAhead {
public:
    ReadAhead(const TileInput& primary, const TileInput* source, SampleRule rule, std::int64_t tileBytes,
              std::size_t blockBytes)
        : m_primary(primary), m_source(source), m_rule(rule), m_tileBytes(tileBytes), m_blockBytes(blockBytes)
    {
        for (std::size_t k = 0; k < kSlots; ++k) {
            AheadBlock& slot = m_slots[k];
            slot.primary = std::make_unique_for_overwrite<std::uint8_t[]>(blockBytes);
            if (source)
                slot.other = std::make_unique_for_overwrite<std::uint8_t[]>(blockBytes);
            slot.tag.store(tag(k, kFree));
        }
        m_thread = std::thread([this] { readAll(); });
    }

    ~ReadAhead()
    {
        m_closing.store(true);
        wake();
        m_thread.join();
    }

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Block `index` of the walk, read; valid until release(). Blocks are taken in order.
    AheadBlock& take(std::size_t index)
    {
        AheadBlock& slot = m_slots[index % kSlots];
        std::uint64_t expected = tag(index, kFree);
        if (slot.tag.compare_exchange_strong(expected, tag(index, kOwnedByWalk))) {
            read(slot, index);
            return slot;
        }
        // The helper is reading it: that takes less than writing a block.
        waitFor([&] { return slot.tag.load(std::memory_order_acquire) == tag(index, kReady); }, kWalkPolls);
        return slot;
    }

    void release(std::size_t index)
    {
        m_slots[index % kSlots].tag.store(tag(index + kSlots, kFree), std::memory_order_release);
        wake();
    }

private:
    static constexpr std::size_t kSlots = 2;
    // The walk waits only for a block being read, briefly. The helper waits for the walk to be done
    // with a slot, up to two blocks' work, and polls on a core it has to itself: if it slept, the
    // walk would pay for waking it at nearly every block.
    static constexpr std::chrono::microseconds kWalkPolls{200};
    static constexpr std::chrono::microseconds kHelperPolls{600};
    enum : std::uint64_t { kFree, kReading, kReady, kOwnedByWalk };
    static std::uint64_t tag(std::size_t index, std::uint64_t state) { return std::uint64_t{index} * 4 + state; }

    std::int64_t blocks() const
    {
        return (m_tileBytes + static_cast<std::int64_t>(m_blockBytes) - 1) / static_cast<std::int64_t>(m_blockBytes);
    }

    void read(AheadBlock& slot, std::size_t index)
    {
        const auto offset = static_cast<std::int64_t>(index * m_blockBytes);
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(m_blockBytes), m_tileBytes - offset));
        slot.voids = 0;
        slot.error.reset();
        if (Result<> read = m_primary.readAt(offset, slot.primary.get(), n); !read) {
            slot.error = read.error();
        } else if (m_source) {
            const Result<std::size_t> voids =
                ReadSourceWhereNeeded(m_rule, *m_source, offset, slot.primary.get(), slot.other.get(), n);
            if (voids)
                slot.voids = *voids;
            else
                slot.error = voids.error();
        }
    }

    // Polls for a while (waking a sleeping thread costs about as much as a block's work here), then
    // sleeps until woken.
    template <typename Ready>
    void waitFor(Ready ready, std::chrono::microseconds poll)
    {
        const auto until = std::chrono::steady_clock::now() + poll;
        do {
            for (int spin = 0; spin < 64; ++spin) {
                if (ready())
                    return;
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
            }
        } while (std::chrono::steady_clock::now() < until);
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, ready);
    }

    void wake()
    {
        {
            std::lock_guard lock(m_mutex);
        } // a waiter is either asleep or sees the change
        m_changed.notify_all();
    }

    void readAll()
    {
        for (std::size_t index = 0; static_cast<std::int64_t>(index) < blocks(); ++index) {
            AheadBlock& slot = m_slots[index % kSlots];
            // The slot is free for this block once the walk is done with the block before it in
            // the slot; a tag beyond that means the walk has claimed this block itself.
            waitFor([&] { return m_closing.load() || slot.tag.load(std::memory_order_acquire) >= tag(index, kFree); },
                    kHelperPolls);
            if (m_closing.load())
                return;
            std::uint64_t expected = tag(index, kFree);
            if (!slot.tag.compare_exchange_strong(expected, tag(index, kReading)))
                continue;
            read(slot, index);
            const bool failed = slot.error.has_value();
            slot.tag.store(tag(index, kReady), std::memory_order_release);
            wake();
            if (failed)
                return;
        }
    }

    const TileInput& m_primary;
    const TileInput* m_source;
    SampleRule m_rule;
    std::int64_t m_tileBytes;
    std::size_t m_blockBytes;
    std::array<AheadBlock, kSlots> m_slots;
    std::atomic<bool> m_closing{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
};

// Makes the output samples of one block in place in `block` (the primary's bytes). The common case,
// -9999 alone and one source on the same grid, runs on the vector kernels over raw bytes; every
// other case goes sample by sample through the sources' values.
class BlockRule {
public:
    BlockRule(const WalkSetup& setup, const WalkInputs& inputs, std::size_t blockBytes)
        : m_setup(setup), m_inputs(inputs), m_blockBytes(blockBytes)
    {
        m_fast = inputs.voids.isDefault() && inputs.sources.size() == 1 && inputs.sources[0]
                 && inputs.sources[0]->sameGrid();
    }

    // Whether the source's bytes of a block can be read ahead with the primary's: the common case.
    bool readsSourceAhead() const { return m_fast && !m_inputs.filled && !m_inputs.prepared; }

    // `ahead`, when given, holds the source's bytes of the block and the primary's void count,
    // read ahead of the walk.
    Result<> apply(std::int64_t offset, std::uint8_t* block, std::size_t n, Walk& walk,
                   const AheadBlock* ahead = nullptr)
    {
        if (ahead && readsSourceAhead())
            return applyFast(block, n, walk, ahead->voids, ahead->other.get());
        if (m_inputs.prepared) {
            std::memcpy(block, m_inputs.prepared + offset, n);
            return {};
        }
        if (m_inputs.filled) {
            m_inputs.filled->apply(offset / 2, block, n / 2);
            return {};
        }
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
    std::size_t m_blockBytes;
    bool m_fast = false;
    std::vector<std::uint8_t> m_other;
    std::vector<std::int16_t> m_values;
    std::vector<std::uint8_t> m_hasValue;
    std::vector<std::uint8_t> m_pending;
};

} // namespace

void RunContext::reportProgress(const std::string& statusText, std::int64_t tileBytes)
{
    m_lastReportPos = state.posHigh;
    host.yieldToEvents();
    state.statusText = statusText;
    host.progress({state.posLow, tileBytes, state.statusText});
}

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
        && std::thread::hardware_concurrency() > 1) {
        const TileInput* source = rule.readsSourceAhead() ? &inputs.sources[0]->input() : nullptr;
        try {
            ahead.emplace(inputs.primary, source, setup.rule, tileBytes, blockBytes);
        } catch (const std::system_error&) {
            // no thread to be had: the blocks are read in line
        }
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

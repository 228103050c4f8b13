#include "tiles/internal/read_ahead.h"

#include "tiles/internal/helper_thread.h"
#include "tiles/internal/sample_kernels.h"

#include <algorithm>

namespace hgt {

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

ReadAhead::ReadAhead(const TileInput& primary, const TileInput* source, SampleRule rule, std::int64_t tileBytes,
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
    m_thread = TryStartThread([this] { readAll(); });
}

ReadAhead::~ReadAhead()
{
    if (!m_thread.joinable())
        return;
    m_closing.store(true);
    wake();
    m_thread.join();
}

AheadBlock& ReadAhead::take(std::size_t index)
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

void ReadAhead::release(std::size_t index)
{
    m_slots[index % kSlots].tag.store(tag(index + kSlots, kFree), std::memory_order_release);
    wake();
}

std::int64_t ReadAhead::blocks() const
{
    return (m_tileBytes + static_cast<std::int64_t>(m_blockBytes) - 1) / static_cast<std::int64_t>(m_blockBytes);
}

void ReadAhead::read(AheadBlock& slot, std::size_t index)
{
    const auto offset = static_cast<std::int64_t>(index * m_blockBytes);
    const auto n =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(m_blockBytes), m_tileBytes - offset));
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
void ReadAhead::waitFor(Ready ready, std::chrono::microseconds poll)
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

void ReadAhead::wake()
{
    {
        std::lock_guard lock(m_mutex);
    } // a waiter is either asleep or sees the change
    m_changed.notify_all();
}

void ReadAhead::readAll()
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

} // namespace hgt

#pragma once

#include "tiles/internal/tile_input.h"
#include "tiles/internal/tile_walk.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace hgt {

// A fill reads the source of a block only where the block holds a void; a difference always.
inline bool NeedsSource(SampleRule rule, std::size_t voids)
{
    return rule == SampleRule::Difference || voids > 0;
}

// Counts the voids of a block of the primary (raw bytes) and reads the source's bytes of the same
// samples into `other` where the rule needs them; returns the void count.
Result<std::size_t> ReadSourceWhereNeeded(SampleRule rule, const TileInput& source, std::int64_t offset,
                                          const std::uint8_t* block, std::uint8_t* other, std::size_t n);

// One block of a walk as read ahead: the primary's bytes, the void count and, where the block needs
// it, the source's bytes on the same grid.
struct AheadBlock {
    std::unique_ptr<std::uint8_t[]> primary;
    std::unique_ptr<std::uint8_t[]> other;
    std::size_t voids = 0;
    std::optional<Error> error;
    // Which block the slot holds and how far it is: index * 4 + one of the states of ReadAhead.
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
    // `source`, when given, is read with the primary where the rule needs it.
    ReadAhead(const TileInput& primary, const TileInput* source, SampleRule rule, std::int64_t tileBytes,
              std::size_t blockBytes);
    ~ReadAhead();

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // False when the system gave no thread: the walk then reads its blocks in line.
    bool running() const { return m_thread.joinable(); }

    // Block `index` of the walk, read; valid until release(). Blocks are taken in order.
    AheadBlock& take(std::size_t index);
    void release(std::size_t index);

private:
    static constexpr std::size_t kSlots = 2;
    // The walk waits only for a block being read, briefly. The helper waits for the walk to be done
    // with a slot, up to two blocks' work, and polls on a core it has to itself: if it slept, the
    // walk would pay for waking it at nearly every block.
    static constexpr std::chrono::microseconds kWalkPolls{200};
    static constexpr std::chrono::microseconds kHelperPolls{600};
    enum : std::uint64_t { kFree, kReading, kReady, kOwnedByWalk };
    static std::uint64_t tag(std::size_t index, std::uint64_t state) { return std::uint64_t{index} * 4 + state; }

    std::int64_t blocks() const;
    void read(AheadBlock& slot, std::size_t index);
    template <typename Ready>
    void waitFor(Ready ready, std::chrono::microseconds poll);
    void wake();
    void readAll();

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

} // namespace hgt

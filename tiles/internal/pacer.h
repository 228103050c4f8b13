#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace hgt {

// Asks `proceed` every kWorkPerAsk samples of work, so that a stop ends the interpolation within
// a fraction of a second however large a region is. The helper thread has no proceed of its own:
// it watches the flag that the asking thread sets. A stop unwinds to the region loop.
struct Stopped {};

class Pacer {
public:
    // About a millisecond of the slowest work per ask; asking is cheap, the window serves its
    // queue only every few dozen milliseconds of asks.
    static constexpr std::int64_t kWorkPerAsk = std::int64_t{1} << 16;

    Pacer(const std::function<bool()>* proceed, std::atomic<bool>& stop) : m_proceed(proceed), m_stop(stop) {}

    void step(std::int64_t work)
    {
        m_work += work;
        if (m_work >= kWorkPerAsk)
            ask();
    }
    void ask()
    {
        m_work = 0;
        if (m_proceed && *m_proceed && !m_stop.load(std::memory_order_relaxed) && !(*m_proceed)())
            m_stop.store(true, std::memory_order_relaxed);
        if (m_stop.load(std::memory_order_relaxed))
            throw Stopped{};
    }

private:
    const std::function<bool()>* m_proceed; // null on the helper thread
    std::atomic<bool>& m_stop;
    std::int64_t m_work = 0;
};

} // namespace hgt

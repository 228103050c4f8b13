#pragma once

#include "tiles/internal/helper_thread.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace hgt {

// Items found one by one on this thread and worked on as they come. Where a helper thread is to
// be had, it takes the items while this thread still finds more, and this one joins in once all
// are found; without one, this thread works on each item as it finds it. `items` keeps them all
// in the order found, which does not depend on which thread was quicker.
template <typename Item>
class HandOver {
public:
    // `helperWork` runs on the helper thread alone; the items must be independent of each other.
    HandOver(std::vector<std::unique_ptr<Item>>& items, bool helper, std::function<void(Item&)> helperWork)
        : m_items(items), m_helperWork(std::move(helperWork))
    {
        if (helper)
            m_thread = TryStartThread([this] { helperLoop(); });
    }
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;
    ~HandOver()
    {
        finish([](Item&) {});
    }

    // The next item found: for the helper to take, or worked on here by `work` at once.
    template <typename Work>
    void add(std::unique_ptr<Item> item, Work work)
    {
        if (!m_thread.joinable()) {
            work(*item);
            m_items.push_back(std::move(item));
            return;
        }
        bool wake;
        {
            std::lock_guard lock(m_mutex);
            m_items.push_back(std::move(item));
            wake = m_helperWaits;
        }
        if (wake)
            m_changed.notify_one();
    }

    // All items found: this thread works on those the helper has not taken, then waits for it.
    template <typename Work>
    void finish(Work work)
    {
        if (!m_thread.joinable())
            return;
        std::unique_lock lock(m_mutex);
        m_allFound = true;
        m_changed.notify_one();
        while (Item* item = take()) {
            lock.unlock();
            work(*item);
            lock.lock();
        }
        lock.unlock();
        m_thread.join();
    }

private:
    Item* take() // with the mutex held
    {
        return m_next < m_items.size() ? m_items[m_next++].get() : nullptr;
    }

    void helperLoop()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (Item* item = take()) {
                lock.unlock();
                m_helperWork(*item);
                lock.lock();
                continue;
            }
            if (m_allFound)
                return;
            m_helperWaits = true;
            m_changed.wait(lock);
            m_helperWaits = false;
        }
    }

    std::vector<std::unique_ptr<Item>>& m_items;
    std::function<void(Item&)> m_helperWork;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_next = 0;     // the first item not yet taken
    bool m_allFound = false;    // no more items come
    bool m_helperWaits = false; // the helper sleeps until an item comes
    std::thread m_thread;
};

} // namespace hgt

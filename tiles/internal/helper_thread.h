#pragma once

#include <system_error>
#include <thread>
#include <utility>

namespace hgt {

// Whether a second thread can run beside this one rather than take turns with it.
inline bool SecondCoreAvailable()
{
    return std::thread::hardware_concurrency() > 1;
}

// Starts `work` on a thread of its own, or, where the system gives no thread, returns one that is not
// joinable: the caller then does the work itself.
template <class Work>
std::thread TryStartThread(Work&& work)
{
    try {
        return std::thread(std::forward<Work>(work));
    } catch (const std::system_error&) {
        return {};
    }
}

} // namespace hgt

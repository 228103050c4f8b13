#include "cli/stop_signal.h"

#include <csignal>

namespace hgt::cli {

namespace {

// A signal handler may only touch lock-free atomics.
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

struct sigaction g_previousInt {};
struct sigaction g_previousTerm {};

extern "C" void onStopSignal(int)
{
    g_stop.store(true, std::memory_order_relaxed);
}

} // namespace

StopSignal::StopSignal()
{
    g_stop.store(false);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // The engine's reads and writes go on after the signal; it stops at the next block boundary.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &g_previousInt);
    ::sigaction(SIGTERM, &action, &g_previousTerm);
}

StopSignal::~StopSignal()
{
    ::sigaction(SIGINT, &g_previousInt, nullptr);
    ::sigaction(SIGTERM, &g_previousTerm, nullptr);
}

const std::atomic<bool>* StopSignal::flag() const
{
    return &g_stop;
}

bool StopSignal::raised() const
{
    return g_stop.load();
}

} // namespace hgt::cli

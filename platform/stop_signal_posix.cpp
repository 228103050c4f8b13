#include "platform/stop_signal.h"

#include "platform/save_file.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

namespace hgt {

namespace {

// A signal handler may only touch lock-free atomics and make async-signal-safe calls.
std::atomic<bool> g_stop{false};
std::atomic<int> g_firstSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

// The handler wakes the watchdog through this pipe: one byte per signal, kQuit when the object ends.
int g_wake[2] = {-1, -1};
constexpr char kSignalled = 's';
constexpr char kQuit = 'q';

struct sigaction g_previousInt {};
struct sigaction g_previousTerm {};

extern "C" void onStopSignal(int signal)
{
    const int savedErrno = errno;
    g_stop.store(true, std::memory_order_relaxed);
    int none = 0;
    g_firstSignal.compare_exchange_strong(none, signal);
    if (g_wake[1] >= 0)
        (void)!::write(g_wake[1], &kSignalled, 1);
    errno = savedErrno;
}

char readWake(int timeoutMs)
{
    pollfd wake{g_wake[0], POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&wake, 1, timeoutMs);
        if (ready == 0)
            return 0;
        if (ready < 0 && errno == EINTR)
            continue;
        char byte = kQuit;
        if (ready < 0 || ::read(g_wake[0], &byte, 1) != 1)
            return kQuit;
        return byte;
    }
}

} // namespace

// The first signal asks the run to stop. A run caught in a call that never looks at the flag (a
// long computation, a write to a blocked pipe) is ended after the grace time, or by a second signal:
// the process exits as a signal would have ended it, with nothing half written under a final name.
void StopSignal::watch()
{
    if (readWake(-1) != kSignalled)
        return;
    if (readWake(kGraceMs) == kQuit)
        return;
    RemoveTemporaryFilesForExit();
    (void)!::write(STDERR_FILENO, m_forcedText.data(), m_forcedText.size());
    ::_exit(128 + g_firstSignal.load());
}

StopSignal::StopSignal(std::string forcedText) : m_forcedText(std::move(forcedText))
{
    g_stop.store(false);
    g_firstSignal.store(0);
    if (::pipe2(g_wake, O_CLOEXEC) == 0) {
        ::fcntl(g_wake[1], F_SETFL, O_NONBLOCK); // a handler never blocks on a full pipe
        m_watchdog = std::thread([this] { watch(); });
    } else {
        g_wake[0] = g_wake[1] = -1;
    }
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
    if (m_watchdog.joinable()) {
        (void)!::write(g_wake[1], &kQuit, 1);
        m_watchdog.join();
    }
    for (int& end : g_wake) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

const std::atomic<bool>* StopSignal::flag() const
{
    return &g_stop;
}

bool StopSignal::raised() const
{
    return g_stop.load();
}

} // namespace hgt

#include "platform/stop_signal.h"

#include "platform/save_file.h"

#include <windows.h>

#include <utility>

namespace hgt {

namespace {

// The console's handler runs on a thread the system starts for each event.
std::atomic<bool> g_stop{false};
std::atomic<int> g_firstSignal{0};
std::atomic<bool> g_listening{false};
std::atomic<bool> g_quit{false};

// One count per request, one more when the object ends: the watchdog waits on it.
std::atomic<HANDLE> g_wake{nullptr};
// Set when the object ends; a handler of a closing console waits for it. Made once, never closed,
// since a handler thread may still wait on it.
HANDLE g_ended = nullptr;

// The numbers of the signals the POSIX build stops on, so that a forced end gives the same status.
constexpr int kInterrupt = 2;
constexpr int kTerminate = 15;

void request(int signal)
{
    g_stop.store(true);
    int none = 0;
    g_firstSignal.compare_exchange_strong(none, signal);
    if (HANDLE wake = g_wake.load())
        ReleaseSemaphore(wake, 1, nullptr);
}

BOOL WINAPI onConsoleControl(DWORD event)
{
    return HandleConsoleControl(event) ? TRUE : FALSE;
}

enum class Wake { Request, Quit, Timeout };

Wake waitWake(DWORD timeoutMs)
{
    const DWORD result = WaitForSingleObject(g_wake, timeoutMs);
    if (result == WAIT_TIMEOUT)
        return Wake::Timeout;
    return result == WAIT_OBJECT_0 && !g_quit.load() ? Wake::Request : Wake::Quit;
}

} // namespace

bool HandleConsoleControl(unsigned long event)
{
    if (!g_listening.load())
        return false;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        request(kInterrupt);
        return true;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        request(kTerminate);
        // The system ends the process as soon as this returns, and about 5 s after the event in any
        // case: hold on until the run has ended and written its report, or the watchdog ends it.
        WaitForSingleObject(g_ended, INFINITE);
        return true;
    default:
        return false;
    }
}

// The first request asks the run to stop; a run that does not look at the flag in time (a long
// computation, a write into a pipe nobody reads) is ended after the grace time or on a second request.
void StopSignal::watch()
{
    if (waitWake(INFINITE) != Wake::Request)
        return;
    if (waitWake(kGraceMs) == Wake::Quit)
        return;
    RemoveTemporaryFilesForExit();
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), m_forcedText.data(), static_cast<DWORD>(m_forcedText.size()), &written,
              nullptr);
    // Not ExitProcess: that would run the libraries' ends while the run's thread may hold their locks.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(128 + g_firstSignal.load()));
}

StopSignal::StopSignal(std::string forcedText) : m_forcedText(std::move(forcedText))
{
    g_stop.store(false);
    g_firstSignal.store(0);
    g_quit.store(false);
    if (!g_ended)
        g_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    else
        ResetEvent(g_ended);
    g_wake = CreateSemaphoreW(nullptr, 0, 1 << 20, nullptr);
    if (g_wake.load())
        m_watchdog = std::thread([this] { watch(); });
    g_listening.store(true);
    // A program started in a process group of its own has Ctrl-C turned off; this run takes it.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

StopSignal::~StopSignal()
{
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    g_listening.store(false);
    if (m_watchdog.joinable()) {
        g_quit.store(true);
        ReleaseSemaphore(g_wake.load(), 1, nullptr);
        m_watchdog.join();
    }
    if (HANDLE wake = g_wake.exchange(nullptr))
        CloseHandle(wake);
    if (g_ended)
        SetEvent(g_ended);
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

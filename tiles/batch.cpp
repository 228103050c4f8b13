#include "platform/archive.h"
#include "platform/file_system.h"
#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/run_state.h"
#include "tiles/tile_error.h"
#include "tiles/tile_runs.h"
#include "tiles/internal/fill_run.h"
#include "tiles/internal/helper_thread.h"
#include "tiles/internal/output_paths.h"
#include "tiles/internal/run_failure.h"
#include "tiles/internal/stopwatch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace hgt {

namespace {

// Tiles of one batch whose outputs would carry the same path, such as N47E011.hgt beside
// N47E011.SRTMGL3.hgt.zip: the plain file is filled (else the first in the batch's order), the others
// are refused before the batch starts, so the outcome does not depend on the tiles in flight.
std::vector<std::optional<Error>> refuseClashes(const std::vector<std::string>& tiles)
{
    std::vector<std::optional<Error>> refusals(tiles.size());
    std::map<std::string, std::vector<std::size_t>> byOutput;
    for (std::size_t i = 0; i < tiles.size(); ++i)
        byOutput[ResolvedPath(MergedTilePath(tiles[i]))].push_back(i);
    for (const auto& [output, indices] : byOutput) {
        if (indices.size() < 2)
            continue;
        std::size_t winner = indices.front();
        for (std::size_t i : indices) {
            if (!IsZipPath(tiles[i])) {
                winner = i;
                break;
            }
        }
        for (std::size_t i : indices) {
            if (i != winner)
                refusals[i] = Error{TileErrorKind::OutputClash, tiles[i] + " ergäbe dieselbe Ausgabe "
                                                                    + MergedTilePath(tiles[i]) + " wie " + tiles[winner]
                                                                    + "; gefüllt wird nur " + tiles[winner]};
        }
    }
    return refusals;
}

const Error* refusalOf(const std::vector<std::optional<Error>>& refusals, std::size_t index)
{
    return refusals[index] ? &*refusals[index] : nullptr;
}

// Syncs and names the outputs of a batch on a thread of its own, so that the disk writes of one
// tile overlap the computing of the next; where the system gives no thread, each output is committed
// as it is handed over.
class Committer {
public:
    explicit Committer(SaveOptions options) : m_options(std::move(options))
    {
        m_thread = TryStartThread([this] { work(); });
    }
    Committer(const Committer&) = delete;
    Committer& operator=(const Committer&) = delete;
    ~Committer() { finish(); }

    void add(std::size_t index, SaveFile output, std::optional<SaveFile> provenance = {})
    {
        if (!m_thread.joinable()) {
            commit({index, std::move(output), std::move(provenance)});
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back({index, std::move(output), std::move(provenance)});
        }
        m_wake.notify_one();
    }

    // Waits for every output handed over; the failures, by tile index.
    std::vector<std::pair<std::size_t, Error>> finish()
    {
        {
            std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
        return std::move(m_failures);
    }

private:
    struct Job {
        std::size_t index;
        SaveFile output;
        std::optional<SaveFile> provenance; // committed after its tile
    };

    void work()
    {
        for (;;) {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_closing || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            Job job = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            commit(std::move(job));
        }
    }

    void commit(Job job)
    {
        if (Result<> committed = CommitPair(job.output, job.provenance, m_options); !committed) {
            std::lock_guard lock(m_mutex);
            m_failures.emplace_back(job.index, committed.error());
        }
    }

    SaveOptions m_options;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    bool m_closing = false;
    std::vector<std::pair<std::size_t, Error>> m_failures;
    std::thread m_thread;
};

// One tile after the other on the caller's thread, each reporting its progress.
void runInOrder(RunContext& run, const std::vector<std::string>& tiles, const std::string& secondaryFolder,
                const std::vector<std::optional<Error>>& refusals, BatchResult& batch)
{
    std::optional<Committer> committer;
    if (run.options.durable)
        committer.emplace(run.saveOptions());
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        run.host.tileStarted(i, tiles.size(), tiles[i]);
        run.state.runLog += '\n';
        std::optional<SaveFile> pending;
        std::optional<SaveFile> pendingProvenance;
        RunContext tileRun(run.state, run.host, run.options); // each tile is a run of its own
        TileResult result = RunFill(tileRun, tiles[i], secondaryFolder, committer ? &pending : nullptr,
                                    refusalOf(refusals, i), committer ? &pendingProvenance : nullptr);
        if (pending)
            committer->add(i, std::move(*pending), std::move(pendingProvenance));
        run.host.tileFinished(i, tiles.size(), result);
        batch.tiles.push_back(std::move(result));
        // STOP ends the batch after the tile in progress.
        if (run.stopRequested()) {
            batch.stopped = true;
            break;
        }
    }
    if (committer) {
        for (auto& [index, error] : committer->finish()) {
            MarkFailed(batch.tiles[index], error);
            run.state.runLog += error.message;
        }
    }
}

// Threads joined on every way out of the scope that holds them.
class JoinedThreads {
public:
    JoinedThreads() = default;
    JoinedThreads(const JoinedThreads&) = delete;
    JoinedThreads& operator=(const JoinedThreads&) = delete;
    ~JoinedThreads() { join(); }

    // Starts `work` on up to `count` threads; returns how many the system gave.
    template <class Work>
    std::size_t start(std::size_t count, const Work& work)
    {
        m_threads.reserve(count);
        for (std::size_t t = 0; t < count; ++t)
            if (std::thread thread = TryStartThread(work); thread.joinable())
                m_threads.push_back(std::move(thread));
        return m_threads.size();
    }

    void join()
    {
        for (std::thread& thread : m_threads)
            thread.join();
        m_threads.clear();
    }

private:
    std::vector<std::thread> m_threads;
};

// Several tiles in flight, each on a worker with a state record of its own and no progress reports.
// The caller's thread hands the events to the host and passes STOP on. A worker the system refuses
// a thread is one fewer in flight; false, with nothing done, where it refuses every one.
bool runInParallel(RunContext& run, const std::vector<std::string>& tiles, const std::string& secondaryFolder,
                   const std::vector<std::optional<Error>>& refusals, BatchResult& batch)
{
    struct Event {
        bool finished;
        std::size_t index;
        TileResult result;
        std::string runLog;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Event> events;
    std::size_t next = 0;
    std::size_t running = 0;
    std::atomic<bool> stop{run.stopRequested()};
    RunOptions workerOptions = run.options;
    workerOptions.stop = &stop;

    auto worker = [&] {
        for (;;) {
            std::size_t index;
            {
                std::lock_guard lock(mutex);
                // An outside stop (a signal) is seen here at once, not only after the caller's next poll.
                const bool outsideStop = run.options.stop && run.options.stop->load();
                if (stop.load() || outsideStop || next >= tiles.size()) {
                    --running;
                    changed.notify_all();
                    return;
                }
                index = next++;
                events.push_back({false, index, {}, {}});
            }
            changed.notify_all();
            RunState state;
            QuietHost quiet;
            RunContext own(state, quiet, workerOptions);
            own.useHelperThread = false; // the other workers keep the cores busy
            TileResult result = RunFill(own, tiles[index], secondaryFolder, nullptr, refusalOf(refusals, index));
            {
                std::lock_guard lock(mutex);
                events.push_back({true, index, std::move(result), std::move(state.runLog)});
            }
            changed.notify_all();
        }
    };

    const std::size_t workers = std::min<std::size_t>(run.options.jobs, tiles.size());
    running = workers;
    JoinedThreads threads;
    const std::size_t started = threads.start(workers, worker);
    if (started == 0)
        return false;
    {
        std::lock_guard lock(mutex);
        running -= workers - started; // the workers the system refused a thread
    }

    std::vector<std::optional<TileResult>> results(tiles.size());
    std::vector<std::string> logs(tiles.size());
    for (;;) {
        std::deque<Event> ready;
        bool done = false;
        {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return !events.empty() || running == 0; });
            ready.swap(events);
            done = running == 0 && ready.empty();
        }
        for (Event& event : ready) {
            if (!event.finished) {
                run.host.tileStarted(event.index, tiles.size(), tiles[event.index]);
                continue;
            }
            run.host.tileFinished(event.index, tiles.size(), event.result);
            logs[event.index] = std::move(event.runLog);
            results[event.index] = std::move(event.result);
        }
        if (done)
            break;
        run.host.yieldToEvents();
        if (run.stopRequested())
            stop = true;
    }
    threads.join();
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        if (!results[i])
            continue;
        run.state.runLog += '\n' + logs[i];
        batch.stopped = batch.stopped || results[i]->end == RunEnd::Stopped;
        batch.tiles.push_back(std::move(*results[i]));
    }
    batch.stopped = batch.stopped || stop.load();
    return true;
}

} // namespace

std::string ConversionsText(const TileResult& result)
{
    std::string text;
    for (std::size_t s = 0; s < result.conversions.size(); ++s)
        if (const std::optional<SourceConversion>& conversion = result.conversions[s])
            text += (text.empty() ? "Quelle " : "; Quelle ") + std::to_string(s + 1) + ": " + conversion->from + " → "
                    + conversion->to;
    return text;
}

std::size_t CountEnds(const std::vector<TileResult>& tiles, RunEnd end)
{
    return static_cast<std::size_t>(
        std::count_if(tiles.begin(), tiles.end(), [end](const TileResult& tile) { return tile.end == end; }));
}

BatchResult MergeTiles(RunState& state, RunHost& host, const std::vector<std::string>& tiles,
                       const std::string& secondaryFolder, const RunOptions& options)
{
    const Stopwatch stopwatch;
    BatchResult batch;
    try {
        RunContext run(state, host, options);
        std::vector<std::string> outputFolders;
        for (const std::string& tile : tiles)
            outputFolders.push_back(SiblingFolder(tile, "Merged"));
        const std::vector<std::string> missing = MissingFolders(outputFolders);
        const std::vector<std::optional<Error>> refusals = refuseClashes(tiles);
        if (!SeveralInFlight(options, tiles.size()) || !runInParallel(run, tiles, secondaryFolder, refusals, batch))
            runInOrder(run, tiles, secondaryFolder, refusals, batch);

        // The new names are durable once their folders are: each folder once, at the end.
        if (options.durable) {
            std::set<std::string> folders;
            for (const TileResult& tile : batch.tiles)
                if (tile.end == RunEnd::Complete)
                    folders.insert(GetParentFolderName(tile.output));
            for (const std::string& folder : folders) {
                if (Result<> synced = SyncFolder(folder, options.trace); !synced) {
                    for (TileResult& tile : batch.tiles)
                        if (tile.end == RunEnd::Complete && GetParentFolderName(tile.output) == folder)
                            MarkFailed(tile, synced.error());
                    state.runLog += synced.error().message;
                }
            }
        }
        RemoveEmptyFolders(missing);
    } catch (...) {
        batch.tiles.push_back(FailedResult({}, CaughtError()));
    }
    batch.seconds = stopwatch.seconds();
    return batch;
}

BatchResult MergeTiles(RunHost& host, const std::vector<std::string>& tiles, const std::string& secondaryFolder,
                       const RunOptions& options)
{
    RunState state;
    return MergeTiles(state, host, tiles, secondaryFolder, options);
}

} // namespace hgt

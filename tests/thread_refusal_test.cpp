// Where the system gives no thread, the work the engines hand to a helper thread is done on the
// caller's thread. This binary stands in for pthread_create, so that a test can have the system
// refuse every new thread.

#include "app/window_state.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "tests/support/fake_host.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#if defined(__linux__)
#include <dlfcn.h>
#include <pthread.h>

namespace {
std::atomic<bool> g_refuseThreads{false};
} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) noexcept
{
    if (g_refuseThreads.load())
        return EAGAIN;
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    return real(thread, attr, start, arg);
}
#endif

namespace hgt::test {
namespace thread_refusal_test {

#if defined(__linux__)
// Refuses new threads for as long as it lives.
class RefusedThreads {
public:
    RefusedThreads() { g_refuseThreads.store(true); }
    ~RefusedThreads() { g_refuseThreads.store(false); }
    RefusedThreads(const RefusedThreads&) = delete;
    RefusedThreads& operator=(const RefusedThreads&) = delete;
};

// How a batch hands work to threads: a durable one commits its outputs on a thread of its own,
// one with several tiles in flight fills them on workers.
struct BatchRow {
    const char* name;
    bool durable;
    unsigned jobs;
};

void PrintTo(const BatchRow& row, std::ostream* out)
{
    *out << row.name;
}

class ThreadRefusal : public ::testing::TestWithParam<BatchRow> {};

// Without a thread, the batch does that work on the caller's thread and fills every tile as with one.
TEST_P(ThreadRefusal, LeavesABatchsWorkToTheCallersThread)
{
    TempFolder temp;
    const Bytes secondary = plainTile(5, kTileSide3);
    std::vector<std::string> tiles;
    std::vector<Bytes> expected;
    for (const char* name : {"N47E011.hgt", "N47E012.hgt", "N47E013.hgt"}) {
        Bytes primary = plainTile(1, kTileSide3);
        Bytes filled = primary;
        for (std::int64_t k : {0, 1000, 77777}) {
            setVoid(primary, k);
            filled[2 * k] = secondary[2 * k];
            filled[2 * k + 1] = secondary[2 * k + 1];
        }
        tiles.push_back(temp / (std::string("p/") + name));
        writeBytes(tiles.back(), primary);
        writeBytes(temp / (std::string("s/") + name), secondary);
        expected.push_back(filled);
    }
    WindowState state;
    FakeHost host{state};
    RunOptions options;
    options.durable = GetParam().durable;
    options.jobs = GetParam().jobs;
    BatchResult batch;
    {
        const RefusedThreads refused;
        batch = MergeTiles(state, host, tiles, temp / "s", options);
    }
    ASSERT_EQ(batch.tiles.size(), tiles.size());
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        ASSERT_EQ(batch.tiles[i].end, RunEnd::Complete) << batch.tiles[i].message();
        EXPECT_TRUE(sameTile(readBytes(batch.tiles[i].output), expected[i]));
    }
}

INSTANTIATE_TEST_SUITE_P(Batches, ThreadRefusal,
                         ::testing::Values(BatchRow{"durable_one_in_flight", true, 1},
                                           BatchRow{"two_in_flight", false, 2},
                                           BatchRow{"durable_two_in_flight", true, 2}),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

} // namespace thread_refusal_test
} // namespace hgt::test

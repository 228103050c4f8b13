#include "tiles/internal/void_interpolation.h"

#include "tiles/internal/bit_grid.h"
#include "tiles/internal/pacer.h"
#include "tiles/internal/region_solver.h"
#include "tiles/internal/filled_height.h"
#include "tiles/internal/helper_thread.h"
#include "tiles/internal/void_regions.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <utility>

namespace hgt {

namespace {

// Known samples around each region taken into its problem, beyond its bounding box.
constexpr int kMargin = 2;
// Below this many voids in all regions together, one thread solves them all.
constexpr std::int64_t kSamplesForHelper = 20000;
// Regions are handed to the threads in batches of about this many voids.
constexpr std::int64_t kBatchSamples = 1024;

struct Span {
    int row, first, last; // extended coordinates, columns first..last inclusive
};

// The tile with bands of its neighbours around it, in extended coordinates: extended row `row` is
// the tile's row `row - band` (negative: the northern neighbour's rows above the shared line). Each of the nine
// patches keeps its tile's shared lines as well, so that a void on a seam can take the value its
// neighbour holds for the same sample.
class BandedTile {
public:
    BandedTile(std::vector<std::int16_t>& tile, int side, int band) : m_tile(tile), m_side(side), m_band(band) {}

    int side() const { return m_side; }
    int band() const { return m_band; }
    int extent() const { return m_side + 2 * m_band; }

    // `ask` is called before each neighbour is read: reading one may take a while.
    template <typename Ask>
    void load(const Neighbours& neighbours, Ask ask)
    {
        for (int pr = 0; pr < 3; ++pr)
            for (int pc = 0; pc < 3; ++pc) {
                if (pr == 1 && pc == 1)
                    continue;
                ask();
                const SampleWindow window{start(pr), start(pc), length(pr), length(pc)};
                std::optional<std::vector<std::int16_t>> samples = neighbours.window(pr - 1, pc - 1, window);
                Patch& patch = m_patches[static_cast<std::size_t>(3 * pr + pc)];
                if (samples
                    && samples->size()
                           == static_cast<std::size_t>(window.rows) * static_cast<std::size_t>(window.columns)) {
                    patch.values = std::move(*samples);
                    patch.columns = window.columns;
                    patch.present = true;
                }
            }
    }

    bool present(int pr, int pc) const
    {
        return (pr == 1 && pc == 1) || m_patches[static_cast<std::size_t>(3 * pr + pc)].present;
    }

    // The sample at extended (row, column), looked up in the first of the tiles sharing it that has
    // a valid value:
    // the tile whose interior holds it first, then the others along the seam. Both tiles of a seam
    // thereby see one value for it.
    std::optional<std::int16_t> valueAt(int row, int column, const VoidSet& voids) const
    {
        const int pr = part(row), pc = part(column);
        std::optional<std::int16_t> value;
        if (present(pr, pc)) {
            value = local(pr, pc, row, column);
            if (!voids.isVoid(*value))
                return value;
        }
        const int other[2] = {sharer(row), sharer(column)};
        for (int alt = 1; alt < 4; ++alt) {
            const int qr = alt & 1 ? other[0] : pr, qc = alt & 2 ? other[1] : pc;
            if ((alt & 1 && qr < 0) || (alt & 2 && qc < 0) || !present(qr, qc))
                continue;
            const std::int16_t v = local(qr, qc, row, column);
            if (!voids.isVoid(v))
                return v;
            value = value.value_or(v);
        }
        return value;
    }

private:
    struct Patch {
        std::vector<std::int16_t> values;
        int columns = 0;
        bool present = false;
    };

    // Which of the three patch rows (or columns) an extended row (or column) lies in.
    int part(int x) const { return x < m_band ? 0 : x < m_band + m_side ? 1 : 2; }
    // The first row of a patch row's window in its tile, and how many rows it has.
    int start(int p) const { return p == 0 ? m_side - 1 - m_band : 0; }
    int length(int p) const { return p == 1 ? m_side : m_band + 1; }
    // The row within the patch's window of an extended row in it, or on its seam with the tile.
    int inPatch(int p, int x) const { return p == 0 ? x : p == 1 ? x - m_band : x - m_band - m_side + 1; }
    // The other patch row that holds an extended row on a seam, or -1.
    int sharer(int x) const
    {
        if (x == m_band)
            return 0;
        if (x == m_band + m_side - 1)
            return 2;
        return -1;
    }

    std::int16_t local(int pr, int pc, int row, int column) const
    {
        const int r = inPatch(pr, row), c = inPatch(pc, column);
        if (pr == 1 && pc == 1)
            return m_tile[static_cast<std::size_t>(r) * static_cast<std::size_t>(m_side) + static_cast<std::size_t>(c)];
        const Patch& patch = m_patches[static_cast<std::size_t>(3 * pr + pc)];
        return patch.values[static_cast<std::size_t>(r) * static_cast<std::size_t>(patch.columns)
                            + static_cast<std::size_t>(c)];
    }

    std::vector<std::int16_t>& m_tile;
    const int m_side;
    const int m_band;
    std::array<Patch, 9> m_patches;
};

// A void region: its runs, m_spans[first, first + count), and how many unknowns it poses.
struct Region {
    std::size_t first = 0, count = 0;
    std::int64_t samples = 0;
};

class Interpolation {
public:
    Interpolation(std::vector<std::int16_t>& values, int side, const VoidSet& voids,
                  const InterpolationOptions& options, std::uint8_t* marks)
        : m_values(values), m_side(side), m_voids(voids), m_options(options), m_marks(marks),
          m_tension(static_cast<float>(std::clamp(options.tension, 0.0, 0.99)))
    {}

    InterpolationResult run(const Neighbours& neighbours);

private:
    // What one thread keeps from region to region.
    struct Worker {
        RegionSolver solver;
        InterpolationResult result;
    };

    bool voidNearEdge() const;
    void markSamples(BandedTile& banded, Pacer& pacer);
    void takeSeamValues(const BandedTile& banded);
    void findRegions(Pacer& pacer);
    void solveRegions(const BandedTile& banded, Worker& worker, Pacer& pacer);
    void fillRegion(const BandedTile& banded, const Region& region, Worker& worker, Pacer& pacer);
    void appendSpans(const RowBits& pending, int top, int bottom, int left, int right, Pacer& pacer);

    std::vector<std::int16_t>& m_values;
    const int m_side;
    const VoidSet& m_voids;
    const InterpolationOptions& m_options;
    std::uint8_t* const m_marks;
    const float m_tension;

    int m_band = 0;
    RowBits m_void;            // extended coordinates; once the regions are found, the voids of none of them
    RowBits m_known;           // extended coordinates
    RowBits m_reach;           // within maxDistance of a known sample
    std::vector<Span> m_spans; // of all regions, region by region
    std::vector<Region> m_regions;
    std::vector<std::pair<std::size_t, std::size_t>> m_batches; // of m_regions, [first, second)
    std::atomic<std::size_t> m_next{0};                         // the next batch to solve
    std::atomic<bool> m_stop{false};
    InterpolationResult m_result;
};

bool Interpolation::voidNearEdge() const
{
    const auto isVoid = [&](int r, int c) {
        return m_voids.isVoid(
            m_values[static_cast<std::size_t>(r) * static_cast<std::size_t>(m_side) + static_cast<std::size_t>(c)]);
    };
    for (int i = 0; i < m_side; ++i)
        for (int d = 0; d < std::min(kMargin, m_side); ++d)
            if (isVoid(d, i) || isVoid(m_side - 1 - d, i) || isVoid(i, d) || isVoid(i, m_side - 1 - d))
                return true;
    return false;
}

void Interpolation::markSamples(BandedTile& banded, Pacer& pacer)
{
    const int extent = banded.extent();
    m_void = RowBits(extent);
    m_known = RowBits(extent);
    for (int row = 0; row < extent; ++row) {
        const bool tileRow = row > m_band && row < m_band + m_side - 1;
        for (int column = 0; column < extent; ++column) {
            std::optional<std::int16_t> value;
            if (tileRow && column > m_band && column < m_band + m_side - 1)
                value = m_values[static_cast<std::size_t>(row - m_band) * static_cast<std::size_t>(m_side)
                                 + static_cast<std::size_t>(column - m_band)];
            else
                value = banded.valueAt(row, column, m_voids);
            if (!value)
                continue;
            if (m_voids.isVoid(*value))
                m_void.set(row, column);
            else
                m_known.set(row, column);
        }
        pacer.step(extent);
    }
}

// A void on the tile's edge that a neighbour holds a valid value for takes that value.
void Interpolation::takeSeamValues(const BandedTile& banded)
{
    const auto take = [&](int r, int c) {
        const std::size_t k =
            static_cast<std::size_t>(r) * static_cast<std::size_t>(m_side) + static_cast<std::size_t>(c);
        if (!m_voids.isVoid(m_values[k]) || !m_known.get(r + m_band, c + m_band))
            return;
        m_values[k] = *banded.valueAt(r + m_band, c + m_band, m_voids);
        m_void.clear(r + m_band, c + m_band);
        ++m_result.interpolated;
        if (m_marks)
            m_marks[k] = 1;
    };
    for (int i = 0; i < m_side; ++i) {
        take(0, i);
        take(m_side - 1, i);
        take(i, 0);
        take(i, m_side - 1);
    }
}

// Appends the voids that m_void holds and `pending` no longer does, in rows [top, bottom] and
// columns [left, right], to m_spans as runs along the rows, and clears them from m_void.
void Interpolation::appendSpans(const RowBits& pending, int top, int bottom, int left, int right, Pacer& pacer)
{
    const std::int64_t firstWord = left / 64, lastWord = right / 64;
    for (int row = top; row <= bottom; ++row) {
        std::uint64_t* voids = m_void.row(row);
        const std::uint64_t* untaken = pending.row(row);
        int runStart = -1; // the first column of the run being read, or none
        for (std::int64_t w = firstWord; w <= lastWord; ++w) {
            const std::uint64_t word = voids[w] & ~untaken[w];
            voids[w] &= untaken[w];
            for (int from = 0; from < 64;) {
                const std::uint64_t ahead = ~std::uint64_t{0} << from;
                // In a run, the next clear bit ends it; outside one, the next set bit starts one.
                const std::uint64_t next = (runStart < 0 ? word : ~word) & ahead;
                if (next == 0)
                    break;
                const int bit = std::countr_zero(next);
                const int column = static_cast<int>(w * 64) + bit;
                if (runStart < 0) {
                    runStart = column;
                } else {
                    m_spans.push_back({row, runStart, column - 1});
                    runStart = -1;
                }
                from = bit;
            }
        }
        if (runStart >= 0)
            m_spans.push_back({row, runStart, static_cast<int>(lastWord * 64 + 63)});
        pacer.step(lastWord - firstWord + 1);
    }
}

// Every region with a void in the tile. The large ones come first, the largest first, each a
// batch of its own, so that two threads taking batches in turn end at about the same time; the
// small ones follow in the tile's order, in batches of neighbours that share the cache.
void Interpolation::findRegions(Pacer& pacer)
{
    std::vector<Region> large;
    RowBits pending = m_void;
    int top = 0, bottom = -1, left = 0, right = -1;
    const auto noRegion = [&] { top = m_void.side(), bottom = -1, left = m_void.side(), right = -1; };
    noRegion();
    TakeVoidRegions(
        pending, {m_band, m_band + m_side, m_band, m_band + m_side},
        [&](std::int64_t r, std::int64_t c) {
            const int row = static_cast<int>(r), column = static_cast<int>(c);
            top = std::min(top, row), bottom = std::max(bottom, row);
            left = std::min(left, column), right = std::max(right, column);
            pacer.step(4);
        },
        [&] {
            Region region{m_spans.size(), 0, 0};
            appendSpans(pending, top, bottom, left, right, pacer);
            region.count = m_spans.size() - region.first;
            for (std::size_t s = region.first; s < m_spans.size(); ++s)
                region.samples += m_spans[s].last - m_spans[s].first + 1;
            (region.samples >= kBatchSamples ? large : m_regions).push_back(region);
            pacer.step(64);
            noRegion();
        });
    // The order decides only which thread solves a region, never its values.
    std::sort(large.begin(), large.end(), [](const Region& a, const Region& b) { return a.samples > b.samples; });
    m_regions.insert(m_regions.begin(), large.begin(), large.end());
    for (std::size_t i = 0; i < m_regions.size();) {
        const std::size_t first = i;
        for (std::int64_t samples = 0; i < m_regions.size() && (i == first || samples < kBatchSamples); ++i)
            samples += m_regions[i].samples;
        m_batches.push_back({first, i});
    }
}

// Solves one region and writes its samples: each region's values depend on its own rim alone, so
// that whichever thread solves it, the tile comes out the same. Threads write disjoint samples
// and read only valid ones, which no thread writes.
void Interpolation::fillRegion(const BandedTile& banded, const Region& region, Worker& worker, Pacer& pacer)
{
    const auto spans = std::span(m_spans).subspan(region.first, region.count);
    InterpolationResult& result = worker.result;
    std::int64_t inTile = 0;
    bool tooFar = false;
    int r0 = banded.extent(), r1 = -1, c0 = banded.extent(), c1 = -1;
    for (const Span& span : spans) {
        r0 = std::min(r0, span.row), r1 = std::max(r1, span.row);
        c0 = std::min(c0, span.first), c1 = std::max(c1, span.last);
        if (span.row >= m_band && span.row < m_band + m_side)
            inTile += std::max(0, std::min(span.last, m_band + m_side - 1) - std::max(span.first, m_band) + 1);
        for (int c = span.first; c <= span.last && !tooFar; ++c)
            tooFar = !m_reach.get(span.row, c);
        pacer.step(span.last - span.first + 1);
    }
    if (tooFar) {
        result.left += inTile;
        result.leftTooFar += inTile;
        return;
    }
    // The box in extended coordinates, so that both tiles of a seam pose the same problem.
    const int top = std::max(0, r0 - kMargin), left = std::max(0, c0 - kMargin);
    const int bottom = std::min(banded.extent() - 1, r1 + kMargin), right = std::min(banded.extent() - 1, c1 + kMargin);
    Level& level = worker.solver.finest(bottom - top + 1, right - left + 1, pacer);
    double sum = 0.0;
    std::int64_t known = 0;
    for (int row = top; row <= bottom; ++row) {
        for (int column = left; column <= right; ++column)
            if (m_known.get(row, column)) {
                const std::size_t k = level.index(row - top, column - left);
                level.role[k] = Role::Known;
                level.u[k] = static_cast<float>(*banded.valueAt(row, column, m_voids));
                sum += level.u[k];
                ++known;
            }
        pacer.step(right - left + 1);
    }
    if (known == 0) {
        result.left += inTile;
        result.leftTooFar += inTile;
        return;
    }
    for (const Span& span : spans) {
        for (int column = span.first; column <= span.last; ++column)
            level.role[level.index(span.row - top, column - left)] = Role::Unknown;
        pacer.step(span.last - span.first + 1);
    }
    // Heights above the rim's mean: floats near 30000 m keep too few digits for the sweeps, whose
    // rounding the bending problem magnifies many times.
    const double mean = sum / static_cast<double>(known);
    for (std::size_t k = 0; k < level.u.size(); ++k)
        if (level.role[k] == Role::Known)
            level.u[k] = static_cast<float>(level.u[k] - mean);
    worker.solver.solve(pacer);

    for (const Span& span : spans) {
        const int r = span.row - m_band;
        if (r < 0 || r >= m_side)
            continue;
        for (int column = std::max(span.first, m_band); column <= std::min(span.last, m_band + m_side - 1); ++column) {
            const std::size_t k = static_cast<std::size_t>(r) * static_cast<std::size_t>(m_side)
                                  + static_cast<std::size_t>(column - m_band);
            const double height = static_cast<double>(level.u[level.index(span.row - top, column - left)]) + mean;
            // towards the rim's mean where the rounded height would read as a void
            m_values[k] = FilledHeight(height, m_voids, mean);
            if (m_marks)
                m_marks[k] = 1;
        }
    }
    result.interpolated += inTile;
}

void Interpolation::solveRegions(const BandedTile& banded, Worker& worker, Pacer& pacer)
{
    for (;;) {
        const std::size_t next = m_next.fetch_add(1);
        if (next >= m_batches.size())
            return;
        pacer.ask();
        for (std::size_t i = m_batches[next].first; i < m_batches[next].second; ++i)
            fillRegion(banded, m_regions[i], worker, pacer);
    }
}

InterpolationResult Interpolation::run(const Neighbours& neighbours)
{
    Pacer pacer(&m_options.proceed, m_stop);
    Worker own{RegionSolver(m_tension), {}};
    Worker helper{RegionSolver(m_tension), {}};
    std::exception_ptr helperFailure;
    try {
        const int maxDistance = std::max(0, m_options.maxDistance);
        // A region the reach allows is at most about twice the reach across; the bands hold it whole.
        if (neighbours.window && m_side > kMargin && voidNearEdge())
            m_band = std::clamp(2 * maxDistance + 2 * kMargin, kMargin, m_side - 1);
        BandedTile banded(m_values, m_side, m_band);
        if (m_band > 0)
            banded.load(neighbours, [&] { pacer.ask(); });
        pacer.ask();
        markSamples(banded, pacer);
        takeSeamValues(banded);
        m_reach = m_known;
        DilateSquare(m_reach, maxDistance, [&](std::int64_t work) { pacer.step(work); });
        findRegions(pacer);

        // The helper thread, stopped and joined on every way out of this block, before the banded
        // it reads goes away.
        struct Helper {
            std::atomic<bool>& stop;
            std::thread thread;
            std::mutex mutex;
            std::condition_variable changed;
            bool done = false;
            ~Helper()
            {
                if (thread.joinable()) {
                    stop.store(true);
                    thread.join();
                }
            }
        } second{m_stop, {}, {}, {}};
        // A second thread pays only where there is work for both.
        std::int64_t samples = 0;
        for (const Region& region : m_regions)
            samples += region.samples;
        // Without a thread to be had, this one does all.
        if (m_batches.size() > 1 && samples >= kSamplesForHelper && SecondCoreAvailable()) {
            second.thread = TryStartThread([&] {
                Pacer watching(nullptr, m_stop);
                try {
                    solveRegions(banded, helper, watching);
                } catch (const Stopped&) {
                } catch (...) {
                    helperFailure = std::current_exception();
                    m_stop.store(true);
                }
                const std::lock_guard lock(second.mutex);
                second.done = true;
                second.changed.notify_one();
            });
        }
        solveRegions(banded, own, pacer);
        // The helper's last regions: the window is served meanwhile, and a stop reaches it.
        if (second.thread.joinable()) {
            std::unique_lock lock(second.mutex);
            while (!second.changed.wait_for(lock, std::chrono::milliseconds(10), [&] { return second.done; })) {
                lock.unlock();
                pacer.ask();
                lock.lock();
            }
        }
    } catch (const Stopped&) {
        m_stop.store(true);
    }
    if (helperFailure)
        std::rethrow_exception(helperFailure);
    for (const Worker* worker : {&own, &helper}) {
        m_result.interpolated += worker->result.interpolated;
        m_result.left += worker->result.left;
        m_result.leftTooFar += worker->result.leftTooFar;
    }
    return m_result;
}

} // namespace

std::vector<std::int16_t> WindowOf(const std::vector<std::int16_t>& tile, int side, const SampleWindow& window)
{
    std::vector<std::int16_t> out;
    out.reserve(static_cast<std::size_t>(window.rows) * static_cast<std::size_t>(window.columns));
    for (int r = window.row; r < window.row + window.rows; ++r) {
        const auto begin = tile.begin() + static_cast<std::ptrdiff_t>(r) * side + window.column;
        out.insert(out.end(), begin, begin + window.columns);
    }
    return out;
}

InterpolationResult InterpolateVoids(std::vector<std::int16_t>& values, int side, const VoidSet& voids,
                                     const InterpolationOptions& options, const Neighbours& neighbours,
                                     std::uint8_t* marks)
{
    if (side <= 0 || values.size() != static_cast<std::size_t>(side) * static_cast<std::size_t>(side))
        return {};
    return Interpolation(values, side, voids, options, marks).run(neighbours);
}

} // namespace hgt

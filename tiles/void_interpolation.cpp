#include "tiles/internal/void_interpolation.h"

#include "tiles/internal/delta_fill.h"
#include "tiles/internal/pacer.h"
#include "tiles/internal/region_solver.h"

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
#include <system_error>
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

// The tile with bands of its neighbours around it, in extended coordinates: row R is the tile's
// row R - band (negative: the northern neighbour's rows above the shared line). Each of the nine
// patches keeps its tile's shared lines as well, so that a void on a seam can take the value its
// neighbour holds for the same sample.
class Mosaic {
public:
    Mosaic(std::vector<std::int16_t>& tile, int side, int band) : m_tile(tile), m_side(side), m_band(band) {}

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

    // The sample at (R, C), looked up in the first of the tiles sharing it that has a valid value:
    // the tile whose interior holds it first, then the others along the seam. Both tiles of a seam
    // thereby see one value for it.
    std::optional<std::int16_t> valueAt(int R, int C, const VoidSet& voids) const
    {
        const int pr = part(R), pc = part(C);
        std::optional<std::int16_t> value;
        if (present(pr, pc)) {
            value = local(pr, pc, R, C);
            if (!voids.isVoid(*value))
                return value;
        }
        const int other[2] = {sharer(R), sharer(C)};
        for (int alt = 1; alt < 4; ++alt) {
            const int qr = alt & 1 ? other[0] : pr, qc = alt & 2 ? other[1] : pc;
            if ((alt & 1 && qr < 0) || (alt & 2 && qc < 0) || !present(qr, qc))
                continue;
            const std::int16_t v = local(qr, qc, R, C);
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

    std::int16_t local(int pr, int pc, int R, int C) const
    {
        const int r = inPatch(pr, R), c = inPatch(pc, C);
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

// Sets in `out` every bit within `s` columns of a bit of `in` (one row of `words` words).
void SpreadRow(const std::uint64_t* in, std::uint64_t* out, std::int64_t words, int s)
{
    const std::int64_t ws = s / 64;
    const int bs = s % 64;
    for (std::int64_t w = 0; w < words; ++w) {
        std::uint64_t v = in[w];
        const auto get = [&](std::int64_t i) { return i >= 0 && i < words ? in[i] : std::uint64_t{0}; };
        if (bs == 0) {
            v |= get(w - ws) | get(w + ws);
        } else {
            v |= get(w - ws) << bs | get(w - ws - 1) >> (64 - bs);
            v |= get(w + ws) >> bs | get(w + ws + 1) << (64 - bs);
        }
        out[w] = v;
    }
}

// The samples within `distance` chessboard steps of a set bit, by doubling the reach each round.
RowBits Dilate(RowBits bits, int distance, Pacer& pacer)
{
    const std::int64_t side = bits.side(), words = bits.wordsPerRow();
    const std::uint64_t lastWord = side % 64 ? (std::uint64_t{1} << (side % 64)) - 1 : ~std::uint64_t{0};
    std::vector<std::uint64_t> row(static_cast<std::size_t>(words));
    RowBits across(side);
    for (int reach = 0; reach < distance;) {
        const int s = std::min(reach + 1, distance - reach);
        for (std::int64_t r = 0; r < side; ++r) {
            SpreadRow(bits.row(r), row.data(), words, s);
            row[static_cast<std::size_t>(words - 1)] &= lastWord;
            std::copy(row.begin(), row.end(), bits.row(r));
            pacer.step(side);
        }
        std::copy(bits.row(0), bits.row(0) + side * words, across.row(0));
        for (std::int64_t r = 0; r < side; ++r) {
            std::uint64_t* out = bits.row(r);
            for (const std::int64_t from : {r - s, r + s}) {
                if (from < 0 || from >= side)
                    continue;
                const std::uint64_t* in = across.row(from);
                for (std::int64_t w = 0; w < words; ++w)
                    out[w] |= in[w];
            }
            pacer.step(side / 8);
        }
        reach += s;
    }
    return bits;
}

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
    void markSamples(Mosaic& mosaic, Pacer& pacer);
    void takeSeamValues(const Mosaic& mosaic);
    void findRegions(Pacer& pacer);
    void solveRegions(const Mosaic& mosaic, Worker& worker, Pacer& pacer);
    void fillRegion(const Mosaic& mosaic, const Region& region, Worker& worker, Pacer& pacer);
    void collectRegion(int R, int C, Pacer& pacer);
    std::int16_t finalValue(double value, double mean) const;

    std::vector<std::int16_t>& m_values;
    const int m_side;
    const VoidSet& m_voids;
    const InterpolationOptions& m_options;
    std::uint8_t* const m_marks;
    const float m_tension;

    int m_band = 0;
    RowBits m_void;  // extended coordinates
    RowBits m_known; // extended coordinates
    RowBits m_reach; // within maxDistance of a known sample
    RowBits m_seen;
    std::vector<Span> m_stack;
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

void Interpolation::markSamples(Mosaic& mosaic, Pacer& pacer)
{
    const int extent = mosaic.extent();
    m_void = RowBits(extent);
    m_known = RowBits(extent);
    for (int R = 0; R < extent; ++R) {
        const bool tileRow = R > m_band && R < m_band + m_side - 1;
        for (int C = 0; C < extent; ++C) {
            std::optional<std::int16_t> value;
            if (tileRow && C > m_band && C < m_band + m_side - 1)
                value = m_values[static_cast<std::size_t>(R - m_band) * static_cast<std::size_t>(m_side)
                                 + static_cast<std::size_t>(C - m_band)];
            else
                value = mosaic.valueAt(R, C, m_voids);
            if (!value)
                continue;
            if (m_voids.isVoid(*value))
                m_void.set(R, C);
            else
                m_known.set(R, C);
        }
        pacer.step(extent);
    }
}

// A void on the tile's edge that a neighbour holds a valid value for takes that value.
void Interpolation::takeSeamValues(const Mosaic& mosaic)
{
    const auto take = [&](int r, int c) {
        const std::size_t k =
            static_cast<std::size_t>(r) * static_cast<std::size_t>(m_side) + static_cast<std::size_t>(c);
        if (!m_voids.isVoid(m_values[k]) || !m_known.get(r + m_band, c + m_band))
            return;
        m_values[k] = *mosaic.valueAt(r + m_band, c + m_band, m_voids);
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

// The 8-connected voids around (R, C) as runs along rows, appended to m_spans, by a scan-line
// flood fill, so that even a region covering half a tile takes little memory.
void Interpolation::collectRegion(int R, int C, Pacer& pacer)
{
    const int extent = static_cast<int>(m_void.side());
    const auto open = [&](int r, int c) { return m_void.get(r, c) && !m_seen.get(r, c); };
    m_stack.clear();
    m_stack.push_back({R, C, C});
    while (!m_stack.empty()) {
        const Span seed = m_stack.back();
        m_stack.pop_back();
        if (!open(seed.row, seed.first))
            continue;
        int first = seed.first, last = seed.first;
        while (first > 0 && open(seed.row, first - 1))
            --first;
        while (last + 1 < extent && open(seed.row, last + 1))
            ++last;
        for (int c = first; c <= last; ++c)
            m_seen.set(seed.row, c);
        m_spans.push_back({seed.row, first, last});
        for (const int r : {seed.row - 1, seed.row + 1}) {
            if (r < 0 || r >= extent)
                continue;
            for (int c = std::max(first - 1, 0); c <= std::min(last + 1, extent - 1); ++c) {
                if (!open(r, c))
                    continue;
                m_stack.push_back({r, c, c});
                while (c + 1 <= std::min(last + 1, extent - 1) && open(r, c + 1))
                    ++c;
            }
        }
        pacer.step(4 * (last - first + 3));
    }
}

// Every region with a void in the tile. The large ones come first, the largest first, each a
// batch of its own, so that two threads taking batches in turn end at about the same time; the
// small ones follow in the tile's order, in batches of neighbours that share the cache.
void Interpolation::findRegions(Pacer& pacer)
{
    std::vector<Region> large;
    for (int r = 0; r < m_side; ++r) {
        const int R = r + m_band;
        const std::uint64_t* row = m_void.row(R);
        for (std::int64_t w = m_band / 64; w * 64 < m_band + m_side; ++w) {
            for (std::uint64_t word = row[w]; word != 0; word &= word - 1) {
                const int C = static_cast<int>(w * 64 + std::countr_zero(word));
                if (C < m_band || C >= m_band + m_side || m_seen.get(R, C))
                    continue;
                Region region{m_spans.size(), 0, 0};
                collectRegion(R, C, pacer);
                region.count = m_spans.size() - region.first;
                for (std::size_t s = region.first; s < m_spans.size(); ++s)
                    region.samples += m_spans[s].last - m_spans[s].first + 1;
                (region.samples >= kBatchSamples ? large : m_regions).push_back(region);
                pacer.step(64);
            }
        }
        pacer.step(m_side / 64);
    }
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

std::int16_t Interpolation::finalValue(double value, double mean) const
{
    auto result = static_cast<std::int16_t>(std::clamp<long>(std::lround(value), -32768, 32767));
    // A filled sample must not read as a void: one metre towards the rim's mean until it does not.
    const int step = mean >= result ? 1 : -1;
    while (m_voids.isVoid(result))
        result = static_cast<std::int16_t>(result + step);
    return result;
}

// Solves one region and writes its samples: each region's values depend on its own rim alone, so
// that whichever thread solves it, the tile comes out the same. Threads write disjoint samples
// and read only valid ones, which no thread writes.
void Interpolation::fillRegion(const Mosaic& mosaic, const Region& region, Worker& worker, Pacer& pacer)
{
    const auto spans = std::span(m_spans).subspan(region.first, region.count);
    InterpolationResult& result = worker.result;
    std::int64_t inTile = 0;
    bool tooFar = false;
    int r0 = mosaic.extent(), r1 = -1, c0 = mosaic.extent(), c1 = -1;
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
    const int bottom = std::min(mosaic.extent() - 1, r1 + kMargin), right = std::min(mosaic.extent() - 1, c1 + kMargin);
    Level& level = worker.solver.finest(bottom - top + 1, right - left + 1, pacer);
    double sum = 0.0;
    std::int64_t known = 0;
    for (int R = top; R <= bottom; ++R) {
        for (int C = left; C <= right; ++C)
            if (m_known.get(R, C)) {
                const std::size_t k = level.index(R - top, C - left);
                level.role[k] = Role::Known;
                level.u[k] = static_cast<float>(*mosaic.valueAt(R, C, m_voids));
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
        for (int C = span.first; C <= span.last; ++C)
            level.role[level.index(span.row - top, C - left)] = Role::Unknown;
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
        for (int C = std::max(span.first, m_band); C <= std::min(span.last, m_band + m_side - 1); ++C) {
            const std::size_t k =
                static_cast<std::size_t>(r) * static_cast<std::size_t>(m_side) + static_cast<std::size_t>(C - m_band);
            m_values[k] = finalValue(static_cast<double>(level.u[level.index(span.row - top, C - left)]) + mean, mean);
            if (m_marks)
                m_marks[k] = 1;
        }
    }
    result.interpolated += inTile;
}

void Interpolation::solveRegions(const Mosaic& mosaic, Worker& worker, Pacer& pacer)
{
    for (;;) {
        const std::size_t next = m_next.fetch_add(1);
        if (next >= m_batches.size())
            return;
        pacer.ask();
        for (std::size_t i = m_batches[next].first; i < m_batches[next].second; ++i)
            fillRegion(mosaic, m_regions[i], worker, pacer);
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
        Mosaic mosaic(m_values, m_side, m_band);
        if (m_band > 0)
            mosaic.load(neighbours, [&] { pacer.ask(); });
        pacer.ask();
        markSamples(mosaic, pacer);
        takeSeamValues(mosaic);
        m_reach = Dilate(m_known, maxDistance, pacer);
        m_seen = RowBits(mosaic.extent());
        findRegions(pacer);

        // The helper thread, stopped and joined on every way out of this block, before the mosaic
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
        if (m_batches.size() > 1 && samples >= kSamplesForHelper && std::thread::hardware_concurrency() > 1) {
            try {
                second.thread = std::thread([&] {
                    Pacer watching(nullptr, m_stop);
                    try {
                        solveRegions(mosaic, helper, watching);
                    } catch (const Stopped&) {
                    } catch (...) {
                        helperFailure = std::current_exception();
                        m_stop.store(true);
                    }
                    const std::lock_guard lock(second.mutex);
                    second.done = true;
                    second.changed.notify_one();
                });
            } catch (const std::system_error&) {
                // no thread to be had: this one does all
            }
        }
        solveRegions(mosaic, own, pacer);
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

#include "tiles/internal/void_interpolation.h"

#include "tiles/internal/bit_grid.h"
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
// The bending stencil reaches two samples; the grids carry that much padding of outside cells.
constexpr int kPad = 2;
constexpr float kOverRelaxation = 1.5f;
constexpr int kSmoothing = 2;       // sweeps before and after each coarse correction
constexpr float kConverged = 0.05f; // metres a V-cycle changes at most when done
constexpr int kMaxCycles = 10;
// The coarsest grid is cheap and sets the shape of everything above it: solved out fully.
constexpr float kConvergedCoarsest = 0.005f;
constexpr int kMaxSweepsCoarsest = 4000;
constexpr int kRateSweeps = 4;
// A grid with no more unknowns than this is the coarsest: solved directly (see factorCoarsest).
constexpr std::int64_t kCoarsestUnknowns = 48;
// Below this many voids in all regions together, one thread solves them all.
constexpr std::int64_t kSamplesForHelper = 20000;
// Regions are handed to the threads in batches of about this many voids.
constexpr std::int64_t kBatchSamples = 1024;

enum class Role : std::uint8_t { Outside, Known, Unknown };

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

// Sets `values` to n copies of `value` slice by slice, asking the pacer between slices: the first
// touch of fresh memory costs a page fault per page, a tenth of a second for a huge region's grid.
template <typename T>
void FillPaced(std::vector<T>& values, std::size_t n, T value, Pacer& pacer)
{
    constexpr std::size_t kSlice = std::size_t{1} << 16;
    values.clear();
    values.reserve(n);
    while (values.size() < n) {
        values.resize(std::min(n, values.size() + kSlice), value);
        pacer.step(static_cast<std::int64_t>(kSlice / 4));
    }
}

// One level of a region's problem: the cells of its box, padded by outside cells, and on coarser
// levels the right-hand side of the correction they solve for. Levels are kept from region to
// region, so that their memory is taken once.
struct Level {
    int rows = 0, columns = 0, stride = 0, depth = 0;
    std::vector<Role> role;
    std::vector<float> u;
    std::vector<float> rhs;

    void reset(int rows_, int columns_, int depth_, Pacer& pacer)
    {
        rows = rows_, columns = columns_, stride = columns_ + 2 * kPad, depth = depth_;
        const auto cells = static_cast<std::size_t>(rows_ + 2 * kPad) * static_cast<std::size_t>(stride);
        FillPaced(role, cells, Role::Outside, pacer);
        FillPaced(u, cells, 0.0f, pacer);
    }
    std::size_t index(int y, int x) const
    {
        return static_cast<std::size_t>(y + kPad) * static_cast<std::size_t>(stride)
               + static_cast<std::size_t>(x + kPad);
    }
};

// A Gauss-Seidel row's weights: the unknown's value from its twelve neighbours within two samples,
// plus its share of the right-hand side.
struct Weights {
    float weight[12];
    float inverseDiagonal, diagonal;
};

constexpr std::array<std::pair<int, int>, 12> kStencil{
    {{-2, 0}, {-1, -1}, {-1, 0}, {-1, 1}, {0, -2}, {0, -1}, {0, 1}, {0, 2}, {1, -1}, {1, 0}, {1, 1}, {2, 0}}};

// An unknown: its cell, and its weights when they differ from those of an unknown with every
// neighbour inside (most unknowns, whose weights then stay in registers).
struct Cell {
    std::int32_t self;
    std::int32_t special; // index into Rows::specials, or -1
};

struct Rows {
    Weights standard{};
    std::vector<Cell> cells; // in the grid's order
    std::vector<Weights> specials;
};

// Multigrid over a region's box: each coarser level takes every second row and column. The first
// guess comes from the coarse levels solving the whole problem (coarse to fine); V-cycles of
// corrections then remove what smoothing alone would take hundreds of sweeps for.
class RegionSolver {
public:
    explicit RegionSolver(float tension) : m_tension(tension) {}

    // The finest level of the next region, reset to a box of outside cells.
    Level& finest(int rows, int columns, Pacer& pacer)
    {
        if (m_levels.empty())
            m_levels.push_back(std::make_unique<Level>());
        m_levels[0]->reset(rows, columns, 0, pacer);
        return *m_levels[0];
    }

    void solve(Pacer& pacer)
    {
        buildLevels(pacer);
        const std::size_t last = m_used - 1;
        for (std::size_t l = last + 1; l-- > 0;) {
            Level& level = *m_levels[l];
            if (l == last)
                startFromMean(level);
            else
                prolong(*m_levels[l + 1], level, level.u, pacer);
            // Every coarse level's first guess gets a V-cycle of its own: the next finer level then
            // starts nearly solved, which sweeps alone cannot do for a large region.
            if (l != last && l > 0)
                vCycle(l, pacer);
            else if (l != last)
                smooth(l, kSmoothing, pacer);
            else if (!solveCoarsest())
                smoothOut(l, pacer);
        }
        // The coarse levels now carry corrections: zero at the known samples.
        if (last > 0)
            cycles(pacer);
    }

private:
    // The V-cycles on the finest level, each taken only as a direction: the step taken is the one
    // that lowers the energy most within it and the step before. Alone, a large region's cycles
    // change it by metres still after a dozen (the coarse grids miss its shape near the rim);
    // the step before carries on what they keep undoing.
    void cycles(Pacer& pacer)
    {
        Level& level = *m_levels[0];
        const Rows& rows = m_rows[0];
        Krylov& k = m_krylov;
        const std::size_t n = rows.cells.size();
        // A cycle's change goes where its correction went (zero outside the unknowns, where the
        // operator reads it too); its values before, where the cycle kept them.
        std::vector<float>& trial = m_scratch[0].correction;
        const std::vector<float>& start = m_scratch[0].before;
        k.step.assign(n, 0.0f);
        k.residual.resize(n);
        k.appliedTrial.resize(n);
        k.appliedStep.assign(n, 0.0f);
        const std::array<std::ptrdiff_t, 12> offset = offsets(level);
        float* const u = level.u.data();
        bool first = true;
        for (int cycle = 0; cycle < kMaxCycles; ++cycle) {
            if (first)
                forEachCell(rows, pacer, [&](std::size_t i, std::int32_t self, const Weights& row, bool standard) {
                    const float* at = u + self;
                    k.residual[i] = (level.rhs[static_cast<std::size_t>(self)] * row.inverseDiagonal
                                     + neighbourSum(at, offset, row, standard) - *at)
                                    * row.diagonal;
                });
            vCycle(0, pacer);
            for (std::size_t i = 0; i < n; ++i) {
                const auto self = static_cast<std::size_t>(rows.cells[i].self);
                trial[self] = u[self] - start[i];
                u[self] = start[i];
            }
            pacer.step(static_cast<std::int64_t>(n));
            double tt = 0.0, ts = 0.0, ss = 0.0, tr = 0.0, sr = 0.0;
            forEachCell(rows, pacer, [&](std::size_t i, std::int32_t self, const Weights& row, bool standard) {
                const float* at = trial.data() + self;
                const float applied = (*at - neighbourSum(at, offset, row, standard)) * row.diagonal;
                k.appliedTrial[i] = applied;
                tt += static_cast<double>(*at) * applied;
                ts += static_cast<double>(k.step[i]) * applied;
                ss += static_cast<double>(k.step[i]) * k.appliedStep[i];
                tr += static_cast<double>(*at) * k.residual[i];
                sr += static_cast<double>(k.step[i]) * k.residual[i];
            });
            if (tt <= 0.0)
                return;
            double alpha = tr / tt, beta = 0.0;
            const double determinant = tt * ss - ts * ts;
            if (!first && determinant > 1e-6 * tt * ss) {
                alpha = (tr * ss - sr * ts) / determinant;
                beta = (sr * tt - tr * ts) / determinant;
            }
            first = false;
            const auto a = static_cast<float>(alpha), b = static_cast<float>(beta);
            float change = 0.0f;
            for (std::size_t i = 0; i < n; ++i) {
                const auto self = static_cast<std::size_t>(rows.cells[i].self);
                const float step = a * trial[self] + b * k.step[i];
                k.step[i] = step;
                k.appliedStep[i] = a * k.appliedTrial[i] + b * k.appliedStep[i];
                k.residual[i] -= k.appliedStep[i];
                u[self] += step;
                change = std::max(change, std::fabs(step));
            }
            pacer.step(static_cast<std::int64_t>(n));
            if (change < kConverged)
                return;
        }
    }

    struct Krylov {
        std::vector<float> step, residual, appliedTrial, appliedStep; // by unknown of the finest level
    };
    struct Scratch {
        std::vector<float> before, residual, correction;
    };
    struct Direct {
        std::size_t n = 0; // 0: no factors, the coarsest level is swept
        std::vector<double> lu;
        std::vector<std::size_t> pivot;
        std::vector<std::int32_t> unknownOf; // by cell of the coarsest level: its unknown, or -1
        std::vector<double> x;
    };
    static constexpr std::size_t kDirectUnknowns = 64;

    static void startFromMean(Level& level)
    {
        double sum = 0.0;
        std::int64_t known = 0;
        for (std::size_t k = 0; k < level.role.size(); ++k)
            if (level.role[k] == Role::Known) {
                sum += level.u[k];
                ++known;
            }
        const float mean = known > 0 ? static_cast<float>(sum / static_cast<double>(known)) : 0.0f;
        for (std::size_t k = 0; k < level.role.size(); ++k)
            if (level.role[k] == Role::Unknown)
                level.u[k] = mean;
    }

    void buildLevels(Pacer& pacer)
    {
        m_used = 1;
        m_unknowns.clear();
        for (;;) {
            const Level& fine = *m_levels[m_used - 1];
            std::int64_t unknown = 0;
            for (const Role role : fine.role)
                unknown += role == Role::Unknown;
            m_unknowns.push_back(static_cast<std::size_t>(unknown));
            pacer.step(static_cast<std::int64_t>(fine.role.size()) / 8);
            if (unknown <= kCoarsestUnknowns || fine.rows < 6 || fine.columns < 6)
                break;
            if (m_levels.size() == m_used)
                m_levels.push_back(std::make_unique<Level>());
            Level& coarse = *m_levels[m_used];
            coarse.reset((fine.rows + 1) / 2, (fine.columns + 1) / 2, fine.depth + 1, pacer);
            for (int y = 0; y < coarse.rows; ++y) {
                for (int x = 0; x < coarse.columns; ++x) {
                    coarse.role[coarse.index(y, x)] = fine.role[fine.index(2 * y, 2 * x)];
                    coarse.u[coarse.index(y, x)] = fine.u[fine.index(2 * y, 2 * x)];
                }
                pacer.step(coarse.columns);
            }
            ++m_used;
        }
        if (m_rows.size() < m_used) {
            m_rows.resize(m_used);
            m_scratch.resize(m_used);
        }
        for (std::size_t l = 0; l < m_used; ++l) {
            Level& level = *m_levels[l];
            FillPaced(level.rhs, level.u.size(), 0.0f, pacer);
            buildRows(level, m_unknowns[l], m_rows[l], pacer);
            if (l + 1 < m_used) {
                FillPaced(m_scratch[l].residual, level.u.size(), 0.0f, pacer);
                FillPaced(m_scratch[l].correction, level.u.size(), 0.0f, pacer);
                FillPaced(m_scratch[l].before, m_rows[l].cells.size(), 0.0f, pacer);
            }
        }
        factorCoarsest();
    }

    static const Weights& rowWeights(const Rows& rows, const Cell& cell)
    {
        return cell.special < 0 ? rows.standard : rows.specials[static_cast<std::size_t>(cell.special)];
    }

    // A coarsest level of few unknowns is solved exactly rather than swept out: its matrix is
    // factorised once a region (LU, rows pivoted), and each solve then costs about two sweeps.
    // Where the matrix is (nearly) singular, the sweeps remain.
    void factorCoarsest()
    {
        Direct& d = m_direct;
        const Level& level = *m_levels[m_used - 1];
        const Rows& rows = m_rows[m_used - 1];
        d.n = rows.cells.size() <= kDirectUnknowns ? rows.cells.size() : 0;
        if (d.n == 0)
            return;
        const std::size_t n = d.n;
        d.unknownOf.assign(level.u.size(), -1);
        for (std::size_t i = 0; i < n; ++i)
            d.unknownOf[static_cast<std::size_t>(rows.cells[i].self)] = static_cast<std::int32_t>(i);
        const std::array<std::ptrdiff_t, 12> offset = offsets(level);
        d.lu.assign(n * n, 0.0);
        for (std::size_t i = 0; i < n; ++i) {
            const Weights& weights = rowWeights(rows, rows.cells[i]);
            d.lu[i * n + i] = 1.0;
            for (std::size_t m = 0; m < 12; ++m) {
                const std::int32_t j = d.unknownOf[static_cast<std::size_t>(rows.cells[i].self + offset[m])];
                if (j >= 0)
                    d.lu[i * n + static_cast<std::size_t>(j)] -= weights.weight[m];
            }
        }
        d.pivot.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            std::size_t p = k;
            for (std::size_t r = k + 1; r < n; ++r)
                if (std::fabs(d.lu[r * n + k]) > std::fabs(d.lu[p * n + k]))
                    p = r;
            if (std::fabs(d.lu[p * n + k]) < 1e-9) {
                d.n = 0;
                return;
            }
            d.pivot[k] = p;
            if (p != k)
                std::swap_ranges(d.lu.begin() + static_cast<std::ptrdiff_t>(k * n),
                                 d.lu.begin() + static_cast<std::ptrdiff_t>(k * n + n),
                                 d.lu.begin() + static_cast<std::ptrdiff_t>(p * n));
            for (std::size_t r = k + 1; r < n; ++r) {
                const double factor = d.lu[r * n + k] /= d.lu[k * n + k];
                for (std::size_t c = k + 1; c < n; ++c)
                    d.lu[r * n + c] -= factor * d.lu[k * n + c];
            }
        }
    }

    // The coarsest level's unknowns from their known neighbours and right-hand side; false where
    // it is left to the sweeps.
    bool solveCoarsest()
    {
        Direct& d = m_direct;
        if (d.n == 0)
            return false;
        Level& level = *m_levels[m_used - 1];
        const Rows& rows = m_rows[m_used - 1];
        const std::size_t n = d.n;
        const std::array<std::ptrdiff_t, 12> offset = offsets(level);
        d.x.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const auto self = static_cast<std::size_t>(rows.cells[i].self);
            const Weights& weights = rowWeights(rows, rows.cells[i]);
            double b = static_cast<double>(level.rhs[self]) * weights.inverseDiagonal;
            for (std::size_t m = 0; m < 12; ++m) {
                const auto at = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(self) + offset[m]);
                if (d.unknownOf[at] < 0)
                    b += static_cast<double>(weights.weight[m]) * level.u[at];
            }
            d.x[i] = b;
        }
        for (std::size_t k = 0; k < n; ++k)
            std::swap(d.x[k], d.x[d.pivot[k]]);
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t c = 0; c < r; ++c)
                d.x[r] -= d.lu[r * n + c] * d.x[c];
        for (std::size_t r = n; r-- > 0;) {
            for (std::size_t c = r + 1; c < n; ++c)
                d.x[r] -= d.lu[r * n + c] * d.x[c];
            d.x[r] /= d.lu[r * n + r];
        }
        for (std::size_t i = 0; i < n; ++i)
            level.u[static_cast<std::size_t>(rows.cells[i].self)] = static_cast<float>(d.x[i]);
        return true;
    }

    // The coarse values at the fine unknowns, bilinearly from the coarse cells that have one,
    // written to `into` (the fine level's values as a first guess, or a correction).
    static constexpr std::array<float, 5> kInverse{0.0f, 1.0f, 0.5f, 1.0f / 3.0f, 0.25f};

    static void prolong(const Level& coarse, const Level& fine, std::vector<float>& into, Pacer& pacer)
    {
        for (int y = 0; y < fine.rows; ++y) {
            for (int x = 0; x < fine.columns; ++x)
                if (fine.role[fine.index(y, x)] == Role::Unknown)
                    prolongTo(coarse, y, x, into[fine.index(y, x)]);
            pacer.step(fine.columns);
        }
    }

    // The same for a correction, which only the unknowns with a row take part in.
    static void prolongCorrection(const Level& coarse, const Level& fine, const Rows& rows, std::vector<float>& into,
                                  Pacer& pacer)
    {
        forEachRow(rows, pacer, [&](std::int32_t self, const Weights&, bool) {
            const int y = self / fine.stride - kPad, x = self % fine.stride - kPad;
            prolongTo(coarse, y, x, into[static_cast<std::size_t>(self)]);
        });
    }

    static void prolongTo(const Level& coarse, int y, int x, float& value)
    {
        float sum = 0.0f, weight = 0.0f;
        for (const int cy : {y / 2, (y + 1) / 2})
            for (const int cx : {x / 2, (x + 1) / 2}) {
                if (cy >= coarse.rows || cx >= coarse.columns)
                    continue;
                const std::size_t m = coarse.index(cy, cx);
                if (coarse.role[m] == Role::Outside)
                    continue;
                sum += coarse.u[m];
                weight += 1.0f;
            }
        if (weight > 0.0f)
            value = sum * kInverse[static_cast<std::size_t>(weight)];
    }

    // The weights of an unknown whose neighbours are inside where `inside` says so: the minimiser
    // of bending energy (squared second differences along rows, columns and across cells) plus
    // tension (squared first differences) over the terms whose samples all lie inside, so that the
    // surface ends freely where the known data end. A coarse level weighs tension by its spacing
    // squared, so that it poses the same continuous problem. False where the unknown has no term.
    template <typename Inside>
    bool weightsOf(int depth, Inside inside, Weights& weights) const
    {
        const float h2 = static_cast<float>(1 << (2 * depth));
        const float bend = 1.0f - m_tension, stretch = m_tension * h2;
        float a[5][5] = {};
        const auto term = [&](float weight, std::initializer_list<std::array<int, 3>> points) {
            float mine = 0.0f;
            for (const auto& [dy, dx, coefficient] : points) {
                if (!inside(dy, dx))
                    return;
                if (dy == 0 && dx == 0)
                    mine = static_cast<float>(coefficient);
            }
            for (const auto& [dy, dx, coefficient] : points)
                a[dy + 2][dx + 2] += weight * mine * static_cast<float>(coefficient);
        };
        for (int c = -1; c <= 1; ++c) {
            term(bend, {{0, c - 1, 1}, {0, c, -2}, {0, c + 1, 1}});
            term(bend, {{c - 1, 0, 1}, {c, 0, -2}, {c + 1, 0, 1}});
        }
        for (int r0 = -1; r0 <= 0; ++r0)
            for (int c0 = -1; c0 <= 0; ++c0)
                term(2.0f * bend, {{r0, c0, 1}, {r0, c0 + 1, -1}, {r0 + 1, c0, -1}, {r0 + 1, c0 + 1, 1}});
        for (const auto& [dy, dx] : {std::pair{0, -1}, std::pair{0, 1}, std::pair{-1, 0}, std::pair{1, 0}})
            term(stretch, {{0, 0, 1}, {dy, dx, -1}});
        const float diagonal = a[2][2];
        if (diagonal <= 0.0f)
            return false;
        weights.inverseDiagonal = 1.0f / diagonal;
        weights.diagonal = diagonal;
        for (std::size_t m = 0; m < kStencil.size(); ++m)
            weights.weight[m] = -a[kStencil[m].first + 2][kStencil[m].second + 2] / diagonal;
        return true;
    }

    void buildRows(const Level& level, std::size_t unknowns, Rows& rows, Pacer& pacer) const
    {
        weightsOf(
            level.depth, [](int, int) { return true; }, rows.standard);
        rows.cells.clear();
        rows.cells.reserve(unknowns); // untouched until filled, row by row
        rows.specials.clear();
        const std::array<std::ptrdiff_t, 12> offset = offsets(level);
        for (int y = 0; y < level.rows; ++y) {
            for (int x = 0; x < level.columns; ++x) {
                const std::size_t k = level.index(y, x);
                if (level.role[k] != Role::Unknown)
                    continue;
                // Every term's samples lie among the twelve neighbours and the unknown itself.
                bool allInside = true;
                for (const std::ptrdiff_t o : offset)
                    allInside =
                        allInside
                        && level.role[static_cast<std::size_t>(static_cast<std::ptrdiff_t>(k) + o)] != Role::Outside;
                if (allInside) {
                    rows.cells.push_back({static_cast<std::int32_t>(k), -1});
                    continue;
                }
                Weights weights;
                const auto inside = [&](int dy, int dx) {
                    return level.role[static_cast<std::size_t>(static_cast<std::ptrdiff_t>(k) + dy * level.stride + dx)]
                           != Role::Outside;
                };
                if (!weightsOf(level.depth, inside, weights))
                    continue;
                rows.cells.push_back({static_cast<std::int32_t>(k), static_cast<std::int32_t>(rows.specials.size())});
                rows.specials.push_back(weights);
            }
            pacer.step(2 * level.columns);
        }
    }

    static std::array<std::ptrdiff_t, 12> offsets(const Level& level)
    {
        std::array<std::ptrdiff_t, 12> offset{};
        for (std::size_t m = 0; m < kStencil.size(); ++m)
            offset[m] = kStencil[m].first * level.stride + kStencil[m].second;
        return offset;
    }

    // Calls visit(index, cell, weights, standard) for every unknown in order, asking the pacer between
    // blocks of them.
    template <typename Visit>
    static void forEachCell(const Rows& rows, Pacer& pacer, Visit visit)
    {
        constexpr std::size_t kBlock = 4096;
        for (std::size_t begin = 0; begin < rows.cells.size(); begin += kBlock) {
            const std::size_t end = std::min(rows.cells.size(), begin + kBlock);
            for (std::size_t i = begin; i < end; ++i) {
                const Cell cell = rows.cells[i];
                if (cell.special < 0)
                    visit(i, cell.self, rows.standard, true);
                else
                    visit(i, cell.self, rows.specials[static_cast<std::size_t>(cell.special)], false);
            }
            pacer.step(static_cast<std::int64_t>(end - begin));
        }
    }

    // The same without the unknown's place in the order: visit(cell, weights, standard).
    template <typename Visit>
    static void forEachRow(const Rows& rows, Pacer& pacer, Visit visit)
    {
        forEachCell(rows, pacer, [&](std::size_t, auto self, const auto& weights, bool standard) {
            visit(self, weights, standard);
        });
    }

    // The weighted sum of an unknown's twelve neighbours. Standard weights are symmetric about the
    // unknown (one for the four two steps away, one for the four at the corners, one for the four
    // beside it): the neighbours are summed in groups.
    static float neighbourSum(const float* at, const std::array<std::ptrdiff_t, 12>& o, const Weights& row,
                              bool standard)
    {
        if (standard) {
            const float twoAway = (at[o[0]] + at[o[11]]) + (at[o[4]] + at[o[7]]);
            const float corners = (at[o[1]] + at[o[3]]) + (at[o[8]] + at[o[10]]);
            const float beside = (at[o[2]] + at[o[9]]) + (at[o[5]] + at[o[6]]);
            return row.weight[0] * twoAway + row.weight[1] * corners + row.weight[2] * beside;
        }
        float sum = 0.0f;
        for (std::size_t m = 0; m < 12; ++m)
            sum += row.weight[m] * at[o[m]];
        return sum;
    }

    // Over-relaxed Gauss-Seidel sweeps; the largest change of the last one. An unknown with every
    // neighbour inside has weights symmetric about it: its neighbours are summed in groups, and the
    // western one, just swept, is added last, so that one sample waits on the one before it for a
    // multiplication and an addition only.
    float smooth(std::size_t l, int sweeps, Pacer& pacer)
    {
        Level& level = *m_levels[l];
        const Rows& rows = m_rows[l];
        const std::array<std::ptrdiff_t, 12> o = offsets(level);
        float* const u = level.u.data();
        const float* const rhs = level.rhs.data();
        const Weights& standard = rows.standard;
        const float far = standard.weight[0], diagonal = standard.weight[1], near = standard.weight[2];
        const float inverseDiagonal = standard.inverseDiagonal, west = kOverRelaxation * standard.weight[5];
        float change = 0.0f;
        constexpr std::size_t kBlock = 4096;
        for (int sweep = 0; sweep < sweeps; ++sweep) {
            change = 0.0f;
            for (std::size_t begin = 0; begin < rows.cells.size(); begin += kBlock) {
                const std::size_t end = std::min(rows.cells.size(), begin + kBlock);
                for (std::size_t i = begin; i < end; ++i) {
                    const Cell cell = rows.cells[i];
                    float* const at = u + cell.self;
                    const float old = *at;
                    if (cell.special < 0) {
                        const float twoAway = (at[o[0]] + at[o[11]]) + (at[o[4]] + at[o[7]]);
                        const float corners = (at[o[1]] + at[o[3]]) + (at[o[8]] + at[o[10]]);
                        const float beside = (at[o[2]] + at[o[9]]) + at[o[6]];
                        const float rest =
                            rhs[cell.self] * inverseDiagonal + far * twoAway + diagonal * corners + near * beside;
                        *at = old + kOverRelaxation * (rest - old) + west * at[o[5]];
                    } else {
                        const Weights& row = rows.specials[static_cast<std::size_t>(cell.special)];
                        float target = rhs[cell.self] * row.inverseDiagonal;
                        for (std::size_t m = 0; m < 12; ++m)
                            target += row.weight[m] * at[o[m]];
                        *at = old + kOverRelaxation * (target - old);
                    }
                    change = std::max(change, std::fabs(*at - old));
                }
                pacer.step(static_cast<std::int64_t>(end - begin));
            }
        }
        return change;
    }

    // Sweeps on the coarsest level until what is left of the error is small: the sweeps shrink
    // it by a rate each, so that about change * rate / (1 - rate) of it remains.
    void smoothOut(std::size_t l, Pacer& pacer)
    {
        float before = smooth(l, kRateSweeps, pacer);
        for (int sweep = kRateSweeps; sweep < kMaxSweepsCoarsest; sweep += kRateSweeps) {
            const float change = smooth(l, kRateSweeps, pacer);
            const float rate = before > 0.0f ? std::min(std::pow(change / before, 1.0f / kRateSweeps), 0.999f) : 0.0f;
            if (change * rate / (1.0f - rate) < kConvergedCoarsest)
                return;
            before = change;
        }
    }

    // One V-cycle of corrections from level l down; the largest change it made on level l.
    float vCycle(std::size_t l, Pacer& pacer)
    {
        Level& level = *m_levels[l];
        if (l + 1 == m_used) {
            if (!solveCoarsest())
                smoothOut(l, pacer);
            return 0.0f;
        }
        const Rows& rows = m_rows[l];
        Scratch& scratch = m_scratch[l];
        for (std::size_t i = 0; i < rows.cells.size(); ++i)
            scratch.before[i] = level.u[static_cast<std::size_t>(rows.cells[i].self)];
        smooth(l, kSmoothing, pacer);
        // The residual, restricted by full weighting to the coarse unknowns. The coarse problem
        // is four times the fine one's energy (see weightsOf), hence the factor.
        const std::array<std::ptrdiff_t, 12> offset = offsets(level);
        // Both are zero outside the unknowns from buildLevels on: only the unknowns are written.
        std::vector<float>& residual = scratch.residual;
        forEachRow(rows, pacer, [&](std::int32_t self, const Weights& row, bool standard) {
            const float* at = level.u.data() + self;
            const float target = level.rhs[static_cast<std::size_t>(self)] * row.inverseDiagonal
                                 + neighbourSum(at, offset, row, standard);
            residual[static_cast<std::size_t>(self)] = (target - *at) * row.diagonal;
        });
        Level& coarse = *m_levels[l + 1];
        std::fill(coarse.u.begin(), coarse.u.end(), 0.0f);
        std::fill(coarse.rhs.begin(), coarse.rhs.end(), 0.0f);
        for (int y = 0; y < coarse.rows; ++y) {
            for (int x = 0; x < coarse.columns; ++x) {
                const std::size_t m = coarse.index(y, x);
                if (coarse.role[m] != Role::Unknown)
                    continue;
                float sum = 0.0f;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        sum += (dy ? 0.5f : 1.0f) * (dx ? 0.5f : 1.0f)
                               * residual[static_cast<std::size_t>(
                                   static_cast<std::ptrdiff_t>(level.index(2 * y, 2 * x)) + dy * level.stride + dx)];
                coarse.rhs[m] = 4.0f * sum;
            }
            pacer.step(coarse.columns);
        }
        vCycle(l + 1, pacer);
        // The correction, taken as far along as lowers the energy most: the coarse grid sees the
        // rim of a region only at every second sample and would overshoot there.
        std::vector<float>& correction = scratch.correction;
        prolongCorrection(coarse, level, rows, correction, pacer);
        double along = 0.0, curvature = 0.0;
        forEachRow(rows, pacer, [&](std::int32_t self, const Weights& row, bool standard) {
            const float* at = correction.data() + self;
            const double applied = (*at - neighbourSum(at, offset, row, standard)) * row.diagonal; // (A e) here
            along += static_cast<double>(*at) * residual[static_cast<std::size_t>(self)];
            curvature += static_cast<double>(*at) * applied;
        });
        if (curvature > 0.0) {
            const auto step = static_cast<float>(along / curvature);
            for (const Cell& cell : rows.cells)
                level.u[static_cast<std::size_t>(cell.self)] += step * correction[static_cast<std::size_t>(cell.self)];
        }
        smooth(l, kSmoothing, pacer);
        float change = 0.0f;
        for (std::size_t i = 0; i < rows.cells.size(); ++i)
            change =
                std::max(change, std::fabs(level.u[static_cast<std::size_t>(rows.cells[i].self)] - scratch.before[i]));
        pacer.step(static_cast<std::int64_t>(rows.cells.size()));
        return change;
    }

    const float m_tension;
    std::vector<std::unique_ptr<Level>> m_levels; // the finest first; the first m_used are this region's
    std::size_t m_used = 0;
    std::vector<std::size_t> m_unknowns; // by level
    std::vector<Rows> m_rows;            // by level
    std::vector<Scratch> m_scratch;
    Direct m_direct;
    Krylov m_krylov;
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

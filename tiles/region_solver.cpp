#include "tiles/internal/region_solver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <utility>

namespace hgt {

namespace {

constexpr int kPad = Level::kPad;
constexpr float kOverRelaxation = 1.5f;
constexpr int kSmoothing = 2; // sweeps before and after each coarse correction
constexpr int kMaxCycles = 10;
// The coarsest grid is cheap and sets the shape of everything above it: solved out fully.
constexpr float kConvergedCoarsest = 0.005f;
constexpr int kMaxSweepsCoarsest = 4000;
constexpr int kRateSweeps = 4;
// A grid with no more unknowns than this is the coarsest: solved directly (see factorCoarsest).
constexpr std::int64_t kCoarsestUnknowns = 48;

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

// A Gauss-Seidel equation's weights: the unknown's value from its twelve neighbours within two
// samples, plus its share of the right-hand side.
struct Weights {
    float weight[12];
    float inverseDiagonal, diagonal;
};

constexpr std::array<std::pair<int, int>, 12> kStencil{
    {{-2, 0}, {-1, -1}, {-1, 0}, {-1, 1}, {0, -2}, {0, -1}, {0, 1}, {0, 2}, {1, -1}, {1, 0}, {1, 1}, {2, 0}}};

// The stencil's neighbours as steps in a level's cell array.
using Offsets = std::array<std::ptrdiff_t, 12>;

// An unknown: its cell, and its weights when they differ from those of an unknown with every
// neighbour inside (most unknowns, whose weights then stay in registers).
struct Unknown {
    std::int32_t cell;
    std::int32_t special; // index into Equations::specials, or -1
};

// A level's equations, one per unknown.
struct Equations {
    Weights standard{};
    std::vector<Unknown> unknowns; // in the grid's order
    std::vector<Weights> specials;
};

// The largest change of a V-cycle that ends the solve.
bool Converged(float change)
{
    return change < RegionSolver::kConverged;
}

} // namespace

void Level::reset(int rows_, int columns_, int depth_, Pacer& pacer)
{
    rows = rows_, columns = columns_, stride = columns_ + 2 * kPad, depth = depth_;
    const auto cells = static_cast<std::size_t>(rows_ + 2 * kPad) * static_cast<std::size_t>(stride);
    FillPaced(role, cells, Role::Outside, pacer);
    FillPaced(u, cells, 0.0f, pacer);
}

// Multigrid over a region's box: each coarser level takes every second row and column. The first
// guess comes from the coarse levels solving the whole problem (coarse to fine); V-cycles of
// corrections then remove what smoothing alone would take hundreds of sweeps for.
class RegionSolver::Multigrid {
public:
    explicit Multigrid(float tension) : m_tension(tension) {}

    Level& finest(int rows, int columns, Pacer& pacer)
    {
        if (m_levels.empty())
            m_levels.push_back(std::make_unique<Level>());
        m_levels[0]->reset(rows, columns, 0, pacer);
        return *m_levels[0];
    }

    Outcome solve(Pacer& pacer)
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
            else
                solveCoarsest(l, pacer);
        }
        // The coarse levels now carry corrections: zero at the known samples.
        if (last > 0)
            return cycles(pacer);
        return {};
    }

private:
    struct Krylov {
        std::vector<float> step, residual, appliedTrial, appliedStep; // by unknown of the finest level
    };
    // What the two directions of a cycle's step give against each other and the residual: trial
    // (this cycle's change) and step (the step before), A the operator, r the residual.
    struct Products {
        double tt = 0.0, ts = 0.0, ss = 0.0, tr = 0.0, sr = 0.0; // tAt, tAs, sAs, t.r, s.r
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

    // The V-cycles on the finest level, each taken only as a direction: the step taken is the one
    // that lowers the energy most within it and the step before. Alone, a large region's cycles
    // change it by metres still after a dozen (the coarse grids miss its shape near the rim);
    // the step before carries on what they keep undoing.
    Outcome cycles(Pacer& pacer)
    {
        startSteps();
        Outcome outcome;
        for (int cycle = 0; cycle < kMaxCycles; ++cycle) {
            const bool first = cycle == 0;
            if (first)
                finestResidual(pacer);
            vCycle(0, pacer);
            takeCycleAsTrial(pacer);
            const Products products = productsOfTrial(pacer);
            outcome = {cycle + 1, 0.0f};
            if (products.tt <= 0.0)
                return outcome;
            outcome.change = takeStep(products, first, pacer);
            if (Converged(outcome.change))
                return outcome;
        }
        return outcome;
    }

    void startSteps()
    {
        Krylov& k = m_krylov;
        const std::size_t n = m_equations[0].unknowns.size();
        k.step.assign(n, 0.0f);
        k.residual.resize(n);
        k.appliedTrial.resize(n);
        k.appliedStep.assign(n, 0.0f);
    }

    // The finest level's residual by unknown, kept up to date by the steps from then on.
    void finestResidual(Pacer& pacer)
    {
        const Level& level = *m_levels[0];
        const Offsets offset = offsets(level);
        const float* const u = level.u.data();
        forEachUnknown(
            m_equations[0], pacer, [&](std::size_t i, std::int32_t cell, const Weights& weights, bool standard) {
                m_krylov.residual[i] =
                    residualAt(u + cell, level.rhs[static_cast<std::size_t>(cell)], offset, weights, standard);
            });
    }

    // A cycle's change goes where its correction went (zero outside the unknowns, where the
    // operator reads it too); its values before, where the cycle kept them.
    void takeCycleAsTrial(Pacer& pacer)
    {
        const Equations& equations = m_equations[0];
        std::vector<float>& trial = m_scratch[0].correction;
        const std::vector<float>& start = m_scratch[0].before;
        float* const u = m_levels[0]->u.data();
        const std::size_t n = equations.unknowns.size();
        for (std::size_t i = 0; i < n; ++i) {
            const auto cell = static_cast<std::size_t>(equations.unknowns[i].cell);
            trial[cell] = u[cell] - start[i];
            u[cell] = start[i];
        }
        pacer.step(static_cast<std::int64_t>(n));
    }

    Products productsOfTrial(Pacer& pacer)
    {
        Krylov& k = m_krylov;
        const Offsets offset = offsets(*m_levels[0]);
        const std::vector<float>& trial = m_scratch[0].correction;
        Products p;
        forEachUnknown(m_equations[0], pacer,
                       [&](std::size_t i, std::int32_t cell, const Weights& weights, bool standard) {
                           const float* at = trial.data() + cell;
                           const float applied = appliedAt(at, offset, weights, standard);
                           k.appliedTrial[i] = applied;
                           p.tt += static_cast<double>(*at) * applied;
                           p.ts += static_cast<double>(k.step[i]) * applied;
                           p.ss += static_cast<double>(k.step[i]) * k.appliedStep[i];
                           p.tr += static_cast<double>(*at) * k.residual[i];
                           p.sr += static_cast<double>(k.step[i]) * k.residual[i];
                       });
        return p;
    }

    // Steps alpha * trial + beta * step, the pair that lowers the energy most; the first cycle has
    // no step before and takes the trial alone. The largest change it made.
    float takeStep(const Products& p, bool first, Pacer& pacer)
    {
        double alpha = p.tr / p.tt, beta = 0.0;
        const double determinant = p.tt * p.ss - p.ts * p.ts;
        if (!first && determinant > 1e-6 * p.tt * p.ss) {
            alpha = (p.tr * p.ss - p.sr * p.ts) / determinant;
            beta = (p.sr * p.tt - p.tr * p.ts) / determinant;
        }
        Krylov& k = m_krylov;
        const Equations& equations = m_equations[0];
        const std::vector<float>& trial = m_scratch[0].correction;
        float* const u = m_levels[0]->u.data();
        const std::size_t n = equations.unknowns.size();
        const auto a = static_cast<float>(alpha), b = static_cast<float>(beta);
        float change = 0.0f;
        for (std::size_t i = 0; i < n; ++i) {
            const auto cell = static_cast<std::size_t>(equations.unknowns[i].cell);
            const float step = a * trial[cell] + b * k.step[i];
            k.step[i] = step;
            k.appliedStep[i] = a * k.appliedTrial[i] + b * k.appliedStep[i];
            k.residual[i] -= k.appliedStep[i];
            u[cell] += step;
            change = std::max(change, std::fabs(step));
        }
        pacer.step(static_cast<std::int64_t>(n));
        return change;
    }

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

    // The coarser levels, each taking every second row and column of the one above, until one has
    // few unknowns or is narrow; then every level's equations and work vectors.
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
            coarsen(fine, *m_levels[m_used], pacer);
            ++m_used;
        }
        if (m_equations.size() < m_used) {
            m_equations.resize(m_used);
            m_scratch.resize(m_used);
        }
        for (std::size_t l = 0; l < m_used; ++l) {
            Level& level = *m_levels[l];
            FillPaced(level.rhs, level.u.size(), 0.0f, pacer);
            buildEquations(level, m_unknowns[l], m_equations[l], pacer);
            if (l + 1 < m_used) {
                FillPaced(m_scratch[l].residual, level.u.size(), 0.0f, pacer);
                FillPaced(m_scratch[l].correction, level.u.size(), 0.0f, pacer);
                FillPaced(m_scratch[l].before, m_equations[l].unknowns.size(), 0.0f, pacer);
            }
        }
        factorCoarsest();
    }

    static void coarsen(const Level& fine, Level& coarse, Pacer& pacer)
    {
        coarse.reset((fine.rows + 1) / 2, (fine.columns + 1) / 2, fine.depth + 1, pacer);
        for (int y = 0; y < coarse.rows; ++y) {
            for (int x = 0; x < coarse.columns; ++x) {
                coarse.role[coarse.index(y, x)] = fine.role[fine.index(2 * y, 2 * x)];
                coarse.u[coarse.index(y, x)] = fine.u[fine.index(2 * y, 2 * x)];
            }
            pacer.step(coarse.columns);
        }
    }

    static const Weights& weightsAt(const Equations& equations, const Unknown& unknown)
    {
        return unknown.special < 0 ? equations.standard : equations.specials[static_cast<std::size_t>(unknown.special)];
    }

    // A coarsest level of few unknowns is solved exactly rather than swept out: its matrix is
    // factorised once a region (LU, rows pivoted), and each solve then costs about two sweeps.
    // Where the matrix is (nearly) singular, the sweeps remain.
    void factorCoarsest()
    {
        Direct& d = m_direct;
        const Equations& equations = m_equations[m_used - 1];
        d.n = equations.unknowns.size() <= kDirectUnknowns ? equations.unknowns.size() : 0;
        if (d.n == 0)
            return;
        assembleCoarsest();
        if (!factorInPlace(d.lu, d.n, d.pivot))
            d.n = 0;
    }

    // The coarsest level's matrix: each unknown's equation, its own value less the weighted
    // unknowns around it.
    void assembleCoarsest()
    {
        Direct& d = m_direct;
        const Level& level = *m_levels[m_used - 1];
        const Equations& equations = m_equations[m_used - 1];
        const std::size_t n = d.n;
        d.unknownOf.assign(level.u.size(), -1);
        for (std::size_t i = 0; i < n; ++i)
            d.unknownOf[static_cast<std::size_t>(equations.unknowns[i].cell)] = static_cast<std::int32_t>(i);
        const Offsets offset = offsets(level);
        d.lu.assign(n * n, 0.0);
        for (std::size_t i = 0; i < n; ++i) {
            const Weights& weights = weightsAt(equations, equations.unknowns[i]);
            d.lu[i * n + i] = 1.0;
            for (std::size_t m = 0; m < 12; ++m) {
                const std::int32_t j = d.unknownOf[static_cast<std::size_t>(equations.unknowns[i].cell + offset[m])];
                if (j >= 0)
                    d.lu[i * n + static_cast<std::size_t>(j)] -= weights.weight[m];
            }
        }
    }

    // LU factors of the n x n matrix `lu` in its place, rows pivoted; false where a pivot is
    // (nearly) zero.
    static bool factorInPlace(std::vector<double>& lu, std::size_t n, std::vector<std::size_t>& pivot)
    {
        pivot.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            std::size_t p = k;
            for (std::size_t r = k + 1; r < n; ++r)
                if (std::fabs(lu[r * n + k]) > std::fabs(lu[p * n + k]))
                    p = r;
            if (std::fabs(lu[p * n + k]) < 1e-9)
                return false;
            pivot[k] = p;
            if (p != k)
                std::swap_ranges(lu.begin() + static_cast<std::ptrdiff_t>(k * n),
                                 lu.begin() + static_cast<std::ptrdiff_t>(k * n + n),
                                 lu.begin() + static_cast<std::ptrdiff_t>(p * n));
            for (std::size_t r = k + 1; r < n; ++r) {
                const double factor = lu[r * n + k] /= lu[k * n + k];
                for (std::size_t c = k + 1; c < n; ++c)
                    lu[r * n + c] -= factor * lu[k * n + c];
            }
        }
        return true;
    }

    // The coarse solve: directly where the coarsest level was factorised, else by sweeps.
    void solveCoarsest(std::size_t l, Pacer& pacer)
    {
        if (!solveDirect())
            smoothOut(l, pacer);
    }

    // The coarsest level's unknowns from their known neighbours and right-hand side; false where
    // it is left to the sweeps.
    bool solveDirect()
    {
        Direct& d = m_direct;
        if (d.n == 0)
            return false;
        Level& level = *m_levels[m_used - 1];
        const Equations& equations = m_equations[m_used - 1];
        coarsestRightHandSide();
        substitute(d.lu, d.n, d.pivot, d.x);
        for (std::size_t i = 0; i < d.n; ++i)
            level.u[static_cast<std::size_t>(equations.unknowns[i].cell)] = static_cast<float>(d.x[i]);
        return true;
    }

    // The right-hand side of the coarsest level's matrix: each unknown's share of its level's
    // right-hand side and the weighted known values around it.
    void coarsestRightHandSide()
    {
        Direct& d = m_direct;
        const Level& level = *m_levels[m_used - 1];
        const Equations& equations = m_equations[m_used - 1];
        const Offsets offset = offsets(level);
        d.x.resize(d.n);
        for (std::size_t i = 0; i < d.n; ++i) {
            const auto cell = static_cast<std::size_t>(equations.unknowns[i].cell);
            const Weights& weights = weightsAt(equations, equations.unknowns[i]);
            double b = static_cast<double>(level.rhs[cell]) * weights.inverseDiagonal;
            for (std::size_t m = 0; m < 12; ++m) {
                const auto at = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(cell) + offset[m]);
                if (d.unknownOf[at] < 0)
                    b += static_cast<double>(weights.weight[m]) * level.u[at];
            }
            d.x[i] = b;
        }
    }

    // Solves with the factors of factorInPlace: `x`, the right-hand side, becomes the solution.
    static void substitute(const std::vector<double>& lu, std::size_t n, const std::vector<std::size_t>& pivot,
                           std::vector<double>& x)
    {
        for (std::size_t k = 0; k < n; ++k)
            std::swap(x[k], x[pivot[k]]);
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t c = 0; c < r; ++c)
                x[r] -= lu[r * n + c] * x[c];
        for (std::size_t r = n; r-- > 0;) {
            for (std::size_t c = r + 1; c < n; ++c)
                x[r] -= lu[r * n + c] * x[c];
            x[r] /= lu[r * n + r];
        }
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

    // The same for a correction, which only the unknowns with an equation take part in.
    static void prolongCorrection(const Level& coarse, const Level& fine, const Equations& equations,
                                  std::vector<float>& into, Pacer& pacer)
    {
        forEachUnknown(equations, pacer, [&](std::size_t, std::int32_t cell, const Weights&, bool) {
            const int y = cell / fine.stride - kPad, x = cell % fine.stride - kPad;
            prolongTo(coarse, y, x, into[static_cast<std::size_t>(cell)]);
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

    void buildEquations(const Level& level, std::size_t unknowns, Equations& equations, Pacer& pacer) const
    {
        weightsOf(
            level.depth, [](int, int) { return true; }, equations.standard);
        equations.unknowns.clear();
        equations.unknowns.reserve(unknowns); // untouched until filled, row by row
        equations.specials.clear();
        const Offsets offset = offsets(level);
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
                    equations.unknowns.push_back({static_cast<std::int32_t>(k), -1});
                    continue;
                }
                Weights weights;
                const auto inside = [&](int dy, int dx) {
                    return level.role[static_cast<std::size_t>(static_cast<std::ptrdiff_t>(k) + dy * level.stride + dx)]
                           != Role::Outside;
                };
                if (!weightsOf(level.depth, inside, weights))
                    continue;
                equations.unknowns.push_back(
                    {static_cast<std::int32_t>(k), static_cast<std::int32_t>(equations.specials.size())});
                equations.specials.push_back(weights);
            }
            pacer.step(2 * level.columns);
        }
    }

    static Offsets offsets(const Level& level)
    {
        Offsets offset{};
        for (std::size_t m = 0; m < kStencil.size(); ++m)
            offset[m] = kStencil[m].first * level.stride + kStencil[m].second;
        return offset;
    }

    // Calls visit(index, cell, weights, standard) for every unknown in order, asking the pacer
    // between blocks of them.
    template <typename Visit>
    static void forEachUnknown(const Equations& equations, Pacer& pacer, Visit visit)
    {
        constexpr std::size_t kBlock = 4096;
        for (std::size_t begin = 0; begin < equations.unknowns.size(); begin += kBlock) {
            const std::size_t end = std::min(equations.unknowns.size(), begin + kBlock);
            for (std::size_t i = begin; i < end; ++i) {
                const Unknown unknown = equations.unknowns[i];
                if (unknown.special < 0)
                    visit(i, unknown.cell, equations.standard, true);
                else
                    visit(i, unknown.cell, equations.specials[static_cast<std::size_t>(unknown.special)], false);
            }
            pacer.step(static_cast<std::int64_t>(end - begin));
        }
    }

    // The weighted sum of an unknown's twelve neighbours. Standard weights are symmetric about the
    // unknown (one for the four two steps away, one for the four at the corners, one for the four
    // beside it): the neighbours are summed in groups.
    static float neighbourSum(const float* at, const Offsets& o, const Weights& weights, bool standard)
    {
        if (standard) {
            const float twoAway = (at[o[0]] + at[o[11]]) + (at[o[4]] + at[o[7]]);
            const float corners = (at[o[1]] + at[o[3]]) + (at[o[8]] + at[o[10]]);
            const float beside = (at[o[2]] + at[o[9]]) + (at[o[5]] + at[o[6]]);
            return weights.weight[0] * twoAway + weights.weight[1] * corners + weights.weight[2] * beside;
        }
        float sum = 0.0f;
        for (std::size_t m = 0; m < 12; ++m)
            sum += weights.weight[m] * at[o[m]];
        return sum;
    }

    // The residual b - A u of the unknown at `at`, whose right-hand side is `rhs`.
    static float residualAt(const float* at, float rhs, const Offsets& o, const Weights& weights, bool standard)
    {
        const float target = rhs * weights.inverseDiagonal + neighbourSum(at, o, weights, standard);
        return (target - *at) * weights.diagonal;
    }

    // The operator applied to the values around `at`: A e at that unknown.
    static float appliedAt(const float* at, const Offsets& o, const Weights& weights, bool standard)
    {
        return (*at - neighbourSum(at, o, weights, standard)) * weights.diagonal;
    }

    // Over-relaxed Gauss-Seidel sweeps; the largest change of the last one. An unknown with every
    // neighbour inside has weights symmetric about it: its neighbours are summed in groups, and the
    // western one, just swept, is added last, so that one sample waits on the one before it for a
    // multiplication and an addition only.
    float smooth(std::size_t l, int sweeps, Pacer& pacer)
    {
        Level& level = *m_levels[l];
        const Equations& equations = m_equations[l];
        const Offsets o = offsets(level);
        float* const u = level.u.data();
        const float* const rhs = level.rhs.data();
        const Weights& standard = equations.standard;
        const float far = standard.weight[0], diagonal = standard.weight[1], near = standard.weight[2];
        const float inverseDiagonal = standard.inverseDiagonal, west = kOverRelaxation * standard.weight[5];
        float change = 0.0f;
        constexpr std::size_t kBlock = 4096;
        for (int sweep = 0; sweep < sweeps; ++sweep) {
            change = 0.0f;
            for (std::size_t begin = 0; begin < equations.unknowns.size(); begin += kBlock) {
                const std::size_t end = std::min(equations.unknowns.size(), begin + kBlock);
                for (std::size_t i = begin; i < end; ++i) {
                    const Unknown unknown = equations.unknowns[i];
                    float* const at = u + unknown.cell;
                    const float old = *at;
                    if (unknown.special < 0) {
                        const float twoAway = (at[o[0]] + at[o[11]]) + (at[o[4]] + at[o[7]]);
                        const float corners = (at[o[1]] + at[o[3]]) + (at[o[8]] + at[o[10]]);
                        const float beside = (at[o[2]] + at[o[9]]) + at[o[6]];
                        const float rest =
                            rhs[unknown.cell] * inverseDiagonal + far * twoAway + diagonal * corners + near * beside;
                        *at = old + kOverRelaxation * (rest - old) + west * at[o[5]];
                    } else {
                        const Weights& weights = equations.specials[static_cast<std::size_t>(unknown.special)];
                        float target = rhs[unknown.cell] * weights.inverseDiagonal;
                        for (std::size_t m = 0; m < 12; ++m)
                            target += weights.weight[m] * at[o[m]];
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
        if (l + 1 == m_used) {
            solveCoarsest(l, pacer);
            return 0.0f;
        }
        keepValues(l);
        smooth(l, kSmoothing, pacer);
        computeResidual(l, pacer);
        restrictResidual(l, pacer);
        vCycle(l + 1, pacer);
        prolongCorrection(*m_levels[l + 1], *m_levels[l], m_equations[l], m_scratch[l].correction, pacer);
        correct(l, pacer);
        smooth(l, kSmoothing, pacer);
        return largestChange(l, pacer);
    }

    // The unknowns' values before a cycle, for its change.
    void keepValues(std::size_t l)
    {
        const Level& level = *m_levels[l];
        const Equations& equations = m_equations[l];
        for (std::size_t i = 0; i < equations.unknowns.size(); ++i)
            m_scratch[l].before[i] = level.u[static_cast<std::size_t>(equations.unknowns[i].cell)];
    }

    // The residual at level l's unknowns. It is zero elsewhere from buildLevels on: only the
    // unknowns are written.
    void computeResidual(std::size_t l, Pacer& pacer)
    {
        const Level& level = *m_levels[l];
        const Offsets offset = offsets(level);
        std::vector<float>& residual = m_scratch[l].residual;
        forEachUnknown(
            m_equations[l], pacer, [&](std::size_t, std::int32_t cell, const Weights& weights, bool standard) {
                residual[static_cast<std::size_t>(cell)] = residualAt(
                    level.u.data() + cell, level.rhs[static_cast<std::size_t>(cell)], offset, weights, standard);
            });
    }

    // The residual of level l, restricted by full weighting to the coarse unknowns as the
    // right-hand side of their correction, which starts from zero. The coarse problem is four times
    // the fine one's energy (see weightsOf), hence the factor.
    void restrictResidual(std::size_t l, Pacer& pacer)
    {
        const Level& level = *m_levels[l];
        Level& coarse = *m_levels[l + 1];
        const std::vector<float>& residual = m_scratch[l].residual;
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
    }

    // Adds the prolonged correction, taken as far along as lowers the energy most: the coarse grid
    // sees the rim of a region only at every second sample and would overshoot there.
    void correct(std::size_t l, Pacer& pacer)
    {
        const std::optional<float> step = lineSearch(l, pacer);
        if (!step)
            return;
        Level& level = *m_levels[l];
        const std::vector<float>& correction = m_scratch[l].correction;
        for (const Unknown& unknown : m_equations[l].unknowns)
            level.u[static_cast<std::size_t>(unknown.cell)] +=
                *step * correction[static_cast<std::size_t>(unknown.cell)];
    }

    // The multiple of the correction e that lowers the energy most, e.r / e.Ae; none where the
    // correction does not curve the energy upwards.
    std::optional<float> lineSearch(std::size_t l, Pacer& pacer)
    {
        const Offsets offset = offsets(*m_levels[l]);
        const std::vector<float>& correction = m_scratch[l].correction;
        const std::vector<float>& residual = m_scratch[l].residual;
        double along = 0.0, curvature = 0.0;
        forEachUnknown(m_equations[l], pacer,
                       [&](std::size_t, std::int32_t cell, const Weights& weights, bool standard) {
                           const float* at = correction.data() + cell;
                           const double applied = appliedAt(at, offset, weights, standard);
                           along += static_cast<double>(*at) * residual[static_cast<std::size_t>(cell)];
                           curvature += static_cast<double>(*at) * applied;
                       });
        if (curvature > 0.0)
            return static_cast<float>(along / curvature);
        return std::nullopt;
    }

    // The largest change of level l's unknowns since keepValues.
    float largestChange(std::size_t l, Pacer& pacer)
    {
        const Level& level = *m_levels[l];
        const Equations& equations = m_equations[l];
        float change = 0.0f;
        for (std::size_t i = 0; i < equations.unknowns.size(); ++i)
            change = std::max(change, std::fabs(level.u[static_cast<std::size_t>(equations.unknowns[i].cell)]
                                                - m_scratch[l].before[i]));
        pacer.step(static_cast<std::int64_t>(equations.unknowns.size()));
        return change;
    }

    const float m_tension;
    std::vector<std::unique_ptr<Level>> m_levels; // the finest first; the first m_used are this region's
    std::size_t m_used = 0;
    std::vector<std::size_t> m_unknowns; // by level
    std::vector<Equations> m_equations;  // by level
    std::vector<Scratch> m_scratch;      // by level but the coarsest
    Direct m_direct;
    Krylov m_krylov;
};

RegionSolver::RegionSolver(float tension) : m_multigrid(std::make_unique<Multigrid>(tension)) {}
RegionSolver::RegionSolver(RegionSolver&&) noexcept = default;
RegionSolver& RegionSolver::operator=(RegionSolver&&) noexcept = default;
RegionSolver::~RegionSolver() = default;

Level& RegionSolver::finest(int rows, int columns, Pacer& pacer)
{
    return m_multigrid->finest(rows, columns, pacer);
}

RegionSolver::Outcome RegionSolver::solve(Pacer& pacer)
{
    return m_multigrid->solve(pacer);
}

} // namespace hgt

#include "tiles/internal/void_interpolation.h"

#include "tiles/internal/delta_fill.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <utility>

namespace hgt {

namespace {

// Known samples around each region taken into its problem, beyond its bounding box.
constexpr int kMargin = 2;
// The bending stencil reaches two samples; the grids carry that much padding of outside cells.
constexpr int kPad = 2;
constexpr float kOverRelaxation = 1.5f;
constexpr int kSmoothing = 3;       // sweeps before and after each coarse correction
constexpr float kConverged = 0.05f; // metres a V-cycle changes at most when done
constexpr int kMaxCycles = 12;
// The coarsest grid is cheap and sets the shape of everything above it: solved out fully.
constexpr float kConvergedCoarsest = 0.005f;
constexpr int kMaxSweepsCoarsest = 4000;
constexpr int kRateSweeps = 4;
// A grid with no more unknowns than this is the coarsest: swept from the mean of its known samples.
constexpr std::int64_t kCoarsestUnknowns = 48;

enum class Role : std::uint8_t { Outside, Known, Unknown };

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

    void load(const Neighbours& neighbours)
    {
        for (int pr = 0; pr < 3; ++pr)
            for (int pc = 0; pc < 3; ++pc) {
                if (pr == 1 && pc == 1)
                    continue;
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
RowBits Dilate(RowBits bits, int distance)
{
    const std::int64_t side = bits.side(), words = bits.wordsPerRow();
    const std::uint64_t lastWord = side % 64 ? (std::uint64_t{1} << (side % 64)) - 1 : ~std::uint64_t{0};
    std::vector<std::uint64_t> row(static_cast<std::size_t>(words));
    for (int reach = 0; reach < distance;) {
        const int s = std::min(reach + 1, distance - reach);
        for (std::int64_t r = 0; r < side; ++r) {
            SpreadRow(bits.row(r), row.data(), words, s);
            row[static_cast<std::size_t>(words - 1)] &= lastWord;
            std::copy(row.begin(), row.end(), bits.row(r));
        }
        const RowBits across = bits;
        for (std::int64_t r = 0; r < side; ++r) {
            std::uint64_t* out = bits.row(r);
            for (const std::int64_t from : {r - s, r + s}) {
                if (from < 0 || from >= side)
                    continue;
                const std::uint64_t* in = across.row(from);
                for (std::int64_t w = 0; w < words; ++w)
                    out[w] |= in[w];
            }
        }
        reach += s;
    }
    return bits;
}

// One level of a region's problem: the cells of its box, padded by outside cells, and on coarser
// levels the right-hand side of the correction they solve for.
struct Level {
    int rows = 0, columns = 0, stride = 0, depth = 0;
    std::vector<Role> role;
    std::vector<float> u;
    std::vector<float> rhs;

    Level(int rows_, int columns_, int depth_)
        : rows(rows_), columns(columns_), stride(columns_ + 2 * kPad), depth(depth_),
          role(static_cast<std::size_t>((rows_ + 2 * kPad) * (columns_ + 2 * kPad)), Role::Outside),
          u(role.size(), 0.0f)
    {}
    std::size_t index(int y, int x) const { return static_cast<std::size_t>((y + kPad) * stride + x + kPad); }
};

// A Gauss-Seidel row: the unknown's value from its twelve neighbours within two samples, plus its
// share of the right-hand side.
struct Row {
    std::int32_t self;
    float weight[12];
    float inverseDiagonal;
};

constexpr std::array<std::pair<int, int>, 12> kStencil{
    {{-2, 0}, {-1, -1}, {-1, 0}, {-1, 1}, {0, -2}, {0, -1}, {0, 1}, {0, 2}, {1, -1}, {1, 0}, {1, 1}, {2, 0}}};

// Multigrid over a region's box: each coarser level takes every second row and column. The first
// guess comes from the coarse levels solving the whole problem (coarse to fine); V-cycles of
// corrections then remove what smoothing alone would take hundreds of sweeps for.
class RegionSolver {
public:
    explicit RegionSolver(float tension) : m_tension(tension) {}

    void solve(Level& finest)
    {
        buildLevels(finest);
        const std::size_t last = m_levels.size() - 1;
        for (std::size_t l = last + 1; l-- > 0;) {
            Level& level = *m_levels[l];
            if (l == last)
                startFromMean(level);
            else
                prolong(*m_levels[l + 1], level, false);
            if (l == last)
                smoothOut(l);
            else
                smooth(l, kSmoothing);
        }
        // The coarse levels now carry corrections: zero at the known samples.
        for (int cycle = 0; cycle < kMaxCycles && last > 0; ++cycle) {
            const float change = vCycle(0);
            if (change < kConverged)
                break;
        }
    }

private:
    static void startFromMean(Level& level)
    {
        float mean = 0.0f;
        std::int64_t known = 0;
        for (std::size_t k = 0; k < level.role.size(); ++k)
            if (level.role[k] == Role::Known)
                mean += (level.u[k] - mean) / static_cast<float>(++known);
        for (std::size_t k = 0; k < level.role.size(); ++k)
            if (level.role[k] == Role::Unknown)
                level.u[k] = mean;
    }

    void buildLevels(Level& finest)
    {
        m_levels.clear();
        m_rows.clear();
        m_levels.push_back(&finest);
        m_coarse.clear();
        for (;;) {
            const Level& fine = *m_levels.back();
            std::int64_t unknown = 0;
            for (const Role role : fine.role)
                unknown += role == Role::Unknown;
            if (unknown <= kCoarsestUnknowns || fine.rows < 6 || fine.columns < 6)
                break;
            auto coarse = std::make_unique<Level>((fine.rows + 1) / 2, (fine.columns + 1) / 2, fine.depth + 1);
            for (int y = 0; y < coarse->rows; ++y)
                for (int x = 0; x < coarse->columns; ++x) {
                    coarse->role[coarse->index(y, x)] = fine.role[fine.index(2 * y, 2 * x)];
                    coarse->u[coarse->index(y, x)] = fine.u[fine.index(2 * y, 2 * x)];
                }
            m_levels.push_back(coarse.get());
            m_coarse.push_back(std::move(coarse));
        }
        for (Level* level : m_levels) {
            level->rhs.assign(level->u.size(), 0.0f);
            m_rows.push_back(buildRows(*level));
        }
    }

    // The coarse values at the fine unknowns, bilinearly from the coarse cells that have one:
    // set as a first guess, or added as a correction.
    static void prolong(const Level& coarse, Level& fine, bool add)
    {
        for (int y = 0; y < fine.rows; ++y)
            for (int x = 0; x < fine.columns; ++x) {
                const std::size_t k = fine.index(y, x);
                if (fine.role[k] != Role::Unknown)
                    continue;
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
                    fine.u[k] = (add ? fine.u[k] : 0.0f) + sum / weight;
            }
    }

    // The rows of the unknowns: the minimiser of bending energy (squared second differences along
    // rows, columns and across cells) plus tension (squared first differences) over the terms whose
    // samples all lie inside, so that the surface ends freely where the known data end. A coarse
    // level weighs tension by its spacing squared, so that it poses the same continuous problem.
    std::vector<Row> buildRows(const Level& level) const
    {
        const float h2 = static_cast<float>(1 << (2 * level.depth));
        const float bend = 1.0f - m_tension, stretch = m_tension * h2;
        std::vector<Row> rows;
        for (int y = 0; y < level.rows; ++y)
            for (int x = 0; x < level.columns; ++x) {
                const std::size_t k = level.index(y, x);
                if (level.role[k] != Role::Unknown)
                    continue;
                float a[5][5] = {};
                const auto term = [&](float weight, std::initializer_list<std::array<int, 3>> points) {
                    float mine = 0.0f;
                    for (const auto& [dy, dx, coefficient] : points) {
                        if (level.role[k + static_cast<std::size_t>(dy * level.stride + dx)] == Role::Outside)
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
                    continue;
                Row row{static_cast<std::int32_t>(k), {}, 1.0f / diagonal};
                for (std::size_t m = 0; m < kStencil.size(); ++m)
                    row.weight[m] = -a[kStencil[m].first + 2][kStencil[m].second + 2] / diagonal;
                rows.push_back(row);
            }
        return rows;
    }

    static std::array<std::ptrdiff_t, 12> offsets(const Level& level)
    {
        std::array<std::ptrdiff_t, 12> offset{};
        for (std::size_t m = 0; m < kStencil.size(); ++m)
            offset[m] = kStencil[m].first * level.stride + kStencil[m].second;
        return offset;
    }

    // Over-relaxed Gauss-Seidel sweeps; the largest change of the last one.
    float smooth(std::size_t l, int sweeps)
    {
        Level& level = *m_levels[l];
        const std::array<std::ptrdiff_t, 12> offset = offsets(level);
        float* const u = level.u.data();
        const float* const rhs = level.rhs.data();
        float change = 0.0f;
        for (int sweep = 0; sweep < sweeps; ++sweep) {
            change = 0.0f;
            for (const Row& row : m_rows[l]) {
                float* const at = u + row.self;
                float target = rhs[row.self] * row.inverseDiagonal;
                for (std::size_t m = 0; m < 12; ++m)
                    target += row.weight[m] * at[offset[m]];
                const float step = kOverRelaxation * (target - *at);
                *at += step;
                change = std::max(change, std::fabs(step));
            }
        }
        return change;
    }

    // Sweeps on the coarsest level until what is left of the error is small: the sweeps shrink
    // it by a rate each, so that about change * rate / (1 - rate) of it remains.
    void smoothOut(std::size_t l)
    {
        float before = smooth(l, kRateSweeps);
        for (int sweep = kRateSweeps; sweep < kMaxSweepsCoarsest; sweep += kRateSweeps) {
            const float change = smooth(l, kRateSweeps);
            const float rate = before > 0.0f ? std::min(std::pow(change / before, 1.0f / kRateSweeps), 0.999f) : 0.0f;
            if (change * rate / (1.0f - rate) < kConvergedCoarsest)
                return;
            before = change;
        }
    }

    // One V-cycle of corrections from level l down; the largest change it made on level l.
    float vCycle(std::size_t l)
    {
        Level& level = *m_levels[l];
        if (l + 1 == m_levels.size()) {
            smoothOut(l);
            return 0.0f;
        }
        const std::vector<float> before = level.u;
        smooth(l, kSmoothing);
        // The residual, restricted by full weighting to the coarse unknowns. The coarse problem
        // is four times the fine one's energy (see buildRows), hence the factor.
        const std::array<std::ptrdiff_t, 12> offset = offsets(level);
        std::vector<float> residual(level.u.size(), 0.0f);
        for (const Row& row : m_rows[l]) {
            const float* at = level.u.data() + row.self;
            float target = level.rhs[static_cast<std::size_t>(row.self)] * row.inverseDiagonal;
            for (std::size_t m = 0; m < 12; ++m)
                target += row.weight[m] * at[offset[m]];
            residual[static_cast<std::size_t>(row.self)] = (target - *at) / row.inverseDiagonal;
        }
        Level& coarse = *m_levels[l + 1];
        std::fill(coarse.u.begin(), coarse.u.end(), 0.0f);
        std::fill(coarse.rhs.begin(), coarse.rhs.end(), 0.0f);
        for (int y = 0; y < coarse.rows; ++y)
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
        vCycle(l + 1);
        // The correction, taken as far along as lowers the energy most: the coarse grid sees the
        // rim of a region only at every second sample and would overshoot there.
        std::vector<float> correction(level.u.size(), 0.0f);
        std::swap(correction, level.u);
        prolong(coarse, level, false);
        std::swap(correction, level.u);
        double along = 0.0, curvature = 0.0;
        for (const Row& row : m_rows[l]) {
            const float* at = correction.data() + row.self;
            float sum = 0.0f;
            for (std::size_t m = 0; m < 12; ++m)
                sum += row.weight[m] * at[offset[m]];
            const double applied = (*at - sum) / row.inverseDiagonal; // (A e) here
            along += static_cast<double>(*at) * residual[static_cast<std::size_t>(row.self)];
            curvature += static_cast<double>(*at) * applied;
        }
        if (curvature > 0.0) {
            const auto step = static_cast<float>(along / curvature);
            for (const Row& row : m_rows[l])
                level.u[static_cast<std::size_t>(row.self)] += step * correction[static_cast<std::size_t>(row.self)];
        }
        smooth(l, kSmoothing);
        float change = 0.0f;
        for (const Row& row : m_rows[l])
            change = std::max(change, std::fabs(level.u[static_cast<std::size_t>(row.self)]
                                                - before[static_cast<std::size_t>(row.self)]));
        return change;
    }

    const float m_tension;
    std::vector<Level*> m_levels; // the finest first
    std::vector<std::unique_ptr<Level>> m_coarse;
    std::vector<std::vector<Row>> m_rows; // by level
};

class Interpolation {
public:
    Interpolation(std::vector<std::int16_t>& values, int side, const VoidSet& voids,
                  const InterpolationOptions& options, std::uint8_t* marks)
        : m_values(values), m_side(side), m_voids(voids), m_options(options), m_marks(marks),
          m_solver(static_cast<float>(std::clamp(options.tension, 0.0, 0.99)))
    {}

    InterpolationResult run(const Neighbours& neighbours);

private:
    bool voidNearEdge() const;
    void markSamples(Mosaic& mosaic);
    void takeSeamValues(const Mosaic& mosaic);
    void fillRegion(const Mosaic& mosaic, const std::vector<Span>& spans);
    void collectRegion(int R, int C, std::vector<Span>& spans);
    std::int16_t finalValue(double value, double mean) const;

    std::vector<std::int16_t>& m_values;
    const int m_side;
    const VoidSet& m_voids;
    const InterpolationOptions& m_options;
    std::uint8_t* const m_marks;
    RegionSolver m_solver;

    int m_band = 0;
    RowBits m_void;  // extended coordinates
    RowBits m_known; // extended coordinates
    RowBits m_reach; // within maxDistance of a known sample
    RowBits m_seen;
    std::vector<Span> m_stack;
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

void Interpolation::markSamples(Mosaic& mosaic)
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

// The 8-connected voids around (R, C) as runs along rows, by a scan-line flood fill, so that
// even a region covering half a tile takes little memory.
void Interpolation::collectRegion(int R, int C, std::vector<Span>& spans)
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
        spans.push_back({seed.row, first, last});
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

void Interpolation::fillRegion(const Mosaic& mosaic, const std::vector<Span>& spans)
{
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
    }
    if (tooFar) {
        m_result.left += inTile;
        m_result.leftTooFar += inTile;
        return;
    }
    // The box in extended coordinates, so that both tiles of a seam pose the same problem.
    const int top = std::max(0, r0 - kMargin), left = std::max(0, c0 - kMargin);
    const int bottom = std::min(mosaic.extent() - 1, r1 + kMargin), right = std::min(mosaic.extent() - 1, c1 + kMargin);
    Level level(bottom - top + 1, right - left + 1, 0);
    double sum = 0.0;
    std::int64_t known = 0;
    for (int R = top; R <= bottom; ++R)
        for (int C = left; C <= right; ++C)
            if (m_known.get(R, C)) {
                const std::size_t k = level.index(R - top, C - left);
                level.role[k] = Role::Known;
                level.u[k] = static_cast<float>(*mosaic.valueAt(R, C, m_voids));
                sum += level.u[k];
                ++known;
            }
    if (known == 0) {
        m_result.left += inTile;
        m_result.leftTooFar += inTile;
        return;
    }
    for (const Span& span : spans)
        for (int C = span.first; C <= span.last; ++C)
            level.role[level.index(span.row - top, C - left)] = Role::Unknown;
    // Heights above the rim's mean: floats near 30000 m keep too few digits for the sweeps, whose
    // rounding the bending problem magnifies many times.
    const double mean = sum / static_cast<double>(known);
    for (std::size_t k = 0; k < level.u.size(); ++k)
        if (level.role[k] == Role::Known)
            level.u[k] = static_cast<float>(level.u[k] - mean);
    m_solver.solve(level);

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
    m_result.interpolated += inTile;
}

InterpolationResult Interpolation::run(const Neighbours& neighbours)
{
    const int maxDistance = std::max(0, m_options.maxDistance);
    // A region the reach allows is at most about twice the reach across; the bands hold it whole.
    if (neighbours.window && m_side > kMargin && voidNearEdge())
        m_band = std::clamp(2 * maxDistance + 2 * kMargin, kMargin, m_side - 1);
    Mosaic mosaic(m_values, m_side, m_band);
    if (m_band > 0)
        mosaic.load(neighbours);
    markSamples(mosaic);
    takeSeamValues(mosaic);
    m_reach = Dilate(m_known, maxDistance);
    m_seen = RowBits(mosaic.extent());

    std::vector<Span> spans;
    for (int r = 0; r < m_side; ++r) {
        const int R = r + m_band;
        const std::uint64_t* row = m_void.row(R);
        for (std::int64_t w = m_band / 64; w * 64 < m_band + m_side; ++w) {
            for (std::uint64_t word = row[w]; word != 0; word &= word - 1) {
                const int C = static_cast<int>(w * 64 + std::countr_zero(word));
                if (C < m_band || C >= m_band + m_side || m_seen.get(R, C))
                    continue;
                if (m_options.proceed && !m_options.proceed())
                    return m_result;
                spans.clear();
                collectRegion(R, C, spans);
                fillRegion(mosaic, spans);
            }
        }
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

#include "tiles/internal/region_solver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace hgt::region_solver_test {
namespace {

using Height = std::function<double(int y, int x)>;
using Shape = std::function<bool(int y, int x)>; // true: a void of the region, in box coordinates

// Surfaces whose discrete problem has the surface itself as its solution. Every term of the
// bending energy is a second difference, zero for a plane whatever terms a ragged rim leaves out.
// A quadratic has constant second differences, whose pulls on an unknown cancel where all its
// terms are present, and the membrane's pulls cancel where the quadratic is harmonic (its
// five-point Laplacian, x^2 - y^2 and xy alike, is exactly zero): such a surface solves the
// problem for any tension, as long as the rim is wide enough for every term to take part.
double Plane(int y, int x)
{
    return 12.0 + 0.75 * x - 1.25 * y;
}
double HarmonicQuadratic(int y, int x)
{
    const double cy = y - 30.0, cx = x - 25.0;
    return -8.0 + 0.5 * cx + 0.3 * cy + 0.04 * (cx * cx - cy * cy) + 0.03 * cx * cy;
}

struct Case {
    std::string name;
    int rows, columns; // the region's bounding box
    Shape shape;
    int rim; // known cells reach this far from the region; farther ones are outside
    float tension;
    Height height;
};

// A box around the region with `rim` cells of known heights, the rest of the box outside.
struct Problem {
    int rows, columns;
    std::vector<bool> unknown, known;
};

Problem Pose(const Case& c)
{
    const int margin = 2; // as the interpolation takes it around a region
    Problem p{c.rows + 2 * margin, c.columns + 2 * margin, {}, {}};
    const auto cells = static_cast<std::size_t>(p.rows * p.columns);
    p.unknown.assign(cells, false);
    p.known.assign(cells, false);
    const auto inRegion = [&](int y, int x) {
        return y >= margin && y < margin + c.rows && x >= margin && x < margin + c.columns
               && c.shape(y - margin, x - margin);
    };
    for (int y = 0; y < p.rows; ++y)
        for (int x = 0; x < p.columns; ++x) {
            const auto k = static_cast<std::size_t>(y * p.columns + x);
            p.unknown[k] = inRegion(y, x);
            for (int dy = -c.rim; dy <= c.rim && !p.unknown[k] && !p.known[k]; ++dy)
                for (int dx = -c.rim; dx <= c.rim; ++dx)
                    p.known[k] = p.known[k] || inRegion(y + dy, x + dx);
        }
    return p;
}

bool Rectangle(int, int)
{
    return true;
}
// An L: the box without its north-eastern quarter.
bool LShape(int y, int x)
{
    return y >= 8 || x < 8;
}
// A ring around a known island.
bool Ring(int y, int x)
{
    const double r = std::hypot(y - 14.5, x - 14.5);
    return r < 15.0 && r > 5.0;
}
bool Disk(int y, int x)
{
    return std::hypot(y - 12.5, x - 12.5) < 13.0;
}

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

// The solved values of a region, posed on the level the solver hands out.
std::vector<float> Solve(RegionSolver& solver, const Case& c, RegionSolver::Outcome& outcome)
{
    const Problem p = Pose(c);
    std::atomic<bool> stop{false};
    Pacer pacer(nullptr, stop);
    Level& level = solver.finest(p.rows, p.columns, pacer);
    for (int y = 0; y < p.rows; ++y)
        for (int x = 0; x < p.columns; ++x) {
            const auto k = static_cast<std::size_t>(y * p.columns + x);
            if (p.known[k]) {
                level.role[level.index(y, x)] = Role::Known;
                level.u[level.index(y, x)] = static_cast<float>(c.height(y, x));
            } else if (p.unknown[k]) {
                level.role[level.index(y, x)] = Role::Unknown;
            }
        }
    outcome = solver.solve(pacer);
    std::vector<float> values(static_cast<std::size_t>(p.rows * p.columns));
    for (int y = 0; y < p.rows; ++y)
        for (int x = 0; x < p.columns; ++x)
            values[static_cast<std::size_t>(y * p.columns + x)] = level.u[level.index(y, x)];
    return values;
}

class RegionSolverTest : public ::testing::TestWithParam<Case> {};

// The solver fills the region with the surface its rim was sampled from, and its last V-cycle
// changed no value by as much as its own threshold. That threshold bounds the last change, not
// what is left of the error: the cycles shrink the error by a rate r each, and about
// kConverged * r / (1 - r) of it remains when they stop. On these regions the error left was at
// most 1.8 times the last change (r below two thirds), hence a tolerance of two thresholds.
TEST_P(RegionSolverTest, ReproducesSurfaceThatSolvesItsProblem)
{
    const Case& c = GetParam();
    const Problem p = Pose(c);
    RegionSolver solver(c.tension);
    RegionSolver::Outcome outcome;
    const std::vector<float> values = Solve(solver, c, outcome);
    EXPECT_LT(outcome.change, RegionSolver::kConverged);
    double worst = 0.0;
    int unknowns = 0;
    for (int y = 0; y < p.rows; ++y)
        for (int x = 0; x < p.columns; ++x) {
            const auto k = static_cast<std::size_t>(y * p.columns + x);
            if (p.unknown[k]) {
                ++unknowns;
                worst = std::max(worst, std::fabs(values[k] - c.height(y, x)));
            }
        }
    ASSERT_GT(unknowns, 0);
    EXPECT_LT(worst, 2.0 * RegionSolver::kConverged) << "after " << outcome.cycles << " cycles";
}

INSTANTIATE_TEST_SUITE_P(Surfaces, RegionSolverTest,
                         ::testing::Values(
                             // Multigrid with V-cycles on the finest level.
                             Case{"RectangleHarmonic", 22, 22, Rectangle, 2, 0.005f, HarmonicQuadratic},
                             Case{"LShapeHarmonic", 16, 16, LShape, 2, 0.005f, HarmonicQuadratic},
                             Case{"LShapeHarmonicTaut", 16, 16, LShape, 2, 0.3f, HarmonicQuadratic},
                             Case{"RingAroundIslandHarmonic", 30, 30, Ring, 2, 0.005f, HarmonicQuadratic},
                             Case{"DiskHarmonic", 26, 26, Disk, 2, 0.005f, HarmonicQuadratic},
                             // A rim one cell wide leaves the bending terms that reach past it out.
                             Case{"LShapeNarrowRimPlane", 16, 16, LShape, 1, 0.0f, Plane},
                             Case{"RingNarrowRimPlane", 30, 30, Ring, 1, 0.0f, Plane},
                             // Few unknowns: one level, solved directly.
                             Case{"SmallRegionHarmonic", 6, 7, Rectangle, 2, 0.005f, HarmonicQuadratic},
                             // Too narrow to coarsen: one level, swept out.
                             Case{"NarrowStripHarmonic", 4, 90, Rectangle, 2, 0.005f, HarmonicQuadratic}),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

// A region's values depend on its rim alone, not on the regions the same solver took before:
// whichever thread solves it, the tile comes out the same.
TEST(RegionSolver, KeptLevelsDoNotCarryOver)
{
    const Case later{"Ring", 30, 30, Ring, 2, 0.005f, HarmonicQuadratic};
    RegionSolver fresh(later.tension), used(later.tension);
    RegionSolver::Outcome outcome;
    for (const Case& before :
         {Case{"Disk", 26, 26, Disk, 2, 0.005f, Plane}, Case{"Strip", 4, 90, Rectangle, 1, 0.005f, HarmonicQuadratic}})
        Solve(used, before, outcome);
    EXPECT_EQ(Solve(used, later, outcome), Solve(fresh, later, outcome));
}

} // namespace
} // namespace hgt::region_solver_test

#pragma once

#include "tiles/internal/pacer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace hgt {

enum class Role : std::uint8_t { Outside, Known, Unknown };

// One level of a region's problem: the cells of its box, padded by outside cells, and on coarser
// levels the right-hand side of the correction they solve for. Levels are kept from region to
// region, so that their memory is taken once.
struct Level {
    // The bending stencil reaches two samples; the grids carry that much padding of outside cells.
    static constexpr int kPad = 2;

    int rows = 0, columns = 0, stride = 0, depth = 0;
    std::vector<Role> role;
    std::vector<float> u;
    std::vector<float> rhs;

    void reset(int rows_, int columns_, int depth_, Pacer& pacer);
    std::size_t index(int y, int x) const
    {
        return static_cast<std::size_t>(y + kPad) * static_cast<std::size_t>(stride)
               + static_cast<std::size_t>(x + kPad);
    }
};

// The smoothest surface over a region's unknowns through its known cells: the minimiser of bending
// energy plus a share `tension` of membrane energy, found by multigrid. Its levels and work
// vectors are kept from region to region.
class RegionSolver {
public:
    // The solve ends when a cycle changes no value by this many metres or more, or when its cycles
    // run out.
    static constexpr float kConverged = 0.05f;

    // How a solve ended: the V-cycles taken on the finest level and the largest change the last
    // of them made; both 0 for a region small enough to be solved on one level.
    struct Outcome {
        int cycles = 0;
        float change = 0.0f;
    };

    explicit RegionSolver(float tension);
    RegionSolver(RegionSolver&&) noexcept;
    RegionSolver& operator=(RegionSolver&&) noexcept;
    ~RegionSolver();

    // The finest level of the next region, reset to a box of outside cells, for the caller to
    // mark its known cells (with their values) and its unknowns.
    Level& finest(int rows, int columns, Pacer& pacer);
    // Sets the finest level's unknowns; the known cells keep their values.
    Outcome solve(Pacer& pacer);

private:
    class Multigrid;
    std::unique_ptr<Multigrid> m_multigrid;
};

} // namespace hgt

#pragma once

// The screened membrane that carries a void region's offset from its rim inwards: the rim's
// offsets fixed, zero far inside, each unknown the mean of its four neighbours pulled towards zero.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hgt {

// Far from the rim the bridged offset relaxes to the region's median over about this many samples
// (the screening length of the membrane), so a large void takes the typical offset instead of the
// rim's local ups and downs.
inline constexpr float kScreeningSamples = 8.0f;

// What a sample of a region's box is to the membrane problem of one source.
enum class MembraneRole : std::uint8_t {
    Outside, // takes no part
    Fixed,   // on the rim, with a measured offset
    Unknown, // this source's void, to be solved
};

// One void of the membrane problem: its neighbours that take part (the others stand for a dummy
// of value 0) and 1 / (neighbours taking part + screening).
struct MembraneCell {
    std::int32_t self;
    std::int32_t next[4];
    float weight;
};

// One membrane problem on a box of samples, numbered along its rows; kept from region to region,
// so that its memory is taken once.
struct Membrane {
    enum class Guess : std::uint8_t;

    std::vector<MembraneRole> role; // by box index
    // By box index, and one more for the dummy neighbour: the offset less the rim's median.
    std::vector<float> values;
    std::vector<MembraneCell> cells[2]; // coloured as on a chessboard, for the red-black sweeps
    std::vector<std::int32_t> cellAt;
    std::vector<Guess> guess;
    std::vector<const MembraneCell*> queue;
};

// A first guess, in order of distance from the rim: the mean of the neighbours known already,
// fading towards zero as the membrane does. The sweeps then have little left to do.
void GuessMembrane(std::size_t boxSize, Membrane& membrane);

// Red-black over-relaxation of the cells until no value moves by a twentieth of a metre any more.
void RelaxMembrane(Membrane& membrane);

} // namespace hgt

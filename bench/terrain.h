#pragma once

// Generated mountains for pictures and timings without downloaded data: ridged fractal noise on a
// full 1" tile, voids in irregular patches on steep ground (where radar loses its echo), and the
// same ground as a second source registered a little apart sees it.

#include "tiles/tile_format.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace hgt::bench {

struct Terrain {
    int side = static_cast<int>(kTileSide);
    std::vector<double> heights; // row by row from the north-west corner

    double at(int row, int column) const { return heights[static_cast<std::size_t>(row) * side + column]; }
};

namespace detail {

inline double lattice(int x, int y, std::uint32_t seed)
{
    std::uint32_t h =
        static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / static_cast<double>(0xFFFFFF); // 0 ... 1
}

// Smooth value noise with a wavelength of `cell` samples: 0 ... 1.
inline double valueNoise(double x, double y, double cell, std::uint32_t seed)
{
    const double u = x / cell, v = y / cell;
    const int i = static_cast<int>(std::floor(u)), j = static_cast<int>(std::floor(v));
    const double fu = u - i, fv = v - j;
    const double su = fu * fu * (3 - 2 * fu), sv = fv * fv * (3 - 2 * fv);
    const double top = lattice(i, j, seed) + su * (lattice(i + 1, j, seed) - lattice(i, j, seed));
    const double bottom = lattice(i, j + 1, seed) + su * (lattice(i + 1, j + 1, seed) - lattice(i, j + 1, seed));
    return top + sv * (bottom - top);
}

// Gradient noise with a wavelength of `cell` samples: about -0.7 ... 0.7, 0 on the lattice. Its
// zero lines wind like valleys, not like the rims of blobs.
inline double gradientNoise(double x, double y, double cell, std::uint32_t seed)
{
    const double u = x / cell, v = y / cell;
    const int i = static_cast<int>(std::floor(u)), j = static_cast<int>(std::floor(v));
    const double fu = u - i, fv = v - j;
    // 64 directions, looked up: the terrain has 13 million samples and a dozen octaves.
    static const std::array<std::array<double, 2>, 64> directions = [] {
        std::array<std::array<double, 2>, 64> table{};
        for (std::size_t k = 0; k < table.size(); ++k)
            table[k] = {std::cos(k * 6.283185307179586 / 64), std::sin(k * 6.283185307179586 / 64)};
        return table;
    }();
    const auto corner = [&](int di, int dj) {
        const auto& g = directions[static_cast<std::size_t>(lattice(i + di, j + dj, seed) * 63.999)];
        return g[0] * (fu - di) + g[1] * (fv - dj);
    };
    const auto fade = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
    const double su = fade(fu), sv = fade(fv);
    const double top = corner(0, 0) + su * (corner(1, 0) - corner(0, 0));
    const double bottom = corner(0, 1) + su * (corner(1, 1) - corner(0, 1));
    return top + sv * (bottom - top);
}

} // namespace detail

// Ridges and valleys between about 400 and 3000 m, with detail down to a few samples. Each octave
// is turned against the one before, so that no ridge follows the grid.
inline Terrain MakeMountains(std::uint32_t seed = 11)
{
    Terrain terrain;
    const int side = terrain.side;
    terrain.heights.resize(static_cast<std::size_t>(side) * side);
    constexpr double kTurn = 0.6; // radians between octaves
    std::array<std::array<double, 2>, 16> turns{};
    for (std::size_t octave = 0; octave < turns.size(); ++octave)
        turns[octave] = {std::cos(kTurn * octave), std::sin(kTurn * octave)};
    double lowest = 1e9, highest = -1e9;
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c) {
            // Ridged multifractal: sharp crests along the zero lines of the noise; each octave
            // weighted by the crest above it, so that detail gathers on the ridges and valleys
            // stay smooth.
            double ridged = 0, weight = 1, amplitude = 1;
            std::uint32_t octave = 0;
            for (double cell = 900; cell >= 5; cell /= 2.0, ++octave) {
                const double u = c * turns[octave][0] - r * turns[octave][1] + 7919.0 * octave;
                const double v = c * turns[octave][1] + r * turns[octave][0] + 3571.0 * octave;
                double crest = 1 - std::abs(detail::gradientNoise(u, v, cell, seed + octave)) * 1.4;
                crest = crest * crest * weight;
                weight = std::clamp(crest * 2, 0.0, 1.0);
                ridged += crest * amplitude;
                amplitude *= 0.4;
            }
            const double broad = detail::valueNoise(c, r, 2400, seed + 101);
            const double height = 1400 * broad + 1600 * ridged;
            terrain.heights[static_cast<std::size_t>(r) * side + c] = height;
            lowest = std::min(lowest, height);
            highest = std::max(highest, height);
        }
    for (double& height : terrain.heights)
        height = 400 + (height - lowest) / (highest - lowest) * 2600;
    return terrain;
}

// The tile's samples as stored: big-endian 16-bit.
inline std::vector<std::uint8_t> TileBytes(const Terrain& terrain, const std::vector<bool>& voids = {})
{
    std::vector<std::uint8_t> bytes(terrain.heights.size() * 2);
    for (std::size_t k = 0; k < terrain.heights.size(); ++k) {
        const auto value =
            static_cast<std::int16_t>(!voids.empty() && voids[k] ? kVoidValue : std::lround(terrain.heights[k]));
        bytes[2 * k] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(value) >> 8);
        bytes[2 * k + 1] = static_cast<std::uint8_t>(value & 0xFF);
    }
    return bytes;
}

// Voids where the ground is steep and a patchy field says so: irregular holes along the slopes,
// roughly `share` of the tile.
inline std::vector<bool> SteepVoids(const Terrain& terrain, double share, std::uint32_t seed = 5)
{
    const int side = terrain.side;
    std::vector<double> score(terrain.heights.size());
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c) {
            const int rn = std::max(r - 2, 0), rs = std::min(r + 2, side - 1);
            const int cw = std::max(c - 2, 0), ce = std::min(c + 2, side - 1);
            const double slope =
                std::hypot(terrain.at(r, ce) - terrain.at(r, cw), terrain.at(rs, c) - terrain.at(rn, c));
            const double patches =
                detail::valueNoise(c, r, 150, seed) * 0.8 + detail::valueNoise(c, r, 31, seed + 1) * 0.2;
            score[static_cast<std::size_t>(r) * side + c] = patches * (0.4 + std::min(slope / 120.0, 1.0));
        }
    std::vector<double> sorted = score;
    const auto cut = sorted.begin() + static_cast<std::ptrdiff_t>((1 - share) * static_cast<double>(sorted.size()));
    std::nth_element(sorted.begin(), cut, sorted.end());
    const double threshold = *cut;
    std::vector<bool> voids(score.size());
    for (std::size_t k = 0; k < score.size(); ++k)
        voids[k] = score[k] > threshold;
    return voids;
}

// The same ground as a second source sees it: taken `east` and `south` samples off, as two sources
// registered a little apart are, and `offset` metres higher. The differences follow the slopes.
inline Terrain SecondSource(const Terrain& terrain, double east, double south, double offset)
{
    const int side = terrain.side;
    const auto between = [&](double r, double c) {
        r = std::clamp(r, 0.0, side - 1.0);
        c = std::clamp(c, 0.0, side - 1.0);
        const int r0 = std::min(static_cast<int>(r), side - 2), c0 = std::min(static_cast<int>(c), side - 2);
        const double fr = r - r0, fc = c - c0;
        const double top = terrain.at(r0, c0) + fc * (terrain.at(r0, c0 + 1) - terrain.at(r0, c0));
        const double bottom = terrain.at(r0 + 1, c0) + fc * (terrain.at(r0 + 1, c0 + 1) - terrain.at(r0 + 1, c0));
        return top + fr * (bottom - top);
    };
    Terrain second;
    second.side = side;
    second.heights.resize(terrain.heights.size());
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c)
            second.heights[static_cast<std::size_t>(r) * side + c] = between(r + south, c + east) + offset;
    return second;
}

} // namespace hgt::bench

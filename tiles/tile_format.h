#pragma once

// The HGT tile format: headerless grids of signed 16-bit big-endian heights, row by row from
// the north-west corner.

#include <cstdint>

namespace hgt {

// The 1 arc second HGT tile: 3601 x 3601 signed 16-bit big-endian samples, no header.
inline constexpr std::int64_t kTileSide = 3601;
inline constexpr std::int64_t kTileSamples = kTileSide * kTileSide; // 12,967,201
inline constexpr std::int64_t kTileBytes = kTileSamples * 2;        // 25,934,402
inline constexpr std::int16_t kVoidValue = -9999;
// The 3 arc second tile: 1201 x 1201 samples; its nodes coincide with every third node of a 1".
inline constexpr std::int64_t kTileSide3 = 1201;
inline constexpr std::int64_t kTileBytes3 = kTileSide3 * kTileSide3 * 2; // 2,884,802

// 1 or 3 for the sides of the 1" and 3" grids, else 0.
constexpr int ArcSecondsOfSide(std::int64_t side)
{
    if (side == kTileSide)
        return 1;
    if (side == kTileSide3)
        return 3;
    return 0;
}

// The provenance companion of an output tile (<name>.src): one byte per sample in the tile's order
// telling where the sample came from: 0 the tile itself, k the k-th source (1 the secondary folder).
inline constexpr std::uint8_t kOwnSample = 0;
inline constexpr std::uint8_t kInterpolatedSample = 254;
inline constexpr std::uint8_t kVoidSample = 255;

} // namespace hgt

#pragma once

// One tile sample as stored: a signed 16-bit value, high byte first.

#include "tiles/tile_format.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace hgt {

// The void marker -9999 as stored: high byte first.
inline constexpr std::uint8_t kVoidHigh = 0xD8;
inline constexpr std::uint8_t kVoidLow = 0xF1;
// 1-based byte positions; the walk ends when posHigh reaches one past the last byte.
inline constexpr std::int32_t kWalkEnd = static_cast<std::int32_t>(kTileBytes) + 1; // 25,934,403

inline std::int16_t DecodeSample(const std::uint8_t* p)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] << 8 | p[1]));
}

inline void EncodeSample(std::uint8_t* p, std::int16_t value)
{
    const auto bits = static_cast<std::uint16_t>(value);
    p[0] = static_cast<std::uint8_t>(bits >> 8);
    p[1] = static_cast<std::uint8_t>(bits & 0xFF);
}

// The samples as raw 16-bit words in memory order, compared with the marker's bytes in the same
// order: branch-free loops that the compiler turns into vector code.
inline std::uint16_t LoadWord(const std::uint8_t* p)
{
    std::uint16_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

inline void StoreWord(std::uint8_t* p, std::uint16_t word)
{
    std::memcpy(p, &word, sizeof word);
}

// The void marker's bytes, D8 F1, as such a word.
inline constexpr std::uint16_t kVoidWord = std::endian::native == std::endian::little
                                               ? static_cast<std::uint16_t>(kVoidLow << 8 | kVoidHigh)
                                               : static_cast<std::uint16_t>(kVoidHigh << 8 | kVoidLow);

} // namespace hgt

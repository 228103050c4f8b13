#pragma once

// One tile sample as stored: a signed 16-bit value, high byte first.

#include <cstdint>

namespace hgt {

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

} // namespace hgt

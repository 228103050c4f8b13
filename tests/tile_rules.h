#pragma once

// The two sample rules written out as plainly as possible, shared by the engine, window and
// end-to-end tests: what a filled tile and a difference tile must hold.

#include "tests/test_support.h"

namespace hgt::test {

inline std::int32_t sampleAt(const Bytes& tile, std::int64_t k)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(tile[2 * k] << 8 | tile[2 * k + 1]));
}

inline void setValue(Bytes& tile, std::int64_t k, std::int32_t value)
{
    const auto bits = static_cast<std::uint16_t>(value);
    setSample(tile, k, static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits & 0xFF));
}

// A void (-9999) of the primary takes the secondary's sample, void or not; the rest is the primary's.
inline Bytes FilledTile(const Bytes& primary, const Bytes& secondary)
{
    Bytes out(primary.begin(), primary.begin() + kTileBytes);
    for (std::int64_t k = 0; k < kTileSamples; ++k)
        if (sampleAt(primary, k) == -9999)
            setValue(out, k, sampleAt(secondary, k));
    return out;
}

// Primary minus comparison: a void in either stays a void, other differences saturate.
inline Bytes DifferenceTile(const Bytes& primary, const Bytes& comparison)
{
    Bytes out(static_cast<std::size_t>(kTileBytes));
    for (std::int64_t k = 0; k < kTileSamples; ++k) {
        const std::int32_t p = sampleAt(primary, k);
        const std::int32_t c = sampleAt(comparison, k);
        std::int32_t d = std::clamp(p - c, -32768, 32767);
        if (p == -9999 || c == -9999)
            d = -9999;
        setValue(out, k, d);
    }
    return out;
}

} // namespace hgt::test

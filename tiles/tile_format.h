#pragma once

// The 1 arc second HGT tile: 3601 x 3601 signed 16-bit big-endian samples, no header.

#include <cstdint>

namespace hgt {

inline constexpr std::int64_t kTileSide = 3601;
inline constexpr std::int64_t kTileSamples = kTileSide * kTileSide; // 12,967,201
inline constexpr std::int64_t kTileBytes = kTileSamples * 2;        // 25,934,402

// The void marker -9999 as stored: high byte first.
inline constexpr std::uint8_t kVoidHigh = 0xD8;
inline constexpr std::uint8_t kVoidLow = 0xF1;
inline constexpr std::int16_t kVoidValue = -9999;

// 1-based byte positions; the walk ends when posHigh reaches one past the last byte.
inline constexpr std::int32_t kWalkEnd = static_cast<std::int32_t>(kTileBytes) + 1; // 25,934,403

// A progress report is due once posHigh lies more than this past the previous report.
inline constexpr std::int32_t kReportStride = 200000;

} // namespace hgt

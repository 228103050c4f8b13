#pragma once

// The colour and shading rules behind the pictures, and how picture pixels map to samples.

#include "pictures/picture.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace hgt {

// The colour rules. Colours are 0xFFRRGGBB.
inline constexpr std::uint32_t kReliefVoidColour = 0xFFFF00FF;
inline constexpr std::uint32_t kDifferenceVoidColour = 0xFF808080;
inline constexpr std::uint32_t kDifferenceLowColour = 0xFF2166AC; // at -clip and below
inline constexpr std::uint32_t kDifferenceZeroColour = 0xFFFFFFFF;
inline constexpr std::uint32_t kDifferenceHighColour = 0xFFB2182B; // at +clip and above

// The hypsometric tint of a height in metres, from green lowlands over browns to white summits.
std::uint32_t HypsometricColour(int metres);

// How much of the light from the north-west, 45° above the horizon, falls on a surface that rises
// by `riseEast` metres per metre eastwards and `riseNorth` per metre northwards: 0 (turned away) to
// 1 (facing the light); flat ground gets sin 45°.
double HillshadeFactor(double riseEast, double riseNorth);

// A height colour lit by a hillshade factor: flat ground keeps its colour, slopes facing the light
// get brighter, slopes turned away darker.
std::uint32_t ShadedColour(std::uint32_t colour, double hillshade);

// The latitude of a tile's southern edge from its name (N47E011.hgt: 47, s12w077.hgt.zip: -12).
std::optional<int> TileLatitude(std::string_view name);

// The ground distance between neighbouring samples of a tile (see SampleSpacing).
SampleSpacing SpacingOf(const TileSamples& samples);

// The sample row (or column) a picture row (or column) shows when `side` samples are drawn on
// `pixels` pixels: the nearest one on a grid whose first and last samples sit on the first and last
// pixels, round(pixel * (side-1) / (pixels-1)). At full size pixel p shows sample p; a 1" tile drawn
// on 1201 pixels shows every third sample, the nodes of the 3" grid. One pixel shows the middle.
int SampleOfPixel(int pixel, int side, int pixels);

} // namespace hgt

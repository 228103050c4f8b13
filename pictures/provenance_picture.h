#pragma once

// Provenance maps: the .src companion of a filled tile (one code per sample, tile_format.h) drawn
// in the colours of ProvenanceColour, with a legend of the codes it holds.

#include "pictures/picture.h"
#include "platform/error.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QImage; // the header stays free of Qt: the command line's report includes it
class QPainter;
class QRect;
class QSize;

namespace hgt {

struct ProvenanceMap {
    int side = 0;
    std::vector<std::uint8_t> codes;        // side * side, row 0 the northern edge
    std::array<std::int64_t, 256> counts{}; // samples per code
};

// A file named *.src in any letter case.
bool IsProvenancePath(std::string_view path);

// Reads a provenance file; its size must be that of a 1" or 3" tile's samples.
Result<ProvenanceMap> ReadProvenance(const std::string& path);

// One pixel per sample (size 0), or size x size pixels each showing the nearest sample.
TilePicture RenderProvenance(const ProvenanceMap& map, int size = 0);

// The map for drawing over the tile's own picture, one pixel per sample, 0xAARRGGBB (not
// premultiplied): the tile's own samples transparent, every other code in its colour, half covering.
TilePicture RenderProvenanceOverlay(const ProvenanceMap& map);
inline constexpr std::uint32_t kProvenanceOverlayAlpha = 0xA0;

// The German name of a code in the legend: "Kachel selbst", "Quelle 2", "interpoliert", "Loch".
std::string ProvenanceLabel(std::uint8_t code);

// The legend of a map in `area` (white, its title "Herkunft", then a swatch, the name and the number
// of samples for every code the map holds; sources after the eighth together on one line, so that
// a map of any bytes has at most twelve), its text sized for `area`'s height; and the size its
// lines need when drawn for a given height (the width at least that of the difference legend's).
// For the overlay (`overlay`), the tile's own samples get an empty swatch, as they
// are drawn there.
void DrawProvenanceLegend(QPainter& painter, const QRect& area, const ProvenanceMap& map, bool overlay = false);
QSize ProvenanceLegendSize(const ProvenanceMap& map, int height);

// The picture with a margin on its right naming the colour of every code the map holds.
QImage ProvenanceWithLegend(const QImage& picture, const ProvenanceMap& map);

// The map as PNG, with the legend when asked for; the file appears only when complete. Returns
// the image's width, the legend's margin included.
Result<int> WriteProvenancePng(const TilePicture& picture, const ProvenanceMap& map, bool legend,
                               const std::string& path);

} // namespace hgt

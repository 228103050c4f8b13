#pragma once

// The viewer's work away from the window's thread: reading a tile, its figures and its picture at
// one pixel per sample plus smaller copies for drawing it reduced.

#include "tiles/tile_format.h"
#include "tiles/tile_info.h"
#include "pictures/picture.h"
#include "pictures/provenance_picture.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hgt {

struct TileRenderRequest {
    std::string path;
    PictureKind kind = PictureKind::Relief;
    // The samples that are voids in an elevation tile; a difference tile's voids are always -9999.
    std::vector<std::int16_t> voidValues{kVoidValue};
};

struct RenderedTile {
    std::shared_ptr<const TileSamples> samples;
    TileSummary summary;
    // levels[0] has one pixel per sample (pixel (x, y) is row y, column x); each next level is half
    // as large, pixel j covering pixels 2j and 2j+1 of the one before, down to kSmallestLevel.
    std::vector<QImage> levels;
    QString error; // why there is no picture; empty when there is one
    bool cancelled = false;
};

inline constexpr int kSmallestLevel = 256;

// Reads, sums up and draws the tile in bands, giving up between bands once `cancelled` is set.
// Never throws; safe on any thread.
RenderedTile RenderTileTask(const TileRenderRequest& request, const std::atomic<bool>& cancelled);

// A provenance companion drawn as an overlay for the viewer: its levels match those of the tile's
// picture in size, level by level.
struct RenderedProvenance {
    std::shared_ptr<const ProvenanceMap> map;
    std::vector<QImage> levels; // premultiplied ARGB; the tile's own samples transparent
    QString error;              // why there is no overlay; empty when there is one
};

// Reads the companion at `path` and draws its overlay. Never throws; safe on any thread.
RenderedProvenance RenderProvenanceTask(const std::string& path);

// The image at half the size (rounded up), each pixel the mean of the 2 x 2 pixels it covers; an
// odd last row or column is averaged with itself.
QImage HalvedImage(const QImage& image);

} // namespace hgt

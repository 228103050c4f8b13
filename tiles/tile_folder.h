#pragma once

// The rules of a tile folder: which files are tiles, what tile a file holds, where outputs go.

#include "platform/error.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hgt {

// A file a batch takes: a name ending in .hgt or .hgt.zip, in any letter case.
bool IsTilePath(std::string_view path);
// The tile a file holds by name: the file's name; for an archive its name up to the first dot, then
// ".hgt" (N47E011.SRTMGL1.hgt.zip holds N47E011.hgt). Outputs carry this name.
std::string TileName(const std::string& path);
// The south-west corner of a tile in whole degrees, from its name: N47E011.hgt -> (47, 11),
// s12w077.hgt.zip -> (-12, -77). A path's folders are ignored.
struct TileOrigin {
    int latitude = 0;
    int longitude = 0;
};
std::optional<TileOrigin> TileOriginOf(std::string_view name);
// The tile name of a south-west corner, "N47E011.hgt"; the longitude is wrapped into [-180, 180).
std::string TileNameOf(TileOrigin origin);
// The name of the tile next to `name`: rowStep -1 north, +1 south; columnStep -1 west, +1 east
// (corners with both). Across the antimeridian the longitude wraps; beyond a pole there is none.
std::optional<std::string> NeighbourTileName(std::string_view name, int rowStep, int columnStep);
// Whether a folder makes the fill buttons usable: a file ending in .hgt, .HGT or .Hgt, or an
// archive ending in .hgt.zip in any letter case. A folder that cannot be listed holds none.
bool FolderHoldsTile(const std::string& folder);
// The tiles of a folder in batch order (by name, ignoring letter case).
Result<std::vector<std::string>> ListTiles(const std::string& folder);
// The tile named `name` in `folder`: the file of exactly that name; else the one file whose name
// matches ignoring letter case; else the one archive whose tile name matches ignoring letter case.
// NotFound when there is none, Ambiguous when there are several.
Result<std::string> FindTileInFolder(const std::string& folder, const std::string& name);
std::string DifferenceTilePath(const std::string& primaryPath);
// The provenance companion of an output tile (a fill's, tile_format.h): its path with ".src" for the
// extension, e.g. Merged/N47E011.hgt -> Merged/N47E011.src.
std::string ProvenancePath(const std::string& outputPath);
// Whether a tile lies in a DIFFS folder, where difference tiles are written: such a tile holds
// differences, not heights.
bool LiesInDifferenceFolder(const std::string& path);
// The path must name a tile: a 1" or 3" tile by its size (a 1" file may be longer; its tail is
// ignored), or an archive holding one.
Result<> CheckTilePath(const std::string& path);

} // namespace hgt

// What decides from a file's bytes, size and name whether it is a tile and of which grid, in memory:
// the zip reader on hostile archives (through the same libzip calls as a file, from a buffer), the
// tile-size rule, and the name rules. No file is written, so that thousands of inputs a second run.
//
// Byte 0 picks the part; the rest is its input: an archive, a file size (8 bytes, little-endian),
// or a file name.

#include "platform/archive.h"
#include "tiles/internal/tile_input.h"
#include "tiles/tile_error.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "archive_fuzz: %s\n", what);
        std::abort();
    }
}

bool startsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// Reads at the edges of a tile and its last row. (Another grid's view decodes a 3" tile whole,
// tens of milliseconds here; tile_input_fuzz covers it.)
void readTile(hgt::TileInput input)
{
    require(input.fileBytes() == input.grid().bytes(), "an archived tile of another size than its grid");
    std::vector<std::uint8_t> block(64);
    const std::int64_t end = input.fileBytes();
    require(input.readAt(0, block.data(), block.size()).has_value(), "the first bytes");
    require(input.readAt(end - 64, block.data(), block.size()).has_value(), "the last bytes");
    require(!input.readAt(end - 63, block.data(), block.size()).has_value(), "a read across the end");
    const hgt::Result<std::size_t> tail = input.readSomeAt(end - 3, block.data(), 16);
    require(tail && *tail == 3, "the last three bytes");

    const hgt::TileGrid grid = input.grid();
    hgt::GridSource source(std::move(input), grid, hgt::VoidSet({hgt::kVoidValue}));
    const auto row = static_cast<std::size_t>(grid.side);
    std::vector<std::int16_t> values(row);
    std::vector<std::uint8_t> hasValue(row);
    require(source.read((grid.side - 1) * grid.side, row, values.data(), hasValue.data()).has_value(), "the last row");
}

void archive(const std::uint8_t* data, std::size_t size)
{
    const std::string path = "Kacheln/N47E011.SRTMGL1.hgt.zip";
    hgt::Result<hgt::TileInput> tile = hgt::TileInput::openArchiveInMemory(path, data, size);

    // The reader with a size rule of its own: members up to 64 KB are inflated whole.
    std::optional<std::uint64_t> claimed;
    const hgt::Result<std::vector<std::uint8_t>> small =
        hgt::ReadZippedTileInMemory(path, data, size, [&](std::uint64_t bytes) {
            claimed = bytes;
            return bytes <= 65536;
        });
    if (small)
        require(claimed && small->size() == *claimed, "a member of another size than it claims");
    else
        require(startsWith(small.error().message, path + " "), "a refusal that does not name the archive");

    if (!tile) {
        require(startsWith(tile.error().message, path + " "), "a refusal that does not name the archive");
        // A tile refused for its size was never inflated, and its size is none of the two.
        if (claimed && *claimed != static_cast<std::uint64_t>(hgt::kTileBytes)
            && *claimed != static_cast<std::uint64_t>(hgt::kTileBytes3))
            require(tile.error().kind == hgt::TileErrorKind::NotATile, "a member of no tile size not refused as such");
        return;
    }
    require(claimed.has_value(), "a tile whose size the reader never saw");
    require(static_cast<std::uint64_t>(tile->fileBytes()) == *claimed, "a tile of another size than it claims");
    readTile(std::move(*tile));
}

// The grid of a plain file by its size: exactly 3", or 1" and any tail.
void fileSize(const std::uint8_t* data, std::size_t size)
{
    std::int64_t bytes = 0;
    std::memcpy(&bytes, data, std::min(size, sizeof bytes));
    // Mostly near the two grids' sizes, where the rule has its edges.
    if (size > sizeof bytes && data[sizeof bytes] % 4 != 0)
        bytes = (data[sizeof bytes] % 2 ? hgt::kTileBytes : hgt::kTileBytes3) + static_cast<std::int8_t>(data[0]);
    const std::optional<hgt::TileGrid> grid = hgt::GridOfSize(bytes);
    const bool expected = bytes == hgt::kTileBytes3 || bytes >= hgt::kTileBytes;
    require(grid.has_value() == expected, "the grid of a size");
    if (grid) {
        require(grid->bytes() <= bytes, "a grid longer than its file");
        require(grid->bytes() == bytes || *grid == hgt::kGrid1, "a tail on a 3\" tile");
        return;
    }
    const hgt::Error error = hgt::NotATileError("N47E011.hgt", bytes);
    require(error.kind == hgt::TileErrorKind::NotATile, "the kind of a refused size");
    require(error.message.find("(" + std::to_string(bytes) + " Bytes statt ") != std::string::npos,
            "a refusal that does not name the size");
}

// A file name: which files are tiles, the tile they hold, its corner and its neighbours.
void fileName(const std::uint8_t* data, std::size_t size)
{
    const std::string name(reinterpret_cast<const char*>(data), size);
    const std::optional<hgt::TileOrigin> origin = hgt::TileOriginOf(name);
    if (origin) {
        require(origin->latitude >= -90 && origin->latitude <= 90, "a latitude off the globe");
        require(origin->longitude >= -180 && origin->longitude <= 180, "a longitude off the globe");
        // The name made from a corner names the same corner, the longitude wrapped into [-180, 180).
        const std::string made = hgt::TileNameOf(*origin);
        const std::optional<hgt::TileOrigin> again = hgt::TileOriginOf(made);
        require(
            again && again->latitude == origin->latitude
                && (again->longitude == origin->longitude || (origin->longitude == 180 && again->longitude == -180)),
            "a tile name that does not name its corner");
        require(hgt::IsTilePath(made), "a made tile name that is no tile path");
        for (int rowStep = -1; rowStep <= 1; ++rowStep)
            for (int columnStep = -1; columnStep <= 1; ++columnStep) {
                const std::optional<std::string> next = hgt::NeighbourTileName(name, rowStep, columnStep);
                const int latitude = origin->latitude - rowStep;
                require(next.has_value() == (latitude >= -90 && latitude <= 89), "a neighbour beyond a pole");
                if (next) {
                    const std::optional<hgt::TileOrigin> corner = hgt::TileOriginOf(*next);
                    require(corner && corner->latitude == latitude
                                && ((corner->longitude - origin->longitude - columnStep) % 360 + 360) % 360 == 0,
                            "a neighbour in the wrong place");
                }
            }
    }
    if (hgt::IsTilePath(name)) {
        const std::string tileName = hgt::TileName(name);
        require(!hgt::IsZipPath(tileName), "the tile of an archive named as an archive");
        require(tileName.find('/') == std::string::npos, "a tile name with a folder");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    switch (data[0] % 8) {
    case 6:
        fileSize(data + 1, size - 1);
        break;
    case 7:
        fileName(data + 1, size - 1);
        break;
    default:
        archive(data + 1, size - 1);
        break;
    }
    return 0;
}

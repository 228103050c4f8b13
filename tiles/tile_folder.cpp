#include "platform/archive.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "tiles/internal/output_paths.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_error.h"
#include "tiles/internal/tile_input.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace hgt {

namespace {

bool endsWithIgnoringCase(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && EqualsIgnoringCase(text.substr(text.size() - end.size()), end);
}

bool isTileArchive(std::string_view path)
{
    return endsWithIgnoringCase(GetFileName(path), ".hgt.zip");
}

} // namespace

std::optional<TileOrigin> TileOriginOf(std::string_view name)
{
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    if (name.size() < 7)
        return std::nullopt;
    const char ns = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    const char ew = static_cast<char>(std::toupper(static_cast<unsigned char>(name[3])));
    auto digits = [&](std::size_t from, std::size_t count) -> std::optional<int> {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(name[i])))
                return std::nullopt;
            value = value * 10 + (name[i] - '0');
        }
        return value;
    };
    const auto lat = digits(1, 2);
    const auto lon = digits(4, 3);
    if ((ns != 'N' && ns != 'S') || (ew != 'E' && ew != 'W') || !lat || !lon || *lat > 90 || *lon > 180)
        return std::nullopt;
    return TileOrigin{ns == 'S' ? -*lat : *lat, ew == 'W' ? -*lon : *lon};
}

std::string TileNameOf(TileOrigin origin)
{
    const int longitude = ((origin.longitude + 180) % 360 + 360) % 360 - 180;
    char name[32];
    std::snprintf(name, sizeof name, "%c%02d%c%03d.hgt", origin.latitude < 0 ? 'S' : 'N', std::abs(origin.latitude),
                  longitude < 0 ? 'W' : 'E', std::abs(longitude));
    return name;
}

std::optional<std::string> NeighbourTileName(std::string_view name, int rowStep, int columnStep)
{
    const std::optional<TileOrigin> origin = TileOriginOf(name);
    if (!origin)
        return std::nullopt;
    // Row steps go south, latitudes north.
    const int latitude = origin->latitude - rowStep;
    if (latitude < -90 || latitude > 89)
        return std::nullopt;
    return TileNameOf({latitude, origin->longitude + columnStep});
}

bool IsTilePath(std::string_view path)
{
    return EqualsIgnoringCase(GetExtensionName(path), "hgt") || isTileArchive(path);
}

std::string TileName(const std::string& path)
{
    const std::string name = GetFileName(path);
    if (!IsZipPath(name))
        return name;
    return name.substr(0, name.find('.')) + ".hgt";
}

bool FolderHoldsTile(const std::string& folder)
{
    const Result<std::vector<std::string>> files = ListTiles(folder);
    if (!files)
        return false;
    for (const std::string& file : *files) {
        const std::string extension = GetExtensionName(file);
        if (extension == "hgt" || extension == "HGT" || extension == "Hgt" || isTileArchive(file))
            return true;
    }
    return false;
}

Result<std::vector<std::string>> ListTiles(const std::string& folder)
{
    const Result<Folder> found = GetFolder(folder);
    if (!found)
        return found.error();
    Result<std::vector<std::string>> files = Files(*found);
    if (!files)
        return files;
    std::erase_if(*files, [](const std::string& file) { return !IsTilePath(file); });
    return files;
}

Result<std::string> FindTileInFolder(const std::string& folder, const std::string& name)
{
    const std::string exact = JoinPath(folder, name);
    if (FileExists(exact))
        return exact;
    const Error missing{ErrorKind::NotFound, exact + " existiert nicht"};
    const Result<std::vector<std::string>> files = ListTiles(folder);
    if (!files)
        return missing;
    // Plain files first; archives only where no plain file matches.
    for (const bool archives : {false, true}) {
        std::string match;
        for (const std::string& file : *files) {
            if (isTileArchive(file) != archives)
                continue;
            if (EqualsIgnoringCase(archives ? TileName(file) : GetFileName(file), name)) {
                if (!match.empty())
                    return Error{TileErrorKind::Ambiguous, "mehrere Files passen zu " + name + " im Ordner " + folder};
                match = file;
            }
        }
        if (!match.empty())
            return match;
    }
    return missing;
}

std::string DifferenceTilePath(const std::string& primaryPath)
{
    return JoinPath(SiblingFolder(primaryPath, "DIFFS"), TileName(primaryPath));
}

bool LiesInDifferenceFolder(const std::string& path)
{
    return GetFileName(GetParentFolderName(path)) == "DIFFS";
}

Result<> CheckTilePath(const std::string& path)
{
    // Whatever stands there (a FIFO, a folder, a symlink loop) is named by the open that refuses it.
    if (!EntryExists(path))
        return Error{ErrorKind::NotFound, path + " existiert nicht"};
    const Result<TileInput> tile = TileInput::open(path);
    if (!tile)
        return tile.error();
    return {};
}

} // namespace hgt

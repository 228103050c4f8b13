#include "platform/archive.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "tiles/internal/output_paths.h"
#include "tiles/tile_folder.h"
#include "tiles/internal/tile_input.h"

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
                    return Error{ErrorKind::Ambiguous, "mehrere Files passen zu " + name + " im Ordner " + folder};
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

#include "platform/file.h"
#include "platform/file_system.h"
#include "tiles/engine.h"
#include "tiles/internal/tile_walk.h"

namespace hgt {

bool IsTilePath(std::string_view path)
{
    return EqualsIgnoringCase(GetExtensionName(path), "hgt");
}

bool FolderHoldsTile(const std::string& folder)
{
    const Result<Folder> found = GetFolder(folder);
    if (!found)
        return false;
    const Result<std::vector<std::string>> files = Files(*found);
    if (!files)
        return false;
    for (const std::string& file : *files) {
        const std::string extension = GetExtensionName(file);
        if (extension == "hgt" || extension == "HGT" || extension == "Hgt")
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
    const Result<Folder> found = GetFolder(folder);
    if (!found)
        return missing;
    const Result<std::vector<std::string>> files = Files(*found);
    if (!files)
        return missing;
    std::string match;
    for (const std::string& file : *files) {
        if (EqualsIgnoringCase(GetFileName(file), name)) {
            if (!match.empty())
                return Error{ErrorKind::Ambiguous, "mehrere Files passen zu " + name + " im Ordner " + folder};
            match = file;
        }
    }
    if (match.empty())
        return missing;
    return match;
}

std::string SiblingFolder(const std::string& path, const std::string& name)
{
    const std::string parent = GetParentFolderName(path);
    return parent.empty() ? name : JoinPath(parent, name);
}

std::string MergedTilePath(const std::string& primaryPath)
{
    return JoinPath(SiblingFolder(primaryPath, "Merged"), GetFileName(primaryPath));
}

std::string DifferenceTilePath(const std::string& primaryPath)
{
    return JoinPath(SiblingFolder(primaryPath, "DIFFS"), GetFileName(primaryPath));
}

Result<> CheckTilePath(const std::string& path)
{
    if (!FileExists(path))
        return Error{ErrorKind::NotFound, path + " existiert nicht"};
    const Result<File> file = File::openRead(path);
    if (!file)
        return file.error();
    return CheckTileSize(*file);
}

} // namespace hgt

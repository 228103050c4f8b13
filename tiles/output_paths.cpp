#include "tiles/internal/output_paths.h"

#include "platform/file_system.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_error.h"

#include <set>

namespace hgt {

std::string SiblingFolder(const std::string& path, const std::string& name)
{
    const std::string parent = GetParentFolderName(path);
    return parent.empty() ? name : JoinPath(parent, name);
}

std::string MergedTilePath(const std::string& primaryPath)
{
    return JoinPath(SiblingFolder(primaryPath, "Merged"), TileName(primaryPath));
}

std::string ProvenancePath(const std::string& outputPath)
{
    const std::string name = GetFileName(outputPath);
    const std::size_t dot = name.rfind('.');
    const std::size_t cut = outputPath.size() - name.size() + (dot == std::string::npos ? name.size() : dot);
    return outputPath.substr(0, cut) + ".src";
}

std::vector<std::string> MissingFolders(const std::vector<std::string>& folders)
{
    std::set<std::string> missing;
    for (const std::string& folder : folders)
        if (!EntryExists(folder))
            missing.insert(folder);
    return {missing.begin(), missing.end()};
}

void RemoveEmptyFolders(const std::vector<std::string>& folders)
{
    // A real folder, not a link or file put there meanwhile, and only while it is empty.
    for (const std::string& folder : folders)
        RemoveEmptyFolder(folder);
}

Result<> CheckOutputTarget(const std::string& outputPath, const RunInputs& inputs,
                           const std::vector<std::string>& trees)
{
    const std::optional<FileIdentity> output = IdentityOf(outputPath);
    const std::string resolvedOutput = ResolvedPath(outputPath);
    for (const std::string& file : inputs.files) {
        if ((output && output == IdentityOf(file)) || resolvedOutput == ResolvedPath(file))
            return Error{TileErrorKind::OutputIsInput,
                         "Die Ausgabe " + outputPath + " wäre das Eingabefile " + file + " selbst; nichts geschrieben"};
    }
    const std::string outputFolder = GetParentFolderName(outputPath);
    // A tree is read down to its last sub folder: an output anywhere in it, also in a folder still
    // to be made, would be read back as a source. The resolved path leads through any links.
    const std::string resolvedFolder = ResolvedPath(outputFolder.empty() ? "." : outputFolder);
    for (std::string above = resolvedFolder; !above.empty();) {
        const std::optional<FileIdentity> here = IdentityOf(above);
        for (const std::string& tree : trees) {
            if (here && here == IdentityOf(tree))
                return Error{TileErrorKind::OutputIsInput, "Der Ausgabeordner " + outputFolder
                                                               + (above == resolvedFolder ? " ist der" : " liegt im")
                                                               + " Eingabeordner " + tree + "; nichts geschrieben"};
        }
        const std::string parent = GetParentFolderName(above);
        if (parent == above)
            break;
        above = parent;
    }
    const std::optional<FileIdentity> folder = IdentityOf(outputFolder);
    if (!folder)
        return {}; // made new by this run: it cannot hold an input
    for (const std::string& input : inputs.folders) {
        if (folder == IdentityOf(input))
            return Error{TileErrorKind::OutputIsInput, "Der Ausgabeordner " + outputFolder + " ist der Eingabeordner "
                                                           + input + "; nichts geschrieben"};
    }
    return {};
}

} // namespace hgt

#pragma once

// File-system services over std::filesystem. Paths are plain UTF-8 strings composed with the host's
// separator. The string operations never touch the disk; the others do and never throw.

#include <string>
#include <string_view>
#include <vector>

namespace hgt {

// Outcome of a file-system step: ok, or a message that names the path and the system's reason.
struct FsStatus {
    bool ok = true;
    std::string message;
    std::string reason; // the system's own words, where it gave any

    explicit operator bool() const { return ok; }
    static FsStatus failure(std::string text, std::string reason = {})
    {
        return {false, std::move(text), std::move(reason)};
    }
};

struct Folder {
    std::string path;
};

struct FolderListing {
    FsStatus status;
    std::vector<std::string> files; // full paths, sorted by file name ignoring letter case
};

char PathSeparator();

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

// An existing folder, or a failed status when no folder exists at the path.
FsStatus GetFolder(const std::string& path, Folder& folder);

// Every regular file directly in the folder (no sub folders, no recursion).
FolderListing Files(const Folder& folder);

std::string GetExtensionName(std::string_view path);
std::string GetFileName(std::string_view path);
std::string GetParentFolderName(std::string_view path);

FsStatus CreateFolder(const std::string& path);

// CreateFolder, only where FolderExists says the folder is missing.
FsStatus EnsureFolder(const std::string& path);

// left + separator + right, with the separator added even where left already ends with one.
std::string JoinPath(std::string_view left, std::string_view right);

// Equal ignoring ASCII letter case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

} // namespace hgt

#pragma once

// File-system services over std::filesystem. Paths are plain UTF-8 strings composed with the host's
// separator. The string operations never touch the disk; the others do and never throw.

#include "platform/error.h"
#include "platform/file.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hgt {

struct Folder {
    std::string path;
};

char PathSeparator();

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Anything at all stands at the path: a file, a folder, a FIFO, a device, a symlink, even a dangling one.
bool EntryExists(const std::string& path);

// An existing folder, or NotFound when no folder exists at the path.
Result<Folder> GetFolder(const std::string& path);

// Every regular file directly in the folder (no sub folders, no recursion), as full paths sorted
// by file name ignoring letter case.
Result<std::vector<std::string>> Files(const Folder& folder);

std::string GetExtensionName(std::string_view path);
std::string GetFileName(std::string_view path);
std::string GetParentFolderName(std::string_view path);

Result<> CreateFolder(const std::string& path);

// Removes a file (not a folder); a file that is not there is no error.
Result<> RemoveFile(const std::string& path);

// Removes a real folder (not a link to one) if it is empty; anything else stays, without a word.
void RemoveEmptyFolder(const std::string& path);

// CreateFolder, only where FolderExists says the folder is missing. A symlink whose target is
// missing, or a file in the folder's place, is named as such.
Result<> EnsureFolder(const std::string& path);

// Device and inode of what the path names, symlinks followed; none when nothing is there.
std::optional<FileIdentity> IdentityOf(const std::string& path);

// The path with symlinks, "." and ".." resolved as far as it exists (for comparing paths).
std::string ResolvedPath(const std::string& path);

// left + separator + right, with the separator added even where left already ends with one.
std::string JoinPath(std::string_view left, std::string_view right);

// Equal ignoring ASCII letter case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

} // namespace hgt

#pragma once

// The names of SaveFile's temporary files, shared by its POSIX and Windows parts.

#include <string>
#include <string_view>

namespace hgt {

// ".hgtfill-XXXXXXXX.tmp" in the target's folder.
std::string TemporaryName(const std::string& targetPath);
bool IsTemporaryName(std::string_view name);
// The target's folder, "." for a bare name.
std::string FolderOf(const std::string& path);

} // namespace hgt

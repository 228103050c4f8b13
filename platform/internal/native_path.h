#pragma once

// std::filesystem paths from the program's UTF-8 strings and back. On Windows a path made from a
// std::string would be read in the ANSI code page, which mangles every name outside it.

#include <filesystem>
#include <string>
#include <string_view>

#ifdef _WIN32
#include "platform/internal/windows_text.h"
#endif

namespace hgt {

inline std::filesystem::path NativePath(std::string_view utf8)
{
#ifdef _WIN32
    return std::filesystem::path(windows::Widen(utf8));
#else
    return std::filesystem::path(utf8);
#endif
}

inline std::string Utf8Path(const std::filesystem::path& path)
{
#ifdef _WIN32
    return windows::Narrow(path.native());
#else
    return path.native();
#endif
}

} // namespace hgt

#pragma once

// UTF-8 inside the program, UTF-16 at the Windows system boundary.

#include <string>
#include <string_view>

namespace hgt::windows {

// Invalid UTF-8 becomes U+FFFD, as the system's converter makes it.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The path for the wide file functions: separators made backslashes, and absolute paths longer than
// the classic limit prefixed with \\?\ (or \\?\UNC\), so that paths over 260 characters work
// whatever the system's long-path setting.
std::wstring SystemPath(std::string_view utf8);

} // namespace hgt::windows

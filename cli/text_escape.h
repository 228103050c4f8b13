#pragma once

// File names as they may safely reach a terminal or a script: a name can hold any byte but '/' and
// NUL, newlines and terminal escape sequences included.

#include <cstddef>
#include <string>
#include <string_view>

namespace hgt::cli {

// The length of the valid UTF-8 sequence at the start of `text`, or 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view text);
bool IsUtf8(std::string_view text);

// The text with control characters, C1 controls, bytes that are not UTF-8 and the backslash itself
// written as backslash escapes (\n, \t, \033, \\), the way `ls --escape` shows names. On Windows,
// where the backslash is the path separator, it stays as it is.
std::string Printable(std::string_view text);

// Two lower-case hex digits per byte.
std::string HexBytes(std::string_view text);

} // namespace hgt::cli

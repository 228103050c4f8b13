#pragma once

// Errors from GetLastError() codes, in the same German words as the errno reasons.

#include "platform/error.h"

#include <string>

namespace hgt::windows {

std::string Reason(unsigned long code);
ErrorKind KindOf(unsigned long code);
// "<subject><what>: <reason>", with the kind taken from the code.
Error SystemError(const std::string& subject, const std::string& what, unsigned long code);
// The same for a failure on `path`: access refused to a file that carries the read-only attribute
// names the attribute, since that is what the user can change.
Error PathError(const std::string& subject, const std::string& what, unsigned long code, const std::string& path);

// Why Windows would not keep a file or folder under `name` (one path component): device names
// such as CON, NUL or COM1, with or without an extension, names ending in a dot or a blank, which
// Windows shortens silently, and names over the 255 UTF-16 units that NTFS allows. Empty when the
// name is fine.
std::string UnusableNameReason(const std::string& name);

} // namespace hgt::windows

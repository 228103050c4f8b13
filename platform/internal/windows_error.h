#pragma once

// Errors from GetLastError() codes, in the same German words as the errno reasons.

#include "platform/error.h"

#include <string>

namespace hgt::windows {

std::string Reason(unsigned long code);
ErrorKind KindOf(unsigned long code);
// "<subject><what>: <reason>", with the kind taken from the code.
Error SystemError(const std::string& subject, const std::string& what, unsigned long code);

} // namespace hgt::windows

#pragma once

#include <string>

namespace hgt {

// A number as German texts write it: decimal comma, `places` digits after it, "+" before positive
// values when `sign` is set. A value that rounds to zero has no sign: "0,0", not "-0,0".
std::string GermanDecimal(double value, int places, bool sign = false);

} // namespace hgt

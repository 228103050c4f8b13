#include "platform/german_number.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hgt {

std::string GermanDecimal(double value, int places, bool sign)
{
    if (std::round(value * std::pow(10.0, places)) == 0) {
        value = 0;
        sign = false;
    }
    char text[400];
    std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", places, value);
    std::string out = text;
    std::replace(out.begin(), out.end(), '.', ',');
    return out;
}

} // namespace hgt

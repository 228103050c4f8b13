#pragma once

// The helpers' former home, for test files written before tests/support/.

#include "tests/support/reference_fill.h"
#include "tests/support/tiles.h"

namespace hgt::test {

inline ::testing::AssertionResult sameBytes(const Bytes& actual, const Bytes& expected)
{
    return sameTile(actual, expected);
}

} // namespace hgt::test

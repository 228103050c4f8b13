#pragma once

// The helpers' former home, for test files written before tests/support/.

#include "tests/test_support.h"

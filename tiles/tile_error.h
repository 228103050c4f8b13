#pragma once

// The kinds of error the tile layer adds to the system's (platform/error.h): what makes a file no
// tile, and what keeps a run from writing.

#include "platform/error.h"

namespace hgt {

namespace TileErrorKind {
inline constexpr ErrorKind NotATile = KindAbove(0);      // a file of the wrong size or content, or no regular file
inline constexpr ErrorKind SameFile = KindAbove(1);      // a secondary or comparison tile that is the primary itself
inline constexpr ErrorKind Ambiguous = KindAbove(2);     // several files match a tile's name ignoring letter case
inline constexpr ErrorKind OutputIsInput = KindAbove(3); // an output would replace an input, or go into a source folder
inline constexpr ErrorKind OutputClash = KindAbove(4);   // two tiles of one batch would write the same output
} // namespace TileErrorKind

// An error of the system met while reading a tile, in the tile's words: a file that is no regular
// file, or whose bytes are not what the reader needed, is no tile. Other kinds stay as they are.
Error AsTileError(Error error);

} // namespace hgt

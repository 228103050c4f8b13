#include "tiles/tile_error.h"

#include <utility>

namespace hgt {

Error AsTileError(Error error)
{
    if (error.kind == ErrorKind::NotAFile || error.kind == ErrorKind::BadContent)
        error.kind = TileErrorKind::NotATile;
    return error;
}

} // namespace hgt

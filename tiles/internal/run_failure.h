#pragma once

#include "tiles/run_result.h"

#include <string>

namespace hgt {

// A run that ended in a failure.
inline void MarkFailed(TileResult& result, const Error& error)
{
    result.end = RunEnd::Failed;
    result.error = error;
    result.output.clear();
    result.provenance.clear();
}

inline TileResult FailedResult(const std::string& tile, const Error& error)
{
    TileResult result;
    result.tile = tile;
    MarkFailed(result, error);
    return result;
}

} // namespace hgt

#pragma once

// The offsets primary - filler measured on the rims of a tile's void regions, and their statistics.

#include "tiles/run_result.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace hgt {

// The offsets on one region's rim in the order they were met: the sample's rank and the offset.
using RimOffsets = std::vector<std::pair<std::uint32_t, float>>;

// The value below which a share q of `values` lies (the nearest rank); reorders `values`.
double Quantile(std::vector<float>& values, double q);

// The median and spread of the offsets of all rims. A sample on the rims of several regions
// counts once, with the offset of the first region that met it: the rims are added in the
// regions' order, so that the figures do not depend on which thread bridged which region.
class RimTally {
public:
    explicit RimTally(std::size_t samples) : m_counted(samples) {}

    void add(const RimOffsets& rim);
    OffsetStats stats();

private:
    std::vector<bool> m_counted; // by rank
    std::vector<float> m_offsets;
};

} // namespace hgt

#include "tiles/internal/rim_offsets.h"

#include <algorithm>

namespace hgt {

double Quantile(std::vector<float>& values, double q)
{
    const auto k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

void RimTally::add(const RimOffsets& rim)
{
    for (const auto& [k, offset] : rim) {
        if (!m_counted[k]) {
            m_counted[k] = true;
            m_offsets.push_back(offset);
        }
    }
}

OffsetStats RimTally::stats()
{
    OffsetStats stats;
    stats.rimSamples = static_cast<std::int64_t>(m_offsets.size());
    if (!m_offsets.empty()) {
        stats.median = Quantile(m_offsets, 0.5);
        stats.interquartileRange = Quantile(m_offsets, 0.75) - Quantile(m_offsets, 0.25);
    }
    return stats;
}

} // namespace hgt

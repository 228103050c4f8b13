#pragma once

// The sample rules on one block of whole samples (n bytes), in place in `primary`: the loops every
// fill and difference runs over its blocks.

#include <cstddef>
#include <cstdint>

namespace hgt {

std::size_t CountVoids(const std::uint8_t* block, std::size_t n);
// Returns the voids left (void in both).
std::size_t FillVoids(std::uint8_t* primary, const std::uint8_t* secondary, std::size_t n);
// Returns the voids of the difference (void in either).
std::size_t SubtractSamples(std::uint8_t* primary, const std::uint8_t* comparison, std::size_t n);

// Which code SubtractSamples runs: the best the processor has (the default), the x86-64 baseline
// (SSE2), or plain C++; the tests hold them to the same results.
enum class KernelPath { Best, Baseline, Portable };
std::size_t SubtractSamples(std::uint8_t* primary, const std::uint8_t* comparison, std::size_t n, KernelPath path);

} // namespace hgt

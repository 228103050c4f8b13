// InspectTile: one read of a tile in blocks, summing up its samples without changing anything.

#include "platform/file.h"
#include "tiles/engine.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <vector>

namespace hgt {

namespace {

// The side of a square grid of 16-bit samples that is exactly `bytes` long, or 0.
std::int64_t gridSide(std::int64_t bytes)
{
    if (bytes <= 0 || bytes % 2 != 0)
        return 0;
    const std::int64_t samples = bytes / 2;
    auto side = static_cast<std::int64_t>(std::llround(std::sqrt(static_cast<double>(samples))));
    while (side * side > samples)
        --side;
    while ((side + 1) * (side + 1) <= samples)
        ++side;
    return side * side == samples ? side : 0;
}

Result<TileInfo> inspect(const std::string& path)
{
    Result<File> opened = File::openRead(path);
    if (!opened)
        return opened.error();
    const File& file = *opened;
    const Result<std::int64_t> size = file.size();
    if (!size)
        return size.error();

    TileInfo info;
    info.path = path;
    info.bytes = *size;
    info.side = gridSide(*size);

    // An even block size keeps every sample inside one block; a trailing odd byte is no sample.
    static_assert(kDefaultBlockBytes % 2 == 0);
    std::vector<std::uint8_t> block(kDefaultBlockBytes);
    std::int64_t sum = 0;
    std::int64_t counted = 0;
    std::int16_t minimum = std::numeric_limits<std::int16_t>::max();
    std::int16_t maximum = std::numeric_limits<std::int16_t>::min();
    bool pairAtOdd = false;
    bool havePrevious = false;
    std::uint8_t previous = 0; // the last byte of the block before, for a pair across the boundary

    for (std::int64_t offset = 0; offset < *size;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(*size - offset, kDefaultBlockBytes));
        if (Result<> read = file.readAt(offset, block.data(), n); !read)
            return read.error();
        if (havePrevious && previous == kVoidHigh && block[0] == kVoidLow)
            pairAtOdd = true; // block sizes are even: the byte before a block starts at an odd offset
        for (std::size_t k = 1; !pairAtOdd && k + 1 < n; k += 2)
            pairAtOdd = block[k] == kVoidHigh && block[k + 1] == kVoidLow;
        for (std::size_t k = 0; k + 1 < n; k += 2) {
            const auto sample = static_cast<std::int16_t>(static_cast<std::uint16_t>(block[k] << 8 | block[k + 1]));
            if (sample == kVoidValue) {
                ++info.voids;
                continue;
            }
            sum += sample;
            ++counted;
            minimum = std::min(minimum, sample);
            maximum = std::max(maximum, sample);
        }
        previous = block[n - 1];
        havePrevious = true;
        offset += static_cast<std::int64_t>(n);
    }

    if (counted > 0) {
        info.minimum = minimum;
        info.maximum = maximum;
        info.mean = static_cast<double>(sum) / static_cast<double>(counted);
    }
    info.pairAtOddOffsetOnly = pairAtOdd && info.voids == 0;
    return info;
}

} // namespace

Result<TileInfo> InspectTile(const std::string& path)
{
    try {
        return inspect(path);
    } catch (const std::exception& error) {
        return Error{ErrorKind::Internal, "Interner Fehler bei " + path + ": " + error.what()};
    } catch (...) {
        return Error{ErrorKind::Internal, "Interner Fehler bei " + path};
    }
}

} // namespace hgt

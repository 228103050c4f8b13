// InspectTile: one read of a tile in blocks, summing up its samples without changing anything;
// ReadTileSamples: the samples decoded whole.

#include "platform/archive.h"
#include "platform/file.h"
#include "tiles/internal/samples.h"
#include "tiles/internal/tile_input.h"
#include "tiles/tile_folder.h"
#include "tiles/run_options.h"
#include "tiles/tile_error.h"
#include "tiles/tile_info.h"

#include <algorithm>
#include <bit>
#include <cmath>
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

// Sums up `sampleBytes` bytes of samples and looks for the void marker's byte pair in all
// `fileBytes`, as the hole test does. `Source` reads by position: a TileInput or a File.
template <class Source>
Result<TileInfo> scan(const Source& source, std::int64_t fileBytes, std::int64_t sampleBytes, const VoidSet& voids,
                      TileInfo info)
{
    // An even block size keeps every sample inside one block; a trailing odd byte is no sample.
    static_assert(kDefaultBlockBytes % 2 == 0);
    std::vector<std::uint8_t> block(kDefaultBlockBytes);
    std::int64_t sum = 0;
    std::int64_t counted = 0;
    std::int64_t markerSamples = 0;
    std::int16_t minimum = std::numeric_limits<std::int16_t>::max();
    std::int16_t maximum = std::numeric_limits<std::int16_t>::min();
    bool pairElsewhere = false; // D8 F1 at an odd offset, or in the tail past the tile's samples
    bool havePrevious = false;
    std::uint8_t previous = 0; // the last byte of the block before, for a pair across the boundary

    for (std::int64_t offset = 0; offset < fileBytes;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(fileBytes - offset, kDefaultBlockBytes));
        if (Result<> read = source.readAt(offset, block.data(), n); !read)
            return read.error();
        if (havePrevious && previous == kVoidHigh && block[0] == kVoidLow)
            pairElsewhere = true; // block sizes are even: the byte before a block starts at an odd offset
        for (std::size_t k = 0; !pairElsewhere && k + 1 < n; ++k) {
            if (block[k] != kVoidHigh || block[k + 1] != kVoidLow)
                continue;
            const std::int64_t at = offset + static_cast<std::int64_t>(k);
            pairElsewhere = at % 2 != 0 || at >= sampleBytes;
        }
        const auto samples =
            static_cast<std::size_t>(std::clamp<std::int64_t>(sampleBytes - offset, 0, static_cast<std::int64_t>(n)));
        for (std::size_t k = 0; k + 1 < samples; k += 2) {
            const std::int16_t sample = DecodeSample(block.data() + k);
            markerSamples += sample == kVoidValue;
            if (voids.isVoid(sample)) {
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
    // Only where the marker is a void value does fill look for its byte pair anywhere in the file.
    info.pairAtOddOffsetOnly = voids.hasMarker() && pairElsewhere && markerSamples == 0;
    return info;
}

// A plain file that is no tile by its size is still summed up as a grid of samples, so that info
// shows what a file holds that fill refuses.
Result<TileInfo> inspectPlainFile(const std::string& path, const VoidSet& voids)
{
    Result<File> opened = File::openRead(path);
    if (!opened)
        return AsTileError(opened.error());
    const Result<std::int64_t> size = opened->size();
    if (!size)
        return size.error();
    TileInfo info;
    info.path = path;
    info.bytes = *size;
    info.side = gridSide(*size);
    Result<TileInfo> scanned = scan(*opened, *size, *size & ~std::int64_t{1}, voids, std::move(info));
    if (!scanned)
        return AsTileError(scanned.error());
    return scanned;
}

Result<TileInfo> inspect(const std::string& path, const VoidSet& voids)
{
    // Through the engine's tile input, so that an archive and a 3" tile report the tile they hold
    // exactly as fill reads it.
    Result<TileInput> input = TileInput::open(path);
    if (!input) {
        if (input.error().kind == TileErrorKind::NotATile && !IsZipPath(path))
            return inspectPlainFile(path, voids);
        return input.error();
    }
    TileInfo info;
    info.path = path;
    info.bytes = input->fileBytes();
    info.side = input->grid().side;
    return scan(*input, input->fileBytes(), input->grid().bytes(), voids, std::move(info));
}

Result<TileSamples> readSamples(const std::string& path, const std::vector<std::int16_t>& voidValues)
{
    Result<TileInput> input = TileInput::open(path);
    if (!input)
        return input.error();
    TileSamples samples;
    samples.name = TileName(path);
    samples.side = static_cast<int>(input->grid().side);
    if (!voidValues.empty())
        samples.voidValues = voidValues;
    // Read straight into the samples, then turn the big-endian words around in place.
    samples.values.resize(static_cast<std::size_t>(input->grid().side * input->grid().side));
    if (Result<> read =
            input->readAt(0, reinterpret_cast<std::uint8_t*>(samples.values.data()), samples.values.size() * 2);
        !read)
        return read.error();
    if constexpr (std::endian::native == std::endian::little) {
        for (std::int16_t& v : samples.values)
            v = std::byteswap(v);
    }
    return samples;
}

} // namespace

Result<TileInfo> InspectTile(const std::string& path, const std::vector<std::int16_t>& voidValues)
{
    try {
        return inspect(path, VoidSet(voidValues));
    } catch (...) {
        return CaughtError(path);
    }
}

Result<TileSamples> ReadTileSamples(const std::string& path, const std::vector<std::int16_t>& voidValues)
{
    try {
        return readSamples(path, voidValues);
    } catch (...) {
        return CaughtError(path);
    }
}

} // namespace hgt

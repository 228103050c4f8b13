#pragma once

#include "platform/file.h"
#include "tiles/tile_format.h"
#include "tiles/tile_source.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hgt {

// A tile's sample grid, known from its size.
struct TileGrid {
    std::int64_t side = kTileSide;
    std::int64_t bytes() const { return side * side * 2; }
    friend bool operator==(const TileGrid&, const TileGrid&) = default;
};
inline constexpr TileGrid kGrid1{kTileSide};
inline constexpr TileGrid kGrid3{kTileSide3};

// The grid of a file of `size` bytes: exactly 3" or at least 1" (a longer 1" file's tail is ignored).
std::optional<TileGrid> GridOfSize(std::int64_t size);
Error NotATileError(const std::string& path, std::int64_t size);

// A tile opened for reading: a plain file, read by position, or the tile of a zip archive, inflated
// into memory. Movable, not copyable.
class TileInput {
public:
    static Result<TileInput> open(const std::string& path);
    // The tile of a zip archive held in memory, taken as open() takes it from the archive `path`.
    static Result<TileInput> openArchiveInMemory(const std::string& path, const std::uint8_t* data, std::size_t size);
    // A tile in memory made of host-order samples (side*side of a tile grid), e.g. taken from rasters.
    static Result<TileInput> fromSamples(const std::string& path, const std::vector<std::int16_t>& values);

    const std::string& path() const { return m_path; }
    const TileGrid& grid() const { return m_grid; }
    // All bytes of the file, a longer file's tail included (the hole test reads them all).
    std::int64_t fileBytes() const { return m_fileBytes; }
    std::optional<FileIdentity> identity() const;

    Result<> readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t n) const;
    Result<std::size_t> readSomeAt(std::int64_t offset, std::uint8_t* buffer, std::size_t n) const;
    void close();

private:
    static Result<TileInput> ofArchive(const std::string& path, Result<std::vector<std::uint8_t>> bytes);

    std::string m_path;
    TileGrid m_grid;
    std::int64_t m_fileBytes = 0;
    File m_file;
    std::vector<std::uint8_t> m_bytes; // the inflated tile of an archive
    bool m_inMemory = false;
};

// The void values of a run, with a test for one raw (big-endian) sample word.
class VoidSet {
public:
    explicit VoidSet(const std::vector<std::int16_t>& values);
    bool isDefault() const { return m_default; }   // -9999 alone
    bool hasMarker() const { return m_hasMarker; } // -9999 among them
    bool isVoid(std::int16_t value) const
    {
        for (std::int16_t v : m_values)
            if (v == value)
                return true;
        return false;
    }
    const std::vector<std::int16_t>& values() const { return m_values; }

private:
    std::vector<std::int16_t> m_values;
    bool m_default = true;
    bool m_hasMarker = true;
};

// A source tile seen on the grid of the tile being filled: the same grid read as it is, a 3" source
// for a 1" tile interpolated bilinearly in integers, a 1" source for a 3" tile taken at every third
// node. A sample that the source cannot give (a void under a non-zero weight) has no value.
class GridSource {
public:
    // With a conversion, every sample read is brought to the tiles' vertical datum.
    GridSource(TileInput input, TileGrid target, const VoidSet& voids,
               std::shared_ptr<const TileConversion> conversion = nullptr);

    bool sameGrid() const { return m_input.grid() == m_target; }
    // Whether the input's bytes are the samples as read: same grid and no conversion. Only then may a
    // reader take the bytes past read().
    bool bytesAreSamples() const { return sameGrid() && !m_conversion; }
    const TileInput& input() const { return m_input; }

    // Samples [first, first + count) of the target grid: values and whether each one has a value.
    // With `wanted`, only the samples it marks are looked up; the others have no value.
    Result<> read(std::int64_t first, std::size_t count, std::int16_t* values, std::uint8_t* hasValue,
                  const std::uint8_t* wanted = nullptr);

private:
    Result<> loadCoarse();
    Result<> readOnGrid(std::int64_t first, std::size_t count, std::int16_t* values, std::uint8_t* hasValue,
                        const std::uint8_t* wanted);

    TileInput m_input;
    TileGrid m_target;
    VoidSet m_voids;
    std::vector<std::int16_t> m_coarse; // a whole 3" source, decoded, when the target is 1"
    std::vector<std::uint8_t> m_row;    // one row of a 1" source, when the target is 3"
    std::vector<std::uint8_t> m_raw;    // the bytes of a block on the same grid
    std::shared_ptr<const TileConversion> m_conversion;
};

} // namespace hgt

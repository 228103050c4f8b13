#include "tiles/internal/tile_input.h"

#include "tiles/internal/samples.h"
#include "platform/archive.h"
#include "tiles/tile_error.h"

#include <algorithm>
#include <cstring>

namespace hgt {

namespace {

// Integer division rounded to the nearest whole number; n / 9 never lies halfway.
std::int32_t roundedNinth(std::int32_t n)
{
    return n >= 0 ? (n + 4) / 9 : -((-n + 4) / 9);
}

} // namespace

std::optional<TileGrid> GridOfSize(std::int64_t size)
{
    if (size == kTileBytes3)
        return kGrid3;
    if (size >= kTileBytes)
        return kGrid1;
    return std::nullopt;
}

Error NotATileError(const std::string& path, std::int64_t size)
{
    return {TileErrorKind::NotATile, path + " ist kein HGT-File (" + std::to_string(size) + " Bytes statt "
                                         + std::to_string(kTileBytes) + " Bytes für 1″ oder "
                                         + std::to_string(kTileBytes3) + " Bytes für 3″)"};
}

namespace {

// An archive's member is a tile only at one of the two grids' exact sizes; nothing else is inflated.
bool isTileSize(std::uint64_t size)
{
    return size == static_cast<std::uint64_t>(kTileBytes) || size == static_cast<std::uint64_t>(kTileBytes3);
}

} // namespace

Result<TileInput> TileInput::open(const std::string& path)
{
    if (IsZipPath(path))
        return ofArchive(path, ReadZippedTile(path, isTileSize));
    TileInput input;
    input.m_path = path;
    Result<File> file = File::openRead(path);
    if (!file)
        return AsTileError(file.error());
    input.m_fileBytes = file->openedSize();
    input.m_file = std::move(*file);
    const std::optional<TileGrid> grid = GridOfSize(input.m_fileBytes);
    if (!grid)
        return NotATileError(path, input.m_fileBytes);
    input.m_grid = *grid;
    return input;
}

Result<TileInput> TileInput::openArchiveInMemory(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    return ofArchive(path, ReadZippedTileInMemory(path, data, size, isTileSize));
}

Result<TileInput> TileInput::ofArchive(const std::string& path, Result<std::vector<std::uint8_t>> bytes)
{
    if (!bytes)
        return AsTileError(bytes.error());
    TileInput input;
    input.m_path = path;
    input.m_bytes = std::move(*bytes);
    input.m_inMemory = true;
    input.m_fileBytes = static_cast<std::int64_t>(input.m_bytes.size());
    const std::optional<TileGrid> grid = GridOfSize(input.m_fileBytes);
    if (!grid)
        return NotATileError(path, input.m_fileBytes);
    input.m_grid = *grid;
    return input;
}

Result<TileInput> TileInput::fromSamples(const std::string& path, const std::vector<std::int16_t>& values)
{
    const auto bytes = static_cast<std::int64_t>(values.size() * 2);
    const std::optional<TileGrid> grid = GridOfSize(bytes);
    if (!grid || grid->bytes() != bytes)
        return NotATileError(path, bytes);
    TileInput input;
    input.m_path = path;
    input.m_grid = *grid;
    input.m_fileBytes = bytes;
    input.m_inMemory = true;
    input.m_bytes.resize(values.size() * 2);
    for (std::size_t k = 0; k < values.size(); ++k)
        EncodeSample(input.m_bytes.data() + 2 * k, values[k]);
    return input;
}

std::optional<FileIdentity> TileInput::identity() const
{
    if (m_inMemory)
        return std::nullopt;
    const Result<FileIdentity> id = m_file.identity();
    return id ? std::optional<FileIdentity>(*id) : std::nullopt;
}

Result<std::size_t> TileInput::readSomeAt(std::int64_t offset, std::uint8_t* buffer, std::size_t n) const
{
    if (!m_inMemory)
        return m_file.readSomeAt(offset, buffer, n);
    const std::int64_t available = std::max<std::int64_t>(0, m_fileBytes - offset);
    const auto count = static_cast<std::size_t>(std::min<std::int64_t>(available, static_cast<std::int64_t>(n)));
    std::memcpy(buffer, m_bytes.data() + offset, count);
    return count;
}

Result<> TileInput::readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t n) const
{
    if (!m_inMemory) {
        if (Result<> read = m_file.readAt(offset, buffer, n); !read)
            return AsTileError(read.error());
        return {};
    }
    if (offset + static_cast<std::int64_t>(n) > m_fileBytes)
        return Error{TileErrorKind::NotATile, m_path + " kann nicht gelesen werden: Datei ist zu kurz"};
    std::memcpy(buffer, m_bytes.data() + offset, n);
    return {};
}

void TileInput::close()
{
    (void)m_file.close();
    m_bytes.clear();
    m_bytes.shrink_to_fit();
}

VoidSet::VoidSet(const std::vector<std::int16_t>& values) : m_values(values)
{
    if (m_values.empty())
        m_values = {kVoidValue};
    std::sort(m_values.begin(), m_values.end());
    m_values.erase(std::unique(m_values.begin(), m_values.end()), m_values.end());
    m_default = m_values == std::vector<std::int16_t>{kVoidValue};
    m_hasMarker = std::find(m_values.begin(), m_values.end(), kVoidValue) != m_values.end();
}

GridSource::GridSource(TileInput input, TileGrid target, const VoidSet& voids,
                       std::shared_ptr<const TileConversion> conversion)
    : m_input(std::move(input)), m_target(target), m_voids(voids), m_conversion(std::move(conversion))
{}

Result<> GridSource::loadCoarse()
{
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(kTileBytes3));
    if (Result<> read = m_input.readAt(0, raw.data(), raw.size()); !read)
        return read;
    m_coarse.resize(static_cast<std::size_t>(kTileSide3 * kTileSide3));
    for (std::size_t k = 0; k < m_coarse.size(); ++k)
        m_coarse[k] = DecodeSample(raw.data() + 2 * k);
    return {};
}

Result<> GridSource::read(std::int64_t first, std::size_t count, std::int16_t* values, std::uint8_t* hasValue,
                          const std::uint8_t* wanted)
{
    if (Result<> read = readOnGrid(first, count, values, hasValue, wanted); !read)
        return read;
    // Samples without a value are converted too: cheaper than skipping them, and nobody reads them.
    if (m_conversion)
        m_conversion->apply(first, std::span(values, count));
    return {};
}

Result<> GridSource::readOnGrid(std::int64_t first, std::size_t count, std::int16_t* values, std::uint8_t* hasValue,
                                const std::uint8_t* wanted)
{
    const std::int64_t side = m_target.side;
    if (sameGrid()) {
        m_raw.resize(count * 2);
        if (Result<> read = m_input.readAt(first * 2, m_raw.data(), m_raw.size()); !read)
            return read;
        if (wanted) {
            for (std::size_t i = 0; i < count; ++i) {
                values[i] = wanted[i] ? DecodeSample(m_raw.data() + 2 * i) : std::int16_t{0};
                hasValue[i] = wanted[i] && !m_voids.isVoid(values[i]);
            }
            return {};
        }
        for (std::size_t i = 0; i < count; ++i)
            values[i] = DecodeSample(m_raw.data() + 2 * i);
        for (std::size_t i = 0; i < count; ++i)
            hasValue[i] = !m_voids.isVoid(values[i]);
        return {};
    }
    if (m_target == kGrid1) {
        // A 3" source for a 1" tile: bilinear between the four coarse nodes around (r/3, c/3), in ninths.
        if (m_coarse.empty()) {
            if (Result<> loaded = loadCoarse(); !loaded)
                return loaded;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (wanted && !wanted[i]) {
                hasValue[i] = 0;
                continue;
            }
            const std::int64_t k = first + static_cast<std::int64_t>(i);
            const std::int64_t r = k / side, c = k % side;
            const std::int64_t row = r / 3, col = c / 3;
            const auto a = static_cast<std::int32_t>(r % 3), b = static_cast<std::int32_t>(c % 3);
            const std::int32_t weights[4] = {(3 - a) * (3 - b), (3 - a) * b, a * (3 - b), a * b};
            const std::int64_t nodes[4] = {row * kTileSide3 + col, row * kTileSide3 + col + 1,
                                           (row + 1) * kTileSide3 + col, (row + 1) * kTileSide3 + col + 1};
            std::int32_t sum = 0;
            bool usable = true;
            for (int n = 0; n < 4; ++n) {
                if (weights[n] == 0)
                    continue; // also keeps the last row and column inside the coarse grid
                const std::int16_t v = m_coarse[static_cast<std::size_t>(nodes[n])];
                usable = usable && !m_voids.isVoid(v);
                sum += weights[n] * v;
            }
            hasValue[i] = usable;
            values[i] = usable ? static_cast<std::int16_t>(roundedNinth(sum)) : std::int16_t{0};
        }
        return {};
    }
    // A 1" source for a 3" tile: the fine node at (3r, 3c), read a fine row at a time.
    m_row.resize(static_cast<std::size_t>(kTileSide * 2));
    std::int64_t loadedRow = -1;
    for (std::size_t i = 0; i < count; ++i) {
        if (wanted && !wanted[i]) {
            hasValue[i] = 0;
            continue;
        }
        const std::int64_t k = first + static_cast<std::int64_t>(i);
        const std::int64_t r = k / side, c = k % side;
        if (r != loadedRow) {
            if (Result<> read = m_input.readAt(3 * r * kTileSide * 2, m_row.data(), m_row.size()); !read)
                return read;
            loadedRow = r;
        }
        values[i] = DecodeSample(m_row.data() + 2 * (3 * c));
        hasValue[i] = !m_voids.isVoid(values[i]);
    }
    return {};
}

} // namespace hgt

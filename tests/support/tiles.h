#pragma once

// Writing, reading, making and comparing tiles for the tests of every layer, with the temporary
// folders they live in.

#include "tiles/tile_format.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/internal/samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace hgt::test {

using Bytes = std::vector<std::uint8_t>;

// The sources of a fill from folders of HGT tiles alone, in priority order.
inline std::vector<FillSource> FolderSources(const std::vector<std::string>& folders)
{
    std::vector<FillSource> sources;
    for (const std::string& folder : folders)
        sources.push_back({folder, nullptr});
    return sources;
}

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "hgtfill-";
        if (info)
            name += std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        // A random suffix keeps two runs of the same test (ctest -j, two build folders) apart.
        std::random_device random;
        name += "-" + std::to_string(random()) + std::to_string(random());
        m_path = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // With the system's separators throughout, as the engines join their paths (no change on POSIX).
    std::string operator/(const std::string& relative) const { return (m_path / relative).make_preferred().string(); }

private:
    std::filesystem::path m_path;
};

// A path or message written with "/" as the system writes it (no change on POSIX).
inline std::string nativePath(std::string path)
{
    std::replace(path.begin(), path.end(), '/', static_cast<char>(std::filesystem::path::preferred_separator));
    return path;
}

inline void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

// In one read: byte by byte, a full tile takes seconds in a sanitizer build.
inline Bytes readBytes(const std::string& path)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec)
        return {};
    Bytes bytes(static_cast<std::size_t>(size));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// The names in a folder, hidden ones and subfolders included; none when there is no folder.
inline std::set<std::string> folderEntries(const std::string& folder)
{
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        names.insert(entry.path().filename().string());
    return names;
}

// Every file below a folder, as paths relative to it, sorted.
inline std::vector<std::string> filesBelow(const std::filesystem::path& folder)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (!entry.is_directory())
            files.push_back(std::filesystem::relative(entry.path(), folder).string());
    std::sort(files.begin(), files.end());
    return files;
}

// The side of a tile's grid: 1201 for a 3" tile, 3601 for anything else.
inline std::int64_t sideOf(const Bytes& tile)
{
    return static_cast<std::int64_t>(tile.size()) == kTileBytes3 ? kTileSide3 : kTileSide;
}

inline std::int32_t sampleAt(const Bytes& tile, std::int64_t k)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(tile[2 * k] << 8 | tile[2 * k + 1]));
}

inline void setSample(Bytes& tile, std::int64_t k, std::uint8_t high, std::uint8_t low)
{
    tile[2 * k] = high;
    tile[2 * k + 1] = low;
}

inline void setValue(Bytes& tile, std::int64_t k, std::int32_t value)
{
    const auto bits = static_cast<std::uint16_t>(value);
    setSample(tile, k, static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits & 0xFF));
}

inline void setVoid(Bytes& tile, std::int64_t k)
{
    setSample(tile, k, kVoidHigh, kVoidLow);
}

// A side x side grid whose samples are height(row, column).
template <class Height>
Bytes makeTile(std::int64_t side, const Height& height)
{
    Bytes tile(static_cast<std::size_t>(side * side * 2));
    for (std::int64_t r = 0; r < side; ++r)
        for (std::int64_t c = 0; c < side; ++c)
            setValue(tile, r * side + c, static_cast<std::int32_t>(height(r, c)));
    return tile;
}

// A tile (1" unless told) of heights 0..2999 whose bytes never form the pair D8 F1, not even
// across samples (every high byte is below 0x0C).
inline Bytes plainTile(std::uint32_t seed = 0, std::int64_t side = kTileSide)
{
    Bytes tile(static_cast<std::size_t>(side * side * 2));
    for (std::int64_t k = 0; k < side * side; ++k) {
        const auto value = static_cast<std::uint16_t>((k * 7 + seed * 13) % 3000);
        tile[2 * k] = static_cast<std::uint8_t>(value >> 8);
        tile[2 * k + 1] = static_cast<std::uint8_t>(value & 0xFF);
    }
    return tile;
}

// Equal bytes, or where the first difference lies, as a sample with its row and column; a failure
// never prints whole tiles.
inline ::testing::AssertionResult sameTile(const Bytes& actual, const Bytes& expected)
{
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << actual.size() << " bytes instead of " << expected.size();
    const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin());
    if (a == actual.end())
        return ::testing::AssertionSuccess();
    const std::int64_t at = a - actual.begin();
    const std::int64_t k = at / 2;
    const std::int64_t side = sideOf(expected);
    auto failure = ::testing::AssertionFailure()
                   << "first difference at byte " << at << ": " << int{*a} << " instead of " << int{*e};
    if (2 * k + 1 < static_cast<std::int64_t>(expected.size()))
        failure << " (sample " << k << ", row " << k / side << ", column " << k % side << ": " << sampleAt(actual, k)
                << " instead of " << sampleAt(expected, k) << ")";
    return failure;
}

// The kind of a run's error; none for a run that did not fail.
inline std::optional<ErrorKind> errorKind(const TileResult& result)
{
    return result.error ? std::optional<ErrorKind>(result.error->kind) : std::nullopt;
}

// Outputs that need not reach the disk: only the durability tests ask for synced outputs.
inline RunOptions quickOptions()
{
    RunOptions options;
    options.durable = false;
    return options;
}

} // namespace hgt::test

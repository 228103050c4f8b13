#pragma once

// Temporary folders and generated tiles for the command line's tests. Only the public engine
// header is used, so these tests do not depend on the engines' private parts.

#include "tiles/engine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace hgt::cli::test {

using Bytes = std::vector<std::uint8_t>;

class TempFolder {
public:
    TempFolder()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "hgtfill-cli-";
        if (info)
            name += std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
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
    std::string operator/(const std::string& relative) const { return (m_path / relative).string(); }

private:
    std::filesystem::path m_path;
};

inline void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline Bytes readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void setSample(Bytes& tile, std::int64_t k, std::int16_t value)
{
    const auto bits = static_cast<std::uint16_t>(value);
    tile[2 * k] = static_cast<std::uint8_t>(bits >> 8);
    tile[2 * k + 1] = static_cast<std::uint8_t>(bits & 0xFF);
}

// A grid of side x side samples with heights 0..2999 whose bytes never form the pair D8 F1.
inline Bytes plainGrid(std::int64_t side, std::uint32_t seed = 0)
{
    Bytes tile(static_cast<std::size_t>(side * side * 2));
    for (std::int64_t k = 0; k < side * side; ++k)
        setSample(tile, k, static_cast<std::int16_t>((k * 7 + seed * 13) % 3000));
    return tile;
}

inline Bytes plainTile(std::uint32_t seed = 0)
{
    return plainGrid(kTileSide, seed);
}

// A full tile with `voids` void samples spread over it.
inline Bytes tileWithVoids(std::uint32_t seed, std::int64_t voids)
{
    Bytes tile = plainTile(seed);
    for (std::int64_t v = 0; v < voids; ++v)
        setSample(tile, (v * 104729 + seed) % kTileSamples, kVoidValue);
    return tile;
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

} // namespace hgt::cli::test

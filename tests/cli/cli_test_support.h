#pragma once

// The shared test helpers, plus the few the command line's tests need on top.

#include "tests/test_support.h"

#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace hgt::cli::test {

using hgt::test::Bytes;
using hgt::test::plainTile;
using hgt::test::readBytes;
using hgt::test::TempFolder;
using hgt::test::writeBytes;

inline void setSample(Bytes& tile, std::int64_t k, std::int16_t value)
{
    const auto bits = static_cast<std::uint16_t>(value);
    hgt::test::setSample(tile, k, static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits & 0xFF));
}

// A grid of side x side samples with heights 0..2999 whose bytes never form the pair D8 F1.
inline Bytes plainGrid(std::int64_t side, std::uint32_t seed = 0)
{
    Bytes tile(static_cast<std::size_t>(side * side * 2));
    for (std::int64_t k = 0; k < side * side; ++k)
        setSample(tile, k, static_cast<std::int16_t>((k * 7 + seed * 13) % 3000));
    return tile;
}

// A full tile with `voids` void samples spread over it.
inline Bytes tileWithVoids(std::uint32_t seed, std::int64_t voids)
{
    Bytes tile = plainTile(seed);
    for (std::int64_t v = 0; v < voids; ++v)
        hgt::test::setVoid(tile, (v * 104729 + seed) % kTileSamples);
    return tile;
}

// The same heights plus `metres`: a source on another vertical datum.
inline Bytes shifted(const Bytes& tile, std::int16_t metres)
{
    Bytes out = tile;
    for (std::size_t k = 0; k + 1 < out.size(); k += 2) {
        const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(out[k] << 8 | out[k + 1]));
        setSample(out, static_cast<std::int64_t>(k / 2), static_cast<std::int16_t>(value + metres));
    }
    return out;
}

// An archive holding one tile as its only member, deflated.
inline void writeZippedTile(const std::string& path, const std::string& member, const Bytes& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    ASSERT_NE(archive, nullptr) << path << ": libzip error " << code;
    zip_source_t* source = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
    ASSERT_NE(source, nullptr) << zip_strerror(archive);
    if (zip_file_add(archive, member.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
        zip_source_free(source);
        FAIL() << member << ": " << zip_strerror(archive);
    }
    ASSERT_EQ(zip_close(archive), 0) << zip_strerror(archive);
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

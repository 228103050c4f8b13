#pragma once

// The shared test helpers, plus the few the command line's tests need on top.

#include "tests/support/tiles.h"

#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace hgt::cli::test {

using hgt::test::Bytes;
using hgt::test::filesBelow;
using hgt::test::plainTile;
using hgt::test::readBytes;
using hgt::test::setValue;
using hgt::test::TempFolder;
using hgt::test::writeBytes;

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
        const auto at = static_cast<std::int64_t>(k / 2);
        setValue(out, at, static_cast<std::int16_t>(hgt::test::sampleAt(tile, at) + metres));
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

// A path as the program writes it: with backslashes on Windows.
inline std::string native(std::string path)
{
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

// The same inside a JSON string.
inline std::string jsonPath(const std::string& path)
{
    std::string escaped;
    for (const char c : native(path)) {
        if (c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

} // namespace hgt::cli::test

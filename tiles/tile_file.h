#pragma once

#include "file_system.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace hgt {

// One open tile file, read by position in blocks or written sequentially in blocks.
// Movable, not copyable; the destructor closes quietly, close() reports what went wrong.
class TileFile {
public:
    enum class Mode {
        Read,      // existing file, read only
        CreateNew, // a new file; fails when the path exists already
        Overwrite, // created or truncated
    };

    TileFile() = default;
    TileFile(const TileFile&) = delete;
    TileFile& operator=(const TileFile&) = delete;
    TileFile(TileFile&& other) noexcept;
    TileFile& operator=(TileFile&& other) noexcept;
    ~TileFile();

    FsStatus open(const std::string& path, Mode mode);
    bool isOpen() const { return m_file != nullptr; }
    const std::string& path() const { return m_path; }

    // Length in bytes of the open file; -1 with a message when it cannot be found out.
    std::int64_t size(FsStatus& status) const;

    // Reads exactly n bytes from the 0-based offset; a short file is a failure.
    FsStatus readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t n);
    // Reads up to n bytes from the current position; got is 0 at the end of the file.
    FsStatus readSome(std::uint8_t* buffer, std::size_t n, std::size_t& got);
    // Appends n bytes at the current position.
    FsStatus write(const std::uint8_t* buffer, std::size_t n);

    FsStatus close();

private:
    FsStatus failure(const char* what, int error) const;

    std::FILE* m_file = nullptr;
    std::string m_path;
    std::int64_t m_position = -1; // where the next sequential read or write goes; -1 when unknown
};

// A failure that names the file and its size when the open file is shorter than a tile. Longer
// files pass: their tail is ignored.
FsStatus CheckTileSize(TileFile& file);

// The same test by path, before anything is opened: the path must name a file of at least a
// tile's length.
FsStatus CheckTilePath(const std::string& path);

} // namespace hgt

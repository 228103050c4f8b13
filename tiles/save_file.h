#pragma once

#include "file_system.h"
#include "tile_file.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace hgt {

// An output tile that becomes visible only when complete: the bytes go to a temporary file beside
// the target, and commit() renames it over the target. Anything not committed is removed, so an
// earlier output tile stays as it was after a stop or a failure.
class SaveFile {
public:
    explicit SaveFile(std::string targetPath);
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;
    ~SaveFile();

    FsStatus open();
    FsStatus write(const std::uint8_t* buffer, std::size_t n);
    FsStatus commit();
    void discard();

    const std::string& targetPath() const { return m_targetPath; }
    const std::string& tempPath() const { return m_tempPath; }

private:
    std::string m_targetPath;
    std::string m_tempPath;
    TileFile m_file;
    bool m_tempExists = false;
};

} // namespace hgt

#pragma once

#include "platform/error.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hgt {

// Whether a name ends in .zip, ignoring letter case.
bool IsZipPath(const std::string& path);

// The one tile inside a zip archive: the archive must hold exactly one member whose name ends in
// .hgt (any letter case). Its uncompressed size is checked with `acceptSize` before anything is
// inflated, and the bytes inflated must match it. Corrupt archives are refused with a message that
// names the archive.
Result<std::vector<std::uint8_t>> ReadZippedTile(const std::string& path,
                                                 const std::function<bool(std::uint64_t size)>& acceptSize);
// The same for an archive held in memory (`size` bytes at `data`, not copied); `path` names it in
// the messages.
Result<std::vector<std::uint8_t>> ReadZippedTileInMemory(const std::string& path, const std::uint8_t* data,
                                                         std::size_t size,
                                                         const std::function<bool(std::uint64_t size)>& acceptSize);

// Writes `bytes` as the one member `member` of a new zip archive at `path` (deflated).
Result<> WriteZippedTile(const std::string& path, const std::string& member, const std::vector<std::uint8_t>& bytes);

} // namespace hgt

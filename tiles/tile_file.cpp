#include "tile_file.h"

#include "tile_format.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

namespace hgt {

TileFile::TileFile(TileFile&& other) noexcept
    : m_file(std::exchange(other.m_file, nullptr)), m_path(std::move(other.m_path)),
      m_position(std::exchange(other.m_position, -1))
{
}

TileFile& TileFile::operator=(TileFile&& other) noexcept
{
    if (this != &other) {
        close();
        m_file = std::exchange(other.m_file, nullptr);
        m_path = std::move(other.m_path);
        m_position = std::exchange(other.m_position, -1);
    }
    return *this;
}

TileFile::~TileFile()
{
    if (m_file)
        std::fclose(m_file);
}

FsStatus TileFile::failure(const char* what, int error) const
{
    std::string text = m_path + what;
    std::string reason;
    if (error != 0) {
        reason = std::generic_category().message(error);
        text += ": " + reason;
    }
    return FsStatus::failure(std::move(text), std::move(reason));
}

FsStatus TileFile::open(const std::string& path, Mode mode)
{
    close();
    m_path = path;
    // Only regular files are tiles; a folder or a pipe is refused before it is opened.
    std::error_code ec;
    if (mode == Mode::Read && std::filesystem::exists(std::filesystem::path(path), ec) && !FileExists(path))
        return failure(" ist keine Datei", 0);
    const char* modeText = mode == Mode::Read ? "rb" : mode == Mode::CreateNew ? "wbx" : "wb";
    errno = 0;
    m_file = std::fopen(path.c_str(), modeText);
    if (!m_file)
        return failure(" kann nicht geöffnet werden", errno);
    // Every transfer is a whole block, so stdio's own buffer would only add a copy.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    m_position = 0;
    return {};
}

std::int64_t TileFile::size(FsStatus& status) const
{
    status = {};
    if (!m_file) {
        status = failure(" ist nicht geöffnet", 0);
        return -1;
    }
    std::error_code ec;
    const auto length = std::filesystem::file_size(std::filesystem::path(m_path), ec);
    if (ec) {
        status = failure(" kann nicht gelesen werden", ec.value());
        return -1;
    }
    return static_cast<std::int64_t>(length);
}

FsStatus TileFile::readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t n)
{
    if (!m_file)
        return failure(" ist nicht geöffnet", 0);
    if (offset != m_position) {
        errno = 0;
        if (std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0) {
            m_position = -1;
            return failure(" kann nicht gelesen werden", errno);
        }
        m_position = offset;
    }
    errno = 0;
    const std::size_t got = std::fread(buffer, 1, n, m_file);
    m_position += static_cast<std::int64_t>(got);
    if (got != n) {
        const int error = std::ferror(m_file) ? errno : 0;
        std::clearerr(m_file);
        return error != 0 ? failure(" kann nicht gelesen werden", error)
                          : failure(" kann nicht gelesen werden: Datei ist zu kurz", 0);
    }
    return {};
}

FsStatus TileFile::readSome(std::uint8_t* buffer, std::size_t n, std::size_t& got)
{
    got = 0;
    if (!m_file)
        return failure(" ist nicht geöffnet", 0);
    errno = 0;
    got = std::fread(buffer, 1, n, m_file);
    if (m_position >= 0)
        m_position += static_cast<std::int64_t>(got);
    if (got < n && std::ferror(m_file)) {
        const int error = errno;
        std::clearerr(m_file);
        return failure(" kann nicht gelesen werden", error);
    }
    return {};
}

FsStatus TileFile::write(const std::uint8_t* buffer, std::size_t n)
{
    if (!m_file)
        return failure(" ist nicht geöffnet", 0);
    errno = 0;
    const std::size_t put = std::fwrite(buffer, 1, n, m_file);
    if (m_position >= 0)
        m_position += static_cast<std::int64_t>(put);
    if (put != n) {
        const int error = errno;
        std::clearerr(m_file);
        return failure(" kann nicht geschrieben werden", error);
    }
    return {};
}

FsStatus TileFile::close()
{
    if (!m_file)
        return {};
    errno = 0;
    const int result = std::fclose(std::exchange(m_file, nullptr));
    m_position = -1;
    if (result != 0)
        return failure(" kann nicht geschlossen werden", errno);
    return {};
}

namespace {

FsStatus sizeFailure(const std::string& path, std::int64_t size)
{
    return FsStatus::failure(path + " ist kein 1-Sekunden-HGT-File (" + std::to_string(size) + " Bytes statt "
                             + std::to_string(kTileBytes) + " Bytes)");
}

} // namespace

FsStatus CheckTileSize(TileFile& file)
{
    FsStatus status;
    const std::int64_t size = file.size(status);
    if (status && size < kTileBytes)
        return sizeFailure(file.path(), size);
    return status;
}

FsStatus CheckTilePath(const std::string& path)
{
    if (!FileExists(path))
        return FsStatus::failure(path + " existiert nicht");
    std::error_code ec;
    const auto size = std::filesystem::file_size(std::filesystem::path(path), ec);
    if (ec)
        return FsStatus::failure(path + " kann nicht gelesen werden: " + ec.message());
    if (static_cast<std::int64_t>(size) < kTileBytes)
        return sizeFailure(path, static_cast<std::int64_t>(size));
    return {};
}

} // namespace hgt

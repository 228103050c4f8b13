#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace hgt {

File::~File()
{
    if (m_handle >= 0)
        ::close(m_handle); // Don't retry close in case of EINTR: the descriptor is gone either way.
}

Result<File> File::openRead(const std::string& path)
{
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused right after by its type.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return SystemError(path, " kann nicht geöffnet werden", errno);
    File file(fd, path);
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return SystemError(path, " kann nicht geöffnet werden", errno);
    if (!S_ISREG(info.st_mode))
        return Error{ErrorKind::NotAFile, path + " ist keine Datei"};
    file.m_openedSize = static_cast<std::int64_t>(info.st_size);
    ::fcntl(fd, F_SETFL, 0); // back to blocking reads
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return file;
}

Result<std::int64_t> File::size() const
{
    struct stat info {};
    if (::fstat(m_handle, &info) != 0)
        return SystemError(m_path, " kann nicht gelesen werden", errno);
    return static_cast<std::int64_t>(info.st_size);
}

Result<FileIdentity> File::identity() const
{
    struct stat info {};
    if (::fstat(m_handle, &info) != 0)
        return SystemError(m_path, " kann nicht gelesen werden", errno);
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

Result<std::size_t> File::readSomeAt(std::int64_t offset, std::uint8_t* buffer, std::size_t n) const
{
    for (;;) {
        const ssize_t got = ::pread(m_handle, buffer, n, offset);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            return SystemError(m_path, " kann nicht gelesen werden", errno);
    }
}

Result<> File::write(const std::uint8_t* buffer, std::size_t n)
{
    while (n > 0) {
        const ssize_t put = ::write(m_handle, buffer, n);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return SystemError(m_path, " kann nicht geschrieben werden", errno);
        }
        buffer += put;
        n -= static_cast<std::size_t>(put);
    }
    return {};
}

Result<> File::syncData()
{
    if (::fdatasync(m_handle) != 0)
        return SystemError(m_path, " kann nicht geschrieben werden", errno);
    return {};
}

Result<> File::close()
{
    if (m_handle < 0)
        return {};
    const int result = ::close(std::exchange(m_handle, -1));
    if (result != 0 && errno != EINTR)
        return SystemError(m_path, " kann nicht geschlossen werden", errno);
    return {};
}

} // namespace hgt

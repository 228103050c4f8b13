#include "platform/file.h"

#include <utility>

namespace hgt {

File::File(File&& other) noexcept
    : m_handle(std::exchange(other.m_handle, kNoHandle)), m_path(std::move(other.m_path)),
      m_openedSize(other.m_openedSize)
{}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        (void)close();
        m_handle = std::exchange(other.m_handle, kNoHandle);
        m_path = std::move(other.m_path);
        m_openedSize = other.m_openedSize;
    }
    return *this;
}

File File::adopt(NativeHandle handle, std::string path)
{
    return File(handle, std::move(path));
}

Result<> File::readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t n) const
{
    while (n > 0) {
        const Result<std::size_t> got = readSomeAt(offset, buffer, n);
        if (!got)
            return got.error();
        if (*got == 0)
            return Error{ErrorKind::BadContent, m_path + " kann nicht gelesen werden: Datei ist zu kurz"};
        buffer += *got;
        offset += static_cast<std::int64_t>(*got);
        n -= *got;
    }
    return {};
}

} // namespace hgt

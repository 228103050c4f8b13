#include "platform/file.h"

#include "platform/internal/windows_error.h"
#include "platform/internal/windows_text.h"

#include <windows.h>

#include <algorithm>
#include <utility>

namespace hgt {

namespace {

// ReadFile and WriteFile take at most a DWORD's worth at a time.
constexpr std::size_t kMaxChunk = 1u << 30;

} // namespace

File::~File()
{
    if (m_handle != kNoHandle)
        CloseHandle(m_handle);
}

Result<File> File::openRead(const std::string& path)
{
    // Others may go on reading, writing or renaming the file; a folder opens too (backup semantics)
    // so that it is refused by its type, like a device such as NUL.
    HANDLE handle = CreateFileW(windows::SystemPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return windows::SystemError(path, " kann nicht geöffnet werden", GetLastError());
    File file(handle, path);
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)
        || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return Error{ErrorKind::NotAFile, path + " ist keine Datei"};
    file.m_openedSize = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    return file;
}

Result<std::int64_t> File::size() const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_handle, &size))
        return windows::SystemError(m_path, " kann nicht gelesen werden", GetLastError());
    return static_cast<std::int64_t>(size.QuadPart);
}

Result<FileIdentity> File::identity() const
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(m_handle, &info))
        return windows::SystemError(m_path, " kann nicht gelesen werden", GetLastError());
    return FileIdentity{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

Result<std::size_t> File::readSomeAt(std::int64_t offset, std::uint8_t* buffer, std::size_t n) const
{
    // The offset travels with the call, so reads from several threads do not move a shared position.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD got = 0;
    if (!ReadFile(m_handle, buffer, static_cast<DWORD>(std::min(n, kMaxChunk)), &got, &at)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF)
            return std::size_t{0};
        return windows::SystemError(m_path, " kann nicht gelesen werden", error);
    }
    return static_cast<std::size_t>(got);
}

Result<> File::write(const std::uint8_t* buffer, std::size_t n)
{
    while (n > 0) {
        DWORD put = 0;
        if (!WriteFile(m_handle, buffer, static_cast<DWORD>(std::min(n, kMaxChunk)), &put, nullptr))
            return windows::SystemError(m_path, " kann nicht geschrieben werden", GetLastError());
        buffer += put;
        n -= put;
    }
    return {};
}

Result<> File::syncData()
{
    if (!FlushFileBuffers(m_handle))
        return windows::SystemError(m_path, " kann nicht geschrieben werden", GetLastError());
    return {};
}

Result<> File::close()
{
    if (m_handle == kNoHandle)
        return {};
    if (!CloseHandle(std::exchange(m_handle, kNoHandle)))
        return windows::SystemError(m_path, " kann nicht geschlossen werden", GetLastError());
    return {};
}

} // namespace hgt

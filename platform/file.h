#pragma once

#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace hgt {

// The system's handle of an open file: a descriptor on POSIX, a HANDLE on Windows.
#ifdef _WIN32
using NativeHandle = void*;
inline constexpr NativeHandle kNoHandle = nullptr;
#else
using NativeHandle = int;
inline constexpr NativeHandle kNoHandle = -1;
#endif

// Which file an open handle refers to, whatever name it was opened by.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// One open file: read by position, or written sequentially. Movable, not copyable; the destructor
// closes quietly, close() reports what went wrong. Messages name the path the file was opened by.
class File {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    ~File();

    // An existing regular file, read only. A folder or a pipe is refused before it is opened.
    static Result<File> openRead(const std::string& path);
    // Takes over an open handle (for example an unnamed temporary file).
    static File adopt(NativeHandle handle, std::string path);

    bool isOpen() const { return m_handle != kNoHandle; }
    NativeHandle handle() const { return m_handle; }
    const std::string& path() const { return m_path; }

    // The size it had when openRead opened it (0 for an adopted handle).
    std::int64_t openedSize() const { return m_openedSize; }
    // Size and identity from the open handle, not the path.
    Result<std::int64_t> size() const;
    Result<FileIdentity> identity() const;

    // Exactly n bytes from the 0-based offset; a file that ends before is a failure.
    Result<> readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t n) const;
    // Up to n bytes from the offset; 0 at the end of the file.
    Result<std::size_t> readSomeAt(std::int64_t offset, std::uint8_t* buffer, std::size_t n) const;
    // Appends all n bytes at the current position.
    Result<> write(const std::uint8_t* buffer, std::size_t n);
    // The file's data on disk (fdatasync, FlushFileBuffers).
    Result<> syncData();

    Result<> close();

private:
    File(NativeHandle handle, std::string path) : m_handle(handle), m_path(std::move(path)) {}

    NativeHandle m_handle = kNoHandle;
    std::string m_path;
    std::int64_t m_openedSize = 0;
};

} // namespace hgt

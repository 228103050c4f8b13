#include "platform/file_system.h"

#include "platform/internal/sorted_files.h"
#include "platform/internal/windows_error.h"
#include "platform/internal/windows_text.h"

#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace hgt {

namespace {

// What the path names, links followed (junctions and symbolic links alike); none for nothing there
// or for a device such as NUL.
std::optional<BY_HANDLE_FILE_INFORMATION> infoOf(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    HANDLE handle = CreateFileW(windows::SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!known)
        return std::nullopt;
    return info;
}

bool isFolder(const BY_HANDLE_FILE_INFORMATION& info)
{
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The layout of a symbolic link's or junction's data (REPARSE_DATA_BUFFER, which mingw-w64 keeps in
// its driver headers): the two differ only by the symbolic link's flags before the names.
struct ReparseData {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
};

// Where a link points, as it was made; empty where that cannot be read.
std::string linkTarget(const std::string& path)
{
    HANDLE handle = CreateFileW(windows::SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    std::vector<std::byte> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    const bool read = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                                      static_cast<DWORD>(buffer.size()), &got, nullptr);
    CloseHandle(handle);
    if (!read || got < sizeof(ReparseData))
        return {};
    ReparseData data{};
    std::memcpy(&data, buffer.data(), sizeof data);
    std::size_t names = sizeof data;
    if (data.tag == IO_REPARSE_TAG_SYMLINK)
        names += sizeof(ULONG);
    else if (data.tag != IO_REPARSE_TAG_MOUNT_POINT)
        return {};
    const bool usePrint = data.printLength > 0;
    const std::size_t offset = names + (usePrint ? data.printOffset : data.substituteOffset);
    const std::size_t length = usePrint ? data.printLength : data.substituteLength;
    if (offset + length > got)
        return {};
    std::wstring target(length / sizeof(wchar_t), L'\0');
    std::memcpy(target.data(), buffer.data() + offset, target.size() * sizeof(wchar_t));
    if (target.starts_with(L"\\??\\"))
        target.erase(0, 4);
    return windows::Narrow(target);
}

// A path as the system gives it back: without the \\?\ prefix that long paths carry.
std::string withoutLongPrefix(std::wstring path)
{
    if (path.starts_with(L"\\\\?\\UNC\\"))
        path = L"\\\\" + path.substr(8);
    else if (path.starts_with(L"\\\\?\\"))
        path.erase(0, 4);
    return windows::Narrow(path);
}

std::wstring fullPath(const std::wstring& path)
{
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0)
            return path;
        if (n < full.size()) {
            full.resize(n);
            return full;
        }
        full.resize(n);
    }
}

std::optional<std::wstring> finalPath(const std::wstring& path)
{
    HANDLE handle =
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::wstring final(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
    if (n >= final.size()) {
        final.resize(n);
        n = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
    }
    CloseHandle(handle);
    if (n == 0 || n >= final.size())
        return std::nullopt;
    final.resize(n);
    return final;
}

} // namespace

bool FileExists(const std::string& path)
{
    const auto info = infoOf(path);
    return info && !isFolder(*info);
}

bool FolderExists(const std::string& path)
{
    // The attributes alone, without opening the folder: an open can fail for a moment (a folder
    // being scanned or renamed into), which would make a folder look like a file to EnsureFolder.
    if (path.empty())
        return false;
    const DWORD attributes = GetFileAttributesW(windows::SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const auto info = infoOf(path); // a link counts by what it leads to
    return info && isFolder(*info);
}

bool EntryExists(const std::string& path)
{
    // The attributes of a link itself, so that a dangling one counts too.
    return !path.empty() && GetFileAttributesW(windows::SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

Result<std::vector<std::string>> Files(const Folder& folder)
{
    std::vector<std::string> files;
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileExW(windows::SystemPath(JoinPath(folder.path, "*")).c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND && FolderExists(folder.path))
            return files; // a drive's root holds no "." to find
        return windows::SystemError("Ordner " + folder.path, " kann nicht gelesen werden", error);
    }
    do {
        const std::wstring_view name(entry.cFileName);
        if (name == L"." || name == L"..")
            continue;
        const std::string path = JoinPath(folder.path, windows::Narrow(name));
        // A link counts by what it leads to, as on POSIX.
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            if (FileExists(path))
                files.push_back(path);
        } else if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            files.push_back(path);
        }
    } while (FindNextFileW(find, &entry));
    const DWORD error = GetLastError();
    FindClose(find);
    if (error != ERROR_NO_MORE_FILES)
        return windows::SystemError("Ordner " + folder.path, " kann nicht gelesen werden", error);
    SortFilesByName(files);
    return files;
}

Result<> CreateFolder(const std::string& path)
{
    if (const std::string reserved = windows::UnusableNameReason(GetFileName(path)); !reserved.empty())
        return Error{ErrorKind::Io, "Ordner " + path + " kann nicht angelegt werden: " + reserved};
    if (CreateDirectoryW(windows::SystemPath(path).c_str(), nullptr))
        return {};
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS && FolderExists(path))
        return {};
    return windows::SystemError("Ordner " + path, " kann nicht angelegt werden", error);
}

Result<> RemoveFile(const std::string& path)
{
    if (DeleteFileW(windows::SystemPath(path).c_str()))
        return {};
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return {};
    return windows::PathError("Datei " + path, " kann nicht gelöscht werden", error, path);
}

void RemoveEmptyFolder(const std::string& path)
{
    const std::wstring name = windows::SystemPath(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    // RemoveDirectoryW would remove a junction or a folder link itself; those stay. It fails unless
    // the folder is empty.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
        && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveDirectoryW(name.c_str());
}

Result<> EnsureFolder(const std::string& path)
{
    if (FolderExists(path))
        return {};
    const DWORD attributes = GetFileAttributesW(windows::SystemPath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return Error{ErrorKind::NotFound, "Ordner " + path + " kann nicht angelegt werden: ist ein Symlink auf "
                                              + linkTarget(path) + ", das nicht existiert"};
    // A folder that appeared since the first look was made by another thread of the run (the tiles
    // of a batch in flight share their output folder): it is what was wanted.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return Error{ErrorKind::Io, "Ordner " + path + " kann nicht angelegt werden: dort liegt eine Datei"};
    return CreateFolder(path);
}

std::optional<FileIdentity> IdentityOf(const std::string& path)
{
    const auto info = infoOf(path);
    if (!info)
        return std::nullopt;
    return FileIdentity{info->dwVolumeSerialNumber, (std::uint64_t{info->nFileIndexHigh} << 32) | info->nFileIndexLow};
}

std::string ResolvedPath(const std::string& path)
{
    // The longest part that exists is resolved by the system, through links; the rest is kept as
    // written, with "." and ".." already taken out by GetFullPathNameW.
    std::wstring written = windows::Widen(path.empty() ? std::string(".") : path);
    for (wchar_t& c : written)
        if (c == L'/')
            c = L'\\';
    const std::wstring full = fullPath(written);
    std::size_t end = full.size();
    for (;;) {
        const std::wstring head = full.substr(0, end);
        if (const std::optional<std::wstring> final = finalPath(windows::SystemPath(windows::Narrow(head)))) {
            std::wstring resolved = *final;
            if (end < full.size()) {
                if (!resolved.ends_with(L'\\'))
                    resolved += L'\\';
                resolved += full.substr(full[end] == L'\\' ? end + 1 : end);
            }
            return withoutLongPrefix(resolved);
        }
        const std::size_t separator = head.find_last_of(L'\\');
        if (separator == std::wstring::npos || separator == 0 || head.ends_with(L'\\'))
            return withoutLongPrefix(full); // not even the root is there
        end = separator;
        if (full[end - 1] == L':') // C:\ rather than C:
            ++end;
    }
}

} // namespace hgt

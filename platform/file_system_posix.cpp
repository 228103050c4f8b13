#include "platform/file_system.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace hgt {

namespace {

bool isSeparator(char c)
{
    return c == '/' || (fs::path::preferred_separator == '\\' && c == '\\');
}

char lowerAscii(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool lessIgnoringCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lowerAscii(x) < lowerAscii(y); });
}

} // namespace

char PathSeparator()
{
    return static_cast<char>(fs::path::preferred_separator);
}

bool FileExists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(fs::path(path), ec);
}

bool FolderExists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && fs::is_directory(fs::path(path), ec);
}

bool EntryExists(const std::string& path)
{
    struct stat status;
    return !path.empty() && ::lstat(path.c_str(), &status) == 0;
}

Result<Folder> GetFolder(const std::string& path)
{
    if (!FolderExists(path))
        return Error{ErrorKind::NotFound, "Ordner " + path + " existiert nicht"};
    return Folder{path};
}

Result<std::vector<std::string>> Files(const Folder& folder)
{
    std::vector<std::string> files;
    std::error_code ec;
    fs::directory_iterator it(fs::path(folder.path), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_regular_file(typeEc))
            files.push_back(JoinPath(folder.path, it->path().filename().string()));
    }
    if (ec)
        return SystemError("Ordner " + folder.path, " kann nicht gelesen werden", ec.value());
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        const std::string nameA = GetFileName(a);
        const std::string nameB = GetFileName(b);
        if (lessIgnoringCase(nameA, nameB))
            return true;
        if (lessIgnoringCase(nameB, nameA))
            return false;
        return nameA < nameB; // names equal but for case: keep a fixed order
    });
    return files;
}

std::string GetFileName(std::string_view path)
{
    std::size_t end = path.size();
    std::size_t start = end;
    while (start > 0 && !isSeparator(path[start - 1]))
        --start;
    return std::string(path.substr(start, end - start));
}

std::string GetExtensionName(std::string_view path)
{
    const std::string name = GetFileName(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string GetParentFolderName(std::string_view path)
{
    std::size_t end = path.size();
    while (end > 0 && !isSeparator(path[end - 1]))
        --end;
    if (end == 0)
        return {};
    std::size_t parentEnd = end;
    while (parentEnd > 0 && isSeparator(path[parentEnd - 1]))
        --parentEnd;
    if (parentEnd == 0)
        return std::string(1, path[0]); // a file directly in the root: the root itself
    if (fs::path::preferred_separator == '\\' && parentEnd == 2 && path[1] == ':')
        return std::string(path.substr(0, 3)); // C:\file -> C:\ (drive root)
    return std::string(path.substr(0, parentEnd));
}

Result<> CreateFolder(const std::string& path)
{
    std::error_code ec;
    if (!fs::create_directory(fs::path(path), ec) && !ec && !FolderExists(path))
        ec = std::make_error_code(std::errc::file_exists);
    if (ec)
        return SystemError("Ordner " + path, " kann nicht angelegt werden", ec.value());
    return {};
}

Result<> RemoveFile(const std::string& path)
{
    std::error_code ec;
    fs::remove(fs::path(path), ec);
    if (ec)
        return SystemError("Datei " + path, " kann nicht gelöscht werden", ec.value());
    return {};
}

Result<> EnsureFolder(const std::string& path)
{
    if (FolderExists(path))
        return {};
    std::error_code ec;
    const fs::file_status link = fs::symlink_status(fs::path(path), ec);
    if (!ec && fs::is_symlink(link)) {
        const fs::path target = fs::read_symlink(fs::path(path), ec);
        return Error{ErrorKind::NotFound, "Ordner " + path + " kann nicht angelegt werden: ist ein Symlink auf "
                                              + target.string() + ", das nicht existiert"};
    }
    if (!ec && fs::exists(link))
        return Error{ErrorKind::Io, "Ordner " + path + " kann nicht angelegt werden: dort liegt eine Datei"};
    return CreateFolder(path);
}

std::optional<FileIdentity> IdentityOf(const std::string& path)
{
    struct stat status;
    if (path.empty() || ::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

std::string ResolvedPath(const std::string& path)
{
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(fs::path(path), ec), ec);
    return ec ? path : resolved.string();
}

std::string JoinPath(std::string_view left, std::string_view right)
{
    std::string joined(left);
    joined += PathSeparator();
    joined += right;
    return joined;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

} // namespace hgt

#include "platform/file_system.h"

#include "platform/internal/sorted_files.h"

#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace hgt {

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
    SortFilesByName(files);
    return files;
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

void RemoveEmptyFolder(const std::string& path)
{
    std::error_code ignored;
    // Removing fails unless the folder is empty.
    if (fs::is_directory(fs::symlink_status(fs::path(path), ignored)))
        fs::remove(fs::path(path), ignored);
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
    // A folder that appeared since the first look was made by another thread of the run (the tiles
    // of a batch in flight share their output folder): it is what was wanted.
    if (!ec && fs::is_directory(link))
        return {};
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

} // namespace hgt

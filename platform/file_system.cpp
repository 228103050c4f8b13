#include "platform/file_system.h"

#include "platform/internal/sorted_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

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

Result<Folder> GetFolder(const std::string& path)
{
    if (!FolderExists(path))
        return Error{ErrorKind::NotFound, "Ordner " + path + " existiert nicht"};
    return Folder{path};
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

void SortFilesByName(std::vector<std::string>& files)
{
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        const std::string nameA = GetFileName(a);
        const std::string nameB = GetFileName(b);
        if (lessIgnoringCase(nameA, nameB))
            return true;
        if (lessIgnoringCase(nameB, nameA))
            return false;
        return nameA < nameB; // names equal but for case: keep a fixed order
    });
}

} // namespace hgt

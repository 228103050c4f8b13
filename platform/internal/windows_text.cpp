#include "platform/internal/windows_text.h"

#include <windows.h>

namespace hgt::windows {

std::wstring Widen(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Narrow(std::wstring_view utf16)
{
    if (utf16.empty())
        return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), narrow.data(), n, nullptr, nullptr);
    return narrow;
}

std::wstring SystemPath(std::string_view utf8)
{
    std::wstring path = Widen(utf8);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    constexpr std::size_t kClassicLimit = 248; // CreateDirectoryW's limit, below MAX_PATH's 260
    if (path.size() < kClassicLimit || path.starts_with(L"\\\\?\\"))
        return path;
    if (path.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + path.substr(2);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return L"\\\\?\\" + path;
    return path; // relative: the prefix would not resolve it
}

} // namespace hgt::windows

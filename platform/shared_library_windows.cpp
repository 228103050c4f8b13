#include "platform/shared_library.h"

#include "platform/internal/windows_error.h"
#include "platform/internal/windows_text.h"

#include <windows.h>

#include <filesystem>

namespace hgt {

Result<SharedLibrary> SharedLibrary::load(const std::string& path)
{
    // The library's own folder is searched for the libraries it needs, not the current folder.
    HMODULE handle = LoadLibraryExW(windows::SystemPath(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!handle)
        return windows::SystemError(path, "", GetLastError());
    return SharedLibrary(handle);
}

void* SharedLibrary::symbol(const char* name) const
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

std::string ExecutableFolder()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return windows::Narrow(std::filesystem::path(buffer).parent_path().wstring());
}

} // namespace hgt

#include "platform/shared_library.h"

#include <dlfcn.h>

#include <filesystem>

namespace hgt {

Result<SharedLibrary> SharedLibrary::load(const std::string& path)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return Error{ErrorKind::Io, dlerror()};
    return SharedLibrary(handle);
}

void* SharedLibrary::symbol(const char* name) const
{
    return dlsym(m_handle, name);
}

std::string ExecutableFolder()
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.parent_path().string();
}

} // namespace hgt

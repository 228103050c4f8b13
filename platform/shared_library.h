#pragma once

// Libraries opened at run time (the raster plugin, libzip on Linux) and the program's own folder.

#include "platform/error.h"

#include <string>

namespace hgt {

// A library loaded for the life of the process: it is never unloaded, so its symbols stay valid.
class SharedLibrary {
public:
    // `path` is UTF-8; the system's loader message is the reason when it cannot be loaded.
    static Result<SharedLibrary> load(const std::string& path);
    // The address of an exported symbol, or null.
    void* symbol(const char* name) const;

private:
    explicit SharedLibrary(void* handle) : m_handle(handle) {}
    void* m_handle = nullptr;
};

// The folder of the running executable (UTF-8), or empty where the system does not tell.
std::string ExecutableFolder();

} // namespace hgt

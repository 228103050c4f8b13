#include "platform/folders.h"

#include "platform/internal/native_path.h"

#include <algorithm>
#include <filesystem>

namespace hgt {

std::vector<std::string> FilesBelow(const std::string& folder, const std::function<bool(const std::string&)>& keep,
                                    std::size_t limit)
{
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(NativePath(folder), fs::directory_options::skip_permission_denied, ec);
    for (; !ec && files.size() < limit && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        std::string file = Utf8Path(it->path());
        if (keep(file))
            files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace hgt

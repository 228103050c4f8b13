#include "platform/archive.h"

#include "platform/file.h"
#include "platform/file_system.h"

#include <zip.h>

#include <memory>

namespace hgt {

namespace {

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); } // read only: nothing to write back
};
struct MemberCloser {
    void operator()(zip_file_t* member) const { zip_fclose(member); }
};

bool endsWithIgnoringCase(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && EqualsIgnoringCase(std::string_view(text).substr(text.size() - end.size()), end);
}

Error corrupt(const std::string& path, const std::string& why)
{
    return {ErrorKind::NotATile, path + " ist kein lesbares ZIP-Archiv: " + why};
}

} // namespace

bool IsZipPath(const std::string& path)
{
    return endsWithIgnoringCase(path, ".zip");
}

Result<std::vector<std::uint8_t>> ReadZippedTile(const std::string& path,
                                                 const std::function<bool(std::uint64_t size)>& acceptSize)
{
    // The plain open says in German why a file cannot be read; the archive library takes over after.
    if (Result<File> file = File::openRead(path); !file)
        return file.error();
    int code = 0;
    std::unique_ptr<zip_t, ArchiveCloser> archive(zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const std::string reason = zip_error_strerror(&error);
        zip_error_fini(&error);
        return corrupt(path, reason);
    }

    const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
    zip_int64_t tile = -1;
    for (zip_int64_t i = 0; i < entries; ++i) {
        const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
        if (name && endsWithIgnoringCase(name, ".hgt")) {
            if (tile >= 0)
                return Error{ErrorKind::NotATile, path + " enthält mehr als eine HGT-Kachel"};
            tile = i;
        }
    }
    if (tile < 0)
        return Error{ErrorKind::NotATile, path + " enthält keine HGT-Kachel"};

    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(tile), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE))
        return corrupt(path, zip_strerror(archive.get()));
    if (!acceptSize(stat.size))
        return Error{ErrorKind::NotATile, path + " enthält eine Kachel von " + std::to_string(stat.size)
                                              + " Bytes, keine HGT-Kachel"};

    std::unique_ptr<zip_file_t, MemberCloser> member(zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(tile), 0));
    if (!member)
        return corrupt(path, zip_strerror(archive.get()));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stat.size));
    std::uint64_t done = 0;
    while (done < stat.size) {
        const zip_int64_t got = zip_fread(member.get(), bytes.data() + done, stat.size - done);
        if (got < 0)
            return corrupt(path, zip_file_strerror(member.get()));
        if (got == 0)
            break;
        done += static_cast<std::uint64_t>(got);
    }
    // A member that inflates to another size than it claims is as corrupt as a wrong checksum. The
    // checksum is compared only when the end is read, so a failing last read names that reason.
    if (done == stat.size) {
        std::uint8_t extra = 0;
        const zip_int64_t more = zip_fread(member.get(), &extra, 1);
        if (more < 0)
            return corrupt(path, zip_file_strerror(member.get()));
        if (more == 0)
            return bytes;
    }
    return corrupt(path, "die Kachel hat nicht die angegebene Größe");
}

} // namespace hgt

#include "platform/archive.h"

#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/shared_library.h"

#include <zip.h>

#include <memory>

namespace hgt {

namespace {

// libzip is loaded when the first archive is read or written. It brings a cryptography library
// along, and loading both at every start would add about a millisecond to each run of a tool that
// mostly reads plain tiles.
#define HGT_ZIP_FUNCTIONS(X)                                                                                           \
    X(zip_open)                                                                                                        \
    X(zip_discard)                                                                                                     \
    X(zip_close)                                                                                                       \
    X(zip_fclose)                                                                                                      \
    X(zip_error_init)                                                                                                  \
    X(zip_error_init_with_code)                                                                                        \
    X(zip_error_strerror)                                                                                              \
    X(zip_error_fini)                                                                                                  \
    X(zip_error_code_zip)                                                                                              \
    X(zip_error_code_system)                                                                                           \
    X(zip_error_system_type)                                                                                           \
    X(zip_get_error)                                                                                                   \
    X(zip_file_get_error)                                                                                              \
    X(zip_get_num_entries)                                                                                             \
    X(zip_get_name)                                                                                                    \
    X(zip_stat_init)                                                                                                   \
    X(zip_stat_index)                                                                                                  \
    X(zip_fopen_index)                                                                                                 \
    X(zip_fread)                                                                                                       \
    X(zip_source_buffer)                                                                                               \
    X(zip_source_buffer_create)                                                                                        \
    X(zip_open_from_source)                                                                                            \
    X(zip_source_free)                                                                                                 \
    X(zip_file_add)

struct ZipLibrary {
#define HGT_ZIP_POINTER(name) decltype(&::name) name = nullptr;
    HGT_ZIP_FUNCTIONS(HGT_ZIP_POINTER)
#undef HGT_ZIP_POINTER
};

// The library, or why it cannot be had.
const Result<ZipLibrary>& Zip()
{
    static const Result<ZipLibrary> library = []() -> Result<ZipLibrary> {
        ZipLibrary zip;
#ifdef HGT_LIBZIP_SONAME
        const Result<SharedLibrary> loaded = SharedLibrary::load(HGT_LIBZIP_SONAME);
        if (!loaded)
            return Error{ErrorKind::Io, "ZIP-Archive können nicht gelesen werden: " + loaded.error().message};
#define HGT_ZIP_RESOLVE(name)                                                                                          \
    zip.name = reinterpret_cast<decltype(&::name)>(loaded->symbol(#name));                                             \
    if (!zip.name)                                                                                                     \
        return Error{ErrorKind::Io, "ZIP-Archive können nicht gelesen werden: " HGT_LIBZIP_SONAME " ohne " #name};
#else
        // Linked in (the Windows build links libzip statically).
#define HGT_ZIP_RESOLVE(name) zip.name = &::name;
#endif
        HGT_ZIP_FUNCTIONS(HGT_ZIP_RESOLVE)
#undef HGT_ZIP_RESOLVE
        return zip; // the library stays loaded for the life of the process
    }();
    return library;
}

struct ArchiveCloser {
    void operator()(zip_t* archive) const { Zip()->zip_discard(archive); } // nothing to write back
};
struct MemberCloser {
    void operator()(zip_file_t* member) const { Zip()->zip_fclose(member); }
};

bool endsWithIgnoringCase(const std::string& text, const std::string& end)
{
    return text.size() >= end.size()
           && EqualsIgnoringCase(std::string_view(text).substr(text.size() - end.size()), end);
}

// Why libzip failed, in German for the reasons an archive of tiles meets; the library's own text
// for the rare rest.
std::string reasonOf(const zip_error_t* error)
{
    const ZipLibrary& zip = *Zip();
    switch (zip.zip_error_code_zip(error)) {
    case ZIP_ER_CRC:
        return "Prüfsumme falsch";
    case ZIP_ER_NOZIP:
        return "kein ZIP-Archiv";
    case ZIP_ER_EOF:
        return "Archiv ist abgeschnitten";
    case ZIP_ER_INCONS:
        return "Archiv ist beschädigt (Verzeichnis passt nicht zu den Daten)";
    case ZIP_ER_EXISTS:
        return "zwei Einträge desselben Namens";
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_ENCRNOTSUPP:
        return "verschlüsselt";
    case ZIP_ER_COMPNOTSUPP:
        return "Kompressionsverfahren nicht unterstützt";
    case ZIP_ER_MULTIDISK:
        return "mehrteilige Archive werden nicht unterstützt";
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
        return "komprimierte Daten sind beschädigt";
    case ZIP_ER_MEMORY:
        return "zu wenig Arbeitsspeicher";
    case ZIP_ER_NOENT:
        return "Eintrag nicht gefunden";
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
        if (zip.zip_error_system_type(error) == ZIP_ET_SYS && zip.zip_error_code_system(error) != 0)
            return SystemReason(zip.zip_error_code_system(error));
        return "Lesefehler";
    default:
        return zip.zip_error_strerror(const_cast<zip_error_t*>(error));
    }
}

Error corrupt(const std::string& path, const std::string& why)
{
    return {ErrorKind::BadContent, path + " ist kein lesbares ZIP-Archiv: " + why};
}

} // namespace

bool IsZipPath(const std::string& path)
{
    return endsWithIgnoringCase(path, ".zip");
}

namespace {

// The tile of an opened archive; `path` names the archive in the messages.
Result<std::vector<std::uint8_t>> readTile(zip_t* opened, const std::string& path,
                                           const std::function<bool(std::uint64_t size)>& acceptSize)
{
    const ZipLibrary& zip = *Zip();
    std::unique_ptr<zip_t, ArchiveCloser> archive(opened);
    const zip_int64_t entries = zip.zip_get_num_entries(archive.get(), 0);
    zip_int64_t tile = -1;
    for (zip_int64_t i = 0; i < entries; ++i) {
        const char* name = zip.zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
        if (name && endsWithIgnoringCase(name, ".hgt")) {
            if (tile >= 0)
                return Error{ErrorKind::BadContent, path + " enthält mehr als eine HGT-Kachel"};
            tile = i;
        }
    }
    if (tile < 0)
        return Error{ErrorKind::BadContent, path + " enthält keine HGT-Kachel"};

    zip_stat_t stat;
    zip.zip_stat_init(&stat);
    if (zip.zip_stat_index(archive.get(), static_cast<zip_uint64_t>(tile), 0, &stat) != 0
        || !(stat.valid & ZIP_STAT_SIZE))
        return corrupt(path, reasonOf(zip.zip_get_error(archive.get())));
    if (!acceptSize(stat.size))
        return Error{ErrorKind::BadContent,
                     path + " enthält eine Kachel von " + std::to_string(stat.size) + " Bytes, keine HGT-Kachel"};

    std::unique_ptr<zip_file_t, MemberCloser> member(
        zip.zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(tile), 0));
    if (!member)
        return corrupt(path, reasonOf(zip.zip_get_error(archive.get())));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stat.size));
    std::uint64_t done = 0;
    while (done < stat.size) {
        const zip_int64_t got = zip.zip_fread(member.get(), bytes.data() + done, stat.size - done);
        if (got < 0)
            return corrupt(path, reasonOf(zip.zip_file_get_error(member.get())));
        if (got == 0)
            break;
        done += static_cast<std::uint64_t>(got);
    }
    // A member that inflates to another size than it claims is as corrupt as a wrong checksum. The
    // checksum is compared only when the end is read, so a failing last read names that reason.
    if (done == stat.size) {
        std::uint8_t extra = 0;
        const zip_int64_t more = zip.zip_fread(member.get(), &extra, 1);
        if (more < 0)
            return corrupt(path, reasonOf(zip.zip_file_get_error(member.get())));
        if (more == 0)
            return bytes;
    }
    return corrupt(path, "die Kachel hat nicht die angegebene Größe");
}

} // namespace

Result<std::vector<std::uint8_t>> ReadZippedTile(const std::string& path,
                                                 const std::function<bool(std::uint64_t size)>& acceptSize)
{
    // The plain open says in German why a file cannot be read; the archive library takes over after.
    if (Result<File> file = File::openRead(path); !file)
        return file.error();
    if (!Zip())
        return Zip().error();
    const ZipLibrary& zip = *Zip();
    int code = 0;
    zip_t* archive = zip.zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!archive) {
        zip_error_t error;
        zip.zip_error_init_with_code(&error, code);
        const std::string reason = reasonOf(&error);
        zip.zip_error_fini(&error);
        return corrupt(path, reason);
    }
    return readTile(archive, path, acceptSize);
}

Result<std::vector<std::uint8_t>> ReadZippedTileInMemory(const std::string& path, const std::uint8_t* data,
                                                         std::size_t size,
                                                         const std::function<bool(std::uint64_t size)>& acceptSize)
{
    if (!Zip())
        return Zip().error();
    const ZipLibrary& zip = *Zip();
    zip_error_t error;
    zip.zip_error_init(&error);
    zip_source_t* source = zip.zip_source_buffer_create(data, size, 0, &error);
    zip_t* archive = source ? zip.zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr;
    if (!archive) {
        if (source)
            zip.zip_source_free(source);
        const std::string reason = reasonOf(&error);
        zip.zip_error_fini(&error);
        return corrupt(path, reason);
    }
    zip.zip_error_fini(&error);
    return readTile(archive, path, acceptSize); // the archive owns the source now
}

Result<> WriteZippedTile(const std::string& path, const std::string& member, const std::vector<std::uint8_t>& bytes)
{
    if (!Zip())
        return Zip().error();
    const ZipLibrary& zip = *Zip();
    int code = 0;
    zip_t* archive = zip.zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive)
        return Error{ErrorKind::Io, path + " kann nicht angelegt werden"};
    zip_source_t* source = zip.zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
    if (!source || zip.zip_file_add(archive, member.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
        const std::string reason = reasonOf(zip.zip_get_error(archive));
        if (source)
            zip.zip_source_free(source);
        zip.zip_discard(archive);
        return Error{ErrorKind::Io, path + " kann nicht geschrieben werden: " + reason};
    }
    if (zip.zip_close(archive) != 0) {
        const std::string reason = reasonOf(zip.zip_get_error(archive));
        zip.zip_discard(archive);
        return Error{ErrorKind::Io, path + " kann nicht geschrieben werden: " + reason};
    }
    return {};
}

} // namespace hgt

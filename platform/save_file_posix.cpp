#include "platform/save_file.h"

#include "platform/file_system.h"
#include "platform/internal/temporary_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <set>
#include <utility>

namespace hgt {

namespace {

// A crash between naming an output and renaming it over an earlier one leaves a temporary file.
// Every writer holds a lock on its file until the file has its final name, so a temporary file
// whose lock can be taken has no writer any more and is removed.
void removeOrphans(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTemporaryName(entry->d_name))
            continue;
        const std::string path = JoinPath(folder, entry->d_name);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

// The named temporary files of this process, so that an exit that cannot wait for their writers
// removes them. A name is made, renamed or removed under the lock together with its entry here.
struct TemporaryNames {
    std::timed_mutex mutex;
    std::set<std::string> paths;
};

TemporaryNames& temporaryNames()
{
    static TemporaryNames names; // never destroyed before an exit that still needs it
    return names;
}

} // namespace

void RemoveTemporaryFilesForExit()
{
    TemporaryNames& names = temporaryNames();
    // Held until the process ends: no writer names or renames anything after this.
    if (!names.mutex.try_lock_for(std::chrono::milliseconds(200)))
        return; // the next writer into the folder removes what is left
    for (const std::string& path : names.paths)
        ::unlink(path.c_str());
    names.paths.clear();
}

Result<SaveFile> SaveFile::create(const std::string& targetPath, SaveOptions options)
{
    SaveFile save(targetPath, std::move(options));
    const std::string folder = FolderOf(targetPath);
    removeOrphans(folder);
#ifdef O_TMPFILE
    const int unnamed = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (unnamed >= 0) {
        ::flock(unnamed, LOCK_EX);
        save.m_file = File::adopt(unnamed, targetPath);
        return save;
    }
    // Only a file system without unnamed files falls back; other errors are the folder's.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return save.failure(SystemError({}, {}, errno));
#endif
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string temp = TemporaryName(targetPath);
        std::lock_guard named(temporaryNames().mutex);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temporaryNames().paths.insert(temp);
            ::flock(fd, LOCK_EX);
            save.m_file = File::adopt(fd, targetPath);
            save.m_tempPath = temp;
            return save;
        }
        if (errno != EEXIST)
            return save.failure(SystemError({}, {}, errno));
    }
    return save.failure(SystemError({}, {}, EEXIST));
}

Result<> SaveFile::linkUnnamed()
{
    const std::string procPath = "/proc/self/fd/" + std::to_string(m_file.handle());
    auto link = [&](const std::string& name) {
        int result = ::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
        if (result != 0 && errno == ENOENT) // no /proc: the direct form needs more privileges, but try it
            result = ::linkat(m_file.handle(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
        return result;
    };
    // A new output gets its name in one step; only an earlier output is replaced by a rename.
    if (link(m_targetPath) == 0) {
        m_linkedToTarget = true;
        trace("link", m_targetPath);
        return {};
    }
    if (errno != EEXIST)
        return failure(SystemError({}, {}, errno));
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string temp = TemporaryName(m_targetPath);
        std::unique_lock named(temporaryNames().mutex);
        if (link(temp) == 0) {
            temporaryNames().paths.insert(temp);
            named.unlock();
            m_tempPath = temp;
            trace("link", temp);
            return {};
        }
        if (errno != EEXIST)
            return failure(SystemError({}, {}, errno));
    }
    return failure(SystemError({}, {}, EEXIST));
}

Result<> SaveFile::commit()
{
    if (Result<> synced = syncData(); !synced)
        return synced;
    if (m_tempPath.empty()) {
        if (Result<> linked = linkUnnamed(); !linked)
            return linked;
    }
    if (!m_linkedToTarget) {
        std::unique_lock named(temporaryNames().mutex);
        if (::rename(m_tempPath.c_str(), m_targetPath.c_str()) != 0)
            return failure(SystemError({}, {}, errno));
        temporaryNames().paths.erase(m_tempPath);
        named.unlock();
        trace("rename", m_targetPath);
        m_tempPath.clear();
    }
    if (Result<> closed = m_file.close(); !closed)
        return failure(closed.error());
    return {};
}

void SaveFile::startWriteBack()
{
#ifdef SYNC_FILE_RANGE_WRITE
    (void)::sync_file_range(m_file.handle(), m_flushed, m_written - m_flushed, SYNC_FILE_RANGE_WRITE);
#endif
}

void SaveFile::discard()
{
    (void)m_file.close();
    if (!m_tempPath.empty()) {
        std::lock_guard named(temporaryNames().mutex);
        ::unlink(m_tempPath.c_str());
        temporaryNames().paths.erase(m_tempPath);
        m_tempPath.clear();
    }
}

Result<> SyncFolder(const std::string& folder, const SyncTrace& trace)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return SystemError("Ordner " + folder, " kann nicht geschrieben werden", errno);
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0)
        return SystemError("Ordner " + folder, " kann nicht geschrieben werden", error);
    if (trace)
        trace("sync-folder", folder);
    return {};
}

} // namespace hgt

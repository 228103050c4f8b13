#include "platform/save_file.h"

#include "platform/file_system.h"
#include "platform/internal/temporary_names.h"
#include "platform/internal/windows_error.h"
#include "platform/internal/windows_text.h"

#include <windows.h>

#include <chrono>
#include <map>
#include <mutex>
#include <utility>

namespace hgt {

namespace {

// A writer holds its temporary file open without sharing deletion until the file has its name, so
// the system refuses to delete a live writer's file; one that can be deleted has no writer any more
// (a killed run's) and goes.
void removeOrphans(const std::string& folder)
{
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileExW(windows::SystemPath(JoinPath(folder, ".hgtfill-*.tmp")).c_str(), FindExInfoBasic,
                                   &entry, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = windows::Narrow(entry.cFileName);
        if (IsTemporaryName(name) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW(windows::SystemPath(JoinPath(folder, name)).c_str());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

// The temporary files of this process with their open handles, so that an exit that cannot wait
// for their writers has them deleted. A name is made, renamed or removed under the lock together
// with its entry here.
struct TemporaryNames {
    std::timed_mutex mutex;
    std::map<std::string, HANDLE> files;
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
    // The writer's own handle refuses other deleters; through it the file goes when the process
    // closes the handle at its end. One that cannot be disposed of is left to the next writer.
    for (const auto& entry : names.files) {
        FILE_DISPOSITION_INFO dispose{TRUE};
        (void)SetFileInformationByHandle(entry.second, FileDispositionInfo, &dispose, sizeof dispose);
    }
    names.files.clear();
}

Result<SaveFile> SaveFile::create(const std::string& targetPath, SaveOptions options)
{
    SaveFile save(targetPath, std::move(options));
    // Windows would store "N47E011.hgt." as "N47E011.hgt" and send "NUL.hgt" to a device: such a
    // tile would land under another name, or nowhere. A name too long fails only at the rename, after
    // all the work, since the temporary name is short.
    if (const std::string reserved = windows::UnusableNameReason(GetFileName(targetPath)); !reserved.empty())
        return Error{ErrorKind::Io, targetPath + " kann nicht geschrieben werden: " + reserved};
    // A file the user marked read-only is not replaced; said before anything is written.
    const DWORD attributes = GetFileAttributesW(windows::SystemPath(targetPath).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)
        && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return save.failure(windows::PathError({}, {}, ERROR_ACCESS_DENIED, targetPath));
    removeOrphans(FolderOf(targetPath));
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string temp = TemporaryName(targetPath);
        std::lock_guard named(temporaryNames().mutex);
        // DELETE access lets RemoveTemporaryFilesForExit dispose of the file through this handle.
        HANDLE handle = CreateFileW(windows::SystemPath(temp).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            temporaryNames().files.emplace(temp, handle);
            save.m_file = File::adopt(handle, targetPath);
            save.m_tempPath = temp;
            return save;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return save.failure(windows::SystemError({}, {}, error));
    }
    return save.failure(windows::SystemError({}, {}, ERROR_FILE_EXISTS));
}

// Windows has no call that starts the write-back of a range without waiting for it: the
// FlushFileBuffers of syncData() does all of it.
void SaveFile::startWriteBack() {}

Result<> SaveFile::commit()
{
    if (Result<> synced = syncData(); !synced)
        return synced;
    std::unique_lock named(temporaryNames().mutex);
    // The handle is closed first, since it shares no deletion and so would refuse the rename. Until
    // the rename, another run starting in this folder could take the closed file for a dead
    // writer's: then the rename fails and is reported, and no partial tile is left either way.
    temporaryNames().files.erase(m_tempPath);
    if (Result<> closed = m_file.close(); !closed) {
        named.unlock();
        discard();
        return failure(closed.error());
    }
    if (!MoveFileExW(windows::SystemPath(m_tempPath).c_str(), windows::SystemPath(m_targetPath).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const Error error = windows::PathError({}, {}, GetLastError(), m_targetPath);
        named.unlock();
        discard();
        return failure(error);
    }
    named.unlock();
    trace("rename", m_targetPath);
    m_tempPath.clear();
    return {};
}

void SaveFile::discard()
{
    std::lock_guard named(temporaryNames().mutex);
    if (!m_tempPath.empty())
        temporaryNames().files.erase(m_tempPath);
    (void)m_file.close();
    if (!m_tempPath.empty()) {
        DeleteFileW(windows::SystemPath(m_tempPath).c_str());
        m_tempPath.clear();
    }
}

// NTFS journals its names: a name that MoveFileExW with MOVEFILE_WRITE_THROUGH has made is on disk
// when the call returns, and a folder has no handle of its own to flush. The step is traced all
// the same, so the order of the steps reads alike on every system.
Result<> SyncFolder(const std::string& folder, const SyncTrace& trace)
{
    if (trace)
        trace("sync-folder", folder);
    return {};
}

} // namespace hgt

#pragma once

#include "platform/error.h"
#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace hgt {

// Called with the name of each durability step ("sync-data", "link", "rename", "sync-folder") and
// the path it concerns, so that tests can check the order of the steps.
using SyncTrace = std::function<void(std::string_view step, const std::string& path)>;

struct SaveOptions {
    bool durable = true; // sync the data before the file gets its name
    SyncTrace trace;
};

// An output file that appears under its name only when complete. On Linux the bytes go into an
// unnamed file in the target's folder (O_TMPFILE), so a crash leaves nothing behind; commit() syncs
// it and links it under the target's name, or, over an earlier file, under a short temporary name
// that is then renamed over the target. Where the file system has no unnamed files, a named
// temporary file of fixed length is used. Anything not committed is removed, so an earlier file
// under the target's name stays as it was; temporary files of writers that died are removed by the
// next writer into the folder.
class SaveFile {
public:
    static Result<SaveFile> create(const std::string& targetPath, SaveOptions options = {});

    SaveFile(SaveFile&& other) noexcept;
    SaveFile& operator=(SaveFile&& other) noexcept;
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;
    ~SaveFile();

    Result<> write(const std::uint8_t* buffer, std::size_t n);
    // Syncs the data now (when durable), so that commit() has only the naming left to do.
    Result<> syncData();
    Result<> commit();
    void discard();

    const std::string& targetPath() const { return m_targetPath; }
    // Empty while the file has no name of its own.
    const std::string& tempPath() const { return m_tempPath; }

private:
    SaveFile(std::string targetPath, SaveOptions options)
        : m_targetPath(std::move(targetPath)), m_options(std::move(options))
    {}
    void trace(std::string_view step, const std::string& path) const;
    Error failure(const Error& cause) const;
    Result<> linkUnnamed();
    void startWriteBack(); // of the bytes from m_flushed to m_written, without waiting for it

    std::string m_targetPath;
    SaveOptions m_options;
    File m_file;
    std::string m_tempPath;
    bool m_linkedToTarget = false;
    bool m_synced = false;
    static constexpr std::int64_t kFlushBytes = 4 << 20; // write-back is started every this many bytes
    std::int64_t m_written = 0;
    std::int64_t m_flushed = 0; // bytes whose write-back has been started
};

// For a process about to end at once (_exit) while outputs may be unfinished: removes the named
// temporary files of this process's outputs and keeps any other from being named until the end.
// Unnamed files go with the process by themselves. Waits only briefly for an output being named.
void RemoveTemporaryFilesForExit();

// Makes the names created in a folder durable (fsync of the folder).
Result<> SyncFolder(const std::string& folder, const SyncTrace& trace = {});

} // namespace hgt

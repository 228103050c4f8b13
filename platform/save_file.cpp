#include "platform/save_file.h"

#include "platform/file_system.h"
#include "platform/internal/temporary_names.h"

#include <cstdio>
#include <random>
#include <utility>

namespace hgt {

// A short name of fixed length, so that long tile names still fit their folder's name limit.
std::string TemporaryName(const std::string& targetPath)
{
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    char name[32];
    std::snprintf(name, sizeof name, ".hgtfill-%08x.tmp", static_cast<unsigned>(generator() & 0xFFFFFFFFu));
    const std::string folder = GetParentFolderName(targetPath);
    return folder.empty() ? std::string(name) : JoinPath(folder, name);
}

std::string FolderOf(const std::string& path)
{
    const std::string folder = GetParentFolderName(path);
    return folder.empty() ? std::string(".") : folder;
}

bool IsTemporaryName(std::string_view text)
{
    return text.size() == 21 && text.starts_with(".hgtfill-") && text.ends_with(".tmp");
}

SaveFile::SaveFile(SaveFile&& other) noexcept
    : m_targetPath(std::move(other.m_targetPath)), m_options(std::move(other.m_options)),
      m_file(std::move(other.m_file)), m_tempPath(std::exchange(other.m_tempPath, {})),
      m_linkedToTarget(other.m_linkedToTarget), m_synced(other.m_synced), m_written(other.m_written),
      m_flushed(other.m_flushed)
{}

SaveFile& SaveFile::operator=(SaveFile&& other) noexcept
{
    if (this != &other) {
        discard();
        m_targetPath = std::move(other.m_targetPath);
        m_options = std::move(other.m_options);
        m_file = std::move(other.m_file);
        m_tempPath = std::exchange(other.m_tempPath, {});
        m_linkedToTarget = other.m_linkedToTarget;
        m_synced = other.m_synced;
        m_written = other.m_written;
        m_flushed = other.m_flushed;
    }
    return *this;
}

SaveFile::~SaveFile()
{
    discard();
}

void SaveFile::trace(std::string_view step, const std::string& path) const
{
    if (m_options.trace)
        m_options.trace(step, path);
}

// The target is what the user knows; the temporary file's name stays out of the message.
Error SaveFile::failure(const Error& cause) const
{
    std::string text = m_targetPath + " kann nicht geschrieben werden";
    if (const std::size_t colon = cause.message.rfind(": "); colon != std::string::npos)
        text += cause.message.substr(colon);
    return {cause.kind, std::move(text)};
}

Result<> SaveFile::write(const std::uint8_t* buffer, std::size_t n)
{
    if (Result<> written = m_file.write(buffer, n); !written)
        return failure(written.error());
    m_written += static_cast<std::int64_t>(n);
    // A durable file's pages start on their way to the disk while the rest is still being made, so
    // the sync at the end waits for the last few only. Starting the write-back does not wait for it;
    // where it cannot be started, the sync does all of it.
    if (m_options.durable && m_written - m_flushed >= kFlushBytes) {
        startWriteBack();
        m_flushed = m_written;
    }
    return {};
}

Result<> SaveFile::syncData()
{
    if (m_options.durable && !m_synced) {
        if (Result<> synced = m_file.syncData(); !synced)
            return failure(synced.error());
        trace("sync-data", m_targetPath);
    }
    m_synced = true;
    return {};
}

} // namespace hgt

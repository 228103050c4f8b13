#include "save_file.h"

#include <filesystem>
#include <random>
#include <system_error>

namespace hgt {

namespace {

std::string randomSuffix()
{
    static std::mt19937_64 generator{std::random_device{}()};
    static constexpr char digits[] = "0123456789abcdef";
    std::string suffix;
    auto value = generator();
    for (int i = 0; i < 8; ++i, value >>= 4)
        suffix += digits[value & 0xF];
    return suffix;
}

// The target is what the user knows; the temporary file's name stays out of the message.
FsStatus writeFailure(const std::string& target, const FsStatus& cause)
{
    std::string text = target + " kann nicht geschrieben werden";
    if (!cause.reason.empty())
        text += ": " + cause.reason;
    return FsStatus::failure(std::move(text), cause.reason);
}

} // namespace

SaveFile::SaveFile(std::string targetPath) : m_targetPath(std::move(targetPath)) {}

SaveFile::~SaveFile()
{
    discard();
}

FsStatus SaveFile::open()
{
    discard();
    FsStatus status;
    for (int attempt = 0; attempt < 8; ++attempt) {
        // The temporary name keeps the target's name in front, so a user who finds one knows whose it is.
        m_tempPath = m_targetPath + "." + randomSuffix() + ".tmp";
        status = m_file.open(m_tempPath, TileFile::Mode::CreateNew);
        if (status) {
            m_tempExists = true;
            return status;
        }
        if (std::filesystem::exists(std::filesystem::path(m_tempPath)) == false)
            break; // not a name clash: trying another name will not help
    }
    return writeFailure(m_targetPath, status);
}

FsStatus SaveFile::write(const std::uint8_t* buffer, std::size_t n)
{
    FsStatus status = m_file.write(buffer, n);
    if (!status)
        return writeFailure(m_targetPath, status);
    return status;
}

FsStatus SaveFile::commit()
{
    FsStatus status = m_file.close();
    if (!status)
        return writeFailure(m_targetPath, status);
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(m_tempPath), std::filesystem::path(m_targetPath), ec);
    if (ec)
        return writeFailure(m_targetPath, FsStatus::failure({}, ec.message()));
    m_tempExists = false;
    return {};
}

void SaveFile::discard()
{
    m_file.close();
    if (m_tempExists) {
        std::error_code ec;
        std::filesystem::remove(std::filesystem::path(m_tempPath), ec);
        m_tempExists = false;
    }
}

} // namespace hgt

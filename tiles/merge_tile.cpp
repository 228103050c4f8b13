#include "merge_tile.h"

#include "file_system.h"
#include "run_report.h"
#include "tile_file.h"
#include "tile_format.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

namespace hgt {

namespace {

const std::string kNoHolesText = "hat keine Löcher.";
const std::string kProgressText = " Bytes verarbeitet. File : ";

std::string missingSecondaryText(const std::string& primaryFile)
{
    return "kein sekundäres hgt-file " + primaryFile + " im Sekundärordner gefunden";
}

class MergeRun {
public:
    MergeRun(WindowState& state, RunHost& host, const EngineOptions& options)
        : m_state(state), m_host(host), m_options(options), m_report(state, host)
    {
    }

    MergeResult run(const std::string& primaryFile, const std::string& secondaryFolder);

private:
    // The message of a run that could not fill goes to the run log and becomes the run's line.
    void record(const std::string& message)
    {
        m_state.runLog += message;
        m_report.replaceLine(message);
    }

    MergeResult fail(const std::string& message)
    {
        record(message);
        return {MergeEnd::Failed, message};
    }

    WindowState& m_state;
    RunHost& m_host;
    EngineOptions m_options;
    RunReport m_report;
};

MergeResult MergeRun::run(const std::string& primaryFile, const std::string& secondaryFolder)
{
    m_state.logIndex.raise();
    m_state.byteHigh = 0;
    m_state.byteLow = 0;
    const std::string name = GetFileName(primaryFile);

    TileFile primary;
    FsStatus status = primary.open(primaryFile, TileFile::Mode::Read);
    if (!status)
        return fail(status.message);
    if (status = CheckTileSize(primary); !status)
        return fail(status.message);

    bool holes = false;
    if (status = HasVoidBytePair(primary, m_options.blockBytes, holes); !status)
        return fail(status.message);
    if (!holes) {
        m_report.insertLine(name + kNoHolesText);
        return {MergeEnd::NoHoles, {}};
    }
    m_state.runLog += '\n';

    // The secondary tile is looked for before anything is created, so a missing one leaves no trace.
    const std::string secondaryFile = FindTileInFolder(secondaryFolder, name);
    if (secondaryFile.empty()) {
        const std::string message = missingSecondaryText(primaryFile);
        record(message);
        m_host.enableCommand1();
        return {MergeEnd::MissingSecondary, message};
    }
    TileFile secondary;
    if (status = secondary.open(secondaryFile, TileFile::Mode::Read); !status)
        return fail(status.message);
    if (status = CheckTileSize(secondary); !status)
        return fail(status.message);

    const std::string mergedFolder = SiblingFolder(primaryFile, "Merged");
    if (status = EnsureFolder(mergedFolder); !status)
        return fail(status.message);

    WalkSetup setup;
    setup.rule = SampleRule::Fill;
    setup.stopTest = StopTest::AfterReport;
    setup.blockBytes = m_options.blockBytes;
    setup.statusText = [&name](std::int32_t posHigh) { return std::to_string(posHigh) + kProgressText + name; };

    const WalkResult walk =
        WalkToFile(m_state, m_host, m_report, setup, primary, secondary, JoinPath(mergedFolder, name));
    if (walk.end == WalkEnd::Failed)
        return fail(walk.message);
    if (walk.end == WalkEnd::Stopped)
        return {MergeEnd::Stopped, {}};
    m_report.rewriteLine(m_state.statusText);
    return {MergeEnd::Complete, {}};
}

} // namespace

FsStatus HasVoidBytePair(TileFile& file, std::size_t blockBytes, bool& found)
{
    found = false;
    std::vector<std::uint8_t> buffer(std::clamp<std::size_t>(blockBytes, 1, 1024 * 1024));
    std::uint8_t previous = 0;
    bool havePrevious = false;
    for (;;) {
        std::size_t got = 0;
        if (FsStatus status = file.readSome(buffer.data(), buffer.size(), got); !status)
            return status;
        if (got == 0)
            return {};
        // A pair may straddle two blocks: the previous block's last byte pairs with this one's first.
        if (havePrevious && previous == kVoidHigh && buffer[0] == kVoidLow) {
            found = true;
            return {};
        }
        const std::uint8_t* const end = buffer.data() + got;
        for (const std::uint8_t* p = buffer.data(); p < end;) {
            p = static_cast<const std::uint8_t*>(std::memchr(p, kVoidHigh, static_cast<std::size_t>(end - p)));
            if (!p || p + 1 >= end)
                break;
            if (p[1] == kVoidLow) {
                found = true;
                return {};
            }
            ++p;
        }
        previous = buffer[got - 1];
        havePrevious = true;
    }
}

std::string SiblingFolder(const std::string& path, const std::string& name)
{
    const std::string parent = GetParentFolderName(path);
    return parent.empty() ? name : JoinPath(parent, name);
}

std::string FindTileInFolder(const std::string& folder, const std::string& name)
{
    const std::string exact = JoinPath(folder, name);
    if (FileExists(exact))
        return exact;
    Folder found;
    if (!GetFolder(folder, found))
        return {};
    std::string match;
    for (const std::string& file : Files(found).files) {
        if (EqualsIgnoringCase(GetFileName(file), name)) {
            if (!match.empty())
                return {}; // ambiguous: only the exact name would do
            match = file;
        }
    }
    return match;
}

MergeResult MergeTile(WindowState& state, RunHost& host, const std::string& primaryFile,
                      const std::string& secondaryFolder, const EngineOptions& options)
{
    std::string message = "Interner Fehler bei " + primaryFile;
    try {
        return MergeRun(state, host, options).run(primaryFile, secondaryFolder);
    } catch (const std::exception& error) {
        message += std::string(": ") + error.what();
    } catch (...) {
    }
    try { // reported like any other failure, as far as that is still possible
        state.runLog += message;
        RunReport(state, host).replaceLine(message);
    } catch (...) {
    }
    return {MergeEnd::Failed, message};
}

} // namespace hgt

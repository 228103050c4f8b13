#include "platform/file_system.h"
#include "tiles/tile_folder.h"
#include "tiles/internal/delta_fill.h"
#include "tiles/internal/output_paths.h"
#include "tiles/internal/tile_input.h"
#include "tiles/internal/tile_walk.h"

#include <chrono>

namespace hgt {

namespace {

const std::string kNoHolesText = "hat keine Löcher.";
const std::string kProgressText = " Bytes verarbeitet. File : ";

std::string missingSecondaryText(const std::string& primaryFile)
{
    return "kein sekundäres hgt-file " + primaryFile + " im Sekundärordner gefunden";
}

std::string ambiguousSecondaryText(const std::string& name, const std::string& folder)
{
    return "mehrere sekundäre hgt-files passen zu " + name + " im Sekundärordner " + folder
           + " (sie unterscheiden sich nur in Groß- und Kleinschreibung)";
}

class FillRun {
public:
    FillRun(RunContext& run, const std::string& primaryFile) : m_run(run)
    {
        m_result.tile = primaryFile;
    }

    TileResult run(const std::string& secondaryFolder, std::optional<SaveFile>* pending, const Error* refusal);

private:
    // The message of a run that could not fill goes to the run log and becomes the run's line.
    void record(const std::string& message)
    {
        m_run.state.runLog += message;
        m_run.report.replaceLine(message);
    }

    TileResult fail(const Error& error)
    {
        record(error.message);
        MarkFailed(m_result, error);
        return m_result;
    }

    TileResult end(RunEnd how)
    {
        m_result.end = how;
        return m_result;
    }

    RunContext& m_run;
    TileResult m_result;
};

TileResult FillRun::run(const std::string& secondaryFolder, std::optional<SaveFile>* pending, const Error* refusal)
{
    WindowState& state = m_run.state;
    const std::string& primaryFile = m_result.tile;
    state.logIndex.raise();
    state.byteHigh = 0;
    state.byteLow = 0;
    if (refusal)
        return fail(*refusal);
    const std::string name = TileName(primaryFile);
    const VoidSet voids(m_run.options.voidValues);

    Result<TileInput> primary = TileInput::open(primaryFile);
    if (!primary)
        return fail(primary.error());
    const Result<bool> holes = HasHoles(*primary, voids, m_run.options.blockBytes);
    if (!holes)
        return fail(holes.error());
    if (!*holes) {
        m_run.report.insertLine(name + kNoHolesText);
        return end(RunEnd::NoHoles);
    }
    state.runLog += '\n';

    // The sources are looked for before anything is created, so a missing one leaves no trace.
    std::vector<std::string> folders{secondaryFolder};
    folders.insert(folders.end(), m_run.options.moreSecondaryFolders.begin(), m_run.options.moreSecondaryFolders.end());
    std::vector<std::optional<GridSource>> sources(folders.size());
    RunInputs inputs{{primaryFile}, folders};
    inputs.folders.push_back(SiblingFolder(primaryFile, "."));
    bool anySource = false;
    for (std::size_t s = 0; s < folders.size(); ++s) {
        const Result<std::string> found = FindTileInFolder(folders[s], name);
        if (!found && found.error().kind == ErrorKind::NotFound)
            continue;
        if (!found)
            return fail({ErrorKind::Ambiguous, ambiguousSecondaryText(name, folders[s])});
        Result<TileInput> input = TileInput::open(*found);
        if (!input)
            return fail(input.error());
        const std::optional<FileIdentity> primaryId = primary->identity();
        if (primaryId && primaryId == input->identity())
            return fail({ErrorKind::SameFile,
                         "Das sekundäre hgt-file " + *found + " ist das Primärfile " + primaryFile + " selbst"});
        sources[s].emplace(std::move(*input), primary->grid(), voids);
        inputs.files.push_back(*found);
        anySource = true;
    }
    if (!anySource) {
        m_result.message = missingSecondaryText(primaryFile);
        record(m_result.message);
        return end(RunEnd::MissingSecondary);
    }

    const std::string outputPath = MergedTilePath(primaryFile);
    const std::string mergedFolder = GetParentFolderName(outputPath);
    if (Result<> safe = CheckOutputTarget(outputPath, inputs); !safe)
        return fail(safe.error());
    if (Result<> folder = EnsureFolder(mergedFolder); !folder)
        return fail(folder.error());
    Result<SaveFile> output = SaveFile::create(outputPath, m_run.saveOptions());
    if (!output)
        return fail(output.error());

    WalkSetup setup;
    setup.rule = SampleRule::Fill;
    setup.stopTest = StopTest::AfterReport;
    setup.statusText = [&name](std::int32_t posHigh) { return std::to_string(posHigh) + kProgressText + name; };
    WalkInputs walkInputs{*primary, {}, voids};
    for (std::optional<GridSource>& source : sources)
        walkInputs.sources.push_back(source ? &*source : nullptr);

    // The offset-bridging fill needs the whole tile at once; the walk then only writes it out.
    std::optional<DeltaFilled> delta;
    if (m_run.options.method == FillMethod::Delta) {
        Result<DeltaFilled> filled = DeltaFill(*primary, walkInputs.sources, voids, [this] { m_run.host.yieldToEvents(); },
                                                m_run.useHelperThread);
        if (!filled)
            return fail(filled.error());
        delta.emplace(std::move(*filled));
        walkInputs.filled = &*delta;
        m_result.offsets = delta->offsets;
        m_result.warning = OffsetWarning(delta->offsets);
    }

    const Result<Walk> walk = WalkTile(m_run, setup, walkInputs, *output);
    if (!walk)
        return fail(walk.error());
    m_result.voidsFound = delta ? delta->voidsFound : walk->voidsFound;
    m_result.voidsLeft = delta ? delta->voidsLeft : walk->voidsLeft;
    m_result.voidsFilled = m_result.voidsFound - m_result.voidsLeft;
    m_result.filledBySource = delta ? delta->filledBySource : walk->filledBySource;
    if (walk->stopped)
        return end(RunEnd::Stopped);

    primary->close();
    sources.clear();
    m_result.bytes = walk->bytes;
    m_result.output = output->targetPath();
    if (pending) {
        pending->emplace(std::move(*output));
    } else if (Result<> committed = output->commit(); !committed) {
        return fail(committed.error());
    }
    m_run.report.rewriteLine(state.statusText);
    return end(RunEnd::Complete);
}

} // namespace

TileResult RunFill(RunContext& run, const std::string& primaryFile, const std::string& secondaryFolder,
                   std::optional<SaveFile>* pending, const Error* refusal)
{
    const auto started = std::chrono::steady_clock::now();
    TileResult result;
    try {
        result = FillRun(run, primaryFile).run(secondaryFolder, pending, refusal);
    } catch (...) {
        result = FailedResult(primaryFile, CaughtError(primaryFile));
    }
    if (result.error == ErrorKind::Internal) {
        try { // reported like any other failure, as far as that is still possible
            run.state.runLog += result.message;
            run.report.replaceLine(result.message);
        } catch (...) {
        }
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

TileResult MergeTile(WindowState& state, RunHost& host, const std::string& primaryFile,
                     const std::string& secondaryFolder, const RunOptions& options)
{
    RunContext run(state, host, options);
    TileResult result = RunFill(run, primaryFile, secondaryFolder, nullptr);
    if (result.end == RunEnd::Complete && options.durable) {
        // The new name is durable only once its folder is.
        if (Result<> synced = SyncFolder(GetParentFolderName(result.output), options.trace); !synced) {
            MarkFailed(result, synced.error());
            state.runLog += result.message;
        }
    }
    return result;
}

} // namespace hgt

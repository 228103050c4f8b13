#include "platform/file_system.h"
#include "tiles/tile_folder.h"
#include "tiles/internal/delta_fill.h"
#include "tiles/internal/output_paths.h"
#include "tiles/internal/prepared_tile.h"
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

    TileResult run(const std::string& secondaryFolder, std::optional<SaveFile>* pending, const Error* refusal,
                   std::optional<SaveFile>* pendingProvenance);

private:
    // Interpolation and provenance need the whole output before the walk writes it.
    bool prepares() const { return m_run.options.interpolate || m_run.options.provenance; }
    Result<PreparedTile> prepare(const TileInput& primary, const WalkInputs& inputs, const DeltaFilled* delta);
    Result<> commitPair(SaveFile& output, std::optional<SaveFile>& provenance);

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

Result<PreparedTile> FillRun::prepare(const TileInput& primary, const WalkInputs& inputs, const DeltaFilled* delta)
{
    std::optional<Error> neighbourFailure;
    PrepareOptions how;
    how.interpolate = m_run.options.interpolate;
    how.maxDistance = m_run.options.maxDistance;
    how.neighbours = FolderNeighbours(primary.path(), primary.grid(), neighbourFailure);
    Result<PreparedTile> prepared = PrepareTile(primary, inputs.sources, inputs.voids, delta, how);
    if (prepared && neighbourFailure)
        return *neighbourFailure;
    return prepared;
}

// The companion first: once the tile has its name, both are there; a tile that fails takes its
// companion with it.
Result<> FillRun::commitPair(SaveFile& output, std::optional<SaveFile>& provenance)
{
    if (provenance)
        if (Result<> committed = provenance->commit(); !committed)
            return committed;
    if (Result<> committed = output.commit(); !committed) {
        if (provenance)
            (void)RemoveFile(provenance->targetPath());
        return committed;
    }
    return {};
}

TileResult FillRun::run(const std::string& secondaryFolder, std::optional<SaveFile>* pending, const Error* refusal,
                        std::optional<SaveFile>* pendingProvenance)
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
        if (folders[s].empty()) // no secondary folder: an interpolating run without sources
            continue;
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
    std::optional<PreparedTile> prepared;
    if (!anySource && m_run.options.interpolate) {
        // Interpolation alone: worth an output only where it fills something.
        const WalkInputs none{*primary, std::vector<GridSource*>(sources.size(), nullptr), voids};
        Result<PreparedTile> made = prepare(*primary, none, nullptr);
        if (!made)
            return fail(made.error());
        m_result.leftTooFar = made->leftTooFar;
        if (made->interpolated > 0)
            prepared.emplace(std::move(*made));
    }
    if (!anySource && !prepared) {
        m_result.message = missingSecondaryText(primaryFile);
        record(m_result.message);
        return end(RunEnd::MissingSecondary);
    }

    const std::string outputPath = MergedTilePath(primaryFile);
    const std::string mergedFolder = GetParentFolderName(outputPath);
    if (Result<> safe = CheckOutputTarget(outputPath, inputs); !safe)
        return fail(safe.error());
    const std::string provenancePath = ProvenancePath(outputPath);
    if (m_run.options.provenance)
        if (Result<> safe = CheckOutputTarget(provenancePath, inputs); !safe)
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
    if (m_run.options.method == FillMethod::Delta && anySource) {
        Result<DeltaFilled> filled = DeltaFill(*primary, walkInputs.sources, voids, [this] { m_run.host.yieldToEvents(); },
                                                m_run.useHelperThread);
        if (!filled)
            return fail(filled.error());
        delta.emplace(std::move(*filled));
        walkInputs.filled = &*delta;
        m_result.offsets = delta->offsets;
        m_result.warning = OffsetWarning(delta->offsets);
    }
    if (prepares() && !prepared) {
        Result<PreparedTile> made = prepare(*primary, walkInputs, delta ? &*delta : nullptr);
        if (!made)
            return fail(made.error());
        prepared.emplace(std::move(*made));
    }
    std::optional<SaveFile> provenance;
    if (prepared) {
        walkInputs.prepared = &prepared->bytes;
        if (m_run.options.provenance) {
            Result<SaveFile> file = SaveFile::create(provenancePath, m_run.saveOptions());
            if (!file)
                return fail(file.error());
            if (Result<> written = file->write(prepared->codes.data(), prepared->codes.size()); !written)
                return fail(written.error());
            provenance.emplace(std::move(*file));
        }
    }

    const Result<Walk> walk = WalkTile(m_run, setup, walkInputs, *output);
    if (!walk)
        return fail(walk.error());
    m_result.voidsFound = delta ? delta->voidsFound : walk->voidsFound;
    m_result.voidsLeft = delta ? delta->voidsLeft : walk->voidsLeft;
    m_result.voidsFilled = m_result.voidsFound - m_result.voidsLeft;
    m_result.filledBySource = delta ? delta->filledBySource : walk->filledBySource;
    if (prepared) {
        m_result.voidsFound = prepared->voidsFound;
        m_result.voidsLeft = prepared->voidsLeft;
        m_result.interpolated = prepared->interpolated;
        m_result.leftTooFar = prepared->leftTooFar;
        m_result.voidsFilled = m_result.voidsFound - m_result.voidsLeft - m_result.interpolated;
        m_result.filledBySource = prepared->filledBySource;
    }
    if (walk->stopped)
        return end(RunEnd::Stopped);

    primary->close();
    sources.clear();
    m_result.bytes = walk->bytes;
    m_result.output = output->targetPath();
    if (provenance)
        m_result.provenance = provenance->targetPath();
    if (pending && (!provenance || pendingProvenance)) {
        pending->emplace(std::move(*output));
        if (provenance)
            pendingProvenance->emplace(std::move(*provenance));
    } else if (Result<> committed = commitPair(*output, provenance); !committed) {
        return fail(committed.error());
    }
    m_run.report.rewriteLine(state.statusText);
    return end(RunEnd::Complete);
}

} // namespace

TileResult RunFill(RunContext& run, const std::string& primaryFile, const std::string& secondaryFolder,
                   std::optional<SaveFile>* pending, const Error* refusal, std::optional<SaveFile>* pendingProvenance)
{
    const auto started = std::chrono::steady_clock::now();
    TileResult result;
    try {
        result = FillRun(run, primaryFile).run(secondaryFolder, pending, refusal, pendingProvenance);
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

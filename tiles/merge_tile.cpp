#include "platform/file_system.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_error.h"
#include "tiles/internal/delta_fill.h"
#include "tiles/internal/output_paths.h"
#include "tiles/internal/prepared_tile.h"
#include "tiles/internal/samples.h"
#include "tiles/internal/tile_input.h"
#include "tiles/internal/tile_walk.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace hgt {

namespace {

const std::string kProgressText = " Bytes verarbeitet. File : ";

std::string missingSecondaryText(const std::string& primaryFile)
{
    return "kein sekundäres hgt-file " + primaryFile + " im Sekundärordner gefunden";
}

std::string nothingToInterpolateText(const std::string& primaryFile)
{
    return "keine Quelle angegeben, und kein Loch von " + primaryFile
           + " liegt nah genug an gültigen Werten, um es zu interpolieren";
}

// No source had the tile: the folders' text when only folders were asked, and the rasters by name,
// which hold no hgt-file that could be missing. An interpolating run without any source says so.
std::string missingSourceText(const std::string& primaryFile, const std::vector<FillSource>& sources,
                              bool interpolating)
{
    std::string rasters;
    std::size_t rasterCount = 0;
    bool anyFolder = false;
    for (const FillSource& source : sources) {
        if (source.tiles) {
            rasters += (rasterCount++ == 0 ? "" : ", ") + source.folder;
        } else if (!source.folder.empty()) {
            anyFolder = true;
        }
    }
    if (rasterCount == 0)
        return anyFolder || !interpolating ? missingSecondaryText(primaryFile) : nothingToInterpolateText(primaryFile);
    const std::string named =
        rasterCount == 1 ? "die Rasterquelle " + rasters + " hat" : "die Rasterquellen " + rasters + " haben";
    if (anyFolder)
        return missingSecondaryText(primaryFile) + ", und " + named + " keine Werte dafür";
    return named + " keine Werte für " + primaryFile;
}

std::string ambiguousSecondaryText(const std::string& name, const std::string& folder)
{
    return "mehrere sekundäre hgt-files passen zu " + name + " im Sekundärordner " + folder
           + " (sie unterscheiden sich nur in Groß- und Kleinschreibung)";
}

// The samples a source other than a tile folder must give: the primary's voids and, for the
// offset-bridging fill, the rim around them on which the offset is measured.
Result<std::vector<std::uint8_t>> WantedSamples(const TileInput& primary, const VoidSet& voids, bool withRim)
{
    const std::int64_t side = primary.grid().side;
    std::vector<std::uint8_t> wanted(static_cast<std::size_t>(side * side));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(side * 2));
    RowBits voidBits(withRim ? side : 0);
    for (std::int64_t r = 0; r < side; ++r) {
        if (Result<> read = primary.readAt(r * side * 2, row.data(), row.size()); !read)
            return read.error();
        for (std::int64_t c = 0; c < side; ++c) {
            if (!voids.isVoid(DecodeSample(row.data() + 2 * c)))
                continue;
            wanted[static_cast<std::size_t>(r * side + c)] = 1;
            if (withRim)
                voidBits.set(r, c);
        }
    }
    if (withRim) {
        const NearSamples near = SamplesNearVoids(voidBits);
        for (std::int64_t r = 0; r < side; ++r)
            for (std::int64_t c = 0; c < side; ++c)
                wanted[static_cast<std::size_t>(r * side + c)] = near.contains(r, c);
    }
    return wanted;
}

struct OpenedSource {
    GridSource grid;
    std::vector<std::string> files;
};

// A tile of a source other than a tile folder, as an in-memory tile on the primary's grid, so that
// both fill methods read it like any tile; nullopt where the source does not cover the tile.
Result<std::optional<OpenedSource>> OpenTileSource(const TileSource& tiles, const std::string& name, TileGrid grid,
                                                   const VoidSet& voids, const std::vector<std::uint8_t>& wanted,
                                                   const Proceed& proceed)
{
    Result<std::optional<SourceTile>> tile = tiles.tileFor(name, static_cast<int>(grid.side), &wanted, proceed);
    if (!tile)
        return tile.error();
    if (!*tile)
        return std::optional<OpenedSource>{};
    std::vector<std::int16_t>& values = (*tile)->values;
    if (static_cast<std::int64_t>(values.size()) != grid.side * grid.side)
        return Error{ErrorKind::Internal, tiles.path() + " liefert für " + name + " " + std::to_string(values.size())
                                              + " statt " + std::to_string(grid.side * grid.side) + " Werte"};
    // Rasters that merely touch the tile's edge give no wanted sample a value: no source for this tile.
    if (std::all_of(values.begin(), values.end(), [](std::int16_t v) { return v == kVoidValue; }))
        return std::optional<OpenedSource>{};
    // A sample without a value must read as a void of this run, whichever values mark voids in it.
    if (!voids.hasMarker())
        std::replace(values.begin(), values.end(), kVoidValue, voids.values().front());
    Result<TileInput> input = TileInput::fromSamples(tiles.path(), values);
    if (!input)
        return input.error();
    return std::optional<OpenedSource>(
        OpenedSource{GridSource(std::move(*input), grid, voids), std::move((*tile)->files)});
}

class FillRun {
public:
    FillRun(RunContext& run, const std::string& primaryFile) : m_run(run) { m_result.tile = primaryFile; }

    TileResult run(const std::string& secondaryFolder, std::optional<SaveFile>* pending, const Error* refusal,
                   std::optional<SaveFile>* pendingProvenance);

private:
    // Interpolation and provenance need the whole output before the walk writes it.
    bool prepares() const { return m_run.options.interpolate || m_run.options.provenance; }
    Result<PreparedTile> prepare(const TileInput& primary, const WalkInputs& inputs, const DeltaFilled* delta);

    // Yields to the host; false once a stop is requested.
    Proceed proceedUnlessStopped()
    {
        return [this] {
            m_run.host.yieldToEvents();
            return !m_run.stopRequested();
        };
    }

    // The message of a run that could not fill goes to the run log.
    void record(const std::string& message) { m_run.state.runLog += message; }

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

    // A stopped tile wrote nothing, so it counts nothing as found, filled or interpolated.
    TileResult stopped()
    {
        TileResult none;
        none.tile = m_result.tile;
        none.filledBySource.assign(m_result.filledBySource.size(), 0);
        m_result = std::move(none);
        return end(RunEnd::Stopped);
    }

    RunContext& m_run;
    TileResult m_result;
};

Result<PreparedTile> FillRun::prepare(const TileInput& primary, const WalkInputs& inputs, const DeltaFilled* delta)
{
    PrepareOptions how;
    how.interpolate = m_run.options.interpolate;
    how.maxDistance = m_run.options.maxDistance;
    // A neighbour that cannot be used fails no tile but its own: it is left out and named here.
    const FolderNeighbourTiles around = FolderNeighbours(primary.path(), primary.grid());
    how.neighbours = around.neighbours;
    // A stop ends the preparation early; the walk then stops at its first sample and writes nothing.
    how.proceed = proceedUnlessStopped();
    Result<PreparedTile> prepared = PrepareTile(primary, inputs.sources, inputs.voids, delta, how);
    if (const std::string note = around.note(); prepared && !note.empty() && !m_run.stopRequested())
        m_result.warning += (m_result.warning.empty() ? "" : "; ") + note;
    return prepared;
}

TileResult FillRun::run(const std::string& secondaryFolder, std::optional<SaveFile>* pending, const Error* refusal,
                        std::optional<SaveFile>* pendingProvenance)
{
    RunState& state = m_run.state;
    const std::string& primaryFile = m_result.tile;
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
    if (!*holes)
        return end(RunEnd::NoHoles);
    state.runLog += '\n';

    // The sources are looked for before anything is created, so a missing one leaves no trace.
    std::vector<FillSource> fillSources = m_run.options.sources;
    if (fillSources.empty())
        fillSources.push_back({secondaryFolder, nullptr});
    std::vector<std::string> folders;
    for (const FillSource& source : fillSources)
        if (!source.tiles)
            folders.push_back(source.folder);
    std::vector<std::optional<GridSource>> sources(fillSources.size());
    std::vector<std::vector<std::string>> sourceFiles(fillSources.size());
    std::optional<std::vector<std::uint8_t>> wanted; // taken from the primary when a source needs it
    RunInputs inputs{{primaryFile}, folders};
    inputs.folders.push_back(SiblingFolder(primaryFile, "."));
    bool anySource = false;
    for (std::size_t s = 0; s < fillSources.size(); ++s) {
        if (const std::shared_ptr<const TileSource>& tiles = fillSources[s].tiles) {
            if (!wanted) {
                Result<std::vector<std::uint8_t>> samples =
                    WantedSamples(*primary, voids, m_run.options.method == FillMethod::Delta);
                if (!samples)
                    return fail(samples.error());
                wanted.emplace(std::move(*samples));
            }
            Result<std::optional<OpenedSource>> source =
                OpenTileSource(*tiles, name, primary->grid(), voids, *wanted, proceedUnlessStopped());
            // A source asked to stop returns early; whatever it returned is not a result.
            if (m_run.stopRequested())
                return stopped();
            if (!source)
                return fail(source.error());
            if (!*source)
                continue;
            sources[s].emplace(std::move((*source)->grid));
            sourceFiles[s] = std::move((*source)->files);
            anySource = true;
            continue;
        }
        const std::string& folder = fillSources[s].folder;
        if (folder.empty()) // no secondary folder: an interpolating run without sources
            continue;
        const Result<std::string> found = FindTileInFolder(folder, name);
        if (!found && found.error().kind == ErrorKind::NotFound)
            continue;
        if (!found)
            return fail({TileErrorKind::Ambiguous, ambiguousSecondaryText(name, folder)});
        Result<TileInput> input = TileInput::open(*found);
        if (!input)
            return fail(input.error());
        const std::optional<FileIdentity> primaryId = primary->identity();
        if (primaryId && primaryId == input->identity())
            return fail({TileErrorKind::SameFile,
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
        if (m_run.stopRequested())
            return stopped();
        m_result.leftTooFar = made->leftTooFar;
        if (made->interpolated > 0)
            prepared.emplace(std::move(*made));
    }
    if (!anySource && !prepared) {
        m_result.note = missingSourceText(primaryFile, fillSources, m_run.options.interpolate);
        record(m_result.note);
        return end(RunEnd::MissingSecondary);
    }

    const std::string outputPath = MergedTilePath(primaryFile);
    const std::string mergedFolder = GetParentFolderName(outputPath);
    // Rasters are inputs too, and a folder of rasters is read with its sub folders.
    std::vector<std::string> rasterTrees;
    for (const FillSource& source : fillSources) {
        if (!source.tiles)
            continue;
        if (FolderExists(source.folder)) {
            rasterTrees.push_back(source.folder);
        } else {
            inputs.files.push_back(source.folder);
            inputs.folders.push_back(SiblingFolder(source.folder, "."));
        }
    }
    if (Result<> safe = CheckOutputTarget(outputPath, inputs, rasterTrees); !safe)
        return fail(safe.error());
    const std::string provenancePath = ProvenancePath(outputPath);
    if (m_run.options.provenance)
        if (Result<> safe = CheckOutputTarget(provenancePath, inputs, rasterTrees); !safe)
            return fail(safe.error());

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
        Result<DeltaFilled> filled = DeltaFill(
            *primary, walkInputs.sources, voids, [this] { m_run.host.yieldToEvents(); }, m_run.useHelperThread);
        if (!filled)
            return fail(filled.error());
        if (m_run.stopRequested())
            return stopped();
        delta.emplace(std::move(*filled));
        walkInputs.filled = &*delta;
        m_result.offsets = delta->offsets;
        bool rasterFilled = false;
        for (std::size_t s = 0; s < fillSources.size() && s < delta->filledBySource.size(); ++s)
            rasterFilled = rasterFilled || (fillSources[s].tiles && delta->filledBySource[s] > 0);
        m_result.warning = OffsetWarning(delta->offsets, rasterFilled);
    }
    if (prepares() && !prepared) {
        Result<PreparedTile> made = prepare(*primary, walkInputs, delta ? &*delta : nullptr);
        if (!made)
            return fail(made.error());
        // A stopped preparation is unfinished: nothing of it is written or counted.
        if (m_run.stopRequested())
            return stopped();
        prepared.emplace(std::move(*made));
    }

    // Only now is there something to write (a folder made for it goes again when nothing is written,
    // see RemoveEmptyFolders).
    if (Result<> folder = EnsureFolder(mergedFolder); !folder)
        return fail(folder.error());
    Result<SaveFile> output = SaveFile::create(outputPath, m_run.saveOptions());
    if (!output)
        return fail(output.error());
    std::optional<SaveFile> provenance;
    if (prepared) {
        walkInputs.prepared = prepared->bytes();
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
    if (walk->stopped)
        return stopped();
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
    for (std::size_t s = 0; s < sourceFiles.size() && s < m_result.filledBySource.size(); ++s)
        if (m_result.filledBySource[s] > 0)
            m_result.sourceFiles.insert(m_result.sourceFiles.end(), sourceFiles[s].begin(), sourceFiles[s].end());

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
    } else if (Result<> committed = CommitPair(*output, provenance, m_run.saveOptions()); !committed) {
        return fail(committed.error());
    }
    return end(RunEnd::Complete);
}

} // namespace

// The tile and its companion are either the earlier pair or the new one, whenever the run ends: the
// earlier companion goes first (durably, before the tile is replaced), the new one comes after its
// tile. A kill in between leaves a tile without companion, never one beside a companion of another tile.
Result<> CommitPair(SaveFile& output, std::optional<SaveFile>& provenance, const SaveOptions& options)
{
    const std::string companion = ProvenancePath(output.targetPath());
    // What would keep the companion from its name keeps the tile from its own.
    if (provenance && FolderExists(companion))
        return SystemError(companion, " kann nicht geschrieben werden", EISDIR);
    if (EntryExists(companion) && !FolderExists(companion)) {
        if (Result<> removed = RemoveFile(companion); !removed)
            return removed;
        if (options.trace)
            options.trace("remove", companion);
        if (options.durable)
            if (Result<> synced = SyncFolder(GetParentFolderName(companion), options.trace); !synced)
                return synced;
    }
    // The companion's data is on disk before the tile is replaced, so that little is left to fail after.
    if (provenance)
        if (Result<> synced = provenance->syncData(); !synced)
            return synced;
    if (Result<> committed = output.commit(); !committed)
        return committed;
    if (provenance)
        return provenance->commit();
    return {};
}

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
    if (result.error && result.error->kind == ErrorKind::Internal) {
        try { // logged like any other failure, as far as that is still possible
            run.state.runLog += result.error->message;
        } catch (...) {
        }
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

TileResult MergeTile(RunState& state, RunHost& host, const std::string& primaryFile, const std::string& secondaryFolder,
                     const RunOptions& options)
{
    RunContext run(state, host, options);
    const std::vector<std::string> missing = MissingFolders({SiblingFolder(primaryFile, "Merged")});
    host.tileStarted(0, 1, primaryFile);
    TileResult result = RunFill(run, primaryFile, secondaryFolder, nullptr);
    RemoveEmptyFolders(missing);
    host.tileFinished(0, 1, result);
    if (result.end == RunEnd::Complete && options.durable) {
        // The new name is durable only once its folder is.
        if (Result<> synced = SyncFolder(GetParentFolderName(result.output), options.trace); !synced) {
            MarkFailed(result, synced.error());
            state.runLog += synced.error().message;
        }
    }
    return result;
}

TileResult MergeTile(RunHost& host, const std::string& primaryFile, const std::string& secondaryFolder,
                     const RunOptions& options)
{
    RunState state;
    return MergeTile(state, host, primaryFile, secondaryFolder, options);
}

} // namespace hgt

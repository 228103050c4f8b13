#include "platform/file_system.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_error.h"
#include "tiles/internal/delta_fill.h"
#include "tiles/internal/fill_run.h"
#include "tiles/internal/output_paths.h"
#include "tiles/internal/prepared_tile.h"
#include "tiles/internal/run_failure.h"
#include "tiles/internal/samples.h"
#include "tiles/internal/stopwatch.h"
#include "tiles/internal/tile_input.h"
#include "tiles/internal/tile_walk.h"

#include <algorithm>
#include <cerrno>

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

// How the samples of tile `name` on `grid` are brought to the tiles' datum; null without a conversion.
Result<std::shared_ptr<const TileConversion>> ConversionFor(const HeightConversion* conversion, const std::string& name,
                                                            TileGrid grid, const VoidSet& voids)
{
    if (!conversion)
        return std::shared_ptr<const TileConversion>{};
    return conversion->forTile(name, static_cast<int>(grid.side), voids.values());
}

// A tile of a source other than a tile folder, as an in-memory tile on the primary's grid, so that
// both fill methods read it like any tile; nullopt where the source does not cover the tile.
// With a conversion, the samples are brought to the tiles' datum.
Result<std::optional<OpenedSource>> OpenTileSource(const TileSource& tiles, const HeightConversion* conversion,
                                                   const std::string& name, TileGrid grid, const VoidSet& voids,
                                                   const std::vector<std::uint8_t>& wanted, const Proceed& proceed)
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
    // The samples are in memory already: converted once here, the fill reads them as they stand.
    Result<std::shared_ptr<const TileConversion>> converted = ConversionFor(conversion, name, grid, voids);
    if (!converted)
        return converted.error();
    if (*converted)
        (*converted)->apply(0, values);
    Result<TileInput> input = TileInput::fromSamples(tiles.path(), values);
    if (!input)
        return input.error();
    return std::optional<OpenedSource>(
        OpenedSource{GridSource(std::move(*input), grid, voids), std::move((*tile)->files)});
}

// The fill of one tile, step by step. A step that ends the run returns the run's result; one that
// returns nothing leaves the run to the next step.
class FillRun {
public:
    FillRun(RunContext& run, const std::string& primaryFile) : m_run(run), m_voids(run.options.voidValues)
    {
        m_result.tile = primaryFile;
    }

    TileResult run(const std::string& secondaryFolder, std::optional<SaveFile>* pending, const Error* refusal,
                   std::optional<SaveFile>* pendingProvenance);

private:
    using Ending = std::optional<TileResult>;

    Ending openPrimary();
    void takeSources(const std::string& secondaryFolder);
    Ending findSources();
    Ending openRaster(std::size_t s, std::optional<std::vector<std::uint8_t>>& wanted);
    Ending openFolderTile(std::size_t s);
    Ending interpolateAlone();
    Ending checkOutputs();
    Ending fillWithDelta();
    Ending prepareOutput();
    Ending createOutputs();
    Ending walk();
    TileResult commit(std::optional<SaveFile>* pending, std::optional<SaveFile>* pendingProvenance);

    OutputMaker outputMaker() const;
    void takeCounts(const Walk& walk);
    std::vector<GridSource*> sourcePointers();

    // Interpolation and provenance need the whole output before the walk writes it.
    bool prepares() const { return m_run.options.interpolate || m_run.options.provenance; }
    Result<PreparedTile> prepare(const std::vector<GridSource*>& sources, const DeltaFilled* delta);

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
        none.conversions = m_result.conversions;
        m_result = std::move(none);
        return end(RunEnd::Stopped);
    }

    RunContext& m_run;
    const VoidSet m_voids;
    TileResult m_result;
    std::string m_name;
    std::optional<TileInput> m_primary;
    // The sources in priority order; a source without the tile has no grid.
    std::vector<FillSource> m_fillSources;
    std::vector<std::optional<GridSource>> m_sources;
    std::vector<std::vector<std::string>> m_sourceFiles; // the files a raster source read, by source
    bool m_anySource = false;
    RunInputs m_inputs; // what the outputs must not overwrite
    std::string m_outputPath;
    std::string m_provenancePath;
    std::optional<DeltaFilled> m_delta;
    std::optional<PreparedTile> m_prepared;
    std::optional<SaveFile> m_output;
    std::optional<SaveFile> m_provenance;
};

TileResult FillRun::run(const std::string& secondaryFolder, std::optional<SaveFile>* pending, const Error* refusal,
                        std::optional<SaveFile>* pendingProvenance)
{
    m_run.state.byteHigh = 0;
    m_run.state.byteLow = 0;
    if (refusal)
        return fail(*refusal);
    m_name = TileName(m_result.tile);
    takeSources(secondaryFolder);
    if (Ending ended = openPrimary())
        return *ended;
    if (Ending ended = findSources())
        return *ended;
    if (Ending ended = interpolateAlone())
        return *ended;
    if (Ending ended = checkOutputs())
        return *ended;
    if (Ending ended = fillWithDelta())
        return *ended;
    if (Ending ended = prepareOutput())
        return *ended;
    if (Ending ended = createOutputs())
        return *ended;
    if (Ending ended = walk())
        return *ended;
    return commit(pending, pendingProvenance);
}

// A tile without holes is left as it is.
FillRun::Ending FillRun::openPrimary()
{
    Result<TileInput> primary = TileInput::open(m_result.tile);
    if (!primary)
        return fail(primary.error());
    const Result<bool> holes = HasHoles(*primary, m_voids, m_run.options.blockBytes);
    if (!holes)
        return fail(holes.error());
    if (!*holes)
        return end(RunEnd::NoHoles);
    m_primary.emplace(std::move(*primary));
    m_run.state.runLog += '\n';
    return {};
}

// The sources of the run in their order of priority: the rasters and folders given, else the
// secondary folder. In a run that converts heights, every tile's result names each source's
// conversion, whatever the tile's end.
void FillRun::takeSources(const std::string& secondaryFolder)
{
    m_fillSources = m_run.options.sources;
    if (m_fillSources.empty())
        m_fillSources.push_back({secondaryFolder, nullptr});
    if (ConvertsHeights(m_run.options))
        for (const FillSource& source : m_fillSources)
            m_result.conversions.push_back(source.conversion ? std::optional<SourceConversion>(
                                               SourceConversion{source.conversion->from(), source.conversion->to()})
                                                             : std::nullopt);
}

// The sources are looked for before anything is created, so a missing one leaves no trace.
FillRun::Ending FillRun::findSources()
{
    std::vector<std::string> folders;
    for (const FillSource& source : m_fillSources)
        if (!source.tiles)
            folders.push_back(source.folder);
    m_sources.resize(m_fillSources.size());
    m_sourceFiles.resize(m_fillSources.size());
    m_inputs = RunInputs{{m_result.tile}, folders};
    m_inputs.folders.push_back(SiblingFolder(m_result.tile, "."));
    std::optional<std::vector<std::uint8_t>> wanted; // taken from the primary when a source needs it
    for (std::size_t s = 0; s < m_fillSources.size(); ++s) {
        Ending ended = m_fillSources[s].tiles ? openRaster(s, wanted) : openFolderTile(s);
        if (ended)
            return ended;
    }
    return {};
}

// A source other than a tile folder gives the samples `wanted` of the primary, as an in-memory tile.
FillRun::Ending FillRun::openRaster(std::size_t s, std::optional<std::vector<std::uint8_t>>& wanted)
{
    if (!wanted) {
        Result<std::vector<std::uint8_t>> samples =
            WantedSamples(*m_primary, m_voids, m_run.options.method == FillMethod::Delta);
        if (!samples)
            return fail(samples.error());
        wanted.emplace(std::move(*samples));
    }
    Result<std::optional<OpenedSource>> source =
        OpenTileSource(*m_fillSources[s].tiles, m_fillSources[s].conversion.get(), m_name, m_primary->grid(), m_voids,
                       *wanted, proceedUnlessStopped());
    // A source asked to stop returns early; whatever it returned is not a result.
    if (m_run.stopRequested())
        return stopped();
    if (!source)
        return fail(source.error());
    if (!*source)
        return {};
    m_sources[s].emplace(std::move((*source)->grid));
    m_sourceFiles[s] = std::move((*source)->files);
    m_anySource = true;
    return {};
}

FillRun::Ending FillRun::openFolderTile(std::size_t s)
{
    const std::string& folder = m_fillSources[s].folder;
    if (folder.empty()) // no secondary folder: an interpolating run without sources
        return {};
    const Result<std::string> found = FindTileInFolder(folder, m_name);
    if (!found && found.error().kind == ErrorKind::NotFound)
        return {};
    if (!found)
        return fail({TileErrorKind::Ambiguous, ambiguousSecondaryText(m_name, folder)});
    Result<TileInput> input = TileInput::open(*found);
    if (!input)
        return fail(input.error());
    const std::optional<FileIdentity> primaryId = m_primary->identity();
    if (primaryId && primaryId == input->identity())
        return fail({TileErrorKind::SameFile,
                     "Das sekundäre hgt-file " + *found + " ist das Primärfile " + m_result.tile + " selbst"});
    Result<std::shared_ptr<const TileConversion>> converted =
        ConversionFor(m_fillSources[s].conversion.get(), m_name, m_primary->grid(), m_voids);
    if (!converted)
        return fail(converted.error());
    m_sources[s].emplace(std::move(*input), m_primary->grid(), m_voids, std::move(*converted));
    m_inputs.files.push_back(*found);
    m_anySource = true;
    return {};
}

// Without any source the run ends here, unless it interpolates and the interpolation alone fills
// something: only then is there an output worth writing.
FillRun::Ending FillRun::interpolateAlone()
{
    if (m_anySource)
        return {};
    if (m_run.options.interpolate) {
        Result<PreparedTile> made = prepare(sourcePointers(), nullptr);
        if (!made)
            return fail(made.error());
        if (m_run.stopRequested())
            return stopped();
        m_result.leftTooFar = made->leftTooFar;
        if (made->interpolated > 0) {
            m_prepared.emplace(std::move(*made));
            return {};
        }
    }
    m_result.note = missingSourceText(m_result.tile, m_fillSources, m_run.options.interpolate);
    record(m_result.note);
    return end(RunEnd::MissingSecondary);
}

// No output may take the place of an input. Rasters are inputs too, and a folder of rasters is read
// with its sub folders.
FillRun::Ending FillRun::checkOutputs()
{
    m_outputPath = MergedTilePath(m_result.tile);
    std::vector<std::string> rasterTrees;
    for (const FillSource& source : m_fillSources) {
        if (!source.tiles)
            continue;
        if (FolderExists(source.folder)) {
            rasterTrees.push_back(source.folder);
        } else {
            m_inputs.files.push_back(source.folder);
            m_inputs.folders.push_back(SiblingFolder(source.folder, "."));
        }
    }
    if (Result<> safe = CheckOutputTarget(m_outputPath, m_inputs, rasterTrees); !safe)
        return fail(safe.error());
    m_provenancePath = ProvenancePath(m_outputPath);
    if (m_run.options.provenance)
        if (Result<> safe = CheckOutputTarget(m_provenancePath, m_inputs, rasterTrees); !safe)
            return fail(safe.error());
    return {};
}

// The offset-bridging fill needs the whole tile at once; the walk then only writes it out.
FillRun::Ending FillRun::fillWithDelta()
{
    if (m_run.options.method != FillMethod::Delta || !m_anySource)
        return {};
    Result<DeltaFilled> filled = DeltaFill(
        *m_primary, sourcePointers(), m_voids, [this] { m_run.host.yieldToEvents(); }, m_run.useHelperThread);
    if (!filled)
        return fail(filled.error());
    if (m_run.stopRequested())
        return stopped();
    m_delta.emplace(std::move(*filled));
    m_result.offsets = m_delta->offsets;
    bool rasterFilled = false;
    for (std::size_t s = 0; s < m_fillSources.size() && s < m_delta->filledBySource.size(); ++s)
        rasterFilled = rasterFilled || (m_fillSources[s].tiles && m_delta->filledBySource[s] > 0);
    m_result.warning = OffsetWarning(m_delta->offsets, rasterFilled);
    return {};
}

FillRun::Ending FillRun::prepareOutput()
{
    if (!prepares() || m_prepared)
        return {};
    Result<PreparedTile> made = prepare(sourcePointers(), m_delta ? &*m_delta : nullptr);
    if (!made)
        return fail(made.error());
    // A stopped preparation is unfinished: nothing of it is written or counted.
    if (m_run.stopRequested())
        return stopped();
    m_prepared.emplace(std::move(*made));
    return {};
}

Result<PreparedTile> FillRun::prepare(const std::vector<GridSource*>& sources, const DeltaFilled* delta)
{
    PrepareOptions how;
    how.interpolate = m_run.options.interpolate;
    how.maxDistance = m_run.options.maxDistance;
    // A neighbour that cannot be used fails no tile but its own: it is left out and named here.
    const FolderNeighbourTiles around = FolderNeighbours(m_primary->path(), m_primary->grid());
    how.neighbours = around.neighbours;
    // A stop ends the preparation early; the walk then stops at its first sample and writes nothing.
    how.proceed = proceedUnlessStopped();
    Result<PreparedTile> prepared = PrepareTile(*m_primary, sources, m_voids, delta, how);
    if (const std::string note = around.note(); prepared && !note.empty() && !m_run.stopRequested())
        m_result.warning += (m_result.warning.empty() ? "" : "; ") + note;
    return prepared;
}

// Only now is there something to write (a folder made for it goes again when nothing is written,
// see RemoveEmptyFolders). The provenance companion is written whole here; the walk writes the tile.
FillRun::Ending FillRun::createOutputs()
{
    if (Result<> folder = EnsureFolder(GetParentFolderName(m_outputPath)); !folder)
        return fail(folder.error());
    Result<SaveFile> output = SaveFile::create(m_outputPath, m_run.saveOptions());
    if (!output)
        return fail(output.error());
    m_output.emplace(std::move(*output));
    if (!m_prepared || !m_run.options.provenance)
        return {};
    Result<SaveFile> file = SaveFile::create(m_provenancePath, m_run.saveOptions());
    if (!file)
        return fail(file.error());
    if (Result<> written = file->write(m_prepared->codes.data(), m_prepared->codes.size()); !written)
        return fail(written.error());
    m_provenance.emplace(std::move(*file));
    return {};
}

// The output made beforehand, whole or the voids alone, is the one the walk writes.
OutputMaker FillRun::outputMaker() const
{
    if (m_prepared)
        return OutputMaker::Preparation;
    return m_delta ? OutputMaker::DeltaFill : OutputMaker::Walk;
}

FillRun::Ending FillRun::walk()
{
    WalkSetup setup;
    setup.rule = SampleRule::Fill;
    setup.stopTest = StopTest::AfterReport;
    setup.statusText = [this](std::int32_t posHigh) { return std::to_string(posHigh) + kProgressText + m_name; };
    WalkInputs inputs{*m_primary, sourcePointers(), m_voids};
    inputs.maker = outputMaker();
    if (m_delta)
        inputs.filled = &*m_delta;
    if (m_prepared)
        inputs.prepared = m_prepared->bytes();
    const Result<Walk> walk = WalkTile(m_run, setup, inputs, *m_output);
    if (!walk)
        return fail(walk.error());
    if (walk->stopped)
        return stopped();
    takeCounts(*walk);
    m_result.bytes = walk->bytes;
    return {};
}

// The counts are those of the engine that made the output: a walk that only writes out what was
// made beforehand counts nothing itself.
void FillRun::takeCounts(const Walk& walk)
{
    switch (outputMaker()) {
    case OutputMaker::Walk:
        m_result.voidsFound = walk.voidsFound;
        m_result.voidsLeft = walk.voidsLeft;
        m_result.filledBySource = walk.filledBySource;
        break;
    case OutputMaker::DeltaFill:
        m_result.voidsFound = m_delta->voidsFound;
        m_result.voidsLeft = m_delta->voidsLeft;
        m_result.filledBySource = m_delta->filledBySource;
        break;
    case OutputMaker::Preparation:
        m_result.voidsFound = m_prepared->voidsFound;
        m_result.voidsLeft = m_prepared->voidsLeft;
        m_result.interpolated = m_prepared->interpolated;
        m_result.leftTooFar = m_prepared->leftTooFar;
        m_result.filledBySource = m_prepared->filledBySource;
        break;
    }
    m_result.voidsFilled = m_result.voidsFound - m_result.voidsLeft - m_result.interpolated;
    for (std::size_t s = 0; s < m_sourceFiles.size() && s < m_result.filledBySource.size(); ++s)
        if (m_result.filledBySource[s] > 0)
            m_result.sourceFiles.insert(m_result.sourceFiles.end(), m_sourceFiles[s].begin(), m_sourceFiles[s].end());
}

std::vector<GridSource*> FillRun::sourcePointers()
{
    std::vector<GridSource*> pointers;
    for (std::optional<GridSource>& source : m_sources)
        pointers.push_back(source ? &*source : nullptr);
    return pointers;
}

// The inputs are closed before the output takes its name.
TileResult FillRun::commit(std::optional<SaveFile>* pending, std::optional<SaveFile>* pendingProvenance)
{
    m_primary->close();
    m_sources.clear();
    m_result.output = m_output->targetPath();
    if (m_provenance)
        m_result.provenance = m_provenance->targetPath();
    if (pending && (!m_provenance || pendingProvenance)) {
        pending->emplace(std::move(*m_output));
        if (m_provenance)
            pendingProvenance->emplace(std::move(*m_provenance));
    } else if (Result<> committed = CommitPair(*m_output, m_provenance, m_run.saveOptions()); !committed) {
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
    const Stopwatch stopwatch;
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
    result.seconds = stopwatch.seconds();
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

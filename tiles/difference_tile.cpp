#include "platform/file_system.h"
#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/run_state.h"
#include "tiles/tile_error.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_folder.h"
#include "tiles/internal/output_paths.h"
#include "tiles/internal/run_failure.h"
#include "tiles/internal/stopwatch.h"
#include "tiles/internal/tile_input.h"
#include "tiles/internal/tile_walk.h"

namespace hgt {

namespace {

Result<Walk> makeDifference(RunContext& run, const std::string& primaryPath, const std::string& comparisonPath,
                            std::string& outputPath)
{
    run.state.byteHigh = 0;
    run.state.byteLow = 0;
    if (Result<> checked = CheckTilePath(comparisonPath); !checked)
        return checked.error();

    Result<TileInput> primary = TileInput::open(primaryPath);
    if (!primary)
        return primary.error();
    Result<TileInput> comparison = TileInput::open(comparisonPath);
    if (!comparison)
        return comparison.error();
    const std::optional<FileIdentity> primaryId = primary->identity();
    if (primaryId && primaryId == comparison->identity())
        return Error{TileErrorKind::SameFile,
                     "Das Vergleichsfile " + comparisonPath + " ist das Primärfile " + primaryPath + " selbst"};
    const VoidSet voids(run.options.voidValues);
    GridSource source(std::move(*comparison), primary->grid(), voids);

    // The folder is made only once nothing refuses the run, so a refused run leaves no trace.
    const std::string target = DifferenceTilePath(primaryPath);
    const RunInputs inputs{{primaryPath, comparisonPath}, {SiblingFolder(primaryPath, ".")}};
    if (Result<> safe = CheckOutputTarget(target, inputs); !safe)
        return safe.error();
    const std::string diffsFolder = GetParentFolderName(target);
    if (Result<> folder = EnsureFolder(diffsFolder); !folder)
        return folder.error();
    Result<SaveFile> output = SaveFile::create(target, run.saveOptions());
    if (!output)
        return output.error();
    WalkSetup setup;
    setup.rule = SampleRule::Difference;
    setup.stopTest = StopTest::BeforeReport;
    setup.statusText = [](std::int32_t posHigh) { return std::to_string(posHigh) + " Bytes verarbeitet."; };
    Result<Walk> walk = WalkTile(run, setup, WalkInputs{*primary, {&source}, voids}, *output);
    if (!walk || walk->stopped)
        return walk;
    primary->close();
    if (Result<> committed = output->commit(); !committed)
        return committed.error();
    if (run.options.durable) {
        if (Result<> synced = SyncFolder(diffsFolder, run.options.trace); !synced)
            return synced.error();
    }
    outputPath = output->targetPath();
    return walk;
}

} // namespace

TileResult MakeDifferenceTile(RunState& state, RunHost& host, const std::string& primaryPath,
                              const std::string& comparisonPath, const RunOptions& options)
{
    const Stopwatch stopwatch;
    TileResult result;
    result.tile = primaryPath;
    host.tileStarted(0, 1, primaryPath);
    try {
        RunContext run(state, host, options);
        const Result<Walk> walk = makeDifference(run, primaryPath, comparisonPath, result.output);
        if (!walk) {
            MarkFailed(result, walk.error());
        } else {
            result.end = walk->stopped ? RunEnd::Stopped : RunEnd::Complete;
            result.voidsFound = walk->voidsFound;
            result.voidsLeft = walk->voidsLeft;
            result.bytes = walk->stopped ? 0 : walk->bytes;
        }
    } catch (...) {
        result = FailedResult(primaryPath, CaughtError(primaryPath));
    }
    result.seconds = stopwatch.seconds();
    host.tileFinished(0, 1, result);
    return result;
}

TileResult MakeDifferenceTile(RunHost& host, const std::string& primaryPath, const std::string& comparisonPath,
                              const RunOptions& options)
{
    RunState state;
    return MakeDifferenceTile(state, host, primaryPath, comparisonPath, options);
}

} // namespace hgt

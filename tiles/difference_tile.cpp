#include "difference_tile.h"

#include "file_system.h"
#include "run_report.h"
#include "tile_file.h"
#include "tile_walk.h"

#include <exception>

namespace hgt {

std::string DifferenceTilePath(const std::string& primaryPath)
{
    return JoinPath(SiblingFolder(primaryPath, "DIFFS"), GetFileName(primaryPath));
}

namespace {

DiffResult failed(const FsStatus& status)
{
    return {DiffEnd::Failed, status.message};
}

DiffResult makeDifference(WindowState& state, RunHost& host, const std::string& primaryPath,
                          const std::string& comparisonPath, const EngineOptions& options)
{
    state.byteHigh = 0;
    state.byteLow = 0;
    if (FsStatus status = CheckTilePath(comparisonPath); !status)
        return failed(status);

    const std::string diffsFolder = SiblingFolder(primaryPath, "DIFFS");
    if (FsStatus status = EnsureFolder(diffsFolder); !status)
        return failed(status);

    TileFile primary;
    TileFile comparison;
    FsStatus status = primary.open(primaryPath, TileFile::Mode::Read);
    if (status)
        status = CheckTileSize(primary);
    if (status)
        status = comparison.open(comparisonPath, TileFile::Mode::Read);
    if (status)
        status = CheckTileSize(comparison);
    if (!status)
        return failed(status);

    RunReport report(state, host);
    WalkSetup setup;
    setup.rule = SampleRule::Difference;
    setup.stopTest = StopTest::BeforeReport;
    setup.blockBytes = options.blockBytes;
    setup.statusText = [](std::int32_t posHigh) { return std::to_string(posHigh) + " Bytes verarbeitet."; };

    const WalkResult walk =
        WalkToFile(state, host, report, setup, primary, comparison, DifferenceTilePath(primaryPath));
    if (walk.end == WalkEnd::Failed)
        return {DiffEnd::Failed, walk.message};
    if (walk.end == WalkEnd::Stopped)
        return {DiffEnd::Stopped, {}};
    return {};
}

} // namespace

DiffResult MakeDifferenceTile(WindowState& state, RunHost& host, const std::string& primaryPath,
                              const std::string& comparisonPath, const EngineOptions& options)
{
    try {
        return makeDifference(state, host, primaryPath, comparisonPath, options);
    } catch (const std::exception& error) {
        return {DiffEnd::Failed, std::string("Interner Fehler: ") + error.what()};
    } catch (...) {
        return {DiffEnd::Failed, "Interner Fehler"};
    }
}

} // namespace hgt

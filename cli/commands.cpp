#include "cli/commands.h"

#include "cli/exit_status.h"
#include "cli/info_report.h"
#include "cli/render_command.h"
#include "cli/run_report.h"
#include "cli/text_escape.h"
#include "platform/file_system.h"
#include "rasters/raster_sources.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_runs.h"

#include <algorithm>
#include <exception>

namespace hgt::cli {

namespace {

std::string quoted(const std::string& text)
{
    return "„" + Printable(text) + "“";
}

// Prints a run's results in the order the tiles were given, once the engine has made them final.
int report(const Invocation& invocation, const BatchResult& run, std::size_t tiles, RunKind kind,
           const std::atomic<bool>* stop, const Console& console)
{
    const bool interrupted = stop && stop->load();
    const int status = ExitStatus(run, interrupted);
    if (invocation.json) {
        for (const TileResult& tile : run.tiles)
            console.out << TileJson(tile, kind) << '\n';
        console.out << SummaryJson(run, tiles, kind, interrupted, status) << '\n';
    } else {
        for (const TileResult& tile : run.tiles) {
            if (IsProblem(tile))
                console.err << "hgtfill-cli: " << Printable(TileLine(tile, kind)) << '\n';
            else if (!invocation.quiet)
                console.out << Printable(TileLine(tile, kind)) << '\n';
            // A warning is something to look at although the tile went well: it stays with --quiet.
            if (!tile.warning.empty()) {
                console.out.flush();
                console.err << "hgtfill-cli: " << Printable(WarningLine(tile)) << '\n';
            }
        }
        if (!invocation.quiet)
            console.out << SummaryLine(run, tiles, kind) << '\n';
        if (interrupted)
            console.err << "hgtfill-cli: " << InterruptedLine(run, tiles) << '\n';
    }
    console.out.flush();
    return status;
}

std::vector<std::string> sourcePaths(const Invocation& invocation)
{
    std::vector<std::string> paths{invocation.secondary};
    paths.insert(paths.end(), invocation.moreSecondaries.begin(), invocation.moreSecondaries.end());
    return paths;
}

// Every -s in the order given, raster sources opened through the plugin, each with the --datum that
// followed it; the conversions a run needs are checked here, before the run makes anything.
Result<std::vector<FillSource>> rasterAwareSources(const Invocation& invocation)
{
    const std::vector<std::string> paths = sourcePaths(invocation);
    std::vector<FillSource> wanted;
    for (std::size_t s = 0; s < paths.size(); ++s)
        wanted.push_back({paths[s], nullptr, s < invocation.datums.size() ? invocation.datums[s] : std::string()});
    return OpenFillSources(wanted, invocation.tileDatum);
}

int fillTiles(const Invocation& invocation, const std::vector<std::string>& tiles, CliHost& host,
              const std::atomic<bool>* stop, const Console& console)
{
    RunOptions options;
    options.jobs = invocation.jobs;
    options.stop = stop;
    options.voidValues = invocation.voidValues;
    options.method = invocation.method;
    options.interpolate = invocation.interpolate;
    options.maxDistance = invocation.maxDistance;
    options.provenance = invocation.provenance;
    options.tileDatum = invocation.tileDatum;
    if (Result<std::vector<FillSource>> sources = rasterAwareSources(invocation); !sources) {
        // A name that is no datum is a mistake on the command line, like any other value it refuses.
        if (sources.error().kind == kUnknownDatum) {
            std::string message = sources.error().message;
            if (message.ends_with('.'))
                message.pop_back();
            console.err << Printable(UsageLine({message, invocation.command})) << '\n';
            return kExitUsage;
        }
        console.err << "hgtfill-cli: " << Printable(sources.error().message) << '\n';
        return kExitFailed;
    } else {
        options.sources = std::move(*sources);
    }
    const BatchResult run = MergeTiles(host, tiles, invocation.secondary, options);
    host.runEnded();
    return report(invocation, run, tiles.size(), RunKind::Fill, stop, console);
}

// The window lets a fill start only when a source folder holds a tile; so does the command line.
bool checkSecondary(const Invocation& invocation, const Console& console)
{
    if (invocation.secondary.empty() && invocation.interpolate) // interpolation alone
        return true;
    if (FolderHoldsTile(invocation.secondary))
        return true;
    for (const std::string& path : sourcePaths(invocation))
        if (IsRasterSource(path))
            return true;
    // A folder that exists but cannot be listed is named with the system's reason.
    if (FolderExists(invocation.secondary)) {
        if (const Result<std::vector<std::string>> listed = ListTiles(invocation.secondary); !listed) {
            console.err << "hgtfill-cli: " << Printable(listed.error().message) << '\n';
            return false;
        }
    }
    for (const std::string& folder : invocation.moreSecondaries)
        if (FolderHoldsTile(folder))
            return true;
    if (invocation.moreSecondaries.empty()) {
        console.err << "hgtfill-cli: im Sekundärordner " << quoted(invocation.secondary) << " liegt keine HGT-Kachel\n";
        return false;
    }
    console.err << "hgtfill-cli: in keinem der Quellordner liegt eine HGT-Kachel: " << quoted(invocation.secondary);
    for (const std::string& folder : invocation.moreSecondaries)
        console.err << ", " << quoted(folder);
    console.err << '\n';
    return false;
}

int fill(const Invocation& invocation, CliHost& host, const std::atomic<bool>* stop, const Console& console)
{
    if (!checkSecondary(invocation, console))
        return kExitFailed;
    return fillTiles(invocation, invocation.operands, host, stop, console);
}

int batch(const Invocation& invocation, CliHost& host, const std::atomic<bool>* stop, const Console& console)
{
    const std::string& folder = invocation.operands.front();
    const Result<std::vector<std::string>> tiles = ListTiles(folder);
    if (!tiles) {
        console.err << "hgtfill-cli: " << Printable(tiles.error().message) << '\n';
        return kExitFailed;
    }
    if (!checkSecondary(invocation, console))
        return kExitFailed;
    if (tiles->empty() && !invocation.json && !invocation.quiet)
        console.err << "hgtfill-cli: keine HGT-Files im Ordner " << quoted(folder) << '\n';
    return fillTiles(invocation, *tiles, host, stop, console);
}

int diff(const Invocation& invocation, CliHost& host, const std::atomic<bool>* stop, const Console& console)
{
    RunOptions options;
    options.stop = stop;
    options.voidValues = invocation.voidValues;
    BatchResult run;
    QuietHost oneTile; // a difference is a single tile: no progress bar for it
    run.tiles.push_back(MakeDifferenceTile(oneTile, invocation.operands[0], invocation.operands[1], options));
    run.seconds = run.tiles.front().seconds;
    run.stopped = run.tiles.front().end == RunEnd::Stopped;
    host.runEnded();
    return report(invocation, run, 1, RunKind::Difference, stop, console);
}

int info(const Invocation& invocation, const Console& console)
{
    std::size_t failed = 0;
    for (const std::string& path : invocation.operands) {
        const Result<TileInfo> tile = InspectTile(path, invocation.voidValues);
        if (!tile)
            ++failed;
        if (invocation.json)
            console.out << (tile ? InfoJson(*tile, invocation.voidValues) : InfoErrorJson(path, tile.error())) << '\n';
        else if (tile)
            console.out << InfoText(*tile, invocation.voidValues);
        else
            console.err << "hgtfill-cli: " << Printable(tile.error().message) << '\n';
    }
    const int status = failed == 0 ? kExitOk : kExitFailed;
    if (invocation.json)
        console.out << InfoSummaryJson(invocation.operands.size(), failed, status) << '\n';
    console.out.flush();
    return status;
}

} // namespace

int RunCommand(const Invocation& invocation, CliHost& host, const std::atomic<bool>* stop, const Console& console)
{
    // The engine never throws; the report's own strings might, when memory runs out.
    try {
        switch (invocation.command) {
        case Command::Fill:
            return fill(invocation, host, stop, console);
        case Command::Batch:
            return batch(invocation, host, stop, console);
        case Command::Diff:
            return diff(invocation, host, stop, console);
        case Command::Info:
            return info(invocation, console);
        case Command::Render:
            return RenderTile(invocation, console);
        case Command::None:
            break;
        }
    } catch (const std::exception& error) {
        host.runEnded();
        console.err << "hgtfill-cli: interner Fehler: " << error.what() << '\n';
        return kExitFailed;
    }
    return kExitUsage;
}

} // namespace hgt::cli

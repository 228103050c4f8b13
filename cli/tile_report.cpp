#include "cli/tile_report.h"

#include "cli/json_writer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace hgt::cli {

namespace {

// Seconds and means in JSON carry a point; German lines a comma.
std::string germanDecimal(double value, int places)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    std::string out = text;
    std::replace(out.begin(), out.end(), '.', ',');
    return out;
}

std::string fileName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

std::size_t countEnd(const BatchResult& run, RunEnd end)
{
    return static_cast<std::size_t>(
        std::count_if(run.tiles.begin(), run.tiles.end(), [end](const TileResult& t) { return t.end == end; }));
}

std::size_t notStarted(const BatchResult& run, std::size_t tiles)
{
    return tiles > run.tiles.size() ? tiles - run.tiles.size() : 0;
}

std::string withMessage(std::string text, const std::string& message)
{
    if (!message.empty())
        text += ": " + message;
    return text;
}

} // namespace

std::string_view EndName(RunEnd end, RunKind kind)
{
    switch (end) {
    case RunEnd::Complete:
        return kind == RunKind::Fill ? "filled" : "written";
    case RunEnd::NoHoles:
        return "no_holes";
    case RunEnd::MissingSecondary:
        return "missing_secondary";
    case RunEnd::Stopped:
        return "stopped";
    case RunEnd::Failed:
        break;
    }
    return "failed";
}

bool IsProblem(const TileResult& result)
{
    return result.end == RunEnd::Failed || result.end == RunEnd::MissingSecondary;
}

std::string TileJson(const TileResult& result, RunKind kind)
{
    JsonWriter json;
    json.add("type", "tile").add("name", TileName(result.tile)).add("path", result.tile);
    if (result.output.empty())
        json.addNull("output");
    else
        json.add("output", result.output);
    return json.add("end", EndName(result.end, kind))
        .add("voids_found", result.voidsFound)
        .add("filled", result.voidsFilled)
        .add("left", result.voidsLeft)
        .add("message", result.message)
        .add("seconds", result.seconds, 3)
        .str();
}

std::string TileLine(const TileResult& result, RunKind kind)
{
    // An archive reports the tile it holds (N47E011.SRTMGL1.hgt.zip: N47E011.hgt), as its output is named.
    const std::string name = TileName(result.tile);
    const std::string seconds = germanDecimal(result.seconds, 2) + " s";
    switch (result.end) {
    case RunEnd::Complete:
        if (kind == RunKind::Difference)
            return name + ": Differenz geschrieben nach " + result.output + " (" + std::to_string(result.voidsLeft)
                   + " Löcher; " + seconds + ")";
        return name + ": gefüllt nach " + result.output + " (Löcher: " + std::to_string(result.voidsFound)
               + " gefunden, " + std::to_string(result.voidsFilled) + " gefüllt, " + std::to_string(result.voidsLeft)
               + " übrig; " + seconds + ")";
    case RunEnd::NoHoles:
        return name + ": hat keine Löcher";
    case RunEnd::MissingSecondary:
        return withMessage(name + ": keine Sekundärkachel", result.message);
    case RunEnd::Stopped:
        return name + ": angehalten, nichts geschrieben";
    case RunEnd::Failed:
        break;
    }
    return withMessage(name + ": fehlgeschlagen", result.message);
}

std::string SummaryJson(const BatchResult& run, std::size_t tiles, RunKind kind, bool interrupted, int exitStatus)
{
    JsonWriter json;
    json.add("type", "summary").add("tiles", tiles);
    json.add("done", run.tiles.size() - countEnd(run, RunEnd::Stopped));
    json.add(EndName(RunEnd::Complete, kind), countEnd(run, RunEnd::Complete));
    if (kind == RunKind::Fill)
        json.add("no_holes", countEnd(run, RunEnd::NoHoles)).add("missing_secondary", countEnd(run, RunEnd::MissingSecondary));
    return json.add("stopped", countEnd(run, RunEnd::Stopped))
        .add("failed", countEnd(run, RunEnd::Failed))
        .add("not_started", notStarted(run, tiles))
        .add("interrupted", interrupted)
        .add("seconds", run.seconds, 3)
        .add("exit_status", exitStatus)
        .str();
}

std::string SummaryLine(const BatchResult& run, std::size_t tiles, RunKind kind)
{
    std::string line = std::to_string(tiles) + (tiles == 1 ? " Kachel" : " Kacheln") + " in "
                       + germanDecimal(run.seconds, 1) + " s: ";
    if (kind == RunKind::Difference)
        return line + std::to_string(countEnd(run, RunEnd::Complete)) + " geschrieben, "
               + std::to_string(countEnd(run, RunEnd::Failed)) + " fehlgeschlagen";
    return line + std::to_string(countEnd(run, RunEnd::Complete)) + " gefüllt, "
           + std::to_string(countEnd(run, RunEnd::NoHoles)) + " ohne Löcher, "
           + std::to_string(countEnd(run, RunEnd::MissingSecondary)) + " ohne Sekundärkachel, "
           + std::to_string(countEnd(run, RunEnd::Failed)) + " fehlgeschlagen";
}

std::string InterruptedLine(const BatchResult& run, std::size_t tiles)
{
    const std::size_t done = run.tiles.size() - countEnd(run, RunEnd::Stopped);
    return "Abgebrochen: " + std::to_string(done) + " von " + std::to_string(tiles) + " Kacheln fertig, "
           + std::to_string(countEnd(run, RunEnd::Stopped)) + " angehalten, "
           + std::to_string(notStarted(run, tiles)) + " nicht begonnen";
}

int ExitStatus(const BatchResult& run, bool interrupted)
{
    if (interrupted)
        return kExitInterrupted;
    const bool allGood = std::all_of(run.tiles.begin(), run.tiles.end(), [](const TileResult& t) {
        return t.end == RunEnd::Complete || t.end == RunEnd::NoHoles;
    });
    return allGood ? kExitOk : kExitFailed;
}

std::string InfoJson(const TileInfo& info)
{
    JsonWriter json;
    json.add("type", "info").add("name", fileName(info.path)).add("path", info.path).add("bytes", info.bytes);
    if (info.side > 0)
        json.add("side", info.side);
    else
        json.addNull("side");
    const auto widen = [](std::optional<std::int16_t> v) -> std::optional<std::int64_t> {
        if (v)
            return *v;
        return std::nullopt;
    };
    json.add("minimum", widen(info.minimum)).add("maximum", widen(info.maximum));
    if (info.minimum)
        json.add("mean", info.mean, 3);
    else
        json.addNull("mean");
    return json.add("voids", info.voids).add("pair_at_odd_offset_only", info.pairAtOddOffsetOnly).str();
}

std::string InfoErrorJson(const std::string& path, const Error& error)
{
    return JsonWriter().add("type", "info").add("name", fileName(path)).add("path", path).add("error", error.message).str();
}

std::string InfoText(const TileInfo& info)
{
    std::string text = info.path + "\n";
    text += "  Größe:       " + std::to_string(info.bytes) + " Bytes, Raster ";
    text += info.side > 0 ? std::to_string(info.side) + " × " + std::to_string(info.side) : std::string("keines");
    text += "\n";
    if (info.minimum && info.maximum) {
        text += "  Minimum:     " + std::to_string(*info.minimum) + "\n";
        text += "  Maximum:     " + std::to_string(*info.maximum) + "\n";
        text += "  Mittelwert:  " + germanDecimal(info.mean, 2) + " (ohne Löcher)\n";
    } else {
        text += "  Minimum, Maximum, Mittelwert: keine (nur Löcher)\n";
    }
    text += "  Löcher:      " + std::to_string(info.voids) + "\n";
    text += "  Bytepaar D8 F1 nur an ungerader Stelle: ";
    text += info.pairAtOddOffsetOnly ? "ja\n" : "nein\n";
    return text;
}

std::string InfoSummaryJson(std::size_t tiles, std::size_t failed, int exitStatus)
{
    return JsonWriter().add("type", "summary").add("tiles", tiles).add("failed", failed).add("exit_status", exitStatus).str();
}

} // namespace hgt::cli

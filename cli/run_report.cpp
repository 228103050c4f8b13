#include "cli/run_report.h"

#include "cli/exit_status.h"
#include "cli/json_writer.h"
#include "platform/german_number.h"
#include "tiles/tile_folder.h"

#include <algorithm>
#include <span>

namespace hgt::cli {

namespace {

// " – 120 aus Quelle 1, 30 aus Quelle 2 –" when there was more than one source to fill from.
std::string bySource(const TileResult& result)
{
    if (result.filledBySource.size() < 2)
        return {};
    std::string text = " –";
    for (std::size_t s = 0; s < result.filledBySource.size(); ++s)
        text +=
            (s == 0 ? " " : ", ") + std::to_string(result.filledBySource[s]) + " aus Quelle " + std::to_string(s + 1);
    return text + " –";
}

// "; Versatz: Median +9,3 m, Quartilsabstand 1,2 m aus 812 Randwerten" after an offset-bridging fill.
std::string offsetText(const TileResult& result)
{
    if (!result.offsets)
        return {};
    const OffsetStats& offsets = *result.offsets;
    if (offsets.rimSamples == 0)
        return "; Versatz: keine Randwerte";
    return "; Versatz: Median " + GermanDecimal(offsets.median, 1, true) + " m, Quartilsabstand "
           + GermanDecimal(offsets.interquartileRange, 1) + " m aus " + std::to_string(offsets.rimSamples)
           + (offsets.rimSamples == 1 ? " Randwert" : " Randwerten");
}

// ", 16 interpoliert" after a fill that interpolated; empty for every other run.
std::string interpolatedText(const TileResult& result)
{
    if (result.interpolated == 0 && result.leftTooFar == 0)
        return {};
    return ", " + std::to_string(result.interpolated) + " interpoliert";
}

// " (900 zu weit von gültigen Werten)" for the voids left because interpolation could not reach them.
std::string tooFarText(const TileResult& result)
{
    if (result.leftTooFar == 0)
        return {};
    return " (" + std::to_string(result.leftTooFar) + " zu weit von gültigen Werten)";
}

// "; Quelle 2: EGM2008 → EGM96" for the sources whose heights were converted.
std::string conversionText(const TileResult& result)
{
    const std::string text = ConversionsText(result);
    return text.empty() ? text : "; " + text;
}

std::size_t notStarted(const BatchResult& run, std::size_t tiles)
{
    return tiles > run.tiles.size() ? tiles - run.tiles.size() : 0;
}

// "; aus N47E011_dem.tif, N47E012_dem.tif" when rasters filled voids; of many, the first few and
// "und 1995 weitere", so that a folder of thousands keeps the line readable.
std::string sourceFilesText(const TileResult& result)
{
    constexpr std::size_t kNamed = 5;
    const std::vector<std::string>& files = result.sourceFiles;
    const std::size_t named = files.size() <= kNamed + 1 ? files.size() : kNamed;
    std::string text;
    for (std::size_t i = 0; i < named; ++i)
        text += (text.empty() ? "; aus " : ", ") + files[i];
    if (named < files.size())
        text += " und " + std::to_string(files.size() - named) + " weitere";
    return text;
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
        return kind != RunKind::Difference ? "filled" : "written";
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
    json.add("type", "tile").add("name", TileName(result.tile)).addPath("path", result.tile);
    if (result.output.empty())
        json.addNull("output");
    else
        json.addPath("output", result.output);
    json.add("end", EndName(result.end, kind))
        .add("voids_found", result.voidsFound)
        .add("filled", result.voidsFilled)
        .add("left", result.voidsLeft);
    if (kind != RunKind::Difference) {
        json.add("filled_by_source", std::span<const std::int64_t>(result.filledBySource));
        json.add("interpolated", result.interpolated).add("left_too_far", result.leftTooFar);
        if (result.offsets)
            json.add("offsets", JsonWriter()
                                    .add("median", result.offsets->median, 3)
                                    .add("iqr", result.offsets->interquartileRange, 3)
                                    .add("rim_samples", result.offsets->rimSamples));
        else
            json.addNull("offsets");
        json.add("source_files", std::span<const std::string>(result.sourceFiles));
        // Only a run that converts heights has datums to tell.
        if (!result.conversions.empty()) {
            std::vector<std::optional<JsonWriter>> datums;
            for (const std::optional<SourceConversion>& conversion : result.conversions) {
                if (conversion)
                    datums.push_back(JsonWriter()
                                         .add("datum", conversion->from)
                                         .add("conversion", conversion->from + " → " + conversion->to));
                else
                    datums.emplace_back();
            }
            json.add("datums", std::span<const std::optional<JsonWriter>>(datums));
        }
    }
    json.add("message", result.message());
    if (kind != RunKind::Difference)
        json.add("warning", result.warning);
    return json.add("seconds", result.seconds, 3).str();
}

std::string TileLine(const TileResult& result, RunKind kind)
{
    // An archive reports the tile it holds (N47E011.SRTMGL1.hgt.zip: N47E011.hgt), as its output is named.
    const std::string name = TileName(result.tile);
    const std::string seconds = GermanDecimal(result.seconds, 2) + " s";
    switch (result.end) {
    case RunEnd::Complete:
        if (kind == RunKind::Difference)
            return name + ": Differenz geschrieben nach " + result.output + " (" + std::to_string(result.voidsLeft)
                   + " Löcher; " + seconds + ")";
        return name + ": gefüllt nach " + result.output + " (Löcher: " + std::to_string(result.voidsFound)
               + " gefunden, " + std::to_string(result.voidsFilled) + " gefüllt" + bySource(result)
               + interpolatedText(result) + ", " + std::to_string(result.voidsLeft) + " übrig" + tooFarText(result)
               + offsetText(result) + conversionText(result) + sourceFilesText(result) + "; " + seconds + ")";
    case RunEnd::NoHoles:
        return name + ": hat keine Löcher";
    case RunEnd::MissingSecondary:
        return withMessage(name + ": keine Sekundärkachel", result.message());
    case RunEnd::Stopped:
        return name + ": angehalten, nichts geschrieben";
    case RunEnd::Failed:
        break;
    }
    return withMessage(name + ": fehlgeschlagen", result.message());
}

std::string WarningLine(const TileResult& result)
{
    return TileName(result.tile) + ": Warnung: " + result.warning;
}

std::string SummaryJson(const BatchResult& run, std::size_t tiles, RunKind kind, bool interrupted, int exitStatus)
{
    JsonWriter json;
    json.add("type", "summary").add("tiles", tiles);
    json.add("done", run.tiles.size() - run.count(RunEnd::Stopped));
    json.add(EndName(RunEnd::Complete, kind), run.count(RunEnd::Complete));
    if (kind != RunKind::Difference)
        json.add("no_holes", run.count(RunEnd::NoHoles)).add("missing_secondary", run.count(RunEnd::MissingSecondary));
    return json.add("stopped", run.count(RunEnd::Stopped))
        .add("failed", run.count(RunEnd::Failed))
        .add("not_started", notStarted(run, tiles))
        .add("interrupted", interrupted)
        .add("seconds", run.seconds, 3)
        .add("exit_status", exitStatus)
        .str();
}

std::string SummaryLine(const BatchResult& run, std::size_t tiles, RunKind kind)
{
    std::string line =
        std::to_string(tiles) + (tiles == 1 ? " Kachel" : " Kacheln") + " in " + GermanDecimal(run.seconds, 1) + " s: ";
    if (kind == RunKind::Difference)
        return line + std::to_string(run.count(RunEnd::Complete)) + " geschrieben, "
               + std::to_string(run.count(RunEnd::Failed)) + " fehlgeschlagen";
    return line + std::to_string(run.count(RunEnd::Complete)) + " gefüllt, "
           + std::to_string(run.count(RunEnd::NoHoles)) + " ohne Löcher, "
           + std::to_string(run.count(RunEnd::MissingSecondary)) + " ohne Sekundärkachel, "
           + std::to_string(run.count(RunEnd::Failed)) + " fehlgeschlagen";
}

std::string InterruptedLine(const BatchResult& run, std::size_t tiles)
{
    const std::size_t done = run.tiles.size() - run.count(RunEnd::Stopped);
    return "Abgebrochen: " + std::to_string(done) + " von " + std::to_string(tiles) + " Kacheln fertig, "
           + std::to_string(run.count(RunEnd::Stopped)) + " angehalten, " + std::to_string(notStarted(run, tiles))
           + " nicht begonnen";
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

} // namespace hgt::cli

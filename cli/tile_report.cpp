#include "cli/tile_report.h"

#include "cli/json_writer.h"
#include "platform/file_system.h"
#include "cli/text_escape.h"
#include "tiles/tile_folder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hgt::cli {

namespace {

// "-9999" or "-32768, -9999": the void values as a person reads them.
std::string valueList(const std::vector<std::int16_t>& values)
{
    std::string text;
    for (std::int16_t value : values)
        text += (text.empty() ? "" : ", ") + std::to_string(value);
    return text;
}

bool isDefaultVoids(const std::vector<std::int16_t>& values)
{
    return values == std::vector<std::int16_t>{kVoidValue};
}

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
               + offsetText(result) + sourceFilesText(result) + "; " + seconds + ")";
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

std::string InfoJson(const TileInfo& info, const std::vector<std::int16_t>& voidValues)
{
    JsonWriter json;
    json.add("type", "info").add("name", TileName(info.path)).addPath("path", info.path).add("bytes", info.bytes);
    if (info.side > 0)
        json.add("side", info.side);
    else
        json.addNull("side");
    if (const int arcSeconds = ArcSecondsOfSide(info.side))
        json.add("arc_seconds", arcSeconds);
    else
        json.addNull("arc_seconds");
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
    std::vector<std::int64_t> voids(voidValues.begin(), voidValues.end());
    return json.add("voids", info.voids)
        .add("void_values", std::span<const std::int64_t>(voids))
        .add("pair_at_odd_offset_only", info.pairAtOddOffsetOnly)
        .str();
}

std::string InfoErrorJson(const std::string& path, const Error& error)
{
    return JsonWriter()
        .add("type", "info")
        .add("name", TileName(path))
        .addPath("path", path)
        .add("error", error.message)
        .str();
}

std::string InfoText(const TileInfo& info, const std::vector<std::int16_t>& voidValues)
{
    // An archive is named by the tile it holds, and its size is that of the tile inflated.
    const bool archive = TileName(info.path) != GetFileName(info.path);
    std::string text = Printable(info.path) + "\n";
    if (archive)
        text += "  Kachel:      " + Printable(TileName(info.path)) + " (im Archiv)\n";
    text += "  Größe:       " + std::to_string(info.bytes) + (archive ? " Bytes entpackt, Raster " : " Bytes, Raster ");
    text += info.side > 0 ? std::to_string(info.side) + " × " + std::to_string(info.side) : std::string("keines");
    if (const int arcSeconds = ArcSecondsOfSide(info.side))
        text += " (" + std::to_string(arcSeconds) + "″)";
    text += "\n";
    if (info.minimum && info.maximum) {
        text += "  Minimum:     " + std::to_string(*info.minimum) + "\n";
        text += "  Maximum:     " + std::to_string(*info.maximum) + "\n";
        text += "  Mittelwert:  " + GermanDecimal(info.mean, 2) + " (ohne Löcher)\n";
    } else {
        text += "  Minimum, Maximum, Mittelwert: keine (nur Löcher)\n";
    }
    text += "  Löcher:      " + std::to_string(info.voids);
    if (!isDefaultVoids(voidValues))
        text += " (Werte " + valueList(voidValues) + ")";
    text += "\n";
    text += "  Bytepaar D8 F1 nur außerhalb ganzer Werte: ";
    text += info.pairAtOddOffsetOnly ? "ja\n" : "nein\n";
    return text;
}

std::string PictureJson(const PictureReport& picture)
{
    const TileSummary& summary = picture.summary;
    JsonWriter json;
    json.add("type", "picture")
        .add("name", summary.name)
        .addPath("path", picture.path)
        .addPath("output", picture.output);
    json.add("kind", summary.difference ? "difference" : "relief").add("side", summary.side);
    if (summary.arcSeconds == 1 || summary.arcSeconds == 3)
        json.add("arc_seconds", summary.arcSeconds);
    else
        json.addNull("arc_seconds");
    json.add("width", picture.width).add("height", picture.height).add("legend", picture.legend);
    const auto widen = [](std::optional<std::int16_t> v) -> std::optional<std::int64_t> {
        if (v)
            return *v;
        return std::nullopt;
    };
    json.add("minimum", widen(summary.minimum)).add("maximum", widen(summary.maximum));
    if (summary.minimum)
        json.add("mean", summary.mean, 3);
    else
        json.addNull("mean");
    json.add("voids", summary.voids).add("void_percent", summary.voidPercent, 3);
    if (const std::optional<DifferenceStats>& d = summary.difference)
        json.add("difference", JsonWriter()
                                   .add("samples", d->samples)
                                   .add("median", d->median, 3)
                                   .add("mean", d->mean, 3)
                                   .add("rms", d->rms, 3)
                                   .add("p2", d->p2, 3)
                                   .add("p98", d->p98, 3)
                                   .add("clip", d->clip, 3));
    else
        json.addNull("difference");
    return json.str();
}

std::string PictureErrorJson(const std::string& path, const Error& error)
{
    return JsonWriter()
        .add("type", "picture")
        .add("name", TileName(path))
        .addPath("path", path)
        .add("error", error.message)
        .str();
}

std::string ProvenanceJson(const ProvenanceReport& report)
{
    const ProvenanceMap& map = report.map;
    std::vector<std::int64_t> sources;
    for (int code = kVoidSample - 2; code > kOwnSample; --code) // up to the last source present
        if (map.counts[static_cast<std::size_t>(code)] > 0 || !sources.empty())
            sources.insert(sources.begin(), map.counts[static_cast<std::size_t>(code)]);
    JsonWriter json;
    json.add("type", "provenance").add("name", GetFileName(report.path)).addPath("path", report.path);
    json.addPath("output", report.output).add("side", map.side).add("width", report.width).add("height", report.height);
    json.add("legend", report.legend).add("own", map.counts[kOwnSample]);
    json.add("by_source", std::span<const std::int64_t>(sources));
    return json.add("interpolated", map.counts[kInterpolatedSample]).add("void", map.counts[kVoidSample]).str();
}

std::string ProvenanceText(const ProvenanceReport& report)
{
    std::string text = Printable(GetFileName(report.path)) + ": Herkunft, Raster " + std::to_string(report.map.side)
                       + " × " + std::to_string(report.map.side) + "\n";
    for (int code = 0; code < 256; ++code) {
        const std::int64_t count = report.map.counts[static_cast<std::size_t>(code)];
        if (count > 0)
            text += "  " + ProvenanceLabel(static_cast<std::uint8_t>(code)) + ": " + std::to_string(count) + "\n";
    }
    return text;
}

std::string PictureText(const PictureReport& picture)
{
    const TileSummary& summary = picture.summary;
    const bool difference = summary.difference.has_value();
    std::string text = Printable(summary.name) + (difference ? ": Differenzen" : ": Höhen") + ", Raster "
                       + std::to_string(summary.side) + " × " + std::to_string(summary.side);
    if (ArcSecondsOfSide(summary.side))
        text += " (" + std::to_string(summary.arcSeconds) + "″)";
    text += "\n";
    const auto metres = [difference](double value, int places) {
        return GermanDecimal(value, places, difference) + " m";
    };
    if (summary.minimum && summary.maximum) {
        text += "  Minimum:     " + metres(*summary.minimum, 0) + "\n";
        text += "  Maximum:     " + metres(*summary.maximum, 0) + "\n";
        if (!difference)
            text += "  Mittelwert:  " + metres(summary.mean, 2) + " (ohne Löcher)\n";
    } else {
        text += "  Minimum, Maximum, Mittelwert: keine (nur Löcher)\n";
    }
    text += "  Löcher:      " + std::to_string(summary.voids) + " (" + GermanDecimal(summary.voidPercent, 2) + " %)\n";
    if (difference && summary.difference->samples > 0) {
        const DifferenceStats& d = *summary.difference;
        text += "  Median:      " + metres(d.median, 1) + "\n";
        text += "  Mittelwert:  " + metres(d.mean, 2) + "\n";
        text += "  RMS:         " + GermanDecimal(d.rms, 2) + " m\n";
        text += "  Perzentile:  2 % " + metres(d.p2, 1) + ", 98 % " + metres(d.p98, 1) + "\n";
    }
    text += "  Bild:        " + Printable(picture.output) + ", " + std::to_string(picture.width) + " × "
            + std::to_string(picture.height) + " Pixel" + (picture.legend ? " mit Legende" : "") + "\n";
    return text;
}

int ArcSecondsOfSide(std::int64_t side)
{
    if (side == kTileSide)
        return 1;
    if (side == kTileSide3)
        return 3;
    return 0;
}

std::string InfoSummaryJson(std::size_t tiles, std::size_t failed, int exitStatus)
{
    return JsonWriter()
        .add("type", "summary")
        .add("tiles", tiles)
        .add("failed", failed)
        .add("exit_status", exitStatus)
        .str();
}

} // namespace hgt::cli

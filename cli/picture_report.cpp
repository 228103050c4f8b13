#include "cli/picture_report.h"

#include "cli/json_writer.h"
#include "cli/text_escape.h"
#include "platform/file_system.h"
#include "platform/german_number.h"
#include "tiles/tile_folder.h"
#include "tiles/tile_format.h"

#include <span>

namespace hgt::cli {

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
    json.add("minimum", summary.minimum).add("maximum", summary.maximum);
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

} // namespace hgt::cli

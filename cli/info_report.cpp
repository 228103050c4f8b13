#include "cli/info_report.h"

#include "cli/json_writer.h"
#include "cli/text_escape.h"
#include "platform/file_system.h"
#include "platform/german_number.h"
#include "tiles/tile_folder.h"

#include <span>

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

} // namespace

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
    json.add("minimum", info.minimum).add("maximum", info.maximum);
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

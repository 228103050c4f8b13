#include "pictures/provenance_picture.h"

#include "pictures/internal/picture_rules.h"
#include "pictures/picture_file.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "tiles/tile_error.h"
#include "tiles/tile_format.h"

#include <QFont>
#include <QImage>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QSize>

#include <algorithm>

namespace hgt {

namespace {

const QString kLegendTitle = QStringLiteral("Herkunft");
const QString kMoreSources = QStringLiteral("%1 weitere Quellen");

// Sources named each on a line of its own in a legend (the colours repeat after the eighth).
constexpr int kLegendSources = 8;

constexpr QRgb kMarginBackground = 0xFFFFFFFF;
constexpr QRgb kLegendInk = 0xFF202020;

int fontPixels(int height)
{
    return std::clamp(height / 40, 9, 36);
}

} // namespace

bool IsProvenancePath(std::string_view path)
{
    return EqualsIgnoringCase(GetExtensionName(path), "src");
}

Result<ProvenanceMap> ReadProvenance(const std::string& path)
{
    Result<File> file = File::openRead(path);
    if (!file)
        return AsTileError(file.error());
    const std::int64_t size = file->openedSize();
    ProvenanceMap map;
    for (const std::int64_t side : {kTileSide, kTileSide3})
        if (size == side * side)
            map.side = static_cast<int>(side);
    if (map.side == 0)
        return Error{TileErrorKind::NotATile,
                     path + " ist keine Herkunftsdatei: " + std::to_string(size) + " Bytes passen zu keiner Kachel"};
    map.codes.resize(static_cast<std::size_t>(size));
    if (Result<> read = file->readAt(0, map.codes.data(), map.codes.size()); !read)
        return AsTileError(read.error());
    for (const std::uint8_t code : map.codes)
        ++map.counts[code];
    return map;
}

TilePicture RenderProvenance(const ProvenanceMap& map, int size)
{
    TilePicture picture;
    picture.width = picture.height = size > 0 ? size : map.side;
    picture.pixels.resize(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height));
    std::array<std::uint32_t, 256> colours{};
    for (int code = 0; code < 256; ++code)
        colours[static_cast<std::size_t>(code)] = ProvenanceColour(static_cast<std::uint8_t>(code));
    std::vector<int> sampleOf(static_cast<std::size_t>(picture.width));
    for (int p = 0; p < picture.width; ++p)
        sampleOf[static_cast<std::size_t>(p)] = SampleOfPixel(p, map.side, picture.width);
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* row =
            map.codes.data() + static_cast<std::size_t>(sampleOf[static_cast<std::size_t>(y)]) * map.side;
        std::uint32_t* out = picture.pixels.data() + static_cast<std::size_t>(y) * picture.width;
        for (int x = 0; x < picture.width; ++x)
            out[x] = colours[row[sampleOf[static_cast<std::size_t>(x)]]];
    }
    return picture;
}

std::string ProvenanceLabel(std::uint8_t code)
{
    switch (code) {
    case kOwnSample:
        return "Kachel selbst";
    case kInterpolatedSample:
        return "interpoliert";
    case kVoidSample:
        return "Loch";
    default:
        return "Quelle " + std::to_string(code);
    }
}

namespace {

struct LegendEntry {
    std::uint8_t code;
    QString text;
    bool swatch = true;
};

QString countText(std::int64_t count)
{
    return QLocale(QLocale::German).toString(static_cast<qlonglong>(count));
}

// A swatch and the code's name for every code the map holds, with its number of samples. Sources
// beyond the first kLegendSources share one line without a swatch: their colours repeat, and a
// damaged companion that holds every code must not stretch the legend over 256 lines.
std::vector<LegendEntry> legendEntries(const ProvenanceMap& map)
{
    std::vector<LegendEntry> entries;
    int sources = 0;
    int moreSources = 0;
    std::int64_t moreSamples = 0;
    for (int code = 0; code < 256; ++code) {
        const std::int64_t count = map.counts[static_cast<std::size_t>(code)];
        if (count == 0)
            continue;
        const auto named = static_cast<std::uint8_t>(code);
        const bool source = named != kOwnSample && named != kInterpolatedSample && named != kVoidSample;
        if (source && ++sources > kLegendSources) {
            ++moreSources;
            moreSamples += count;
            continue;
        }
        entries.push_back(
            {named, QString::fromStdString(ProvenanceLabel(named)) + QStringLiteral(": ") + countText(count)});
    }
    if (moreSources > 0) { // after the sources named, before "interpoliert" and "Loch"
        const auto after = std::find_if(entries.begin(), entries.end(), [](const LegendEntry& entry) {
            return entry.code == kInterpolatedSample || entry.code == kVoidSample;
        });
        entries.insert(
            after, {kOwnSample, kMoreSources.arg(moreSources) + QStringLiteral(": ") + countText(moreSamples), false});
    }
    return entries;
}

QFont legendFont(int height)
{
    QFont font;
    font.setPixelSize(fontPixels(height));
    return font;
}

} // namespace

TilePicture RenderProvenanceOverlay(const ProvenanceMap& map)
{
    TilePicture picture = RenderProvenance(map);
    const std::uint32_t alpha = kProvenanceOverlayAlpha << 24;
    for (std::size_t i = 0; i < picture.pixels.size(); ++i)
        picture.pixels[i] = map.codes[i] == kOwnSample ? 0u : (picture.pixels[i] & 0x00FFFFFFu) | alpha;
    return picture;
}

QSize ProvenanceLegendSize(const ProvenanceMap& map, int height)
{
    const int f = fontPixels(height);
    const QFontMetrics metrics(legendFont(height));
    const std::vector<LegendEntry> entries = legendEntries(map);
    int textWidth = metrics.horizontalAdvance(kLegendTitle);
    for (const LegendEntry& entry : entries)
        textWidth = std::max(textWidth, f + f / 2 + metrics.horizontalAdvance(entry.text));
    // As DrawProvenanceLegend steps: the title's baseline, a line per code, a margin below.
    const int lines = f + metrics.ascent() + static_cast<int>(entries.size()) * (metrics.lineSpacing() + f / 3)
                      + metrics.descent() + f;
    return {std::max(LegendWidth(height), textWidth + 2 * f), lines};
}

void DrawProvenanceLegend(QPainter& painter, const QRect& area, const ProvenanceMap& map, bool overlay)
{
    const int f = fontPixels(area.height());
    const QFont font = legendFont(area.height());
    const QFontMetrics metrics(font);
    painter.save();
    painter.fillRect(area, QColor::fromRgb(kMarginBackground));
    painter.setFont(font);
    const int left = area.left() + f;
    int line = area.top() + f + metrics.ascent();
    painter.setPen(QColor::fromRgb(kLegendInk));
    painter.drawText(left, line, kLegendTitle);
    for (const auto& [code, text, swatch] : legendEntries(map)) {
        line += metrics.lineSpacing() + f / 3;
        if (swatch && (!overlay || code != kOwnSample))
            painter.fillRect(left, line - metrics.ascent(), f, f, QColor::fromRgb(ProvenanceColour(code)));
        if (swatch)
            painter.drawRect(left, line - metrics.ascent(), f, f);
        painter.drawText(left + f + f / 2, line, text);
    }
    painter.restore();
}

QImage ProvenanceWithLegend(const QImage& picture, const ProvenanceMap& map)
{
    return WithLegendMargin(picture, ProvenanceLegendSize(map, picture.height()).width(),
                            [&](QPainter& painter, const QRect& area) { DrawProvenanceLegend(painter, area, map); });
}

Result<int> WriteProvenancePng(const TilePicture& picture, const ProvenanceMap& map, bool legend,
                               const std::string& path)
{
    const QImage image = legend ? ProvenanceWithLegend(PictureImage(picture), map) : PictureImage(picture);
    if (Result<> saved = SavePng(image, path); !saved)
        return saved.error();
    return image.width();
}

} // namespace hgt

#include "app/tile_render_task.h"

#include <QtGlobal>

#include <algorithm>
#include <exception>

namespace hgt {

namespace {

// Rows per band: small enough that a closed viewer stops its work within a few milliseconds.
constexpr int kBandRows = 128;

// The picture's pixels become the image's without a copy: 52 MB for a 1" tile.
QImage adoptPixels(TilePicture&& picture)
{
    auto* pixels = new std::vector<std::uint32_t>(std::move(picture.pixels));
    return QImage(
        reinterpret_cast<uchar*>(pixels->data()), picture.width, picture.height,
        static_cast<qsizetype>(picture.width) * 4, QImage::Format_RGB32,
        [](void* owned) { delete static_cast<std::vector<std::uint32_t>*>(owned); }, pixels);
}

inline QRgb meanOfFour(QRgb a, QRgb b, QRgb c, QRgb d)
{
    // Red and blue, then green, summed side by side: four 8-bit values never reach the next channel.
    const QRgb redBlue = ((a & 0xFF00FF) + (b & 0xFF00FF) + (c & 0xFF00FF) + (d & 0xFF00FF) + 0x20002) >> 2;
    const QRgb green = ((a & 0xFF00) + (b & 0xFF00) + (c & 0xFF00) + (d & 0xFF00) + 0x200) >> 2;
    return 0xFF000000u | (redBlue & 0xFF00FF) | (green & 0xFF00);
}

RenderedTile render(const TileRenderRequest& request, const std::atomic<bool>& cancelled)
{
    RenderedTile rendered;
    // diff marks a void with -9999 whatever the void values of its inputs were.
    const std::vector<std::int16_t> voids =
        request.kind == PictureKind::Difference ? std::vector<std::int16_t>{kVoidValue} : request.voidValues;
    Result<TileSamples> read = ReadTileSamples(request.path, voids);
    if (!read) {
        rendered.error = QString::fromStdString(read.error().message);
        return rendered;
    }
    auto samples = std::make_shared<const TileSamples>(std::move(*read));
    rendered.summary = SummarizeTile(*samples, request.kind);

    const TileRenderer renderer(*samples, rendered.summary);
    TilePicture picture = renderer.blankPicture();
    for (int first = 0; first < renderer.height(); first += kBandRows) {
        if (cancelled.load(std::memory_order_relaxed)) {
            rendered.cancelled = true;
            return rendered;
        }
        renderer.renderRows(first, first + kBandRows, picture);
    }
    rendered.levels.push_back(adoptPixels(std::move(picture)));
    while (std::max(rendered.levels.back().width(), rendered.levels.back().height()) > kSmallestLevel
           && !cancelled.load(std::memory_order_relaxed))
        rendered.levels.push_back(HalvedImage(rendered.levels.back()));
    rendered.samples = std::move(samples);
    rendered.cancelled = cancelled.load(std::memory_order_relaxed);
    return rendered;
}

} // namespace

RenderedTile RenderTileTask(const TileRenderRequest& request, const std::atomic<bool>& cancelled)
{
    // Nothing may escape into the thread pool: it would end the program.
    try {
        return render(request, cancelled);
    } catch (const std::exception& error) {
        RenderedTile failed;
        failed.error =
            QString::fromStdString(request.path) + QStringLiteral(": ") + QString::fromLocal8Bit(error.what());
        return failed;
    } catch (...) {
        RenderedTile failed;
        failed.error = QString::fromStdString(request.path);
        return failed;
    }
}

RenderedProvenance RenderProvenanceTask(const std::string& path)
{
    RenderedProvenance rendered;
    try {
        Result<ProvenanceMap> read = ReadProvenance(path);
        if (!read) {
            rendered.error = QString::fromStdString(read.error().message);
            return rendered;
        }
        auto map = std::make_shared<const ProvenanceMap>(std::move(*read));
        TilePicture overlay = RenderProvenanceOverlay(*map);
        QImage level = QImage(reinterpret_cast<const uchar*>(overlay.pixels.data()), overlay.width, overlay.height,
                              static_cast<qsizetype>(overlay.width) * 4, QImage::Format_ARGB32)
                           .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        rendered.levels.push_back(std::move(level));
        // Halved as the tile's picture is, so that the view takes the same level of both.
        while (std::max(rendered.levels.back().width(), rendered.levels.back().height()) > kSmallestLevel) {
            const QImage& last = rendered.levels.back();
            rendered.levels.push_back(last.scaled((last.width() + 1) / 2, (last.height() + 1) / 2,
                                                  Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        }
        rendered.map = std::move(map);
    } catch (const std::exception& error) {
        rendered = {};
        rendered.error = QString::fromStdString(path) + QStringLiteral(": ") + QString::fromLocal8Bit(error.what());
    }
    return rendered;
}

QImage HalvedImage(const QImage& source)
{
    const QImage image =
        source.format() == QImage::Format_RGB32 ? source : source.convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const int width = (image.width() + 1) / 2;
    const int height = (image.height() + 1) / 2;
    QImage half(width, height, QImage::Format_RGB32);
    if (half.isNull())
        return half;
    const int lastX = image.width() - 1;
    for (int y = 0; y < height; ++y) {
        const auto* upper = reinterpret_cast<const QRgb*>(image.constScanLine(2 * y));
        const auto* lower = reinterpret_cast<const QRgb*>(image.constScanLine(std::min(2 * y + 1, image.height() - 1)));
        auto* out = reinterpret_cast<QRgb*>(half.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int left = 2 * x;
            const int right = std::min(left + 1, lastX);
            out[x] = meanOfFour(upper[left], upper[right], lower[left], lower[right]);
        }
    }
    return half;
}

} // namespace hgt

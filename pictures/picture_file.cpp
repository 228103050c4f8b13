#include "pictures/picture_file.h"

#include "platform/save_file.h"

#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace hgt {

namespace {

// The legend's texts, in one place.
const QString kLegendTitle = QStringLiteral("Differenz in m");
const QString kLegendRange = QStringLiteral("Bereich ±%1 m");
const char* const kPngFailed = " kann nicht als PNG erzeugt werden";
// Qt maps 0 to the strongest and 100 to no compression; 70 is fast and still small.
constexpr int kPngQuality = 70;

constexpr QRgb kMarginBackground = 0xFFFFFFFF;
constexpr QRgb kLegendInk = 0xFF202020;
constexpr QRgb kHistogramInk = 0xFF5A5A5A;

// Text and bars grow with the picture, within limits that stay readable.
int fontPixels(int height)
{
    return std::clamp(height / 40, 9, 36);
}

// The step of 1, 2 or 5 times a power of ten that puts at most four ticks on each side of 0.
double tickStep(double clip)
{
    const double raw = clip / 4;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0, 10.0})
        if (factor * power >= raw - 1e-9 * power)
            return factor * power;
    return 10 * power;
}

QString metres(double value, int decimals)
{
    QString text = QLocale(QLocale::German).toString(value, 'f', decimals);
    if (value > 0)
        text.prepend(QLatin1Char('+'));
    return text;
}

} // namespace

QImage PictureImage(const TilePicture& picture)
{
    QImage image(picture.width, picture.height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    // Format_RGB32 holds each pixel as 0xFFRRGGBB, exactly as the picture does.
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(image.scanLine(y),
                    picture.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width),
                    static_cast<std::size_t>(picture.width) * sizeof(std::uint32_t));
    return image;
}

int LegendWidth(int height)
{
    return 12 * fontPixels(height);
}

void DrawDifferenceLegend(QPainter& painter, const QRect& area, const DifferenceStats& stats)
{
    const int f = fontPixels(area.height());
    painter.save();
    painter.setClipRect(area);
    painter.fillRect(area, QColor::fromRgb(kMarginBackground));
    painter.setRenderHint(QPainter::Antialiasing, false);
    QFont font = painter.font();
    font.setPixelSize(f);
    painter.setFont(font);
    const QFontMetrics metrics(font);

    const double clip = stats.clip > 0 ? stats.clip : 1.0;
    const double step = tickStep(clip);
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));

    painter.setPen(QColor::fromRgb(kLegendInk));
    const int left = area.left() + f;
    int line = area.top() + f + metrics.ascent();
    painter.drawText(left, line, kLegendTitle);
    line += metrics.lineSpacing();
    painter.drawText(left, line, kLegendRange.arg(QLocale(QLocale::German).toString(clip, 'f', clip < 10 ? 1 : 0)));

    // The value axis: +clip on the bar's first row, -clip on its last.
    const int top = line + metrics.descent() + f;
    const int bottom = area.bottom() - f;
    if (bottom - top < 8) {
        painter.restore();
        return;
    }
    const double rows = bottom - top;
    const auto yOf = [&](double value) { return top + (clip - value) / (2 * clip) * rows; };

    const int barWidth = std::max(8, f * 3 / 2);
    for (int y = top; y <= bottom; ++y)
        painter.fillRect(left, y, barWidth, 1,
                         QColor::fromRgb(DifferenceColour(clip - 2 * clip * (y - top) / rows, clip)));
    painter.setPen(QColor::fromRgb(kHistogramInk));
    painter.drawRect(left - 1, top - 1, barWidth + 1, bottom - top + 2);

    // Ticks and their labels right of the bar.
    painter.setPen(QPen(QColor::fromRgb(kLegendInk), 1 + f / 16));
    const int tickEnd = left + barWidth + f / 2;
    int labelsRight = tickEnd;
    for (double value = -std::floor(clip / step + 1e-9) * step; value <= clip + 1e-9 * step; value += step) {
        const double shown = std::abs(value) < step / 2 ? 0.0 : value;
        const int y = static_cast<int>(std::lround(yOf(shown)));
        painter.drawLine(left + barWidth, y, tickEnd, y);
        const QString label = metres(shown, decimals);
        const int x = tickEnd + f / 3;
        painter.drawText(x, y + metrics.ascent() / 2 - 1, label);
        labelsRight = std::max(labelsRight, x + metrics.horizontalAdvance(label));
    }

    // The histogram on the same axis: one bar per bin, longest for the fullest bin.
    const DifferenceHistogram& histogram = stats.histogram;
    const int histogramLeft = labelsRight + f / 2;
    const int histogramWidth = area.right() - f / 2 - histogramLeft;
    const std::int64_t fullest =
        histogram.counts.empty() ? 0 : *std::max_element(histogram.counts.begin(), histogram.counts.end());
    if (fullest > 0 && histogramWidth > 4) {
        painter.setClipRect(QRect(histogramLeft, top, histogramWidth + 1, bottom - top + 1));
        for (std::size_t j = 0; j < histogram.counts.size(); ++j) {
            if (histogram.counts[j] == 0)
                continue;
            const double low = histogram.lowest + static_cast<double>(j) * histogram.binWidth - 0.5;
            const double high = low + histogram.binWidth;
            const double yTop = yOf(high), yBottom = yOf(low);
            const double length =
                static_cast<double>(histogram.counts[j]) / static_cast<double>(fullest) * histogramWidth;
            painter.fillRect(QRectF(histogramLeft, yTop, std::max(1.0, length), std::max(1.0, yBottom - yTop)),
                             QColor::fromRgb(kHistogramInk));
        }
        painter.setClipRect(area);
        painter.setPen(QColor::fromRgb(kLegendInk));
        painter.drawLine(histogramLeft, top, histogramLeft, bottom);
    }
    painter.restore();
}

QImage WithLegendMargin(const QImage& picture, int margin,
                        const std::function<void(QPainter&, const QRect&)>& drawLegend)
{
    QImage image(picture.width() + margin, picture.height(), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    QPainter painter(&image);
    painter.drawImage(0, 0, picture);
    drawLegend(painter, QRect(picture.width(), 0, margin, picture.height()));
    painter.end();
    return image;
}

QImage PictureWithLegend(const QImage& picture, const DifferenceStats& stats)
{
    return WithLegendMargin(picture, LegendWidth(picture.height()),
                            [&](QPainter& painter, const QRect& area) { DrawDifferenceLegend(painter, area, stats); });
}

Result<> SavePng(const QImage& image, const std::string& path)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // A light compression: a full tile is 13 million pixels, and the default level takes seconds.
    if (image.isNull() || !image.save(&buffer, "PNG", kPngQuality))
        return Error{ErrorKind::Internal, path + kPngFailed};
    Result<SaveFile> file = SaveFile::create(path);
    if (!file)
        return file.error();
    if (Result<> written = file->write(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                       static_cast<std::size_t>(bytes.size()));
        !written)
        return written;
    return file->commit();
}

Result<> WritePicturePng(const TilePicture& picture, const TileSummary& summary, bool legend, const std::string& path)
{
    const QImage image = PictureImage(picture);
    if (legend && summary.difference)
        return SavePng(PictureWithLegend(image, *summary.difference), path);
    return SavePng(image, path);
}

} // namespace hgt

#pragma once

// Tile pictures as images: the pixel buffer as a QImage, the legend of a difference picture in a
// right-hand margin (colour bar with ticks in metres, histogram of the differences), PNG files.

#include "platform/error.h"
#include "pictures/picture.h"

#include <QImage>
#include <QRect>

#include <functional>
#include <string>

class QPainter;

namespace hgt {

// A copy of the pixels; pixel (x, y) of the image is pixel (x, y) of the picture.
QImage PictureImage(const TilePicture& picture);

// The width of the legend margin beside a picture `height` pixels tall: text and bars grow with it.
int LegendWidth(int height);

// The legend of a difference picture drawn into `area`: a bar from -clip (bottom) to +clip (top)
// in the picture's colours, ticks in metres, and the histogram on the same axis.
void DrawDifferenceLegend(QPainter& painter, const QRect& area, const DifferenceStats& stats);

// The picture with the legend in a margin on its right; pixels left of the margin are unchanged.
QImage PictureWithLegend(const QImage& picture, const DifferenceStats& stats);
// `picture` widened by `margin` pixels to its right, in which `drawLegend` draws; a null image
// when there is no memory for it.
QImage WithLegendMargin(const QImage& picture, int margin,
                        const std::function<void(QPainter&, const QRect&)>& drawLegend);

// Writes the image as PNG: the file appears under its name only when complete.
Result<> SavePng(const QImage& image, const std::string& path);

// The picture as PNG, with the legend in a margin when asked for and the summary has difference
// figures; without it pixel (x, y) is the picture's pixel (x, y).
Result<> WritePicturePng(const TilePicture& picture, const TileSummary& summary, bool legend, const std::string& path);

} // namespace hgt

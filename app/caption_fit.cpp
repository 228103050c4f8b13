#include "app/caption_fit.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>

namespace hgt {

namespace {

constexpr double kSmallestPointSize = 6.0;

bool fits(const QLabel* label, const QFont& font)
{
    const QRectF box = label->contentsRect();
    const QRectF needed =
        QFontMetricsF(font).boundingRect(box, Qt::TextWordWrap | int(label->alignment()), label->text());
    return needed.height() <= box.height() + 0.5 && needed.width() <= box.width() + 0.5;
}

} // namespace

void fitCaptionToBox(QLabel* label)
{
    QFont font = QApplication::font(label);
    double size = font.pointSizeF();
    while (size > kSmallestPointSize && !fits(label, font)) {
        size -= 0.5;
        font.setPointSizeF(size);
    }
    label->setFont(font);
}

} // namespace hgt

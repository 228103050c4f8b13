#include "app/tile_picture_view.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace hgt {

namespace {

constexpr double kLargestScale = 32; // a sample 32 pixels wide is enough to read single samples
constexpr double kWheelStep = 1.25;  // per notch of the wheel
const QColor kBackground(0x30, 0x30, 0x30);

} // namespace

TilePictureView::TilePictureView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("tilePicture"));
    setMouseTracking(true);
    setFocusPolicy(Qt::WheelFocus);
    setMinimumSize(200, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize TilePictureView::sizeHint() const
{
    return {720, 720};
}

void TilePictureView::setPicture(std::vector<QImage> levels, int side)
{
    m_levels = std::move(levels);
    m_side = m_levels.empty() ? 0 : side;
    m_message.clear();
    m_hovered.reset();
    unsetCursor();
    if (!m_levels.empty())
        setCursor(Qt::OpenHandCursor);
    fitToWindow();
}

void TilePictureView::setOverlay(std::vector<QImage> levels)
{
    m_overlay = std::move(levels);
    update();
}

void TilePictureView::setMessage(const QString& message)
{
    m_levels.clear();
    m_side = 0;
    m_message = message;
    m_dragFrom.reset();
    unsetCursor();
    hover(std::nullopt);
    update();
}

double TilePictureView::fitScale() const
{
    if (m_side <= 0)
        return 1;
    return std::max(1e-3, std::min(width(), height()) / static_cast<double>(m_side));
}

void TilePictureView::setScale(double scale)
{
    const double smallest = std::min(fitScale(), 1.0) / 2;
    scale = std::clamp(scale, smallest, kLargestScale);
    if (scale == m_scale)
        return;
    m_scale = scale;
    emit scaleChanged(m_scale);
}

void TilePictureView::fitToWindow()
{
    m_fitted = true;
    setScale(fitScale());
    clampOrigin();
    update();
    refreshHover();
}

void TilePictureView::showActualSize()
{
    zoomBy(1.0 / m_scale, QPointF(width() / 2.0, height() / 2.0));
}

void TilePictureView::zoomBy(double factor, QPointF anchor)
{
    if (m_side <= 0 || !(factor > 0))
        return;
    const QPointF atAnchor = (anchor - m_origin) / m_scale; // in samples
    setScale(m_scale * factor);
    m_origin = anchor - atAnchor * m_scale;
    m_fitted = false;
    clampOrigin();
    update();
    refreshHover();
}

void TilePictureView::panBy(QPointF delta)
{
    if (m_side <= 0)
        return;
    m_origin += delta;
    m_fitted = false;
    clampOrigin();
    update();
}

void TilePictureView::clampOrigin()
{
    const double extent = m_side * m_scale;
    const auto clamp = [extent](double origin, int view) {
        if (extent <= view)
            return (view - extent) / 2;
        return std::clamp(origin, view - extent, 0.0);
    };
    m_origin = QPointF(clamp(m_origin.x(), width()), clamp(m_origin.y(), height()));
}

std::optional<SampleIndex> TilePictureView::sampleAt(QPointF position) const
{
    if (m_side <= 0)
        return std::nullopt;
    const QPointF at = (position - m_origin) / m_scale;
    const auto column = static_cast<int>(std::floor(at.x()));
    const auto row = static_cast<int>(std::floor(at.y()));
    if (column < 0 || row < 0 || column >= m_side || row >= m_side)
        return std::nullopt;
    return SampleIndex{row, column};
}

QPointF TilePictureView::positionOf(SampleIndex sample) const
{
    return m_origin + QPointF(sample.column + 0.5, sample.row + 0.5) * m_scale;
}

int TilePictureView::levelInUse() const
{
    // The smallest level whose pixels still cover at most one pixel of the screen each.
    const double devicePixelsPerSample = m_scale * devicePixelRatioF();
    int level = 0;
    while (level + 1 < static_cast<int>(m_levels.size()) && devicePixelsPerSample * (1 << (level + 1)) <= 1.0)
        ++level;
    return level;
}

void TilePictureView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), kBackground);
    if (m_levels.empty()) {
        painter.setPen(Qt::white);
        painter.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, m_message);
        return;
    }
    // Only the part of the tile that is on screen, from the level that fits the scale.
    const QRectF tile(m_origin, QSizeF(m_side * m_scale, m_side * m_scale));
    const QRectF shown = tile.intersected(QRectF(event->rect()));
    if (shown.isEmpty())
        return;
    const int level = levelInUse();
    const double perPixel = (1 << level) * m_scale; // view pixels per pixel of the level
    const QRectF source((shown.left() - m_origin.x()) / perPixel, (shown.top() - m_origin.y()) / perPixel,
                        shown.width() / perPixel, shown.height() / perPixel);
    // Enlarged, each sample is a sharp square; reduced, the level is smoothed the last bit down.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_scale < 1.0);
    painter.drawImage(shown, m_levels[static_cast<std::size_t>(level)], source);
    if (!m_overlay.empty()) {
        const QImage& overlay = m_overlay[std::min(static_cast<std::size_t>(level), m_overlay.size() - 1)];
        // Mapped by its own extent: a 3" companion beside a 1" tile still covers the same ground.
        const double ratio = overlay.width() / static_cast<double>(m_levels[static_cast<std::size_t>(level)].width());
        painter.drawImage(shown, overlay, QRectF(source.topLeft() * ratio, source.size() * ratio));
    }
}

void TilePictureView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_fitted)
        setScale(fitScale());
    clampOrigin();
}

void TilePictureView::wheelEvent(QWheelEvent* event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0 || m_side <= 0) {
        event->ignore();
        return;
    }
    zoomBy(std::pow(kWheelStep, notches), event->position());
    hover(event->position());
    event->accept();
}

void TilePictureView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_side <= 0) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragFrom = event->position();
    setCursor(Qt::ClosedHandCursor);
}

void TilePictureView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragFrom && (event->buttons() & Qt::LeftButton)) {
        panBy(event->position() - *m_dragFrom);
        m_dragFrom = event->position();
    }
    hover(event->position());
}

void TilePictureView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_dragFrom) {
        m_dragFrom.reset();
        setCursor(Qt::OpenHandCursor);
    }
    QWidget::mouseReleaseEvent(event);
}

void TilePictureView::leaveEvent(QEvent* event)
{
    hover(std::nullopt);
    QWidget::leaveEvent(event);
}

void TilePictureView::refreshHover()
{
    // A keyboard shortcut moves the picture under a pointer that stays where it is.
    if (underMouse())
        hover(mapFromGlobal(QCursor::pos()));
}

void TilePictureView::hover(std::optional<QPointF> position)
{
    // The pointer stands on a whole pixel; it shows the sample at that pixel's middle.
    const std::optional<SampleIndex> sample = position ? sampleAt(*position + QPointF(0.5, 0.5)) : std::nullopt;
    if (sample == m_hovered)
        return;
    m_hovered = sample;
    emit sampleHovered(sample);
}

} // namespace hgt

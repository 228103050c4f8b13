#pragma once

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <optional>
#include <vector>

namespace hgt {

struct SampleIndex {
    int row = 0;
    int column = 0;
    friend bool operator==(const SampleIndex&, const SampleIndex&) = default;
};

// A tile's picture that can be zoomed (wheel, fit, 1:1) and panned (dragging). Reduced, it draws
// from the smallest of the picture's levels that still has a pixel per screen pixel, so that it
// never scales a 3601-pixel picture on the window's thread.
class TilePictureView : public QWidget {
    Q_OBJECT
public:
    explicit TilePictureView(QWidget* parent = nullptr);

    // levels[0] has one pixel per sample of a side x side tile; see RenderedTile. Shown fitted.
    void setPicture(std::vector<QImage> levels, int side);
    // Drawn over the picture, level by level (the same sizes as the picture's); empty: none.
    void setOverlay(std::vector<QImage> levels);
    bool hasOverlay() const { return !m_overlay.empty(); }
    // No picture, a line of text instead (reading, or why there is no picture).
    void setMessage(const QString& message);
    bool hasPicture() const { return !m_levels.empty(); }
    QString message() const { return m_message; }

    // The whole tile in the view, centred; it stays fitted when the view changes size.
    void fitToWindow();
    // One sample per pixel, the sample at the middle of the view staying there.
    void showActualSize();
    // Changes the scale by `factor`, the point under `anchor` staying where it is.
    void zoomBy(double factor, QPointF anchor);
    void panBy(QPointF delta);

    // Pixels per sample.
    double scale() const { return m_scale; }
    bool isFitted() const { return m_fitted; }
    // The sample shown at a point of the view, if any.
    std::optional<SampleIndex> sampleAt(QPointF position) const;
    // The middle of a sample in the view.
    QPointF positionOf(SampleIndex sample) const;
    // The level the view draws from at its present scale.
    int levelInUse() const;

    QSize sizeHint() const override;

signals:
    // The sample under the mouse pointer; nullopt when the pointer is off the picture.
    void sampleHovered(std::optional<hgt::SampleIndex> sample);
    void scaleChanged(double scale);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    double fitScale() const;
    void setScale(double scale);
    // Keeps the picture on screen: centred where it is smaller than the view, else without a gap
    // at either edge.
    void clampOrigin();
    void hover(std::optional<QPointF> position);
    void refreshHover();

    std::vector<QImage> m_levels;
    std::vector<QImage> m_overlay;
    int m_side = 0;
    QString m_message;
    double m_scale = 1;
    QPointF m_origin; // where the tile's top-left corner is in the view
    bool m_fitted = true;
    std::optional<QPointF> m_dragFrom;
    std::optional<SampleIndex> m_hovered;
};

} // namespace hgt

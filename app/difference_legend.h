#pragma once

#include "pictures/picture.h"

#include <QWidget>

#include <optional>

namespace hgt {

// The legend of a difference picture beside the viewer's figures: the colour bar in metres and the
// histogram of the differences, drawn as the PNG files draw it.
class DifferenceLegend : public QWidget {
public:
    explicit DifferenceLegend(QWidget* parent = nullptr);

    void setStats(std::optional<DifferenceStats> stats);
    const std::optional<DifferenceStats>& stats() const { return m_stats; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<DifferenceStats> m_stats;
};

} // namespace hgt

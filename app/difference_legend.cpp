#include "app/difference_legend.h"

#include "pictures/picture_file.h"

#include <QPainter>

namespace hgt {

namespace {

// The legend's text grows with its height (LegendWidth): the width is the one for the tallest it
// may get, so that a shorter one fits too.
constexpr int kHeight = 480;
constexpr int kSmallestHeight = 200;

} // namespace

DifferenceLegend::DifferenceLegend(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("differenceLegend"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setMaximumHeight(kHeight);
}

void DifferenceLegend::setStats(std::optional<DifferenceStats> stats)
{
    m_stats = std::move(stats);
    update();
}

QSize DifferenceLegend::sizeHint() const
{
    return {LegendWidth(kHeight), kHeight};
}

QSize DifferenceLegend::minimumSizeHint() const
{
    return {LegendWidth(kHeight), kSmallestHeight};
}

void DifferenceLegend::paintEvent(QPaintEvent*)
{
    if (!m_stats)
        return;
    QPainter painter(this);
    DrawDifferenceLegend(painter, rect(), *m_stats);
}

} // namespace hgt

#include "app/provenance_legend.h"

#include <QPainter>
#include <QSize>

namespace hgt {

namespace {

// The legend's text grows with the height it is drawn for: this one gives the size of the figures.
constexpr int kHeight = 480;

} // namespace

ProvenanceLegend::ProvenanceLegend(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("provenanceLegend"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    hide();
}

void ProvenanceLegend::setMap(std::shared_ptr<const ProvenanceMap> map)
{
    m_map = std::move(map);
    setFixedSize(sizeHint());
    update();
}

QSize ProvenanceLegend::sizeHint() const
{
    return m_map ? ProvenanceLegendSize(*m_map, kHeight) : QSize(0, 0);
}

void ProvenanceLegend::paintEvent(QPaintEvent*)
{
    if (!m_map)
        return;
    QPainter painter(this);
    DrawProvenanceLegend(painter, QRect(0, 0, width(), kHeight), *m_map, true);
}

} // namespace hgt

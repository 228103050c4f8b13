#pragma once

#include "pictures/provenance_picture.h"

#include <QWidget>

#include <memory>

namespace hgt {

// The legend of the provenance overlay beside the viewer's figures: a swatch, the name and the
// number of samples of every code the companion holds, drawn as the PNG files draw it.
class ProvenanceLegend : public QWidget {
public:
    explicit ProvenanceLegend(QWidget* parent = nullptr);

    void setMap(std::shared_ptr<const ProvenanceMap> map);
    const ProvenanceMap* map() const { return m_map.get(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const ProvenanceMap> m_map;
};

} // namespace hgt

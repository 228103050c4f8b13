#pragma once

#include "pictures/picture.h"

#include <QWidget>

class QFormLayout;
class QLabel;

namespace hgt {

class DifferenceLegend;

// The figures beside a tile's picture: name, grid, minimum, maximum, mean and voids, and for a
// difference tile its median, mean, RMS, percentiles and the legend with the histogram.
class TileFiguresPanel : public QWidget {
public:
    explicit TileFiguresPanel(QWidget* parent = nullptr);

    void setSummary(const TileSummary& summary);
    // Only the name, while the tile is read or when it cannot be.
    void clear(const QString& name);

    // The text shown for a figure, by its label's object name ("figureMinimum", …).
    QString figure(const QString& objectName) const;
    DifferenceLegend* legend() const { return m_legend; }
    bool showsDifference() const;

private:
    QLabel* addFigure(const QString& caption, const char* objectName);
    void showDifferenceRows(bool shown);

    QFormLayout* m_form;
    QLabel* m_differenceHeading;
    QLabel* m_name;
    QLabel* m_grid;
    QLabel* m_minimum;
    QLabel* m_maximum;
    QLabel* m_mean;
    QLabel* m_voids;
    QLabel* m_median;
    QLabel* m_differenceMean;
    QLabel* m_rms;
    QLabel* m_p2;
    QLabel* m_p98;
    DifferenceLegend* m_legend;
};

} // namespace hgt

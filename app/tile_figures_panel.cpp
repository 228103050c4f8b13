#include "app/tile_figures_panel.h"

#include "app/difference_legend.h"

#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

#include <cmath>

namespace hgt {

namespace {

// The captions, in one place.
const QString kTile = QStringLiteral("Kachel");
const QString kGrid = QStringLiteral("Raster");
const QString kMinimum = QStringLiteral("Minimum");
const QString kMaximum = QStringLiteral("Maximum");
const QString kMean = QStringLiteral("Mittel");
const QString kVoids = QStringLiteral("Leerstellen");
const QString kDifference = QStringLiteral("Differenz");
const QString kMedian = QStringLiteral("Median");
const QString kRms = QStringLiteral("RMS");
const QString kP2 = QStringLiteral("2. Perzentil");
const QString kP98 = QStringLiteral("98. Perzentil");
const QString kGridText = QStringLiteral("%1″ · %2 × %2");
const QString kVoidsText = QStringLiteral("%1 (%2 %)");
const QString kMetres = QStringLiteral("%1 m");
const QString kNone = QStringLiteral("–"); // no figure: every sample is a void

QLocale german()
{
    QLocale locale(QLocale::German, QLocale::Germany);
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

// Metres with a decimal comma; a difference above 0 gets its "+", a value that rounds to 0 no sign.
QString metres(double value, int places, bool sign)
{
    if (std::round(value * std::pow(10.0, places)) == 0)
        value = 0;
    QString text = german().toString(value, 'f', places);
    if (sign && value > 0)
        text.prepend(QLatin1Char('+'));
    return kMetres.arg(text);
}

} // namespace

TileFiguresPanel::TileFiguresPanel(QWidget* parent)
    : QWidget(parent), m_form(new QFormLayout), m_differenceHeading(new QLabel(kDifference, this)),
      m_legend(new DifferenceLegend(this))
{
    setObjectName(QStringLiteral("tileFigures"));
    m_name = addFigure(kTile, "figureTile");
    m_grid = addFigure(kGrid, "figureGrid");
    m_minimum = addFigure(kMinimum, "figureMinimum");
    m_maximum = addFigure(kMaximum, "figureMaximum");
    m_mean = addFigure(kMean, "figureMean");
    m_voids = addFigure(kVoids, "figureVoids");

    // The difference's figures in the same columns, under a heading of their own.
    QFont bold = m_differenceHeading->font();
    bold.setBold(true);
    m_differenceHeading->setFont(bold);
    m_differenceHeading->setContentsMargins(0, 8, 0, 0);
    m_form->addRow(m_differenceHeading);
    m_median = addFigure(kMedian, "figureMedian");
    m_differenceMean = addFigure(kMean, "figureDifferenceMean");
    m_rms = addFigure(kRms, "figureRms");
    m_p2 = addFigure(kP2, "figureP2");
    m_p98 = addFigure(kP98, "figureP98");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(m_form);
    layout->addSpacing(8);
    layout->addWidget(m_legend);
    layout->addStretch(1);
    clear(QString());
}

QLabel* TileFiguresPanel::addFigure(const QString& caption, const char* objectName)
{
    auto* value = new QLabel(this);
    value->setObjectName(QLatin1String(objectName));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_form->addRow(caption, value);
    return value;
}

void TileFiguresPanel::showDifferenceRows(bool shown)
{
    for (QWidget* row : {static_cast<QWidget*>(m_differenceHeading), static_cast<QWidget*>(m_median),
                         static_cast<QWidget*>(m_differenceMean), static_cast<QWidget*>(m_rms),
                         static_cast<QWidget*>(m_p2), static_cast<QWidget*>(m_p98)})
        m_form->setRowVisible(row, shown);
    // A difference's mean stands with its other figures.
    m_form->setRowVisible(m_mean, !shown);
    m_legend->setVisible(shown);
}

void TileFiguresPanel::clear(const QString& name)
{
    m_name->setText(name);
    for (QLabel* label :
         {m_grid, m_minimum, m_maximum, m_mean, m_voids, m_median, m_differenceMean, m_rms, m_p2, m_p98})
        label->clear();
    showDifferenceRows(false);
    m_legend->setStats(std::nullopt);
}

void TileFiguresPanel::setSummary(const TileSummary& summary)
{
    const bool difference = summary.difference.has_value();
    const QLocale grouped(QLocale::German, QLocale::Germany);
    m_name->setText(QString::fromStdString(summary.name));
    m_grid->setText(kGridText.arg(summary.arcSeconds).arg(summary.side));
    m_minimum->setText(summary.minimum ? metres(*summary.minimum, 0, difference) : kNone);
    m_maximum->setText(summary.maximum ? metres(*summary.maximum, 0, difference) : kNone);
    m_voids->setText(kVoidsText.arg(grouped.toString(static_cast<qlonglong>(summary.voids)),
                                    german().toString(summary.voidPercent, 'f', 2)));
    m_mean->setText(summary.minimum ? metres(summary.mean, 2, false) : kNone);
    showDifferenceRows(difference);
    m_legend->setStats(summary.difference);
    if (!difference)
        return;
    const DifferenceStats& d = *summary.difference;
    const bool any = d.samples > 0;
    m_median->setText(any ? metres(d.median, 1, true) : kNone);
    m_differenceMean->setText(any ? metres(d.mean, 2, true) : kNone);
    m_rms->setText(any ? metres(d.rms, 2, false) : kNone);
    m_p2->setText(any ? metres(d.p2, 1, true) : kNone);
    m_p98->setText(any ? metres(d.p98, 1, true) : kNone);
}

QString TileFiguresPanel::figure(const QString& objectName) const
{
    const auto* label = findChild<QLabel*>(objectName);
    return label ? label->text() : QString();
}

bool TileFiguresPanel::showsDifference() const
{
    return !m_median->isHidden();
}

} // namespace hgt

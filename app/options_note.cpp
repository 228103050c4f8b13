#include "app/options_note.h"

#include "app/datum_choice.h"
#include "app/run_options_settings.h"
#include "app/texts.h"

#include <QFontMetrics>
#include <QStringList>

namespace hgt {

namespace {

// As the menu writes them: with a true minus sign.
QString voidValueText(std::int16_t value)
{
    return value < 0 ? QStringLiteral("−") + QString::number(-static_cast<int>(value)) : QString::number(value);
}

} // namespace

OptionsNote::OptionsNote(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("optionsNote"));
    setTextFormat(Qt::PlainText);
    // Without a size grip the bar ends at the window's edge; the note keeps off it.
    setContentsMargins(0, 0, 6, 0);
    hide();
}

QString OptionsNote::noteText(const WindowOptions& options)
{
    const WindowOptions defaults;
    QStringList parts;
    if (options.voidValues != defaults.voidValues) {
        QStringList values;
        for (std::int16_t value : voidValuesInMenuOrder(options.voidValues))
            values << voidValueText(value);
        parts << texts::noteVoidValues.arg(values.join(QStringLiteral(", ")));
    }
    if (const std::size_t more = options.moreSources.size(); more == 1)
        parts << texts::noteOneMoreSource;
    else if (more > 1)
        parts << texts::noteMoreSources.arg(more);
    if (options.method != defaults.method)
        parts << texts::noteDelta;
    if (options.interpolate)
        parts << texts::noteInterpolate.arg(options.maxDistance);
    if (options.provenance)
        parts << texts::noteProvenance;
    // The further sources count from 2: the window's secondary folder is the first.
    QStringList datums;
    for (std::size_t i = 0; i < options.moreSources.size(); ++i)
        if (!options.moreSources[i].datum.empty())
            datums << texts::noteSourceDatum.arg(i + 2).arg(datumShortLabel(options.moreSources[i].datum));
    if (!datums.isEmpty())
        parts << texts::noteSourceDatums.arg(datums.join(QStringLiteral(", ")));
    if (!options.tileDatum.empty() && options.tileDatum != "egm96")
        parts << texts::noteTileDatum.arg(datumShortLabel(options.tileDatum));
    return parts.join(QStringLiteral(" · "));
}

void OptionsNote::setOptions(const WindowOptions& options)
{
    m_fullText = noteText(options);
    setToolTip(m_fullText);
    setVisible(!m_fullText.isEmpty());
    updateGeometry();
    showElided();
}

QSize OptionsNote::sizeHint() const
{
    // The whole note, whatever part of it is shown now.
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(m_fullText) + 2 * margin() + margins.left() + margins.right(),
            QLabel::sizeHint().height()};
}

QSize OptionsNote::minimumSizeHint() const
{
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 3, QLabel::minimumSizeHint().height()};
}

void OptionsNote::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    showElided();
}

void OptionsNote::showElided()
{
    QLabel::setText(fontMetrics().elidedText(m_fullText, Qt::ElideRight, contentsRect().width() - 2 * margin()));
}

} // namespace hgt

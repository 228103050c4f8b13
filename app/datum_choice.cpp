#include "app/datum_choice.h"

#include "app/texts.h"

#include <QRegularExpression>

namespace hgt {

namespace {

struct KnownDatum {
    const char* name;
    const QString* label;
};

const KnownDatum kKnownDatums[] = {
    {"egm96", &texts::datumEgm96}, {"egm2008", &texts::datumEgm2008}, {"ellipsoid", &texts::datumEllipsoid}};

} // namespace

std::optional<std::string> datumFromText(const QString& text)
{
    const QString entry = text.trimmed();
    if (entry.isEmpty() || entry == texts::datumNone)
        return std::string();
    for (const KnownDatum& known : kKnownDatums)
        if (entry.compare(QLatin1String(known.name), Qt::CaseInsensitive) == 0
            || entry.compare(*known.label, Qt::CaseInsensitive) == 0)
            return std::string(known.name);
    // A code PROJ might know; short enough that a stored or pasted text cannot pass as one.
    static const QRegularExpression code(QStringLiteral("^[A-Za-z][A-Za-z0-9_]{0,19}:[0-9A-Za-z_]{1,20}"
                                                        "(\\+[0-9A-Za-z_]{1,20})?$"));
    if (code.match(entry).hasMatch()) {
        // The authority in capitals as PROJ lists it; the code as typed.
        const qsizetype colon = entry.indexOf(QLatin1Char(':'));
        return (entry.left(colon).toUpper() + entry.mid(colon)).toStdString();
    }
    return std::nullopt;
}

QString datumLabel(const std::string& datum)
{
    if (datum.empty())
        return texts::datumNone;
    for (const KnownDatum& known : kKnownDatums)
        if (datum == known.name)
            return *known.label;
    return QString::fromStdString(datum);
}

QString datumShortLabel(const std::string& datum)
{
    return datum == "ellipsoid" ? texts::datumEllipsoidShort : datumLabel(datum);
}

QStringList datumChoices(bool withNone)
{
    QStringList choices;
    if (withNone)
        choices << texts::datumNone;
    for (const KnownDatum& known : kKnownDatums)
        choices << *known.label;
    return choices;
}

} // namespace hgt

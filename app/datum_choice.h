#pragma once

// The vertical datums the window offers, as the run takes them ("egm96", "egm2008", "ellipsoid" or
// an authority code such as "EPSG:7837") and as the window shows them. The window does not link PROJ:
// here only the form of a code is checked; whether PROJ knows it and has its grids, the run checks
// before it writes anything.

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace hgt {

// What the user typed or picked, as the run takes it: one of the offered labels or short names (any
// letter case), a code AUTHORITY:CODE or AUTHORITY:CODE+CODE, or "" for the empty entry and "—" (no
// datum). Nothing for anything else.
std::optional<std::string> datumFromText(const QString& text);

// How the window shows a datum: "EGM96", "EGM2008", "Ellipsoid (WGS 84)", a code as it is, "—" for none.
QString datumLabel(const std::string& datum);

// The short form for the status note: "Ellipsoid" instead of the whole label.
QString datumShortLabel(const std::string& datum);

// The labels a datum field offers, the empty choice ("—") first when `withNone`.
QStringList datumChoices(bool withNone);

} // namespace hgt

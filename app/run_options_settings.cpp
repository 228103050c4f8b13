#include "app/run_options_settings.h"

#include "app/datum_choice.h"
#include "app/texts.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <optional>

namespace hgt {

namespace {

const QString kVoidValuesKey = QStringLiteral("voidValues");
const QString kMoreSecondaryFoldersKey = QStringLiteral("moreSecondaryFolders");
const QString kMoreSecondaryDatumsKey = QStringLiteral("moreSecondaryDatums");
const QString kTileDatumKey = QStringLiteral("tileDatum");
const QString kFillMethodKey = QStringLiteral("fillMethod");
const QString kInterpolateKey = QStringLiteral("interpolate");
const QString kMaxDistanceKey = QStringLiteral("maxDistance");
const QString kProvenanceKey = QStringLiteral("provenance");

// "true"/"false" as QSettings writes them; anything else is not a choice.
std::optional<bool> storedFlag(const QSettings& store, const QString& key)
{
    const QString text = store.value(key).toString().trimmed().toLower();
    if (text == QLatin1String("true"))
        return true;
    if (text == QLatin1String("false"))
        return false;
    return std::nullopt;
}

void storeFlag(QSettings& store, const QString& key, bool value, bool byDefault)
{
    if (value == byDefault)
        store.remove(key);
    else
        store.setValue(key, value);
}

// ~/.config/hgtfill/hgtfill.conf on Linux; the registry key HKEY_CURRENT_USER\Software\hgtfill on Windows.
QSettings openStore()
{
#ifdef Q_OS_WIN
    return QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\hgtfill"), QSettings::NativeFormat);
#else
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("hgtfill"),
                     QStringLiteral("hgtfill"));
#endif
}

} // namespace

std::vector<std::int16_t> voidValuesInMenuOrder(const std::vector<std::int16_t>& values)
{
    std::vector<std::int16_t> ordered;
    for (std::int16_t choice : kVoidValueChoices)
        if (std::find(values.begin(), values.end(), choice) != values.end())
            ordered.push_back(choice);
    return ordered;
}

WindowOptions RunOptionsSettings::load(WindowOptions options)
{
    const QSettings store = openStore();

    if (store.contains(kVoidValuesKey)) {
        std::vector<std::int16_t> values;
        for (const QString& text : store.value(kVoidValuesKey).toStringList()) {
            bool ok = false;
            const int value = text.trimmed().toInt(&ok);
            if (ok && std::find(kVoidValueChoices.begin(), kVoidValueChoices.end(), value) != kVoidValueChoices.end())
                values.push_back(static_cast<std::int16_t>(value));
        }
        // A run needs at least one void value; a list without a known one is not a choice.
        if (!values.empty())
            options.voidValues = voidValuesInMenuOrder(values);
    }

    if (store.contains(kMoreSecondaryFoldersKey)) {
        const QStringList folders = store.value(kMoreSecondaryFoldersKey).toStringList();
        // One datum per folder, or none at all: a list of another length no longer says which is whose.
        QStringList datums = store.value(kMoreSecondaryDatumsKey).toStringList();
        if (datums.size() != folders.size())
            datums = QStringList(folders.size(), QString());
        options.moreSources.clear();
        for (qsizetype i = 0; i < folders.size(); ++i)
            if (!folders[i].isEmpty())
                options.moreSources.push_back(
                    {folders[i].toStdString(), datumFromText(datums[i]).value_or(std::string())});
    }
    if (const std::optional<std::string> tileDatum = datumFromText(store.value(kTileDatumKey).toString());
        tileDatum && !tileDatum->empty())
        options.tileDatum = *tileDatum == "egm96" ? std::string() : *tileDatum;

    const QString method = store.value(kFillMethodKey).toString();
    if (method == QLatin1String("delta"))
        options.method = FillMethod::Delta;
    else if (method == QLatin1String("copy"))
        options.method = FillMethod::Copy;

    if (const std::optional<bool> interpolate = storedFlag(store, kInterpolateKey))
        options.interpolate = *interpolate;
    if (store.contains(kMaxDistanceKey)) {
        bool ok = false;
        const int distance = store.value(kMaxDistanceKey).toString().trimmed().toInt(&ok);
        if (ok && distance >= 1 && distance <= kLargestMaxDistance)
            options.maxDistance = distance;
    }
    if (const std::optional<bool> provenance = storedFlag(store, kProvenanceKey))
        options.provenance = *provenance;
    return options;
}

Result<> RunOptionsSettings::save(const WindowOptions& options)
{
    const WindowOptions defaults;
    QSettings store = openStore();

    const std::vector<std::int16_t> voidValues = voidValuesInMenuOrder(options.voidValues);
    if (voidValues == defaults.voidValues || voidValues.empty()) {
        store.remove(kVoidValuesKey);
    } else {
        QStringList texts;
        for (std::int16_t value : voidValues)
            texts << QString::number(value);
        store.setValue(kVoidValuesKey, texts);
    }

    QStringList folders;
    QStringList datums;
    for (const FurtherSource& source : options.moreSources) {
        folders << QString::fromStdString(source.path);
        datums << QString::fromStdString(source.datum);
    }
    if (folders.isEmpty())
        store.remove(kMoreSecondaryFoldersKey);
    else
        store.setValue(kMoreSecondaryFoldersKey, folders);
    // Beside the folders only while one of them has a datum, so that a store without datums stays as it was.
    if (std::all_of(datums.begin(), datums.end(), [](const QString& datum) { return datum.isEmpty(); }))
        store.remove(kMoreSecondaryDatumsKey);
    else
        store.setValue(kMoreSecondaryDatumsKey, datums);
    if (options.tileDatum.empty() || options.tileDatum == "egm96")
        store.remove(kTileDatumKey);
    else
        store.setValue(kTileDatumKey, QString::fromStdString(options.tileDatum));

    if (options.method == defaults.method)
        store.remove(kFillMethodKey);
    else
        store.setValue(kFillMethodKey,
                       options.method == FillMethod::Delta ? QStringLiteral("delta") : QStringLiteral("copy"));

    storeFlag(store, kInterpolateKey, options.interpolate, defaults.interpolate);
    if (options.maxDistance == defaults.maxDistance)
        store.remove(kMaxDistanceKey);
    else
        store.setValue(kMaxDistanceKey, options.maxDistance);
    storeFlag(store, kProvenanceKey, options.provenance, defaults.provenance);

    store.sync();
    if (store.status() != QSettings::NoError)
        return Error{ErrorKind::Io, texts::optionsNotSaved.arg(store.fileName()).toStdString()};
    return {};
}

QString RunOptionsSettings::location()
{
    return openStore().fileName();
}

} // namespace hgt

#include "platform/settings_store.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <memory>

namespace hgt {

namespace {

// The QSettings behind a sub key, or none for a root or path that does not map to the store.
std::unique_ptr<QSettings> openStore(std::uint32_t root, const QString& subKey)
{
    if (root != SettingsStore::kCurrentUser)
        return nullptr;
#ifdef Q_OS_WIN
    auto settings =
        std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\") + subKey, QSettings::NativeFormat);
    if (settings->childKeys().isEmpty() && settings->childGroups().isEmpty())
        return nullptr;
    return settings;
#else
    const QStringList parts = subKey.split(QLatin1Char('\\'));
    if (parts.size() < 2 || parts.size() > 3 || parts[0].compare(QLatin1String("Software"), Qt::CaseInsensitive) != 0)
        return nullptr;
    for (const QString& part : parts)
        if (part.isEmpty())
            return nullptr;
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, parts[1],
                                                parts.size() == 3 ? parts[2] : QString());
    // A store that does not exist cannot be opened; asking QSettings would not create it either.
    if (!QFileInfo::exists(settings->fileName()))
        return nullptr;
    return settings;
#endif
}

} // namespace

std::optional<QString> SettingsStore::read(std::uint32_t root, const QString& subKey, const QString& valueName)
{
    const auto settings = openStore(root, subKey);
    if (!settings || !settings->contains(valueName))
        return std::nullopt;
    const QVariant value = settings->value(valueName);
    if (value.userType() == QMetaType::QStringList) {
        const QStringList list = value.toStringList();
        return list.isEmpty() ? QString() : list.constFirst();
    }
    return value.toString();
}

} // namespace hgt

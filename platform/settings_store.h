#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace hgt {

// Read-only access to the per-user settings store, addressed the way the registry is: a root key,
// a sub key path with backslashes, a value name. Windows reads the registry itself; elsewhere
// HKEY_CURRENT_USER with "Software\<Org>" is Qt's user-scope file of organization <Org> (on Linux
// $XDG_CONFIG_HOME/<Org>.conf, group [General]) and "Software\<Org>\<App>" that of <Org>/<App>.
class SettingsStore {
public:
    static constexpr std::uint32_t kCurrentUser = 0x80000001u;

    // The value's text, or nothing when the sub key cannot be opened (an unknown root or path, or a
    // store that does not exist, which is never created) or holds no such value.
    // A list value yields its first string.
    static std::optional<QString> read(std::uint32_t root, const QString& subKey, const QString& valueName);
};

} // namespace hgt

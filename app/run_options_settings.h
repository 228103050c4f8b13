#pragma once

#include "platform/error.h"
#include "app/window_options.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace hgt {

// The void values the Optionen menu offers, in its order.
inline constexpr std::array<std::int16_t, 3> kVoidValueChoices{-9999, -32768, -32767};

// Those of `values` that the menu offers, in the menu's order: one choice, one list, wherever it is
// kept or shown.
std::vector<std::int16_t> voidValuesInMenuOrder(const std::vector<std::int16_t>& values);

// The choices of the Optionen menu in the program's own per-user settings, organisation and
// application "hgtfill" (on Linux $XDG_CONFIG_HOME/hgtfill/hgtfill.conf). The store of the
// remembered folder belongs to another program and is only ever read; nothing goes there.
class RunOptionsSettings {
public:
    // `options` with the stored choices put in. A choice that is not stored, or that this version
    // does not understand (an unknown void value, an unknown method, a distance out of range, a datum
    // of no known form), keeps its value in `options`; a folder's datum of no known form is none.
    static WindowOptions load(WindowOptions options = {});
    // Stores the void values, the further secondary folders with their datums, the fill method,
    // interpolation with its maximum distance, the provenance map and the tiles' datum of `options`. A
    // choice at its default leaves no entry, so that a later version's defaults apply to it.
    static Result<> save(const WindowOptions& options);
    // The file (or, on Windows, the registry key) behind the store.
    static QString location();
};

} // namespace hgt

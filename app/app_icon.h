#pragma once

#include <QIcon>

namespace hgt {

// The program's 32 x 32, 16-colour icon: a terrain tile whose black void is being filled.
QIcon appIcon();

} // namespace hgt

#include "app_icon.h"

#include <QPixmap>

#include "hgtfill_icon.xpm"

namespace hgt {

QIcon appIcon()
{
    return QIcon(QPixmap(hgtfill_icon_xpm));
}

} // namespace hgt

#include "app/app_icon.h"

#include <QPixmap>

#include "app/hgtfill_icon.xpm"

namespace hgt {

QIcon appIcon()
{
    return QIcon(QPixmap(hgtfill_icon_xpm));
}

} // namespace hgt

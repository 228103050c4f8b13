// Build step: writes the program's icon as a PNG for the desktop's icon theme, or as an .ico for
// the Windows build; the format follows the name's suffix.
//   make_icon_png OUTPUT.png|OUTPUT.ico

#include <QImage>

#include <cstdio>

#include "app/hgtfill_icon.xpm"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: make_icon_png OUTPUT.png|OUTPUT.ico\n", stderr);
        return 2;
    }
    const QImage icon(hgtfill_icon_xpm);
    if (icon.isNull() || !icon.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

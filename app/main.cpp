#include "app/app_icon.h"
#include "app/form1.h"
#include "app/qt_dialogs.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(hgt::appIcon());
    hgt::QtDialogs dialogs;
    hgt::Form1 window(dialogs);
    window.show();
    return QApplication::exec();
}

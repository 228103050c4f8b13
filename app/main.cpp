#include "app/app_icon.h"
#include "app/german_translations.h"
#include "app/main_window.h"
#include "app/qt_dialogs.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(hgt::appIcon());
    hgt::installGermanQtTranslations(app);
    hgt::QtDialogs dialogs;
    hgt::MainWindow window(dialogs);
    window.show();
    return QApplication::exec();
}

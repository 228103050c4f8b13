#pragma once

class QCoreApplication;
class QTranslator;

namespace hgt {

// Installs Qt's own German texts (qtbase_de from Qt's translations folder) into the application,
// whatever the system's locale, so that the standard dialogs, buttons and context menus speak the
// language of the window. (Dates and sizes in the file dialog follow the system's locale.) The
// translator belongs to the application; nullptr when the translations are not installed (the
// package qt6-translations-l10n), and Qt's English remains.
QTranslator* installGermanQtTranslations(QCoreApplication& app);

} // namespace hgt

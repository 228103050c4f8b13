#pragma once

#include "app/more_sources_dialog.h"
#include "app/window_options.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace hgt {

class Dialogs;

// The entries of "Optionen": "Leerwerte" (any of the three void values, at least one), "Weitere
// Sekundärordner …", "Füllmethode", "Löcher ohne Quelle interpolieren" with its "Höchstabstand für
// Interpolation …" (usable while interpolation is on), "Herkunftskarte schreiben" and "Höhenbezug der
// Kacheln …". Each change is stored in the
// program's settings and handed on to `changed`. While a run is in progress the entries are disabled (the submenus
// still open and show the choices): a run keeps the options it started with.
class OptionsMenu : public QObject {
public:
    using Changed = std::function<void(const WindowOptions&)>;

    // Fills `menu`; `window` is the parent of the sources dialog and of messages.
    OptionsMenu(Dialogs& dialogs, QMenu* menu, QWidget* window, WindowOptions options, Changed changed);

    const WindowOptions& options() const { return m_options; }
    void setRunInProgress(bool running);

    // Optionen → Weitere Sekundärordner …: opens the dialog; OK takes its list.
    void editMoreSources();
    // Optionen → Höchstabstand für Interpolation …: asks for a whole number; OK takes it.
    void editMaxDistance();
    // Optionen → Höhenbezug der Kacheln …: offers the datums, takes one or a typed code.
    void editTileDatum();
    // The sources dialog while it is open.
    MoreSourcesDialog* moreSourcesDialog() const { return m_sourcesDialog; }

private:
    void voidValueTriggered(QAction* action, std::int16_t value, bool checked);
    void apply(WindowOptions options);
    QAction* addToggle(QMenu* menu, const QString& text, const QString& name, bool RunOptions::*flag);
    void enableEntries();

    Dialogs& m_dialogs;
    QWidget* m_window;
    WindowOptions m_options;
    Changed m_changed;
    std::vector<QAction*> m_entries; // everything a run disables
    QAction* m_maxDistance = nullptr;
    bool m_running = false;
    QPointer<MoreSourcesDialog> m_sourcesDialog;
};

} // namespace hgt

#pragma once

#include "app/run_observer.h"
#include "app/run_status.h"
#include "app/window_options.h"
#include "tiles/run_result.h"

#include <QMainWindow>

#include <optional>

class QAction;
class QLabel;

namespace hgt {

class Dialogs;
class Form1;
class OptionsMenu;
class OptionsNote;
class RunReportDialog;
class TileViewer;

// The top-level window: a menu bar above the controls of Form1, which keep their places, and a
// status bar below them that follows each run. It keeps the report of the last run.
class MainWindow : public QMainWindow, private RunObserver {
public:
    // The choices of the Optionen menu stored in the program's settings replace those of runOptions.
    explicit MainWindow(Dialogs& dialogs, WindowOptions runOptions = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    Form1& form() const { return *m_form; }
    const std::optional<RunRecord>& lastRun() const { return m_lastRun; }
    QString statusText() const;
    // The report window, once it has been opened.
    RunReportDialog* reportDialog() const { return m_reportDialog; }

    // Ansicht → Bericht des letzten Laufs …
    void showReport();
    // Hilfe → Über hgtfill …
    void showAbout();
    // Ansicht → Kachel ansehen …: a tile chosen in the file dialog, in a viewer of its own.
    void chooseTileToView();
    // Ansicht → Letzte Ausgabe ansehen: the tile a fill or difference run wrote last.
    void viewLastOutput();
    // A new viewer of the tile at `path`, with the void values of the run options.
    TileViewer* viewTile(const QString& path);
    // Empty until a run has written a tile.
    const QString& lastOutput() const { return m_lastOutput; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createMenus();

    // RunObserver: what Form1 tells of its runs.
    void runStarted(RunKind kind, std::size_t tileCount) override;
    void tileStarted(std::size_t index, std::size_t count, const std::string& tile) override;
    void runProgress(std::int32_t posHigh) override;
    void runFinished(const RunRecord& record) override;

    Dialogs& m_dialogs;
    Form1* m_form;
    QLabel* m_status;
    QAction* m_aboutAction = nullptr;
    RunStatus m_runStatus;
    std::optional<RunRecord> m_lastRun;
    RunReportDialog* m_reportDialog = nullptr;
    QAction* m_viewTileAction = nullptr;
    QAction* m_lastOutputAction = nullptr;
    QString m_lastOutput;
    QString m_viewedLast; // the tile chosen last in "Kachel ansehen …"
    OptionsMenu* m_optionsMenu = nullptr;
    OptionsNote* m_optionsNote = nullptr;
    bool m_running = false;
};

} // namespace hgt

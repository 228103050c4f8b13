#pragma once

#include "app/common_dialog.h"
#include "app/dialogs.h"
#include "app/run_lines.h"
#include "app/run_record.h"
#include "app/window_options.h"
#include "app/window_state.h"
#include "tiles/run_host.h"
#include "tiles/run_result.h"

#include <QElapsedTimer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <optional>

#include <map>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace hgt {

class RunObserver;
class WrappingButton;

// The one window. It wires its controls to the commands and owns the window state record that the
// commands, the engines and STOP share. Long runs yield to the event queue, so STOP and the path
// fields stay usable during a run; the command buttons do not (see RunGuard).
class Form1 : public QWidget, private RunHost, private LineList {
public:
    explicit Form1(Dialogs& dialogs, WindowOptions runOptions = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // Reads one text value of the per-user settings store: the sub key key_name below the root
    // section, the value indent. Empty when there is nothing to read. Never writes.
    QString fRegAbfrageWert(std::uint32_t section, const QString& key_name, const QString& indent) const;

    const WindowState& state() const { return m_state; }
    const WindowOptions& runOptions() const { return m_runOptions; }
    // The options of the next run. A run in progress keeps the options it started with; these
    // take their place when it ends.
    void setRunOptions(WindowOptions options);
    // The options of a run from this secondary folder: with raster entries among the further
    // sources, every source in priority order, the rasters opened, each with its datum; the tiles'
    // datum only when the user named any. Nothing (and a message) when a
    // raster source cannot be opened.
    std::optional<RunOptions> runOptionsFor(const std::string& secondaryFolder);
    bool runInProgress() const { return m_runDepth > 0; }

    // The window around the controls, told of every run; may be null.
    void setRunObserver(RunObserver* observer) { m_observer = observer; }
    // How often a run serves the event queue at most. Zero serves it at every yield of the engine.
    void setEventInterval(std::chrono::milliseconds interval) { m_eventInterval = interval; }
    static constexpr std::chrono::milliseconds kEventInterval{20};
    // How often a run shows its progress (the list's lines, the window's status) at most; between
    // these the queue is served without anything to repaint. Zero shows it at every serve.
    void setShowInterval(std::chrono::milliseconds interval) { m_showInterval = interval; }
    static constexpr std::chrono::milliseconds kShowInterval{50};

    // Whether the window may close now. During a run it may not: the run is asked to stop, and the
    // window closes once the command has cleaned up.
    bool requestClose();

    // The area that holds the controls, as the layout was drawn.
    QSize sizeHint() const override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class RunGuard;

    void createControls();

    // Event handlers, one per handled control event.
    void Command1_Click();
    void CommandBatch_Click();
    void CommandDiff_Click();
    void Commandstop_Click();
    void TextOrdner_Change();
    void TextSekundaerPfad_Change();
    void TextPrimaerPfad_Click();
    void TextSekundaerPfad_Click();
    void TextOrdner_Click();

    QString browseFolder(const QString& title);
    // The enabled state each command button should have; while a run is in progress the buttons
    // are shown disabled and take these states when it ends.
    void setButtonEnabled(QPushButton* button, bool enabled);
    void applyButtonStates();

    void showMessage(const QString& text);
    void showRunMessages(const std::vector<std::string>& messages);
    void closeIfRequested();
    void runStarted(RunKind kind, std::size_t tileCount);
    void runFinished(RunRecord record);
    // Brings List1 up to the drawn lines, changing only the rows that differ.
    void showListLines();

    // RunHost: what the engines tell the window.
    void tileStarted(std::size_t index, std::size_t count, const std::string& tile) override;
    void progress(const RunProgress& progress) override;
    void tileFinished(std::size_t index, std::size_t count, const TileResult& result) override;
    void yieldToEvents() override;

    // LineList: the lines m_runLines draws, shown in List1 by showListLines.
    int listCount() const override;
    void listInsert(int index, const std::string& text) override;
    void listRemove(int index) override;

    Dialogs& m_dialogs;
    WindowOptions m_runOptions;
    WindowState m_state;
    CommonDialog CommonDialogPrim;
    CommonDialog CommonDialogSek;

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* TextPrimaerPfad = nullptr;
    QLineEdit* TextSekundaerPfad = nullptr;
    QLineEdit* TextOrdner = nullptr;
    WrappingButton* Command1 = nullptr;
    WrappingButton* Commandstop = nullptr;
    WrappingButton* CommandBatch = nullptr;
    WrappingButton* CommandDiff = nullptr;
    QListWidget* List1 = nullptr;

    std::map<QPushButton*, bool> m_wantedEnabled;
    int m_runDepth = 0;
    bool m_closeRequested = false;
    bool m_pickerOpen = false;

    RunObserver* m_observer = nullptr;
    std::chrono::milliseconds m_eventInterval = kEventInterval;
    std::chrono::milliseconds m_showInterval = kShowInterval;
    QElapsedTimer m_sinceEvents;
    QElapsedTimer m_sinceShown;
    // The list's lines as the run's events drew them; List1 shows them at the next show of progress.
    RunLines m_runLines{m_state, *this};
    std::vector<std::string> m_lines;
    // The first line of m_lines that List1 may show otherwise (m_lines.size() when none).
    std::size_t m_firstChangedLine = 0;
    std::optional<WindowOptions> m_nextRunOptions;
};

} // namespace hgt

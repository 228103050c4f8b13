#include "app/main_window.h"

#include "app/app_icon.h"
#include "app/dialogs.h"
#include "app/form1.h"
#include "app/options_menu.h"
#include "app/options_note.h"
#include "app/run_options_settings.h"
#include "app/run_report_dialog.h"
#include "app/texts.h"
#include "app/tile_viewer.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

namespace hgt {

MainWindow::MainWindow(Dialogs& dialogs, WindowOptions runOptions, QWidget* parent)
    : QMainWindow(parent), m_dialogs(dialogs),
      m_form(new Form1(dialogs, RunOptionsSettings::load(std::move(runOptions)), this)), m_status(new QLabel(this))
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(texts::windowCaption);
    setWindowIcon(appIcon());
    setCentralWidget(m_form);
    m_form->setRunObserver(this);
    createMenus();

    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(m_status, 1);
    m_optionsNote = new OptionsNote(this);
    m_optionsNote->setOptions(m_form->runOptions());
    statusBar()->addPermanentWidget(m_optionsNote);
    statusBar()->setSizeGripEnabled(false);

    // The controls' area keeps the size it was drawn with; the bars come on top of it.
    resize(sizeHint());
}

MainWindow::~MainWindow()
{
    // Form1 is destroyed with its parent, after this: it must not call back into a window that is
    // half gone.
    m_form->setRunObserver(nullptr);
}

void MainWindow::createMenus()
{
    QMenu* file = menuBar()->addMenu(texts::menuFile);
    QAction* quit = file->addAction(texts::actionQuit, this, [this] { close(); });
    quit->setObjectName(QStringLiteral("actionQuit"));
    quit->setShortcut(QKeySequence::Quit);

    QMenu* options = menuBar()->addMenu(texts::menuOptions);
    m_optionsMenu =
        new OptionsMenu(m_dialogs, options, this, m_form->runOptions(), [this](const WindowOptions& chosen) {
            m_form->setRunOptions(chosen);
            m_optionsNote->setOptions(chosen);
        });

    QMenu* view = menuBar()->addMenu(texts::menuView);
    QAction* report = view->addAction(texts::actionReport, this, [this] { showReport(); });
    report->setObjectName(QStringLiteral("actionReport"));
    m_viewTileAction = view->addAction(texts::actionViewTile, this, [this] { chooseTileToView(); });
    m_viewTileAction->setObjectName(QStringLiteral("actionViewTile"));
    m_lastOutputAction = view->addAction(texts::actionViewLastOutput, this, [this] { viewLastOutput(); });
    m_lastOutputAction->setObjectName(QStringLiteral("actionViewLastOutput"));
    m_lastOutputAction->setEnabled(false);

    QMenu* help = menuBar()->addMenu(texts::menuHelp);
    m_aboutAction = help->addAction(texts::actionAbout, this, [this] { showAbout(); });
    m_aboutAction->setObjectName(QStringLiteral("actionAbout"));
}

QString MainWindow::statusText() const
{
    return m_status->text();
}

void MainWindow::showReport()
{
    if (!m_reportDialog) {
        m_reportDialog = new RunReportDialog(m_dialogs, this);
        m_reportDialog->setRecord(m_lastRun);
        m_reportDialog->setRunInProgress(m_running);
    }
    m_reportDialog->show();
    m_reportDialog->raise();
    m_reportDialog->activateWindow();
}

void MainWindow::showAbout()
{
    // The box waits for the user; a run must not wait for it.
    if (m_running)
        return;
    m_dialogs.about(this, texts::aboutTitle,
                    texts::aboutText.arg(QStringLiteral(HGTFILL_VERSION), QString::fromLatin1(qVersion())));
}

void MainWindow::chooseTileToView()
{
    // The file dialog waits for the user; a run must not wait for it.
    if (m_running)
        return;
    const std::optional<QString> chosen =
        m_dialogs.openFile(this, m_viewedLast, {texts::tileFilter, texts::allFilesFilter});
    if (!chosen)
        return;
    m_viewedLast = *chosen;
    viewTile(*chosen);
}

void MainWindow::viewLastOutput()
{
    if (!m_lastOutput.isEmpty())
        viewTile(m_lastOutput);
}

TileViewer* MainWindow::viewTile(const QString& path)
{
    auto* viewer = new TileViewer(path, m_form->runOptions().voidValues, this);
    viewer->show();
    return viewer;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!m_form->requestClose()) {
        event->ignore();
        return;
    }
    if (m_reportDialog)
        m_reportDialog->close();
    for (TileViewer* viewer : findChildren<TileViewer*>(Qt::FindDirectChildrenOnly))
        viewer->close();
    QMainWindow::closeEvent(event);
}

void MainWindow::runStarted(RunKind, std::size_t tileCount)
{
    m_running = true;
    m_aboutAction->setEnabled(false);
    m_viewTileAction->setEnabled(false);
    m_optionsMenu->setRunInProgress(true);
    if (m_reportDialog)
        m_reportDialog->setRunInProgress(true);
    m_runStatus.start(tileCount);
}

void MainWindow::tileStarted(std::size_t index, std::size_t, const std::string& tile)
{
    // Shown with the list at the run's next show of progress: one repaint for both.
    m_runStatus.tileStarted(index, tile);
}

void MainWindow::runProgress(std::int32_t posHigh)
{
    if (const std::optional<QString> text = m_runStatus.progress(posHigh))
        m_status->setText(*text);
}

void MainWindow::runFinished(const RunRecord& record)
{
    m_running = false;
    m_lastRun = record;
    m_status->setText(RunStatus::finishedText(record));
    m_aboutAction->setEnabled(true);
    m_viewTileAction->setEnabled(true);
    // A run that wrote nothing leaves the tile written last as it was.
    for (auto tile = record.tiles.rbegin(); tile != record.tiles.rend(); ++tile)
        if (!tile->output.empty()) {
            m_lastOutput = QString::fromStdString(tile->output);
            break;
        }
    m_lastOutputAction->setEnabled(!m_lastOutput.isEmpty());
    m_optionsMenu->setRunInProgress(false);
    if (m_reportDialog) {
        m_reportDialog->setRunInProgress(false);
        m_reportDialog->setRecord(m_lastRun);
    }
}

} // namespace hgt

// Times runs started from the window (offscreen, the whole main window with its status bar), yields,
// progress lines and status included:
//   window_bench [--no-sync] PRIMARY SECONDARY_FOLDER         a single fill through Command1
//   window_bench [--no-sync] batch FOLDER SECONDARY_FOLDER    every tile of FOLDER through CommandBatch
// Prints the milliseconds from the click to the end of the run; the status line on stderr. The click
// comes once the window is shown, as a user's would. WINDOW_BENCH_EVENTS=1 also prints, on stderr,
// how many paint and layout events each widget got during the run.

#include "app/form1.h"
#include "app/main_window.h"
#include "bench/silent_dialogs.h"

#include <QApplication>
#include <QEvent>
#include <QWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include <iostream>
#include <map>

namespace {

using bench::SilentDialogs;

// Counts the paint and layout events each widget receives.
class EventCounter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint || event->type() == QEvent::LayoutRequest
            || event->type() == QEvent::UpdateRequest)
            ++counts[{event->type() == QEvent::Paint           ? "paint"
                      : event->type() == QEvent::UpdateRequest ? "update request"
                                                               : "layout",
                      watched->objectName().toStdString() + " (" + watched->metaObject()->className() + ")"}];
        return false;
    }
    std::map<std::pair<std::string, std::string>, int> counts;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The window's options as a fresh installation has them, not the user's stored choices.
    QStandardPaths::setTestModeEnabled(true);
    QSettings(QStringLiteral("hgtfill"), QStringLiteral("hgtfill")).clear();
    QStringList args = QCoreApplication::arguments().mid(1);
    hgt::WindowOptions options;
    if (!args.isEmpty() && args.front() == QStringLiteral("--no-sync")) {
        options.durable = false;
        args.removeFirst();
    }
    const bool batch = args.size() == 3 && args.front() == QStringLiteral("batch");
    if (batch)
        args.removeFirst();
    if (args.size() != 2) {
        std::cerr << "usage: window_bench [--no-sync] PRIMARY SECONDARY_FOLDER\n"
                     "       window_bench [--no-sync] batch FOLDER SECONDARY_FOLDER\n";
        return 2;
    }
    SilentDialogs dialogs;
    hgt::MainWindow window(dialogs, options);
    window.show();
    hgt::Form1& form = window.form();
    form.findChild<QLineEdit*>(batch ? QStringLiteral("TextOrdner") : QStringLiteral("TextPrimaerPfad"))
        ->setText(args[0]);
    form.findChild<QLineEdit*>(QStringLiteral("TextSekundaerPfad"))->setText(args[1]);
    auto* command = form.findChild<QPushButton*>(batch ? QStringLiteral("CommandBatch") : QStringLiteral("Command1"));
    // A user clicks a window that is on the screen, its fields filled in: its first exposure and
    // paint are not the run's.
    QElapsedTimer shown;
    shown.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && shown.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents();
    EventCounter counter;
    if (qEnvironmentVariableIsSet("WINDOW_BENCH_EVENTS"))
        app.installEventFilter(&counter);
    QElapsedTimer timer;
    timer.start();
    command->click();
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    app.removeEventFilter(&counter);
    for (const auto& [key, n] : counter.counts)
        std::cerr << key.first << ' ' << key.second << ": " << n << '\n';
    std::cerr << window.statusText().toStdString() << '\n';
    const std::optional<hgt::RunRecord>& run = window.lastRun();
    const bool complete = run && run->tiles.size() == run->tileCount && !run->stopped
                          && run->count(hgt::RunEnd::Complete) + run->count(hgt::RunEnd::NoHoles) == run->tileCount;
    if (!complete || (batch ? !dialogs.last.isEmpty() : dialogs.last != QStringLiteral("ready"))) {
        std::cerr << "the run did not complete " << dialogs.last.toStdString() << '\n';
        return 1;
    }
    std::cout << ms << '\n';
    return 0;
}

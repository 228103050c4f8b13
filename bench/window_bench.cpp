// Times runs started from the window (offscreen, the whole main window with its status bar), yields,
// progress lines and status included:
//   window_bench [--no-sync] PRIMARY SECONDARY_FOLDER         a single fill through Command1
//   window_bench [--no-sync] batch FOLDER SECONDARY_FOLDER    every tile of FOLDER through CommandBatch
// Prints the milliseconds from the click to the end of the run; the status line on stderr.

#include "app/dialogs.h"
#include "app/form1.h"
#include "app/main_window.h"

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include <iostream>

namespace {

// Message boxes are dismissed at once; no file is ever chosen.
class SilentDialogs : public hgt::Dialogs {
public:
    void message(QWidget*, const QString& text) override { last = text; }
    std::optional<QString> openFile(QWidget*, const QString&, const QStringList&) override { return std::nullopt; }
    std::optional<QString> saveFile(QWidget*, const QString&, const QString&, const QStringList&) override
    {
        return std::nullopt;
    }
    void about(QWidget*, const QString&, const QString&) override {}
    std::optional<QString> chooseFolder(QWidget*, const QString&, const QString&) override { return std::nullopt; }
    QString last;
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
    hgt::RunOptions options;
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
    form.findChild<QLineEdit*>(batch ? QStringLiteral("TextOrdner") : QStringLiteral("TextPrimaerPfad"))->setText(args[0]);
    form.findChild<QLineEdit*>(QStringLiteral("TextSekundaerPfad"))->setText(args[1]);
    auto* command = form.findChild<QPushButton*>(batch ? QStringLiteral("CommandBatch") : QStringLiteral("Command1"));
    QElapsedTimer timer;
    timer.start();
    command->click();
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
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

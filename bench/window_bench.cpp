// Times a single fill started from the window (offscreen), yields and progress lines included:
//   window_bench PRIMARY SECONDARY_FOLDER
// Prints the milliseconds from the click to the end of the run.

#include "app/dialogs.h"
#include "app/form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include <iostream>

namespace {

// Message boxes are dismissed at once; no file is ever chosen.
class SilentDialogs : public hgt::Dialogs {
public:
    void message(QWidget*, const QString& text) override { last = text; }
    std::optional<QString> openFile(QWidget*, const QString&) override { return std::nullopt; }
    std::optional<QString> chooseFolder(QWidget*, const QString&, const QString&) override { return std::nullopt; }
    QString last;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::cerr << "usage: window_bench PRIMARY SECONDARY_FOLDER\n";
        return 2;
    }
    SilentDialogs dialogs;
    hgt::Form1 form(dialogs);
    form.show();
    form.findChild<QLineEdit*>(QStringLiteral("TextPrimaerPfad"))->setText(QString::fromLocal8Bit(argv[1]));
    form.findChild<QLineEdit*>(QStringLiteral("TextSekundaerPfad"))->setText(QString::fromLocal8Bit(argv[2]));
    auto* command1 = form.findChild<QPushButton*>(QStringLiteral("Command1"));
    QElapsedTimer timer;
    timer.start();
    command1->click();
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (dialogs.last != QStringLiteral("ready") || form.state().posHigh != 25934403) {
        std::cerr << "the fill did not complete\n";
        return 1;
    }
    std::cout << ms << '\n';
    return 0;
}

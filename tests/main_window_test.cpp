// The main window around Form1: menus, status bar, the run report, frozen inputs and the bounded
// failure box, driven through the real widgets with scripted dialogs.

#include "tests/form1_fixture.h"
#include "tests/support/reference_fill.h"
#include "tests/support/tiles.h"
#include "app/run_report_dialog.h"
#include "app/run_report_model.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableView>

namespace hgt::test {
namespace main_window_test {

QString withoutMnemonic(QString text)
{
    return text.remove(QLatin1Char('&'));
}

class MainWindowRunTest : public MainWindowTest {
protected:
    QAction* action(const char* name) { return window->findChild<QAction*>(QLatin1String(name)); }

    // The report window as "Ansicht → Bericht des letzten Laufs …" opens it.
    RunReportDialog* openReport()
    {
        action("actionReport")->trigger();
        RunReportDialog* report = window->reportDialog();
        EXPECT_NE(report, nullptr);
        EXPECT_TRUE(report && report->isVisible());
        return report;
    }

    QStringList column(const RunReportModel& model, int column)
    {
        QStringList cells;
        for (int row = 0; row < model.rowCount(); ++row)
            cells << model.cellText(row, column);
        return cells;
    }

    void startBatch(const std::string& folder, const std::string& secondaryFolder)
    {
        type(secondary(), q(temp / secondaryFolder));
        batchFolder()->setText(q(temp / folder));
        click(batch());
    }
};

TEST_F(MainWindowRunTest, MenusAndBarsAroundTheUnchangedControls)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("1 Sec HGT -files Löcher füllen"));
    EXPECT_FALSE(window->windowIcon().isNull());

    QStringList menus;
    for (QAction* menu : window->menuBar()->actions())
        menus << withoutMnemonic(menu->text());
    EXPECT_EQ(menus, (QStringList{QStringLiteral("Datei"), QStringLiteral("Optionen"), QStringLiteral("Ansicht"),
                                  QStringLiteral("Hilfe")}));
    const QList<QAction*> menuActions = window->menuBar()->actions();
    auto items = [](QAction* menu) {
        QStringList texts;
        for (QAction* item : menu->menu()->actions())
            texts << withoutMnemonic(item->text());
        return texts;
    };
    EXPECT_EQ(items(menuActions[0]), QStringList{QStringLiteral("Beenden")});
    EXPECT_EQ(items(menuActions[1]),
              (QStringList{QStringLiteral("Leerwerte"), QStringLiteral("Weitere Sekundärordner …"),
                           QStringLiteral("Füllmethode"), QString(), QStringLiteral("Löcher ohne Quelle interpolieren"),
                           QStringLiteral("Höchstabstand für Interpolation …"),
                           QStringLiteral("Herkunftskarte schreiben"), QStringLiteral("Höhenbezug der Kacheln …")}));
    EXPECT_TRUE(menuActions[1]->isEnabled());
    EXPECT_EQ(items(menuActions[2]),
              (QStringList{QStringLiteral("Bericht des letzten Laufs …"), QStringLiteral("Kachel ansehen …"),
                           QStringLiteral("Letzte Ausgabe ansehen")}));
    EXPECT_EQ(items(menuActions[3]), QStringList{QStringLiteral("Über hgtfill …")});

    // The controls' area keeps its size and the controls their places within it, between the bars.
    Form1& form = window->form();
    EXPECT_EQ(window->centralWidget(), &form);
    EXPECT_EQ(form.size(), QSize(678, 481));
    EXPECT_EQ(form.geometry().top(), window->menuBar()->geometry().bottom() + 1);
    EXPECT_GE(window->statusBar()->geometry().top(), form.geometry().bottom());
    EXPECT_EQ(primary()->geometry(), QRect(173, 3, 438, 25));
    EXPECT_FALSE(command1()->isEnabled());
    EXPECT_FALSE(batch()->isEnabled());
    EXPECT_TRUE(window->statusText().isEmpty());

    // Tab order (disabled buttons are skipped): the menus take no part in it.
    QApplication::setActiveWindow(window.get());
    primary()->setFocus();
    QStringList order;
    for (int i = 0; i < 6; ++i) {
        order << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(order, (QStringList{QStringLiteral("TextPrimaerPfad"), QStringLiteral("TextSekundaerPfad"),
                                  QStringLiteral("Commandstop"), QStringLiteral("TextOrdner"), QStringLiteral("List1"),
                                  QStringLiteral("CommandDiff")}));

    // Before any run the report says so.
    RunReportDialog* report = openReport();
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->model().rowCount(), 0);
    EXPECT_FALSE(report->findChild<QPushButton*>(QStringLiteral("reportSave"))->isEnabled());
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(MainWindowRunTest, StatusAndReportAfterABatchWithAMissingSecondaryAndANoHolesTile)
{
    // N47E011: three voids, one of them void in the secondary tile too; N47E012: voids but no
    // secondary tile; N47E013: no voids; N47E014: one void.
    Bytes withThree = plainTile(1);
    for (std::int64_t k : {std::int64_t{10}, std::int64_t{20000}, kTileSamples - 1})
        setVoid(withThree, k);
    Bytes secondaryOfThree = plainTile(2);
    setVoid(secondaryOfThree, 20000);
    Bytes withOne = plainTile(3);
    setVoid(withOne, 7);
    writeBytes(temp / "tiles/N47E011.hgt", withThree);
    writeBytes(temp / "secondary/N47E011.hgt", secondaryOfThree);
    writeBytes(temp / "tiles/N47E012.hgt", withOne);
    writeBytes(temp / "tiles/N47E013.hgt", plainTile(4));
    writeBytes(temp / "secondary/N47E013.hgt", plainTile(5));
    writeBytes(temp / "tiles/N47E014.hgt", withOne);
    writeBytes(temp / "secondary/N47E014.hgt", plainTile(6));

    startBatch("tiles", "secondary");

    const QString missing = QStringLiteral("kein sekundäres hgt-file ") + q(temp / "tiles/N47E012.hgt")
                            + QStringLiteral(" im Sekundärordner gefunden");
    // The list keeps its protocol; the failure box lists the one failed tile.
    EXPECT_EQ(lines(), (QStringList{QStringLiteral("25800257 Bytes verarbeitet. File : N47E011.hgt"), missing,
                                    QStringLiteral("N47E013.hgthat keine Löcher."),
                                    QStringLiteral("25800257 Bytes verarbeitet. File : N47E014.hgt")}));
    EXPECT_EQ(dialogs.messages, QStringList{missing});
    EXPECT_TRUE(sameTile(readBytes(temp / "tiles/Merged/N47E011.hgt"), FilledTile(withThree, secondaryOfThree)));

    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Fertig: 2 gefüllt, 1 ohne Löcher, 1 ohne Sekundärfile · 0:\\d\\d$"))
                    .match(window->statusText())
                    .hasMatch())
        << window->statusText().toStdString();

    RunReportDialog* report = openReport();
    ASSERT_NE(report, nullptr);
    const RunReportModel& model = report->model();
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(column(model, RunReportModel::Tile),
              (QStringList{QStringLiteral("N47E011.hgt"), QStringLiteral("N47E012.hgt"), QStringLiteral("N47E013.hgt"),
                           QStringLiteral("N47E014.hgt")}));
    EXPECT_EQ(column(model, RunReportModel::End),
              (QStringList{QStringLiteral("gefüllt"), QStringLiteral("kein Sekundärfile"),
                           QStringLiteral("ohne Löcher"), QStringLiteral("gefüllt")}));
    EXPECT_EQ(column(model, RunReportModel::VoidsFound),
              (QStringList{QStringLiteral("3"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1")}));
    EXPECT_EQ(column(model, RunReportModel::VoidsFilled),
              (QStringList{QStringLiteral("2"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1")}));
    EXPECT_EQ(column(model, RunReportModel::VoidsLeft),
              (QStringList{QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")}));
    EXPECT_EQ(model.cellText(1, RunReportModel::Path), q(temp / "tiles/N47E012.hgt"));
    for (const QString& seconds : column(model, RunReportModel::Seconds))
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+,\\d\\d$")).match(seconds).hasMatch())
            << seconds.toStdString();
    EXPECT_TRUE(report->windowTitle() == QStringLiteral("Bericht des letzten Laufs"));
    EXPECT_TRUE(report->findChild<QPushButton*>(QStringLiteral("reportSave"))->isEnabled());

    // The next run replaces the report, also in the open report window.
    dialogs.messages.clear();
    type(primary(), q(temp / "tiles/N47E014.hgt"));
    click(command1());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.cellText(0, RunReportModel::End), QStringLiteral("gefüllt"));
    EXPECT_TRUE(window->statusText().startsWith(QStringLiteral("Fertig: 1 gefüllt · ")));
    report->close();
}

TEST_F(MainWindowRunTest, StatusDuringABatchAndAfterStop)
{
    makeTiles({"N47E011.hgt", "N47E012.hgt", "N47E013.hgt", "N47E014.hgt", "N47E015.hgt"}, true);
    // The five tiles take a few tens of milliseconds: the queue is served at every yield, so that STOP
    // comes in the second tile and not, with the window's pace, only once the batch is over.
    window->form().setEventInterval(std::chrono::milliseconds{0});
    QStringList seen;
    int stoppedIn = 0; // the tile in progress when STOP was clicked, from 1
    duringRun([&] {
        seen << window->statusText();
        if (controls().state().logIndex.index() < 1)
            return false;
        stoppedIn = controls().state().logIndex.index() + 1;
        click(stop());
        return true;
    });
    startBatch("tiles", "secondary");
    ASSERT_GE(stoppedIn, 2);

    const QRegularExpression running(QStringLiteral("^Kachel (\\d) von 5 · (N47E01\\d\\.hgt) · (\\d+) % · 0:\\d\\d$"));
    ASSERT_FALSE(seen.isEmpty());
    for (const QString& text : seen) {
        const QRegularExpressionMatch match = running.match(text);
        ASSERT_TRUE(match.hasMatch()) << text.toStdString();
        EXPECT_EQ(match.captured(2), QStringLiteral("N47E01%1.hgt").arg(match.captured(1).toInt()));
        EXPECT_LE(match.captured(1).toInt(), stoppedIn);
        EXPECT_LE(match.captured(3).toInt(), 100);
    }
    // The batch ends after the tile in progress.
    const QString stopped =
        QStringLiteral("Gestoppt nach Kachel %1 von 5: %2 gefüllt, 1 gestoppt · ").arg(stoppedIn).arg(stoppedIn - 1);
    EXPECT_TRUE(window->statusText().startsWith(stopped)) << window->statusText().toStdString();
    ASSERT_TRUE(window->lastRun().has_value());
    EXPECT_TRUE(window->lastRun()->stopped);
    EXPECT_EQ(window->lastRun()->tiles.size(), static_cast<std::size_t>(stoppedIn));
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged/N47E015.hgt"));
}

// Counts, while installed, the repaints of the main window and of the two displays of a run's
// progress: the list's rows and the status line.
class RepaintCounter : public QObject {
public:
    RepaintCounter(QObject* window, QObject* listRows, QObject* status)
        : m_window(window), m_listRows(listRows), m_status(status)
    {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::UpdateRequest && watched == m_window)
            ++frames;
        if (event->type() == QEvent::Paint)
            listPaints += watched == m_listRows ? 1 : 0, statusPaints += watched == m_status ? 1 : 0;
        return false;
    }
    int frames = 0;
    int listPaints = 0;
    int statusPaints = 0;

private:
    QObject* m_window;
    QObject* m_listRows;
    QObject* m_status;
};

TEST_F(MainWindowRunTest, ABatchRepaintsItsProgressOncePerShowInterval)
{
    const std::vector<std::string> names{"N47E011.hgt", "N47E012.hgt", "N47E013.hgt", "N47E014.hgt",
                                         "N47E015.hgt", "N47E016.hgt", "N47E017.hgt", "N47E018.hgt"};
    makeTiles(names, true);
    constexpr std::chrono::milliseconds showInterval{100};
    controls().setShowInterval(showInterval);
    // Unsynced, so that the run spends its time in the tiles' walks, which yield, not in the disk.
    WindowOptions unsynced = controls().runOptions();
    unsynced.durable = false;
    controls().setRunOptions(unsynced);
    type(secondary(), q(temp / "secondary"));
    batchFolder()->setText(q(temp / "tiles"));
    QCoreApplication::processEvents(); // the typing's own repaints are not the run's

    auto* list = controls().findChild<QListWidget*>(QStringLiteral("List1"));
    RepaintCounter counter(window.get(), list->viewport(), window->findChild<QLabel*>(QStringLiteral("statusText")));
    qApp->installEventFilter(&counter);
    QElapsedTimer run;
    run.start();
    click(batch());
    const qint64 elapsed = run.elapsed();
    qApp->removeEventFilter(&counter);

    QStringList expected;
    for (const std::string& name : names)
        expected << QStringLiteral("25800257 Bytes verarbeitet. File : ") + q(name);
    EXPECT_EQ(lines(), expected);
    // The progress was shown during the run, the list's rows and the status each repainted once
    // per show interval at most (and once more at the run's first show).
    const qint64 shows = elapsed / showInterval.count() + 2;
    const std::string figures = std::to_string(elapsed) + " ms, list " + std::to_string(counter.listPaints)
                                + ", status " + std::to_string(counter.statusPaints) + ", window "
                                + std::to_string(counter.frames);
    EXPECT_GE(counter.listPaints, 1) << figures;
    EXPECT_GE(counter.statusPaints, 1) << figures;
    EXPECT_LE(counter.listPaints, shows) << figures;
    EXPECT_LE(counter.statusPaints, shows) << figures;
}

TEST_F(MainWindowRunTest, InputsAreFrozenDuringABatch)
{
    makeTiles({"N47E011.hgt", "N47E012.hgt", "N47E013.hgt"}, true);
    // Another secondary folder with other heights, and another batch folder with tiles of its own.
    writeBytes(temp / "other-secondary/N47E011.hgt", plainTile(50));
    writeBytes(temp / "other-secondary/N47E012.hgt", plainTile(50));
    writeBytes(temp / "other-secondary/N47E013.hgt", plainTile(50));
    Bytes other = plainTile(60);
    setVoid(other, 5);
    writeBytes(temp / "other-tiles/N10E010.hgt", other);

    bool edited = false;
    duringRun([&] {
        // Clicks into the path fields open no picker while the batch runs.
        for (QLineEdit* edit : {primary(), secondary(), batchFolder()})
            QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(20, 10));
        QCoreApplication::processEvents();
        // Edits go into the fields and their change handlers run, but the batch keeps its sources.
        secondary()->setText(q(temp / "other-secondary"));
        batchFolder()->setText(q(temp / "other-tiles"));
        edited = true;
        return true;
    });
    startBatch("tiles", "secondary");

    ASSERT_TRUE(edited);
    EXPECT_TRUE(dialogs.openFileOffered.isEmpty());
    EXPECT_TRUE(dialogs.folderTitles.isEmpty());
    EXPECT_EQ(secondary()->text(), q(temp / "other-secondary"));
    EXPECT_EQ(batchFolder()->text(), q(temp / "other-tiles"));
    EXPECT_TRUE(controls().state().secondaryHasTiles);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    for (int i = 0; i < 3; ++i) {
        const std::string name = "N47E01" + std::to_string(1 + i) + ".hgt";
        Bytes primaryTile = plainTile(static_cast<std::uint32_t>(i));
        setVoid(primaryTile, 1000);
        EXPECT_TRUE(sameTile(readBytes(temp / ("tiles/Merged/" + name)), FilledTile(primaryTile, plainTile(99))))
            << name;
    }
    EXPECT_FALSE(std::filesystem::exists(temp / "other-tiles/Merged"));
    ASSERT_TRUE(window->lastRun().has_value());
    EXPECT_EQ(window->lastRun()->tiles.size(), 3u);

    // A cancelled pick after the batch empties the field as it always did: the freeze is over.
    QTest::mouseClick(secondary(), Qt::LeftButton, {}, QPoint(20, 10));
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.folderTitles, QStringList{QStringLiteral("Primären Ordner waehlen")});
    EXPECT_EQ(secondary()->text(), QString());
}

TEST_F(MainWindowRunTest, FailureBoxListsTenTilesThenPointsToTheReport)
{
    std::vector<std::string> names;
    for (int i = 0; i < 13; ++i)
        names.push_back("N47E0" + std::to_string(10 + i) + ".hgt");
    makeTiles(names, true);
    for (const std::string& name : names)
        std::filesystem::remove(temp / ("secondary/" + name));
    writeBytes(temp / "secondary/S01W001.hgt", plainTile(7)); // a folder with a tile, but not theirs

    startBatch("tiles", "secondary");

    ASSERT_EQ(dialogs.messages.size(), 1);
    const QStringList shown = dialogs.messages[0].split(QLatin1Char('\n'));
    ASSERT_EQ(shown.size(), 11);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(shown[i], QStringLiteral("kein sekundäres hgt-file ") + q(temp / ("tiles/" + names[i]))
                                + QStringLiteral(" im Sekundärordner gefunden"));
    EXPECT_EQ(shown[10], QStringLiteral("… und 3 weitere (Ansicht → Bericht des letzten Laufs)"));

    RunReportDialog* report = openReport();
    ASSERT_NE(report, nullptr);
    ASSERT_EQ(report->model().rowCount(), 13);
    EXPECT_EQ(report->model().cellText(12, RunReportModel::Tile), QStringLiteral("N47E022.hgt"));
    EXPECT_EQ(report->model().cellText(12, RunReportModel::End), QStringLiteral("kein Sekundärfile"));
    EXPECT_TRUE(window->statusText().startsWith(QStringLiteral("Fertig: 0 gefüllt, 13 ohne Sekundärfile · ")));
    report->close();
}

TEST_F(MainWindowRunTest, MenusStartNothingDuringARun)
{
    makeTiles({"N47E011.hgt", "N47E012.hgt"}, true);
    type(secondary(), q(temp / "secondary"));
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    click(command1()); // a finished run for the report
    ASSERT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});

    bool checked = false;
    duringRun([&] {
        // The report window opens on the last finished run and cannot save while the batch runs.
        RunReportDialog* report = openReport();
        EXPECT_TRUE(report && report->model().record().kind == RunKind::Fill);
        EXPECT_FALSE(report && report->findChild<QPushButton*>(QStringLiteral("reportSave"))->isEnabled());
        // The about box would wait for the user: not during a run.
        EXPECT_FALSE(action("actionAbout")->isEnabled());
        action("actionAbout")->trigger();
        // Quitting stops the run first; the window closes when the batch has cleaned up.
        action("actionQuit")->trigger();
        EXPECT_TRUE(window->isVisible());
        checked = true;
        return true;
    });
    batchFolder()->setText(q(temp / "tiles"));
    click(batch());
    ASSERT_TRUE(checked);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(dialogs.aboutTitles.isEmpty());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged/N47E012.hgt"));
    ASSERT_TRUE(window->lastRun().has_value());
    EXPECT_EQ(window->lastRun()->kind, RunKind::Batch);
    EXPECT_TRUE(window->lastRun()->stopped);
    EXPECT_FALSE(window->reportDialog()->isVisible());
}

TEST_F(MainWindowRunTest, AboutBoxAndQuitWhenIdle)
{
    action("actionAbout")->trigger();
    ASSERT_EQ(dialogs.aboutTitles, QStringList{QStringLiteral("Über hgtfill")});
    const QString text = dialogs.aboutTexts[0];
    EXPECT_TRUE(QRegularExpression(QStringLiteral("hgtfill \\d+\\.\\d+\\.\\d+")).match(text).hasMatch());
    EXPECT_TRUE(text.contains(QStringLiteral("Lizenz")));
    EXPECT_TRUE(text.contains(QStringLiteral("Füllt die Löcher")));
    EXPECT_TRUE(text.contains(QStringLiteral("Differenzkacheln")));
    EXPECT_TRUE(text.contains(QString::fromLatin1(qVersion())));

    action("actionQuit")->trigger();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowRunTest, DifferenceRunHasItsReportAndStatus)
{
    writeBytes(temp / "tiles/N47E011.hgt", plainTile(1));
    Bytes comparison = plainTile(2);
    setVoid(comparison, 3);
    writeBytes(temp / "other/N47E011.hgt", comparison);
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    dialogs.fileAnswers = {q(temp / "other/N47E011.hgt")};
    click(diff());
    EXPECT_EQ(dialogs.openFileFilters,
              (QStringList{QStringLiteral("HGT-Kacheln (*.hgt *.HGT *.hgt.zip)"), QStringLiteral("Alle Dateien (*)")}));
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(window->statusText().startsWith(QStringLiteral("Fertig: Differenzkachel geschrieben · ")));
    RunReportDialog* report = openReport();
    ASSERT_NE(report, nullptr);
    ASSERT_EQ(report->model().rowCount(), 1);
    EXPECT_EQ(report->model().cellText(0, RunReportModel::End), QStringLiteral("Differenz geschrieben"));
    EXPECT_EQ(report->model().cellText(0, RunReportModel::VoidsLeft), QStringLiteral("1"));
    report->close();
}

} // namespace main_window_test
} // namespace hgt::test

// The run report's table, its CSV file, the status bar's texts and the bounded failure summary, on
// results as the engine hands them over.

#include "tests/fake_dialogs.h"
#include "tests/support/tiles.h"
#include "app/failure_summary.h"
#include "app/qt_dialogs.h"
#include "app/run_report_dialog.h"
#include "app/run_report_model.h"
#include "app/run_status.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace hgt::test {
namespace run_report_test {

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

TileResult result(const std::string& tile, RunEnd end, std::int64_t found, std::int64_t left, double seconds,
                  const std::string& message = {})
{
    TileResult r;
    r.tile = tile;
    r.end = end;
    r.voidsFound = found;
    r.voidsLeft = left;
    r.voidsFilled = found - left;
    r.seconds = seconds;
    if (end == RunEnd::Failed)
        r.error = Error{ErrorKind::Io, message};
    else
        r.note = message;
    return r;
}

RunRecord batchOf(std::vector<TileResult> tiles, bool stopped = false, std::size_t tileCount = 0)
{
    RunRecord record;
    record.kind = RunKind::Batch;
    record.tileCount = tileCount ? tileCount : tiles.size();
    record.tiles = std::move(tiles);
    record.stopped = stopped;
    record.seconds = 7.4;
    return record;
}

// One result of every kind, the failed one with a message that needs quoting in a CSV file.
RunRecord everyEnd()
{
    return batchOf({result("/t/N47E011.hgt", RunEnd::Complete, 9, 1, 1.234),
                    result("/t/N47E012.hgt", RunEnd::NoHoles, 0, 0, 0.05),
                    result("/t/N47E013.hgt", RunEnd::MissingSecondary, 0, 0, 0.01, "kein sekundäres hgt-file …"),
                    result("/t/N47E014.hgt", RunEnd::Stopped, 10, 0, 0.5),
                    result("/t/N47E015.hgt", RunEnd::Failed, 0, 0, 0, "N47E015.hgt; \"kurz\": 10 Bytes")});
}

TEST(RunReportTest, TableRowsNameHowEachTileEnded)
{
    RunReportModel model;
    model.setRecord(everyEnd());
    ASSERT_EQ(model.rowCount(), 5);
    ASSERT_EQ(model.columnCount(), 8);
    QStringList header;
    for (int column = 0; column < model.columnCount(); ++column)
        header << model.headerData(column, Qt::Horizontal).toString();
    EXPECT_EQ(header,
              (QStringList{QStringLiteral("Nr."), QStringLiteral("Kachel"), QStringLiteral("Ergebnis"),
                           QStringLiteral("Löcher gefunden"), QStringLiteral("Löcher gefüllt"),
                           QStringLiteral("Löcher verbleibend"), QStringLiteral("Zeit (s)"), QStringLiteral("Datei")}));
    QStringList ends;
    for (int row = 0; row < model.rowCount(); ++row)
        ends << model.cellText(row, RunReportModel::End);
    EXPECT_EQ(ends, (QStringList{QStringLiteral("gefüllt"), QStringLiteral("ohne Löcher"),
                                 QStringLiteral("kein Sekundärfile"), QStringLiteral("gestoppt"),
                                 QStringLiteral("Fehler: N47E015.hgt; \"kurz\": 10 Bytes")}));
    EXPECT_EQ(model.cellText(0, RunReportModel::Number), QStringLiteral("1"));
    EXPECT_EQ(model.cellText(0, RunReportModel::Tile), QStringLiteral("N47E011.hgt"));
    EXPECT_EQ(model.cellText(0, RunReportModel::VoidsFound), QStringLiteral("9"));
    EXPECT_EQ(model.cellText(0, RunReportModel::VoidsFilled), QStringLiteral("8"));
    EXPECT_EQ(model.cellText(0, RunReportModel::VoidsLeft), QStringLiteral("1"));
    EXPECT_EQ(model.cellText(0, RunReportModel::Seconds), QStringLiteral("1,23"));
    EXPECT_EQ(model.cellText(0, RunReportModel::Path), QStringLiteral("/t/N47E011.hgt"));

    // A difference run names its outcome differently.
    RunRecord difference = batchOf({result("/t/N47E011.hgt", RunEnd::Complete, 3, 4, 0.2)});
    difference.kind = RunKind::Difference;
    model.setRecord(difference);
    EXPECT_EQ(model.cellText(0, RunReportModel::End), QStringLiteral("Differenz geschrieben"));
}

TEST(RunReportTest, CsvForGermanSpreadsheets)
{
    RunReportModel model;
    model.setRecord(everyEnd());
    const QByteArray csv = model.toCsv();
    ASSERT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
    const QStringList rows = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
    ASSERT_EQ(rows.size(), 7); // header, five tiles, and the empty rest after the last line end
    EXPECT_EQ(rows[0],
              QStringLiteral("Nr.;Kachel;Ergebnis;Löcher gefunden;Löcher gefüllt;Löcher verbleibend;Zeit (s);Datei"));
    EXPECT_EQ(rows[1], QStringLiteral("1;N47E011.hgt;gefüllt;9;8;1;1,23;/t/N47E011.hgt"));
    EXPECT_EQ(rows[3], QStringLiteral("3;N47E013.hgt;kein Sekundärfile;0;0;0;0,01;/t/N47E013.hgt"));
    EXPECT_EQ(rows[5], QStringLiteral(
                           "5;N47E015.hgt;\"Fehler: N47E015.hgt; \"\"kurz\"\": 10 Bytes\";0;0;0;0,00;/t/N47E015.hgt"));
    EXPECT_TRUE(rows[6].isEmpty());

    // A report without rows still has its header.
    model.setRecord(batchOf({}));
    EXPECT_EQ(QString::fromUtf8(model.toCsv().mid(3)).count(QStringLiteral("\r\n")), 1);
}

// A batch from three sources with the offset-bridging fill: a tile filled from all three, one far
// off in height (with the engine's warning), one without holes, one failed.
RunRecord threeSourcesWithOffsets()
{
    TileResult mixed = result("/t/N47E011.hgt", RunEnd::Complete, 150, 0, 1.5);
    mixed.filledBySource = {120, 30, 0};
    mixed.offsets = OffsetStats{812, -0.46, 1.26};
    TileResult far = result("/t/N47E012.hgt", RunEnd::Complete, 9, 1, 0.5);
    far.filledBySource = {8, 0, 0};
    far.offsets = OffsetStats{40, 9.3, 0.5};
    far.warning = "Höhenversatz der Quelle: Median +9,3 m – anderes Höhenbezugssystem?";
    TileResult noHoles = result("/t/N47E013.hgt", RunEnd::NoHoles, 0, 0, 0.1);
    TileResult failed = result("/t/N47E014.hgt", RunEnd::Failed, 0, 0, 0, "kaputt");
    return batchOf({mixed, far, noHoles, failed});
}

TEST(RunReportTest, ColumnsPerSourceAndForOffsetsOnlyWhereARunHasThem)
{
    RunReportModel model;
    model.setRecord(threeSourcesWithOffsets());
    QStringList header;
    for (int column = 0; column < model.columnCount(); ++column)
        header << model.headerData(column, Qt::Horizontal).toString();
    EXPECT_EQ(header, (QStringList{QStringLiteral("Nr."), QStringLiteral("Kachel"), QStringLiteral("Ergebnis"),
                                   QStringLiteral("Löcher gefunden"), QStringLiteral("Löcher gefüllt"),
                                   QStringLiteral("aus Quelle 1"), QStringLiteral("aus Quelle 2"),
                                   QStringLiteral("aus Quelle 3"), QStringLiteral("Löcher verbleibend"),
                                   QStringLiteral("Versatz Median (m)"), QStringLiteral("Versatz Quartilsabstand (m)"),
                                   QStringLiteral("Randwerte"), QStringLiteral("Zeit (s)"), QStringLiteral("Hinweis"),
                                   QStringLiteral("Datei")}));
    EXPECT_EQ(model.columnIndex(RunReportModel::FromSource, 2), 7);
    EXPECT_EQ(model.columnIndex(RunReportModel::FromSource, 3), -1);
    EXPECT_EQ(model.columnIndex(RunReportModel::Path), 14);

    // The CSV has the same columns; cells without a figure stay empty.
    const QStringList rows = QString::fromUtf8(model.toCsv().mid(3)).split(QStringLiteral("\r\n"));
    ASSERT_EQ(rows.size(), 6);
    EXPECT_EQ(rows[0], header.join(QLatin1Char(';')));
    EXPECT_EQ(rows[1], QStringLiteral("1;N47E011.hgt;gefüllt;150;150;120;30;0;0;-0,5;1,3;812;1,50;;/t/N47E011.hgt"));
    EXPECT_EQ(rows[2],
              QStringLiteral("2;N47E012.hgt;gefüllt;9;8;8;0;0;1;+9,3;0,5;40;0,50;"
                             "Höhenversatz der Quelle: Median +9,3 m – anderes Höhenbezugssystem?;/t/N47E012.hgt"));
    EXPECT_EQ(rows[3], QStringLiteral("3;N47E013.hgt;ohne Löcher;0;0;;;;0;;;;0,10;;/t/N47E013.hgt"));
    EXPECT_EQ(rows[4], QStringLiteral("4;N47E014.hgt;Fehler: kaputt;0;0;;;;0;;;;0,00;;/t/N47E014.hgt"));

    // Figures sort as numbers, tiles without one first.
    QSortFilterProxyModel sorted;
    sorted.setSourceModel(&model);
    sorted.setSortRole(RunReportModel::SortRole);
    sorted.sort(model.columnIndex(RunReportModel::OffsetMedian), Qt::DescendingOrder);
    QStringList order;
    for (int row = 0; row < sorted.rowCount(); ++row)
        order << sorted.index(row, RunReportModel::Tile).data().toString();
    EXPECT_EQ(order.mid(0, 2), (QStringList{QStringLiteral("N47E012.hgt"), QStringLiteral("N47E011.hgt")}));
    sorted.sort(model.columnIndex(RunReportModel::FromSource, 0), Qt::AscendingOrder);
    EXPECT_EQ(sorted.index(3, RunReportModel::Tile).data().toString(), QStringLiteral("N47E011.hgt"));

    // One source and no offsets: the columns of every report, at their places.
    RunRecord plain = threeSourcesWithOffsets();
    for (TileResult& tile : plain.tiles) {
        tile.filledBySource.resize(std::min<std::size_t>(tile.filledBySource.size(), 1));
        tile.offsets.reset();
        tile.warning.clear();
    }
    model.setRecord(plain);
    EXPECT_EQ(model.columnCount(), 8);
    EXPECT_EQ(model.columnIndex(RunReportModel::Seconds), RunReportModel::Seconds);
    EXPECT_EQ(model.columnIndex(RunReportModel::FromSource), -1);
    EXPECT_EQ(model.columnIndex(RunReportModel::Warning), -1);
    EXPECT_EQ(model.columnIndex(RunReportModel::Conversions), -1);

    // A run that converted heights names each tile's conversions before the path.
    plain.tiles[0].conversions = {std::nullopt, SourceConversion{"EGM2008", "EGM96"}};
    plain.tiles[1].conversions = {std::nullopt, std::nullopt};
    model.setRecord(plain);
    const int conversions = model.columnIndex(RunReportModel::Conversions);
    EXPECT_EQ(conversions, model.columnIndex(RunReportModel::Path) - 1);
    EXPECT_EQ(model.cellText(0, conversions), QStringLiteral("Quelle 2: EGM2008 → EGM96"));
    EXPECT_EQ(model.cellText(1, conversions), QString());
}

TEST(RunReportTest, StatusTexts)
{
    EXPECT_EQ(RunStatus::runningText(3, 30, QStringLiteral("N47E013.hgt"), 41, 2.9),
              QStringLiteral("Kachel 3 von 30 · N47E013.hgt · 41 % · 0:02"));
    EXPECT_EQ(RunStatus::elapsedText(0), QStringLiteral("0:00"));
    EXPECT_EQ(RunStatus::elapsedText(59.99), QStringLiteral("0:59"));
    EXPECT_EQ(RunStatus::elapsedText(62), QStringLiteral("1:02"));
    EXPECT_EQ(RunStatus::elapsedText(3723), QStringLiteral("1:02:03"));
    EXPECT_EQ(RunStatus::percentOfTile(0), 0);
    EXPECT_EQ(RunStatus::percentOfTile(12967200), 50);
    EXPECT_EQ(RunStatus::percentOfTile(kTileBytes - 1), 100);
    EXPECT_EQ(RunStatus::percentOfTile(kWalkEnd), 100);

    std::vector<TileResult> tiles(28, result("a.hgt", RunEnd::Complete, 1, 0, 0));
    tiles.push_back(result("b.hgt", RunEnd::NoHoles, 0, 0, 0));
    tiles.push_back(result("c.hgt", RunEnd::Failed, 0, 0, 0, "kaputt"));
    EXPECT_EQ(RunStatus::finishedText(batchOf(tiles)),
              QStringLiteral("Fertig: 28 gefüllt, 1 ohne Löcher, 1 Fehler · 0:07"));

    RunRecord stopped = batchOf({result("a.hgt", RunEnd::Complete, 1, 0, 0), result("a.hgt", RunEnd::Complete, 1, 0, 0),
                                 result("b.hgt", RunEnd::Stopped, 1, 0, 0)},
                                true, 30);
    stopped.seconds = 2.5;
    EXPECT_EQ(RunStatus::finishedText(stopped),
              QStringLiteral("Gestoppt nach Kachel 3 von 30: 2 gefüllt, 1 gestoppt · 0:02"));

    EXPECT_EQ(RunStatus::finishedText(batchOf({})), QStringLiteral("Fertig: 0 gefüllt · 0:07"));
    RunRecord difference = batchOf({result("a.hgt", RunEnd::Complete, 0, 0, 0)});
    difference.kind = RunKind::Difference;
    EXPECT_EQ(RunStatus::finishedText(difference), QStringLiteral("Fertig: Differenzkachel geschrieben · 0:07"));
    difference.tiles[0] = result("a.hgt", RunEnd::Failed, 0, 0, 0, "kaputt");
    EXPECT_EQ(RunStatus::finishedText(difference), QStringLiteral("Fertig: 1 Fehler · 0:07"));
}

class ReportDialogTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        dialog.reset();
        for (QWidget* widget : QApplication::topLevelWidgets())
            EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className() << " left open";
    }

    QPushButton* saveButton() { return dialog->findChild<QPushButton*>(QStringLiteral("reportSave")); }

    TempFolder temp;
    FakeDialogs dialogs;
    std::unique_ptr<RunReportDialog> dialog = std::make_unique<RunReportDialog>(dialogs, nullptr);
};

TEST_F(ReportDialogTest, SortsByNumbersCopiesRowsAndSaves)
{
    RunRecord record = batchOf({result(temp / "N47E011.hgt", RunEnd::Complete, 9, 0, 0.2),
                                result(temp / "N47E012.hgt", RunEnd::Complete, 10, 0, 0.3),
                                result(temp / "N47E013.hgt", RunEnd::Complete, 100, 0, 0.1)});
    dialog->setRecord(record);
    dialog->show();
    QTableView* table = dialog->table();

    // By voids found, descending: 100, 10, 9 (as numbers, not as texts).
    table->horizontalHeader()->setSortIndicator(RunReportModel::VoidsFound, Qt::DescendingOrder);
    QStringList order;
    for (int row = 0; row < 3; ++row)
        order << table->model()->index(row, RunReportModel::Tile).data().toString();
    EXPECT_EQ(order, (QStringList{QStringLiteral("N47E013.hgt"), QStringLiteral("N47E012.hgt"),
                                  QStringLiteral("N47E011.hgt")}));

    // Copy: the selected rows as the table shows them, tab-separated.
    table->selectRow(0);
    table->selectionModel()->select(table->model()->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table->setFocus();
    QTest::keySequence(table, QKeySequence::Copy);
    const QString copied = QApplication::clipboard()->text();
    EXPECT_EQ(copied, QStringLiteral("3\tN47E013.hgt\tgefüllt\t100\t100\t0\t0,10\t") + q(temp / "N47E013.hgt")
                          + QStringLiteral("\n1\tN47E011.hgt\tgefüllt\t9\t9\t0\t0,20\t") + q(temp / "N47E011.hgt")
                          + QStringLiteral("\n"));

    // Save: offered beside the tiles, written as the model's CSV.
    dialogs.saveAnswers = {q(temp / "bericht.csv")};
    saveButton()->click();
    EXPECT_EQ(dialogs.saveTitles, QStringList{QStringLiteral("Bericht speichern")});
    EXPECT_EQ(dialogs.saveOffered, QStringList{q(temp / "hgtfill-bericht.csv")});
    EXPECT_EQ(dialogs.saveFilters,
              (QStringList{QStringLiteral("CSV-Dateien (*.csv)"), QStringLiteral("Alle Dateien (*)")}));
    const Bytes written = readBytes(temp / "bericht.csv");
    const QByteArray expected = dialog->model().toCsv();
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(written.data()), static_cast<qsizetype>(written.size())),
              expected);
    EXPECT_TRUE(dialogs.messages.isEmpty());

    // Cancelled: nothing written, nothing said.
    saveButton()->click();
    EXPECT_TRUE(dialogs.messages.isEmpty());
    dialog->close();
}

TEST_F(ReportDialogTest, SaveFailureNamesTheFileAndRunsBlockSaving)
{
    dialog->setRecord(batchOf({result(temp / "N47E011.hgt", RunEnd::NoHoles, 0, 0, 0.2)}));
    dialogs.saveAnswers = {q(temp / "missing-folder/bericht.csv")};
    dialog->save();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("Der Bericht konnte nicht unter ")
                                               + q(temp / "missing-folder/bericht.csv")
                                               + QStringLiteral(" gespeichert werden: ")));
    EXPECT_FALSE(std::filesystem::exists(temp / "missing-folder"));

    // A modal save dialog would hold a run up: saving waits until the run has ended.
    dialog->setRunInProgress(true);
    EXPECT_FALSE(saveButton()->isEnabled());
    dialogs.saveAnswers = {q(temp / "bericht.csv")};
    dialog->save();
    EXPECT_TRUE(dialogs.saveTitles.size() == 1);
    dialog->setRunInProgress(false);
    EXPECT_TRUE(saveButton()->isEnabled());
}

TEST(FailureReportTest, AtMostTenMessagesEachOfBoundedLength)
{
    EXPECT_EQ(failureSummary({}), QString());
    EXPECT_EQ(failureSummary({"a", "b"}), QStringLiteral("a\nb"));

    std::vector<std::string> ten(10, "x");
    EXPECT_EQ(failureSummary(ten).split(QLatin1Char('\n')).size(), 10);
    ten.push_back("y");
    EXPECT_EQ(failureSummary(ten).split(QLatin1Char('\n')).last(),
              QStringLiteral("… und 1 weitere (Ansicht → Bericht des letzten Laufs)"));

    // A line of 200 characters stays whole; a longer one keeps its beginning and its end.
    const std::string exact =
        "kein sekundäres hgt-file /" + std::string(200 - 27 - 38, 'p') + "/N47E011.hgt im Sekundärordner gefunden";
    ASSERT_EQ(QString::fromStdString(exact).size(), 200);
    EXPECT_EQ(failureSummary({exact}), QString::fromStdString(exact));
    const QString longer = failureSummary(
        {"kein sekundäres hgt-file /" + std::string(500, 'p') + "/N47E011.hgt im Sekundärordner gefunden"});
    EXPECT_EQ(longer.size(), 200);
    EXPECT_TRUE(longer.startsWith(QStringLiteral("kein sekundäres hgt-file /p")));
    EXPECT_TRUE(longer.contains(QChar(u'…')));
    EXPECT_TRUE(longer.endsWith(QStringLiteral("/N47E011.hgt im Sekundärordner gefunden")));
}

TEST(FailureReportTest, TheRealMessageBoxOfTwoHundredFailuresFitsOnTheScreen)
{
    std::vector<std::string> messages;
    for (int i = 0; i < 200; ++i)
        messages.push_back("kein sekundäres hgt-file /data/srtm/a/rather/long/folder/name/for/tiles/number/"
                           + std::to_string(i) + "/with/more/folders/below/it/N47E011.hgt im Sekundärordner gefunden "
                           + std::string(static_cast<std::size_t>(i), 'x'));
    const QRect screen = QApplication::primaryScreen()->availableGeometry();
    QRect box;
    bool sawOk = false;
    // Closed the way Qt's own message box tests do: find the modal box, press Enter.
    QTimer::singleShot(0, qApp, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        box = modal->frameGeometry();
        auto* messageBox = qobject_cast<QMessageBox*>(modal);
        sawOk = messageBox && messageBox->button(QMessageBox::Ok) && messageBox->button(QMessageBox::Ok)->isVisible();
        QTest::keyClick(modal, Qt::Key_Enter);
    });
    QtDialogs().message(nullptr, failureSummary(messages));
    EXPECT_TRUE(sawOk);
    EXPECT_TRUE(screen.contains(box)) << "box " << box.width() << " x " << box.height() << " at " << box.x() << ", "
                                      << box.y() << " on a screen of " << screen.width() << " x " << screen.height();
}

} // namespace run_report_test
} // namespace hgt::test

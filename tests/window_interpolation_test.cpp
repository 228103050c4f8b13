// Interpolation and the provenance map in the window: the three Optionen entries in the settings
// store and the status bar's note, their menu, and a run through the window that interpolates,
// writes its companion and reports both in the report, its CSV file and the status line.

#include "tests/form1_fixture.h"
#include "tests/options_store.h"
#include "tests/support/tiles.h"
#include "app/options_note.h"
#include "app/run_report_dialog.h"
#include "app/run_report_model.h"
#include "app/run_status.h"
#include "tiles/tile_format.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include <filesystem>

namespace hgt::test {
namespace {

// --- The store -----------------------------------------------------------------------------------

class InterpolationSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { removeOptionsStore(); }
    void TearDown() override { removeOptionsStore(); }

    static QStringList storedKeys() { return QSettings(RunOptionsSettings::location(), QSettings::IniFormat).childKeys(); }
};

TEST_F(InterpolationSettingsTest, RoundTripAndDefaultsLeaveNoEntry)
{
    RunOptions options;
    options.interpolate = true;
    options.maxDistance = 250;
    options.provenance = true;
    ASSERT_TRUE(RunOptionsSettings::save(options));
    EXPECT_EQ(storedKeys().size(), 3) << storedKeys().join(QLatin1Char(',')).toStdString();
    const RunOptions loaded = RunOptionsSettings::load();
    EXPECT_TRUE(loaded.interpolate);
    EXPECT_EQ(loaded.maxDistance, 250);
    EXPECT_TRUE(loaded.provenance);

    // A distance kept while interpolation is off is still the user's choice.
    options.interpolate = false;
    options.provenance = false;
    ASSERT_TRUE(RunOptionsSettings::save(options));
    EXPECT_EQ(storedKeys(), QStringList{QStringLiteral("maxDistance")});
    EXPECT_EQ(RunOptionsSettings::load().maxDistance, 250);

    ASSERT_TRUE(RunOptionsSettings::save(RunOptions{}));
    EXPECT_TRUE(storedKeys().isEmpty());
}

struct StoredEntry {
    const char* name;
    const char* key;
    const char* text;
    bool interpolate; // loaded over defaults whose distance is 37
    int maxDistance;
    bool provenance;
};

class StoredEntryTest : public InterpolationSettingsTest, public ::testing::WithParamInterface<StoredEntry> {};

TEST_P(StoredEntryTest, IsTakenOnlyWhenThisVersionUnderstandsIt)
{
    const StoredEntry& c = GetParam();
    {
        QSettings store(RunOptionsSettings::location(), QSettings::IniFormat);
        store.setValue(QLatin1String(c.key), QString::fromUtf8(c.text));
        store.sync();
        ASSERT_EQ(store.status(), QSettings::NoError);
    }
    RunOptions given;
    given.maxDistance = 37;
    const RunOptions loaded = RunOptionsSettings::load(given);
    EXPECT_EQ(loaded.interpolate, c.interpolate);
    EXPECT_EQ(loaded.maxDistance, c.maxDistance);
    EXPECT_EQ(loaded.provenance, c.provenance);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, StoredEntryTest,
    ::testing::Values(StoredEntry{"interpolateOn", "interpolate", "true", true, 37, false},
                      StoredEntry{"interpolateOff", "interpolate", "false", false, 37, false},
                      StoredEntry{"interpolateNotAFlag", "interpolate", "ja", false, 37, false},
                      StoredEntry{"provenanceOn", "provenance", "true", false, 37, true},
                      StoredEntry{"provenanceNotAFlag", "provenance", "1x", false, 37, false},
                      StoredEntry{"distanceSmallest", "maxDistance", "1", false, 1, false},
                      StoredEntry{"distanceLargest", "maxDistance", "10000", false, 10000, false},
                      StoredEntry{"distanceZero", "maxDistance", "0", false, 37, false},
                      StoredEntry{"distanceJustAbove", "maxDistance", "10001", false, 37, false},
                      StoredEntry{"distanceNegative", "maxDistance", "-5", false, 37, false},
                      StoredEntry{"distanceNotANumber", "maxDistance", "weit", false, 37, false}),
    [](const ::testing::TestParamInfo<StoredEntry>& info) { return std::string(info.param.name); });

// --- The note --------------------------------------------------------------------------------------

struct NoteCase {
    const char* name;
    bool interpolate;
    int maxDistance;
    bool provenance;
    FillMethod method;
    QString note;
};

class InterpolationNoteTest : public ::testing::TestWithParam<NoteCase> {};

TEST_P(InterpolationNoteTest, NamesInterpolationWithItsDistanceAndTheMap)
{
    const NoteCase& c = GetParam();
    RunOptions options;
    options.interpolate = c.interpolate;
    options.maxDistance = c.maxDistance;
    options.provenance = c.provenance;
    options.method = c.method;
    EXPECT_EQ(OptionsNote::noteText(options), c.note);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, InterpolationNoteTest,
    ::testing::Values(
        NoteCase{"defaults", false, 100, false, FillMethod::Copy, QString()},
        NoteCase{"distanceAloneSaysNothing", false, 7, false, FillMethod::Copy, QString()},
        NoteCase{"interpolateAtTheDefaultDistance", true, 100, false, FillMethod::Copy,
                 QStringLiteral("interpolieren bis 100 Werte")},
        NoteCase{"interpolateNear", true, 7, false, FillMethod::Copy, QStringLiteral("interpolieren bis 7 Werte")},
        NoteCase{"provenance", false, 100, true, FillMethod::Copy, QStringLiteral("Herkunftskarte")},
        NoteCase{"afterTheMethod", true, 3, true, FillMethod::Delta,
                 QStringLiteral("Übergänge angleichen · interpolieren bis 3 Werte · Herkunftskarte")}),
    [](const ::testing::TestParamInfo<NoteCase>& info) { return std::string(info.param.name); });

// --- The report and the status line -----------------------------------------------------------------

TileResult filled(const std::string& tile, std::int64_t found, std::int64_t interpolated, std::int64_t tooFar)
{
    TileResult r;
    r.tile = tile;
    r.voidsFound = found;
    r.interpolated = interpolated;
    r.leftTooFar = tooFar;
    r.voidsLeft = tooFar;
    r.voidsFilled = found - tooFar - interpolated;
    r.filledBySource = {r.voidsFilled};
    r.seconds = 0.5;
    return r;
}

RunRecord batchOf(std::vector<TileResult> tiles)
{
    RunRecord record;
    record.kind = RunKind::Batch;
    record.tileCount = tiles.size();
    record.tiles = std::move(tiles);
    record.seconds = 3;
    return record;
}

struct ReportCase {
    const char* name;
    std::vector<TileResult> tiles;
    bool columns;         // Interpolated and LeftTooFar at the end
    QString statusCounts; // the finished line up to its time
};

class InterpolationReportTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(InterpolationReportTest, ColumnsAtTheEndAndTheStatusLine)
{
    const ReportCase& c = GetParam();
    RunReportModel model;
    model.setRecord(batchOf(c.tiles));
    // The columns a run without interpolation has stay where they were.
    EXPECT_EQ(model.columnIndex(RunReportModel::Path), RunReportModel::Path);
    const int interpolated = model.columnIndex(RunReportModel::Interpolated);
    const int tooFar = model.columnIndex(RunReportModel::LeftTooFar);
    if (!c.columns) {
        EXPECT_EQ(model.columnCount(), RunReportModel::Path + 1);
        EXPECT_EQ(interpolated, -1);
        EXPECT_EQ(tooFar, -1);
    } else {
        EXPECT_EQ(interpolated, RunReportModel::Path + 1);
        EXPECT_EQ(tooFar, RunReportModel::Path + 2);
        EXPECT_EQ(model.columnCount(), RunReportModel::Path + 3);
        EXPECT_EQ(model.headerData(interpolated, Qt::Horizontal).toString(), QStringLiteral("interpoliert"));
        EXPECT_EQ(model.headerData(tooFar, Qt::Horizontal).toString(), QStringLiteral("zu weit für Interpolation"));
        for (int row = 0; row < model.rowCount(); ++row) {
            const TileResult& tile = c.tiles[static_cast<std::size_t>(row)];
            EXPECT_EQ(model.cellText(row, interpolated), QString::number(tile.interpolated));
            EXPECT_EQ(model.cellText(row, tooFar), QString::number(tile.leftTooFar));
            EXPECT_EQ(model.data(model.index(row, tooFar), RunReportModel::SortRole).toLongLong(), tile.leftTooFar);
        }
        const QStringList csv = QString::fromUtf8(model.toCsv()).split(QStringLiteral("\r\n"));
        EXPECT_TRUE(csv[0].endsWith(QStringLiteral(";Datei;interpoliert;zu weit für Interpolation"))) << csv[0].toStdString();
        EXPECT_TRUE(csv[1].endsWith(QStringLiteral(";%1;%2").arg(c.tiles[0].interpolated).arg(c.tiles[0].leftTooFar)))
            << csv[1].toStdString();
    }
    EXPECT_EQ(RunStatus::finishedText(batchOf(c.tiles)), QStringLiteral("Fertig: %1 · 0:03").arg(c.statusCounts));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, InterpolationReportTest,
    ::testing::Values(
        ReportCase{"withoutInterpolation", {filled("/t/N47E011.hgt", 5, 0, 0)}, false, QStringLiteral("1 gefüllt")},
        ReportCase{"interpolatedInOneTile",
                   {filled("/t/N47E011.hgt", 5, 0, 0), filled("/t/N47E012.hgt", 40, 12, 0)},
                   true,
                   QStringLiteral("2 gefüllt, 12 Löcher interpoliert")},
        ReportCase{"onlyTooFar", {filled("/t/N47E011.hgt", 81, 0, 81)}, true, QStringLiteral("1 gefüllt")},
        ReportCase{"manyInterpolatedAreGrouped",
                   {filled("/t/N47E011.hgt", 20000, 9000, 0), filled("/t/N47E012.hgt", 9000, 3345, 10)},
                   true,
                   QStringLiteral("2 gefüllt, 12.345 Löcher interpoliert")}),
    [](const ::testing::TestParamInfo<ReportCase>& info) { return std::string(info.param.name); });

// --- The menu and a run through the window -----------------------------------------------------------

constexpr std::int64_t kSide = kTileSide3;

// A gentle slope with two void blocks: 3 x 3 at (100, 100), every sample within 2 of valid data, and
// 9 x 9 at (600, 600), whose middle lies 5 samples from it.
bool inBlock(std::int64_t r, std::int64_t c, std::int64_t top, std::int64_t size)
{
    return r >= top && r < top + size && c >= top && c < top + size;
}

Bytes slopeWithVoids()
{
    return makeTile(kSide, [](std::int64_t r, std::int64_t c) {
        return inBlock(r, c, 100, 3) || inBlock(r, c, 600, 9) ? kVoidValue : static_cast<int>(500 + r + 2 * c);
    });
}

class InterpolationMenuTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        removeOptionsStore();
        MainWindowTest::SetUp();
    }
    void TearDown() override
    {
        if (window && window->reportDialog())
            window->reportDialog()->close();
        MainWindowTest::TearDown();
        removeOptionsStore();
    }

    QAction* entry(const char* name)
    {
        auto* action = window->findChild<QAction*>(QLatin1String(name));
        EXPECT_NE(action, nullptr) << name;
        return action;
    }
    const RunOptions& engineOptions() { return window->form().runOptions(); }
    QString note() { return window->findChild<OptionsNote*>(QStringLiteral("optionsNote"))->fullText(); }
};

TEST_F(InterpolationMenuTest, EntriesAreStoredShownAndRestored)
{
    QAction* interpolate = entry("actionInterpolate");
    QAction* distance = entry("actionMaxDistance");
    QAction* provenance = entry("actionProvenance");
    ASSERT_TRUE(interpolate && distance && provenance);
    EXPECT_EQ(interpolate->text(), QStringLiteral("Löcher ohne Quelle &interpolieren"));
    EXPECT_EQ(distance->text(), QStringLiteral("&Höchstabstand für Interpolation …"));
    EXPECT_EQ(provenance->text(), QStringLiteral("Herkunfts&karte schreiben"));
    EXPECT_TRUE(interpolate->isCheckable() && provenance->isCheckable());
    EXPECT_FALSE(interpolate->isChecked() || provenance->isChecked());
    EXPECT_FALSE(distance->isEnabled()) << "the distance matters only while interpolating";

    interpolate->trigger();
    EXPECT_TRUE(engineOptions().interpolate);
    EXPECT_TRUE(distance->isEnabled());
    EXPECT_EQ(note(), QStringLiteral("interpolieren bis 100 Werte"));

    // Cancelled: nothing changes; confirmed: the number is taken.
    distance->trigger();
    EXPECT_EQ(dialogs.numberOffered, std::vector<int>{100});
    EXPECT_EQ(dialogs.numberRange, (std::pair<int, int>{1, 10000}));
    EXPECT_EQ(dialogs.numberTitles, QStringList{QStringLiteral("Höchstabstand für Interpolation")});
    EXPECT_EQ(engineOptions().maxDistance, 100);
    dialogs.numberAnswers = {250};
    distance->trigger();
    EXPECT_EQ(dialogs.numberOffered, (std::vector<int>{100, 100}));
    EXPECT_EQ(engineOptions().maxDistance, 250);

    provenance->trigger();
    EXPECT_TRUE(engineOptions().provenance);
    EXPECT_EQ(note(), QStringLiteral("interpolieren bis 250 Werte · Herkunftskarte"));
    EXPECT_TRUE(dialogs.messages.isEmpty());

    // A new window starts with what the last one chose.
    window.reset();
    window = std::make_unique<MainWindow>(dialogs);
    window->show();
    EXPECT_TRUE(entry("actionInterpolate")->isChecked());
    EXPECT_TRUE(entry("actionProvenance")->isChecked());
    EXPECT_TRUE(engineOptions().interpolate && engineOptions().provenance);
    EXPECT_EQ(engineOptions().maxDistance, 250);
    EXPECT_EQ(note(), QStringLiteral("interpolieren bis 250 Werte · Herkunftskarte"));
    dialogs.numberAnswers = {7};
    entry("actionMaxDistance")->trigger();
    EXPECT_EQ(dialogs.numberOffered.back(), 250);

    // Both off again: the store holds only the distance, which the note leaves out.
    entry("actionInterpolate")->trigger();
    entry("actionProvenance")->trigger();
    EXPECT_FALSE(entry("actionMaxDistance")->isEnabled());
    EXPECT_TRUE(note().isEmpty());
    EXPECT_EQ(QSettings(RunOptionsSettings::location(), QSettings::IniFormat).childKeys(),
              QStringList{QStringLiteral("maxDistance")});
}

TEST_F(InterpolationMenuTest, ARunInterpolatesWritesItsMapAndReportsBoth)
{
    writeBytes(temp / "tiles/N47E011.hgt", slopeWithVoids());
    // The secondary tile is void where the primary is: nothing to copy, all left to interpolation.
    writeBytes(temp / "secondary/N47E011.hgt", slopeWithVoids());

    entry("actionInterpolate")->trigger();
    dialogs.numberAnswers = {2};
    entry("actionMaxDistance")->trigger();
    entry("actionProvenance")->trigger();

    // The entries are disabled while the run is in progress, and enabled again after it.
    bool disabledDuringRun = false;
    window->form().setEventInterval(std::chrono::milliseconds{0});
    duringRun([&] {
        if (!window->form().runInProgress())
            return false;
        disabledDuringRun = !entry("actionInterpolate")->isEnabled() && !entry("actionMaxDistance")->isEnabled()
                            && !entry("actionProvenance")->isEnabled();
        return true;
    });
    type(secondary(), q(temp / "secondary"));
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    click(command1());
    EXPECT_TRUE(disabledDuringRun);
    EXPECT_TRUE(entry("actionInterpolate")->isEnabled() && entry("actionMaxDistance")->isEnabled());

    ASSERT_TRUE(window->lastRun().has_value());
    const TileResult& tile = window->lastRun()->tiles.at(0);
    EXPECT_EQ(tile.end, RunEnd::Complete) << tile.message;
    EXPECT_EQ(tile.interpolated, 9);
    EXPECT_EQ(tile.leftTooFar, 81);

    // The output: the small block filled between its neighbours, the large one still void.
    const Bytes output = readBytes(temp / "tiles/Merged/N47E011.hgt");
    const int middle = sampleAt(output, 101 * kSide + 101);
    EXPECT_NEAR(middle, 500 + 101 + 2 * 101, 3);
    EXPECT_EQ(sampleAt(output, 604 * kSide + 604), kVoidValue);
    // Its companion, sample by sample.
    const Bytes codes = readBytes(temp / "tiles/Merged/N47E011.src");
    ASSERT_EQ(static_cast<std::int64_t>(codes.size()), kSide * kSide);
    for (const auto& [r, c, code] : {std::tuple{101, 101, kInterpolatedSample}, std::tuple{604, 604, kVoidSample},
                                     std::tuple{0, 0, kOwnSample}, std::tuple{99, 101, kOwnSample}})
        EXPECT_EQ(codes[static_cast<std::size_t>(r * kSide + c)], code) << r << "," << c;

    EXPECT_EQ(window->statusText().section(QStringLiteral(" · "), 0, 0),
              QStringLiteral("Fertig: 1 gefüllt, 9 Löcher interpoliert"));
    window->showReport();
    const RunReportModel* model = window->reportDialog()->findChild<RunReportModel*>();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->cellText(0, model->columnIndex(RunReportModel::Interpolated)), QStringLiteral("9"));
    EXPECT_EQ(model->cellText(0, model->columnIndex(RunReportModel::LeftTooFar)), QStringLiteral("81"));
    EXPECT_EQ(model->cellText(0, RunReportModel::VoidsLeft), QStringLiteral("81"));
    const QStringList csv = QString::fromUtf8(model->toCsv()).split(QStringLiteral("\r\n"));
    EXPECT_TRUE(csv[1].endsWith(QStringLiteral(";9;81"))) << csv[1].toStdString();
}

TEST_F(InterpolationMenuTest, WithTheEntriesOffARunIsAsBefore)
{
    writeBytes(temp / "tiles/N47E011.hgt", slopeWithVoids());
    writeBytes(temp / "secondary/N47E011.hgt", slopeWithVoids());
    type(secondary(), q(temp / "secondary"));
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    click(command1());
    ASSERT_TRUE(window->lastRun().has_value());
    // Nothing to copy and nothing interpolated: a fill that writes the tile unchanged, and no map.
    const TileResult& tile = window->lastRun()->tiles.at(0);
    EXPECT_EQ(tile.interpolated, 0);
    EXPECT_EQ(tile.leftTooFar, 0);
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged/N47E011.src"));
    EXPECT_FALSE(window->statusText().contains(QStringLiteral("interpoliert")));
    window->showReport();
    const RunReportModel* model = window->reportDialog()->findChild<RunReportModel*>();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->columnCount(), RunReportModel::Path + 1);
}

} // namespace
} // namespace hgt::test

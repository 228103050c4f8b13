// Interpolation and the provenance map in the window: stored entries this version understands, the
// report and status line, and the three Optionen entries chosen, run with, shown and restored.

#include "tests/form1_fixture.h"
#include "tests/options_store.h"
#include "app/options_note.h"
#include "app/run_report_dialog.h"
#include "app/run_report_model.h"
#include "app/run_status.h"
#include "tiles/tile_format.h"

#include <QAction>
#include <QElapsedTimer>

#include <iostream>

namespace hgt::test {
namespace window_interpolation_test {

// Stored entries are taken only when this version understands them, over defaults whose distance is 37.
struct StoredEntry {
    const char* name;
    const char* key;
    const char* text;
    bool interpolate;
    int maxDistance;
};

class StoredEntryTest : public ::testing::TestWithParam<StoredEntry> {
protected:
    void SetUp() override { removeOptionsStore(); }
    void TearDown() override { removeOptionsStore(); }
};

TEST_P(StoredEntryTest, IsTakenOnlyWhenThisVersionUnderstandsIt)
{
    const StoredEntry& c = GetParam();
    QSettings(RunOptionsSettings::location(), QSettings::IniFormat)
        .setValue(QLatin1String(c.key), QString::fromUtf8(c.text));
    WindowOptions given;
    given.maxDistance = 37;
    const WindowOptions loaded = RunOptionsSettings::load(given);
    EXPECT_EQ(loaded.interpolate, c.interpolate);
    EXPECT_EQ(loaded.maxDistance, c.maxDistance);
}

INSTANTIATE_TEST_SUITE_P(Entries, StoredEntryTest,
                         ::testing::Values(StoredEntry{"interpolateOn", "interpolate", "true", true, 37},
                                           StoredEntry{"interpolateNotAFlag", "interpolate", "ja", false, 37},
                                           StoredEntry{"distanceLargest", "maxDistance", "10000", false, 10000},
                                           StoredEntry{"distanceZero", "maxDistance", "0", false, 37},
                                           StoredEntry{"distanceJustAbove", "maxDistance", "10001", false, 37},
                                           StoredEntry{"distanceNotANumber", "maxDistance", "weit", false, 37}),
                         [](const auto& info) { return std::string(info.param.name); });

TileResult filled(std::int64_t interpolated, std::int64_t tooFar)
{
    TileResult r;
    r.tile = "/t/N47E011.hgt";
    r.voidsFound = 20000;
    r.interpolated = interpolated;
    r.voidsLeft = r.leftTooFar = tooFar;
    r.voidsFilled = r.voidsFound - tooFar - interpolated;
    return r;
}

// The status line groups the batch's count; voids only too far show both columns, not named there.
TEST(InterpolationReportTest, GroupedCountAndColumnsForVoidsTooFarAlone)
{
    RunRecord record;
    record.kind = RunKind::Batch;
    record.tiles = {filled(9000, 0), filled(3345, 81)};
    record.tileCount = 2;
    EXPECT_EQ(RunStatus::finishedText(record), QStringLiteral("Fertig: 2 gefüllt, 12.345 Löcher interpoliert · 0:00"));
    record.tiles = {filled(0, 81)};
    RunReportModel model;
    model.setRecord(record);
    EXPECT_EQ(model.columnCount(), RunReportModel::Path + 3);
    EXPECT_EQ(RunStatus::finishedText(record), QStringLiteral("Fertig: 1 gefüllt · 0:00"));
}

constexpr std::int64_t kSide = kTileSide3;

// A gentle slope with two void blocks: 3 x 3 at (100, 100), every sample within 2 of valid data, and
// 9 x 9 at (600, 600), whose middle lies 5 samples from it.
Bytes slopeWithVoids()
{
    const auto in = [](std::int64_t r, std::int64_t c, std::int64_t top, std::int64_t size) {
        return r >= top && r < top + size && c >= top && c < top + size;
    };
    return makeTile(kSide, [&](std::int64_t r, std::int64_t c) {
        return in(r, c, 100, 3) || in(r, c, 600, 9) ? kVoidValue : static_cast<int>(500 + r + 2 * c);
    });
}

class InterpolationMenuTest : public MainWindowOptionsTest {
protected:
    const WindowOptions& engineOptions() { return window->form().runOptions(); }
    QString note() { return window->findChild<OptionsNote*>(QStringLiteral("optionsNote"))->fullText(); }
};

// The three entries chosen, shown in the note and taken by a run that interpolates, writes its map and
// reports both; a new window starts with them, and turned off the store keeps only the distance.
TEST_F(InterpolationMenuTest, ChosenEntriesRunAndAreRestored)
{
    EXPECT_FALSE(entry("actionInterpolate")->isChecked() || entry("actionProvenance")->isChecked());
    EXPECT_FALSE(entry("actionMaxDistance")->isEnabled()) << "the distance matters only while interpolating";
    entry("actionInterpolate")->trigger();
    entry("actionMaxDistance")->trigger(); // cancelled: nothing changes
    dialogs.numberAnswers = {2};
    entry("actionMaxDistance")->trigger();
    EXPECT_EQ(dialogs.numberOffered, (std::vector<int>{100, 100}));
    EXPECT_EQ(dialogs.numberRange, (std::pair<int, int>{1, 10000}));
    entry("actionProvenance")->trigger();
    EXPECT_EQ(note(), QStringLiteral("interpolieren bis 2 Werte · Herkunftskarte"));

    // The run shows the engine took all three. Its secondary tile is void where the primary is: all is
    // left to interpolation.
    writeBytes(temp / "tiles/N47E011.hgt", slopeWithVoids());
    writeBytes(temp / "secondary/N47E011.hgt", slopeWithVoids());
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

    // The small block filled between its neighbours, the large one still void; the companion agrees.
    const Bytes output = readBytes(temp / "tiles/Merged/N47E011.hgt");
    EXPECT_NEAR(sampleAt(output, 101 * kSide + 101), 500 + 101 + 2 * 101, 3);
    EXPECT_EQ(sampleAt(output, 604 * kSide + 604), kVoidValue);
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
    EXPECT_EQ(model->cellText(0, RunReportModel::VoidsLeft), QStringLiteral("81"));
    EXPECT_EQ(model->data(model->index(0, RunReportModel::Path + 2), RunReportModel::SortRole).toLongLong(), 81);
    const QStringList csv = QString::fromUtf8(model->toCsv()).split(QStringLiteral("\r\n"));
    EXPECT_TRUE(csv[0].endsWith(QStringLiteral(";Datei;interpoliert;zu weit für Interpolation")))
        << csv[0].toStdString();
    EXPECT_TRUE(csv[1].endsWith(QStringLiteral(";9;81"))) << csv[1].toStdString();
    window->reportDialog()->close();

    window.reset();
    window = std::make_unique<MainWindow>(dialogs);
    window->show();
    EXPECT_TRUE(entry("actionInterpolate")->isChecked() && entry("actionProvenance")->isChecked());
    EXPECT_EQ(engineOptions().maxDistance, 2);
    EXPECT_EQ(note(), QStringLiteral("interpolieren bis 2 Werte · Herkunftskarte"));

    entry("actionInterpolate")->trigger();
    entry("actionProvenance")->trigger();
    EXPECT_FALSE(entry("actionMaxDistance")->isEnabled());
    EXPECT_TRUE(note().isEmpty());
    EXPECT_EQ(QSettings(RunOptionsSettings::location(), QSettings::IniFormat).childKeys(),
              QStringList{QStringLiteral("maxDistance")});
}

// STOP shortly after the start of a fill that interpolates a 1" tile's void of 40 %: the run ends
// within a second, leaves no Merged folder and counts nothing as interpolated.
TEST_F(InterpolationMenuTest, StopEndsALongInterpolationAtOnceAndLeavesNothing)
{
    entry("actionInterpolate")->trigger();
    dialogs.numberAnswers = {kLargestMaxDistance};
    entry("actionMaxDistance")->trigger();
    ASSERT_TRUE(engineOptions().interpolate && engineOptions().maxDistance == kLargestMaxDistance);
    const Bytes tile = makeTile(kTileSide, [](std::int64_t r, std::int64_t c) {
        return r >= 600 && r < 2878 && c >= 600 && c < 2878 ? kVoidValue : 500 + r / 4 + c / 3;
    });
    writeBytes(temp / "tiles/N47E011.hgt", tile);
    writeBytes(temp / "secondary/N47E011.hgt", tile);
    // STOP is pressed at the first serve of the event queue 300 ms into the run.
    QElapsedTimer sinceStart;
    bool stopped = false;
    duringRun([&] {
        if (!window->form().runInProgress())
            return false;
        if (!sinceStart.isValid())
            sinceStart.start();
        if (sinceStart.elapsed() < 300)
            return false;
        click(stop());
        return stopped = true;
    });
    type(secondary(), q(temp / "secondary"));
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    click(command1());
    ASSERT_TRUE(stopped) << "the run ended before STOP";
    const qint64 runMs = sinceStart.elapsed();
    std::cout << "run stopped after " << runMs << " ms\n";
    // Well under a second on an idle machine; the bound leaves room for a busy one.
    EXPECT_LT(runMs, 300 + 4000);
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));
    EXPECT_TRUE(
        window->statusText().startsWith(QStringLiteral("Gestoppt nach Kachel 1 von 1: 0 gefüllt, 1 gestoppt · ")))
        << window->statusText().toStdString();
}

} // namespace window_interpolation_test
} // namespace hgt::test

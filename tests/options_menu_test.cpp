// "Optionen" in the main window: each choice reaches the engine, survives a new window, cannot
// leave a run without a void value, and waits while a run is in progress; the status bar's note.

#include "tests/form1_fixture.h"
#include "tests/options_store.h"
#include "tests/support/reference_fill.h"
#include "tests/support/tiles.h"
#include "app/more_sources_dialog.h"
#include "app/options_note.h"
#include "app/run_report_dialog.h"
#include "app/run_report_model.h"

#include <QAction>
#include <QLabel>
#include <QStatusBar>
#include <QDialogButtonBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

namespace hgt::test {
namespace options_menu_test {

using Values = std::vector<std::int16_t>;

QStringList entryTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << action->text().remove(QLatin1Char('&'));
    return texts;
}

class OptionsMenuTest : public MainWindowOptionsTest {
protected:
    QMenu* submenu(const char* name) { return entry(name)->menu(); }
    OptionsNote* note() { return window->findChild<OptionsNote*>(QStringLiteral("optionsNote")); }
    const WindowOptions& engineOptions() { return window->form().runOptions(); }

    // Optionen → Weitere Sekundärordner …, folders added through the picker, then OK.
    void setMoreSources(const QStringList& folders)
    {
        entry("actionMoreSources")->trigger();
        auto* dialog = window->findChild<MoreSourcesDialog*>();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(dialog->isVisible());
        while (dialog->list()->rowCount() > 0)
            dialog->removeFolder();
        dialogs.folderAnswers = folders;
        for (qsizetype i = 0; i < folders.size(); ++i)
            dialog->addFolder();
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        QCoreApplication::processEvents();
    }

    void fill(const std::string& tile, const std::string& secondaryFolder)
    {
        type(secondary(), q(temp / secondaryFolder));
        type(primary(), q(temp / tile));
        click(command1());
    }

    const RunReportModel& report()
    {
        entry("actionReport")->trigger();
        return window->reportDialog()->model();
    }
};

TEST_F(OptionsMenuTest, FreshStoreGivesTheDefaultEntries)
{
    EXPECT_EQ(entryTexts(submenu("menuVoidValues")),
              (QStringList{QStringLiteral("−9999"), QStringLiteral("−32768 (SRTM)"), QStringLiteral("−32767")}));
    EXPECT_EQ(entryTexts(submenu("menuFillMethod")),
              (QStringList{QStringLiteral("Werte kopieren"), QStringLiteral("Übergänge angleichen")}));
    EXPECT_TRUE(entry("actionVoid9999")->isChecked());
    EXPECT_FALSE(entry("actionVoid32768")->isChecked());
    EXPECT_FALSE(entry("actionVoid32767")->isChecked());
    EXPECT_TRUE(entry("actionMethodCopy")->isChecked());
    EXPECT_FALSE(entry("actionMethodDelta")->isChecked());

    EXPECT_EQ(engineOptions().voidValues, Values{-9999});
    EXPECT_TRUE(engineOptions().moreSources.empty());
    EXPECT_EQ(engineOptions().method, FillMethod::Copy);
    EXPECT_FALSE(note()->isVisible());
    EXPECT_TRUE(window->statusText().isEmpty());
    // Starting reads the store; it writes nothing.
    EXPECT_FALSE(QFileInfo::exists(RunOptionsSettings::location()));
}

TEST_F(OptionsMenuTest, TheLastVoidValueStaysCheckedAndTheMethodsExcludeEachOther)
{
    entry("actionVoid9999")->trigger();
    EXPECT_TRUE(entry("actionVoid9999")->isChecked());
    EXPECT_EQ(engineOptions().voidValues, Values{-9999});
    EXPECT_FALSE(QFileInfo::exists(RunOptionsSettings::location())) << "a refused change is not stored";

    entry("actionVoid32767")->trigger();
    entry("actionVoid32768")->trigger();
    EXPECT_EQ(engineOptions().voidValues, (Values{-9999, -32768, -32767}));
    entry("actionVoid9999")->trigger();
    entry("actionVoid32767")->trigger();
    EXPECT_EQ(engineOptions().voidValues, Values{-32768});
    entry("actionVoid32768")->trigger();
    EXPECT_TRUE(entry("actionVoid32768")->isChecked());
    EXPECT_EQ(engineOptions().voidValues, Values{-32768});
    EXPECT_EQ(note()->fullText(), QStringLiteral("Leerwerte: −32768"));

    entry("actionMethodDelta")->trigger();
    EXPECT_FALSE(entry("actionMethodCopy")->isChecked());
    EXPECT_EQ(engineOptions().method, FillMethod::Delta);
    entry("actionMethodCopy")->trigger();
    EXPECT_FALSE(entry("actionMethodDelta")->isChecked());
    EXPECT_EQ(engineOptions().method, FillMethod::Copy);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(OptionsMenuTest, FurtherFoldersFillWhatTheSecondaryLeavesInTheirOrder)
{
    // N47E011: three voids; the secondary has the first, "more-a" the second, "more-b" the third.
    // N47E012: only "more-b" has it, which still makes it a tile with a source.
    const std::int64_t k1 = 10, k2 = 20000, k3 = 3000000;
    Bytes primaryTile = plainTile(1);
    for (std::int64_t k : {k1, k2, k3})
        setVoid(primaryTile, k);
    Bytes sec = plainTile(2), moreA = plainTile(3), moreB = plainTile(4);
    setVoid(sec, k2);
    setVoid(sec, k3);
    setVoid(moreA, k3);
    writeBytes(temp / "tiles/N47E011.hgt", primaryTile);
    writeBytes(temp / "tiles/N47E012.hgt", primaryTile);
    writeBytes(temp / "secondary/N47E011.hgt", sec);
    writeBytes(temp / "more-a/N47E011.hgt", moreA);
    writeBytes(temp / "more-b/N47E011.hgt", moreB);
    writeBytes(temp / "more-b/N47E012.hgt", moreB);
    writeBytes(temp / "empty/readme.txt", {1});

    // The sources are asked in the dialog's order: "more-b" added first, then moved down.
    setMoreSources({q(temp / "more-b"), q(temp / "more-a")});
    EXPECT_EQ(engineOptions().moreSources, (std::vector<FurtherSource>{{temp / "more-b", ""}, {temp / "more-a", ""}}));
    entry("actionMoreSources")->trigger();
    auto* dialog = window->findChild<MoreSourcesDialog*>();
    ASSERT_NE(dialog, nullptr);
    dialog->selectRow(0);
    dialog->moveDown();
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(engineOptions().moreSources, (std::vector<FurtherSource>{{temp / "more-a", ""}, {temp / "more-b", ""}}));
    EXPECT_EQ(note()->fullText(), QStringLiteral("2 weitere Quellen"));

    // The window's rules for its buttons look at its own secondary field only.
    type(secondary(), q(temp / "empty"));
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    EXPECT_FALSE(command1()->isEnabled());
    EXPECT_FALSE(controls().state().secondaryHasTiles);

    type(secondary(), q(temp / "secondary"));
    batchFolder()->setText(q(temp / "tiles"));
    click(batch());
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(QLatin1Char('\n')).toStdString();
    Bytes expected = primaryTile;
    setValue(expected, k1, sampleAt(sec, k1));
    setValue(expected, k2, sampleAt(moreA, k2));
    setValue(expected, k3, sampleAt(moreB, k3));
    EXPECT_TRUE(sameTile(readBytes(temp / "tiles/Merged/N47E011.hgt"), expected));
    EXPECT_TRUE(sameTile(readBytes(temp / "tiles/Merged/N47E012.hgt"), FilledTile(primaryTile, moreB)));

    const RunReportModel& model = report();
    ASSERT_EQ(model.rowCount(), 2);
    const int first = model.columnIndex(RunReportModel::FromSource, 0);
    ASSERT_GE(first, 0);
    EXPECT_EQ(model.headerData(first + 2, Qt::Horizontal).toString(), QStringLiteral("aus Quelle 3"));
    EXPECT_EQ((QStringList{model.cellText(0, first), model.cellText(0, first + 1), model.cellText(0, first + 2)}),
              (QStringList{QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1")}));
    EXPECT_EQ((QStringList{model.cellText(1, first), model.cellText(1, first + 1), model.cellText(1, first + 2)}),
              (QStringList{QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("3")}));
    window->reportDialog()->close();
}

TEST_F(OptionsMenuTest, MatchingTransitionsGiveOffsetsAndTheDatumWarning)
{
    // The source stands 10 m above the tile everywhere: its samples moved by the offset fill the
    // voids with the tile's own heights, where a copy would leave a 10 m step.
    Bytes truth = plainTile(1);
    Bytes source(truth.size());
    for (std::int64_t k = 0; k < kTileSamples; ++k)
        setValue(source, k, sampleAt(truth, k) + 10);
    Bytes primaryTile = truth;
    for (std::int64_t r = 1000; r < 1010; ++r)
        for (std::int64_t c = 2000; c < 2010; ++c)
            setVoid(primaryTile, r * kTileSide + c);
    writeBytes(temp / "tiles/N47E011.hgt", primaryTile);
    writeBytes(temp / "secondary/N47E011.hgt", source);

    entry("actionMethodDelta")->trigger();
    EXPECT_EQ(note()->fullText(), QStringLiteral("Übergänge angleichen"));
    fill("tiles/N47E011.hgt", "secondary");
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});
    EXPECT_TRUE(sameTile(readBytes(temp / "tiles/Merged/N47E011.hgt"), truth));

    const RunReportModel& model = report();
    ASSERT_TRUE(window->lastRun() && window->lastRun()->tiles.front().offsets);
    const OffsetStats offsets = *window->lastRun()->tiles.front().offsets;
    EXPECT_GT(offsets.rimSamples, 0);
    EXPECT_EQ(model.cellText(0, model.columnIndex(RunReportModel::OffsetMedian)), QStringLiteral("-10,0"));
    EXPECT_EQ(model.cellText(0, model.columnIndex(RunReportModel::OffsetIqr)), QStringLiteral("0,0"));
    EXPECT_EQ(model.cellText(0, model.columnIndex(RunReportModel::RimSamples)), QString::number(offsets.rimSamples));
    const QString warning = QStringLiteral("Höhenversatz der Quelle: Median -10,0 m – anderes Höhenbezugssystem?");
    EXPECT_EQ(model.cellText(0, model.columnIndex(RunReportModel::Warning)), warning);
    EXPECT_TRUE(QString::fromUtf8(model.toCsv()).contains(QStringLiteral(";") + warning + QStringLiteral(";")));
    window->reportDialog()->close();
}

TEST_F(OptionsMenuTest, ChoicesSurviveANewWindowAndStayOutOfTheOtherStore)
{
    entry("actionVoid32768")->trigger();
    entry("actionMethodDelta")->trigger();
    setMoreSources({q(temp / "b"), q(temp / "a")});
    const QString everything = QStringLiteral("Leerwerte: −9999, −32768 · 2 weitere Quellen · Übergänge angleichen");
    EXPECT_EQ(note()->fullText(), everything);

    window.reset();
    window = std::make_unique<MainWindow>(dialogs);
    window->show();
    EXPECT_TRUE(entry("actionVoid9999")->isChecked());
    EXPECT_TRUE(entry("actionVoid32768")->isChecked());
    EXPECT_FALSE(entry("actionVoid32767")->isChecked());
    EXPECT_TRUE(entry("actionMethodDelta")->isChecked());
    EXPECT_EQ(engineOptions().voidValues, (Values{-9999, -32768}));
    EXPECT_EQ(engineOptions().moreSources, (std::vector<FurtherSource>{{temp / "b", ""}, {temp / "a", ""}}));
    EXPECT_EQ(engineOptions().method, FillMethod::Delta);
    EXPECT_TRUE(note()->isVisible());
    EXPECT_EQ(note()->fullText(), everything);
    // The note gives way rather than widening the window.
    EXPECT_EQ(window->form().size(), QSize(678, 481));
    EXPECT_EQ(window->width(), 678);
    EXPECT_FALSE(QFileInfo::exists(configHome() + QStringLiteral("/Karvel.conf")));

    // Back at the defaults, the note goes.
    entry("actionVoid32768")->trigger();
    entry("actionMethodCopy")->trigger();
    setMoreSources({});
    EXPECT_FALSE(note()->isVisible());
}

TEST_F(OptionsMenuTest, EntriesWaitWhileARunKeepsTheOptionsItStartedWith)
{
    // A -9999 void and a -32768 sample in each tile: the batch started with the default void value
    // fills the first and keeps the second, also after a change of the options in its course.
    Bytes tile = plainTile(1);
    setVoid(tile, 5);
    setValue(tile, 77, -32768);
    const Bytes source = plainTile(2);
    for (const char* name : {"N47E011.hgt", "N47E012.hgt"}) {
        writeBytes(temp / (std::string("tiles/") + name), tile);
        writeBytes(temp / (std::string("secondary/") + name), source);
    }
    const char* const entries[] = {"actionVoid9999",    "actionVoid32768",  "actionVoid32767",
                                   "actionMoreSources", "actionMethodCopy", "actionMethodDelta"};
    WindowOptions srtm = engineOptions();
    srtm.voidValues = {-32768};
    window->form().setEventInterval(std::chrono::milliseconds{0});
    bool checked = false;
    duringRun([&] {
        if (!window->form().runInProgress())
            return false;
        for (const char* name : entries)
            EXPECT_FALSE(entry(name)->isEnabled()) << name;
        // The submenus still open and show what the run uses.
        EXPECT_TRUE(entry("menuVoidValues")->isEnabled());
        // A change that does not come through the menu waits for the run to end.
        window->form().setRunOptions(srtm);
        EXPECT_EQ(engineOptions().voidValues, Values{-9999});
        checked = true;
        return true;
    });
    type(secondary(), q(temp / "secondary"));
    batchFolder()->setText(q(temp / "tiles"));
    click(batch());
    ASSERT_TRUE(checked);
    ASSERT_TRUE(window->lastRun().has_value());
    EXPECT_EQ(window->lastRun()->count(RunEnd::Complete), 2u);
    for (const char* name : {"N47E011.hgt", "N47E012.hgt"}) {
        const Bytes out = readBytes(temp / (std::string("tiles/Merged/") + name));
        ASSERT_EQ(out.size(), tile.size()) << name;
        EXPECT_EQ(sampleAt(out, 5), sampleAt(source, 5)) << name;
        EXPECT_EQ(sampleAt(out, 77), -32768) << name;
    }
    for (const char* name : entries)
        EXPECT_TRUE(entry(name)->isEnabled()) << name;

    // The next run takes the changed options.
    EXPECT_EQ(engineOptions().voidValues, Values{-32768});
    click(batch());
    EXPECT_EQ(window->lastRun()->count(RunEnd::Complete), 2u);
    EXPECT_EQ(sampleAt(readBytes(temp / "tiles/Merged/N47E011.hgt"), 77), sampleAt(source, 77));
}

TEST_F(OptionsMenuTest, NoteBesideTheRunsLineAndAStoreThatCannotBeWritten)
{
    makeTiles({"N47E011.hgt"}, true);
    QDir().mkpath(configHome());
    QFile blocker(configHome() + QStringLiteral("/hgtfill"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    entry("actionVoid32767")->trigger();
    // The choice holds for this session all the same.
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0],
              QStringLiteral("Die Optionen gelten bis zum Ende des Programms; sie konnten nicht in ")
                  + RunOptionsSettings::location() + QStringLiteral(" gespeichert werden."));
    EXPECT_EQ(engineOptions().voidValues, (Values{-9999, -32767}));
    EXPECT_EQ(note()->fullText(), QStringLiteral("Leerwerte: −9999, −32767"));

    dialogs.messages.clear();
    fill("tiles/N47E011.hgt", "secondary");
    EXPECT_TRUE(window->statusText().startsWith(QStringLiteral("Fertig: 1 gefüllt · ")))
        << window->statusText().toStdString();
    EXPECT_TRUE(note()->isVisible());
    EXPECT_EQ(note()->text(), QStringLiteral("Leerwerte: −9999, −32767"));
    EXPECT_GT(note()->geometry().left(),
              window->statusBar()->findChild<QLabel*>(QStringLiteral("statusText"))->geometry().left());
}

} // namespace options_menu_test
} // namespace hgt::test

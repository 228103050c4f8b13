// The window driven through its real widgets, with scripted dialogs.

#include "tests/form1_fixture.h"

#include <QLabel>

#include <gtest/gtest.h>

namespace hgt::test {
namespace form1_test {

TEST_F(Form1Test, StateRightAfterStart)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("1 Sec HGT -files Löcher füllen"));
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_EQ(form->size(), QSize(678, 481));

    EXPECT_EQ(primary()->text(), QStringLiteral("Hier Pfad zum HGT-File"));
    EXPECT_EQ(secondary()->text(), QStringLiteral("Pfad zum Ornder mit den sekundären 1 sec HGT Files"));
    EXPECT_EQ(batchFolder()->text(), QStringLiteral("Pfad zum Ordner"));
    EXPECT_EQ(command1()->caption(), QStringLiteral("fülle die Löcher im Primärfile mit Daten der Sekundärfiles"));
    EXPECT_EQ(batch()->caption(), QStringLiteral("fülle die Löcher in allen Files des Ordners"));
    EXPECT_EQ(diff()->caption(), QStringLiteral("Erzeuge Differenz - HGT zum primären HGT.vergkleichsfile waehlen"));
    EXPECT_EQ(stop()->caption(), QStringLiteral("STOP !"));
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("Label3"))->text(),
              QStringLiteral("Batchverarbeitung aller HGT eines Ordners.           Ordner :"));

    EXPECT_FALSE(command1()->isEnabled());
    EXPECT_FALSE(batch()->isEnabled());
    EXPECT_TRUE(diff()->isEnabled());
    EXPECT_TRUE(stop()->isEnabled());
    EXPECT_TRUE(lines().isEmpty());
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_FALSE(form->state().logIndex.isSet());

    // Twips at 15 per pixel.
    EXPECT_EQ(primary()->geometry(), QRect(173, 3, 438, 25));
    EXPECT_EQ(command1()->geometry(), QRect(89, 94, 170, 34));
    EXPECT_EQ(stop()->geometry(), QRect(162, 400, 62, 36));
    EXPECT_EQ(form->findChild<QListWidget*>(QStringLiteral("List1"))->geometry(), QRect(311, 190, 263, 246));
    EXPECT_EQ(diff()->geometry(), QRect(23, 242, 157, 46));
}

TEST_F(Form1Test, SecondaryFolderFieldEnablesButNeverDisables)
{
    writeBytes(temp / "only-mixed/N47E011.hGt", {1});
    std::filesystem::create_directories(temp / "only-sub/N47E011.hgt");
    writeBytes(temp / "secondary/N47E011.hgt", {1});

    type(secondary(), q(temp / "only-mixed"));
    EXPECT_FALSE(form->state().secondaryHasTiles);
    EXPECT_FALSE(command1()->isEnabled());
    secondary()->setText(q(temp / "only-sub"));
    EXPECT_FALSE(form->state().secondaryHasTiles);
    EXPECT_FALSE(batch()->isEnabled());

    type(secondary(), q(temp / "secondary"));
    EXPECT_TRUE(form->state().secondaryHasTiles);
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_TRUE(batch()->isEnabled());

    secondary()->setText(q(temp / "only-mixed"));
    EXPECT_FALSE(form->state().secondaryHasTiles);
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_TRUE(batch()->isEnabled());
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(Form1Test, BatchFolderFieldTestsEveryChange)
{
    writeBytes(temp / "tiles/N47E011.HGT", {1});
    batchFolder()->setText(q(temp / "tiles"));
    EXPECT_TRUE(batch()->isEnabled());
    EXPECT_TRUE(dialogs.messages.isEmpty());

    batchFolder()->clear();
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("keine HGT-Files im ausgewählten Ordner")});
    EXPECT_FALSE(batch()->isEnabled());

    // Typing by hand: every keystroke is a change, and each text that is no folder with tiles says so.
    dialogs.messages.clear();
    type(batchFolder(), QStringLiteral("/x"));
    EXPECT_EQ(dialogs.messages.size(), 2);
    EXPECT_FALSE(command1()->isEnabled());
}

TEST_F(Form1Test, StopSetsTheFlagAndEnablesTheSingleFillOnlyForAnExistingFile)
{
    click(stop());
    EXPECT_TRUE(form->state().stopRequested);
    EXPECT_FALSE(command1()->isEnabled());

    writeBytes(temp / "N47E011.bin", {1});
    type(primary(), q(temp / "N47E011.bin"));
    click(stop());
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_FALSE(batch()->isEnabled());
}

TEST_F(Form1Test, SingleFillMessagesAndButtons)
{
    // The initial text names no file: refused, and the button stays disabled.
    click(stop()); // nothing to enable yet
    makeTiles({"N47E011.hgt"}, true);
    type(secondary(), q(temp / "secondary"));
    click(command1());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("zuerst HGT-File auswählen")});
    EXPECT_FALSE(command1()->isEnabled());
    EXPECT_FALSE(form->state().logIndex.isSet());

    // Another extension: no run, but "ready".
    dialogs.messages.clear();
    writeBytes(temp / "tiles/N47E011.bin", plainTile());
    type(primary(), q(temp / "tiles/N47E011.bin"));
    click(stop());
    click(command1());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));

    // A tile with holes: filled, "ready", button back. First single fill: line index 1, no line.
    dialogs.messages.clear();
    std::filesystem::rename(temp / "tiles/N47E011.hgt", temp / "tiles/N47E011.HGT");
    type(primary(), q(temp / "tiles/N47E011.HGT"));
    click(command1());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_TRUE(std::filesystem::exists(temp / "tiles/Merged/N47E011.HGT"));
    EXPECT_EQ(form->state().logIndex.index(), 1);
    EXPECT_TRUE(lines().isEmpty());
}

TEST_F(Form1Test, SingleFillWithoutSecondaryTileSaysSoBeforeReady)
{
    makeTiles({"N47E011.hgt"}, true);
    writeBytes(temp / "other/N00E000.hgt", plainTile());
    type(secondary(), q(temp / "other"));
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    click(command1());
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(dialogs.messages[0], QStringLiteral("kein sekundäres hgt-file ") + q(temp / "tiles/N47E011.hgt")
                                       + QStringLiteral(" im Sekundärordner gefunden"));
    EXPECT_EQ(dialogs.messages[1], QStringLiteral("ready"));
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));
}

TEST_F(Form1Test, BatchRefusals)
{
    writeBytes(temp / "tiles/N47E011.hgt", plainTile());
    batchFolder()->setText(q(temp / "tiles"));
    click(batch());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("kein sekundärer Ordner ausgewählt")});
    EXPECT_EQ(form->state().logIndex.index(), -1);
    EXPECT_TRUE(batch()->isEnabled());
    EXPECT_TRUE(command1()->isEnabled());

    dialogs.messages.clear();
    writeBytes(temp / "secondary/N47E011.hgt", plainTile());
    type(secondary(), q(temp / "secondary"));
    std::filesystem::remove_all(temp / "tiles");
    click(batch());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Bitte gültigen Ordner ausgewählen")});
    EXPECT_TRUE(batch()->isEnabled());

    // A folder without tiles: no message, no run.
    dialogs.messages.clear();
    writeBytes(temp / "tiles/notes.txt", {1});
    click(batch());
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(lines().isEmpty());
}

TEST_F(Form1Test, BatchRunsEveryTileOfTheFolderOnItsOwnLine)
{
    makeTiles({"N47E011.hgt", "N47E012.HGT", "N48E011.hgt"}, false);
    writeBytes(temp / "tiles/notes.txt", {1});
    type(secondary(), q(temp / "secondary"));
    batchFolder()->setText(q(temp / "tiles"));
    click(batch());
    EXPECT_EQ(lines(), (QStringList{QStringLiteral("N47E011.hgthat keine Löcher."),
                                    QStringLiteral("N47E012.HGThat keine Löcher."),
                                    QStringLiteral("N48E011.hgthat keine Löcher.")}));
    EXPECT_EQ(form->state().runLog, "\n\n\n");
    EXPECT_EQ(form->state().logIndex.index(), 2);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(batch()->isEnabled());
    EXPECT_TRUE(command1()->isEnabled());
}

TEST_F(Form1Test, BatchOnAListOfFiveLinesRewritesTheFirstLines)
{
    makeTiles({"N47E011.hgt", "N47E012.hgt", "N47E013.hgt", "N47E014.hgt", "N47E015.hgt"}, false);
    type(secondary(), q(temp / "secondary"));
    batchFolder()->setText(q(temp / "tiles"));
    click(batch());
    ASSERT_EQ(lines().size(), 5);

    std::filesystem::remove_all(temp / "tiles");
    makeTiles({"N10E011.hgt", "N10E012.hgt", "N10E013.hgt"}, true);
    click(batch());
    const QStringList after = lines();
    ASSERT_EQ(after.size(), 5);
    EXPECT_EQ(after[0], QStringLiteral("25800257 Bytes verarbeitet. File : N10E011.hgt"));
    EXPECT_EQ(after[1], QStringLiteral("25800257 Bytes verarbeitet. File : N10E012.hgt"));
    EXPECT_EQ(after[2], QStringLiteral("25800257 Bytes verarbeitet. File : N10E013.hgt"));
    EXPECT_EQ(after[3], QStringLiteral("N47E014.hgthat keine Löcher."));
    EXPECT_EQ(after[4], QStringLiteral("N47E015.hgthat keine Löcher."));
}

TEST_F(Form1Test, BatchWithAMissingSecondaryTileInTheMiddle)
{
    makeTiles({"N47E011.hgt", "N47E012.hgt", "N47E013.hgt"}, true);
    std::filesystem::remove(temp / "secondary/N47E012.hgt");
    type(secondary(), q(temp / "secondary"));
    batchFolder()->setText(q(temp / "tiles"));
    click(batch());
    const QString missing = QStringLiteral("kein sekundäres hgt-file ") + q(temp / "tiles/N47E012.hgt")
                            + QStringLiteral(" im Sekundärordner gefunden");
    EXPECT_EQ(lines(), (QStringList{QStringLiteral("25800257 Bytes verarbeitet. File : N47E011.hgt"), missing,
                                    QStringLiteral("25800257 Bytes verarbeitet. File : N47E013.hgt")}));
    EXPECT_EQ(dialogs.messages, QStringList{missing});
    EXPECT_TRUE(std::filesystem::exists(temp / "tiles/Merged/N47E013.hgt"));
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged/N47E012.hgt"));
    EXPECT_TRUE(batch()->isEnabled());
}

TEST_F(Form1Test, StopEndsTheBatchAfterTheTileInProgress)
{
    makeTiles({"N47E011.hgt", "N47E012.hgt", "N47E013.hgt", "N47E014.hgt"}, true);
    type(secondary(), q(temp / "secondary"));
    batchFolder()->setText(q(temp / "tiles"));
    duringRun([this] {
        if (form->state().logIndex.index() == 1 && form->state().posHigh > 5000000) {
            click(stop());
            return true;
        }
        return false;
    });
    click(batch());
    EXPECT_TRUE(std::filesystem::exists(temp / "tiles/Merged/N47E011.hgt"));
    for (const char* name : {"N47E012.hgt", "N47E013.hgt", "N47E014.hgt"})
        EXPECT_FALSE(std::filesystem::exists(temp / (std::string("tiles/Merged/") + name))) << name;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp / "tiles/Merged"),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_EQ(form->state().logIndex.index(), 1);
    EXPECT_EQ(lines().size(), 2);
    EXPECT_TRUE(batch()->isEnabled());
    EXPECT_TRUE(command1()->isEnabled());
}

TEST_F(Form1Test, NoSecondRunWhileARunIsInProgress)
{
    makeTiles({"N47E011.hgt", "N47E012.hgt"}, true);
    type(secondary(), q(temp / "secondary"));
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    batchFolder()->setText(q(temp / "tiles"));
    bool checked = false;
    duringRun([&] {
        if (form->state().posHigh < 3000000)
            return false;
        // Handlers that enable the buttons in mid-run change what they show after the run only.
        secondary()->setText(q(temp / "secondary") + QLatin1Char('/'));
        EXPECT_FALSE(command1()->isEnabled());
        EXPECT_FALSE(batch()->isEnabled());
        EXPECT_FALSE(diff()->isEnabled());
        EXPECT_TRUE(stop()->isEnabled());
        // Even a click that reaches a command (here on a button forced back on) starts nothing.
        for (WrappingButton* other : {batch(), command1(), diff()}) {
            other->setEnabled(true);
            click(other);
        }
        checked = true;
        return true;
    });
    click(command1());
    EXPECT_TRUE(checked);
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});
    EXPECT_TRUE(dialogs.openFileOffered.isEmpty());
    EXPECT_EQ(form->state().logIndex.index(), 1);
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged/N47E012.hgt"));
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_TRUE(batch()->isEnabled());
    EXPECT_TRUE(diff()->isEnabled());
}

TEST_F(Form1Test, ClosingTheWindowDuringABatchStopsItAndCleansUp)
{
    makeTiles({"N47E011.hgt", "N47E012.hgt"}, true);
    writeBytes(temp / "tiles/Merged/N47E011.hgt", {7, 7, 7});
    type(secondary(), q(temp / "secondary"));
    batchFolder()->setText(q(temp / "tiles"));
    duringRun([this] {
        if (form->state().posHigh < 2000000)
            return false;
        form->close();
        EXPECT_TRUE(form->isVisible()); // not before the run has cleaned up
        return true;
    });
    click(batch());
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(readBytes(temp / "tiles/Merged/N47E011.hgt"), (Bytes{7, 7, 7}));
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged/N47E012.hgt"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp / "tiles/Merged"),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

} // namespace form1_test
} // namespace hgt::test

// The difference command behind CommandDiff, with the comparison dialog scripted.

#include "tests/form1_fixture.h"

namespace hgt::test {
namespace form1_diff_test {

class Form1DiffTest : public Form1Test {
protected:
    void SetUp() override
    {
        Form1Test::SetUp();
        writeBytes(primaryPath, plainTile(1));
        writeBytes(comparisonPath, plainTile(2));
    }

    std::string primaryPath = temp / "tiles/N47E011.hgt";
    std::string comparisonPath = temp / "other/N47E011.hgt";
    std::string diffPath = temp / "tiles/DIFFS/N47E011.hgt";
};

TEST_F(Form1DiffTest, PrimaryIsCheckedBeforeAnythingIsAskedOrCreated)
{
    click(diff()); // the field still holds its initial text
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("zuerst HGT-File auswählen")});
    EXPECT_TRUE(dialogs.openFileOffered.isEmpty());
    EXPECT_TRUE(diff()->isEnabled());
    EXPECT_FALSE(std::filesystem::exists("Hier Pfad zum HGT-File"));

    dialogs.messages.clear();
    writeBytes(temp / "short/N47E011.hgt", Bytes(10, 0));
    type(primary(), q(temp / "short/N47E011.hgt"));
    click(diff());
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].endsWith(
        QStringLiteral("ist kein HGT-File (10 Bytes statt 25934402 Bytes für 1″ oder 2884802 Bytes für 3″)")));
    EXPECT_TRUE(dialogs.openFileOffered.isEmpty());
    EXPECT_FALSE(std::filesystem::exists(temp / "short/DIFFS"));
}

TEST_F(Form1DiffTest, CancelBeforeAnyChoiceEndsQuietly)
{
    type(primary(), q(primaryPath));
    click(diff());
    EXPECT_EQ(dialogs.openFileOffered, QStringList{QString()});
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/DIFFS"));
    EXPECT_TRUE(diff()->isEnabled());
}

TEST_F(Form1DiffTest, CompleteRunThenACancelledDialogReusesTheComparison)
{
    type(primary(), q(primaryPath));
    dialogs.fileAnswers = {q(comparisonPath)};
    bool diffsExistedAtDialog = true;
    bool buttonEnabledDuringMessage = true;
    dialogs.onMessage = [&](const QString&) { buttonEnabledDuringMessage = diff()->isEnabled(); };
    // The folder is made after the dialog has closed.
    dialogs.onOpenFile = [&] { diffsExistedAtDialog = std::filesystem::exists(temp / "tiles/DIFFS"); };
    click(diff());
    EXPECT_FALSE(diffsExistedAtDialog);
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Vergleichs file fertig unter ") + q(diffPath)});
    EXPECT_FALSE(buttonEnabledDuringMessage);
    EXPECT_TRUE(diff()->isEnabled());
    EXPECT_EQ(lines(), QStringList{QStringLiteral("25800257 Bytes verarbeitet.")});
    Bytes expected(static_cast<std::size_t>(kTileBytes));
    const Bytes p = plainTile(1), c = plainTile(2);
    for (std::int64_t k = 0; k < kTileSamples; ++k) {
        const auto d = static_cast<std::uint16_t>((p[2 * k] << 8 | p[2 * k + 1]) - (c[2 * k] << 8 | c[2 * k + 1]));
        expected[2 * k] = static_cast<std::uint8_t>(d >> 8);
        expected[2 * k + 1] = static_cast<std::uint8_t>(d & 0xFF);
    }
    EXPECT_TRUE(sameTile(readBytes(diffPath), expected));

    // Second run into the same folder, dialog cancelled: the earlier comparison tile again.
    writeBytes(diffPath, {0});
    dialogs.messages.clear();
    click(diff());
    EXPECT_EQ(dialogs.openFileOffered, (QStringList{QString(), q(comparisonPath)}));
    EXPECT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(sameTile(readBytes(diffPath), expected));
}

TEST_F(Form1DiffTest, CompletionMessageNamesTheFieldAsItReadsAtTheEnd)
{
    type(primary(), q(primaryPath));
    dialogs.fileAnswers = {q(comparisonPath)};
    duringRun([this] {
        primary()->setText(QStringLiteral("/elsewhere/S10W020.hgt"));
        return true;
    });
    click(diff());
    EXPECT_EQ(dialogs.messages,
              QStringList{QStringLiteral("Vergleichs file fertig unter /elsewhere/DIFFS/S10W020.hgt")});
    EXPECT_TRUE(std::filesystem::exists(diffPath));
}

TEST_F(Form1DiffTest, StopLeavesNoMessageAndTheEarlierTileUntouched)
{
    writeBytes(diffPath, {4, 5, 6});
    type(primary(), q(primaryPath));
    dialogs.fileAnswers = {q(comparisonPath)};
    duringRun([this] {
        if (form->state().posHigh < 1000000)
            return false;
        click(stop());
        return true;
    });
    click(diff());
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(diff()->isEnabled());
    EXPECT_FALSE(form->state().stopRequested);
    EXPECT_EQ(readBytes(diffPath), (Bytes{4, 5, 6}));
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(temp / "tiles/DIFFS"), std::filesystem::directory_iterator()),
        1);
    EXPECT_EQ(lines().size(), 1); // the reports made before the stop
}

TEST_F(Form1DiffTest, MissingComparisonIsNamedAndNothingIsCreated)
{
    type(primary(), q(primaryPath));
    dialogs.fileAnswers = {q(temp / "other/gone.hgt")};
    click(diff());
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].contains(q(temp / "other/gone.hgt")));
    EXPECT_FALSE(dialogs.messages[0].startsWith(QStringLiteral("Vergleichs file fertig")));
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/DIFFS"));
    EXPECT_TRUE(diff()->isEnabled());
}

TEST_F(Form1DiffTest, FillButtonsStayDisabledDuringADifferenceRun)
{
    Bytes withVoid = plainTile(1);
    setVoid(withVoid, 10); // a fill that got in would write Merged/N47E011.hgt
    writeBytes(primaryPath, withVoid);
    writeBytes(temp / "secondary/N47E011.hgt", plainTile(3));
    type(secondary(), q(temp / "secondary"));
    type(primary(), q(primaryPath));
    dialogs.fileAnswers = {q(comparisonPath)};
    bool checked = false;
    duringRun([&] {
        EXPECT_FALSE(command1()->isEnabled());
        EXPECT_FALSE(batch()->isEnabled());
        command1()->setEnabled(true); // a click that reaches the command starts nothing
        click(command1());
        checked = true;
        return true;
    });
    click(diff());
    EXPECT_TRUE(checked);
    EXPECT_EQ(form->state().posHigh, 25934403);
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));
    EXPECT_EQ(dialogs.messages.size(), 1); // the completion message, no "ready"
    EXPECT_TRUE(command1()->isEnabled());
}

} // namespace form1_diff_test
} // namespace hgt::test

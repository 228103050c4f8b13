// The pickers behind clicks into the three path fields, and the folder picker itself.

#include "tests/form1_fixture.h"
#include "app/module_browse_folder.h"

#include <QSettings>

#include <stdexcept>

namespace hgt::test {
namespace form1_picker_test {

class PickerTest : public Form1Test {
protected:
    // A click into a field; its picker opens right after the click has been handled.
    void clickInto(QLineEdit* edit)
    {
        QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(20, 10));
        QCoreApplication::processEvents();
    }

    void remember(const QString& folder)
    {
        QSettings settings(QStringLiteral("Karvel"));
        settings.setValue(QStringLiteral("LastDirZiel"), folder);
    }

    void TearDown() override
    {
        QSettings(QStringLiteral("Karvel")).clear();
        Form1Test::TearDown();
    }
};

TEST_F(PickerTest, PrimaryFileDialogRemembersTheConfirmedFile)
{
    clickInto(primary()); // cancelled before any file was confirmed
    EXPECT_EQ(primary()->text(), QString());
    EXPECT_EQ(dialogs.openFileOffered, QStringList{QString()});

    writeBytes(temp / "tiles/N47E011.hgt", {1});
    dialogs.fileAnswers = {q(temp / "tiles/N47E011.hgt")};
    clickInto(primary());
    EXPECT_EQ(primary()->text(), q(temp / "tiles/N47E011.hgt"));

    type(primary(), QStringLiteral("typed"));
    clickInto(primary()); // cancelled: the file confirmed last comes back
    EXPECT_EQ(primary()->text(), q(temp / "tiles/N47E011.hgt"));
    EXPECT_EQ(dialogs.openFileOffered.last(), q(temp / "tiles/N47E011.hgt"));

    // Any file is taken as it is; the commands check it when they run.
    dialogs.fileAnswers = {QStringLiteral("/somewhere/notes.txt")};
    clickInto(primary());
    EXPECT_EQ(primary()->text(), QStringLiteral("/somewhere/notes.txt"));
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(PickerTest, ReachingAFieldWithTabOpensNothing)
{
    QApplication::setActiveWindow(form.get());
    primary()->setFocus();
    QTest::keyClick(primary(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), secondary());
    EXPECT_TRUE(dialogs.openFileOffered.isEmpty());
    EXPECT_TRUE(dialogs.folderTitles.isEmpty());
}

TEST_F(PickerTest, CancelledBatchFolderPickEmptiesTheFieldAndSaysSo)
{
    writeBytes(temp / "tiles/N47E011.hgt", {1});
    batchFolder()->setText(q(temp / "tiles"));
    ASSERT_TRUE(batch()->isEnabled());
    clickInto(batchFolder());
    EXPECT_EQ(dialogs.folderTitles, QStringList{QStringLiteral("Ordner mit HGT-Files waehlen")});
    EXPECT_EQ(batchFolder()->text(), QString());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("keine HGT-Files im ausgewählten Ordner")});
    EXPECT_FALSE(batch()->isEnabled());

    // The same text written again is no change for Qt, so the test does not run a second time.
    clickInto(batchFolder());
    EXPECT_EQ(dialogs.messages.size(), 1);
}

TEST_F(PickerTest, SecondaryFolderPick)
{
    writeBytes(temp / "secondary/N47E011.hgt", {1});
    dialogs.folderAnswers = {q(temp / "secondary")};
    clickInto(secondary());
    EXPECT_EQ(dialogs.folderTitles, QStringList{QStringLiteral("Primären Ordner waehlen")});
    EXPECT_EQ(secondary()->text(), q(temp / "secondary"));
    EXPECT_TRUE(form->state().secondaryHasTiles);
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_TRUE(batch()->isEnabled());

    clickInto(secondary()); // cancelled: empty, no tiles, but no button changes and no message
    EXPECT_EQ(secondary()->text(), QString());
    EXPECT_FALSE(form->state().secondaryHasTiles);
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_TRUE(batch()->isEnabled());
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(PickerTest, FolderPickerAlwaysOffersTheRememberedFolder)
{
    std::filesystem::create_directories(temp / "remembered");
    std::filesystem::create_directories(temp / "chosen");
    remember(q(temp / "remembered"));
    dialogs.folderAnswers = {q(temp / "chosen"), q(temp / "chosen")};
    clickInto(secondary());
    clickInto(batchFolder());
    EXPECT_EQ(dialogs.folderOffered, (QStringList{q(temp / "remembered"), q(temp / "remembered")}));
    EXPECT_EQ(secondary()->text(), q(temp / "chosen"));

    // Nothing remembered: the picker still opens, with no selection.
    QSettings(QStringLiteral("Karvel")).clear();
    clickInto(secondary());
    EXPECT_EQ(dialogs.folderOffered.last(), QString());
}

TEST_F(PickerTest, ASecondClickCannotOpenASecondPicker)
{
    int opened = 0;
    dialogs.onChooseFolder = [&] {
        ++opened;
        clickInto(batchFolder());
        clickInto(secondary());
        clickInto(primary());
    };
    clickInto(secondary());
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(dialogs.openFileOffered.isEmpty());
}

TEST(BrowseFolder, CancelFailureAndChoice)
{
    TempFolder temp;
    FakeDialogs dialogs;
    int asked = 0;
    auto remembered = [&] {
        ++asked;
        return q(temp / "");
    };
    EXPECT_EQ(ModuleBrowseFolder::BrowseFolder(dialogs, nullptr, QStringLiteral("Titel"), remembered), QString());
    dialogs.folderAnswers = {q(temp / "missing"), QString::fromUtf8(temp.path().string().c_str())};
    EXPECT_EQ(ModuleBrowseFolder::BrowseFolder(dialogs, nullptr, QStringLiteral("Titel"), remembered), QString());
    EXPECT_EQ(ModuleBrowseFolder::BrowseFolder(dialogs, nullptr, QStringLiteral("Titel"), remembered),
              QString::fromUtf8(temp.path().string().c_str()));
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(dialogs.folderTitles, QStringList(3, QStringLiteral("Titel")));

    auto failing = []() -> QString { throw std::runtime_error("store gone"); };
    dialogs.folderAnswers = {QString::fromUtf8(temp.path().string().c_str())};
    EXPECT_EQ(ModuleBrowseFolder::BrowseFolder(dialogs, nullptr, QStringLiteral("Titel"), failing), QString());
}

} // namespace form1_picker_test
} // namespace hgt::test

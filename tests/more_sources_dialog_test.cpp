// The dialog of the further secondary folders: the order its buttons make, scripted through the
// folder picker and the file dialog of the fake dialogs.

#include "tests/fake_dialogs.h"
#include "app/more_sources_dialog.h"
#include "tests/support/tiles.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

namespace hgt::test {
namespace {

using Folders = std::vector<std::string>;

class MoreSourcesDialogTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        dialog.reset();
        for (QWidget* widget : QApplication::topLevelWidgets())
            EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className() << " left open";
    }

    void open(const Folders& folders)
    {
        dialog = std::make_unique<MoreSourcesDialog>(dialogs, folders, nullptr);
        dialog->show();
    }
    QPushButton* button(const char* name) { return dialog->findChild<QPushButton*>(QLatin1String(name)); }
    void select(int row) { dialog->list()->setCurrentRow(row); }
    // Which of remove, up and down can be clicked now.
    std::vector<bool> moves()
    {
        return {button("moreSourcesRemove")->isEnabled(), button("moreSourcesUp")->isEnabled(),
                button("moreSourcesDown")->isEnabled()};
    }

    FakeDialogs dialogs;
    std::unique_ptr<MoreSourcesDialog> dialog;
};

TEST_F(MoreSourcesDialogTest, AddRemoveUpAndDownMakeTheOrder)
{
    open({});
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Weitere Sekundärordner"));
    EXPECT_EQ(moves(), (std::vector<bool>{false, false, false}));

    dialogs.folderAnswers = {QStringLiteral("/data/a"), QStringLiteral("/data/b/"), QStringLiteral("/data/c")};
    for (int i = 0; i < 3; ++i)
        button("moreSourcesAdd")->click();
    EXPECT_EQ(dialog->folders(), (Folders{"/data/a", "/data/b", "/data/c"}));
    // Each pick starts at the folder added last, the first one with nothing selected.
    EXPECT_EQ(dialogs.folderOffered, (QStringList{QString(), QStringLiteral("/data/a"), QStringLiteral("/data/b")}));
    EXPECT_EQ(dialogs.folderTitles, QStringList(3, QStringLiteral("Weiteren Sekundärordner wählen")));
    EXPECT_EQ(dialog->list()->currentRow(), 2);
    EXPECT_EQ(moves(), (std::vector<bool>{true, true, false})); // the last can go up, not down

    button("moreSourcesUp")->click();
    EXPECT_EQ(dialog->folders(), (Folders{"/data/a", "/data/c", "/data/b"}));
    EXPECT_EQ(moves(), (std::vector<bool>{true, true, true}));
    button("moreSourcesUp")->click();
    EXPECT_EQ(dialog->folders(), (Folders{"/data/c", "/data/a", "/data/b"}));
    EXPECT_EQ(moves(), (std::vector<bool>{true, false, true}));
    dialog->moveUp(); // at the top: nothing moves
    EXPECT_EQ(dialog->folders(), (Folders{"/data/c", "/data/a", "/data/b"}));
    button("moreSourcesDown")->click();
    EXPECT_EQ(dialog->folders(), (Folders{"/data/a", "/data/c", "/data/b"}));
    EXPECT_EQ(dialog->list()->currentRow(), 1);

    // Removing keeps a neighbour selected, so that the next click acts on something visible.
    select(2);
    button("moreSourcesRemove")->click();
    EXPECT_EQ(dialog->folders(), (Folders{"/data/a", "/data/c"}));
    EXPECT_EQ(dialog->list()->currentRow(), 1);
    select(0);
    button("moreSourcesRemove")->click();
    EXPECT_EQ(dialog->folders(), (Folders{"/data/c"}));
    EXPECT_EQ(moves(), (std::vector<bool>{true, false, false}));
    button("moreSourcesRemove")->click();
    EXPECT_TRUE(dialog->folders().empty());
    EXPECT_EQ(moves(), (std::vector<bool>{false, false, false}));
    dialog->close();
}

TEST_F(MoreSourcesDialogTest, CancelledOrRepeatedPicksAddNothing)
{
    open({"/data/a", "/data/b"});
    EXPECT_EQ(dialog->list()->currentRow(), 0);
    select(1);
    dialogs.folderAnswers = {QString(), QStringLiteral("/data/a/"), QStringLiteral("/data/./b")};
    button("moreSourcesAdd")->click(); // cancelled
    EXPECT_EQ(dialogs.folderOffered, QStringList{QStringLiteral("/data/b")});
    EXPECT_EQ(dialog->folders(), (Folders{"/data/a", "/data/b"}));
    button("moreSourcesAdd")->click(); // already there: selected, not added twice
    EXPECT_EQ(dialog->folders(), (Folders{"/data/a", "/data/b"}));
    EXPECT_EQ(dialog->list()->currentRow(), 0);
    button("moreSourcesAdd")->click();
    EXPECT_EQ(dialog->folders(), (Folders{"/data/a", "/data/b"}));
    EXPECT_EQ(dialog->list()->currentRow(), 1);
    dialog->close();
}

TEST_F(MoreSourcesDialogTest, OkAndAbbrechen)
{
    open({"/data/a"});
    auto* box = dialog->findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->button(QDialogButtonBox::Ok)->text(), QStringLiteral("OK"));
    EXPECT_EQ(box->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Abbrechen"));
    box->button(QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(dialog->isVisible());
}

// What "Rasterdatei hinzufügen …" makes of each answer of the file dialog, in a list of a folder and a
// raster already; files are named below the test's folder.
struct RasterPick {
    std::string name;
    QString answer;  // null: cancelled
    Folders entries; // the list afterwards
    int selected;    // its selected row
    QString message; // what the user is told, {dir} for the folder; empty: nothing
};

void PrintTo(const RasterPick& pick, std::ostream* os)
{
    *os << pick.name;
}

class RasterFilePick : public MoreSourcesDialogTest, public ::testing::WithParamInterface<RasterPick> {};

TEST_P(RasterFilePick, AddsReadableRastersOnce)
{
    const RasterPick& pick = GetParam();
    TempFolder temp;
    writeBytes(temp / "dem/a.tif", {1});
    writeBytes(temp / "dem/b.VRT", {1});
    writeBytes(temp / "dem/notes.txt", {1});
    const auto here = [&](const std::string& path) { return path.empty() || path[0] == '/' ? path : temp / path; };
    open({"/data/hgt", temp / "dem/a.tif"});
    select(0);
    dialogs.fileAnswers = {pick.answer.isNull() ? QString() : QString::fromStdString(here(pick.answer.toStdString()))};
    button("moreSourcesAddRaster")->click();

    Folders expected;
    for (const std::string& entry : pick.entries)
        expected.push_back(here(entry));
    EXPECT_EQ(dialog->folders(), expected);
    EXPECT_EQ(dialog->list()->currentRow(), pick.selected);
    QString message = pick.message;
    message.replace(QStringLiteral("{dir}"), QString::fromStdString(temp.path().string()));
    EXPECT_EQ(dialogs.messages, message.isEmpty() ? QStringList{} : QStringList{message});
    // The file dialog starts at the selected entry and offers the raster kinds first, then every file.
    EXPECT_EQ(dialogs.openFileOffered, QStringList{QStringLiteral("/data/hgt")});
    EXPECT_EQ(dialogs.openFileFilters,
              (QStringList{QStringLiteral("Rasterdateien (*.tif *.tiff *.vrt *.img *.TIF *.TIFF *.VRT *.IMG)"),
                           QStringLiteral("GeoTIFF (*.tif *.tiff *.TIF *.TIFF)"), QStringLiteral("VRT (*.vrt *.VRT)"),
                           QStringLiteral("IMG (*.img *.IMG)"), QStringLiteral("Alle Dateien (*)")}));
    dialog->close();
}

INSTANTIATE_TEST_SUITE_P(
    MoreSourcesDialog, RasterFilePick,
    ::testing::Values(
        RasterPick{"VrtAppended", QStringLiteral("dem/b.VRT"), {"/data/hgt", "dem/a.tif", "dem/b.VRT"}, 2, {}},
        RasterPick{"Cancelled", QString(), {"/data/hgt", "dem/a.tif"}, 0, {}},
        RasterPick{"AlreadyListedIsSelected", QStringLiteral("dem/./a.tif"), {"/data/hgt", "dem/a.tif"}, 1, {}},
        RasterPick{"OtherFileRefused",
                   QStringLiteral("dem/notes.txt"),
                   {"/data/hgt", "dem/a.tif"},
                   0,
                   QStringLiteral("{dir}/dem/notes.txt ist keine Rasterdatei, die hgtfill lesen kann.")},
        RasterPick{"GoneFileRefused",
                   QStringLiteral("dem/gone.tif"),
                   {"/data/hgt", "dem/a.tif"},
                   0,
                   QStringLiteral("{dir}/dem/gone.tif ist keine Rasterdatei, die hgtfill lesen kann.")}),
    [](const auto& info) { return info.param.name; });

TEST_F(MoreSourcesDialogTest, FoldersAndRasterFilesShareOneOrder)
{
    TempFolder temp;
    writeBytes(temp / "cop/x.tif", {1});
    open({});
    dialogs.folderAnswers = {QStringLiteral("/data/hgt"), QString::fromStdString(temp / "cop")};
    dialogs.fileAnswers = {QString::fromStdString(temp / "cop/x.tif")};
    button("moreSourcesAdd")->click();
    button("moreSourcesAddRaster")->click();
    button("moreSourcesAdd")->click(); // a folder of rasters is an entry like any folder
    EXPECT_EQ(dialog->folders(), (Folders{"/data/hgt", temp / "cop/x.tif", temp / "cop"}));
    EXPECT_EQ(dialogs.folderOffered, (QStringList{QString(), QString::fromStdString(temp / "cop/x.tif")}));
    select(1);
    button("moreSourcesDown")->click();
    EXPECT_EQ(dialog->folders(), (Folders{"/data/hgt", temp / "cop", temp / "cop/x.tif"}));
    dialog->close();
}

} // namespace
} // namespace hgt::test

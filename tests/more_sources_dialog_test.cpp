// The dialog of the further secondary folders: the order its buttons make, scripted through the
// folder picker and the file dialog of the fake dialogs.

#include "tests/fake_dialogs.h"
#include "app/more_sources_dialog.h"
#include "tests/support/tiles.h"

#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <QDialogButtonBox>
#include <QTableWidget>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>
#include <ranges>

namespace hgt::test {
namespace more_sources_dialog_test {

using Folders = std::vector<std::string>;
using Sources = std::vector<FurtherSource>;

class MoreSourcesDialogTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        dialog.reset();
        for (QWidget* widget : QApplication::topLevelWidgets())
            EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className() << " left open";
    }

    void open(const Sources& sources)
    {
        dialog = std::make_unique<MoreSourcesDialog>(dialogs, sources, nullptr);
        dialog->show();
    }
    Folders folders() const
    {
        auto paths = dialog->sources() | std::views::transform(&FurtherSource::path);
        return {paths.begin(), paths.end()};
    }
    QPushButton* button(const char* name) { return dialog->findChild<QPushButton*>(QLatin1String(name)); }
    void select(int row) { dialog->selectRow(row); }
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
    EXPECT_EQ(folders(), (Folders{"/data/a", "/data/b", "/data/c"}));
    // Each pick starts at the folder added last, the first one with nothing selected.
    EXPECT_EQ(dialogs.folderOffered, (QStringList{QString(), QStringLiteral("/data/a"), QStringLiteral("/data/b")}));
    EXPECT_EQ(dialogs.folderTitles, QStringList(3, QStringLiteral("Weiteren Sekundärordner wählen")));
    EXPECT_EQ(dialog->list()->currentRow(), 2);
    EXPECT_EQ(moves(), (std::vector<bool>{true, true, false})); // the last can go up, not down

    button("moreSourcesUp")->click();
    EXPECT_EQ(folders(), (Folders{"/data/a", "/data/c", "/data/b"}));
    EXPECT_EQ(moves(), (std::vector<bool>{true, true, true}));
    button("moreSourcesUp")->click();
    EXPECT_EQ(folders(), (Folders{"/data/c", "/data/a", "/data/b"}));
    EXPECT_EQ(moves(), (std::vector<bool>{true, false, true}));
    dialog->moveUp(); // at the top: nothing moves
    EXPECT_EQ(folders(), (Folders{"/data/c", "/data/a", "/data/b"}));
    button("moreSourcesDown")->click();
    EXPECT_EQ(folders(), (Folders{"/data/a", "/data/c", "/data/b"}));
    EXPECT_EQ(dialog->list()->currentRow(), 1);

    // Removing keeps a neighbour selected, so that the next click acts on something visible.
    select(2);
    button("moreSourcesRemove")->click();
    EXPECT_EQ(folders(), (Folders{"/data/a", "/data/c"}));
    EXPECT_EQ(dialog->list()->currentRow(), 1);
    select(0);
    button("moreSourcesRemove")->click();
    EXPECT_EQ(folders(), (Folders{"/data/c"}));
    EXPECT_EQ(moves(), (std::vector<bool>{true, false, false}));
    button("moreSourcesRemove")->click();
    EXPECT_TRUE(folders().empty());
    EXPECT_EQ(moves(), (std::vector<bool>{false, false, false}));
    dialog->close();
}

TEST_F(MoreSourcesDialogTest, CancelledOrRepeatedPicksAddNothing)
{
    open({{"/data/a", ""}, {"/data/b", ""}});
    EXPECT_EQ(dialog->list()->currentRow(), 0);
    select(1);
    dialogs.folderAnswers = {QString(), QStringLiteral("/data/a/"), QStringLiteral("/data/./b")};
    button("moreSourcesAdd")->click(); // cancelled
    EXPECT_EQ(dialogs.folderOffered, QStringList{QStringLiteral("/data/b")});
    EXPECT_EQ(folders(), (Folders{"/data/a", "/data/b"}));
    button("moreSourcesAdd")->click(); // already there: selected, not added twice
    EXPECT_EQ(folders(), (Folders{"/data/a", "/data/b"}));
    EXPECT_EQ(dialog->list()->currentRow(), 0);
    button("moreSourcesAdd")->click();
    EXPECT_EQ(folders(), (Folders{"/data/a", "/data/b"}));
    EXPECT_EQ(dialog->list()->currentRow(), 1);
    dialog->close();
}

TEST_F(MoreSourcesDialogTest, OkAndAbbrechen)
{
    open({{"/data/a", ""}});
    auto* box = dialog->findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->button(QDialogButtonBox::Ok)->text(), QStringLiteral("OK"));
    EXPECT_EQ(box->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Abbrechen"));
    box->button(QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(dialog->isVisible());
}

// "Rasterdatei hinzufügen …" takes readable rasters into the folders' order, once each: a cancel, a
// file listed already (selected) and files no raster (refused, said so) add nothing.
TEST_F(MoreSourcesDialogTest, RasterFilesJoinTheFoldersInOneOrder)
{
    TempFolder temp;
    const auto at = [&](const char* path) { return QString::fromStdString(temp / path); };
    for (const char* file : {"dem/a.tif", "dem/b.VRT", "dem/notes.txt"})
        writeBytes(temp / file, {1});
    open({{"/data/hgt", ""}});
    dialogs.fileAnswers = {at("dem/a.tif"),     QString(),          at("dem/./a.tif"),
                           at("dem/notes.txt"), at("dem/gone.tif"), at("dem/b.VRT")};
    dialogs.folderAnswers = {at("dem")};
    const auto addRaster = [&] { button("moreSourcesAddRaster")->click(); };
    addRaster();
    select(0);
    addRaster(); // cancelled
    EXPECT_EQ(dialog->list()->currentRow(), 0);
    addRaster();
    EXPECT_EQ(dialog->list()->currentRow(), 1);
    addRaster();
    addRaster();
    EXPECT_EQ(folders(), (Folders{"/data/hgt", temp / "dem/a.tif"}));
    EXPECT_EQ(dialog->list()->currentRow(), 1);
    const QString refused = QStringLiteral(" ist keine Rasterdatei, die hgtfill lesen kann.");
    EXPECT_EQ(dialogs.messages, (QStringList{at("dem/notes.txt") + refused, at("dem/gone.tif") + refused}));
    addRaster();
    button("moreSourcesAdd")->click(); // a folder of rasters is an entry like any folder
    // Each pick starts at the selected entry.
    EXPECT_EQ(dialogs.openFileOffered,
              (QStringList{QStringLiteral("/data/hgt"), QStringLiteral("/data/hgt"), QStringLiteral("/data/hgt"),
                           at("dem/a.tif"), at("dem/a.tif"), at("dem/a.tif")}));
    EXPECT_EQ(dialogs.folderOffered, QStringList{at("dem/b.VRT")});
    EXPECT_EQ(folders(), (Folders{"/data/hgt", temp / "dem/a.tif", temp / "dem/b.VRT", temp / "dem"}));
    select(1);
    button("moreSourcesDown")->click();
    EXPECT_EQ(folders(), (Folders{"/data/hgt", temp / "dem/b.VRT", temp / "dem/a.tif", temp / "dem"}));
    dialog->close();
}

// The column "Höhenbezug": none by default, moved with its source, typed or picked, what is no datum
// refused; through the table's own editor too.
TEST_F(MoreSourcesDialogTest, EachSourceKeepsItsDatum)
{
    open({{"/data/a", "egm2008"}, {"/data/b", "no datum"}});
    EXPECT_EQ(dialog->sources(), (Sources{{"/data/a", "egm2008"}, {"/data/b", ""}}));
    EXPECT_EQ(dialog->list()->item(1, 1)->text(), QStringLiteral("—"));
    dialogs.folderAnswers = {QStringLiteral("/data/c")};
    button("moreSourcesAdd")->click();
    EXPECT_EQ(dialog->sources(), (Sources{{"/data/a", "egm2008"}, {"/data/b", ""}, {"/data/c", ""}}));

    EXPECT_TRUE(dialog->setDatum(2, QStringLiteral("Ellipsoid (WGS 84)")));
    EXPECT_TRUE(dialog->setDatum(1, QStringLiteral(" epsg:7837+5773 ")));
    EXPECT_FALSE(dialog->setDatum(1, QStringLiteral("48 m")));
    EXPECT_FALSE(dialog->setDatum(3, QStringLiteral("egm96")));
    EXPECT_EQ(dialogs.messages,
              QStringList{QStringLiteral(
                  "„48 m“ ist kein Höhenbezug: EGM96, EGM2008, Ellipsoid (WGS 84) oder ein Code wie EPSG:7837.")});
    select(0);
    button("moreSourcesDown")->click();
    EXPECT_EQ(dialog->sources(),
              (Sources{{"/data/b", "EPSG:7837+5773"}, {"/data/a", "egm2008"}, {"/data/c", "ellipsoid"}}));

    QTableWidget* table = dialog->list();
    table->setCurrentCell(0, 1);
    table->edit(table->currentIndex());
    auto* editor = table->findChild<QComboBox*>();
    ASSERT_NE(editor, nullptr);
    editor->setCurrentText(QStringLiteral("—"));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the editor commits through the event queue
    EXPECT_EQ(dialog->sources(), (Sources{{"/data/b", ""}, {"/data/a", "egm2008"}, {"/data/c", "ellipsoid"}}));
    EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("—"));
    dialog->close();
}

} // namespace more_sources_dialog_test
} // namespace hgt::test

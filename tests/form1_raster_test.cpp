// Raster files among the further sources of the window: added in the dialog, opened through the
// plugin when a run starts, asked after the window's own secondary folder. The rasters are VRT files
// over raw Int16 samples, so that this binary writes them without GDAL.

#include "tests/form1_fixture.h"
#include "tests/options_store.h"
#include "tests/support/tiles.h"
#include "app/more_sources_dialog.h"
#include "rasters/raster_sources.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QPushButton>

#include <fstream>
#include <sstream>

namespace hgt::test {
namespace {

constexpr std::int64_t kSide = kTileSide3;

// The raster's heights: pixel centres on the nodes of N47E011's 3" grid, so that each sample is a pixel.
std::int16_t rasterHeight(std::int64_t r, std::int64_t c)
{
    return static_cast<std::int16_t>(2000 + (r * 7 + c * 3) % 500);
}

bool rasterHole(std::int64_t r, std::int64_t c)
{
    return r >= 150 && r < 200 && c >= 250 && c < 300;
}

// A 1201 x 1201 raster with its south-west pixel centred on (west, south), nodata -32768 in the hole.
void writeRaster(const std::string& vrt, double west, double south)
{
    const std::string raw = vrt + ".raw";
    Bytes samples(static_cast<std::size_t>(kSide * kSide * 2));
    for (std::int64_t r = 0; r < kSide; ++r)
        for (std::int64_t c = 0; c < kSide; ++c) {
            const auto value = static_cast<std::uint16_t>(rasterHole(r, c) ? -32768 : rasterHeight(r, c));
            samples[static_cast<std::size_t>(2 * (r * kSide + c))] = static_cast<std::uint8_t>(value & 0xFF);
            samples[static_cast<std::size_t>(2 * (r * kSide + c) + 1)] = static_cast<std::uint8_t>(value >> 8);
        }
    writeBytes(raw, samples);
    const double pixel = 1.0 / (kSide - 1);
    std::ostringstream xml;
    xml.precision(17);
    xml << "<VRTDataset rasterXSize=\"" << kSide << "\" rasterYSize=\"" << kSide << "\">\n"
        << "  <SRS>EPSG:4326</SRS>\n"
        << "  <GeoTransform>" << west - pixel / 2 << ", " << pixel << ", 0, " << south + 1 + pixel / 2 << ", 0, "
        << -pixel << "</GeoTransform>\n"
        << "  <VRTRasterBand dataType=\"Int16\" band=\"1\" subClass=\"VRTRawRasterBand\">\n"
        << "    <NoDataValue>-32768</NoDataValue>\n"
        << "    <SourceFilename relativeToVRT=\"1\">" << std::filesystem::path(raw).filename().string()
        << "</SourceFilename>\n"
        << "    <ImageOffset>0</ImageOffset><PixelOffset>2</PixelOffset><LineOffset>" << 2 * kSide
        << "</LineOffset><ByteOrder>LSB</ByteOrder>\n"
        << "  </VRTRasterBand>\n</VRTDataset>\n";
    const std::string text = xml.str();
    writeBytes(vrt, Bytes(text.begin(), text.end()));
}

bool processHasMapped(const std::string& part)
{
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

class Form1Rasters : public MainWindowTest {
protected:
    void SetUp() override
    {
        removeOptionsStore();
        MainWindowTest::SetUp();
    }
    void TearDown() override
    {
        MainWindowTest::TearDown();
        removeOptionsStore();
    }

    // Optionen → Weitere Sekundärordner …: each entry through its button (files ending in .vrt or
    // .tif through "Rasterdatei hinzufügen …", folders through "Hinzufügen …"), then OK.
    void setMoreSources(const std::vector<std::string>& entries)
    {
        window->findChild<QAction*>(QStringLiteral("actionMoreSources"))->trigger();
        auto* dialog = window->findChild<MoreSourcesDialog*>();
        ASSERT_NE(dialog, nullptr);
        for (const std::string& entry : entries) {
            const bool file = entry.ends_with(".vrt") || entry.ends_with(".tif");
            (file ? dialogs.fileAnswers : dialogs.folderAnswers) << q(entry);
            dialog
                ->findChild<QPushButton*>(file ? QStringLiteral("moreSourcesAddRaster")
                                               : QStringLiteral("moreSourcesAdd"))
                ->click();
        }
        EXPECT_EQ(dialog->folders(), entries);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        QCoreApplication::processEvents();
        ASSERT_EQ(controls().runOptions().moreSecondaryFolders, entries);
    }

    // A 3" primary with a void block; the window's secondary tile is void over the block's eastern half.
    void writeTiles()
    {
        primaryTile = plainTile(1, kSide);
        secondaryTile = plainTile(2, kSide);
        for (std::int64_t r = 100; r < 200; ++r)
            for (std::int64_t c = 100; c < 300; ++c) {
                setVoid(primaryTile, r * kSide + c);
                if (c >= 200)
                    setVoid(secondaryTile, r * kSide + c);
            }
        writeBytes(temp / "tiles/N47E011.hgt", primaryTile);
        writeBytes(temp / "secondary/N47E011.hgt", secondaryTile);
    }

    Bytes primaryTile;
    Bytes secondaryTile;
};

TEST_F(Form1Rasters, RasterFileFromTheDialogFillsWhatTheSecondaryFolderLeaves)
{
    writeTiles();
    writeRaster(temp / "dem/n47e011.vrt", 11, 47);
    setMoreSources({temp / "dem/n47e011.vrt"});
    type(secondary(), q(temp / "secondary"));
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    click(command1());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});

    // The window's secondary folder first, then the raster; the raster's nodata stays a void.
    Bytes expected = primaryTile;
    for (std::int64_t r = 100; r < 200; ++r)
        for (std::int64_t c = 100; c < 300; ++c) {
            const std::int64_t k = r * kSide + c;
            if (c < 200)
                setValue(expected, k, sampleAt(secondaryTile, k));
            else if (!rasterHole(r, c))
                setValue(expected, k, rasterHeight(r, c));
        }
    EXPECT_TRUE(sameTile(readBytes(temp / "tiles/Merged/N47E011.hgt"), expected));
    EXPECT_TRUE(RasterPluginLoaded());
}

// A raster entry that cannot be opened fails the run before it starts, naming the file; nothing is written.
struct BrokenEntry {
    std::string name;
    bool batch;
    std::function<void(const TempFolder&)> spoil; // after the entry was added in the dialog
    std::string message;                          // its beginning; {file} for the entry's path
};

void PrintTo(const BrokenEntry& entry, std::ostream* os)
{
    *os << entry.name;
}

class Form1BrokenRaster : public Form1Rasters, public ::testing::WithParamInterface<BrokenEntry> {};

TEST_P(Form1BrokenRaster, FailsTheRunNamingTheFile)
{
    const BrokenEntry& c = GetParam();
    writeTiles();
    writeBytes(temp / "dem/x.tif", {'n', 'o'});
    setMoreSources({temp / "dem/x.tif"});
    c.spoil(temp);
    type(secondary(), q(temp / "secondary"));
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    batchFolder()->setText(q(temp / "tiles"));
    click(c.batch ? batch() : command1());

    QString message = q(c.message);
    message.replace(QStringLiteral("{file}"), q(temp / "dem/x.tif"));
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.messages.join(u'|').toStdString();
    EXPECT_TRUE(dialogs.messages[0].startsWith(message)) << dialogs.messages[0].toStdString();
    EXPECT_TRUE(dialogs.messages[0].contains(q(temp / "dem/x.tif"))) << dialogs.messages[0].toStdString();
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));
    EXPECT_TRUE(lines().isEmpty());
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_TRUE(batch()->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Window, Form1BrokenRaster,
    ::testing::Values(BrokenEntry{"NoRasterSingleFill", false, [](const TempFolder&) {},
                                  "Die Datei {file} ist kein georeferenziertes Raster: "},
                      BrokenEntry{"NoRasterBatch", true, [](const TempFolder&) {},
                                  "Die Datei {file} ist kein georeferenziertes Raster: "},
                      BrokenEntry{"GoneSingleFill", false,
                                  [](const TempFolder& t) { std::filesystem::remove(t / "dem/x.tif"); },
                                  "Die Rasterquelle {file} gibt es nicht."},
                      BrokenEntry{"GoneBatch", true,
                                  [](const TempFolder& t) { std::filesystem::remove(t / "dem/x.tif"); },
                                  "Die Rasterquelle {file} gibt es nicht."}),
    [](const auto& info) { return info.param.name; });

// GDAL costs a start a tenth of a second and much memory: runs of HGT folders never load it.
TEST_F(Form1Rasters, HgtFoldersAloneNeverLoadTheRasterPlugin)
{
    if (RasterPluginLoaded())
        GTEST_SKIP() << "an earlier test of this process loaded the plugin (ctest runs each test alone)";
    writeTiles();
    writeBytes(temp / "more/N47E011.hgt", plainTile(3, kSide));
    setMoreSources({temp / "more"});
    type(secondary(), q(temp / "secondary"));
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    click(command1());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});
    EXPECT_TRUE(std::filesystem::exists(temp / "tiles/Merged/N47E011.hgt"));
    EXPECT_FALSE(RasterPluginLoaded());
    EXPECT_FALSE(processHasMapped("hgtfill_rasters_plugin"));
    EXPECT_FALSE(processHasMapped("libgdal"));
}

} // namespace
} // namespace hgt::test

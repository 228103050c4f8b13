// Raster files among the further sources of the window: added in the dialog, opened through the
// plugin when a run starts, asked after the window's own secondary folder. The rasters are VRT files
// over raw Int16 samples, so that this binary writes them without GDAL.

#include "tests/form1_fixture.h"
#include "tests/options_store.h"
#include "tests/support/proj_folder.h"
#include "tests/support/reference_fill.h"
#include "app/more_sources_dialog.h"
#include "rasters/raster_sources.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QPushButton>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace hgt::test {
namespace form1_raster_test {

constexpr std::int64_t kSide = kTileSide3;

// A 3" tile as a raster: its big-endian samples raw behind a VRT, pixel centres on the nodes of
// N47E011's grid, -32768 as nodata.
void writeRaster(const std::string& vrt, const Bytes& tile)
{
    writeBytes(vrt + ".raw", tile);
    const double pixel = 1.0 / (kSide - 1);
    std::ostringstream xml;
    xml.precision(17);
    xml << "<VRTDataset rasterXSize=\"" << kSide << "\" rasterYSize=\"" << kSide << "\"><SRS>EPSG:4326</SRS>"
        << "<GeoTransform>" << 11 - pixel / 2 << ", " << pixel << ", 0, " << 48 + pixel / 2 << ", 0, " << -pixel
        << "</GeoTransform><VRTRasterBand dataType=\"Int16\" band=\"1\" subClass=\"VRTRawRasterBand\">"
        << "<NoDataValue>-32768</NoDataValue><SourceFilename relativeToVRT=\"1\">"
        << std::filesystem::path(vrt).filename().string() << ".raw</SourceFilename><ImageOffset>0</ImageOffset>"
        << "<PixelOffset>2</PixelOffset><LineOffset>" << 2 * kSide << "</LineOffset><ByteOrder>MSB</ByteOrder>"
        << "</VRTRasterBand></VRTDataset>\n";
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

// A 3" primary with a void block, and the window's secondary tile void over the block's eastern half.
class Form1Rasters : public MainWindowOptionsTest {
protected:
    void SetUp() override
    {
        MainWindowOptionsTest::SetUp();
        for (std::int64_t r = 100; r < 200; ++r)
            for (std::int64_t c = 100; c < 300; ++c) {
                setVoid(primaryTile, r * kSide + c);
                if (c >= 200)
                    setVoid(secondaryTile, r * kSide + c);
            }
        writeBytes(temp / "tiles/N47E011.hgt", primaryTile);
        writeBytes(temp / "secondary/N47E011.hgt", secondaryTile);
        type(secondary(), q(temp / "secondary"));
        type(primary(), q(temp / "tiles/N47E011.hgt"));
    }
    // Optionen → Weitere Sekundärordner …: raster files through "Rasterdatei hinzufügen …", folders
    // through "Hinzufügen …", then OK.
    void setMoreSources(const std::vector<std::string>& entries, const QStringList& datums = {})
    {
        window->findChild<QAction*>(QStringLiteral("actionMoreSources"))->trigger();
        auto* dialog = window->findChild<MoreSourcesDialog*>();
        ASSERT_NE(dialog, nullptr);
        for (const std::string& entry : entries) {
            const bool file = entry.ends_with(".vrt") || entry.ends_with(".tif");
            (file ? dialogs.fileAnswers : dialogs.folderAnswers) << q(entry);
            const QString name = file ? QStringLiteral("moreSourcesAddRaster") : QStringLiteral("moreSourcesAdd");
            dialog->findChild<QPushButton*>(name)->click();
        }
        for (int row = 0; row < datums.size(); ++row)
            ASSERT_TRUE(dialog->setDatum(row, datums[row])) << datums[row].toStdString();
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        QCoreApplication::processEvents();
        ASSERT_TRUE(std::ranges::equal(controls().runOptions().moreSources, entries, {}, &FurtherSource::path));
    }

    Bytes primaryTile = plainTile(1, kSide);
    Bytes secondaryTile = plainTile(2, kSide);
};

// The window's secondary folder first, then the raster; the raster's nodata stays a void.
TEST_F(Form1Rasters, RasterFileFromTheDialogFillsWhatTheSecondaryFolderLeaves)
{
    const Bytes raster = makeTile(kSide, [](std::int64_t r, std::int64_t c) {
        return r >= 150 && r < 200 && c >= 250 && c < 300 ? -32768 : 2000 + (r * 7 + c * 3) % 500;
    });
    writeRaster(temp / "dem/n47e011.vrt", raster);
    setMoreSources({temp / "dem/n47e011.vrt"});
    click(command1());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});
    const Bytes expected = fillModel(primaryTile, {&secondaryTile, &raster}, {kVoidValue, -32768}).tile;
    EXPECT_TRUE(sameTile(readBytes(temp / "tiles/Merged/N47E011.hgt"), expected));
    EXPECT_TRUE(RasterPluginLoaded());
}

// A raster entry that cannot be opened fails the run before it starts, naming the file; nothing is
// written. A single fill and a batch ask the same way: one of each, with a different fault.
TEST_F(Form1Rasters, UnopenableRasterFailsTheRunNamingTheFile)
{
    const std::string file = temp / "dem/x.tif";
    writeBytes(file, {'n', 'o'});
    setMoreSources({file});
    batchFolder()->setText(q(temp / "tiles"));
    click(command1());
    std::filesystem::remove(file);
    click(batch());

    ASSERT_EQ(dialogs.messages.size(), 2) << dialogs.messages.join(u'|').toStdString();
    EXPECT_TRUE(dialogs.messages[0].startsWith(q("Die Datei " + file + " ist kein georeferenziertes Raster: ")))
        << dialogs.messages[0].toStdString();
    EXPECT_TRUE(dialogs.messages[1].startsWith(q("Die Rasterquelle " + file + " gibt es nicht.")))
        << dialogs.messages[1].toStdString();
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));
    EXPECT_TRUE(lines().isEmpty());
    EXPECT_TRUE(command1()->isEnabled() && batch()->isEnabled());
}

// A datum chosen in the dialog reaches the run: where the grid it needs is missing, the fill is refused
// before it writes anything, naming the grid; a further folder in ellipsoidal heights comes down by
// the geoid (47 to 48 m here), while the window's own secondary folder is taken as it stands.
TEST_F(Form1Rasters, ChosenDatumsConvertTheirSourceOrRefuseTheRun)
{
    const std::filesystem::path proj = UsePrivateProjFolder("hgt-form1-datum", false);
    const Bytes more = plainTile(3, kSide);
    writeBytes(temp / "more/N47E011.hgt", more);

    setMoreSources({temp / "more"}, {QStringLiteral("EGM2008")});
    click(command1());
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("us_nga_egm08_25.tif")))
        << dialogs.messages[0].toStdString();
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));

    dialogs.messages.clear();
    setMoreSources({temp / "more"}, {QStringLiteral("Ellipsoid (WGS 84)")});
    click(command1());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});
    const Bytes filled = readBytes(temp / "tiles/Merged/N47E011.hgt");
    ASSERT_EQ(filled.size(), primaryTile.size());
    const auto at = [](const Bytes& tile, std::int64_t k) {
        return static_cast<std::int16_t>(tile[2 * k] << 8 | tile[2 * k + 1]);
    };
    int fromSecondary = 0, converted = 0;
    for (std::int64_t r = 100; r < 200; ++r)
        for (std::int64_t c = 100; c < 300; ++c) {
            const std::int64_t k = r * kSide + c;
            fromSecondary += c < 200 && at(filled, k) == at(secondaryTile, k);
            const int shift = at(filled, k) - at(more, k);
            converted += c >= 200 && shift >= -49 && shift <= -46;
        }
    EXPECT_EQ(fromSecondary, 100 * 100);
    EXPECT_EQ(converted, 100 * 100);
    std::filesystem::remove_all(proj);
}

// GDAL costs a start a tenth of a second and much memory: runs of HGT folders never load it.
TEST_F(Form1Rasters, HgtFoldersAloneNeverLoadTheRasterPlugin)
{
    if (RasterPluginLoaded())
        GTEST_SKIP() << "an earlier test of this process loaded the plugin (ctest runs each test alone)";
    writeBytes(temp / "more/N47E011.hgt", plainTile(3, kSide));
    setMoreSources({temp / "more"});
    click(command1());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("ready")});
    EXPECT_TRUE(std::filesystem::exists(temp / "tiles/Merged/N47E011.hgt"));
    EXPECT_FALSE(RasterPluginLoaded());
    EXPECT_FALSE(processHasMapped("libgdal"));
}

} // namespace form1_raster_test
} // namespace hgt::test

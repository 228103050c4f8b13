// The Optionen choices in the program's own settings: where they live, what a fresh store gives,
// what a round trip keeps, what a damaged entry falls back to, and a store that cannot be written.

#include "tests/options_store.h"
#include "tests/support/tiles.h"

#include <QDir>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace hgt::test {
namespace run_options_settings_test {

class RunOptionsSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { removeOptionsStore(); }
    void TearDown() override { removeOptionsStore(); }

    static void writeRaw(const QString& key, const QVariant& value)
    {
        QSettings store(RunOptionsSettings::location(), QSettings::IniFormat);
        store.setValue(key, value);
        store.sync();
        ASSERT_EQ(store.status(), QSettings::NoError);
    }
};

TEST_F(RunOptionsSettingsTest, FreshStoreGivesTheDefaultsAndStaysInTheTestRunsFolder)
{
    // Never the user's own settings: the store lies in the folder of this test run.
    ASSERT_FALSE(configHome().isEmpty());
    EXPECT_NE(QDir(configHome()).absolutePath(), QDir::home().absoluteFilePath(QStringLiteral(".config")));
    EXPECT_EQ(RunOptionsSettings::location(), configHome() + QStringLiteral("/hgtfill/hgtfill.conf"));

    const WindowOptions defaults;
    const WindowOptions loaded = RunOptionsSettings::load();
    EXPECT_EQ(loaded.voidValues, (std::vector<std::int16_t>{-9999}));
    EXPECT_TRUE(loaded.moreSources.empty());
    EXPECT_EQ(loaded.method, FillMethod::Copy);
    EXPECT_EQ(loaded.voidValues, defaults.voidValues);

    // What the store does not hold comes from the caller, untouched.
    WindowOptions given;
    given.durable = false;
    given.blockBytes = 4096;
    given.voidValues = {-32767};
    const WindowOptions kept = RunOptionsSettings::load(given);
    EXPECT_FALSE(kept.durable);
    EXPECT_EQ(kept.blockBytes, 4096u);
    EXPECT_EQ(kept.voidValues, (std::vector<std::int16_t>{-32767}));
    EXPECT_FALSE(QFileInfo::exists(RunOptionsSettings::location())) << "reading must not create the store";
}

TEST_F(RunOptionsSettingsTest, RoundTripKeepsEveryChoiceAndLeavesTheOtherStoreAlone)
{
    WindowOptions options;
    options.voidValues = {-32767, -32768}; // stored and read back in the menu's order
    options.moreSources = {{"/data/srtm, alt", ""}, {"/data/Höhen/aster", ""}, {"/data/x", ""}};
    options.method = FillMethod::Delta;
    ASSERT_TRUE(RunOptionsSettings::save(options));

    const WindowOptions loaded = RunOptionsSettings::load();
    EXPECT_EQ(loaded.voidValues, (std::vector<std::int16_t>{-32768, -32767}));
    EXPECT_EQ(loaded.moreSources, options.moreSources);
    EXPECT_EQ(loaded.method, FillMethod::Delta);

    // One folder alone is a list of one, not a text split at its comma.
    options.moreSources = {{"/data/srtm, alt", ""}};
    ASSERT_TRUE(RunOptionsSettings::save(options));
    EXPECT_EQ(RunOptionsSettings::load().moreSources, options.moreSources);

    EXPECT_FALSE(QFileInfo::exists(configHome() + QStringLiteral("/Karvel.conf")));
    EXPECT_FALSE(QFileInfo::exists(configHome() + QStringLiteral("/Karvel")));
}

TEST_F(RunOptionsSettingsTest, ChoicesBackAtTheirDefaultsLeaveNoEntries)
{
    WindowOptions options;
    options.voidValues = {-9999, -32768};
    options.moreSources = {{"/a", ""}};
    options.method = FillMethod::Delta;
    ASSERT_TRUE(RunOptionsSettings::save(options));
    EXPECT_EQ(QSettings(RunOptionsSettings::location(), QSettings::IniFormat).childKeys().size(), 3);

    ASSERT_TRUE(RunOptionsSettings::save(WindowOptions{}));
    EXPECT_TRUE(QSettings(RunOptionsSettings::location(), QSettings::IniFormat).childKeys().isEmpty());
    const WindowOptions loaded = RunOptionsSettings::load();
    EXPECT_EQ(loaded.voidValues, WindowOptions{}.voidValues);
    EXPECT_TRUE(loaded.moreSources.empty());
    EXPECT_EQ(loaded.method, FillMethod::Copy);
}

TEST_F(RunOptionsSettingsTest, EntriesThisVersionDoesNotKnowKeepTheGivenChoice)
{
    // No void value it knows: the default stays; known ones among unknown ones count.
    writeRaw(QStringLiteral("voidValues"), QStringList{QStringLiteral("12"), QStringLiteral("abc")});
    writeRaw(QStringLiteral("fillMethod"), QStringLiteral("spline"));
    writeRaw(QStringLiteral("moreSecondaryFolders"), QStringList{QString(), QStringLiteral("/b")});
    WindowOptions loaded = RunOptionsSettings::load();
    EXPECT_EQ(loaded.voidValues, (std::vector<std::int16_t>{-9999}));
    EXPECT_EQ(loaded.method, FillMethod::Copy);
    EXPECT_EQ(loaded.moreSources, (std::vector<FurtherSource>{{"/b", ""}}));

    writeRaw(QStringLiteral("voidValues"),
             QStringList{QStringLiteral("-32767"), QStringLiteral("5"), QStringLiteral("-32767")});
    WindowOptions delta;
    delta.method = FillMethod::Delta;
    loaded = RunOptionsSettings::load(delta);
    EXPECT_EQ(loaded.voidValues, (std::vector<std::int16_t>{-32767}));
    EXPECT_EQ(loaded.method, FillMethod::Delta);
}

// The datums beside the folders and the tiles' datum: a round trip, a store from before them, and
// entries no datum could have written.
TEST_F(RunOptionsSettingsTest, DatumsTravelWithTheirFoldersAndHostileOnesCountAsNone)
{
    WindowOptions options;
    options.moreSources = {{"/a", "egm2008"}, {"/b, c", "EPSG:4326+5773"}, {"/d", ""}};
    options.tileDatum = "ellipsoid";
    ASSERT_TRUE(RunOptionsSettings::save(options));
    WindowOptions loaded = RunOptionsSettings::load();
    EXPECT_EQ(loaded.moreSources, options.moreSources);
    EXPECT_EQ(loaded.tileDatum, "ellipsoid");

    // Without datums the store holds exactly what it held before there were any.
    options.moreSources = {{"/a", ""}, {"/b, c", ""}, {"/d", ""}};
    options.tileDatum = "egm96";
    ASSERT_TRUE(RunOptionsSettings::save(options));
    EXPECT_EQ(QSettings(RunOptionsSettings::location(), QSettings::IniFormat).childKeys(),
              QStringList{QStringLiteral("moreSecondaryFolders")});
    loaded = RunOptionsSettings::load();
    EXPECT_EQ(loaded.moreSources, options.moreSources);
    EXPECT_TRUE(loaded.tileDatum.empty());

    // A list of another length, texts of no datum's form, a skipped empty folder taking its datum along.
    writeRaw(QStringLiteral("moreSecondaryDatums"), QStringList{QStringLiteral("egm2008")});
    writeRaw(QStringLiteral("tileDatum"), QStringLiteral("$(rm -rf ~)"));
    WindowOptions given;
    given.tileDatum = "egm2008";
    loaded = RunOptionsSettings::load(given);
    EXPECT_EQ(loaded.moreSources, options.moreSources);
    EXPECT_EQ(loaded.tileDatum, "egm2008");
    writeRaw(QStringLiteral("moreSecondaryFolders"),
             QStringList{QStringLiteral("/a"), QString(), QStringLiteral("/d")});
    writeRaw(QStringLiteral("moreSecondaryDatums"),
             QStringList{QStringLiteral("EPSG:"), QStringLiteral("egm2008"), QString(300, QLatin1Char('7'))});
    loaded = RunOptionsSettings::load();
    EXPECT_EQ(loaded.moreSources, (std::vector<FurtherSource>{{"/a", ""}, {"/d", ""}}));
}

TEST_F(RunOptionsSettingsTest, AStoreThatCannotBeWrittenSaysWhere)
{
    // A file where the store's folder must go (root may write anywhere, so no permissions trick).
    QDir().mkpath(configHome());
    QFile blocker(configHome() + QStringLiteral("/hgtfill"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    WindowOptions options;
    options.method = FillMethod::Delta;
    const Result<> saved = RunOptionsSettings::save(options);
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().kind, ErrorKind::Io);
    EXPECT_EQ(QString::fromStdString(saved.error().message),
              QStringLiteral("Die Optionen gelten bis zum Ende des Programms; sie konnten nicht in ")
                  + RunOptionsSettings::location() + QStringLiteral(" gespeichert werden."));
}

} // namespace run_options_settings_test
} // namespace hgt::test

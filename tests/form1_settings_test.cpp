// fRegAbfrageWert against the per-user settings file of this test run.

#include "tests/form1_fixture.h"
#include "platform/settings_store.h"

#include <QDir>
#include <QSettings>

namespace hgt::test {
namespace form1_settings_test {

class RegistryQueryTest : public Form1Test {
protected:
    void SetUp() override
    {
        Form1Test::SetUp();
        configHome = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
        ASSERT_FALSE(configHome.isEmpty());
        QDir(configHome).removeRecursively();
    }
    void TearDown() override
    {
        QDir(configHome).removeRecursively();
        Form1Test::TearDown();
    }

    QString remembered() const
    {
        return form->fRegAbfrageWert(SettingsStore::kCurrentUser, QStringLiteral("Software\\Karvel"),
                                     QStringLiteral("LastDirZiel"));
    }

    void store(const QVariant& value, const QString& application = QString())
    {
        QSettings settings(QStringLiteral("Karvel"), application);
        settings.setValue(QStringLiteral("LastDirZiel"), value);
        settings.sync();
        ASSERT_EQ(settings.status(), QSettings::NoError);
    }

    // Another program writing the file while the window runs.
    void writeFile(const QByteArray& contents)
    {
        QDir().mkpath(configHome);
        QFile file(configHome + QStringLiteral("/Karvel.conf"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    QString configHome;
};

TEST_F(RegistryQueryTest, NothingStoredGivesAnEmptyTextAndCreatesNothing)
{
    EXPECT_EQ(remembered(), QString());
    EXPECT_EQ(remembered(), QString());
    EXPECT_FALSE(QFileInfo::exists(configHome));

    writeFile("[General]\nOther=1\n");
    EXPECT_EQ(remembered(), QString());
    EXPECT_EQ(form->fRegAbfrageWert(0x80000002u, QStringLiteral("Software\\Karvel"), QStringLiteral("LastDirZiel")),
              QString());
    EXPECT_EQ(form->fRegAbfrageWert(SettingsStore::kCurrentUser, QStringLiteral("Karvel"), QStringLiteral("Other")),
              QString());
    EXPECT_EQ(
        form->fRegAbfrageWert(SettingsStore::kCurrentUser, QStringLiteral("Software\\Nobody"), QStringLiteral("Other")),
        QString());
    EXPECT_EQ(QDir(configHome).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("Karvel.conf")});
}

TEST_F(RegistryQueryTest, SpacesAreTrimmedInFrontOnly)
{
    store(QStringLiteral("  /data/tiles"));
    EXPECT_EQ(remembered(), QStringLiteral("/data/tiles"));
    store(QStringLiteral("/data/tiles mit Leerzeichen "));
    EXPECT_EQ(remembered(), QStringLiteral("/data/tiles mit Leerzeichen "));
    store(QString());
    EXPECT_EQ(remembered(), QString());
    store(QStringLiteral("   "));
    EXPECT_EQ(remembered(), QString());
}

TEST_F(RegistryQueryTest, ValueLengthAtTheBufferBoundary)
{
    const QString exact = QStringLiteral("/") + QString(254, QLatin1Char('a'));
    store(exact);
    EXPECT_EQ(remembered(), exact);
    store(exact + QStringLiteral("bcd"));
    EXPECT_EQ(remembered(), exact);
}

TEST_F(RegistryQueryTest, ListValueGivesItsFirstStringAndAppKeysHaveTheirOwnFile)
{
    store(QStringList{QStringLiteral("/first"), QStringLiteral("/second")});
    EXPECT_EQ(remembered(), QStringLiteral("/first"));

    store(QStringLiteral("/app"), QStringLiteral("Tool"));
    EXPECT_EQ(form->fRegAbfrageWert(SettingsStore::kCurrentUser, QStringLiteral("Software\\Karvel\\Tool"),
                                    QStringLiteral("LastDirZiel")),
              QStringLiteral("/app"));
    EXPECT_EQ(remembered(), QStringLiteral("/first"));
}

TEST_F(RegistryQueryTest, EveryCallReadsTheStoreAfresh)
{
    writeFile("[General]\nLastDirZiel=/one\n");
    EXPECT_EQ(remembered(), QStringLiteral("/one"));
    writeFile("[General]\nLastDirZiel=/two/longer\n");
    EXPECT_EQ(remembered(), QStringLiteral("/two/longer"));
    QFile::remove(configHome + QStringLiteral("/Karvel.conf"));
    EXPECT_EQ(remembered(), QString());
}

} // namespace form1_settings_test
} // namespace hgt::test

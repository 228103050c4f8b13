// Qt's own dialogs and buttons speak German through the translator the program installs, whatever
// the locale of the test run; the file dialog offers the tile filter.

#include "tests/support/tiles.h"
#include "app/german_translations.h"
#include "app/qt_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

namespace hgt::test {
namespace main_window_german_test {

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

class MainWindowGermanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        translator = installGermanQtTranslations(*qApp);
        ASSERT_NE(translator, nullptr) << "qtbase_de.qm is missing: install qt6-translations-l10n";
    }

    void TearDown() override
    {
        // The other tests see Qt as it starts.
        QCoreApplication::removeTranslator(translator);
        delete translator;
        for (QWidget* widget : QApplication::topLevelWidgets())
            EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className() << " left open";
    }

    QTranslator* translator = nullptr;
};

TEST_F(MainWindowGermanTest, StandardButtonsAndContextMenusSpeakGerman)
{
    EXPECT_TRUE(translator->language().startsWith(QStringLiteral("de"))) << translator->language().toStdString();
    QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Close | QDialogButtonBox::Ok);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Abbrechen"));
    EXPECT_EQ(buttons.button(QDialogButtonBox::Close)->text().remove(QLatin1Char('&')), QStringLiteral("Schließen"));
    EXPECT_EQ(buttons.button(QDialogButtonBox::Ok)->text(), QStringLiteral("OK"));

    QLineEdit field(QStringLiteral("/data/srtm"));
    std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QStringList items;
    for (QAction* action : menu->actions())
        items << action->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&'));
    EXPECT_TRUE(items.contains(QStringLiteral("Kopieren"))) << items.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(items.contains(QStringLiteral("Alles auswählen"))) << items.join(QLatin1Char('|')).toStdString();
}

TEST_F(MainWindowGermanTest, TheTileFileDialogIsGermanAndOffersTheTileFilter)
{
    TempFolder temp;
    writeBytes(temp / "N47E011.hgt", {1});
    QString title, cancel;
    QStringList filters;
    QTimer::singleShot(0, qApp, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        if (auto* box = dialog->findChild<QDialogButtonBox*>(); box && box->button(QDialogButtonBox::Cancel))
            cancel = box->button(QDialogButtonBox::Cancel)->text();
        dialog->reject();
    });
    const std::optional<QString> chosen =
        QtDialogs().openFile(nullptr, q(temp / "N47E011.hgt"),
                             {QStringLiteral("HGT-Kacheln (*.hgt *.HGT)"), QStringLiteral("Alle Dateien (*)")});
    EXPECT_FALSE(chosen.has_value());
    EXPECT_EQ(title, QStringLiteral("Öffnen"));
    EXPECT_EQ(cancel, QStringLiteral("Abbrechen"));
    EXPECT_EQ(filters, (QStringList{QStringLiteral("HGT-Kacheln (*.hgt *.HGT)"), QStringLiteral("Alle Dateien (*)")}));
}

} // namespace main_window_german_test
} // namespace hgt::test

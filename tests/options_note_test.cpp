// The status bar's note on options that differ from the defaults: its texts, and how it gives way
// to the run's line in a narrow bar.

#include "app/options_note.h"

#include <QApplication>
#include <QHBoxLayout>

#include <gtest/gtest.h>

namespace hgt::test {
namespace options_note_test {

struct NoteCase {
    const char* name;
    std::vector<std::int16_t> voidValues;
    std::size_t moreFolders;
    FillMethod method;
    QString note;
};

class OptionsNoteText : public ::testing::TestWithParam<NoteCase> {};

TEST_P(OptionsNoteText, NamesOnlyWhatDiffers)
{
    const NoteCase& c = GetParam();
    WindowOptions options;
    options.voidValues = c.voidValues;
    options.moreSources.assign(c.moreFolders, {"/folder", ""});
    options.method = c.method;
    EXPECT_EQ(OptionsNote::noteText(options), c.note);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, OptionsNoteText,
    ::testing::Values(
        NoteCase{"defaults", {-9999}, 0, FillMethod::Copy, QString()},
        NoteCase{"twoVoidValues", {-9999, -32768}, 0, FillMethod::Copy, QStringLiteral("Leerwerte: −9999, −32768")},
        NoteCase{"voidValuesInMenuOrder",
                 {-32767, -32768, -9999},
                 0,
                 FillMethod::Copy,
                 QStringLiteral("Leerwerte: −9999, −32768, −32767")},
        NoteCase{"withoutTheDefaultValue", {-32768}, 0, FillMethod::Copy, QStringLiteral("Leerwerte: −32768")},
        NoteCase{"oneMoreSource", {-9999}, 1, FillMethod::Copy, QStringLiteral("1 weitere Quelle")},
        NoteCase{"twoMoreSources", {-9999}, 2, FillMethod::Copy, QStringLiteral("2 weitere Quellen")},
        NoteCase{"delta", {-9999}, 0, FillMethod::Delta, QStringLiteral("Übergänge angleichen")},
        NoteCase{"everything",
                 {-9999, -32768},
                 2,
                 FillMethod::Delta,
                 QStringLiteral("Leerwerte: −9999, −32768 · 2 weitere Quellen · Übergänge angleichen")}),
    [](const ::testing::TestParamInfo<NoteCase>& info) { return std::string(info.param.name); });

TEST(OptionsNoteText, NamesTheChosenDatums)
{
    WindowOptions options;
    options.moreSources = {{"/a", "egm2008"}, {"/b", ""}, {"/c", "EPSG:7837"}};
    EXPECT_EQ(OptionsNote::noteText(options),
              QStringLiteral("3 weitere Quellen · Höhenbezug: Quelle 2 EGM2008, Quelle 4 EPSG:7837"));
    options.moreSources = {{"/a", ""}, {"/b", ""}, {"/c", ""}};
    options.tileDatum = "ellipsoid";
    EXPECT_EQ(OptionsNote::noteText(options), QStringLiteral("3 weitere Quellen · Kacheln in Ellipsoid"));
}

TEST(OptionsNoteWidget, HiddenAtTheDefaultsAndCutShortWhenNarrow)
{
    QWidget bar;
    auto* layout = new QHBoxLayout(&bar);
    auto* note = new OptionsNote(&bar);
    layout->addWidget(note);
    bar.show();

    note->setOptions(WindowOptions{});
    EXPECT_FALSE(note->isVisible());
    EXPECT_TRUE(note->fullText().isEmpty());

    WindowOptions options;
    options.voidValues = {-9999, -32768, -32767};
    options.moreSources = {{"/a", ""}, {"/b", ""}};
    options.method = FillMethod::Delta;
    note->setOptions(options);
    const QString full = OptionsNote::noteText(options);
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->toolTip(), full);

    // Wide enough: the whole note. Narrow: its beginning and "…", never wider than its room.
    note->resize(note->sizeHint());
    EXPECT_EQ(note->text(), full);
    note->resize(note->sizeHint().width() / 2, note->height());
    EXPECT_TRUE(note->text().endsWith(QChar(u'…'))) << note->text().toStdString();
    EXPECT_TRUE(full.startsWith(note->text().chopped(1)));
    EXPECT_LE(note->fontMetrics().horizontalAdvance(note->text()), note->width());
    EXPECT_LT(note->minimumSizeHint().width(), note->sizeHint().width() / 4);

    note->setOptions(WindowOptions{});
    EXPECT_FALSE(note->isVisible());
    bar.close();
}

} // namespace options_note_test
} // namespace hgt::test

// The tile viewer: its figures against figures counted here, the sample under the pointer at fit
// and at 1:1, zoom and pan, "Letzte Ausgabe ansehen" after real runs, and the drawing work that
// must stay off the window's thread.

#include "tests/form1_fixture.h"
#include "tests/support/reference_fill.h"
#include "tests/support/tiles.h"
#include "app/difference_legend.h"
#include "app/provenance_legend.h"
#include "app/tile_figures_panel.h"
#include "app/tile_render_task.h"
#include "app/texts.h"
#include "app/tile_viewer.h"
#include "pictures/internal/picture_rules.h"
#include "tiles/tile_folder.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QLocale>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <functional>

// Failures name the texts, not their bytes (found by argument lookup, so beside QString).
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace hgt::test {
namespace tile_viewer_test {

constexpr int kSide3 = 1201;

// Heights 200 ... 1899 that tell row and column apart, a round void of -9999 and a row of -32768.
int reliefHeight(int r, int c)
{
    if ((r - 300) * (r - 300) + (c - 400) * (c - 400) <= 30 * 30)
        return kVoidValue;
    if (r == 1000 && c >= 10 && c < 20)
        return -32768;
    return 200 + (r * 5 + c * 3) % 1700;
}

// Differences -10 ... +10, a few large ones, and voids.
int differenceValue(int r, int c)
{
    if ((r * 7 + c) % 101 == 0)
        return kVoidValue;
    if ((r * 3 + c * 5) % 997 == 0)
        return 250;
    return (r * 13 + c * 7) % 21 - 10;
}

QString german(double value, int places)
{
    QLocale locale(QLocale::German, QLocale::Germany);
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    if (std::round(value * std::pow(10.0, places)) == 0)
        value = 0;
    return locale.toString(value, 'f', places);
}

QString signedMetres(double value, int places)
{
    const QString text = german(value, places);
    return (text.startsWith(QLatin1Char('-')) || text == german(0, places) ? text : QLatin1Char('+') + text)
           + QStringLiteral(" m");
}

// The p-quantile of sorted values, between the two nearest ranks.
double quantile(const std::vector<int>& sorted, double p)
{
    const double h = static_cast<double>(sorted.size() - 1) * p;
    const auto below = static_cast<std::size_t>(std::floor(h));
    const double low = sorted[below];
    const double high = sorted[std::min(below + 1, sorted.size() - 1)];
    return low + (h - static_cast<double>(below)) * (high - low);
}

class TileViewerTest : public MainWindowTest {
protected:
    void TearDown() override
    {
        // Viewers are children of the main window and go with it.
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        expectNoWindowLeftOpen();
    }

    QAction* action(const char* name) { return window->findChild<QAction*>(QLatin1String(name)); }

    QList<TileViewer*> viewers() { return window->findChildren<TileViewer*>(); }

    // The render ends on another thread; the window takes its picture through the event loop.
    static void waitReady(TileViewer* viewer)
    {
        QSignalSpy ready(viewer, &TileViewer::ready);
        ASSERT_TRUE(viewer->isReady() || QTest::qWaitFor([&] { return ready.count() > 0; }, 120000));
        ASSERT_TRUE(viewer->isReady());
    }

    TileViewer* openReady(const std::string& path)
    {
        TileViewer* viewer = window->viewTile(q(path));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(viewer));
        waitReady(viewer);
        return viewer;
    }

    // The pointer moved onto a pixel of the picture's view, no button pressed.
    static void pointAt(TileViewer* viewer, QPoint pixel)
    {
        TilePictureView* view = viewer->pictureView();
        QMouseEvent move(QEvent::MouseMove, pixel, view->mapToGlobal(pixel), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(view, &move);
    }

    static QString shownAt(TileViewer* viewer, QPoint pixel)
    {
        pointAt(viewer, pixel);
        return viewer->statusText();
    }

    // The pixel of the view whose middle lies on the sample, when samples are a pixel or larger.
    static QPoint pixelOn(const TilePictureView* view, SampleIndex sample)
    {
        const QPointF middle = view->positionOf(sample);
        const double half = view->scale() / 2 + 0.5;
        return {static_cast<int>(std::ceil(middle.x() - half)), static_cast<int>(std::ceil(middle.y() - half))};
    }
};

TEST_F(TileViewerTest, ReliefTileShowsItsFiguresWithTheVoidsOfTheRunOptions)
{
    writeBytes(temp / "tiles/N47E011.hgt", makeTile(kSide3, reliefHeight));
    int minimum = 32767, maximum = -32768;
    double sum = 0;
    std::int64_t voids = 0, valid = 0;
    for (int r = 0; r < kSide3; ++r)
        for (int c = 0; c < kSide3; ++c) {
            const int v = reliefHeight(r, c);
            if (v == kVoidValue || v == -32768) {
                ++voids;
                continue;
            }
            minimum = std::min(minimum, v);
            maximum = std::max(maximum, v);
            sum += v;
            ++valid;
        }
    ASSERT_GT(voids, 2000); // the blob and the row: thousands, so the count is shown grouped

    // Voids as "Optionen → Leerwerte" sets them for the next run.
    WindowOptions options = window->form().runOptions();
    options.voidValues = {kVoidValue, -32768};
    window->form().setRunOptions(options);
    TileViewer* viewer = openReady(temp / "tiles/N47E011.hgt");
    ASSERT_TRUE(viewer->pictureView()->hasPicture()) << viewer->pictureView()->message().toStdString();
    EXPECT_EQ(viewer->windowTitle(), QStringLiteral("N47E011.hgt – Kachelansicht"));
    const TileFiguresPanel* figures = viewer->figures();
    EXPECT_EQ(figures->figure(QStringLiteral("figureTile")), QStringLiteral("N47E011.hgt"));
    EXPECT_EQ(figures->figure(QStringLiteral("figureGrid")), QStringLiteral("3″ · 1201 × 1201"));
    EXPECT_EQ(figures->figure(QStringLiteral("figureMinimum")), QString::number(minimum) + QStringLiteral(" m"));
    EXPECT_EQ(figures->figure(QStringLiteral("figureMaximum")), QString::number(maximum) + QStringLiteral(" m"));
    EXPECT_EQ(figures->figure(QStringLiteral("figureMean")), german(sum / valid, 2) + QStringLiteral(" m"));
    const double percent = 100.0 * voids / (static_cast<double>(kSide3) * kSide3);
    EXPECT_EQ(figures->figure(QStringLiteral("figureVoids")),
              QLocale(QLocale::German, QLocale::Germany).toString(static_cast<qlonglong>(voids)) + QStringLiteral(" (")
                  + german(percent, 2) + QStringLiteral(" %)"));
    EXPECT_FALSE(figures->showsDifference());
    EXPECT_FALSE(figures->legend()->isVisible());
    EXPECT_FALSE(viewer->showsDifference());
    EXPECT_FALSE(viewer->findChild<QCheckBox*>(QStringLiteral("viewerAsDifference"))->isChecked());

    // Both kinds of void are magenta and named as voids under the pointer; heights are neither.
    TilePictureView* view = viewer->pictureView();
    view->showActualSize();
    for (const SampleIndex sample : {SampleIndex{300, 400}, SampleIndex{1000, 15}}) {
        view->panBy(QPointF(view->width() / 2.0, view->height() / 2.0) - view->positionOf(sample));
        const QPoint at = pixelOn(view, sample);
        EXPECT_EQ(view->grab().toImage().pixel(at) & 0xFFFFFF, 0xFF00FFu);
        EXPECT_EQ(shownAt(viewer, at),
                  QStringLiteral("Zeile %1, Spalte %2: Leerstelle").arg(sample.row).arg(sample.column));
        const QPoint beside = pixelOn(view, {sample.row - 40, sample.column});
        EXPECT_NE(view->grab().toImage().pixel(beside) & 0xFFFFFF, 0xFF00FFu);
        EXPECT_EQ(shownAt(viewer, beside), QStringLiteral("Zeile %1, Spalte %2: %3 m")
                                               .arg(sample.row - 40)
                                               .arg(sample.column)
                                               .arg(reliefHeight(sample.row - 40, sample.column)));
    }
}

TEST_F(TileViewerTest, DifferenceTileFromDiffsShowsDifferenceFiguresAndLegend)
{
    writeBytes(temp / "tiles/DIFFS/N47E011.hgt", makeTile(kSide3, differenceValue));
    std::vector<int> values;
    std::vector<int> magnitudes;
    double sum = 0, squares = 0;
    for (int r = 0; r < kSide3; ++r)
        for (int c = 0; c < kSide3; ++c)
            if (const int d = differenceValue(r, c); d != kVoidValue) {
                values.push_back(d);
                magnitudes.push_back(std::abs(d));
                sum += d;
                squares += static_cast<double>(d) * d;
            }
    std::sort(values.begin(), values.end());
    std::sort(magnitudes.begin(), magnitudes.end());
    const auto n = static_cast<double>(values.size());

    TileViewer* viewer = openReady(temp / "tiles/DIFFS/N47E011.hgt");
    ASSERT_TRUE(viewer->pictureView()->hasPicture());
    EXPECT_TRUE(viewer->showsDifference());
    const TileFiguresPanel* figures = viewer->figures();
    ASSERT_TRUE(figures->showsDifference());
    EXPECT_EQ(figures->figure(QStringLiteral("figureMinimum")), QStringLiteral("-10 m"));
    EXPECT_EQ(figures->figure(QStringLiteral("figureMaximum")), QStringLiteral("+250 m"));
    EXPECT_EQ(figures->figure(QStringLiteral("figureMedian")), signedMetres(quantile(values, 0.5), 1));
    EXPECT_EQ(figures->figure(QStringLiteral("figureDifferenceMean")), signedMetres(sum / n, 2));
    EXPECT_EQ(figures->figure(QStringLiteral("figureRms")), german(std::sqrt(squares / n), 2) + QStringLiteral(" m"));
    EXPECT_EQ(figures->figure(QStringLiteral("figureP2")), signedMetres(quantile(values, 0.02), 1));
    EXPECT_EQ(figures->figure(QStringLiteral("figureP98")), signedMetres(quantile(values, 0.98), 1));

    // The legend spans the 98th percentile of |difference| and shows both ends of the colour map.
    DifferenceLegend* legend = figures->legend();
    ASSERT_TRUE(legend->isVisible());
    ASSERT_TRUE(legend->stats().has_value());
    EXPECT_DOUBLE_EQ(legend->stats()->clip, std::max(1.0, quantile(magnitudes, 0.98)));
    const QImage drawn = legend->grab().toImage().convertToFormat(QImage::Format_RGB32);
    bool low = false, high = false;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x) {
            low = low || drawn.pixel(x, y) == kDifferenceLowColour;
            high = high || drawn.pixel(x, y) == kDifferenceHighColour;
        }
    EXPECT_TRUE(low && high);

    // Voids grey and named; under the pointer a difference has its sign.
    TilePictureView* view = viewer->pictureView();
    view->showActualSize();
    view->panBy(QPointF(1e6, 1e6)); // to the north-west corner
    ASSERT_EQ(differenceValue(1, 94), kVoidValue);
    EXPECT_EQ(shownAt(viewer, pixelOn(view, {1, 94})), QStringLiteral("Zeile 1, Spalte 94: Leerstelle"));
    EXPECT_EQ(view->grab().toImage().pixel(pixelOn(view, {1, 94})), kDifferenceVoidColour);
    ASSERT_EQ(differenceValue(1, 0), 3);
    EXPECT_EQ(shownAt(viewer, pixelOn(view, {1, 0})), QStringLiteral("Zeile 1, Spalte 0: +3 m"));
    ASSERT_EQ(differenceValue(0, 1), -3);
    EXPECT_EQ(shownAt(viewer, pixelOn(view, {0, 1})), QStringLiteral("Zeile 0, Spalte 1: -3 m"));

    // Unchecked, the same file is drawn as heights: the difference part goes.
    viewer->findChild<QCheckBox*>(QStringLiteral("viewerAsDifference"))->click();
    EXPECT_FALSE(viewer->isReady());
    waitReady(viewer);
    EXPECT_FALSE(figures->showsDifference());
    EXPECT_FALSE(legend->isVisible());
    EXPECT_EQ(figures->figure(QStringLiteral("figureMean")), german(sum / n, 2) + QStringLiteral(" m"));
}

TEST_F(TileViewerTest, PointerShowsTheSampleAtFitAndAtOneToOne)
{
    writeBytes(temp / "tiles/N47E011.hgt", makeTile(kSide3, reliefHeight));
    TileViewer* viewer = openReady(temp / "tiles/N47E011.hgt");
    TilePictureView* view = viewer->pictureView();
    auto expected = [](int row, int column) {
        return QStringLiteral("Zeile %1, Spalte %2: %3 m").arg(row).arg(column).arg(reliefHeight(row, column));
    };

    // Fitted: the tile is the largest square of the view, centred; a pixel shows the sample at its
    // middle.
    ASSERT_TRUE(view->isFitted());
    const double extent = std::min(view->width(), view->height());
    const QPointF corner((view->width() - extent) / 2, (view->height() - extent) / 2);
    const auto fitted = [&](int pixel, double edge) {
        return static_cast<int>(std::floor((pixel + 0.5 - edge) * kSide3 / extent));
    };
    const int left = static_cast<int>(std::ceil(corner.x() - 0.5));
    const int top = static_cast<int>(std::ceil(corner.y() - 0.5));
    const int right = static_cast<int>(std::ceil(corner.x() + extent - 0.5)) - 1;
    const int bottom = static_cast<int>(std::ceil(corner.y() + extent - 0.5)) - 1;
    for (const QPoint pixel : {QPoint(left, top), QPoint(right, bottom), QPoint(right, top), QPoint(left, bottom),
                               QPoint((left + right) / 2, (top + bottom) / 2)})
        EXPECT_EQ(shownAt(viewer, pixel), expected(fitted(pixel.y(), corner.y()), fitted(pixel.x(), corner.x())))
            << pixel.x() << ", " << pixel.y();
    EXPECT_EQ(fitted(left, corner.x()), 0);
    EXPECT_EQ(fitted(bottom, corner.y()), kSide3 - 1);
    if (left >= 2) {
        pointAt(viewer, QPoint(left - 2, (top + bottom) / 2)); // beside the tile: nothing to name
        EXPECT_TRUE(viewer->statusText().isEmpty());
    }
    // 1:1 keeps the middle of the view on the sample it showed; each pixel further is one sample
    // further.
    const QPoint middle(view->width() / 2, view->height() / 2);
    const QRegularExpression shown(QStringLiteral("^Zeile (\\d+), Spalte (\\d+): (-?\\d+) m$"));
    const QRegularExpressionMatch atFit = shown.match(shownAt(viewer, middle));
    ASSERT_TRUE(atFit.hasMatch());
    viewer->findChild<QPushButton*>(QStringLiteral("viewerActualSize"))->click();
    EXPECT_DOUBLE_EQ(view->scale(), 1.0);
    EXPECT_EQ(view->levelInUse(), 0);
    EXPECT_EQ(viewer->findChild<QLabel*>(QStringLiteral("viewerScale"))->text(), QStringLiteral("100 %"));
    const QRegularExpressionMatch atOne = shown.match(shownAt(viewer, middle));
    ASSERT_TRUE(atOne.hasMatch());
    const int row = atOne.captured(1).toInt(), column = atOne.captured(2).toInt();
    EXPECT_LE(std::abs(row - atFit.captured(1).toInt()), 1);
    EXPECT_LE(std::abs(column - atFit.captured(2).toInt()), 1);
    for (const QPoint step : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(-7, 13), QPoint(150, -90)})
        EXPECT_EQ(shownAt(viewer, middle + step), expected(row + step.y(), column + step.x()))
            << step.x() << ", " << step.y();

    // "Einpassen" brings the whole tile back.
    viewer->findChild<QPushButton*>(QStringLiteral("viewerFit"))->click();
    EXPECT_TRUE(view->isFitted());
    EXPECT_DOUBLE_EQ(view->scale(), extent / kSide3);
}

TEST_F(TileViewerTest, WheelZoomsAroundThePointerAndDraggingPans)
{
    writeBytes(temp / "tiles/N47E011.hgt", makeTile(kSide3, reliefHeight));
    TileViewer* viewer = openReady(temp / "tiles/N47E011.hgt");
    TilePictureView* view = viewer->pictureView();
    const double fitted = view->scale();

    const QPointF at(view->width() * 0.3, view->height() * 0.6);
    const std::optional<SampleIndex> before = view->sampleAt(at);
    ASSERT_TRUE(before);
    QWheelEvent wheel(at, view->mapToGlobal(at), QPoint(), QPoint(0, 3 * 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &wheel);
    EXPECT_NEAR(view->scale(), fitted * 1.25 * 1.25 * 1.25, 1e-9);
    EXPECT_FALSE(view->isFitted());
    EXPECT_EQ(view->sampleAt(at), before) << "the sample under the pointer stays under it";

    // At 1:1 a drag by (12, 5) pixels brings samples 5 rows up and 12 columns left under the pointer.
    view->showActualSize();
    const QPoint from(view->width() / 2, view->height() / 2);
    const std::optional<SampleIndex> under = view->sampleAt(from);
    ASSERT_TRUE(under);
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QTest::mouseMove(view, from + QPoint(12, 5));
    QTest::mouseRelease(view, Qt::LeftButton, {}, from + QPoint(12, 5));
    EXPECT_EQ(view->sampleAt(from), (SampleIndex{under->row - 5, under->column - 12}));

    // The picture cannot be dragged off the view: at the corner it stops with the tile's edge.
    view->panBy(QPointF(1e6, 1e6));
    EXPECT_EQ(view->sampleAt(QPointF(0.5, 0.5)), (SampleIndex{0, 0}));
}

TEST_F(TileViewerTest, LastOutputFollowsFillAndDifferenceRuns)
{
    QAction* last = action("actionViewLastOutput");
    ASSERT_NE(last, nullptr);
    EXPECT_FALSE(last->isEnabled()) << "nothing written yet";

    Bytes primaryTile = plainTile(1);
    for (std::int64_t k : {std::int64_t{5}, std::int64_t{4000}, kTileSamples - 2})
        setVoid(primaryTile, k);
    writeBytes(temp / "tiles/N47E011.hgt", primaryTile);
    writeBytes(temp / "secondary/N47E011.hgt", plainTile(2));
    type(secondary(), q(temp / "secondary"));
    type(primary(), q(temp / "tiles/N47E011.hgt"));
    click(command1());
    ASSERT_TRUE(last->isEnabled());
    EXPECT_EQ(window->lastOutput(), q(temp / "tiles/Merged/N47E011.hgt"));

    last->trigger();
    ASSERT_EQ(viewers().size(), 1);
    TileViewer* viewer = viewers().front();
    EXPECT_EQ(viewer->path(), q(temp / "tiles/Merged/N47E011.hgt"));
    EXPECT_FALSE(viewer->isReady()) << "the picture is drawn away from the window's thread";
    waitReady(viewer);
    const Bytes merged = readBytes(temp / "tiles/Merged/N47E011.hgt");
    int minimum = 32767, maximum = -32768;
    for (std::int64_t k = 0; k < kTileSamples; ++k) {
        minimum = std::min(minimum, sampleAt(merged, k));
        maximum = std::max(maximum, sampleAt(merged, k));
    }
    EXPECT_EQ(viewer->figures()->figure(QStringLiteral("figureGrid")), QStringLiteral("1″ · 3601 × 3601"));
    EXPECT_EQ(viewer->figures()->figure(QStringLiteral("figureVoids")), QStringLiteral("0 (0,00 %)"));
    EXPECT_EQ(viewer->figures()->figure(QStringLiteral("figureMinimum")),
              QString::number(minimum) + QStringLiteral(" m"));
    EXPECT_EQ(viewer->figures()->figure(QStringLiteral("figureMaximum")),
              QString::number(maximum) + QStringLiteral(" m"));
    EXPECT_FALSE(viewer->showsDifference());
    // Fitted, a 1" tile is drawn from a copy a quarter or less of its size.
    EXPECT_LE(viewer->pictureView()->scale(), 0.5);
    EXPECT_GE(viewer->pictureView()->levelInUse(), 1);

    // A difference run writes the next output, shown as a difference.
    writeBytes(temp / "other/N47E011.hgt", plainTile(3));
    dialogs.fileAnswers = {q(temp / "other/N47E011.hgt")};
    click(diff());
    EXPECT_EQ(window->lastOutput(), q(temp / "tiles/DIFFS/N47E011.hgt"));
    // A fill that finds no holes writes nothing and leaves it so.
    writeBytes(temp / "tiles/N47E012.hgt", plainTile(4));
    type(primary(), q(temp / "tiles/N47E012.hgt"));
    click(command1());
    EXPECT_EQ(window->lastOutput(), q(temp / "tiles/DIFFS/N47E011.hgt"));
    last->trigger();
    ASSERT_EQ(viewers().size(), 2) << "several viewers may be open";
    TileViewer* difference = viewers().back();
    waitReady(difference);
    EXPECT_TRUE(difference->showsDifference());
    EXPECT_TRUE(difference->figures()->showsDifference());
    EXPECT_TRUE(viewer->isVisible());

    // Closing the main window closes its viewers.
    window->close();
    EXPECT_FALSE(viewer->isVisible() || difference->isVisible());
}

TEST_F(TileViewerTest, ChoosingATileUsesTheWindowsFilterAndNoDialogDuringARun)
{
    writeBytes(temp / "tiles/N47E011.hgt", makeTile(kSide3, reliefHeight));
    QAction* choose = action("actionViewTile");
    ASSERT_NE(choose, nullptr);

    choose->trigger(); // cancelled
    EXPECT_EQ(dialogs.openFileFilters, (QStringList{QString(texts::tileFilter), QStringLiteral("Alle Dateien (*)")}));
    EXPECT_TRUE(viewers().isEmpty());

    dialogs.fileAnswers = {q(temp / "tiles/N47E011.hgt")};
    choose->trigger();
    ASSERT_EQ(viewers().size(), 1);
    waitReady(viewers().front());
    EXPECT_EQ(viewers().front()->figures()->figure(QStringLiteral("figureTile")), QStringLiteral("N47E011.hgt"));
    // The dialog offers the tile chosen last.
    choose->trigger();
    EXPECT_EQ(dialogs.openFileOffered.last(), q(temp / "tiles/N47E011.hgt"));

    // During a batch the file dialog, which would hold the run up, is not offered; a viewer of
    // the last output opens all the same and the batch goes on.
    makeTiles({"N47E021.hgt", "N47E022.hgt", "N47E023.hgt"}, true);
    type(secondary(), q(temp / "secondary"));
    type(primary(), q(temp / "tiles/N47E021.hgt"));
    click(command1());
    ASSERT_FALSE(window->lastOutput().isEmpty());
    const int offered = static_cast<int>(dialogs.openFileOffered.size());
    bool during = false;
    TileViewer* opened = nullptr;
    duringRun([&] {
        EXPECT_FALSE(choose->isEnabled());
        choose->trigger();
        action("actionViewLastOutput")->trigger();
        opened = viewers().back();
        during = true;
        return true;
    });
    batchFolder()->setText(q(temp / "tiles"));
    click(batch());
    ASSERT_TRUE(during);
    EXPECT_EQ(dialogs.openFileOffered.size(), offered);
    EXPECT_TRUE(choose->isEnabled());
    ASSERT_NE(opened, nullptr);
    waitReady(opened);
    EXPECT_TRUE(opened->pictureView()->hasPicture());
    EXPECT_TRUE(readBytes(temp / "tiles/Merged/N47E023.hgt").size() == static_cast<std::size_t>(kTileBytes));
}

TEST_F(TileViewerTest, UnreadableTileIsNamedAndAClosedViewerIsLeftAlone)
{
    writeBytes(temp / "tiles/N47E011.hgt", Bytes(1000, 0));
    TileViewer* viewer = openReady(temp / "tiles/N47E011.hgt");
    EXPECT_FALSE(viewer->pictureView()->hasPicture());
    EXPECT_TRUE(viewer->pictureView()->message().contains(q(temp / "tiles/N47E011.hgt")))
        << viewer->pictureView()->message().toStdString();
    EXPECT_EQ(viewer->figures()->figure(QStringLiteral("figureTile")), QStringLiteral("N47E011.hgt"));
    EXPECT_TRUE(viewer->figures()->figure(QStringLiteral("figureMinimum")).isEmpty());
    viewer->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(viewers().isEmpty()) << "a closed viewer frees its picture";

    // Closed while it draws: its work is dropped, and the next viewer draws as usual.
    writeBytes(temp / "tiles/N47E012.hgt", plainTile(5));
    window->viewTile(q(temp / "tiles/N47E012.hgt"))->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(viewers().isEmpty());
    waitReady(window->viewTile(q(temp / "tiles/N47E012.hgt")));
    EXPECT_TRUE(viewers().front()->pictureView()->hasPicture());
}

// A companion of the other grid is refused with its reason (no overlay, the check box off), whether it
// was asked for before the tile was drawn or after; one of the tile's grid holding every code keeps
// its legend short. Neither makes the window grow.
struct CompanionRow {
    const char* name;
    int side;         // the grid the companion's size fits
    bool checkAtOnce; // "Herkunft anzeigen" asked for before the tile is drawn
    bool refused;
};
void PrintTo(const CompanionRow& row, std::ostream* os)
{
    *os << row.name;
}
class ProvenanceCompanion : public TileViewerTest, public ::testing::WithParamInterface<CompanionRow> {};

TEST_P(ProvenanceCompanion, OfAnotherGridIsRefusedAndNoneGrowsTheWindow)
{
    const CompanionRow& row = GetParam();
    writeBytes(temp / "Merged/N47E011.hgt", makeTile(kSide3, reliefHeight));
    Bytes codes(static_cast<std::size_t>(row.side) * static_cast<std::size_t>(row.side));
    for (std::size_t i = 0; i < codes.size(); ++i)
        codes[i] = static_cast<std::uint8_t>(i * 7919 % 256);
    writeBytes(temp / "Merged/N47E011.src", codes);
    TileViewer* viewer = window->viewTile(q(temp / "Merged/N47E011.hgt"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
    const QSize size = viewer->size();
    if (row.checkAtOnce)
        viewer->setShowProvenance(true);
    waitReady(viewer);
    viewer->setShowProvenance(true);
    QSignalSpy loaded(viewer, &TileViewer::provenanceLoaded);
    if (!row.refused || row.checkAtOnce) {
        ASSERT_TRUE(viewer->provenanceReady() || loaded.wait(120000));
    }
    QCoreApplication::processEvents(); // the layout takes the legend's size

    EXPECT_EQ(viewer->size(), size);
    EXPECT_EQ(viewer->pictureView()->hasOverlay(), !row.refused);
    EXPECT_EQ(viewer->provenanceLegend()->isVisible(), !row.refused);
    if (!row.refused) {
        EXPECT_LT(viewer->provenanceLegend()->height(), size.height() / 2);
        return;
    }
    auto* checkbox = viewer->findChild<QCheckBox*>(QStringLiteral("viewerProvenance"));
    auto* note = viewer->findChild<QLabel*>(QStringLiteral("viewerProvenanceError"));
    const QString refusal = viewer->provenanceRefusal();
    EXPECT_FALSE(checkbox->isEnabled() || checkbox->isChecked());
    EXPECT_TRUE(refusal.contains(QStringLiteral("N47E011.src")) && refusal.contains(QStringLiteral("12.967.201")))
        << refusal.toStdString();
    EXPECT_TRUE(checkbox->toolTip() == refusal && note->isVisible() && note->text() == refusal);
}

INSTANTIATE_TEST_SUITE_P(Viewer, ProvenanceCompanion,
                         ::testing::Values(CompanionRow{"of_the_1_second_grid_asked_for_once_drawn", 3601, false, true},
                                           CompanionRow{"of_the_1_second_grid_asked_for_at_once", 3601, true, true},
                                           CompanionRow{"of_the_tiles_grid_holding_every_code", kSide3, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The work of a render, without a window.
TEST(TileRenderTask, LevelsHalveDownToTheSmallestAndMatchTheRenderer)
{
    TempFolder temp;
    writeBytes(temp / "N47E011.hgt", makeTile(kSide3, reliefHeight));
    const std::atomic<bool> go{false};
    const RenderedTile rendered = RenderTileTask({temp / "N47E011.hgt", PictureKind::Relief, {kVoidValue}}, go);
    ASSERT_TRUE(rendered.error.isEmpty()) << rendered.error.toStdString();
    std::vector<int> sides;
    for (const QImage& level : rendered.levels)
        sides.push_back(level.width() == level.height() ? level.width() : -1);
    EXPECT_EQ(sides, (std::vector<int>{1201, 601, 301, 151}));

    // Drawn in bands, the picture is the renderer's, pixel for pixel.
    const TilePicture whole = TileRenderer(*rendered.samples, rendered.summary).render();
    const QImage& full = rendered.levels.front();
    bool same = true;
    for (int y = 0; y < full.height() && same; ++y)
        for (int x = 0; x < full.width() && same; ++x)
            same = full.pixel(x, y) == whole.at(x, y);
    EXPECT_TRUE(same);

    const std::atomic<bool> stop{true};
    const RenderedTile cancelled = RenderTileTask({temp / "N47E011.hgt", PictureKind::Relief, {kVoidValue}}, stop);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_TRUE(cancelled.levels.empty());

    const RenderedTile missing = RenderTileTask({temp / "N47E099.hgt", PictureKind::Relief, {kVoidValue}}, go);
    EXPECT_TRUE(missing.levels.empty());
    EXPECT_TRUE(missing.error.contains(QStringLiteral("N47E099.hgt")));
}

TEST(TileRenderTask, HalvingAveragesTwoByTwoAndRepeatsAnOddEdge)
{
    QImage image(3, 3, QImage::Format_RGB32);
    const QRgb values[3][3] = {{0xFF000000, 0xFF0400FF, 0xFF808080},
                               {0xFF080808, 0xFF0C0C0C, 0xFF101010},
                               {0xFFFF0000, 0xFF00FF00, 0xFF0000FF}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            image.setPixel(x, y, values[y][x]);
    const QImage half = HalvedImage(image);
    ASSERT_EQ(half.size(), QSize(2, 2));
    // Red (0+4+8+12)/4 = 6, green (0+0+8+12)/4 = 5, blue (0+255+8+12)/4 = 68.75 -> 69.
    EXPECT_EQ(half.pixel(0, 0), 0xFF060545u);
    EXPECT_EQ(half.pixel(1, 0), 0xFF484848u); // (0x80 + 0x80 + 0x10 + 0x10) / 4
    EXPECT_EQ(half.pixel(0, 1), 0xFF808000u); // the last row with itself
    EXPECT_EQ(half.pixel(1, 1), 0xFF0000FFu); // the corner alone
}

TEST(TileRenderTask, TilesInDiffsAreDifferences)
{
    EXPECT_TRUE(LiesInDifferenceFolder("/data/srtm/DIFFS/N47E011.hgt"));
    EXPECT_TRUE(LiesInDifferenceFolder("DIFFS/N47E011.hgt"));
    EXPECT_FALSE(LiesInDifferenceFolder("/data/DIFFS/srtm/N47E011.hgt"));
    EXPECT_FALSE(LiesInDifferenceFolder("/data/srtm/Merged/N47E011.hgt"));
    EXPECT_FALSE(LiesInDifferenceFolder("N47E011.hgt"));
}

} // namespace tile_viewer_test
} // namespace hgt::test

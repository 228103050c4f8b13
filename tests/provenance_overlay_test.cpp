// The provenance overlay of the tile viewer: offered only beside a companion, drawn over the picture
// with its legend and named under the pointer; a damaged companion says why; the overlay's pixels.

#include "tests/form1_fixture.h"
#include "tests/support/tiles.h"
#include "app/provenance_legend.h"
#include "app/tile_render_task.h"
#include "app/tile_viewer.h"
#include "pictures/provenance_picture.h"
#include "tiles/tile_format.h"

#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>

#include <cmath>

namespace hgt::test {
namespace provenance_overlay_test {

constexpr int kSide = 1201;

// The codes of a companion: the tile's own samples, source 1 in rows 0..99, source 2 in a block
// at (500, 500), interpolated at (800, 200) and a still void sample at (1200, 1200).
Bytes companion()
{
    Bytes codes(static_cast<std::size_t>(kSide) * kSide, kOwnSample);
    for (int r = 0; r < kSide; ++r)
        for (int c = 0; c < kSide; ++c) {
            const auto at = static_cast<std::size_t>(r) * kSide + static_cast<std::size_t>(c);
            if (r < 100)
                codes[at] = 1;
            else if (r >= 500 && r < 510 && c >= 500 && c < 510)
                codes[at] = 2;
            else if (r >= 800 && r < 804 && c >= 200 && c < 204)
                codes[at] = kInterpolatedSample;
        }
    codes.back() = kVoidSample;
    return codes;
}

class ProvenanceOverlayTest : public MainWindowTest {
protected:
    void TearDown() override
    {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        expectNoWindowLeftOpen();
    }

    TileViewer* openReady(const std::string& path)
    {
        TileViewer* viewer = window->viewTile(q(path));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(viewer));
        QSignalSpy ready(viewer, &TileViewer::ready);
        EXPECT_TRUE(viewer->isReady() || ready.wait(120000));
        return viewer;
    }

    static void waitProvenance(TileViewer* viewer)
    {
        QSignalSpy loaded(viewer, &TileViewer::provenanceLoaded);
        ASSERT_TRUE(viewer->provenanceReady() || loaded.wait(120000));
    }

    // The line under the picture with the pointer on the pixel whose middle lies on the sample.
    static QString statusOn(TileViewer* viewer, int row, int column)
    {
        TilePictureView* view = viewer->pictureView();
        const QPointF middle = view->positionOf({row, column});
        const double half = view->scale() / 2 + 0.5;
        const QPoint pixel(static_cast<int>(std::ceil(middle.x() - half)),
                           static_cast<int>(std::ceil(middle.y() - half)));
        QMouseEvent move(QEvent::MouseMove, pixel, view->mapToGlobal(pixel), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        return viewer->statusText();
    }
};

// Three tiles of one folder: beside a companion, beside a folder of its name, beside a damaged one.
TEST_F(ProvenanceOverlayTest, OfferedOnlyBesideACompanionDrawnWithLegendAndNamedUnderThePointer)
{
    const Bytes tile = makeTile(kSide, [](std::int64_t r, std::int64_t c) { return 300 + (r + c) % 500; });
    for (const char* name : {"N47E011", "N47E012", "N47E013"})
        writeBytes(temp / ("Merged/" + std::string(name) + ".hgt"), tile);
    writeBytes(temp / "Merged/N47E011.src", companion());
    std::filesystem::create_directories(temp / "Merged/N47E012.src");
    writeBytes(temp / "Merged/N47E013.src", Bytes(1000, 1));
    const auto checkbox = [](TileViewer* viewer) {
        return viewer->findChild<QCheckBox*>(QStringLiteral("viewerProvenance"));
    };
    TileViewer* without = openReady(temp / "Merged/N47E012.hgt");
    EXPECT_FALSE(without->offersProvenance() || checkbox(without)->isVisible());

    TileViewer* viewer = openReady(temp / "Merged/N47E011.hgt");
    ASSERT_TRUE(checkbox(viewer)->isVisible());
    EXPECT_FALSE(checkbox(viewer)->isChecked() || viewer->pictureView()->hasOverlay()) << "the tile alone until asked";
    viewer->pictureView()->showActualSize();
    checkbox(viewer)->click();
    waitProvenance(viewer);
    ASSERT_TRUE(viewer->pictureView()->hasOverlay() && viewer->provenanceLegend()->isVisible());
    const ProvenanceMap* map = viewer->provenanceLegend()->map();
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->counts[kInterpolatedSample], 16);
    EXPECT_EQ(map->counts[kOwnSample], kSide * kSide - 100 * kSide - 100 - 16 - 1);
    const auto height = [&](int r, int c) { return sampleAt(tile, static_cast<std::int64_t>(r) * kSide + c); };
    EXPECT_EQ(statusOn(viewer, 50, 60), QStringLiteral("Zeile 50, Spalte 60: %1 m · Quelle 1").arg(height(50, 60)));
    EXPECT_EQ(statusOn(viewer, 801, 201),
              QStringLiteral("Zeile 801, Spalte 201: %1 m · interpoliert").arg(height(801, 201)));
    EXPECT_EQ(statusOn(viewer, 700, 700),
              QStringLiteral("Zeile 700, Spalte 700: %1 m · Kachel selbst").arg(height(700, 700)));

    // Drawn over the picture: a sample of source 1 is tinted, the tile's own is not; off again, the
    // picture, legend and line are as without a companion.
    viewer->pictureView()->fitToWindow();
    const QImage shown = viewer->pictureView()->grab().toImage();
    const QPoint own = viewer->pictureView()->positionOf({700, 700}).toPoint();
    const QPoint filled = viewer->pictureView()->positionOf({50, 600}).toPoint();
    checkbox(viewer)->click();
    EXPECT_FALSE(viewer->provenanceLegend()->isVisible());
    EXPECT_EQ(statusOn(viewer, 50, 61), QStringLiteral("Zeile 50, Spalte 61: %1 m").arg(height(50, 61)));
    const QImage plain = viewer->pictureView()->grab().toImage();
    EXPECT_EQ(shown.pixel(own), plain.pixel(own));
    EXPECT_NE(shown.pixel(filled), plain.pixel(filled));

    TileViewer* damaged = openReady(temp / "Merged/N47E013.hgt");
    ASSERT_TRUE(damaged->offersProvenance());
    damaged->setShowProvenance(true);
    waitProvenance(damaged);
    EXPECT_FALSE(damaged->pictureView()->hasOverlay() || damaged->provenanceLegend()->isVisible());
    auto* error = damaged->findChild<QLabel*>(QStringLiteral("viewerProvenanceError"));
    ASSERT_TRUE(error && error->isVisible());
    EXPECT_EQ(error->text(), q(temp / "Merged/N47E013.src")
                                 + QStringLiteral(" ist keine Herkunftsdatei: 1000 Bytes passen zu keiner Kachel"));
    damaged->setShowProvenance(false);
    EXPECT_FALSE(error->isVisible());
}

TEST(ProvenanceOverlayPixels, OwnSamplesClearOthersInTheirColourAndLevelsLikeThePicture)
{
    ProvenanceMap map;
    map.side = kSide;
    map.codes = companion();
    TilePicture overlay = RenderProvenanceOverlay(map);
    ASSERT_EQ(overlay.width, kSide);
    EXPECT_EQ(overlay.at(700, 700), 0u);
    for (const auto& [r, c, code] : {std::tuple{0, 0, std::uint8_t{1}}, std::tuple{505, 505, std::uint8_t{2}},
                                     std::tuple{801, 201, kInterpolatedSample}, std::tuple{1200, 1200, kVoidSample}})
        EXPECT_EQ(overlay.at(c, r), (ProvenanceColour(code) & 0x00FFFFFFu) | (kProvenanceOverlayAlpha << 24))
            << r << "," << c;

    // The task's levels have the sizes of the tile picture's, so that the view takes the same level of both.
    TempFolder temp;
    writeBytes(temp / "N47E011.src", companion());
    const RenderedProvenance rendered = RenderProvenanceTask(temp / "N47E011.src");
    ASSERT_TRUE(rendered.error.isEmpty()) << rendered.error.toStdString();
    QImage level(kSide, kSide, QImage::Format_RGB32);
    for (const QImage& overlayLevel : rendered.levels) {
        EXPECT_EQ(overlayLevel.size(), level.size());
        level = HalvedImage(level);
    }
    EXPECT_LE(rendered.levels.back().width(), kSmallestLevel);
    EXPECT_EQ(qAlpha(rendered.levels[0].pixel(700, 700)), 0);
    EXPECT_EQ(qAlpha(rendered.levels[0].pixel(0, 0)), static_cast<int>(kProvenanceOverlayAlpha));
}

} // namespace provenance_overlay_test
} // namespace hgt::test

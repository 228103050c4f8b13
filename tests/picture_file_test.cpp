// Tile pictures written as PNG and read back: which sample each pixel shows, the legend margin of a
// difference picture, and a file that cannot be written.

#include "pictures/picture_file.h"
#include "tests/support/tiles.h"
#include "pictures/internal/picture_rules.h"

#include <QGuiApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <filesystem>

namespace hgt::test {
namespace picture_file_test {

TileSamples samplesOf(int side, std::int16_t (*height)(int, int))
{
    TileSamples samples;
    samples.name = "N47E011.hgt";
    samples.side = side;
    samples.values.resize(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c)
            samples.values[static_cast<std::size_t>(r) * side + c] = height(r, c);
    return samples;
}

std::int16_t ripple(int r, int c)
{
    if ((r * 31 + c * 17) % 97 == 0)
        return kVoidValue;
    return static_cast<std::int16_t>((r * 7 + c * 13) % 61 - 30);
}

QImage reload(const std::string& path)
{
    QImage image(QString::fromStdString(path));
    EXPECT_FALSE(image.isNull()) << path;
    return image.convertToFormat(QImage::Format_RGB32);
}

// Without the legend pixel (x, y) is the colour of sample (row y, column x), at full size, and of
// sample (row 3y, column 3x) for a 1" tile drawn on 1201 pixels.
TEST(PictureFile, PixelsShowTheirSamples)
{
    TempFolder folder;
    const TileSamples samples = samplesOf(3601, ripple);
    const TileSummary summary = SummarizeTile(samples, PictureKind::Difference);
    for (const auto& [size, step] : {std::pair{0, 1}, std::pair{1201, 3}}) {
        const std::string path = folder / ("plain" + std::to_string(size) + ".png");
        ASSERT_TRUE(WritePicturePng(TileRenderer(samples, summary, size).render(), summary, false, path));
        const QImage image = reload(path);
        ASSERT_EQ(image.width(), size ? size : 3601);
        ASSERT_EQ(image.height(), image.width());
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const std::int16_t d = samples.at(step * y, step * x);
                const std::uint32_t expected =
                    d == kVoidValue ? kDifferenceVoidColour : DifferenceColour(d, summary.difference->clip);
                ASSERT_EQ(image.pixel(x, y), expected) << "pixel " << x << ", " << y;
            }
    }
}

// The legend goes into a margin on the right: the picture keeps its pixels, the margin shows the
// colour bar from red (top) to blue (bottom) and the histogram. A relief picture has no legend.
TEST(PictureFile, LegendInTheRightMarginOnly)
{
    TempFolder folder;
    const TileSamples samples = samplesOf(1201, ripple);
    const TileSummary summary = SummarizeTile(samples, PictureKind::Difference);
    const TilePicture picture = TileRenderer(samples, summary).render();
    const std::string path = folder / "legend.png";
    ASSERT_TRUE(WritePicturePng(picture, summary, true, path));
    const QImage image = reload(path);
    ASSERT_EQ(image.height(), 1201);
    ASSERT_EQ(image.width(), 1201 + LegendWidth(1201));
    for (int y = 0; y < 1201; ++y)
        for (int x = 0; x < 1201; ++x)
            ASSERT_EQ(image.pixel(x, y), picture.at(x, y)) << "pixel " << x << ", " << y;

    double highRows = 0, lowRows = 0;
    int high = 0, low = 0, ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 1201; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            high += p == kDifferenceHighColour;
            highRows += p == kDifferenceHighColour ? y : 0;
            low += p == kDifferenceLowColour;
            lowRows += p == kDifferenceLowColour ? y : 0;
            ink += qGray(p) < 100;
        }
    ASSERT_GT(high, 0);
    ASSERT_GT(low, 0);
    EXPECT_LT(highRows / high, 600);
    EXPECT_GT(lowRows / low, 600);
    EXPECT_GT(ink, 1000); // ticks, labels and histogram bars

    const TileSummary relief = SummarizeTile(samples, PictureKind::Relief);
    ASSERT_TRUE(WritePicturePng(TileRenderer(samples, relief).render(), relief, true, folder / "relief.png"));
    EXPECT_EQ(reload(folder / "relief.png").width(), 1201);
}

TEST(PictureFile, UnwritablePathLeavesNothing)
{
    TempFolder folder;
    const TileSamples samples = samplesOf(1201, ripple);
    const TileSummary summary = SummarizeTile(samples, PictureKind::Relief);
    const TilePicture picture = TileRenderer(samples, summary, 100).render();
    writeBytes(folder / "file.hgt", Bytes(10));
    // A file where a folder must go, and a folder that does not exist.
    for (const std::string& path : {folder / "file.hgt/out.png", folder / "missing/out.png"}) {
        const Result<> written = WritePicturePng(picture, summary, false, path);
        ASSERT_FALSE(written) << path;
        EXPECT_EQ(written.error().message.rfind(path, 0), 0u) << written.error().message;
    }
    EXPECT_EQ(WritePicturePng(picture, summary, false, folder / "missing/out.png").error().kind, ErrorKind::NotFound);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"file.hgt"});
}

} // namespace picture_file_test
} // namespace hgt::test

int main(int argc, char** argv)
{
    // Fonts for the legend need a GUI application; test discovery runs without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

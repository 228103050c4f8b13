#include "cli/progress_bar.h"

#include <gtest/gtest.h>

#include <sstream>

namespace hgt::cli::test {
namespace progress_bar_test {

std::size_t columns(const std::string& text)
{
    std::size_t n = 0;
    for (char c : text)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

TEST(RenderProgress, ShowsCountCurrentTileRateAndTimeLeft)
{
    const std::string line = RenderProgress({10, 40, "N47E011.hgt", 5.0}, 100);
    EXPECT_NE(line.find("10/40"), std::string::npos) << line;
    EXPECT_NE(line.find("N47E011.hgt"), std::string::npos) << line;
    EXPECT_NE(line.find("2,0 Kacheln/s"), std::string::npos) << line;
    EXPECT_NE(line.find("noch 0:15"), std::string::npos) << line;
    EXPECT_EQ(line.find("[######------------------]  10/40"), 0u) << line; // 24 cells for 99 columns, a quarter done

    const std::string slow = RenderProgress({1, 2000, "", 3.0}, 100);
    EXPECT_NE(slow.find("0,33 Kacheln/s"), std::string::npos) << slow;
    EXPECT_NE(slow.find("noch 1:39:57"), std::string::npos) << slow;
}

TEST(RenderProgress, HasNoRateBeforeTheFirstTileIsDone)
{
    const std::string line = RenderProgress({0, 3, "N47E011.hgt", 0.0}, 80);
    EXPECT_NE(line.find("0/3"), std::string::npos) << line;
    EXPECT_NE(line.find("– Kacheln/s  noch –"), std::string::npos) << line;
}

TEST(RenderProgress, NeverReachesTheLastColumn)
{
    const std::string name = "N47E011_mit_einem_sehr_langen_Namen_äöü_der_nicht_passt.hgt";
    for (int width : {0, 1, 10, 30, 40, 50, 60, 79, 80, 120, 300}) {
        const std::string line = RenderProgress({123, 4567, name, 61.0}, width);
        EXPECT_LE(columns(line), static_cast<std::size_t>(std::max(width - 1, 0))) << width << ": " << line;
        if (width >= 80) {
            EXPECT_NE(line.find("123/4567"), std::string::npos) << line;
        }
    }
    // A cut name ends in an ellipsis and keeps its multi-byte letters whole.
    const std::string cut = RenderProgress({1, 2, "Ääääääääääääääääääääääääääääääää.hgt", 1.0}, 50);
    EXPECT_NE(cut.find("…"), std::string::npos) << cut;
    EXPECT_EQ(cut.find("\xc3  "), std::string::npos) << cut;
}

TEST(ProgressBar, RedrawsInPlaceNamesTheTileInFlightAndClearsAtTheEnd)
{
    std::ostringstream out;
    double now = 100.0;
    ProgressBar bar(out, 80, [&now] { return now; });
    bar.tileStarted(0, 3, "/daten/N47E011.hgt");
    bar.tileStarted(1, 3, "/daten/N47E012.hgt");
    now += 0.05; // too soon to redraw
    bar.tileFinished(1, 3, TileResult{});
    now += 1.0;
    bar.tileFinished(0, 3, TileResult{});
    now += 0.2;
    bar.tileStarted(2, 3, "/daten/N48E011.hgt");
    now += 1.0;
    bar.tileFinished(2, 3, TileResult{}); // the last one is always drawn
    bar.runEnded();
    const std::string text = out.str();

    std::vector<std::string> frames;
    std::istringstream split(text);
    for (std::string frame; std::getline(split, frame, '\r');)
        if (!frame.empty())
            frames.push_back(frame);
    ASSERT_EQ(frames.size(), 5u) << text; // the first, two after the pause, the last, the clearing
    EXPECT_NE(frames[0].find("0/3  N47E011.hgt"), std::string::npos) << frames[0];
    EXPECT_NE(frames[1].find("2/3"), std::string::npos) << frames[1];
    EXPECT_NE(frames[2].find("2/3  N48E011.hgt"), std::string::npos) << frames[2];
    EXPECT_NE(frames[3].find("3/3"), std::string::npos) << frames[3];
    EXPECT_EQ(frames[4], "\x1b[K");
    EXPECT_EQ(text.find('\n'), std::string::npos);
}

// A console without escape sequences: each frame covers the longer one before it with spaces, and the
// end blanks the widest, all short of the last column.
TEST(ProgressBar, WithoutEscapesOverwritesWithSpaces)
{
    std::ostringstream out;
    double now = 100.0;
    ProgressBar bar(
        out, 60, [&now] { return now; }, false);
    bar.tileStarted(0, 12, "/daten/N47E011_mit_langem_Namen.hgt");
    now += 1.0;
    bar.tileFinished(0, 12, TileResult{});
    now += 1.0;
    bar.tileStarted(1, 12, "/daten/N1.hgt");
    bar.runEnded();
    const std::string text = out.str();
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
    ASSERT_EQ(text.back(), '\r');

    std::vector<std::string> frames;
    std::istringstream split(text.substr(1));
    for (std::string frame; std::getline(split, frame, '\r');)
        frames.push_back(frame);
    ASSERT_EQ(frames.size(), 4u) << text;
    std::size_t widest = 0;
    for (const std::string& frame : frames) {
        EXPECT_GE(columns(frame), widest) << frame;
        EXPECT_LE(columns(frame), 59u) << frame;
        widest = std::max(widest, columns(frame));
    }
    EXPECT_NE(frames[2].find("1/12  N1.hgt"), std::string::npos) << frames[2];
    EXPECT_EQ(frames[3], std::string(widest, ' '));
}

} // namespace progress_bar_test
} // namespace hgt::cli::test

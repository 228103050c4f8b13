// Refusals and failing file operations of the fill engine, made in ways that hold for root too.

#include "tiles/tile_error.h"
#include "tiles/tile_format.h"
#include "app/window_state.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_folder.h"
#include "tiles/internal/output_paths.h"
#include "tests/support/reference_fill.h"
#include "tests/support/fake_host.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>

namespace hgt::test {
namespace merge_tile_failure_test {

WindowState startOfBatch()
{
    WindowState state;
    state.logIndex.set(-1);
    return state;
}

class MergeTileFailure : public ::testing::Test {
protected:
    void SetUp() override
    {
        primaryTile = primaryOfAll();
        writeBytes(primary, primaryTile);
        writeBytes(temp / "secondary/N47E011.hgt", secondaryOfAll());
    }

    // Made once for all cases of the suite.
    static const Bytes& primaryOfAll()
    {
        static const Bytes tile = [] {
            Bytes t = plainTile(1);
            setVoid(t, 100);
            return t;
        }();
        return tile;
    }
    static const Bytes& secondaryOfAll()
    {
        static const Bytes tile = plainTile(2);
        return tile;
    }

    TileResult run(const std::string& primaryFile)
    {
        return MergeTile(state, host, primaryFile, secondary, quickOptions());
    }

    // The run ended with the message as its line and in the run log, and left no temporary file.
    void expectFailed(const TileResult& result, const std::string& fragment)
    {
        EXPECT_EQ(result.end, RunEnd::Failed);
        EXPECT_NE(result.message().find(fragment), std::string::npos) << result.message();
        EXPECT_EQ(host.lines, std::vector<std::string>{result.message()});
        EXPECT_NE(state.runLog.find(result.message()), std::string::npos);
        if (std::filesystem::is_directory(merged)) {
            for (const auto& entry : std::filesystem::directory_iterator(merged))
                EXPECT_EQ(entry.path().extension(), ".hgt") << entry.path();
        }
        EXPECT_EQ(readBytes(primary), primaryTile);
    }

    TempFolder temp;
    std::string primary = temp / "tiles/N47E011.hgt";
    std::string secondary = temp / "secondary";
    std::string merged = temp / "tiles/Merged";
    Bytes primaryTile;
    WindowState state = startOfBatch();
    FakeHost host{state};
};

TEST_F(MergeTileFailure, ShortTilesAreRefusedBeforeAnythingIsWritten)
{
    writeBytes(temp / "tiles/S.hgt", Bytes(1000, 0xD8));
    expectFailed(run(temp / "tiles/S.hgt"),
                 "S.hgt ist kein HGT-File (1000 Bytes statt 25934402 Bytes für 1″ oder 2884802 Bytes für 3″)");
    EXPECT_FALSE(std::filesystem::exists(merged));

    host.lines.clear();
    state = startOfBatch();
    writeBytes(temp / "secondary/N47E011.hgt", Bytes(kTileBytes - 1, 0));
    expectFailed(run(primary), nativePath("secondary/N47E011.hgt") + " ist kein HGT-File (25934401 Bytes");
    EXPECT_FALSE(std::filesystem::exists(merged));
}

TEST_F(MergeTileFailure, UnreadablePrimary)
{
    std::filesystem::create_directories(temp / "tiles/D.hgt");
    expectFailed(run(temp / "tiles/D.hgt"), "D.hgt ist keine Datei");
}

TEST_F(MergeTileFailure, FileStandingWhereMergedMustBeCreated)
{
    writeBytes(merged, Bytes{1, 2, 3});
    expectFailed(run(primary), "Merged kann nicht angelegt werden");
    EXPECT_EQ(readBytes(merged), (Bytes{1, 2, 3}));
}

TEST_F(MergeTileFailure, FolderStandingWhereTheOutputTileGoes)
{
    std::filesystem::create_directories(merged + "/N47E011.hgt/inner");
    expectFailed(run(primary), nativePath("Merged/N47E011.hgt") + " kann nicht geschrieben werden");
    EXPECT_TRUE(std::filesystem::is_directory(merged + "/N47E011.hgt/inner"));
}

#ifndef _WIN32 // a file size limit is a POSIX resource limit
TEST_F(MergeTileFailure, WriteFailingInTheMiddleOfTheWalk)
{
    // A file size limit stops the output at 10 MB, well after the first progress reports; it holds
    // for root too.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limit = old;
    limit.rlim_cur = 10'000'000;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const TileResult result = run(primary);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);

    expectFailed(result, "Merged/N47E011.hgt kann nicht geschrieben werden: Datei zu groß");
    EXPECT_EQ(result.message().find(".tmp"), std::string::npos) << result.message();
    EXPECT_FALSE(std::filesystem::exists(merged + "/N47E011.hgt"));
}
#endif

// An input cut short while the walk is under way (blocks are read ahead of the walk on a second
// core) fails the run with the file's name, wherever the reads stand, and leaves no output.
TEST_F(MergeTileFailure, InputCutShortDuringTheWalk)
{
    for (const std::string& input : {primary, nativePath(secondary + "/N47E011.hgt")}) {
        SCOPED_TRACE(input);
        writeBytes(temp / "secondary/N47E011.hgt", secondaryOfAll());
        // Voids all over the primary, so every block needs the secondary.
        Bytes holes = primaryTile;
        for (std::int64_t at = 0; at < kTileSide * kTileSide; at += 50'000)
            setVoid(holes, at);
        writeBytes(primary, holes);
        host.lines.clear();
        state = startOfBatch();
        bool cut = false;
        host.onYield = [&] {
            if (!cut && state.posHigh > 5'000'000) {
                std::filesystem::resize_file(input, 6'000'000);
                cut = true;
            }
        };
        const TileResult result = run(primary);
        EXPECT_TRUE(cut);
        EXPECT_EQ(result.end, RunEnd::Failed);
        EXPECT_EQ(result.message(), input + " kann nicht gelesen werden: Datei ist zu kurz");
        EXPECT_FALSE(std::filesystem::exists(merged + "/N47E011.hgt"));
        if (std::filesystem::is_directory(merged)) {
            EXPECT_TRUE(std::filesystem::is_empty(merged));
        }
    }
}

TEST_F(MergeTileFailure, StopKeepsAnEarlierOutputTileAndRemovesTheTemporaryFile)
{
    const Bytes earlier(kTileBytes + 10, 0x42);
    writeBytes(merged + "/N47E011.hgt", earlier);
    host.onYield = [&] {
        if (state.posHigh > 5000000)
            state.stopRequested = true;
    };
    const TileResult result = run(primary);
    EXPECT_EQ(result.end, RunEnd::Stopped);
    EXPECT_EQ(readBytes(merged + "/N47E011.hgt"), earlier);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(merged), std::filesystem::directory_iterator()), 1);
}

TEST_F(MergeTileFailure, CompleteRunReplacesAnEarlierLongerOutputTile)
{
    writeBytes(merged + "/N47E011.hgt", Bytes(kTileBytes + 10, 0x42));
    EXPECT_EQ(run(primary).end, RunEnd::Complete);
    Bytes expected = primaryTile;
    const Bytes& secondaryTile = secondaryOfAll();
    expected[200] = secondaryTile[200];
    expected[201] = secondaryTile[201];
    EXPECT_EQ(readBytes(merged + "/N47E011.hgt"), expected);
}

TEST_F(MergeTileFailure, SecondaryNameDiffersInLetterCase)
{
    std::filesystem::rename(temp / "secondary/N47E011.hgt", temp / "secondary/n47e011.HGT");
    EXPECT_EQ(run(primary).end, RunEnd::Complete);
    EXPECT_TRUE(std::filesystem::exists(merged + "/N47E011.hgt"));

#ifndef _WIN32 // a folder on Windows holds no two names that differ only in case
    // Two candidates that differ only in case: neither is the exact name, so none is used, and the
    // message says so, naming the folder searched.
    writeBytes(temp / "secondary/N47e011.hgt", plainTile(3));
    host.lines.clear();
    state = startOfBatch();
    const TileResult ambiguous = run(primary);
    expectFailed(ambiguous, "mehrere sekundäre hgt-files passen zu N47E011.hgt im Sekundärordner " + secondary);
    EXPECT_EQ(errorKind(ambiguous), TileErrorKind::Ambiguous);
#endif
}

TEST_F(MergeTileFailure, SecondaryThatIsThePrimaryItselfIsRefused)
{
    // The secondary folder is the primary's own: the same file, found by its name.
    const TileResult result = MergeTile(state, host, primary, temp / "tiles", quickOptions());
    expectFailed(result,
                 "Das sekundäre hgt-file " + temp / "tiles/N47E011.hgt" + " ist das Primärfile " + primary + " selbst");
    EXPECT_EQ(errorKind(result), TileErrorKind::SameFile);
    EXPECT_FALSE(std::filesystem::exists(merged));
}

TEST_F(MergeTileFailure, LongTileNamesFitBesideTheirTemporaryFile)
{
    const std::string name = std::string(251, 'N') + ".hgt";
    writeBytes(temp / ("tiles/" + name), primaryTile);
    writeBytes(temp / ("secondary/" + name), secondaryOfAll());
    const TileResult result = run(temp / ("tiles/" + name));
    EXPECT_EQ(result.end, RunEnd::Complete) << result.message();
    EXPECT_TRUE(std::filesystem::exists(merged + "/" + name));
}

TEST(MergeTilePaths, OutputFolderBesideTheTile)
{
    EXPECT_EQ(SiblingFolder(nativePath("/data/tiles/N47E011.hgt"), "Merged"), nativePath("/data/tiles/Merged"));
    EXPECT_EQ(SiblingFolder("N47E011.hgt", "DIFFS"), "DIFFS");
    EXPECT_EQ(MergedTilePath(nativePath("/data/tiles/N47E011.hgt")), nativePath("/data/tiles/Merged/N47E011.hgt"));
    EXPECT_EQ(DifferenceTilePath("N47E011.hgt"), nativePath("DIFFS/N47E011.hgt"));
}

TEST(TileFolder, WhichFilesAreTilesAndWhichFoldersHoldThem)
{
    TempFolder temp;
    for (const char* name : {"b.hGt", "a.txt", "N47E011.hgt", "x.hgt.zip"})
        writeBytes(temp / ("all/" + std::string(name)), {1});
    const Result<std::vector<std::string>> tiles = ListTiles(temp / "all");
    ASSERT_TRUE(tiles);
    EXPECT_EQ(*tiles, (std::vector<std::string>{temp / "all/b.hGt", temp / "all/N47E011.hgt", temp / "all/x.hgt.zip"}));
    EXPECT_TRUE(FolderHoldsTile(temp / "all"));
    // Only .hgt, .HGT and .Hgt make a folder usable, although a batch takes every letter case.
    writeBytes(temp / "odd/b.hGt", {1});
    EXPECT_FALSE(FolderHoldsTile(temp / "odd"));
    EXPECT_EQ(ListTiles(temp / "odd")->size(), 1u);
    EXPECT_FALSE(FolderHoldsTile(temp / "none"));
    EXPECT_EQ(ListTiles(temp / "none").error().kind, ErrorKind::NotFound);
    EXPECT_EQ(FindTileInFolder(temp / "all", "N47E012.hgt").error().kind, ErrorKind::NotFound);
    // An archive counts by the tile it names; a plain file of that name comes first.
    writeBytes(temp / "zips/N47E012.SRTMGL1.hgt.zip", {1});
    EXPECT_TRUE(FolderHoldsTile(temp / "zips"));
    EXPECT_EQ(FindTileInFolder(temp / "zips", "n47e012.hgt").value(), temp / "zips/N47E012.SRTMGL1.hgt.zip");
    writeBytes(temp / "zips/N47E012.hgt", {1});
    EXPECT_EQ(FindTileInFolder(temp / "zips", "N47E012.hgt").value(), temp / "zips/N47E012.hgt");
    EXPECT_EQ(TileName("/a/N47E012.SRTMGL1.hgt.zip"), "N47E012.hgt");
    EXPECT_EQ(TileName("/a/n47e012.HGT"), "n47e012.HGT");
}

} // namespace merge_tile_failure_test
} // namespace hgt::test

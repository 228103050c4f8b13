// Runs never write over what they read: output folders that lead back to an input through a
// symlink or a source folder named as Merged, two tiles of a batch with one output name, and the
// reasons given for inputs that are not what they seem.

#include "platform/archive.h"
#include "platform/file_system.h"
#include "test_support.h"
#include "app/window_state.h"
#include "tiles/run_host.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/tile_error.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_source.h"
#include "tiles/tile_folder.h"

#include <zip.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>

namespace hgt::test {
namespace output_safety_test {

namespace fs = std::filesystem;

constexpr std::int64_t kSide3 = 1201;

// A 3" tile of heights below 3000 with a void every `voidEvery` samples (none for 0).
Bytes grid3(std::uint32_t seed, std::int64_t voidEvery)
{
    Bytes bytes(static_cast<std::size_t>(kSide3 * kSide3 * 2));
    for (std::int64_t k = 0; k < kSide3 * kSide3; ++k) {
        const auto value = static_cast<std::uint16_t>((k * 7 + seed * 13) % 3000);
        bytes[2 * k] = static_cast<std::uint8_t>(value >> 8);
        bytes[2 * k + 1] = static_cast<std::uint8_t>(value);
        if (voidEvery > 0 && k % voidEvery == 0)
            setVoid(bytes, k);
    }
    return bytes;
}

// in/N47E011.hgt with voids and sec/N47E011.hgt without, for each case to bend.
struct TwoFolders {
    TempFolder temp;
    std::string in = temp / "in";
    std::string sec = temp / "sec";
    std::string primary = temp / "in/N47E011.hgt";
    std::string secondary = temp / "sec/N47E011.hgt";
    Bytes primaryBytes = grid3(1, 97);
    Bytes secondaryBytes = grid3(2, 0);

    TwoFolders()
    {
        writeBytes(primary, primaryBytes);
        writeBytes(secondary, secondaryBytes);
    }
};

RunOptions quick()
{
    RunOptions options;
    options.durable = false;
    return options;
}

TileResult fill(const std::string& primary, const std::string& secondaryFolder)
{
    WindowState state;
    QuietHost host;
    return MergeTile(state, host, primary, secondaryFolder, quick());
}

struct LeadBack {
    const char* name;
    // Prepares the folders; returns the secondary folder to fill from.
    std::function<std::string(TwoFolders&)> arrange;
};

void PrintTo(const LeadBack& row, std::ostream* out)
{
    *out << row.name;
}

class OutputLeadsBack : public ::testing::TestWithParam<LeadBack> {};

TEST_P(OutputLeadsBack, IsRefusedBeforeAnythingIsWritten)
{
    TwoFolders f;
    const std::string secondaryFolder = GetParam().arrange(f);
    const std::string secondaryTile = secondaryFolder + "/N47E011.hgt";
    const Bytes secondaryBefore = readBytes(secondaryTile);

    const TileResult result = fill(f.primary, secondaryFolder);

    EXPECT_EQ(result.end, RunEnd::Failed);
    EXPECT_EQ(errorKind(result), TileErrorKind::OutputIsInput);
    EXPECT_NE(result.message().find("Merged"), std::string::npos) << result.message();
    EXPECT_TRUE(result.output.empty());
    EXPECT_TRUE(sameBytes(readBytes(f.primary), f.primaryBytes));
    EXPECT_TRUE(sameBytes(readBytes(secondaryTile), secondaryBefore));
}

const LeadBack kLeadBackRows[] = {
#ifndef _WIN32 // folder links: see windows_platform_test.cpp
    LeadBack{"MergedLinksToThePrimarysFolder",
             [](TwoFolders& f) {
                 fs::create_directory_symlink(".", f.in + "/Merged");
                 return f.sec;
             }},
    LeadBack{"MergedLinksToTheSecondaryFolder",
             [](TwoFolders& f) {
                 fs::create_directory_symlink("../sec", f.in + "/Merged");
                 return f.sec;
             }},
#endif
    LeadBack{"SecondaryFolderIsMerged", [](TwoFolders& f) {
                 writeBytes(f.in + "/Merged/N47E011.hgt", f.secondaryBytes);
                 return f.in + "/Merged";
             }}};

INSTANTIATE_TEST_SUITE_P(Fill, OutputLeadsBack, ::testing::ValuesIn(kLeadBackRows),
                         [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// A source folder that holds no such tile is still a source: later tiles may find theirs there.
TEST(OutputLeadsBack, SourceFolderWithoutTheTileIsRefusedToo)
{
    TwoFolders f;
    fs::create_directory_symlink("../sec", f.in + "/Merged");
    fs::rename(f.secondary, f.temp / "elsewhere.hgt");
    writeBytes(f.temp / "third/N47E011.hgt", f.secondaryBytes);
    WindowState state;
    QuietHost host;
    RunOptions options = quick();
    options.sources = FolderSources({f.sec, f.temp / "third"});
    const TileResult result = MergeTile(state, host, f.primary, f.sec, options);
    EXPECT_EQ(errorKind(result), TileErrorKind::OutputIsInput) << result.message();
    EXPECT_EQ(folderEntries(f.sec), std::set<std::string>{});
}
#endif

// A raster source at a path: every sample of the tile, no file read.
struct RasterAt : TileSource {
    explicit RasterAt(std::string at) : at(std::move(at)) {}
    std::string path() const override { return at; }
    Result<std::optional<SourceTile>> tileFor(const std::string&, int side, const std::vector<std::uint8_t>*,
                                              const Proceed&) const override
    {
        return std::optional<SourceTile>(SourceTile{std::vector<std::int16_t>(std::size_t(side) * side, 500), {at}});
    }
    std::string at;
};

// Rasters are inputs like HGT folders: a raster folder (read with its sub folders) that holds the
// output folder, or a raster file in it, is refused before anything is written there.
class RasterSourceLeadsBack : public ::testing::TestWithParam<const char*> {};

TEST_P(RasterSourceLeadsBack, IsRefusedBeforeAnythingIsWritten)
{
    TwoFolders f;
    const std::string source = f.temp / GetParam();
    source.ends_with(".tif") ? writeBytes(source, Bytes{'I', 'I', 42, 0}) : (void)fs::create_directories(source);
    const std::set<std::string> before = folderEntries(f.in + "/Merged");
    RunOptions options = quick();
    options.sources = {{source, std::make_shared<RasterAt>(source)}};
    WindowState state;
    QuietHost host;
    EXPECT_EQ(errorKind(MergeTile(state, host, f.primary, {}, options)), TileErrorKind::OutputIsInput);
    EXPECT_EQ(folderEntries(f.in + "/Merged"), before);
}

INSTANTIATE_TEST_SUITE_P(Fill, RasterSourceLeadsBack, ::testing::Values("in/Merged", ".", "in/Merged/dgm.tif"));

#ifndef _WIN32
TEST(OutputLeadsBack, UnrelatedMergedSymlinkStaysAllowed)
{
    TwoFolders f;
    fs::create_directory(f.temp / "elsewhere");
    fs::create_directory_symlink("../elsewhere", f.in + "/Merged");
    const TileResult result = fill(f.primary, f.sec);
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    EXPECT_EQ(folderEntries(f.temp / "elsewhere"), std::set<std::string>{"N47E011.hgt"});
}

TEST(OutputLeadsBack, BatchRefusesOnlyTheTileConcerned)
{
    TwoFolders f;
    fs::create_directory_symlink(".", f.in + "/Merged");
    writeBytes(f.temp / "other/N47E011.hgt", f.primaryBytes);
    for (const unsigned jobs : {1u, 2u}) {
        WindowState state;
        QuietHost host;
        RunOptions options = quick();
        options.jobs = jobs;
        const BatchResult batch = MergeTiles(state, host, {f.primary, f.temp / "other/N47E011.hgt"}, f.sec, options);
        ASSERT_EQ(batch.tiles.size(), 2u);
        EXPECT_EQ(errorKind(batch.tiles[0]), TileErrorKind::OutputIsInput) << "jobs " << jobs;
        EXPECT_EQ(batch.tiles[1].end, RunEnd::Complete) << batch.tiles[1].message();
        EXPECT_TRUE(sameBytes(readBytes(f.primary), f.primaryBytes));
    }
}

TEST(OutputLeadsBack, DifferenceIntoThePrimarysFolderIsRefused)
{
    TwoFolders f;
    fs::create_directory_symlink(".", f.in + "/DIFFS");
    WindowState state;
    QuietHost host;
    const TileResult result = MakeDifferenceTile(state, host, f.primary, f.secondary, quick());
    EXPECT_EQ(errorKind(result), TileErrorKind::OutputIsInput);
    EXPECT_TRUE(sameBytes(readBytes(f.primary), f.primaryBytes));
}

TEST(OutputFolders, RefusedDifferenceLeavesNoFolderAndDanglingLinkIsNamed)
{
    TwoFolders f;
    WindowState state;
    QuietHost host;
    ASSERT_EQ(::mkfifo((f.temp / "fifo.hgt").c_str(), 0600), 0);
    const TileResult fifo = MakeDifferenceTile(state, host, f.primary, f.temp / "fifo.hgt", quick());
    EXPECT_EQ(errorKind(fifo), TileErrorKind::NotATile);
    EXPECT_NE(fifo.message().find("ist keine Datei"), std::string::npos) << fifo.message();
    const TileResult same = MakeDifferenceTile(state, host, f.primary, f.primary, quick());
    EXPECT_EQ(errorKind(same), TileErrorKind::SameFile);
    EXPECT_FALSE(EntryExists(f.in + "/DIFFS"));

    fs::create_directory_symlink("../gone", f.in + "/Merged");
    const TileResult dangling = fill(f.primary, f.sec);
    EXPECT_EQ(dangling.end, RunEnd::Failed);
    EXPECT_NE(dangling.message().find("Symlink auf ../gone, das nicht existiert"), std::string::npos)
        << dangling.message();
}
#endif

// N47E011.hgt and an archive of the same tile both fill into Merged/N47E011.hgt.
TEST(BatchClash, PlainTileWinsForEveryJobCount)
{
    TempFolder temp;
    const Bytes plain = grid3(3, 101);
    const Bytes zipped = grid3(4, 89);
    writeBytes(temp / "in/N47E011.hgt", plain);
    ASSERT_TRUE(WriteZippedTile(temp / "in/N47E011.SRTMGL3.hgt.zip", "N47E011.hgt", zipped));
    ASSERT_TRUE(WriteZippedTile(temp / "in/N47E012.SRTMGL3.hgt.zip", "N47E012.hgt", zipped));
    ASSERT_TRUE(WriteZippedTile(temp / "in/N47E012.hgt.zip", "N47E012.hgt", plain));
    writeBytes(temp / "sec/N47E011.hgt", grid3(5, 0));
    writeBytes(temp / "sec/N47E012.hgt", grid3(5, 0));
    const Result<std::vector<std::string>> tiles = ListTiles(temp / "in");
    ASSERT_TRUE(tiles);

    std::vector<std::vector<RunEnd>> ends;
    std::vector<Bytes> outputs;
    for (const unsigned jobs : {1u, 2u}) {
        WindowState state;
        QuietHost host;
        RunOptions options = quick();
        options.jobs = jobs;
        const BatchResult batch = MergeTiles(state, host, *tiles, temp / "sec", options);
        ASSERT_EQ(batch.tiles.size(), 4u);
        std::vector<RunEnd> end;
        for (const TileResult& tile : batch.tiles) {
            end.push_back(tile.end);
            if (tile.end == RunEnd::Failed) {
                EXPECT_EQ(errorKind(tile), TileErrorKind::OutputClash);
                EXPECT_NE(tile.message().find(" wie "), std::string::npos) << tile.message();
            }
        }
        ends.push_back(end);
        outputs.push_back(readBytes(temp / "in/Merged/N47E011.hgt"));
        outputs.push_back(readBytes(temp / "in/Merged/N47E012.hgt"));
    }
    // Batch order: N47E011.hgt, N47E011.SRTMGL3.hgt.zip, N47E012.hgt.zip, N47E012.SRTMGL3.hgt.zip; of two
    // archives the first wins.
    const std::vector<RunEnd> expected{RunEnd::Complete, RunEnd::Failed, RunEnd::Complete, RunEnd::Failed};
    EXPECT_EQ(ends[0], expected);
    EXPECT_EQ(ends[1], expected);
    EXPECT_TRUE(sameBytes(outputs[2], outputs[0]));
    EXPECT_TRUE(sameBytes(outputs[3], outputs[1]));

    WindowState state;
    QuietHost host;
    const TileResult alone = MergeTile(state, host, temp / "in/N47E011.hgt", temp / "sec", quick());
    EXPECT_TRUE(sameBytes(readBytes(alone.output), outputs[0]));
}

// libzip's and the system's reasons reach the user in German (a wrong checksum and a truncated
// archive are rows of the archive refusals).
struct BrokenInput {
    const char* name;
    std::function<std::string(const TempFolder&)> make; // returns the primary to fill
    const char* reason;
};

// A stored (uncompressed) archive of a 3" tile, so that its bytes can be bent at known places.
std::string storedArchive(const TempFolder& temp, const std::string& file, const std::vector<std::string>& members)
{
    static const Bytes tile = grid3(6, 97);
    const std::string path = temp / file;
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    for (const std::string& member : members) {
        zip_source_t* source = zip_source_buffer(archive, tile.data(), tile.size(), 0);
        const zip_int64_t index = zip_file_add(archive, member.c_str(), source, 0);
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    EXPECT_EQ(zip_close(archive), 0);
    return path;
}

void patch(const std::string& path, const std::function<void(Bytes&)>& change)
{
    Bytes bytes = readBytes(path);
    change(bytes);
    writeBytes(path, bytes);
}

void replaceAll(Bytes& bytes, const std::string& from, const std::string& to)
{
    for (auto it = bytes.begin(); (it = std::search(it, bytes.end(), from.begin(), from.end())) != bytes.end();)
        it = std::copy(to.begin(), to.end(), it);
}

void PrintTo(const BrokenInput& row, std::ostream* out)
{
    *out << row.name;
}

class GermanReasons : public ::testing::TestWithParam<BrokenInput> {};

TEST_P(GermanReasons, NameTheCause)
{
    TempFolder temp;
    writeBytes(temp / "sec/N47E011.hgt", grid3(5, 0));
    const TileResult result = fill(GetParam().make(temp), temp / "sec");
    EXPECT_EQ(result.end, RunEnd::Failed);
    EXPECT_NE(result.message().find(GetParam().reason), std::string::npos) << result.message();
}

const BrokenInput kBrokenInputs[] = {
    BrokenInput{"PlainTileNamedAsArchive",
                [](const TempFolder& t) {
                    writeBytes(t / "N47E011.hgt.zip", grid3(1, 97));
                    return t / "N47E011.hgt.zip";
                },
                "kein ZIP-Archiv"},
    BrokenInput{"Encrypted",
                [](const TempFolder& t) {
                    const std::string path = storedArchive(t, "N47E011.hgt.zip", {"N47E011.hgt"});
                    // The "encrypted" flag in the member's local and central headers.
                    patch(path, [](Bytes& b) {
                        for (const std::string& sig : {std::string("PK\x03\x04", 4), std::string("PK\x01\x02", 4)}) {
                            const auto at = std::search(b.begin(), b.end(), sig.begin(), sig.end());
                            at[sig[2] == 3 ? 6 : 8] |= 0x01;
                        }
                    });
                    return path;
                },
                "verschlüsselt"},
    BrokenInput{"TwoMembersOfOneName",
                [](const TempFolder& t) {
                    const std::string path = storedArchive(t, "N47E011.hgt.zip", {"N47E011.hgt", "X47E011.hgt"});
                    patch(path, [](Bytes& b) { replaceAll(b, "X47E011.hgt", "N47E011.hgt"); });
                    return path;
                },
                "zwei Einträge desselben Namens"},
#ifndef _WIN32
    BrokenInput{"SymlinkLoop",
                [](const TempFolder& t) {
                    fs::create_symlink("N47E011.hgt", t / "N47E011.hgt");
                    return t / "N47E011.hgt";
                },
                "Symlink-Schleife"},
#endif
};

INSTANTIATE_TEST_SUITE_P(Inputs, GermanReasons, ::testing::ValuesIn(kBrokenInputs),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace output_safety_test
} // namespace hgt::test

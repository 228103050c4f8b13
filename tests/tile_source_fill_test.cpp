// Fills from sources that are not HGT folders, seen by the engine only through TileSource: mixed
// with HGT folders in priority order, with both fill methods, on 3" tiles against a literal model.

#include "tests/support/fake_host.h"
#include "tests/test_support.h"
#include "app/window_state.h"
#include "tiles/run_options.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "tiles/tile_source.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace hgt::test {
namespace tile_source_fill_test {

constexpr std::int64_t kSide = kTileSide3;
constexpr std::int64_t kSamples = kSide * kSide;

// A source that answers from values in memory and keeps what it was asked for.
class FakeSource : public TileSource {
public:
    explicit FakeSource(std::vector<std::int16_t> tile) : values(std::move(tile)) {}

    std::string path() const override { return "/fake/dem.vrt"; }
    Result<std::optional<SourceTile>> tileFor(const std::string& tileName, int side,
                                              const std::vector<std::uint8_t>* wanted,
                                              const Proceed& /*proceed*/) const override
    {
        askedName = tileName;
        askedSide = side;
        askedWanted = wanted ? *wanted : std::vector<std::uint8_t>{};
        if (failure)
            return *failure;
        if (!covers)
            return std::optional<SourceTile>{};
        return std::optional<SourceTile>(SourceTile{values, {"/fake/a.tif", "/fake/b.tif"}});
    }

    std::vector<std::int16_t> values;
    bool covers = true;
    std::optional<Error> failure;
    mutable std::string askedName;
    mutable int askedSide = 0;
    mutable std::vector<std::uint8_t> askedWanted;
};

std::int16_t sampleOf(const Bytes& tile, std::int64_t k)
{
    return DecodeSample(tile.data() + 2 * k);
}

// A 3" primary with voids on every 5th sample; the other source lacks every 2nd sample.
struct Tiles {
    Bytes primary = Bytes(static_cast<std::size_t>(kTileBytes3));
    std::vector<std::int16_t> raster = std::vector<std::int16_t>(static_cast<std::size_t>(kSamples));

    explicit Tiles(std::int16_t voidValue = kVoidValue)
    {
        for (std::int64_t k = 0; k < kSamples; ++k) {
            EncodeSample(primary.data() + 2 * k, static_cast<std::int16_t>(k % 5 == 0 ? voidValue : 100 + k % 500));
            raster[static_cast<std::size_t>(k)] = static_cast<std::int16_t>(k % 2 == 0 ? kVoidValue : 3000 + k % 11);
        }
    }
};

// Where the source has no value, the output keeps the run's own void marker, whichever that is.
struct VoidCase {
    std::string name;
    std::int16_t voidValue;
};

void PrintTo(const VoidCase& c, std::ostream* os)
{
    *os << c.name;
}

class SourceVoids : public ::testing::TestWithParam<VoidCase> {};

TEST_P(SourceVoids, StayVoidsOfTheRunAndOnlyVoidsAreAskedFor)
{
    const VoidCase& c = GetParam();
    TempFolder folder;
    const Tiles tiles(c.voidValue);
    writeBytes(folder / "N47E011.hgt", tiles.primary);
    auto raster = std::make_shared<FakeSource>(tiles.raster);

    RunOptions options;
    options.durable = false;
    options.voidValues = {c.voidValue};
    options.sources = {{"", raster}};
    WindowState state;
    FakeHost host{state};
    const TileResult result = MergeTile(state, host, folder / "N47E011.hgt", "", options);
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();

    const Bytes output = readBytes(folder / "Merged/N47E011.hgt");
    ASSERT_EQ(output.size(), tiles.primary.size());
    std::int64_t voids = 0, left = 0;
    for (std::int64_t k = 0; k < kSamples; ++k) {
        std::int16_t expected = sampleOf(tiles.primary, k);
        if (k % 5 == 0) {
            ++voids;
            const std::int16_t v = tiles.raster[static_cast<std::size_t>(k)];
            expected = v == kVoidValue ? c.voidValue : v;
            left += v == kVoidValue;
        }
        ASSERT_EQ(sampleOf(output, k), expected) << "sample " << k;
    }
    EXPECT_EQ(result.voidsFound, voids);
    EXPECT_EQ(result.voidsLeft, left);
    EXPECT_EQ(result.filledBySource, std::vector<std::int64_t>{voids - left});
    EXPECT_EQ(result.sourceFiles, (std::vector<std::string>{"/fake/a.tif", "/fake/b.tif"}));

    // Asked by the tile's name, on the primary's grid, for its voids alone.
    EXPECT_EQ(raster->askedName, "N47E011.hgt");
    EXPECT_EQ(raster->askedSide, kSide);
    ASSERT_EQ(raster->askedWanted.size(), static_cast<std::size_t>(kSamples));
    for (std::int64_t k = 0; k < kSamples; ++k)
        ASSERT_EQ(raster->askedWanted[static_cast<std::size_t>(k)], k % 5 == 0) << "sample " << k;
}

INSTANTIATE_TEST_SUITE_P(TileSource, SourceVoids,
                         ::testing::Values(VoidCase{"Marker", kVoidValue}, VoidCase{"Lowest", -32768}),
                         [](const auto& info) { return info.param.name; });

// What the run makes of a source that covers no voids, does not cover the tile, or fails.
struct AnswerCase {
    std::string name;
    std::function<void(FakeSource&)> arrange;
    RunEnd end;
    bool filesListed;
};

void PrintTo(const AnswerCase& c, std::ostream* os)
{
    *os << c.name;
}

class SourceAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(SourceAnswers, EndTheRunAsATileFolderWould)
{
    const AnswerCase& c = GetParam();
    TempFolder folder;
    const Tiles tiles;
    writeBytes(folder / "N47E011.hgt", tiles.primary);
    std::vector<std::int16_t> raster = tiles.raster;
    auto source = std::make_shared<FakeSource>(raster);
    c.arrange(*source);

    RunOptions options;
    options.durable = false;
    options.sources = {{"", source}};
    WindowState state;
    FakeHost host{state};
    const TileResult result = MergeTile(state, host, folder / "N47E011.hgt", "", options);
    EXPECT_EQ(result.end, c.end) << result.message();
    EXPECT_EQ(!result.sourceFiles.empty(), c.filesListed);
    EXPECT_EQ(std::filesystem::exists(folder / "Merged/N47E011.hgt"), c.end == RunEnd::Complete);
}

INSTANTIATE_TEST_SUITE_P(
    TileSource, SourceAnswers,
    ::testing::Values(AnswerCase{"NotCovered", [](FakeSource& s) { s.covers = false; }, RunEnd::MissingSecondary,
                                 false},
                      AnswerCase{"NoValueAtAll", [](FakeSource& s) { s.values.assign(s.values.size(), kVoidValue); },
                                 RunEnd::MissingSecondary, false},
                      AnswerCase{"Fails",
                                 [](FakeSource& s) {
                                     s.failure = Error{ErrorKind::Io, "Lesefehler"};
                                 },
                                 RunEnd::Failed, false},
                      AnswerCase{"GivesValues", [](FakeSource&) {}, RunEnd::Complete, true}),
    [](const auto& info) { return info.param.name; });

// A tile no source has is reported naming what was asked: the folders' own text when only folders
// were, and every raster source by the path it was given (a raster holds no hgt-file to miss).
struct MissingCase {
    std::string name;
    std::vector<std::string> sources; // "raster:PATH" for a raster source, else an HGT folder below the test folder
    std::string message;              // {tile} stands for the primary's path, {dir} for the test folder
};

void PrintTo(const MissingCase& c, std::ostream* os)
{
    *os << c.name;
}

class MissingSourceMessage : public ::testing::TestWithParam<MissingCase> {};

TEST_P(MissingSourceMessage, NamesWhatWasAsked)
{
    const MissingCase& c = GetParam();
    TempFolder folder;
    const Tiles tiles;
    writeBytes(folder / "N47E011.hgt", tiles.primary);
    writeBytes(folder / "hgt/N47E012.hgt", tiles.primary); // a folder of tiles, none of them this one
    RunOptions options;
    options.durable = false;
    for (const std::string& source : c.sources) {
        if (source.rfind("raster:", 0) == 0) {
            auto raster = std::make_shared<FakeSource>(tiles.raster);
            raster->covers = false;
            options.sources.push_back({source.substr(7), raster});
        } else {
            options.sources.push_back({folder / source, nullptr});
        }
    }
    WindowState state;
    FakeHost host(state);
    const TileResult result = MergeTile(state, host, folder / "N47E011.hgt", folder / "hgt", options);
    EXPECT_EQ(result.end, RunEnd::MissingSecondary);
    std::string expected = c.message;
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{tile}", folder / "N47E011.hgt"},
                                     std::pair<std::string, std::string>{"{dir}", folder.path().string()}})
        for (std::size_t at; (at = expected.find(key)) != std::string::npos;)
            expected.replace(at, key.size(), value);
    EXPECT_EQ(result.message(), expected);
    EXPECT_TRUE(state.runLog.ends_with(expected)) << "the run's log says the same: " << state.runLog;
}

INSTANTIATE_TEST_SUITE_P(
    TileSource, MissingSourceMessage,
    ::testing::Values(
        MissingCase{"DefaultFolderRun", {}, "kein sekundäres hgt-file {tile} im Sekundärordner gefunden"},
        MissingCase{"FoldersOnly", {"hgt", "more"}, "kein sekundäres hgt-file {tile} im Sekundärordner gefunden"},
        MissingCase{"OneRaster", {"raster:/data/far.tif"}, "die Rasterquelle /data/far.tif hat keine Werte für {tile}"},
        MissingCase{"TwoRasters",
                    {"raster:/data/far.tif", "raster:/data/cop"},
                    "die Rasterquellen /data/far.tif, /data/cop haben keine Werte für {tile}"},
        MissingCase{"FolderThenRaster",
                    {"hgt", "raster:/data/far.tif"},
                    "kein sekundäres hgt-file {tile} im Sekundärordner gefunden, und die Rasterquelle /data/far.tif "
                    "hat keine Werte dafür"}),
    [](const auto& info) { return info.param.name; });

// The offset-bridging fill works on a source of another kind as on a tile: a source 30 m below a
// smooth primary fills a square void with the primary's own surface, and is asked for the rim too.
TEST(TileSourceDelta, BridgesAConstantOffsetAndNamesTheGeoids)
{
    TempFolder folder;
    Bytes primary(static_cast<std::size_t>(kTileBytes3));
    std::vector<std::int16_t> raster(static_cast<std::size_t>(kSamples));
    auto height = [](std::int64_t r, std::int64_t c) { return static_cast<std::int16_t>(500 + r / 3 + c / 4); };
    auto inVoid = [](std::int64_t r, std::int64_t c) { return r >= 400 && r < 440 && c >= 600 && c < 650; };
    for (std::int64_t r = 0; r < kSide; ++r)
        for (std::int64_t c = 0; c < kSide; ++c) {
            const std::int64_t k = r * kSide + c;
            EncodeSample(primary.data() + 2 * k, inVoid(r, c) ? kVoidValue : height(r, c));
            raster[static_cast<std::size_t>(k)] = static_cast<std::int16_t>(height(r, c) - 30);
        }
    writeBytes(folder / "N47E011.hgt", primary);
    auto source = std::make_shared<FakeSource>(raster);

    RunOptions options;
    options.durable = false;
    options.method = FillMethod::Delta;
    options.sources = {{"", source}};
    WindowState state;
    FakeHost host{state};
    const TileResult result = MergeTile(state, host, folder / "N47E011.hgt", "", options);
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    ASSERT_TRUE(result.offsets);
    EXPECT_DOUBLE_EQ(result.offsets->median, 30.0);
    EXPECT_NE(result.warning.find("EGM96 und EGM2008"), std::string::npos) << result.warning;

    const Bytes output = readBytes(folder / "Merged/N47E011.hgt");
    for (std::int64_t r = 400; r < 440; ++r)
        for (std::int64_t c = 600; c < 650; ++c)
            ASSERT_EQ(sampleOf(output, r * kSide + c), height(r, c)) << r << "," << c;

    // Wanted: the 40 x 50 void and a rim of three samples around it, nothing else.
    std::int64_t wanted = 0;
    for (std::int64_t r = 0; r < kSide; ++r)
        for (std::int64_t c = 0; c < kSide; ++c) {
            const bool near = r >= 397 && r < 443 && c >= 597 && c < 653;
            const bool asked = source->askedWanted[static_cast<std::size_t>(r * kSide + c)] != 0;
            wanted += asked;
            ASSERT_TRUE(!asked || near) << r << "," << c;
        }
    EXPECT_GT(wanted, 40 * 50);
}

} // namespace tile_source_fill_test
} // namespace hgt::test

// InspectTile against sums worked out here, on real files, around the 256 KiB block boundary.

#include "cli_test_support.h"
#include "tiles/tile_error.h"
#include "tiles/tile_format.h"
#include "tiles/run_options.h"
#include "tiles/tile_info.h"
#include "tiles/internal/samples.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace hgt::cli::test {
namespace tile_info_test {

constexpr std::int64_t kBlockSamples = static_cast<std::int64_t>(kDefaultBlockBytes) / 2;

TileInfo inspect(const TempFolder& temp, const Bytes& bytes, const std::vector<std::int16_t>& voids = {kVoidValue})
{
    const std::string path = temp / "N47E011.hgt";
    writeBytes(path, bytes);
    Result<TileInfo> info = InspectTile(path, voids);
    EXPECT_TRUE(info.has_value()) << (info ? "" : info.error().message);
    return info.value_or(TileInfo{});
}

TEST(InspectTile, SumsUpAFullTileWithoutItsVoids)
{
    TempFolder temp;
    Bytes tile = plainTile(3);
    const std::vector<std::int64_t> voids{0, kBlockSamples - 1, kBlockSamples, kTileSamples - 1};
    for (std::int64_t k : voids)
        setValue(tile, k, kVoidValue);
    setValue(tile, 5, -428);   // below sea level
    setValue(tile, 7, 8848);   // a high peak
    setValue(tile, 9, -32768); // the extremes of the type
    setValue(tile, 11, 32767);

    std::int64_t sum = 0;
    for (std::int64_t k = 0; k < kTileSamples; ++k) {
        const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(tile[2 * k] << 8 | tile[2 * k + 1]));
        if (v != kVoidValue)
            sum += v;
    }
    const TileInfo info = inspect(temp, tile);
    EXPECT_EQ(info.bytes, kTileBytes);
    EXPECT_EQ(info.side, kTileSide);
    EXPECT_EQ(info.voids, 4);
    EXPECT_EQ(info.minimum, std::optional<std::int16_t>(-32768));
    EXPECT_EQ(info.maximum, std::optional<std::int16_t>(32767));
    EXPECT_DOUBLE_EQ(info.mean, static_cast<double>(sum) / static_cast<double>(kTileSamples - 4));
    EXPECT_FALSE(info.pairAtOddOffsetOnly);
}

struct PairCase {
    std::string name;
    std::int64_t highByteOffset; // where D8 goes; F1 follows
    bool oddOnly;
};

void PrintTo(const PairCase& c, std::ostream* os)
{
    *os << c.name;
}

class VoidPairPlaces : public ::testing::TestWithParam<PairCase> {};

TEST_P(VoidPairPlaces, AreToldApartByTheirOffset)
{
    TempFolder temp;
    Bytes tile = plainTile();
    tile[static_cast<std::size_t>(GetParam().highByteOffset)] = kVoidHigh;
    tile[static_cast<std::size_t>(GetParam().highByteOffset) + 1] = kVoidLow;
    const TileInfo info = inspect(temp, tile);
    EXPECT_EQ(info.pairAtOddOffsetOnly, GetParam().oddOnly);
    EXPECT_EQ(info.voids, GetParam().oddOnly ? 0 : 1);
}

constexpr auto kBlock = static_cast<std::int64_t>(kDefaultBlockBytes);

INSTANTIATE_TEST_SUITE_P(InspectTile, VoidPairPlaces,
                         ::testing::Values(PairCase{"odd_at_start", 1, true},
                                           PairCase{"odd_just_before_block_end", kBlock - 3, true},
                                           PairCase{"odd_across_block_boundary", kBlock - 1, true},
                                           PairCase{"odd_just_after_block_start", kBlock + 1, true},
                                           PairCase{"odd_last_possible", kTileBytes - 3, true},
                                           PairCase{"even_is_a_void", kBlock - 2, false},
                                           PairCase{"even_at_block_start", kBlock, false}),
                         [](const auto& info) { return info.param.name; });

TEST(InspectTile, OtherGridsAndOddSizes)
{
    TempFolder temp;
    const TileInfo threeSeconds = inspect(temp, plainTile(0, 1201));
    EXPECT_EQ(threeSeconds.bytes, 1201 * 1201 * 2);
    EXPECT_EQ(threeSeconds.side, 1201);

    Bytes notSquare = plainTile(0, 100);
    notSquare.resize(notSquare.size() + 2, 0);
    EXPECT_EQ(inspect(temp, notSquare).side, 0);

    Bytes oddLength = plainTile(0, 2);
    oddLength.push_back(0xD8); // half a sample: no sample, and no pair without the F1
    const TileInfo odd = inspect(temp, oddLength);
    EXPECT_EQ(odd.side, 0);
    EXPECT_EQ(odd.voids, 0);
    EXPECT_FALSE(odd.pairAtOddOffsetOnly);

    Bytes allVoid(8);
    for (std::int64_t k = 0; k < 4; ++k)
        setValue(allVoid, k, kVoidValue);
    const TileInfo voids = inspect(temp, allVoid);
    EXPECT_EQ(voids.side, 2);
    EXPECT_EQ(voids.voids, 4);
    EXPECT_FALSE(voids.minimum.has_value());
    EXPECT_FALSE(voids.maximum.has_value());
}

struct VoidSetCase {
    std::string name;
    std::vector<std::int16_t> voids;
    std::int64_t expectedVoids;
    std::optional<std::int16_t> minimum;
    bool pairOnly;
};

void PrintTo(const VoidSetCase& c, std::ostream* os)
{
    *os << c.name;
}

class VoidSets : public ::testing::TestWithParam<VoidSetCase> {};

// A 3" grid of heights 0 … 2999 with one -9999, two -32767 and three -32768, and the marker's byte
// pair once more at an odd offset, which makes sample 51 0xF100 = -3840.
TEST_P(VoidSets, DecideWhatCountsAsAVoid)
{
    TempFolder temp;
    Bytes grid = plainTile(0, 1201);
    setValue(grid, 10, kVoidValue);
    setValue(grid, 20, -32767);
    setValue(grid, 21, -32767);
    for (std::int64_t k : {30, 31, 32})
        setValue(grid, k, -32768);
    grid[101] = kVoidHigh;
    grid[102] = kVoidLow;
    grid[103] = 0;
    const TileInfo info = inspect(temp, grid, GetParam().voids);
    EXPECT_EQ(info.side, 1201);
    EXPECT_EQ(info.voids, GetParam().expectedVoids);
    EXPECT_EQ(info.minimum, GetParam().minimum);
    EXPECT_EQ(info.pairAtOddOffsetOnly, GetParam().pairOnly);
}

INSTANTIATE_TEST_SUITE_P(InspectTile, VoidSets,
                         ::testing::Values(VoidSetCase{"marker", {kVoidValue}, 1, -32768, false},
                                           VoidSetCase{"lowest", {-32768}, 3, -32767, false},
                                           VoidSetCase{"both_ends", {-32767, -32768}, 5, kVoidValue, false},
                                           VoidSetCase{"all_three", {-32767, kVoidValue, -32768}, 6, -3840, false}),
                         [](const auto& info) { return info.param.name; });

TEST(InspectTile, APairOnlyAtOddOffsetsOrInTheTailIsNoVoid)
{
    TempFolder temp;
    Bytes grid = plainTile(0, 1201);
    grid[501] = kVoidHigh;
    grid[502] = kVoidLow;
    EXPECT_TRUE(inspect(temp, grid).pairAtOddOffsetOnly);
    // Where -9999 is no void value, fill never looks for its byte pair.
    EXPECT_FALSE(inspect(temp, grid, {-32768}).pairAtOddOffsetOnly);

    // A longer 1" file is the tile and a tail: the tail holds no samples, but a pair in it counts.
    Bytes longer = plainTile(2);
    for (std::uint8_t byte : {std::uint8_t{0x7F}, std::uint8_t{0xFF}, kVoidHigh, kVoidLow})
        longer.push_back(byte);
    const TileInfo info = inspect(temp, longer);
    EXPECT_EQ(info.bytes, kTileBytes + 4);
    EXPECT_EQ(info.side, kTileSide);
    EXPECT_EQ(info.voids, 0);
    EXPECT_EQ(info.maximum, std::optional<std::int16_t>(2999));
    EXPECT_TRUE(info.pairAtOddOffsetOnly);
}

// A file the tile input refuses by its size is still summed up as samples; an archive it refuses is not.
TEST(InspectTile, ABrokenArchiveIsAnError)
{
    TempFolder temp;
    writeBytes(temp / "broken.hgt.zip", Bytes(100, 0));
    const Result<TileInfo> broken = InspectTile(temp / "broken.hgt.zip");
    ASSERT_FALSE(broken.has_value());
    EXPECT_NE(broken.error().message.find("broken.hgt.zip"), std::string::npos) << broken.error().message;
}

TEST(InspectTile, RefusesWhatItCannotRead)
{
    TempFolder temp;
    const Result<TileInfo> missing = InspectTile(temp / "fehlt.hgt");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().kind, ErrorKind::NotFound);
    EXPECT_NE(missing.error().message.find("fehlt.hgt"), std::string::npos);

    const Result<TileInfo> folder = InspectTile(temp.path().string());
    ASSERT_FALSE(folder.has_value());
    EXPECT_EQ(folder.error().kind, TileErrorKind::NotATile);

#ifndef _WIN32              // Windows takes the rights from the file's access list
    if (::geteuid() != 0) { // root reads anything
        const std::string locked = temp / "locked.hgt";
        writeBytes(locked, plainTile(0, 4));
        ::chmod(locked.c_str(), 0);
        const Result<TileInfo> refused = InspectTile(locked);
        ASSERT_FALSE(refused.has_value());
        EXPECT_EQ(refused.error().kind, ErrorKind::Permission);
    }
#endif
}

} // namespace tile_info_test
} // namespace hgt::cli::test

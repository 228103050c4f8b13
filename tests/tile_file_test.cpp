#include "save_file.h"
#include "test_support.h"
#include "tile_file.h"

#include <gtest/gtest.h>

namespace hgt::test {
namespace {

TEST(TileFile, ReadsAtPositionsAndReportsShortFiles)
{
    TempFolder temp;
    writeBytes(temp / "t.hgt", {1, 2, 3, 4, 5});
    TileFile file;
    ASSERT_TRUE(file.open(temp / "t.hgt", TileFile::Mode::Read));
    FsStatus status;
    EXPECT_EQ(file.size(status), 5);
    std::uint8_t buffer[4] = {};
    ASSERT_TRUE(file.readAt(3, buffer, 2));
    EXPECT_EQ(buffer[0], 4);
    ASSERT_TRUE(file.readAt(0, buffer, 2));
    EXPECT_EQ(buffer[1], 2);
    const FsStatus past = file.readAt(4, buffer, 2);
    EXPECT_FALSE(past);
    EXPECT_NE(past.message.find("zu kurz"), std::string::npos);
    EXPECT_TRUE(file.close());
}

TEST(TileFile, OpenFailuresNameTheFile)
{
    TempFolder temp;
    TileFile file;
    const FsStatus missing = file.open(temp / "missing.hgt", TileFile::Mode::Read);
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.message.find("missing.hgt kann nicht geöffnet werden"), std::string::npos);

    std::filesystem::create_directories(temp / "dir.hgt");
    EXPECT_FALSE(file.open(temp / "dir.hgt", TileFile::Mode::Read));
    EXPECT_FALSE(file.isOpen());

    writeBytes(temp / "there.hgt", {1});
    EXPECT_FALSE(file.open(temp / "there.hgt", TileFile::Mode::CreateNew));
}

TEST(TileFile, WriteToAFullDeviceFails)
{
    TileFile file;
    ASSERT_TRUE(file.open("/dev/full", TileFile::Mode::Overwrite));
    const std::vector<std::uint8_t> block(65536, 7);
    FsStatus status = file.write(block.data(), block.size());
    if (status)
        status = file.close();
    EXPECT_FALSE(status);
    EXPECT_NE(status.message.find("/dev/full"), std::string::npos);
}

TEST(TileFile, MovedFileKeepsItsHandle)
{
    TempFolder temp;
    writeBytes(temp / "t.hgt", {9, 8});
    TileFile first;
    ASSERT_TRUE(first.open(temp / "t.hgt", TileFile::Mode::Read));
    TileFile second = std::move(first);
    EXPECT_FALSE(first.isOpen());
    std::uint8_t byte = 0;
    ASSERT_TRUE(second.readAt(1, &byte, 1));
    EXPECT_EQ(byte, 8);
}

TEST(SaveFile, OnlyACommittedFileReplacesTheTarget)
{
    TempFolder temp;
    const std::string target = temp / "out.hgt";
    writeBytes(target, {1, 1, 1});
    const std::uint8_t data[] = {5, 6};
    {
        SaveFile save(target);
        ASSERT_TRUE(save.open());
        ASSERT_TRUE(save.write(data, 2));
        EXPECT_TRUE(std::filesystem::exists(save.tempPath()));
        EXPECT_EQ(readBytes(target), (Bytes{1, 1, 1}));
    } // dropped without commit
    EXPECT_EQ(readBytes(target), (Bytes{1, 1, 1}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), std::filesystem::directory_iterator()), 1);

    SaveFile save(target);
    ASSERT_TRUE(save.open());
    ASSERT_TRUE(save.write(data, 2));
    ASSERT_TRUE(save.commit());
    EXPECT_EQ(readBytes(target), (Bytes{5, 6}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), std::filesystem::directory_iterator()), 1);
}

TEST(SaveFile, FolderThatCannotTakeTheFile)
{
    TempFolder temp;
    SaveFile save(temp / "missing/out.hgt");
    const FsStatus status = save.open();
    EXPECT_FALSE(status);
    EXPECT_NE(status.message.find("out.hgt kann nicht geschrieben werden"), std::string::npos);
}

} // namespace
} // namespace hgt::test

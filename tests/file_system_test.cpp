#include "platform/file_system.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace hgt::test {
namespace file_system_test {

TEST(FileSystemNames, ExtensionFileNameAndParent)
{
    EXPECT_EQ(GetExtensionName("/tiles/N47E011.hgt"), "hgt");
    EXPECT_EQ(GetExtensionName("/tiles/N47E011.HGT"), "HGT");
    EXPECT_EQ(GetExtensionName("/tiles/a.b.hgt"), "hgt");
    EXPECT_EQ(GetExtensionName("/tiles.d/N47E011"), "");
    EXPECT_EQ(GetExtensionName(""), "");

    EXPECT_EQ(GetFileName("/tiles/N47E011.hgt"), "N47E011.hgt");
    EXPECT_EQ(GetFileName("N47E011.hgt"), "N47E011.hgt");
    EXPECT_EQ(GetFileName(""), "");

    EXPECT_EQ(GetParentFolderName("/tiles/N47E011.hgt"), "/tiles");
    EXPECT_EQ(GetParentFolderName("/tiles//N47E011.hgt"), "/tiles");
    EXPECT_EQ(GetParentFolderName("/N47E011.hgt"), "/");
    EXPECT_EQ(GetParentFolderName("N47E011.hgt"), "");
    EXPECT_EQ(GetParentFolderName(""), "");

    // The separator is added even where the left part ends with one.
    const std::string separator(1, PathSeparator());
    EXPECT_EQ(JoinPath("/sek/", "N47E011.hgt"), "/sek/" + separator + "N47E011.hgt");
    EXPECT_EQ(JoinPath("", "N47E011.hgt"), separator + "N47E011.hgt");
}

TEST(FileSystemDisk, ExistsTellsFilesFromFolders)
{
    TempFolder temp;
    writeBytes(temp / "a.hgt", {1});
    std::filesystem::create_directories(temp / "sub.hgt");
    EXPECT_TRUE(FileExists(temp / "a.hgt"));
    EXPECT_FALSE(FileExists(temp / "sub.hgt"));
    EXPECT_FALSE(FileExists("Hier Pfad zum HGT-File"));
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(FolderExists(temp / "sub.hgt"));
    EXPECT_FALSE(FolderExists(temp / "a.hgt"));
    EXPECT_FALSE(FolderExists(""));
}

TEST(FileSystemDisk, ListingHoldsFilesOnlySortedIgnoringCase)
{
    TempFolder temp;
    for (const char* name : {"b.hgt", "N48E011.hgt", "a.txt", "n47e012.HGT", "N47E011.hgt"})
        writeBytes(temp / name, {1});
    std::filesystem::create_directories(temp / "N00E000.hgt");
    const Result<Folder> folder = GetFolder(temp.path().string());
    ASSERT_TRUE(folder);
    const Result<std::vector<std::string>> listing = Files(*folder);
    ASSERT_TRUE(listing);
    std::vector<std::string> names;
    for (const auto& file : *listing) {
        EXPECT_EQ(GetParentFolderName(file), temp.path().string());
        names.push_back(GetFileName(file));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.hgt", "N47E011.hgt", "n47e012.HGT", "N48E011.hgt"}));

    EXPECT_EQ(GetFolder(temp / "nope").error().kind, ErrorKind::NotFound);
    EXPECT_FALSE(Files(Folder{temp / "nope"}));
}

TEST(FileSystemDisk, CreateFolderReportsWhatStandsInTheWay)
{
    TempFolder temp;
    EXPECT_TRUE(CreateFolder(temp / "Merged"));
    EXPECT_TRUE(FolderExists(temp / "Merged"));
    writeBytes(temp / "DIFFS", {1});
    const Result<> blocked = CreateFolder(temp / "DIFFS");
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().message,
              "Ordner " + temp / "DIFFS" + " kann nicht angelegt werden: Datei existiert bereits");
    EXPECT_FALSE(CreateFolder(temp / "no/parent"));
}

// The tiles of a batch in flight make their output folder at the same moment: whichever thread comes
// second finds the folder there, which is what it wanted, not a file in the way.
TEST(FileSystemDisk, EnsureFolderFromSeveralThreadsAtOnce)
{
    TempFolder temp;
    for (int round = 0; round < 200; ++round) {
        const std::string folder = temp / ("Merged" + std::to_string(round));
        std::atomic<bool> go{false};
        std::atomic<int> failed{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                while (!go.load())
                    std::this_thread::yield();
                if (!EnsureFolder(folder))
                    ++failed;
            });
        go = true;
        for (std::thread& thread : threads)
            thread.join();
        ASSERT_EQ(failed.load(), 0) << folder;
    }
}

} // namespace file_system_test
} // namespace hgt::test

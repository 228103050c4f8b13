// Files on disk: reading by position, writing, and output files that appear only when complete.

#include "platform/error.h"
#include "platform/file.h"
#include "platform/save_file.h"
#include "tests/support/tiles.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>

namespace hgt::test {
namespace file_test {

std::size_t entries(const std::filesystem::path& folder)
{
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

TEST(File, ReadsAtPositionsAndReportsShortFiles)
{
    TempFolder temp;
    writeBytes(temp / "t.hgt", {1, 2, 3, 4, 5});
    Result<File> file = File::openRead(temp / "t.hgt");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size().value(), 5);
    EXPECT_EQ(File(std::move(*file)).openedSize(), 5) << "the size at opening moves with the file";
    file = File::openRead(temp / "t.hgt");
    std::uint8_t buffer[4] = {};
    ASSERT_TRUE(file->readAt(3, buffer, 2));
    EXPECT_EQ(buffer[0], 4);
    ASSERT_TRUE(file->readAt(0, buffer, 2));
    EXPECT_EQ(buffer[1], 2);
    const Result<> past = file->readAt(4, buffer, 2);
    ASSERT_FALSE(past);
    EXPECT_NE(past.error().message.find("zu kurz"), std::string::npos);
    EXPECT_EQ(file->readSomeAt(5, buffer, 4).value(), 0u);
    EXPECT_TRUE(file->close());
}

TEST(File, OpenFailuresNameTheFileAndRefuseWhatIsNoFile)
{
    TempFolder temp;
    const Result<File> missing = File::openRead(temp / "missing.hgt");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ErrorKind::NotFound);
    EXPECT_NE(missing.error().message.find("missing.hgt kann nicht geöffnet werden: Datei oder Ordner nicht gefunden"),
              std::string::npos);

    std::filesystem::create_directories(temp / "dir.hgt");
    const Result<File> folder = File::openRead(temp / "dir.hgt");
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().kind, ErrorKind::NotAFile);

#ifndef _WIN32
    // A pipe would block a plain open; it is refused at once.
    ASSERT_EQ(::mkfifo((temp / "pipe.hgt").c_str(), 0600), 0);
    EXPECT_FALSE(File::openRead(temp / "pipe.hgt"));
#endif
}

TEST(File, MovedFileKeepsItsHandleAndIdentityFollowsTheInode)
{
    TempFolder temp;
    writeBytes(temp / "t.hgt", {9, 8});
    std::filesystem::create_hard_link(temp / "t.hgt", temp / "u.hgt");
    writeBytes(temp / "v.hgt", {9, 8});
    Result<File> first = File::openRead(temp / "t.hgt");
    ASSERT_TRUE(first);
    File second = std::move(*first);
    EXPECT_FALSE(first->isOpen());
    std::uint8_t byte = 0;
    ASSERT_TRUE(second.readAt(1, &byte, 1));
    EXPECT_EQ(byte, 8);
    EXPECT_EQ(second.identity().value(), File::openRead(temp / "u.hgt")->identity().value());
    EXPECT_NE(second.identity().value(), File::openRead(temp / "v.hgt")->identity().value());
}

TEST(SystemReasons, CommonErrorsSpeakGerman)
{
    EXPECT_EQ(SystemReason(EACCES), "keine Berechtigung");
    EXPECT_EQ(SystemReason(ENOSPC), "kein Platz mehr auf dem Datenträger");
    EXPECT_EQ(SystemReason(EEXIST), "Datei existiert bereits");
    EXPECT_EQ(SystemReason(EISDIR), "ist ein Ordner");
    EXPECT_EQ(KindOf(ENOSPC), ErrorKind::NoSpace);
    EXPECT_EQ(KindOf(EACCES), ErrorKind::Permission);
    const Error error = SystemError("/x.hgt", " kann nicht geschrieben werden", ENOSPC);
    EXPECT_EQ(error.message, "/x.hgt kann nicht geschrieben werden: kein Platz mehr auf dem Datenträger");
}

TEST(SaveFile, OnlyACommittedFileReplacesTheTargetAndNothingElseIsLeft)
{
    TempFolder temp;
    const std::string target = temp / "out.hgt";
    writeBytes(target, {1, 1, 1});
    const std::uint8_t data[] = {5, 6};
    {
        Result<SaveFile> save = SaveFile::create(target);
        ASSERT_TRUE(save);
        ASSERT_TRUE(save->write(data, 2));
        EXPECT_EQ(readBytes(target), (Bytes{1, 1, 1}));
#ifndef _WIN32
        // The unnamed file has no entry in the folder while it is written.
        EXPECT_TRUE(save->tempPath().empty());
        EXPECT_EQ(entries(temp.path()), 1u);
#endif
    } // dropped without commit
    EXPECT_EQ(readBytes(target), (Bytes{1, 1, 1}));
    EXPECT_EQ(entries(temp.path()), 1u);

    Result<SaveFile> save = SaveFile::create(target);
    ASSERT_TRUE(save);
    ASSERT_TRUE(save->write(data, 2));
    ASSERT_TRUE(save->commit());
    EXPECT_EQ(readBytes(target), (Bytes{5, 6}));
    EXPECT_EQ(entries(temp.path()), 1u);
}

TEST(SaveFile, StepsGoSyncThenLinkThenRenameAndTheFolderLast)
{
    TempFolder temp;
    std::vector<std::string> steps;
    const SyncTrace trace = [&](std::string_view step, const std::string&) { steps.emplace_back(step); };
#ifdef _WIN32
    // Without unnamed files every output is renamed from its temporary name, the first one too.
    const std::vector<std::string> first{"sync-data", "rename", "sync-folder"};
    const std::vector<std::string> over{"sync-data", "rename"};
    const std::vector<std::string> fast{"rename"};
#else
    // A new file gets its name in one step; over an earlier file, a temporary name first, then the
    // rename over it.
    const std::vector<std::string> first{"sync-data", "link", "sync-folder"};
    const std::vector<std::string> over{"sync-data", "link", "rename"};
    const std::vector<std::string> fast{"link"};
#endif
    Result<SaveFile> save = SaveFile::create(temp / "out.hgt", {true, trace});
    ASSERT_TRUE(save);
    const std::uint8_t data[] = {1, 2};
    ASSERT_TRUE(save->write(data, 2));
    ASSERT_TRUE(save->commit());
    ASSERT_TRUE(SyncFolder(temp.path().string(), trace));
    EXPECT_EQ(steps, first);

    steps.clear();
    save = SaveFile::create(temp / "out.hgt", {true, trace});
    ASSERT_TRUE(save);
    ASSERT_TRUE(save->commit());
    EXPECT_EQ(steps, over);
    EXPECT_EQ(entries(temp.path()), 1u);

    // Without durability the data is not synced; the name still appears only when complete.
    steps.clear();
    save = SaveFile::create(temp / "fast.hgt", {false, trace});
    ASSERT_TRUE(save);
    ASSERT_TRUE(save->commit());
    EXPECT_EQ(steps, fast);
}

#ifndef _WIN32 // the Windows form, with a writer's open handle: windows_platform_test.cpp
TEST(SaveFile, TemporaryFilesOfDeadWritersAreRemovedByTheNextOne)
{
    TempFolder temp;
    // One left by a writer that died between its temporary name and the rename, one still held by
    // a live writer (its lock), and a file of the user's that merely looks alike.
    writeBytes(temp / ".hgtfill-0123abcd.tmp", {1});
    writeBytes(temp / ".hgtfill-live0000.tmp", {2});
    writeBytes(temp / ".hgtfill-user.tmp", {3});
    const int held = ::open((temp / ".hgtfill-live0000.tmp").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    Result<SaveFile> save = SaveFile::create(temp / "out.hgt");
    ASSERT_TRUE(save);
    EXPECT_FALSE(std::filesystem::exists(temp / ".hgtfill-0123abcd.tmp"));
    EXPECT_TRUE(std::filesystem::exists(temp / ".hgtfill-live0000.tmp"));
    EXPECT_TRUE(std::filesystem::exists(temp / ".hgtfill-user.tmp"));
    ::close(held);
}
#endif

TEST(SaveFile, TemporaryNamesDoNotGrowWithLongTileNames)
{
    TempFolder temp;
    // 255 characters is the longest name ext4 takes; a temporary name built from it would not fit.
    const std::string name = std::string(251, 'N') + ".hgt";
    Result<SaveFile> save = SaveFile::create(temp / name);
    ASSERT_TRUE(save) << save.error().message;
    const std::uint8_t data[] = {3, 4};
    ASSERT_TRUE(save->write(data, 2));
    ASSERT_TRUE(save->commit());
    EXPECT_EQ(readBytes(temp / name), (Bytes{3, 4}));
}

TEST(SaveFile, FailuresNameTheTargetNotTheTemporaryFile)
{
    TempFolder temp;
    const Result<SaveFile> missing = SaveFile::create(temp / "missing/out.hgt");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().message.find("out.hgt kann nicht geschrieben werden"), std::string::npos);

    // A folder under the target's name: the rename over it fails, and the linked file is removed.
    std::filesystem::create_directories(temp / "out.hgt/x");
    Result<SaveFile> save = SaveFile::create(temp / "out.hgt");
    ASSERT_TRUE(save);
    const Result<> committed = save->commit();
    ASSERT_FALSE(committed);
    EXPECT_EQ(committed.error().message.find(".tmp"), std::string::npos) << committed.error().message;
    EXPECT_NE(committed.error().message.find("out.hgt kann nicht geschrieben werden: "), std::string::npos);
    save->discard();
    EXPECT_EQ(entries(temp.path()), 1u); // out.hgt/ alone
}

} // namespace file_test
} // namespace hgt::test

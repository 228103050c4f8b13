// The promises of platform/ that only Windows can break: names Windows reserves or shortens, files
// that another program holds or that carry the read-only attribute, paths over 260 characters,
// names outside the ANSI code page, links back into an input folder (symbolic links, junctions,
// hard links), and outputs that appear only when complete.

#include "platform/archive.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/internal/windows_text.h"
#include "platform/save_file.h"
#include "tests/support/tiles.h"
#include "tiles/internal/output_paths.h"
#include "tiles/runs.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <cstdlib>
#include <cstring>
#include <optional>

namespace hgt::test {
namespace {

constexpr std::int64_t kSide3 = 1201;

// The UTF-16 name at the system, so that no test path passes through the ANSI code page.
std::wstring wide(const std::string& path)
{
    return windows::SystemPath(path);
}

// A file made through the system's wide functions; std::ofstream would read the name as ANSI.
void put(const std::string& path, const Bytes& bytes)
{
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << ": " << GetLastError();
    DWORD put = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr));
    CloseHandle(file);
}

Bytes get(const std::string& path)
{
    Result<File> file = File::openRead(path);
    if (!file)
        return {};
    Bytes bytes(static_cast<std::size_t>(file->openedSize()));
    if (!file->readAt(0, bytes.data(), bytes.size()))
        return {};
    return bytes;
}

// A 3" tile with a void every 97 samples, and one without voids.
Bytes voidedTile()
{
    Bytes tile = plainTile(1, kSide3);
    for (std::int64_t k = 0; k < kSide3 * kSide3; k += 97)
        setVoid(tile, k);
    return tile;
}

TileResult fill(const std::string& primary, const std::string& secondaryFolder)
{
    QuietHost host;
    return MergeTile(host, primary, secondaryFolder, quickOptions());
}

Result<> save(const std::string& target, const Bytes& bytes)
{
    Result<SaveFile> file = SaveFile::create(target);
    if (!file)
        return file.error();
    if (Result<> written = file->write(bytes.data(), bytes.size()); !written)
        return written;
    return file->commit();
}

struct NameRow {
    const char* name;
    const char* file;
    bool refused;
};

void PrintTo(const NameRow& row, std::ostream* out)
{
    *out << row.name;
}

class WindowsNames : public ::testing::TestWithParam<NameRow> {};

// A name Windows would shorten or send to a device is refused before anything is written, so that
// no tile lands under another name; names that merely begin alike are written.
TEST_P(WindowsNames, ReservedOrShortenedAreRefusedBeforeWriting)
{
    TempFolder temp;
    const std::string target = JoinPath(temp.path().string(), GetParam().file);
    const Result<> saved = save(target, {1, 2});
    if (!GetParam().refused) {
        ASSERT_TRUE(saved) << saved.error().message;
        EXPECT_EQ(get(target), (Bytes{1, 2}));
        return;
    }
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().message.find(target + " kann nicht geschrieben werden: "), 0u) << saved.error().message;
    EXPECT_EQ(folderEntries(temp.path().string()), std::set<std::string>{});
    EXPECT_FALSE(CreateFolder(JoinPath(temp.path().string(), GetParam().file)));
}

INSTANTIATE_TEST_SUITE_P(
    Platform, WindowsNames,
    ::testing::Values(NameRow{"device", "CON", true}, NameRow{"device_lower_case", "nul", true},
                      NameRow{"device_with_extension", "NUL.hgt", true}, NameRow{"numbered_device", "COM1.hgt", true},
                      NameRow{"numbered_device_blank", "lpt9 .hgt", true},
                      NameRow{"trailing_dot", "N47E011.hgt.", true}, NameRow{"trailing_blank", "N47E011.hgt ", true},
                      NameRow{"device_as_prefix", "CONSOLE.hgt", false}, NameRow{"unnumbered_port", "COM.hgt", false},
                      NameRow{"dot_inside", "N47E011.v2.hgt", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Another program holding the earlier output without sharing deletion makes the rename over it
// fail: said as such, the earlier output stays, and no temporary file is left. An input held
// exclusively cannot be opened, with the same reason.
TEST(WindowsFiles, HeldByAnotherProgram)
{
    TempFolder temp;
    const std::string target = temp / "N47E011.hgt";
    put(target, {7, 7, 7});
    HANDLE other = CreateFileW(wide(target).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    const Result<> saved = save(target, {1, 2});
    const Result<File> opened = [&] {
        HANDLE exclusive =
            CreateFileW(wide(temp / "in.hgt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        Result<File> file = File::openRead(temp / "in.hgt");
        CloseHandle(exclusive);
        return file;
    }();
    CloseHandle(other);

    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().message,
              target + " kann nicht geschrieben werden: Datei wird von einem anderen Programm benutzt");
    EXPECT_EQ(get(target), (Bytes{7, 7, 7}));
    EXPECT_EQ(folderEntries(temp.path().string()), (std::set<std::string>{"N47E011.hgt", "in.hgt"}));
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().message,
              temp / "in.hgt" + " kann nicht geöffnet werden: Datei wird von einem anderen Programm benutzt");
}

// An earlier output the user marked read-only is not replaced, and the reason names the attribute;
// a folder in the target's place is named as such.
TEST(WindowsFiles, ReadOnlyAttributeKeepsTheEarlierOutput)
{
    TempFolder temp;
    const std::string target = temp / "N47E011.hgt";
    put(target, {7, 7, 7});
    ASSERT_TRUE(SetFileAttributesW(wide(target).c_str(), FILE_ATTRIBUTE_READONLY));
    const Result<> saved = save(target, {1, 2});
    SetFileAttributesW(wide(target).c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().kind, ErrorKind::Permission);
    EXPECT_EQ(saved.error().message,
              target + " kann nicht geschrieben werden: Datei ist schreibgeschützt (Dateiattribut)");
    EXPECT_EQ(get(target), (Bytes{7, 7, 7}));
    EXPECT_EQ(folderEntries(temp.path().string()), std::set<std::string>{"N47E011.hgt"});

    // Windows refuses a folder in the target's place as access denied; said as what it is.
    ASSERT_TRUE(CreateFolder(temp / "N47E012.hgt"));
    const Result<> folder = save(temp / "N47E012.hgt", {1, 2});
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().message, temp / "N47E012.hgt" + " kann nicht geschrieben werden: ist ein Ordner");
}

struct PathRow {
    const char* name;
    std::string folder; // below the temporary folder
};

void PrintTo(const PathRow& row, std::ostream* out)
{
    *out << row.name;
}

class WindowsPaths : public ::testing::TestWithParam<PathRow> {};

// Folders with names outside the ANSI code page, and paths far over 260 characters: made, listed,
// filled into, zipped and read back under the same UTF-8 names.
TEST_P(WindowsPaths, WorkUnderTheirOwnNames)
{
    TempFolder temp;
    std::string folder = temp.path().string();
    for (std::size_t start = 0; start < GetParam().folder.size();) {
        const std::size_t end = std::min(GetParam().folder.find('/', start), GetParam().folder.size());
        folder = JoinPath(folder, GetParam().folder.substr(start, end - start));
        ASSERT_TRUE(EnsureFolder(folder)) << folder;
        start = end + 1;
    }
    const std::string in = JoinPath(folder, "in"), sec = JoinPath(folder, "sec");
    ASSERT_TRUE(CreateFolder(in));
    ASSERT_TRUE(CreateFolder(sec));
    const std::string primary = JoinPath(in, "N47E011.hgt");
    put(primary, voidedTile());
    put(JoinPath(sec, "N47E011.hgt"), plainTile(2, kSide3));
    EXPECT_TRUE(FileExists(primary));
    EXPECT_TRUE(FolderExists(in));
    ASSERT_TRUE(IdentityOf(primary));
    EXPECT_EQ(ResolvedPath(primary), primary);
    const Result<std::vector<std::string>> files = Files(Folder{in});
    ASSERT_TRUE(files);
    EXPECT_EQ(*files, std::vector<std::string>{primary});

    const TileResult result = fill(primary, sec);
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    const std::string merged = JoinPath(JoinPath(in, "Merged"), "N47E011.hgt");
    EXPECT_EQ(result.output, merged);
    const Bytes filled = get(merged);
    EXPECT_EQ(filled.size(), voidedTile().size());

    const std::string archive = JoinPath(folder, "N47E011.hgt.zip");
    ASSERT_TRUE(WriteZippedTile(archive, "N47E011.hgt", filled));
    const Result<std::vector<std::uint8_t>> unzipped = ReadZippedTile(archive, [](std::uint64_t) { return true; });
    ASSERT_TRUE(unzipped) << unzipped.error().message;
    EXPECT_TRUE(sameTile(*unzipped, filled));
    EXPECT_TRUE(RemoveFile(archive));
    EXPECT_FALSE(EntryExists(archive));

    // A folder that a refused run made goes again under the same name.
    const std::string made = JoinPath(folder, "Merged");
    ASSERT_TRUE(CreateFolder(made));
    RemoveEmptyFolders({made, in});
    EXPECT_FALSE(EntryExists(made));
    EXPECT_TRUE(FolderExists(in)) << "a folder with files stays";
}

INSTANTIATE_TEST_SUITE_P(Platform, WindowsPaths,
                         ::testing::Values(PathRow{"umlauts", "Höhenmodell Südtirol"}, PathRow{"cyrillic", "Высоты"},
                                           PathRow{"cjk", "高度数据"},
                                           PathRow{"over_260_characters", std::string(120, 'a') + "/"
                                                                              + std::string(120, 'b') + "/"
                                                                              + std::string(120, 'c')}),
                         [](const auto& info) { return std::string(info.param.name); });

// A Merged folder that is a junction made by the system's own call; false where the file system
// (or Wine) has no junctions.
bool makeJunction(const std::string& link, const std::string& target)
{
    if (!CreateDirectoryW(wide(link).c_str(), nullptr))
        return false;
    HANDLE folder = CreateFileW(wide(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    const std::wstring substitute = L"\\??\\" + windows::Widen(target), print = windows::Widen(target);
    const std::size_t names = (substitute.size() + 1 + print.size() + 1) * sizeof(wchar_t);
    std::vector<std::byte> data(8 + 8 + names);
    const auto word = [&](std::size_t at, std::size_t value) {
        const auto v = static_cast<WORD>(value);
        std::memcpy(data.data() + at, &v, sizeof v);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(data.data(), &tag, sizeof tag);
    word(4, 8 + names);
    word(8, 0);
    word(10, substitute.size() * sizeof(wchar_t));
    word(12, (substitute.size() + 1) * sizeof(wchar_t));
    word(14, print.size() * sizeof(wchar_t));
    std::memcpy(data.data() + 16, substitute.data(), substitute.size() * sizeof(wchar_t));
    std::memcpy(data.data() + 16 + (substitute.size() + 1) * sizeof(wchar_t), print.data(),
                print.size() * sizeof(wchar_t));
    DWORD returned = 0;
    const bool made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD>(data.size()),
                                      nullptr, 0, &returned, nullptr);
    CloseHandle(folder);
    if (!made)
        RemoveDirectoryW(wide(link).c_str());
    return made;
}

struct LinkRow {
    const char* name;
    // Makes in/Merged (or the output file in it) lead back to an input; false where the system
    // cannot make such a link.
    std::function<bool(const std::string& in, const std::string& sec)> link;
};

void PrintTo(const LinkRow& row, std::ostream* out)
{
    *out << row.name;
}

class WindowsLinksBack : public ::testing::TestWithParam<LinkRow> {};

// The output guard knows a file by its volume and file index, so every kind of Windows link that
// leads back into an input is refused before anything is written.
TEST_P(WindowsLinksBack, AreRefusedByTheOutputGuard)
{
    TempFolder temp;
    const std::string in = temp / "in", sec = temp / "sec";
    ASSERT_TRUE(CreateFolder(in));
    ASSERT_TRUE(CreateFolder(sec));
    put(JoinPath(in, "N47E011.hgt"), voidedTile());
    put(JoinPath(sec, "N47E011.hgt"), plainTile(2, kSide3));
    // Wine's CreateSymbolicLinkW answers success and makes nothing, hence the look at the result.
    if (!GetParam().link(in, sec) || !EntryExists(JoinPath(in, "Merged")))
        GTEST_SKIP() << "the system made no such link: " << GetLastError();

    const TileResult result = fill(JoinPath(in, "N47E011.hgt"), sec);
    EXPECT_EQ(result.end, RunEnd::Failed);
    EXPECT_EQ(errorKind(result), ErrorKind::OutputIsInput) << result.message();
    EXPECT_TRUE(sameTile(get(JoinPath(sec, "N47E011.hgt")), plainTile(2, kSide3)));
    EXPECT_TRUE(sameTile(get(JoinPath(in, "N47E011.hgt")), voidedTile()));
}

INSTANTIATE_TEST_SUITE_P(
    Platform, WindowsLinksBack,
    ::testing::Values(LinkRow{"symbolic_link_to_the_secondary_folder",
                              [](const std::string& in, const std::string& sec) {
                                  return CreateSymbolicLinkW(wide(JoinPath(in, "Merged")).c_str(), wide(sec).c_str(),
                                                             SYMBOLIC_LINK_FLAG_DIRECTORY
                                                                 | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)
                                         != 0;
                              }},
                      LinkRow{"symbolic_link_to_the_primarys_folder",
                              [](const std::string& in, const std::string&) {
                                  return CreateSymbolicLinkW(wide(JoinPath(in, "Merged")).c_str(), wide(in).c_str(),
                                                             SYMBOLIC_LINK_FLAG_DIRECTORY
                                                                 | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)
                                         != 0;
                              }},
                      LinkRow{"junction_to_the_secondary_folder",
                              [](const std::string& in, const std::string& sec) {
                                  return makeJunction(JoinPath(in, "Merged"), sec);
                              }},
                      LinkRow{"hard_link_of_the_output_to_the_secondary_tile",
                              [](const std::string& in, const std::string& sec) {
                                  return CreateDirectoryW(wide(JoinPath(in, "Merged")).c_str(), nullptr)
                                         && CreateHardLinkW(wide(JoinPath(in, "Merged/N47E011.hgt")).c_str(),
                                                            wide(JoinPath(sec, "N47E011.hgt")).c_str(), nullptr);
                              }}),
    [](const auto& info) { return std::string(info.param.name); });

// Names are found whatever their letter case, as on Linux; the system's own spelling is what the
// resolved path and the file list give.
TEST(WindowsFiles, LookupIgnoresLetterCase)
{
    TempFolder temp;
    put(temp / "n47e011.HGT", plainTile(2, kSide3));
    EXPECT_TRUE(FileExists(temp / "N47E011.hgt"));
    EXPECT_EQ(IdentityOf(temp / "N47E011.hgt"), IdentityOf(temp / "n47e011.HGT"));
    EXPECT_EQ(ResolvedPath(temp / "N47E011.hgt"), ResolvedPath(temp / "n47e011.HGT"));
    EXPECT_EQ(Files(Folder{temp.path().string()}).value(), std::vector<std::string>{temp / "n47e011.HGT"});

    ASSERT_TRUE(CreateFolder(temp / "p"));
    put(temp / "p/N47E011.hgt", voidedTile());
    const TileResult result = fill(temp / "p/N47E011.hgt", temp.path().string());
    EXPECT_EQ(result.end, RunEnd::Complete) << result.message();
}

// Discarded outputs leave nothing and an earlier output unchanged; a temporary file whose writer
// died is removed by the next writer into the folder, one still held by a live writer stays.
TEST(WindowsFiles, OutputsAppearOnlyComplete)
{
    TempFolder temp;
    const std::string target = temp / "N47E011.hgt";
    put(target, {7, 7, 7});
    {
        Result<SaveFile> file = SaveFile::create(target);
        ASSERT_TRUE(file);
        const std::uint8_t data[] = {1, 2};
        ASSERT_TRUE(file->write(data, 2));
        EXPECT_TRUE(FileExists(file->tempPath()));
    }
    EXPECT_EQ(get(target), (Bytes{7, 7, 7}));
    EXPECT_EQ(folderEntries(temp.path().string()), std::set<std::string>{"N47E011.hgt"});

    put(temp / ".hgtfill-0123abcd.tmp", {1}); // its writer was killed
    put(temp / ".hgtfill-user.tmp", {3});     // not a name of ours
    Result<SaveFile> live = SaveFile::create(temp / "N47E012.hgt");
    ASSERT_TRUE(live);
    const std::string liveTemp = GetFileName(live->tempPath());
    const Result<SaveFile> next = SaveFile::create(temp / "N47E013.hgt");
    ASSERT_TRUE(next);
    EXPECT_EQ(folderEntries(temp.path().string()),
              (std::set<std::string>{"N47E011.hgt", ".hgtfill-user.tmp", liveTemp, GetFileName(next->tempPath())}));
    ASSERT_TRUE(live->commit());
    EXPECT_FALSE(EntryExists(temp / liveTemp));
    EXPECT_TRUE(FileExists(temp / "N47E012.hgt"));
}

// An exit that cannot wait for its writers (hgtfill-cli after a stop signal's grace time) has the
// system delete the temporary files that the writers still hold open: the earlier output stays as
// it was and nothing else is left. The exit runs in a process of its own, which runs this test up
// to the exit again and finds the folder in the environment.
TEST(WindowsFilesDeathTest, ExitRemovesTheHeldTemporaryFiles)
{
    constexpr char kFolder[] = "HGTFILL_TEST_EXIT_FOLDER";
    std::optional<TempFolder> temp;
    std::string folder;
    if (const char* given = std::getenv(kFolder)) {
        folder = given;
    } else {
        temp.emplace();
        folder = temp->path().string();
        put(JoinPath(folder, "N47E011.hgt"), {7, 7, 7});
        SetEnvironmentVariableA(kFolder, folder.c_str());
    }
    const auto exitWhileWriting = [&] {
        Result<SaveFile> first = SaveFile::create(JoinPath(folder, "N47E011.hgt"));
        Result<SaveFile> second = SaveFile::create(JoinPath(folder, "N47E012.hgt"));
        const std::uint8_t data[] = {1, 2};
        if (!first || !second || !first->write(data, 2))
            std::_Exit(1);
        RemoveTemporaryFilesForExit();
        std::_Exit(0);
    };
    EXPECT_EXIT(exitWhileWriting(), ::testing::ExitedWithCode(0), "");
    SetEnvironmentVariableA(kFolder, nullptr);
    EXPECT_EQ(folderEntries(folder), std::set<std::string>{"N47E011.hgt"});
    EXPECT_EQ(get(JoinPath(folder, "N47E011.hgt")), (Bytes{7, 7, 7}));
}

} // namespace
} // namespace hgt::test

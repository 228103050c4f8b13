// What only Windows can break in platform/: reserved and shortened names, files held by another
// program or marked read-only, long and non-ANSI paths, links back into an input, complete outputs.

#include "platform/archive.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/internal/windows_text.h"
#include "platform/save_file.h"
#include "tests/support/tiles.h"
#include "tiles/internal/output_paths.h"
#include "tiles/run_host.h"
#include "tiles/run_result.h"
#include "tiles/tile_error.h"
#include "tiles/tile_runs.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <cstdlib>
#include <optional>

namespace hgt::test {
namespace windows_platform_test {

using windows::SystemPath;

constexpr std::int64_t kSide3 = 1201;

// A file made through the system's wide functions; std::ofstream would read the name as ANSI.
void put(const std::string& path, const Bytes& bytes)
{
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path << ": " << GetLastError();
    DWORD put = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr));
    CloseHandle(file);
}

Bytes get(const std::string& path)
{
    Result<File> file = File::openRead(path);
    Bytes bytes(file ? static_cast<std::size_t>(file->openedSize()) : 0);
    return file && file->readAt(0, bytes.data(), bytes.size()) ? bytes : Bytes{};
}

// A 3" tile with a void every 97 samples.
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
    Result<> written = file ? file->write(bytes.data(), bytes.size()) : Result<>(file.error());
    return written ? file->commit() : written;
}

struct NameRow {
    const char* name;
    std::string file;
    const char* reason; // none for a name that is written
};

class WindowsNames : public ::testing::TestWithParam<NameRow> {};

// A name Windows would shorten, send to a device or refuse only at the rename is refused before
// anything is written, so that no tile lands under another name; names that merely begin alike are
// written.
TEST_P(WindowsNames, UnusableAreRefusedBeforeWriting)
{
    TempFolder temp;
    const std::string target = JoinPath(temp.path().string(), GetParam().file);
    const Result<> saved = save(target, {1, 2});
    if (!GetParam().reason) {
        ASSERT_TRUE(saved) << saved.error().message;
        EXPECT_EQ(get(target), (Bytes{1, 2}));
        return;
    }
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().message, target + " kann nicht geschrieben werden: " + GetParam().reason);
    EXPECT_EQ(folderEntries(temp.path().string()), std::set<std::string>{});
    EXPECT_FALSE(CreateFolder(target));
}

constexpr char kDevice[] = "unter Windows reservierter Gerätename";
constexpr char kShortened[] = "Windows würde den Namen ohne den Punkt oder das Leerzeichen am Ende anlegen";

INSTANTIATE_TEST_SUITE_P(
    Platform, WindowsNames,
    ::testing::Values(NameRow{"device", "CON", kDevice}, NameRow{"device_lower_case", "nul", kDevice},
                      NameRow{"device_with_extension", "NUL.hgt", kDevice},
                      NameRow{"numbered_device", "COM1.hgt", kDevice},
                      NameRow{"numbered_device_blank", "lpt9 .hgt", kDevice},
                      NameRow{"trailing_dot", "N47E011.hgt.", kShortened},
                      NameRow{"trailing_blank", "N47E011.hgt ", kShortened},
                      NameRow{"over_255_characters", std::string(252, 'N') + ".hgt", "Name zu lang"},
                      NameRow{"device_as_prefix", "CONSOLE.hgt", nullptr},
                      NameRow{"unnumbered_port", "COM.hgt", nullptr}, NameRow{"dot_inside", "N47E011.v2.hgt", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

struct InTheWayRow {
    const char* name;
    std::function<HANDLE(const std::string& target)> arrange; // returns a handle to close afterwards
    const char* reason;
};

class OutputInTheWay : public ::testing::TestWithParam<InTheWayRow> {};

// What Windows refuses as access denied is said as what it is, and what stood there stays.
TEST_P(OutputInTheWay, IsNamedAndKept)
{
    TempFolder temp;
    const std::string target = temp / "N47E011.hgt";
    const HANDLE held = GetParam().arrange(target);
    const Result<> saved = save(target, {1, 2});
    CloseHandle(held);
    SetFileAttributesW(SystemPath(target).c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().message, target + " kann nicht geschrieben werden: " + GetParam().reason);
    EXPECT_EQ(folderEntries(temp.path().string()), std::set<std::string>{"N47E011.hgt"});
    if (FileExists(target)) {
        EXPECT_EQ(get(target), (Bytes{7, 7, 7}));
    }
}

const InTheWayRow kInTheWayRows[] = {
    // Held without sharing deletion, the earlier output cannot be renamed over.
    {"held_by_another_program",
     [](const std::string& target) {
         put(target, {7, 7, 7});
         return CreateFileW(SystemPath(target).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
     },
     "Datei wird von einem anderen Programm benutzt"},
    {"read_only_attribute",
     [](const std::string& target) {
         put(target, {7, 7, 7});
         SetFileAttributesW(SystemPath(target).c_str(), FILE_ATTRIBUTE_READONLY);
         return INVALID_HANDLE_VALUE;
     },
     "Datei ist schreibgeschützt (Dateiattribut)"},
    {"folder",
     [](const std::string& target) {
         CreateDirectoryW(SystemPath(target).c_str(), nullptr);
         return INVALID_HANDLE_VALUE;
     },
     "ist ein Ordner"},
};

INSTANTIATE_TEST_SUITE_P(Platform, OutputInTheWay, ::testing::ValuesIn(kInTheWayRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct PathRow {
    const char* name;
    std::string folder; // below the temporary folder
};

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
    EXPECT_EQ(ResolvedPath(primary), primary);
    EXPECT_EQ(Files(Folder{in}).value(), std::vector<std::string>{primary});

    const TileResult result = fill(primary, sec);
    ASSERT_EQ(result.end, RunEnd::Complete) << result.message();
    const Bytes filled = get(result.output);
    EXPECT_EQ(filled.size(), voidedTile().size());

    const std::string archive = JoinPath(folder, "N47E011.hgt.zip");
    ASSERT_TRUE(WriteZippedTile(archive, "N47E011.hgt", filled));
    const Result<std::vector<std::uint8_t>> unzipped = ReadZippedTile(archive, [](std::uint64_t) { return true; });
    ASSERT_TRUE(unzipped) << unzipped.error().message;
    EXPECT_TRUE(sameTile(*unzipped, filled));

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

// A junction made by the system's own call; false where the file system (or Wine) has none.
bool makeJunction(const std::string& link, const std::string& target)
{
    const std::wstring substitute = L"\\??\\" + windows::Widen(target), print = windows::Widen(target);
    struct {
        DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
        WORD length, reserved = 0, substituteOffset = 0, substituteLength, printOffset, printLength;
        wchar_t names[1024] = {};
    } data;
    data.substituteLength = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    data.printOffset = static_cast<WORD>(data.substituteLength + sizeof(wchar_t));
    data.printLength = static_cast<WORD>(print.size() * sizeof(wchar_t));
    data.length = static_cast<WORD>(8 + data.printOffset + data.printLength + sizeof(wchar_t));
    substitute.copy(data.names, substitute.size());
    print.copy(data.names + substitute.size() + 1, print.size());
    if (!CreateDirectoryW(SystemPath(link).c_str(), nullptr))
        return false;
    HANDLE folder = CreateFileW(SystemPath(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD returned = 0;
    const bool made =
        DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &data, 8 + data.length, nullptr, 0, &returned, nullptr);
    CloseHandle(folder);
    if (!made)
        RemoveDirectoryW(SystemPath(link).c_str());
    return made;
}

struct LinkRow {
    const char* name;
    // Makes in/Merged (or the output file in it) lead back to an input; false where the system
    // cannot make such a link.
    std::function<bool(const std::string& in, const std::string& sec)> link;
};

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
    EXPECT_EQ(errorKind(result), TileErrorKind::OutputIsInput) << result.message();
    EXPECT_TRUE(sameTile(get(JoinPath(sec, "N47E011.hgt")), plainTile(2, kSide3)));
    EXPECT_TRUE(sameTile(get(JoinPath(in, "N47E011.hgt")), voidedTile()));
}

INSTANTIATE_TEST_SUITE_P(
    Platform, WindowsLinksBack,
    ::testing::Values(LinkRow{"symbolic_link_to_the_secondary_folder",
                              [](const std::string& in, const std::string& sec) {
                                  return CreateSymbolicLinkW(SystemPath(JoinPath(in, "Merged")).c_str(),
                                                             SystemPath(sec).c_str(),
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
                                  return CreateDirectoryW(SystemPath(JoinPath(in, "Merged")).c_str(), nullptr)
                                         && CreateHardLinkW(SystemPath(JoinPath(in, "Merged/N47E011.hgt")).c_str(),
                                                            SystemPath(JoinPath(sec, "N47E011.hgt")).c_str(), nullptr);
                              }}),
    [](const auto& info) { return std::string(info.param.name); });

// Names are found whatever their letter case, as on Linux; the file list gives the system's spelling.
TEST(WindowsFiles, LookupIgnoresLetterCase)
{
    TempFolder temp;
    put(temp / "n47e011.HGT", {1});
    EXPECT_TRUE(FileExists(temp / "N47E011.hgt"));
    EXPECT_EQ(IdentityOf(temp / "N47E011.hgt"), IdentityOf(temp / "n47e011.HGT"));
    EXPECT_EQ(ResolvedPath(temp / "N47E011.hgt"), ResolvedPath(temp / "n47e011.HGT"));
    EXPECT_EQ(Files(Folder{temp.path().string()}).value(), std::vector<std::string>{temp / "n47e011.HGT"});
}

// A temporary file whose writer died is removed by the next writer into the folder; one that a live
// writer holds open stays (the system refuses to delete it).
TEST(WindowsFiles, DeadWritersTemporaryFilesGo)
{
    TempFolder temp;
    put(temp / ".hgtfill-0123abcd.tmp", {1}); // its writer was killed
    put(temp / ".hgtfill-user.tmp", {3});     // not a name of ours
    Result<SaveFile> live = SaveFile::create(temp / "N47E012.hgt");
    ASSERT_TRUE(live);
    const std::string liveTemp = GetFileName(live->tempPath());
    const Result<SaveFile> next = SaveFile::create(temp / "N47E013.hgt");
    ASSERT_TRUE(next);
    EXPECT_EQ(folderEntries(temp.path().string()),
              (std::set<std::string>{".hgtfill-user.tmp", liveTemp, GetFileName(next->tempPath())}));
    ASSERT_TRUE(live->commit());
    EXPECT_FALSE(EntryExists(temp / liveTemp));
    EXPECT_TRUE(FileExists(temp / "N47E012.hgt"));
}

// An exit that cannot wait for its writers has the system delete the temporary files they hold;
// the earlier output stays. The exit's process runs this test again and finds the folder in the
// environment.
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

} // namespace windows_platform_test
} // namespace hgt::test

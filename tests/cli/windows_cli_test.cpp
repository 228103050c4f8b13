// The command line as Windows starts and stops it: UTF-16 arguments, the console's Ctrl-C and the
// closing of the console window.

#include "cli/stop_signal.h"
#include "tiles/tile_format.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "windows_child.h"

namespace hgt::cli::test {
namespace windows_cli_test {

using namespace std::chrono_literals;

std::string utf8(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string fileText(const std::string& path)
{
    const Bytes bytes = readBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The program on this process's console, its stdout and stderr in files of the folder.
struct ConsoleChild {
    ChildProcess child;
    std::string outPath;
    std::string errPath;
};

ConsoleChild startInto(const TempFolder& temp, const std::vector<std::string>& args, HANDLE out = nullptr)
{
    ConsoleChild started{{}, temp / "stdout.txt", temp / "stderr.txt"};
    HANDLE outFile = out ? nullptr : inheritableFile(started.outPath);
    HANDLE errFile = inheritableFile(started.errPath);
    started.child = startProgram(args, out ? out : outFile, errFile);
    if (outFile)
        CloseHandle(outFile);
    CloseHandle(errFile);
    return started;
}

struct NameCase {
    const char* label;
    const char8_t* folder;
};

class UnicodeArguments : public ::testing::TestWithParam<NameCase> {};

// Names outside the ANSI code page reach the program whole, and its report names them in UTF-8,
// with \n line ends as on Linux.
TEST_P(UnicodeArguments, ReachTheProgramAsTyped)
{
    TempFolder temp;
    writeBytes(temp / "source.hgt", tileWithVoids(1, 7));
    const std::filesystem::path folder = temp.path() / std::filesystem::path(GetParam().folder);
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(temp.path() / "source.hgt", folder / "N47E011.hgt");
    const std::string tile = utf8(folder / "N47E011.hgt");

    ConsoleChild info = startInto(temp, {"info", tile});
    EXPECT_EQ(waitProgram(info.child, 60000), 0) << fileText(info.errPath);
    const std::string out = fileText(info.outPath);
    EXPECT_NE(out.find(utf8(std::filesystem::path(GetParam().folder))), std::string::npos) << out;
    EXPECT_NE(out.find("Löcher:      7\n"), std::string::npos) << out;
    EXPECT_EQ(out.find('\r'), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(WindowsCommandLine, UnicodeArguments,
                         ::testing::Values(NameCase{"german", u8"Höhe"}, NameCase{"cyrillic", u8"Высота"},
                                           NameCase{"japanese", u8"標高 mit Leerzeichen"},
                                           NameCase{"signs", u8"Grüße & 100% ^x"}),
                         [](const auto& info) { return std::string(info.param.label); });

// This edition is built without GDAL: a raster source is refused before anything is read or made.
TEST(WindowsCommandLine, RasterSourcesAreRefusedBeforeTheRun)
{
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", tileWithVoids(1, 7));
    writeBytes(temp / "dem.tif", {'I', 'I', 42, 0});
    ConsoleChild fill = startInto(temp, {"fill", "-s", temp / "dem.tif", temp / "tiles/N47E011.hgt"});
    EXPECT_NE(waitProgram(fill.child, 60000), 0);
    EXPECT_NE(fileText(fill.errPath).find("Diese Ausgabe von hgtfill hat keine Rasterquellen"), std::string::npos)
        << fileText(fill.errPath);
    EXPECT_FALSE(std::filesystem::exists(temp.path() / "tiles/Merged"));
}

// Ctrl-C reaches every program on a console: the test takes a console of its own for it, so that no
// other program (ctest, a shell) gets it, and ignores it itself, only once the program has started
// (under Wine a child keeps an ignored Ctrl-C whatever it asks for).
class OwnConsole {
public:
    OwnConsole()
    {
        FreeConsole();
        m_ready = AllocConsole() != 0;
    }
    ~OwnConsole()
    {
        SetConsoleCtrlHandler(nullptr, FALSE);
        FreeConsole();
        AttachConsole(ATTACH_PARENT_PROCESS);
    }
    bool ready() const { return m_ready; }
    bool pressCtrlC() const
    {
        SetConsoleCtrlHandler(nullptr, TRUE);
        return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
    }

private:
    bool m_ready = false;
};

TEST(WindowsConsole, CtrlCStopsTheBatchWithoutPartialFiles)
{
    TempFolder temp;
    writeBytes(temp / "one.hgt", tileWithVoids(1, 100000));
    writeBytes(temp / "secondary/N40E000.hgt", plainTile(2));
    constexpr int kTiles = 40;
    std::filesystem::create_directories(temp / "tiles");
    for (int k = 0; k < kTiles; ++k) {
        const std::string name = "N" + std::to_string(40 + k) + "E000.hgt";
        std::filesystem::create_hard_link(temp / "one.hgt", temp / ("tiles/" + name));
        if (k > 0)
            std::filesystem::create_hard_link(temp / "secondary/N40E000.hgt", temp / ("secondary/" + name));
    }

    const OwnConsole console;
    ASSERT_TRUE(console.ready());
    ConsoleChild batch = startInto(temp, {"batch", "-j", "1", "--json", "-s", temp / "secondary", temp / "tiles"});
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!std::filesystem::exists(temp / "tiles/Merged/N40E000.hgt") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(console.pressCtrlC()) << GetLastError();
    const long status = waitProgram(batch.child, 60000);
    const std::string out = fileText(batch.outPath);
    if (status == 0 && out.find(R"("done":40)") != std::string::npos)
        GTEST_SKIP() << "the batch ended before Ctrl-C came";

    EXPECT_EQ(status, 130) << fileText(batch.errPath);
    EXPECT_NE(out.find(R"("interrupted":true)"), std::string::npos) << out;
    const std::vector<std::string> outputs = filesBelow(temp / "tiles/Merged");
    EXPECT_LT(outputs.size(), static_cast<std::size_t>(kTiles));
    for (const std::string& name : outputs) {
        EXPECT_TRUE(std::regex_match(name, std::regex(R"(N[0-9]{2}E000\.hgt)"))) << name;
        EXPECT_EQ(std::filesystem::file_size(temp / ("tiles/Merged/" + name)), static_cast<std::uintmax_t>(kTileBytes));
    }
    std::smatch count;
    ASSERT_TRUE(std::regex_search(out, count, std::regex(R"re("done":([0-9]+),)re"))) << out;
    EXPECT_EQ(static_cast<std::size_t>(std::stoi(count[1])), outputs.size());
}

// A run held up in a write into a pipe nobody reads ends within about a second of Ctrl-C, by the
// forced end: 128 + SIGINT's number, as on Linux.
TEST(WindowsConsole, CtrlCEndsARunHeldUpInAWriteWithinASecond)
{
    TempFolder temp;
    writeBytes(temp / "one.hgt", plainTile(3, kTileSide3));
    writeBytes(temp / "secondary/N40E000.hgt", plainTile(4, kTileSide3));
    std::filesystem::create_directories(temp / "tiles");
    for (int k = 0; k < 300; ++k)
        std::filesystem::create_hard_link(temp / "one.hgt", temp / ("tiles/N10E" + std::to_string(k) + ".hgt"));
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 4096));
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    const OwnConsole console;
    ASSERT_TRUE(console.ready());
    ConsoleChild batch = startInto(temp, {"batch", "--json", "-s", temp / "secondary", temp / "tiles"}, writeEnd);
    CloseHandle(writeEnd);
    // Until the report has filled the pipe and stopped growing.
    DWORD queued = 0, before = ~DWORD{0};
    for (int wait = 0; wait < 600 && (queued < 4096 || queued != before); ++wait) {
        before = queued;
        std::this_thread::sleep_for(100ms);
        ASSERT_TRUE(PeekNamedPipe(readEnd, nullptr, 0, nullptr, &queued, nullptr));
    }
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(console.pressCtrlC()) << GetLastError();
    const long status = waitProgram(batch.child, 3000);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - sent;
    CloseHandle(readEnd);
    if (status < 0)
        waitProgram(batch.child);
    EXPECT_LT(took.count(), 3.0);
    EXPECT_EQ(status, 130);
    EXPECT_EQ(fileText(batch.errPath), "hgtfill-cli: sofort beendet, der Lauf hielt nicht rechtzeitig an\n");
}

// The system ends the process as soon as the handler of a closing console returns: the handler holds
// on until the run has ended. (Wine sends no closing event to a program, so the handler is called
// here as the system would call it.)
TEST(WindowsConsole, ClosingTheConsoleStopsTheRunAndWaitsForItsEnd)
{
    EXPECT_FALSE(HandleConsoleControl(CTRL_C_EVENT)); // nobody listens

    std::atomic<bool> returned{false};
    std::thread handler;
    {
        const StopSignal stop;
        handler = std::thread([&returned] {
            EXPECT_TRUE(HandleConsoleControl(CTRL_CLOSE_EVENT));
            returned = true;
        });
        for (int wait = 0; wait < 200 && !stop.raised(); ++wait)
            std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(stop.raised());
        EXPECT_TRUE(stop.flag()->load());
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(returned.load());
    }
    handler.join();
    EXPECT_TRUE(returned.load());
    EXPECT_FALSE(HandleConsoleControl(CTRL_BREAK_EVENT));
}

} // namespace windows_cli_test
} // namespace hgt::cli::test

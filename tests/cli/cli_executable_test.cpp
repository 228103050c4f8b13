// The built hgtfill-cli as a user runs it: a batch on a small folder, a usage error, the help
// texts against the man page, and Ctrl-C in the middle of a batch.

#include "cli/command_line.h"
#include "cli/help_text.h"
#include "cli_test_support.h"
#include "pictures/picture_file.h"
#include "tiles/tile_format.h"
#include "tiles/run_host.h"
#include "tiles/run_result.h"
#include "tiles/tile_runs.h"
#include "pictures/internal/picture_rules.h"

#include <QImage>

#include <gtest/gtest.h>

#ifdef _WIN32
#include "windows_child.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <csignal>
#include <regex>
#include <set>
#include <thread>

#ifndef _WIN32
extern char** environ;
#endif

namespace hgt::cli::test {
namespace cli_executable_test {

using namespace std::chrono_literals;

#ifdef _WIN32
struct Process {
    ChildProcess child;
    std::string outPath;
    std::string errPath;
};

// Starts the program with stdout and stderr into files (so stderr is no console).
Process start(const TempFolder& temp, const std::vector<std::string>& args, std::wstring* environment = nullptr)
{
    Process process{{}, temp / "stdout.txt", temp / "stderr.txt"};
    HANDLE out = inheritableFile(process.outPath), err = inheritableFile(process.errPath);
    process.child = startProgram(args, out, err, 0, environment);
    CloseHandle(out);
    CloseHandle(err);
    return process;
}
#else
struct Process {
    pid_t pid = -1;
    std::string outPath;
    std::string errPath;
};

// Starts the program with stdout (or into `out`) and stderr into files (so stderr is no terminal).
Process start(const TempFolder& temp, const std::vector<std::string>& args, char** environment = environ, int out = -1)
{
    Process process{-1, temp / "stdout.txt", temp / "stderr.txt"};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, process.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, process.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{HGTFILL_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&process.pid, HGTFILL_CLI, &actions, nullptr, argv.data(), environment), 0);
    posix_spawn_file_actions_destroy(&actions);
    return process;
}
#endif

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

#ifdef _WIN32
Finished wait(Process process)
{
    Finished done;
    done.status = static_cast<int>(waitProgram(process.child));
    const Bytes out = readBytes(process.outPath), err = readBytes(process.errPath);
    done.out.assign(out.begin(), out.end());
    done.err.assign(err.begin(), err.end());
    return done;
}
#else
Finished wait(const Process& process)
{
    int raw = 0;
    EXPECT_EQ(::waitpid(process.pid, &raw, 0), process.pid);
    Finished done;
    EXPECT_TRUE(WIFEXITED(raw)) << "ended by signal " << (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
    done.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const Bytes out = readBytes(process.outPath), err = readBytes(process.errPath);
    done.out.assign(out.begin(), out.end());
    done.err.assign(err.begin(), err.end());
    return done;
}
#endif

Finished runCli(const TempFolder& temp, const std::vector<std::string>& args)
{
    return wait(start(temp, args));
}

#ifdef _WIN32
// This process's environment with QT_QPA_PLATFORM set but empty.
class NoDisplay {
public:
    NoDisplay()
    {
        wchar_t* block = GetEnvironmentStringsW();
        for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1) {
            if (std::wstring_view(entry).rfind(L"QT_QPA_PLATFORM=", 0) != 0)
                m_block.append(entry).push_back(L'\0');
        }
        FreeEnvironmentStringsW(block);
        m_block.append(L"QT_QPA_PLATFORM=").push_back(L'\0');
    }
    std::wstring* get() { return &m_block; }

private:
    std::wstring m_block;
};
#else
// This process's environment as a machine without a display has it: no DISPLAY, no Wayland, and
// QT_QPA_PLATFORM set but empty.
class NoDisplay {
public:
    NoDisplay()
    {
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            if (text.rfind("DISPLAY=", 0) != 0 && text.rfind("WAYLAND_DISPLAY=", 0) != 0
                && text.rfind("QT_QPA_PLATFORM=", 0) != 0)
                m_entries.push_back(text);
        }
        m_entries.push_back("QT_QPA_PLATFORM=");
        for (std::string& entry : m_entries)
            m_pointers.push_back(entry.data());
        m_pointers.push_back(nullptr);
    }
    char** get() { return m_pointers.data(); }

private:
    std::vector<std::string> m_entries;
    std::vector<char*> m_pointers;
};
#endif

QImage loadPng(const std::string& path)
{
    return QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB32);
}

TEST(Executable, FillsAFolderLikeTheSingleFillOfTheEngine)
{
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", tileWithVoids(1, 4000));
    writeBytes(temp / "tiles/N47E012.hgt", tileWithVoids(2, 9));
    writeBytes(temp / "tiles/N47E013.hgt", plainTile(3));
    writeBytes(temp / "secondary/N47E011.hgt", tileWithVoids(4, 50));
    writeBytes(temp / "secondary/N47E012.hgt", plainTile(5));
    std::filesystem::copy(temp / "tiles", temp / "reference");

    const Finished batch = runCli(temp, {"batch", "-j", "2", "-s", temp / "secondary", temp / "tiles"});
    EXPECT_EQ(batch.status, 0) << batch.err;
    EXPECT_EQ(batch.err, ""); // no progress bar when stderr is no terminal
    EXPECT_NE(batch.out.find("3 Kacheln in "), std::string::npos) << batch.out;

    for (const std::string name : {"N47E011.hgt", "N47E012.hgt"}) {
        QuietHost host;
        const TileResult single = MergeTile(host, temp / ("reference/" + name), temp / "secondary");
        ASSERT_EQ(single.end, RunEnd::Complete) << single.message();
        EXPECT_TRUE(readBytes(temp / ("tiles/Merged/" + name)) == readBytes(temp / ("reference/Merged/" + name)))
            << name;
    }
    EXPECT_EQ(filesBelow(temp / "tiles/Merged"), (std::vector<std::string>{"N47E011.hgt", "N47E012.hgt"}));
}

TEST(Executable, UsageErrorsAndHelp)
{
    TempFolder temp;
    const Finished wrong = runCli(temp, {"fill", "--secondary", temp.path().string(), "--jbos", "2", "a.hgt"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.out, "");
    EXPECT_EQ(wrong.err, "hgtfill-cli: unbekannte Option „--jbos“ für „fill“ (Hilfe: hgtfill-cli fill --help)\n");
    const Finished badVoid = runCli(temp, {"info", "--void", "0", temp / "N47E011.hgt"});
    EXPECT_EQ(badVoid.status, 2);
    EXPECT_EQ(badVoid.err, "hgtfill-cli: die Option „--void“ nimmt -9999, -32768 oder -32767, nicht „0“ "
                           "(Hilfe: hgtfill-cli info --help)\n");

    EXPECT_EQ(runCli(temp, {}).status, 2);
    for (const Command command :
         {Command::None, Command::Fill, Command::Batch, Command::Diff, Command::Info, Command::Render}) {
        std::vector<std::string> args{"--help"};
        if (command != Command::None)
            args.insert(args.begin(), std::string(CommandName(command)));
        const Finished help = runCli(temp, args);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out, HelpText(command));
    }
}

// A void is magenta whatever its neighbours, so it shows where a sample lands in a relief.
TEST(Executable, RenderShowsSampleRowYColumnXAtPixelXY)
{
    TempFolder temp;
    Bytes three = plainTile(0, 1201);
    setValue(three, 10 * 1201 + 700, -32768);
    setValue(three, 700 * 1201 + 10, kVoidValue);
    writeBytes(temp / "N47E011.hgt", three);
    const Finished full =
        runCli(temp, {"render", "-q", "--void", "-32768", temp / "N47E011.hgt", "-o", temp / "full.png"});
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(full.out + full.err, "");
    const QImage fullImage = loadPng(temp / "full.png");
    ASSERT_EQ(fullImage.size(), QSize(1201, 1201));
    EXPECT_EQ(fullImage.pixel(700, 10), kReliefVoidColour);
    EXPECT_NE(fullImage.pixel(10, 700), kReliefVoidColour); // -9999 is a height once --void names others
    EXPECT_NE(fullImage.pixel(699, 10), kReliefVoidColour);

    // A 1" tile on 1201 pixels shows every third sample: the nodes of the 3" grid.
    Bytes one = plainTile(3);
    hgt::test::setVoid(one, 3 * 5 * kTileSide + 3 * 400);
    hgt::test::setVoid(one, (3 * 100 + 1) * kTileSide + 3 * 50 + 1); // between nodes: not drawn
    hgt::test::setVoid(one, kTileSamples - 1);
    writeBytes(temp / "N46E011.hgt", one);
    const Finished reduced =
        runCli(temp, {"render", "--size", "1201", temp / "N46E011.hgt", "-o", temp / "reduced.png"});
    ASSERT_EQ(reduced.status, 0) << reduced.err;
    EXPECT_NE(reduced.out.find("Bild:        " + (temp / "reduced.png") + ", 1201 × 1201 Pixel\n"), std::string::npos)
        << reduced.out;
    const QImage reducedImage = loadPng(temp / "reduced.png");
    ASSERT_EQ(reducedImage.size(), QSize(1201, 1201));
    EXPECT_EQ(reducedImage.pixel(400, 5), kReliefVoidColour);
    EXPECT_EQ(reducedImage.pixel(1200, 1200), kReliefVoidColour);
    EXPECT_NE(reducedImage.pixel(50, 100), kReliefVoidColour);
    EXPECT_NE(reducedImage.pixel(5, 400), kReliefVoidColour);
}

TEST(Executable, RenderDrawsTheLegendWithoutADisplay)
{
    TempFolder temp;
    Bytes zeros(static_cast<std::size_t>(kTileBytes3), 0);
    setValue(zeros, 5 * 1201 + 40, 100);
    setValue(zeros, 40 * 1201 + 5, kVoidValue);
    writeBytes(temp / "DIFFS/N47E011.hgt", zeros);
    NoDisplay environment;
    const Finished done = wait(
        start(temp, {"render", "--legend", "-q", temp / "DIFFS/N47E011.hgt", "-o", temp / "d.png"}, environment.get()));
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(done.out + done.err, ""); // nothing from Qt either

    const QImage image = loadPng(temp / "d.png");
    ASSERT_EQ(image.size(), QSize(1201 + LegendWidth(1201), 1201));
    // Left of the margin the picture is unchanged: white zeros, red beyond the range, grey voids.
    EXPECT_EQ(image.pixel(0, 0), kDifferenceZeroColour);
    EXPECT_EQ(image.pixel(40, 5), kDifferenceHighColour);
    EXPECT_EQ(image.pixel(5, 40), kDifferenceVoidColour);
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 1201; x < image.width(); ++x)
            inked += image.pixel(x, y) != kDifferenceZeroColour;
    EXPECT_GT(inked, 1000) << "the margin holds a legend";
}

TEST(Executable, ManPageCoversEveryOptionAndCommandOfTheHelp)
{
    const Bytes bytes = readBytes(HGTFILL_MAN_PAGE);
    const std::string man(bytes.begin(), bytes.end());
    ASSERT_FALSE(man.empty());
    std::set<std::string> named;
    const std::regex option(R"(--[a-z]+(-[a-z]+)*)");
    for (const Command command :
         {Command::None, Command::Fill, Command::Batch, Command::Diff, Command::Info, Command::Render}) {
        const std::string help(HelpText(command));
        for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it)
            named.insert(it->str());
        if (command != Command::None) {
            EXPECT_NE(man.find(".B " + std::string(CommandName(command))), std::string::npos) << CommandName(command);
        }
    }
    EXPECT_EQ(named,
              (std::set<std::string>{"--datum", "--diff", "--help", "--interpolate", "--jobs", "--json", "--legend",
                                     "--max-distance", "--method", "--output", "--provenance", "--quiet", "--secondary",
                                     "--size", "--tile-datum", "--version", "--void"}));
    for (const std::string& name : named) {
        std::string escaped; // every hyphen of an option is \- in the man page
        for (const char c : name)
            escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(man.find(escaped), std::string::npos) << name;
    }
}

#ifndef _WIN32
// Windows has no signals; its Ctrl-C has cases of its own in windows_cli_test.cpp.
TEST(Executable, InterruptStopsTheBatchWithoutPartialFiles)
{
    TempFolder temp;
    // Hard links keep the folder small on disk; each name is still a tile of its own to the batch.
    writeBytes(temp / "one.hgt", tileWithVoids(1, 100000));
    writeBytes(temp / "secondary/N40E000.hgt", plainTile(2));
    // Enough tiles that the signal comes while they are still being made: an output appears under
    // its name only once it is on disk, by then the next tiles may be made already.
    constexpr int kTiles = 40;
    for (int k = 0; k < kTiles; ++k) {
        const std::string name = "N" + std::to_string(40 + k) + "E000.hgt";
        std::filesystem::create_directories(temp / "tiles");
        std::filesystem::create_hard_link(temp / "one.hgt", temp / ("tiles/" + name));
        if (k > 0)
            std::filesystem::create_hard_link(temp / "secondary/N40E000.hgt", temp / ("secondary/" + name));
    }

    const Process process = start(temp, {"batch", "-j", "1", "--json", "-s", temp / "secondary", temp / "tiles"});
    // Wait for the first output, then press Ctrl-C.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(temp / "tiles/Merged/N40E000.hgt") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(::kill(process.pid, SIGINT), 0);
    const Finished done = wait(process);
    if (done.status == 0 && done.out.find(R"("done":40)") != std::string::npos)
        GTEST_SKIP() << "the batch ended before the signal came";

    EXPECT_EQ(done.status, 130) << done.err;
    EXPECT_NE(done.out.find(R"("interrupted":true)"), std::string::npos) << done.out;
    const std::vector<std::string> outputs = filesBelow(temp / "tiles/Merged");
    EXPECT_LT(outputs.size(), static_cast<std::size_t>(kTiles));
    for (const std::string& name : outputs) {
        EXPECT_TRUE(std::regex_match(name, std::regex(R"(N[0-9]{2}E000\.hgt)"))) << name;
        EXPECT_EQ(std::filesystem::file_size(temp / ("tiles/Merged/" + name)), static_cast<std::uintmax_t>(kTileBytes));
    }
    std::smatch count;
    ASSERT_TRUE(std::regex_search(done.out, count, std::regex(R"re("done":([0-9]+),)re"))) << done.out;
    EXPECT_EQ(static_cast<std::size_t>(std::stoi(count[1])), outputs.size());
}

// A run held up where it cannot look at the stop flag (its report written into a full pipe that
// nobody reads): SIGTERM still ends it within about a second, as 143.
TEST(Executable, SignalEndsARunHeldUpInAWriteWithinASecond)
{
    TempFolder temp;
    writeBytes(temp / "one.hgt", plainTile(3, kTileSide3));
    writeBytes(temp / "secondary/N40E000.hgt", plainTile(4, kTileSide3));
    std::filesystem::create_directories(temp / "tiles");
    for (int k = 0; k < 300; ++k) // tiles without holes: quick, and a line of the report each
        std::filesystem::create_hard_link(temp / "one.hgt", temp / ("tiles/N10E" + std::to_string(k) + ".hgt"));
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    ::fcntl(pipe[1], F_SETPIPE_SZ, 4096);
    const Process process =
        start(temp, {"batch", "--json", "-s", temp / "secondary", temp / "tiles"}, environ, pipe[1]);
    ::close(pipe[1]);
    for (int wait = 0, queued = 0; wait < 6000 && queued < ::fcntl(pipe[0], F_GETPIPE_SZ); ++wait) {
        std::this_thread::sleep_for(10ms);
        ASSERT_EQ(::ioctl(pipe[0], FIONREAD, &queued), 0);
    }
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(process.pid, SIGTERM), 0);
    int raw = 0;
    while (::waitpid(process.pid, &raw, WNOHANG) == 0 && std::chrono::steady_clock::now() - sent < 3s)
        std::this_thread::sleep_for(5ms);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - sent;
    ::close(pipe[0]); // a run still held up ends on the broken pipe; the forced end comes 0.8 s after the signal
    EXPECT_LT(took.count(), 3.0);
    if (took.count() >= 3.0)
        ::waitpid(process.pid, &raw, 0);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 143) << raw;
}
#endif

} // namespace cli_executable_test
} // namespace hgt::cli::test

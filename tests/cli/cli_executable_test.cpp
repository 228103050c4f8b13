// The built hgtfill-cli as a user runs it: a batch on a small folder, a usage error, the help
// texts against the man page, and Ctrl-C in the middle of a batch.

#include "cli/command_line.h"
#include "cli/help_text.h"
#include "cli_test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <set>
#include <thread>

extern char** environ;

namespace hgt::cli::test {
namespace {

struct Process {
    pid_t pid = -1;
    std::string outPath;
    std::string errPath;
};

// Starts the program with stdout and stderr into files (so stderr is no terminal).
Process start(const TempFolder& temp, const std::vector<std::string>& args)
{
    Process process{-1, temp / "stdout.txt", temp / "stderr.txt"};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, process.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, process.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{HGTFILL_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&process.pid, HGTFILL_CLI, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return process;
}

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

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

Finished runCli(const TempFolder& temp, const std::vector<std::string>& args)
{
    return wait(start(temp, args));
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
        WindowState state;
        QuietHost host;
        const TileResult single = MergeTile(state, host, temp / ("reference/" + name), temp / "secondary");
        ASSERT_EQ(single.end, RunEnd::Complete) << single.message;
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

    EXPECT_EQ(runCli(temp, {}).status, 2);
    for (const Command command : {Command::None, Command::Fill, Command::Batch, Command::Diff, Command::Info}) {
        std::vector<std::string> args{"--help"};
        if (command != Command::None)
            args.insert(args.begin(), std::string(CommandName(command)));
        const Finished help = runCli(temp, args);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out, HelpText(command));
    }
}

TEST(Executable, ManPageCoversEveryOptionAndCommandOfTheHelp)
{
    const Bytes bytes = readBytes(HGTFILL_MAN_PAGE);
    const std::string man(bytes.begin(), bytes.end());
    ASSERT_FALSE(man.empty());
    std::set<std::string> named;
    const std::regex option(R"(--[a-z]+)");
    for (const Command command : {Command::None, Command::Fill, Command::Batch, Command::Diff, Command::Info}) {
        const std::string help(HelpText(command));
        for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it)
            named.insert(it->str());
        if (command != Command::None) {
            EXPECT_NE(man.find(".B " + std::string(CommandName(command))), std::string::npos) << CommandName(command);
        }
    }
    EXPECT_EQ(named, (std::set<std::string>{"--help", "--jobs", "--json", "--quiet", "--secondary", "--version"}));
    for (const std::string& name : named)
        EXPECT_NE(man.find("\\-\\-" + name.substr(2)), std::string::npos) << name;
}

TEST(Executable, InterruptStopsTheBatchWithoutPartialFiles)
{
    TempFolder temp;
    // Hard links keep the folder small on disk; each name is still a tile of its own to the batch.
    writeBytes(temp / "one.hgt", tileWithVoids(1, 100000));
    writeBytes(temp / "secondary/N40E000.hgt", plainTile(2));
    constexpr int kTiles = 12;
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
    if (done.status == 0 && done.out.find(R"("done":12)") != std::string::npos)
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

} // namespace
} // namespace hgt::cli::test

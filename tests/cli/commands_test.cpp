// The subcommands run in-process on folders of real tiles: exit status, report shape, -j and stop.

#include "cli/commands.h"
#include "cli/stop_signal.h"
#include "cli_test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <sstream>

namespace hgt::cli::test {
namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;

    std::vector<std::string> outLines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

CliRun run(const Invocation& invocation, CliHost& host, const std::atomic<bool>* stop = nullptr)
{
    std::ostringstream out, err;
    CliRun result;
    result.status = RunCommand(invocation, host, stop, Console{out, err});
    result.out = out.str();
    result.err = err.str();
    return result;
}

CliRun run(const Invocation& invocation)
{
    CliHost host;
    return run(invocation, host);
}

Invocation batch(const std::string& folder, const std::string& secondary, unsigned jobs, bool json)
{
    Invocation invocation;
    invocation.command = Command::Batch;
    invocation.secondary = secondary;
    invocation.jobs = jobs;
    invocation.json = json;
    invocation.operands = {folder};
    return invocation;
}

// The top-level keys of a JSON line in order (the values here never hold a quote before a colon).
std::vector<std::string> keys(const std::string& line)
{
    std::vector<std::string> found;
    const std::regex key(R"re("([a-z_]+)":)re");
    for (std::sregex_iterator it(line.begin(), line.end(), key), end; it != end; ++it)
        found.push_back((*it)[1]);
    return found;
}

// A line without its timing, which differs from run to run.
std::string untimed(const std::string& line)
{
    return std::regex_replace(line, std::regex(R"re("seconds":[0-9.]+)re"), R"("seconds":_)");
}

// Four tiles in batch order: one to fill, one without holes, one without a secondary tile, one too
// short; and a file that is no tile.
struct MixedFolder {
    explicit MixedFolder(const TempFolder& temp) : tiles(temp / "tiles"), secondary(temp / "secondary")
    {
        writeBytes(tiles + "/A.hgt", tileWithVoids(1, 5000));
        writeBytes(tiles + "/B.hgt", plainTile(2));
        writeBytes(tiles + "/C.hgt", tileWithVoids(3, 10));
        writeBytes(tiles + "/d.HGT", Bytes(1000, 0));
        writeBytes(tiles + "/liesmich.txt", Bytes(10, 'x'));
        writeBytes(secondary + "/A.hgt", tileWithVoids(4, 100));
        writeBytes(secondary + "/B.hgt", plainTile(5));
    }
    std::string tiles;
    std::string secondary;
};

TEST(BatchCommand, JsonReportsEveryTileInOrderThenTheSummary)
{
    TempFolder temp;
    const MixedFolder folder(temp);
    const CliRun result = run(batch(folder.tiles, folder.secondary, 1, true));
    EXPECT_EQ(result.status, 1); // a tile without secondary and a failed one
    EXPECT_EQ(result.err, "");

    const std::vector<std::string> lines = result.outLines();
    ASSERT_EQ(lines.size(), 5u) << result.out;
    const std::vector<std::string> tileKeys{"type", "name", "path", "output", "end", "voids_found", "filled",
                                            "left", "message", "seconds"};
    const std::vector<std::pair<std::string, std::string>> expected{
        {"A.hgt", "filled"}, {"B.hgt", "no_holes"}, {"C.hgt", "missing_secondary"}, {"d.HGT", "failed"}};
    for (std::size_t k = 0; k < expected.size(); ++k) {
        SCOPED_TRACE(lines[k]);
        EXPECT_EQ(keys(lines[k]), tileKeys);
        EXPECT_NE(lines[k].find(R"("name":")" + expected[k].first + '"'), std::string::npos);
        EXPECT_NE(lines[k].find(R"("end":")" + expected[k].second + '"'), std::string::npos);
    }
    EXPECT_NE(lines[0].find(R"("voids_found":5000,"filled":5000,"left":0)"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(R"("output":")" + folder.tiles + "/Merged/A.hgt\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(R"("output":null)"), std::string::npos) << lines[1];
    EXPECT_NE(lines[3].find("d.HGT"), lines[3].rfind("d.HGT")) << "the message names the file: " << lines[3];

    EXPECT_EQ(untimed(lines[4]), R"({"type":"summary","tiles":4,"done":4,"filled":1,"no_holes":1,)"
                                 R"("missing_secondary":1,"stopped":0,"failed":1,"not_started":0,)"
                                 R"("interrupted":false,"seconds":_,"exit_status":1})");
    EXPECT_EQ(filesBelow(temp / "tiles/Merged"), std::vector<std::string>{"A.hgt"});
}

TEST(BatchCommand, TextGoesToOutputAndProblemsToErrors)
{
    TempFolder temp;
    const MixedFolder folder(temp);
    const CliRun result = run(batch(folder.tiles, folder.secondary, 1, false));
    EXPECT_EQ(result.status, 1);
    const std::vector<std::string> lines = result.outLines();
    ASSERT_EQ(lines.size(), 3u) << result.out;
    EXPECT_EQ(lines[0].rfind("A.hgt: gefüllt nach " + folder.tiles + "/Merged/A.hgt (Löcher: 5000 gefunden, 5000 gefüllt, 0 übrig; ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "B.hgt: hat keine Löcher");
    EXPECT_EQ(lines[2].rfind("4 Kacheln in ", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("1 gefüllt, 1 ohne Löcher, 1 ohne Sekundärkachel, 1 fehlgeschlagen"), std::string::npos);
    EXPECT_EQ(result.err.rfind("hgtfill-cli: C.hgt: keine Sekundärkachel", 0), 0u) << result.err;
    EXPECT_NE(result.err.find("\nhgtfill-cli: d.HGT: fehlgeschlagen: "), std::string::npos) << result.err;

    Invocation quiet = batch(folder.tiles, folder.secondary, 1, false);
    quiet.quiet = true;
    const CliRun silent = run(quiet);
    EXPECT_EQ(silent.status, 1);
    EXPECT_EQ(silent.out, "");
    EXPECT_EQ(silent.err, result.err);
}

TEST(BatchCommand, ExitsWithZeroWhenEveryTileIsFilledOrHasNoHoles)
{
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", tileWithVoids(1, 20));
    writeBytes(temp / "tiles/N47E012.hgt", plainTile(2));
    writeBytes(temp / "secondary/n47e011.HGT", plainTile(3)); // found ignoring letter case
    EXPECT_EQ(run(batch(temp / "tiles", temp / "secondary", 2, false)).status, 0);
}

TEST(BatchCommand, RefusesFoldersItCannotWorkWith)
{
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", tileWithVoids(1, 20));
    writeBytes(temp / "empty/liesmich.txt", Bytes(3, 'x'));

    const CliRun noFolder = run(batch(temp / "fehlt", temp / "tiles", 1, false));
    EXPECT_EQ(noFolder.status, 1);
    EXPECT_NE(noFolder.err.find("fehlt"), std::string::npos) << noFolder.err;

    const CliRun noSecondaryTiles = run(batch(temp / "tiles", temp / "empty", 1, false));
    EXPECT_EQ(noSecondaryTiles.status, 1);
    EXPECT_NE(noSecondaryTiles.err.find("keine HGT-Kachel"), std::string::npos) << noSecondaryTiles.err;
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));

    const CliRun nothingToDo = run(batch(temp / "empty", temp / "tiles", 1, true));
    EXPECT_EQ(nothingToDo.status, 0);
    EXPECT_NE(nothingToDo.out.find(R"("tiles":0,"done":0)"), std::string::npos) << nothingToDo.out;
}

TEST(BatchCommand, TwoJobsGiveTheSameOutputsAndReportAsOne)
{
    TempFolder temp;
    for (const std::string copy : {"one", "two"}) {
        for (std::uint32_t k = 0; k < 6; ++k) {
            const std::string name = "N4" + std::to_string(k) + "E011.hgt";
            writeBytes(temp / (copy + "/tiles/" + name), k == 2 ? plainTile(k) : tileWithVoids(k, 1000 * (k + 1)));
            if (k != 4)
                writeBytes(temp / (copy + "/secondary/" + name), tileWithVoids(k + 10, 50));
        }
    }
    const CliRun one = run(batch(temp / "one/tiles", temp / "one/secondary", 1, true));
    const CliRun two = run(batch(temp / "two/tiles", temp / "two/secondary", 2, true));
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(two.status, one.status);

    const std::string oneFolder = (temp / "one"), twoFolder = (temp / "two");
    std::string twoReport = untimed(two.out);
    for (std::size_t at; (at = twoReport.find(twoFolder)) != std::string::npos;)
        twoReport.replace(at, twoFolder.size(), oneFolder);
    EXPECT_EQ(twoReport, untimed(one.out));

    const std::vector<std::string> outputs = filesBelow(temp / "one/tiles/Merged");
    EXPECT_EQ(outputs.size(), 4u);
    EXPECT_EQ(filesBelow(temp / "two/tiles/Merged"), outputs);
    for (const std::string& name : outputs)
        EXPECT_TRUE(readBytes(temp / ("one/tiles/Merged/" + name)) == readBytes(temp / ("two/tiles/Merged/" + name)))
            << name;
}

// Raises a real SIGINT when a given tile starts, as Ctrl-C in the middle of a batch would.
class InterruptingHost : public CliHost {
public:
    explicit InterruptingHost(std::size_t at) : m_at(at) {}
    void tileStarted(std::size_t index, std::size_t, const std::string&) override
    {
        if (index == m_at)
            std::raise(SIGINT);
    }

private:
    std::size_t m_at;
};

class Interrupt : public ::testing::TestWithParam<unsigned> {};

TEST_P(Interrupt, EndsTheTilesInFlightAndLeavesEarlierOutputsAlone)
{
    TempFolder temp;
    for (std::uint32_t k = 0; k < 5; ++k) {
        const std::string name = "N4" + std::to_string(k) + "E011.hgt";
        writeBytes(temp / ("tiles/" + name), tileWithVoids(k, 3000));
        writeBytes(temp / ("secondary/" + name), plainTile(k + 20));
    }
    const Bytes earlier(100, 0x42);
    writeBytes(temp / "tiles/Merged/N42E011.hgt", earlier);

    const StopSignal stop;
    InterruptingHost host(2);
    const CliRun result = run(batch(temp / "tiles", temp / "secondary", GetParam(), true), host, stop.flag());
    EXPECT_EQ(result.status, 130);
    EXPECT_TRUE(stop.raised());

    const std::vector<std::string> lines = result.outLines();
    ASSERT_FALSE(lines.empty());
    const std::string& summary = lines.back();
    EXPECT_NE(summary.find(R"("interrupted":true)"), std::string::npos) << summary;
    EXPECT_NE(summary.find(R"("exit_status":130)"), std::string::npos) << summary;
    // With one job both tiles before the signal are done and the last two never start. With two,
    // the other tile in flight may stop too, and a worker may take one more tile before the stop
    // reaches it; that tile then stops at once.
    const auto number = [&summary](const std::string& key) {
        std::smatch match;
        EXPECT_TRUE(std::regex_search(summary, match, std::regex('"' + key + R"re(":([0-9]+),)re"))) << key;
        return match.empty() ? -1 : std::stoi(match[1]);
    };
    EXPECT_LE(number("done"), 2);
    EXPECT_GE(number("done"), GetParam() == 1 ? 2 : 1);
    if (GetParam() == 1) {
        EXPECT_EQ(number("not_started"), 2);
    }
    EXPECT_GE(number("not_started"), 1);
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(5 - number("not_started") + 1)) << result.out;

    // Only whole outputs under their own names: the stopped tile's earlier output is untouched.
    EXPECT_TRUE(readBytes(temp / "tiles/Merged/N42E011.hgt") == earlier);
    for (const std::string& name : filesBelow(temp / "tiles/Merged")) {
        EXPECT_EQ(name.size(), std::string("N40E011.hgt").size()) << name;
        if (name != "N42E011.hgt") {
            EXPECT_EQ(std::filesystem::file_size(temp / ("tiles/Merged/" + name)), static_cast<std::uintmax_t>(kTileBytes));
        }
    }
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged/N44E011.hgt"));
}

INSTANTIATE_TEST_SUITE_P(BatchCommand, Interrupt, ::testing::Values(1u, 2u),
                         [](const auto& info) { return "jobs_" + std::to_string(info.param); });

TEST(DiffCommand, WritesTheDifferenceOrSaysWhyNot)
{
    TempFolder temp;
    writeBytes(temp / "a/N47E011.hgt", tileWithVoids(1, 30));
    writeBytes(temp / "b/N47E011.hgt", plainTile(2));
    Invocation invocation;
    invocation.command = Command::Diff;
    invocation.json = true;
    invocation.operands = {temp / "a/N47E011.hgt", temp / "b/N47E011.hgt"};
    const CliRun written = run(invocation);
    EXPECT_EQ(written.status, 0);
    EXPECT_NE(written.out.find(R"("end":"written")"), std::string::npos) << written.out;
    EXPECT_NE(written.out.find(R"("type":"summary","tiles":1,"done":1,"written":1,"stopped":0,"failed":0,)"),
              std::string::npos)
        << written.out;
    EXPECT_EQ(std::filesystem::file_size(temp / "a/DIFFS/N47E011.hgt"), static_cast<std::uintmax_t>(kTileBytes));

    invocation.operands[1] = temp / "b/fehlt.hgt";
    invocation.json = false;
    const CliRun failed = run(invocation);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err.rfind("hgtfill-cli: N47E011.hgt: fehlgeschlagen: ", 0), 0u) << failed.err;
    EXPECT_NE(failed.err.find("fehlt.hgt"), std::string::npos) << failed.err;
}

TEST(InfoCommand, ReportsEachTileAndFailsForOneItCannotRead)
{
    TempFolder temp;
    writeBytes(temp / "N47E011.hgt", tileWithVoids(1, 7));
    Invocation invocation;
    invocation.command = Command::Info;
    invocation.operands = {temp / "N47E011.hgt", temp / "fehlt.hgt"};
    const CliRun text = run(invocation);
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find("25934402 Bytes, Raster 3601 × 3601"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Löcher:      7\n"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("fehlt.hgt"), std::string::npos) << text.err;

    invocation.json = true;
    const CliRun json = run(invocation);
    const std::vector<std::string> lines = json.outLines();
    ASSERT_EQ(lines.size(), 3u) << json.out;
    EXPECT_EQ(keys(lines[0]), (std::vector<std::string>{"type", "name", "path", "bytes", "side", "minimum", "maximum",
                                                        "mean", "voids", "pair_at_odd_offset_only"}));
    EXPECT_NE(lines[0].find(R"("side":3601,"minimum":0,"maximum":2999,)"), std::string::npos) << lines[0];
    EXPECT_EQ(keys(lines[1]), (std::vector<std::string>{"type", "name", "path", "error"}));
    EXPECT_EQ(lines[2], R"({"type":"summary","tiles":2,"failed":1,"exit_status":1})");
}

} // namespace
} // namespace hgt::cli::test

// The subcommands run in-process on folders of real tiles: exit status, report shape, -j and stop.

#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/stop_signal.h"
#include "cli/text_escape.h"
#include "cli/exit_status.h"
#include "cli/info_report.h"
#include "cli/run_report.h"
#include "cli_test_support.h"
#include "pictures/picture.h"
#include "rasters/raster_sources.h"

#include <QImage>
#include "tiles/internal/delta_fill.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace hgt::cli::test {
namespace commands_test {

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
    const std::regex key(R"re("([a-z0-9_]+)":)re");
    for (std::sregex_iterator it(line.begin(), line.end(), key), end; it != end; ++it)
        found.push_back((*it)[1]);
    return found;
}

// A line without its timing, which differs from run to run.
std::string untimed(const std::string& line)
{
    return std::regex_replace(line, std::regex(R"re("seconds":[0-9.]+)re"), R"("seconds":_)");
}

// A number field of a JSON line, or -1 when it is not there.
std::int64_t number(const std::string& line, const std::string& key)
{
    std::smatch match;
    if (!std::regex_search(line, match, std::regex('"' + key + R"re(":(-?[0-9]+))re")))
        return -1;
    return std::stoll(match[1]);
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
    const std::vector<std::string> tileKeys{
        "type",         "name",    "path",         "output",           "end",
        "voids_found",  "filled",  "left",         "filled_by_source", "interpolated",
        "left_too_far", "offsets", "source_files", "message",          "warning",
        "seconds"};
    const std::vector<std::pair<std::string, std::string>> expected{
        {"A.hgt", "filled"}, {"B.hgt", "no_holes"}, {"C.hgt", "missing_secondary"}, {"d.HGT", "failed"}};
    for (std::size_t k = 0; k < expected.size(); ++k) {
        SCOPED_TRACE(lines[k]);
        EXPECT_EQ(keys(lines[k]), tileKeys);
        EXPECT_NE(lines[k].find(R"("name":")" + expected[k].first + '"'), std::string::npos);
        EXPECT_NE(lines[k].find(R"("end":")" + expected[k].second + '"'), std::string::npos);
        EXPECT_NE(lines[k].find(R"("source_files":[],)"), std::string::npos); // HGT folders only
    }
    EXPECT_NE(lines[0].find(R"("voids_found":5000,"filled":5000,"left":0)"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(R"("output":")" + jsonPath(folder.tiles + "/Merged/A.hgt") + '"'), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find(R"("output":null)"), std::string::npos) << lines[1];
    EXPECT_NE(lines[3].find("d.HGT"), lines[3].rfind("d.HGT")) << "the message names the file: " << lines[3];

    EXPECT_EQ(untimed(lines[4]), R"({"type":"summary","tiles":4,"done":4,"filled":1,"no_holes":1,)"
                                 R"("missing_secondary":1,"stopped":0,"failed":1,"not_started":0,)"
                                 R"("interrupted":false,"seconds":_,"exit_status":1})");
    EXPECT_EQ(filesBelow(temp / "tiles/Merged"), std::vector<std::string>{"A.hgt"});
}

#ifndef _WIN32
// GDAL costs every start of the program a tenth of a second: a run of HGT folders must not load it.
// (The Windows edition has no raster plugin.)
TEST(BatchCommand, HgtFoldersAloneNeverLoadTheRasterPlugin)
{
    // Where a run would find the plugin if it looked for it.
    ASSERT_EQ(setenv("HGTFILL_RASTER_PLUGIN", HGTFILL_RASTER_PLUGIN_FILE, 1), 0);
    TempFolder temp;
    const MixedFolder folder(temp);
    const CliRun result = run(batch(folder.tiles, folder.secondary, 2, true));
    unsetenv("HGTFILL_RASTER_PLUGIN");
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_FALSE(RasterPluginLoaded());
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        EXPECT_EQ(line.find("hgtfill_rasters_plugin"), std::string::npos) << line;
        EXPECT_EQ(line.find("libgdal"), std::string::npos) << line;
    }
}
#endif

TEST(BatchCommand, TextGoesToOutputAndProblemsToErrors)
{
    TempFolder temp;
    const MixedFolder folder(temp);
    const CliRun result = run(batch(folder.tiles, folder.secondary, 1, false));
    EXPECT_EQ(result.status, 1);
    const std::vector<std::string> lines = result.outLines();
    ASSERT_EQ(lines.size(), 3u) << result.out;
    EXPECT_EQ(lines[0].rfind("A.hgt: gefüllt nach " + native(folder.tiles + "/Merged/A.hgt")
                                 + " (Löcher: 5000 gefunden, 5000 gefüllt, 0 übrig; ",
                             0),
              0u)
        << lines[0];
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

    const std::string oneFolder = jsonPath(temp / "one"), twoFolder = jsonPath(temp / "two");
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

// Raises a real SIGINT when a given tile starts, as Ctrl-C in the middle of a batch would (on Windows,
// the console's Ctrl-C, handed to the program's handler as the system would hand it).
class InterruptingHost : public CliHost {
public:
    explicit InterruptingHost(std::size_t at) : m_at(at) {}
    void tileStarted(std::size_t index, std::size_t, const std::string&) override
    {
        if (index == m_at) {
#ifdef _WIN32
            EXPECT_TRUE(HandleConsoleControl(CTRL_C_EVENT));
#else
            std::raise(SIGINT);
#endif
        }
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
            EXPECT_EQ(std::filesystem::file_size(temp / ("tiles/Merged/" + name)),
                      static_cast<std::uintmax_t>(kTileBytes));
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

    // With --void -32768 those samples are voids of the difference, and -9999 is a height.
    Bytes lowest = plainTile(3);
    for (std::int64_t k : {7, 70, 700})
        setValue(lowest, k, -32768);
    writeBytes(temp / "c/N47E011.hgt", lowest);
    invocation.operands = {temp / "c/N47E011.hgt", temp / "a/N47E011.hgt"};
    EXPECT_NE(run(invocation).out.find(R"("voids_found":0,"filled":0,"left":30,)"), std::string::npos);
    invocation.voidValues = {-32768};
    const CliRun lowestVoids = run(invocation);
    EXPECT_NE(lowestVoids.out.find(R"("voids_found":3,"filled":0,"left":3,)"), std::string::npos) << lowestVoids.out;

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
    EXPECT_EQ(keys(lines[0]),
              (std::vector<std::string>{"type", "name", "path", "bytes", "side", "arc_seconds", "minimum", "maximum",
                                        "mean", "voids", "void_values", "pair_at_odd_offset_only"}));
    EXPECT_NE(lines[0].find(R"("side":3601,"arc_seconds":1,"minimum":0,"maximum":2999,)"), std::string::npos)
        << lines[0];
    EXPECT_EQ(keys(lines[1]), (std::vector<std::string>{"type", "name", "path", "error"}));
    EXPECT_EQ(lines[2], R"({"type":"summary","tiles":2,"failed":1,"exit_status":1})");
}

// Three tiles against two source folders: one filled from both, one only the second folder has, one
// neither has. The first folder leaves 1200 of the first tile's 5000 voids open.
struct TwoSources {
    explicit TwoSources(const TempFolder& temp) : tiles(temp / "tiles"), first(temp / "first"), second(temp / "second")
    {
        writeBytes(tiles + "/N47E011.hgt", tileWithVoids(1, 5000));
        writeBytes(tiles + "/N47E012.hgt", tileWithVoids(2, 10));
        writeBytes(tiles + "/N47E013.hgt", tileWithVoids(3, 10));
        Bytes partly = plainTile(4);
        for (std::int64_t v = 0; v < 1200; ++v)
            hgt::test::setVoid(partly, (v * 104729 + 1) % kTileSamples); // where tileWithVoids(1, …) put them
        writeBytes(first + "/N47E011.hgt", partly);
        writeBytes(second + "/N47E011.hgt", plainTile(5));
        writeBytes(second + "/N47E012.hgt", plainTile(6));
    }
    Invocation batch(bool json) const
    {
        Invocation invocation = commands_test::batch(tiles, first, 1, json);
        invocation.moreSecondaries = {second};
        return invocation;
    }
    std::string tiles, first, second;
};

TEST(FurtherSources, FillWhatTheFirstLeavesOpenAndTheReportSaysFromWhere)
{
    TempFolder temp;
    const TwoSources folder(temp);
    const CliRun json = run(folder.batch(true));
    EXPECT_EQ(json.status, 1); // N47E013 has no source
    const std::vector<std::string> lines = json.outLines();
    ASSERT_EQ(lines.size(), 4u) << json.out;
    EXPECT_NE(lines[0].find(
                  R"("end":"filled","voids_found":5000,"filled":5000,"left":0,"filled_by_source":[3800,1200],)"
                  R"("interpolated":0,"left_too_far":0,"offsets":null,"source_files":[],"message":"","warning":"",)"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find(R"("end":"filled","voids_found":10,"filled":10,"left":0,"filled_by_source":[0,10],)"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find(R"("end":"missing_secondary")"), std::string::npos) << lines[2];

    const CliRun text = run(folder.batch(false));
    const std::vector<std::string> out = text.outLines();
    ASSERT_EQ(out.size(), 3u) << text.out;
    EXPECT_EQ(out[0].rfind("N47E011.hgt: gefüllt nach " + native(folder.tiles + "/Merged/N47E011.hgt")
                               + " (Löcher: 5000 gefunden, "
                                 "5000 gefüllt – 3800 aus Quelle 1, 1200 aus Quelle 2 –, 0 übrig; ",
                           0),
              0u)
        << out[0];
    EXPECT_NE(out[1].find("10 gefüllt – 0 aus Quelle 1, 10 aus Quelle 2 –, 0 übrig"), std::string::npos) << out[1];
    EXPECT_EQ(text.err.rfind("hgtfill-cli: N47E013.hgt: keine Sekundärkachel", 0), 0u) << text.err;
}

TEST(FurtherSources, ARunStartsWhenAnyOfTheFoldersHoldsATile)
{
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", tileWithVoids(1, 10));
    writeBytes(temp / "empty/liesmich.txt", Bytes(3, 'x'));
    writeBytes(temp / "source/N47E011.hgt.zip.txt", Bytes(3, 'x'));
    Invocation invocation = batch(temp / "tiles", temp / "empty", 1, false);

    invocation.moreSecondaries = {temp / "source"};
    const CliRun none = run(invocation);
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "hgtfill-cli: in keinem der Quellordner liegt eine HGT-Kachel: „" + (temp / "empty") + "“, „"
                            + (temp / "source") + "“\n");
    EXPECT_FALSE(std::filesystem::exists(temp / "tiles/Merged"));

    writeBytes(temp / "source/N47E011.hgt", plainTile(2));
    const CliRun filled = run(invocation);
    EXPECT_EQ(filled.status, 0) << filled.err;
    EXPECT_TRUE(std::filesystem::exists(temp / "tiles/Merged/N47E011.hgt"));
}

struct OffsetCase {
    std::string name;
    std::int16_t sourceAbove; // metres the source lies above the tile
    bool warns;
};

void PrintTo(const OffsetCase& c, std::ostream* os)
{
    *os << c.name;
}

class DeltaOffsets : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(DeltaOffsets, AreReportedAndAWarningStaysVisible)
{
    const OffsetCase& c = GetParam();
    TempFolder temp;
    writeBytes(temp / "tiles/N47E011.hgt", tileWithVoids(1, 2000));
    writeBytes(temp / "secondary/N47E011.hgt", shifted(plainTile(1), c.sourceAbove));
    Invocation invocation = batch(temp / "tiles", temp / "secondary", 1, true);
    invocation.method = FillMethod::Delta;

    const CliRun json = run(invocation);
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.err, ""); // JSON carries the warning itself
    const std::string line = json.outLines().at(0);
    const std::int64_t rim = number(line, "rim_samples");
    EXPECT_GT(rim, 0) << line;
    // The offset is the tile minus its source, the same at every rim sample.
    const OffsetStats offsets{rim, -static_cast<double>(c.sourceAbove), 0};
    const std::string warning = OffsetWarning(offsets);
    EXPECT_EQ(warning.empty(), !c.warns);
    char median[32];
    std::snprintf(median, sizeof median, "%.3f", offsets.median);
    EXPECT_NE(line.find(std::string(R"("offsets":{"median":)") + median + R"(,"iqr":0.000,"rim_samples":)"
                        + std::to_string(rim) + R"(},"source_files":[],"message":"","warning":)" + JsonString(warning)
                        + ","),
              std::string::npos)
        << line;

    invocation.json = false;
    const CliRun text = run(invocation);
    const std::string sign = c.sourceAbove > 0 ? "-" : "+";
    EXPECT_NE(text.out.find("0 übrig; Versatz: Median " + sign + std::to_string(std::abs(c.sourceAbove))
                            + ",0 m, Quartilsabstand 0,0 m aus " + std::to_string(rim) + " Randwerten; "),
              std::string::npos)
        << text.out;
    const std::string warningLine = c.warns ? "hgtfill-cli: N47E011.hgt: Warnung: " + warning + "\n" : "";
    EXPECT_EQ(text.err, warningLine);

    invocation.quiet = true;
    const CliRun quiet = run(invocation);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, warningLine);
}

INSTANTIATE_TEST_SUITE_P(FillCommand, DeltaOffsets,
                         ::testing::Values(OffsetCase{"source_12_m_above", 12, true},
                                           OffsetCase{"source_2_m_below", -2, false}),
                         [](const auto& info) { return info.param.name; });

TEST(InfoCommand, AZippedThreeSecondTileReportsTheTileItHolds)
{
    TempFolder temp;
    Bytes grid = plainTile(4, 1201);
    for (std::int64_t k : {0, 1201 * 600 + 17, 1201 * 1201 - 1})
        setValue(grid, k, -32768);
    for (std::int64_t k : {5, 99})
        setValue(grid, k, kVoidValue);
    writeBytes(temp / "plain/N47E011.hgt", grid);
    writeZippedTile(temp / "N47E011.SRTMGL3.hgt.zip", "N47E011.hgt", grid);

    Invocation invocation;
    invocation.command = Command::Info;
    invocation.json = true;
    invocation.voidValues = {-32768};
    invocation.operands = {temp / "N47E011.SRTMGL3.hgt.zip", temp / "plain/N47E011.hgt"};
    const CliRun json = run(invocation);
    EXPECT_EQ(json.status, 0) << json.out;
    const std::vector<std::string> lines = json.outLines();
    ASSERT_EQ(lines.size(), 3u) << json.out;
    EXPECT_NE(lines[0].find(R"({"type":"info","name":"N47E011.hgt","path":")"
                            + jsonPath(temp / "N47E011.SRTMGL3.hgt.zip")
                            + R"(","bytes":2884802,"side":1201,"arc_seconds":3,)"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find(R"("voids":3,"void_values":[-32768],)"), std::string::npos) << lines[0];
    // The archive's figures are those of the plain tile.
    const auto withoutPath = [](std::string line) {
        return std::regex_replace(line, std::regex(R"re("path":"[^"]*")re"), "");
    };
    EXPECT_EQ(withoutPath(lines[0]), withoutPath(lines[1]));

    invocation.json = false;
    invocation.operands.resize(1);
    const CliRun text = run(invocation);
    EXPECT_NE(
        text.out.find(
            "  Kachel:      N47E011.hgt (im Archiv)\n  Größe:       2884802 Bytes entpackt, Raster 1201 × 1201 (3″)\n"),
        std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  Löcher:      3 (Werte -32768)\n"), std::string::npos) << text.out;

    invocation.voidValues = {kVoidValue};
    EXPECT_NE(run(invocation).out.find("  Löcher:      2\n"), std::string::npos);
}

Invocation render(const std::string& tile, const std::string& output, bool json)
{
    Invocation invocation;
    invocation.command = Command::Render;
    invocation.json = json;
    invocation.output = output;
    invocation.operands = {tile};
    return invocation;
}

// A difference tile of zeros with 14412 voids (0,999 % of 1201 × 1201) and the values -25 … 24.
Bytes differenceGrid()
{
    Bytes grid(static_cast<std::size_t>(1201 * 1201 * 2), 0);
    for (std::int64_t k = 0; k < 1201 * 12; ++k)
        setValue(grid, k * 100, kVoidValue);
    for (std::int64_t k = 0; k < 50; ++k)
        setValue(grid, k * 7 + 1, static_cast<std::int16_t>(k - 25));
    return grid;
}

TEST(RenderCommand, ReportsTheFiguresOfWhatItDrew)
{
    TempFolder temp;
    writeBytes(temp / "DIFFS/N47E011.hgt", differenceGrid());
    writeBytes(temp / "heights/N47E011.hgt", differenceGrid());

    const CliRun difference = run(render(temp / "DIFFS/N47E011.hgt", temp / "d.png", true));
    EXPECT_EQ(difference.status, 0) << difference.out;
    ASSERT_EQ(difference.outLines().size(), 1u) << difference.out;
    const std::string line = difference.outLines()[0];
    EXPECT_EQ(keys(line), (std::vector<std::string>{
                              "type",    "name",   "path",    "output",  "kind", "side",  "arc_seconds",  "width",
                              "height",  "legend", "minimum", "maximum", "mean", "voids", "void_percent", "difference",
                              "samples", "median", "mean",    "rms",     "p2",   "p98",   "clip"}));
    EXPECT_NE(line.find(R"("kind":"difference","side":1201,"arc_seconds":3,"width":1201,"height":1201,"legend":false,)"
                        R"("minimum":-25,"maximum":24,)"),
              std::string::npos)
        << line;
    EXPECT_NE(line.find(R"("voids":14412,"void_percent":0.999,"difference":{"samples":1427989,)"), std::string::npos)
        << line;
    EXPECT_TRUE(std::filesystem::exists(temp / "d.png"));

    // Outside DIFFS the same tile is heights, unless --diff says otherwise.
    Invocation heights = render(temp / "heights/N47E011.hgt", temp / "h.png", true);
    const CliRun relief = run(heights);
    EXPECT_NE(relief.out.find(R"("kind":"relief",)"), std::string::npos) << relief.out;
    EXPECT_NE(relief.out.find(R"("difference":null})"), std::string::npos) << relief.out;
    heights.difference = true;
    EXPECT_NE(run(heights).out.find(R"("kind":"difference",)"), std::string::npos);

    Invocation text = render(temp / "DIFFS/N47E011.hgt", temp / "t.png", false);
    text.size = 300;
    const CliRun words = run(text);
    EXPECT_EQ(words.outLines().at(0), "N47E011.hgt: Differenzen, Raster 1201 × 1201 (3″)") << words.out;
    EXPECT_NE(words.out.find("\n  Minimum:     -25 m\n  Maximum:     +24 m\n  Löcher:      14412 (1,00 %)\n"),
              std::string::npos)
        << words.out;
    EXPECT_NE(words.out.find("\n  Bild:        " + (temp / "t.png") + ", 300 × 300 Pixel\n"), std::string::npos)
        << words.out;
    text.quiet = true;
    EXPECT_EQ(run(text).out, "");
}

TEST(RenderCommand, WritesNoPictureWhenItFails)
{
    TempFolder temp;
    writeBytes(temp / "N47E011.hgt", differenceGrid());
    writeBytes(temp / "short.hgt", Bytes(1000, 0));

    const CliRun noFolder = run(render(temp / "N47E011.hgt", temp / "fehlt/bild.png", true));
    EXPECT_EQ(noFolder.status, 1);
    EXPECT_EQ(keys(noFolder.out), (std::vector<std::string>{"type", "name", "path", "error"}));
    EXPECT_NE(noFolder.out.find("bild.png"), std::string::npos) << noFolder.out;

    const CliRun notATile = run(render(temp / "short.hgt", temp / "bild.png", false));
    EXPECT_EQ(notATile.status, 1);
    EXPECT_EQ(notATile.out, "");
    EXPECT_EQ(notATile.err.rfind("hgtfill-cli: " + (temp / "short.hgt"), 0), 0u) << notATile.err;
    const Bytes tile = readBytes(temp / "N47E011.hgt");
    const CliRun ownTile = run(render(temp / "N47E011.hgt", temp / "./N47E011.hgt", false));
    EXPECT_EQ(ownTile.status, 1);
    EXPECT_NE(ownTile.err.find("selbst"), std::string::npos) << ownTile.err;
    EXPECT_TRUE(readBytes(temp / "N47E011.hgt") == tile);
    EXPECT_EQ(hgt::test::folderEntries(temp.path().string()), (std::set<std::string>{"N47E011.hgt", "short.hgt"}));
}

// What a hostile folder does to a user's command: outputs that lead back to inputs, two files of
// one tile, and names that would break the report's lines.
Bytes grid3WithVoids(std::uint32_t seed)
{
    Bytes tile = plainTile(seed, 1201);
    for (std::int64_t k = 0; k < 1201 * 1201; k += 97)
        setValue(tile, k, kVoidValue);
    return tile;
}

Invocation fillOne(const std::string& tile, const std::string& secondary)
{
    Invocation invocation;
    invocation.command = Command::Fill;
    invocation.secondary = secondary;
    invocation.operands = {tile};
    return invocation;
}

TEST(HostileFolders, MergedLinkedBackFailsNamingBothAndKeepsThePrimary)
{
    TempFolder temp;
    const Bytes primary = grid3WithVoids(1);
    writeBytes(temp / "in/N47E011.hgt", primary);
    writeBytes(temp / "sec/N47E011.hgt", plainTile(2, 1201));
    std::error_code linked;
    std::filesystem::create_directory_symlink(".", temp / "in/Merged", linked);
    if (linked)
        GTEST_SKIP() << "no symbolic link to a folder here: " << linked.message(); // Wine, Windows without the right

    const CliRun result = run(fillOne(temp / "in/N47E011.hgt", temp / "sec"));
    EXPECT_EQ(result.status, kExitFailed);
    EXPECT_NE(result.err.find("Die Ausgabe " + native(temp / "in/Merged/N47E011.hgt") + " wäre das Eingabefile "
                              + native(temp / "in/N47E011.hgt") + " selbst"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(readBytes(temp / "in/N47E011.hgt") == primary);
}

TEST(HostileFolders, TwoFilesOfOneTileReportTheSameForEveryJobCount)
{
    TempFolder temp;
    writeBytes(temp / "in/N47E011.hgt", grid3WithVoids(1));
    writeZippedTile(temp / "in/N47E011.SRTMGL3.hgt.zip", "N47E011.hgt", grid3WithVoids(3));
    writeBytes(temp / "sec/N47E011.hgt", plainTile(2, 1201));
    const auto untimedText = [](const std::string& text) {
        return std::regex_replace(text, std::regex(R"re([0-9]+,[0-9]+ s)re"), "_ s");
    };
    std::vector<CliRun> runs;
    for (const unsigned jobs : {1u, 2u})
        runs.push_back(run(batch(temp / "in", temp / "sec", jobs, false)));
    for (const CliRun& result : runs) {
        EXPECT_EQ(result.status, kExitFailed);
        EXPECT_EQ(untimedText(result.out), untimedText(runs[0].out));
        EXPECT_EQ(result.err, runs[0].err);
    }
    EXPECT_NE(runs[0].out.find("1 gefüllt, 0 ohne Löcher, 0 ohne Sekundärkachel, 1 fehlgeschlagen"), std::string::npos)
        << runs[0].out;
    EXPECT_NE(runs[0].err.find(native(temp / "in/N47E011.SRTMGL3.hgt.zip") + " ergäbe dieselbe Ausgabe "
                               + native(temp / "in/Merged/N47E011.hgt") + " wie " + native(temp / "in/N47E011.hgt")),
              std::string::npos)
        << runs[0].err;
}

#ifndef _WIN32
// (Windows names hold neither control characters nor bytes that are not UTF-8.)
TEST(HostileFolders, ControlCharactersAreEscapedAndJsonKeepsTheBytes)
{
    TempFolder temp;
    const std::string name = "N47E011\n\x1b[31m\xff.hgt";
    writeBytes(temp / "in" + "/" + name, grid3WithVoids(1));
    writeBytes(temp / "sec/other.hgt", plainTile(2, 1201));

    const CliRun text = run(fillOne(temp / "in/" + name, temp / "sec"));
    EXPECT_EQ(std::count(text.err.begin(), text.err.end(), '\n'), 1) << text.err;
    EXPECT_NE(text.err.find("N47E011\\n\\033[31m\\377.hgt: keine Sekundärkachel"), std::string::npos) << text.err;

    Invocation json = fillOne(temp / "in/" + name, temp / "sec");
    json.json = true;
    const std::string line = run(json).outLines().at(0);
    EXPECT_NE(line.find(R"("path_bytes":")" + HexBytes(temp / "in/" + name) + '"'), std::string::npos) << line;
}
#endif

#ifndef _WIN32
// Windows takes a folder's rights from its access list, which std::filesystem::permissions leaves alone.
TEST(HostileFolders, UnreadableSecondaryFolderIsNamedAsSuch)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    TempFolder temp;
    writeBytes(temp / "in/N47E011.hgt", grid3WithVoids(1));
    std::filesystem::create_directory(temp / "sec");
    std::filesystem::permissions(temp / "sec", std::filesystem::perms::none);
    const CliRun result = run(fillOne(temp / "in/N47E011.hgt", temp / "sec"));
    std::filesystem::permissions(temp / "sec", std::filesystem::perms::owner_all);
    EXPECT_EQ(result.status, kExitFailed);
    EXPECT_NE(result.err.find("kann nicht gelesen werden: keine Berechtigung"), std::string::npos) << result.err;
}
#endif

// Interpolation alone: no -s, a void of 4 x 4 samples in a 3" tile, and one of 30 x 30 that lies
// too far from valid data for --max-distance 5.
TEST(BatchCommand, InterpolatesWithoutAnySourceAndWritesTheProvenance)
{
    TempFolder temp;
    Bytes tile = plainTile(1, kTileSide3);
    for (std::int64_t r = 0; r < 30; ++r)
        for (std::int64_t c = 0; c < 30; ++c) {
            if (r < 4 && c < 4)
                hgt::test::setVoid(tile, (100 + r) * kTileSide3 + 100 + c);
            hgt::test::setVoid(tile, (600 + r) * kTileSide3 + 600 + c);
        }
    writeBytes(temp / "tiles/N47E011.hgt", tile);
    Invocation invocation = batch(temp / "tiles", "", 1, true);
    invocation.interpolate = true;
    invocation.maxDistance = 5;
    invocation.provenance = true;

    const CliRun json = run(invocation);
    EXPECT_EQ(json.status, kExitOk) << json.err;
    const std::vector<std::string> lines = json.outLines();
    ASSERT_EQ(lines.size(), 2u) << json.out;
    EXPECT_EQ(number(lines[0], "interpolated"), 16);
    EXPECT_EQ(number(lines[0], "left_too_far"), 900);
    EXPECT_EQ(number(lines[0], "left"), 900);
    EXPECT_EQ(number(lines[0], "filled"), 0);

    const Bytes codes = readBytes(temp / "tiles/Merged/N47E011.src");
    ASSERT_EQ(codes.size(), static_cast<std::size_t>(kTileSide3 * kTileSide3));
    EXPECT_EQ(codes[100 * kTileSide3 + 100], kInterpolatedSample);
    EXPECT_EQ(codes[600 * kTileSide3 + 600], kVoidSample);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kOwnSample), kTileSide3 * kTileSide3 - 916);

    invocation.json = false;
    const CliRun text = run(invocation);
    EXPECT_EQ(text.status, kExitOk) << text.err;
    EXPECT_NE(text.out.find("0 gefüllt, 16 interpoliert, 900 übrig (900 zu weit von gültigen Werten)"),
              std::string::npos)
        << text.out;
}

// render draws a .src as a map in the provenance colours, the legend in a margin on the right.
TEST(RenderCommand, DrawsAProvenanceMapInItsColours)
{
    TempFolder temp;
    Bytes codes(static_cast<std::size_t>(kTileSide3 * kTileSide3), kOwnSample);
    codes[10 * kTileSide3 + 20] = 1;
    codes[10 * kTileSide3 + 21] = 2;
    codes[11 * kTileSide3 + 20] = kInterpolatedSample;
    codes[11 * kTileSide3 + 21] = kVoidSample;
    writeBytes(temp / "Merged/N47E011.src", codes);
    writeBytes(temp / "Merged/short.src", Bytes(1000));
    Invocation invocation;
    invocation.command = Command::Render;
    invocation.operands = {temp / "Merged/N47E011.src"};
    invocation.output = temp / "herkunft.png";
    invocation.legend = true;
    invocation.json = true;

    const CliRun drawn = run(invocation);
    ASSERT_EQ(drawn.status, kExitOk) << drawn.err;
    EXPECT_EQ(number(drawn.out, "interpolated"), 1);
    EXPECT_NE(drawn.out.find(R"("by_source":[1,1])"), std::string::npos) << drawn.out;
    const QImage image(QString::fromStdString(temp / "herkunft.png"));
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(image.width(), kTileSide3) << "a legend margin";
    EXPECT_EQ(image.pixel(0, 0), ProvenanceColour(kOwnSample));
    EXPECT_EQ(image.pixel(20, 10), ProvenanceColour(1));
    EXPECT_EQ(image.pixel(21, 10), ProvenanceColour(2));
    EXPECT_EQ(image.pixel(20, 11), ProvenanceColour(kInterpolatedSample));
    EXPECT_EQ(image.pixel(21, 11), ProvenanceColour(kVoidSample));

    invocation.operands = {temp / "Merged/short.src"};
    invocation.output = temp / "kurz.png";
    const CliRun refused = run(invocation);
    EXPECT_EQ(refused.status, kExitFailed);
    EXPECT_NE(refused.out.find("keine Herkunftsdatei"), std::string::npos) << refused.out;
    EXPECT_FALSE(std::filesystem::exists(temp / "kurz.png"));
}

// The provenance palette is categorical: every code a map can hold in practice has its own colour.
TEST(RenderCommand, ProvenanceCodesHaveColoursOfTheirOwn)
{
    std::set<std::uint32_t> colours;
    const std::vector<int> codes{kOwnSample, 1, 2, 3, 4, 5, 6, 7, 8, kInterpolatedSample, kVoidSample};
    for (const int code : codes)
        colours.insert(ProvenanceColour(static_cast<std::uint8_t>(code)));
    EXPECT_EQ(colours.size(), codes.size());
}

} // namespace commands_test
} // namespace hgt::cli::test

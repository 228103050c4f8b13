#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hgt::cli::test {
namespace command_line_test {

constexpr unsigned kCores = 6;

std::expected<Invocation, UsageError> parse(std::vector<std::string> args)
{
    return ParseCommandLine(args, kCores);
}

struct UsageCase {
    std::string name;
    std::vector<std::string> args;
    Command helpFor; // the subcommand whose --help the hint names
    std::string mentions;
};

// Test names and ctest show the row's name, not its bytes.
void PrintTo(const UsageCase& c, std::ostream* os)
{
    *os << c.name;
}

class UsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, GiveOneGermanLineWithAHintToTheRightHelp)
{
    const UsageCase& c = GetParam();
    const auto result = parse(c.args);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().command, c.helpFor);
    const std::string line = UsageLine(result.error());
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_NE(line.find(c.mentions), std::string::npos) << line;
    const std::string hint = c.helpFor == Command::None
                                 ? "hgtfill-cli --help"
                                 : "hgtfill-cli " + std::string(CommandName(c.helpFor)) + " --help";
    EXPECT_NE(line.find(hint), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, UsageErrors,
    ::testing::Values(
        UsageCase{"nothing", {}, Command::None, "kein Befehl"},
        UsageCase{"unknown_command", {"fil", "a.hgt"}, Command::None, "„fil“"},
        UsageCase{"option_before_command", {"-q", "fill"}, Command::None, "„-q“"},
        UsageCase{"unknown_long_option", {"fill", "-s", "d", "--fast", "a.hgt"}, Command::Fill, "„--fast“"},
        UsageCase{"unknown_short_in_cluster", {"batch", "-qx", "-s", "d", "f"}, Command::Batch, "„-x“"},
        UsageCase{"jobs_not_for_info", {"info", "-j", "2", "a.hgt"}, Command::Info, "„-j“"},
        UsageCase{"secondary_value_missing", {"fill", "a.hgt", "-s"}, Command::Fill, "„-s“"},
        UsageCase{"jobs_zero", {"batch", "-s", "d", "-j", "0", "f"}, Command::Batch, "„0“"},
        UsageCase{"jobs_with_trailing_text", {"batch", "-s", "d", "--jobs=2x", "f"}, Command::Batch, "„2x“"},
        UsageCase{"jobs_too_many", {"batch", "-s", "d", "-j", "100000", "f"}, Command::Batch, "256"},
        UsageCase{"flag_with_value", {"info", "--json=yes", "a.hgt"}, Command::Info, "„--json“"},
        UsageCase{"fill_without_secondary", {"fill", "a.hgt"}, Command::Fill, "-s"},
        UsageCase{"batch_two_folders", {"batch", "-s", "d", "f", "g"}, Command::Batch, "genau ein Ordner"},
        UsageCase{"diff_one_tile", {"diff", "a.hgt"}, Command::Diff, "zwei Kacheln"},
        UsageCase{"help_for_unknown_command", {"help", "merge"}, Command::None, "„merge“"},
        UsageCase{"void_not_a_marker", {"fill", "-s", "d", "--void", "5", "a.hgt"}, Command::Fill, "„5“"},
        UsageCase{"void_marker_without_minus", {"info", "--void=9999", "a.hgt"}, Command::Info, "„9999“"},
        UsageCase{"void_with_trailing_text", {"diff", "--void", "-9999m", "a.hgt", "b.hgt"}, Command::Diff, "„-9999m“"},
        UsageCase{
            "void_beyond_16_bits", {"render", "--void", "-99999", "-o", "x.png", "a.hgt"}, Command::Render, "„-99999“"},
        UsageCase{"void_value_missing", {"batch", "-s", "d", "f", "--void"}, Command::Batch, "„--void“"},
        UsageCase{"method_unknown", {"batch", "-s", "d", "--method", "Delta", "f"}, Command::Batch, "„Delta“"},
        UsageCase{"method_not_for_diff", {"diff", "--method", "delta", "a.hgt", "b.hgt"}, Command::Diff, "„--method“"},
        UsageCase{"size_zero", {"render", "--size", "0", "-o", "x.png", "a.hgt"}, Command::Render, "„0“"},
        UsageCase{"size_too_big", {"render", "--size=8193", "-o", "x.png", "a.hgt"}, Command::Render, "8192"},
        UsageCase{"render_without_output", {"render", "--diff", "a.hgt"}, Command::Render, "-o"},
        UsageCase{"render_two_tiles", {"render", "-o", "x.png", "a.hgt", "b.hgt"}, Command::Render, "genau eine"},
        UsageCase{"legend_not_for_info", {"info", "--legend", "a.hgt"}, Command::Info, "„--legend“"},
        UsageCase{"max_distance_zero", {"fill", "--interpolate", "--max-distance", "0", "a.hgt"}, Command::Fill, "„0“"},
        UsageCase{"max_distance_too_far", {"batch", "--max-distance=10001", "-s", "d", "f"}, Command::Batch, "10000"},
        UsageCase{
            "max_distance_not_a_number", {"fill", "--max-distance", "1e3", "-s", "d", "a.hgt"}, Command::Fill, "„1e3“"},
        UsageCase{"max_distance_without_interpolate",
                  {"fill", "--max-distance", "30", "-s", "d", "a.hgt"},
                  Command::Fill,
                  "„--max-distance“ gilt nur zusammen mit „--interpolate“"},
        UsageCase{
            "interpolate_not_for_diff", {"diff", "--interpolate", "a.hgt", "b.hgt"}, Command::Diff, "„--interpolate“"},
        UsageCase{
            "provenance_needs_a_source_without_interpolate", {"fill", "--provenance", "a.hgt"}, Command::Fill, "-s"},
        UsageCase{"datum_before_any_source",
                  {"fill", "--datum", "egm2008", "-s", "d", "a.hgt"},
                  Command::Fill,
                  "„--datum“ gehört zu einer Quelle"},
        UsageCase{"datum_twice_for_one_source",
                  {"batch", "-s", "d", "--datum", "egm2008", "--datum=ellipsoid", "f"},
                  Command::Batch,
                  "zweimal „--datum“"},
        UsageCase{"datum_value_missing", {"fill", "-s", "d", "a.hgt", "--datum"}, Command::Fill, "„--datum“"},
        UsageCase{"datum_value_empty", {"fill", "-s", "d", "--datum=", "a.hgt"}, Command::Fill, "„--datum“"},
        UsageCase{
            "tile_datum_value_empty", {"batch", "--tile-datum=", "-s", "d", "f"}, Command::Batch, "„--tile-datum“"},
        UsageCase{"datum_not_for_diff", {"diff", "--datum", "egm96", "a.hgt", "b.hgt"}, Command::Diff, "„--datum“"}),
    [](const auto& info) { return info.param.name; });

TEST(CommandLine, OptionsMayBeWrittenInEveryUsualForm)
{
    const std::vector<std::vector<std::string>> forms{
        {"batch", "-s", "sec", "-j", "3", "tiles"},        {"batch", "-ssec", "-j3", "tiles"},
        {"batch", "--secondary=sec", "--jobs=3", "tiles"}, {"batch", "--secondary", "sec", "--jobs", "3", "tiles"},
        {"batch", "tiles", "-j", "3", "-s", "sec"},        {"batch", "-j3", "tiles", "--secondary", "sec"},
    };
    for (const auto& args : forms) {
        const auto result = parse(args);
        ASSERT_TRUE(result.has_value()) << UsageLine(result.error());
        EXPECT_EQ(result->command, Command::Batch);
        EXPECT_EQ(result->secondary, "sec");
        EXPECT_EQ(result->jobs, 3u);
        EXPECT_EQ(result->operands, std::vector<std::string>{"tiles"});
    }
}

TEST(CommandLine, FlagsBundleAndAValueTakesTheRestOfTheCluster)
{
    const auto result = parse({"fill", "-qj2", "-s", "sec", "a.hgt", "b.hgt", "--json"});
    ASSERT_TRUE(result.has_value()) << UsageLine(result.error());
    EXPECT_TRUE(result->quiet);
    EXPECT_TRUE(result->json);
    EXPECT_EQ(result->jobs, 2u);
    EXPECT_EQ(result->operands, (std::vector<std::string>{"a.hgt", "b.hgt"}));
}

TEST(CommandLine, DefaultsAreTheCoresAndTalkative)
{
    const auto result = parse({"fill", "-s", "sec", "a.hgt"});
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->jobs, kCores);
    EXPECT_FALSE(result->quiet);
    EXPECT_FALSE(result->json);
}

TEST(CommandLine, DoubleDashAndALoneDashMakeOperands)
{
    const auto result = parse({"info", "--", "-weird.hgt", "--json"});
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->json);
    EXPECT_EQ(result->operands, (std::vector<std::string>{"-weird.hgt", "--json"}));

    const auto dash = parse({"info", "-"});
    ASSERT_TRUE(dash.has_value());
    EXPECT_EQ(dash->operands, std::vector<std::string>{"-"});
}

TEST(CommandLine, HelpWinsOverMissingArgumentsButNotOverEarlierMistakes)
{
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"fill", "--help"}, {"fill", "a.hgt", "-h"}, {"help", "fill"}}) {
        const auto result = parse(args);
        ASSERT_TRUE(result.has_value()) << args.back();
        EXPECT_TRUE(result->help);
        EXPECT_EQ(result->command, Command::Fill);
    }
    const auto overview = parse({"--help"});
    ASSERT_TRUE(overview.has_value());
    EXPECT_TRUE(overview->help);
    EXPECT_EQ(overview->command, Command::None);

    EXPECT_TRUE(parse({"--version"}).value().version);
    EXPECT_FALSE(parse({"fill", "--bogus", "--help"}).has_value());
}

TEST(CommandLine, RepeatedSecondariesKeepTheirOrder)
{
    const auto result =
        parse({"batch", "-s", "first", "--secondary=second", "tiles", "-sthird", "--secondary", "first"});
    ASSERT_TRUE(result.has_value()) << UsageLine(result.error());
    EXPECT_EQ(result->secondary, "first");
    EXPECT_EQ(result->moreSecondaries, (std::vector<std::string>{"second", "third", "first"}));
    EXPECT_EQ(result->operands, std::vector<std::string>{"tiles"});

    const auto one = parse({"fill", "-s", "only", "a.hgt"});
    ASSERT_TRUE(one.has_value());
    EXPECT_TRUE(one->moreSecondaries.empty());
}

// A --datum belongs to the -s before it, also after an operand in between; the others have none.
TEST(CommandLine, EachDatumBelongsToTheSourceBeforeIt)
{
    const auto result = parse({"fill", "-s", "a", "-s", "b", "--datum", "egm2008", "x.hgt", "-s", "c",
                               "--tile-datum=EPSG:7837", "-s", "d", "--datum=ellipsoid"});
    ASSERT_TRUE(result.has_value()) << UsageLine(result.error());
    EXPECT_EQ(result->datums, (std::vector<std::string>{"", "egm2008", "", "ellipsoid"}));
    EXPECT_EQ(result->tileDatum, "EPSG:7837");
    EXPECT_EQ(result->operands, std::vector<std::string>{"x.hgt"});
}

TEST(CommandLine, VoidValuesReplaceTheDefaultOnceGiven)
{
    const std::vector<std::int16_t> markerOnly{kVoidValue};
    EXPECT_EQ(parse({"info", "a.hgt"}).value().voidValues, markerOnly);
    EXPECT_EQ(parse({"info", "--void", "-32768", "a.hgt"}).value().voidValues, std::vector<std::int16_t>{-32768});
    // Later ones add to the first, in the order given; a repeat changes nothing.
    EXPECT_EQ(
        parse({"fill", "--void=-32767", "-s", "d", "a.hgt", "--void", "-9999", "--void", "-32767"}).value().voidValues,
        (std::vector<std::int16_t>{-32767, -9999}));
    for (const std::string command : {"fill", "batch", "diff", "info", "render"}) {
        std::vector<std::string> args{command, "--void", "-32768", "a.hgt"};
        if (command == "fill" || command == "batch")
            args.insert(args.end(), {"-s", "d"});
        if (command == "diff")
            args.push_back("b.hgt");
        if (command == "render")
            args.insert(args.end(), {"-o", "a.png"});
        const auto result = parse(args);
        ASSERT_TRUE(result.has_value()) << command << ": " << UsageLine(result.error());
        EXPECT_EQ(result->voidValues, std::vector<std::int16_t>{-32768}) << command;
    }
}

TEST(CommandLine, MethodAndPictureOptions)
{
    EXPECT_EQ(parse({"fill", "-s", "d", "a.hgt"}).value().method, FillMethod::Copy);
    EXPECT_EQ(parse({"fill", "--method", "delta", "-s", "d", "a.hgt"}).value().method, FillMethod::Delta);
    EXPECT_EQ(parse({"batch", "--method=delta", "--method=copy", "-s", "d", "f"}).value().method, FillMethod::Copy);

    const auto plain = parse({"render", "N47E011.hgt", "-o", "out.png"});
    ASSERT_TRUE(plain.has_value()) << UsageLine(plain.error());
    EXPECT_EQ(plain->command, Command::Render);
    EXPECT_EQ(plain->size, 0);
    EXPECT_FALSE(plain->difference);
    EXPECT_FALSE(plain->legend);
    EXPECT_EQ(plain->output, "out.png");
    EXPECT_EQ(plain->operands, std::vector<std::string>{"N47E011.hgt"});

    const auto full =
        parse({"render", "--diff", "--size", "1201", "--legend", "-qo", "d.png", "--json", "N47E011.hgt"});
    ASSERT_TRUE(full.has_value()) << UsageLine(full.error());
    EXPECT_TRUE(full->difference);
    EXPECT_TRUE(full->legend);
    EXPECT_TRUE(full->quiet);
    EXPECT_TRUE(full->json);
    EXPECT_EQ(full->size, 1201);
    EXPECT_EQ(full->output, "d.png");
    EXPECT_EQ(parse({"render", "--size=8192", "--output=o.png", "t.hgt"}).value().size, kMaxPictureSize);
}

TEST(CommandLine, InterpolationOptionsAndFillsWithoutASource)
{
    const auto plain = parse({"fill", "-s", "d", "a.hgt"});
    ASSERT_TRUE(plain.has_value()) << UsageLine(plain.error());
    EXPECT_FALSE(plain->interpolate);
    EXPECT_FALSE(plain->provenance);
    EXPECT_EQ(plain->maxDistance, RunOptions{}.maxDistance);

    const auto alone = parse({"batch", "--interpolate", "--provenance", "--max-distance=1", "f"});
    ASSERT_TRUE(alone.has_value()) << UsageLine(alone.error());
    EXPECT_TRUE(alone->interpolate);
    EXPECT_TRUE(alone->provenance);
    EXPECT_EQ(alone->maxDistance, 1);
    EXPECT_TRUE(alone->secondary.empty());
    EXPECT_EQ(alone->operands, std::vector<std::string>{"f"});

    const auto farthest = parse({"fill", "a.hgt", "--max-distance", "10000", "--interpolate", "-s", "d"});
    ASSERT_TRUE(farthest.has_value()) << UsageLine(farthest.error());
    EXPECT_EQ(farthest->maxDistance, kLargestMaxDistance);
    EXPECT_EQ(farthest->secondary, "d");
}

} // namespace command_line_test
} // namespace hgt::cli::test
